// Report pages painted from stored records: the body-type square, bar ends
// and clamps, the sex mark on every fixed sheet, the dispatch on the tag, and
// overlay printing into a PDF (pages, positions, extractable text).
#include "reports/bcasheets.h"
#include "reports/layout.h"
#include "reports/overlay.h"
#include "reports/reportpage.h"
#include "tests/reportsamples.h"
#include "tests/testsupport.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace reports;

Q_DECLARE_METATYPE(QPrinter::PrinterMode)

namespace {

QImage render(const QString &tag, int testId)
{
    QImage image(PageWidth, PageHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintReportPage(painter, tag, testId);
    return image;
}

bool dark(const QImage &image, const QPoint &p)
{
    return qGray(image.pixel(p)) < 60;
}

// Dark pixels in |rect| of |image|.
int darkCount(const QImage &image, const QRect &rect)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            n += dark(image, QPoint(x, y));
    }
    return n;
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

const QStringList fixedTags = {QStringLiteral("TQ-40"), QStringLiteral("TQ-10"), QStringLiteral("TQ-20"),
                               QStringLiteral("TQ-30"), QStringLiteral("水分报告")};

} // namespace

class TestReportPages : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_woman = 0;
    int m_man = 0;

    // A copy of the woman's record with |changes|.
    int variant(const QVariantMap &changes)
    {
        QVariantMap columns = reportsamples::resultColumns(reportsamples::smallWoman);
        for (auto it = changes.begin(); it != changes.end(); ++it)
            columns[it.key()] = it.value();
        return reportsamples::insertResult(columns);
    }

    QString pdfPath(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".pdf")); }

    bool writePdf(const QString &path, const std::function<void(QPrinter &)> &paint,
                  QPrinter::PrinterMode mode = QPrinter::HighResolution)
    {
        QPrinter printer(mode);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        printer.setPageSize(QPageSize(QPageSize::A4));
        paint(printer);
        return QFileInfo(path).size() > 0;
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        g_previousHandler = qInstallMessageHandler(captureLog);
        QVERIFY(testsupport::startProcessOn(m_dir.filePath(QStringLiteral("maindb.db"))));
        // The custom sheet reads its picture from the working directory.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("image")));
        QVERIFY(QFile::copy(testsupport::sourcePath(QStringLiteral("resources/image/diy-report.jpg")),
                            m_dir.filePath(QStringLiteral("image/diy-report.jpg"))));
        QDir::setCurrent(m_dir.path());
        m_woman = reportsamples::insertPerson(reportsamples::smallWoman);
        m_man = reportsamples::insertPerson(reportsamples::largeMan);
        QVERIFY(m_woman > 0 && m_man > 0);
    }
    void cleanupTestCase() { releaseProcessState(); }

    void bodyTypeSquare_data()
    {
        QTest::addColumn<QString>("tag");
        for (const QString &tag : fixedTags) {
            if (fixedSheet(tag)->bodyTypeY[0] != 0)
                QTest::newRow(qPrintable(tag)) << tag;
        }
    }
    // The square sits in the cell of the record's own body type only.
    void bodyTypeSquare()
    {
        QFETCH(QString, tag);
        const FixedSheet &sheet = *fixedSheet(tag);
        const QImage thin = render(tag, m_woman); // 消瘦型: first column, third row
        const QImage obese = render(tag, m_man);  // 肥胖型: third column, first row
        const QPoint thinCell(sheet.bodyTypeX[0] + 5, sheet.bodyTypeY[2] + 5);
        const QPoint obeseCell(sheet.bodyTypeX[2] + 5, sheet.bodyTypeY[0] + 5);
        QVERIFY(dark(thin, thinCell));
        QVERIFY(!dark(obese, thinCell));
        QVERIFY(dark(obese, obeseCell));
        QVERIFY(!dark(thin, obeseCell));
        // An unknown body type draws no square anywhere.
        const QImage unknown = render(tag, variant({{QStringLiteral("BodyType"), QStringLiteral("未知")}}));
        QVERIFY(!dark(unknown, thinCell));
        QVERIFY(!dark(unknown, obeseCell));
    }

    void sexMark_data()
    {
        QTest::addColumn<QString>("tag");
        for (const QString &tag : fixedTags)
            QTest::newRow(qPrintable(tag)) << tag;
    }
    void sexMark()
    {
        QFETCH(QString, tag);
        const FixedSheet &sheet = *fixedSheet(tag);
        const QImage female = render(tag, m_woman);
        const QImage male = render(tag, m_man);
        const QRect maleBox(sheet.maleMark - QPoint(0, 16), QSize(18, 20));
        const QRect femaleBox(sheet.femaleMark - QPoint(0, 16), QSize(18, 20));
        QVERIFY(darkCount(male, maleBox) > darkCount(female, maleBox) + 5);
        QVERIFY(darkCount(female, femaleBox) > darkCount(male, femaleBox) + 5);
    }

    // The weight bar of TQ-40: 165 at the standard weight, the upper clamp 350
    // for +60 %, the lower clamp 10 for -90 %, no bar without a height.
    void weightBarEnds()
    {
        const BarChart &chart = fixedSheet(QStringLiteral("TQ-40"))->bars;
        const int y = chart.rows.at(0).barY + 3;
        const int x0 = chart.startX;
        const QImage atReference =
            render(QStringLiteral("TQ-40"),
                   variant({{QStringLiteral("Weight"), 50.0}, {QStringLiteral("Standard_weight"), 50.0}}));
        const QImage above =
            render(QStringLiteral("TQ-40"),
                   variant({{QStringLiteral("Weight"), 80.0}, {QStringLiteral("Standard_weight"), 50.0}}));
        const QImage below =
            render(QStringLiteral("TQ-40"),
                   variant({{QStringLiteral("Weight"), 5.0}, {QStringLiteral("Standard_weight"), 50.0}}));
        const QImage noHeight =
            render(QStringLiteral("TQ-40"),
                   variant({{QStringLiteral("Height"), 0.0}, {QStringLiteral("Standard_weight"), 50.0}}));
        QVERIFY(dark(atReference, QPoint(x0 + 163, y)));
        QVERIFY(dark(above, QPoint(x0 + 170, y)) && !dark(atReference, QPoint(x0 + 170, y)));
        QVERIFY(dark(above, QPoint(x0 + 348, y)));
        QVERIFY(!dark(above, QPoint(x0 + 352, y)) || dark(atReference, QPoint(x0 + 352, y)));
        QVERIFY(dark(below, QPoint(x0 + 8, y)));
        QVERIFY(!dark(below, QPoint(x0 + 14, y)) && dark(atReference, QPoint(x0 + 14, y)));
        QVERIFY(!dark(noHeight, QPoint(x0 + 4, y)) && dark(atReference, QPoint(x0 + 4, y)));
    }

    void dispatch_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<bool>("instruction");
        QTest::newRow("trailing blank") << QStringLiteral("TQ-40 ") << false;
        QTest::newRow("unknown") << QStringLiteral("TQ-99") << false;
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("default sheet") << QStringLiteral("默认报告纸") << true;
    }
    // Tags of no style paint nothing; no style chosen paints only the instruction.
    void dispatch()
    {
        QFETCH(QString, tag);
        QFETCH(bool, instruction);
        g_log.clear();
        const QImage page = render(tag, m_man);
        QCOMPARE(darkCount(page, QRect(0, 80, PageWidth, 30)) > 50, instruction);
        QCOMPARE(darkCount(page, QRect(0, 120, PageWidth, PageHeight - 120)), 0);
        QCOMPARE(g_log.contains(QStringLiteral("print sheet not selected!")), instruction);
    }

    // One page per record, no trailing blank page, and a value at the place
    // its Print row gives on the A4 sheet.
    void overlayPdf_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QPrinter::PrinterMode>("mode");
        QTest::newRow("TQ-40") << QStringLiteral("TQ-40") << QPrinter::HighResolution;
        QTest::newRow("TQ-40 screen resolution") << QStringLiteral("TQ-40") << QPrinter::ScreenResolution;
        QTest::newRow("TQ-30") << QStringLiteral("TQ-30") << QPrinter::HighResolution;
        QTest::newRow("unknown reads row 0") << QStringLiteral("TQ-40 ") << QPrinter::HighResolution;
    }
    void overlayPdf()
    {
        QFETCH(QString, tag);
        QFETCH(QPrinter::PrinterMode, mode);
        const QString pdf = pdfPath(QStringLiteral("overlay"));
        int pages = 0;
        QVERIFY(writePdf(
            pdf,
            [&](QPrinter &printer) {
                pages = printOverlayPages(printer, tag, {m_woman, 0, m_man}, m_woman);
            },
            mode));
        QCOMPARE(pages, 3);
        QVERIFY(run(QStringLiteral("pdfinfo"), {pdf})
                    .contains(QRegularExpression(QStringLiteral("Pages:\\s+3\\n"))));
        const QString html =
            run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        const PrintLayout layout = PrintLayout::read(tag);
        // The page fitted into the printable area, in PDF points.
        QPrinter a4(QPrinter::HighResolution);
        a4.setOutputFormat(QPrinter::PdfFormat);
        a4.setPageSize(QPageSize(QPageSize::A4));
        const QRectF area = a4.pageRect(QPrinter::Point);
        const double scale = std::min(area.width() / PageWidth, area.height() / PageHeight);
        const QPointF origin(area.left() + (area.width() - PageWidth * scale) / 2,
                             area.top() + (area.height() - PageHeight * scale) / 2);
        const QRegularExpression word(
            QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">"
                           "M002/欧阳大海</word>"));
        const QRegularExpressionMatch m = word.match(html);
        QVERIFY2(m.hasMatch(), qPrintable(html.left(2000)));
        const double x = m.captured(1).toDouble();
        const double top = m.captured(2).toDouble();
        const double bottom = m.captured(3).toDouble();
        const double baseline = origin.y() + layout.value(QStringLiteral("IDY")) * scale;
        QVERIFY2(std::fabs(x - origin.x() - layout.value(QStringLiteral("IDX")) * scale) < 2,
                 qPrintable(QString::number(x)));
        QVERIFY2(top < baseline && baseline < bottom + 1,
                 qPrintable(QStringLiteral("%1 %2").arg(top).arg(bottom)));
        // The man is on the third page, the woman (twice) before him.
        const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        const QStringList pageTexts = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QCOMPARE(pageTexts.size(), 3);
        QVERIFY(pageTexts.at(0).contains(QStringLiteral("W001/林小雨")));
        QVERIFY(pageTexts.at(1).contains(QStringLiteral("W001/林小雨")));
        QVERIFY(pageTexts.at(2).contains(QStringLiteral("M002/欧阳大海")));
    }

    // Every style, printed as a page: text stays text, reads back exactly as
    // drawn (no look-alike radicals) and never shows nan or inf.
    void pageTextExtracts()
    {
        const int zero = variant({{QStringLiteral("Height"), 0.0},
                                  {QStringLiteral("Weight"), 0.0},
                                  {QStringLiteral("Standard_weight"), 0.0}});
        const QString pdf = pdfPath(QStringLiteral("pages"));
        QStringList tags = fixedTags;
        tags << QStringLiteral("自定义报告纸");
        QVERIFY(writePdf(pdf, [&](QPrinter &printer) {
            QPainter painter(&printer);
            fitPageToRect(painter,
                          QRect(QPoint(0, 0), printer.pageRect(QPrinter::DevicePixel).size().toSize()));
            bool first = true;
            for (const QString &tag : tags) {
                for (int id : {m_woman, m_man, zero}) {
                    if (!first)
                        printer.newPage();
                    first = false;
                    paintReportPage(painter, tag, id);
                }
            }
        }));
        const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QCOMPARE(text.count(QLatin1Char('\f')), tags.size() * 3);
        QVERIFY(text.contains(QStringLiteral("欧阳大海")));
        QVERIFY(text.contains(QStringLiteral("脂肪肝风险度")));
        QVERIFY(text.contains(QStringLiteral("(内水:外水)")));
        for (const QChar c : text)
            QVERIFY2(c.unicode() < 0x2E80 || c.unicode() > 0x2FDF, qPrintable(QString(c)));
        QVERIFY(!text.contains(QStringLiteral("nan"), Qt::CaseInsensitive));
        QVERIFY(!text.contains(QStringLiteral("inf"), Qt::CaseInsensitive));
    }

    // Overlay rules that depend on the style: the TQ-20 edema values print
    // with every flag off, the water sheet's weight row carries total water,
    // a woman's sex mark lands 64 units right of a man's.
    void overlayStyleRules()
    {
        auto paint = [](const PrintLayout &layout, const BcaRecord &rec, const QString &tag) {
            QImage image(PageWidth, PageHeight, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            paintOverlayItems(painter, layout, rec, tag);
            return image;
        };
        BcaRecord rec;
        rec.values = {{QStringLiteral("Sex"), QStringLiteral("2")},
                      {QStringLiteral("Height"), 160.0},
                      {QStringLiteral("Weight"), 50.0},
                      {QStringLiteral("Water"), 30.0},
                      {QStringLiteral("ICW"), 19.0},
                      {QStringLiteral("ECW"), 11.0}};
        const PrintLayout none = PrintLayout::fromValues({});
        const QRect edemaPart(300, 740, 120, 160);
        QVERIFY(darkCount(paint(none, rec, QStringLiteral("TQ-20")), edemaPart) > 50);
        QCOMPARE(darkCount(paint(none, rec, QStringLiteral("TQ-40")), QRect(0, 0, PageWidth, PageHeight)), 0);

        // Water = 0.6 W: the total-water bar is exactly BaseLine long.
        const PrintLayout chart =
            PrintLayout::fromValues({{QStringLiteral("WeightLinePrint"), QStringLiteral("Yes")},
                                     {QStringLiteral("WeightLineY"), 500},
                                     {QStringLiteral("LineStartX"), 100},
                                     {QStringLiteral("BaseLine"), 150},
                                     {QStringLiteral("LineMargin"), 35},
                                     {QStringLiteral("MaxLine"), 400},
                                     {QStringLiteral("MinLine"), 10},
                                     {QStringLiteral("LineNormalSize"), 10}});
        const QImage water = paint(chart, rec, QStringLiteral("水分报告"));
        QVERIFY(dark(water, QPoint(100 + 148, 503)));
        QVERIFY(!dark(water, QPoint(100 + 153, 503)));
        // On another style the same row is the weight bar (standard weight 0: no bar).
        QVERIFY(!dark(paint(chart, rec, QStringLiteral("TQ-40")), QPoint(100 + 4, 503)));

        const PrintLayout gender =
            PrintLayout::fromValues({{QStringLiteral("GenderPrint"), QStringLiteral("Yes")},
                                     {QStringLiteral("GenderSize"), 12},
                                     {QStringLiteral("GenderX"), 200},
                                     {QStringLiteral("GenderY"), 300}});
        const QImage female = paint(gender, rec, QStringLiteral("TQ-40"));
        rec.values[QStringLiteral("Sex")] = QStringLiteral("1");
        const QImage male = paint(gender, rec, QStringLiteral("TQ-40"));
        QVERIFY(darkCount(male, QRect(200, 284, 20, 20)) > 5);
        QCOMPARE(darkCount(male, QRect(264, 284, 20, 20)), 0);
        QVERIFY(darkCount(female, QRect(264, 284, 20, 20)) > 5);
        QCOMPARE(darkCount(female, QRect(200, 284, 20, 20)), 0);
    }

    // Age printed from the year of the test, not the year of printing.
    void ageFromTestYear()
    {
        const int old = variant({{QStringLiteral("BirthYear"), 1970},
                                 {QStringLiteral("TestDate"), QStringLiteral("2001-04-02")}});
        const QString pdf = pdfPath(QStringLiteral("age"));
        QVERIFY(writePdf(
            pdf, [&](QPrinter &printer) { printOverlayPages(printer, QStringLiteral("TQ-40"), {old}, 0); }));
        const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("(^|\\s)31(\\s|$)"))), qPrintable(text));
        QVERIFY(g_log.contains(QStringLiteral("age =  31")));
    }
};

QTEST_MAIN(TestReportPages)
#include "tst_reportpages.moc"
