// Group statistics of a test day or period: per fitness item the number
// measured, mean, standard deviation, extremes and the grades of the fitness
// report; the total-score distribution; body-composition means, body types
// and the shares below, within and above the normal ranges of the reports.
// Everything also by sex x age group. One pass over the rows of the range,
// no widgets.
#pragma once

#include "reports/fitnessscore.h"

#include <QDate>
#include <QString>

#include <array>
#include <functional>

namespace reports {

// Age groups at the test date: the scoring's four groups and the under-20s,
// for whom only BMI and the standing long jump are graded.
enum StatsAgeGroup { AgeUnder20, Age20to24, Age25to29, Age30to34, Age35Plus, StatsAgeGroupCount };
int statsAgeGroup(int age);
QString statsAgeGroupName(int group); // "20岁以下", "20-24岁", ... "35岁及以上"

// Sex as the scoring reads it: "1" male, any other text female.
enum StatsSex { SexMale, SexFemale, StatsSexCount };
QString statsSexName(int sex); // "男", "女"

enum StatsGrade { GradeExcellent, GradeGood, GradePass, GradeFail, StatsGradeCount };
QString statsGradeName(int grade); // "优秀", "良好", "及格", "不及格"

// The fitness items in the order of the tables (BMI first, then the tests
// in the order of the report's results grid).
const std::array<FitItem, FitItemCount> &statsItemOrder();
QString statsItemName(FitItem item);
QString statsItemUnit(FitItem item);

// Total score bands of the distribution: 0-9, 10-19, ..., 90-99, 100-110.
constexpr int TotalBandCount = 11;
int totalBand(int total);
QString totalBandName(int band); // "0-9分" ... "100-110分"

enum BcaQuantity { BcaWeight, BcaBmi, BcaPbf, BcaSmm, BcaVfi, BcaQuantityCount };
QString bcaQuantityName(int quantity);
QString bcaQuantityUnit(int quantity);

// The nine body-type words, then everything else ("其他").
constexpr int BodyTypeCount = 10;
QString bodyTypeName(int index);
int bodyTypeIndex(const QString &word); // -1 for an empty text

enum RangeSide { RangeBelow, RangeWithin, RangeAbove, RangeSideCount };
QString rangeSideName(int side); // "偏低", "正常", "偏高"

// Figures as the dialog and the page show them: |decimals| fixed decimals,
// empty for NaN; shares with one decimal and "%".
QString formatStat(double value, int decimals);
QString formatShare(double percent);
int statsItemDecimals(FitItem item);
// A single value of |item| (minimum, maximum): as measured, BMI (computed)
// with one decimal.
QString formatItemValue(FitItem item, double value);
int bcaQuantityDecimals(int quantity);

// Count, mean, sample standard deviation and extremes of a series.
class RunningStats
{
public:
    void add(double value);
    qint64 count() const { return m_count; }
    double mean() const { return m_mean; }
    // Sample standard deviation (n - 1); NaN for fewer than two values.
    double sd() const;
    double min() const { return m_min; }
    double max() const { return m_max; }

private:
    qint64 m_count = 0;
    double m_mean = 0;
    double m_m2 = 0;
    double m_min = 0;
    double m_max = 0;
};

struct FitnessItemStats
{
    RunningStats values;                          // measured values (0 and empty left out)
    std::array<qint64, StatsGradeCount> grades{}; // graded values per grade
    qint64 ungraded = 0;                          // measured but not graded (under 20)

    qint64 graded() const;
    // Share of |grade| among the graded values in percent; NaN when none.
    double share(int grade) const;
};

struct FitnessGroupStats
{
    qint64 records = 0;
    std::array<FitnessItemStats, FitItemCount> items;
    RunningStats total; // total score as the person's report prints it
    std::array<qint64, TotalBandCount> totalBands{};

    const FitnessItemStats &item(FitItem i) const { return items[size_t(i)]; }
};

struct BcaQuantityStats
{
    RunningStats values;
    std::array<qint64, RangeSideCount> ranges{}; // values with a normal range, by side

    qint64 classified() const;
    double share(int side) const; // percent of the classified values; NaN when none
};

struct BcaGroupStats
{
    qint64 records = 0;
    std::array<BcaQuantityStats, BcaQuantityCount> quantities;
    std::array<qint64, BodyTypeCount> bodyTypes{};
};

struct StatsFilter
{
    QDate from;
    QDate to;
    int sex = -1;      // StatsSex, -1 for both
    int ageGroup = -1; // StatsAgeGroup, -1 for all
};

// "2024-05-06 至 2024-05-06，性别：全部，年龄组：全部"
QString describeFilter(const StatsFilter &filter);
// The sentence shown instead of tables when nothing matched.
QString emptyStatsSentence(const StatsFilter &filter);
// Why a filter cannot be used (invalid date, start after end); empty when fine.
QString checkStatsFilter(const StatsFilter &filter);

struct GroupStatistics
{
    StatsFilter filter;
    QString unitName;
    FitnessGroupStats fitness;
    std::array<std::array<FitnessGroupStats, StatsAgeGroupCount>, StatsSexCount> fitnessCells;
    BcaGroupStats bca;
    std::array<std::array<BcaGroupStats, StatsAgeGroupCount>, StatsSexCount> bcaCells;

    bool isEmpty() const { return fitness.records == 0 && bca.records == 0; }
};

// The day a stored TestDate names: year, month and day joined by '-', '/'
// or '.', with or without leading zeros and a time after them, or eight
// digits; an invalid date for anything else.
QDate parseTestDay(const QString &text);

// Normal-range side of a body-composition value by the reports' reference
// values; -1 when the quantity has no range or the range needs a height
// that is missing.
int bcaRangeSide(int quantity, bool male, double heightCm, double weightKg, double value);

// Adds rows to the statistics; the filter decides which rows count.
class StatsAccumulator
{
public:
    explicit StatsAccumulator(const StatsFilter &filter);

    // A fitness record tested on |day|; false when the filter leaves it out.
    bool addFitness(const FitnessRecord &record, const QDate &day);
    struct BcaRow
    {
        QString sex;
        int birthYear = 0;
        double height = 0, weight = 0, bmi = 0, pbf = 0, smm = 0, vfi = 0;
        QString bodyType;
    };
    bool addBca(const BcaRow &row, const QDate &day);

    GroupStatistics &result() { return m_stats; }

private:
    bool wanted(const QDate &day, int sex, int group) const;
    GroupStatistics m_stats;
};

struct StatsOutcome
{
    bool ok = false;
    bool cancelled = false;
    QString error; // for the operator
    GroupStatistics stats;
};

// Called every thousand rows with (rows read, rows in the range); returning
// false cancels.
using StatsProgress = std::function<bool(qint64 done, qint64 total)>;

// Reads the fitness and body-composition results of the filter's dates from
// the default connection, one statement per table, and the unit's name.
StatsOutcome computeGroupStatistics(const StatsFilter &filter, const StatsProgress &progress = {});

} // namespace reports
