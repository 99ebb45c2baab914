// The default database connection and the check of the supplied schema.
#pragma once

#include <QString>
#include <QStringList>

// How long a statement waits for a database another connection has locked.
constexpr int kBusyTimeoutMs = 300;

struct DbTarget;

// Adds (or re-targets) the default connection on |target| (QSQLITE on a file,
// QPSQL on a server; the password comes from libpq) and opens it.
bool openDefaultDatabase(const DbTarget &target);
// The same on the file |path|.
bool openDefaultDatabase(const QString &path);

// Reopens the default connection on a server that stopped answering (the
// server was restarted or the network came back). Cheap and without effect
// on a file, or while the server answers. Returns whether it is usable.
bool reviveDefaultDatabase();

// Before a store: reopens a lost server connection. Empty when the database
// can be used, else the operator text (Chinese) saying it cannot be reached.
QString databaseReadyForStore();
// Text of a failed store for the operator: a server out of reach says so
// (无法连接数据库服务器 …); any other error stays as it is.
QString storeErrorText(const QString &errorText);
// Whether |errorText| says the server could not be reached.
bool isUnreachableError(const QString &errorText);

// Tables the program cannot work without, in the order they are reported.
QStringList requiredTables();

// Names of the required tables missing from the default connection
// (all of them when the connection is not open).
QStringList missingTables();

// What a look at a database file found, without creating or changing it.
struct DatabaseFileCheck
{
    QString problem;     // why it is no database at all (missing, empty, other content); empty if it is one
    QStringList missing; // required tables it lacks, in the order of requiredTables()
    QString where;       // how messages name the database (a server address); empty: the file path
    bool usable(const QStringList &tables) const; // no problem and none of |tables| missing
    // Reason (English, then Chinese) why a job reading |tables| cannot use the
    // file |path|; empty when it can.
    QString reason(const QString &path, const QStringList &tables) const;
};
// Opens |path| read-only on a connection of its own.
DatabaseFileCheck checkDatabaseFile(const QString &path);
// For a headless job: opens the default connection on |target| (a file only
// once the look at it found a database, so that a missing file is never
// created) and reports what it found. check.problem is set when the database
// cannot be used at all; reason() names the file or the server.
DatabaseFileCheck openJobDatabase(const DbTarget &target);
// Whether opening |target| can find data: a server always, a file if it exists.
bool databaseMayExist(const DbTarget &target);

// Operator text for a database that lacks tables: names the absolute path of
// the file (or the server address) and says that measurements cannot be
// stored. Empty when all is well.
QString schemaProblemText(const QString &path);
QString schemaProblemText(const DbTarget &target);

// Operator text (Chinese) for a database server that cannot be reached.
QString unreachableText(const DbTarget &target, const QString &detail);
