// Printing report pages: one page per existing test number on any paged
// device (printer, PDF file), painted with the shared page painter so the
// text stays text at the device's resolution.
#pragma once

#include <QList>
#include <QString>

#include <functional>

class QPagedPaintDevice;

namespace reports {

// The table the reports of |sheetTag| read: ResultFIT for the fitness
// report, Result for every body-composition style.
QString resultTable(const QString &sheetTag);

// Whether test |testId| has a record in the table of |sheetTag|.
bool testExists(const QString &sheetTag, int testId);

// Reads the first and last test number of a batch range as typed. False
// (nothing to print) when either is not a whole number or the first is below 1.
bool readPrintRange(const QString &firstText, const QString &lastText, int *first, int *last);

// Every number from |first| to |last| inclusive (empty when first > last).
QList<int> rangeList(int first, int last);

struct PrintOutcome
{
    int pages = 0;
    bool cancelled = false;
    bool failed = false; // the device could not be opened for painting
    QList<int> missing;  // numbers of the list without a record, in list order
};

// "3、7-9、12": ascending numbers as runs, the first |maxRuns| runs and then
// "等共 N 个".
QString numberRuns(const QList<int> &numbers, int maxRuns = 10);
// The closing words of a batch run: "已打印 N 份，缺少测试编号：…。" (with
// the cancellation when the operator stopped it).
QString batchPrintSummary(const PrintOutcome &outcome);

// Called before each element with (done, total); returning false ends the
// run before that element.
using PrintProgress = std::function<bool(int done, int total)>;

// Paints one page per element of |list| that has a record on |device|,
// fitted to its printable area. A list starting with 0 means "the current
// test" and leaves global::currentTestID alone; otherwise currentTestID
// follows each element. The painter opens at the first page to print (a run
// without records sends nothing) and pages are separated, never followed, by
// newPage, so no blank page ends a run.
PrintOutcome printTestList(QPagedPaintDevice &device, const QString &sheetTag, const QList<int> &list,
                           const PrintProgress &progress = {});

// Writes the one-page report of |testId| in |sheetTag| to the PDF file
// |path| (|title| goes into the document's title). False with |error| set
// when the file cannot be written.
bool writeReportPdf(const QString &path, const QString &sheetTag, int testId, QString *error,
                    const QString &title = QString());

} // namespace reports
