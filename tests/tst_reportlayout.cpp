// Rules of the report layout: Print flags and rows, bar lengths and clamps,
// reference values by sex, value and control texts, the age at the test.
#include "reports/bcasheets.h"
#include "reports/layout.h"
#include "tests/testsupport.h"

#include <QDate>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace reports;

Q_DECLARE_METATYPE(std::optional<double>)

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
} // namespace

class TestReportLayout : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(testsupport::startProcessOn(m_dir.filePath(QStringLiteral("maindb.db"))));
    }
    void cleanupTestCase() { releaseProcessState(); }

    // Only exactly "Yes" lets an item reach the page.
    void printFlag()
    {
        QVERIFY(PrintLayout::fromValues({{"IDPrint", "Yes"}}).flag(QStringLiteral("IDPrint")));
        for (const QVariant &v :
             {QVariant("yes"), QVariant(" Yes"), QVariant("Yes "), QVariant(), QVariant(1)})
            QVERIFY2(!PrintLayout::fromValues({{"IDPrint", v}}).flag(QStringLiteral("IDPrint")),
                     qPrintable(v.toString()));
    }

    // The row of the supplied table read for a tag: row 0 for any tag not known.
    void printRow_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("row");
        const char *tags[] = {"TQ-40", "TQ-10", "TQ-20", "TQ-30", "水分报告", "自定义报告纸", "FITreport"};
        for (int row = 0; row < 7; ++row)
            QTest::newRow(tags[row]) << QString::fromUtf8(tags[row]) << row;
        QTest::newRow("default sheet") << QStringLiteral("默认报告纸") << 0;
        QTest::newRow("trailing blank") << QStringLiteral("TQ-30 ") << 0;
        QTest::newRow("other case") << QStringLiteral("tq-30") << 0;
        QTest::newRow("empty") << QString() << 0;
    }
    void printRow()
    {
        QFETCH(QString, tag);
        QFETCH(int, row);
        QCOMPARE(printRowForTag(tag), row);
        const PrintLayout layout = PrintLayout::read(tag);
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("SELECT * FROM Print LIMIT 1 OFFSET %1").arg(row)));
        QVERIFY(q.next());
        // Every column of the table, by name and in table order.
        QCOMPARE(printColumns().size(), q.record().count());
        for (int i = 0; i < q.record().count(); ++i) {
            const QString name = q.record().fieldName(i);
            QCOMPARE(printColumns().at(i), name);
            if (name.endsWith(QLatin1String("Print")))
                QCOMPARE(layout.flag(name), q.value(i).toString() == QLatin1String("Yes"));
            else
                QCOMPARE(layout.value(name), q.value(i).toInt());
        }
    }

    void barLength_data()
    {
        QTest::addColumn<std::optional<double>>("steps");
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("length"); // -1: no bar; margin 35, clamps 10 and 350
        QTest::newRow("+30 %") << relativeSteps(130, 100) << 100 << 205;
        QTest::newRow("-90 % clamped up") << relativeSteps(10, 100) << 165 << 10;
        QTest::newRow("at reference") << relativeSteps(61.5, 61.5) << 165 << 165;
        QTest::newRow("+60 % clamped down") << relativeSteps(160, 100) << 165 << 350;
        QTest::newRow("truncated, not rounded") << std::optional<double>(0.99) << 100 << 134;
        QTest::newRow("huge deviation") << std::optional<double>(1e300) << 165 << 350;
        QTest::newRow("reference 0") << relativeSteps(70, 0) << 165 << -1;
        QTest::newRow("reference NaN") << relativeSteps(70, kNaN) << 165 << -1;
        QTest::newRow("value inf") << relativeSteps(kInf, 60) << 165 << -1;
    }
    void barLength()
    {
        QFETCH(std::optional<double>, steps);
        QFETCH(int, base);
        QFETCH(int, length);
        QCOMPARE(lineBarLength(steps, base, 35, 350, 10).value_or(-1), length);
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
        const struct
        {
            const char *sex;
            double pbf, height;
            int length;
        } cases[] = {{"1", 15, 165, 165},
                     {"2", 23, 165, 165},
                     {"2", 15, 165, 109},
                     {"1", 20, 165, 200},
                     {"1", 15, 0, -1}};
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
    void ageAtTest()
    {
        const char *dates[] = {"2015-06-01", "2019/12/31 23:59", "31.12.2005", "20190301", "12-31"};
        const int ages[] = {25, 29, 15, 29, QDate::currentDate().year() - 1990};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(reports::ageAtTest(1990, QString::fromLatin1(dates[i])), ages[i]);
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

QTEST_MAIN(TestReportLayout)
#include "tst_reportlayout.moc"
