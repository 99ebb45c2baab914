// Main window slot of overlay printing on pre-printed sheets (not built yet).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::printReport()
{
    qDebug() << "printReport function";
}
