// A paint device that records what a page painter draws: every text with its
// baseline origin and every filled rectangle, in page units (the painter's
// transform applied). Lets tests ask "is there a text at (x, y)" or "how wide
// is the bar at y" without comparing pixels.
#pragma once

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QTextItem>
#include <QVector>

class PageRecorderEngine : public QPaintEngine
{
public:
    PageRecorderEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &state) override
    {
        if (state.state() & QPaintEngine::DirtyTransform)
            m_transform = state.transform();
    }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawPath(const QPainterPath &) override {}
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
    void drawRects(const QRectF *rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            this->rects << m_transform.mapRect(rects[i]);
    }
    void drawTextItem(const QPointF &p, const QTextItem &item) override
    {
        texts << qMakePair(m_transform.map(p), item.text());
    }
    Type type() const override { return QPaintEngine::User; }

    QVector<QPair<QPointF, QString>> texts;
    QVector<QRectF> rects;

private:
    QTransform m_transform;
};

class PageRecorder : public QPaintDevice
{
public:
    QPaintEngine *paintEngine() const override { return &m_engine; }

    // The text drawn with its baseline origin within 1.5 units of (x, y); empty if none.
    QString textAt(double x, double y) const
    {
        for (const auto &t : m_engine.texts) {
            if (qAbs(t.first.x() - x) < 1.5 && qAbs(t.first.y() - y) < 1.5)
                return t.second;
        }
        return QString();
    }
    // Everything drawn, in drawing order.
    const QVector<QPair<QPointF, QString>> &texts() const { return m_engine.texts; }
    const QVector<QRectF> &rects() const { return m_engine.rects; }
    // Width of the rectangle drawn with its left edge at |x| and top at |y|; -1 if none.
    double rectWidthAt(double x, double y) const
    {
        for (const QRectF &r : m_engine.rects) {
            if (qAbs(r.left() - x) < 0.5 && qAbs(r.top() - y) < 0.5)
                return r.width();
        }
        return -1;
    }

protected:
    // A page of 960 x 1358 units at 96 dpi.
    int metric(PaintDeviceMetric m) const override
    {
        // Width, height, their millimetres, colours, depth, four resolutions, pixel ratio.
        const int values[] = {0, 960, 1358, 254, 359, INT_MAX, 32, 96, 96, 96, 96, 1, 1};
        return m == PdmDevicePixelRatioScaled ? int(devicePixelRatioFScale()) : values[m];
    }

private:
    mutable PageRecorderEngine m_engine;
};
