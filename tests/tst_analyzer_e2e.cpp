// The analyzer link from end to end: a real QSerialPort on the analyzer
// simulator's pseudo-terminal, the main window polling once a second, the
// download and the saving into a real database. Every record the simulator
// reports as delivered must be in Result exactly once, column for column.
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "simprocess.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {
double field(const QStringList &fields, int i)
{
    return i < fields.size() ? fields.at(i).toDouble() : 0.0;
}
} // namespace

class TestAnalyzerE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init();
    void cleanup();

    void realTimeMeasurements();
    void batchOfTwenty();
    void lineFaultsStillStoreEachRecordOnce();
    void pcControlStoresTheChosenPerson();
    void damagedLineStoresTrueValuesOnce_data();
    void damagedLineStoresTrueValuesOnce();
    void lockedDatabaseLosesNothingAndKeepsTicking();
    void importTransactionTakesInNoMeasurement();

private:
    // Runs the simulator with |args| until it has delivered |expected| records,
    // then compares Result with what it sent. |during| runs once polling has started.
    void run(const QStringList &args, int expected, bool batch, int timeoutMs,
             const std::function<void(MainWindow &)> &during = {});

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAnalyzerE2E::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
}

void TestAnalyzerE2E::cleanup()
{
    if (BCAport->isOpen())
        BCAport->close();
    releaseProcessState();
    m_dir.reset();
}

void TestAnalyzerE2E::run(const QStringList &args, int expected, bool batch, int timeoutMs,
                          const std::function<void(MainWindow &)> &during)
{
    const QString logPath = m_dir->filePath(QStringLiteral("delivered.log"));
    SimProcess sim;
    QVERIFY(sim.start(
        QStringLiteral("quelmar-analyzer-sim"),
        QStringList{QStringLiteral("--log"), logPath, QStringLiteral("--test-time"), QStringLiteral("300")} +
            args));
    QString error;
    QVERIFY2(openInstrumentPort(BCAport, sim.devicePath(), &error), qPrintable(error));
    global::portFlag = QStringLiteral("1");
    if (batch)
        global::batchSwitch = QStringLiteral("ON");

    MainWindow w;
    QSignalSpy saved(&w, &MainWindow::tidChanged);
    w.connectBCA();
    w.connectBCA(); // a second press must not double the ticks
    if (during)
        during(w);
    QTRY_COMPARE_WITH_TIMEOUT(testsupport::readLines(logPath).size(), expected, timeoutMs);
    // Let a few more ticks pass: nothing may be stored twice meanwhile.
    QTest::qWait(2500);
    w.stopCheckTimer();
    const QStringList delivered = testsupport::readLines(logPath);
    sim.stop();
    QCOMPARE(delivered.size(), expected);
    QCOMPARE(saved.count(), expected);

    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("SELECT * FROM Result ORDER BY TestID")));
    int row = 0;
    while (q.next()) {
        QVERIFY2(row < delivered.size(), "more rows than delivered records");
        // "record <uid> <person>|<whole>|<segment>|<impedance>"
        const QString line = delivered.at(row);
        const QString texts = line.section(QLatin1Char(' '), 2);
        const QStringList parts = texts.split(QLatin1Char('|'));
        QCOMPARE(parts.size(), 4);
        const QStringList person = parts[0].split(QLatin1Char('#'));
        const QStringList whole = parts[1].split(QLatin1Char('#'));
        const QStringList seg = parts[2].split(QLatin1Char('#'));
        const QStringList imp = parts[3].split(QLatin1Char('#'));
        const QString where = QStringLiteral("row %1: ").arg(row);

        QCOMPARE(q.value(QStringLiteral("UID")).toString(), person.value(0));
        QCOMPARE(q.value(QStringLiteral("Sex")).toString(),
                 person.value(2) == QLatin1String("1") ? QStringLiteral("2") : QStringLiteral("1"));
        QCOMPARE(q.value(QStringLiteral("BirthYear")).toInt(), person.value(3).toInt());
        QCOMPARE(q.value(QStringLiteral("TestDate")).toString(), whole.value(1));
        QCOMPARE(q.value(QStringLiteral("UUID")).toString(),
                 testsupport::scalar(QStringLiteral("SELECT UUID FROM Unit")).toString());
        QSqlQuery name;
        name.prepare(QStringLiteral("SELECT Name FROM Person WHERE UID = ?"));
        name.addBindValue(person.value(0));
        QVERIFY(name.exec());
        QCOMPARE(q.value(QStringLiteral("Name")).toString(),
                 name.next() ? name.value(0).toString() : QString());
        auto same = [&](int column, double want) {
            const double got = q.value(column).toDouble();
            QVERIFY2(std::fabs(got - want) < 1e-9,
                     qPrintable(where + q.record().fieldName(column) +
                                QStringLiteral(" = %1, sent %2").arg(got).arg(want)));
        };
        for (int f = 4; f <= 6; ++f)
            same(f + 3, field(whole, f));
        for (int f = 7; f <= 24; ++f)
            same(f + 4, field(whole, f));
        same(29, std::trunc(field(whole, 25))); // Body_age keeps whole years
        same(30, field(whole, 26));
        for (int f = 2; f <= 26; ++f) {
            same(f + 29, field(seg, f));
            same(f + 54, field(imp, f));
        }
        // Water is the sum of intra- and extracellular water.
        QVERIFY2(std::fabs(q.value(QStringLiteral("Water")).toDouble() -
                           (field(whole, 7) + field(whole, 8))) < 0.006,
                 qPrintable(where + QStringLiteral("Water")));
        ++row;
    }
    QCOMPARE(row, expected);
}

void TestAnalyzerE2E::realTimeMeasurements()
{
    // At the real line rate: a person every 0.5 s of standby, ten in all.
    run({QStringLiteral("--measure-every"), QStringLiteral("0.5"), QStringLiteral("--measurements"),
         QStringLiteral("10")},
        10, false, 90000);
    QCOMPARE(global::BCAstate, 1);
}

void TestAnalyzerE2E::batchOfTwenty()
{
    run({QStringLiteral("--batch"), QStringLiteral("20"), QStringLiteral("--fast")}, 20, true, 60000);
    QCOMPARE(global::dataFlag, 4);
}

void TestAnalyzerE2E::lineFaultsStillStoreEachRecordOnce()
{
    // Answers in random pieces, noise in front of answers, one whole-body
    // answer and one status answer lost: every record still lands once.
    run({QStringLiteral("--batch"), QStringLiteral("5"), QStringLiteral("--chunk"), QStringLiteral("1:64"),
         QStringLiteral("--garbage"), QStringLiteral("0.3"), QStringLiteral("--drop"), QStringLiteral("86:2"),
         QStringLiteral("--drop"), QStringLiteral("81:3"), QStringLiteral("--seed"), QStringLiteral("7")},
        5, true, 90000);
}

void TestAnalyzerE2E::pcControlStoresTheChosenPerson()
{
    const QString logPath = m_dir->filePath(QStringLiteral("delivered.log"));
    SimProcess sim;
    QVERIFY(
        sim.start(QStringLiteral("quelmar-analyzer-sim"),
                  {QStringLiteral("--log"), logPath, QStringLiteral("--test-time"), QStringLiteral("300")}));
    QString error;
    QVERIFY2(openInstrumentPort(BCAport, sim.devicePath(), &error), qPrintable(error));
    global::portFlag = QStringLiteral("1");

    MainWindow w;
    w.connectBCA();
    QTRY_COMPARE_WITH_TIMEOUT(global::BCAstate, 1, 10000);

    // The operator picks the person in the registry and starts PC control.
    bool started = false;
    QTimer::singleShot(0, [&] {
        auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        dlg->findChild<QLineEdit *>(QStringLiteral("uidEdit"))->setText(QStringLiteral("P'7"));
        dlg->findChild<QLineEdit *>(QStringLiteral("nameEdit"))->setText(QStringLiteral("王小丽"));
        dlg->findChild<QComboBox *>(QStringLiteral("sexCombo"))->setCurrentText(QStringLiteral("2"));
        dlg->findChild<QSpinBox *>(QStringLiteral("birthYearSpin"))->setValue(2001);
        dlg->findChild<QSpinBox *>(QStringLiteral("heightSpin"))->setValue(158);
        for (QPushButton *b : dlg->findChildren<QPushButton *>()) {
            if (b->text() == QStringLiteral("主控测试")) {
                b->click();
                started = true;
            }
        }
        dlg->reject();
    });
    w.usersList();
    QVERIFY(started);
    QCOMPARE(PCCtrlState, QStringLiteral("ON"));

    QTRY_COMPARE_WITH_TIMEOUT(testsupport::readLines(logPath).size(), 1, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(testsupport::scalar(QStringLiteral("SELECT count(*) FROM Result")).toInt(), 1,
                              5000);
    QSqlQuery q(QStringLiteral("SELECT UID, Name, Sex, BirthYear FROM Result"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("P'7"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("王小丽"));
    QCOMPARE(q.value(2).toString(), QStringLiteral("2"));
    QCOMPARE(q.value(3).toInt(), 2001);

    // Leaving PC control: 0C goes out, the analyzer confirms, saving is back
    // to collection mode.
    w.stopPCctrl();
    QCOMPARE(global::PCCtrlUID, QStringLiteral("0"));
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), QStringLiteral("主控已取消"), 5000);
    w.stopCheckTimer();
    sim.stop();
}

void TestAnalyzerE2E::damagedLineStoresTrueValuesOnce_data()
{
    QTest::addColumn<QStringList>("faults");
    // One changed digit (checksum as before) and one byte lost: each answer
    // is dropped and asked again.
    QTest::newRow("damaged answers") << QStringList{QStringLiteral("--corrupt"), QStringLiteral("86:1"),
                                                    QStringLiteral("--lose-byte"), QStringLiteral("87:2")};
    // The analyzer misses the first 0D and offers the stored record again.
    QTest::newRow("lost 0D") << QStringList{QStringLiteral("--lose-command"), QStringLiteral("0d:1")};
}

void TestAnalyzerE2E::damagedLineStoresTrueValuesOnce()
{
    QFETCH(QStringList, faults);
    run(QStringList{QStringLiteral("--batch"), QStringLiteral("3"), QStringLiteral("--fast")} + faults, 3,
        true, 30000);
}

void TestAnalyzerE2E::lockedDatabaseLosesNothingAndKeepsTicking()
{
    // Persons 1 and 2 are registered: a lookup that fails must not store "-".
    QVERIFY(testsupport::addPerson(QStringLiteral("1"), QStringLiteral("赵一"), QStringLiteral("1"), 1990));
    QVERIFY(testsupport::addPerson(QStringLiteral("2"), QStringLiteral("钱二"), QStringLiteral("2"), 1991));
    // Another program holds the file locked for 5 s from the first tick on.
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    other.setDatabaseName(m_dir->filePath(QStringLiteral("maindb.db")));
    QVERIFY(other.open());
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
    run({QStringLiteral("--batch"), QStringLiteral("3"), QStringLiteral("--fast")}, 3, true, 30000,
        [&](MainWindow &w) {
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
            clock.start();
            beat.start(50);
            QTest::qWait(3500);
            // The first record waits: the error picture and a lasting warning, no 0D.
            warned =
                !w.storeWarning().isEmpty() && w.stateIcon()->pixmap(Qt::ReturnByValue).toImage() ==
                                                   QPixmap(QStringLiteral(":/image/Error.png")).toImage();
            deliveredWhileLocked =
                testsupport::readLines(m_dir->filePath(QStringLiteral("delivered.log"))).size();
            QTest::qWait(1500);
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("COMMIT")));
            beat.stop();
            QTRY_VERIFY_WITH_TIMEOUT(w.storeWarning().isEmpty(), 3000);
        });
    other.close();
    QVERIFY(warned);
    QCOMPARE(deliveredWhileLocked, 0);
    QVERIFY2(longestGap < 2000, qPrintable(QString::number(longestGap)));
}

void TestAnalyzerE2E::importTransactionTakesInNoMeasurement()
{
    // A class list long enough that records arrive while it is imported.
    const QString csv = m_dir->filePath(QStringLiteral("people.csv"));
    {
        QFile f(csv);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("UUID,UID,Name,Sex,BirthYear,Height\n");
        for (int i = 0; i < 200000; ++i)
            f.write(QStringLiteral("U,P%1,N%1,1,1990,170\n").arg(i).toUtf8());
    }
    // Enough records that they keep arriving while the import runs.
    run({QStringLiteral("--batch"), QStringLiteral("150"), QStringLiteral("--fast")}, 150, true, 60000,
        [&](MainWindow &w) {
            QSignalSpy saved(&w, &MainWindow::tidChanged);
            QTRY_VERIFY_WITH_TIMEOUT(saved.count() > 0, 5000);
            QTimer closer;
            connect(&closer, &QTimer::timeout, [] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                    box->accept();
            });
            closer.start(100);
            g_log.clear();
            w.presetImportFile(csv);
            w.usersImport();
            const int begin = g_log.indexOf(QStringLiteral("usersImport function"));
            int end = begin;
            while (end < g_log.size() && !g_log.at(end).startsWith(QStringLiteral("import summary:")))
                ++end;
            QVERIFY(begin >= 0 && end < g_log.size());
            for (int i = begin; i < end; ++i)
                QVERIFY2(!g_log.at(i).contains(QStringLiteral("测试数据已插入")), "stored during the import");
        });
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT count(*) FROM Person")).toInt(), 200000);
}

QTEST_MAIN(TestAnalyzerE2E)
#include "tst_analyzer_e2e.moc"
