// Report pages painted from stored records: the body-type square, bar ends
// and clamps, the sex mark on every fixed sheet, the dispatch on the tag, and
// overlay printing into a PDF (pages, positions, extractable text).
#include "reports/bcasheets.h"
#include "reports/layout.h"
#include "reports/overlay.h"
#include "reports/reportpage.h"
#include "tests/outputcheck.h"
#include "tests/reportsamples.h"
#include "tests/testsupport.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPrinter>
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

QImage renderOverlay(const PrintLayout &layout, const BcaRecord &rec, const QString &tag)
{
    QImage image(PageWidth, PageHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintOverlayItems(painter, layout, rec, tag);
    return image;
}

// Dark pixels in |rect| of |image| (one point by default).
int dark(const QImage &image, const QRect &rect)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            n += qGray(image.pixel(x, y)) < 60;
    }
    return n;
}
int dark(const QImage &image, int x, int y)
{
    return dark(image, QRect(x, y, 1, 1));
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

    void fixedSheets_data()
    {
        QTest::addColumn<QString>("tag");
        for (const QString &tag : fixedTags)
            QTest::newRow(qPrintable(tag)) << tag;
    }
    // The sex mark in the box of the record's sex; the body-type square in
    // the cell of the record's own body type only, none for an unknown type.
    void fixedSheets()
    {
        QFETCH(QString, tag);
        const FixedSheet &sheet = *fixedSheet(tag);
        const QImage female = render(tag, m_woman); // 消瘦型: first column, third row
        const QImage male = render(tag, m_man);     // 肥胖型: third column, first row
        const QRect maleBox(sheet.maleMark - QPoint(0, 16), QSize(18, 20));
        const QRect femaleBox(sheet.femaleMark - QPoint(0, 16), QSize(18, 20));
        QVERIFY(dark(male, maleBox) > dark(female, maleBox) + 5);
        QVERIFY(dark(female, femaleBox) > dark(male, femaleBox) + 5);
        if (sheet.bodyTypeY[0] == 0)
            return;
        const QImage unknown = render(tag, variant({{QStringLiteral("BodyType"), QStringLiteral("未知")}}));
        const QPoint thin(sheet.bodyTypeX[0] + 5, sheet.bodyTypeY[2] + 5);
        const QPoint obese(sheet.bodyTypeX[2] + 5, sheet.bodyTypeY[0] + 5);
        QCOMPARE(QVector<int>({dark(female, thin.x(), thin.y()), dark(female, obese.x(), obese.y()),
                               dark(male, thin.x(), thin.y()), dark(male, obese.x(), obese.y()),
                               dark(unknown, thin.x(), thin.y()), dark(unknown, obese.x(), obese.y())}),
                 QVector<int>({1, 0, 0, 1, 0, 0}));
    }

    // The weight bar of TQ-40: 165 at the standard weight, the upper clamp 350
    // for +60 %, the lower clamp 10 for -90 %, no bar without a height.
    void weightBarEnds()
    {
        const BarChart &chart = fixedSheet(QStringLiteral("TQ-40"))->bars;
        const int y = chart.rows.at(0).barY + 3;
        const int x0 = chart.startX;
        auto page = [this](double weight, double height) {
            return render(QStringLiteral("TQ-40"), variant({{QStringLiteral("Weight"), weight},
                                                            {QStringLiteral("Height"), height},
                                                            {QStringLiteral("Standard_weight"), 50.0}}));
        };
        const QImage atReference = page(50, 150), above = page(80, 150), below = page(5, 150);
        const QImage noHeight = page(50, 0);
        QVERIFY(dark(atReference, x0 + 163, y) && !dark(atReference, x0 + 170, y));
        QVERIFY(dark(above, x0 + 348, y) && !dark(above, x0 + 352, y));
        QVERIFY(dark(below, x0 + 8, y) && !dark(below, x0 + 14, y));
        QVERIFY(!dark(noHeight, x0 + 4, y));
    }

    // Tags of no style paint nothing; no style chosen paints only the instruction.
    void dispatch_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<bool>("instruction");
        QTest::newRow("trailing blank") << QStringLiteral("TQ-40 ") << false;
        QTest::newRow("unknown") << QStringLiteral("TQ-99") << false;
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("default sheet") << QStringLiteral("默认报告纸") << true;
    }
    void dispatch()
    {
        QFETCH(QString, tag);
        QFETCH(bool, instruction);
        const QImage page = render(tag, m_man);
        QCOMPARE(dark(page, QRect(0, 80, PageWidth, 30)) > 50, instruction);
        QCOMPARE(dark(page, QRect(0, 120, PageWidth, PageHeight - 120)), 0);
    }

    // One page per record and no blank page, the value at the place its Print
    // row gives on the A4 sheet (scaled), and the age from the year of the test.
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
        const int old = variant({{QStringLiteral("BirthYear"), 1970},
                                 {QStringLiteral("TestDate"), QStringLiteral("2001-04-02")}});
        const QString pdf = m_dir.filePath(QStringLiteral("overlay.pdf"));
        QPrinter printer(mode);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::A4));
        QCOMPARE(printOverlayPages(printer, tag, {m_woman, 0, m_man, old}, m_woman), 4);
        const QRectF area = printer.pageRect(QPrinter::Point);
        QCOMPARE(outputcheck::pdfPages(pdf), 4);

        const PrintLayout layout = PrintLayout::read(tag);
        const double scale = std::min(area.width() / PageWidth, area.height() / PageHeight);
        const QPointF origin(area.left() + (area.width() - PageWidth * scale) / 2,
                             area.top() + (area.height() - PageHeight * scale) / 2);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" "
                                              "yMax=\"([0-9.]+)\">M002/欧阳大海</word>"))
                .match(outputcheck::pdfText(pdf, {QStringLiteral("-bbox")}));
        QVERIFY(m.hasMatch());
        const double x = m.captured(1).toDouble(), top = m.captured(2).toDouble();
        const double baseline = origin.y() + layout.value(QStringLiteral("IDY")) * scale;
        QVERIFY2(std::fabs(x - origin.x() - layout.value(QStringLiteral("IDX")) * scale) < 2,
                 qPrintable(QString::number(x)));
        QVERIFY2(top < baseline && baseline < m.captured(3).toDouble() + 1, qPrintable(QString::number(top)));

        // The woman twice (0 is the current test), then the man, then the old record.
        const QStringList pages = outputcheck::pdfText(pdf).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), 4);
        QVERIFY(pages.at(0).contains(QStringLiteral("W001/林小雨")) &&
                pages.at(1).contains(QStringLiteral("W001/林小雨")));
        QVERIFY(pages.at(2).contains(QStringLiteral("M002/欧阳大海")));
        QVERIFY2(pages.at(3).contains(QRegularExpression(QStringLiteral("(^|\\s)31(\\s|$)"))),
                 qPrintable(pages.at(3)));
    }

    // Every style printed as a page: text stays text, reads back as drawn (no
    // look-alike radicals) and never shows nan or inf.
    void pageTextExtracts()
    {
        const int zero = variant({{QStringLiteral("Height"), 0.0},
                                  {QStringLiteral("Weight"), 0.0},
                                  {QStringLiteral("Standard_weight"), 0.0}});
        const QString pdf = m_dir.filePath(QStringLiteral("pages.pdf"));
        const QStringList tags = fixedTags + QStringList{QStringLiteral("自定义报告纸")};
        {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            QPainter painter(&printer);
            fitPageToRect(painter,
                          QRect(QPoint(0, 0), printer.pageRect(QPrinter::DevicePixel).size().toSize()));
            for (const QString &tag : tags) {
                for (int id : {m_woman, m_man, zero}) {
                    if (tag != tags.first() || id != m_woman)
                        printer.newPage();
                    paintReportPage(painter, tag, id);
                }
            }
        }
        const QString text = outputcheck::pdfText(pdf);
        QCOMPARE(text.count(QLatin1Char('\f')), tags.size() * 3);
        QVERIFY(text.contains(QStringLiteral("欧阳大海")) && text.contains(QStringLiteral("脂肪肝风险度")));
        QVERIFY(text.contains(QStringLiteral("(内水:外水)")));
        QVERIFY(!outputcheck::hasRadicals(text));
        QVERIFY(!text.contains(QStringLiteral("nan"), Qt::CaseInsensitive));
        QVERIFY(!text.contains(QStringLiteral("inf"), Qt::CaseInsensitive));
    }

    // Overlay rules that depend on the style: the TQ-20 edema values print
    // with every flag off, the water sheet's weight row carries total water,
    // a woman's sex mark lands 64 units right of a man's.
    void overlayStyleRules()
    {
        BcaRecord rec;
        rec.values = {{QStringLiteral("Sex"), QStringLiteral("2")},
                      {QStringLiteral("Height"), 160.0},
                      {QStringLiteral("Weight"), 50.0},
                      {QStringLiteral("Water"), 30.0},
                      {QStringLiteral("ICW"), 19.0},
                      {QStringLiteral("ECW"), 11.0}};
        const PrintLayout none = PrintLayout::fromValues({});
        QVERIFY(dark(renderOverlay(none, rec, QStringLiteral("TQ-20")), QRect(300, 740, 120, 160)) > 50);
        QCOMPARE(dark(renderOverlay(none, rec, QStringLiteral("TQ-40")), QRect(0, 0, PageWidth, PageHeight)),
                 0);

        // Water = 0.6 W: the total-water bar is exactly BaseLine long.
        const PrintLayout chart =
            PrintLayout::fromValues({{QStringLiteral("WeightLinePrint"), QStringLiteral("Yes")},
                                     {QStringLiteral("WeightLineY"), 500},
                                     {QStringLiteral("LineStartX"), 100},
                                     {QStringLiteral("BaseLine"), 150},
                                     {QStringLiteral("LineMargin"), 35},
                                     {QStringLiteral("MaxLine"), 400},
                                     {QStringLiteral("MinLine"), 10}});
        const QImage water = renderOverlay(chart, rec, QStringLiteral("水分报告"));
        QVERIFY(dark(water, 100 + 148, 503) && !dark(water, 100 + 153, 503));
        // On another style the same row is the weight bar (standard weight 0: no bar).
        QVERIFY(!dark(renderOverlay(chart, rec, QStringLiteral("TQ-40")), 100 + 4, 503));

        const PrintLayout gender =
            PrintLayout::fromValues({{QStringLiteral("GenderPrint"), QStringLiteral("Yes")},
                                     {QStringLiteral("GenderSize"), 12},
                                     {QStringLiteral("GenderX"), 200},
                                     {QStringLiteral("GenderY"), 300}});
        const QImage female = renderOverlay(gender, rec, QStringLiteral("TQ-40"));
        rec.values[QStringLiteral("Sex")] = QStringLiteral("1");
        const QImage male = renderOverlay(gender, rec, QStringLiteral("TQ-40"));
        const QRect left(200, 284, 20, 20), right(264, 284, 20, 20);
        QVERIFY(dark(male, left) > 5 && dark(male, right) == 0);
        QVERIFY(dark(female, right) > 5 && dark(female, left) == 0);
    }
};

QTEST_MAIN(TestReportPages)
#include "tst_reportpages.moc"
