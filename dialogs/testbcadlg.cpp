#include "dialogs/testbcadlg.h"

#include "analyzer/framecodec.h"
#include "app/globals.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QVBoxLayout>

namespace {
// Frame text of each entry of the command list, by index.
const QString &commandFrame(int index)
{
    static const QString *const table[] = {
        &frames::queryState,   &frames::pcControlStart, &frames::samplePersonInfo, &frames::startTest,
        &frames::sendPerson,   &frames::sendWhole,      &frames::sendSegment,      &frames::sendImpedance,
        &frames::pcControlEnd, &frames::nextRecord,
    };
    static const QString none;
    if (index < 0 || index >= int(sizeof table / sizeof table[0]))
        return none;
    return *table[index];
}

QPlainTextEdit *readOnlyView(QWidget *parent)
{
    auto *view = new QPlainTextEdit(parent);
    view->setReadOnly(true);
    return view;
}
} // namespace

testBCADlg::testBCADlg(QWidget *parent) : QDialog(parent)
{
    resize(800, 500);
    setWindowTitle(tr("体成分仪通讯协议测试"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    m_commandList = new QComboBox(this);
    m_commandList->addItems({tr("查询仪器状态"), tr("PC主控开始"), tr("发模拟个人基本信息"), tr("开始测试"),
                             tr("接收成分仪个人基本信息"), tr("接收成分仪全身测试数据"),
                             tr("接收成分仪节段测试数据"), tr("接收成分仪阻抗数据"), tr("取消PC主控"),
                             tr("查询下一条记录")});
    m_send = new QPushButton(tr("发送指令"), this);
    m_portState = new QLineEdit(this);
    m_portState->setReadOnly(true);
    m_clearCommand = new QPushButton(tr("清空指令"), this);
    m_clearSignal = new QPushButton(tr("清空信号"), this);
    m_commandView = readOnlyView(this);
    m_signalView = readOnlyView(this);
    m_infoView = readOnlyView(this);

    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("指令"), this));
    row->addWidget(m_commandList);
    row->addWidget(m_send);
    row->addWidget(new QLabel(tr("串口状态"), this));
    row->addWidget(m_portState);
    row->addWidget(m_clearCommand);
    row->addWidget(m_clearSignal);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(new QLabel(tr("指令(hex)"), this));
    layout->addWidget(m_commandView);
    layout->addWidget(new QLabel(tr("接收的信号(hex)"), this));
    layout->addWidget(m_signalView);
    layout->addWidget(new QLabel(tr("接收的信息"), this));
    layout->addWidget(m_infoView);

    const bool closed = global::portFlag.isEmpty() || global::portFlag == QLatin1String("0");
    m_portState->setText(closed ? tr("串口未打开") : tr("串口已打开"));

    connect(m_send, &QPushButton::clicked, this, &testBCADlg::sendCommand);
    connect(m_clearCommand, &QPushButton::clicked, this, &testBCADlg::clearCommand);
    connect(m_clearSignal, &QPushButton::clicked, this, &testBCADlg::clearSignal);
    if (BCAport)
        m_readConnection = connect(BCAport, &QSerialPort::readyRead, this, &testBCADlg::parseData);
}

testBCADlg::~testBCADlg()
{
    detachPort();
}

void testBCADlg::detachPort()
{
    if (m_readConnection)
        disconnect(m_readConnection);
}

void testBCADlg::closeEvent(QCloseEvent *event)
{
    detachPort();
    QDialog::closeEvent(event);
}

void testBCADlg::done(int result)
{
    // Escape and reject() end the dialog without a close event.
    detachPort();
    QDialog::done(result);
}

void testBCADlg::sendCommand()
{
    const int index = m_commandList->currentIndex();
    qDebug() << "commandIndex is:" << index;
    const QString &frame = commandFrame(index);
    if (!frame.isEmpty()) {
        m_commandView->appendPlainText(frame);
        sendBuffer.append(hexStringtoByteArray(frame));
    }
    if (sendBuffer.isEmpty())
        return;
    if (BCAport && BCAport->isOpen())
        BCAport->write(sendBuffer);
    else
        qDebug() << "analyzer port not open, command not sent";
    sendBuffer.clear();
}

void testBCADlg::clearCommand()
{
    qDebug() << "clearCommand function";
    sendBuffer.clear();
    m_commandView->clear();
}

void testBCADlg::clearSignal()
{
    qDebug() << "clearSignal function";
    m_signalView->clear();
    m_infoView->clear();
}

void testBCADlg::parseData()
{
    qDebug() << "parseData function";
    if (!BCAport)
        return;
    const QByteArray listened = BCAport->readAll();
    qDebug() << "listened= " << listened;
    // Each complete answer is shown on its own, once, however the reads split it.
    for (const QByteArray &frame : m_gatherer.feed(listened))
        showAnswer(frame);
}

void testBCADlg::showAnswer(const QByteArray &frame)
{
    const QByteArray hex = frame.toHex();
    qDebug() << "container:" << frame;
    qDebug() << "listenedHex= " << hex;
    m_signalView->appendPlainText(QString::fromLatin1(hex));

    const ConsoleReading reading = interpretConsoleAnswer(hex);
    switch (reading.part) {
    case ConsoleReading::Person:
        personData = reading.record;
        global::dataFlag = 1;
        break;
    case ConsoleReading::Whole:
        wholeData = reading.record;
        global::dataFlag = 2;
        break;
    case ConsoleReading::Segment:
        segData = reading.record;
        global::dataFlag = 3;
        break;
    case ConsoleReading::Impedance:
        impData = reading.record;
        break;
    case ConsoleReading::NoRecord:
        break;
    }
    m_infoView->appendPlainText(reading.text);
}
