// Report pages as PDF files read back with poppler's tools: the sheet forms
// are vectors and text (captions and values where they belong, no picture,
// no transparency), the custom sheet keeps its picture, overlay values keep
// their paper position whatever the printer's margins, long names are fitted
// into their box, missing values stay blank, and rare characters print.
#include "reports/layout.h"
#include "reports/overlay.h"
#include "reports/reportpage.h"
#include "reports/reportprint.h"
#include "tests/outputcheck.h"
#include "tests/reportsamples.h"

#include <QPrinter>

using namespace reports;

namespace {

// A4 at 72 units per inch holds the 960 x 1358 page scaled and centred.
const double kScale = std::min(595.276 / PageWidth, 841.89 / PageHeight);
const double kLeft = (595.276 - PageWidth * kScale) / 2;
const double kTop = (841.89 - PageHeight * kScale) / 2;

struct Word
{
    QString text;
    double xMin, yMin, xMax, yMax;
    // Text and left edge in page units: what a page comparison looks at.
    QString key() const { return text + QLatin1Char('@') + QString::number(qRound((xMin - kLeft) / kScale)); }
};

QVector<Word> pdfWords(const QString &pdf)
{
    static const QRegularExpression re(QStringLiteral(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    QVector<Word> words;
    auto it = re.globalMatch(outputcheck::pdfText(pdf, {QStringLiteral("-bbox")}));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        words.append({m.captured(5).replace(QLatin1String("&amp;"), QLatin1String("&")),
                      m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                      m.captured(4).toDouble()});
    }
    return words;
}

QStringList keys(const QVector<Word> &words)
{
    QStringList list;
    for (const Word &w : words)
        list << w.key();
    list.sort();
    return list;
}

// The word starting at page x |x| whose box holds the baseline |y|; null text if none.
Word wordAt(const QVector<Word> &words, double x, double y)
{
    for (const Word &w : words) {
        const double baseline = kTop + y * kScale;
        if (std::fabs(w.xMin - (kLeft + x * kScale)) < 1.5 && w.yMin < baseline && baseline < w.yMax + 0.5)
            return w;
    }
    return {};
}

QString run(const QString &program, const QStringList &args)
{
    return outputcheck::run(program, args).out;
}

// The fonts a PDF embeds, by name, sorted.
QStringList fontNames(const QString &pdf)
{
    QStringList names;
    for (const QString &line : run("pdffonts", {pdf}).split('\n', Qt::SkipEmptyParts).mid(2))
        names << line.section(' ', 0, 0);
    names.sort();
    return names;
}

const QStringList fixedTags = {"TQ-40", "TQ-10", "TQ-20", "TQ-30", "水分报告"};
const QString longUid = QStringLiteral("65010219901");
const QString longName = QStringLiteral("阿卜杜热合曼·买买提艾力江");

} // namespace

class TestVectorPages : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_pdfs = 0;

    QString pagePdf(const QString &tag, int testId)
    {
        QString pdf = m_dir.filePath(QStringLiteral("page%1.pdf").arg(++m_pdfs));
        QString error;
        if (!writeReportPdf(pdf, tag, testId, &error))
            qWarning() << error;
        return pdf;
    }

    int bcaRecord(const QVariantMap &changes = {})
    {
        QVariantMap columns = reportsamples::resultColumns(reportsamples::smallWoman);
        for (auto it = changes.begin(); it != changes.end(); ++it)
            columns[it.key()] = it.value();
        return reportsamples::insertResult(columns);
    }

    // A man of 46 with every test measured: his age group is the oldest, so
    // a missing birth year (read as the oldest too) grades him the same.
    int fitnessRecord(const QVariantMap &changes = {})
    {
        QVariantMap row{{"UID", "F07"},
                        {"Name", "周建国"},
                        {"Sex", "1"},
                        {"BirthYear", 1980},
                        {"TestDate", "2026-05-04"},
                        {"Height", 176.5},
                        {"Weight", 71.2},
                        {"WOLI", 44.6},
                        {"FHL", 3820},
                        {"TQQ", 8.5},
                        {"TZ", 55.1},
                        {"YWQZ", 18},
                        {"FYS", 512},
                        {"FWC", 21},
                        {"BYDJ", 31.0},
                        {"ZT", 30.2},
                        {"TY", 221.0}};
        for (auto it = changes.begin(); it != changes.end(); ++it)
            row[it.key()] = it.value();
        return outputcheck::insertRow("ResultFIT", row.keys().join(", "), row.values());
    }
    int record(const QString &tag, const QVariantMap &changes = {})
    {
        return tag == sheet::fitness ? fitnessRecord(changes) : bcaRecord(changes);
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(testsupport::startProcessOn(m_dir.filePath(QStringLiteral("maindb.db"))));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("image")));
        QVERIFY(QFile::copy(testsupport::sourcePath(QStringLiteral("resources/image/diy-report.jpg")),
                            m_dir.filePath(QStringLiteral("image/diy-report.jpg"))));
        QDir::setCurrent(m_dir.path());
    }
    void cleanupTestCase() { releaseProcessState(); }

    // Each fixed sheet and the fitness report: the form's captions and the
    // values come back as text at their places; the page holds no picture and
    // no transparency, and embeds the report font.
    void formsAreVectors_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QStringList>("values"); // "text@x,y" in page units
        const QStringList bca = {"人体成分分析报告", "编号/姓名", "性别", "年龄", "身高", "体重", "测试单位"};
        const QStringList values = {"W001/林小雨@130,192", "148@216,225", "39.5@445,225", "28@107,225"};
        const QStringList chart = {"人体成分分析", "肌肉脂肪分析", "体型判定", "综合评估", "体质指数"};
        QTest::newRow("TQ-40") << "TQ-40" << bca + chart + QStringList{"生物电阻抗", "节段分析", "肌肉均衡"}
                               << values + QStringList{"26@528,278", "39.5@550,470"};
        QTest::newRow("TQ-10") << "TQ-10" << bca + chart + QStringList{"内脏脂肪", "节段肌肉", "节段脂肪"}
                               << values + QStringList{"39.5@550,420"};
        QTest::newRow("TQ-20") << "TQ-20" << bca + chart + QStringList{"节段水分", "节段脂肪"}
                               << values + QStringList{"71@850,270"};
        QTest::newRow("TQ-30") << "TQ-30" << bca + chart + QStringList{"测试须知", "内脏脂肪"}
                               << values + QStringList{"39.5@519,495"};
        QTest::newRow("water") << "水分报告"
                               << QStringList{"人体水分分析报告", "编号/姓名", "水分分析", "节段水分",
                                              "节段水肿"}
                               << values + QStringList{"(内水:外水)@540,810"};
        QTest::newRow("fitness") << "FITreport" << QStringList{"国民体质测定评估报告",
                                                               "测试成绩",
                                                               "能力评定",
                                                               "能力雷达图",
                                                               "运动建议",
                                                               "握力",
                                                               "立定跳远"}
                                 << QStringList{"F07/周建国@130,192", "176.5@216,235", "71.2@445,235",
                                                "2026-05-04@740,192", "44.6@175,380",  "221@650,580"};
    }
    void formsAreVectors()
    {
        QFETCH(QString, tag);
        QFETCH(QStringList, captions);
        QFETCH(QStringList, values);
        const QString pdf = pagePdf(tag, record(tag));
        const QString text = outputcheck::pdfText(pdf);
        for (const QString &caption : captions)
            QVERIFY2(text.contains(caption), qPrintable(caption));
        QVERIFY(!text.contains(outputcheck::radicals));
        const QVector<Word> words = pdfWords(pdf);
        for (const QString &v : values) {
            const QString expected = v.section('@', 0, 0);
            const QStringList xy = v.section('@', 1).split(',');
            QCOMPARE(wordAt(words, xy[0].toDouble(), xy[1].toDouble()).text, expected);
        }
        // No picture of any size; the form's font is embedded; every colour opaque.
        QCOMPARE(run("pdfimages", {"-list", pdf}).split('\n', Qt::SkipEmptyParts).size(), 2);
        // One font for the whole page, the cut-down face; a name character
        // outside it comes from the whole face and extracts as drawn.
        QCOMPARE(fontNames(pdf), QStringList{"WenQuanYiMicroHei-Report"});
        const QString rareName = pagePdf(tag, record(tag, {{"Name", QStringLiteral("王喆")}}));
        QCOMPARE(fontNames(rareName), (QStringList{"WenQuanYiMicroHei", "WenQuanYiMicroHei-Report"}));
        QCOMPARE(wordAt(pdfWords(rareName), 130, 192).text,
                 values.first().section('@', 0, 0).section('/', 0, 0) + QStringLiteral("/王喆"));
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains("/ca 0") && !bytes.contains("/CA 0"));
        QCOMPARE(bytes.count("/SMask"), bytes.count("/SMask /None"));
    }

    // The custom sheet is the customer's own form: its page carries the
    // picture, page-sized, under the values.
    void customSheetKeepsItsPicture()
    {
        const QString pdf = pagePdf(sheet::custom, bcaRecord());
        const QStringList rows = run("pdfimages", {"-list", pdf}).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[2].simplified().section(' ', 3, 4), QStringLiteral("960 1358"));
        QVERIFY(outputcheck::pdfText(pdf).contains("W001/林小雨"));
    }

    // An overlay value lands on the same spot of the paper with no margins
    // and with wide ones: the page covers the whole sheet of paper.
    void overlayKeepsItsPaperPosition()
    {
        const int id = bcaRecord();
        const PrintLayout layout = PrintLayout::read(sheet::tq40);
        QVector<QPointF> corners;
        for (const QMarginsF &margins : {QMarginsF(0, 0, 0, 0), QMarginsF(12, 18, 9, 21)}) {
            const QString pdf = m_dir.filePath(QStringLiteral("overlay%1.pdf").arg(corners.size()));
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setPageMargins(margins, QPageLayout::Millimeter);
            QCOMPARE(printOverlayPages(printer, sheet::tq40, {id}, 0), 1);
            const Word w = wordAt(pdfWords(pdf), layout.value("IDX"), layout.value("IDY"));
            QCOMPARE(w.text, QStringLiteral("W001/林小雨"));
            corners << QPointF(w.xMin, w.yMin);
        }
        QVERIFY2(std::fabs(corners[0].x() - corners[1].x()) < 0.2 &&
                     std::fabs(corners[0].y() - corners[1].y()) < 0.2,
                 qPrintable(QStringLiteral("%1,%2 / %3,%4")
                                .arg(corners[0].x())
                                .arg(corners[0].y())
                                .arg(corners[1].x())
                                .arg(corners[1].y())));
    }

    // Shrunk to fit down to 70 %, then cut with "…" at 70 %.
    void fitRule()
    {
        const QFont font = reportFont(16);
        const QFontMetricsF metrics(font);
        const QString name = QStringLiteral("12345678901/阿卜杜热合曼");
        const double width = metrics.horizontalAdvance(name);
        const double rooms[] = {width + 1, width * 0.8, width * 0.7, width * 0.5};
        const double scales[] = {1, 0.8, 0.7, 0.7};
        for (int i = 0; i < 4; ++i) {
            const FittedText fitted = fitText(font, name, rooms[i]);
            QVERIFY2(std::fabs(fitted.scale - scales[i]) < 1e-9, qPrintable(QString::number(fitted.scale)));
            QCOMPARE(fitted.text.endsWith(QStringLiteral("…")), i == 3);
            QVERIFY(fitted.text == name || (i == 3 && name.startsWith(fitted.text.chopped(1))));
            QVERIFY(metrics.horizontalAdvance(fitted.text) * fitted.scale <= rooms[i] + 1e-6);
        }
        // The overlay's room: up to 110 units before the next item on the line.
        QCOMPARE(idNameRoom(PrintLayout::read(sheet::tq40)).value_or(-1), 448 - 130 - 110);
        QCOMPARE(idNameRoom(PrintLayout::read(sheet::custom)).value_or(-1), 330 - 90 - 110);
        QCOMPARE(idNameRoom(
                     PrintLayout::fromValues({{"IDX", 90}, {"IDY", 205}, {"GenderX", 330}, {"GenderY", 240}}))
                     .value_or(-1),
                 -1);
    }

    // A long name, a missing birth year, missing height and weight and
    // characters of CJK extension B on every style: the whole page reads as
    // the page of the plain record but for the fields concerned.
    void pageVariants_data()
    {
        QTest::addColumn<QString>("tag");
        const QStringList tags = fixedTags + QStringList{sheet::custom, sheet::fitness};
        for (const QString &tag : tags)
            QTest::newRow(qPrintable(tag)) << tag;
    }
    void pageVariants()
    {
        QFETCH(QString, tag);
        const bool fitness = tag == sheet::fitness;
        const PrintLayout layout = PrintLayout::read(tag);
        const QPoint idAt =
            tag == sheet::custom ? QPoint(layout.value("IDX"), layout.value("IDY")) : QPoint(130, 192);
        const QPoint ageAt = tag == sheet::custom ? QPoint(layout.value("AgeX"), layout.value("AgeY"))
                                                  : QPoint(107, fitness ? 235 : 225);
        const double room = tag == sheet::custom ? *idNameRoom(layout) : idNameWidth;
        const QVector<Word> plain = pdfWords(pagePdf(tag, record(tag)));
        const QString plainId = fitness ? QStringLiteral("F07/周建国") : QStringLiteral("W001/林小雨");
        const Word plainIdWord = wordAt(plain, idAt.x(), idAt.y());
        QCOMPARE(plainIdWord.text, plainId);

        // The long name: only the number/name word differs, cut with "…" and
        // ending inside its box.
        const QVector<Word> longPage =
            pdfWords(pagePdf(tag, record(tag, {{"UID", longUid}, {"Name", longName}})));
        const Word idWord = wordAt(longPage, idAt.x(), idAt.y());
        QVERIFY2(idWord.text.startsWith(longUid + "/阿卜") && idWord.text.endsWith(QStringLiteral("…")),
                 qPrintable(idWord.text));
        QVERIFY(idWord.xMax <= kLeft + (idAt.x() + room) * kScale + 0.5);
        QStringList expected = keys(plain);
        expected.removeOne(plainIdWord.key());
        expected << idWord.key();
        expected.sort();
        QCOMPARE(keys(longPage), expected);

        // No birth year: the age box is blank, the rest of the page unchanged
        // (the fitness grid grades without an age group then, so there only
        // the age box is compared).
        const QVector<Word> noYear = pdfWords(pagePdf(tag, record(tag, {{"BirthYear", QVariant()}})));
        const Word age = wordAt(plain, ageAt.x(), ageAt.y());
        QVERIFY(!age.text.isEmpty());
        QVERIFY(wordAt(noYear, ageAt.x(), ageAt.y()).text.isEmpty());
        expected = keys(plain);
        expected.removeOne(age.key());
        if (!fitness)
            QCOMPARE(keys(noYear), expected);

        // No height or weight: the person's part of the header line holds
        // the captions only.
        const QVector<Word> noSize =
            pdfWords(pagePdf(tag, record(tag, {{"Height", QVariant()}, {"Weight", QVariant()}})));
        auto header = [&](QVector<Word> words) {
            std::sort(words.begin(), words.end(),
                      [](const Word &a, const Word &b) { return a.xMin < b.xMin; });
            QStringList line;
            for (const Word &w : words) {
                if (std::fabs(w.yMax - (kTop + ageAt.y() * kScale)) < 4 && w.xMin < kLeft + 600 * kScale)
                    line << w.text;
            }
            return line.join(' ');
        };
        QString sizes = header(plain);
        for (const char *value : {"148", "39.5", "176.5", "71.2"})
            sizes.remove(QRegularExpression(QStringLiteral("(^| )%1(?= |$)").arg(QLatin1String(value))));
        QCOMPARE(header(noSize), sizes.trimmed());
        QVERIFY(!keys(noSize).join(' ').contains("[0.0-0.0]")); // no ranges from a weight of 0

        // Extension B characters print from the fallback face (the PDF
        // engine's text map holds the basic plane only, so they do not
        // extract; the rest of the name does).
        const QString pdf = pagePdf(tag, record(tag, {{"Name", QStringLiteral("𠀀𪚥林")}}));
        QVERIFY(run("pdffonts", {pdf}).contains("HanaMin"));
        const QVector<Word> rarePage = pdfWords(pdf);
        QCOMPARE(wordAt(rarePage, idAt.x(), idAt.y()).text, plainId.section('/', 0, 0) + '/');
        QVERIFY(std::any_of(rarePage.begin(), rarePage.end(), [](const Word &w) { return w.text == "林"; }));
    }
};

QTEST_MAIN(TestVectorPages)
#include "tst_vectorpages.moc"
