// Command-line options: parsing, and opening ports at start like the settings dialog.
#include "app/startup.h"
#include "pty.h"
#include "testsupport.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void parsing();
    void portsOpenWithTheDialogsSettings();
};

void TestStartup::parsing()
{
    const StartOptions none = parseStartOptions({QStringLiteral("quelmar")});
    QVERIFY(none.error.isEmpty());
    QVERIFY(none.analyzerPort.isEmpty() && none.stationPort.isEmpty());
    QVERIFY(!none.connect && !none.batch && !none.demo && !none.help);

    const StartOptions all = parseStartOptions(
        {"quelmar", "--analyzer-port", "/dev/pts/3", "--station-port=/dev/pts/4", "--connect", "--batch"});
    QVERIFY(all.error.isEmpty());
    QCOMPARE(all.analyzerPort, QStringLiteral("/dev/pts/3"));
    QCOMPARE(all.stationPort, QStringLiteral("/dev/pts/4"));
    QVERIFY(all.connect && all.batch && !all.demo);

    QVERIFY(!parseStartOptions({"quelmar", "--analyzer-port"}).error.isEmpty());
    QVERIFY(!parseStartOptions({"quelmar", "--no-such-thing"}).error.isEmpty());
    QVERIFY(!parseStartOptions({"quelmar", "stray"}).error.isEmpty());
    QVERIFY(parseStartOptions({"quelmar", "--demo"}).demo);
}

void TestStartup::portsOpenWithTheDialogsSettings()
{
    QTemporaryDir dir;
    QVERIFY(testsupport::startProcessOn(dir.filePath(QStringLiteral("maindb.db"))));
    TestPty analyzer;
    QVERIFY(analyzer.isValid());
    StartOptions options;
    options.analyzerPort = analyzer.path();
    options.stationPort = QStringLiteral("/dev/no-station-here");
    const QStringList problems = openStartPorts(options);
    QVERIFY(BCAport->isOpen());
    QCOMPARE(BCAport->baudRate(), 9600);
    QCOMPARE(BCAport->parity(), QSerialPort::NoParity);
    QCOMPARE(BCAport->stopBits(), QSerialPort::OneStop);
    QCOMPARE(BCAport->flowControl(), QSerialPort::NoFlowControl);
    QCOMPARE(BCAport->readBufferSize(), 1024);
    QCOMPARE(global::portFlag, analyzer.path().right(1) == "0" ? analyzer.path() : analyzer.path().right(1));
    QVERIFY(!fitPort->isOpen());
    QCOMPARE(global::fitPortFlag, QStringLiteral("0"));
    QCOMPARE(problems.size(), 1);
    QVERIFY(problems.first().contains(QStringLiteral("/dev/no-station-here")));
    BCAport->close();
    releaseProcessState();
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
