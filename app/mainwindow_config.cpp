// Main window slots of the config subsystem (not built yet: they only log).
#include "app/mainwindow.h"

#include <QDebug>

void MainWindow::config()
{
    qDebug() << "config function";
}
