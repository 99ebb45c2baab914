// Settings dialog: unit data, sheet style, and opening/closing real ports.
#include "app/serialports.h"
#include "dialogs/configdlg.h"
#include "pty.h"
#include "testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestConfigDlg : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newDialogShowsPortState();
    void bothPortsFromOneList();
    void failedOpenLeavesPortClosed();
    void flagRule();
    void closingWithNothingOpen();
    void sheetSelectWritesEveryRow();
    void unitDataIsStored();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestConfigDlg::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
}

void TestConfigDlg::cleanup()
{
    BCAport->close();
    fitPort->close();
    releaseProcessState();
}

void TestConfigDlg::newDialogShowsPortState()
{
    {
        configDlg dlg;
        QCOMPARE(dlg.statusLabel()->text(), QStringLiteral("<font color='red'>未打开</font>"));
        QVERIFY(dlg.scanButton()->isEnabled() && dlg.openButton()->isEnabled());
        QVERIFY(dlg.fitOpenButton()->isEnabled() && dlg.closeButton()->isEnabled());
        QVERIFY(dlg.portList()->isEditable());
        QCOMPARE(dlg.reportList()->count(), 6);
        QCOMPARE(dlg.reportList()->currentText(), QStringLiteral("TQ-40"));
        QCOMPARE(dlg.unitIdEdit()->text(), QStringLiteral("U0001"));
    }
    global::portFlag = QStringLiteral("3");
    configDlg dlg;
    QCOMPARE(dlg.statusLabel()->text(), QStringLiteral("串口已打开"));
    QVERIFY(!dlg.openButton()->isEnabled());
    QVERIFY(dlg.fitOpenButton()->isEnabled());
}

void TestConfigDlg::bothPortsFromOneList()
{
    TestPty analyzer, station;
    QVERIFY(analyzer.isValid() && station.isValid());
    configDlg dlg;
    dlg.portList()->setEditText(analyzer.path());
    dlg.portOpen();
    QVERIFY(BCAport->isOpen());
    QVERIFY(analyzer.path().endsWith(BCAport->portName()));
    QCOMPARE(global::portFlag, portFlagFor(analyzer.path()));
    QVERIFY(!dlg.openButton()->isEnabled());
    QCOMPARE(dlg.statusLabel()->text(), analyzer.path() + QStringLiteral("串口已打开"));

    dlg.portList()->setEditText(station.path());
    dlg.fitPortOpen();
    QVERIFY(fitPort->isOpen());
    QVERIFY(station.path().endsWith(fitPort->portName()));
    QCOMPARE(fitPort->baudRate(), 9600);
    QCOMPARE(fitPort->dataBits(), QSerialPort::Data8);
    QVERIFY(!dlg.fitOpenButton()->isEnabled());

    // Bytes really travel through the opened port.
    BCAport->write("\xaa\xbb", 2);
    QVERIFY(BCAport->waitForBytesWritten(1000));
    QCOMPARE(analyzer.readMaster(), QByteArray("\xaa\xbb", 2));
}

void TestConfigDlg::failedOpenLeavesPortClosed()
{
    configDlg dlg;
    dlg.portList()->setEditText(QStringLiteral("/dev/does-not-exist"));
    dlg.portOpen();
    QVERIFY(!BCAport->isOpen());
    QCOMPARE(global::portFlag, QStringLiteral("0"));
    QVERIFY(dlg.openButton()->isEnabled());
    QVERIFY(dlg.statusLabel()->text().contains(QStringLiteral("color='red'")));
    QVERIFY(dlg.statusLabel()->text().contains(QStringLiteral("/dev/does-not-exist")));
    QVERIFY(dlg.statusLabel()->text().contains(QStringLiteral("失败")));

    dlg.portList()->setEditText(QString());
    dlg.fitPortOpen();
    QCOMPARE(global::fitPortFlag, QStringLiteral("0"));
    QVERIFY(dlg.fitOpenButton()->isEnabled());
}

void TestConfigDlg::flagRule()
{
    QCOMPARE(portFlagFor(QStringLiteral("COM3")), QStringLiteral("3"));
    QCOMPARE(portFlagFor(QStringLiteral("COM10")), QStringLiteral("COM10"));
    QCOMPARE(portFlagFor(QStringLiteral("/dev/ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(portFlagFor(QStringLiteral("/dev/pts/7")), QStringLiteral("7"));
}

void TestConfigDlg::closingWithNothingOpen()
{
    global::portFlag = QStringLiteral("5");
    global::fitPortFlag = QStringLiteral("6");
    configDlg dlg;
    QSignalSpy stop(&dlg, &configDlg::stopTimer);
    dlg.portClose();
    QCOMPARE(stop.count(), 1);
    QCOMPARE(global::portFlag, QStringLiteral("0"));
    QCOMPARE(global::fitPortFlag, QStringLiteral("0"));
    QCOMPARE(dlg.statusLabel()->text(), QStringLiteral("<font color='red'>串口已关闭</font>"));
    QVERIFY(!dlg.openButton()->isEnabled() && !dlg.closeButton()->isEnabled());
    QVERIFY(dlg.scanButton()->isEnabled());
    QVERIFY(!dlg.fitOpenButton()->isEnabled()); // kept from construction (flag was set)
}

void TestConfigDlg::sheetSelectWritesEveryRow()
{
    configDlg dlg;
    dlg.reportList()->setCurrentText(QStringLiteral("水分报告"));
    dlg.sheetSelect();
    QCOMPARE(global::sheetTag, QStringLiteral("水分报告"));
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT count(*) FROM Report WHERE Selected = '水分报告'"))
                 .toInt(),
             6);
    configDlg again;
    QCOMPARE(again.reportList()->currentText(), QStringLiteral("水分报告"));
}

void TestConfigDlg::unitDataIsStored()
{
    configDlg dlg;
    dlg.unitNameEdit()->setText(QStringLiteral("市体育中心"));
    dlg.unitPhoneEdit()->setText(QStringLiteral("0571-8888"));
    QString boxText;
    QTimer::singleShot(0, [&boxText] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxText = box->text();
            box->accept();
        }
    });
    dlg.modifyUnit();
    QCOMPARE(boxText, QStringLiteral("单位信息修改成功！"));
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT UnitName FROM Unit")).toString(),
             QStringLiteral("市体育中心"));
    QCOMPARE(dlg.unitPhoneEdit()->text(), QStringLiteral("0571-8888"));
}

QTEST_MAIN(TestConfigDlg)
#include "tst_configdlg.moc"
