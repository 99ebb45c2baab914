// CSV export of the stored results: the field writer (quoting and formula
// defusing), the body-composition file (every person with his results, then
// the analyzer-side user numbers) and the fitness file. Files are UTF-8
// with a byte-order mark and appear under their name only when complete.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>

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

// Statements of the export. The first gives one line per result of every
// registered person and one line per person without results, persons in
// register order and each person's results in test order.
QString bcaPersonStatement();
QString bcaAnalyzerUserStatement(); // results whose user number starts with "BCA"
QString fitStatement();

struct ExportResult
{
    bool ok = false;
    bool cancelled = false;
    QString path;
    int lines = 0; // data lines written (header not counted)
    QString error; // why it failed, for the operator
};

// Called every few hundred lines and at the end with the lines written and
// the lines expected; returning false cancels (no file is left behind).
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

// Writes the body-composition file |path| from the default connection.
ExportResult exportBca(const QString &path, const ExportProgress &progress = {});
// Writes the fitness file |path| from the default connection.
ExportResult exportFit(const QString &path, const ExportProgress &progress = {});

} // namespace exchange
