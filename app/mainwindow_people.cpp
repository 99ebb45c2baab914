// Main window slots of the people subsystem (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::usersList()
{
    qDebug() << "usersList function";
}

void MainWindow::usersImport()
{
    qDebug() << "usersImport function";
}

void MainWindow::searchPerson2()
{
    qDebug() << "searchPerson2 function";
}

void MainWindow::refreshPerson()
{
    qDebug() << "refreshPerson function";
}

void MainWindow::addPerson()
{
    qDebug() << "addPerson function";
}

void MainWindow::savePerson()
{
    qDebug() << "savePerson function";
}

void MainWindow::deletePerson()
{
    qDebug() << "deletePerson function";
}
