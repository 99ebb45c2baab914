#include "dialogs/configdlg.h"

#include "app/dbtarget.h"
#include "app/globals.h"
#include "app/serialports.h"
#include "exchange/errortext.h"
#include "exchange/upload.h"

#include <QComboBox>
#include <QDataWidgetMapper>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QVBoxLayout>

#include <algorithm>

configDlg::configDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("系统设置"));
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);

    // The boxes scroll when the screen is lower than the dialog (768 px).
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *content = new QWidget(scroll);
    auto *layout = new QVBoxLayout(content);

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

    auto *uploadBox = new QGroupBox(tr("数据上传"), this);
    auto *uploadGrid = new QGridLayout(uploadBox);
    m_uploadAddress = new QLineEdit(exchange::readPostAddress(), uploadBox);
    m_uploadAddress->setObjectName(QStringLiteral("uploadAddressEdit"));
    m_uploadAddress->setPlaceholderText(tr("例如 http://192.168.1.10:8080/upload"));
    m_uploadOk = new QPushButton(tr("确定"), uploadBox);
    uploadGrid->addWidget(new QLabel(tr("上传地址："), uploadBox), 0, 1);
    uploadGrid->addWidget(m_uploadAddress, 0, 2);
    uploadGrid->addWidget(
        new QLabel(tr("<font color='grey'>以 http:// 或 https:// 开头，含服务器地址</font>"), uploadBox), 1,
        2);
    uploadGrid->addWidget(m_uploadOk, 2, 2);
    layout->addWidget(uploadBox);
    layout->addWidget(buildDatabaseBox());

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
    for (QPushButton *open : {m_fitOpen, m_open})
        open->setToolTip(tr("先扫描并选择串口，或输入串口路径；已打开的串口不能再打开"));
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
    scroll->setWidget(content);
    outer->addWidget(scroll);
    const QSize wanted = content->sizeHint() + QSize(scroll->verticalScrollBar()->sizeHint().width(), 0);
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().height() * 9 / 10 : wanted.height();
    resize(std::max(460, wanted.width()), std::min(wanted.height(), room));

    connect(m_unitOk, &QPushButton::clicked, this, &configDlg::modifyUnit);
    connect(m_sheetOk, &QPushButton::clicked, this, &configDlg::sheetSelect);
    connect(m_scan, &QPushButton::clicked, this, &configDlg::portScan);
    connect(m_fitOpen, &QPushButton::clicked, this, &configDlg::fitPortOpen);
    connect(m_open, &QPushButton::clicked, this, &configDlg::portOpen);
    connect(m_close, &QPushButton::clicked, this, &configDlg::portClose);
    connect(m_uploadOk, &QPushButton::clicked, this, &configDlg::saveUploadAddress);
    connect(m_portList, &QComboBox::currentTextChanged, this, &configDlg::updateOpenButtons);

    m_reportModel = new QSqlTableModel(this);
    m_reportModel->setTable(SqlDialect::current().modelTable(QStringLiteral("Report")));
    m_reportModel->setSort(m_reportModel->fieldIndex(QStringLiteral("ID")), Qt::AscendingOrder);
    m_reportModel->select();
    for (int row = 0; row < m_reportModel->rowCount(); ++row) {
        const QSqlRecord rec = m_reportModel->record(row);
        m_reportList->addItem(rec.value(QStringLiteral("ReportType")).toString());
        m_reportList->setCurrentText(rec.value(QStringLiteral("Selected")).toString());
    }

    enableButtonScan(true);
    if (global::portFlag != QLatin1String("0") || global::fitPortFlag != QLatin1String("0"))
        m_status->setText(tr("串口已打开"));
    updateOpenButtons();
    enableButtonClose(true);

    m_unitModel = new QSqlTableModel(this);
    m_unitModel->setTable(SqlDialect::current().modelTable(QStringLiteral("Unit")));
    m_unitModel->setEditStrategy(QSqlTableModel::OnManualSubmit);
    m_unitModel->select();
    m_unitMapper = new QDataWidgetMapper(this);
    m_unitMapper->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    m_unitMapper->setModel(m_unitModel);
    m_unitMapper->addMapping(m_unitName, 1);
    m_unitMapper->addMapping(m_unitPhone, 2);
    // On a shared server the name and phone are everybody's, the identifier
    // this PC's own (kept in the settings file).
    const bool shared = SqlDialect::current().server();
    if (!shared)
        m_unitMapper->addMapping(m_unitId, 3);
    m_unitMapper->toFirst();
    if (shared)
        m_unitId->setText(unitIdOfThisPc(m_unitModel->record(0).value(QStringLiteral("UUID")).toString()));
}

void configDlg::modifyUnit()
{
    qDebug() << "modifyUnit function";
    const bool result1 = m_unitMapper->submit();
    bool result2 = m_unitModel->submitAll();
    QString ownError;
    if (result2 && SqlDialect::current().server() && !setUnitIdOfThisPc(m_unitId->text(), &ownError)) {
        QMessageBox::warning(this, tr("单位信息修改"), tr("单位识别码没有保存：%1").arg(ownError),
                             QMessageBox::Ok);
        return;
    }
    qDebug() << "result1:" << result1;
    qDebug() << "result2:" << result2;
    m_unitMapper->setCurrentIndex(0);
    if (result2) {
        QMessageBox::information(this, tr("单位信息修改"), tr("单位信息修改成功！"), QMessageBox::Ok);
    } else {
        const QString error = exchange::systemErrorText(m_unitModel->lastError().text());
        m_unitModel->revertAll();
        m_unitMapper->setCurrentIndex(0);
        QMessageBox::warning(this, tr("单位信息修改"), tr("单位信息修改失败！\n%1").arg(error),
                             QMessageBox::Ok);
    }
}

QGroupBox *configDlg::buildDatabaseBox()
{
    auto *box = new QGroupBox(tr("数据库"), this);
    auto *grid = new QGridLayout(box);
    m_dbFile = new QRadioButton(tr("本机数据库文件"), box);
    m_dbServer = new QRadioButton(tr("PostgreSQL 服务器（多台电脑共用）"), box);
    m_dbHost = new QLineEdit(box);
    m_dbHost->setPlaceholderText(tr("例如 192.168.1.10"));
    m_dbPort = new QLineEdit(box);
    m_dbPort->setPlaceholderText(QStringLiteral("5432"));
    m_dbPort->setMaximumWidth(m_dbPort->fontMetrics().horizontalAdvance(QStringLiteral("655350")) + 16);
    m_dbName = new QLineEdit(box);
    m_dbUser = new QLineEdit(box);
    m_dbOk = new QPushButton(tr("确定"), box);
    auto *choice = new QHBoxLayout;
    choice->addWidget(m_dbFile);
    choice->addWidget(m_dbServer);
    choice->addStretch(1);
    grid->addLayout(choice, 0, 0, 1, 4);
    grid->addWidget(new QLabel(tr("服务器地址："), box), 1, 0);
    grid->addWidget(m_dbHost, 1, 1);
    grid->addWidget(new QLabel(tr("端口："), box), 1, 2);
    grid->addWidget(m_dbPort, 1, 3);
    grid->addWidget(new QLabel(tr("数据库名称："), box), 2, 0);
    grid->addWidget(m_dbName, 2, 1);
    grid->addWidget(new QLabel(tr("用户名："), box), 2, 2);
    grid->addWidget(m_dbUser, 2, 3);
    auto *note =
        new QLabel(tr("<font color='grey'>密码不保存在设置中，请写在 ~/.pgpass 或 PGPASSWORD 中。<br>"
                      "更改在下次启动程序时生效。<br>当前使用：%1</font>")
                       .arg(activeDbTarget().display().toHtmlEscaped()),
                   box);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    grid->addWidget(note, 3, 0, 1, 4);
    grid->addWidget(m_dbOk, 4, 1, 1, 3);

    DbTarget stored;
    if (!loadDbSetting(dbSettingsPath(), &stored))
        stored = DbTarget();
    m_dbServer->setChecked(stored.isServer());
    m_dbFile->setChecked(!stored.isServer());
    m_dbHost->setText(stored.host);
    m_dbPort->setText(stored.port > 0 ? QString::number(stored.port) : QString());
    m_dbName->setText(stored.name);
    m_dbUser->setText(stored.user);
    const auto follow = [this] {
        for (QLineEdit *edit : {m_dbHost, m_dbPort, m_dbName, m_dbUser})
            edit->setEnabled(m_dbServer->isChecked());
    };
    follow();
    connect(m_dbServer, &QRadioButton::toggled, this, follow);
    connect(m_dbOk, &QPushButton::clicked, this, &configDlg::saveDatabaseChoice);
    return box;
}

void configDlg::saveDatabaseChoice()
{
    DbTarget target;
    QString why;
    if (!dbTargetFromForm(m_dbServer->isChecked(), m_dbHost->text(), m_dbPort->text(), m_dbName->text(),
                          m_dbUser->text(), &target, &why) ||
        !saveDbSetting(dbSettingsPath(), target, &why)) {
        QMessageBox::warning(this, tr("数据库"),
                             tr("数据库设置没有保存：%1").arg(exchange::systemErrorText(why)),
                             QMessageBox::Ok);
        return;
    }
    QString text = tr("数据库设置已保存：%1\n下次启动程序时生效。").arg(target.display());
    if (!qEnvironmentVariableIsEmpty("QUELMAR_DATABASE"))
        text += tr("\n注意：环境变量 QUELMAR_DATABASE 已设置，启动时优先使用它。");
    QMessageBox::information(this, tr("数据库"), text, QMessageBox::Ok);
}

void configDlg::saveUploadAddress()
{
    qDebug() << "saveUploadAddress function" << m_uploadAddress->text();
    QString why;
    if (!exchange::savePostAddress(m_uploadAddress->text(), &why)) {
        QMessageBox::warning(this, tr("上传地址"),
                             tr("上传地址没有保存：%1").arg(exchange::systemErrorText(why)), QMessageBox::Ok);
        return;
    }
    m_uploadAddress->setText(exchange::readPostAddress());
    QMessageBox::information(this, tr("上传地址"), tr("上传地址已保存。"), QMessageBox::Ok);
}

void configDlg::updateOpenButtons()
{
    // Pseudo-terminals and adapters are typed as paths, scanned ports as names.
    const auto location = [](const QString &name) {
        return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    };
    const QString chosen = m_portList->currentText().trimmed();
    const auto heldBy = [&](const QSerialPort *port) {
        return port->isOpen() && location(port->portName()) == location(chosen);
    };
    enableButtonOpen(!chosen.isEmpty() && !BCAport->isOpen() && !heldBy(fitPort));
    enableFitButtonOpen(!chosen.isEmpty() && !fitPort->isOpen() && !heldBy(BCAport));
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
    updateOpenButtons();
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
        m_status->setText(
            tr("<font color='red'>%1 串口打开失败：%2</font>")
                .arg(portName.toHtmlEscaped(), exchange::systemErrorText(error).toHtmlEscaped()));
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
    openSelected(BCAport, global::portFlag, "Open port result:", "Now portflag is: ");
    updateOpenButtons();
}

void configDlg::fitPortOpen()
{
    openSelected(fitPort, global::fitPortFlag, "Open fitport result:", "Now fit portflag is: ");
    updateOpenButtons();
}

void configDlg::portClose()
{
    if (BCAport->isOpen())
        BCAport->close();
    if (fitPort->isOpen())
        fitPort->close();
    m_status->setText(tr("<font color='red'>串口已关闭</font>"));
    emit stopTimer();
    enableButtonScan(true);
    global::portFlag = QStringLiteral("0");
    global::fitPortFlag = QStringLiteral("0");
    // Both ports are closed: the open buttons are ready for the chosen port.
    updateOpenButtons();
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
