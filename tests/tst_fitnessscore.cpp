// Fitness scoring and the fitness report page: every threshold of every norm
// table, the BMI bands, the under-20 rule, sex codes, the total and its axis
// levels, and what the page draws for them (recorded, not compared as pixels).
#include "reports/fitnessreport.h"
#include "reports/fitnessscore.h"

#include "pagerecorder.h"

#include <QtTest>

using reports::FitItem;
using reports::FitnessRecord;

namespace {

// The norm tables as printed, typed in again here so that a slip in the
// program's copy fails: sex, item, banding (D: > T1, >= T2..T4; C: > T1..T4;
// R: <= T1..T4), then T1..T4 of the age groups 20-24, 25-29, 30-34 and 35+.
// Push-ups and sit-ups are the same for both sexes, the long jump by sex only.
const char *const kTables = R"(
1 FWC C   40 27 19 12        35 24 17 10        30 22 15 10        27 19 15 6
2 YWQZ C  36 25 15 5         30 20 11 3         28 19 10 3         23 14 6 2
1 TY D    265 250 210 200    265 250 210 200    265 250 210 200    265 250 210 200
2 TY D    196 182 152 142    196 182 152 142    196 182 152 142    196 182 152 142
1 WOLI D  56.3 49.3 43.6 37  57.6 50.5 44.9 38.4 57.6 50.7 45 38.1  57.7 50.3 44.5 37.3
1 FHL C   4634 3984 3464 2847 4624 3969 3459 2849 4544 3874 3344 2749 4349 3739 3209 2619
1 TQQ D   20.1 14.2 9 1.8    19.7 13.5 7.9 1    18.3 12 6.5 0      17.1 10.8 5 -2.3
1 BYDJ D  98 42 18 6         85 36 15 5         74 30 13 5         69 28 12 4
1 ZT D    45.8 38.5 32.4 24.9 43.6 36.9 31.4 24 41.1 34.8 29.4 22.4 39.5 33.1 28 21.5
1 TZ D    67.6 58.1 52.1 46.2 68.1 58.4 52 46.2 68.1 58.4 52.3 46.2 68.1 58.8 52.3 46.2
1 FYS R   389 430 490 600    389 440 510 620    409 460 520 650    409 470 540 660
2 WOLI D  35 29.9 25.8 21.2  35.3 30.2 26.2 21.8 36.1 31 27 22.4    36.4 31.3 27.1 22.4
2 FHL C   3259 2779 2354 1873 3244 2769 2364 1834 3242 2759 2339 1781 3159 2674 2249 1734
2 TQQ D   20.2 14.4 9.4 2.9  19.7 14 8.3 2      19.2 13.4 8 1.7    17.1 10.8 5 1
2 BYDJ D  90 37 16 6         84 33 15 6         72 29 13 5         62 24 10 4
2 ZT D    30.3 24.8 20.6 15.9 28.5 23.5 19.8 15.1 27.7 22.7 18.8 14.6 26.1 21.4 17.9 13.8
2 TZ D    67.1 58.1 52.3 46.2 68.6 59.2 53.3 46.9 69.1 60 53.8 47.1  69.7 60.4 53.9 46.9
2 FYS R   399 450 520 650    419 470 550 690    429 490 570 700    439 500 580 730
)";
const QStringList kItems = {"BMI", "TY", "FWC", "YWQZ", "WOLI", "FHL", "TQQ", "BYDJ", "ZT", "TZ", "FYS"};

void setValue(FitnessRecord &r, FitItem item, double v)
{
    double *reals[] = {nullptr, &r.ty,   nullptr, nullptr, &r.woli, nullptr,
                       &r.tqq,  &r.bydj, &r.zt,   &r.tz,   nullptr};
    int *wholes[] = {nullptr, nullptr, &r.fwc,  &r.ywqz, nullptr, &r.fhl,
                     nullptr, nullptr, nullptr, nullptr, &r.fys};
    if (reals[int(item)])
        *reals[int(item)] = v;
    else
        *wholes[int(item)] = int(v);
}

// Tested in 2026, so birth year 2026 - age gives |age|; BMI 20.8.
FitnessRecord person(const QString &sex, int age)
{
    return FitnessRecord{"U1", "测试", sex, 2026 - age, "2026-04-01", 170, 60};
}

// Every test measured and at its best for a man of 22.
const FitnessRecord kPerfectMan{"U1", "测试", "1", 2004, "2026-04-01", 170, 60, 60, 5000,
                                25,   70,     40,  300,  50,           120, 50, 280};

std::unique_ptr<PageRecorder> paint(const FitnessRecord &r)
{
    auto page = std::make_unique<PageRecorder>();
    QPainter painter(page.get());
    reports::paintFitnessRecord(painter, r);
    return page;
}

} // namespace

class TestFitnessScore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    // At and just past each threshold on the better side, for every table
    // at the first and the last age of each group (20 and 24, 25 and 29, ...).
    void everyThreshold_data()
    {
        QTest::addColumn<QString>("sex");
        QTest::addColumn<int>("age");
        QTest::addColumn<int>("item");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("points");
        for (const QString &line : QString::fromLatin1(kTables).split('\n', Qt::SkipEmptyParts)) {
            const QStringList f = line.split(' ', Qt::SkipEmptyParts);
            const int item = kItems.indexOf(f[1]);
            // Each group at its first and its last year of age (35+ up to 39).
            for (int age = 20; age < 40; ++age) {
                const int g = (age - 20) / 5;
                if (age % 5 != 0 && age % 5 != 4)
                    continue;
                for (int k = 1; k <= 4; ++k) {
                    const double t = f[3 + 4 * g + k - 1].toDouble();
                    const int at = f[2] == "R" ? 6 - k : f[2] == "C" || k == 1 ? 5 - k : 6 - k;
                    const int past = f[2] == "R" ? 5 - k : 6 - k;
                    const QString name = QStringLiteral("%1 %2 %3 T%4 ").arg(f[0], f[1]).arg(age).arg(k);
                    QTest::newRow(qPrintable(name + "at")) << f[0] << age << item << t << at;
                    QTest::newRow(qPrintable(name + "past"))
                        << f[0] << age << item << t + (f[2] == "D" ? 0.05 : 1) << past;
                }
            }
        }
    }
    void everyThreshold()
    {
        QFETCH(QString, sex);
        QFETCH(int, age);
        QFETCH(int, item);
        QFETCH(double, value);
        QFETCH(int, points);
        FitnessRecord r = person(sex, age);
        setValue(r, FitItem(item), value);
        const reports::FitnessGrade g = reports::assessFitness(r, age).grade(FitItem(item));
        static const char *words[] = {"不及格", "不及格", "不及格", "及格", "良好", "优秀"};
        QCOMPARE(g.points, points);
        QCOMPARE(g.word, QString::fromUtf8(words[points]));
        QCOMPARE(g.level, points == 5 ? 2 : points >= 3 ? 1 : 0);
    }

    // BMI = weight at a height of 100 cm: 5 points in [18.5, 24), 3 in [10, 30).
    void bmiBands()
    {
        const double bmis[] = {18.5, 23.99, 24, 18.49, 10, 9.99, 30, 0};
        const int points[] = {5, 5, 3, 3, 3, 1, 1, 1};
        for (int i = 0; i < 8; ++i) {
            FitnessRecord r = person(QStringLiteral("2"), 30);
            r.height = 100;
            r.weight = bmis[i];
            const reports::FitnessAssessment a = reports::assessFitness(r, 30);
            QCOMPARE(a.grade(FitItem::BMI).points, points[i]);
            QCOMPARE(a.axisLevels[reports::AxisBodyForm], points[i] / 2);
        }
    }

    // Only "1" is male: a jump of 190 cm scores 1 for a man, 4 for a woman,
    // and the tick follows.
    void sexCodes()
    {
        for (const QString sex : {"1", "2", "0", ""}) {
            const bool male = sex == QLatin1String("1");
            FitnessRecord r = person(sex, 25);
            r.ty = 190;
            QCOMPARE(reports::assessFitness(r, 25).grade(FitItem::TY).points, male ? 1 : 4);
            const auto page = paint(r);
            QCOMPARE(page->textAt(male ? 442 : 516, 192), QStringLiteral("√"));
            QCOMPARE(page->textAt(male ? 516 : 442, 192), QString());
        }
    }

    // Under 20 only body form and the long jump are graded: total = 2 x (5 + 5),
    // every bar that follows a grade at its shortest, and the age from the test year.
    void underTwenty()
    {
        FitnessRecord r = kPerfectMan;
        r.birthYear = 2026 - 19;
        const reports::FitnessAssessment a = reports::assessFitness(r, 19);
        QCOMPARE(a.total, 20);
        const auto page = paint(r);
        QCOMPARE(page->textAt(107, 235), QStringLiteral("19"));
        QCOMPARE(page->textAt(810, 235), QStringLiteral("20"));
        QCOMPARE(page->rectWidthAt(156, 712), 350.0);
        for (int y : {712, 753, 794, 834, 874, 914, 954, 994}) {
            if (y != 712)
                QCOMPARE(page->rectWidthAt(156, y), 83.0);
        }
        for (int y : {1140, 1170, 1200, 1230, 1260})
            QVERIFY2(!page->textAt(50, y).isEmpty(), qPrintable(QString::number(y)));
    }

    // A perfect record scores 110 with every axis at its top; a later item
    // sets an axis it shares with an earlier one (jump then vertical jump,
    // push-ups then sit-ups, vital capacity then step test).
    void totalAndSharedAxes()
    {
        FitnessRecord r = kPerfectMan;
        reports::FitnessAssessment a = reports::assessFitness(r, 22);
        QCOMPARE(a.total, 110);
        for (int level : a.axisLevels)
            QCOMPARE(level, 2);
        const auto page = paint(r);
        QCOMPARE(page->textAt(810, 235), QStringLiteral("110"));
        QCOMPARE(page->rectWidthAt(156, 874), 223.0);
        QCOMPARE(page->textAt(50, 1140), QString()); // no advice beyond the general line

        r.zt = 10, r.ywqz = 1, r.fhl = 1000;
        a = reports::assessFitness(r, 22);
        QCOMPARE(a.axisLevels[reports::AxisLowerLimb], 0);
        QCOMPARE(a.axisLevels[reports::AxisEndurance], 0);
        QCOMPARE(a.axisLevels[reports::AxisCardio], 2);
    }

    // The endurance bar follows push-ups for a man and sit-ups for a woman:
    // one excellent and the other failed, both ways round, for both sexes.
    void enduranceBarBySex()
    {
        const struct
        {
            const char *sex;
            int fwc, ywqz;
            double width;
        } cases[] = {{"1", 41, 0, 350}, {"2", 41, 0, 83}, {"1", 0, 37, 83}, {"2", 0, 37, 350}};
        for (const auto &c : cases) {
            FitnessRecord r = person(QLatin1String(c.sex), 22);
            r.fwc = c.fwc, r.ywqz = c.ywqz;
            QCOMPARE(paint(r)->rectWidthAt(156, 834), c.width);
        }
    }

    // A test not measured (0) leaves the grid but keeps its points: a reaction
    // time of 0 scores 5, a grip of 0 scores 1 and brings the upper-limb advice.
    void unmeasuredTests()
    {
        // item, its points, its grid row (x, y), the advice line the zero brings (0: none)
        // clang-format off
        const struct { FitItem item; int points, x, y, adviceY; } cases[] = {
            {FitItem::FYS, 5, 175, 480, 0}, {FitItem::WOLI, 1, 175, 380, 1140}, {FitItem::TQQ, 1, 650, 380, 1260}};
        // clang-format on
        for (const auto &c : cases) {
            FitnessRecord r = kPerfectMan;
            QVERIFY(!paint(r)->textAt(c.x, c.y).isEmpty());
            setValue(r, c.item, 0);
            QCOMPARE(reports::assessFitness(r, 22).grade(c.item).points, c.points);
            const auto page = paint(r);
            QCOMPARE(page->textAt(c.x, c.y), QString());
            QCOMPARE(page->textAt(c.x + (c.x < 500 ? 115 : 105), c.y), QString()); // its points
            QCOMPARE(page->textAt(810, 235), QString::number(110 - 2 * (5 - c.points)));
            QVERIFY(!c.adviceY || !page->textAt(50, c.adviceY).isEmpty());
        }
    }
};

QTEST_MAIN(TestFitnessScore)
#include "tst_fitnessscore.moc"
