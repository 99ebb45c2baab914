// Storing a measurement: who was measured (analyzer sex code, Person name,
// unit identifier), whole-year body age, short and garbled lists, the slot's
// counting and detail table, and failed saves that keep the record for later.
#include "app/mainwindow.h"
#include "records/indicators.h"
#include "records/measurementstore.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlRecord>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using measurementstore::PcControlPerson;
using measurementstore::saveMeasurement;
using testsupport::count;

namespace {
// A whole-body list with a distinct value in every field and the given
// values where the derivations read (Fat 4, PBF 17, BMI 19, edema 22, age 25).
QByteArray wholeList(double pbf = 21, double bmi = 22, const QByteArray &bodyAge = "30")
{
    QList<QByteArray> f = {"W1", "2024-05-06", "w2", "w3"};
    for (int i = 4; i <= 26; ++i)
        f << QByteArray::number(i + 0.25);
    f[4] = "12";
    f[17] = QByteArray::number(pbf);
    f[19] = QByteArray::number(bmi);
    f[22] = "0.38";
    f[25] = bodyAge;
    return f.join('#') + '#';
}

MeasurementLists listsFor(const QByteArray &person, const QByteArray &whole = wholeList())
{
    const QByteArray zeros = QByteArray("0#2000-01-01#") + QByteArray("0#").repeated(25);
    return {person, whole, zeros, zeros};
}

// "Column=value" for each of |columns| of the stored row; NULL as <null>.
QString rowText(int testId, const QStringList &columns)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT * FROM Result WHERE TestID = ?"));
    q.addBindValue(testId);
    if (!q.exec() || !q.next())
        return QStringLiteral("no row");
    QStringList out;
    for (const QString &c : columns)
        out << c + QLatin1Char('=') +
                   (q.value(c).isNull() ? QStringLiteral("<null>") : q.value(c).toString());
    return out.join(QLatin1Char(' '));
}

// Rejects any modal window that opens (saving must never show one) and counts
// them.
struct ModalGuard
{
    int seen = 0;
    QTimer timer;
    ModalGuard()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                ++seen;
                d->reject();
            }
        });
        timer.start(5);
    }
};
} // namespace

class TestMeasurementStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
        g_log.clear();
    }
    void cleanup() { releaseProcessState(); }

    void storedPerson_data()
    {
        QTest::addColumn<QString>("setupSql");
        QTest::addColumn<QByteArray>("person"); // the analyzer's person list
        QTest::addColumn<QByteArray>("bodyAge");
        QTest::addColumn<QString>("stored"); // "Column=value ..."
        const QString registry =
            QStringLiteral("INSERT INTO Person (UID, Name, Sex) VALUES ('A12', '张三', '2'), "
                           "('007', '李四', '1'), "
                           "('D1', '旧名', '1'), ('D1', '新名', '1'), ('O''Neil', '奥尼尔', '1')");
        // The analyzer codes a woman as 1; she gets the female limits (fat 12, PBF
        // 21).
        QTest::newRow("sex code 1") << QString() << QByteArray("u#n#1#1990#") << QByteArray("30")
                                    << "Sex=2 LiverRisk=10 BodyType=" + indicators::bodytype::healthy;
        QTest::newRow("sex code 0") << QString() << QByteArray("u#n#0#1990#") << QByteArray("30")
                                    << "Sex=1 LiverRisk=20 BodyType=" + indicators::bodytype::excessFat;
        for (const char *code : {"2", "", "11", "x"})
            QTest::addRow("sex code '%s'", code) << QString() << QByteArray("u#n#") + code + "#1990#"
                                                 << QByteArray("30") << QStringLiteral("Sex=1");
        // The name is the last Person row's with the same user number, compared as
        // text; the sex and birth year stay the analyzer's.
        QTest::newRow("registered") << registry << QByteArray("A12#n#0#1990#") << QByteArray("30")
                                    << QStringLiteral("UID=A12 Name=张三 Sex=1 BirthYear=1990");
        QTest::newRow("007 is not 7")
            << registry << QByteArray("7#n#0#1990#") << QByteArray("30") << QStringLiteral("UID=7 Name=");
        QTest::newRow("case counts") << registry << QByteArray("a12#n#0#1990#") << QByteArray("30")
                                     << QStringLiteral("Name=");
        QTest::newRow("registered twice")
            << registry << QByteArray("D1#n#0#1990#") << QByteArray("30") << QStringLiteral("Name=新名");
        QTest::newRow("apostrophe") << registry << QByteArray("O'Neil#n#0#1990#") << QByteArray("30")
                                    << QStringLiteral("UID=O'Neil Name=奥尼尔");
        QTest::newRow("injection") << registry << QByteArray("x' OR '1'='1#n#0#1990#") << QByteArray("30")
                                   << QStringLiteral("Name=");
        // The unit identifier, "Null" when there is none.
        QTest::newRow("unit") << QString() << QByteArray("u#n#0#1990#") << QByteArray("30")
                              << QStringLiteral("UUID=U0001");
        QTest::newRow("unit empty") << QStringLiteral("UPDATE Unit SET UUID = ''")
                                    << QByteArray("u#n#0#1990#") << QByteArray("30")
                                    << QStringLiteral("UUID=Null");
        QTest::newRow("no unit") << QStringLiteral("DELETE FROM Unit") << QByteArray("u#n#0#1990#")
                                 << QByteArray("30") << QStringLiteral("UUID=Null");
        // Body age in whole years only.
        const struct
        {
            const char *field, *stored;
        } ages[] = {{"36", "36"}, {"36.5", "0"}, {"abc", "0"}, {"", "0"}, {"-3", "-3"}};
        for (const auto &a : ages)
            QTest::addRow("body age '%s'", a.field)
                << QString() << QByteArray("u#n#0#1990#") << QByteArray(a.field)
                << QStringLiteral("Body_age=%1").arg(QLatin1String(a.stored));
    }
    void storedPerson()
    {
        QFETCH(QString, setupSql);
        QFETCH(QByteArray, person);
        QFETCH(QByteArray, bodyAge);
        QFETCH(QString, stored);
        QSqlQuery q;
        if (!setupSql.isEmpty())
            QVERIFY2(q.exec(setupSql), qPrintable(q.lastError().text()));
        const int people = count(QStringLiteral("SELECT count(*) FROM Person"));
        const auto out =
            saveMeasurement(listsFor(person, wholeList(21, 22, bodyAge)), PcControlPerson(), QString());
        QVERIFY2(out.ok, qPrintable(out.error));
        QStringList columns;
        for (const QString &pair : stored.split(QLatin1Char(' ')))
            columns << pair.section(QLatin1Char('='), 0, 0);
        QCOMPARE(rowText(out.testId, columns), stored);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")),
                 people); // nobody registered by a save
    }
    void shortAndGarbledLists()
    {
        // Nothing at all: a row of zeros with empty user number and date; BMI 0
        // and PBF 0 are numbers, so the body type is decided, not carried over.
        auto out = saveMeasurement(MeasurementLists(), PcControlPerson(), QStringLiteral("消瘦型"));
        QVERIFY2(out.ok, qPrintable(out.error));
        QCOMPARE(rowText(out.testId, {"UID", "TestDate", "BirthYear", "Sex", "Fat", "RL_LBM", "LL500",
                                      "LiverRisk", "BodyType"}),
                 "UID= TestDate= BirthYear=0 Sex=1 Fat=0 RL_LBM=0 LL500=0 "
                 "LiverRisk=0 BodyType=" +
                     indicators::bodytype::thin);

        // Lists cut short: what is there is stored, the rest is 0 (a man: 17.7
        // <= 18.5 < 19.3).
        out = saveMeasurement({"B7#n", "W#2024-06-01#a#b#18.5#2.5", "0#2000-01-01#1.5", "0#"},
                              PcControlPerson(), QString());
        QVERIFY(out.ok);
        QCOMPARE(rowText(out.testId, {"UID", "Sex", "TestDate", "Fat", "Bone", "Protein", "Score", "TR_fat",
                                      "TR_muscle", "LiverRisk"}),
                 QStringLiteral("UID=B7 Sex=1 TestDate=2024-06-01 Fat=18.5 Bone=2.5 "
                                "Protein=0 Score=0 TR_fat=1.5 "
                                "TR_muscle=0 LiverRisk=70"));

        // Fields that are no numbers count as 0.
        QList<QByteArray> whole = wholeList().split('#');
        whole[5] = "x1";
        whole[12] = "--";
        out = saveMeasurement(listsFor("u#n#0#19y0#", whole.join('#')), PcControlPerson(), QString());
        QVERIFY(out.ok);
        QCOMPARE(rowText(out.testId, {"Bone", "Weight", "BirthYear", "Fat"}),
                 QStringLiteral("Bone=0 Weight=0 BirthYear=0 Fat=12"));
    }
    void failedPersonLookupFailsTheSave()
    {
        // A wrong identity is never stored: the save fails and is tried again
        // later.
        QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE Person")));
        const auto out = saveMeasurement(listsFor("A12#n#0#1990#"), PcControlPerson(), QString());
        QVERIFY(!out.ok);
        QVERIFY(!out.error.isEmpty());
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 0);
    }
    void saveTestDataCountsAndShows()
    {
        QVERIFY(
            testsupport::addPerson(QStringLiteral("007"), QStringLiteral("李四"), QStringLiteral("1"), 1971));
        MainWindow w;
        QSignalSpy spy(&w, &MainWindow::tidChanged);
        global::tid = 0;
        global::currentTestID = 5;
        ModalGuard guard;
        // A woman with BMI 25 and PBF 30, then with BMI 21 and PBF 22.
        w.measurement() = listsFor("007#n#1#1990#", wholeList(30, 25));
        w.saveTestData();
        w.measurement().wholeData = wholeList(22, 21);
        w.saveTestData();
        QCOMPARE(global::tid, 2);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 2);
        QCOMPARE(global::currentTestID, 0);
        QCOMPARE(global::currentPerson, QStringLiteral("007"));
        QCOMPARE(global::bodyType, indicators::bodytype::healthy);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result WHERE BodyType = '%1'")
                           .arg(indicators::bodytype::obese)),
                 1);
        // tidChanged shows the newest record on the body-composition page.
        QCOMPARE(w.bcaTable()->item(1, 1)->text(),
                 testsupport::scalar("SELECT max(TestID) FROM Result").toString());
        QCOMPARE(w.bcaTable()->item(2, 1)->text(), QStringLiteral("李四"));
        QCOMPARE(w.bcaTable()->item(5, 7)->text(), indicators::bodytype::healthy);
        QCOMPARE(guard.seen, 0);
    }
    void failedInsertIsShownNotCounted_data()
    {
        QTest::addColumn<QString>("breakSql");
        QTest::addColumn<QString>("repairSql");
        QTest::addColumn<QString>("errorWord");
        QTest::newRow("read-only database") << "PRAGMA query_only = ON"
                                            << "PRAGMA query_only = OFF"
                                            << "readonly";
        QTest::newRow("Result table dropped") << "DROP TABLE Result"
                                              << "CREATE TABLE Result AS SELECT * FROM ResultCopy"
                                              << "no such table";
    }
    void failedInsertIsShownNotCounted()
    {
        QFETCH(QString, breakSql);
        QFETCH(QString, repairSql);
        QFETCH(QString, errorWord);
        MainWindow w;
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE ResultCopy AS SELECT * FROM Result")));
        global::tid = 4;
        global::currentTestID = 7;
        w.measurement() = listsFor("u#n#0#1990#");
        QSignalSpy spy(&w, &MainWindow::tidChanged);
        ModalGuard guard;

        QVERIFY2(q.exec(breakSql), qPrintable(q.lastError().text()));
        w.saveTestData();
        QCOMPARE(global::tid, 4);
        QCOMPARE(global::currentTestID, 7);
        QCOMPARE(spy.count(), 0);
        const QString state = w.stateEdit()->text();
        QVERIFY2(state.startsWith(QStringLiteral("测试数据保存失败：")), qPrintable(state));
        QVERIFY2(state.contains(errorWord, Qt::CaseInsensitive), qPrintable(state));
        QCOMPARE(guard.seen, 0);

        // Once the database works again the kept record is stored and counted.
        QVERIFY2(q.exec(repairSql), qPrintable(q.lastError().text()));
        w.saveTestData();
        QCOMPARE(global::tid, 5);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestMeasurementStore)
#include "tst_measurementstore.moc"
