// Body-composition report page (not built yet).
#include "reports/reportpage.h"

#include <QPainter>

namespace reports {

void paintBodyCompositionPage(QPainter &painter, const QString &sheetTag, int testId)
{
    Q_UNUSED(painter)
    Q_UNUSED(sheetTag)
    Q_UNUSED(testId)
}

} // namespace reports
