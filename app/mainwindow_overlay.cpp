// Main window slot of overlay printing on pre-printed sheets: the values of
// the chosen records at the positions of the style's Print row.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "reports/layout.h"
#include "reports/overlay.h"
#include "reports/reportprint.h"

#include <QDebug>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

void MainWindow::printReport()
{
    qDebug() << "printReport function";
    // Always the body-composition style of the settings (a fitness list may
    // have left the shared tag on the fitness report) and the page's record.
    global::sheetTag = reports::readSelectedSheetTag();
    global::currentTestID = reports::resolveTestId(global::sheetTag, m_bcaPageTestId);
    global::printList = {0};
    fillInPrint(global::sheetTag, global::bodyType);
}

void MainWindow::fillInPrint(const QString &sheetTag, const QString &bodyType)
{
    qDebug() << "fillInPrint function ";
    qDebug() << "sheetTag received is: " << sheetTag;
    qDebug() << "bodyType received is: " << bodyType;
    QPrinter printer(QPrinter::HighResolution);
    if (choosePrinter(printer)) {
        // No page at all means the printer (or its output file) could not be started.
        if (reports::printOverlayPages(printer, sheetTag, global::printList, global::currentTestID) == 0 &&
            !global::printList.isEmpty())
            QMessageBox::warning(
                this, tr("打印"),
                tr("无法开始打印，请检查打印机或输出文件 %1。").arg(printer.outputFileName()));
        for (const int printItem : qAsConst(global::printList)) {
            if (printItem != 0)
                global::currentTestID = printItem;
        }
    }
    qDebug() << "At the end, printlist=" << global::printList;
    global::printList.clear();
}
