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
QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        g_log << message;
        return;
    }
    g_previousHandler(type, context, message);
}

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

QList<QByteArray> numberedFields(double base, double step)
{
    QList<QByteArray> f = {"S0", "2024-05-06"};
    for (int i = 2; i <= 26; ++i)
        f << QByteArray::number(base + i * step);
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

bool addPerson(const QString &uid, const QString &name, const QString &sex, int birthYear)
{
    QSqlQuery q;
    q.prepare(QStringLiteral(
        "INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height) VALUES ('U', ?, ?, ?, ?, 170)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(sex);
    q.addBindValue(birthYear);
    return q.exec();
}

double r2(double x)
{
    return QString::number(x, 'f', 2).toDouble();
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

    void everyColumnFromItsField();
    void sexComesFromTheAnalyzerCode();
    void nameComesFromTheLastPersonRow();
    void failedPersonLookupStoresDash();
    void unitIdentifierOrNull();
    void pcControlValues();
    void defaultRecordsTakeTheMuscleMethod();
    void bodyAgeIsWholeYears();
    void shortAndGarbledLists();
    void saveTestDataCountsAndAnnounces();
    void saveTestDataInPcControlKeepsCurrentPerson();
    void failedInsertIsShownNotCounted_data();
    void failedInsertIsShownNotCounted();
    void detailTableShowsTheChosenTest();

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

void TestMeasurementStore::everyColumnFromItsField()
{
    QVERIFY(addPerson(QStringLiteral("A12"), QStringLiteral("张三"), QStringLiteral("1"), 1950));
    const QList<QByteArray> whole = wholeFields(15.2, 25.0, 22.0, 0.38, "41");
    const QList<QByteArray> seg = numberedFields(1.0, 0.5);
    const QList<QByteArray> imp = numberedFields(300.0, 3.0); // RA50 = 321: impedance method
    MeasurementLists lists;
    lists.personData = "A12#x#1#1985#";
    lists.wholeData = joined(whole);
    lists.segData = joined(seg);
    lists.impData = joined(imp);

    const auto out = saveMeasurement(lists, PcControlPerson(), QString());
    QVERIFY2(out.ok, qPrintable(out.error));
    QVERIFY(out.testId > 0);
    QCOMPARE(resultRows(), 1);
    const QSqlRecord row = rowOf(out.testId);

    QCOMPARE(row.value("UUID").toString(), QStringLiteral("U0001"));
    QCOMPARE(row.value("UID").toString(), QStringLiteral("A12"));
    QCOMPARE(row.value("Name").toString(), QStringLiteral("张三"));
    QCOMPARE(row.value("Sex").toString(), QStringLiteral("2")); // analyzer code 1 is a woman
    QCOMPARE(row.value("BirthYear").toInt(), 1985);             // the analyzer's, not Person's
    QCOMPARE(row.value("TestDate").toString(), QStringLiteral("2024-05-06"));
    for (int i = 0; i < wholeColumns.size(); ++i)
        QCOMPARE(row.value(wholeColumns.at(i)).toDouble(), whole.at(i + 4).toDouble());
    QCOMPARE(row.value("Body_age").toDouble(), 41.0);
    QCOMPARE(row.value("Score").toDouble(), whole.at(26).toDouble());
    for (int i = 0; i < segColumns.size(); ++i)
        QCOMPARE(row.value(segColumns.at(i)).toDouble(), seg.at(i + 2).toDouble());
    for (int i = 0; i < impColumns.size(); ++i)
        QCOMPARE(row.value(impColumns.at(i)).toDouble(), imp.at(i + 2).toDouble());

    // Derived values, from the stored inputs.
    QCOMPARE(row.value("Water").toDouble(), whole.at(7).toDouble() + whole.at(8).toDouble());
    QCOMPARE(row.value("BodyType").toString(), indicators::bodytype::healthy); // female limits 18..28
    QCOMPARE(row.value("LiverRisk").toInt(), 30);                              // woman, 14.7 <= 15.2 < 16.1
    const QStringList codes = {"RA", "LA", "TR", "RL", "LL"};
    for (const QString &code : codes) {
        const double z = row.value(code + "50").toDouble();
        const double offset = code == QLatin1String("TR") ? 0.03 : 0.02;
        const double edema = r2(1 - (1 - 0.38) * (1 + 0.1 * (z - 300) / 300) - offset);
        const double water = row.value(code + "_water").toDouble();
        const double ecw = r2(water * edema);
        QCOMPARE(row.value(code + "_edema").toDouble(), edema);
        QCOMPARE(row.value(code + "_ECW").toDouble(), ecw);
        QCOMPARE(row.value(code + "_ICW").toDouble(), r2(water - ecw));
    }
    QCOMPARE(out.bodyType, indicators::bodytype::healthy);
    QCOMPARE(out.uid, QStringLiteral("A12"));
    QVERIFY(out.collectionMode);
    QVERIFY(logged(QStringLiteral("测试数据已插入!")));
    QVERIFY(logged(QStringLiteral("当有节段阻抗数据时")));
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
    QVERIFY(addPerson(QStringLiteral("A12"), QStringLiteral("张三"), QStringLiteral("2"), 1970));
    QVERIFY(addPerson(QStringLiteral("007"), QStringLiteral("李四"), QStringLiteral("1"), 1971));
    QVERIFY(addPerson(QStringLiteral("D1"), QStringLiteral("旧名"), QStringLiteral("1"), 1972));
    QVERIFY(addPerson(QStringLiteral("D1"), QStringLiteral("新名"), QStringLiteral("1"), 1973));
    QVERIFY(addPerson(QStringLiteral("O'Neil"), QStringLiteral("奥尼尔"), QStringLiteral("1"), 1974));
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

void TestMeasurementStore::failedPersonLookupStoresDash()
{
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("DROP TABLE Person")));
    const auto out = saveMeasurement(listsFor("A12#n#0#1990#"), PcControlPerson(), QString());
    QVERIFY(out.ok);
    QCOMPARE(rowOf(out.testId).value("Name").toString(), QStringLiteral("-"));
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

void TestMeasurementStore::pcControlValues()
{
    QVERIFY(addPerson(QStringLiteral("A12"), QStringLiteral("张三"), QStringLiteral("1"), 1970));
    PcControlPerson pc;
    pc.uid = QStringLiteral("P-01");
    pc.name = QStringLiteral("王五");
    pc.sex = QStringLiteral("2");
    pc.birthYear = 1988;
    // The analyzer's person list names someone else; PC control wins.
    const auto out =
        saveMeasurement(listsFor("A12#n#0#1960#", wholeFields(12.0, 21.0, 22.0, 0.38, "30")), pc, QString());
    QVERIFY(out.ok);
    QVERIFY(!out.collectionMode);
    const QSqlRecord row = rowOf(out.testId);
    QCOMPARE(row.value("UID").toString(), QStringLiteral("P-01"));
    QCOMPARE(row.value("Name").toString(), QStringLiteral("王五"));
    QCOMPARE(row.value("Sex").toString(), QStringLiteral("2"));
    QCOMPARE(row.value("BirthYear").toInt(), 1988);
    QCOMPARE(row.value("LiverRisk").toInt(), 10); // woman's ladder
    QVERIFY(logged(QStringLiteral("UID in PCCtrol mode saved is: ")));
}

void TestMeasurementStore::defaultRecordsTakeTheMuscleMethod()
{
    const auto out = saveMeasurement(listsFor("u#n#0#1990#", wholeFields(12, 20, 22, 0.384, "30")),
                                     PcControlPerson(), QString());
    QVERIFY(out.ok);
    const QSqlRecord row = rowOf(out.testId);
    for (const QString &c : impColumns + segColumns)
        QCOMPARE(row.value(c).toDouble(), 0.0);
    for (const QString code : {"RA", "LA", "TR", "RL", "LL"}) {
        QCOMPARE(row.value(code + "_edema").toDouble(), 0.38); // roundTo2(Edema)
        QCOMPARE(row.value(code + "_ECW").toDouble(), 0.0);
        QCOMPARE(row.value(code + "_ICW").toDouble(), 0.0);
    }
    QVERIFY(!logged(QStringLiteral("当有节段阻抗数据时")));

    // Segments present, impedance missing: each segment's own muscle mass sets
    // its coefficient (a limb lowers it, the trunk raises it).
    MeasurementLists lists = listsFor("u#n#0#1990#", wholeFields(12, 20, 22, 0.38, "30"));
    const struct
    {
        QString code;
        int muscleField;
        double muscle;
        double water;
        double edema;
    } segs[] = {{"TR", 3, 25, 20, 0.39},   // 1.025 * 0.38 = 0.3895
                {"LA", 8, 100, 2, 0.34},   // 0.9 * 0.38 = 0.342
                {"RA", 13, 50, 10, 0.36},  // 0.95 * 0.38 = 0.361
                {"LL", 18, 200, 4, 0.3},   // 0.8 * 0.38 = 0.304
                {"RL", 23, 150, 5, 0.32}}; // 0.85 * 0.38 = 0.323
    QList<QByteArray> seg = numberedFields(0, 0);
    for (const auto &s : segs) {
        seg[s.muscleField] = QByteArray::number(s.muscle);
        seg[s.muscleField + 2] = QByteArray::number(s.water);
    }
    lists.segData = joined(seg);
    const QSqlRecord withSeg = rowOf(saveMeasurement(lists, PcControlPerson(), QString()).testId);
    for (const auto &s : segs) {
        QCOMPARE(withSeg.value(s.code + "_muscle").toDouble(), s.muscle);
        QCOMPARE(withSeg.value(s.code + "_edema").toDouble(), s.edema);
        QCOMPARE(withSeg.value(s.code + "_ECW").toDouble(), r2(s.water * s.edema));
        QCOMPARE(withSeg.value(s.code + "_ICW").toDouble(), r2(s.water - r2(s.water * s.edema)));
    }
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
    QVERIFY(addPerson(QStringLiteral("007"), QStringLiteral("李四"), QStringLiteral("1"), 1971));
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

void TestMeasurementStore::saveTestDataInPcControlKeepsCurrentPerson()
{
    MainWindow w;
    global::PCCtrlUID = QStringLiteral("P9");
    global::PCCtrlName = QStringLiteral("赵六");
    global::PCCtrlSex = QStringLiteral("1");
    global::PCCtrlBirthYear = 1979;
    global::currentPerson = QStringLiteral("chosen");
    w.measurement() = listsFor("A12#n#1#1960#");
    w.saveTestData();
    QCOMPARE(global::tid, 1);
    QCOMPARE(global::currentPerson, QStringLiteral("chosen"));
    const QSqlRecord row =
        rowOf(testsupport::scalar(QStringLiteral("SELECT max(TestID) FROM Result")).toInt());
    QCOMPARE(row.value("UID").toString(), QStringLiteral("P9"));
    QCOMPARE(row.value("Name").toString(), QStringLiteral("赵六"));
    QCOMPARE(row.value("Sex").toString(), QStringLiteral("1"));
    QCOMPARE(row.value("BirthYear").toInt(), 1979);
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

void TestMeasurementStore::detailTableShowsTheChosenTest()
{
    QSqlQuery q;
    // Explicit keys, inserted out of order: the newest is the highest key.
    QVERIFY(q.exec(QStringLiteral(
        "INSERT INTO Result (TestID, UID, Name, Sex, Height, TestDate, Weight, Standard_weight, "
        "Weight_control, LBM, Body_age, Score, Water, Fat, PBF, Protein, Muscle, Bone, BMI, BMR, VFI, WHR, "
        "SMM, BodyType) VALUES (500, 'A12', '张三', '2', 165, '2024-05-06', 61.25, 58.04, -3.26, 45.5, 36, "
        "81.96, 33.3, 15.75, 25.6, 9.1, 41.2, 2.9, 22.49, 1350.5, 7.0, 0.86, 24.04, '健康匀称型')")));
    QVERIFY(q.exec(
        QStringLiteral("INSERT INTO Result (TestID, UID, Name, Weight) VALUES (200, 'B1', '李四', 70)")));
    QVERIFY(q.exec(
        QStringLiteral("INSERT INTO Result (TestID, UID, Name, Weight) VALUES (300, 'C1', '王五', 80)")));
    MainWindow w;
    QTableWidget *t = w.bcaTable();
    const auto cell = [t](int r, int c) { return t->item(r, c) ? t->item(r, c)->text() : QString(); };

    global::currentTestID = 0;
    w.displayData();
    const QStringList expected[4] = {
        {"A12", "500", "张三", "2", "165", "2024-05-06"},
        {"61.3", "58.0", "-3.3", "45.5", "36", "82.0"},
        {"33.3", "15.8", "25.6", "9.1", "41.2", "2.9"},
        {"22.5", "1350.5", "7.0", "0.9", "24.0", "健康匀称型"},
    };
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 6; ++r)
            QCOMPARE(cell(r, c * 2 + 1), expected[c].at(r));
    }
    // The label columns stay as built.
    QCOMPARE(cell(0, 0), QStringLiteral("用户编号"));
    QCOMPARE(cell(5, 6), QStringLiteral("体型判定"));

    global::currentTestID = 200;
    w.displayData();
    QCOMPARE(cell(1, 1), QStringLiteral("200"));
    QCOMPARE(cell(2, 1), QStringLiteral("李四"));
    QCOMPARE(cell(0, 3), QStringLiteral("70.0"));
    QCOMPARE(cell(4, 3), QString()); // no body age stored
    QCOMPARE(cell(1, 3), QStringLiteral("0.0"));

    // A deleted test: empty texts and 0.0 numbers.
    QVERIFY(q.exec(QStringLiteral("DELETE FROM Result WHERE TestID = 200")));
    w.displayData();
    for (int r = 0; r < 6; ++r)
        QCOMPARE(cell(r, 1), QString());
    QCOMPARE(cell(4, 3), QString());
    QCOMPARE(cell(5, 7), QString());
    QCOMPARE(cell(0, 3), QStringLiteral("0.0"));
    QCOMPARE(cell(5, 5), QStringLiteral("0.0"));
    QCOMPARE(cell(4, 7), QStringLiteral("0.0"));

    // A failed query leaves the table as it was.
    global::currentTestID = 300;
    w.displayData();
    QCOMPARE(cell(2, 1), QStringLiteral("王五"));
    QVERIFY(q.exec(QStringLiteral("DROP TABLE Result")));
    g_log.clear();
    global::currentTestID = 0;
    w.displayData();
    QVERIFY(logged(QStringLiteral("查询失败！")));
    QCOMPARE(cell(2, 1), QStringLiteral("王五"));
    QCOMPARE(cell(0, 3), QStringLiteral("80.0"));
}

QTEST_MAIN(TestMeasurementStore)
#include "tst_measurementstore.moc"
