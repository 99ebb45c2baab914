#include "reports/reportprint.h"

#include "app/globals.h"
#include "reports/layout.h"
#include "reports/reportpage.h"

#include <QBuffer>
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
        if (testId != 0 && !testExists(sheetTag, testId))
            continue;
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
    // A small file reaches the disk only when flushed: check that before the commit.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(buffer.data()) != buffer.data().size() ||
        !file.flush() || file.error() != QFileDevice::NoError || !file.commit()) {
        *error =
            QObject::tr("无法写入文件 %1：%2").arg(QFileInfo(path).absoluteFilePath(), file.errorString());
        return false;
    }
    return true;
}

} // namespace reports
