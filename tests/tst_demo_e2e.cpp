// The demo instruments end with the program: the real program started with
// --demo in a scratch folder, its two simulator children found in /proc, the
// program ended by a signal, and the simulators checked to be gone.
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

namespace {

// Fields of /proc/PID/stat after the command name: state and parent.
struct ProcStat
{
    char state = 0;
    qint64 ppid = 0;
};

bool readStat(qint64 pid, ProcStat *out)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = f.readAll();
    // The command name is in parentheses and may itself hold blanks.
    const int close = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (close < 0 || fields.size() < 2)
        return false;
    out->state = fields.at(0).isEmpty() ? 0 : fields.at(0).at(0);
    out->ppid = fields.at(1).toLongLong();
    return true;
}

// A process that still runs: present and neither a zombie nor dead (an
// orphan's zombie may wait for a parent that never reaps it).
bool running(qint64 pid)
{
    ProcStat st;
    return readStat(pid, &st) && st.state != 'Z' && st.state != 'X';
}

QString programName(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QFileInfo(QString::fromLocal8Bit(f.readAll().split('\0').value(0))).fileName();
}

// Running children of |parent| by program name.
QMap<QString, qint64> childrenOf(qint64 parent)
{
    QMap<QString, qint64> out;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        ProcStat st;
        if (number && readStat(pid, &st) && st.ppid == parent && st.state != 'Z')
            out.insert(programName(pid), pid);
    }
    return out;
}

} // namespace

class TestDemoE2E : public QObject
{
    Q_OBJECT

private slots:
    void simulatorsEndWithTheProgram_data();
    void simulatorsEndWithTheProgram();
};

void TestDemoE2E::simulatorsEndWithTheProgram_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("normalExit");   // through the event loop, exit code 0
    QTest::addColumn<bool>("modalWarning"); // a database without tables: a warning box is open
    QTest::newRow("SIGTERM") << int(SIGTERM) << true << false;
    QTest::newRow("SIGINT") << int(SIGINT) << true << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << true << false;
    QTest::newRow("SIGTERM with a modal box open") << int(SIGTERM) << true << true;
    // No handler runs: the kernel ends the simulators when their parent dies.
    QTest::newRow("SIGKILL") << int(SIGKILL) << false << false;
}

void TestDemoE2E::simulatorsEndWithTheProgram()
{
    QFETCH(int, signal);
    QFETCH(bool, normalExit);
    QFETCH(bool, modalWarning);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("maindb.db"));
    if (modalWarning) {
        QFile empty(db);
        QVERIFY(empty.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(testsupport::buildSuppliedDatabase(db));
    }

    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar"), {QStringLiteral("--demo")});
    QVERIFY(program.waitForStarted(5000));
    const qint64 pid = program.processId();

    const QStringList simulators{QStringLiteral("quelmar-analyzer-sim"),
                                 QStringLiteral("quelmar-station-sim")};
    QMap<QString, qint64> children;
    QElapsedTimer waited;
    waited.start();
    while (children.keys() != simulators && waited.elapsed() < 20000 &&
           program.state() == QProcess::Running) {
        QTest::qWait(100);
        children = childrenOf(pid);
    }
    QCOMPARE(children.keys(), simulators);
    // Both have opened their lines and the program its ports: a moment of
    // ordinary running before the signal.
    QTest::qWait(1000);
    QVERIFY(running(children.first()) && running(children.last()));

    QCOMPARE(::kill(pid_t(pid), signal), 0);
    QVERIFY(program.waitForFinished(15000));
    if (normalExit) {
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        // The normal path ends and reaps both before the program exits.
        for (const qint64 child : children)
            QVERIFY2(!running(child),
                     qPrintable(QStringLiteral("simulator %1 outlived the program").arg(child)));
    } else {
        QCOMPARE(program.exitStatus(), QProcess::CrashExit);
        waited.restart();
        while ((running(children.first()) || running(children.last())) && waited.elapsed() < 5000)
            QTest::qWait(50);
        for (const qint64 child : children)
            QVERIFY2(!running(child),
                     qPrintable(QStringLiteral("simulator %1 outlived the program").arg(child)));
    }

    QProcess check;
    check.start(QStringLiteral("sqlite3"), {db, QStringLiteral("PRAGMA integrity_check")});
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.readAllStandardOutput().trimmed(), QByteArray("ok"));
}

QTEST_GUILESS_MAIN(TestDemoE2E)
#include "tst_demo_e2e.moc"
