// The supplied database: column positions the program relies on, seed rows,
// keys that are never reused, and the check for a file without tables.
#include "app/database.h"
#include "testsupport.h"

#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::scalar;

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void columnsSitWhereTheProgramReadsThem();
    void seedRowsLetAFreshInstallWork();
    void printLayoutFitsThePage();
    void deletedTestNumbersAreNeverReused();
    void emptyFileIsReportedWithItsPath();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_db;
};

void TestDatabase::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_db = m_dir->filePath(QStringLiteral("maindb.db"));
    QVERIFY(testsupport::startProcessOn(m_db));
}

void TestDatabase::cleanup()
{
    releaseProcessState();
}

static QStringList columnsOf(const QString &table)
{
    QSqlTableModel model;
    model.setTable(table);
    QStringList names;
    const QSqlRecord rec = model.record();
    for (int i = 0; i < rec.count(); ++i)
        names << rec.fieldName(i);
    return names;
}

void TestDatabase::columnsSitWhereTheProgramReadsThem()
{
    QCOMPARE(columnsOf(QStringLiteral("Person")),
             QStringList({"ID", "UUID", "UID", "Name", "Sex", "BirthYear", "Height", "Phone", "Note"}));
    QCOMPARE(columnsOf(QStringLiteral("ResultFIT")),
             QStringList({"TestID", "UUID",   "UID",  "Name", "Sex", "BirthYear", "TestDate",
                          "Height", "Weight", "WOLI", "FHL",  "TQQ", "TZ",        "YWQZ",
                          "FYS",    "FWC",    "BYDJ", "ZT",   "TY",  "ZFZ3",      "BUSU6"}));
    QCOMPARE(columnsOf(QStringLiteral("Unit")).mid(1), QStringList({"UnitName", "UnitPhone", "UUID"}));

    const QStringList result = columnsOf(QStringLiteral("Result"));
    QCOMPARE(result.size(), 98);
    QCOMPARE(result.mid(0, 7),
             QStringList({"TestID", "UUID", "UID", "Name", "Sex", "BirthYear", "TestDate"}));
    QCOMPARE(result.at(81), QStringLiteral("BodyType"));
    QCOMPARE(result.last(), QStringLiteral("LL_ECW"));

    const QStringList print = columnsOf(QStringLiteral("Print"));
    QCOMPARE(print.size(), 224);
    QCOMPARE(print.mid(0, 8), QStringList({"IDPrint", "IDSize", "IDX", "IDY", "GenderPrint", "GenderSize",
                                           "GenderX", "GenderY"}));
    QVERIFY(print.contains(QStringLiteral("LineStartX")) && print.contains(QStringLiteral("VFILineUnit")));
    QCOMPARE(print.last(), QStringLiteral("LiverRiskY"));

    // Every column the program inserts or lists exists under that name.
    QSqlQuery q;
    QVERIFY2(q.exec(QStringLiteral(
                 "SELECT UID, TestID, Name, BirthYear, Sex, TestDate, Height, Weight, Water, Fat, "
                 "PBF, Bone, Protein, Muscle, BMI, Body_age, bodyType, Score FROM Result")),
             qPrintable(q.lastError().text()));
}

void TestDatabase::seedRowsLetAFreshInstallWork()
{
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM Report")).toInt(), 6);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM Report WHERE Selected = 'TQ-40'")).toInt(), 6);
    QSqlQuery styles(QStringLiteral("SELECT * FROM Report"));
    QStringList offered;
    while (styles.next())
        offered << styles.value(1).toString();
    QCOMPARE(offered, QStringList({"TQ-40", "TQ-10", "TQ-20", "TQ-30", "水分报告", "自定义报告纸"}));
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM Unit")).toInt(), 1);
    QVERIFY(!scalar(QStringLiteral("SELECT UUID FROM Unit")).toString().isEmpty());
    QVERIFY(scalar(QStringLiteral("SELECT PostAddress FROM Server"))
                .toString()
                .startsWith(QLatin1String("http://127.0.0.1")));
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM Print")).toInt(), 7);
    QVERIFY(missingTables().isEmpty());
    QVERIFY(schemaProblemText(m_db).isEmpty());
}

void TestDatabase::printLayoutFitsThePage()
{
    QSqlTableModel model;
    model.setTable(QStringLiteral("Print"));
    QVERIFY(model.select());
    QCOMPARE(model.rowCount(), 7);
    for (int row = 0; row < model.rowCount(); ++row) {
        const QSqlRecord rec = model.record(row);
        for (int i = 0; i < rec.count(); ++i) {
            const QString name = rec.fieldName(i);
            const QVariant value = rec.value(i);
            if (name.endsWith(QLatin1String("Print")))
                QVERIFY2(value == QLatin1String("Yes") || value == QLatin1String("No"), qPrintable(name));
            else if (name.endsWith(QLatin1String("Size")))
                QVERIFY2(value.toInt() > 0 && value.toInt() < 60, qPrintable(name));
            else if (name.endsWith(QLatin1Char('X')))
                QVERIFY2(value.toInt() >= 0 && value.toInt() < 960, qPrintable(name));
            else if (name.endsWith(QLatin1Char('Y')))
                QVERIFY2(value.toInt() >= 0 && value.toInt() < 1358, qPrintable(name));
        }
    }
}

void TestDatabase::deletedTestNumbersAreNeverReused()
{
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('1', 'a')")));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('2', 'b')")));
    const int last = q.lastInsertId().toInt();
    QVERIFY(q.exec(QStringLiteral("DELETE FROM Result WHERE TestID = %1").arg(last)));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('3', 'c')")));
    QCOMPARE(q.lastInsertId().toInt(), last + 1);

    QVERIFY(q.exec(QStringLiteral("INSERT INTO ResultFIT (UID) VALUES ('1')")));
    const int fit = q.lastInsertId().toInt();
    QVERIFY(q.exec(QStringLiteral("DELETE FROM ResultFIT")));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO ResultFIT (UID) VALUES ('1')")));
    QCOMPARE(q.lastInsertId().toInt(), fit + 1);
}

void TestDatabase::emptyFileIsReportedWithItsPath()
{
    const QString empty = m_dir->filePath(QStringLiteral("empty.db"));
    QVERIFY(openDefaultDatabase(empty)); // SQLite creates the file, without tables
    QCOMPARE(missingTables(), requiredTables());
    const QString text = schemaProblemText(empty);
    QVERIFY(text.contains(QFileInfo(empty).absoluteFilePath()));
    QVERIFY(text.contains(QStringLiteral("Result")));
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
