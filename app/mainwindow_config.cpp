// Main window slot of the settings dialog.
#include "app/mainwindow.h"

#include "dialogs/configdlg.h"

#include <QDebug>

void MainWindow::config()
{
    qDebug() << "config function";
    configDlg dialog;
    connect(&dialog, &configDlg::stopTimer, this, &MainWindow::stopCheckTimer);
    dialog.exec();
}
