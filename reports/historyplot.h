// Trend charts of a person's history. One plot description (points over a
// date axis, the normal band, the axis ranges) is built without widgets and
// then set up on a QwtPlot: the live plot of the history dialog, or an
// unshown plot that QwtPlotRenderer paints onto a page in page units.
#pragma once

#include "reports/personhistory.h"

#include <QColor>
#include <QRectF>
#include <QString>
#include <QVector>

class QPainter;
class QwtPlot;

namespace history {

// x is the time in milliseconds since 1970 (UTC), as the date axis counts.
struct PlotPoint
{
    double x = 0;
    double y = 0;
};
struct PlotBand
{
    double x = 0;
    double low = 0;
    double high = 0;
};

struct PlotSpec
{
    QString title;
    QVector<PlotPoint> points; // oldest first
    QVector<PlotBand> band;    // from xMin to xMax; empty when there is none
    double xMin = 0, xMax = 0;
    double yMin = 0, yMax = 0;
    int decimals = 1; // of the value labels
};

// One dated value with the normal band at that date (invalid: none).
struct SeriesSample
{
    QDateTime when;
    double value = 0;
    Band band;
};

// Shortest date range shown (a single test sits in the middle of it).
constexpr qint64 kMinSpanMs = 30LL * 24 * 3600 * 1000;

// The plot of |samples| (oldest first; undated ones and values of 0 are
// left out): dates padded on both sides, at least kMinSpanMs; values and
// band padded so that labels above the points fit.
PlotSpec makePlotSpec(const QString &title, const QVector<SeriesSample> &samples, int decimals = 1);
PlotSpec bcaPlotSpec(const PersonHistory &history, Measure m);
PlotSpec totalScorePlotSpec(const PersonHistory &history);

// Which of the value labels |boxes| (one per point, oldest first) are drawn:
// the newest and the oldest first, then the others from the newest back,
// each only where it overlaps none already taken. Indexes in point order.
QVector<int> chooseLabels(const QVector<QRectF> &boxes);

enum class PlotTarget { Screen, Page };
// Puts |spec| on |plot|: date and value axes with its ranges, the band as a
// shaded interval, the points joined by lines with their value labels.
// Earlier items are removed. Page plots use fonts in page units.
void setUpPlot(QwtPlot &plot, const PlotSpec &spec, PlotTarget target);

// Paints |spec| into |rect| of |painter|, given in the painter's current
// (page) units whatever the resolution of the device.
void renderPlot(QPainter &painter, const QRectF &rect, const PlotSpec &spec);

// Colours of the charts and the change columns; all opaque, so that printed
// and PDF pages stay vector pages.
QColor bandColour();
QColor lineColour();
QColor verdictColour(Verdict v);

} // namespace history
