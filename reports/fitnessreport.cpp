// Fitness assessment report page (not built yet).
#include "reports/reportpage.h"

#include <QPainter>

namespace reports {

void paintFitnessPage(QPainter &painter, int testId)
{
    Q_UNUSED(painter)
    Q_UNUSED(testId)
}

} // namespace reports
