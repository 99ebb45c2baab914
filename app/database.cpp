#include "app/database.h"

#include <QFileInfo>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

bool openDefaultDatabase(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::contains(QSqlDatabase::defaultConnection)
                          ? QSqlDatabase::database(QSqlDatabase::defaultConnection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    if (db.isOpen())
        db.close();
    db.setDatabaseName(path);
    // Another program holding the file locked must not freeze the window: a
    // busy database fails a statement after this wait, and the links retry
    // at their next tick.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    return db.open();
}

QStringList requiredTables()
{
    return {QStringLiteral("Person"), QStringLiteral("Result"), QStringLiteral("ResultFIT"),
            QStringLiteral("Unit"),   QStringLiteral("Report"), QStringLiteral("Server"),
            QStringLiteral("Print")};
}

QStringList missingTables()
{
    QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
    if (!db.isOpen())
        return requiredTables();
    QStringList present;
    for (const QString &t : db.tables())
        present << t.toLower();
    QStringList missing;
    for (const QString &t : requiredTables()) {
        if (!present.contains(t.toLower()))
            missing << t;
    }
    return missing;
}

QString schemaProblemText(const QString &path)
{
    const QStringList missing = missingTables();
    if (missing.isEmpty())
        return QString();
    return QObject::tr("数据库文件 %1 不可用（缺少数据表：%2）。\n测量结果将无法保存！\n"
                       "请关闭程序，恢复或重新安装数据库文件后再启动。")
        .arg(QFileInfo(path).absoluteFilePath(), missing.join(QStringLiteral(", ")));
}

DatabaseFileCheck checkDatabaseFile(const QString &path)
{
    DatabaseFileCheck check;
    const QFileInfo info(path);
    if (!info.isFile()) {
        check.problem = QStringLiteral("does not exist (找不到数据库文件)");
    } else if (info.size() == 0) {
        check.problem = QStringLiteral("is empty, 0 bytes (数据库文件为空)");
    } else {
        static int serial = 0;
        const QString name = QStringLiteral("quelmar-check-%1").arg(++serial);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(info.absoluteFilePath());
            db.setConnectOptions(
                QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
            // SQLite reads the file only at the first statement: a file of
            // another kind fails there ("file is not a database").
            QSqlQuery q(db);
            if (!db.open() ||
                !q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"))) {
                const QString error = db.isOpen() ? q.lastError().text() : db.lastError().text();
                check.problem = QStringLiteral("is not an SQLite database (不是数据库文件): %1").arg(error);
            } else {
                QStringList present;
                while (q.next())
                    present << q.value(0).toString().toLower();
                for (const QString &t : requiredTables()) {
                    if (!present.contains(t.toLower()))
                        check.missing << t;
                }
            }
        }
        QSqlDatabase::removeDatabase(name);
    }
    if (!check.problem.isEmpty())
        check.missing = requiredTables();
    return check;
}

bool DatabaseFileCheck::usable(const QStringList &tables) const
{
    if (!problem.isEmpty())
        return false;
    for (const QString &t : tables) {
        if (missing.contains(t))
            return false;
    }
    return true;
}

QString DatabaseFileCheck::reason(const QString &path, const QStringList &tables) const
{
    const QString file = QFileInfo(path).absoluteFilePath();
    if (!problem.isEmpty())
        return QStringLiteral("%1 %2").arg(file, problem);
    QStringList lacking;
    for (const QString &t : tables) {
        if (missing.contains(t))
            lacking << t;
    }
    if (lacking.isEmpty())
        return QString();
    if (missing.size() == requiredTables().size())
        return QStringLiteral("%1 holds none of the program's tables (数据库中没有数据表)").arg(file);
    return QStringLiteral("%1 lacks the table(s) %2 (数据库缺少数据表)")
        .arg(file, lacking.join(QStringLiteral(", ")));
}
