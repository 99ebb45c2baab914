// Report sheet backgrounds, 960 x 1358: the printed forms the report page fills in.
#pragma once

#include <QImage>

namespace sheets {
QImage bodyCompositionQ40();
QImage bodyCompositionQ10();
QImage bodyCompositionQ20();
QImage bodyCompositionQ30();
QImage bodyWater();
QImage customSheet();
QImage fitnessAssessment();
} // namespace sheets
