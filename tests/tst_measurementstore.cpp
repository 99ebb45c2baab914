// Storing a measurement: every column from its list field, who was measured
// (analyzer person, Person name, PC-control values), the unit identifier,
// short and default lists, tid counting and its signal, failed inserts shown
// in the instrument-state field, and the detail table of the stored record.
#include "app/mainwindow.h"
#include "records/indicators.h"
#include "records/measurementstore.h"
#include "testsupport.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using measurementstore::PcControlPerson;
using measurementstore::saveMeasurement;

namespace {
bool logged(const QString &prefix)
{
    for (const QString &line : qAsConst(g_log)) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

QByteArray joined(const QList<QByteArray> &fields)
{
    QByteArray out;
    for (const QByteArray &f : fields)
        out += f + '#';
    return out;
}

QByteArray defaultRecord()
{
    return QByteArray("0#2000-01-01#") + QByteArray("0#").repeated(25);
}

const QStringList wholeColumns = {"Fat",
                                  "Bone",
                                  "Protein",
                                  "ICW",
                                  "ECW",
                                  "Muscle",
                                  "LBM",
                                  "Height",
                                  "Weight",
                                  "Standard_weight",
                                  "Weight_control",
                                  "Fat_control",
                                  "Muscle_control",
                                  "PBF",
                                  "SMM",
                                  "BMI",
                                  "WHR",
                                  "BMR",
                                  "Edema",
                                  "VFI",
                                  "Subcutaneous_fat"}; // fields 4 to 24
const QStringList segColumns = {"TR_fat", "TR_muscle", "TR_bone", "TR_water", "TR_LBM",
                                "LA_fat", "LA_muscle", "LA_bone", "LA_water", "LA_LBM",
                                "RA_fat", "RA_muscle", "RA_bone", "RA_water", "RA_LBM",
                                "LL_fat", "LL_muscle", "LL_bone", "LL_water", "LL_LBM",
                                "RL_fat", "RL_muscle", "RL_bone", "RL_water", "RL_LBM"}; // fields 2 to 26
const QStringList impColumns = {"RA5",   "LA5",   "TR5",   "RL5",   "LL5",   "RA50",  "LA50",
                                "TR50",  "RL50",  "LL50",  "RA100", "LA100", "TR100", "RL100",
                                "LL100", "RA250", "LA250", "TR250", "RL250", "LL250", "RA500",
                                "LA500", "TR500", "RL500", "LL500"}; // fields 2 to 26

// A whole-body list with a distinct value in every field and the given
// values where the derivations read.
QList<QByteArray> wholeFields(double fat, double pbf, double bmi, double edema, const QByteArray &bodyAge)
{
    QList<QByteArray> f = {"W1", "2024-05-06", "w2", "w3"};
    for (int i = 4; i <= 26; ++i)
        f << QByteArray::number(i + 0.25);
    f[4] = QByteArray::number(fat);
    f[17] = QByteArray::number(pbf);
    f[19] = QByteArray::number(bmi);
    f[22] = QByteArray::number(edema);
    f[25] = bodyAge;
    return f;
}

MeasurementLists listsFor(const QByteArray &person,
                          const QList<QByteArray> &whole = wholeFields(12, 20, 22, 0.38, "30"))
{
    MeasurementLists lists;
    lists.personData = person;
    lists.wholeData = joined(whole);
    lists.segData = defaultRecord();
    lists.impData = defaultRecord();
    return lists;
}

QSqlRecord rowOf(int testId)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT * FROM Result WHERE TestID = ?"));
    q.addBindValue(testId);
    if (!q.exec() || !q.next())
        return QSqlRecord();
    return q.record();
}

int resultRows()
{
    return testsupport::scalar(QStringLiteral("SELECT count(*) FROM Result")).toInt();
}

// Rejects any modal window that opens (saving must never show one) and
// counts them.
struct ModalGuard
{
    int seen = 0;
    QTimer timer;
    ModalGuard()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                ++seen;
                d->reject();
            }
        });
        timer.start();
    }
};
} // namespace

class TestMeasurementStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void sexComesFromTheAnalyzerCode();
    void nameComesFromTheLastPersonRow();
    void failedPersonLookupFailsTheSave();
    void unitIdentifierOrNull();
    void bodyAgeIsWholeYears();
    void shortAndGarbledLists();
    void saveTestDataCountsAndAnnounces();
    void failedInsertIsShownNotCounted_data();
    void failedInsertIsShownNotCounted();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMeasurementStore::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void TestMeasurementStore::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestMeasurementStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    g_log.clear();
}

void TestMeasurementStore::cleanup()
{
    releaseProcessState();
}

void TestMeasurementStore::sexComesFromTheAnalyzerCode()
{
    const struct
    {
        QByteArray code;
        QString stored;
    } cases[] = {{"1", "2"}, {"0", "1"}, {"2", "1"}, {"", "1"}, {"11", "1"}, {"x", "1"}};
    for (const auto &c : cases) {
        const auto out = saveMeasurement(listsFor("u#n#" + c.code + "#1990#"), PcControlPerson(), QString());
        QVERIFY(out.ok);
        QCOMPARE(rowOf(out.testId).value("Sex").toString(), c.stored);
    }
    // The sex drives the derivations: a man at Fat 12 has risk 20, the body type uses 10..20.
    const auto man = saveMeasurement(listsFor("u#n#0#1990#", wholeFields(12.0, 21.0, 22.0, 0.38, "30")),
                                     PcControlPerson(), QString());
    QCOMPARE(rowOf(man.testId).value("LiverRisk").toInt(), 20);
    QCOMPARE(rowOf(man.testId).value("BodyType").toString(), indicators::bodytype::excessFat);
    const auto woman = saveMeasurement(listsFor("u#n#1#1990#", wholeFields(12.0, 21.0, 22.0, 0.38, "30")),
                                       PcControlPerson(), QString());
    QCOMPARE(rowOf(woman.testId).value("LiverRisk").toInt(), 10);
    QCOMPARE(rowOf(woman.testId).value("BodyType").toString(), indicators::bodytype::healthy);
}

void TestMeasurementStore::nameComesFromTheLastPersonRow()
{
    QVERIFY(testsupport::addPerson(QStringLiteral("A12"), QStringLiteral("张三"), QStringLiteral("2"), 1970));
    QVERIFY(testsupport::addPerson(QStringLiteral("007"), QStringLiteral("李四"), QStringLiteral("1"), 1971));
    QVERIFY(testsupport::addPerson(QStringLiteral("D1"), QStringLiteral("旧名"), QStringLiteral("1"), 1972));
    QVERIFY(testsupport::addPerson(QStringLiteral("D1"), QStringLiteral("新名"), QStringLiteral("1"), 1973));
    QVERIFY(testsupport::addPerson(QStringLiteral("O'Neil"), QStringLiteral("奥尼尔"), QStringLiteral("1"),
                                   1974));
    const int people = testsupport::scalar(QStringLiteral("SELECT count(*) FROM Person")).toInt();

    const struct
    {
        QByteArray uid;
        QString name;
    } cases[] = {
        {"A12", "张三"}, {"007", "李四"},      {"7", ""}, // compared as text: 7 is not 007
        {"a12", ""},     {"D1", "新名"},       {"O'Neil", "奥尼尔"},
        {"nobody", ""},  {"x' OR '1'='1", ""},
    };
    for (const auto &c : cases) {
        const auto out = saveMeasurement(listsFor(c.uid + "#n#0#1990#"), PcControlPerson(), QString());
        QVERIFY2(out.ok, c.uid.constData());
        const QSqlRecord row = rowOf(out.testId);
        QCOMPARE(row.value("UID").toString(), QString::fromUtf8(c.uid));
        QCOMPARE(row.value("Name").toString(), c.name);
        QVERIFY(!row.value("Name").isNull());                       // nobody found: the empty name, not NULL
        QCOMPARE(row.value("Sex").toString(), QStringLiteral("1")); // analyzer code, not Person's "2"
        QCOMPARE(row.value("BirthYear").toInt(), 1990);
    }
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT count(*) FROM Person")).toInt(), people);
}

void TestMeasurementStore::failedPersonLookupFailsTheSave()
{
    // A wrong identity is never stored: the save fails and is tried again later.
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("DROP TABLE Person")));
    const auto out = saveMeasurement(listsFor("A12#n#0#1990#"), PcControlPerson(), QString());
    QVERIFY(!out.ok);
    QVERIFY(!out.error.isEmpty());
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT count(*) FROM Result")).toInt(), 0);
    QVERIFY(logged(QStringLiteral("查询失败！")));
}

void TestMeasurementStore::unitIdentifierOrNull()
{
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("UPDATE Unit SET UUID = ''")));
    auto out = saveMeasurement(listsFor("u#n#0#1990#"), PcControlPerson(), QString());
    QCOMPARE(out.uuid, QStringLiteral("Null"));
    QCOMPARE(rowOf(out.testId).value("UUID").toString(), QStringLiteral("Null"));

    QVERIFY(q.exec(QStringLiteral("DELETE FROM Unit")));
    out = saveMeasurement(listsFor("u#n#0#1990#"), PcControlPerson(), QString());
    QVERIFY(out.ok);
    QCOMPARE(rowOf(out.testId).value("UUID").toString(), QStringLiteral("Null"));
}

void TestMeasurementStore::bodyAgeIsWholeYears()
{
    const struct
    {
        QByteArray field;
        double stored;
    } cases[] = {{"36", 36.0}, {"36.5", 0.0}, {"abc", 0.0}, {"", 0.0}, {"-3", -3.0}};
    for (const auto &c : cases) {
        const auto out = saveMeasurement(listsFor("u#n#0#1990#", wholeFields(12, 20, 22, 0.38, c.field)),
                                         PcControlPerson(), QString());
        QVERIFY(out.ok);
        QCOMPARE(rowOf(out.testId).value("Body_age").toDouble(), c.stored);
    }
}

void TestMeasurementStore::shortAndGarbledLists()
{
    // Nothing at all: a row of zeros with empty user number and date.
    MeasurementLists empty;
    auto out = saveMeasurement(empty, PcControlPerson(), QStringLiteral("消瘦型"));
    QVERIFY2(out.ok, qPrintable(out.error));
    QSqlRecord row = rowOf(out.testId);
    QCOMPARE(row.value("UID").toString(), QString());
    QVERIFY(!row.value("UID").isNull());
    QCOMPARE(row.value("TestDate").toString(), QString());
    QVERIFY(!row.value("TestDate").isNull());
    QCOMPARE(row.value("BirthYear").toInt(), 0);
    QCOMPARE(row.value("Sex").toString(), QStringLiteral("1"));
    for (const QString &c : wholeColumns + segColumns + impColumns)
        QCOMPARE(row.value(c).toDouble(), 0.0);
    QCOMPARE(row.value("LiverRisk").toInt(), 0);
    // BMI 0 and PBF 0 are numbers: the body type is decided, not carried over.
    QCOMPARE(row.value("BodyType").toString(), indicators::bodytype::thin);

    // Lists cut short: what is there is stored, the rest is 0.
    MeasurementLists cut;
    cut.personData = "B7#n";
    cut.wholeData = "W#2024-06-01#a#b#18.5#2.5";
    cut.segData = "0#2000-01-01#1.5";
    cut.impData = "0#";
    out = saveMeasurement(cut, PcControlPerson(), QString());
    QVERIFY(out.ok);
    row = rowOf(out.testId);
    QCOMPARE(row.value("UID").toString(), QStringLiteral("B7"));
    QCOMPARE(row.value("Sex").toString(), QStringLiteral("1"));
    QCOMPARE(row.value("TestDate").toString(), QStringLiteral("2024-06-01"));
    QCOMPARE(row.value("Fat").toDouble(), 18.5);
    QCOMPARE(row.value("Bone").toDouble(), 2.5);
    QCOMPARE(row.value("Protein").toDouble(), 0.0);
    QCOMPARE(row.value("Score").toDouble(), 0.0);
    QCOMPARE(row.value("TR_fat").toDouble(), 1.5);
    QCOMPARE(row.value("TR_muscle").toDouble(), 0.0);
    QCOMPARE(row.value("LiverRisk").toInt(), 70); // a man: 17.7 <= 18.5 < 19.3

    // Fields that are no numbers count as 0.
    QList<QByteArray> whole = wholeFields(12, 20, 22, 0.38, "30");
    whole[5] = "x1";
    whole[12] = "--";
    MeasurementLists garbled = listsFor("u#n#0#19y0#", whole);
    out = saveMeasurement(garbled, PcControlPerson(), QString());
    QVERIFY(out.ok);
    row = rowOf(out.testId);
    QCOMPARE(row.value("Bone").toDouble(), 0.0);
    QCOMPARE(row.value("Weight").toDouble(), 0.0);
    QCOMPARE(row.value("BirthYear").toInt(), 0);
    QCOMPARE(row.value("Fat").toDouble(), 12.0);
}

void TestMeasurementStore::saveTestDataCountsAndAnnounces()
{
    QVERIFY(testsupport::addPerson(QStringLiteral("007"), QStringLiteral("李四"), QStringLiteral("1"), 1971));
    MainWindow w;
    QSignalSpy spy(&w, &MainWindow::tidChanged);
    global::tid = 0;
    global::currentTestID = 5;
    global::currentDataIndex = 3;
    w.measurement() = listsFor("007#n#1#1990#", wholeFields(12, 30, 25, 0.38, "30"));
    ModalGuard guard;

    w.saveTestData();
    QCOMPARE(global::tid, 1);
    QCOMPARE(global::currentTestID, 0);
    QCOMPARE(global::currentDataIndex, -1);
    QCOMPARE(global::currentPerson, QStringLiteral("007"));
    QCOMPARE(global::bodyType, indicators::bodytype::obese);
    QCOMPARE(w.unitId(), QStringLiteral("U0001"));
    QVERIFY(logged(QStringLiteral("Now, tid = ")));
    const int first = testsupport::scalar(QStringLiteral("SELECT max(TestID) FROM Result")).toInt();
    // tidChanged shows the new record on the body-composition page.
    QCOMPARE(w.bcaTable()->item(1, 1)->text(), QString::number(first));
    QCOMPARE(w.bcaTable()->item(2, 1)->text(), QStringLiteral("李四"));
    QCOMPARE(w.bcaTable()->item(5, 7)->text(), indicators::bodytype::obese);

    w.measurement().wholeData = joined(wholeFields(12, 22, 21, 0.38, "30"));
    w.saveTestData();
    QCOMPARE(global::tid, 2);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);
    QCOMPARE(spy.at(1).at(0).toInt(), 2);
    QCOMPARE(resultRows(), 2);
    QCOMPARE(w.bcaTable()->item(1, 1)->text(), QString::number(first + 1));
    QCOMPARE(global::bodyType, indicators::bodytype::healthy);
    QCOMPARE(guard.seen, 0);
}

void TestMeasurementStore::failedInsertIsShownNotCounted_data()
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

void TestMeasurementStore::failedInsertIsShownNotCounted()
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
    w.stateEdit()->setText(QStringLiteral("收到阻抗数据 "));
    QSignalSpy spy(&w, &MainWindow::tidChanged);
    ModalGuard guard;

    QVERIFY2(q.exec(breakSql), qPrintable(q.lastError().text()));
    g_log.clear();
    w.saveTestData();
    QCOMPARE(global::tid, 4);
    QCOMPARE(global::currentTestID, 7);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!logged(QStringLiteral("测试数据已插入!")));
    QVERIFY(!logged(QStringLiteral("Now, tid = ")));
    const QString state = w.stateEdit()->text();
    QVERIFY2(state.startsWith(QStringLiteral("测试数据保存失败：")), qPrintable(state));
    QVERIFY2(state.contains(errorWord, Qt::CaseInsensitive), qPrintable(state));
    // The database error is in the log as well.
    bool errorLogged = false;
    for (const QString &line : qAsConst(g_log))
        errorLogged = errorLogged || (line.contains(QStringLiteral("QSqlError")) && line.contains(errorWord));
    QVERIFY(errorLogged);
    QCOMPARE(guard.seen, 0);

    // Once the database works again the next measurement is stored and counted.
    QVERIFY2(q.exec(repairSql), qPrintable(q.lastError().text()));
    QCOMPARE(resultRows(), 0);
    w.saveTestData();
    QCOMPARE(global::tid, 5);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(resultRows(), 1);
}

QTEST_MAIN(TestMeasurementStore)
#include "tst_measurementstore.moc"
