// The person history page "个人历史报告": one 960 x 1358 page with the
// person's header, the four body-composition trend charts, the fitness
// total-score chart and the table of the last eight tests. Printed and saved
// as PDF from the history dialog, and written without a window by
//
//   quelmar --export-history UID --out FILE.pdf
#pragma once

#include "reports/personhistory.h"

#include <QString>
#include <QStringList>

class QPainter;
class QTextStream;

namespace history {

// Tests listed in the page's table.
constexpr int kPageTableRows = 8;

// Paints the page in page units on |painter|, whose window must already be
// the 960 x 1358 page. |unitName| heads the page when not empty.
void paintHistoryPage(QPainter &painter, const PersonHistory &history, const QString &unitName);

// Name of the unit from row 0 of table Unit (empty when there is none).
QString readUnitName();

// Title of the page's PDF document: "个人历史报告 UID 姓名".
QString historyTitle(const PersonInfo &person);

// File name offered for the page: "<UID>_<姓名>_历史报告.pdf", with characters
// unsafe in file names replaced by '_'.
QString historyFileName(const PersonInfo &person);

// Writes the history page of |history| into the PDF file |path|; false
// with |error| set when the file cannot be written.
bool writeHistoryPdf(const QString &path, const PersonHistory &history, QString *error);

// The command-line run on the open default connection: exit code 0 written,
// 1 database or file error, 2 bad arguments or no result for the person.
int runHistoryExport(const QStringList &arguments, QTextStream &out, QTextStream &err);

// Whether the command line asks for the history export (checked before any
// application object exists), and the whole process of that mode.
bool wantsHistoryExport(int argc, char **argv);
int historyExportMain(int argc, char **argv);

QString historyExportHelp();

} // namespace history
