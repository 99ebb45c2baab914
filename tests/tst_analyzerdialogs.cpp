// The analyzer's dialogs. Protocol test console on a real pseudo-terminal:
// each command writes its frame, answers are gathered until their end mark
// and shown once, decoded, however the reads split them; the window's polling
// rests meanwhile. Batch collection page: record counts from tidChanged, the
// reception state, batch reception switched off however the page is closed.
// The window's state field and icon while the analyzer is silent and after.
#include "analyzer/framecodec.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "dialogs/batchdlg.h"
#include "dialogs/testbcadlg.h"
#include "pty.h"
#include "rowsapart.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {
QByteArray frameOf(quint8 code, const QString &text)
{
    return buildFrame(code, utf16beEncode(text));
}

QByteArray statusFrame(quint8 state)
{
    return buildFrame(0x81, QByteArray("\x0d", 1) + char(state), 0x02);
}

QStringList lines(QPlainTextEdit *view)
{
    return view->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Runs |body| on the batch dialog once its modal loop is up, while batch
// reception must be on; a dialog still open after 10 s is rejected.
void whenBatchDialog(MainWindow &w, const std::function<void(BatchDlg *)> &body)
{
    bool opened = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dlg = qobject_cast<BatchDlg *>(QApplication::activeModalWidget());
        if (!dlg || opened)
            return;
        opened = true;
        QCOMPARE(global::batchSwitch, QStringLiteral("ON"));
        body(dlg);
    });
    poll.start(5);
    QTimer::singleShot(10000, [] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            d->reject();
    });
    w.batchCollect();
    QVERIFY(opened);
    QCOMPARE(global::batchSwitch, QStringLiteral("OFF"));
}
} // namespace

class TestAnalyzerDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandsWriteTheirFrames_data();
    void commandsWriteTheirFrames();
    void answersShowOnceHoweverSplit();
    void pollingRestsWhileTheConsoleIsOpen();
    void batchCountsAndStates();
    void everyWayOfClosingTheBatchPageSwitchesOff_data();
    void everyWayOfClosingTheBatchPageSwitchesOff();
    void silentAnalyzerIsShownUntilItAnswers();
    void vanishedStationIsShown();

private:
    void write(const QByteArray &bytes)
    {
        QCOMPARE(::write(m_pty->master(), bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestPty> m_pty;
};

void TestAnalyzerDialogs::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    m_pty = std::make_unique<TestPty>();
    QVERIFY(openInstrumentPort(BCAport, m_pty->path()));
    global::portFlag = portFlagFor(m_pty->path());
}

void TestAnalyzerDialogs::cleanup()
{
    BCAport->close();
    m_pty.reset();
    releaseProcessState();
}

void TestAnalyzerDialogs::commandsWriteTheirFrames_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("code");
    QTest::newRow("03") << "发模拟个人基本信息" << 0x03;
    QTest::newRow("07") << "接收成分仪节段测试数据" << 0x07;
    QTest::newRow("09") << "接收成分仪阻抗数据" << 0x09;
    QTest::newRow("0D") << "查询下一条记录" << 0x0D;
}

void TestAnalyzerDialogs::commandsWriteTheirFrames()
{
    QFETCH(QString, label);
    QFETCH(int, code);
    testBCADlg dlg;
    dlg.commandList()->setCurrentText(label);
    QCOMPARE(dlg.commandList()->currentText(), label);
    QTest::mouseClick(dlg.sendButton(), Qt::LeftButton);
    const QByteArray expected =
        code == 0x03 ? hexStringtoByteArray(frames::samplePersonInfo) : buildFrame(quint8(code));
    QByteArray got;
    QTRY_COMPARE(got += m_pty->readMaster(10), expected);
    QCOMPARE(lines(dlg.commandView()), QStringList{QString::fromLatin1(expected.toHex(' ').toUpper())});
}

void TestAnalyzerDialogs::answersShowOnceHoweverSplit()
{
    testBCADlg dlg;
    const QByteArray whole = frameOf(0x86, QStringLiteral("1#2016-05-12#63.5#"));
    const QByteArray status = statusFrame(0x01);
    const QByteArray ack = buildFrame(0x8d);
    // An answer in two reads, the next split between its two end-mark bytes.
    write(whole.left(20));
    QTRY_COMPARE(dlg.gatheredBytes(), 20);
    write(whole.mid(20) + status.left(status.size() - 1));
    QTRY_COMPARE(dlg.gatheredBytes(), status.size() - 1);
    write(status.right(1) + statusFrame(0x02) + frameOf(0x85, QStringLiteral("007#Li#2#1990#")) + ack);
    QTRY_COMPARE(lines(dlg.infoView()).size(), 5);
    QCOMPARE(lines(dlg.infoView()),
             (QStringList{"全身成分数据: 1#2016-05-12#63.5#", "体成分仪正常待机", "正在测试中",
                          "个人信息数据: 007#Li#2#1990#", "查询下一条记录"}));
    QCOMPARE(lines(dlg.signalView()).value(0), QString::fromLatin1(whole.toHex()));
    QTest::qWait(100);
    QCOMPARE(lines(dlg.infoView()).size(), 5);
}

void TestAnalyzerDialogs::pollingRestsWhileTheConsoleIsOpen()
{
    MainWindow w;
    w.connectBCA();
    QStringList shown;
    QTimer::singleShot(0, [&] {
        auto *console = qobject_cast<testBCADlg *>(QApplication::activeModalWidget());
        QVERIFY(console);
        m_pty->readMaster(0); // a query of a tick before the console opened
        write(statusFrame(0x05));
        QTRY_COMPARE(lines(console->infoView()).size(), 1);
        QTest::qWait(1500); // more than a polling tick
        shown = lines(console->infoView());
        console->close();
    });
    w.testBCA();
    // The state was shown only: no download command, no status query went out.
    QCOMPARE(shown, QStringList{"测试完毕，有新数据"});
    QCOMPARE(m_pty->readMaster(100), QByteArray());
    w.stopCheckTimer();
}

void TestAnalyzerDialogs::batchCountsAndStates()
{
    MainWindow w;
    global::BCAstate = 1;
    QStringList seen;
    whenBatchDialog(w, [&](BatchDlg *dlg) {
        auto take = [&] {
            seen << dlg->stateLabel()->text() + QLatin1Char('/') + dlg->countLabel()->text() +
                        QLatin1Char('/') + dlg->recordNumberLabel()->text();
        };
        take();
        // Records are saved while the analyzer state is 4.
        global::BCAstate = 4;
        emit w.tidChanged(1);
        emit w.tidChanged(2);
        take();
        // Other state changes leave the text alone.
        global::BCAstate = 1;
        emit w.analyzerStateChanged(1);
        take();
        // No further record: no save follows, the state change alone ends it.
        global::BCAstate = 6;
        emit w.analyzerStateChanged(6);
        take();
        // A late save while the state is 6 keeps "finished" and counts it.
        emit w.tidChanged(3);
        take();
        dlg->reject();
    });
    QCOMPARE(seen, (QStringList{"等待采集/0/0", "数据接收中……/2/2", "数据接收中……/2/2", "数据接收完毕/2/2",
                                "数据接收完毕/3/3"}));
}

void TestAnalyzerDialogs::everyWayOfClosingTheBatchPageSwitchesOff_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("escape") << 0;
    QTest::newRow("reject") << 1;
    QTest::newRow("close button") << 2;
    QTest::newRow("accept") << 3;
}

void TestAnalyzerDialogs::everyWayOfClosingTheBatchPageSwitchesOff()
{
    QFETCH(int, way);
    MainWindow w;
    whenBatchDialog(w, [way](BatchDlg *dlg) {
        if (way == 0)
            QTest::keyClick(dlg, Qt::Key_Escape);
        else if (way == 1)
            dlg->reject();
        else if (way == 2)
            dlg->close(); // what the title-bar button does
        else
            dlg->accept();
    });
    // The dialog is gone and no longer listens.
    emit w.tidChanged(9);
    emit w.analyzerStateChanged(6);
}

void TestAnalyzerDialogs::silentAnalyzerIsShownUntilItAnswers()
{
    const auto icon = [](MainWindow &w) { return w.stateIcon()->pixmap(Qt::ReturnByValue).toImage(); };
    const QImage error = QPixmap(QStringLiteral(":/image/Error.png")).toImage();
    MainWindow w;
    global::BCAstate = 2; // it was measuring when it fell silent
    w.connectBCA();
    write(statusFrame(0x02));
    QTRY_COMPARE(w.stateEdit()->text(), QStringLiteral("正在测试中"));
    QVERIFY(icon(w) != error);
    // Queries every second, no answer: after 5 s the field says so, and the
    // per-state texts of the ticks do not cover it.
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), QStringLiteral("仪器无响应（体成分仪）"), 8000);
    QCOMPARE(icon(w), error);
    QTest::qWait(1100);
    QCOMPARE(w.stateEdit()->text(), QStringLiteral("仪器无响应（体成分仪）"));
    write(statusFrame(0x01));
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), QStringLiteral("体成分仪正常待机"), 3000);
    QVERIFY(icon(w) != error);
    w.stopCheckTimer();
}

// A station answers only when it holds a result; its loss shows as the port
// failing (the device end of the line gone), which closes it.
void TestAnalyzerDialogs::vanishedStationIsShown()
{
    auto station = std::make_unique<TestPty>();
    QVERIFY(openInstrumentPort(fitPort, station->path()));
    MainWindow w;
    w.connectBCA();
    write(statusFrame(0x01));
    QTRY_COMPARE(w.stateEdit()->text(), QStringLiteral("体成分仪正常待机"));
    station.reset();
    QTRY_COMPARE(w.stateEdit()->text(),
                 QStringLiteral("仪器无响应（体测仪）：串口已断开，请检查连接后重新打开串口"));
    QCOMPARE(w.stateIcon()->pixmap(Qt::ReturnByValue).toImage(),
             QPixmap(QStringLiteral(":/image/Error.png")).toImage());
    // The failed port is closed (it would report at every read) and counts as closed.
    QTRY_VERIFY(!fitPort->isOpen());
    QCOMPARE(global::fitPortFlag, QStringLiteral("0"));
    w.stopCheckTimer();
}

QUELMAR_TEST_MAIN_ROWS_APART(TestAnalyzerDialogs)
#include "tst_analyzerdialogs.moc"
