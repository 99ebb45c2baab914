// The fitness link from end to end: a real QSerialPort on the station
// simulator's pseudo-terminal at 9600 baud pacing, the main window's poll
// driven every 200 ms. Every result the simulator saw acknowledged must be in
// ResultFIT as sent, one row per person and day; nothing else may be.
#include "rowsapart.h"
#include "simprocess.h"

class TestFitnessE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void acknowledgedResultsStored_data();
    void acknowledgedResultsStored();
};

void TestFitnessE2E::acknowledgedResultsStored_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("lost");
    // Terminals 0 to 10 in one poll cycle, one byte per read: the "3" bytes
    // inside result texts are text, not ready answers. Grip comes in newtons.
    QTest::newRow("one-byte reads") << QStringList{"0 1003 03 3333 FHL 3333", "3 O'1 06 490 WOLI 50",
                                                   "5 3 07 33.3 ZT 33.3", "7 9009 05 -5.2 TQQ -5.2",
                                                   "10 1003 14 33 YWQZ 33"}
                                    << "--chunk 1:1" << 0;
    // Noise in front of every result text, results over several reads; the
    // second result stalls after 10 bytes and is lost, the polling goes on.
    // Sixteen-character user numbers: noise and the number's first bytes
    // together fill 27 bytes without a blank, which is no result yet.
    QTest::newRow("noise and a stalled result")
        << QStringList{"1 3201011990123456 01 180.2 Height 180.2", "2 9009 09 18 FWC 18",
                       "4 4401019991231234 15 199 TY 199", "6 5101012000000077 12 512 FYS 512",
                       "8 6101011985432109 14 41 YWQZ 41"}
        << "--chunk 1:6 --garbage 1:result --stall 2" << 1;
}

void TestFitnessE2E::acknowledgedResultsStored()
{
    QFETCH(QStringList, script);
    QFETCH(QString, args);
    QFETCH(int, lost);
    Road road;
    QVERIFY(road.ok);
    road.station(script, args.split(QLatin1Char(' ')), script.size() - lost);
    QCOMPARE(g_log.filter(QStringLiteral("reception timed out")).size(), lost);
    if (lost) // the noise was dropped in front of the results
        QVERIFY(g_log.filter(QStringLiteral("dropped noise before the result")).size() >= 2);
}

QUELMAR_TEST_MAIN_ROWS_APART(TestFitnessE2E)
#include "tst_fitness_e2e.moc"
