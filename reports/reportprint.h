// Printing report pages: one page per existing test number on any paged
// device (printer, PDF file), painted with the shared page painter so the
// text stays text at the device's resolution.
#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

class QPagedPaintDevice;
class QPainter;

namespace reports {

// The table the reports of |sheetTag| read: ResultFIT for the fitness
// report, Result for every body-composition style.
QString resultTable(const QString &sheetTag);

// Whether test |testId| has a record in the table of |sheetTag|.
bool testExists(const QString &sheetTag, int testId);

// |testId| itself, or for 0 ("the newest") the highest test number of the
// table of |sheetTag| (still 0 when the table is empty).
int resolveTestId(const QString &sheetTag, int testId);

// Reads the first and last test number of a batch range as typed. False
// (nothing to print) when either is not a whole number or the first is below 1.
bool readPrintRange(const QString &firstText, const QString &lastText, int *first, int *last);

// The test numbers from |first| to |last| inclusive that have a record in the
// table of |sheetTag|, in ascending order, read with one query (a range
// meaning "everything" costs no more than the records in it). Empty when
// first > last; false with |error| set when the table cannot be read.
bool existingTests(const QString &sheetTag, int first, int last, QList<int> *tests, QString *error = nullptr);

struct PrintOutcome
{
    int pages = 0;
    bool cancelled = false;
    bool failed = false; // the device could not be opened for painting, or its file not written
    QString error;       // why a PDF file could not be written
    QList<int> missing;  // numbers of the list without a record, in list order
};

// Inclusive runs of test numbers.
using NumberRuns = QList<QPair<qint64, qint64>>;
// The numbers of [first, last] that the ascending list |existing| lacks.
NumberRuns missingRuns(qint64 first, qint64 last, const QList<int> &existing);
// "3、7-9、12": the first |maxRuns| runs, then "等共 N 个" (N numbers in all).
QString numberRuns(const NumberRuns &runs, int maxRuns = 10);
// The closing words of a batch run: "已打印 N 份，缺少测试编号：…。" (with
// the cancellation when the operator stopped it); |missing| are the range's
// numbers without a record.
QString batchPrintSummary(const PrintOutcome &outcome, NumberRuns missing = {});

// Called before each element with (done, total); returning false ends the
// run before that element.
using PrintProgress = std::function<bool(int done, int total)>;

// Paints one page per element of |list| that has a record on |device|,
// fitted to its printable area. A list starting with 0 means "the current
// test" and leaves global::currentTestID alone; otherwise currentTestID
// follows each element. The painter opens at the first page to print (a run
// without records sends nothing) and pages are separated, never followed, by
// newPage, so no blank page ends a run. A printer that prints to a PDF file
// writes it through the common save road: the file appears only when
// complete, and a failed write is reported instead of leaving a cut file.
PrintOutcome printTestList(QPagedPaintDevice &device, const QString &sheetTag, const QList<int> &list,
                           const PrintProgress &progress = {});

// Writes the one-page report of |testId| in |sheetTag| to the PDF file
// |path| (|title| goes into the document's title). False with |error| set
// when the file cannot be written.
bool writeReportPdf(const QString &path, const QString &sheetTag, int testId, QString *error,
                    const QString &title = QString());

// Pages other than single reports (the group statistics): |paintPage| paints
// page |page| (0-based) in page units on a painter whose window is already the
// 960 x 1358 page.
using PagePainter = std::function<void(QPainter &painter, int page)>;

// Paints |pageCount| pages on |device|, fitted to its printable area and
// separated by newPage.
PrintOutcome printPages(QPagedPaintDevice &device, int pageCount, const PagePainter &paintPage);

// Writes |pageCount| pages to the PDF file |path| as writeReportPdf does.
bool writePagesPdf(const QString &path, int pageCount, const PagePainter &paintPage, QString *error,
                   const QString &title = QString());

} // namespace reports
