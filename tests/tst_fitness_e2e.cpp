// The fitness link from end to end: a real QSerialPort on the station
// simulator's pseudo-terminal at 9600 baud pacing, the main window polling
// every 500 ms, results split over reads, line noise and a stalled result.
// Every result the simulator saw acknowledged must be in ResultFIT as sent.
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "simprocess.h"
#include "testsupport.h"

#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
int logCount(const QString &part)
{
    int n = 0;
    for (const QString &line : qAsConst(g_log))
        n += line.contains(part) ? 1 : 0;
    return n;
}

// One scripted result and what it must leave in its person's day row.
struct Scripted
{
    int terminal;
    QString uid;
    QString code;
    QString value;
    QString column;
    QVariant stored;
};

const QStringList kItemColumns = {QStringLiteral("Height"), QStringLiteral("Weight"), QStringLiteral("WOLI"),
                                  QStringLiteral("FHL"),    QStringLiteral("TQQ"),    QStringLiteral("TZ"),
                                  QStringLiteral("YWQZ"),   QStringLiteral("FYS"),    QStringLiteral("FWC"),
                                  QStringLiteral("BYDJ"),   QStringLiteral("ZT"),     QStringLiteral("TY")};

} // namespace

class TestFitnessE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init();
    void cleanup();

    void fourPersonsOverSeveralTerminals();
    void noisyLineAndStalledResult();
    void oneByteReadsStoreEveryResult();
    void lockedDatabaseDelaysTheAcknowledgement();

private:
    // Runs the simulator on |script| with |extraArgs| until |expectedLogged|
    // results were acknowledged, then checks ResultFIT against the log.
    // |during| runs once polling has started.
    void run(const QList<Scripted> &script, const QStringList &extraArgs, int expectedLogged,
             const std::function<void(MainWindow &)> &during = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_simErrors;
};

void TestFitnessE2E::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    QVERIFY(
        testsupport::addPerson(QStringLiteral("1001"), QStringLiteral("张三"), QStringLiteral("1"), 1995));
    QVERIFY(
        testsupport::addPerson(QStringLiteral("1002"), QStringLiteral("李四"), QStringLiteral("2"), 2003));
    QVERIFY(
        testsupport::addPerson(QStringLiteral("O'1"), QStringLiteral("欧阳一"), QStringLiteral("1"), 1980));
    g_log.clear();
    m_simErrors.clear();
}

void TestFitnessE2E::cleanup()
{
    if (fitPort->isOpen())
        fitPort->close();
    releaseProcessState();
    m_dir.reset();
}

void TestFitnessE2E::run(const QList<Scripted> &script, const QStringList &extraArgs, int expectedLogged,
                         const std::function<void(MainWindow &)> &during)
{
    const QString scriptPath = m_dir->filePath(QStringLiteral("results.txt"));
    const QString logPath = m_dir->filePath(QStringLiteral("delivered.log"));
    {
        QFile f(scriptPath);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Text));
        for (const Scripted &s : script)
            f.write(QStringLiteral("%1 %2 %3 %4\n").arg(s.terminal).arg(s.uid, s.code, s.value).toUtf8());
    }

    SimProcess sim;
    QVERIFY(sim.start(QStringLiteral("quelmar-station-sim"),
                      QStringList{QStringLiteral("--script"), scriptPath, QStringLiteral("--log"), logPath,
                                  QStringLiteral("--interval"), QStringLiteral("100")} +
                          extraArgs));
    QString error;
    QVERIFY2(openInstrumentPort(fitPort, sim.devicePath(), &error), qPrintable(error));

    MainWindow w;
    QSignalSpy recorded(&w, &MainWindow::fitRecorded);
    QTimer tick;
    tick.setInterval(500);
    connect(&tick, &QTimer::timeout, &w, &MainWindow::checkFitstate);
    tick.start();
    if (during)
        during(w);

    QTRY_COMPARE_WITH_TIMEOUT(testsupport::readLines(logPath).size(), expectedLogged, 40000);
    QTest::qWait(300); // the page refresh after the last store
    tick.stop();
    const QStringList delivered = testsupport::readLines(logPath);
    sim.stop();
    m_simErrors = QString::fromLocal8Bit(sim.process().readAllStandardError());

    // Expected day rows: the last acknowledged value per person and column.
    QMap<QString, QMap<QString, QVariant>> expected;
    for (const QString &line : delivered) {
        const QStringList f = line.split(QLatin1Char(' '));
        QCOMPARE(f.size(), 5);
        QCOMPARE(f[0], QStringLiteral("result"));
        const Scripted *match = nullptr;
        for (const Scripted &s : script) {
            if (QString::number(s.terminal) == f[1] && s.uid == f[2] && s.code == f[3] && s.value == f[4])
                match = &s;
        }
        QVERIFY2(match, qPrintable(line));
        expected[match->uid][match->column] = match->stored;
    }
    QCOMPARE(recorded.count(), expectedLogged);

    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("SELECT * FROM ResultFIT ORDER BY TestID")));
    QMap<QString, QSqlRecord> rows;
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    while (q.next()) {
        const QString uid = q.value(QStringLiteral("UID")).toString();
        QVERIFY2(!rows.contains(uid), qPrintable(QStringLiteral("second row for ") + uid));
        QCOMPARE(q.value(QStringLiteral("TestDate")).toString(), today);
        rows.insert(uid, q.record());
    }
    QCOMPARE(rows.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QSqlRecord &row = rows.value(it.key());
        for (const QString &column : kItemColumns) {
            const QVariant got = row.value(column);
            const QString where =
                it.key() + QLatin1Char('/') + column + QStringLiteral(" = ") + got.toString();
            if (!it.value().contains(column)) {
                QVERIFY2(got.isNull(), qPrintable(where));
                continue;
            }
            const QVariant want = it.value().value(column);
            if (want.type() == QVariant::Double)
                QVERIFY2(qAbs(got.toDouble() - want.toDouble()) < 1e-9, qPrintable(where));
            else
                QVERIFY2(got.toInt() == want.toInt() && got.toString() == want.toString(), qPrintable(where));
        }
    }
    // The person data comes from the register; unregistered numbers get the defaults.
    if (rows.contains(QStringLiteral("O'1")))
        QCOMPARE(rows[QStringLiteral("O'1")].value(QStringLiteral("Name")).toString(),
                 QStringLiteral("欧阳一"));
    if (rows.contains(QStringLiteral("9009"))) {
        const QSqlRecord &r = rows[QStringLiteral("9009")];
        QCOMPARE(r.value(QStringLiteral("Name")).toString(), QStringLiteral("-"));
        QCOMPARE(r.value(QStringLiteral("Sex")).toString(), QStringLiteral("2"));
        QCOMPARE(r.value(QStringLiteral("BirthYear")).toInt(), 1990);
    }
    // The page shows every row.
    QCOMPARE(w.fitModel()->rowCount(), rows.size());
}

void TestFitnessE2E::fourPersonsOverSeveralTerminals()
{
    const QList<Scripted> script = {
        {0, QStringLiteral("1001"), QStringLiteral("01"), QStringLiteral("172.5"), QStringLiteral("Height"),
         172.5},
        {1, QStringLiteral("1002"), QStringLiteral("03"), QStringLiteral("3600"), QStringLiteral("FHL"),
         3600},
        {2, QStringLiteral("O'1"), QStringLiteral("04"), QStringLiteral("56.2"), QStringLiteral("TZ"), 56.2},
        {3, QStringLiteral("9009"), QStringLiteral("05"), QStringLiteral("-5.2"), QStringLiteral("TQQ"),
         -5.2},
        {4, QStringLiteral("1001"), QStringLiteral("06"), QStringLiteral("490"), QStringLiteral("WOLI"),
         50.0},
        {5, QStringLiteral("1002"), QStringLiteral("07"), QStringLiteral("42.5"), QStringLiteral("ZT"), 42.5},
        {6, QStringLiteral("1001"), QStringLiteral("09"), QStringLiteral("25"), QStringLiteral("FWC"), 25},
        {7, QStringLiteral("O'1"), QStringLiteral("11"), QStringLiteral("20.5"), QStringLiteral("BYDJ"),
         20.5},
        {8, QStringLiteral("9009"), QStringLiteral("12"), QStringLiteral("480"), QStringLiteral("FYS"), 480},
        {9, QStringLiteral("1002"), QStringLiteral("14"), QStringLiteral("32"), QStringLiteral("YWQZ"), 32},
        {10, QStringLiteral("O'1"), QStringLiteral("15"), QStringLiteral("215"), QStringLiteral("TY"), 215.0},
        {0, QStringLiteral("1001"), QStringLiteral("02"), QStringLiteral("65.3"), QStringLiteral("Weight"),
         65.3},
        {1, QStringLiteral("1002"), QStringLiteral("03"), QStringLiteral("3700"), QStringLiteral("FHL"),
         3700},
    };
    run(script, {QStringLiteral("--chunk"), QStringLiteral("2:7")}, script.size());
    // Results came over several reads each.
    QVERIFY2(logCount(QStringLiteral("listenedFit=")) >= 3 * script.size(),
             qPrintable(QString::number(logCount(QStringLiteral("listenedFit=")))));
    QCOMPARE(logCount(QStringLiteral("reception timed out")), 0);
}

void TestFitnessE2E::noisyLineAndStalledResult()
{
    const QList<Scripted> script = {
        {0, QStringLiteral("1001"), QStringLiteral("06"), QStringLiteral("500"), QStringLiteral("WOLI"),
         51.0},
        {1, QStringLiteral("1002"), QStringLiteral("09"), QStringLiteral("18"), QStringLiteral("FWC"), 18},
        {2, QStringLiteral("O'1"), QStringLiteral("14"), QStringLiteral("40"), QStringLiteral("YWQZ"), 40},
        {3, QStringLiteral("9009"), QStringLiteral("03"), QStringLiteral("2900"), QStringLiteral("FHL"),
         2900},
        {4, QStringLiteral("1001"), QStringLiteral("01"), QStringLiteral("180.2"), QStringLiteral("Height"),
         180.2},
        {5, QStringLiteral("1002"), QStringLiteral("12"), QStringLiteral("512"), QStringLiteral("FYS"), 512},
        {6, QStringLiteral("O'1"), QStringLiteral("07"), QStringLiteral("38.5"), QStringLiteral("ZT"), 38.5},
        {7, QStringLiteral("9009"), QStringLiteral("15"), QStringLiteral("199"), QStringLiteral("TY"), 199.0},
        {8, QStringLiteral("1001"), QStringLiteral("11"), QStringLiteral("33.5"), QStringLiteral("BYDJ"),
         33.5},
        {9, QStringLiteral("1002"), QStringLiteral("05"), QStringLiteral("12.5"), QStringLiteral("TQQ"),
         12.5},
    };
    // The third result stalls after 10 bytes and is lost; all others are acknowledged.
    run(script,
        {QStringLiteral("--chunk"), QStringLiteral("1:6"), QStringLiteral("--garbage"), QStringLiteral("0.3"),
         QStringLiteral("--seed"), QStringLiteral("3"), QStringLiteral("--stall"), QStringLiteral("3")},
        script.size() - 1);
    QCOMPARE(logCount(QStringLiteral("reception timed out")), 1);
    // The line noise reached a result text, so the resynchronisation was exercised.
    QVERIFY2(m_simErrors.contains(QStringLiteral("garbage before answer result")), qPrintable(m_simErrors));
    QVERIFY(logCount(QStringLiteral("dropped noise before the result")) >= 1);
}

// Results full of "3" bytes (user number, terminal, value) arriving one byte per read.
void TestFitnessE2E::oneByteReadsStoreEveryResult()
{
    const QList<Scripted> script = {
        {3, QStringLiteral("1003"), QStringLiteral("03"), QStringLiteral("3333"), QStringLiteral("FHL"),
         3333},
        {4, QStringLiteral("1003"), QStringLiteral("14"), QStringLiteral("33"), QStringLiteral("YWQZ"), 33},
        {5, QStringLiteral("3"), QStringLiteral("07"), QStringLiteral("33.3"), QStringLiteral("ZT"), 33.3},
    };
    run(script, {QStringLiteral("--chunk"), QStringLiteral("1:1"), QStringLiteral("--fast")}, script.size());
    // Lone "3" bytes were read inside result texts.
    QVERIFY(logCount(QStringLiteral("listenedFit= \"3\"")) >= 1);
}

// The database is locked by another program while results come in: none is
// acknowledged before it is stored, and each is stored once it is free again.
void TestFitnessE2E::lockedDatabaseDelaysTheAcknowledgement()
{
    const QList<Scripted> script = {
        {0, QStringLiteral("1001"), QStringLiteral("01"), QStringLiteral("172.5"), QStringLiteral("Height"),
         172.5},
        {1, QStringLiteral("1002"), QStringLiteral("09"), QStringLiteral("25"), QStringLiteral("FWC"), 25},
    };
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    other.setDatabaseName(m_dir->filePath(QStringLiteral("maindb.db")));
    QVERIFY(other.open());
    bool warned = false;
    int deliveredWhileLocked = -1;
    run(script, {QStringLiteral("--fast")}, script.size(), [&](MainWindow &w) {
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QTest::qWait(4000);
        warned = !w.storeWarning().isEmpty();
        deliveredWhileLocked =
            testsupport::readLines(m_dir->filePath(QStringLiteral("delivered.log"))).size();
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("COMMIT")));
    });
    other.close();
    QVERIFY(warned);
    QCOMPARE(deliveredWhileLocked, 0);
    QVERIFY(logCount(QStringLiteral("not acknowledged")) >= 1);
}

QTEST_MAIN(TestFitnessE2E)
#include "tst_fitness_e2e.moc"
