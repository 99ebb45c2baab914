// Protocol test console: each command button writes its frame to a real
// pseudo-terminal, answers are gathered until their end mark and shown once,
// decoded, however the reads split them.
#include "analyzer/consoleanswers.h"
#include "analyzer/framecodec.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "dialogs/testbcadlg.h"
#include "pty.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
// Waits until |n| bytes arrived at the master side (or 2 s passed).
QByteArray readMasterBytes(TestPty &pty, int n)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < n && clock.elapsed() < 2000) {
        QCoreApplication::processEvents();
        out += pty.readMaster(50);
    }
    return out;
}

void writeMaster(TestPty &pty, const QByteArray &bytes)
{
    QCOMPARE(::write(pty.master(), bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

QByteArray frameOf(quint8 code, const QString &text)
{
    return buildFrame(code, utf16beEncode(text));
}

QByteArray statusFrame(quint8 state, quint8 model = 0x02)
{
    return buildFrame(0x81, QByteArray("\x0d", 1) + char(state), model);
}

QStringList lines(QPlainTextEdit *view)
{
    const QString text = view->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}
} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Widget-free parts.
    void gathererSplitsAndBounds();

    // The dialog on a real port.
    void commandButtonsWriteTheirFrames();
    void answerInTwoReadsShowsOnce();
    void framesSharingAReadShowEach();
    void recordsAreKeptAndDataFlagSet();
    void consoleFromTheMainWindow();

private:
    bool openConsolePort();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestPty> m_pty;
};

void TestConsole::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    m_pty = std::make_unique<TestPty>();
    QVERIFY(m_pty->isValid());
}

void TestConsole::cleanup()
{
    BCAport->close();
    fitPort->close();
    m_pty.reset();
    releaseProcessState();
}

bool TestConsole::openConsolePort()
{
    QString error;
    if (!openInstrumentPort(BCAport, m_pty->path(), &error)) {
        qWarning() << error;
        return false;
    }
    global::portFlag = portFlagFor(m_pty->path());
    return true;
}

void TestConsole::gathererSplitsAndBounds()
{
    const QByteArray a = statusFrame(0x01);
    const QByteArray b = frameOf(0x86, QStringLiteral("1#2#"));
    AnswerGatherer gatherer;

    // End mark split between two reads.
    QVERIFY(gatherer.feed(a.left(a.size() - 1)).isEmpty());
    QCOMPARE(gatherer.feed(a.right(1)), QList<QByteArray>{a});
    QVERIFY(gatherer.pending().isEmpty());

    // Two frames and the head of a third in one read.
    QCOMPARE(gatherer.feed(a + b + b.left(5)), (QList<QByteArray>{a, b}));
    QCOMPARE(gatherer.pending(), b.left(5));
    QCOMPARE(gatherer.feed(b.mid(5)), QList<QByteArray>{b});

    // Noise without an end mark is bounded; the answer after it still comes through.
    AnswerGatherer small(1024);
    for (int i = 0; i < 100; ++i) {
        QVERIFY(small.feed(QByteArray(100, '\x11')).isEmpty());
        QVERIFY(small.pending().size() <= 1024);
    }
    QVERIFY(small.droppedBytes() >= 100 * 100 - 1024);
    const QList<QByteArray> after = small.feed(b);
    QCOMPARE(after.size(), 1);
    QVERIFY(after.at(0).endsWith(b));
    QCOMPARE(interpretConsoleAnswer(after.at(0).toHex()).record, QByteArray("1#2#"));

    // A start mark inside the noise keeps the answer that begins there.
    const QByteArray c = frameOf(0x86, QStringLiteral("1#2016-05-12#63.5#"));
    AnswerGatherer resync(1024);
    resync.feed(QByteArray(1000, '\x11'));
    resync.feed(c.left(30));
    QCOMPARE(resync.pending(), c.left(30));
    QCOMPARE(resync.feed(c.mid(30)), QList<QByteArray>{c});
}

void TestConsole::commandButtonsWriteTheirFrames()
{
    QVERIFY(openConsolePort());
    testBCADlg dlg;
    QCOMPARE(dlg.portStateEdit()->text(), QStringLiteral("串口已打开"));
    QCOMPARE(dlg.commandList()->count(), 10);

    const QStringList expected = {
        QStringLiteral("AA BB 01 21 00 00 00 00 0C 2E CC DD"),
        QStringLiteral("AA BB 02 21 00 00 00 00 0C 2F CC DD"),
        QStringLiteral(
            "AA BB 03 21 00 00 00 00 36 00 30 00 23 00 2A 00 23 00 30 00 23 00 31 00 39 00 39 00 30 "
            "00 23 00 32 00 36 00 23 00 32 00 36 00 23 00 31 00 37 00 30 00 23 14 CC DD"),
        QStringLiteral("AA BB 04 21 00 00 00 00 0C 31 CC DD"),
        QStringLiteral("AA BB 05 21 00 00 00 00 0C 32 CC DD"),
        QStringLiteral("AA BB 06 21 00 00 00 00 0C 33 CC DD"),
        QStringLiteral("AA BB 07 21 00 00 00 00 0C 34 CC DD"),
        QStringLiteral("AA BB 09 21 00 00 00 00 0C 36 CC DD"),
        QStringLiteral("AA BB 0C 21 00 00 00 00 0C 39 CC DD"),
        QStringLiteral("AA BB 0D 21 00 00 00 00 0C 3A CC DD"),
    };
    const QStringList labels = {
        QStringLiteral("查询仪器状态"),
        QStringLiteral("PC主控开始"),
        QStringLiteral("发模拟个人基本信息"),
        QStringLiteral("开始测试"),
        QStringLiteral("接收成分仪个人基本信息"),
        QStringLiteral("接收成分仪全身测试数据"),
        QStringLiteral("接收成分仪节段测试数据"),
        QStringLiteral("接收成分仪阻抗数据"),
        QStringLiteral("取消PC主控"),
        QStringLiteral("查询下一条记录"),
    };
    for (int i = 0; i < expected.size(); ++i) {
        dlg.commandList()->setCurrentIndex(i);
        QCOMPARE(dlg.commandList()->currentText(), labels.at(i));
        QTest::mouseClick(dlg.sendButton(), Qt::LeftButton);
        const QByteArray bytes = hexStringtoByteArray(expected.at(i));
        QCOMPARE(readMasterBytes(*m_pty, bytes.size()), bytes);
        QCOMPARE(lines(dlg.commandView()).last(), expected.at(i));
    }
    QCOMPARE(lines(dlg.commandView()).size(), 10);
    // Nothing more went out, and no valid index writes nothing.
    dlg.commandList()->setCurrentIndex(-1);
    dlg.sendCommand();
    QCOMPARE(m_pty->readMaster(200), QByteArray());
    QCOMPARE(lines(dlg.commandView()).size(), 10);
}

void TestConsole::answerInTwoReadsShowsOnce()
{
    QVERIFY(openConsolePort());
    testBCADlg dlg;
    const QByteArray answer = frameOf(0x86, QStringLiteral("1#2016-05-12#63.5#"));

    writeMaster(*m_pty, answer.left(20));
    QTRY_COMPARE(dlg.gatheredBytes(), 20);
    QVERIFY(dlg.signalView()->toPlainText().isEmpty());
    QVERIFY(dlg.infoView()->toPlainText().isEmpty());

    writeMaster(*m_pty, answer.mid(20));
    QTRY_COMPARE(lines(dlg.infoView()).size(), 1);
    QCOMPARE(lines(dlg.signalView()), QStringList{QString::fromLatin1(answer.toHex())});
    QCOMPARE(lines(dlg.infoView()), QStringList{QStringLiteral("全身成分数据: 1#2016-05-12#63.5#")});
    QCOMPARE(dlg.gatheredBytes(), 0);

    // The split falls between the two end-mark bytes.
    const QByteArray status = statusFrame(0x01);
    writeMaster(*m_pty, status.left(status.size() - 1));
    QTRY_COMPARE(dlg.gatheredBytes(), status.size() - 1);
    writeMaster(*m_pty, status.right(1));
    QTRY_COMPARE(lines(dlg.infoView()).size(), 2);
    QCOMPARE(lines(dlg.infoView()).last(), QStringLiteral("体成分仪正常待机"));
    QTest::qWait(100);
    QCOMPARE(lines(dlg.infoView()).size(), 2);
}

void TestConsole::framesSharingAReadShowEach()
{
    QVERIFY(openConsolePort());
    testBCADlg dlg;
    const QByteArray ack = buildFrame(0x8d);
    const QByteArray record = frameOf(0x85, QStringLiteral("007#Li#2#1990#"));
    // A status answer before a data answer, and a second answer's head, in one write.
    writeMaster(*m_pty, statusFrame(0x02) + record + ack.left(4));
    QTRY_COMPARE(lines(dlg.infoView()).size(), 2);
    QCOMPARE(lines(dlg.infoView()),
             (QStringList{QStringLiteral("正在测试中"), QStringLiteral("个人信息数据: 007#Li#2#1990#")}));
    QCOMPARE(dlg.gatheredBytes(), 4);
    writeMaster(*m_pty, ack.mid(4));
    QTRY_COMPARE(lines(dlg.infoView()).size(), 3);
    QCOMPARE(lines(dlg.infoView()).last(), QStringLiteral("查询下一条记录"));
    QCOMPARE(lines(dlg.signalView()).size(), 3);
    QCOMPARE(lines(dlg.signalView()).last(), QString::fromLatin1(ack.toHex()));
}

void TestConsole::recordsAreKeptAndDataFlagSet()
{
    QVERIFY(openConsolePort());
    testBCADlg dlg;
    global::dataFlag = 0;
    writeMaster(*m_pty, frameOf(0x85, QStringLiteral("A12#Wang#1#1980#")));
    QTRY_COMPARE(global::dataFlag, 1);
    QCOMPARE(dlg.lastPersonData(), QByteArray("A12#Wang#1#1980#"));
    writeMaster(*m_pty, frameOf(0x86, QStringLiteral("1#2020-01-02#70.1#")));
    QTRY_COMPARE(global::dataFlag, 2);
    writeMaster(*m_pty, frameOf(0x87, QStringLiteral("3#4#")));
    QTRY_COMPARE(global::dataFlag, 3);
    QCOMPARE(dlg.lastSegData(), QByteArray("3#4#"));
    // The impedance record is shown and kept, but leaves the progress flag alone.
    writeMaster(*m_pty, frameOf(0x89, QStringLiteral("5#6#")));
    QTRY_COMPARE(dlg.lastImpData(), QByteArray("5#6#"));
    QCOMPARE(global::dataFlag, 3);
    QCOMPARE(dlg.lastWholeData(), QByteArray("1#2020-01-02#70.1#"));
    QCOMPARE(lines(dlg.infoView()).size(), 4);
    // The console answers nothing by itself.
    QCOMPARE(m_pty->readMaster(200), QByteArray());
}

void TestConsole::consoleFromTheMainWindow()
{
    QVERIFY(openConsolePort());
    MainWindow w;
    bool seen = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, [&] {
        auto *console = qobject_cast<testBCADlg *>(QApplication::activeModalWidget());
        if (!console || !console->isVisible())
            return;
        if (!seen) {
            seen = true;
            QCOMPARE(console->windowTitle(), QStringLiteral("体成分仪通讯协议测试"));
            QCOMPARE(console->size(), QSize(800, 500));
            QVERIFY(console->parent() == nullptr);
            writeMaster(*m_pty, statusFrame(0x05));
        }
        if (lines(console->infoView()).size() == 1) {
            QCOMPARE(lines(console->infoView()).first(), QStringLiteral("测试完毕，有新数据"));
            console->close();
        }
    });
    QTimer::singleShot(10000, [] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            d->reject();
    });
    poll.start();
    w.testBCA();
    poll.stop();
    QVERIFY(seen);
    // The state code was shown only, never followed by a command.
    QCOMPARE(m_pty->readMaster(200), QByteArray());
}

QTEST_MAIN(TestConsole)
#include "tst_testbcadlg.moc"
