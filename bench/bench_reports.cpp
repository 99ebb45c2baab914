// Report pages: 200 body-composition pages of every sheet style rendered to
// an image and to a PDF file, and 200 overlay pages; ms per page (median,
// max), PDF bytes per page and the peak memory of the process.
//
//   bench_reports              the figures
//   bench_reports --samples D  one PDF per style (and per overlay style) with
//                              pages for a small woman, a large man and two
//                              records at the upper and lower clamps, in D
#include "app/globals.h"
#include "bench/benchsupport.h"
#include "reports/layout.h"
#include "reports/overlay.h"
#include "reports/reportpage.h"
#include "tests/reportsamples.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QTextStream out(stdout);

struct Style
{
    QString tag;
    QString file;
};
const Style styles[] = {{QStringLiteral("TQ-40"), QStringLiteral("tq40")},
                        {QStringLiteral("TQ-10"), QStringLiteral("tq10")},
                        {QStringLiteral("TQ-20"), QStringLiteral("tq20")},
                        {QStringLiteral("TQ-30"), QStringLiteral("tq30")},
                        {QStringLiteral("水分报告"), QStringLiteral("water")},
                        {QStringLiteral("自定义报告纸"), QStringLiteral("custom")}};

void setUpPdf(QPrinter &printer, const QString &path)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(QPageSize(QPageSize::A4));
}

// Pages of |tag| for |ids| into one PDF at |path|; per-page times appended.
bool pdfPages(const QString &tag, const QList<int> &ids, const QString &path, std::vector<double> *times)
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPdf(printer, path);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    reports::fitPageToRect(painter,
                           QRect(QPoint(0, 0), printer.pageRect(QPrinter::DevicePixel).size().toSize()));
    for (int i = 0; i < ids.size(); ++i) {
        QElapsedTimer t;
        t.start();
        if (i > 0)
            printer.newPage();
        reports::paintReportPage(painter, tag, ids.at(i));
        if (times)
            times->push_back(t.nsecsElapsed() / 1e6);
    }
    return painter.end();
}

struct Figures
{
    double median = 0;
    double max = 0;
};
Figures figures(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v.empty() ? 0 : v[v.size() / 2], v.empty() ? 0 : v.back()};
}

int samples(const QString &dir, const QList<int> &ids)
{
    QDir().mkpath(dir);
    for (const Style &s : styles) {
        const QString page = dir + QStringLiteral("/report-") + s.file + QStringLiteral(".pdf");
        const QString overlay = dir + QStringLiteral("/overlay-") + s.file + QStringLiteral(".pdf");
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, overlay);
        if (!pdfPages(s.tag, ids, page, nullptr) ||
            reports::printOverlayPages(printer, s.tag, ids, 0) != ids.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(page));
            return 1;
        }
        out << page << "\n" << overlay << "\n";
    }
    return 0;
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
    const QStringList args = app.arguments();
    QTemporaryDir scratch;
    // The custom sheet reads image/diy-report.jpg from the working directory.
    QDir().mkpath(scratch.filePath(QStringLiteral("image")));
    QFile::copy(QStringLiteral(QUELMAR_SOURCE_DIR "/resources/image/diy-report.jpg"),
                scratch.filePath(QStringLiteral("image/diy-report.jpg")));
    const QString db = scratch.filePath(QStringLiteral("maindb.db"));
    const QString samplesDir =
        args.indexOf(QStringLiteral("--samples")) > 0 &&
                args.size() > args.indexOf(QStringLiteral("--samples")) + 1
            ? QFileInfo(args.at(args.indexOf(QStringLiteral("--samples")) + 1)).absoluteFilePath()
            : QString();
    QDir::setCurrent(scratch.path());
    if (!bench::buildSuppliedDatabase(db))
        return 1;
    initProcessState(db);
    const int woman = reportsamples::insertPerson(reportsamples::smallWoman);
    const int man = reportsamples::insertPerson(reportsamples::largeMan);
    if (!dbSetupResult || woman == 0 || man == 0) {
        std::fprintf(stderr, "cannot prepare the scratch database\n");
        return 1;
    }
    if (!samplesDir.isEmpty()) {
        return samples(samplesDir, {woman, man, reportsamples::insertPerson(reportsamples::topClamp),
                                    reportsamples::insertPerson(reportsamples::bottomClamp)});
    }

    const int pages = 200;
    QList<int> ids;
    for (int i = 0; i < pages; ++i)
        ids << (i % 2 ? man : woman);
    out << "style           image ms/page (median, max)   pdf ms/page (median, max)         pdf KB/page   "
           "overlay "
           "ms/page\n";
    for (const Style &s : styles) {
        std::vector<double> imageTimes;
        QImage image(reports::PageWidth, reports::PageHeight, QImage::Format_RGB32);
        for (int i = 0; i < pages; ++i) {
            QElapsedTimer t;
            t.start();
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            reports::paintReportPage(painter, s.tag, ids.at(i));
            painter.end();
            imageTimes.push_back(t.nsecsElapsed() / 1e6);
        }
        std::vector<double> pdfTimes;
        const QString pdf = scratch.filePath(s.file + QStringLiteral(".pdf"));
        QElapsedTimer whole;
        whole.start();
        pdfPages(s.tag, ids, pdf, &pdfTimes);
        const double pdfMsPerPage = whole.nsecsElapsed() / 1e6 / pages;
        const double kbPerPage = QFileInfo(pdf).size() / 1024.0 / pages;
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, scratch.filePath(s.file + QStringLiteral("-overlay.pdf")));
        whole.restart();
        reports::printOverlayPages(printer, s.tag, ids, 0);
        const double overlayMs = whole.nsecsElapsed() / 1e6 / pages;
        const Figures img = figures(imageTimes);
        const Figures pdfF = figures(pdfTimes);
        out << s.file.leftJustified(16)
            << QStringLiteral("%1, %2").arg(img.median, 0, 'f', 2).arg(img.max, 0, 'f', 2).leftJustified(30)
            << QStringLiteral("%1, %2 (incl. file %3)")
                   .arg(pdfF.median, 0, 'f', 2)
                   .arg(pdfF.max, 0, 'f', 2)
                   .arg(pdfMsPerPage, 0, 'f', 2)
                   .leftJustified(34)
            << QString::number(kbPerPage, 'f', 1).leftJustified(14) << QString::number(overlayMs, 'f', 2)
            << "\n";
        out.flush();
    }
    out << "peak memory (max RSS): " << bench::usage().ru_maxrss / 1024 << " MB\n";
    return 0;
}
