// Rules of the report layout: Print flags and rows, bar lengths and clamps,
// reference values by sex, control signs, the age at the test and values that
// cannot be drawn.
#include "reports/bcasheets.h"
#include "reports/layout.h"
#include "tests/testsupport.h"

#include <QDate>
#include <QImage>
#include <QPainter>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace reports;

Q_DECLARE_METATYPE(std::optional<double>)

class TestReportLayout : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        g_previousHandler = qInstallMessageHandler(captureLog);
        QVERIFY(testsupport::startProcessOn(m_dir.filePath(QStringLiteral("maindb.db"))));
    }
    void cleanupTestCase() { releaseProcessState(); }

    void printFlag_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("Yes") << QVariant(QStringLiteral("Yes")) << true;
        QTest::newRow("lower case") << QVariant(QStringLiteral("yes")) << false;
        QTest::newRow("upper case") << QVariant(QStringLiteral("YES")) << false;
        QTest::newRow("leading blank") << QVariant(QStringLiteral(" Yes")) << false;
        QTest::newRow("trailing blank") << QVariant(QStringLiteral("Yes ")) << false;
        QTest::newRow("No") << QVariant(QStringLiteral("No")) << false;
        QTest::newRow("NULL") << QVariant() << false;
        QTest::newRow("number") << QVariant(1) << false;
    }
    // The flag decides whether the item reaches the page at all.
    void printFlag()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, drawn);
        const PrintLayout layout = PrintLayout::fromValues({{QStringLiteral("IDPrint"), value}});
        QImage image(200, 60, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        drawLayoutItem(p, layout.flag(QStringLiteral("IDPrint")), 12, QPointF(10, 40),
                       QStringLiteral("W001/林"));
        p.end();
        QImage blank(image.size(), image.format());
        blank.fill(Qt::white);
        QCOMPARE(image != blank, drawn);
    }

    void printRow_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("row");
        QTest::newRow("TQ-40") << QStringLiteral("TQ-40") << 0;
        QTest::newRow("TQ-10") << QStringLiteral("TQ-10") << 1;
        QTest::newRow("TQ-20") << QStringLiteral("TQ-20") << 2;
        QTest::newRow("TQ-30") << QStringLiteral("TQ-30") << 3;
        QTest::newRow("water") << QStringLiteral("水分报告") << 4;
        QTest::newRow("custom") << QStringLiteral("自定义报告纸") << 5;
        QTest::newRow("fitness") << QStringLiteral("FITreport") << 6;
        QTest::newRow("default sheet") << QStringLiteral("默认报告纸") << 0;
        QTest::newRow("trailing blank") << QStringLiteral("TQ-30 ") << 0;
        QTest::newRow("other case") << QStringLiteral("tq-30") << 0;
        QTest::newRow("empty") << QString() << 0;
    }
    // The row read from the supplied table is the one of the tag (row 0 for
    // any tag not known), logged column by column.
    void printRow()
    {
        QFETCH(QString, tag);
        QFETCH(int, row);
        QCOMPARE(printRowForTag(tag), row);
        g_log.clear();
        const PrintLayout layout = PrintLayout::read(tag);
        QSqlQuery q;
        QVERIFY(
            q.exec(QStringLiteral("SELECT IDPrint, IDX, LineStartX, LiverRiskY FROM Print LIMIT 1 OFFSET %1")
                       .arg(row)));
        QVERIFY(q.next());
        QCOMPARE(layout.flag(QStringLiteral("IDPrint")), q.value(0).toString() == QLatin1String("Yes"));
        QCOMPARE(layout.value(QStringLiteral("IDX")), q.value(1).toInt());
        QCOMPARE(layout.value(QStringLiteral("LineStartX")), q.value(2).toInt());
        QCOMPARE(layout.value(QStringLiteral("LiverRiskY")), q.value(3).toInt());
        QVERIFY(g_log.join(QLatin1Char('\n')).contains(QStringLiteral("modelPrint.record=")));
        QCOMPARE(g_log.filter(QRegularExpression(QStringLiteral("^[A-Za-z]+= "))).size(),
                 printColumns().size());
    }

    void printTableShape()
    {
        QCOMPARE(printColumns().size(), 224);
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("SELECT * FROM Print LIMIT 1")));
        QVERIFY(q.next());
        for (int i = 0; i < printColumns().size(); ++i)
            QCOMPARE(q.record().fieldName(i), printColumns().at(i));
    }

    // A table without the row of the tag leaves every item suppressed.
    void missingRowSuppressesEverything()
    {
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE PrintKeep AS SELECT * FROM Print")));
        QVERIFY(q.exec(QStringLiteral("DELETE FROM Print WHERE rowid > 2")));
        const PrintLayout layout = PrintLayout::read(QStringLiteral("水分报告"));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO Print SELECT * FROM PrintKeep WHERE rowid > 2")));
        QVERIFY(q.exec(QStringLiteral("DROP TABLE PrintKeep")));
        for (const QString &name : printColumns()) {
            QVERIFY2(!layout.flag(name), qPrintable(name));
            QCOMPARE(layout.value(name), 0);
        }
    }

    void barLength_data()
    {
        QTest::addColumn<std::optional<double>>("steps");
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("margin");
        QTest::addColumn<int>("maxLine");
        QTest::addColumn<int>("minLine");
        QTest::addColumn<int>("length"); // -1: no bar
        QTest::newRow("+30 %") << relativeSteps(130, 100) << 100 << 20 << 300 << 10 << 160;
        QTest::newRow("-90 % clamped up") << relativeSteps(10, 100) << 100 << 20 << 300 << 10 << 10;
        QTest::newRow("at reference") << relativeSteps(61.5, 61.5) << 165 << 35 << 350 << 10 << 165;
        QTest::newRow("+60 % clamped down") << relativeSteps(160, 100) << 165 << 35 << 350 << 10 << 350;
        QTest::newRow("truncated toward zero")
            << std::optional<double>(0.99) << 100 << 10 << 300 << 10 << 109;
        QTest::newRow("huge deviation") << std::optional<double>(1e300) << 165 << 35 << 350 << 10 << 350;
        QTest::newRow("reference 0") << relativeSteps(70, 0) << 165 << 35 << 350 << 10 << -1;
        QTest::newRow("reference NaN")
            << relativeSteps(70, std::numeric_limits<double>::quiet_NaN()) << 165 << 35 << 350 << 10 << -1;
        QTest::newRow("value inf") << relativeSteps(std::numeric_limits<double>::infinity(), 60) << 165 << 35
                                   << 350 << 10 << -1;
    }
    void barLength()
    {
        QFETCH(std::optional<double>, steps);
        QFETCH(int, base);
        QFETCH(int, margin);
        QFETCH(int, maxLine);
        QFETCH(int, minLine);
        QFETCH(int, length);
        const std::optional<int> got = lineBarLength(steps, base, margin, maxLine, minLine);
        QCOMPARE(got.has_value(), length >= 0);
        if (got)
            QCOMPARE(*got, length);
    }

    void references_data()
    {
        QTest::addColumn<bool>("male");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("weight");
        QTest::addColumn<double>("S");
        QTest::addColumn<QString>("muscle");
        QTest::addColumn<QString>("weightRange");
        QTest::addColumn<QString>("fat");
        QTest::addColumn<QString>("whr");
        QTest::newRow("male 170") << true << 170.0 << 70.0 << 49.77 << "[44.8-54.7]"
                                  << "[63.0-77.0]"
                                  << "[7.0-14.0]"
                                  << "[0.8-0.9]";
        QTest::newRow("female 160") << false << 160.0 << 50.0 << 38.33 << "[34.5-42.2]"
                                    << "[49.5-60.5]"
                                    << "[9.0-14.0]"
                                    << "[0.7-0.8]";
    }
    void references()
    {
        QFETCH(bool, male);
        QFETCH(double, height);
        QFETCH(double, weight);
        QFETCH(double, S);
        QFETCH(QString, muscle);
        QFETCH(QString, weightRange);
        QFETCH(QString, fat);
        QFETCH(QString, whr);
        const References r = referenceValues(male, height, weight);
        QVERIFY2(std::fabs(r.S - S) < 0.01, qPrintable(QString::number(r.S)));
        QCOMPARE(formatRange(r.muscle), muscle);
        QCOMPARE(formatRange(r.weight), weightRange);
        QCOMPARE(formatRange(r.fat), fat);
        QCOMPARE(formatRange(r.whr), whr);
    }

    void bodyFatBar_data()
    {
        QTest::addColumn<QString>("sex");
        QTest::addColumn<double>("pbf");
        QTest::addColumn<int>("length");
        QTest::newRow("male 15") << "1" << 15.0 << 165;
        QTest::newRow("female 23") << "2" << 23.0 << 165;
        QTest::newRow("female 15") << "2" << 15.0 << 109;
        QTest::newRow("male 20") << "1" << 20.0 << 200;
    }
    void bodyFatBar()
    {
        QFETCH(QString, sex);
        QFETCH(double, pbf);
        QFETCH(int, length);
        BcaRecord rec;
        rec.values = {{QStringLiteral("Sex"), sex},
                      {QStringLiteral("PBF"), pbf},
                      {QStringLiteral("Height"), 165.0},
                      {QStringLiteral("Weight"), 60.0}};
        const References refs = referenceValues(rec.isMale(), 165, 60);
        const BarValue bv = barValue(Bar::Pbf, rec, refs);
        QCOMPARE(lineBarLength(bv.steps, 165, 35, 350, 10).value_or(-1), length);
    }

    // Without height or weight there is no reference: no bar and no range,
    // and the value is written alone.
    void noReferenceNoBar_data()
    {
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("weight");
        QTest::newRow("height 0") << 0.0 << 70.0;
        QTest::newRow("weight 0") << 170.0 << 0.0;
        QTest::newRow("both 0") << 0.0 << 0.0;
    }
    void noReferenceNoBar()
    {
        QFETCH(double, height);
        QFETCH(double, weight);
        BcaRecord rec;
        rec.values = {{QStringLiteral("Sex"), QStringLiteral("1")},
                      {QStringLiteral("Height"), height},
                      {QStringLiteral("Weight"), weight},
                      {QStringLiteral("Muscle"), 30.5},
                      {QStringLiteral("PBF"), 18.0},
                      {QStringLiteral("BMI"), 22.0}};
        const References refs = referenceValues(true, height, weight);
        for (Bar bar : {Bar::Weight, Bar::Muscle, Bar::Pbf, Bar::Bone, Bar::Water, Bar::Smm, Bar::Bmi,
                        Bar::Whr, Bar::TotalWater, Bar::EdemaRatio, Bar::RaWater}) {
            const BarValue bv = barValue(bar, rec, refs);
            QVERIFY(!lineBarLength(bv.steps, 165, 35, 350, 10));
            QVERIFY(!bv.length);
            QVERIFY(!bv.range);
        }
        QCOMPARE(formatValue(barValue(Bar::Muscle, rec, refs).value), QStringLiteral("30.5"));
        QCOMPARE(formatPercent(12.0, weight), weight > 0 ? QStringLiteral("17.1%") : QString());
    }

    void numberTexts_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("formatted");
        QTest::addColumn<QString>("control");
        QTest::newRow("positive") << 3.25 << "3.25"
                                  << "+";
        QTest::newRow("zero") << 0.0 << "0"
                              << "";
        QTest::newRow("negative") << -7.5 << "-7.5"
                                  << "";
        QTest::newRow("inf") << std::numeric_limits<double>::infinity() << ""
                             << "+";
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << ""
                             << "";
    }
    void numberTexts()
    {
        QFETCH(double, value);
        QFETCH(QString, formatted);
        QFETCH(QString, control);
        QCOMPARE(formatValue(value), formatted);
        if (std::isfinite(value))
            QCOMPARE(controlPrefix(value), control);
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
        QTest::newRow("empty date") << 1990 << "" << thisYear - 1990;
        QTest::newRow("no year") << 1990 << "12-31" << thisYear - 1990;
    }
    void ageAtTest()
    {
        QFETCH(int, birthYear);
        QFETCH(QString, testDate);
        QFETCH(int, age);
        QCOMPARE(reports::ageAtTest(birthYear, testDate), age);
    }

    void levelCells_data()
    {
        QTest::addColumn<double>("bmi");
        QTest::addColumn<int>("cell");
        QTest::newRow("18.4") << 18.4 << 0;
        QTest::newRow("18.5") << 18.5 << 1;
        QTest::newRow("24") << 24.0 << 1;
        QTest::newRow("30") << 30.0 << 2;
        QTest::newRow("35") << 35.0 << 3;
        QTest::newRow("40") << 40.0 << 4;
        QTest::newRow("40.1") << 40.1 << 5;
    }
    void levelCells()
    {
        QFETCH(double, bmi);
        QFETCH(int, cell);
        QCOMPARE(bmiLevelIndex(bmi), cell);
    }
};

QTEST_MAIN(TestReportLayout)
#include "tst_reportlayout.moc"
