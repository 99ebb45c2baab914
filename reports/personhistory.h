// A person's history: every body-composition and fitness test stored under
// one user number, oldest first, with the change of each body-composition
// value since the previous and since the first test and whether that change
// is good or bad for the person, and every fitness test graded by the same
// scoring as the fitness report. Widget-free; read by the history dialog,
// the history page and the --export-history run.
#pragma once

#include "reports/fitnessscore.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <array>

namespace history {

// The four body-composition values followed over time.
enum class Measure { Weight, BodyFat, SkeletalMuscle, VisceralFat };
constexpr int MeasureCount = 4;
constexpr std::array<Measure, MeasureCount> kMeasures = {Measure::Weight, Measure::BodyFat,
                                                         Measure::SkeletalMuscle, Measure::VisceralFat};

// Caption with unit ("体重(kg)") and the Result column of a value.
QString measureTitle(Measure m);
const char *measureColumn(Measure m);

// Normal range of one value for one test; invalid when it cannot be known
// (no height for the weight and skeletal-muscle ranges).
struct Band
{
    bool valid = false;
    double low = 0;
    double high = 0;
};
Band normalBand(Measure m, bool male, double heightCm);

enum class Verdict { None, Good, Bad };

// How a value moved between two tests. Values are compared as shown, with
// one decimal; an unchanged value has no verdict.
struct Change
{
    bool valid = false; // both tests hold the value
    double delta = 0;
    Verdict verdict = Verdict::None;
};

// Whether moving from |from| to |to| is good or bad, with |band| the normal
// range at the later test: weight and body fat are good when they come
// closer to their range and bad when they move away from it (no verdict
// while both lie inside); more skeletal muscle is good; more visceral fat is bad.
Verdict judgeChange(Measure m, double from, double to, const Band &band);

// "+1.2", "-0.4", "0.0"; empty for an invalid change.
QString formatChange(const Change &change);
// A stored value with one decimal; "—" when it was not measured (0).
QString formatMeasure(double value);

// The date (and time, when given) of a test date as stored; invalid when the
// text holds no readable date. Dates without a time count as noon.
QDateTime parseTestDate(const QString &text);

struct BcaTest
{
    int testId = 0;
    QString dateText;
    QDateTime when; // invalid when the date is unreadable
    QString sex;
    double height = 0;
    std::array<double, MeasureCount> values{}; // 0: not measured
    QString bodyType;
    std::array<Band, MeasureCount> bands;
    std::array<Change, MeasureCount> sincePrevious;
    std::array<Change, MeasureCount> sinceFirst;

    double value(Measure m) const { return values[size_t(m)]; }
};

struct FitnessTest
{
    int testId = 0;
    QDateTime when;
    int age = 0; // at the test date
    reports::FitnessRecord record;
    reports::FitnessAssessment assessment;
};

// The ten measured fitness tests in table order and BMI before them.
struct FitnessColumn
{
    reports::FitItem item;
    const char *caption;
};
extern const std::array<FitnessColumn, 11> kFitnessColumns;
// The measured value of |item| (BMI: the computed one); 0 when not measured.
double fitnessValue(const FitnessTest &test, reports::FitItem item);
// "45.2 良好"; the value alone when the item was not graded at that age,
// "—" when it was not measured.
QString fitnessCell(const FitnessTest &test, reports::FitItem item);

struct PersonInfo
{
    QString uid;
    QString name;
    QString sex;
    int birthYear = 0;
    double height = 0;
    bool registered = false; // found in table Person
    bool isMale() const { return sex == QLatin1String("1"); }
};

struct PersonHistory
{
    PersonInfo person;
    QVector<BcaTest> bca;         // oldest first
    QVector<FitnessTest> fitness; // oldest first
    bool isEmpty() const { return bca.isEmpty() && fitness.isEmpty(); }
};

// Orders |tests| by date (undated tests stay behind the test stored before
// them) and fills the bands and both change columns.
void completeBcaSeries(QVector<BcaTest> &tests);

// Reads the person and all his tests by user number on the default
// connection; false with |error| set when a query fails.
bool loadPersonHistory(const QString &uid, PersonHistory *history, QString *error);

} // namespace history
