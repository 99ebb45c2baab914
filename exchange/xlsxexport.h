// Spreadsheet workbook (.xlsx) export of the stored results: the rows of the
// CSV files as typed cells (texts stay texts, measurements are numbers shown
// with the decimals of the CSV file, test dates are dates), the test number
// first, and on the fitness sheet the points, grade and total score of every
// record as the fitness report gives them. Written in constant memory.
#pragma once

#include "exchange/exportrows.h"

#include <QString>
#include <QStringList>

namespace exchange {

// Whether |path| names a workbook (suffix ".xlsx", any case).
bool isWorkbookPath(const QString &path);

// Sheet name and header row of the workbook of |table|.
QString workbookSheetName(ExportTable table);
QStringList workbookHeaders(ExportTable table);

// Writes the workbook of |table| to |path| from the default connection.
ExportResult exportWorkbook(ExportTable table, const QString &path, const ExportProgress &progress = {});

// Writes |table| to |path|: a workbook for a ".xlsx" name, else a CSV file.
ExportResult exportResults(ExportTable table, const QString &path, const ExportProgress &progress = {});

} // namespace exchange
