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
    void printFlag_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("Yes") << QVariant(QStringLiteral("Yes")) << true;
        QTest::newRow("lower case") << QVariant(QStringLiteral("yes")) << false;
        QTest::newRow("leading blank") << QVariant(QStringLiteral(" Yes")) << false;
        QTest::newRow("trailing blank") << QVariant(QStringLiteral("Yes ")) << false;
        QTest::newRow("NULL") << QVariant() << false;
        QTest::newRow("number") << QVariant(1) << false;
    }
    void printFlag()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, drawn);
        QCOMPARE(
            PrintLayout::fromValues({{QStringLiteral("IDPrint"), value}}).flag(QStringLiteral("IDPrint")),
            drawn);
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

    void references_data()
    {
        QTest::addColumn<bool>("male");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("S");
        QTest::addColumn<QStringList>("ranges"); // muscle, weight, fat, WHR
        QTest::newRow("male 170") << true << 170.0 << 49.77
                                  << QStringList{"[44.8-54.7]", "[63.0-77.0]", "[7.0-14.0]", "[0.8-0.9]"};
        QTest::newRow("female 160") << false << 160.0 << 38.33
                                    << QStringList{"[34.5-42.2]", "[49.5-60.5]", "[9.0-14.0]", "[0.7-0.8]"};
    }
    void references()
    {
        QFETCH(bool, male);
        QFETCH(double, height);
        QFETCH(double, S);
        QFETCH(QStringList, ranges);
        const References r = referenceValues(male, height, male ? 70 : 50);
        QVERIFY2(std::fabs(r.S - S) < 0.01, qPrintable(QString::number(r.S)));
        QCOMPARE((QStringList{formatRange(r.muscle), formatRange(r.weight), formatRange(r.fat),
                              formatRange(r.whr)}),
                 ranges);
    }

    // The body-fat bar has its reference length at PBF 15 for a man, 23 for
    // a woman; without height or weight no bar has a reference.
    void bodyFatBar_data()
    {
        QTest::addColumn<QString>("sex");
        QTest::addColumn<double>("pbf");
        QTest::addColumn<double>("height");
        QTest::addColumn<int>("length");
        QTest::newRow("male 15") << "1" << 15.0 << 165.0 << 165;
        QTest::newRow("female 23") << "2" << 23.0 << 165.0 << 165;
        QTest::newRow("female 15") << "2" << 15.0 << 165.0 << 109;
        QTest::newRow("male 20") << "1" << 20.0 << 165.0 << 200;
        QTest::newRow("height 0") << "1" << 15.0 << 0.0 << -1;
    }
    void bodyFatBar()
    {
        QFETCH(QString, sex);
        QFETCH(double, pbf);
        QFETCH(double, height);
        QFETCH(int, length);
        BcaRecord rec;
        rec.values = {{QStringLiteral("Sex"), sex},
                      {QStringLiteral("PBF"), pbf},
                      {QStringLiteral("Height"), height},
                      {QStringLiteral("Weight"), 60.0}};
        const References refs = referenceValues(rec.isMale(), height, 60);
        QCOMPARE(lineBarLength(barValue(Bar::Pbf, rec, refs).steps, 165, 35, 350, 10).value_or(-1), length);
        if (length < 0) {
            for (Bar bar : {Bar::Weight, Bar::Muscle, Bar::Bone, Bar::Water, Bar::Smm, Bar::Bmi, Bar::Whr,
                            Bar::TotalWater, Bar::EdemaRatio, Bar::RaWater}) {
                const BarValue bv = barValue(bar, rec, refs);
                QVERIFY(!bv.steps && !bv.length && !bv.range);
            }
        }
    }

    // Values as written ('g', 6; nothing for NaN/inf), "+" before control
    // amounts above 0 only, 12 as a share of the value.
    void numberTexts_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QStringList>("texts"); // value, control sign, share
        QTest::newRow("positive") << 3.25 << QStringList{"3.25", "+", "369.2%"};
        QTest::newRow("zero") << 0.0 << QStringList{"0", "", ""};
        QTest::newRow("negative") << -7.5 << QStringList{"-7.5", "", "-160.0%"};
        QTest::newRow("NaN") << kNaN << QStringList{"", "", ""};
    }
    void numberTexts()
    {
        QFETCH(double, value);
        QFETCH(QStringList, texts);
        QCOMPARE((QStringList{formatValue(value), controlPrefix(value), formatPercent(12.0, value)}), texts);
    }

    void ageAtTest_data()
    {
        const int thisYear = QDate::currentDate().year();
        QTest::addColumn<int>("birthYear");
        QTest::addColumn<QString>("testDate");
        QTest::addColumn<int>("age");
        QTest::newRow("earlier year") << 1990 << "2015-06-01" << 25;
        QTest::newRow("date and time") << 1990 << "2019/12/31 23:59" << 29;
        QTest::newRow("year last") << 1980 << "31.12.2001" << 21;
        QTest::newRow("digits only") << 1990 << "20190301" << 29;
        QTest::newRow("no year") << 1990 << "12-31" << thisYear - 1990;
    }
    void ageAtTest()
    {
        QFETCH(int, birthYear);
        QFETCH(QString, testDate);
        QFETCH(int, age);
        QCOMPARE(reports::ageAtTest(birthYear, testDate), age);
    }

    void bmiCells_data()
    {
        QTest::addColumn<double>("bmi");
        QTest::addColumn<int>("cell");
        const double edges[] = {18.4, 18.5, 24, 24.1, 30, 35, 40, 40.1};
        const int cells[] = {0, 1, 1, 2, 2, 3, 4, 5};
        for (int i = 0; i < 8; ++i)
            QTest::newRow(qPrintable(QString::number(edges[i]))) << edges[i] << cells[i];
    }
    void bmiCells()
    {
        QFETCH(double, bmi);
        QFETCH(int, cell);
        QCOMPARE(bmiLevelIndex(bmi), cell);
    }
};

QTEST_MAIN(TestReportLayout)
#include "tst_reportlayout.moc"
