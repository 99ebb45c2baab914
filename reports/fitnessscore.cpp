#include "reports/fitnessscore.h"

#include <QDate>
#include <QDebug>
#include <QRegularExpression>

#include <algorithm>

namespace reports {

namespace {

using Row4 = std::array<double, 4>;

// Push-ups and sit-ups, the same for both sexes; one row per age group.
struct EnduranceRow
{
    Row4 fwc;
    Row4 ywqz;
};
const EnduranceRow kEndurance[4] = {
    /* 20-24 */ {{40, 27, 19, 12}, {36, 25, 15, 5}},
    /* 25-29 */ {{35, 24, 17, 10}, {30, 20, 11, 3}},
    /* 30-34 */ {{30, 22, 15, 10}, {28, 19, 10, 3}},
    /* 35+   */ {{27, 19, 15, 6}, {23, 14, 6, 2}},
};

// Items graded by sex and age group; one row per age group.
struct NormRow
{
    Row4 woli, fhl, tqq, bydj, zt, tz, fys;
};
const NormRow kMale[4] = {
    /* 20-24 */ {{56.3, 49.3, 43.6, 37.0},
                 {4634, 3984, 3464, 2847},
                 {20.1, 14.2, 9.0, 1.8},
                 {98, 42, 18, 6},
                 {45.8, 38.5, 32.4, 24.9},
                 {67.6, 58.1, 52.1, 46.2},
                 {389, 430, 490, 600}},
    /* 25-29 */
    {{57.6, 50.5, 44.9, 38.4},
     {4624, 3969, 3459, 2849},
     {19.7, 13.5, 7.9, 1.0},
     {85, 36, 15, 5},
     {43.6, 36.9, 31.4, 24.0},
     {68.1, 58.4, 52.0, 46.2},
     {389, 440, 510, 620}},
    /* 30-34 */
    {{57.6, 50.7, 45.0, 38.1},
     {4544, 3874, 3344, 2749},
     {18.3, 12.0, 6.5, 0.0},
     {74, 30, 13, 5},
     {41.1, 34.8, 29.4, 22.4},
     {68.1, 58.4, 52.3, 46.2},
     {409, 460, 520, 650}},
    /* 35+   */
    {{57.7, 50.3, 44.5, 37.3},
     {4349, 3739, 3209, 2619},
     {17.1, 10.8, 5.0, -2.3},
     {69, 28, 12, 4},
     {39.5, 33.1, 28.0, 21.5},
     {68.1, 58.8, 52.3, 46.2},
     {409, 470, 540, 660}},
};
const NormRow kFemale[4] = {
    /* 20-24 */ {{35.0, 29.9, 25.8, 21.2},
                 {3259, 2779, 2354, 1873},
                 {20.2, 14.4, 9.4, 2.9},
                 {90, 37, 16, 6},
                 {30.3, 24.8, 20.6, 15.9},
                 {67.1, 58.1, 52.3, 46.2},
                 {399, 450, 520, 650}},
    /* 25-29 */
    {{35.3, 30.2, 26.2, 21.8},
     {3244, 2769, 2364, 1834},
     {19.7, 14.0, 8.3, 2.0},
     {84, 33, 15, 6},
     {28.5, 23.5, 19.8, 15.1},
     {68.6, 59.2, 53.3, 46.9},
     {419, 470, 550, 690}},
    /* 30-34 */
    {{36.1, 31.0, 27.0, 22.4},
     {3242, 2759, 2339, 1781},
     {19.2, 13.4, 8.0, 1.7},
     {72, 29, 13, 5},
     {27.7, 22.7, 18.8, 14.6},
     {69.1, 60.0, 53.8, 47.1},
     {429, 490, 570, 700}},
    /* 35+   */
    {{36.4, 31.3, 27.1, 22.4},
     {3159, 2674, 2249, 1734},
     {17.1, 10.8, 5.0, 1.0},
     {62, 24, 10, 4},
     {26.1, 21.4, 17.9, 13.8},
     {69.7, 60.4, 53.9, 46.9},
     {439, 500, 580, 730}},
};

// Standing long jump: by sex only.
const Row4 kLongJumpMale = {265, 250, 210, 200};
const Row4 kLongJumpFemale = {196, 182, 152, 142};

FitnessGrade gradeFromPoints(int points)
{
    static const QString words[6] = {QStringLiteral("不及格"), QStringLiteral("不及格"),
                                     QStringLiteral("不及格"), QStringLiteral("及格"),
                                     QStringLiteral("良好"),   QStringLiteral("优秀")};
    static const int levels[6] = {0, 0, 0, 1, 1, 2};
    const int p = std::clamp(points, 0, 5);
    return FitnessGrade{words[p], points, levels[p]};
}

FitnessGrade gradeBmi(double bmi)
{
    if (bmi >= 18.5 && bmi < 24.0)
        return FitnessGrade{QStringLiteral("优秀"), 5, 2};
    if (bmi >= 10 && bmi < 30)
        return FitnessGrade{QStringLiteral("良好"), 3, 1};
    return FitnessGrade{QStringLiteral("不及格"), 1, 0};
}

} // namespace

int bandPoints(Banding rule, double value, const Row4 &t)
{
    switch (rule) {
    case Banding::Decimal:
        if (value > t[0])
            return 5;
        for (int i = 1; i < 4; ++i) {
            if (value >= t[size_t(i)])
                return 5 - i;
        }
        return 1;
    case Banding::Count:
        for (int i = 0; i < 4; ++i) {
            if (value > t[size_t(i)])
                return 5 - i;
        }
        return 1;
    case Banding::Reversed:
        for (int i = 0; i < 4; ++i) {
            if (value <= t[size_t(i)])
                return 5 - i;
        }
        return 1;
    }
    return 1;
}

int ageGroup(int age)
{
    if (age < 20)
        return -1;
    if (age < 25)
        return 0;
    if (age < 30)
        return 1;
    if (age < 35)
        return 2;
    return 3;
}

FitnessAssessment gradeFitness(const FitnessRecord &r, int age)
{
    FitnessAssessment a;
    a.age = age;
    const double metres = r.height / 100.0;
    a.bmi = metres > 0 ? r.weight / (metres * metres) : 0;

    auto set = [&a](FitItem item, const FitnessGrade &grade, RadarAxis axis) {
        a.grades[size_t(item)] = grade;
        a.axisLevels[size_t(axis)] = grade.level;
    };
    auto band = [](Banding rule, double value, const Row4 &t) {
        return gradeFromPoints(bandPoints(rule, value, t));
    };

    set(FitItem::BMI, gradeBmi(a.bmi), AxisBodyForm);
    set(FitItem::TY, band(Banding::Decimal, r.ty, r.isMale() ? kLongJumpMale : kLongJumpFemale),
        AxisLowerLimb);

    const int group = ageGroup(age);
    if (group >= 0) {
        const EnduranceRow &e = kEndurance[group];
        const NormRow &n = r.isMale() ? kMale[group] : kFemale[group];
        set(FitItem::FWC, band(Banding::Count, r.fwc, e.fwc), AxisEndurance);
        set(FitItem::YWQZ, band(Banding::Count, r.ywqz, e.ywqz), AxisEndurance);
        set(FitItem::WOLI, band(Banding::Decimal, r.woli, n.woli), AxisUpperLimb);
        set(FitItem::FHL, band(Banding::Count, r.fhl, n.fhl), AxisCardio);
        set(FitItem::TQQ, band(Banding::Decimal, r.tqq, n.tqq), AxisFlexibility);
        set(FitItem::BYDJ, band(Banding::Decimal, r.bydj, n.bydj), AxisBalance);
        set(FitItem::ZT, band(Banding::Decimal, r.zt, n.zt), AxisLowerLimb);
        set(FitItem::TZ, band(Banding::Decimal, r.tz, n.tz), AxisCardio);
        set(FitItem::FYS, band(Banding::Reversed, r.fys, n.fys), AxisReaction);
    }

    int sum = 0;
    for (const FitnessGrade &g : a.grades)
        sum += g.points;
    a.total = std::min(2 * sum, 110);
    return a;
}

FitnessAssessment assessFitness(const FitnessRecord &r, int age)
{
    qDebug() << "Age = " << age;
    FitnessAssessment a = gradeFitness(r, age);
    qDebug() << "BMIscore = " << a.grade(FitItem::BMI).points
             << "WOLIscore = " << a.grade(FitItem::WOLI).points
             << "PHLscore = " << a.grade(FitItem::FHL).points << "TQQscore = " << a.grade(FitItem::TQQ).points
             << "FYSscore = " << a.grade(FitItem::FYS).points
             << "BYDJscore = " << a.grade(FitItem::BYDJ).points << "ZTscore = " << a.grade(FitItem::ZT).points
             << "FWCscore = " << a.grade(FitItem::FWC).points
             << " YWQZscore =" << a.grade(FitItem::YWQZ).points
             << " TYscore =" << a.grade(FitItem::TY).points;
    qDebug() << "Score = " << a.total;
    return a;
}

int barWidthForGrade(const QString &word)
{
    int width = 83;
    if (word == QStringLiteral("及格"))
        width = 153;
    else if (word == QStringLiteral("良好"))
        width = 193;
    else if (word == QStringLiteral("优秀"))
        width = 350;
    return std::max(width, 10);
}

} // namespace reports
