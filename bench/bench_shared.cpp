// Several collection PCs at once: four program instances (child processes,
// each with its main window offscreen and a fast analyzer simulator holding
// K batch records) store into one PostgreSQL server, and then the same into
// four SQLite files, one per instance. Prints, side by side, the records per
// second of the four together and the store times of single records (from
// the start of saving to the row being inserted: the lookups and the insert).
// The server runs with fsync on, as a real one would.
//
// Usage: bench_shared [K]   (default 200)
#include "app/dbtarget.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "benchsupport.h"
#include "tests/pgserver.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int kInstances = 4;

// --- one instance (child process) ---
QElapsedTimer g_clock;
qint64 g_saveStart = -1;       // µs
std::vector<qint64> g_storeUs; // µs per store

void timeStores(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    if (message == QLatin1String("saveTestData function")) {
        g_saveStart = g_clock.nsecsElapsed() / 1000;
    } else if (message.startsWith(QStringLiteral("测试数据已插入")) && g_saveStart >= 0) {
        g_storeUs.push_back(g_clock.nsecsElapsed() / 1000 - g_saveStart);
        g_saveStart = -1;
    }
}

// Prints "stored first-ms last-ms store-µs…" (times since the epoch for the
// first and last store) and returns 0 when all |total| were stored.
int runInstance(int argc, char **argv, const QString &database, int total, int seed)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(timeStores);
    DbTarget target;
    QString error;
    if (!parseDbTarget(database, &target, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    initProcessState(target);
    if (!dbSetupResult)
        return 1;
    QProcess sim;
    const QString device =
        bench::startSimulator(sim, QStringLiteral("quelmar-analyzer-sim"),
                              {QStringLiteral("--batch"), QString::number(total), QStringLiteral("--fast"),
                               QStringLiteral("--seed"), QString::number(seed), QStringLiteral("--uid-base"),
                               QString::number(seed * 10000)});
    if (device.isEmpty() || !openInstrumentPort(BCAport, device, &error)) {
        std::fprintf(stderr, "cannot open the analyzer line %s: %s\n", qPrintable(device), qPrintable(error));
        return 1;
    }
    global::portFlag = QStringLiteral("1");
    global::batchSwitch = QStringLiteral("ON");
    int stored = 0;
    qint64 first = 0;
    qint64 last = 0;
    {
        MainWindow w;
        QObject::connect(&w, &MainWindow::tidChanged, [&] {
            last = QDateTime::currentMSecsSinceEpoch();
            if (++stored == 1)
                first = last;
            if (stored == total)
                app.quit();
        });
        QTimer::singleShot(total * 5000 + 30000, &app, &QApplication::quit);
        g_clock.start();
        std::printf("start %lld\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        w.connectBCA();
        app.exec();
        w.stopCheckTimer();
    }
    std::printf("stored %d %lld %lld", stored, static_cast<long long>(first), static_cast<long long>(last));
    for (qint64 us : g_storeUs)
        std::printf(" %lld", static_cast<long long>(us));
    std::printf("\n");
    BCAport->close();
    sim.terminate();
    sim.waitForFinished(5000);
    releaseProcessState();
    return stored == total ? 0 : 2;
}

// --- the comparison (parent process) ---
struct Figures
{
    int stored = 0;
    double seconds = 0; // first instance start to last store
    double recordsPerSecond = 0;
    double maxStoreMs = 0;
    double meanStoreMs = 0;
    double p95StoreMs = 0;
    bool ok = false;
};

Figures runFour(const QStringList &databases, int total)
{
    Figures f;
    QList<QProcess *> children;
    for (int i = 0; i < databases.size(); ++i) {
        auto *p = new QProcess;
        p->setProcessChannelMode(QProcess::SeparateChannels);
        p->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--instance"), databases[i],
                                                           QString::number(total), QString::number(i + 1)});
        children << p;
    }
    qint64 start = 0;
    qint64 end = 0;
    std::vector<qint64> stores;
    f.ok = true;
    for (QProcess *p : children) {
        p->waitForFinished(total * 5000 + 60000);
        f.ok = f.ok && p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0;
        if (p->exitCode() != 0)
            std::fprintf(stderr, "%s\n", p->readAllStandardError().right(2000).constData());
        for (const QByteArray &line : p->readAllStandardOutput().split('\n')) {
            const QList<QByteArray> w = line.split(' ');
            if (w.value(0) == "start") {
                const qint64 t = w.value(1).toLongLong();
                start = start == 0 ? t : std::min(start, t);
            } else if (w.value(0) == "stored" && w.size() >= 4) {
                f.stored += w[1].toInt();
                end = std::max(end, w[3].toLongLong());
                for (int i = 4; i < w.size(); ++i)
                    stores.push_back(w[i].toLongLong());
            }
        }
        delete p;
    }
    f.seconds = end > start && start > 0 ? (end - start) / 1000.0 : 0;
    f.recordsPerSecond = f.seconds > 0 ? f.stored / f.seconds : 0;
    if (!stores.empty()) {
        std::sort(stores.begin(), stores.end());
        f.maxStoreMs = stores.back() / 1000.0;
        f.p95StoreMs = stores[stores.size() * 95 / 100] / 1000.0;
        double sum = 0;
        for (qint64 s : stores)
            sum += s;
        f.meanStoreMs = sum / stores.size() / 1000.0;
    }
    return f;
}

int countRows(const QString &connection, const QString &sql)
{
    QSqlQuery q(QSqlDatabase::database(connection));
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 5 && qstrcmp(argv[1], "--instance") == 0)
        return runInstance(argc, argv, QString::fromLocal8Bit(argv[2]),
                           QString::fromLocal8Bit(argv[3]).toInt(), QString::fromLocal8Bit(argv[4]).toInt());

    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 200;
    if (total < 1) {
        std::fprintf(stderr, "usage: bench_shared [K >= 1]\n");
        return 2;
    }

    PgServer server;
    if (!server.start(true)) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(server.error()));
        return 1;
    }
    const QString url = server.url();
    QProcess init;
    init.start(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar"), {QStringLiteral("--init-database"), url});
    if (!init.waitForFinished(60000) || init.exitCode() != 0) {
        std::fprintf(stderr, "--init-database failed: %s\n", init.readAllStandardError().constData());
        return 1;
    }
    QStringList urls;
    for (int i = 0; i < kInstances; ++i)
        urls << url;
    const Figures shared = runFour(urls, total);

    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < kInstances; ++i) {
        files << dir.filePath(QStringLiteral("pc%1.db").arg(i + 1));
        if (!bench::buildSuppliedDatabase(files.last()))
            return 1;
    }
    QStringList targets;
    for (const QString &f : files)
        targets << QStringLiteral("sqlite:") + f;
    const Figures local = runFour(targets, total);

    // What is in the databases afterwards: every record once.
    int serverRows = -1;
    {
        QSqlDatabase db = server.connect(QStringLiteral("quelmar"), QStringLiteral("count"));
        serverRows = countRows(QStringLiteral("count"),
                               QStringLiteral("SELECT count(DISTINCT \"TestID\") FROM Result"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    int fileRows = 0;
    for (const QString &f : files) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
            db.setDatabaseName(f);
            db.open();
            fileRows += countRows(QStringLiteral("count"), QStringLiteral("SELECT count(*) FROM Result"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("count"));
    }

    std::printf("%d instances, %d batch records each, fast simulators\n", kInstances, total);
    std::printf("%-28s %16s %16s\n", "", "one server", "four files");
    std::printf("%-28s %16d %16d\n", "records stored", shared.stored, local.stored);
    std::printf("%-28s %16d %16d\n", "rows in the database(s)", serverRows, fileRows);
    std::printf("%-28s %16.1f %16.1f\n", "seconds, all four", shared.seconds, local.seconds);
    std::printf("%-28s %16.1f %16.1f\n", "records per second", shared.recordsPerSecond,
                local.recordsPerSecond);
    std::printf("%-28s %16.2f %16.2f\n", "store time mean (ms)", shared.meanStoreMs, local.meanStoreMs);
    std::printf("%-28s %16.2f %16.2f\n", "store time 95% (ms)", shared.p95StoreMs, local.p95StoreMs);
    std::printf("%-28s %16.2f %16.2f\n", "largest store time (ms)", shared.maxStoreMs, local.maxStoreMs);
    return shared.ok && local.ok ? 0 : 2;
}
