#include "reports/paintarea.h"

#include "reports/reportpage.h"

#include <QPainter>

PaintArea::PaintArea(const QString &sheetTag, int testId, QWidget *parent)
    : QWidget(parent), m_sheetTag(sheetTag), m_testId(testId)
{
    resize(reports::PageWidth, reports::PageHeight);
    setMinimumSize(reports::PageWidth, reports::PageHeight);
    setAutoFillBackground(true);
    setPalette(QPalette(Qt::white));
}

void PaintArea::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setWindow(0, 0, reports::PageWidth, reports::PageHeight);
    painter.setViewport(0, 0, width(), height());
    reports::paintReportPage(painter, m_sheetTag, m_testId);
}
