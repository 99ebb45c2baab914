// Main window slots of the collection pages and the protocol test console
// (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::testBCA()
{
    qDebug() << "testBCA function";
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
