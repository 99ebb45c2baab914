// The headless PDF archive timed as whole processes: `quelmar --export-pdf`
// over 200 body-composition and 200 fitness records of a generated database.
// Prints pages per second (wall clock and per CPU second), bytes per file and
// the peak memory of each run, one process against one per core.
//
//   bench_pdfexport [N] [--reference BIN]
//     N records of each kind (200 by default); with --reference, another
//     build of the program (an earlier version, say) runs the same archives
//     in the same run, row for row beside this build's.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Run
{
    int exitCode = -1;
    double seconds = 0;
    double cpuSeconds = 0; // user + system, the workers included
    long peakKb = 0;
};

// fork/exec/wait4, so that the peak memory belongs to this one child.
Run runTimed(const QString &program, const QString &dir, const QStringList &args)
{
    std::vector<QByteArray> storage;
    storage.reserve(size_t(args.size()) + 1);
    storage.push_back(QFile::encodeName(program));
    for (const QString &a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    argv.reserve(storage.size() + 1);
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray cwd = QFile::encodeName(dir);

    QElapsedTimer clock;
    clock.start();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.constData()) != 0)
            _exit(127);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        unsetenv("DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        run.seconds = clock.nsecsElapsed() / 1e9;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peakKb = usage.ru_maxrss;
        run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList options = app.arguments().mid(1);
    QString reference;
    const int ref = options.indexOf(QStringLiteral("--reference"));
    if (ref >= 0) {
        reference = QFileInfo(options.value(ref + 1)).absoluteFilePath();
        if (!QFileInfo(reference).isExecutable()) {
            std::fprintf(stderr, "--reference needs a program to run\n");
            return 2;
        }
        options.erase(options.begin() + ref, options.begin() + std::min(ref + 2, int(options.size())));
    }
    const int n = options.isEmpty() ? 200 : options.first().toInt();
    QTemporaryDir dir;
    QProcess make;
    make.start(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar-make-bigdb"),
               {dir.filePath(QStringLiteral("maindb.db")), QStringLiteral("--results"), QString::number(n),
                QStringLiteral("--fit"), QString::number(n), QStringLiteral("--schema"),
                QStringLiteral(QUELMAR_SOURCE_DIR "/db/maindb.sql")});
    if (!make.waitForFinished(120000) || make.exitCode() != 0) {
        std::fprintf(stderr, "quelmar-make-bigdb failed: %s\n", make.readAllStandardError().constData());
        return 1;
    }

    std::printf("--export-pdf over %d records of each kind, whole processes (start-up included),\n"
                "one process (--jobs 1) against one per core (default, %d cores)\n",
                n, QThread::idealThreadCount());
    if (!reference.isEmpty())
        std::printf("build: this build; reference: %s\n", qPrintable(reference));
    std::printf("%-18s %-8s %-10s %7s %9s %12s %9s %9s\n", "report", "jobs", "build", "files", "pages/s",
                "pages/CPU-s", "KB/file", "peak MB");
    struct Build
    {
        const char *label;
        QString program;
    };
    std::vector<Build> builds{{"this", QStringLiteral(QUELMAR_BUILD_DIR "/quelmar")}};
    if (!reference.isEmpty())
        builds.push_back({"reference", reference});
    const struct
    {
        const char *label;
        QStringList extra;
        QString out;
    } kinds[] = {{"body composition", {}, QStringLiteral("bca")},
                 {"fitness", {QStringLiteral("--fitness")}, QStringLiteral("fit")}};
    bool ok = true;
    for (const auto &kind : kinds) {
        for (const char *jobs : {"1", "default"}) {
            for (const Build &build : builds) {
                const QString out = kind.out + QLatin1Char('-') + QLatin1String(jobs) + QLatin1Char('-') +
                                    QLatin1String(build.label);
                QStringList args{QStringLiteral("--export-pdf"), QStringLiteral("1-%1").arg(n),
                                 QStringLiteral("--out"), out};
                args += kind.extra;
                if (QByteArray(jobs) == "1")
                    args << QStringLiteral("--jobs") << QStringLiteral("1");
                const Run run = runTimed(build.program, dir.path(), args);
                const QFileInfoList files =
                    QDir(dir.filePath(out)).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files);
                qint64 bytes = 0;
                for (const QFileInfo &f : files)
                    bytes += f.size();
                const int count = files.size();
                std::printf("%-18s %-8s %-10s %7d %9.1f %12.1f %9.1f %9.1f%s\n", kind.label, jobs,
                            build.label, count, run.seconds > 0 ? count / run.seconds : 0.0,
                            run.cpuSeconds > 0 ? count / run.cpuSeconds : 0.0,
                            count ? bytes / 1024.0 / count : 0.0, run.peakKb / 1024.0,
                            run.exitCode == 0 ? "" : "  (exit code not 0)");
                ok = ok && run.exitCode == 0 && count == n;
            }
        }
    }
    std::printf("goal: at least 150 pages per second on two cores (an otherwise idle machine)\n");
    return ok ? 0 : 1;
}
