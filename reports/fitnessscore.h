// Fitness assessment scoring: grades every fitness test of one record against
// the norm tables by sex and age group, sums the points and derives the eight
// radar-axis levels. Pure code, no database and no painting.
#pragma once

#include <QString>

#include <array>

namespace reports {

// One ResultFIT record as the report reads it.
struct FitnessRecord
{
    QString uid;
    QString name;
    QString sex; // "1" male, anything else female
    int birthYear = 0;
    QString testDate;
    double height = 0; // cm
    double weight = 0; // kg
    double woli = 0;   // grip strength, kg
    int fhl = 0;       // vital capacity, ml
    double tqq = 0;    // sit-and-reach, cm
    double tz = 0;     // step-test index
    int ywqz = 0;      // sit-ups
    int fys = 0;       // choice reaction time, ms
    int fwc = 0;       // push-ups
    double bydj = 0;   // one-leg stand with eyes closed, s
    double zt = 0;     // vertical jump, cm
    double ty = 0;     // standing long jump, cm

    bool isMale() const { return sex == QLatin1String("1"); }
};

// Graded items, in grading order.
enum class FitItem { BMI, TY, FWC, YWQZ, WOLI, FHL, TQQ, BYDJ, ZT, TZ, FYS, Count };
constexpr int FitItemCount = int(FitItem::Count);

// Radar axes.
enum RadarAxis {
    AxisBodyForm,
    AxisUpperLimb,
    AxisLowerLimb,
    AxisEndurance,
    AxisCardio,
    AxisBalance,
    AxisReaction,
    AxisFlexibility,
    AxisCount
};

struct FitnessGrade
{
    QString word = QStringLiteral("不及格");
    int points = 0;
    int level = 0; // 0, 1 or 2
};

struct FitnessAssessment
{
    int age = 0;
    double bmi = 0;
    std::array<FitnessGrade, FitItemCount> grades;
    std::array<int, AxisCount> axisLevels{};
    int total = 0; // 2 x sum of the points, at most 110

    const FitnessGrade &grade(FitItem item) const { return grades[size_t(item)]; }
};

// How the four thresholds T1..T4 of an item band its value into 5..1 points.
enum class Banding {
    Decimal,  // > T1, >= T2, >= T3, >= T4 (grip, sit-and-reach, stand, jump, step)
    Count,    // > T1, > T2, > T3, > T4 (vital capacity, sit-ups, push-ups)
    Reversed, // <= T1, <= T2, <= T3, <= T4 (reaction time, lower is better)
};
int bandPoints(Banding rule, double value, const std::array<double, 4> &thresholds);

// Age group index: 0 for 20-24, 1 for 25-29, 2 for 30-34, 3 for 35 and over,
// -1 under 20 (only BMI and standing long jump are graded then).
int ageGroup(int age);

// Grades |record| for a person of |age|; writes the scoring log lines.
FitnessAssessment assessFitness(const FitnessRecord &record, int age);
// The same grading without log lines, for runs over many records.
FitnessAssessment gradeFitness(const FitnessRecord &record, int age);

// Width of an ability bar for a grade word ("不及格" 83 ... "优秀" 350).
int barWidthForGrade(const QString &word);

} // namespace reports
