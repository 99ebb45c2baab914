// The group statistics as one CSV table, written by the rules of the data
// export (UTF-8 with byte-order mark, quoting, formula defence): one line per
// figure group (an item, the total score, a score band, a body type) of the
// whole selection and of every sex x age group that holds results.
#pragma once

#include "exchange/csvexport.h"
#include "reports/groupstats.h"

#include <QStringList>

namespace exchange {

// The 25 column names of the file.
QStringList statsCsvColumns();

// The data lines of |stats|, one list of 25 texts per line; none when the
// statistics are empty.
QList<QStringList> statsCsvRows(const reports::GroupStatistics &stats);

// Writes the header and the lines to |path|; the file appears under its name
// only when complete. |lines| of the result counts the data lines.
ExportResult writeStatsCsv(const QString &path, const reports::GroupStatistics &stats);

} // namespace exchange
