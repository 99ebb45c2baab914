// Main window slots of measurement saving and the body-composition detail
// page (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::saveTestData()
{
    qDebug() << "saveTestData function";
}

void MainWindow::displayData()
{
    qDebug() << "displayData function";
}
