// Main window slot of the group statistics: the "统计分析" dialog of the
// 测量结果 menu. The dialog does the work (dialogs/statsdlg).
#include "app/mainwindow.h"

#include "dialogs/statsdlg.h"

#include <QAction>
#include <QDebug>

QAction *MainWindow::createStatsAction()
{
    m_actStats = new QAction(tr("统计分析"), this);
    m_actStats->setToolTip(tr("按日期、性别和年龄组统计体质测试和体成分测试结果"));
    connect(m_actStats, &QAction::triggered, this, &MainWindow::groupStats);
    return m_actStats;
}

void MainWindow::groupStats()
{
    qDebug() << "groupStats function";
    StatsDlg dialog(this);
    dialog.exec();
}
