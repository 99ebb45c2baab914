#include "reports/layout.h"

#include "app/dbtarget.h"

#include <QDate>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlTableModel>

#include <cmath>

// Outside any namespace: the resource's initialiser is a global function.
static bool registerReportPageFont()
{
    Q_INIT_RESOURCE(reportfont);
    if (QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/report.ttf")) >= 0)
        return true;
    qWarning() << "report font :/fonts/report.ttf not loaded; pages use the system font";
    return false;
}

namespace reports {

int printRowForTag(const QString &tag)
{
    static const QStringList rows = {sheet::tq40,  sheet::tq10,   sheet::tq20,   sheet::tq30,
                                     sheet::water, sheet::custom, sheet::fitness};
    const int row = rows.indexOf(tag);
    return row < 0 ? 0 : row;
}

QString readSelectedSheetTag()
{
    QSqlTableModel model;
    model.setTable(SqlDialect::current().modelTable(QStringLiteral("Report")));
    model.setSort(model.fieldIndex(QStringLiteral("ID")), Qt::AscendingOrder);
    model.select();
    QString tag = model.record(0).value(QStringLiteral("Selected")).toString();
    qDebug() << "At start,sheetTag is:" << tag;
    return tag;
}

const QStringList &printColumns()
{
    static const QStringList columns =
        QStringLiteral(
            "IDPrint IDSize IDX IDY GenderPrint GenderSize GenderX GenderY AgePrint AgeSize AgeX AgeY "
            "HeightPrint "
            "HeightSize HeightX HeightY DatePrint DateSize DateX DateY ScorePrint ScoreSize ScoreX ScoreY "
            "BodyAgePrint BodyAgeSize BodyAgeX BodyAgeY UnitPrint UnitSize UnitX UnitY FatPrint FatSize FatX "
            "FatY "
            "BonePrint BoneSize BoneX BoneY ProteinPrint ProteinSize ProteinX ProteinY WaterPrint WaterSize "
            "WaterX WaterY FatPercentPrint FatPercentSize FatPercentX FatPercentY BonePercentPrint "
            "BonePercentSize BonePercentX BonePercentY ProteinPercentPrint ProteinPercentSize "
            "ProteinPercentX "
            "ProteinPercentY WaterPercentPrint WaterPercentSize WaterPercentX WaterPercentY FatNormalPrint "
            "FatNormalSize FatNormalX FatNormalY BoneNormalPrint BoneNormalSize BoneNormalX BoneNormalY "
            "ProteinNormalPrint ProteinNormalSize ProteinNormalX ProteinNormalY WaterNormalPrint "
            "WaterNormalSize "
            "WaterNormalX WaterNormalY TotalWaterPrint TotalWaterSize TotalWaterX TotalWaterY MusclePrint "
            "MuscleSize MuscleX MuscleY LBMPrint LBMSize LBMX LBMY WeightPrint WeightSize WeightX WeightY "
            "ICWPrint ICWSize ICWX ICWY ECWPrint ECWSize ECWX ECWY EdemaPrint EdemaSize EdemaX EdemaY "
            "EdemaNormalPrint EdemaNormalSize EdemaNormalX EdemaNormalY EdemaLevelPrint EdemaLevelSize "
            "EdemaLevelX EdemaLevelY LineStartX BaseLine LineMargin MaxLine MinLine LineNormalPrint "
            "LineNormalSize WeightLinePrint MuscleLinePrint PBFLinePrint BoneLinePrint WaterLinePrint "
            "SMMLinePrint BMILinePrint WHRLinePrint WeightLineY MuscleLineY PBFLineY BoneLineY WaterLineY "
            "SMMLineY BMILineY WHRLineY TrunkfatPrint TrunkfatSize TrunkfatX TrunkfatY VFILinePrint VFILineX "
            "VFILineY VFILineUnit SMMPrint SMMSize SMMX SMMY SMMLevelX SMMLevelY MuscleLevelPrint "
            "UpperLevelX "
            "UpperLevelY BottomLevelX BottomLevelY BalanceX BalanceY RAX RAY LAX LAY TRX TRY RLX RLY LLX LLY "
            "SegFatPrint SegMusclePrint SegBonePrint SegWaterPrint SegLBMPrint BodyTypePrint BodyTypeX "
            "BodyTypeY "
            "WeightTargetPrint WeightTargetSize WeightTargetX WeightTargetY WeightControlPrint "
            "WeightControlSize "
            "WeightControlX WeightControlY FatControlPrint FatControlSize FatControlX FatControlY "
            "MuscleControlPrint MuscleControlSize MuscleControlX MuscleControlY BMILevelPrint BMILevelX "
            "BMILevelY "
            "PBFLevelPrint PBFLevelX PBFLevelY WHRLevelPrint WHRLevelX WHRLevelY ProteinLevelPrint "
            "ProteinLevelX "
            "ProteinLevelY FatLevelPrint FatLevelX FatLevelY MineralLevelPrint MineralLevelX MineralLevelY "
            "BMRPrint BMRSize BMRX BMRY ImpedancePrint ImpedanceSize ImpedanceX ImpedanceY LiverRiskPrint "
            "LiverRiskSize LiverRiskX LiverRiskY ")
            .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return columns;
}

PrintLayout PrintLayout::read(const QString &tag)
{
    // The rows have no key: their order is the order they were supplied in.
    QSqlQuery query;
    const SqlDialect dialect = SqlDialect::current();
    QSqlRecord record;
    if (query.exec(dialect.sql(QStringLiteral("SELECT * FROM Print ORDER BY ") + dialect.insertionOrder())) &&
        query.seek(printRowForTag(tag)))
        record = query.record();
    qDebug() << "modelPrint.record=" << tag;
    PrintLayout layout;
    for (const QString &name : printColumns()) {
        const QVariant v = record.value(name);
        layout.m_values.insert(name, v);
        if (name.endsWith(QLatin1String("Print")))
            qDebug().noquote() << name + QStringLiteral("= ") << v.toString();
        else
            qDebug().noquote() << name + QStringLiteral("= ") << v.toInt();
    }
    return layout;
}

PrintLayout PrintLayout::fromValues(const QHash<QString, QVariant> &values)
{
    PrintLayout layout;
    layout.m_values = values;
    return layout;
}

namespace {
// Whether |v| is a number too far off the page to compute positions with.
bool outOfLayout(const QVariant &v)
{
    bool ok = false;
    const double number = v.toDouble(&ok);
    return ok && !(std::abs(number) <= kLayoutLimit); // NaN included
}
} // namespace

bool PrintLayout::flag(const QString &name) const
{
    if (m_values.value(name).toString() != QLatin1String("Yes"))
        return false;
    if (!name.endsWith(QLatin1String("Print")))
        return true;
    const QString stem = name.chopped(5);
    for (const char *suffix : {"X", "Y", "Size"}) {
        if (outOfLayout(m_values.value(stem + QLatin1String(suffix)))) {
            qDebug() << name << "left out: its position is off the page";
            return false;
        }
    }
    return true;
}

int PrintLayout::value(const QString &name) const
{
    const QVariant v = m_values.value(name);
    return outOfLayout(v) ? 0 : v.toInt();
}

const QStringList &reportFontFamilies()
{
    static const QStringList families = [] {
        QStringList list{reportFontFamily, QStringLiteral("HanaMinA"), QStringLiteral("HanaMinB")};
        if (registerReportPageFont())
            list.prepend(reportPageFontFamily);
        return list;
    }();
    return families;
}

QFont reportFont(double pixelSize)
{
    QFont font(reportFontFamilies().constFirst());
    font.setFamilies(reportFontFamilies());
    font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    // Unhinted: advances scale with the size, so a line measures the same on
    // screen, paper and PDF, and no glyph program runs for each page.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

int pointsToPixels(double points)
{
    return std::max(1, int(std::lround(points * 96.0 / 72.0)));
}

FittedText fitText(const QFont &font, const QString &text, double maxWidth)
{
    constexpr double smallest = 0.7;
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(text);
    if (width <= maxWidth || width <= 0)
        return {text, 1};
    const double scale = maxWidth / width;
    if (scale >= smallest)
        return {text, scale};
    return {metrics.elidedText(text, Qt::ElideRight, maxWidth / smallest), smallest};
}

FittedText drawFittedText(QPainter &painter, const QPointF &origin, const QString &text, double maxWidth)
{
    FittedText fitted = fitText(painter.font(), text, maxWidth);
    if (fitted.scale == 1) {
        painter.drawText(origin, fitted.text);
        return fitted;
    }
    // Scaled about the baseline origin: the text keeps its place and stays
    // one text run in a PDF.
    painter.save();
    painter.translate(origin);
    painter.scale(fitted.scale, fitted.scale);
    painter.drawText(QPointF(0, 0), fitted.text);
    painter.restore();
    return fitted;
}

void drawLayoutItem(QPainter &painter, bool flag, int points, const QPointF &origin, const QString &text)
{
    if (!flag)
        return;
    if (points > 0) {
        QFont font = painter.font();
        font.setPixelSize(pointsToPixels(points));
        painter.setFont(font);
    }
    painter.drawText(origin, text);
}

double BcaRecord::d(const QString &column) const
{
    bool ok = false;
    const double v = values.value(column).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

QString BcaRecord::s(const QString &column) const
{
    return values.value(column).toString();
}

BcaRecord loadBcaRecord(int testId)
{
    BcaRecord rec;
    QSqlTableModel model;
    model.setTable(SqlDialect::current().modelTable(QStringLiteral("Result")));
    model.setSort(model.fieldIndex(QStringLiteral("TestID")), Qt::AscendingOrder);
    int row = 0;
    if (testId != 0) {
        model.setFilter(dbSql(QStringLiteral("TestID = '%1'").arg(testId)));
        model.select();
    } else {
        model.select();
        while (model.canFetchMore())
            model.fetchMore();
        row = model.rowCount() - 1;
        qDebug() << "lastRow: " << row;
    }
    if (row >= 0 && row < model.rowCount()) {
        const QSqlRecord r = model.record(row);
        for (int i = 0; i < r.count(); ++i)
            rec.values.insert(r.fieldName(i), r.value(i));
    }
    QSqlTableModel unit;
    unit.setTable(SqlDialect::current().modelTable(QStringLiteral("Unit")));
    unit.setSort(unit.fieldIndex(QStringLiteral("ID")), Qt::AscendingOrder);
    unit.select();
    rec.unitName = unit.record(0).value(QStringLiteral("UnitName")).toString();
    rec.unitPhone = unit.record(0).value(QStringLiteral("UnitPhone")).toString();
    qDebug() << "unitName=" << rec.unitName;
    qDebug() << "bodyType from db=" << rec.s(QStringLiteral("BodyType"));
    return rec;
}

std::optional<int> ageAtTest(int birthYear, const QString &testDate, int fallbackYear)
{
    // "2024-05-06", "2024/5/6 10:00", "20240506", "6.5.2024": the first year in it.
    static const QRegularExpression yearPattern(QStringLiteral("(?:^|\\D)((?:19|20)\\d\\d)"));
    const QRegularExpressionMatch m = yearPattern.match(testDate);
    const int year = m.hasMatch() ? m.captured(1).toInt()
                                  : (fallbackYear > 0 ? fallbackYear : QDate::currentDate().year());
    if (birthYear < 1900 || birthYear > year)
        return std::nullopt;
    return year - birthYear;
}

QString ageText(int birthYear, const QString &testDate, int fallbackYear)
{
    const std::optional<int> age = ageAtTest(birthYear, testDate, fallbackYear);
    return age ? QString::number(*age) : QString();
}

References referenceValues(bool male, double h, double W)
{
    References r;
    const double base = male ? h - 100 : h - 105;
    r.weight = {0.9 * base, 1.1 * base};
    r.S = male ? 0.00344 * h * h - 0.37678 * h + 14.40021 : 0.00351 * h * h - 0.4661 * h + 23.04821;
    r.fat = male ? Range{0.10 * W, 0.20 * W} : Range{0.18 * W, 0.28 * W};
    r.pbf = male ? Range{10, 20} : Range{18, 28};
    r.pbfMid = male ? 15 : 23;
    r.whr = male ? Range{0.85, 0.95} : Range{0.70, 0.80};
    r.whrMid = male ? 0.9 : 0.75;
    r.muscle = {0.9 * r.S, 1.1 * r.S};
    r.smm = {0.675 * r.S, 0.825 * r.S};
    r.bone = {0.045 * W, 0.055 * W};
    r.protein = {0.14 * W, 0.17 * W};
    r.water = {0.54 * W, 0.66 * W};
    r.bmi = {18.5, 23.9};
    return r;
}

std::optional<double> relativeSteps(double value, double reference)
{
    if (!std::isfinite(value) || !std::isfinite(reference) || reference <= 0)
        return std::nullopt;
    return ((value - reference) / reference) / 0.1;
}

std::optional<int> lineBarLength(std::optional<double> steps, int base, int margin, int maxLine, int minLine)
{
    if (!steps || !std::isfinite(*steps))
        return std::nullopt;
    const double raw = base + margin * *steps;
    // Far outside any page: clamp before converting so the cast stays defined.
    int length = raw > 1e6 ? maxLine : raw < -1e6 ? minLine : int(std::trunc(raw));
    if (length > maxLine)
        length = maxLine;
    if (length < minLine)
        length = minLine;
    return length;
}

QString formatValue(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', 6) : QString();
}

QString formatMeasured(double v)
{
    return v > 0 ? formatValue(v) : QString();
}

QString formatOneDecimal(double v)
{
    return std::isfinite(v) ? QString::number(v, 'f', 1) : QString();
}

QString formatPercent(double part, double whole)
{
    if (whole == 0 || !std::isfinite(part / whole))
        return QString();
    return formatOneDecimal(part / whole * 100) + QLatin1Char('%');
}

QString formatRange(const Range &range, const QString &separator)
{
    return QLatin1Char('[') + formatOneDecimal(range.low) + separator + formatOneDecimal(range.high) +
           QLatin1Char(']');
}

QString controlPrefix(double v)
{
    return v > 0 ? QStringLiteral("+") : QString();
}

} // namespace reports
