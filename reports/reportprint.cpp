#include "reports/reportprint.h"

#include "app/dbtarget.h"
#include "app/globals.h"
#include "exchange/safewrite.h"
#include "reports/layout.h"
#include "reports/reportpage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDebug>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace reports {

QString resultTable(const QString &sheetTag)
{
    return sheetTag == sheet::fitness ? QStringLiteral("ResultFIT") : QStringLiteral("Result");
}

int resolveTestId(const QString &sheetTag, int testId)
{
    if (testId != 0)
        return testId;
    QSqlQuery q;
    if (q.exec(dbSql(QStringLiteral("SELECT MAX(TestID) FROM %1").arg(resultTable(sheetTag)))) && q.next())
        return q.value(0).toInt();
    return 0;
}

bool testExists(const QString &sheetTag, int testId)
{
    const QString sql = QStringLiteral("SELECT TestID FROM %1 WHERE TestID=?").arg(resultTable(sheetTag));
    qDebug() << "sqlStrData = " << sql << testId;
    QSqlQuery q;
    q.prepare(dbSql(sql));
    q.addBindValue(testId);
    if (!q.exec()) {
        qDebug() << "test lookup failed:" << q.lastError();
        return false;
    }
    QString found;
    while (q.next())
        found = q.value(0).toString();
    qDebug() << "myTestID=" << found;
    return !found.isEmpty();
}

bool readPrintRange(const QString &firstText, const QString &lastText, int *first, int *last)
{
    bool okFirst = false;
    bool okLast = false;
    const int a = firstText.trimmed().toInt(&okFirst, 10);
    const int b = lastText.trimmed().toInt(&okLast, 10);
    if (!okFirst || !okLast || a < 1)
        return false;
    *first = a;
    *last = b;
    return true;
}

bool existingTests(const QString &sheetTag, int first, int last, QList<int> *tests, QString *error)
{
    tests->clear();
    if (first > last)
        return true;
    QSqlQuery q;
    q.setForwardOnly(true);
    q.prepare(dbSql(QStringLiteral("SELECT TestID FROM %1 WHERE TestID BETWEEN ? AND ? ORDER BY TestID")
                        .arg(resultTable(sheetTag))));
    q.addBindValue(first);
    q.addBindValue(last);
    if (!q.exec()) {
        qDebug() << "range lookup failed:" << q.lastError();
        if (error)
            *error = q.lastError().text();
        return false;
    }
    while (q.next())
        tests->append(q.value(0).toInt());
    return true;
}

namespace {
PrintOutcome paintTestList(QPagedPaintDevice &device, const QString &sheetTag, const QList<int> &list,
                           const PrintProgress &progress)
{
    PrintOutcome outcome;
    qDebug() << "printList " << list;
    qDebug() << "printList.size= " << list.size();
    if (list.isEmpty())
        return outcome;
    QPainter painter;
    QRect area;
    const bool currentOnly = list.first() == 0;
    for (int i = 0; i < list.size(); ++i) {
        if (progress && !progress(i, list.size())) {
            outcome.cancelled = true;
            break;
        }
        const int item = list.at(i);
        qDebug() << "printItem= " << item;
        if (!currentOnly) {
            global::currentTestID = item;
            qDebug() << "global::currentTestID= " << global::currentTestID;
        }
        const int testId = currentOnly ? global::currentTestID : item;
        // The current test 0 names the newest record, which exists whenever any does.
        if (testId != 0 && !testExists(sheetTag, testId)) {
            outcome.missing << testId;
            continue;
        }
        if (outcome.pages == 0) {
            if (!painter.begin(&device)) {
                outcome.failed = true;
                break;
            }
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            area = painter.viewport();
        } else {
            device.newPage();
        }
        painter.save();
        fitPageToRect(painter, area);
        paintReportPage(painter, sheetTag, testId);
        painter.restore();
        ++outcome.pages;
    }
    if (painter.isActive())
        painter.end();
    if (progress && !outcome.cancelled && !outcome.failed)
        progress(list.size(), list.size());
    return outcome;
}

// The printer's own PDF engine writes its file without looking at the
// outcome; the pages go through a PDF writer on a save file instead.
PrintOutcome printToPdfFile(const QPrinter &printer, const QString &sheetTag, const QList<int> &list,
                            const PrintProgress &progress)
{
    PrintOutcome outcome;
    exchange::SaveFile file(printer.outputFileName());
    if (!file.open(&outcome.error)) {
        outcome.failed = true;
        return outcome;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(printer.pageLayout());
        writer.setResolution(printer.resolution());
        writer.setTitle(printer.docName());
        writer.setCreator(printer.creator());
        writer.setPdfVersion(printer.pdfVersion());
        outcome = paintTestList(writer, sheetTag, list, progress);
    }
    if (outcome.pages == 0 || outcome.failed) {
        file.cancelWriting(); // nothing printed: no file, as on a printer
        return outcome;
    }
    outcome.failed = !file.finish(&outcome.error);
    return outcome;
}
} // namespace

PrintOutcome printTestList(QPagedPaintDevice &device, const QString &sheetTag, const QList<int> &list,
                           const PrintProgress &progress)
{
    auto *printer = dynamic_cast<QPrinter *>(&device);
    if (printer && printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty())
        return printToPdfFile(*printer, sheetTag, list, progress);
    return paintTestList(device, sheetTag, list, progress);
}

NumberRuns missingRuns(qint64 first, qint64 last, const QList<int> &existing)
{
    NumberRuns runs;
    qint64 next = first;
    for (const int n : existing) {
        if (n < next || n > last)
            continue;
        if (n > next)
            runs.append({next, n - 1});
        next = qint64(n) + 1;
    }
    if (next <= last)
        runs.append({next, last});
    return runs;
}

QString numberRuns(const NumberRuns &runs, int maxRuns)
{
    QStringList parts;
    qint64 count = 0;
    for (const auto &run : runs) {
        count += run.second - run.first + 1;
        if (parts.size() < maxRuns)
            parts << (run.first == run.second ? QString::number(run.first)
                                              : QStringLiteral("%1-%2").arg(run.first).arg(run.second));
    }
    QString text = parts.join(QStringLiteral("、"));
    if (runs.size() > maxRuns)
        text += QCoreApplication::translate("reports", "等共 %1 个").arg(count);
    return text;
}

QString batchPrintSummary(const PrintOutcome &outcome, NumberRuns missing)
{
    // Numbers whose record went away during the run join the range's gaps.
    for (const int n : outcome.missing)
        missing.append({n, n});
    std::sort(missing.begin(), missing.end());
    QString text = outcome.cancelled
                       ? QCoreApplication::translate("reports", "打印已取消，已打印 %1 份").arg(outcome.pages)
                       : QCoreApplication::translate("reports", "已打印 %1 份").arg(outcome.pages);
    if (!missing.isEmpty())
        text += QCoreApplication::translate("reports", "，缺少测试编号：%1").arg(numberRuns(missing));
    return text + QCoreApplication::translate("reports", "。");
}

bool writeReportPdf(const QString &path, const QString &sheetTag, int testId, QString *error,
                    const QString &title)
{
    return writePagesPdf(
        path, 1, [&](QPainter &painter, int) { paintReportPage(painter, sheetTag, testId); }, error, title);
}

PrintOutcome printPages(QPagedPaintDevice &device, int pageCount, const PagePainter &paintPage)
{
    PrintOutcome outcome;
    if (pageCount <= 0)
        return outcome;
    QPainter painter;
    if (!painter.begin(&device)) {
        outcome.failed = true;
        return outcome;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect area = painter.viewport();
    for (int page = 0; page < pageCount; ++page) {
        if (page > 0)
            device.newPage();
        painter.save();
        fitPageToRect(painter, area);
        paintPage(painter, page);
        painter.restore();
        ++outcome.pages;
    }
    painter.end();
    return outcome;
}

bool writePagesPdf(const QString &path, int pageCount, const PagePainter &paintPage, QString *error,
                   const QString &title)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(300);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        writer.setCreator(QStringLiteral("Quelmar V2.0"));
        writer.setTitle(title);
        if (printPages(writer, pageCount, paintPage).failed) {
            *error = QObject::tr("无法生成PDF页面");
            return false;
        }
    }
    return exchange::saveWholeFile(path, buffer.data(), error);
}

} // namespace reports
