#include "app/database.h"

#include <QFileInfo>
#include <QObject>
#include <QSqlDatabase>

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
