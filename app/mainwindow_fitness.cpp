// Main window slots of the fitness subsystem (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::checkFitstate()
{
    qDebug() << "checkFitstate function";
}

void MainWindow::getFitData()
{
    qDebug() << "getFitData function";
}

void MainWindow::displayFitData()
{
    qDebug() << "displayFitData function";
}
