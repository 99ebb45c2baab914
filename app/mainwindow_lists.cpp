// Main window slots of the lists subsystem (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::dataList()
{
    qDebug() << "dataList function";
}

void MainWindow::dataListFit()
{
    qDebug() << "dataListFit function";
}

void MainWindow::dataListWithPerson()
{
    qDebug() << "dataListWithPerson function";
}

void MainWindow::searchData()
{
    qDebug() << "searchData function";
}

void MainWindow::searchDataWhole()
{
    qDebug() << "searchDataWhole function";
}

void MainWindow::searchDataFit()
{
    qDebug() << "searchDataFit function";
}

void MainWindow::searchDataWholeFit()
{
    qDebug() << "searchDataWholeFit function";
}

void MainWindow::setCurrentData()
{
    qDebug() << "setCurrentData function";
}

void MainWindow::setCurrentData2()
{
    qDebug() << "setCurrentData2 function";
}

void MainWindow::setCurrentDataFit()
{
    qDebug() << "setCurrentDataFit function";
}

void MainWindow::setCurrentDataFit2()
{
    qDebug() << "setCurrentDataFit2 function";
}

void MainWindow::deleteData()
{
    qDebug() << "deleteData function";
}

void MainWindow::deleteDataFit()
{
    qDebug() << "deleteDataFit function";
}
