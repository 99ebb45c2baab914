// Idle cost of the running program: build/quelmar (offscreen) connected to
// both simulators, which answer its polling but measure nothing, for N
// minutes. Prints the program's CPU time per minute (and as % of one core)
// and its resident memory, each minute and at start and end, plus the
// simulators' CPU time. Startup (the first --settle seconds) is not counted.
//   bench_idle [--minutes N] [--settle SEC]       (default 10 minutes, 10 s)
#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// User plus system CPU seconds of |pid| from /proc/PID/stat; -1 when gone.
double processCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = f.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // After the name: state(0) ... utime(11) stime(12), in clock ticks.
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Resident set size of |pid| in KiB from /proc/PID/status; -1 when gone.
qint64 residentKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

double mib(qint64 kib)
{
    return double(kib) / 1024.0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions(
        {{QStringLiteral("minutes"), QStringLiteral("Measured minutes (default 10)."), QStringLiteral("N"),
          QStringLiteral("10")},
         {QStringLiteral("settle"), QStringLiteral("Unmeasured seconds after start (default 10)."),
          QStringLiteral("SEC"), QStringLiteral("10")}});
    parser.process(app);
    bool okMinutes = false;
    bool okSettle = false;
    const double minutes = parser.value(QStringLiteral("minutes")).toDouble(&okMinutes);
    const int settle = parser.value(QStringLiteral("settle")).toInt(&okSettle);
    if (!okMinutes || minutes <= 0 || minutes > 24 * 60 || !okSettle || settle < 0) {
        std::fprintf(stderr, "bench_idle: --minutes needs a number above 0, --settle whole seconds\n");
        return 2;
    }

    QTemporaryDir dir;
    if (!dir.isValid() || !bench::buildSuppliedDatabase(dir.filePath(QStringLiteral("maindb.db"))))
        return 1;

    // Idle instruments: nobody steps on the analyzer, the station has no results.
    QProcess analyzer;
    QProcess station;
    for (QProcess *sim : {&analyzer, &station})
        sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString analyzerPort =
        bench::startSimulator(analyzer, QStringLiteral("quelmar-analyzer-sim"),
                              {QStringLiteral("--measure-every"), QStringLiteral("0")});
    const QString stationPort = bench::startSimulator(station, QStringLiteral("quelmar-station-sim"),
                                                      {QStringLiteral("--results"), QStringLiteral("0")});
    if (analyzerPort.isEmpty() || stationPort.isEmpty())
        return 1;

    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    // Its log (one line per poll) goes to a file, counted at the end.
    program.setStandardOutputFile(dir.filePath(QStringLiteral("program.log")));
    program.setStandardErrorFile(dir.filePath(QStringLiteral("program.log")), QIODevice::Append);
    program.start(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar"),
                  {QStringLiteral("--analyzer-port"), analyzerPort, QStringLiteral("--station-port"),
                   stationPort, QStringLiteral("--connect")});
    if (!program.waitForStarted(10000)) {
        std::fprintf(stderr, "bench_idle: the program did not start: %s\n",
                     qPrintable(program.errorString()));
        return 1;
    }
    const qint64 pid = program.processId();
    std::printf("program pid %lld, analyzer %s, station %s; settling %d s, measuring %.2f min\n",
                static_cast<long long>(pid), qPrintable(analyzerPort), qPrintable(stationPort), settle,
                minutes);
    std::fflush(stdout);
    QThread::sleep(static_cast<unsigned long>(settle));

    const qint64 simPids[2] = {analyzer.processId(), station.processId()};
    const double cpuStart = processCpuSeconds(pid);
    const double simStart = processCpuSeconds(simPids[0]) + processCpuSeconds(simPids[1]);
    const qint64 rssStart = residentKiB(pid);
    if (cpuStart < 0 || rssStart < 0) {
        std::fprintf(stderr, "bench_idle: the program ended during start-up (log: program.log)\n");
        return 1;
    }
    std::printf("start: CPU %.2f s used in start-up, RSS %.1f MiB\n", cpuStart, mib(rssStart));
    std::printf("%8s %12s %10s %10s\n", "minute", "CPU s/min", "% core", "RSS MiB");

    QElapsedTimer clock;
    clock.start();
    const qint64 totalMs = qint64(minutes * 60000.0);
    double cpuPrevious = cpuStart;
    qint64 previousMs = 0;
    qint64 rssEnd = rssStart;
    qint64 rssMax = rssStart;
    for (int minute = 1; previousMs < totalMs; ++minute) {
        const qint64 untilMs = qMin(totalMs, qint64(minute) * 60000);
        while (clock.elapsed() < untilMs)
            QThread::msleep(static_cast<unsigned long>(qMin<qint64>(1000, untilMs - clock.elapsed())));
        const qint64 nowMs = clock.elapsed();
        const double cpu = processCpuSeconds(pid);
        rssEnd = residentKiB(pid);
        if (cpu < 0 || rssEnd < 0) {
            std::fprintf(stderr, "bench_idle: the program ended during the measurement\n");
            return 1;
        }
        rssMax = qMax(rssMax, rssEnd);
        const double perMinute = (cpu - cpuPrevious) * 60000.0 / double(nowMs - previousMs);
        std::printf("%8d %12.3f %10.3f %10.1f\n", minute, perMinute, perMinute / 60.0 * 100.0, mib(rssEnd));
        std::fflush(stdout);
        cpuPrevious = cpu;
        previousMs = nowMs;
    }
    const double measuredMin = double(previousMs) / 60000.0;
    const double perMinute = (cpuPrevious - cpuStart) / measuredMin;
    const double simPerMinute =
        (processCpuSeconds(simPids[0]) + processCpuSeconds(simPids[1]) - simStart) / measuredMin;
    std::printf("program: %.3f CPU s/min = %.3f %% of one core over %.2f min\n", perMinute,
                perMinute / 60.0 * 100.0, measuredMin);
    std::printf("program RSS: start %.1f MiB, end %.1f MiB, change %+.2f MiB, highest %.1f MiB\n",
                mib(rssStart), mib(rssEnd), mib(rssEnd - rssStart), mib(rssMax));
    std::printf("simulators: %.3f CPU s/min together\n", simPerMinute);

    ::kill(pid_t(pid), SIGTERM);
    if (!program.waitForFinished(15000)) {
        program.kill();
        program.waitForFinished(5000);
    }
    std::printf("program log: %lld bytes\n",
                static_cast<long long>(QFile(dir.filePath(QStringLiteral("program.log"))).size()));
    for (QProcess *sim : {&analyzer, &station}) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    return program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0 ? 0 : 1;
}
