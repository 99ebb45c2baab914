// Which database the program works on (the local SQLite file or a shared
// PostgreSQL server), how that choice is made, and the one place that knows
// how the two differ.
#pragma once

#include <QHash>
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

// The settings dialog's fields: the file (|server| false) or a server at
// |host| (empty: this computer's socket), |port| (empty: 5432), |name|, |user|.
// Returns false with an operator text (Chinese) when a field is unusable.
bool dbTargetFromForm(bool server, const QString &host, const QString &port, const QString &name,
                      const QString &user, DbTarget *out, QString *error);

// The unit identifier of this PC. On a shared server every PC keeps its own
// in the settings file; |fromTable| (table Unit) on a file, and on a server
// while this PC has none of its own.
QString unitIdOfThisPc(const QString &fromTable);
// Keeps |id| as this PC's unit identifier in the settings file.
bool setUnitIdOfThisPc(const QString &id, QString *error);

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

    // |statement| as this database needs it. The program writes its SQL with
    // bare table and column names in any case (SQLite compares them without
    // regard to case); the server keeps the schema's mixed-case column names
    // quoted, so there every bare name of a column of the schema is quoted in
    // the schema's own spelling (table names fold to lower case by themselves). String literals and quoted
    // names stay as they are. On a file the text is returned unchanged.
    QString sql(const QString &statement) const;
    // Forgets the names read from the schema of |connection| (it was re-targeted).
    static void forgetSchema(const QString &connection);

    // Qt driver name: QSQLITE or QPSQL.
    QString driverName() const;
    bool server() const { return m_server; }
    // Connection options: busy time-out on a file (optionally read-only),
    // connect time-out on a server.
    QString connectOptions(bool readOnly = false) const;
    // Table name as QSqlTableModel::setTable needs it: the server folds table
    // names to lower case, and the model quotes the name it is given.
    QString modelTable(const QString &table) const;
    // Column expression that orders the rows of a table without a key of
    // its own in the order they were inserted.
    QString insertionOrder() const;
    // Clause to append to an INSERT so that insertedKey() can read the key
    // the database assigned to |column|.
    QString returningKey(const QString &column) const;
    // Key assigned by the INSERT just run on |query| (after returningKey()).
    QVariant insertedKey(QSqlQuery &query) const;
    // LIKE that ignores the case of Latin letters: SQLite's LIKE does, the
    // server's ILIKE does.
    QString like() const;
    // Statement that takes, inside a transaction, a lock named by one bound
    // text and yields true, or false at once when another connection holds
    // it; empty where one writer at a time is the rule anyway (a file).
    QString tryKeyLock() const;
    // File name extension of a backup (".db" copy or ".dump" archive).
    QString backupExtension() const;
    // Whether |error| text says the database cannot be reached at all
    // (server stopped, network gone), as opposed to a refused statement.
    bool lostConnection(const QString &errorText) const;

private:
    SqlDialect(bool server, const QString &connection) : m_server(server), m_connection(connection) {}
    bool m_server = false;
    QString m_connection;
};

// Quotes every bare word of |statement| that |names| holds (keyed by its
// lower-case form) in the spelling |names| gives; literals, quoted names and
// numbers stay as they are. What SqlDialect::sql does on a server.
QString quoteSchemaNames(const QString &statement, const QHash<QString, QString> &names);

// Seconds a connection attempt to a server may take before it fails.
constexpr int kConnectTimeoutSec = 3;
// Milliseconds data sent to a server may stay unacknowledged before the
// connection counts as lost.
constexpr int kUnacknowledgedMs = 8000;

// |statement| as the database of the default connection needs it (see SqlDialect::sql).
inline QString dbSql(const QString &statement)
{
    return SqlDialect::current().sql(statement);
}
