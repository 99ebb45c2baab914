// Values derived from an analyzer measurement when it is stored: total body
// water, body type, fatty-liver risk and the water split of the five segments.
// Pure functions of their arguments (they only write debug log lines).
#pragma once

#include <QString>

#include <array>

namespace indicators {
// Body segments in the order of the derived Result columns (RA_edema, LA_edema, ...).
enum Segment { RA, LA, TR, RL, LL, SegmentCount };
using SegmentValues = std::array<double, SegmentCount>;

// "RA", "LA", "TR", "RL" or "LL".
QString segmentCode(Segment segment);

// The nine body-type words, as stored in Result.BodyType.
namespace bodytype {
inline const QString obese = QStringLiteral("肥胖型");
inline const QString overweight = QStringLiteral("超重型");
inline const QString athletic = QStringLiteral("运动员型");
inline const QString excessFat = QStringLiteral("脂肪过多型");
inline const QString healthy = QStringLiteral("健康匀称型");
inline const QString lowFat = QStringLiteral("低脂肪型");
inline const QString hiddenObesity = QStringLiteral("隐性肥胖型");
inline const QString insufficientMuscle = QStringLiteral("肌肉不足型");
inline const QString thin = QStringLiteral("消瘦型");
} // namespace bodytype

// |x| formatted with two decimals and parsed back: the one rounding the
// derived values use.
double roundTo2(double x);

// Total body water: intracellular plus extracellular water, not rounded.
double Water(double icw, double ecw);

// Body type from BMI and body-fat percentage. Sex "1" uses the male body-fat
// limits 10..20, any other text the female limits 18..28. When no band
// applies (BMI or PBF not a number) the previous body type is kept.
QString bodyTypeRule(const QString &sex, double bmi, double pbf, const QString &previous);

// Fatty-liver risk in percent (0 to 90 in steps of 10) from the body fat
// mass in kg; 0 for a sex text other than "1" and "2".
int liverRiskLadder(const QString &sex, double fat);

struct SegmentWater
{
    SegmentValues edema{};
    SegmentValues ecw{};
    SegmentValues icw{};
    bool impedanceMethod = false; // true when RA50 > 0 chose the impedance formulas
};

// Edema coefficient, extracellular and intracellular water of each segment.
// With a right-arm 50 kHz impedance above 0 the coefficients follow the
// impedances, otherwise the segment muscle masses.
SegmentWater segmentWaterSplit(double edema, const SegmentValues &z50, const SegmentValues &muscle,
                               const SegmentValues &water);
} // namespace indicators
