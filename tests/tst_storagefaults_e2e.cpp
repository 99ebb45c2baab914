// Storage faults while the instruments deliver, from end to end over the
// simulators' lines: the database file turns read-only, and the disk under
// it fills up. The window keeps ticking, says in Chinese why it cannot
// store, acknowledges nothing it has not stored (no 0D to the analyzer, no
// 0x66 to the station), and stores every waiting record exactly once when
// the cause is gone.
#include "rowsapart.h"
#include "simprocess.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Makes a file unwritable for everyone, root included, through the
// immutable attribute (chattr +i); an unprivileged user cannot set it and
// instead loses the right to create files in the folder, which SQLite needs
// for its rollback journal. Undone by the destructor at the latest.
class ReadOnlyFile
{
public:
    explicit ReadOnlyFile(const QString &path) : m_path(path) {}
    ~ReadOnlyFile() { release(); }

    // Empty when the file is read-only now, else the reason it could not be made so.
    QString engage()
    {
        if (setImmutable(true)) {
            m_how = Immutable;
            return QString();
        }
        const QString immutableError = QString::fromLocal8Bit(std::strerror(errno));
        if (geteuid() == 0)
            return QStringLiteral("chattr +i: ") + immutableError;
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner))
            return QStringLiteral("chmod of ") + folder;
        m_how = FolderLocked;
        return QString();
    }
    void release()
    {
        if (m_how == Immutable)
            setImmutable(false);
        else if (m_how == FolderLocked)
            QFile::setPermissions(QFileInfo(m_path).absolutePath(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_how = None;
    }

private:
    bool setImmutable(bool on)
    {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return ok;
    }

    enum How { None, Immutable, FolderLocked };
    QString m_path;
    How m_how = None;
};

// A small file system of its own (tmpfs) that a filler file can fill to
// the last byte; needs the right to mount (root).
class SmallDisk
{
public:
    SmallDisk()
    {
        if (!m_dir.isValid())
            return;
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, "size=8m") != 0) {
            m_error = QStringLiteral("mount tmpfs: ") + QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    // Writes the filler until the disk refuses more; true when it did (ENOSPC).
    bool fill()
    {
        QFile filler(path("filler"));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(64 * 1024, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        // The last partial block: byte by byte up to the very end.
        while (filler.write("x", 1) == 1 && filler.flush()) {
        }
        return filler.error() != QFileDevice::NoError;
    }
    bool makeRoom() { return QFile::remove(path("filler")); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_error;
};

// The window's events keep flowing: the longest gap between beats of a 50 ms timer.
class Heartbeat
{
public:
    Heartbeat()
    {
        m_clock.start();
        QObject::connect(&m_beat, &QTimer::timeout, [this] {
            m_longestGap = std::max(m_longestGap, m_clock.elapsed() - m_last);
            m_last = m_clock.elapsed();
        });
        m_beat.start(50);
    }
    qint64 longestGap() const { return m_longestGap; }

private:
    QElapsedTimer m_clock;
    QTimer m_beat;
    qint64 m_last = 0;
    qint64 m_longestGap = 0;
};

// What a fault showed while it lasted.
struct DuringFault
{
    QString warning;        // the status bar's lasting warning
    int delivered = -1;     // acknowledged by the program, as the simulator logged
    int stored = -1;        // rows in the table
    bool cleared = false;   // the warning went away once the cause was gone
    qint64 longestGap = -1; // of the window's events
};

const int kFaultMs = 3000;

} // namespace

class TestStorageFaultsE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void readOnlyDatabase_data();
    void readOnlyDatabase();
    void fullDisk_data();
    void fullDisk();

private:
    static void addInstruments();
    static void collect(Road &road, const QString &instrument, const std::function<QString()> &cause,
                        const std::function<bool()> &remedy, const QString &table, DuringFault *seen);
    static void checkFault(const DuringFault &seen, const QString &instrument, const QString &reason);
};

void TestStorageFaultsE2E::addInstruments()
{
    QTest::addColumn<QString>("instrument");
    QTest::newRow("analyzer batch") << QStringLiteral("analyzer");
    QTest::newRow("station results") << QStringLiteral("station");
}

// Runs the instrument's road; the fault starts once the window polls, lasts
// kFaultMs and is then removed.
void TestStorageFaultsE2E::collect(Road &road, const QString &instrument,
                                   const std::function<QString()> &cause, const std::function<bool()> &remedy,
                                   const QString &table, DuringFault *seen)
{
    const auto during = [&](MainWindow &w) {
        const QString problem = cause();
        if (!problem.isEmpty())
            QFAIL(qPrintable(problem));
        Heartbeat heartbeat;
        QTest::qWait(kFaultMs);
        seen->warning = w.storeWarning();
        seen->delivered = road.delivered();
        seen->stored = testsupport::count(QStringLiteral("SELECT count(*) FROM ") + table);
        seen->longestGap = heartbeat.longestGap();
        QVERIFY(remedy());
        seen->cleared = QTest::qWaitFor([&] { return w.storeWarning().isEmpty(); }, 10000);
    };
    if (instrument == QLatin1String("analyzer")) {
        road.analyzer({"--batch", "3", "--fast"}, 3, during);
    } else {
        road.station({"0 1001 01 172.5 Height 172.5", "1 1002 09 25 FWC 25", "0 O'1 02 64.8 Weight 64.8"},
                     {"--fast"}, 3, during);
    }
}

void TestStorageFaultsE2E::checkFault(const DuringFault &seen, const QString &instrument,
                                      const QString &reason)
{
    // The warning names what was not stored and why, in Chinese.
    const QString what = instrument == QLatin1String("analyzer") ? QStringLiteral("体成分测试数据未能保存")
                                                                 : QStringLiteral("体测结果未能保存");
    QVERIFY2(seen.warning.contains(what) && seen.warning.contains(reason), qPrintable(seen.warning));
    QCOMPARE(seen.delivered, 0);
    QCOMPARE(seen.stored, 0);
    QVERIFY(seen.cleared);
    QVERIFY2(seen.longestGap < 1500, qPrintable(QString::number(seen.longestGap)));
}

void TestStorageFaultsE2E::readOnlyDatabase_data()
{
    addInstruments();
}

void TestStorageFaultsE2E::readOnlyDatabase()
{
    QFETCH(QString, instrument);
    Road road;
    QVERIFY(road.ok);
    const QString table = instrument == QLatin1String("analyzer") ? "Result" : "ResultFIT";
    {
        // Not every file system keeps the attribute (overlay and network ones may not).
        QFile probe(road.path("probe"));
        QVERIFY(probe.open(QIODevice::WriteOnly));
        probe.close();
        ReadOnlyFile probeFile(probe.fileName());
        const QString unable = probeFile.engage();
        if (!unable.isEmpty())
            QSKIP(qPrintable(QStringLiteral("cannot make a file read-only here (%1)").arg(unable)));
    }
    ReadOnlyFile file(road.path("maindb.db"));
    DuringFault seen;
    collect(
        road, instrument, [&] { return file.engage(); },
        [&] {
            file.release();
            return true;
        },
        table, &seen);
    if (QTest::currentTestFailed())
        return;
    // A file the system refuses to write is named read-only; a folder without
    // the right to create the journal shows as a file that cannot be opened.
    const QString reason = geteuid() == 0 ? QStringLiteral("数据库文件是只读的") : QStringLiteral("无法打开");
    checkFault(seen, instrument, reason);
}

void TestStorageFaultsE2E::fullDisk_data()
{
    addInstruments();
}

void TestStorageFaultsE2E::fullDisk()
{
    QFETCH(QString, instrument);
    SmallDisk disk;
    if (!disk.mounted())
        QSKIP(qPrintable(QStringLiteral("no small file system of its own to fill (%1)").arg(disk.error())));
    Road road;
    QVERIFY(road.ok);
    // The program works on a database on the small disk from now on.
    QVERIFY(testsupport::startProcessOn(disk.path("maindb.db")));
    const QString table = instrument == QLatin1String("analyzer") ? "Result" : "ResultFIT";
    DuringFault seen;
    collect(
        road, instrument,
        [&] { return disk.fill() ? QString() : QStringLiteral("the filler did not fill the disk"); },
        [&] { return disk.makeRoom(); }, table, &seen);
    const bool failed = QTest::currentTestFailed();
    // Nothing may keep the small disk busy once the road is over.
    QSqlDatabase::database().close();
    if (failed)
        return;
    checkFault(seen, instrument, QStringLiteral("磁盘空间不足"));
}

QUELMAR_TEST_MAIN_ROWS_APART(TestStorageFaultsE2E)
#include "tst_storagefaults_e2e.moc"
