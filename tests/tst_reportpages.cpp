// Report pages painted from stored records: the body-type square, bar ends
// and clamps, the sex mark on every fixed sheet, the dispatch on the tag, and
// overlay printing into a PDF (pages, positions, extractable text); the
// layout rules behind them: Print flags and rows, bar lengths, reference
// values by sex, value and control texts, the age at the test.
#include "reports/bcasheets.h"
#include "reports/layout.h"
#include "reports/overlay.h"
#include "reports/reportpage.h"
#include "tests/outputcheck.h"
#include "tests/pagerecorder.h"
#include "tests/reportsamples.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QSqlRecord>

#include <cmath>
#include <limits>

using namespace reports;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

QImage draw(const std::function<void(QPainter &)> &paint)
{
    QImage image(PageWidth, PageHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(painter);
    return image;
}
QImage render(const QString &tag, int testId)
{
    return draw([&](QPainter &p) { paintReportPage(p, tag, testId); });
}

// Dark pixels in a w x h rectangle at (x, y) of |image|.
int dark(const QImage &image, int x, int y, int w = 1, int h = 1)
{
    int n = 0;
    for (int j = y; j < y + h; ++j) {
        for (int i = x; i < x + w; ++i)
            n += qGray(image.pixel(i, j)) < 60;
    }
    return n;
}

const QStringList fixedTags = {"TQ-40", "TQ-10", "TQ-20", "TQ-30", "水分报告"};

// Labels of the printed forms and what they name.
const QHash<QString, QString> kLabels = {{"右上肢", "RA"},   {"左上肢", "LA"},    {"躯干", "TR"},
                                         {"右下肢", "RL"},   {"左下肢", "LL"},    {"右臂", "RA"},
                                         {"左臂", "LA"},     {"右腿", "RL"},      {"左腿", "LL"},
                                         {"躯干脂肪", "TR"}, {"细胞内液", "ICW"}, {"细胞外液", "ECW"}};
const QStringList kSegments = {"RA", "LA", "TR", "RL", "LL"};

// Segment values, every one distinct: fat, muscle, bone, water, ICW, ECW,
// edema and the impedances of each segment, and the whole body's ICW and ECW.
QVariantMap segmentValues()
{
    QVariantMap m{{"ICW", 17.31}, {"ECW", 9.87}};
    const QStringList quantities = {"fat", "muscle", "bone", "water", "ICW", "ECW"};
    for (int s = 0; s < 5; ++s) {
        for (int q = 0; q < quantities.size(); ++q)
            m[kSegments[s] + '_' + quantities[q]] = 1.13 + 1.71 * s + 10.37 * q;
        m[kSegments[s] + "_edema"] = 0.301 + 0.013 * s;
        for (const char *f : {"5", "50", "100", "250", "500"})
            m[kSegments[s] + f] = 301.7 + 7.3 * s + QByteArray(f).toInt() / 10.0;
    }
    return m;
}

// Every drawn text of |page| that shows one of |values| as "column→label":
// the label it stands by. The expected lines name the column's own segment
// (or ICW/ECW) instead.
void placements(const QString &tag, const PageRecorder &page, const QVariantMap &values, QStringList *got,
                QStringList *expected)
{
    QHash<QString, QString> columnOf; // text → column
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QString &column = it.key();
        if (!kSegments.contains(column.left(2)) && column != QLatin1String("ICW") &&
            column != QLatin1String("ECW"))
            continue;
        if (column.endsWith("_edema"))
            columnOf[QString::number(it.value().toDouble(), 'f', 3)] = column;
        else if (!column.endsWith("_ICW") && !column.endsWith("_ECW"))
            columnOf[formatValue(it.value().toDouble())] = column;
    }
    for (const QString &s : kSegments)
        columnOf['(' + formatValue(values[s + "_ICW"].toDouble()) + ':' +
                 formatValue(values[s + "_ECW"].toDouble()) + ')'] = s + "_pair";
    for (const auto &t : page.texts()) {
        const QString column = columnOf.value(t.second);
        if (column.isEmpty())
            continue;
        // Gauge figures stand above the label of their column; water rows and
        // the ICW/ECW cells on the line of their label; the rest below or
        // right of their label.
        const bool gauge = column.endsWith("_edema");
        const bool water = column == QLatin1String("ICW") || column == QLatin1String("ECW");
        const bool row = water || column.endsWith("_water") || column.endsWith("_pair");
        QString label = "none";
        double best = 1e9;
        for (const auto &l : page.texts()) {
            const QString named = kLabels.value(l.second);
            if (named.isEmpty() || (named == QLatin1String("ICW") || named == QLatin1String("ECW")) != water)
                continue;
            const QPointF d = l.first - t.first;
            const double distance = gauge ? (d.y() > 0 ? std::fabs(d.x()) : 1e9)
                                    : row ? std::fabs(d.y()) + 0.1 * std::fabs(d.x())
                                          : (d.y() <= 2 ? std::hypot(d.x(), d.y()) : 1e9);
            if (distance < best)
                best = distance, label = named;
        }
        *got << tag + ' ' + column + "→" + label;
        *expected << tag + ' ' + column + "→" + (water ? column : column.left(2));
    }
}

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
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
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

    // On every fixed sheet: the sex mark in the box of the record's sex; the
    // body-type square in the cell of the record's own type only, none for an
    // unknown type.
    void fixedSheets()
    {
        for (const QString &tag : fixedTags) {
            const FixedSheet &sheet = *fixedSheet(tag);
            const QImage female = render(tag, m_woman); // 消瘦型: first column, third row
            const QImage male = render(tag, m_man);     // 肥胖型: third column, first row
            const QPoint m = sheet.maleMark - QPoint(0, 16), f = sheet.femaleMark - QPoint(0, 16);
            QVERIFY(dark(male, m.x(), m.y(), 18, 20) > dark(female, m.x(), m.y(), 18, 20) + 5);
            QVERIFY(dark(female, f.x(), f.y(), 18, 20) > dark(male, f.x(), f.y(), 18, 20) + 5);
            if (sheet.bodyTypeY[0] == 0)
                continue;
            const QImage unknown = render(tag, variant({{"BodyType", "未知"}}));
            const int thinX = sheet.bodyTypeX[0] + 5, thinY = sheet.bodyTypeY[2] + 5;
            const int obeseX = sheet.bodyTypeX[2] + 5, obeseY = sheet.bodyTypeY[0] + 5;
            QCOMPARE(QVector<int>({dark(female, thinX, thinY), dark(female, obeseX, obeseY),
                                   dark(male, thinX, thinY), dark(male, obeseX, obeseY),
                                   dark(unknown, thinX, thinY), dark(unknown, obeseX, obeseY)}),
                     QVector<int>({1, 0, 0, 1, 0, 0}));
        }
    }

    // The weight bar of TQ-40: 165 at the standard weight, the upper clamp 350
    // for +60 %, the lower clamp 10 for -90 %, no bar without a height.
    void weightBarEnds()
    {
        const BarChart &chart = fixedSheet(QStringLiteral("TQ-40"))->bars;
        const int y = chart.rows.at(0).barY + 3, x0 = chart.startX;
        auto page = [this](double weight, double height) {
            return render("TQ-40",
                          variant({{"Weight", weight}, {"Height", height}, {"Standard_weight", 50.0}}));
        };
        const QImage atReference = page(50, 150), above = page(80, 150), below = page(5, 150);
        QVERIFY(dark(atReference, x0 + 163, y) && !dark(atReference, x0 + 170, y));
        QVERIFY(dark(above, x0 + 348, y) && !dark(above, x0 + 352, y));
        QVERIFY(dark(below, x0 + 8, y) && !dark(below, x0 + 14, y));
        QVERIFY(!dark(page(50, 0), x0 + 4, y));
    }

    // Tags of no style paint nothing; no style chosen paints only the instruction.
    void dispatch()
    {
        for (const QString tag : {"TQ-40 ", "TQ-99", "", "默认报告纸"}) {
            const QImage page = render(tag, m_man);
            QCOMPARE(dark(page, 0, 80, PageWidth, 30) > 50, tag.isEmpty() || !tag.startsWith('T'));
            QCOMPARE(dark(page, 0, 120, PageWidth, PageHeight - 120), 0);
        }
    }

    // One page per record and no blank page, the value at the place its Print
    // row gives on the A4 paper (scaled), and the age from the year of the test.
    void overlayPdf()
    {
        const int old = variant({{"BirthYear", 1970}, {"TestDate", "2001-04-02"}});
        const QString tags[] = {"TQ-40", "TQ-40", "TQ-30", "TQ-40 "}; // the last reads row 0
        for (int i = 0; i < 4; ++i) {
            const QString tag = tags[i];
            const auto mode = i == 1 ? QPrinter::ScreenResolution : QPrinter::HighResolution;
            const QString pdf = m_dir.filePath(QStringLiteral("overlay.pdf"));
            QPrinter printer(mode);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setPageSize(QPageSize(QPageSize::A4));
            QCOMPARE(printOverlayPages(printer, tag, {m_woman, 0, m_man, old}, m_woman), 4);
            const QRectF area = printer.paperRect(QPrinter::Point); // the page covers the whole paper
            QCOMPARE(outputcheck::pdfPages(pdf), 4);

            const PrintLayout layout = PrintLayout::read(tag);
            const double scale = std::min(area.width() / PageWidth, area.height() / PageHeight);
            const double x0 = area.left() + (area.width() - PageWidth * scale) / 2;
            const double baseline =
                area.top() + (area.height() - PageHeight * scale) / 2 + layout.value("IDY") * scale;
            const QRegularExpressionMatch m =
                QRegularExpression(
                    QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" "
                                   "yMax=\"([0-9.]+)\">M002/欧阳大海</word>"))
                    .match(outputcheck::pdfText(pdf, {QStringLiteral("-bbox")}));
            QVERIFY(m.hasMatch());
            QVERIFY2(std::fabs(m.captured(1).toDouble() - x0 - layout.value("IDX") * scale) < 2,
                     qPrintable(m.captured()));
            QVERIFY2(m.captured(2).toDouble() < baseline && baseline < m.captured(3).toDouble() + 1,
                     qPrintable(m.captured()));

            // The woman twice (0 is the current test), then the man, then the old record.
            const QStringList pages = outputcheck::pdfText(pdf).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
            QCOMPARE(pages.size(), 4);
            QVERIFY(pages[0].contains("W001/林小雨") && pages[1].contains("W001/林小雨") &&
                    pages[2].contains("M002/欧阳大海"));
            QVERIFY2(pages[3].contains(QRegularExpression(QStringLiteral("(^|\\s)31(\\s|$)"))),
                     qPrintable(pages[3]));
        }
    }

    // Every style printed as a page: text stays text, reads back as drawn (no
    // look-alike radicals) and never shows nan or inf.
    void pageTextExtracts()
    {
        const int zero = variant({{"Height", 0.0}, {"Weight", 0.0}, {"Standard_weight", 0.0}});
        const QString pdf = m_dir.filePath(QStringLiteral("pages.pdf"));
        const QStringList tags = fixedTags + QStringList{QStringLiteral("自定义报告纸")};
        {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            QPainter painter(&printer);
            fitPageToRect(painter,
                          QRect(QPoint(0, 0), printer.pageRect(QPrinter::DevicePixel).size().toSize()));
            for (int page = 0; page < tags.size() * 3; ++page) {
                if (page > 0)
                    printer.newPage();
                paintReportPage(painter, tags[page / 3], QList<int>{m_woman, m_man, zero}[page % 3]);
            }
        }
        const QString text = outputcheck::pdfText(pdf);
        QCOMPARE(text.count(QLatin1Char('\f')), tags.size() * 3);
        QVERIFY(text.contains("欧阳大海") && text.contains("脂肪肝风险度") && text.contains("(内水:外水)"));
        QVERIFY(!text.contains(outputcheck::radicals));
        QVERIFY(!text.contains("nan", Qt::CaseInsensitive) && !text.contains("inf", Qt::CaseInsensitive));
    }

    // Overlay rules that depend on the style: with every flag off TQ-40 prints
    // nothing but TQ-20 its edema values; a woman's sex mark lands 64 units
    // right of a man's.
    void overlayStyleRules()
    {
        BcaRecord rec;
        rec.values = {{"Sex", "2"}, {"Height", 160.0}, {"Weight", 50.0}, {"ICW", 19.0}, {"ECW", 11.0}};
        auto overlay = [&rec](const PrintLayout &layout, const QString &tag) {
            return draw([&](QPainter &p) { paintOverlayItems(p, layout, rec, tag); });
        };
        const PrintLayout none = PrintLayout::fromValues({});
        QVERIFY(dark(overlay(none, "TQ-20"), 300, 740, 120, 160) > 50);
        QCOMPARE(dark(overlay(none, "TQ-40"), 0, 0, PageWidth, PageHeight), 0);

        const PrintLayout gender = PrintLayout::fromValues(
            {{"GenderPrint", "Yes"}, {"GenderSize", 12}, {"GenderX", 200}, {"GenderY", 300}});
        const QImage female = overlay(gender, "TQ-40");
        rec.values["Sex"] = "1";
        const QImage male = overlay(gender, "TQ-40");
        QVERIFY(dark(male, 200, 284, 20, 20) > 5 && dark(male, 264, 284, 20, 20) == 0);
        QVERIFY(dark(female, 264, 284, 20, 20) > 5 && dark(female, 200, 284, 20, 20) == 0);
    }
    // Mirror pairs on every fixed sheet: each segment value (fat, muscle,
    // bone, water, impedance, the water sheet's (内水:外水) pairs and edema
    // gauges) and the whole body's ICW and ECW stand by the label the form
    // gives them; the water overlay keeps the sheet's order.
    void valuesStandByTheirLabels()
    {
        const QVariantMap changes = segmentValues();
        const int id = variant(changes);
        QVariantMap all = reportsamples::resultColumns(reportsamples::smallWoman);
        for (auto it = changes.begin(); it != changes.end(); ++it)
            all[it.key()] = it.value();
        QStringList got, expected;
        for (const QString &tag : fixedTags) {
            PageRecorder page;
            {
                QPainter painter(&page);
                paintReportPage(painter, tag, id);
            }
            placements(tag, page, all, &got, &expected);
        }
        QCOMPARE(got.join('\n'), expected.join('\n'));
        // Every kind of value was found on some sheet.
        QStringList missing;
        for (const QString &s : kSegments) {
            for (const char *q : {"_fat", "_muscle", "_bone", "_water", "_pair", "_edema", "50"}) {
                if (got.filter(' ' + s + q + "→").isEmpty())
                    missing << s + q;
            }
        }
        QCOMPARE(missing.join(' '), QString());

        // The water overlay prints on paper laid out like the water sheet: its
        // pairs from top to bottom and its gauges from left to right in the
        // order of that sheet's rows and gauges.
        const QString water = QStringLiteral("水分报告");
        BcaRecord rec;
        for (auto it = all.begin(); it != all.end(); ++it)
            rec.values.insert(it.key(), it.value());
        PageRecorder sheet, overlay;
        {
            QPainter painter(&sheet);
            paintReportPage(painter, water, id);
        }
        {
            QPainter painter(&overlay);
            paintOverlayItems(painter, PrintLayout::read(water), rec, water);
        }
        const auto order = [&all](const PageRecorder &page, const QString &suffix, bool byX) {
            QMap<double, QString> at;
            for (const QString &s : kSegments) {
                const QString text = suffix == QLatin1String("_pair")
                                         ? '(' + formatValue(all[s + "_ICW"].toDouble()) + ':' +
                                               formatValue(all[s + "_ECW"].toDouble()) + ')'
                                         : QString::number(all[s + suffix].toDouble(), 'f', 3);
                for (const auto &t : page.texts()) {
                    if (t.second == text)
                        at.insert(byX ? t.first.x() : t.first.y(), s);
                }
            }
            return QStringList(at.values()).join(' ');
        };
        for (const bool byX : {false, true}) {
            const QString suffix = byX ? "_edema" : "_pair";
            QCOMPARE(order(overlay, suffix, byX), order(sheet, suffix, byX));
            QCOMPARE(order(sheet, suffix, byX).size(), 14);
        }
    }

    // The overlay's edema tick: low below 0.30, normal from 0.30 to 0.35, high above.
    void overlayEdemaEdges()
    {
        const PrintLayout layout = PrintLayout::fromValues(
            {{"EdemaLevelPrint", "Yes"}, {"EdemaLevelSize", 12}, {"EdemaLevelX", 400}, {"EdemaLevelY", 300}});
        const double edemas[] = {0.299, 0.3, 0.301, 0.349, 0.35, 0.351};
        const int ticks[] = {300, 320, 320, 320, 320, 340}; // the tick's line
        for (int i = 0; i < 6; ++i) {
            BcaRecord rec;
            rec.values = {{"Sex", "1"}, {"Edema", edemas[i]}};
            PageRecorder page;
            {
                QPainter painter(&page);
                paintOverlayItems(painter, layout, rec, QStringLiteral("TQ-40"));
            }
            QStringList at;
            for (const auto &t : page.texts())
                at << QStringLiteral("%1,%2").arg(t.first.x()).arg(t.first.y());
            QCOMPARE(QString::number(edemas[i]) + ": " + at.join(' '),
                     QString::number(edemas[i]) + QStringLiteral(": 400,%1").arg(ticks[i]));
        }
    }

    // Only exactly "Yes" lets an item reach the page, and only with its
    // position and size within 10,000 page units: a number beyond reads as
    // missing (0) and leaves its item out.
    void printFlag()
    {
        QVERIFY(PrintLayout::fromValues({{"IDPrint", "Yes"}}).flag(QStringLiteral("IDPrint")));
        for (const QVariant &v :
             {QVariant("yes"), QVariant(" Yes"), QVariant("Yes "), QVariant(), QVariant(1)})
            QVERIFY2(!PrintLayout::fromValues({{"IDPrint", v}}).flag(QStringLiteral("IDPrint")),
                     qPrintable(v.toString()));
        const struct
        {
            QVariant number;
            int value;
            bool printed;
        } cases[] = {{10000, 10000, true},
                     {-10000, -10000, true},
                     {10001, 0, false},
                     {-10001, 0, false},
                     {std::numeric_limits<int>::max(), 0, false},
                     {std::numeric_limits<int>::min(), 0, false},
                     {Q_INT64_C(-9000000000000), 0, false},
                     {1e300, 0, false},
                     {kNaN, 0, false},
                     {"1e12", 0, false},
                     {"12", 12, true},
                     {"abc", 0, true},
                     {QVariant(), 0, true}};
        for (const char *column : {"IDX", "IDY", "IDSize"}) {
            for (const auto &c : cases) {
                QHash<QString, QVariant> values = {{"IDPrint", "Yes"}, {"IDX", 5}, {"IDY", 6}, {"IDSize", 7}};
                values[QLatin1String(column)] = c.number;
                const PrintLayout layout = PrintLayout::fromValues(values);
                QCOMPARE(layout.value(QLatin1String(column)), c.value);
                QCOMPARE(layout.flag(QStringLiteral("IDPrint")), c.printed);
            }
        }
    }

    // A Print row damaged to the ends of the number range (every flag on):
    // every style's overlay draws only within the page's reach.
    void overlayOfDamagedRow()
    {
        BcaRecord rec;
        rec.values = {{"Sex", "1"},
                      {"Height", 180.0},
                      {"Weight", 80.0},
                      {"BirthYear", -2147483647 - 1},
                      {"TestDate", "2020-01-01"},
                      {"VFI", 1e300},
                      {"Edema", -1e300}};
        for (const int extreme : {std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
            QHash<QString, QVariant> values;
            for (const QString &name : printColumns())
                values.insert(name,
                              name.endsWith(QLatin1String("Print")) ? QVariant("Yes") : QVariant(extreme));
            for (const QString &tag : fixedTags) {
                PageRecorder page;
                QPainter painter(&page);
                paintOverlayItems(painter, PrintLayout::fromValues(values), rec, tag);
                painter.end();
                const QRectF reach(-kLayoutLimit, -kLayoutLimit, 2 * kLayoutLimit + 1000,
                                   2 * kLayoutLimit + 1000);
                for (const auto &text : page.texts())
                    QVERIFY2(reach.contains(text.first), qPrintable(tag + text.second));
                for (const QRectF &rect : page.rects())
                    QVERIFY2(reach.contains(rect), qPrintable(tag));
            }
        }
    }

    // The row of the supplied table read for a tag (row 0 for any tag not
    // known), every column by name and in table order.
    void printRows()
    {
        const QStringList tags = {"TQ-40",     "TQ-10",      "TQ-20",  "TQ-30", "水分报告", "自定义报告纸",
                                  "FITreport", "默认报告纸", "TQ-30 ", "tq-30", ""};
        for (int i = 0; i < tags.size(); ++i) {
            const int row = i < 7 ? i : 0;
            QCOMPARE(printRowForTag(tags[i]), row);
            const PrintLayout layout = PrintLayout::read(tags[i]);
            QSqlQuery q;
            QVERIFY(q.exec(QStringLiteral("SELECT * FROM Print LIMIT 1 OFFSET %1").arg(row)) && q.next());
            QCOMPARE(printColumns().size(), q.record().count());
            for (int c = 0; c < q.record().count(); ++c) {
                const QString name = q.record().fieldName(c);
                QCOMPARE(printColumns().at(c), name);
                QCOMPARE(name.endsWith(QLatin1String("Print")) ? int(layout.flag(name)) : layout.value(name),
                         name.endsWith(QLatin1String("Print")) ? int(q.value(c) == "Yes")
                                                               : q.value(c).toInt());
            }
        }
    }

    // Base + 35 per 10 % off the reference, truncated, clamped to [10, 350];
    // no bar without a positive finite reference or a finite value.
    void barLength()
    {
        // clang-format off
        const std::optional<double> steps[] = {relativeSteps(130, 100), relativeSteps(10, 100), relativeSteps(61.5, 61.5),
            relativeSteps(160, 100), 0.99, 1e300, relativeSteps(70, 0), relativeSteps(70, kNaN), relativeSteps(kInf, 60)};
        // clang-format on
        const int bases[] = {100, 165, 165, 165, 100, 165, 165, 165, 165};
        const int lengths[] = {205, 10, 165, 350, 134, 350, -1, -1, -1};
        for (int i = 0; i < 9; ++i)
            QCOMPARE(lineBarLength(steps[i], bases[i], 35, 350, 10).value_or(-1), lengths[i]);
    }

    // Muscle reference S and the muscle, weight, fat and WHR ranges of a man of
    // 170 cm and 70 kg and a woman of 160 cm and 50 kg.
    void references()
    {
        const References man = referenceValues(true, 170, 70), woman = referenceValues(false, 160, 50);
        QVERIFY2(std::fabs(man.S - 49.77) < 0.01 && std::fabs(woman.S - 38.33) < 0.01,
                 qPrintable(QString::number(man.S)));
        for (const auto &[r, ranges] : {std::pair(man, "[44.8-54.7] [63.0-77.0] [7.0-14.0] [0.8-0.9]"),
                                        std::pair(woman, "[34.5-42.2] [49.5-60.5] [9.0-14.0] [0.7-0.8]")})
            QCOMPARE((QStringList{formatRange(r.muscle), formatRange(r.weight), formatRange(r.fat),
                                  formatRange(r.whr)}
                          .join(' ')),
                     QString::fromLatin1(ranges));
    }

    // The body-fat bar has its reference length at PBF 15 for a man, 23 for
    // a woman; without a height no bar has a reference.
    void bodyFatBar()
    {
        // clang-format off
        const struct { const char *sex; double pbf, height; int length; } cases[] = {
            {"1", 15, 165, 165}, {"2", 23, 165, 165}, {"2", 15, 165, 109}, {"1", 20, 165, 200}, {"1", 15, 0, -1}};
        // clang-format on
        for (const auto &c : cases) {
            BcaRecord rec;
            rec.values = {{"Sex", c.sex}, {"PBF", c.pbf}, {"Height", c.height}, {"Weight", 60.0}};
            const References refs = referenceValues(rec.isMale(), c.height, 60);
            QCOMPARE(lineBarLength(barValue(Bar::Pbf, rec, refs).steps, 165, 35, 350, 10).value_or(-1),
                     c.length);
            for (Bar bar : {Bar::Weight, Bar::Muscle, Bar::Bone, Bar::Water, Bar::Smm, Bar::Bmi, Bar::Whr,
                            Bar::TotalWater, Bar::EdemaRatio, Bar::RaWater}) {
                const BarValue bv = barValue(bar, rec, refs);
                QVERIFY(c.height > 0 || (!bv.steps && !bv.length && !bv.range));
            }
        }
    }

    // Values as written ('g', 6; nothing for NaN/inf), "+" before control
    // amounts above 0 only, 12 as a share of the value.
    void numberTexts()
    {
        const double values[] = {3.25, 0, -7.5, kNaN};
        const QStringList texts[] = {
            {"3.25", "+", "369.2%"}, {"0", "", ""}, {"-7.5", "", "-160.0%"}, {"", "", ""}};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(
                (QStringList{formatValue(values[i]), controlPrefix(values[i]), formatPercent(12, values[i])}),
                texts[i]);
    }

    // The year of the test date wherever it stands; this year when it has none.
    // A birth year outside 1900 to the test year gives no age (-1 here).
    void ageAtTest()
    {
        const int thisYear = QDate::currentDate().year();
        const struct
        {
            int birthYear;
            const char *date;
            int age;
        } cases[] = {{1990, "2015-06-01", 25},
                     {1991, "2019/12/31 23:59", 28},
                     {1992, "31.12.2005", 13},
                     {1993, "20190301", 26},
                     {1994, "12-31", thisYear - 1994},
                     {1900, "2015-06-01", 115},
                     {1899, "2015-06-01", -1},
                     {2015, "2015-06-01", 0},
                     {2016, "2015-06-01", -1},
                     {0, "2015-06-01", -1},
                     {std::numeric_limits<int>::min(), "2015-06-01", -1},
                     {std::numeric_limits<int>::max(), "2015-06-01", -1}};
        for (const auto &c : cases) {
            const std::optional<int> age = reports::ageAtTest(c.birthYear, QString::fromLatin1(c.date));
            QCOMPARE(age.value_or(-1), c.age);
            QCOMPARE(reports::ageText(c.birthYear, QString::fromLatin1(c.date)),
                     c.age < 0 ? QString() : QString::number(c.age));
        }
    }

    // BMI cells: < 18.5, <= 24, <= 30, <= 35, <= 40, above.
    void bmiCells()
    {
        const double edges[] = {18.4, 18.5, 24, 24.1, 30, 35, 40, 40.1};
        const int cells[] = {0, 1, 1, 2, 2, 3, 4, 5};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(bmiLevelIndex(edges[i]), cells[i]);
    }
};

QTEST_MAIN(TestReportPages)
#include "tst_reportpages.moc"
