#include "reports/bcasheets.h"

#include "records/indicators.h"

namespace reports {

namespace {

using F = Field;
using R = FontRole;

// Person header shared by every fixed sheet; score and body age differ.
QVector<TextItem> header(QPoint score, QPoint bodyAge)
{
    return {
        {F::IdName, nullptr, {130, 192}, R::Page, idNameWidth},
        {F::Age, nullptr, {107, 225}, R::Page},
        {F::Measured, "Height", {216, 225}, R::Page},
        {F::Measured, "Weight", {445, 225}, R::Page},
        {F::Column, "Score", score, R::Page},
        {F::Column, "Body_age", bodyAge, R::Page},
        {F::UnitName, nullptr, {700, 192}, R::Page},
        {F::UnitPhone, nullptr, {700, 225}, R::Page},
    };
}

// Composition block: percentages at x 85, masses at 160, ranges at 210 on
// the four rows; water, muscle, lean mass and weight on |massY|.
QVector<TextItem> composition(const int rows[4], const int rangeRows[4], int massY)
{
    return {
        {F::ColumnPercent, "PBF", {85, rows[0]}, R::Page},
        {F::ShareOfWeight, "Bone", {85, rows[1]}, R::Page},
        {F::ShareOfWeight, "Protein", {85, rows[2]}, R::Page},
        {F::ShareOfWeight, "Water", {85, rows[3]}, R::Page},
        {F::Column, "Fat", {160, rows[0]}, R::Page},
        {F::Column, "Bone", {160, rows[1]}, R::Page},
        {F::Column, "Protein", {160, rows[2]}, R::Page},
        {F::Column, "Water", {160, rows[3]}, R::Page},
        {F::FatRange, nullptr, {210, rangeRows[0]}, R::Grid},
        {F::BoneRange, nullptr, {210, rangeRows[1]}, R::Grid},
        {F::ProteinRange, nullptr, {210, rangeRows[2]}, R::Grid},
        {F::WaterRange, nullptr, {210, rangeRows[3]}, R::Grid},
        {F::Column, "Water", {360, massY}, R::Page},
        {F::Column, "Muscle", {410, massY}, R::Page},
        {F::Column, "LBM", {480, massY}, R::Page},
        {F::Measured, "Weight", {550, massY}, R::Page},
    };
}

QVector<TextItem> waterBlock(QPoint icw, QPoint ecw, QPoint edema)
{
    return {{F::Column, "ICW", icw, R::Small},
            {F::Column, "ECW", ecw, R::Small},
            {F::Column, "Edema", edema, R::Small}};
}

// Standard weight at x 800, the three control amounts at 815 with "+" at 800.
QVector<TextItem> controls(const int rows[4])
{
    QVector<TextItem> items{{F::Column, "Standard_weight", {800, rows[0]}, R::Page}};
    const char *columns[3] = {"Weight_control", "Fat_control", "Muscle_control"};
    for (int i = 0; i < 3; ++i) {
        items.append({F::ControlSign, columns[i], {800, rows[i + 1]}, R::Page});
        items.append({F::Column, columns[i], {815, rows[i + 1]}, R::Page});
    }
    return items;
}

// One segment value family at five anchors (RA, LA, TR, RL, LL).
QVector<TextItem> segmentValues(const char *const columns[5], const QPoint anchors[5])
{
    QVector<TextItem> items;
    for (int i = 0; i < 5; ++i)
        items.append({F::Column, columns[i], anchors[i], R::Grid});
    return items;
}

const char *const segFat[5] = {"RA_fat", "LA_fat", "TR_fat", "RL_fat", "LL_fat"};
const char *const segMuscle[5] = {"RA_muscle", "LA_muscle", "TR_muscle", "RL_muscle", "LL_muscle"};
const char *const segBone[5] = {"RA_bone", "LA_bone", "TR_bone", "RL_bone", "LL_bone"};
const char *const segWater[5] = {"RA_water", "LA_water", "TR_water", "RL_water", "LL_water"};

QVector<BarRow> chartRows(const int y[8], int labelDy, int rangeDy)
{
    const Bar bars[8] = {Bar::Weight, Bar::Muscle, Bar::Pbf, Bar::Bone,
                         Bar::Water,  Bar::Smm,    Bar::Bmi, Bar::Whr};
    QVector<BarRow> rows;
    for (int i = 0; i < 8; ++i)
        rows.append({bars[i], y[i], y[i] + labelDy, y[i] + rangeDy});
    return rows;
}

FixedSheet tq40()
{
    FixedSheet s;
    s.tag = sheet::tq40;
    s.form = SheetForm::Q40;
    s.background = QStringLiteral(":/image/Q40-report.jpg");
    s.logLine = QStringLiteral("print sheet Q40");
    s.maleMark = {443, 192};
    s.femaleMark = {517, 192};
    const int rows[4] = {378, 403, 431, 475};
    const int rangeRows[4] = {378, 403, 431, 470};
    const int controlRows[4] = {550, 580, 610, 644};
    s.texts = header({185, 270}, {528, 278}) + composition(rows, rangeRows, 470) +
              waterBlock({300, 525}, {360, 525}, {480, 512}) + controls(controlRows);
    s.texts += {{F::Column, "TR_fat", {135, 965}, R::Page},
                {F::LiverRisk, nullptr, {29, 1060}, R::Grid},
                {F::Column, "SMM", {430, 965}, R::Page}};
    // Segment table: fat, muscle and bone of each segment, one per line.
    const QPoint fat[5] = {{82, 1155}, {500, 1155}, {182, 1215}, {82, 1291}, {500, 1298}};
    const QPoint muscle[5] = {{82, 1172}, {500, 1170}, {182, 1231}, {82, 1311}, {500, 1314}};
    const QPoint bone[5] = {{82, 1187}, {500, 1185}, {182, 1250}, {82, 1326}, {500, 1329}};
    s.texts += segmentValues(segFat, fat) + segmentValues(segMuscle, muscle) + segmentValues(segBone, bone);
    s.bars = {126,
              165,
              35,
              350,
              10,
              6,
              512,
              {{Bar::Weight, 658, 660, 658},
               {Bar::Muscle, 690, 692, 689},
               {Bar::Pbf, 723, 725, 725},
               {Bar::Bone, 758, 760, 760},
               {Bar::Water, 793, 795, 795},
               {Bar::Smm, 828, 828, 830},
               {Bar::Bmi, 858, 860, 860},
               {Bar::Whr, 894, 895, 895}}};
    s.vfi = VfiBar{{29, 1032}, 6, 20, 0, 1035, 250};
    s.grid = LevelGrid{{{638, 750}, {729, 750}, {824, 750}, {639, 775}, {729, 775}, {824, 775}},
                       {{729, 811}, {779, 811}, {841, 811}},
                       {{704, 906}, {780, 906}, {842, 906}},
                       {{729, 997}, {789, 997}},
                       {{729, 1057}, {789, 1057}},
                       0.045,
                       {{727, 1025}, {790, 1025}, {855, 1025}},
                       {810, 1095}};
    s.bodyTypeX[0] = 700, s.bodyTypeX[1] = 790, s.bodyTypeX[2] = 878;
    s.bodyTypeY[0] = 312, s.bodyTypeY[1] = 386, s.bodyTypeY[2] = 464;
    s.impedance = true;
    s.muscleBalance = true;
    return s;
}

// TQ-10, TQ-20 and the water sheet share the upper half of the page.
const int tq10Rows[4] = {310, 340, 360, 410};
const int tq10Bars[8] = {600, 635, 670, 705, 740, 770, 805, 840};

FixedSheet tq10()
{
    FixedSheet s;
    s.tag = sheet::tq10;
    s.form = SheetForm::Q10;
    s.background = QStringLiteral(":/image/Q10-report.jpg");
    s.logLine = QStringLiteral("print sheet Q10");
    s.maleMark = {443, 192};
    s.femaleMark = {517, 192};
    const int controlRows[4] = {700, 735, 770, 800};
    s.texts = header({850, 270}, {850, 328}) + composition(tq10Rows, tq10Rows, 420) +
              waterBlock({300, 525}, {360, 525}, {480, 512}) + controls(controlRows);
    s.texts += {{F::Column, "TR_fat", {270, 955}, R::Page}, {F::LiverRisk, nullptr, {370, 955}, R::Grid}};
    // Muscle at the anchors, fat further right on the same rows.
    const QPoint muscle[5] = {{80, 1150}, {220, 1150}, {142, 1200}, {80, 1250}, {220, 1250}};
    const QPoint fat[5] = {{380, 1150}, {540, 1150}, {450, 1200}, {380, 1250}, {540, 1250}};
    s.texts += segmentValues(segMuscle, muscle) + segmentValues(segFat, fat);
    s.bars = {126, 165, 35, 350, 10, 6, 512, chartRows(tq10Bars, 2, 2)};
    s.vfi = VfiBar{{146, 1007}, 6, 30, 0, 1013, 300};
    // Cells the sheet does not fix follow the TQ-20 grid on the TQ-10 rows.
    s.grid = LevelGrid{{{634, 930}, {725, 930}, {820, 930}, {635, 960}, {725, 960}, {820, 960}},
                       {{725, 990}, {775, 990}, {837, 990}},
                       {{701, 1080}, {777, 1080}, {839, 1080}},
                       {{727, 1190}, {787, 1190}},
                       {{727, 1250}, {787, 1250}},
                       0.045,
                       {{727, 1215}, {789, 1215}, {854, 1215}},
                       {810, 1285}};
    s.bodyTypeX[0] = 700, s.bodyTypeX[1] = 790, s.bodyTypeX[2] = 878;
    s.bodyTypeY[0] = 450, s.bodyTypeY[1] = 523, s.bodyTypeY[2] = 600;
    s.impedance = false;
    s.muscleBalance = false;
    return s;
}

FixedSheet tq20()
{
    FixedSheet s;
    s.tag = sheet::tq20;
    s.form = SheetForm::Q20;
    s.background = QStringLiteral(":/image/Q20-report.jpg");
    s.logLine = QStringLiteral("print sheet Q20");
    s.maleMark = {441, 192};
    s.femaleMark = {515, 192};
    const int controlRows[4] = {710, 740, 775, 805};
    s.texts = header({850, 270}, {850, 328}) + composition(tq10Rows, tq10Rows, 420) +
              waterBlock({300, 525}, {360, 525}, {480, 512}) + controls(controlRows);
    s.texts += {{F::Column, "TR_fat", {160, 955}, R::Page}, {F::LiverRisk, nullptr, {40, 1055}, R::Grid}};
    const QPoint water[5] = {{90, 1190}, {245, 1190}, {172, 1250}, {90, 1290}, {245, 1290}};
    const QPoint fat[5] = {{365, 1190}, {525, 1190}, {450, 1250}, {365, 1290}, {525, 1290}};
    s.texts += segmentValues(segWater, water) + segmentValues(segFat, fat);
    s.bars = {126, 165, 35, 350, 10, 6, 512, chartRows(tq10Bars, 2, 2)};
    s.vfi = VfiBar{{40, 1022}, 6, 21, 0, 1027, 300};
    s.grid = LevelGrid{{{634, 933}, {725, 933}, {820, 933}, {635, 963}, {725, 963}, {820, 963}},
                       {{725, 993}, {775, 993}, {837, 993}},
                       {{701, 1087}, {777, 1087}, {839, 1087}},
                       {{727, 1205}, {787, 1205}},
                       {{727, 1267}, {787, 1267}},
                       0.045,
                       {{727, 1233}, {787, 1233}, {854, 1233}},
                       {810, 1300}};
    s.bodyTypeX[0] = 700, s.bodyTypeX[1] = 790, s.bodyTypeX[2] = 878;
    s.bodyTypeY[0] = 450, s.bodyTypeY[1] = 523, s.bodyTypeY[2] = 600;
    s.impedance = false;
    s.muscleBalance = false;
    return s;
}

FixedSheet tq30()
{
    FixedSheet s;
    s.tag = sheet::tq30;
    s.form = SheetForm::Q30;
    s.background = QStringLiteral(":/image/Q30-report.jpg");
    s.maleMark = {442, 192};
    s.femaleMark = {516, 192};
    const int controlRows[4] = {710, 750, 786, 821};
    s.texts = header({290, 262}, {840, 269}) + controls(controlRows);
    s.texts += {{F::Column, "Water", {194, 430}, R::Page},    {F::Column, "Protein", {194, 477}, R::Page},
                {F::Column, "Bone", {194, 530}, R::Page},     {F::Column, "Fat", {194, 580}, R::Page},
                {F::Column, "Muscle", {310, 462}, R::Page},   {F::Column, "LBM", {410, 480}, R::Page},
                {F::Measured, "Weight", {519, 495}, R::Page}, {F::LiverRisk, nullptr, {36, 1125}, R::Grid}};
    // The upper clamp keeps the value clear of the range column at x 517.
    s.bars = {156,
              153,
              35,
              350,
              10,
              6,
              517,
              {{Bar::Weight, 712, 718, 718},
               {Bar::Muscle, 753, 759, 759},
               {Bar::Pbf, 794, 800, 800},
               {Bar::FatMass, 835, 841, 841},
               {Bar::Bone, 874, 880, 880},
               {Bar::Water, 914, 920, 920},
               {Bar::Bmi, 954, 960, 960},
               {Bar::Whr, 995, 1001, 1001}}};
    s.vfi = VfiBar{{36, 1095}, 10, 34, 288, 1100, 420};
    s.grid = LevelGrid{{{634, 944}, {724, 944}, {822, 944}, {634, 972}, {724, 972}, {822, 972}},
                       {{724, 1002}, {775, 1002}, {840, 1002}},
                       {{701, 1096}, {777, 1096}, {840, 1096}},
                       {{727, 1195}, {788, 1195}},
                       {{727, 1254}, {790, 1254}},
                       0.0495,
                       {{727, 1222}, {790, 1222}, {857, 1222}},
                       {797, 1290}};
    s.bodyTypeX[0] = 700, s.bodyTypeX[1] = 790, s.bodyTypeX[2] = 878;
    s.bodyTypeY[0] = 407, s.bodyTypeY[1] = 480, s.bodyTypeY[2] = 560;
    s.impedance = false;
    s.muscleBalance = false;
    return s;
}

FixedSheet waterSheet()
{
    FixedSheet s;
    s.tag = sheet::water;
    s.form = SheetForm::Water;
    s.background = QStringLiteral(":/image/water-report.jpg");
    s.logLine = QStringLiteral("print sheet water");
    s.maleMark = {441, 192};
    s.femaleMark = {515, 192};
    s.texts = header({850, 270}, {850, 328}) + composition(tq10Rows, tq10Rows, 420) +
              waterBlock({300, 465}, {360, 465}, {485, 450});
    s.texts += {{F::Literal, "(内水:外水)", {540, 810}, R::Grid}};
    const char *const segments[5] = {"RA", "LA", "TR", "RL", "LL"};
    const int icwEcwY[5] = {880, 925, 970, 1015, 1055};
    for (int i = 0; i < 5; ++i)
        s.texts.append({F::IcwEcw, segments[i], {550, icwEcwY[i]}, R::Grid});
    // Bars stop short of the "(内水:外水)" column at x 550, and so do their values.
    s.bars = {160,
              133,
              35,
              380,
              10,
              8,
              550,
              {{Bar::TotalWater, 565, 573, 0},
               {Bar::Icw, 610, 618, 0},
               {Bar::Ecw, 655, 663, 0},
               {Bar::EdemaRatio, 750, 758, 0},
               {Bar::RaWater, 860, 868, 0},
               {Bar::LaWater, 905, 913, 0},
               {Bar::TrWater, 950, 958, 0},
               {Bar::RlWater, 1000, 1008, 0},
               {Bar::LlWater, 1045, 1053, 0}}};
    s.bodyTypeX[0] = s.bodyTypeX[1] = s.bodyTypeX[2] = 0;
    s.bodyTypeY[0] = s.bodyTypeY[1] = s.bodyTypeY[2] = 0;
    s.impedance = false;
    s.muscleBalance = false;
    s.gauge = EdemaGauge{{200, 285, 370, 455, 540}, 1314, 1950, 200};
    return s;
}

} // namespace

int fontPixels(FontRole role)
{
    switch (role) {
    case FontRole::Page:
        return pointsToPixels(12);
    case FontRole::Small:
        return pointsToPixels(11);
    case FontRole::Grid:
        return pointsToPixels(10);
    }
    return pointsToPixels(12);
}

const QVector<FixedSheet> &fixedSheets()
{
    // Dispatch order of the page: the first matching tag paints.
    static const QVector<FixedSheet> sheets = {tq40(), tq10(), tq20(), waterSheet(), tq30()};
    return sheets;
}

const FixedSheet *fixedSheet(const QString &tag)
{
    for (const FixedSheet &s : fixedSheets()) {
        if (s.tag == tag)
            return &s;
    }
    return nullptr;
}

std::optional<QPoint> bodyTypeCell(const QString &bodyType)
{
    using namespace indicators::bodytype;
    const QString words[3][3] = {{hiddenObesity, excessFat, obese},
                                 {insufficientMuscle, healthy, overweight},
                                 {thin, lowFat, athletic}};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (words[row][col] == bodyType)
                return QPoint(col, row);
        }
    }
    return std::nullopt;
}

int levelIndex(double v, const Range &range)
{
    if (v < range.low)
        return 0;
    return v <= range.high ? 1 : 2;
}

int bmiLevelIndex(double bmi)
{
    const double limits[5] = {18.5, 24, 30, 35, 40};
    if (bmi < limits[0])
        return 0;
    for (int i = 1; i < 5; ++i) {
        if (bmi <= limits[i])
            return i;
    }
    return 5;
}

namespace {
BarValue computeBar(Bar bar, const BcaRecord &rec, const References &refs)
{
    const double W = rec.d(QStringLiteral("Weight"));
    const double water = rec.d(QStringLiteral("Water"));
    auto relative = [&](const char *column, double reference, std::optional<Range> range) {
        const double v = rec.d(QLatin1String(column));
        return BarValue{v, relativeSteps(v, reference), std::nullopt, range};
    };
    // Absolute deviation in steps of |step| from |mid|.
    auto absolute = [&](const char *column, double mid, double step, std::optional<Range> range) {
        const double v = rec.d(QLatin1String(column));
        return BarValue{v, (v - mid) / step, std::nullopt, range};
    };
    switch (bar) {
    case Bar::Weight:
        return relative("Weight", rec.d(QStringLiteral("Standard_weight")), refs.weight);
    case Bar::Muscle:
        return relative("Muscle", refs.S, refs.muscle);
    case Bar::Pbf:
        return absolute("PBF", refs.pbfMid, 5, refs.pbf);
    case Bar::FatMass: {
        BarValue b = absolute("PBF", refs.pbfMid, 5, refs.fat);
        b.value = rec.d(QStringLiteral("Fat"));
        return b;
    }
    case Bar::Bone:
        return relative("Bone", 0.05 * W, refs.bone);
    case Bar::Water:
        return relative("Water", 0.6 * W, refs.water);
    case Bar::Smm:
        return relative("SMM", 0.75 * refs.S, refs.smm);
    case Bar::Bmi:
        return absolute("BMI", 21, 3, refs.bmi);
    case Bar::Whr:
        return absolute("WHR", refs.whrMid, 0.05, refs.whr);
    case Bar::TotalWater:
        return relative("Water", 0.6 * W, std::nullopt);
    case Bar::Icw:
        return relative("ICW", 0.6 * 0.66 * W, std::nullopt);
    case Bar::Ecw:
        return relative("ECW", 0.6 * 0.33 * W, std::nullopt);
    case Bar::EdemaRatio: {
        const double v = rec.d(QStringLiteral("Edema"));
        return BarValue{v, 0.0, (v - 0.275) * 3800, std::nullopt};
    }
    case Bar::RaWater:
        return relative("RA_water", 0.075 * water, std::nullopt);
    case Bar::LaWater:
        return relative("LA_water", 0.075 * water, std::nullopt);
    case Bar::TrWater:
        return relative("TR_water", 0.5 * water, std::nullopt);
    case Bar::RlWater:
        return relative("RL_water", 0.175 * water, std::nullopt);
    case Bar::LlWater:
        return relative("LL_water", 0.175 * water, std::nullopt);
    }
    return {};
}

} // namespace

BarValue barValue(Bar bar, const BcaRecord &rec, const References &refs)
{
    BarValue b = computeBar(bar, rec, refs);
    // Without height or weight no reference means anything: the value alone.
    if (rec.d(QStringLiteral("Weight")) <= 0 || rec.d(QStringLiteral("Height")) <= 0) {
        b.steps.reset();
        b.length.reset();
        b.range.reset();
    }
    return b;
}

Bar waterSheetBar(Bar bar)
{
    switch (bar) {
    case Bar::Weight:
        return Bar::TotalWater;
    case Bar::Muscle:
        return Bar::Icw;
    case Bar::Pbf:
        return Bar::Ecw;
    case Bar::Bone:
        return Bar::RaWater;
    case Bar::Water:
        return Bar::LaWater;
    case Bar::Smm:
        return Bar::TrWater;
    case Bar::Bmi:
        return Bar::RlWater;
    case Bar::Whr:
        return Bar::LlWater;
    default:
        return bar;
    }
}

} // namespace reports
