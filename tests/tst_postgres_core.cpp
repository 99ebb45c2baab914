// The program's own stores, lists and backup on a real PostgreSQL server in
// this process: keys come back from the server, the lists and report
// layouts read what a file gives, a server that goes away fails a store with
// the Chinese reason and is reconnected at the next one, a record whose
// store failed that way is not stored twice, and the backup is pg_dump's.
#include "app/database.h"
#include "app/dbtarget.h"
#include "app/globals.h"
#include "dialogs/configdlg.h"
#include "exchange/backup.h"
#include "exchange/dbinit.h"
#include "fitness/fitnessstore.h"
#include "people/personmodel.h"
#include "people/personregistry.h"
#include "people/resultmodels.h"
#include "pgserver.h"
#include "records/measurementstore.h"
#include "reports/layout.h"
#include "testsupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

using measurementstore::PcControlPerson;
using measurementstore::saveMeasurement;

namespace {
// A whole-body list with the given weight (field 12) and distinct values elsewhere.
QByteArray wholeList(double weight)
{
    QList<QByteArray> f = {"W1", "2026-12-08", "w2", "w3"};
    for (int i = 4; i <= 26; ++i)
        f << QByteArray::number(i + 0.25);
    f[12] = QByteArray::number(weight);
    return f.join('#') + '#';
}

MeasurementLists listsFor(const QByteArray &uid, double weight)
{
    const QByteArray zeros = QByteArray("0#2000-01-01#") + QByteArray("0#").repeated(25);
    return {uid + "#x#0#1990#", wholeList(weight), zeros, zeros};
}

// Count through the program's own connection and dialect.
int count(const QString &sql)
{
    QSqlQuery q;
    return q.exec(dbSql(sql)) && q.next() ? q.value(0).toInt() : -1;
}
} // namespace

class TstPostgresCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void storesReadBackTheirKeys();
    void listsAndLayoutsAsOnAFile();
    void modelsWriteBack();
    void serverGoneAndBack();
    void backupIsADump();

private:
    void clearResults();
    PgServer m_server;
    QTemporaryDir m_dir;
    DbTarget m_target;
};

void TstPostgresCore::initTestCase()
{
    if (!m_server.available())
        QSKIP(qPrintable(m_server.skipReason()));
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    // The settings file (this PC's unit identifier) is looked for here.
    QVERIFY(QDir::setCurrent(m_dir.path()));
    QVERIFY2(m_server.createDatabase(QStringLiteral("core")), qPrintable(m_server.error()));
    QString error;
    QVERIFY2(parseDbTarget(m_server.url(QStringLiteral("core")), &m_target, &error), qPrintable(error));
    initProcessState(m_target);
    QVERIFY(dbSetupResult);
    QCOMPARE(SqlDialect::current().driverName(), QStringLiteral("QPSQL"));
    const exchange::SchemaResult schema =
        exchange::createSchema(QSqlDatabase::database(), exchange::schemaScript(QStringLiteral("QPSQL")));
    QVERIFY2(schema.ok, qPrintable(schema.error));
    QVERIFY(missingTables().isEmpty());
    QCOMPARE(schemaProblemText(m_target), QString());
}

void TstPostgresCore::cleanup()
{
    if (m_server.available() && !m_server.isRunning())
        QVERIFY2(m_server.restart(), qPrintable(m_server.error()));
    qunsetenv("QUELMAR_PG_DUMP");
}

void TstPostgresCore::clearResults()
{
    QSqlQuery q;
    for (const char *table : {"Result", "ResultFIT", "Person"})
        QVERIFY(q.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table))));
}

void TstPostgresCore::storesReadBackTheirKeys()
{
    clearResults();
    QString error;
    const int first =
        personregistry::insertPerson({QStringLiteral("U0001"), QStringLiteral("P-7"), QStringLiteral("王芳"),
                                      QStringLiteral("2"), 1991, 162, QString(), QString()},
                                     &error);
    QVERIFY2(first > 0, qPrintable(error));
    const int second =
        personregistry::insertPerson({QStringLiteral("U0001"), QString(), QStringLiteral("李雷"),
                                      QStringLiteral("1"), 1988, 178, QString(), QString()},
                                     &error);
    QCOMPARE(second, first + 1);
    // An empty user number becomes the key the server gave.
    QCOMPARE(
        count(QStringLiteral("SELECT COUNT(*) FROM Person WHERE UID = '%1' AND Name = '李雷'").arg(second)),
        1);

    const auto a = saveMeasurement(listsFor("P-7", 55.5), PcControlPerson(), QString());
    const auto b = saveMeasurement(listsFor("P-8", 72.25), PcControlPerson(), QString());
    QVERIFY2(a.ok && b.ok, qPrintable(a.error + b.error));
    QCOMPARE(b.testId, a.testId + 1);
    QSqlQuery q;
    QVERIFY(
        q.exec(dbSql(QStringLiteral("SELECT TestID, UID, Name, Weight, UUID FROM Result ORDER BY TestID"))));
    QStringList rows;
    while (q.next())
        rows << QStringLiteral("%1|%2|%3|%4|%5")
                    .arg(q.value(0).toInt())
                    .arg(q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                         q.value(4).toString());
    QCOMPARE(rows, (QStringList{QStringLiteral("%1|P-7|王芳|55.5|U0001").arg(a.testId),
                                QStringLiteral("%1|P-8||72.25|U0001").arg(b.testId)}));

    fitness::FitValues values;
    const QDate day(2026, 12, 8);
    const auto fit1 = fitnessstore::storeResult(
        {QStringLiteral("P-7"), QStringLiteral("01"), QStringLiteral("163")}, values, day);
    const auto fit2 = fitnessstore::storeResult(
        {QStringLiteral("P-7"), QStringLiteral("02"), QStringLiteral("58")}, values, day);
    QVERIFY2(fit1.ok && fit1.inserted && fit1.testId > 0, qPrintable(fit1.error));
    QVERIFY2(fit2.ok && !fit2.inserted, qPrintable(fit2.error));
    QCOMPARE(fit2.testId, fit1.testId);
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM ResultFIT WHERE UID = 'P-7' AND Name = '王芳'")), 1);

    // The server refuses a day row's update (here a check of the test's own)
    // and then a new row: each failure is rolled back, so the station's next
    // result is stored as if nothing had happened.
    {
        QSqlQuery ddl;
        QVERIFY(ddl.exec(
            QStringLiteral("ALTER TABLE resultfit ADD CONSTRAINT lung_limit CHECK (\"FHL\" < 5000)")));
        const auto refusedUpdate = fitnessstore::storeResult(
            {QStringLiteral("P-7"), QStringLiteral("03"), QStringLiteral("6100")}, values, day);
        const auto refusedInsert = fitnessstore::storeResult(
            {QStringLiteral("R-3"), QStringLiteral("03"), QStringLiteral("6200")}, values, day);
        QVERIFY(ddl.exec(QStringLiteral("ALTER TABLE resultfit DROP CONSTRAINT lung_limit")));
        QVERIFY(!refusedUpdate.ok && !refusedInsert.ok);
        const auto next = fitnessstore::storeResult(
            {QStringLiteral("P-7"), QStringLiteral("03"), QStringLiteral("3100")}, values, day);
        QVERIFY2(next.ok && !next.inserted, qPrintable(next.error));
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM ResultFIT WHERE UID = 'P-7' AND FHL = 3100")), 1);
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM ResultFIT WHERE UID = 'R-3'")), 0);
    }

    // Another PC writing the same person's day row: this one waits its turn
    // (the result stays unacknowledged), other people go on.
    {
        QSqlDatabase other = m_server.connect(QStringLiteral("core"), QStringLiteral("otherpc"));
        QVERIFY(other.isOpen() && other.transaction());
        QSqlQuery hold(other);
        QVERIFY(hold.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('K-1|2026-12-08'))")));
        const auto waits = fitnessstore::storeResult(
            {QStringLiteral("K-1"), QStringLiteral("01"), QStringLiteral("150")}, values, day);
        QVERIFY(!waits.ok);
        QCOMPARE(waits.error, QStringLiteral("另一台电脑正在保存此人的体测结果，稍后自动重试"));
        const auto other1 = fitnessstore::storeResult(
            {QStringLiteral("K-2"), QStringLiteral("01"), QStringLiteral("151")}, values, day);
        QVERIFY2(other1.ok, qPrintable(other1.error));
        hold.finish();
        QVERIFY(other.commit());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("otherpc"));
    const auto turn = fitnessstore::storeResult(
        {QStringLiteral("K-1"), QStringLiteral("01"), QStringLiteral("150")}, values, day);
    QVERIFY2(turn.ok && turn.inserted, qPrintable(turn.error));
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM ResultFIT WHERE UID IN ('K-1', 'K-2')")), 2);

    // On the server each PC stores its own unit identifier once it has one.
    QVERIFY(setUnitIdOfThisPc(QStringLiteral("PC-2"), &error));
    const auto own = saveMeasurement(listsFor("P-9", 80.0), PcControlPerson(), QString());
    QVERIFY(setUnitIdOfThisPc(QString(), &error));
    const auto shared = saveMeasurement(listsFor("P-9", 81.0), PcControlPerson(), QString());
    QCOMPARE(own.uuid, QStringLiteral("PC-2"));
    QCOMPARE(shared.uuid, QStringLiteral("U0001"));
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM Result WHERE UID = 'P-9' AND UUID = 'PC-2'")), 1);
}

void TstPostgresCore::listsAndLayoutsAsOnAFile()
{
    clearResults();
    for (const double w : {60.0, 61.0, 62.0})
        QVERIFY(saveMeasurement(listsFor("L-1", w), PcControlPerson(), QString()).ok);
    {
        QSqlQueryModel list;
        initializeModelResult(&list);
        QCOMPARE(list.rowCount(), 3);
        QCOMPARE(list.record(0).value(QStringLiteral("Weight")).toDouble(), 62.0); // newest first
        QCOMPARE(list.headerData(1, Qt::Horizontal).toString().isEmpty(), false);
        PersonModel people;
        people.initialize();
        QVERIFY2(people.lastError().type() == QSqlError::NoError, qPrintable(people.lastError().text()));
    }
    // The same sheet and layout rows as the supplied file.
    const QString sheetOnServer = reports::readSelectedSheetTag();
    QHash<QString, QVector<int>> serverLayouts;
    for (const QString &tag : {reports::sheet::tq40, reports::sheet::tq10, reports::sheet::custom}) {
        const reports::PrintLayout layout = reports::PrintLayout::read(tag);
        for (const QString &name : reports::printColumns())
            serverLayouts[tag] << layout.value(name);
    }
    const reports::BcaRecord last = reports::loadBcaRecord(0);
    QCOMPARE(last.values.value(QStringLiteral("Weight")).toDouble(), 62.0);

    const QString file = m_dir.filePath(QStringLiteral("maindb.db"));
    QVERIFY(testsupport::buildSuppliedDatabase(file));
    QVERIFY(openDefaultDatabase(file));
    QCOMPARE(reports::readSelectedSheetTag(), sheetOnServer);
    for (auto it = serverLayouts.cbegin(); it != serverLayouts.cend(); ++it) {
        const reports::PrintLayout layout = reports::PrintLayout::read(it.key());
        QVector<int> onFile;
        for (const QString &name : reports::printColumns())
            onFile << layout.value(name);
        QCOMPARE(it.value(), onFile);
    }
    QVERIFY(openDefaultDatabase(m_target));
}

void TstPostgresCore::modelsWriteBack()
{
    clearResults();
    QString error;
    QVERIFY(
        personregistry::insertPerson({QStringLiteral("U0001"), QStringLiteral("M-1"), QStringLiteral("赵敏"),
                                      QStringLiteral("2"), 1995, 160, QString(), QString()},
                                     &error) > 0);
    PersonModel people;
    people.initialize();
    QCOMPARE(people.rowCount(), 1);
    QVERIFY(
        people.setData(people.index(0, people.fieldIndex(QStringLiteral("Name"))), QStringLiteral("赵敏敏")));
    QVERIFY2(people.submitAll(), qPrintable(people.lastError().text()));
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM Person WHERE Name = '赵敏敏'")), 1);

    configDlg dlg;
    dlg.reportList()->setCurrentText(QStringLiteral("水分报告"));
    dlg.sheetSelect();
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM Report WHERE Selected = '水分报告'")), 6);
    QCOMPARE(reports::readSelectedSheetTag(), QStringLiteral("水分报告"));
    // The rows keep their order after the update: the list reads the same.
    QStringList types;
    for (int i = 0; i < dlg.reportList()->count(); ++i)
        types << dlg.reportList()->itemText(i);
    configDlg again;
    QStringList typesAgain;
    for (int i = 0; i < again.reportList()->count(); ++i)
        typesAgain << again.reportList()->itemText(i);
    QCOMPARE(typesAgain, types);
    QCOMPARE(again.reportList()->currentText(), QStringLiteral("水分报告"));

    again.unitNameEdit()->setText(QStringLiteral("市体育中心"));
    const testsupport::BoxSeen changed = testsupport::boxOf([&] { again.modifyUnit(); });
    QCOMPARE(changed.text, QStringLiteral("单位信息修改成功！"));
    QCOMPARE(
        count(QStringLiteral("SELECT COUNT(*) FROM Unit WHERE UnitName = '市体育中心' AND UUID = 'U0001'")),
        1);
    dlg.reportList()->setCurrentText(QStringLiteral("TQ-40"));
    dlg.sheetSelect();
}

void TstPostgresCore::serverGoneAndBack()
{
    clearResults();
    const auto a = saveMeasurement(listsFor("G-1", 50.5), PcControlPerson(), QString());
    QVERIFY2(a.ok, qPrintable(a.error));

    QVERIFY2(m_server.stop(), qPrintable(m_server.error()));
    fitness::FitValues values;
    const auto gone = saveMeasurement(listsFor("G-2", 51.5), PcControlPerson(), QString());
    QVERIFY(!gone.ok);
    QVERIFY2(gone.error.startsWith(QStringLiteral("无法连接数据库服务器")), qPrintable(gone.error));
    const auto fitGone = fitnessstore::storeResult(
        {QStringLiteral("G-1"), QStringLiteral("01"), QStringLiteral("170")}, values, QDate(2026, 12, 8));
    QVERIFY(!fitGone.ok);
    QVERIFY2(fitGone.error.startsWith(QStringLiteral("无法连接数据库服务器")), qPrintable(fitGone.error));
    // The same record as the one stored before fails too: the next attempt
    // must not store it a second time.
    QVERIFY(!saveMeasurement(listsFor("G-1", 50.5), PcControlPerson(), QString()).ok);

    QVERIFY2(m_server.restart(), qPrintable(m_server.error()));
    // The server's port is tried in the background; the connection is made
    // again once it answers.
    QTRY_VERIFY_WITH_TIMEOUT(reviveDefaultDatabase(), 10000);
    const auto again = saveMeasurement(listsFor("G-1", 50.5), PcControlPerson(), QString());
    QVERIFY2(again.ok, qPrintable(again.error));
    QCOMPARE(again.testId, a.testId);
    const auto back = saveMeasurement(listsFor("G-2", 51.5), PcControlPerson(), QString());
    QVERIFY2(back.ok, qPrintable(back.error));
    const auto fitBack = fitnessstore::storeResult(
        {QStringLiteral("G-1"), QStringLiteral("01"), QStringLiteral("170")}, values, QDate(2026, 12, 8));
    QVERIFY2(fitBack.ok, qPrintable(fitBack.error));
    // After a good store a repeated record is a new measurement again.
    QVERIFY(saveMeasurement(listsFor("G-2", 51.5), PcControlPerson(), QString()).ok);
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM Result WHERE UID = 'G-1'")), 1);
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM Result WHERE UID = 'G-2'")), 2);
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM ResultFIT")), 1);

    // The server restarts while nothing is being stored: the connection still
    // looks open, so it is tried before it is trusted, and the next store
    // goes in once the server answers.
    QVERIFY2(m_server.stop() && m_server.restart(), qPrintable(m_server.error()));
    QTRY_VERIFY_WITH_TIMEOUT(reviveDefaultDatabase(), 10000);
    const auto afterRestart = saveMeasurement(listsFor("G-3", 52.5), PcControlPerson(), QString());
    QVERIFY2(afterRestart.ok, qPrintable(afterRestart.error));
}

void TstPostgresCore::backupIsADump()
{
    clearResults();
    QVERIFY(saveMeasurement(listsFor("B-1", 66.0), PcControlPerson(), QString()).ok);
    const QDateTime when(QDate(2026, 12, 8), QTime(13, 5, 9));
    QCOMPARE(exchange::backupTarget(when, QStringLiteral("x/")),
             QStringLiteral("x/maindb20261208130509.dump"));
    const QString target = exchange::backupTarget(when, m_dir.path() + QLatin1Char('/'));
    const exchange::BackupResult done = exchange::backupDatabase(target);
    QVERIFY2(done.ok, qPrintable(done.error));
    QProcess list;
    list.start(QFileInfo(exchange::findPgDump()).dir().filePath(QStringLiteral("pg_restore")),
               {QStringLiteral("--list"), target});
    QVERIFY(list.waitForFinished(60000));
    const QString toc = QString::fromUtf8(list.readAllStandardOutput());
    QVERIFY2(toc.contains(QStringLiteral("TABLE DATA public result ")), qPrintable(toc));
    QVERIFY2(toc.contains(QStringLiteral("TABLE DATA public person ")), qPrintable(toc));
    QVERIFY(QDir(m_dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty());

    const struct
    {
        const char *pgDump; // QUELMAR_PG_DUMP
        QString target;
        const char *why;
    } refusals[] = {
        {nullptr, target, "已存在"},
        {nullptr, m_dir.filePath(QStringLiteral("none/maindb1.dump")), "不存在"},
        {"/nonexistent/pg_dump", m_dir.filePath(QStringLiteral("maindb2.dump")), "找不到 pg_dump"},
        {"/bin/false", m_dir.filePath(QStringLiteral("maindb3.dump")), "pg_dump 无法备份数据库"},
    };
    for (const auto &r : refusals) {
        if (r.pgDump)
            qputenv("QUELMAR_PG_DUMP", r.pgDump);
        const QByteArray before = QFileInfo::exists(r.target) ? QByteArray("kept") : QByteArray();
        const exchange::BackupResult refused = exchange::backupDatabase(r.target);
        QVERIFY(!refused.ok);
        QVERIFY2(refused.error.contains(QString::fromUtf8(r.why)), qPrintable(refused.error));
        QCOMPARE(QFileInfo::exists(r.target), !before.isEmpty());
        qunsetenv("QUELMAR_PG_DUMP");
    }
    QVERIFY(QDir(m_dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty());
}

QTEST_MAIN(TstPostgresCore)
#include "tst_postgres_core.moc"
