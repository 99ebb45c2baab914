#include "reports/overlay.h"

#include "reports/bcasheets.h"
#include "reports/reportpage.h"

#include <QDebug>
#include <QPainter>
#include <QPrinter>

#include <cmath>

namespace reports {

namespace {

const QString tick = QStringLiteral("√");

// The eight bars of the chart with their Print column stems.
struct ChartBar
{
    const char *stem;
    Bar bar;
};
const ChartBar chartBars[8] = {{"Weight", Bar::Weight}, {"Muscle", Bar::Muscle}, {"PBF", Bar::Pbf},
                               {"Bone", Bar::Bone},     {"Water", Bar::Water},   {"SMM", Bar::Smm},
                               {"BMI", Bar::Bmi},       {"WHR", Bar::Whr}};

class OverlayPainter
{
public:
    OverlayPainter(QPainter &p, const PrintLayout &l, const BcaRecord &r, const QString &t)
        : painter(p), layout(l), rec(r), tag(t),
          refs(referenceValues(r.isMale(), r.d(QStringLiteral("Height")), r.d(QStringLiteral("Weight"))))
    {}

    void paint();

private:
    QPainter &painter;
    const PrintLayout &layout;
    const BcaRecord &rec;
    const QString tag;
    const References refs;

    bool flag(const QString &name) const { return layout.flag(name); }
    int val(const QString &name) const { return layout.value(name); }
    double d(const char *column) const { return rec.d(QLatin1String(column)); }

    // Item with flag, size and position columns, at an offset.
    void item(const QString &name, const QString &text, int dx = 0, int dy = 0)
    {
        drawLayoutItem(painter, flag(name + QStringLiteral("Print")), val(name + QStringLiteral("Size")),
                       QPointF(val(name + QStringLiteral("X")) + dx, val(name + QStringLiteral("Y")) + dy),
                       text);
    }
    // Mark with flag and position only: keeps the last font size.
    void mark(const QString &name, int dx, int dy)
    {
        drawLayoutItem(painter, flag(name + QStringLiteral("Print")), 0,
                       QPointF(val(name + QStringLiteral("X")) + dx, val(name + QStringLiteral("Y")) + dy),
                       tick);
    }
    void setSize(int points)
    {
        if (points <= 0)
            return;
        QFont f = painter.font();
        f.setPixelSize(pointsToPixels(points));
        painter.setFont(f);
    }
    // A chart bar at |y|; returns its length (none: no bar, value alone).
    std::optional<int> drawBar(const BarValue &bv, int y, const QString &label)
    {
        const int startX = val(QStringLiteral("LineStartX"));
        std::optional<int> length;
        if (bv.length) {
            length = lineBarLength(0.0, int(std::trunc(std::clamp(*bv.length, -1e6, 1e6))), 0,
                                   val(QStringLiteral("MaxLine")), val(QStringLiteral("MinLine")));
        } else {
            length =
                lineBarLength(bv.steps, val(QStringLiteral("BaseLine")), val(QStringLiteral("LineMargin")),
                              val(QStringLiteral("MaxLine")), val(QStringLiteral("MinLine")));
        }
        if (length && *length > 0)
            painter.fillRect(QRectF(startX, y, *length, 6), Qt::black);
        painter.drawText(QPointF(startX + length.value_or(0) + 10, y + 5), label);
        return length;
    }

    void header();
    void composition();
    void lineChart();
    void vfiLine();
    void muscleMarks();
    void segments();
    void levels();
    void impedance();
    void lineNormal();
    void extras();
};

void OverlayPainter::header()
{
    if (flag(QStringLiteral("IDPrint"))) {
        setSize(val(QStringLiteral("IDSize")));
        const QString id = rec.s(QStringLiteral("UID")) + QLatin1Char('/') + rec.s(QStringLiteral("Name"));
        const QPointF origin(val(QStringLiteral("IDX")), val(QStringLiteral("IDY")));
        if (const std::optional<double> width = idNameRoom(layout))
            drawFittedText(painter, origin, id, *width);
        else
            painter.drawText(origin, id);
    }
    item(QStringLiteral("Gender"), tick, rec.isMale() ? 0 : 64);
    const QString age =
        ageText(rec.values.value(QStringLiteral("BirthYear")).toInt(), rec.s(QStringLiteral("TestDate")));
    qDebug() << "age = " << age;
    item(QStringLiteral("Age"), age);
    item(QStringLiteral("Height"), formatMeasured(d("Height")));
    item(QStringLiteral("Date"), rec.s(QStringLiteral("TestDate")));
    item(QStringLiteral("Score"), formatValue(d("Score")));
    item(QStringLiteral("BodyAge"), formatValue(d("Body_age")));
    item(QStringLiteral("Unit"), rec.unitName);
    item(QStringLiteral("Unit"), rec.unitPhone, 0, 30);
}

void OverlayPainter::composition()
{
    const double W = d("Weight");
    item(QStringLiteral("Fat"), formatValue(d("Fat")));
    item(QStringLiteral("Bone"), formatValue(d("Bone")));
    item(QStringLiteral("Protein"), formatValue(d("Protein")));
    item(QStringLiteral("Water"), formatValue(d("Water")));
    item(QStringLiteral("FatPercent"), formatOneDecimal(d("PBF")) + QLatin1Char('%'));
    item(QStringLiteral("BonePercent"), formatPercent(d("Bone"), W));
    item(QStringLiteral("ProteinPercent"), formatPercent(d("Protein"), W));
    item(QStringLiteral("WaterPercent"), formatPercent(d("Water"), W));
    // Ranges by weight: none without a weight.
    auto byWeight = [W](const Range &r) { return W > 0 ? formatRange(r) : QString(); };
    item(QStringLiteral("FatNormal"), byWeight(refs.fat));
    item(QStringLiteral("BoneNormal"), byWeight(refs.bone));
    item(QStringLiteral("ProteinNormal"), byWeight(refs.protein));
    item(QStringLiteral("WaterNormal"), byWeight(refs.water));
    item(QStringLiteral("TotalWater"), formatValue(d("Water")));
    item(QStringLiteral("Muscle"), formatValue(d("Muscle")));
    item(QStringLiteral("LBM"), formatValue(d("LBM")));
    item(QStringLiteral("Weight"), formatMeasured(W));
    item(QStringLiteral("ICW"), formatValue(d("ICW")));
    item(QStringLiteral("ECW"), formatValue(d("ECW")));
    item(QStringLiteral("Edema"), formatValue(d("Edema")));
    item(QStringLiteral("EdemaNormal"), QStringLiteral("[0.3-0.35]"));
    const double edema = d("Edema");
    item(QStringLiteral("EdemaLevel"), tick, 0, edema < 0.3 ? 0 : edema <= 0.35 ? 20 : 40);
}

void OverlayPainter::lineChart()
{
    const bool waterSheet = tag == sheet::water;
    setSize(val(QStringLiteral("LineNormalSize")));
    for (const ChartBar &cb : chartBars) {
        const QString stem = QLatin1String(cb.stem);
        if (!flag(stem + QStringLiteral("LinePrint")))
            continue;
        const int y = val(stem + QStringLiteral("LineY"));
        const BarValue bv = barValue(waterSheet ? waterSheetBar(cb.bar) : cb.bar, rec, refs);
        const std::optional<int> length = drawBar(bv, y, formatValue(bv.value));
        if (cb.bar == Bar::Pbf && tag == sheet::tq30) {
            qDebug() << "printing TQ-30 fat line";
            BarValue fat = barValue(Bar::FatMass, rec, refs);
            fat.length = length ? std::optional<double>(*length) : std::nullopt;
            fat.steps = length ? std::optional<double>(0.0) : std::nullopt;
            drawBar(fat, y + 30, formatValue(fat.value));
        }
    }
}

void OverlayPainter::vfiLine()
{
    if (!flag(QStringLiteral("VFILinePrint")))
        return;
    const int unit = val(QStringLiteral("VFILineUnit"));
    double raw = 0;
    double value = 0;
    if (tag == sheet::tq30) {
        qDebug() << "printing TQ-30 VFILine";
        qDebug() << "VFILineUnit=" << unit;
        value = d("VFI");
        raw = (value - 6) * unit;
    } else if (tag == sheet::water) {
        value = d("Edema");
        raw = (value - 0.275) * unit;
    } else {
        return;
    }
    const int length = *lineBarLength(0.0, int(std::trunc(std::clamp(raw, -1e6, 1e6))), 0,
                                      val(QStringLiteral("MaxLine")), val(QStringLiteral("MinLine")));
    const int x = val(QStringLiteral("VFILineX"));
    const int y = val(QStringLiteral("VFILineY"));
    if (length > 0)
        painter.fillRect(QRectF(x, y, length, 6), Qt::black);
    painter.drawText(QPointF(x + length + 10, y + 5), formatValue(value));
}

void OverlayPainter::muscleMarks()
{
    item(QStringLiteral("SMM"), formatValue(d("SMM")));
    if (flag(QStringLiteral("SMMPrint")))
        painter.drawText(QPointF(val(QStringLiteral("SMMLevelX")) + 50 * levelIndex(d("SMM"), refs.smm),
                                 val(QStringLiteral("SMMLevelY"))),
                         tick);
    if (!flag(QStringLiteral("MuscleLevelPrint")))
        return;
    const double upper = d("LA_muscle") + d("RA_muscle");
    const double lower = d("LL_muscle") + d("RL_muscle");
    const double left = d("LA_muscle") + d("LL_muscle");
    const double right = d("RA_muscle") + d("RL_muscle");
    const int steps[3] = {0, 20, 38};
    const int u = upper < 0.05 * refs.S ? 0 : upper <= 0.15 * refs.S ? 1 : 2;
    const int b = lower < 0.25 * refs.S ? 0 : lower <= 0.35 * refs.S ? 1 : 2;
    painter.drawText(
        QPointF(val(QStringLiteral("UpperLevelX")), val(QStringLiteral("UpperLevelY")) + steps[u]), tick);
    painter.drawText(
        QPointF(val(QStringLiteral("BottomLevelX")), val(QStringLiteral("BottomLevelY")) + steps[b]), tick);
    const bool unbalanced = left - right >= 0.45 * (left + right) && left + right > 0;
    painter.drawText(
        QPointF(val(QStringLiteral("BalanceX")), val(QStringLiteral("BalanceY")) + (unbalanced ? 20 : 0)),
        tick);
}

void OverlayPainter::segments()
{
    static const char *const codes[5] = {"RA", "LA", "TR", "RL", "LL"};
    setSize(val(QStringLiteral("EdemaNormalSize")));
    auto anchor = [&](int i) {
        const QString c = QLatin1String(codes[i]);
        return QPointF(val(c + QLatin1Char('X')), val(c + QLatin1Char('Y')));
    };
    auto value = [&](int i, const char *suffix) {
        return formatValue(rec.d(QLatin1String(codes[i]) + QLatin1String(suffix)));
    };
    if (tag == sheet::tq10) {
        // The TQ-10 sheet: muscle at the anchors, fat further right on the same rows.
        static const int fatDx[5] = {300, 320, 308, 300, 320};
        for (int i = 0; i < 5; ++i) {
            if (flag(QStringLiteral("SegMusclePrint")))
                painter.drawText(anchor(i), value(i, "_muscle"));
            if (flag(QStringLiteral("SegFatPrint")))
                painter.drawText(anchor(i) + QPointF(fatDx[i], 0), value(i, "_fat"));
        }
        return;
    }
    const struct
    {
        const char *flag;
        const char *suffix;
        int dy;
    } families[5] = {{"SegFatPrint", "_fat", 0},
                     {"SegMusclePrint", "_muscle", 13},
                     {"SegBonePrint", "_bone", 26},
                     {"SegWaterPrint", "_water", 39},
                     {"SegLBMPrint", "_LBM", 52}};
    for (const auto &family : families) {
        if (!flag(QLatin1String(family.flag)))
            continue;
        for (int i = 0; i < 5; ++i)
            painter.drawText(anchor(i) + QPointF(0, family.dy), value(i, family.suffix));
    }
}

void OverlayPainter::levels()
{
    const double W = d("Weight");
    if (flag(QStringLiteral("BodyTypePrint"))) {
        qDebug() << "bodyType for print&display=" << rec.s(QStringLiteral("BodyType"));
        if (const std::optional<QPoint> cell = bodyTypeCell(rec.s(QStringLiteral("BodyType")))) {
            const int dx[3] = {0, 80, 155};
            const int dy[3] = {0, 60, 120};
            painter.fillRect(QRectF(val(QStringLiteral("BodyTypeX")) + dx[cell->x()],
                                    val(QStringLiteral("BodyTypeY")) + dy[cell->y()], 10, 10),
                             Qt::black);
        }
    }
    item(QStringLiteral("WeightTarget"), formatValue(d("Standard_weight")));
    const char *controls[3][2] = {{"WeightControl", "Weight_control"},
                                  {"FatControl", "Fat_control"},
                                  {"MuscleControl", "Muscle_control"}};
    for (const auto &c : controls) {
        const QString name = QLatin1String(c[0]);
        const double v = d(c[1]);
        item(name, formatValue(v));
        // The sign stands in its own column before the value.
        item(name, controlPrefix(v), -15, 0);
    }
    const int bmi = bmiLevelIndex(d("BMI"));
    const int bmiDx[3] = {0, 77, 155};
    mark(QStringLiteral("BMILevel"), bmiDx[bmi % 3], bmi < 3 ? 0 : 25);
    const int pbfDx[3] = {0, 45, 95};
    mark(QStringLiteral("PBFLevel"), pbfDx[levelIndex(d("PBF"), refs.pbf)], 0);
    const int whrDx[3] = {0, 70, 115};
    mark(QStringLiteral("WHRLevel"), whrDx[levelIndex(d("WHR"), refs.whr)], 0);
    mark(QStringLiteral("ProteinLevel"), d("Protein") > 0.14 * W ? 0 : 52, 0);
    const int fatDx[3] = {0, 52, 102};
    mark(QStringLiteral("FatLevel"), fatDx[levelIndex(d("PBF"), refs.pbf)], 0);
    mark(QStringLiteral("MineralLevel"), d("Bone") > 0.045 * W ? 0 : 52, 0);
    item(QStringLiteral("BMR"), formatValue(d("BMR")));
}

void OverlayPainter::impedance()
{
    if (!flag(QStringLiteral("ImpedancePrint")))
        return;
    setSize(val(QStringLiteral("ImpedanceSize")));
    static const char *const codes[5] = {"RA", "LA", "TR", "RL", "LL"};
    static const int freqs[5] = {5, 50, 100, 250, 500};
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 5; ++col) {
            const QString column = QLatin1String(codes[col]) + QString::number(freqs[row]);
            painter.drawText(QPointF(val(QStringLiteral("ImpedanceX")) + 40 * col,
                                     val(QStringLiteral("ImpedanceY")) + 22 * row),
                             formatValue(rec.d(column)));
        }
    }
}

void OverlayPainter::lineNormal()
{
    // The body-composition ranges belong to the body-composition bars only.
    if (!flag(QStringLiteral("LineNormalPrint")) || tag == sheet::water)
        return;
    if (rec.d(QStringLiteral("Weight")) <= 0 || rec.d(QStringLiteral("Height")) <= 0)
        return;
    setSize(val(QStringLiteral("LineNormalSize")));
    const int x = val(QStringLiteral("LineStartX")) + 320;
    for (const ChartBar &cb : chartBars) {
        const QString stem = QLatin1String(cb.stem);
        // Only the bars on the sheet carry a range (the others have no row).
        if (!flag(stem + QStringLiteral("LinePrint")))
            continue;
        const std::optional<Range> range = barValue(cb.bar, rec, refs).range;
        if (range)
            painter.drawText(QPointF(x, val(stem + QStringLiteral("LineY"))), formatRange(*range));
    }
    if (tag == sheet::tq30) {
        qDebug() << "printing TQ-30 normal";
        painter.drawText(QPointF(x, val(QStringLiteral("PBFLineY")) + 36), formatRange(refs.fat));
    }
}

void OverlayPainter::extras()
{
    if (tag == sheet::tq20) {
        qDebug() << "print TQ-20 special emdema part";
        setSize(11);
        painter.drawText(QPointF(340, 775), formatPercent(d("Water"), d("Weight")));
        painter.drawText(QPointF(345, 828), formatValue(d("ICW")));
        painter.drawText(QPointF(315, 885), formatValue(d("ECW")));
    } else if (tag == sheet::water) {
        setSize(10);
        const int x = val(QStringLiteral("LineStartX"));
        painter.drawText(QPointF(x + 380, val(QStringLiteral("BoneLineY")) - 50),
                         QStringLiteral("(内水:外水)"));
        static const char *const segs[5][2] = {{"RA", "BoneLineY"},
                                               {"LA", "WaterLineY"},
                                               {"TR", "SMMLineY"},
                                               {"RL", "BMILineY"},
                                               {"LL", "WHRLineY"}};
        static const int dy[5] = {20, 20, 20, 15, 10};
        for (int i = 0; i < 5; ++i) {
            const QString c = QLatin1String(segs[i][0]);
            painter.drawText(QPointF(x + 390, val(QLatin1String(segs[i][1])) + dy[i]),
                             QLatin1Char('(') + formatValue(rec.d(c + QStringLiteral("_ICW"))) +
                                 QLatin1Char(':') + formatValue(rec.d(c + QStringLiteral("_ECW"))) +
                                 QLatin1Char(')'));
        }
        static const int gaugeX[5] = {160, 225, 290, 355, 420};
        for (int i = 0; i < 5; ++i) {
            const double e = rec.d(QLatin1String(segs[i][0]) + QStringLiteral("_edema"));
            int h = int(std::trunc(std::clamp((e - 0.28) * 1550, -1e6, 1e6)));
            h = h > 170 ? 170 : h <= 4 ? 5 : h;
            const int x0 = gaugeX[i];
            painter.drawLine(QPointF(x0, 1066 - h), QPointF(x0 + 30, 1066 - h));
            painter.drawEllipse(QRectF(QPointF(x0 + 10, 1063 - h), QPointF(x0 + 19, 1068 - h)));
            painter.drawText(QPointF(x0, 1056 - h), QString::number(e, 'f', 3));
        }
    }
}

void OverlayPainter::paint()
{
    painter.save();
    painter.setFont(reportFont(pointsToPixels(14)));
    painter.setPen(Qt::black);
    header();
    composition();
    lineChart();
    item(QStringLiteral("Trunkfat"), formatValue(d("TR_fat")));
    item(QStringLiteral("LiverRisk"),
         QStringLiteral("脂肪肝风险度 ") + rec.s(QStringLiteral("LiverRisk")) + QStringLiteral(" %"));
    vfiLine();
    muscleMarks();
    segments();
    levels();
    impedance();
    lineNormal();
    extras();
    painter.restore();
}

} // namespace

std::optional<double> idNameRoom(const PrintLayout &layout)
{
    const int x = layout.value(QStringLiteral("IDX"));
    const int y = layout.value(QStringLiteral("IDY"));
    std::optional<int> next;
    for (const QString &column : printColumns()) {
        if (!column.endsWith(QLatin1Char('X')) || column == QLatin1String("IDX"))
            continue;
        const QString stem = column.chopped(1);
        if (!printColumns().contains(stem + QLatin1Char('Y')))
            continue;
        const int itemX = layout.value(column);
        if (itemX > x && std::abs(layout.value(stem + QLatin1Char('Y')) - y) <= 8 && (!next || itemX < *next))
            next = itemX;
    }
    if (!next)
        return std::nullopt;
    return std::max(40, *next - x - idNameGap);
}

QRect overlayPaperRect(const QPrinter &printer)
{
    // The painter's origin is the corner of the printable area (of the paper
    // with a full-page printer): the paper starts at minus that corner.
    const QRect paper = printer.paperRect(QPrinter::DevicePixel).toRect();
    const QRect printable = printer.pageRect(QPrinter::DevicePixel).toRect();
    return paper.translated(-printable.topLeft());
}

void paintOverlayItems(QPainter &painter, const PrintLayout &layout, const BcaRecord &rec, const QString &tag)
{
    OverlayPainter(painter, layout, rec, tag).paint();
}

int printOverlayPages(QPrinter &printer, const QString &tag, const QList<int> &testIds, int currentTestId)
{
    const PrintLayout layout = PrintLayout::read(tag);
    QPainter painter;
    if (!painter.begin(&printer)) {
        qDebug() << "overlay print: cannot start the printer";
        return 0;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    fitPageToRect(painter, overlayPaperRect(printer));
    qDebug() << "printList " << testIds;
    qDebug() << "printList.size= " << testIds.size();
    int pages = 0;
    for (const int printItem : testIds) {
        qDebug() << "printItem= " << printItem;
        if (printItem != 0)
            currentTestId = printItem;
        qDebug() << "global::currentTestID= " << currentTestId;
        const BcaRecord rec = loadBcaRecord(currentTestId);
        if (pages > 0)
            printer.newPage();
        paintOverlayItems(painter, layout, rec, tag);
        ++pages;
    }
    painter.end();
    return pages;
}

} // namespace reports
