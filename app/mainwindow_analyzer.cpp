// Main window slots of the analyzer link: polling, download and PC control
// (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

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

void MainWindow::startPCctrl()
{
    qDebug() << "startPCctrl function";
}

void MainWindow::stopPCctrl()
{
    qDebug() << "stopPCctrl function";
}


void MainWindow::pauseAnalyzerPolling()
{
}

void MainWindow::resumeAnalyzerPolling()
{
}
