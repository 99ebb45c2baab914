// Main window slots of the collection pages and the protocol test console.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "dialogs/batchdlg.h"
#include "dialogs/testbcadlg.h"

#include <QDebug>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace {
// Pictures of the instruction pages are 640 x 400; two side by side fit the page.
constexpr int helpPictureWidth = 380;

void frameInstructionDialog(QDialog &dlg)
{
    dlg.resize(800, 500);
    dlg.setWindowTitle(QObject::tr("体成分测量-实时数据采集"));
    dlg.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    dlg.setStyleSheet(QStringLiteral("font-size:16px; color:#424242; background-color:#ffffff"));
}

QLabel *richTextLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    return label;
}

QLabel *pictureLabel(const QString &resource, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    const QPixmap picture(resource);
    if (picture.isNull())
        qDebug() << "help picture missing:" << resource;
    else
        label->setPixmap(picture.scaledToWidth(helpPictureWidth, Qt::SmoothTransformation));
    return label;
}

QPushButton *closeButton(QDialog &dlg)
{
    auto *button = new QPushButton(QObject::tr("[X]关闭"), &dlg);
    QObject::connect(button, &QPushButton::clicked, &dlg, &QDialog::close);
    return button;
}
} // namespace

void MainWindow::testBCA()
{
    qDebug() << "testBCA function";
    // The console reads the analyzer port itself: the polling tick rests
    // meanwhile so that no answer is split between two readers.
    testBCADlg console(nullptr);
    pauseAnalyzerPolling();
    console.exec();
    resumeAnalyzerPolling();
}

void MainWindow::collect()
{
    qDebug() << "collect function";
    QDialog dlg(this);
    frameInstructionDialog(dlg);

    const QStringList lines = {
        tr("<strong>实时数据采集模式</strong><br> "),
        tr("本软件启动后已进入实时数据采集模式，请设置好串口，连接仪器。"),
        tr("待体成分仪状态显示已连接，体成分仪空闲’即可站上体成分仪进行测量。数据会自动出现在下方的数据区中"
           "。"),
        tr("对于需要经常测试的人员，建议使用主控模式，以保证编号的一致性并便于检索。"),
        QStringLiteral(" "),
        QString(),
    };
    auto *layout = new QVBoxLayout(&dlg);
    layout->addWidget(richTextLabel(lines.join(QLatin1Char('\n')), &dlg));
    auto *pictures = new QHBoxLayout;
    pictures->addWidget(pictureLabel(QStringLiteral(":/image/help-BCAconnect.png"), &dlg));
    pictures->addWidget(pictureLabel(QStringLiteral(":/image/help-dataArea.png"), &dlg));
    layout->addLayout(pictures);
    layout->addWidget(closeButton(dlg));
    layout->addWidget(new QLabel(&dlg));

    // exec() shows it; a show() in front would leave it non-modal.
    dlg.exec();
}

void MainWindow::pcControl()
{
    qDebug() << "pcControl function";
    QDialog dlg(this);
    frameInstructionDialog(dlg);

    auto *grid = new QGridLayout(&dlg);
    grid->addWidget(
        richTextLabel(tr("<strong>主控模式</strong><br><br> "
                         "请输入或选择人员信息后点击‘开始主控测试’，进入主控模式。<br>"
                         "进入主控模式后，体成分仪屏幕按键消失，被电脑控制。稍后会显示个人信息，"
                         "此时即可站上体成分仪进行测量。<br>测量完毕后，数据会自动出现在下方的数据区中。<br>"
                         "*TQ-30机型需站上人后再次点击‘开始主控测试’方可进入下一步。退出主控模式，"
                         "需点击‘退出主控’，仪器屏幕恢复按键。<br>"),
                      &dlg),
        0, 0, 1, 2);
    grid->addWidget(pictureLabel(QStringLiteral(":/image/help-pcCtrl.png"), &dlg), 1, 0);
    grid->addWidget(pictureLabel(QStringLiteral(":/image/demo.png"), &dlg), 1, 1);
    grid->addWidget(closeButton(dlg), 2, 0, 1, 2);

    // exec() shows it; a show() in front would leave it non-modal.
    dlg.exec();
}

void MainWindow::batchCollect()
{
    qDebug() << "batch collect function";
    global::tid = 0;
    global::batchSwitch = QStringLiteral("ON");

    BatchDlg dlg(this);
    connect(this, &MainWindow::tidChanged, &dlg, &BatchDlg::displayTid);
    connect(this, &MainWindow::analyzerStateChanged, &dlg, &BatchDlg::displayState);
    dlg.exec();
}
