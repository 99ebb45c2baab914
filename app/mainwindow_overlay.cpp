// Main window slot of overlay printing on pre-printed sheets: the values of
// the chosen records at the positions of the style's Print row.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "reports/overlay.h"

#include <QDebug>
#include <QPrintDialog>
#include <QPrinter>

void MainWindow::printReport()
{
    qDebug() << "printReport function";
    global::printList = {0};
    fillInPrint(global::sheetTag, global::bodyType);
}

void MainWindow::fillInPrint(const QString &sheetTag, const QString &bodyType)
{
    qDebug() << "fillInPrint function ";
    qDebug() << "sheetTag received is: " << sheetTag;
    qDebug() << "bodyType received is: " << bodyType;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) {
        reports::printOverlayPages(printer, sheetTag, global::printList, global::currentTestID);
        for (const int printItem : qAsConst(global::printList)) {
            if (printItem != 0)
                global::currentTestID = printItem;
        }
    }
    qDebug() << "At the end, printlist=" << global::printList;
    global::printList.clear();
}
