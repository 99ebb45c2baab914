// Helpers shared by the tests: a fresh copy of the supplied database in a
// scratch folder, opened as the default connection the program uses.
#pragma once

#include "app/globals.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtGlobal>

// Debug lines of the program under test, captured while the handler is
// installed (initTestCase: g_previousHandler = qInstallMessageHandler(captureLog)).
inline QStringList g_log;
inline QtMessageHandler g_previousHandler = nullptr;

inline void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        g_log << message;
        return;
    }
    g_previousHandler(type, context, message);
}

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

// Registers a person; false when the insert fails.
inline bool addPerson(const QString &uid, const QString &name, const QString &sex, int birthYear)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO Person (UID, Name, Sex, BirthYear) VALUES (?, ?, ?, ?)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(sex);
    q.addBindValue(birthYear);
    return q.exec();
}

// The non-empty lines of a text file (simulator logs), trimmed.
inline QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            out << QString::fromUtf8(line.trimmed());
    }
    return out;
}

inline QVariant scalar(const QString &sql)
{
    QSqlQuery q;
    if (!q.exec(sql) || !q.next())
        return QVariant();
    return q.value(0);
}
} // namespace testsupport
