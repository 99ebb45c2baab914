// Batch download from the analyzer simulator at 9600 baud: K stored records
// are fetched and saved. Prints seconds per stored record, the wire time of
// one record (its bytes / 960 per second), their ratio, and the program's CPU
// time and peak memory.
//
// Usage: bench_batch [K]   (default 50)
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "benchsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {
qint64 g_frameBytes = 0; // bytes of every answer frame the link handled

void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    // Every handled frame is logged as its hex text.
    if (message.startsWith(QLatin1String("listenedHex= "))) {
        const int open = message.indexOf(QLatin1Char('"'));
        const int close = message.lastIndexOf(QLatin1Char('"'));
        if (open >= 0 && close > open)
            g_frameBytes += (close - open - 1) / 2;
    }
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    const int total = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 50;

    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("maindb.db"));
    if (!bench::buildSuppliedDatabase(db))
        return 1;
    initProcessState(db);
    if (!dbSetupResult)
        return 1;

    QProcess sim;
    const QString device = bench::startSimulator(sim, QStringLiteral("quelmar-analyzer-sim"),
                                                 {QStringLiteral("--batch"), QString::number(total)});
    if (device.isEmpty())
        return 1;
    QString error;
    if (!openInstrumentPort(BCAport, device, &error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(device), qPrintable(error));
        return 1;
    }
    global::portFlag = QStringLiteral("1");
    global::batchSwitch = QStringLiteral("ON");

    int stored = 0;
    {
        MainWindow w;
        QElapsedTimer clock;
        qint64 firstMs = 0;
        qint64 lastMs = 0;
        QObject::connect(&w, &MainWindow::tidChanged, [&] {
            ++stored;
            lastMs = clock.elapsed();
            if (stored == 1)
                firstMs = lastMs;
            if (stored == total)
                app.quit();
        });
        QTimer::singleShot(total * 5000 + 20000, &app, &QApplication::quit);
        const double cpu0 = bench::cpuSeconds();
        clock.start();
        w.connectBCA();
        app.exec();
        w.stopCheckTimer();
        const rusage end = bench::usage();
        const double cpu = bench::cpuSeconds(end) - cpu0;

        QSqlQuery q(QStringLiteral("SELECT count(*) FROM Result"));
        const int rows = q.next() ? q.value(0).toInt() : -1;
        const double perRecord = stored > 1 ? (lastMs - firstMs) / 1000.0 / (stored - 1) : 0;
        std::printf("batch download, %d stored records at 960 bytes/s\n", total);
        std::printf("  stored              %d (%d rows) in %.1f s\n", stored, rows, lastMs / 1000.0);
        std::printf("  seconds per record  %.2f\n", perRecord);
        // Wire bytes per record: all answers (data, status, acknowledgements) per stored record.
        const double bytes = stored > 0 ? double(g_frameBytes) / stored : 0;
        const double wire = bytes / 960.0;
        std::printf("  wire time / record  %.2f s (%.0f bytes of answers)\n", wire, bytes);
        std::printf("  ratio               %.2f\n", wire > 0 ? perRecord / wire : 0);
        std::printf("  CPU time            %.2f s\n", cpu);
        std::printf("  peak memory         %.1f MiB\n", end.ru_maxrss / 1024.0);
    }
    BCAport->close();
    sim.terminate();
    sim.waitForFinished(5000);
    releaseProcessState();
    return stored == total ? 0 : 2;
}
