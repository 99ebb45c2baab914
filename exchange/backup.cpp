#include "exchange/backup.h"

#include "app/database.h"
#include "app/dbtarget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <algorithm>
#include <functional>

namespace exchange {

QString backupTarget(const QDateTime &when, const QString &folder)
{
    return folder + QStringLiteral("maindb") + when.toString(QStringLiteral("yyyyMMddhhmmss")) +
           SqlDialect::current().backupExtension();
}

namespace {
// Runs VACUUM INTO |into| on a read-only connection of its own to |source|.
QString vacuumInto(const QString &source, const QString &into)
{
    static int serial = 0;
    const QString name = QStringLiteral("quelmar-backup-%1").arg(++serial);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(SqlDialect::forTarget(DbTarget()).driverName(), name);
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

QString findPgDump()
{
    const QString chosen = qEnvironmentVariable("QUELMAR_PG_DUMP");
    if (!chosen.isEmpty())
        return QFileInfo(chosen).isExecutable() ? chosen : QString();
    QString onPath = QStandardPaths::findExecutable(QStringLiteral("pg_dump"));
    if (!onPath.isEmpty())
        return onPath;
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : found) {
        QString path = versions.filePath(version + QStringLiteral("/bin/pg_dump"));
        if (QFileInfo(path).isExecutable())
            return path;
    }
    return QString();
}

namespace {
// Runs pg_dump for the server of |db| into |into|; the error text, empty on success.
// The window keeps painting while it runs, but takes no input.
QString pgDumpInto(const QString &program, const QSqlDatabase &db, const QString &into)
{
    QStringList args{QStringLiteral("--format=custom"), QStringLiteral("--no-password"),
                     QStringLiteral("--file=") + into};
    if (!db.hostName().isEmpty())
        args << QStringLiteral("--host=") + db.hostName();
    if (db.port() > 0)
        args << QStringLiteral("--port=") + QString::number(db.port());
    if (!db.userName().isEmpty())
        args << QStringLiteral("--username=") + db.userName();
    args << QStringLiteral("--dbname=") + db.databaseName();
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!db.password().isEmpty())
        env.insert(QStringLiteral("PGPASSWORD"), db.password());
    env.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QString::number(kConnectTimeoutSec));
    proc.setProcessEnvironment(env);
    QEventLoop loop;
    QObject::connect(&proc, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    QObject::connect(&proc, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    qDebug().noquote() << "backup:" << program << args.join(QLatin1Char(' '));
    proc.start(program, args);
    if (proc.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (proc.error() == QProcess::FailedToStart)
        return QObject::tr("无法启动 pg_dump（%1）：%2").arg(program, proc.errorString());
    const QString messages = QString::fromLocal8Bit(proc.readAllStandardError()).trimmed();
    if (proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0)
        return messages.isEmpty() ? QObject::tr("pg_dump 异常结束（退出码 %1）").arg(proc.exitCode())
                                  : messages;
    if (!QFileInfo(into).isFile() || QFileInfo(into).size() == 0)
        return QObject::tr("pg_dump 没有写出备份文件");
    return QString();
}

// What both kinds of backup require of the target: its folder exists and
// the file does not (one backup per second).
QString targetProblem(const QFileInfo &targetInfo)
{
    const QDir folder = targetInfo.absoluteDir();
    if (!folder.exists())
        return QObject::tr("备份文件夹 %1 不存在，请先建立该文件夹。").arg(folder.absolutePath());
    if (targetInfo.exists())
        return QObject::tr("备份文件 %1 已存在（同一秒内只能备份一次），请稍后再试。")
            .arg(targetInfo.absoluteFilePath());
    return QString();
}

// The copy is written beside the target by |write| (which returns the
// operator's text of its failure, or nothing) and takes the target's name
// only when complete; a failed copy is removed.
BackupResult writtenIntoPlace(const QFileInfo &targetInfo, BackupResult result,
                              const std::function<QString(const QString &partial)> &write)
{
    const QString partial =
        targetInfo.absoluteFilePath() + QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid());
    QFile::remove(partial);
    result.error = write(partial);
    if (!result.error.isEmpty()) {
        QFile::remove(partial);
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

// Backup of a server database: the same naming and failure rules as a file.
BackupResult backupServer(const QString &target)
{
    BackupResult result;
    result.target = target;
    const QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
    const QFileInfo targetInfo(target);
    const QString program = findPgDump();
    if (program.isEmpty()) {
        result.error = QObject::tr("找不到 pg_dump 程序，无法备份数据库服务器上的数据。\n"
                                   "请安装 PostgreSQL 客户端（Debian：postgresql-client）后再试。");
        return result;
    }
    if (!reviveDefaultDatabase()) {
        result.error = QObject::tr("无法连接数据库服务器 %1，无法备份。").arg(activeDbTarget().display());
    } else if (missingTables().size() == requiredTables().size()) {
        result.error =
            QObject::tr("数据库 %1 中没有本程序的数据表，没有可备份的数据。").arg(db.databaseName());
    } else {
        result.error = targetProblem(targetInfo);
    }
    if (!result.error.isEmpty())
        return result;
    return writtenIntoPlace(targetInfo, result, [&](const QString &partial) {
        const QString dumpError = pgDumpInto(program, db, partial);
        if (dumpError.isEmpty())
            return QString();
        qDebug() << "pg_dump failed:" << dumpError;
        return QObject::tr("pg_dump 无法备份数据库：%1").arg(dumpError);
    });
}
} // namespace

BackupResult backupDatabase(const QString &target)
{
    if (SqlDialect::current().server())
        return backupServer(target);
    BackupResult result;
    result.target = target;
    const QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
    const QString source = db.databaseName();
    const QFileInfo sourceInfo(source);
    const QFileInfo targetInfo(target);

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
    } else {
        result.error = targetProblem(targetInfo);
    }
    if (!result.error.isEmpty())
        return result;

    return writtenIntoPlace(targetInfo, result, [&](const QString &partial) {
        const QString sqlError = vacuumInto(sourceInfo.absoluteFilePath(), partial);
        if (sqlError.isEmpty())
            return QString();
        qDebug() << "VACUUM INTO failed:" << sqlError;
        return QObject::tr("SQLite 无法复制数据库：%1").arg(sqlError);
    });
}

} // namespace exchange
