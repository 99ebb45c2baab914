// Sheet styles, the Print layout table, the body-composition record a report
// is drawn from and its reference values: widget-free rules shared by the
// report page and the overlay printer.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

class QFont;
class QPainter;
class QPointF;

namespace reports {

// The sheet style tags, compared case-sensitively as whole strings.
namespace sheet {
inline const QString tq40 = QStringLiteral("TQ-40");
inline const QString tq10 = QStringLiteral("TQ-10");
inline const QString tq20 = QStringLiteral("TQ-20");
inline const QString tq30 = QStringLiteral("TQ-30");
inline const QString water = QStringLiteral("水分报告");
inline const QString custom = QStringLiteral("自定义报告纸");
inline const QString fitness = QStringLiteral("FITreport");
inline const QString byDefault = QStringLiteral("默认报告纸");
} // namespace sheet

// Row of table Print that holds the layout of |tag|; row 0 for any tag not
// listed (the default sheet and the empty tag included).
int printRowForTag(const QString &tag);

// Reads row 0's "Selected" of table Report (empty when the table is empty).
QString readSelectedSheetTag();

// Names of the 224 columns of table Print, in table order.
const QStringList &printColumns();

// Positions and sizes of table Print beyond this many page units (either
// way) are damage, not layout: they read as missing.
constexpr int kLayoutLimit = 10000;

// One row of table Print. Flags are "Yes" exactly or suppressed; every other
// column reads as an integer (NULL, text or a number beyond kLayoutLimit
// reads 0). An item whose own position (<stem>X, <stem>Y) or size is
// beyond the limit is not printed: its flag reads false.
class PrintLayout
{
public:
    // Reads the row of |tag| with its log lines; a missing row is empty.
    static PrintLayout read(const QString &tag);
    static PrintLayout fromValues(const QHash<QString, QVariant> &values);

    bool flag(const QString &name) const;
    int value(const QString &name) const;

private:
    QHash<QString, QVariant> m_values;
};

// Report font: a CJK face whose PDF subset extracts as the characters drawn.
inline const QString reportFontFamily = QStringLiteral("WenQuanYi Micro Hei");
// The same face cut down to the characters of the program's own texts,
// embedded (:/fonts/report.ttf): a PDF embeds it quickly, as it maps few
// characters and has no glyph programs.
inline const QString reportPageFontFamily = QStringLiteral("WenQuanYi Micro Hei Report");
// The cut-down face first, then the whole report font (names, operator
// texts), then faces for the characters it lacks (CJK extension A and the
// compatibility ideographs, extensions B to F), in the order a glyph is
// looked up. The first call registers the embedded face.
const QStringList &reportFontFamilies();
// The report font at |pixelSize| page units.
QFont reportFont(double pixelSize);
// Pixel size in page units (96 per inch) of a point size.
int pointsToPixels(double points);

// Room for the user number and name in the header of the fixed sheets and
// the fitness report: from x 130 to the end of the name box.
inline constexpr double idNameWidth = 202;

// |text| as it fits into |maxWidth| page units in |font|: whole at full size
// when it fits, else shrunk to fit down to 70 % of the size, and below that
// cut with "…" at 70 %.
struct FittedText
{
    QString text;
    double scale = 1;
};
FittedText fitText(const QFont &font, const QString &text, double maxWidth);
// Draws |text| fitted into |maxWidth| with the painter's font, its baseline
// origin at |origin|; returns what was drawn.
FittedText drawFittedText(QPainter &painter, const QPointF &origin, const QString &text, double maxWidth);

// Draws one layout item: nothing unless |flag| is true; a |points| above 0
// sets the painter font's size first (otherwise the last size is kept).
void drawLayoutItem(QPainter &painter, bool flag, int points, const QPointF &origin, const QString &text);

// A stored body-composition result (table Result) with the unit's name and
// telephone. Missing columns read 0 or empty.
struct BcaRecord
{
    QHash<QString, QVariant> values;
    QString unitName;
    QString unitPhone;

    double d(const QString &column) const;
    QString s(const QString &column) const;
    bool isMale() const { return s(QStringLiteral("Sex")) == QLatin1String("1"); }
};

// The record of |testId| (0: the newest record), with its log lines; empty
// when there is none.
BcaRecord loadBcaRecord(int testId);

// Age in whole years at the test: the year of |testDate| minus |birthYear|;
// the current year stands in when the date holds no year. None (unknown age)
// for a birth year outside 1900 to the year of the test.
std::optional<int> ageAtTest(int birthYear, const QString &testDate, int fallbackYear = 0);
// The age as the reports write it; empty when it is unknown.
QString ageText(int birthYear, const QString &testDate, int fallbackYear = 0);

struct Range
{
    double low = 0;
    double high = 0;
};

// Normal ranges of a record by sex (height h in cm, weight W in kg).
struct References
{
    Range weight, fat, pbf, whr, muscle, smm, bone, protein, water, bmi;
    double S = 0;      // muscle reference
    double pbfMid = 0; // body-fat percentage drawn at the reference length
    double whrMid = 0;
};
References referenceValues(bool male, double heightCm, double weightKg);

// Steps of 10 % of |value| from |reference|; none when the reference is not
// a positive finite number or the value is not finite.
std::optional<double> relativeSteps(double value, double reference);

// Bar length: base + margin x steps, truncated toward zero, clamped to
// [minLine, maxLine]; none when |steps| is none or not finite.
std::optional<int> lineBarLength(std::optional<double> steps, int base, int margin, int maxLine, int minLine);

// A measured value as the reports write it ('g', 6); empty for NaN/inf.
QString formatValue(double v);
// A measurement where 0 means "not measured" (height, weight): blank then.
QString formatMeasured(double v);
// One decimal ('f', 1); empty for NaN/inf.
QString formatOneDecimal(double v);
// Share of |part| in |whole| in percent with one decimal and "%"; empty when
// |whole| is 0.
QString formatPercent(double part, double whole);
// "[" low sep high "]" with one decimal each.
QString formatRange(const Range &range, const QString &separator = QStringLiteral("-"));
// A control amount: "+" in front of values above 0 only.
QString controlPrefix(double v);

} // namespace reports
