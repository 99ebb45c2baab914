// Layout tables of the fixed body-composition sheets ("TQ-40", "TQ-10",
// "TQ-20", "TQ-30", "水分报告"): every text, bar, mark and grid cell of a
// sheet in page units (960 x 1358). One painter (bcareport.cpp) reads them.
#pragma once

#include "reports/layout.h"
#include "reports/sheetforms.h"

#include <QPoint>
#include <QString>
#include <QVector>

#include <optional>

namespace reports {

// Faces of the page: header and values, the smaller ICW/ECW/edema values,
// and ranges, marks and grids.
enum class FontRole { Page, Small, Grid };
int fontPixels(FontRole role);

// What a text item writes.
enum class Field {
    IdName,        // UID "/" Name
    Age,           // whole years at the test date; blank without a birth year
    Column,        // the column's value ('g', 6)
    Measured,      // the column's value, blank when 0 or less (not measured)
    ColumnPercent, // the column's value, one decimal, "%" (PBF)
    ShareOfWeight, // column / Weight x 100, one decimal, "%"
    ControlSign,   // "+" when the column's value is above 0
    FatRange,      // "[" low "-" high "]" of the composition ranges
    BoneRange,
    ProteinRange,
    WaterRange,
    LiverRisk, // "脂肪肝风险度 " LiverRisk " %"
    UnitName,
    UnitPhone,
    IcwEcw,  // "(" <seg>_ICW ":" <seg>_ECW ")", column holds the segment code
    Literal, // the column text itself
};

struct TextItem
{
    Field field;
    const char *column; // column name, segment code or literal; may be null
    QPoint pos;
    FontRole font;
    double maxWidth = 0; // > 0: shrunk, then cut, to fit this width
};

// The bars of the line chart and of the water sheet.
enum class Bar {
    Weight,
    Muscle,
    Pbf,
    FatMass,
    Bone,
    Water,
    Smm,
    Bmi,
    Whr,
    TotalWater,
    Icw,
    Ecw,
    EdemaRatio,
    RaWater,
    LaWater,
    TrWater,
    RlWater,
    LlWater
};

// Value, label and normal range of one bar for a record. |steps| is the
// deviation in margins from the reference (none: no bar, e.g. height 0);
// |length| overrides the base + margin rule where a sheet fixes the length.
struct BarValue
{
    double value = 0;
    std::optional<double> steps;
    std::optional<double> length;
    std::optional<Range> range;
};
BarValue barValue(Bar bar, const BcaRecord &rec, const References &refs);
// The eight bars of the Print row (Weight, Muscle, PBF, Bone, Water, SMM,
// BMI, WHR) as the water sheet reads them: water, ICW, ECW, segment water.
Bar waterSheetBar(Bar bar);

struct BarRow
{
    Bar bar;
    int barY;
    int labelY;
    int rangeY; // 0: no range written
};

struct BarChart
{
    int startX;
    int base;
    int margin;
    int maxLine;
    int minLine;
    int height;
    int rangeX; // x of the range column: no bar value runs past it
    QVector<BarRow> rows;
};

// The visceral-fat bar: L = (VFI - offset) x unit + add, truncated, at least
// minLine and at most maxLine (keeps its label clear of the marks right of it).
struct VfiBar
{
    QPoint start;
    double offset;
    double unit;
    double add;
    int valueY;
    int maxLine;
};

// "√" cells of the level grid. A null point is no cell.
struct LevelGrid
{
    QPoint bmi[6];
    QPoint pbf[3];
    QPoint whr[3];
    QPoint protein[2];
    QPoint bone[2];
    double boneFactor; // bone above boneFactor x W marks the first cell
    QPoint fat[3];
    QPoint bmr;
};

// Segmental edema gauge of the water sheet.
struct EdemaGauge
{
    int x[5];
    int baseY;
    double scale;
    int maxH;
};

struct FixedSheet
{
    QString tag;
    SheetForm form;
    QString background; // resource path of the sheet's picture
    QString logLine;    // log line on painting (empty: none)
    QPoint maleMark, femaleMark;
    QVector<TextItem> texts;
    BarChart bars;
    std::optional<VfiBar> vfi;
    std::optional<LevelGrid> grid;
    int bodyTypeX[3];   // first, second, third column
    int bodyTypeY[3];   // rows; 0: the sheet has no body-type grid
    bool impedance;     // 5 x 5 impedance grid
    bool muscleBalance; // skeletal-muscle and muscle-balance marks
    std::optional<EdemaGauge> gauge;
};

// The fixed sheet of |tag|; null for the custom sheet and unknown tags.
const FixedSheet *fixedSheet(const QString &tag);
// Every fixed sheet, in dispatch order.
const QVector<FixedSheet> &fixedSheets();

// Impedance grid: rows by frequency, columns by segment.
inline constexpr int impedanceRowY[5] = {1205, 1230, 1255, 1280, 1305};
inline constexpr int impedanceColX[5] = {695, 750, 795, 840, 890};

// Body-type word to its cell: column 0..2 (x), row 0..2 (y); none for other text.
std::optional<QPoint> bodyTypeCell(const QString &bodyType);

// Level cell index of a value against a range: 0 below, 1 within, 2 above.
int levelIndex(double v, const Range &range);
// BMI cell 0..5: < 18.5, <= 24, <= 30, <= 35, <= 40, above.
int bmiLevelIndex(double bmi);

} // namespace reports
