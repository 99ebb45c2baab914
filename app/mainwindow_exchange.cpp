// Main window slots of the exchange subsystem (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::uploadBCA()
{
    qDebug() << "uploadBCA function";
}

void MainWindow::uploadPhy()
{
    qDebug() << "uploadPhy function";
}

void MainWindow::uploadFinished()
{
    qDebug() << "uploadFinished function";
}

void MainWindow::dataExport()
{
    qDebug() << "dataExport function";
}

void MainWindow::dataFitExport()
{
    qDebug() << "dataFitExport function";
}

void MainWindow::DBbackup()
{
    qDebug() << "DBbackup function";
}
