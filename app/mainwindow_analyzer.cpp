// Main window slots of the analyzer link: polling, download and PC control.
// The dialogue itself is analyzer::AnalyzerSession; these slots move bytes
// between it and BCAport and show what it reports.
#include "app/mainwindow.h"

#include "analyzer/analyzersession.h"
#include "analyzer/framecodec.h"
#include "analyzer/linkwatch.h"
#include "app/globals.h"

#include <QComboBox>
#include <QDate>
#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QSerialPort>
#include <QSpinBox>
#include <QTimer>

qint64 MainWindow::bcaNow()
{
    if (!m_bcaClock.isValid())
        m_bcaClock.start();
    return m_bcaClock.elapsed();
}

void MainWindow::wireAnalyzerSession()
{
    m_analyzer = new analyzer::AnalyzerSession(this);
    connect(m_analyzer, &analyzer::AnalyzerSession::writeFrame, this, &MainWindow::writeToAnalyzer);
    connect(m_analyzer, &analyzer::AnalyzerSession::showText, this, [this](const QString &text) {
        // A silent analyzer keeps "仪器无响应" until it answers again.
        if (!m_bcaWatch.silent())
            m_stateEdit->setText(text);
    });
    connect(m_analyzer, &analyzer::AnalyzerSession::portActive, this, [this] {
        // The answer's own state text follows at once.
        if (m_bcaWatch.answered() == analyzer::LinkWatch::Change::Recovered)
            qDebug() << "analyzer answers again";
        showPortActive();
    });
    connect(m_analyzer, &analyzer::AnalyzerSession::listenChanged, this, &MainWindow::listenToAnalyzer);
    connect(m_analyzer, &analyzer::AnalyzerSession::stateChanged, this, &MainWindow::analyzerStateChanged);
    connect(m_analyzer, &analyzer::AnalyzerSession::noFurtherRecord, this, &MainWindow::stopPCctrl);
    m_analyzer->setStore([this](const MeasurementLists &lists) {
        m_measurement = lists;
        saveTestData();
        return m_measurementStored;
    });
    connect(m_analyzer, &analyzer::AnalyzerSession::storeWaiting, this, [this](bool waiting) {
        if (!waiting)
            setStoreWarning(&m_bcaStoreWarning, QString());
    });
}

void MainWindow::writeToAnalyzer(const QByteArray &frame)
{
    // Nothing goes to a closed port; the polling keeps trying every second.
    if (BCAport->isOpen())
        BCAport->write(frame);
}

void MainWindow::listenToAnalyzer(bool listen)
{
    if (listen)
        connect(BCAport, &QSerialPort::readyRead, this, &MainWindow::getData, Qt::UniqueConnection);
    else
        disconnect(BCAport, &QSerialPort::readyRead, this, &MainWindow::getData);
}

void MainWindow::connectBCA()
{
    qDebug() << "present portFlag is : " << global::portFlag;
    if (global::portFlag == QLatin1String("0") && global::fitPortFlag == QLatin1String("0")) {
        QMessageBox::warning(this, tr("串口状态"), tr("串口未打开！请到连接与设置中打开串口"),
                             QMessageBox::Ok);
        return;
    }
    // A second press while polling runs would connect the ticks twice.
    if (BCAtimer->isActive() || m_bcaPollingPaused)
        return;
    m_stateEdit->setText(tr("开始监听设备端口……"));
    connect(BCAtimer.get(), &QTimer::timeout, this, &MainWindow::checkBCAstate, Qt::UniqueConnection);
    connect(fitTimer.get(), &QTimer::timeout, this, &MainWindow::checkFitstate, Qt::UniqueConnection);
    BCAtimer->start(1000);
    fitTimer->start(500);
}

void MainWindow::checkBCAstate()
{
    // While a download runs, getData alone reads the port.
    const QByteArray bytes = m_analyzer->downloading() ? QByteArray() : BCAport->readAll();
    const qint64 now = bcaNow();
    m_analyzer->tick(bytes, now);
    // Every tick sent a status query; one left unanswered for 5 s means the
    // analyzer is gone (cable out, switched off).
    if (!BCAport->isOpen())
        return;
    if (m_bcaWatch.portLost())
        m_bcaWatch.reset(); // opened again in the settings: watched afresh
    m_bcaWatch.queried(now);
    if (m_bcaWatch.check(now) == analyzer::LinkWatch::Change::WentSilent) {
        qDebug() << "analyzer silent for" << analyzer::kSilenceMs << "ms";
        m_stateEdit->setText(tr("仪器无响应（体成分仪）"));
        showPortActive();
    }
}

void MainWindow::stopCheckTimer()
{
    BCAtimer->stop();
    fitTimer->stop();
    disconnect(BCAtimer.get(), &QTimer::timeout, this, &MainWindow::checkBCAstate);
    disconnect(fitTimer.get(), &QTimer::timeout, this, &MainWindow::checkFitstate);
    if (BCAtimer->isActive() || fitTimer->isActive())
        qDebug() << "Oooops, timer is still working......";
    m_bcaPollingPaused = false;
    m_bcaWatch.reset();
    m_fitWatch.reset();
    global::portFlag = QStringLiteral("0");
    m_stateIcon->setPixmap(QPixmap(QStringLiteral(":/image/Error.png")));
    m_stateEdit->setText(tr("连接中断，串口已关闭"));
}

void MainWindow::getData()
{
    m_analyzer->receive(BCAport->readAll(), bcaNow());
}

void MainWindow::startPCctrl()
{
    qDebug() << "startPCctrl; function";
    qDebug() << "In StartPCctrl funtion, BCAstate is:" << global::BCAstate;
    if (global::BCAstate == 0) {
        QMessageBox::warning(this, tr("主控测试状态"), tr("串口没有打开，请检查仪器连接"));
        return;
    }
    // The person comes from the registry's form, which must be open.
    const QString name = m_registry ? m_registry->nameEdit()->text() : QString();
    if (name.isEmpty()) {
        qDebug() << "NameInput:" << name;
        QMessageBox::warning(this, tr("主控测试状态"), tr("检查个人信息输入是否完整"));
        return;
    }
    const QString sex = m_registry->sexCode();
    const int birthYear = m_registry->birthYearSpin()->value();
    const int height = m_registry->heightSpin()->value();
    global::PCCtrlUID = m_registry->uidEdit()->text();
    global::PCCtrlName = name;
    global::PCCtrlSex = sex;
    global::PCCtrlBirthYear = birthYear;

    const int sexDigit = sex == QLatin1String("2") ? 1 : 0;
    qDebug() << "ID: "
             << "0";
    qDebug() << "Name: "
             << "*";
    qDebug() << "Gender: " << sexDigit;
    qDebug() << "Year: " << birthYear;
    qDebug() << "Height: " << height;
    global::personInfoStr = analyzer::buildPersonFrame(QStringLiteral("0"), QByteArrayLiteral("*"), sexDigit,
                                                       birthYear, height, QDate::currentDate().year());
    if (PCCtrlState != QLatin1String("ON")) {
        writeToAnalyzer(hexStringtoByteArray(frames::pcControlStart));
        PCCtrlState = QStringLiteral("ON");
    }
    qDebug() << "PCCtrlState =" << PCCtrlState;
    global::BCAstate = 5;
    emit analyzerStateChanged(5);
}

void MainWindow::stopPCctrl()
{
    qDebug() << "Cancel PC control function";
    writeToAnalyzer(hexStringtoByteArray(frames::pcControlEnd));
    PCCtrlState = QStringLiteral("OFF");
    qDebug() << "PCCtrlState =================================================" << PCCtrlState;
    global::BCAstate = 1;
    emit analyzerStateChanged(1);
    global::PCCtrlUID = QStringLiteral("0");
}

void MainWindow::pauseAnalyzerPolling()
{
    if (!BCAtimer->isActive())
        return;
    BCAtimer->stop();
    listenToAnalyzer(false);
    m_bcaPollingPaused = true;
    m_bcaWatch.reset(); // the console's own exchange decides meanwhile
}

void MainWindow::resumeAnalyzerPolling()
{
    if (!m_bcaPollingPaused)
        return;
    m_bcaPollingPaused = false;
    // What the console exchanged is not part of a download.
    BCAport->readAll();
    m_analyzer->resetLink();
    BCAtimer->start(1000);
}

void MainWindow::suspendInstrumentLinks()
{
    if (m_linksSuspended)
        return;
    m_linksSuspended = true;
    m_fitTimerWasActive = fitTimer->isActive();
    fitTimer->stop();
    disconnect(fitPort, &QSerialPort::readyRead, this, &MainWindow::getFitData);
    // The console's pause keeps its own flag; a tick stopped here is restarted below.
    if (BCAtimer->isActive()) {
        BCAtimer->stop();
        m_bcaPollingPaused = true;
    }
    listenToAnalyzer(false);
}

void MainWindow::resumeInstrumentLinks()
{
    if (!m_linksSuspended)
        return;
    m_linksSuspended = false;
    // Bytes that came meanwhile wait in the port buffers and are read on.
    if (m_bcaPollingPaused) {
        m_bcaPollingPaused = false;
        BCAtimer->start(1000);
    }
    if (m_analyzer->downloading() || m_analyzer->recordWaiting())
        listenToAnalyzer(true);
    if (m_fitTimerWasActive) {
        connect(fitPort, &QSerialPort::readyRead, this, &MainWindow::getFitData, Qt::UniqueConnection);
        fitTimer->start(500);
    }
}
