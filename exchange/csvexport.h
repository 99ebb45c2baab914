// CSV export of the stored results: the field writer (quoting and formula
// defusing), the body-composition file (every person with his results, then
// the results of no registered person and of analyzer-side user numbers) and
// the fitness file. Files are UTF-8 with a byte-order mark, every line has as
// many fields as the header, and a file appears under its name only when
// complete.
#pragma once

#include "exchange/exportrows.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace exchange {

// Text of one value as it goes into the file. A value is quoted (double
// quotes, inner quotes doubled) exactly when it contains a comma, a quote,
// a line break or blanks at either end. A text that a spreadsheet would run
// as a formula (starting with '=', '+', '-', '@', a tab or a carriage
// return, and not a plain number) is written quoted with a leading
// apostrophe. Numbers are written as QVariant::toString gives them; NULL is
// empty.
QString csvField(const QVariant &value);
// Appends csvField(value) as UTF-8 to |out|.
void appendCsvField(QByteArray &out, const QVariant &value);

// Header lines (without the line end), written exactly as operators know them.
QString bcaHeader();
QString fitHeader();

// Writes the CSV file of |table| to |path| from the default connection.
ExportResult exportCsv(ExportTable table, const QString &path, const ExportProgress &progress = {});
// Writes the body-composition file |path| from the default connection.
ExportResult exportBca(const QString &path, const ExportProgress &progress = {});
// Writes the fitness file |path| from the default connection.
ExportResult exportFit(const QString &path, const ExportProgress &progress = {});

} // namespace exchange
