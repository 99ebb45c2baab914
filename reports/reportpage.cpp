#include "reports/reportpage.h"

#include "reports/layout.h"

#include <QPainter>

namespace reports {

void paintReportPage(QPainter &painter, const QString &sheetTag, int testId)
{
    if (sheetTag == sheet::fitness)
        paintFitnessPage(painter, testId);
    else
        paintBodyCompositionPage(painter, sheetTag, testId);
}

void fitPageToRect(QPainter &painter, const QRect &deviceRect)
{
    QSize size(PageWidth, PageHeight);
    size.scale(deviceRect.size(), Qt::KeepAspectRatio);
    const QRect viewport(deviceRect.x() + (deviceRect.width() - size.width()) / 2,
                         deviceRect.y() + (deviceRect.height() - size.height()) / 2, size.width(),
                         size.height());
    painter.setViewport(viewport);
    painter.setWindow(0, 0, PageWidth, PageHeight);
}

} // namespace reports
