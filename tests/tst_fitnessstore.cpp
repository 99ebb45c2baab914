// Fitness result storage on a real SQLite file: one row per person and day,
// unregistered user numbers, item codes outside the table, user numbers with
// quotes, failing writes; and the main window slots around it over a pty.
#include "app/mainwindow.h"
#include "fitness/fitnessstore.h"
#include "pty.h"
#include "testsupport.h"

#include <QDataWidgetMapper>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "app/serialports.h"

#include <memory>

namespace {
bool logged(const QString &part)
{
    for (const QString &line : qAsConst(g_log)) {
        if (line.contains(part))
            return true;
    }
    return false;
}

struct Row
{
    int count = 0;
    QSqlRecord record;
};

// The ResultFIT rows of |uid| on |date| (the first one's record).
Row rowsOf(const QString &uid, const QDate &date)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT * FROM ResultFIT WHERE UID = ? AND TestDate = ? ORDER BY TestID"));
    q.addBindValue(uid);
    q.addBindValue(date.toString(Qt::ISODate));
    Row row;
    if (!q.exec())
        return row;
    while (q.next()) {
        if (row.count == 0)
            row.record = q.record();
        ++row.count;
    }
    return row;
}

fitness::FitResult result(const QString &uid, const QString &code, const QString &value)
{
    return fitness::FitResult{uid, code, value};
}

int fitRows()
{
    return testsupport::scalar(QStringLiteral("SELECT COUNT(*) FROM ResultFIT")).toInt();
}

QByteArray resultText(const QByteArray &uid, int terminal, const QByteArray &field)
{
    return uid.leftJustified(16, ' ') + ' ' + QByteArray::number(terminal).rightJustified(2, '0') + ' ' +
           field;
}

// Everything the program writes within |ms|.
QByteArray drain(TestPty &pty, int ms)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        got += pty.readMaster(5);
    }
    return got;
}

void writeMaster(TestPty &pty, const QByteArray &bytes)
{
    QCOMPARE(::write(pty.master(), bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

// Bytes the program wrote, collected until |expected| came or 2 s passed
// (the event loop keeps running, so the port delivers meanwhile).
QByteArray awaitWrite(TestPty &pty, const QByteArray &expected)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (!got.contains(expected) && t.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        got += pty.readMaster(10);
    }
    return got;
}
} // namespace

class TestFitnessStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init();
    void cleanup();

    void twoItemsOnePersonOneDayGiveOneRow();
    void sameItemTwiceReplacesValue();
    void nextDayGetsNewRow();
    void unregisteredUserNumber();
    void codeOutsideTableTouchesDayRow();
    void quotesInUserNumberAreTakenLiterally();
    void failingWritesAreReported();

    void failedStoreEmitsNoSignal();

private:
    // One result through the main window: query, "3", request, text, ack.
    void deliver(MainWindow &w, TestPty &pty, int terminal, const QByteArray &text);

    std::unique_ptr<QTemporaryDir> m_dir;
    QDate m_today = QDate(2024, 3, 15);
};

void TestFitnessStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    g_log.clear();
}

void TestFitnessStore::cleanup()
{
    QSqlDatabase::database(QSqlDatabase::defaultConnection, false).setConnectOptions(QString());
    releaseProcessState();
    m_dir.reset();
}

void TestFitnessStore::twoItemsOnePersonOneDayGiveOneRow()
{
    QVERIFY(
        testsupport::addPerson(QStringLiteral("1001"), QStringLiteral("张三"), QStringLiteral("1"), 1995));
    fitness::FitValues v;
    auto first = fitnessstore::storeResult(
        result(QStringLiteral("1001"), QStringLiteral("06"), QStringLiteral("490")), v, m_today);
    QVERIFY2(first.ok, qPrintable(first.error));
    QVERIFY(first.inserted);
    QVERIFY(logged(QStringLiteral("没有此人的记录。插入！UID=")));
    auto second = fitnessstore::storeResult(
        result(QStringLiteral("1001"), QStringLiteral("09"), QStringLiteral("25")), v, m_today);
    QVERIFY2(second.ok, qPrintable(second.error));
    QVERIFY(!second.inserted);
    QCOMPARE(second.testId, first.testId);
    QVERIFY(logged(QStringLiteral("已有此人记录。更新！")));

    QCOMPARE(fitRows(), 1);
    const Row row = rowsOf(QStringLiteral("1001"), m_today);
    QCOMPARE(row.count, 1);
    QCOMPARE(row.record.value(QStringLiteral("Name")).toString(), QStringLiteral("张三"));
    QCOMPARE(row.record.value(QStringLiteral("Sex")).toString(), QStringLiteral("1"));
    QCOMPARE(row.record.value(QStringLiteral("BirthYear")).toInt(), 1995);
    QCOMPARE(row.record.value(QStringLiteral("TestDate")).toString(), QStringLiteral("2024-03-15"));
    QCOMPARE(row.record.value(QStringLiteral("WOLI")).toDouble(), 50.0);
    QCOMPARE(row.record.value(QStringLiteral("FWC")).toInt(), 25);
    // Nothing else is filled in, in particular no height or weight.
    for (const char *column : {"Height", "Weight", "FHL", "TQQ", "TZ", "YWQZ", "FYS", "BYDJ", "ZT", "TY"})
        QVERIFY2(row.record.value(QLatin1String(column)).isNull(), column);
}

void TestFitnessStore::sameItemTwiceReplacesValue()
{
    fitness::FitValues v;
    QVERIFY(fitnessstore::storeResult(
                result(QStringLiteral("5"), QStringLiteral("15"), QStringLiteral("180")), v, m_today)
                .ok);
    QVERIFY(fitnessstore::storeResult(
                result(QStringLiteral("5"), QStringLiteral("15"), QStringLiteral("196")), v, m_today)
                .ok);
    const Row row = rowsOf(QStringLiteral("5"), m_today);
    QCOMPARE(row.count, 1);
    QCOMPARE(row.record.value(QStringLiteral("TY")).toDouble(), 196.0);
    QCOMPARE(v.TY, 196.0);
}

void TestFitnessStore::nextDayGetsNewRow()
{
    fitness::FitValues v;
    const auto a = fitnessstore::storeResult(
        result(QStringLiteral("8"), QStringLiteral("03"), QStringLiteral("3600")), v, m_today);
    const auto b = fitnessstore::storeResult(
        result(QStringLiteral("8"), QStringLiteral("03"), QStringLiteral("3700")), v, m_today.addDays(1));
    QVERIFY(a.ok && b.ok);
    QVERIFY(b.inserted);
    QVERIFY(b.testId > a.testId);
    QCOMPARE(fitRows(), 2);
    QCOMPARE(rowsOf(QStringLiteral("8"), m_today).record.value(QStringLiteral("FHL")).toInt(), 3600);
    QCOMPARE(rowsOf(QStringLiteral("8"), m_today.addDays(1)).record.value(QStringLiteral("FHL")).toInt(),
             3700);
}

void TestFitnessStore::unregisteredUserNumber()
{
    QVERIFY(testsupport::addPerson(QStringLiteral("77"), QStringLiteral("李四"), QStringLiteral("1"), 2001));
    fitness::FitValues v;
    const auto out = fitnessstore::storeResult(
        result(QStringLiteral("770"), QStringLiteral("14"), QStringLiteral("31")), v, m_today);
    QVERIFY(out.ok);
    QCOMPARE(out.uid, QStringLiteral("770"));
    QVERIFY(logged(QStringLiteral("查无此人")));
    const Row row = rowsOf(QStringLiteral("770"), m_today);
    QCOMPARE(row.count, 1);
    QCOMPARE(row.record.value(QStringLiteral("Name")).toString(), QStringLiteral("-"));
    QCOMPARE(row.record.value(QStringLiteral("Sex")).toString(), QStringLiteral("2"));
    QCOMPARE(row.record.value(QStringLiteral("BirthYear")).toInt(), 1990);
    QCOMPARE(row.record.value(QStringLiteral("YWQZ")).toInt(), 31);
}

void TestFitnessStore::codeOutsideTableTouchesDayRow()
{
    fitness::FitValues v;
    const auto inserted = fitnessstore::storeResult(
        result(QStringLiteral("9"), QStringLiteral("08"), QStringLiteral("123")), v, m_today);
    QVERIFY2(inserted.ok, qPrintable(inserted.error));
    QVERIFY(inserted.inserted);
    Row row = rowsOf(QStringLiteral("9"), m_today);
    QCOMPARE(row.count, 1);
    for (const char *column :
         {"Height", "Weight", "WOLI", "FHL", "TQQ", "TZ", "YWQZ", "FYS", "FWC", "BYDJ", "ZT", "TY"})
        QVERIFY2(row.record.value(QLatin1String(column)).isNull(), column);

    QVERIFY(fitnessstore::storeResult(
                result(QStringLiteral("9"), QStringLiteral("02"), QStringLiteral("60.5")), v, m_today)
                .ok);
    const auto touched = fitnessstore::storeResult(
        result(QStringLiteral("9"), QStringLiteral("13"), QStringLiteral("1")), v, m_today);
    QVERIFY(touched.ok);
    QVERIFY(!touched.inserted);
    row = rowsOf(QStringLiteral("9"), m_today);
    QCOMPARE(row.count, 1);
    QCOMPARE(row.record.value(QStringLiteral("Weight")).toDouble(), 60.5);
}

void TestFitnessStore::quotesInUserNumberAreTakenLiterally()
{
    QVERIFY(testsupport::addPerson(QStringLiteral("O'1"), QStringLiteral("欧一"), QStringLiteral("1"), 1988));
    QVERIFY(testsupport::addPerson(QStringLiteral("2"), QStringLiteral("王五"), QStringLiteral("2"), 1999));
    fitness::FitValues v;
    const auto out = fitnessstore::storeResult(
        result(QStringLiteral("O'1"), QStringLiteral("06"), QStringLiteral("500")), v, m_today);
    QVERIFY2(out.ok, qPrintable(out.error));
    const Row row = rowsOf(QStringLiteral("O'1"), m_today);
    QCOMPARE(row.count, 1);
    QCOMPARE(row.record.value(QStringLiteral("Name")).toString(), QStringLiteral("欧一"));
    QCOMPARE(row.record.value(QStringLiteral("WOLI")).toDouble(), 51.0);

    // Text that would widen a built filter matches nobody and is stored as given.
    const QString sly = QStringLiteral("x' OR '1'='1");
    const auto second =
        fitnessstore::storeResult(result(sly, QStringLiteral("09"), QStringLiteral("12")), v, m_today);
    QVERIFY2(second.ok, qPrintable(second.error));
    QVERIFY(second.inserted);
    const Row slyRow = rowsOf(sly, m_today);
    QCOMPARE(slyRow.count, 1);
    QCOMPARE(slyRow.record.value(QStringLiteral("Name")).toString(), QStringLiteral("-"));
    QCOMPARE(fitRows(), 2);
    QVERIFY(rowsOf(QStringLiteral("O'1"), m_today).record.value(QStringLiteral("FWC")).isNull());
}

void TestFitnessStore::failingWritesAreReported()
{
    fitness::FitValues v;
    QVERIFY(fitnessstore::storeResult(
                result(QStringLiteral("1"), QStringLiteral("01"), QStringLiteral("170")), v, m_today)
                .ok);
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER no_insert BEFORE INSERT ON ResultFIT "
                                  "BEGIN SELECT RAISE(ABORT, 'insert refused'); END")));
    QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER no_update BEFORE UPDATE ON ResultFIT "
                                  "BEGIN SELECT RAISE(ABORT, 'update refused'); END")));

    const auto insert = fitnessstore::storeResult(
        result(QStringLiteral("2"), QStringLiteral("01"), QStringLiteral("160")), v, m_today);
    QVERIFY(!insert.ok);
    QVERIFY2(insert.error.contains(QStringLiteral("insert refused")), qPrintable(insert.error));
    const auto update = fitnessstore::storeResult(
        result(QStringLiteral("1"), QStringLiteral("02"), QStringLiteral("60")), v, m_today);
    QVERIFY(!update.ok);
    QVERIFY2(update.error.contains(QStringLiteral("update refused")), qPrintable(update.error));
    QCOMPARE(fitRows(), 1);
    QVERIFY(rowsOf(QStringLiteral("1"), m_today).record.value(QStringLiteral("Weight")).isNull());
}

void TestFitnessStore::deliver(MainWindow &w, TestPty &pty, int terminal, const QByteArray &text)
{
    const QByteArray query = QByteArray(1, char(0x80 + terminal)) + char(0x64);
    QByteArray seen;
    for (int i = 0; i < 13 && seen != query; ++i) {
        w.checkFitstate();
        seen = drain(pty, 30);
    }
    QCOMPARE(seen.toHex(), query.toHex());
    writeMaster(pty, "3");
    const QByteArray request = awaitWrite(pty, QByteArray(1, char(0x80 + terminal)) + char(0x65));
    QVERIFY2(request.endsWith(QByteArray(1, char(0x80 + terminal)) + char(0x65)),
             request.toHex().constData());
    writeMaster(pty, text.left(11));
    QTest::qWait(20);
    writeMaster(pty, text.mid(11));
}

void TestFitnessStore::failedStoreEmitsNoSignal()
{
    // Reopen the database read-only: every write fails.
    {
        QSqlDatabase db = QSqlDatabase::database();
        db.close();
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
    }
    TestPty pty;
    QVERIFY(pty.isValid());
    QVERIFY(openInstrumentPort(fitPort, pty.path()));
    MainWindow w;
    QSignalSpy recorded(&w, &MainWindow::fitRecorded);
    deliver(w, pty, 0, resultText("1001", 0, "0600490"));
    QTRY_VERIFY(w.stateEdit()->text().contains(QStringLiteral("未能保存")));
    // Not stored, so not acknowledged: the terminal offers it again later.
    QVERIFY(!drain(pty, 300).contains(QByteArray(1, char(0x80)) + char(0x66)));
    QVERIFY(!w.storeWarning().isEmpty());
    QCOMPARE(recorded.count(), 0);
    QCOMPARE(fitRows(), 0);
    QVERIFY(!logged(QStringLiteral("Signal emitted")));
    QVERIFY(logged(QStringLiteral("fitness result not stored")));
    fitPort->close();
}

QTEST_MAIN(TestFitnessStore)
#include "tst_fitnessstore.moc"
