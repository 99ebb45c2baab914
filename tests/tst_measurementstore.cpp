// Storing a measurement: who was measured (analyzer sex code, Person name,
// unit identifier), whole-year body age, short and garbled lists, the slot's
// counting and detail table, and failed saves (also a failed person lookup)
// that keep the record for the next try without a box.
#include "app/mainwindow.h"
#include "records/indicators.h"
#include "records/measurementstore.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QSqlError>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using measurementstore::PcControlPerson;
using measurementstore::saveMeasurement;
using testsupport::count;

namespace {
// A whole-body list with a distinct value in every field and the given
// values where the derivations read (fat 4, PBF 17, BMI 19, edema 22, age 25).
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

// "Column=value ..." for the columns named in |pattern| ("UID= Sex=") of the
// row; NULL shows as <null>.
QString rowText(int testId, const QString &pattern)
{
    QSqlQuery q;
    if (!q.exec(QStringLiteral("SELECT * FROM Result WHERE TestID = %1").arg(testId)) || !q.next())
        return QStringLiteral("no row");
    QStringList out;
    for (const QString &pair : pattern.split(QLatin1Char(' '))) {
        const QVariant v = q.value(pair.section(QLatin1Char('='), 0, 0));
        out << pair.section(QLatin1Char('='), 0, 0) + '=' +
                   (v.isNull() ? QStringLiteral("<null>") : v.toString());
    }
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestMeasurementStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
        QVERIFY(QSqlQuery().exec(
            "INSERT INTO Person (UID, Name, Sex) VALUES ('A12', '张三', '2'), ('007', '李四', "
            "'1'), ('D1', '旧名', '1'), ('D1', '新名', '1'), ('O''Neil', '奥尼尔', '1')"));
    }
    void cleanup() { releaseProcessState(); }

    void storedRow_data()
    {
        QTest::addColumn<QString>("setupSql");
        QTest::addColumn<QString>("person"); // the analyzer's person list
        QTest::addColumn<QString>("bodyAge");
        QTest::addColumn<QString>("stored");
        const auto add = [](const QString &name, const char *setup, const QString &person, const QString &age,
                            const QString &stored) {
            QTest::newRow(qPrintable(name)) << QString(setup) << person << age << stored;
        };
        // The analyzer codes a woman as 1; she gets the female limits (fat 12, PBF 21, BMI 22).
        add("sex code 1", "", "u#n#1#1990#", "30",
            "Sex=2 LiverRisk=10 BodyType=" + indicators::bodytype::healthy);
        add("sex code 0", "", "u#n#0#1990#", "30",
            "Sex=1 LiverRisk=20 BodyType=" + indicators::bodytype::excessFat);
        for (const char *code : {"2", "", "11", "x"})
            add(QStringLiteral("sex code '%1'").arg(code), "", QStringLiteral("u#n#%1#1990#").arg(code), "30",
                "Sex=1");
        // The name is the last Person row's with the same user number, compared as
        // text; the sex and birth year stay the analyzer's.
        add("registered", "", "A12#n#0#1990#", "30", "UID=A12 Name=张三 Sex=1 BirthYear=1990");
        add("007 is not 7", "", "7#n#0#1990#", "30", "UID=7 Name=");
        add("case counts", "", "a12#n#0#1990#", "30", "Name=");
        add("registered twice", "", "D1#n#0#1990#", "30", "Name=新名");
        add("apostrophe", "", "O'Neil#n#0#1990#", "30", "UID=O'Neil Name=奥尼尔");
        add("injection", "", "x' OR '1'='1#n#0#1990#", "30", "Name=");
        // The unit identifier, "Null" when there is none.
        add("unit", "", "u#n#0#1990#", "30", "UUID=U0001");
        add("unit empty", "UPDATE Unit SET UUID = ''", "u#n#0#1990#", "30", "UUID=Null");
        add("no unit", "DELETE FROM Unit", "u#n#0#1990#", "30", "UUID=Null");
        // Body age in whole years only.
        for (const QString age : {"36", "36.5", "abc", "", "-3"})
            add("body age " + age, "", "u#n#0#1990#", age, QStringLiteral("Body_age=%1").arg(age.toInt()));
    }
    void storedRow()
    {
        QFETCH(QString, setupSql);
        QFETCH(QString, person);
        QFETCH(QString, bodyAge);
        QFETCH(QString, stored);
        QSqlQuery q;
        QVERIFY2(setupSql.isEmpty() || q.exec(setupSql), qPrintable(q.lastError().text()));
        const auto out = saveMeasurement(listsFor(person.toUtf8(), wholeList(21, 22, bodyAge.toUtf8())),
                                         PcControlPerson(), QString());
        QVERIFY2(out.ok, qPrintable(out.error));
        QCOMPARE(rowText(out.testId, stored), stored);
        QCOMPARE(count("SELECT count(*) FROM Person"), 5); // nobody registered by a save
    }

    void shortAndGarbledLists()
    {
        // Nothing at all: a row of zeros with empty user number and date; BMI 0
        // and PBF 0 are numbers, so the body type is decided, not carried over.
        auto out = saveMeasurement(MeasurementLists(), PcControlPerson(), QStringLiteral("消瘦型"));
        QVERIFY2(out.ok, qPrintable(out.error));
        const QString empty =
            "UID= TestDate= BirthYear=0 Sex=1 Fat=0 RL_LBM=0 LL500=0 LiverRisk=0 BodyType=" +
            indicators::bodytype::thin;
        QCOMPARE(rowText(out.testId, empty), empty);
        // Lists cut short: what is there is stored, the rest is 0; fields that are
        // no numbers count as 0 (a man: 17.7 <= 18.5 < 19.3).
        out = saveMeasurement({"B7#n#0#19y0", "W#2024-06-01#a#b#18.5#x1#--", "0#2000-01-01#1.5", "0#"},
                              PcControlPerson(), QString());
        const QString cut = "UID=B7 BirthYear=0 TestDate=2024-06-01 Fat=18.5 Bone=0 Protein=0 TR_fat=1.5 "
                            "TR_muscle=0 LiverRisk=70";
        QCOMPARE(rowText(out.testId, cut), cut);
    }

    // The segment and impedance lists in their columns (every value distinct),
    // and per segment: ECW = water x edema, ICW = water - ECW, and an arm or
    // leg of higher impedance (impedance method) or more muscle (muscle
    // method, no impedance) gets the lower edema coefficient of its pair.
    void segmentValuesInTheirColumns()
    {
        // List order of the segment list: five quantities per segment.
        const QStringList segs = {"TR", "LA", "RA", "LL", "RL"};
        const QStringList quantities = {"fat", "muscle", "bone", "water", "LBM"};
        // The impedance list: five segments per frequency.
        const QStringList impSegs = {"RA", "LA", "TR", "RL", "LL"};
        const QStringList freqs = {"5", "50", "100", "250", "500"};
        for (const bool impedance : {true, false}) {
            QByteArray seg = "0#2000-01-01#", imp = seg;
            QStringList expected;
            for (int i = 0; i < 25; ++i) {
                // Far enough apart that the pairs' edema coefficients differ in two decimals.
                const double s = 20 + i * 9.7 + (i % 2) * 23;
                seg += QByteArray::number(s) + '#';
                expected << segs[i / 5] + '_' + quantities[i % 5] + '=' + QString::number(s);
                const double z = impedance ? 250 + 37 * i + (i % 3) * 53 : 0;
                imp += QByteArray::number(z) + '#';
                expected << impSegs[i % 5] + freqs[i / 5] + '=' + QString::number(z);
            }
            const auto out =
                saveMeasurement({"u#n#0#1990#", wholeList(), seg, imp}, PcControlPerson(), QString());
            QVERIFY2(out.ok, qPrintable(out.error));
            QCOMPARE(rowText(out.testId, expected.join(' ')), expected.join(' '));

            const auto value = [&out](const QString &column) {
                return testsupport::scalar(QStringLiteral("SELECT %1 FROM Result WHERE TestID = %2")
                                               .arg(column)
                                               .arg(out.testId))
                    .toDouble();
            };
            for (const QString &sg : segs) {
                const double water = value(sg + "_water"), edema = value(sg + "_edema");
                const double ecw = value(sg + "_ECW"), icw = value(sg + "_ICW");
                QVERIFY2(std::fabs(ecw - water * edema) <= 0.006 && std::fabs(icw - (water - ecw)) <= 0.006,
                         qPrintable(QStringLiteral("%1 water %2 edema %3 ECW %4 ICW %5")
                                        .arg(sg)
                                        .arg(water)
                                        .arg(edema)
                                        .arg(ecw)
                                        .arg(icw)));
            }
            for (const QString pair : {"LA RA", "LL RL"}) {
                const QString a = pair.section(' ', 0, 0), b = pair.section(' ', 1, 1);
                const double byA = impedance ? value(a + "50") : value(a + "_muscle");
                const double byB = impedance ? value(b + "50") : value(b + "_muscle");
                QVERIFY(byA != byB);
                QCOMPARE(value(a + "_edema") < value(b + "_edema"), byA > byB);
            }
        }
    }

    void saveTestDataCountsAndShows()
    {
        MainWindow w;
        QSignalSpy spy(&w, &MainWindow::tidChanged);
        global::tid = 0;
        global::currentTestID = 5;
        // A woman with BMI 25 and PBF 30, then with BMI 21 and PBF 22; saving never shows a box.
        QVERIFY(!testsupport::boxOf([&w] {
                     w.measurement() = listsFor("007#n#1#1990#", wholeList(30, 25));
                     w.saveTestData();
                     w.measurement().wholeData = wholeList(22, 21);
                     w.saveTestData();
                 }).seen);
        QCOMPARE(global::tid, 2);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 2);
        QCOMPARE(global::currentTestID, 0);
        QCOMPARE(global::currentPerson, QStringLiteral("007"));
        QCOMPARE(count("SELECT count(*) FROM Result WHERE BodyType = '" + indicators::bodytype::obese + "'"),
                 1);
        // tidChanged shows the newest record on the body-composition page.
        QCOMPARE(w.bcaTable()->item(1, 1)->text() + w.bcaTable()->item(2, 1)->text() +
                     w.bcaTable()->item(5, 7)->text(),
                 testsupport::scalar("SELECT max(TestID) FROM Result").toString() + "李四" +
                     indicators::bodytype::healthy);
    }

    // The body-composition page: each stored column in its own cell, numbers
    // with one decimal; every value distinct, the whole grid compared.
    void detailPageShowsEachColumnInItsCell()
    {
        const QStringList columns = {
            "UID",  "Name",     "Sex",   "Height", "TestDate", "Weight", "Standard_weight", "Weight_control",
            "LBM",  "Body_age", "Score", "Water",  "Fat",      "PBF",    "Protein",         "Muscle",
            "Bone", "BMI",      "BMR",   "VFI",    "WHR",      "SMM",    "bodyType"};
        const QVariantList values = {"D-42", "钱七", "2",    171,   "2026-03-04", 63.44, 58.06,       5.38,
                                     47.12,  33,     78.26,  34.51, 16.32,        25.73, 9.14,        41.66,
                                     2.87,   21.66,  1467.2, 7.04,  0.86,         28.43, "健康匀称型"};
        QSqlQuery insert;
        insert.prepare("INSERT INTO Result (" + columns.join(", ") + ") VALUES (?" +
                       QStringLiteral(", ?").repeated(columns.size() - 1) + ")");
        for (const QVariant &v : values)
            insert.addBindValue(v);
        QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
        const QString id = insert.lastInsertId().toString();

        MainWindow w;
        global::currentTestID = id.toInt();
        w.displayData();
        QStringList grid;
        for (int row = 0; row < 6; ++row) {
            QStringList line;
            for (int column : {1, 3, 5, 7}) {
                const QTableWidgetItem *item = w.bcaTable()->item(row, column);
                line << (item ? item->text() : QStringLiteral("<none>"));
            }
            grid << line.join(" | ");
        }
        QCOMPARE(grid, (QStringList{"D-42 | 63.4 | 34.5 | 21.7", id + " | 58.1 | 16.3 | 1467.2",
                                    "钱七 | 5.4 | 25.7 | 7.0", "2 | 47.1 | 9.1 | 0.9",
                                    "171 | 33 | 41.7 | 28.4", "2026-03-04 | 78.3 | 2.9 | 健康匀称型"}));
        global::currentTestID = 0;
    }

    void failedSaveIsShownAndRetried_data()
    {
        QTest::addColumn<QString>("breakSql");
        QTest::addColumn<QString>("repairSql");
        QTest::addColumn<QString>("errorWord");
        const auto add = [](const char *name, const char *breakSql, const char *repairSql,
                            const char *error) {
            QTest::newRow(name) << QString(breakSql) << QString(repairSql) << QString(error);
        };
        // The reason is shown in Chinese.
        add("read-only database", "PRAGMA query_only = ON", "PRAGMA query_only = OFF", "只读");
        add("Result table dropped", "DROP TABLE Result", "CREATE TABLE Result AS SELECT * FROM ResultCopy",
            "数据表不存在: Result");
        // A wrong identity is never stored: a failed person lookup fails the save.
        add("person lookup failed", "DROP TABLE Person", "CREATE TABLE Person AS SELECT * FROM PersonCopy",
            "数据表不存在: Person");
    }
    void failedSaveIsShownAndRetried()
    {
        QFETCH(QString, breakSql);
        QFETCH(QString, repairSql);
        QFETCH(QString, errorWord);
        MainWindow w;
        QSqlQuery q;
        QVERIFY(q.exec("CREATE TABLE ResultCopy AS SELECT * FROM Result"));
        QVERIFY(q.exec("CREATE TABLE PersonCopy AS SELECT * FROM Person"));
        global::tid = 4;
        global::currentTestID = 7;
        w.measurement() = listsFor("A12#n#0#1990#");
        QSignalSpy spy(&w, &MainWindow::tidChanged);
        QVERIFY2(q.exec(breakSql), qPrintable(q.lastError().text()));
        QVERIFY(!testsupport::boxOf([&w] { w.saveTestData(); }).seen); // a download goes on, no box
        QCOMPARE(global::tid, 4);
        QCOMPARE(global::currentTestID, 7);
        QCOMPARE(spy.count(), 0);
        const QString state = w.stateEdit()->text();
        QVERIFY2(state.startsWith(QStringLiteral("测试数据保存失败：")) &&
                     state.contains(errorWord, Qt::CaseInsensitive),
                 qPrintable(state));
        // Once the database works again the kept record is stored and counted.
        QVERIFY2(q.exec(repairSql), qPrintable(q.lastError().text()));
        w.saveTestData();
        QCOMPARE(global::tid, 5);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(count("SELECT count(*) FROM Result WHERE Name = '张三'"), 1);
    }
};

QTEST_MAIN(TestMeasurementStore)
#include "tst_measurementstore.moc"
