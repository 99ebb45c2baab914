// Fitness scoring and the fitness report page: every threshold of every norm
// table, the BMI bands, the under-20 rule, sex codes, the total, the axis
// levels, and what the page draws for them (recorded, not compared as pixels).
#include "reports/fitnessreport.h"
#include "reports/fitnessscore.h"

#include "pagerecorder.h"

#include <QtTest>

using reports::FitItem;
using reports::FitnessRecord;

namespace {

// The norm tables as printed, T1..T4, typed in again here so that a slip in
// the program's copy shows up as a failing row.
enum Rule { Decimal, Count, Reversed };
struct TableRow
{
    const char *sex; // "1" male, "2" female
    int age;         // first age of the group
    FitItem item;
    Rule rule;
    double t[4];
};

const TableRow kTables[] = {
    // Push-ups and sit-ups, both sexes.
    {"1", 20, FitItem::FWC, Count, {40, 27, 19, 12}},
    {"2", 25, FitItem::FWC, Count, {35, 24, 17, 10}},
    {"1", 30, FitItem::FWC, Count, {30, 22, 15, 10}},
    {"2", 35, FitItem::FWC, Count, {27, 19, 15, 6}},
    {"2", 20, FitItem::YWQZ, Count, {36, 25, 15, 5}},
    {"1", 25, FitItem::YWQZ, Count, {30, 20, 11, 3}},
    {"2", 30, FitItem::YWQZ, Count, {28, 19, 10, 3}},
    {"1", 35, FitItem::YWQZ, Count, {23, 14, 6, 2}},
    // Standing long jump, by sex only.
    {"1", 19, FitItem::TY, Decimal, {265, 250, 210, 200}},
    {"1", 40, FitItem::TY, Decimal, {265, 250, 210, 200}},
    {"2", 22, FitItem::TY, Decimal, {196, 182, 152, 142}},
    // Male.
    {"1", 20, FitItem::WOLI, Decimal, {56.3, 49.3, 43.6, 37.0}},
    {"1", 25, FitItem::WOLI, Decimal, {57.6, 50.5, 44.9, 38.4}},
    {"1", 30, FitItem::WOLI, Decimal, {57.6, 50.7, 45.0, 38.1}},
    {"1", 35, FitItem::WOLI, Decimal, {57.7, 50.3, 44.5, 37.3}},
    {"1", 20, FitItem::FHL, Count, {4634, 3984, 3464, 2847}},
    {"1", 25, FitItem::FHL, Count, {4624, 3969, 3459, 2849}},
    {"1", 30, FitItem::FHL, Count, {4544, 3874, 3344, 2749}},
    {"1", 35, FitItem::FHL, Count, {4349, 3739, 3209, 2619}},
    {"1", 20, FitItem::TQQ, Decimal, {20.1, 14.2, 9.0, 1.8}},
    {"1", 25, FitItem::TQQ, Decimal, {19.7, 13.5, 7.9, 1.0}},
    {"1", 30, FitItem::TQQ, Decimal, {18.3, 12.0, 6.5, 0.0}},
    {"1", 35, FitItem::TQQ, Decimal, {17.1, 10.8, 5.0, -2.3}},
    {"1", 20, FitItem::BYDJ, Decimal, {98, 42, 18, 6}},
    {"1", 25, FitItem::BYDJ, Decimal, {85, 36, 15, 5}},
    {"1", 30, FitItem::BYDJ, Decimal, {74, 30, 13, 5}},
    {"1", 35, FitItem::BYDJ, Decimal, {69, 28, 12, 4}},
    {"1", 20, FitItem::ZT, Decimal, {45.8, 38.5, 32.4, 24.9}},
    {"1", 25, FitItem::ZT, Decimal, {43.6, 36.9, 31.4, 24.0}},
    {"1", 30, FitItem::ZT, Decimal, {41.1, 34.8, 29.4, 22.4}},
    {"1", 35, FitItem::ZT, Decimal, {39.5, 33.1, 28.0, 21.5}},
    {"1", 20, FitItem::TZ, Decimal, {67.6, 58.1, 52.1, 46.2}},
    {"1", 25, FitItem::TZ, Decimal, {68.1, 58.4, 52.0, 46.2}},
    {"1", 30, FitItem::TZ, Decimal, {68.1, 58.4, 52.3, 46.2}},
    {"1", 35, FitItem::TZ, Decimal, {68.1, 58.8, 52.3, 46.2}},
    {"1", 20, FitItem::FYS, Reversed, {389, 430, 490, 600}},
    {"1", 25, FitItem::FYS, Reversed, {389, 440, 510, 620}},
    {"1", 30, FitItem::FYS, Reversed, {409, 460, 520, 650}},
    {"1", 35, FitItem::FYS, Reversed, {409, 470, 540, 660}},
    // Female.
    {"2", 20, FitItem::WOLI, Decimal, {35.0, 29.9, 25.8, 21.2}},
    {"2", 25, FitItem::WOLI, Decimal, {35.3, 30.2, 26.2, 21.8}},
    {"2", 30, FitItem::WOLI, Decimal, {36.1, 31.0, 27.0, 22.4}},
    {"2", 35, FitItem::WOLI, Decimal, {36.4, 31.3, 27.1, 22.4}},
    {"2", 20, FitItem::FHL, Count, {3259, 2779, 2354, 1873}},
    {"2", 25, FitItem::FHL, Count, {3244, 2769, 2364, 1834}},
    {"2", 30, FitItem::FHL, Count, {3242, 2759, 2339, 1781}},
    {"2", 35, FitItem::FHL, Count, {3159, 2674, 2249, 1734}},
    {"2", 20, FitItem::TQQ, Decimal, {20.2, 14.4, 9.4, 2.9}},
    {"2", 25, FitItem::TQQ, Decimal, {19.7, 14.0, 8.3, 2.0}},
    {"2", 30, FitItem::TQQ, Decimal, {19.2, 13.4, 8.0, 1.7}},
    {"2", 35, FitItem::TQQ, Decimal, {17.1, 10.8, 5.0, 1.0}},
    {"2", 20, FitItem::BYDJ, Decimal, {90, 37, 16, 6}},
    {"2", 25, FitItem::BYDJ, Decimal, {84, 33, 15, 6}},
    {"2", 30, FitItem::BYDJ, Decimal, {72, 29, 13, 5}},
    {"2", 35, FitItem::BYDJ, Decimal, {62, 24, 10, 4}},
    {"2", 20, FitItem::ZT, Decimal, {30.3, 24.8, 20.6, 15.9}},
    {"2", 25, FitItem::ZT, Decimal, {28.5, 23.5, 19.8, 15.1}},
    {"2", 30, FitItem::ZT, Decimal, {27.7, 22.7, 18.8, 14.6}},
    {"2", 35, FitItem::ZT, Decimal, {26.1, 21.4, 17.9, 13.8}},
    {"2", 20, FitItem::TZ, Decimal, {67.1, 58.1, 52.3, 46.2}},
    {"2", 25, FitItem::TZ, Decimal, {68.6, 59.2, 53.3, 46.9}},
    {"2", 30, FitItem::TZ, Decimal, {69.1, 60.0, 53.8, 47.1}},
    {"2", 35, FitItem::TZ, Decimal, {69.7, 60.4, 53.9, 46.9}},
    {"2", 20, FitItem::FYS, Reversed, {399, 450, 520, 650}},
    {"2", 25, FitItem::FYS, Reversed, {419, 470, 550, 690}},
    {"2", 30, FitItem::FYS, Reversed, {429, 490, 570, 700}},
    {"2", 35, FitItem::FYS, Reversed, {439, 500, 580, 730}},
};

const char *itemName(FitItem item)
{
    static const char *names[] = {"BMI", "TY",   "FWC", "YWQZ", "WOLI", "FHL",
                                  "TQQ", "BYDJ", "ZT",  "TZ",   "FYS"};
    return names[int(item)];
}

void setValue(FitnessRecord &r, FitItem item, double v)
{
    switch (item) {
    case FitItem::TY:
        r.ty = v;
        break;
    case FitItem::FWC:
        r.fwc = int(v);
        break;
    case FitItem::YWQZ:
        r.ywqz = int(v);
        break;
    case FitItem::WOLI:
        r.woli = v;
        break;
    case FitItem::FHL:
        r.fhl = int(v);
        break;
    case FitItem::TQQ:
        r.tqq = v;
        break;
    case FitItem::BYDJ:
        r.bydj = v;
        break;
    case FitItem::ZT:
        r.zt = v;
        break;
    case FitItem::TZ:
        r.tz = v;
        break;
    case FitItem::FYS:
        r.fys = int(v);
        break;
    default:
        break;
    }
}

QString wordFor(int points)
{
    return points == 5   ? QStringLiteral("优秀")
           : points == 4 ? QStringLiteral("良好")
           : points == 3 ? QStringLiteral("及格")
                         : QStringLiteral("不及格");
}

// A record whose test date is 2026, so that birth year 2026 - age gives |age|.
FitnessRecord person(const QString &sex, int age)
{
    FitnessRecord r;
    r.uid = QStringLiteral("U1");
    r.name = QStringLiteral("测试");
    r.sex = sex;
    r.birthYear = 2026 - age;
    r.testDate = QStringLiteral("2026-04-01");
    r.height = 170;
    r.weight = 60;
    return r;
}

// Every test measured and at its best for a man of 22.
FitnessRecord perfectMan()
{
    FitnessRecord r = person(QStringLiteral("1"), 22);
    r.woli = 60;
    r.fhl = 5000;
    r.tqq = 25;
    r.tz = 70;
    r.ywqz = 40;
    r.fys = 300;
    r.fwc = 50;
    r.bydj = 120;
    r.zt = 50;
    r.ty = 280;
    return r;
}

const int kBarYs[] = {712, 753, 794, 834, 874, 914, 954, 994};

} // namespace

class TestFitnessScore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void everyThresholdOfEveryTable_data();
    void everyThresholdOfEveryTable();
    void bmiBands_data();
    void bmiBands();
    void sexCodes_data();
    void sexCodes();
    void underTwentyGradesOnlyBodyFormAndJump();
    void perfectRecordScores110();
    void laterItemSetsSharedAxis();
    void unmeasuredTestsLeaveTheGrid_data();
    void unmeasuredTestsLeaveTheGrid();
};

void TestFitnessScore::everyThresholdOfEveryTable_data()
{
    QTest::addColumn<QString>("sex");
    QTest::addColumn<int>("age");
    QTest::addColumn<int>("item");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("points");

    // The cases called out for a man of 22.
    QTest::newRow("male 22 FHL 3465") << "1" << 22 << int(FitItem::FHL) << 3465.0 << 3;
    QTest::newRow("male 22 FHL 3464") << "1" << 22 << int(FitItem::FHL) << 3464.0 << 2;
    QTest::newRow("male 22 FHL 2847") << "1" << 22 << int(FitItem::FHL) << 2847.0 << 1;
    QTest::newRow("male 22 WOLI 49.3") << "1" << 22 << int(FitItem::WOLI) << 49.3 << 4;
    QTest::newRow("male 22 WOLI 37.0") << "1" << 22 << int(FitItem::WOLI) << 37.0 << 2;
    QTest::newRow("male 22 FYS 0 (not measured)") << "1" << 22 << int(FitItem::FYS) << 0.0 << 5;

    // At and just past each threshold, on the better side.
    for (const TableRow &row : kTables) {
        for (int k = 1; k <= 4; ++k) {
            const double t = row.t[k - 1];
            double past = 0;
            int atPoints = 0;
            int pastPoints = 0;
            switch (row.rule) {
            case Decimal: // > T1, >= T2..T4
                past = t + 0.05;
                atPoints = k == 1 ? 4 : 6 - k;
                pastPoints = 6 - k;
                break;
            case Count: // > T1..T4
                past = t + 1;
                atPoints = 5 - k;
                pastPoints = 6 - k;
                break;
            case Reversed: // <= T1..T4, lower is better
                past = t + 1;
                atPoints = 6 - k;
                pastPoints = 5 - k;
                break;
            }
            const QByteArray base = QByteArray(row.sex[0] == '1' ? "male " : "female ") +
                                    QByteArray::number(row.age) + ' ' + itemName(row.item) + " T" +
                                    QByteArray::number(k);
            QTest::newRow((base + " at").constData())
                << QString::fromLatin1(row.sex) << row.age << int(row.item) << t << atPoints;
            QTest::newRow((base + " past").constData())
                << QString::fromLatin1(row.sex) << row.age << int(row.item) << past << pastPoints;
        }
    }
}

void TestFitnessScore::everyThresholdOfEveryTable()
{
    QFETCH(QString, sex);
    QFETCH(int, age);
    QFETCH(int, item);
    QFETCH(double, value);
    QFETCH(int, points);
    FitnessRecord r = person(sex, age);
    setValue(r, FitItem(item), value);
    const reports::FitnessGrade g = reports::assessFitness(r, age).grade(FitItem(item));
    QCOMPARE(g.points, points);
    QCOMPARE(g.word, wordFor(points));
    QCOMPARE(g.level, points == 5 ? 2 : points >= 3 ? 1 : 0);
}

void TestFitnessScore::bmiBands_data()
{
    // Height 100 cm makes the BMI equal to the weight.
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("weight");
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("word");
    QTest::newRow("18.5") << 100.0 << 18.5 << 5 << "优秀";
    QTest::newRow("23.99") << 100.0 << 23.99 << 5 << "优秀";
    QTest::newRow("24.0") << 100.0 << 24.0 << 3 << "良好";
    QTest::newRow("18.49") << 100.0 << 18.49 << 3 << "良好";
    QTest::newRow("10") << 100.0 << 10.0 << 3 << "良好";
    QTest::newRow("9.99") << 100.0 << 9.99 << 1 << "不及格";
    QTest::newRow("30") << 100.0 << 30.0 << 1 << "不及格";
    QTest::newRow("no height") << 0.0 << 60.0 << 1 << "不及格";
}

void TestFitnessScore::bmiBands()
{
    QFETCH(double, height);
    QFETCH(double, weight);
    QFETCH(int, points);
    QFETCH(QString, word);
    FitnessRecord r = person(QStringLiteral("2"), 30);
    r.height = height;
    r.weight = weight;
    const reports::FitnessAssessment a = reports::assessFitness(r, 30);
    QCOMPARE(a.grade(FitItem::BMI).points, points);
    QCOMPARE(a.grade(FitItem::BMI).word, word);
    QCOMPARE(a.axisLevels[reports::AxisBodyForm], points == 5 ? 2 : points == 3 ? 1 : 0);
}

void TestFitnessScore::sexCodes_data()
{
    // A jump of 190 cm: 1 point for a man, 4 for a woman.
    QTest::addColumn<QString>("sex");
    QTest::addColumn<int>("points");
    QTest::addColumn<double>("markX");
    QTest::newRow("1 male") << "1" << 1 << 442.0;
    QTest::newRow("2 female") << "2" << 4 << 516.0;
    QTest::newRow("0 female") << "0" << 4 << 516.0;
    QTest::newRow("empty female") << "" << 4 << 516.0;
}

void TestFitnessScore::sexCodes()
{
    QFETCH(QString, sex);
    QFETCH(int, points);
    QFETCH(double, markX);
    FitnessRecord r = person(sex, 25);
    r.ty = 190;
    QCOMPARE(reports::assessFitness(r, 25).grade(FitItem::TY).points, points);
    PageRecorder page;
    QPainter painter(&page);
    reports::paintFitnessRecord(painter, r);
    painter.end();
    QCOMPARE(page.textAt(markX, 192), QStringLiteral("√"));
    QCOMPARE(page.textAt(markX == 442.0 ? 516 : 442, 192), QString());
}

void TestFitnessScore::underTwentyGradesOnlyBodyFormAndJump()
{
    FitnessRecord r = perfectMan();
    r.birthYear = 2026 - 19;
    const reports::FitnessAssessment a = reports::assessFitness(r, 19);
    QCOMPARE(a.grade(FitItem::BMI).points, 5);
    QCOMPARE(a.grade(FitItem::TY).points, 5);
    QCOMPARE(a.total, 2 * (5 + 5));
    for (FitItem item : {FitItem::FWC, FitItem::YWQZ, FitItem::WOLI, FitItem::FHL, FitItem::TQQ,
                         FitItem::BYDJ, FitItem::ZT, FitItem::TZ, FitItem::FYS}) {
        QCOMPARE(a.grade(item).points, 0);
        QCOMPARE(a.grade(item).word, QStringLiteral("不及格"));
    }

    PageRecorder page;
    QPainter painter(&page);
    reports::paintFitnessRecord(painter, r);
    painter.end();
    QCOMPARE(page.textAt(107, 235), QStringLiteral("19"));
    QCOMPARE(page.textAt(810, 235), QStringLiteral("20"));
    QCOMPARE(page.rectWidthAt(156, 712), 350.0); // body form keeps its grade
    for (int y : kBarYs) {
        if (y != 712)
            QCOMPARE(page.rectWidthAt(156, y), 83.0);
    }
    for (int y : {1140, 1170, 1200, 1230, 1260})
        QVERIFY2(!page.textAt(50, y).isEmpty(), qPrintable(QString::number(y)));
}

void TestFitnessScore::perfectRecordScores110()
{
    const FitnessRecord r = perfectMan();
    const reports::FitnessAssessment a = reports::assessFitness(r, 22);
    QCOMPARE(a.total, 110);
    for (int level : a.axisLevels)
        QCOMPARE(level, 2);

    PageRecorder page;
    QPainter painter(&page);
    reports::paintFitnessRecord(painter, r);
    painter.end();
    QCOMPARE(page.textAt(810, 235), QStringLiteral("110"));
    QCOMPARE(page.textAt(650, 580), QStringLiteral("280")); // a grid value
    QCOMPARE(page.textAt(840, 580), QStringLiteral("优秀"));
    QCOMPARE(page.rectWidthAt(156, 874), 223.0); // cardio bar follows the axis level
    QCOMPARE(page.rectWidthAt(156, 834), 350.0);
    QVERIFY(!page.textAt(50, 1080).isEmpty());
    for (int y : {1110, 1140, 1170, 1200, 1230, 1260})
        QCOMPARE(page.textAt(50, y), QString());
}

void TestFitnessScore::laterItemSetsSharedAxis()
{
    // Jump excellent then vertical jump failed; push-ups excellent then sit-ups
    // failed; vital capacity failed then step test excellent.
    FitnessRecord r = perfectMan();
    r.zt = 10;
    r.ywqz = 1;
    r.fhl = 1000;
    const reports::FitnessAssessment a = reports::assessFitness(r, 22);
    QCOMPARE(a.axisLevels[reports::AxisLowerLimb], 0);
    QCOMPARE(a.axisLevels[reports::AxisEndurance], 0);
    QCOMPARE(a.axisLevels[reports::AxisCardio], 2);
}

void TestFitnessScore::unmeasuredTestsLeaveTheGrid_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("points");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<int>("adviceY"); // advice line the zero brings, 0 for none
    QTest::newRow("reaction time 0") << int(FitItem::FYS) << 5 << 175.0 << 480.0 << 0;
    QTest::newRow("grip 0") << int(FitItem::WOLI) << 1 << 175.0 << 380.0 << 1140;
    QTest::newRow("vertical jump 0") << int(FitItem::ZT) << 1 << 650.0 << 530.0 << 1170;
    QTest::newRow("sit-and-reach 0") << int(FitItem::TQQ) << 1 << 650.0 << 380.0 << 1260;
}

void TestFitnessScore::unmeasuredTestsLeaveTheGrid()
{
    QFETCH(int, item);
    QFETCH(int, points);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(int, adviceY);
    FitnessRecord r = perfectMan();
    PageRecorder before;
    {
        QPainter painter(&before);
        reports::paintFitnessRecord(painter, r);
    }
    QVERIFY(!before.textAt(x, y).isEmpty());

    setValue(r, FitItem(item), 0);
    const reports::FitnessAssessment a = reports::assessFitness(r, 22);
    QCOMPARE(a.grade(FitItem(item)).points, points);
    QCOMPARE(a.total, 110 - 2 * (5 - points));
    PageRecorder page;
    {
        QPainter painter(&page);
        reports::paintFitnessRecord(painter, r);
    }
    QCOMPARE(page.textAt(x, y), QString());
    QCOMPARE(page.textAt(x + (x < 500 ? 115 : 105), y), QString()); // its points
    QCOMPARE(page.textAt(810, 235), QString::number(a.total));
    if (adviceY)
        QVERIFY(!page.textAt(50, adviceY).isEmpty());
}

QTEST_MAIN(TestFitnessScore)
#include "tst_fitnessscore.moc"
