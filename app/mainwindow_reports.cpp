// Main window slots of the reports subsystem (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::viewReport()
{
    qDebug() << "viewReport function";
}

void MainWindow::viewReportFit()
{
    qDebug() << "viewReportFit function";
}

void MainWindow::printReportPic()
{
    qDebug() << "printReportPic function";
}

void MainWindow::printReportFit()
{
    qDebug() << "printReportFit function";
}

void MainWindow::printAllReport()
{
    qDebug() << "printAllReport function";
}

void MainWindow::printAllReportFit()
{
    qDebug() << "printAllReportFit function";
}

void MainWindow::savePdf()
{
    qDebug() << "savePdf function";
}
