#include "dialogs/configdlg.h"

#include "app/globals.h"
#include "app/serialports.h"

#include <QComboBox>
#include <QDataWidgetMapper>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QVBoxLayout>

configDlg::configDlg(QWidget *parent) : QDialog(parent)
{
    resize(400, 400);
    setWindowTitle(tr("系统设置"));
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);

    auto *layout = new QVBoxLayout(this);

    auto *unitBox = new QGroupBox(tr("单位信息"), this);
    auto *unitGrid = new QGridLayout(unitBox);
    m_unitName = new QLineEdit(unitBox);
    m_unitPhone = new QLineEdit(unitBox);
    m_unitId = new QLineEdit(unitBox);
    m_unitOk = new QPushButton(tr("确定"), unitBox);
    unitGrid->addWidget(new QLabel(tr("*用户单位名称："), unitBox), 0, 1);
    unitGrid->addWidget(m_unitName, 0, 2);
    unitGrid->addWidget(new QLabel(tr("*电话："), unitBox), 1, 1);
    unitGrid->addWidget(m_unitPhone, 1, 2);
    unitGrid->addWidget(new QLabel(tr("单位识别码："), unitBox), 2, 1);
    unitGrid->addWidget(m_unitId, 2, 2);
    unitGrid->addWidget(m_unitOk, 3, 2);
    layout->addWidget(unitBox);

    auto *sheetBox = new QGroupBox(tr("报告纸样式"), this);
    auto *sheetGrid = new QGridLayout(sheetBox);
    m_reportList = new QComboBox(sheetBox);
    m_sheetOk = new QPushButton(tr("确定"), sheetBox);
    sheetGrid->addWidget(new QLabel(tr("选择报告纸样式"), sheetBox), 0, 1);
    sheetGrid->addWidget(m_reportList, 0, 2);
    sheetGrid->addWidget(m_sheetOk, 1, 2);
    layout->addWidget(sheetBox);

    auto *portBox = new QGroupBox(tr("端口设置"), this);
    auto *portGrid = new QGridLayout(portBox);
    // Editable: pseudo-terminals and USB adapters are not always listed, so the
    // operator may type a device path as well as pick a scanned name.
    m_portList = new QComboBox(portBox);
    m_portList->setEditable(true);
    m_portList->setInsertPolicy(QComboBox::NoInsert);
    m_portList->setMinimumContentsLength(12);
    m_scan = new QPushButton(tr("串口扫描"), portBox);
    m_fitOpen = new QPushButton(tr("打开体测串口"), portBox);
    m_open = new QPushButton(tr("打开体成分串口"), portBox);
    m_close = new QPushButton(tr("关闭全部串口"), portBox);
    m_status = new QLabel(tr("<font color='red'>未打开</font>"), portBox);
    m_status->setWordWrap(true);
    portGrid->addWidget(new QLabel(tr("串口"), portBox), 0, 1);
    portGrid->addWidget(m_portList, 0, 2);
    portGrid->addWidget(m_scan, 0, 3);
    portGrid->addWidget(m_fitOpen, 1, 1);
    portGrid->addWidget(m_open, 1, 2);
    portGrid->addWidget(m_close, 1, 3);
    portGrid->addWidget(new QLabel(tr("[串口状态]"), portBox), 2, 0);
    portGrid->addWidget(m_status, 2, 1, 1, 3);
    layout->addWidget(portBox);

    connect(m_unitOk, &QPushButton::clicked, this, &configDlg::modifyUnit);
    connect(m_sheetOk, &QPushButton::clicked, this, &configDlg::sheetSelect);
    connect(m_scan, &QPushButton::clicked, this, &configDlg::portScan);
    connect(m_fitOpen, &QPushButton::clicked, this, &configDlg::fitPortOpen);
    connect(m_open, &QPushButton::clicked, this, &configDlg::portOpen);
    connect(m_close, &QPushButton::clicked, this, &configDlg::portClose);

    m_reportModel = new QSqlTableModel(this);
    m_reportModel->setTable(QStringLiteral("Report"));
    m_reportModel->select();
    for (int row = 0; row < m_reportModel->rowCount(); ++row) {
        const QSqlRecord rec = m_reportModel->record(row);
        m_reportList->addItem(rec.value(QStringLiteral("ReportType")).toString());
        m_reportList->setCurrentText(rec.value(QStringLiteral("Selected")).toString());
    }

    enableButtonScan(true);
    enableButtonOpen(true);
    enableFitButtonOpen(true);
    if (global::portFlag != QLatin1String("0")) {
        m_status->setText(tr("串口已打开"));
        enableButtonOpen(false);
    }
    if (global::fitPortFlag != QLatin1String("0")) {
        m_status->setText(tr("串口已打开"));
        enableFitButtonOpen(false);
    }
    enableButtonClose(true);

    m_unitModel = new QSqlTableModel(this);
    m_unitModel->setTable(QStringLiteral("Unit"));
    m_unitModel->setEditStrategy(QSqlTableModel::OnManualSubmit);
    m_unitModel->select();
    m_unitMapper = new QDataWidgetMapper(this);
    m_unitMapper->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    m_unitMapper->setModel(m_unitModel);
    m_unitMapper->addMapping(m_unitName, 1);
    m_unitMapper->addMapping(m_unitPhone, 2);
    m_unitMapper->addMapping(m_unitId, 3);
    m_unitMapper->toFirst();
}

void configDlg::modifyUnit()
{
    qDebug() << "modifyUnit function";
    const bool result1 = m_unitMapper->submit();
    const bool result2 = m_unitModel->submitAll();
    qDebug() << "result1:" << result1;
    qDebug() << "result2:" << result2;
    m_unitMapper->setCurrentIndex(0);
    if (result2)
        QMessageBox::warning(this, tr("单位信息修改"), tr("单位信息修改成功！"), QMessageBox::Ok);
}

void configDlg::sheetSelect()
{
    qDebug() << "sheetSelect function";
    global::sheetTag = m_reportList->currentText();
    qDebug() << "Selected sheetTag is: " << global::sheetTag;
    for (int row = 0; row < m_reportModel->rowCount(); ++row) {
        QSqlRecord rec = m_reportModel->record(row);
        rec.setValue(QStringLiteral("Selected"), global::sheetTag);
        m_reportModel->setRecord(row, rec);
        qDebug() << "Selected value is: "
                 << m_reportModel->record(row).value(QStringLiteral("Selected")).toString();
    }
}

void configDlg::portScan()
{
    qDebug() << "port scan";
    m_portList->clear();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        qDebug() << "portName=" << info.portName();
        m_portList->addItem(info.portName());
    }
    enableButtonOpen(true);
    enableFitButtonOpen(true);
}

bool configDlg::openSelected(QSerialPort *port, QString &flag, const char *resultLog, const char *flagLog)
{
    portName = m_portList->currentText().trimmed();
    comNumber = portName.right(1);
    qDebug() << "portName=" << portName;
    qDebug() << "comNumber=" << comNumber;
    QString error;
    const bool ok = !portName.isEmpty() && openInstrumentPort(port, portName, &error);
    qDebug() << resultLog << ok;
    if (!ok) {
        if (portName.isEmpty())
            error = tr("未选择串口");
        qDebug() << "open failed:" << portName << error;
        m_status->setText(tr("<font color='red'>%1 串口打开失败：%2</font>")
                              .arg(portName.toHtmlEscaped(), error.toHtmlEscaped()));
        return false;
    }
    m_status->setText(portName.toHtmlEscaped() + tr("串口已打开"));
    flag = portFlagFor(portName);
    qDebug() << flagLog << flag;
    enableButtonClose(true);
    return true;
}

void configDlg::portOpen()
{
    if (openSelected(BCAport, global::portFlag, "Open port result:", "Now portflag is: "))
        enableButtonOpen(false);
}

void configDlg::fitPortOpen()
{
    if (openSelected(fitPort, global::fitPortFlag, "Open fitport result:", "Now fit portflag is: "))
        enableFitButtonOpen(false);
}

void configDlg::portClose()
{
    if (BCAport->isOpen())
        BCAport->close();
    if (fitPort->isOpen())
        fitPort->close();
    m_status->setText(tr("<font color='red'>串口已关闭</font>"));
    emit stopTimer();
    enableButtonOpen(false);
    enableButtonClose(false);
    enableButtonScan(true);
    global::portFlag = QStringLiteral("0");
    global::fitPortFlag = QStringLiteral("0");
    qDebug() << "After close porting, portflag is: " << global::portFlag;
}

void configDlg::enableButtonOpen(bool enable)
{
    m_open->setEnabled(enable);
}

void configDlg::enableFitButtonOpen(bool enable)
{
    m_fitOpen->setEnabled(enable);
}

void configDlg::enableButtonClose(bool enable)
{
    m_close->setEnabled(enable);
}

void configDlg::enableButtonScan(bool enable)
{
    m_scan->setEnabled(enable);
}
