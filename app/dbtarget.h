// Which database the program works on (the local SQLite file or a shared
// PostgreSQL server), how that choice is made, and the one place that knows
// how the two differ.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

class QSqlDatabase;
class QSqlQuery;

// A database the program can open: a file, or a database on a server.
struct DbTarget
{
    enum class Kind { File, Server };
    Kind kind = Kind::File;
    QString path = QStringLiteral("maindb.db"); // File: relative paths resolve against the working directory
    QString host;     // Server: name, address or Unix-socket folder (starts with '/'); empty = libpq default
    int port = 0;     // Server: 0 = libpq default (5432)
    QString user;     // Server: empty = libpq default (the login name)
    QString password; // Server: only when the URL carries one; otherwise libpq reads ~/.pgpass / PGPASSWORD
    QString name;     // Server: database name; empty = libpq default (the user name)

    bool isServer() const { return kind == Kind::Server; }
    // For messages and logs, never with the password: the absolute file path,
    // or postgresql://user@host:port/name.
    QString display() const;
    bool operator==(const DbTarget &o) const;
    bool operator!=(const DbTarget &o) const { return !(*this == o); }
};

// Reads "sqlite:PATH", a plain path, or a libpq-style URI
// "postgresql://[user[:password]@][host][:port]/[dbname][?host=..&port=..&user=..&dbname=..]"
// (also "postgres://"; a percent-encoded host such as %2Ftmp%2Fpg names a
// socket folder). Returns false with an English reason in |error|.
bool parseDbTarget(const QString &text, DbTarget *out, QString *error);

// The settings file (beside maindb.db in the working directory) that keeps the
// operator's choice of database.
QString dbSettingsPath();
// The database stored in the settings file at |iniPath|; false when none is.
bool loadDbSetting(const QString &iniPath, DbTarget *out);
// Stores |target| (never a password) in the settings file; false with |error| when it cannot.
bool saveDbSetting(const QString &iniPath, const DbTarget &target, QString *error);

// Where the database of this run comes from, highest first.
struct DbChoice
{
    DbTarget target;
    QString source; // "--database", "QUELMAR_DATABASE", "settings" or "default"
    QString error;  // not empty when the chosen text could not be read
};
// --database option (|optionGiven|) > QUELMAR_DATABASE (non-empty) > the
// settings file > maindb.db.
DbChoice chooseDbTarget(bool optionGiven, const QString &option, const QString &env, const QString &iniPath);

// The database of this process: chosen once at start (chooseDbTarget from the
// command line, the environment and the settings), read by every job.
const DbTarget &activeDbTarget();
void setActiveDbTarget(const DbTarget &target);
// Chooses from the command line, the environment and the settings file and
// makes it the active target; "--database VALUE" is taken out of argv so that
// the options of every run stay their own. Returns false with a reason
// (English, then Chinese) when the chosen text cannot be read.
bool takeDbTargetFromProcess(int *argc, char **argv, QString *error);

// Everything in which the two databases differ. Code that runs SQL asks this
// class; nothing else asks which database it is.
class SqlDialect
{
public:
    static SqlDialect forTarget(const DbTarget &target);
    static SqlDialect of(const QSqlDatabase &db);
    // The dialect of the default connection.
    static SqlDialect current();

    // Qt driver name: QSQLITE or QPSQL.
    QString driverName() const;
    bool server() const { return m_server; }
    // Connection options: busy time-out on a file (optionally read-only),
    // connect time-out on a server.
    QString connectOptions(bool readOnly = false) const;
    // Table name as QSqlTableModel::setTable needs it: on the server the
    // schema keeps the mixed-case names quoted, so the model must quote them too.
    QString modelTable(const QString &table) const;
    // Column expression that orders the rows of a table without a key of
    // its own in the order they were inserted.
    QString insertionOrder() const;
    // Clause to append to an INSERT so that insertedKey() can read the key
    // the database assigned to |column|.
    QString returningKey(const QString &column) const;
    // Key assigned by the INSERT just run on |query| (after returningKey()).
    QVariant insertedKey(QSqlQuery &query) const;
    // File name extension of a backup (".db" copy or ".dump" archive).
    QString backupExtension() const;
    // Whether |error| text says the database cannot be reached at all
    // (server stopped, network gone), as opposed to a refused statement.
    bool lostConnection(const QString &errorText) const;

private:
    explicit SqlDialect(bool server) : m_server(server) {}
    bool m_server = false;
};

// Seconds a connection attempt to a server may take before it fails.
constexpr int kConnectTimeoutSec = 3;
