// Fitness assessment report: the record it reads and the page it paints
// (paintFitnessPage in reports/reportpage.h is the page painter's entry).
#pragma once

#include "reports/fitnessscore.h"

#include <optional>

class QPainter;

namespace reports {

// The ResultFIT record of |testId|; 0 reads the newest record.
std::optional<FitnessRecord> loadFitnessRecord(int testId);

// Paints the report of |record| (without the background) in page units.
void paintFitnessRecord(QPainter &painter, const FitnessRecord &record);

} // namespace reports
