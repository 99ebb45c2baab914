// Batch collection page: record counts from tidChanged, the reception state
// (finished as soon as the analyzer reports no further record), and batch
// reception switched off however the dialog is closed.
#include "app/mainwindow.h"
#include "dialogs/batchdlg.h"
#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {
// Runs |body| on the batch dialog once its modal loop is up; a dialog still
// open after 10 s is rejected so that a failing test cannot hang.
void whenBatchDialog(std::function<void(BatchDlg *)> body)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, [timer, started, body] {
        auto *dlg = qobject_cast<BatchDlg *>(QApplication::activeModalWidget());
        if (dlg && dlg->isVisible()) {
            timer->deleteLater();
            timer->stop();
            body(dlg);
            return;
        }
        if (started->elapsed() > 10000) {
            timer->deleteLater();
            timer->stop();
        }
    });
    timer->start();
}

struct Seen
{
    bool opened = false;
    QString switchWhileOpen;
    QStringList states;
    QStringList numbers;
    QStringList counts;
    QString stateStyle;

    void take(BatchDlg *dlg)
    {
        states << dlg->stateLabel()->text();
        numbers << dlg->recordNumberLabel()->text();
        counts << dlg->countLabel()->text();
        stateStyle = dlg->stateLabel()->styleSheet();
    }
};
} // namespace

class TestBatchDlg : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void countsAndStates();
    void endOfBatchShowsAtOnce();
    void everyWayOfClosingSwitchesOff_data();
    void everyWayOfClosingSwitchesOff();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBatchDlg::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
}

void TestBatchDlg::cleanup()
{
    releaseProcessState();
}

void TestBatchDlg::countsAndStates()
{
    MainWindow w;
    Seen seen;
    global::BCAstate = 1;
    whenBatchDialog([&](BatchDlg *dlg) {
        seen.opened = true;
        seen.switchWhileOpen = global::batchSwitch;
        seen.take(dlg);
        QCOMPARE(dlg->windowTitle(), QStringLiteral("体成分测量-批量数据采集"));
        QCOMPARE(dlg->size(), QSize(500, 300));
        // Records are saved while the analyzer state is 4.
        global::BCAstate = 4;
        emit w.tidChanged(1);
        seen.take(dlg);
        emit w.tidChanged(2);
        emit w.tidChanged(3);
        seen.take(dlg);
        dlg->close();
    });
    w.batchCollect();
    QVERIFY(seen.opened);
    QCOMPARE(seen.switchWhileOpen, QStringLiteral("ON"));
    QCOMPARE(seen.states, (QStringList{QStringLiteral("等待采集"), QStringLiteral("数据接收中……"),
                                       QStringLiteral("数据接收中……")}));
    QCOMPARE(seen.numbers, (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("3")}));
    QCOMPARE(seen.counts, seen.numbers);
    QCOMPARE(seen.stateStyle, QStringLiteral("color:'red';"));
    QCOMPARE(global::batchSwitch, QStringLiteral("OFF"));
}

void TestBatchDlg::endOfBatchShowsAtOnce()
{
    MainWindow w;
    Seen seen;
    whenBatchDialog([&](BatchDlg *dlg) {
        seen.opened = true;
        global::BCAstate = 4;
        emit w.tidChanged(2);
        seen.take(dlg);
        // Other state changes leave the text alone.
        global::BCAstate = 1;
        emit w.analyzerStateChanged(1);
        seen.take(dlg);
        // No further record: no save follows, the state change alone ends it.
        global::BCAstate = 6;
        emit w.analyzerStateChanged(6);
        seen.take(dlg);
        QCOMPARE(dlg->stateLabel()->styleSheet(), QStringLiteral("color:'black';"));
        // A late save while the state is 6 keeps "finished" and counts it.
        emit w.tidChanged(3);
        seen.take(dlg);
        dlg->reject();
    });
    w.batchCollect();
    QVERIFY(seen.opened);
    QCOMPARE(seen.states, (QStringList{QStringLiteral("数据接收中……"), QStringLiteral("数据接收中……"),
                                       QStringLiteral("数据接收完毕"), QStringLiteral("数据接收完毕")}));
    QCOMPARE(seen.counts, (QStringList{QStringLiteral("2"), QStringLiteral("2"), QStringLiteral("2"),
                                       QStringLiteral("3")}));
}

void TestBatchDlg::everyWayOfClosingSwitchesOff_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("escape") << 0;
    QTest::newRow("reject") << 1;
    QTest::newRow("close button") << 2;
    QTest::newRow("accept") << 3;
}

void TestBatchDlg::everyWayOfClosingSwitchesOff()
{
    QFETCH(int, way);
    MainWindow w;
    bool opened = false;
    QString whileOpen;
    whenBatchDialog([&](BatchDlg *dlg) {
        opened = true;
        whileOpen = global::batchSwitch;
        switch (way) {
        case 0:
            QTest::keyClick(dlg, Qt::Key_Escape);
            break;
        case 1:
            dlg->reject();
            break;
        case 2:
            dlg->close(); // what the title-bar button does
            break;
        default:
            dlg->accept();
            break;
        }
    });
    w.batchCollect();
    QVERIFY(opened);
    QCOMPARE(whileOpen, QStringLiteral("ON"));
    QCOMPARE(global::batchSwitch, QStringLiteral("OFF"));
    // The dialog is gone and no longer listens.
    emit w.tidChanged(9);
    emit w.analyzerStateChanged(6);
}

QTEST_MAIN(TestBatchDlg)
#include "tst_batchdlg.moc"
