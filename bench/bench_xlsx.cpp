// Workbook against CSV export on a busy organisation's database (100,000
// body-composition and 100,000 fitness results): the program's own command
// line (`quelmar --export-bca FILE`, `--export-fit FILE`) run as a child
// process per export, best wall time of three runs and the child's peak
// resident memory, side by side.
//
//   bench_xlsx [--keep DIR]   (--keep leaves the database and files in DIR)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {
struct Figures
{
    double seconds = 1e30; // best of three
    long peakKiB = 0;      // greatest of three
    qint64 bytes = 0;
    bool ok = true;
};

// Runs the program in |dir| with |args| (output and log discarded), three times.
Figures measure(const QString &dir, const QStringList &args)
{
    Figures f;
    const QByteArray program = QByteArrayLiteral(QUELMAR_BUILD_DIR "/quelmar");
    QList<QByteArray> raw = {program};
    for (const QString &a : args)
        raw << a.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &a : raw)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(QFile::encodeName(dir).constData()) != 0)
                _exit(127);
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            f.ok = false;
            return f;
        }
        f.seconds = std::min(f.seconds, double(t.nsecsElapsed()) / 1e9);
        f.peakKiB = std::max(f.peakKiB, usage.ru_maxrss);
    }
    f.bytes = QFile(QDir(dir).filePath(args.last())).size();
    return f;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    QString dir = tmp.path();
    const int keep = app.arguments().indexOf(QStringLiteral("--keep"));
    if (keep > 0 && keep + 1 < app.arguments().size()) {
        dir = app.arguments().at(keep + 1);
        QDir().mkpath(dir);
    }
    const QString db = QDir(dir).filePath(QStringLiteral("maindb.db"));
    std::printf("generating %s ...\n", qPrintable(db));
    std::fflush(stdout);
    if (QProcess::execute(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar-make-bigdb"),
                          {db, QStringLiteral("--results"), QStringLiteral("100000"), QStringLiteral("--fit"),
                           QStringLiteral("100000")}) != 0) {
        std::fprintf(stderr, "quelmar-make-bigdb failed (build it first)\n");
        return 1;
    }

    std::printf("\n%-18s %10s %10s %10s %12s %12s %10s\n", "export", "csv s", "xlsx s", "ratio",
                "csv peak MB", "xlsx peak MB", "xlsx MB");
    bool ok = true;
    for (const char *option : {"--export-bca", "--export-fit"}) {
        const Figures csv = measure(dir, {QString::fromLatin1(option), QStringLiteral("out.csv")});
        const Figures xlsx = measure(dir, {QString::fromLatin1(option), QStringLiteral("out.xlsx")});
        ok = ok && csv.ok && xlsx.ok;
        std::printf("%-18s %10.2f %10.2f %9.2fx %12.1f %12.1f %10.1f\n", option, csv.seconds, xlsx.seconds,
                    xlsx.seconds / csv.seconds, csv.peakKiB / 1024.0, xlsx.peakKiB / 1024.0,
                    xlsx.bytes / 1e6);
    }
    if (!ok)
        std::fprintf(stderr, "an export failed\n");
    return ok ? 0 : 1;
}
