#include "records/indicators.h"

#include <QDebug>

namespace indicators {
namespace {
constexpr double bmiMin = 18.5;
constexpr double bmiMax = 23.9;
constexpr double pbfMinMan = 10.0;
constexpr double pbfMaxMan = 20.0;
constexpr double pbfMinWoman = 18.0;
constexpr double pbfMaxWoman = 28.0;

// Lower bounds of the risk steps 10, 20, ..., 90; a fat mass at or above the
// n-th bound (and below the next) gives n * 10.
constexpr std::array<double, 9> liverStepsMan = {10.0, 11.9, 13.6, 14.9, 16.55, 16.8, 17.7, 19.3, 22.0};
constexpr std::array<double, 9> liverStepsWoman = {10.6, 13.0, 14.7, 16.1, 17.45, 18.4, 20.1, 22.0, 24.9};
} // namespace

QString segmentCode(Segment segment)
{
    switch (segment) {
    case RA:
        return QStringLiteral("RA");
    case LA:
        return QStringLiteral("LA");
    case TR:
        return QStringLiteral("TR");
    case RL:
        return QStringLiteral("RL");
    case LL:
        return QStringLiteral("LL");
    case SegmentCount:
        break;
    }
    return QString();
}

double roundTo2(double x)
{
    return QString::number(x, 'f', 2).toDouble();
}

double Water(double icw, double ecw)
{
    return icw + ecw;
}

QString bodyTypeRule(const QString &sex, double bmi, double pbf, const QString &previous)
{
    const bool man = sex == QLatin1String("1");
    const double pbfMin = man ? pbfMinMan : pbfMinWoman;
    const double pbfMax = man ? pbfMaxMan : pbfMaxWoman;
    qDebug() << "Sex= " << sex;
    qDebug() << "bmiMin= " << bmiMin;
    qDebug() << "pbfMaxMan= " << pbfMaxMan;

    const bool bmiHigh = bmi > bmiMax;
    const bool bmiNormal = bmi >= bmiMin && bmi <= bmiMax;
    const bool bmiLow = bmi < bmiMin;
    const bool pbfHigh = pbf > pbfMax;
    const bool pbfNormal = pbf >= pbfMin && pbf <= pbfMax;
    const bool pbfLow = pbf < pbfMin;
    // With the female limits a BMI of exactly 23.9 already counts as obese.
    const bool obeseBmi = man ? bmiHigh : bmi >= bmiMax;

    QString type = previous;
    if (obeseBmi && pbfHigh)
        type = bodytype::obese;
    else if (bmiHigh && pbfNormal)
        type = bodytype::overweight;
    else if (bmiHigh && pbfLow)
        type = bodytype::athletic;
    else if (bmiNormal && pbfHigh)
        type = bodytype::excessFat;
    else if (bmiNormal && pbfNormal)
        type = bodytype::healthy;
    else if (bmiNormal && pbfLow)
        type = bodytype::lowFat;
    else if (bmiLow && pbfHigh)
        type = bodytype::hiddenObesity;
    else if (bmiLow && pbfNormal)
        type = bodytype::insufficientMuscle;
    else if (bmiLow && pbfLow)
        type = bodytype::thin;
    qDebug() << "Now,bodyType= " << type;
    return type;
}

int liverRiskLadder(const QString &sex, double fat)
{
    const std::array<double, 9> *steps = nullptr;
    if (sex == QLatin1String("1"))
        steps = &liverStepsMan;
    else if (sex == QLatin1String("2"))
        steps = &liverStepsWoman;
    int risk = 0;
    if (steps) {
        for (const double lower : *steps) {
            if (fat >= lower)
                risk += 10;
        }
    }
    qDebug() << "LiverRisk=" << risk;
    return risk;
}

SegmentWater segmentWaterSplit(double edema, const SegmentValues &z50, const SegmentValues &muscle,
                               const SegmentValues &water)
{
    SegmentWater out;
    out.impedanceMethod = z50[RA] > 0;
    if (out.impedanceMethod)
        qDebug() << "当有节段阻抗数据时-------------!";
    for (int i = 0; i < SegmentCount; ++i) {
        const auto segment = static_cast<Segment>(i);
        const QString code = segmentCode(segment);
        const bool trunk = segment == TR;
        double value = 0;
        if (out.impedanceMethod) {
            const double offset = trunk ? 0.03 : 0.02;
            value = 1 - (1 - edema) * (1 + 0.1 * (z50[i] - 300) / 300) - offset;
        } else {
            // The trunk's muscle mass raises its coefficient, a limb's lowers it.
            const double factor = trunk ? (1000 + muscle[i]) / 1000 : (1000 - muscle[i]) / 1000;
            value = factor * edema;
        }
        out.edema[i] = roundTo2(value);
        qDebug().noquote() << code + QStringLiteral("_edemaValue") << value;
        qDebug().noquote() << code + QStringLiteral("_edema") << out.edema[i];

        const double ecw = water[i] * out.edema[i];
        out.ecw[i] = roundTo2(ecw);
        qDebug().noquote() << code + QStringLiteral("_ECWValue") << ecw;
        qDebug().noquote() << code + QStringLiteral("_ECW") << out.ecw[i];

        const double icw = water[i] - out.ecw[i];
        out.icw[i] = roundTo2(icw);
        qDebug().noquote() << code + QStringLiteral("_ICWValue") << icw;
        qDebug().noquote() << code + QStringLiteral("_ICW") << out.icw[i];
    }
    return out;
}
} // namespace indicators
