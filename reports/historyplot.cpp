#include "reports/historyplot.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>

#include <qwt_date.h>
#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_intervalcurve.h>
#include <qwt_plot_layout.h>
#include <qwt_plot_renderer.h>
#include <qwt_plot_textlabel.h>
#include <qwt_scale_map.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace history {

namespace {

// Part of the value range added below the values and above them (labels
// sit above their points).
constexpr double kPadBelow = 0.08;
constexpr double kPadAbove = 0.22;

QFont pixelFont(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// The value of each point written above it (below when there is no room),
// leaving out labels that would overlap one already written.
class ValueLabels : public QwtPlotItem
{
public:
    ValueLabels(const PlotSpec &spec, const QFont &font)
        : m_points(spec.points), m_decimals(spec.decimals), m_font(font)
    {
        setZ(30);
        setRenderHint(QwtPlotItem::RenderAntialiased, true);
    }
    int rtti() const override { return QwtPlotItem::Rtti_PlotUserItem + 1; }

    void draw(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
              const QRectF &canvasRect) const override
    {
        const QFontMetricsF metrics(m_font);
        QVector<QRectF> boxes;
        QStringList texts;
        boxes.reserve(m_points.size());
        for (const PlotPoint &p : m_points) {
            const QString text = QString::number(p.y, 'f', m_decimals);
            const QPointF at(xMap.transform(p.x), yMap.transform(p.y));
            const QSizeF size(metrics.horizontalAdvance(text) + 2, metrics.height());
            QRectF box(QPointF(at.x() - size.width() / 2, at.y() - 5 - size.height()), size);
            if (box.top() < canvasRect.top())
                box.moveTop(at.y() + 5);
            if (box.left() < canvasRect.left())
                box.moveLeft(canvasRect.left());
            if (box.right() > canvasRect.right())
                box.moveRight(canvasRect.right());
            boxes.append(box);
            texts.append(text);
        }
        painter->save();
        painter->setFont(m_font);
        painter->setPen(QColor(40, 40, 40));
        for (int i : chooseLabels(boxes))
            painter->drawText(boxes[i], Qt::AlignCenter, texts[i]);
        painter->restore();
    }

private:
    QVector<PlotPoint> m_points;
    int m_decimals;
    QFont m_font;
};

} // namespace

QColor bandColour()
{
    return QColor(206, 234, 206); // light green, opaque
}

QColor lineColour()
{
    return QColor(31, 92, 168);
}

QColor verdictColour(Verdict v)
{
    switch (v) {
    case Verdict::Good:
        return QColor(0, 128, 0);
    case Verdict::Bad:
        return QColor(200, 0, 0);
    case Verdict::None:
        break;
    }
    return QColor(Qt::black);
}

PlotSpec makePlotSpec(const QString &title, const QVector<SeriesSample> &samples, int decimals)
{
    PlotSpec spec;
    spec.title = title;
    spec.decimals = decimals;
    double xLo = std::numeric_limits<double>::max();
    double xHi = std::numeric_limits<double>::lowest();
    double yLo = xLo;
    double yHi = xHi;
    for (const SeriesSample &s : samples) {
        if (!s.when.isValid())
            continue;
        const double x = double(s.when.toMSecsSinceEpoch());
        if (s.value > 0) {
            spec.points.append({x, s.value});
            xLo = std::min(xLo, x);
            xHi = std::max(xHi, x);
            yLo = std::min(yLo, s.value);
            yHi = std::max(yHi, s.value);
        }
        if (s.band.valid) {
            spec.band.append({x, s.band.low, s.band.high});
            yLo = std::min(yLo, s.band.low);
            yHi = std::max(yHi, s.band.high);
        }
    }
    // The band alone gives no dates: it only shades the range the points span.
    if (spec.points.isEmpty()) {
        spec.band.clear();
        const double now = double(QDateTime(QDate::currentDate(), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch());
        xLo = xHi = now;
        yLo = 0;
        yHi = 1;
    }

    const double minSpan = double(kMinSpanMs);
    const double span = xHi - xLo;
    const double pad = span * 0.05;
    if (span + 2 * pad < minSpan) {
        const double centre = (xLo + xHi) / 2;
        spec.xMin = centre - minSpan / 2;
        spec.xMax = centre + minSpan / 2;
    } else {
        spec.xMin = xLo - pad;
        spec.xMax = xHi + pad;
    }
    if (!spec.band.isEmpty()) {
        const PlotBand first = spec.band.first();
        const PlotBand last = spec.band.last();
        spec.band.prepend({spec.xMin, first.low, first.high});
        spec.band.append({spec.xMax, last.low, last.high});
    }

    double ySpan = yHi - yLo;
    const double minYSpan = std::max(std::abs(yHi) * 0.1, 1.0);
    if (ySpan < minYSpan) {
        const double centre = (yLo + yHi) / 2;
        yLo = centre - minYSpan / 2;
        yHi = centre + minYSpan / 2;
        ySpan = minYSpan;
    }
    const bool positive = yLo >= 0;
    spec.yMin = yLo - ySpan * kPadBelow;
    if (positive)
        spec.yMin = std::max(spec.yMin, 0.0);
    spec.yMax = yHi + ySpan * kPadAbove;
    return spec;
}

PlotSpec bcaPlotSpec(const PersonHistory &history, Measure m)
{
    QVector<SeriesSample> samples;
    samples.reserve(history.bca.size());
    for (const BcaTest &t : history.bca)
        samples.append({t.when, t.value(m), t.bands[size_t(m)]});
    return makePlotSpec(measureTitle(m), samples, 1);
}

PlotSpec totalScorePlotSpec(const PersonHistory &history)
{
    QVector<SeriesSample> samples;
    samples.reserve(history.fitness.size());
    for (const FitnessTest &t : history.fitness)
        samples.append({t.when, double(t.assessment.total), Band{}});
    return makePlotSpec(QObject::tr("体质总分"), samples, 0);
}

QVector<int> chooseLabels(const QVector<QRectF> &boxes)
{
    const int n = boxes.size();
    QVector<int> order;
    order.reserve(n);
    if (n > 0)
        order << n - 1;
    if (n > 1)
        order << 0;
    for (int i = n - 2; i >= 1; --i)
        order << i;
    QVector<int> taken;
    for (int i : qAsConst(order)) {
        const QRectF box = boxes[i].adjusted(-1, -1, 1, 1);
        const bool clash =
            std::any_of(taken.cbegin(), taken.cend(), [&](int t) { return boxes[t].intersects(box); });
        if (!clash)
            taken << i;
    }
    std::sort(taken.begin(), taken.end());
    return taken;
}

void setUpPlot(QwtPlot &plot, const PlotSpec &spec, PlotTarget target)
{
    const bool page = target == PlotTarget::Page;
    plot.detachItems(QwtPlotItem::Rtti_PlotItem, true);
    plot.setAutoReplot(false);

    QwtText title(spec.title);
    title.setFont(pixelFont(page ? 15 : 14, true));
    plot.setTitle(title);

    QPalette palette = plot.palette();
    palette.setColor(QPalette::Window, Qt::white);
    plot.setPalette(palette);
    plot.setAutoFillBackground(true);
    plot.setCanvasBackground(QBrush(Qt::white));
    for (int axis = 0; axis < QwtPlot::axisCnt; ++axis)
        plot.plotLayout()->setCanvasMargin(0, axis);
    if (auto *canvas = qobject_cast<QwtPlotCanvas *>(plot.canvas())) {
        canvas->setFrameStyle(QFrame::Box | QFrame::Plain);
        canvas->setLineWidth(1);
    }

    const QFont axisFont = pixelFont(page ? 11 : 12);
    plot.setAxisFont(QwtPlot::xBottom, axisFont);
    plot.setAxisFont(QwtPlot::yLeft, axisFont);
    auto *dates = new QwtDateScaleDraw(Qt::UTC);
    dates->setDateFormat(QwtDate::Hour, QStringLiteral("MM-dd hh:mm"));
    dates->setDateFormat(QwtDate::Day, QStringLiteral("yyyy-MM-dd"));
    dates->setDateFormat(QwtDate::Week, QStringLiteral("yyyy-MM-dd"));
    dates->setDateFormat(QwtDate::Month, QStringLiteral("yyyy-MM"));
    dates->setDateFormat(QwtDate::Year, QStringLiteral("yyyy"));
    plot.setAxisScaleDraw(QwtPlot::xBottom, dates);
    plot.setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::UTC));
    plot.setAxisMaxMajor(QwtPlot::xBottom, 5);
    plot.setAxisMaxMinor(QwtPlot::xBottom, 0);
    plot.setAxisScale(QwtPlot::xBottom, spec.xMin, spec.xMax);
    plot.setAxisMaxMajor(QwtPlot::yLeft, 5);
    plot.setAxisScale(QwtPlot::yLeft, spec.yMin, spec.yMax);

    auto *grid = new QwtPlotGrid;
    grid->setMajorPen(QColor(205, 205, 205), 0, Qt::DotLine);
    grid->setZ(8);
    grid->attach(&plot);

    if (!spec.band.isEmpty()) {
        QVector<QwtIntervalSample> samples;
        samples.reserve(spec.band.size());
        for (const PlotBand &b : spec.band)
            samples.append(QwtIntervalSample(b.x, b.low, b.high));
        // The canvas reaches a little past the date range where the end dates
        // need room: the ends of the band go on beyond it, clipped by the canvas.
        const double width = spec.xMax - spec.xMin;
        samples.first().value -= width;
        samples.last().value += width;
        auto *band = new QwtPlotIntervalCurve(QObject::tr("正常范围"));
        band->setStyle(QwtPlotIntervalCurve::Tube);
        band->setPen(QPen(Qt::NoPen));
        band->setBrush(bandColour());
        band->setSamples(samples);
        band->setZ(5);
        band->attach(&plot);
    }

    if (spec.points.isEmpty()) {
        auto *none = new QwtPlotTextLabel;
        QwtText text(QObject::tr("暂无数据"));
        text.setFont(pixelFont(page ? 14 : 15));
        text.setColor(QColor(110, 110, 110));
        none->setText(text);
        none->attach(&plot);
        return;
    }

    QVector<QPointF> points;
    points.reserve(spec.points.size());
    for (const PlotPoint &p : spec.points)
        points.append(QPointF(p.x, p.y));
    auto *curve = new QwtPlotCurve(spec.title);
    curve->setStyle(QwtPlotCurve::Lines);
    curve->setPen(lineColour(), page ? 1.6 : 2.0);
    curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    const int symbolSize = page ? 6 : 7;
    curve->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(lineColour()), QPen(lineColour()),
                                   QSize(symbolSize, symbolSize)));
    curve->setSamples(points);
    curve->setZ(20);
    curve->attach(&plot);

    (new ValueLabels(spec, pixelFont(page ? 11 : 12)))->attach(&plot);
}

void renderPlot(QPainter &painter, const QRectF &rect, const PlotSpec &spec)
{
    QwtPlot plot;
    setUpPlot(plot, spec, PlotTarget::Page);
    // About one date every 110 units keeps the date labels apart.
    plot.setAxisMaxMajor(QwtPlot::xBottom, std::max(2, int(rect.width() / 110)));
    plot.resize(rect.size().toSize());
    plot.updateAxes();

    QwtPlotRenderer renderer;
    renderer.setDiscardFlag(QwtPlotRenderer::DiscardBackground, true);
    renderer.setLayoutFlag(QwtPlotRenderer::FrameWithScales, true);
    // The renderer lays the plot out in screen pixels and scales it by the
    // device's resolution over the screen's. Undoing that scale keeps the
    // plot in the painter's page units on a printer or PDF of any resolution.
    const double fx = double(painter.device()->logicalDpiX()) / plot.logicalDpiX();
    const double fy = double(painter.device()->logicalDpiY()) / plot.logicalDpiY();
    painter.save();
    painter.scale(1 / fx, 1 / fy);
    renderer.render(&plot, &painter,
                    QRectF(rect.x() * fx, rect.y() * fy, rect.width() * fx, rect.height() * fy));
    painter.restore();
}

} // namespace history
