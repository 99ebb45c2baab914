#include "app/database.h"

#include "app/dbtarget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QVariant>

bool openDefaultDatabase(const DbTarget &target)
{
    const SqlDialect dialect = SqlDialect::forTarget(target);
    if (QSqlDatabase::contains(QSqlDatabase::defaultConnection) &&
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).driverName() != dialect.driverName())
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    QSqlDatabase db = QSqlDatabase::contains(QSqlDatabase::defaultConnection)
                          ? QSqlDatabase::database(QSqlDatabase::defaultConnection, false)
                          : QSqlDatabase::addDatabase(dialect.driverName());
    if (db.isOpen())
        db.close();
    SqlDialect::forgetSchema(db.connectionName());
    if (target.isServer()) {
        db.setHostName(target.host);
        db.setPort(target.port > 0 ? target.port : -1);
        db.setUserName(target.user);
        db.setPassword(target.password);
        db.setDatabaseName(target.name);
    } else {
        db.setDatabaseName(target.path);
    }
    db.setConnectOptions(dialect.connectOptions());
    const bool ok = db.open();
    if (!ok && target.isServer())
        qWarning().noquote() << "cannot connect to" << target.display() << ":" << db.lastError().text();
    return ok;
}

bool openDefaultDatabase(const QString &path)
{
    DbTarget target;
    target.path = path;
    return openDefaultDatabase(target);
}

namespace {
// Whether a server over the network accepts connections again, found out
// without waiting: a connection attempt of the database driver blocks the
// window for up to the connect time-out when the network is gone, so it is
// made only once a socket of our own reached the server's port.
class ServerProbe
{
public:
    // True once the port answered since the last reset(); starts an attempt
    // (answered in the event loop) when none is under way.
    bool reachable(const QString &host, int port)
    {
        if (m_reached)
            return true;
        if (!m_socket) {
            QTcpSocket *socket = new QTcpSocket;
            m_socket = socket;
            QObject::connect(socket, &QTcpSocket::connected, [this, socket] {
                if (m_socket == socket)
                    m_reached = true;
                socket->abort();
            });
            QObject::connect(socket, &QTcpSocket::errorOccurred,
                             [this, socket](QAbstractSocket::SocketError) {
                                 // Deleted from the event loop: this runs inside the socket.
                                 if (m_socket == socket)
                                     m_socket = nullptr;
                                 socket->deleteLater();
                             });
            socket->connectToHost(host, quint16(port > 0 ? port : 5432));
        }
        return false;
    }
    void reset()
    {
        m_reached = false;
        if (m_socket)
            m_socket->deleteLater();
        m_socket = nullptr;
    }

private:
    bool m_reached = false;
    QTcpSocket *m_socket = nullptr; // the attempt under way, deleted from the event loop
};
} // namespace

bool reviveDefaultDatabase()
{
    QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
    if (!SqlDialect::of(db).server())
        return db.isOpen();
    if (db.isOpen() && QSqlQuery(db).exec(QStringLiteral("SELECT 1")))
        return true;
    static ServerProbe probe;
    const bool overNetwork = !db.hostName().isEmpty() && !db.hostName().startsWith(QLatin1Char('/'));
    if (overNetwork && QCoreApplication::instance() && !probe.reachable(db.hostName(), db.port()))
        return false;
    probe.reset();
    db.close();
    const bool ok = db.open();
    qInfo().noquote() << "reconnecting to the database:"
                      << (ok ? QStringLiteral("done") : db.lastError().text());
    return ok;
}

namespace {
QString serverText()
{
    const QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
    QString where = db.hostName().isEmpty() ? QStringLiteral("localhost") : db.hostName();
    if (db.port() > 0)
        where += QLatin1Char(':') + QString::number(db.port());
    return where + QLatin1Char('/') + db.databaseName();
}
} // namespace

QString databaseReadyForStore()
{
    // A file needs no reconnecting: its statements report their own errors.
    if (!SqlDialect::current().server() || reviveDefaultDatabase())
        return QString();
    return QObject::tr("无法连接数据库服务器 %1").arg(serverText());
}

bool isUnreachableError(const QString &errorText)
{
    return errorText.startsWith(QObject::tr("无法连接数据库服务器")) ||
           SqlDialect::current().lostConnection(errorText);
}

QString storeErrorText(const QString &errorText)
{
    if (SqlDialect::current().lostConnection(errorText))
        return QObject::tr("无法连接数据库服务器 %1").arg(serverText());
    return errorText;
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
    DbTarget target;
    target.path = path;
    return schemaProblemText(target);
}

QString schemaProblemText(const DbTarget &target)
{
    if (target.isServer()) {
        QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
        if (!db.isOpen())
            return unreachableText(target, db.lastError().text());
    }
    const QStringList missing = missingTables();
    if (missing.isEmpty())
        return QString();
    if (target.isServer())
        return QObject::tr("数据库 %1 不可用（缺少数据表：%2）。\n测量结果将无法保存！\n"
                           "请用 --init-database 建立数据表后再启动。")
            .arg(target.display(), missing.join(QStringLiteral(", ")));
    return QObject::tr("数据库文件 %1 不可用（缺少数据表：%2）。\n测量结果将无法保存！\n"
                       "请关闭程序，恢复或重新安装数据库文件后再启动。")
        .arg(target.display(), missing.join(QStringLiteral(", ")));
}

QString unreachableText(const DbTarget &target, const QString &detail)
{
    QString text = QObject::tr("无法连接数据库服务器 %1。\n测量结果暂不能保存，将在连接恢复后自动保存。")
                       .arg(target.display());
    if (!detail.trimmed().isEmpty())
        text += QStringLiteral("\n") + detail.trimmed();
    return text;
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
            QSqlDatabase db = QSqlDatabase::addDatabase(SqlDialect::forTarget(DbTarget()).driverName(), name);
            db.setDatabaseName(info.absoluteFilePath());
            db.setConnectOptions(SqlDialect::forTarget(DbTarget()).connectOptions(true));
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

DatabaseFileCheck openJobDatabase(const DbTarget &target)
{
    if (!target.isServer()) {
        DatabaseFileCheck check = checkDatabaseFile(target.path);
        if (check.problem.isEmpty() && !openDefaultDatabase(target)) {
            check.problem =
                QStringLiteral("cannot be opened: %1")
                    .arg(QSqlDatabase::database(QSqlDatabase::defaultConnection, false).lastError().text());
            check.missing = requiredTables();
        }
        return check;
    }
    DatabaseFileCheck check;
    check.where = target.display();
    if (!openDefaultDatabase(target)) {
        check.problem = QStringLiteral("cannot be reached (无法连接数据库服务器): %1")
                            .arg(QSqlDatabase::database(QSqlDatabase::defaultConnection, false)
                                     .lastError()
                                     .text()
                                     .trimmed());
        check.missing = requiredTables();
        return check;
    }
    check.missing = missingTables();
    return check;
}

bool databaseMayExist(const DbTarget &target)
{
    return target.isServer() || QFileInfo::exists(target.path);
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
    const QString file = where.isEmpty() ? QFileInfo(path).absoluteFilePath() : where;
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
