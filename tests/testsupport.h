// Helpers shared by the tests: a fresh copy of the supplied database in a
// scratch folder, opened as the default connection the program uses.
#pragma once

#include "app/globals.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace testsupport {
inline QString sourcePath(const QString &relative)
{
    return QStringLiteral(QUELMAR_SOURCE_DIR) + QLatin1Char('/') + relative;
}

// Builds |dbPath| from db/maindb.sql with the sqlite3 CLI, as set-up does.
inline bool buildSuppliedDatabase(const QString &dbPath)
{
    QFile::remove(dbPath);
    QProcess sqlite;
    sqlite.setStandardInputFile(sourcePath(QStringLiteral("db/maindb.sql")));
    sqlite.start(QStringLiteral("sqlite3"), {dbPath});
    return sqlite.waitForFinished(30000) && sqlite.exitStatus() == QProcess::NormalExit &&
           sqlite.exitCode() == 0;
}

// Fresh supplied database at |dbPath| plus the shared process state on it.
inline bool startProcessOn(const QString &dbPath)
{
    if (!buildSuppliedDatabase(dbPath))
        return false;
    initProcessState(dbPath);
    return dbSetupResult;
}

inline QVariant scalar(const QString &sql)
{
    QSqlQuery q;
    if (!q.exec(sql) || !q.next())
        return QVariant();
    return q.value(0);
}
} // namespace testsupport
