// Main window slots of the analyzer subsystem (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::testBCA()
{
    qDebug() << "testBCA function";
}

void MainWindow::connectBCA()
{
    qDebug() << "connectBCA function";
}

void MainWindow::checkBCAstate()
{
    qDebug() << "checkBCAstate function";
}

void MainWindow::stopCheckTimer()
{
    qDebug() << "stopCheckTimer function";
}

void MainWindow::getData()
{
    qDebug() << "getData function";
}

void MainWindow::saveTestData()
{
    qDebug() << "saveTestData function";
}

void MainWindow::startPCctrl()
{
    qDebug() << "startPCctrl function";
}

void MainWindow::stopPCctrl()
{
    qDebug() << "stopPCctrl function";
}

void MainWindow::collect()
{
    qDebug() << "collect function";
}

void MainWindow::pcControl()
{
    qDebug() << "pcControl function";
}

void MainWindow::batchCollect()
{
    qDebug() << "batchCollect function";
}

void MainWindow::displayData()
{
    qDebug() << "displayData function";
}
