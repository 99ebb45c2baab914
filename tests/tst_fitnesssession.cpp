// Fitness station dialogue without a port: value conversion per item code,
// splitting, the poll cycle, reception, duplicates, the reception time-out
// and resynchronisation after line noise.
#include "fitness/fitnesssession.h"

#include "testsupport.h"

#include <QtTest>

namespace {
bool logged(const QString &part)
{
    for (const QString &line : qAsConst(g_log)) {
        if (line.contains(part))
            return true;
    }
    return false;
}

// "<uid padded to 16> <terminal> <item code><value, 5 characters>", 27 bytes.
QByteArray resultText(const QByteArray &uid, int terminal, const QByteArray &field)
{
    return uid.leftJustified(16, ' ') + ' ' + QByteArray::number(terminal).rightJustified(2, '0') + ' ' +
           field;
}

QByteArray cmd(int terminal, char code)
{
    return QByteArray(1, char(0x80 + terminal)) + code;
}

// Polls until terminal |terminal| was queried; returns the session time used.
void pollTo(fitness::FitnessSession &s, int terminal, qint64 &now)
{
    for (int i = 0; i < 24; ++i) {
        now += 500;
        if (s.tick(now).write == cmd(terminal, fitness::kQuery))
            return;
    }
    QFAIL("terminal never queried");
}
} // namespace

class TestFitnessSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init() { g_log.clear(); }

    void conversion_data();
    void conversion();
    void unknownCodesConvertNothing();
    void splitting_data();
    void splitting();
    void pollCycle();
    void resultOverSeveralReads();
    void oneFieldResultCompletesAt27Bytes();
    void duplicateIsAcknowledgedNotReturned();
    void stalledReceptionTimesOut();
    void noiseInFrontOfResultIsDropped();
    void noisyLineIsCappedAndResynced();
};

void TestFitnessSession::conversion_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("grip 490 N") << "06"
                                << "490" << QVariant(50.0);
    QTest::newRow("grip 500 N") << "06"
                                << "500" << QVariant(51.0);
    QTest::newRow("grip 257 N") << "06"
                                << "257" << QVariant(26.2);
    QTest::newRow("grip empty") << "06"
                                << "" << QVariant(0.0);
    QTest::newRow("height") << "01"
                            << "171.3" << QVariant(171.3);
    QTest::newRow("weight") << "02"
                            << "65.5" << QVariant(65.5);
    QTest::newRow("vital capacity") << "03"
                                    << "3600" << QVariant(3600);
    QTest::newRow("step index") << "04"
                                << "56.2" << QVariant(56.2);
    QTest::newRow("sit-and-reach negative") << "05"
                                            << "-5.2" << QVariant(-5.2);
    QTest::newRow("vertical jump") << "07"
                                   << "42.5" << QVariant(42.5);
    QTest::newRow("push-ups") << "09"
                              << "25" << QVariant(25);
    QTest::newRow("push-ups 12.5") << "09"
                                   << "12.5" << QVariant(0);
    QTest::newRow("push-ups from 00000") << "09"
                                         << "" << QVariant(0);
    QTest::newRow("one-leg stand") << "11"
                                   << "20.5" << QVariant(20.5);
    QTest::newRow("reaction time") << "12"
                                   << "480" << QVariant(480);
    QTest::newRow("reaction time no number") << "12"
                                             << "abc" << QVariant(0);
    QTest::newRow("sit-ups 12.5") << "14"
                                  << "12.5" << QVariant(0);
    QTest::newRow("sit-ups") << "14"
                             << "32" << QVariant(32);
    QTest::newRow("long jump") << "15"
                               << "215" << QVariant(215.0);
}

void TestFitnessSession::conversion()
{
    QFETCH(QString, code);
    QFETCH(QString, value);
    QFETCH(QVariant, expected);
    fitness::FitValues v;
    // A previous value must be replaced, also by 0.
    QVERIFY(fitness::convertItem(v, code, QStringLiteral("7")));
    QVERIFY(fitness::convertItem(v, code, value));
    const QVariant got = fitness::itemValue(v, code);
    QCOMPARE(int(got.type()), int(expected.type()));
    if (expected.type() == QVariant::Double)
        QVERIFY2(qFuzzyCompare(1.0 + got.toDouble(), 1.0 + expected.toDouble()), qPrintable(got.toString()));
    else
        QCOMPARE(got, expected);
}

void TestFitnessSession::unknownCodesConvertNothing()
{
    for (const char *code : {"08", "10", "13", "00", "16", "x"}) {
        fitness::FitValues v;
        QVERIFY(!fitness::convertItem(v, QString::fromLatin1(code), QStringLiteral("123")));
        QVERIFY(fitness::itemColumn(QString::fromLatin1(code)).isEmpty());
        QVERIFY(!fitness::itemValue(v, QString::fromLatin1(code)).isValid());
        QCOMPARE(v.WOLI + v.height + v.weight + v.TY, 0.0);
        QCOMPARE(v.FHL + v.FWC + v.FYS + v.YWQZ, 0);
    }
}

void TestFitnessSession::splitting_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("zerosRemoved");
    QTest::newRow("grip") << resultText("1", 4, "0600490") << "1"
                          << "06"
                          << "490" << 2;
    QTest::newRow("all zeros") << resultText("20230001", 6, "0900000") << "20230001"
                               << "09"
                               << "" << 5;
    QTest::newRow("no zeros") << resultText("A7", 0, "0117130") << "A7"
                              << "01"
                              << "17130" << 0;
    QTest::newRow("decimal") << resultText("9", 2, "04056.2") << "9"
                             << "04"
                             << "56.2" << 1;
    QTest::newRow("quote") << resultText("O'1", 3, "0500012") << "O'1"
                           << "05"
                           << "12" << 3;
    QTest::newRow("utf-8 user number") << resultText("张三", 1, "0303600") << QStringLiteral("张三") << "03"
                                       << "3600" << 1;
    // One field: the same text carries the user number and the item field.
    QTest::newRow("one field") << QByteArray("124567890123456789012345678") << "124567890123456789012345678"
                               << "12"
                               << "45678" << 0;
    QTest::newRow("one field zeros") << QByteArray("150000789012345678901234567")
                                     << "150000789012345678901234567"
                                     << "15"
                                     << "7" << 4;
}

void TestFitnessSession::splitting()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, uid);
    QFETCH(QString, code);
    QFETCH(QString, value);
    QFETCH(int, zerosRemoved);
    const fitness::FitResult r = fitness::splitResult(text);
    QCOMPARE(r.userId, uid);
    QCOMPARE(r.itemCode, code);
    QCOMPARE(r.value, value);
    QCOMPARE(g_log.filter(QStringLiteral("去掉0后的值是：")).size(), zerosRemoved);
    QVERIFY(logged(QStringLiteral("resultListPre =")));
    QVERIFY(logged(QStringLiteral("resultList=")));
}

void TestFitnessSession::pollCycle()
{
    fitness::FitnessSession s;
    QList<QByteArray> writes;
    for (int i = 0; i < 13; ++i)
        writes << s.tick(500 * i).write;
    for (int n = 0; n <= 10; ++n)
        QCOMPARE(writes.at(n), cmd(n, fitness::kQuery));
    QVERIFY(writes.at(11).isEmpty()); // the idle tick
    QCOMPARE(writes.at(12), cmd(0, fitness::kQuery));
    QCOMPARE(s.askNum(), 0);
    QCOMPARE(s.comi(), 1);

    QVERIFY(logged(QStringLiteral("sending 'x80x64'")));
    QVERIFY(logged(QStringLiteral("sending 'x89x64'")));
    QVERIFY(logged(QStringLiteral("sending 'x8Ax64'")));
    QVERIFY(!logged(QStringLiteral("x8ax64")));
    QCOMPARE(
        g_log.filter(QStringLiteral("comi======================================================")).size(),
        13);
    QCOMPARE(fitness::commandLogLine(10, fitness::kAcknowledge), QStringLiteral("sending 'x8Ax66'"));
}

void TestFitnessSession::resultOverSeveralReads()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    pollTo(s, 4, now);
    QCOMPARE(s.askNum(), 4);

    fitness::FitnessSession::ReceiveOutcome rx = s.receive("3", now + 10);
    QCOMPARE(rx.write, cmd(4, fitness::kRequest));
    QCOMPARE(rx.shown, QStringLiteral("3"));
    QCOMPARE(s.containerFlag(), 1);
    QVERIFY(logged(QStringLiteral("listened 3, get data!")));

    // While the text comes in, the tick sends nothing.
    QVERIFY(s.tick(now + 400).write.isEmpty());

    // One byte per read; the "3" bytes are result text, not a ready answer.
    const QByteArray text = resultText("1003", 4, "0600490");
    QCOMPARE(text.size(), 27);
    for (int i = 0; i < 26; ++i) {
        rx = s.receive(text.mid(i, 1), now + 20 + i);
        QVERIFY2(rx.write.isEmpty() && !rx.hasResult, qPrintable(QString::number(i)));
    }
    QCOMPARE(s.containerFit(), text.left(26)); // 26 bytes do not complete a result
    rx = s.receive(text.mid(26), now + 50);
    QVERIFY(rx.write.isEmpty()); // acknowledged once stored
    QVERIFY(rx.hasResult);
    QCOMPARE(s.resultStored(true), cmd(4, fitness::kAcknowledge));
    QCOMPARE(rx.result.userId, QStringLiteral("1003"));
    QCOMPARE(rx.result.itemCode, QStringLiteral("06"));
    QCOMPARE(rx.result.value, QStringLiteral("490"));
    QCOMPARE(s.askNum(), 104);
    QCOMPARE(s.containerFlag(), 0);
    QVERIFY(s.containerFit().isEmpty());
    QCOMPARE(s.containerOld(), text);
    QCOMPARE(s.itemCode(), QByteArray("06"));
    QVERIFY(logged(QStringLiteral("sending 'x84x66'")));
    QVERIFY(logged(QStringLiteral("All data(>26) received, start to save")));

    // Polling resumes with the next terminal.
    QCOMPARE(s.tick(now + 500).write, cmd(5, fitness::kQuery));
}

void TestFitnessSession::oneFieldResultCompletesAt27Bytes()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    pollTo(s, 0, now);
    s.receive("3", now);
    const QByteArray text("150000789012345678901234567");
    QVERIFY(!s.receive(text.left(26), now + 5).hasResult);
    const auto rx = s.receive(text.mid(26), now + 6);
    QVERIFY(rx.hasResult);
    QCOMPARE(rx.result.userId, QString::fromLatin1(text));
    QCOMPARE(rx.result.itemCode, QStringLiteral("15"));
    QCOMPARE(rx.result.value, QStringLiteral("7"));
}

void TestFitnessSession::duplicateIsAcknowledgedNotReturned()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    const QByteArray text = resultText("7", 2, "1400032");
    pollTo(s, 2, now);
    s.receive("3", now);
    QVERIFY(s.receive(text, now + 30).hasResult);
    // Not stored: no acknowledgement, and the text offered again is a new result.
    QVERIFY(s.resultStored(false).isEmpty());
    pollTo(s, 2, now);
    s.receive("3", now);
    QVERIFY(s.receive(text, now + 30).hasResult);
    QCOMPARE(s.resultStored(true), cmd(2, fitness::kAcknowledge));

    pollTo(s, 2, now); // next cycle, the same text again
    QCOMPARE(s.receive("3", now).write, cmd(2, fitness::kRequest));
    const auto rx = s.receive(text, now + 30);
    QCOMPARE(rx.write, cmd(2, fitness::kAcknowledge));
    QVERIFY(rx.duplicate);
    QVERIFY(!rx.hasResult);
    QVERIFY(s.containerFit().isEmpty());
    QCOMPARE(s.containerFlag(), 0);
    QVERIFY(logged(QStringLiteral(" same data ------------------")));

    // A different value from the same terminal is a new result again.
    pollTo(s, 2, now);
    s.receive("3", now);
    QVERIFY(s.receive(resultText("7", 2, "1400033"), now + 30).hasResult);
}

void TestFitnessSession::stalledReceptionTimesOut()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    pollTo(s, 6, now);
    s.receive("3", now);
    s.receive(resultText("3", 6, "0900025").left(10), now + 100);

    // Ticks within 3 s of the last byte keep waiting and send nothing.
    for (qint64 t = now + 500; t < now + 100 + fitness::kReceptionTimeoutMs; t += 500) {
        const auto tick = s.tick(t);
        QVERIFY(!tick.timedOut);
        QVERIFY(tick.write.isEmpty());
    }
    QCOMPARE(s.containerFlag(), 1);

    // A further byte restarts the 3 s.
    QVERIFY(!s.receive(" ", now + 3050).timedOut);
    QVERIFY(!s.tick(now + 3500).timedOut);
    QVERIFY(!s.tick(now + 3050 + fitness::kReceptionTimeoutMs - 1).timedOut);

    const auto tick = s.tick(now + 3050 + fitness::kReceptionTimeoutMs);
    QVERIFY(tick.timedOut);
    QCOMPARE(tick.write, cmd(7, fitness::kQuery)); // polling goes on with the next terminal
    QCOMPARE(s.containerFlag(), 0);
    QVERIFY(s.containerFit().isEmpty());
    QVERIFY(logged(QStringLiteral("reception timed out")));

    // The rest arriving late is only shown.
    const auto late = s.receive("00025", now + 7000);
    QVERIFY(!late.hasResult);
    QVERIFY(late.write.isEmpty());
    QVERIFY(s.containerFit().isEmpty());
}

void TestFitnessSession::noiseInFrontOfResultIsDropped()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    pollTo(s, 8, now);
    s.receive("3", now);
    const QByteArray text = resultText("12", 8, "1200480");
    const QByteArray line = QByteArray("Zq@~kW") + text;
    // The first 27 bytes are noise plus a cut text: no result yet.
    for (int i = 0; i < line.size() - 1; i += 3) {
        const auto rx = s.receive(line.mid(i, qMin(3, line.size() - 1 - i)), now + i);
        QVERIFY(!rx.hasResult);
        QVERIFY(rx.write.isEmpty());
    }
    const auto rx = s.receive(line.right(1), now + 40);
    QVERIFY(rx.hasResult);
    QCOMPARE(s.resultStored(true), cmd(8, fitness::kAcknowledge));
    QCOMPARE(rx.result.userId, QStringLiteral("12"));
    QCOMPARE(rx.result.itemCode, QStringLiteral("12"));
    QCOMPARE(rx.result.value, QStringLiteral("480"));
    QCOMPARE(s.containerOld(), text);
}

void TestFitnessSession::noisyLineIsCappedAndResynced()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    pollTo(s, 9, now);
    s.receive("3", now);
    const QByteArray noise("ab cd ef 12 "); // never ends in an item field
    bool resynced = false;
    for (int i = 0; i < 100 && !resynced; ++i) {
        const auto rx = s.receive(noise, now + i);
        QVERIFY(!rx.hasResult);
        QVERIFY(s.containerFit().size() <= fitness::kContainerCap);
        resynced = rx.resynced;
    }
    QVERIFY(resynced);
    QCOMPARE(s.containerFlag(), 0);
    QVERIFY(s.containerFit().isEmpty());
    QCOMPARE(s.askNum(), 9); // not acknowledged: the terminal offers the result again
    QCOMPARE(s.tick(now + 500).write, cmd(10, fitness::kQuery));

    // The next offer of that terminal is received normally.
    pollTo(s, 9, now);
    s.receive("3", now);
    QVERIFY(s.receive(resultText("4", 9, "1400030"), now + 30).hasResult);
}

QTEST_GUILESS_MAIN(TestFitnessSession)
#include "tst_fitnesssession.moc"
