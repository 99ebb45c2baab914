#include "reports/reportprint.h"

#include "app/globals.h"
#include "reports/layout.h"
#include "reports/reportpage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace reports {

QString resultTable(const QString &sheetTag)
{
    return sheetTag == sheet::fitness ? QStringLiteral("ResultFIT") : QStringLiteral("Result");
}

bool testExists(const QString &sheetTag, int testId)
{
    const QString sql = QStringLiteral("SELECT TestID FROM %1 WHERE TestID=?").arg(resultTable(sheetTag));
    qDebug() << "sqlStrData = " << sql << testId;
    QSqlQuery q;
    q.prepare(sql);
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

QList<int> rangeList(int first, int last)
{
    QList<int> list;
    if (first > last)
        return list;
    list.reserve(last - first + 1);
    for (qint64 n = first; n <= last; ++n)
        list << int(n);
    return list;
}

PrintOutcome printTestList(QPagedPaintDevice &device, const QString &sheetTag, const QList<int> &list,
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

QString numberRuns(const QList<int> &numbers, int maxRuns)
{
    QStringList runs;
    for (int i = 0; i < numbers.size() && runs.size() < maxRuns;) {
        int j = i;
        while (j + 1 < numbers.size() && qint64(numbers.at(j + 1)) == qint64(numbers.at(j)) + 1)
            ++j;
        runs << (j == i ? QString::number(numbers.at(i))
                        : QStringLiteral("%1-%2").arg(numbers.at(i)).arg(numbers.at(j)));
        i = j + 1;
        if (runs.size() == maxRuns && i < numbers.size())
            return runs.join(QStringLiteral("、")) +
                   QCoreApplication::translate("reports", "等共 %1 个").arg(numbers.size());
    }
    return runs.join(QStringLiteral("、"));
}

QString batchPrintSummary(const PrintOutcome &outcome)
{
    QString text = outcome.cancelled
                       ? QCoreApplication::translate("reports", "打印已取消，已打印 %1 份").arg(outcome.pages)
                       : QCoreApplication::translate("reports", "已打印 %1 份").arg(outcome.pages);
    if (!outcome.missing.isEmpty())
        text += QCoreApplication::translate("reports", "，缺少测试编号：%1").arg(numberRuns(outcome.missing));
    return text + QCoreApplication::translate("reports", "。");
}

bool writeReportPdf(const QString &path, const QString &sheetTag, int testId, QString *error,
                    const QString &title)
{
    // Rendered in memory first, then written through QSaveFile: a full disk or
    // a read-only folder shows up as a failed write or commit, and a failed
    // write never leaves a truncated file behind.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(300);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        writer.setCreator(QStringLiteral("Quelmar V2.0"));
        writer.setTitle(title);
        QPainter painter(&writer);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        fitPageToRect(painter, painter.viewport());
        paintReportPage(painter, sheetTag, testId);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(buffer.data()) != buffer.data().size() ||
        !file.commit()) {
        *error =
            QObject::tr("无法写入文件 %1：%2").arg(QFileInfo(path).absoluteFilePath(), file.errorString());
        return false;
    }
    return true;
}

} // namespace reports
