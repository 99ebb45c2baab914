// Pages of the group statistics (960 x 1358 page units, like the reports):
// the fitness page (items with a grade-share bar each, total-score
// distribution, sex x age groups) and the body-composition page (values with
// a normal-range bar each, body types, sex x age groups). A part without
// results has no page; statistics without any result give one page that says so.
#pragma once

#include "reports/groupstats.h"
#include "reports/reportprint.h"

class QPagedPaintDevice;
class QPainter;

namespace reports {

int statisticsPageCount(const GroupStatistics &stats);

// Paints page |page| (0-based) on |painter|, whose window is the page.
// |printedOn| is the date in the page header.
void paintStatisticsPage(QPainter &painter, const GroupStatistics &stats, int page,
                         const QDate &printedOn = QDate::currentDate());

// All pages on a printer; fitted to its printable area.
PrintOutcome printStatistics(QPagedPaintDevice &device, const GroupStatistics &stats);

// All pages into the PDF file |path|; false with |error| when it cannot be written.
bool writeStatisticsPdf(const QString &path, const GroupStatistics &stats, QString *error);

} // namespace reports
