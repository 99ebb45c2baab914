// Throughput of the fitness link: the station simulator holds results on all
// eleven terminals in turn and answers at the real line rate; the main window
// polls every 500 ms and stores them. Prints stored results per minute next
// to the protocol's own bound (eleven results per cycle of twelve ticks).
//
// Usage: bench_fitness [RESULTS]   (default 55, five full cycles)
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "benchsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {
void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    const int total = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 55;

    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("maindb.db"));
    if (!bench::buildSuppliedDatabase(db))
        return 1;
    initProcessState(db);
    if (!dbSetupResult) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(db));
        return 1;
    }

    // Terminal i % 11 holds result i, so every terminal is busy in turn.
    const QString script = dir.filePath(QStringLiteral("results.txt"));
    {
        QFile f(script);
        f.open(QIODevice::WriteOnly | QIODevice::Text);
        QTextStream out(&f);
        for (int i = 0; i < total; ++i)
            out << (i % 11) << ' ' << (1000 + i % 7) << " 0" << (1 + i % 9) << ' ' << (100 + i) << '\n';
    }

    QProcess sim;
    const QString device = bench::startSimulator(
        sim, QStringLiteral("quelmar-station-sim"),
        {QStringLiteral("--script"), script, QStringLiteral("--interval"), QStringLiteral("0")});
    if (device.isEmpty())
        return 1;
    QString error;
    if (!openInstrumentPort(fitPort, device, &error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(device), qPrintable(error));
        return 1;
    }

    int stored = 0;
    {
        MainWindow w;
        QTimer tick;
        tick.setInterval(500);
        QObject::connect(&tick, &QTimer::timeout, &w, &MainWindow::checkFitstate);
        QElapsedTimer clock;
        qint64 firstMs = 0;
        qint64 lastMs = 0;
        QObject::connect(&w, &MainWindow::fitRecorded, [&] {
            ++stored;
            lastMs = clock.elapsed();
            if (stored == 1)
                firstMs = lastMs;
            if (stored == total)
                app.quit();
        });
        QTimer::singleShot(total * 1500 + 20000, &app, &QApplication::quit);
        const double cpu0 = bench::cpuSeconds();
        clock.start();
        tick.start();
        app.exec();
        tick.stop();
        const double cpu = bench::cpuSeconds() - cpu0;

        // Steady state: the spacing from the first stored result to the last.
        const double minutes = (lastMs - firstMs) / 60000.0;
        const double rate = minutes > 0 ? (stored - 1) / minutes : 0;
        const double bound = 11.0 / (12 * 0.5) * 60.0;
        std::printf("fitness link, %d results on 11 terminals at 960 bytes/s\n", total);
        std::printf("  stored              %d in %.1f s\n", stored, lastMs / 1000.0);
        std::printf("  results per minute  %.1f\n", rate);
        std::printf("  protocol bound      %.1f per minute (11 per 12 ticks of 500 ms)\n", bound);
        std::printf("  ratio               %.2f\n", rate / bound);
        std::printf("  CPU time            %.2f s\n", cpu);
    }
    fitPort->close();
    sim.terminate();
    sim.waitForFinished(5000);
    releaseProcessState();
    return stored == total ? 0 : 2;
}
