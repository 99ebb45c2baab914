// Never losing a measurement, from end to end over the simulators' lines: a
// database locked by another program for longer than the busy time-out, an
// acknowledgement the analyzer misses, and a person import running while
// records arrive. Nothing is acknowledged before it is stored, nothing is
// stored twice, and the window keeps ticking.
#include "rowsapart.h"
#include "simprocess.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

class TestNeverLoseE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void lost0DStoresNoDuplicate();
    void lockedDatabaseLosesNoRecordAndKeepsTicking();
    void lockedDatabaseDelaysTheStationAcknowledgement();
    void importTransactionTakesInNoMeasurement();
};

void TestNeverLoseE2E::lost0DStoresNoDuplicate()
{
    // The analyzer misses the first 0D and offers the stored record again.
    Road road;
    QVERIFY(road.ok);
    road.analyzer({"--batch", "2", "--fast", "--lose-command", "0d:1"}, 2);
    QVERIFY(road.notes.contains(QStringLiteral("lost on the line")));
}

void TestNeverLoseE2E::lockedDatabaseLosesNoRecordAndKeepsTicking()
{
    Road road;
    QVERIFY(road.ok);
    // Persons 1 and 2 are registered: a lookup that fails must not store "-".
    QVERIFY(testsupport::addPerson(QStringLiteral("1"), QStringLiteral("赵一"), QStringLiteral("1"), 1990));
    QVERIFY(testsupport::addPerson(QStringLiteral("2"), QStringLiteral("钱二"), QStringLiteral("2"), 1991));
    OtherProgram other(road.path("maindb.db"));
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer beat;
    connect(&beat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    bool warned = false;
    int deliveredWhileLocked = -1;
    road.analyzer({"--batch", "3", "--fast"}, 3, [&](MainWindow &w) {
        // Another program holds the file locked for 2.5 s (eight busy time-outs)
        // from the first tick on; the window's events keep flowing throughout.
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        clock.start();
        beat.start(50);
        QTest::qWait(2500);
        // The first record waits with a lasting warning, no 0D.
        warned = !w.storeWarning().isEmpty();
        deliveredWhileLocked = road.delivered();
        QVERIFY(other.exec(QStringLiteral("COMMIT")));
        QTRY_VERIFY_WITH_TIMEOUT(w.storeWarning().isEmpty(), 3000);
    });
    QVERIFY(warned);
    QCOMPARE(deliveredWhileLocked, 0);
    QVERIFY2(longestGap < 1500, qPrintable(QString::number(longestGap)));
}

void TestNeverLoseE2E::lockedDatabaseDelaysTheStationAcknowledgement()
{
    Road road;
    QVERIFY(road.ok);
    OtherProgram other(road.path("maindb.db"));
    bool warned = false;
    int deliveredWhileLocked = -1;
    road.station({"0 1001 01 172.5 Height 172.5", "1 1002 09 25 FWC 25"}, {"--fast"}, 2, [&](MainWindow &w) {
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QTest::qWait(2500);
        warned = !w.storeWarning().isEmpty();
        deliveredWhileLocked = road.delivered();
        QVERIFY(other.exec(QStringLiteral("COMMIT")));
    });
    QVERIFY(warned);
    QCOMPARE(deliveredWhileLocked, 0);
    QVERIFY(!g_log.filter(QStringLiteral("not acknowledged")).isEmpty());
}

void TestNeverLoseE2E::importTransactionTakesInNoMeasurement()
{
    Road road;
    QVERIFY(road.ok);
    // A class list long enough that records keep arriving while it is imported.
    QFile csv(road.path("people.csv"));
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("UUID,UID,Name,Sex,BirthYear,Height\n");
    for (int i = 0; i < 100000; ++i)
        csv.write(QStringLiteral("U,P%1,N%1,1,1990,170\n").arg(i).toUtf8());
    csv.close();
    road.analyzer({"--batch", "40", "--fast"}, 40, [&](MainWindow &w) {
        QSignalSpy saved(&w, &MainWindow::tidChanged);
        QTRY_VERIFY_WITH_TIMEOUT(saved.count() > 0, 5000);
        QTimer closer;
        connect(&closer, &QTimer::timeout, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->accept();
        });
        closer.start(100);
        g_log.clear();
        w.presetImportFile(csv.fileName());
        w.usersImport();
        QVERIFY(road.delivered() < 40); // records were waiting meanwhile
        const int begin = g_log.indexOf(QStringLiteral("usersImport function"));
        int end = begin;
        while (end < g_log.size() && !g_log.at(end).startsWith(QStringLiteral("import summary:")))
            ++end;
        QVERIFY(begin >= 0 && end < g_log.size());
        for (int i = begin; i < end; ++i)
            QVERIFY2(!g_log.at(i).contains(QStringLiteral("测试数据已插入")), "stored during the import");
    });
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT count(*) FROM Person")).toInt(), 100000);
}

QUELMAR_TEST_MAIN_ROWS_APART(TestNeverLoseE2E)
#include "tst_neverlose_e2e.moc"
