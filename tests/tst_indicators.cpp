// Derived body-composition values: the body-type bands
// and their sex-specific limits, the fatty-liver ladder, and the two methods
// of the segment water split.
#include "records/indicators.h"

#include <QtTest>

#include <limits>

using namespace indicators;

namespace {
// "300 450 300 150 600" as the values of RA, LA, TR, RL, LL.
SegmentValues segments(const QString &text)
{
    SegmentValues v{};
    const QStringList parts = text.split(QLatin1Char(' '));
    for (int i = 0; i < SegmentCount && i < parts.size(); ++i)
        v[i] = parts.at(i).toDouble();
    return v;
}

QString shown(const SegmentValues &v)
{
    QStringList parts;
    for (const double x : v)
        parts << QString::number(x, 'g', 17); // every digit: the values must be rounded exactly
    return parts.join(QLatin1Char(' '));
}
} // namespace

class TestIndicators : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The derivations log every value; keep the test output readable.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
            if (type != QtDebugMsg)
                fprintf(stderr, "%s\n", qPrintable(msg));
        });
    }
    void bodyType_data()
    {
        QTest::addColumn<QString>("sex");
        QTest::addColumn<double>("bmi");
        QTest::addColumn<double>("pbf");
        QTest::addColumn<QString>("expected");

        const QString man = QStringLiteral("1");
        const QString woman = QStringLiteral("2");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        // One case per word and sex, on or next to the band edges.
        QTest::newRow("man obese") << man << 24.0 << 20.1 << bodytype::obese;
        QTest::newRow("man overweight") << man << 24.0 << 15.0 << bodytype::overweight;
        QTest::newRow("man athletic") << man << 24.0 << 9.9 << bodytype::athletic;
        QTest::newRow("man excess fat, bmi 23.9") << man << 23.9 << 20.5 << bodytype::excessFat;
        QTest::newRow("man healthy") << man << 18.5 << 10.0 << bodytype::healthy;
        QTest::newRow("man low fat") << man << 21.0 << 9.99 << bodytype::lowFat;
        QTest::newRow("man hidden obesity") << man << 18.4 << 20.01 << bodytype::hiddenObesity;
        QTest::newRow("man insufficient muscle") << man << 18.4 << 20.0 << bodytype::insufficientMuscle;
        QTest::newRow("man thin") << man << 18.4 << 9.9 << bodytype::thin;
        QTest::newRow("woman obese, bmi 23.9") << woman << 23.9 << 28.5 << bodytype::obese;
        QTest::newRow("woman overweight") << woman << 24.0 << 28.0 << bodytype::overweight;
        QTest::newRow("woman athletic") << woman << 25.0 << 17.9 << bodytype::athletic;
        QTest::newRow("woman excess fat") << woman << 23.8 << 28.1 << bodytype::excessFat;
        QTest::newRow("woman healthy") << woman << 23.9 << 28.0 << bodytype::healthy;
        QTest::newRow("woman low fat") << woman << 18.5 << 17.99 << bodytype::lowFat;
        QTest::newRow("woman hidden obesity") << woman << 18.0 << 28.5 << bodytype::hiddenObesity;
        QTest::newRow("woman insufficient muscle") << woman << 17.0 << 18.0 << bodytype::insufficientMuscle;
        QTest::newRow("woman thin") << woman << 16.0 << 12.0 << bodytype::thin;
        // The same values fall into different bands for the two sexes.
        QTest::newRow("pbf 17.9 bmi 25 man") << man << 25.0 << 17.9 << bodytype::overweight;
        QTest::newRow("pbf 25 bmi 21 man") << man << 21.0 << 25.0 << bodytype::excessFat;
        QTest::newRow("pbf 25 bmi 21 woman") << woman << 21.0 << 25.0 << bodytype::healthy;
        // Any sex text but "1" takes the female limits.
        QTest::newRow("sex 0 bmi 23.9") << QStringLiteral("0") << 23.9 << 28.5 << bodytype::obese;
        // Undecidable: the previous word stays.
        QTest::newRow("bmi not a number") << man << nan << 15.0 << QStringLiteral("previous");
        QTest::newRow("pbf not a number") << woman << 22.0 << nan << QStringLiteral("previous");
    }
    void bodyType()
    {
        QFETCH(QString, sex);
        QFETCH(double, bmi);
        QFETCH(double, pbf);
        QFETCH(QString, expected);
        QCOMPARE(bodyTypeRule(sex, bmi, pbf, QStringLiteral("previous")), expected);
    }
    void liverRisk_data()
    {
        QTest::addColumn<QString>("sex");
        QTest::addColumn<double>("fat");
        QTest::addColumn<int>("risk");

        // Each step starts at its lower bound; just below it the previous step
        // holds.
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
            for (int step = 0; step < 9; ++step) {
                const double bound = l.bounds[step];
                QTest::addRow("sex %s below %g", l.sex, bound) << sex << bound - 0.001 << step * 10;
                QTest::addRow("sex %s at %g", l.sex, bound) << sex << bound << (step + 1) * 10;
            }
            QTest::addRow("sex %s fat 60", l.sex) << sex << 60.0 << 90;
        }
        QTest::newRow("sex 0") << QStringLiteral("0") << 30.0 << 0;
    }
    void liverRisk()
    {
        QFETCH(QString, sex);
        QFETCH(double, fat);
        QFETCH(int, risk);
        QCOMPARE(liverRiskLadder(sex, fat), risk);
    }
    void segmentWater_data()
    {
        // "coefficient|z50|muscle|water" in, "impedance method|edema|ecw|icw" out,
        // per segment RA LA TR RL LL; an empty ecw/icw is not checked.
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        // Each segment has its own impedance: LA 1 - 0.62 * 1.05 - 0.02 = 0.329, the trunk
        // subtracts 0.03; ECW takes the rounded coefficient (2.4 * 0.33 = 0.792).
        QTest::newRow("impedance method")
            << QStringLiteral("0.38|300 450 300 150 600|3 3 25 9 9|2.5 2.4 20 7.5 7")
            << QStringLiteral("1|0.36 0.33 0.35 0.39 0.3|0.9 0.79 7 2.93 2.1|1.6 1.61 13 4.57 4.9");
        // A limb lowers the coefficient by its muscle (0.997 * 0.38), the trunk raises it.
        QTest::newRow("muscle method")
            << QStringLiteral("0.38|0 0 0 0 0|3 50 25 9 100|10 2 20 7 1")
            << QStringLiteral("0|0.38 0.36 0.39 0.38 0.34|3.8 0.72 7.8 2.66 0.34|6.2 1.28 12.2 4.34 0.66");
        // Only the right arm's impedance chooses the method.
        QTest::newRow("no right arm") << QStringLiteral("0.38|0 400 500 350 350|3 3 25 9 9|2 2 20 7 7")
                                      << QStringLiteral("0|0.38 0.38 0.39 0.38 0.38||");
        QTest::newRow("negative right arm") << QStringLiteral("0.38|-5 400 500 350 350|3 3 25 9 9|2 2 20 7 7")
                                            << QStringLiteral("0|0.38 0.38 0.39 0.38 0.38||");
        QTest::newRow("only right arm") << QStringLiteral("0.38|300 0 0 0 0|3 3 25 9 9|2 2 20 7 7")
                                        << QStringLiteral("1|0.36 0.42 0.41 0.42 0.42||");
        QTest::newRow("nothing measured") << QStringLiteral("0.384|0 0 0 0 0|0 0 0 0 0|0 0 0 0 0")
                                          << QStringLiteral("0|0.38 0.38 0.38 0.38 0.38|0 0 0 0 0|0 0 0 0 0");
    }
    void segmentWater()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        const QStringList i = in.split(QLatin1Char('|')), o = out.split(QLatin1Char('|'));
        const SegmentWater s =
            segmentWaterSplit(i.at(0).toDouble(), segments(i.at(1)), segments(i.at(2)), segments(i.at(3)));
        QCOMPARE(s.impedanceMethod, o.at(0) == QLatin1String("1"));
        QCOMPARE(shown(s.edema), shown(segments(o.at(1))));
        if (!o.at(2).isEmpty()) {
            QCOMPARE(shown(s.ecw), shown(segments(o.at(2))));
            QCOMPARE(shown(s.icw), shown(segments(o.at(3))));
        }
    }
};

QTEST_APPLESS_MAIN(TestIndicators)
#include "tst_indicators.moc"
