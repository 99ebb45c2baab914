#include "dialogs/batchdlg.h"

#include "app/globals.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGridLayout>
#include <QLabel>

namespace {
// Analyzer state: no further record, the batch is over.
constexpr int stateNoFurtherRecord = 6;
} // namespace

BatchDlg::BatchDlg(QWidget *parent) : QDialog(parent)
{
    resize(500, 300);
    setWindowTitle(tr("体成分测量-批量数据采集"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setStyleSheet(QStringLiteral("font-size:16px; color:#424242;"));

    auto *hint =
        new QLabel(tr("*请保持仪器连接，在体成分仪中查询所要采集的数据。查出后数据会自动传输过来。"), this);
    hint->setWordWrap(true);
    m_recordNumber = new QLabel(QStringLiteral("0"), this);
    m_recordNumber->setStyleSheet(QStringLiteral("font-size:20px; color:'red'; "));
    m_state = new QLabel(tr("等待采集"), this);
    m_state->setStyleSheet(QStringLiteral("color:'red'; "));
    m_count = new QLabel(QStringLiteral("0"), this);
    m_count->setStyleSheet(QStringLiteral("font-size:20px; color:'red'; "));

    auto *grid = new QGridLayout(this);
    grid->addWidget(hint, 1, 0, 1, 3);
    grid->addWidget(new QLabel(tr("[记录编号]"), this), 2, 0);
    grid->addWidget(m_recordNumber, 2, 1);
    grid->addWidget(new QLabel(tr("[采集状态]"), this), 4, 0);
    grid->addWidget(m_state, 4, 1);
    grid->addWidget(new QLabel(tr("成功采集 "), this), 6, 0);
    grid->addWidget(m_count, 6, 1);
    grid->addWidget(new QLabel(tr(" 条记录"), this), 6, 2);
}

void BatchDlg::displayTid(int tid)
{
    qDebug() << "displayTid function";
    qDebug() << "tid received = " << tid;
    if (global::BCAstate == stateNoFurtherRecord) {
        showFinished();
    } else {
        m_state->setStyleSheet(QStringLiteral("color:'red';"));
        m_state->setText(tr("数据接收中……"));
    }
    m_recordNumber->setText(QString::number(tid));
    m_count->setText(QString::number(tid));
}

void BatchDlg::displayState(int state)
{
    if (state == stateNoFurtherRecord)
        showFinished();
}

void BatchDlg::showFinished()
{
    m_state->setStyleSheet(QStringLiteral("color:'black';"));
    m_state->setText(tr("数据接收完毕"));
}

void BatchDlg::closeEvent(QCloseEvent *event)
{
    global::batchSwitch = QStringLiteral("OFF");
    QDialog::closeEvent(event);
}

void BatchDlg::done(int result)
{
    // Escape, reject() and accept() end the dialog without a close event.
    global::batchSwitch = QStringLiteral("OFF");
    QDialog::done(result);
}
