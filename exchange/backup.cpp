#include "exchange/backup.h"

#include "app/database.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace exchange {

QString backupTarget(const QDateTime &when, const QString &folder)
{
    return folder + QStringLiteral("maindb") + when.toString(QStringLiteral("yyyyMMddhhmmss")) +
           QStringLiteral(".db");
}

namespace {
// Runs VACUUM INTO |into| on a read-only connection of its own to |source|.
QString vacuumInto(const QString &source, const QString &into)
{
    static int serial = 0;
    const QString name = QStringLiteral("quelmar-backup-%1").arg(++serial);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(source);
        // Read-only: a missing file is an error, not a new empty database.
        // The busy time-out waits out a short write of another connection.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("VACUUM INTO ?"));
            q.addBindValue(into);
            if (!q.exec())
                error = q.lastError().text();
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}
} // namespace

BackupResult backupDatabase(const QString &target)
{
    BackupResult result;
    result.target = target;
    const QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
    const QString source = db.databaseName();
    const QFileInfo sourceInfo(source);
    const QFileInfo targetInfo(target);
    const QDir folder = targetInfo.absoluteDir();

    const DatabaseFileCheck check = checkDatabaseFile(source);
    if (source.isEmpty() || !sourceInfo.isFile()) {
        result.error = QObject::tr("数据库文件 %1 不存在。").arg(sourceInfo.absoluteFilePath());
    } else if (sourceInfo.size() == 0) {
        result.error = QObject::tr("数据库文件 %1 是空文件（0字节），没有可备份的数据。")
                           .arg(sourceInfo.absoluteFilePath());
    } else if (!check.problem.isEmpty()) {
        result.error = QObject::tr("文件 %1 不是数据库文件，无法备份：%2")
                           .arg(sourceInfo.absoluteFilePath(), check.problem);
    } else if (check.missing.size() == requiredTables().size()) {
        result.error = QObject::tr("数据库文件 %1 中没有本程序的数据表，没有可备份的数据。")
                           .arg(sourceInfo.absoluteFilePath());
    } else if (!folder.exists()) {
        result.error = QObject::tr("备份文件夹 %1 不存在，请先建立该文件夹。").arg(folder.absolutePath());
    } else if (targetInfo.exists()) {
        result.error = QObject::tr("备份文件 %1 已存在（同一秒内只能备份一次），请稍后再试。")
                           .arg(targetInfo.absoluteFilePath());
    }
    if (!result.error.isEmpty())
        return result;

    // The copy is written beside the target and renamed when complete.
    const QString partial =
        targetInfo.absoluteFilePath() + QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid());
    QFile::remove(partial);
    const QString sqlError = vacuumInto(sourceInfo.absoluteFilePath(), partial);
    if (!sqlError.isEmpty()) {
        qDebug() << "VACUUM INTO failed:" << sqlError;
        QFile::remove(partial);
        result.error = QObject::tr("SQLite 无法复制数据库：%1").arg(sqlError);
        return result;
    }
    QFile copy(partial);
    if (!copy.rename(targetInfo.absoluteFilePath())) {
        result.error =
            QObject::tr("备份文件 %1 无法保存：%2").arg(targetInfo.absoluteFilePath(), copy.errorString());
        QFile::remove(partial);
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace exchange
