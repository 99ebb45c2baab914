// Body-composition report page: the fixed sheets painted from their layout
// tables over their forms, the custom sheet from its Print row over the
// customer's picture.
#include "reports/bcasheets.h"
#include "reports/layout.h"
#include "reports/overlay.h"
#include "reports/reportpage.h"

#include <QDebug>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <cmath>

namespace reports {

namespace {

const QString tick = QStringLiteral("√");

void setPixels(QPainter &painter, FontRole role)
{
    painter.setFont(reportFont(fontPixels(role)));
}

class SheetPainter
{
public:
    SheetPainter(QPainter &p, const FixedSheet &s, const BcaRecord &r)
        : painter(p), sheet(s), rec(r),
          refs(referenceValues(r.isMale(), r.d(QStringLiteral("Height")), r.d(QStringLiteral("Weight"))))
    {}

    void paint()
    {
        texts();
        marks();
        bars();
        vfi();
        grid();
        bodyType();
        impedance();
        muscleBalance();
        gauge();
    }

private:
    QPainter &painter;
    const FixedSheet &sheet;
    const BcaRecord &rec;
    const References refs;

    double d(const char *column) const { return rec.d(QLatin1String(column)); }

    QString text(const TextItem &item) const
    {
        QString column = item.column ? QString::fromUtf8(item.column) : QString();
        switch (item.field) {
        case Field::IdName:
            return rec.s(QStringLiteral("UID")) + QLatin1Char('/') + rec.s(QStringLiteral("Name"));
        case Field::Age:
            return ageText(rec.values.value(QStringLiteral("BirthYear")).toInt(),
                           rec.s(QStringLiteral("TestDate")));
        case Field::Column:
            return formatValue(rec.d(column));
        case Field::Measured:
            return formatMeasured(rec.d(column));
        case Field::ColumnPercent:
            return formatOneDecimal(rec.d(column)) + QLatin1Char('%');
        case Field::ShareOfWeight:
            return formatPercent(rec.d(column), d("Weight"));
        case Field::ControlSign:
            return controlPrefix(rec.d(column));
        // Ranges by weight: none without a weight.
        case Field::FatRange:
            return d("Weight") > 0 ? formatRange(refs.fat) : QString();
        case Field::BoneRange:
            return d("Weight") > 0 ? formatRange(refs.bone) : QString();
        case Field::ProteinRange:
            return d("Weight") > 0 ? formatRange(refs.protein) : QString();
        case Field::WaterRange:
            return d("Weight") > 0 ? formatRange(refs.water) : QString();
        case Field::LiverRisk:
            return QStringLiteral("脂肪肝风险度 ") + rec.s(QStringLiteral("LiverRisk")) +
                   QStringLiteral(" %");
        case Field::UnitName:
            return rec.unitName;
        case Field::UnitPhone:
            return rec.unitPhone;
        case Field::IcwEcw:
            return QLatin1Char('(') + formatValue(rec.d(column + QStringLiteral("_ICW"))) + QLatin1Char(':') +
                   formatValue(rec.d(column + QStringLiteral("_ECW"))) + QLatin1Char(')');
        case Field::Literal:
            return column;
        }
        return QString();
    }

    void texts()
    {
        for (const TextItem &item : sheet.texts) {
            const QString t = text(item);
            if (t.isEmpty())
                continue;
            setPixels(painter, item.font);
            if (item.maxWidth > 0)
                drawFittedText(painter, item.pos, t, item.maxWidth);
            else
                painter.drawText(item.pos, t);
        }
    }

    void marks()
    {
        setPixels(painter, FontRole::Page);
        painter.drawText(rec.isMale() ? sheet.maleMark : sheet.femaleMark, tick);
    }

    void bars()
    {
        const BarChart &chart = sheet.bars;
        for (const BarRow &row : chart.rows) {
            const BarValue bv = barValue(row.bar, rec, refs);
            std::optional<int> length;
            if (bv.length)
                length = lineBarLength(0.0, int(std::trunc(std::clamp(*bv.length, -1e6, 1e6))), 0,
                                       chart.maxLine, chart.minLine);
            else
                length = lineBarLength(bv.steps, chart.base, chart.margin, chart.maxLine, chart.minLine);
            if (length)
                painter.fillRect(QRectF(chart.startX, row.barY, *length, chart.height), Qt::black);
            setPixels(painter, FontRole::Small);
            // A weight not measured is no value of 0.
            const QString label = row.bar == Bar::Weight ? formatMeasured(bv.value) : formatValue(bv.value);
            double x = chart.startX + length.value_or(0) + 10;
            double y = row.labelY;
            if (chart.rangeX > 0) {
                // A bar near its upper clamp would push its value into the range
                // column: the value then ends before the column, above the bar.
                const double width = QFontMetricsF(painter.font()).horizontalAdvance(label);
                if (x + width + 6 > chart.rangeX) {
                    x = chart.rangeX - width - 6;
                    y = std::min(y, row.barY - 2.0);
                }
            }
            painter.drawText(QPointF(x, y), label);
            if (row.rangeY > 0 && bv.range) {
                setPixels(painter, FontRole::Grid);
                painter.drawText(QPointF(chart.rangeX, row.rangeY),
                                 formatRange(*bv.range, QStringLiteral(" - ")));
            }
        }
    }

    void vfi()
    {
        if (!sheet.vfi)
            return;
        const VfiBar &v = *sheet.vfi;
        const double value = d("VFI");
        const double raw = (value - v.offset) * v.unit + v.add;
        const int length = *lineBarLength(0.0, int(std::trunc(std::clamp(raw, -1e6, 1e6))), 0, v.maxLine, 10);
        painter.fillRect(QRectF(v.start.x(), v.start.y(), length, 6), Qt::black);
        setPixels(painter, FontRole::Small);
        painter.drawText(QPointF(v.start.x() + length + 10, v.valueY), formatValue(value));
    }

    void tickAt(const QPoint &p)
    {
        if (!p.isNull())
            painter.drawText(p, tick);
    }

    void grid()
    {
        if (!sheet.grid)
            return;
        const LevelGrid &g = *sheet.grid;
        const double W = d("Weight");
        setPixels(painter, FontRole::Grid);
        tickAt(g.bmi[bmiLevelIndex(d("BMI"))]);
        tickAt(g.pbf[levelIndex(d("PBF"), refs.pbf)]);
        tickAt(g.whr[levelIndex(d("WHR"), refs.whr)]);
        tickAt(g.protein[d("Protein") > 0.14 * W ? 0 : 1]);
        tickAt(g.bone[d("Bone") > g.boneFactor * W ? 0 : 1]);
        tickAt(g.fat[levelIndex(d("PBF"), refs.pbf)]);
        painter.drawText(g.bmr, formatValue(d("BMR")));
    }

    void bodyType()
    {
        if (sheet.bodyTypeY[0] == 0)
            return;
        const QString type = rec.s(QStringLiteral("BodyType"));
        qDebug() << "bodyType for print&display=" << type;
        if (const std::optional<QPoint> cell = bodyTypeCell(type))
            painter.fillRect(QRect(sheet.bodyTypeX[cell->x()], sheet.bodyTypeY[cell->y()], 10, 10),
                             Qt::black);
    }

    void impedance()
    {
        if (!sheet.impedance)
            return;
        static const char *const codes[5] = {"RA", "LA", "TR", "RL", "LL"};
        static const int freqs[5] = {5, 50, 100, 250, 500};
        setPixels(painter, FontRole::Grid);
        for (int row = 0; row < 5; ++row) {
            for (int col = 0; col < 5; ++col) {
                const QString column = QLatin1String(codes[col]) + QString::number(freqs[row]);
                painter.drawText(QPointF(impedanceColX[col], impedanceRowY[row]), formatValue(rec.d(column)));
            }
        }
    }

    void muscleBalance()
    {
        if (!sheet.muscleBalance)
            return;
        setPixels(painter, FontRole::Grid);
        const int smmX[3] = {352, 410, 471};
        painter.drawText(QPointF(smmX[levelIndex(d("SMM"), refs.smm)], 989), tick);
        const double upper = d("LA_muscle") + d("RA_muscle");
        const double lower = d("LL_muscle") + d("RL_muscle");
        const double left = d("LA_muscle") + d("LL_muscle");
        const double right = d("RA_muscle") + d("RL_muscle");
        const int rows[3] = {1040, 1060, 1080};
        painter.drawText(QPointF(338, rows[upper < 0.05 * refs.S    ? 0
                                           : upper <= 0.15 * refs.S ? 1
                                                                    : 2]),
                         tick);
        painter.drawText(QPointF(364, rows[lower < 0.25 * refs.S    ? 0
                                           : lower <= 0.35 * refs.S ? 1
                                                                    : 2]),
                         tick);
        const bool unbalanced = left + right > 0 && left - right >= 0.45 * (left + right);
        painter.drawText(QPointF(478, unbalanced ? 1072 : 1052), tick);
    }

    void gauge()
    {
        if (!sheet.gauge)
            return;
        const EdemaGauge &g = *sheet.gauge;
        static const char *const columns[5] = {"RA_edema", "LA_edema", "TR_edema", "RL_edema", "LL_edema"};
        setPixels(painter, FontRole::Grid);
        for (int i = 0; i < 5; ++i) {
            const double e = d(columns[i]);
            int h = int(std::trunc(std::clamp((e - 0.28) * g.scale, -1e6, 1e6)));
            h = h > g.maxH ? g.maxH : h <= 4 ? 5 : h;
            const int x = g.x[i];
            painter.drawLine(QPointF(x, g.baseY - h), QPointF(x + 30, g.baseY - h));
            painter.drawEllipse(QRectF(QPointF(x + 10, g.baseY - 3 - h), QPointF(x + 19, g.baseY + 2 - h)));
            painter.drawText(QPointF(x, g.baseY - 10 - h), QString::number(e, 'f', 3));
        }
    }
};

} // namespace

void paintBodyCompositionPage(QPainter &painter, const QString &sheetTag, int testId)
{
    painter.save();
    if (sheetTag.isEmpty() || sheetTag == sheet::byDefault) {
        qDebug() << "print sheet not selected!";
        setPixels(painter, FontRole::Page);
        painter.drawText(QPointF(100, 100),
                         QStringLiteral("报告纸格式未选择！请到【连接与设置】中根据仪器型号选择。"));
        painter.restore();
        return;
    }
    const FixedSheet *fixed = fixedSheet(sheetTag);
    if (!fixed && sheetTag != sheet::custom) {
        painter.restore();
        return;
    }
    if (testId != 0)
        qDebug() << "要查看谁的体侧报告---------------------------------------------------？" << testId;
    qDebug() << "报告类型：" << sheetTag;
    const BcaRecord rec = loadBcaRecord(testId);
    painter.setPen(Qt::black);
    if (fixed) {
        if (!fixed->logLine.isEmpty())
            qDebug() << fixed->logLine;
        paintFormBackground(painter, fixed->form, fixed->background);
        SheetPainter(painter, *fixed, rec).paint();
    } else {
        qDebug() << "自定义报告纸打印";
        qDebug() << "sheetTag is: " << sheetTag;
        // The customer's own form: always its picture.
        painter.drawImage(QPointF(0, 0), pagePicture(QStringLiteral("image/diy-report.jpg")));
        paintOverlayItems(painter, PrintLayout::read(sheetTag), rec, sheetTag);
    }
    painter.restore();
}

} // namespace reports
