// Derived body-composition values: two-decimal rounding, body type bands and
// their sex-specific limits, the fatty-liver ladder, and the two methods of
// the segment water split.
#include "records/indicators.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace indicators;

namespace {
// Exact equality: the rounded values are stored and compared as they are.
bool same(double a, double b)
{
    return a == b;
}

SegmentValues segments(double ra, double la, double tr, double rl, double ll)
{
    return {ra, la, tr, rl, ll};
}
} // namespace

class TestIndicators : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundingFormatsAndParses();
    void waterIsNotRounded();
    void bodyType_data();
    void bodyType();
    void bodyTypeKeepsThePreviousWhenUndecidable();
    void liverRisk_data();
    void liverRisk();
    void impedanceMethod();
    void muscleMethod();
    void methodDependsOnRightArmOnly();
    void missingSegmentComposition();
};

void TestIndicators::initTestCase()
{
    // The derivations log every value; keep the test output readable.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            fprintf(stderr, "%s\n", qPrintable(msg));
    });
}

void TestIndicators::roundingFormatsAndParses()
{
    QVERIFY(same(roundTo2(0.1 + 0.2), 0.3)); // the parsed text, not 0.30000000000000004
    QVERIFY(same(roundTo2(0.3895), 0.39));
    QVERIFY(same(roundTo2(0.384999), 0.38));
    QVERIFY(same(roundTo2(12.0), 12.0));
    QVERIFY(same(roundTo2(-1.236), -1.24));
    // 2.675 is held as 2.67499999...: formatting gives 2.67 where scaling by
    // 100 and rounding would give 2.68.
    QVERIFY(same(roundTo2(2.675), 2.67));
    QVERIFY(same(roundTo2(1234567.891), 1234567.89));
}

void TestIndicators::waterIsNotRounded()
{
    QVERIFY(same(Water(20.123, 12.456), 20.123 + 12.456));
    QVERIFY(same(Water(0, 0), 0));
}

void TestIndicators::bodyType_data()
{
    QTest::addColumn<QString>("sex");
    QTest::addColumn<double>("bmi");
    QTest::addColumn<double>("pbf");
    QTest::addColumn<QString>("expected");

    const QString man = QStringLiteral("1");
    const QString woman = QStringLiteral("2");
    // BMI and fat bands, one case per word and sex.
    QTest::newRow("man obese") << man << 24.0 << 20.1 << bodytype::obese;
    QTest::newRow("man overweight") << man << 24.0 << 15.0 << bodytype::overweight;
    QTest::newRow("man athletic") << man << 24.0 << 9.9 << bodytype::athletic;
    QTest::newRow("man excess fat") << man << 23.9 << 20.5 << bodytype::excessFat;
    QTest::newRow("man healthy") << man << 18.5 << 10.0 << bodytype::healthy;
    QTest::newRow("man low fat") << man << 21.0 << 9.99 << bodytype::lowFat;
    QTest::newRow("man hidden obesity") << man << 18.4 << 20.01 << bodytype::hiddenObesity;
    QTest::newRow("man insufficient muscle") << man << 18.4 << 20.0 << bodytype::insufficientMuscle;
    QTest::newRow("man thin") << man << 18.4 << 9.9 << bodytype::thin;
    QTest::newRow("woman obese") << woman << 30.0 << 35.0 << bodytype::obese;
    QTest::newRow("woman overweight") << woman << 24.0 << 28.0 << bodytype::overweight;
    QTest::newRow("woman athletic") << woman << 25.0 << 17.9 << bodytype::athletic;
    QTest::newRow("woman excess fat") << woman << 23.8 << 28.1 << bodytype::excessFat;
    QTest::newRow("woman healthy") << woman << 23.9 << 28.0 << bodytype::healthy;
    QTest::newRow("woman low fat") << woman << 18.5 << 17.99 << bodytype::lowFat;
    QTest::newRow("woman hidden obesity") << woman << 18.0 << 28.5 << bodytype::hiddenObesity;
    QTest::newRow("woman insufficient muscle") << woman << 17.0 << 18.0 << bodytype::insufficientMuscle;
    QTest::newRow("woman thin") << woman << 16.0 << 12.0 << bodytype::thin;

    // The limits differ by sex: the same values fall into different bands.
    QTest::newRow("pbf 17.9 bmi 25 woman") << woman << 25.0 << 17.9 << bodytype::athletic;
    QTest::newRow("pbf 17.9 bmi 25 man") << man << 25.0 << 17.9 << bodytype::overweight;
    QTest::newRow("pbf 25 bmi 21 man") << man << 21.0 << 25.0 << bodytype::excessFat;
    QTest::newRow("pbf 25 bmi 21 woman") << woman << 21.0 << 25.0 << bodytype::healthy;
    // BMI exactly 23.9 counts as obese with the female limits only.
    QTest::newRow("bmi 23.9 woman") << woman << 23.9 << 28.5 << bodytype::obese;
    QTest::newRow("bmi 23.9 man") << man << 23.9 << 20.5 << bodytype::excessFat;
    QTest::newRow("bmi 23.9 man pbf 30") << man << 23.9 << 30.0 << bodytype::excessFat;
    // Any sex text but "1" takes the female limits.
    QTest::newRow("sex 0 bmi 23.9") << QStringLiteral("0") << 23.9 << 28.5 << bodytype::obese;
    QTest::newRow("sex empty pbf 15") << QString() << 21.0 << 15.0 << bodytype::lowFat;
    QTest::newRow("sex 男 pbf 25") << QStringLiteral("男") << 21.0 << 25.0 << bodytype::healthy;
}

void TestIndicators::bodyType()
{
    QFETCH(QString, sex);
    QFETCH(double, bmi);
    QFETCH(double, pbf);
    QFETCH(QString, expected);
    QCOMPARE(bodyTypeRule(sex, bmi, pbf, QStringLiteral("previous")), expected);
}

void TestIndicators::bodyTypeKeepsThePreviousWhenUndecidable()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QCOMPARE(bodyTypeRule(QStringLiteral("1"), nan, 15.0, bodytype::thin), bodytype::thin);
    QCOMPARE(bodyTypeRule(QStringLiteral("2"), 22.0, nan, QString()), QString());
    // A decidable case replaces the previous word.
    QCOMPARE(bodyTypeRule(QStringLiteral("2"), 22.0, 22.0, bodytype::thin), bodytype::healthy);
}

void TestIndicators::liverRisk_data()
{
    QTest::addColumn<QString>("sex");
    QTest::addColumn<double>("fat");
    QTest::addColumn<int>("risk");

    // Each step starts at its lower bound; just below it the previous step holds.
    const struct
    {
        const char *sex;
        double bounds[9];
    } ladders[] = {
        {"1", {10.0, 11.9, 13.6, 14.9, 16.55, 16.8, 17.7, 19.3, 22.0}},
        {"2", {10.6, 13.0, 14.7, 16.1, 17.45, 18.4, 20.1, 22.0, 24.9}},
    };
    for (const auto &l : ladders) {
        const QString sex = QLatin1String(l.sex);
        QTest::addRow("sex %s fat 0", l.sex) << sex << 0.0 << 0;
        for (int step = 0; step < 9; ++step) {
            const double bound = l.bounds[step];
            QTest::addRow("sex %s below %g", l.sex, bound) << sex << bound - 0.001 << step * 10;
            QTest::addRow("sex %s at %g", l.sex, bound) << sex << bound << (step + 1) * 10;
        }
        QTest::addRow("sex %s fat 60", l.sex) << sex << 60.0 << 90;
    }
    QTest::newRow("man 16.7 in the narrow band") << QStringLiteral("1") << 16.7 << 50;
    QTest::newRow("woman 9.99") << QStringLiteral("2") << 9.99 << 0;
    QTest::newRow("sex 0") << QStringLiteral("0") << 30.0 << 0;
    QTest::newRow("sex empty") << QString() << 15.0 << 0;
    QTest::newRow("sex 男") << QStringLiteral("男") << 15.0 << 0;
}

void TestIndicators::liverRisk()
{
    QFETCH(QString, sex);
    QFETCH(double, fat);
    QFETCH(int, risk);
    QCOMPARE(liverRiskLadder(sex, fat), risk);
}

void TestIndicators::impedanceMethod()
{
    // Each segment has its own impedance, so a mixed-up segment shows.
    const SegmentValues z50 = segments(300, 450, 300, 150, 600);
    const SegmentValues muscle = segments(3, 3, 25, 9, 9); // not used by this method
    const SegmentValues water = segments(2.5, 2.4, 20.0, 7.5, 7.0);
    const SegmentWater s = segmentWaterSplit(0.38, z50, muscle, water);
    QVERIFY(s.impedanceMethod);

    // RA: 1 - 0.62 * 1 - 0.02
    QVERIFY(same(s.edema[RA], 0.36));
    QVERIFY(same(s.ecw[RA], 0.9));
    QVERIFY(same(s.icw[RA], 1.6));
    // LA: 1 - 0.62 * 1.05 - 0.02 = 0.329
    QVERIFY(same(s.edema[LA], 0.33));
    // The ECW multiplies the rounded coefficient: 2.4 * 0.33 = 0.792, not 2.4 * 0.329 = 0.7896.
    QVERIFY(same(s.ecw[LA], 0.79));
    QVERIFY(same(s.icw[LA], 1.61));
    // The trunk subtracts 0.03: 1 - 0.62 - 0.03 = 0.35.
    QVERIFY(same(s.edema[TR], 0.35));
    QVERIFY(same(s.ecw[TR], 7.0));
    QVERIFY(same(s.icw[TR], 13.0));
    // RL: 1 - 0.62 * 0.95 - 0.02 = 0.391
    QVERIFY(same(s.edema[RL], 0.39));
    QVERIFY(same(s.ecw[RL], 2.93)); // 7.5 * 0.39 = 2.925
    QVERIFY(same(s.icw[RL], 4.57));
    // LL: 1 - 0.62 * 1.1 - 0.02 = 0.298
    QVERIFY(same(s.edema[LL], 0.3));
    QVERIFY(same(s.ecw[LL], 2.1));
    QVERIFY(same(s.icw[LL], 4.9));
}

void TestIndicators::muscleMethod()
{
    const SegmentValues z50 = segments(0, 0, 0, 0, 0);
    const SegmentValues muscle = segments(3.0, 50.0, 25.0, 9.0, 100.0);
    const SegmentValues water = segments(10.0, 2.0, 20.0, 7.0, 1.0);
    const SegmentWater s = segmentWaterSplit(0.38, z50, muscle, water);
    QVERIFY(!s.impedanceMethod);

    // A limb lowers the coefficient by its muscle: 0.997 * 0.38 = 0.37886.
    QVERIFY(same(s.edema[RA], 0.38));
    // 10 * 0.38 with the rounded coefficient, not 3.7886.
    QVERIFY(same(s.ecw[RA], 3.8));
    QVERIFY(same(s.icw[RA], 6.2));
    QVERIFY(same(s.edema[LA], 0.36)); // 0.95 * 0.38 = 0.361
    QVERIFY(same(s.ecw[LA], 0.72));
    QVERIFY(same(s.icw[LA], 1.28));
    // The trunk raises it: 1.025 * 0.38 = 0.3895.
    QVERIFY(same(s.edema[TR], 0.39));
    QVERIFY(same(s.ecw[TR], 7.8));
    QVERIFY(same(s.icw[TR], 12.2));
    QVERIFY(same(s.edema[RL], 0.38)); // 0.991 * 0.38 = 0.37658
    QVERIFY(same(s.ecw[RL], 2.66));
    QVERIFY(same(s.icw[RL], 4.34));
    QVERIFY(same(s.edema[LL], 0.34)); // 0.9 * 0.38 = 0.342
    QVERIFY(same(s.ecw[LL], 0.34));
    QVERIFY(same(s.icw[LL], 0.66));
}

void TestIndicators::methodDependsOnRightArmOnly()
{
    const SegmentValues muscle = segments(3, 3, 25, 9, 9);
    const SegmentValues water = segments(2, 2, 20, 7, 7);
    // No right-arm impedance: the muscle method for all, whatever the others hold.
    const SegmentWater noRa = segmentWaterSplit(0.38, segments(0, 400, 500, 350, 350), muscle, water);
    QVERIFY(!noRa.impedanceMethod);
    QVERIFY(same(noRa.edema[LA], 0.38));
    QVERIFY(same(noRa.edema[TR], 0.39));
    const SegmentWater negative = segmentWaterSplit(0.38, segments(-5, 400, 500, 350, 350), muscle, water);
    QVERIFY(!negative.impedanceMethod);
    // Only the right arm present: the impedance method for all, the others at Z = 0.
    const SegmentWater onlyRa = segmentWaterSplit(0.38, segments(300, 0, 0, 0, 0), muscle, water);
    QVERIFY(onlyRa.impedanceMethod);
    QVERIFY(same(onlyRa.edema[LA], 0.42)); // 1 - 0.62 * 0.9 - 0.02 = 0.422
    QVERIFY(same(onlyRa.edema[TR], 0.41)); // 1 - 0.558 - 0.03 = 0.412
}

void TestIndicators::missingSegmentComposition()
{
    const SegmentValues zeros = segments(0, 0, 0, 0, 0);
    const SegmentWater s = segmentWaterSplit(0.384, zeros, zeros, zeros);
    for (int i = 0; i < SegmentCount; ++i) {
        QVERIFY(same(s.edema[i], 0.38));
        QVERIFY(same(s.ecw[i], 0.0));
        QVERIFY(same(s.icw[i], 0.0));
    }
}

QTEST_APPLESS_MAIN(TestIndicators)
#include "tst_indicators.moc"
