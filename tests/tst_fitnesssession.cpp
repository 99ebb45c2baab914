// Fitness station dialogue without a port (value conversion per item code,
// splitting, the poll cycle, reception, duplicates, resynchronisation after
// line noise) and the storage of results on a real
// SQLite file (one row per person and day, failing writes).
#include "fitness/fitnesssession.h"
#include "fitness/fitnessstore.h"
#include "testsupport.h"

#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
// "<uid padded to 16> <terminal> <item code><value, 5 characters>", 27 bytes.
QByteArray resultText(const QByteArray &uid, int terminal, const QByteArray &field)
{
    return uid.leftJustified(16, ' ') + ' ' + QByteArray::number(terminal).rightJustified(2, '0') + ' ' +
           field;
}

// Polls until |terminal| is queried and it answers "3" (a result is ready).
void readyAt(fitness::FitnessSession &s, int terminal, qint64 &now)
{
    for (int i = 0; i < 24; ++i) {
        now += 500;
        if (s.tick(now).write == fitness::command(terminal, fitness::kQuery)) {
            QCOMPARE(s.receive("3", now).write, fitness::command(terminal, fitness::kRequest));
            return;
        }
    }
    QFAIL("terminal never queried");
}

const QDate kToday(2024, 3, 15);

int fitRows()
{
    return testsupport::scalar(QStringLiteral("SELECT COUNT(*) FROM ResultFIT")).toInt();
}

fitness::FitValues g_values; // the last value of each item, as the window keeps them

fitnessstore::StoreOutcome store(const QString &uid, const QString &code, const QString &value, int day = 0)
{
    return fitnessstore::storeResult(fitness::FitResult{uid, code, value}, g_values, kToday.addDays(day));
}
} // namespace

class TestFitnessSession : public QObject
{
    Q_OBJECT

private slots:
    void conversion_data();
    void conversion();
    void splitting_data();
    void splitting();
    void pollCycle();
    void resultOverSeveralReads();
    void duplicateIsAcknowledgedNotReturned();
    void noisyLineIsCappedAndResynced();
    void lineNoiseBeforeResult_data();
    void lineNoiseBeforeResult();
    void noiseDirectlyBeforeResult();
    void pauseInsideResult();
    void cleanup();
    void oneRowPerPersonAndDay_data();
    void oneRowPerPersonAndDay();
    void failingWritesAreReported();

private:
    // A fresh database with three registered persons, for the storage tests.
    void openScratchDatabase();
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFitnessSession::conversion_data()
{
    QTest::addColumn<QString>("item");      // "<code>|<value>"
    QTest::addColumn<QVariant>("expected"); // invalid: a code outside the item table
    QTest::newRow("grip 490 N") << "06|490" << QVariant(50.0);
    QTest::newRow("grip 257 N") << "06|257" << QVariant(26.2);
    QTest::newRow("grip empty") << "06|" << QVariant(0.0);
    QTest::newRow("height") << "01|171.3" << QVariant(171.3);
    QTest::newRow("vital capacity") << "03|3600" << QVariant(3600);
    QTest::newRow("step index") << "04|56.2" << QVariant(56.2);
    QTest::newRow("sit-and-reach negative") << "05|-5.2" << QVariant(-5.2);
    QTest::newRow("push-ups") << "09|25" << QVariant(25);
    QTest::newRow("push-ups 12.5") << "09|12.5" << QVariant(0);
    QTest::newRow("reaction time") << "12|480" << QVariant(480);
    QTest::newRow("reaction time no number") << "12|abc" << QVariant(0);
    QTest::newRow("sit-ups") << "14|32" << QVariant(32);
    QTest::newRow("long jump") << "15|215" << QVariant(215.0);
    for (const char *code : {"08", "13", "16"})
        QTest::newRow(code) << QString::fromLatin1(code) + QStringLiteral("|123") << QVariant();
}

void TestFitnessSession::conversion()
{
    QFETCH(QString, item);
    QFETCH(QVariant, expected);
    const QString code = item.section(QLatin1Char('|'), 0, 0);
    const QString value = item.section(QLatin1Char('|'), 1);
    fitness::FitValues v;
    if (!expected.isValid()) {
        QVERIFY(!fitness::convertItem(v, code, value));
        QVERIFY(fitness::itemColumn(code).isEmpty());
        QCOMPARE(v.WOLI + v.height + v.weight + v.TY + v.FHL + v.FWC + v.FYS + v.YWQZ, 0.0);
        return;
    }
    // A previous value must be replaced, also by 0.
    QVERIFY(fitness::convertItem(v, code, QStringLiteral("7")));
    QVERIFY(fitness::convertItem(v, code, value));
    const QVariant got = fitness::itemValue(v, code);
    QCOMPARE(int(got.type()), int(expected.type()));
    QVERIFY2(qAbs(got.toDouble() - expected.toDouble()) < 1e-9, qPrintable(got.toString()));
}

void TestFitnessSession::splitting_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("fields"); // user number, item code, value
    QTest::newRow("grip") << resultText("1", 4, "0600490") << QStringList{"1", "06", "490"};
    QTest::newRow("all zeros") << resultText("20230001", 6, "0900000") << QStringList{"20230001", "09", ""};
    QTest::newRow("decimal") << resultText("9", 2, "04056.2") << QStringList{"9", "04", "56.2"};
    QTest::newRow("utf-8 user number")
        << resultText("张三", 1, "0303600") << QStringList{"张三", "03", "3600"};
    // One field: the same text carries the user number and the item field.
    QTest::newRow("one field") << QByteArray("150000789012345678901234567")
                               << QStringList{"150000789012345678901234567", "15", "7"};
}

void TestFitnessSession::splitting()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, fields);
    const fitness::FitResult r = fitness::splitResult(text);
    QCOMPARE((QStringList{r.userId, r.itemCode, r.value}), fields);
}

void TestFitnessSession::pollCycle()
{
    fitness::FitnessSession s;
    QList<QByteArray> writes;
    for (int i = 0; i < 13; ++i)
        writes << s.tick(qint64(500) * i).write;
    for (int n = 0; n <= 10; ++n)
        QCOMPARE(writes.at(n), fitness::command(n, fitness::kQuery));
    QVERIFY(writes.at(11).isEmpty()); // the idle tick
    QCOMPARE(writes.at(12), fitness::command(0, fitness::kQuery));
    QCOMPARE(fitness::commandLogLine(10, fitness::kAcknowledge), QStringLiteral("sending 'x8Ax66'"));
}

void TestFitnessSession::resultOverSeveralReads()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    readyAt(s, 4, now);
    // While the text comes in, the tick sends nothing.
    QVERIFY(s.tick(now + 400).write.isEmpty());
    // One byte per read; the "3" bytes are result text, not a ready answer.
    const QByteArray text = resultText("1003", 4, "0600490");
    for (int i = 0; i < 26; ++i) {
        const auto rx = s.receive(text.mid(i, 1), now + 20 + i);
        QVERIFY2(rx.write.isEmpty() && !rx.hasResult, qPrintable(QString::number(i)));
    }
    const auto rx = s.receive(text.mid(26), now + 50);
    QVERIFY(rx.hasResult);
    QVERIFY(rx.write.isEmpty()); // acknowledged once stored
    QCOMPARE((QStringList{rx.result.userId, rx.result.itemCode, rx.result.value}),
             (QStringList{"1003", "06", "490"}));
    QCOMPARE(s.resultStored(true), fitness::command(4, fitness::kAcknowledge));
    // Polling resumes with the next terminal.
    QCOMPARE(s.tick(now + 500).write, fitness::command(5, fitness::kQuery));
}

void TestFitnessSession::duplicateIsAcknowledgedNotReturned()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    const QByteArray text = resultText("7", 2, "1400032");
    readyAt(s, 2, now);
    QVERIFY(s.receive(text, now + 30).hasResult);
    // Not stored: no acknowledgement, and the text offered again is a new result.
    QVERIFY(s.resultStored(false).isEmpty());
    readyAt(s, 2, now);
    QVERIFY(s.receive(text, now + 30).hasResult);
    QCOMPARE(s.resultStored(true), fitness::command(2, fitness::kAcknowledge));
    // Stored, but the acknowledgement was lost: the same text is acknowledged only.
    readyAt(s, 2, now);
    const auto rx = s.receive(text, now + 30);
    QCOMPARE(rx.write, fitness::command(2, fitness::kAcknowledge));
    QVERIFY(rx.duplicate && !rx.hasResult);
    // A different value from the same terminal is a new result again.
    readyAt(s, 2, now);
    QVERIFY(s.receive(resultText("7", 2, "1400033"), now + 30).hasResult);
}

void TestFitnessSession::noisyLineIsCappedAndResynced()
{
    fitness::FitnessSession s;
    qint64 now = 0;
    readyAt(s, 9, now);
    bool resynced = false;
    for (int i = 0; i < 100 && !resynced; ++i) {
        const auto rx = s.receive("ab cd ef 12 ", now + i); // never ends in an item field
        QVERIFY(!rx.hasResult);
        QVERIFY(s.containerFit().size() <= fitness::kContainerCap);
        resynced = rx.resynced;
    }
    QVERIFY(resynced);
    // Not acknowledged: polling goes on, and the terminal's next offer is received normally.
    QCOMPARE(s.tick(now + 500).write, fitness::command(10, fitness::kQuery));
    readyAt(s, 9, now);
    QVERIFY(s.receive(resultText("4", 9, "1400030"), now + 30).hasResult);
}

void TestFitnessSession::lineNoiseBeforeResult_data()
{
    // Reads after the request, '|' between reads; the result, when one is
    // expected, is the real one with its noise dropped.
    QTest::addColumn<QByteArray>("reads");
    QTest::addColumn<QStringList>("fields"); // empty: no result may come out
    const QByteArray real = resultText("20230417", 6, "0600490");
    const QByteArray noise24 = QByteArray("\x01\xfeZ#kq9\x7f..xx\x13\x10WWWWWWWWWWW", 24);
    const QStringList fields{"20230417", "06", "490"};
    QTest::newRow("24 noise + 3 result bytes in one read")
        << noise24 + real.left(3) + '|' + real.mid(3) << fields;
    QTest::newRow("noise, then the result in pieces")
        << noise24 + '|' + real.left(10) + '|' + real.mid(10, 10) + '|' + real.mid(20) << fields;
    QTest::newRow("noise with blanks and digits") << QByteArray("9 9 12 ") + real << fields;
    QTest::newRow("27 noise bytes without a blank") << QByteArray(27, 'Q') << QStringList();
    QTest::newRow("noise, result cut short") << noise24 + real.left(20) << QStringList();
    QTest::newRow("DEL bytes in front of a result's tail")
        << QByteArray(5, '\x7f') + real.mid(5) << QStringList();
    QTest::newRow("control byte in front of a result's tail")
        << QByteArray(5, '\x1b') + real.mid(5) << QStringList();
    QTest::newRow("item field with a blank in its value")
        << QByteArray("20230417         06 0600 90") << QStringList();
}

void TestFitnessSession::lineNoiseBeforeResult()
{
    QFETCH(QByteArray, reads);
    QFETCH(QStringList, fields);
    fitness::FitnessSession s;
    qint64 now = 0;
    // The ready answer itself may come with noise in front of it.
    for (int i = 0; i < 24 && s.tick(now += 500).write != fitness::command(6, fitness::kQuery); ++i) {
    }
    QCOMPARE(s.receive(QByteArray("\x02\xffxy3"), now).write, fitness::command(6, fitness::kRequest));
    int results = 0;
    for (const QByteArray &read : reads.split('|')) {
        const auto rx = s.receive(read, now += 10);
        QVERIFY(rx.write.isEmpty()); // nothing is acknowledged before it is stored
        if (rx.hasResult) {
            ++results;
            QCOMPARE((QStringList{rx.result.userId, rx.result.itemCode, rx.result.value}), fields);
            QCOMPARE(s.resultStored(true), fitness::command(6, fitness::kAcknowledge));
        }
    }
    QCOMPARE(results, fields.isEmpty() ? 0 : 1);
    if (fields.isEmpty()) {
        // The reception runs out; the terminal is polled again and offers its result anew.
        QVERIFY(s.tick(now + fitness::kReceptionTimeoutMs).timedOut);
        QCOMPARE(s.containerFlag(), 0);
    }
}

// Noise bytes directly in front of a result, the result cut into two reads
// at every place: the result comes out whole under its own user number.
void TestFitnessSession::noiseDirectlyBeforeResult()
{
    const QByteArray real = resultText("20230417", 6, "0600490");
    QStringList wrong;
    for (const QByteArray &noise : {QByteArray("X"), QByteArray("\x7f"), QByteArray("\x00", 1),
                                    QByteArray("7 "), QByteArray("\xfe\x01")}) {
        for (int cut = 0; cut <= real.size(); ++cut) {
            fitness::FitnessSession s;
            qint64 now = 0;
            readyAt(s, 6, now);
            QStringList results;
            for (const QByteArray &read : {noise + real.left(cut), real.mid(cut)}) {
                const auto rx = s.receive(read, now += 10);
                if (rx.hasResult)
                    results << QStringList{rx.result.userId, rx.result.itemCode, rx.result.value}.join('|');
            }
            if (results != QStringList{"20230417|06|490"})
                wrong << QStringLiteral("%1 cut %2: %3")
                             .arg(QString(noise.toHex()))
                             .arg(cut)
                             .arg(results.join(','));
        }
    }
    QCOMPARE(wrong.join('\n'), QString());
}

// A result in three reads with pauses between them: kept while no pause
// reaches the reception time-out, dropped at a pause of exactly that long.
void TestFitnessSession::pauseInsideResult()
{
    const QByteArray real = resultText("1003", 4, "1400032");
    const qint64 limit = fitness::kReceptionTimeoutMs;
    for (const qint64 pause : {limit - 1, limit}) {
        fitness::FitnessSession s;
        qint64 now = 0;
        readyAt(s, 4, now);
        int results = 0;
        bool timedOut = false;
        for (const QByteArray &read : {real.left(9), real.mid(9, 9), real.mid(18)}) {
            now += pause;
            timedOut = timedOut || s.tick(now).timedOut;
            results += s.receive(read, now).hasResult;
        }
        QCOMPARE(QStringLiteral("pause %1: %2 result(s), timed out %3").arg(pause).arg(results).arg(timedOut),
                 QStringLiteral("pause %1: %2 result(s), timed out %3")
                     .arg(pause)
                     .arg(pause < limit ? 1 : 0)
                     .arg(pause >= limit));
    }
}

void TestFitnessSession::openScratchDatabase()
{
    g_values = {};
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    QVERIFY(
        testsupport::addPerson(QStringLiteral("1001"), QStringLiteral("张三"), QStringLiteral("1"), 1995));
    QVERIFY(testsupport::addPerson(QStringLiteral("77"), QStringLiteral("李四"), QStringLiteral("1"), 2001));
    QVERIFY(testsupport::addPerson(QStringLiteral("O'1"), QStringLiteral("欧一"), QStringLiteral("1"), 1988));
}

void TestFitnessSession::cleanup()
{
    if (m_dir)
        releaseProcessState();
    m_dir.reset();
}

void TestFitnessSession::oneRowPerPersonAndDay_data()
{
    QTest::addColumn<QString>("results"); // "user number|item code|value|day;...", the last one checked
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("expected"); // its row: "column=value ...", an empty value: NULL
    QTest::newRow("two items, one row")
        << "1001|06|490|0;1001|09|25|0" << 1
        << "Name=张三 Sex=1 BirthYear=1995 TestDate=2024-03-15 WOLI=50 FWC=25 Height= Weight= TY=";
    QTest::newRow("same item replaces") << "1001|15|180|0;1001|15|196|0" << 1 << "TY=196";
    QTest::newRow("next day, new row")
        << "1001|03|3600|0;1001|03|3700|1" << 2 << "FHL=3700 TestDate=2024-03-16";
    QTest::newRow("unregistered") << "770|14|31|0" << 1 << "Name=- Sex=2 BirthYear=1990 YWQZ=31";
    // "register|…" registers a person between two results.
    QTest::newRow("registered during the day") << "770|14|31|0;register|770|王五|1|2004;770|09|22|0" << 1
                                               << "Name=王五 Sex=1 BirthYear=2004 YWQZ=31 FWC=22";
    QTest::newRow("codes outside the table")
        << "77|08|123|0;77|02|60.5|0;77|13|1|0" << 1
        << "Name=李四 Weight=60.5 Height= WOLI= FHL= TQQ= TZ= YWQZ= FYS= FWC= BYDJ= ZT= TY=";
    QTest::newRow("quote") << "O'1|06|500|0" << 1 << "Name=欧一 WOLI=51";
    // Text that would widen a built filter matches nobody and is stored as given.
    QTest::newRow("injection") << "O'1|06|500|0;x' OR '1'='1|09|12|0" << 2 << "Name=- FWC=12 WOLI=";
}

void TestFitnessSession::oneRowPerPersonAndDay()
{
    QFETCH(QString, results);
    QFETCH(int, rows);
    QFETCH(QString, expected);
    openScratchDatabase();
    QStringList f;
    for (const QString &r : results.split(QLatin1Char(';'))) {
        f = r.split(QLatin1Char('|'));
        if (f[0] == QLatin1String("register")) {
            QVERIFY(testsupport::addPerson(f[1], f[2], f[3], f[4].toInt()));
            continue;
        }
        const auto out = store(f[0], f[1], f[2], f[3].toInt());
        QVERIFY2(out.ok, qPrintable(out.error));
    }
    QCOMPARE(fitRows(), rows);
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT * FROM ResultFIT WHERE UID = ? AND TestDate = ?"));
    q.addBindValue(f[0]);
    q.addBindValue(kToday.addDays(f[3].toInt()).toString(Qt::ISODate));
    QVERIFY(q.exec() && q.next());
    for (const QString &e : expected.split(QLatin1Char(' '))) {
        const QString want = e.section(QLatin1Char('='), 1);
        const QVariant got = q.value(e.section(QLatin1Char('='), 0, 0));
        bool number = false;
        const double wanted = want.toDouble(&number);
        if (want.isEmpty())
            QVERIFY2(got.isNull(), qPrintable(e));
        else if (number)
            QVERIFY2(qAbs(got.toDouble() - wanted) < 1e-9,
                     qPrintable(e + QStringLiteral(", stored ") + got.toString()));
        else
            QCOMPARE(got.toString(), want);
    }
    QVERIFY2(!q.next(), "two rows of one person and day");
}

void TestFitnessSession::failingWritesAreReported()
{
    openScratchDatabase();
    QVERIFY(store(QStringLiteral("1"), QStringLiteral("01"), QStringLiteral("170")).ok);
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER no_insert BEFORE INSERT ON ResultFIT BEGIN SELECT "
                                  "RAISE(ABORT, 'insert refused'); END")));
    QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER no_update BEFORE UPDATE ON ResultFIT BEGIN SELECT "
                                  "RAISE(ABORT, 'update refused'); END")));
    const auto insert = store(QStringLiteral("2"), QStringLiteral("01"), QStringLiteral("160"));
    QVERIFY(!insert.ok);
    QVERIFY2(insert.error.contains(QStringLiteral("insert refused")), qPrintable(insert.error));
    const auto update = store(QStringLiteral("1"), QStringLiteral("02"), QStringLiteral("60"));
    QVERIFY(!update.ok);
    QVERIFY2(update.error.contains(QStringLiteral("update refused")), qPrintable(update.error));
    QCOMPARE(fitRows(), 1);
}

QTEST_MAIN(TestFitnessSession)
#include "tst_fitnesssession.moc"
