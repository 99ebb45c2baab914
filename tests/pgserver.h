// A PostgreSQL server of the tests' own: a cluster made with initdb in a
// temporary folder, listening on a Unix socket in that folder and on
// 127.0.0.1 with a free port, trust authentication for the user "quelmar",
// stopped (and its folder removed) when the object goes. initdb refuses to
// run as root, so under root the server programs run as the "postgres" user
// (or "nobody"), and the folder is handed to that user.
//
//   PgServer server;
//   if (!server.start())
//       QSKIP(qPrintable(server.skipReason()));   // or QFAIL(server.error())
//   server.createDatabase("day");                 // postgresql://quelmar@127.0.0.1:PORT/day
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

class PgServer
{
public:
    PgServer() { m_bin = findBinDir(); }
    ~PgServer() { stop(); }
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Why the tests cannot use a server here (no server programs installed,
    // or no Qt driver for it); empty when they can.
    QString skipReason() const
    {
        if (m_bin.isEmpty())
            return QStringLiteral("PostgreSQL server programs (initdb, pg_ctl) not found in "
                                  "/usr/lib/postgresql/*/bin or PATH: install the postgresql package");
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return QStringLiteral("Qt's PostgreSQL driver QPSQL is missing: install libqt5sql5-psql");
        return QString();
    }
    bool available() const { return skipReason().isEmpty(); }
    // What went wrong in the last start, stop or createDatabase.
    QString error() const { return m_error; }

    QString socketDir() const { return m_dir ? m_dir->path() : QString(); }
    QString dataDir() const { return socketDir() + QStringLiteral("/data"); }
    int port() const { return m_port; }
    static QString user() { return QStringLiteral("quelmar"); }
    bool isRunning() const { return m_running; }

    // Address of |database| over TCP, as the program takes it.
    QString url(const QString &database = QStringLiteral("quelmar")) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(user()).arg(m_port).arg(database);
    }

    // Makes the cluster and starts it; |durable| keeps fsync on (benchmarks),
    // tests run without it.
    bool start(bool durable = false)
    {
        if (m_bin.isEmpty()) {
            m_error = skipReason();
            return false;
        }
        if (m_dir)
            return startServer();
        m_durable = durable;
        // Short (a socket path has at most 107 bytes), and under root in /tmp,
        // which the server's account can enter whatever TMPDIR says.
        const QString base = geteuid() == 0 ? QStringLiteral("/tmp") : QDir::tempPath();
        m_dir.reset(new QTemporaryDir(base + QStringLiteral("/qpg-XXXXXX")));
        if (!m_dir->isValid()) {
            m_error = QStringLiteral("cannot make a temporary folder");
            return false;
        }
        if (!handOver(m_dir->path()))
            return false;
        // Trust for the tests' own server: nobody else can reach the socket
        // folder, and TCP listens on the loopback address only.
        if (!run(m_bin + QStringLiteral("/initdb"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), user(), QStringLiteral("-A"),
                  QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                  QStringLiteral("--locale=C.UTF-8"), QStringLiteral("--no-sync")},
                 true, 120000))
            return false;
        m_port = freePort();
        return startServer() && createDatabase(QStringLiteral("quelmar"));
    }

    // pg_ctl stop -m fast: connections are cut, as when the server goes away.
    bool stop()
    {
        if (!m_running)
            return true;
        m_running = false;
        return run(m_bin + QStringLiteral("/pg_ctl"),
                   {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("fast"),
                    QStringLiteral("-w"), QStringLiteral("stop")},
                   true, 60000);
    }

    // Starts a stopped server again on the same port and data.
    bool restart() { return m_dir && startServer(); }

    // CREATE DATABASE |name| owned by the tests' user.
    bool createDatabase(const QString &name)
    {
        return run(m_bin + QStringLiteral("/createdb"),
                   {QStringLiteral("-h"), socketDir(), QStringLiteral("-p"), QString::number(m_port),
                    QStringLiteral("-U"), user(), name},
                   false, 60000);
    }

    // A connection named |name| to |database| over the socket, opened; the
    // caller removes it (QSqlDatabase::removeDatabase) when done.
    QSqlDatabase connect(const QString &database, const QString &name)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketDir());
        db.setPort(m_port);
        db.setUserName(user());
        db.setDatabaseName(database);
        if (!db.open())
            m_error = db.lastError().text();
        return db;
    }

    // Runs psql with |sql| on |database|; the output (unaligned, no headers)
    // in |out|. For checks that must not go through the program's own code.
    bool psql(const QString &database, const QString &sql, QString *out = nullptr)
    {
        const QString program = m_bin + QStringLiteral("/psql");
        const QString exe = QFileInfo::exists(program) ? program : QStringLiteral("psql");
        QProcess p;
        p.start(exe, {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                      QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"),
                      socketDir(), QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-U"),
                      user(), QStringLiteral("-d"), database, QStringLiteral("-c"), sql});
        const bool ok =
            p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (out)
            *out = QString::fromUtf8(p.readAllStandardOutput());
        if (!ok)
            m_error = QStringLiteral("psql failed: %1").arg(QString::fromUtf8(p.readAllStandardError()));
        return ok;
    }

private:
    static QString findBinDir()
    {
        QDir lib(QStringLiteral("/usr/lib/postgresql"));
        QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        // Newest version first: "15" before "13".
        std::sort(versions.begin(), versions.end(),
                  [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &v : versions) {
            QString bin = lib.filePath(v + QStringLiteral("/bin"));
            if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable() &&
                QFileInfo(bin + QStringLiteral("/pg_ctl")).isExecutable())
                return bin;
        }
        const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
        if (initdb.isEmpty())
            return QString();
        const QString bin = QFileInfo(QFileInfo(initdb).canonicalFilePath()).path();
        return QFileInfo(bin + QStringLiteral("/pg_ctl")).isExecutable() ? bin : QString();
    }

    // The unprivileged account the server runs under when the tests run as root.
    static const passwd *serverAccount()
    {
        if (const passwd *pw = getpwnam("postgres"))
            return pw;
        return getpwnam("nobody");
    }

    bool handOver(const QString &path)
    {
        if (geteuid() != 0)
            return true;
        const passwd *pw = serverAccount();
        if (!pw) {
            m_error = QStringLiteral("running as root and no postgres or nobody account for the server");
            return false;
        }
        if (chown(QFile::encodeName(path).constData(), pw->pw_uid, pw->pw_gid) != 0) {
            m_error = QStringLiteral("cannot hand %1 to the server's account").arg(path);
            return false;
        }
        m_account = QString::fromLocal8Bit(pw->pw_name);
        return true;
    }

    // A port nobody listens on now; the server takes it a moment later.
    static int freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 54329;
        return probe.serverPort();
    }

    bool startServer()
    {
        const QString options =
            QStringLiteral("-k %1 -p %2 -c listen_addresses=127.0.0.1 -c max_connections=60%3")
                .arg(socketDir())
                .arg(m_port)
                .arg(m_durable ? QString() : QStringLiteral(" -c fsync=off -c synchronous_commit=off"));
        if (!run(m_bin + QStringLiteral("/pg_ctl"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"),
                  socketDir() + QStringLiteral("/server.log"), QStringLiteral("-o"), options,
                  QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")},
                 true, 90000)) {
            QFile log(socketDir() + QStringLiteral("/server.log"));
            if (log.open(QIODevice::ReadOnly))
                m_error += QStringLiteral("\nserver log:\n") + QString::fromUtf8(log.readAll().right(2000));
            return false;
        }
        m_running = true;
        return true;
    }

    // Runs a server program, as the server's account when |asServer| and root.
    bool run(const QString &program, const QStringList &args, bool asServer, int timeoutMs)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        // The server's account may not enter the tests' working folder.
        p.setWorkingDirectory(socketDir());
        if (asServer && !m_account.isEmpty())
            p.start(QStringLiteral("runuser"),
                    QStringList{QStringLiteral("-u"), m_account, QStringLiteral("--"), program} + args);
        else
            p.start(program, args);
        if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_error = QStringLiteral("%1 %2 failed: %3")
                          .arg(QFileInfo(program).fileName(), args.join(QLatin1Char(' ')),
                               QString::fromLocal8Bit(p.readAll()).trimmed());
            return false;
        }
        return true;
    }

    QString m_bin;
    QString m_account; // set when the server programs run under another account
    QString m_error;
    QScopedPointer<QTemporaryDir> m_dir;
    int m_port = 0;
    bool m_running = false;
    bool m_durable = false;
};
