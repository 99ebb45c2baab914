// Report pages with the sheet forms painted as vectors, side by side with the
// earlier pages that carried each form as a picture: PDF bytes per page and
// the `--export-pdf` archive's pages per second for every fixed style and
// the fitness report, then the real program's --export-pdf as a whole
// process (start-up included). Goals: at most 40 KB per page, at least 150
// pages per second.
//
//   bench_vectorpages [N]   (N records of each kind, 200 by default)
#include "app/globals.h"
#include "reports/pdfarchive.h"
#include "reports/sheetforms.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <cstdio>
#include <functional>

namespace {

struct Figures
{
    int files = 0;
    double kbPerPage = 0;
    double pagesPerSecond = 0;    // wall clock
    double pagesPerCpuSecond = 0; // CPU time of this process and its children
};

double cpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        total += u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

Figures measure(const QString &dir, const std::function<int()> &run)
{
    QDir(dir).removeRecursively();
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = cpuSeconds();
    const int code = run();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    const QFileInfoList files = QDir(dir).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files);
    qint64 bytes = 0;
    for (const QFileInfo &f : files)
        bytes += f.size();
    Figures fig;
    fig.files = code == 0 ? files.size() : 0;
    if (fig.files > 0) {
        fig.kbPerPage = bytes / 1024.0 / fig.files;
        fig.pagesPerSecond = fig.files / seconds;
        fig.pagesPerCpuSecond = cpu > 0 ? fig.files / cpu : 0;
    }
    return fig;
}

// The archive run inside this process, with the forms painted |rendering|.
Figures archive(const QString &dir, const QStringList &extra, int n, reports::FormRendering rendering)
{
    const QStringList args = QStringList{QStringLiteral("bench"), QStringLiteral("--export-pdf"),
                                         QStringLiteral("1-%1").arg(n), QStringLiteral("--out"), dir} +
                             extra;
    return measure(dir, [&] {
        reports::setFormRendering(rendering);
        QString sink;
        QTextStream out(&sink);
        QTextStream err(&sink);
        return reports::runPdfArchive(args, out, err);
    });
}

// The program itself, as a scheduled job runs it.
Figures program(const QString &cwd, const QString &dir, int n)
{
    const QStringList args = {QStringLiteral("--export-pdf"), QStringLiteral("1-%1").arg(n),
                              QStringLiteral("--out"), dir};
    return measure(dir, [&] {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(cwd);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar"), args);
        return p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    });
}

bool selectStyle(const QString &tag)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("UPDATE Report SET Selected = ?"));
    q.addBindValue(tag);
    return q.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    const int n = app.arguments().size() > 1 ? std::max(1, app.arguments().at(1).toInt()) : 200;
    QTemporaryDir scratch;
    const QString db = scratch.filePath(QStringLiteral("maindb.db"));
    QProcess make;
    make.start(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar-make-bigdb"),
               {db, QStringLiteral("--results"), QString::number(n), QStringLiteral("--fit"),
                QString::number(n), QStringLiteral("--schema"),
                QStringLiteral(QUELMAR_SOURCE_DIR "/db/maindb.sql")});
    if (!make.waitForFinished(120000) || make.exitCode() != 0) {
        std::fprintf(stderr, "quelmar-make-bigdb failed: %s\n", make.readAllStandardError().constData());
        return 1;
    }
    QDir::setCurrent(scratch.path());
    initProcessState(db);
    if (!dbSetupResult) {
        std::fprintf(stderr, "cannot open the scratch database\n");
        return 1;
    }

    QTextStream out(stdout);
    out << "--export-pdf of " << n << " records per style, one page per file, in this process\n";
    out << "(pages/s: wall clock; pages/CPU-s: pages per second of CPU time, which a busy machine\n"
           " does not distort)\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
               .arg(QStringLiteral("style"), -12)
               .arg(QStringLiteral("KB/page picture"), 16)
               .arg(QStringLiteral("vector"), 8)
               .arg(QStringLiteral("pages/s picture"), 16)
               .arg(QStringLiteral("vector"), 8)
               .arg(QStringLiteral("pages/CPU-s picture"), 20)
               .arg(QStringLiteral("vector"), 8);
    const QStringList styles = {QStringLiteral("TQ-40"),    QStringLiteral("TQ-10"),
                                QStringLiteral("TQ-20"),    QStringLiteral("TQ-30"),
                                QStringLiteral("水分报告"), QStringLiteral("FITreport")};
    bool ok = true;
    double worstKb = 0;
    double slowest = 1e9;
    for (const QString &style : styles) {
        const bool fitness = style == QLatin1String("FITreport");
        if (!fitness && !selectStyle(style))
            return 1;
        const QStringList extra = fitness ? QStringList{QStringLiteral("--fitness")} : QStringList();
        const QString dir = scratch.filePath(QStringLiteral("out"));
        const Figures picture = archive(dir, extra, n, reports::FormRendering::Picture);
        const Figures vector = archive(dir, extra, n, reports::FormRendering::Vector);
        ok = ok && picture.files == n && vector.files == n;
        worstKb = std::max(worstKb, vector.kbPerPage);
        slowest = std::min(slowest, vector.pagesPerCpuSecond);
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                   .arg(style, -12)
                   .arg(picture.kbPerPage, 16, 'f', 1)
                   .arg(vector.kbPerPage, 8, 'f', 1)
                   .arg(picture.pagesPerSecond, 16, 'f', 1)
                   .arg(vector.pagesPerSecond, 8, 'f', 1)
                   .arg(picture.pagesPerCpuSecond, 20, 'f', 1)
                   .arg(vector.pagesPerCpuSecond, 8, 'f', 1);
        out.flush();
    }
    selectStyle(QStringLiteral("TQ-40"));
    releaseProcessState();

    const Figures whole = program(scratch.path(), scratch.filePath(QStringLiteral("whole")), n);
    ok = ok && whole.files == n;
    out << "\nquelmar --export-pdf 1-" << n << " (TQ-40), whole process: " << whole.files << " files, "
        << QString::number(whole.pagesPerSecond, 'f', 1) << " pages/s, "
        << QString::number(whole.pagesPerCpuSecond, 'f', 1) << " pages/CPU-s, "
        << QString::number(whole.kbPerPage, 'f', 1) << " KB/page\n";
    out << "vector pages: largest " << QString::number(worstKb, 'f', 1) << " KB/page (goal <= 40), slowest "
        << QString::number(slowest, 'f', 1) << " pages/CPU-s (goal >= 150)\n";
    return ok ? 0 : 1;
}
