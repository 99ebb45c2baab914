// The settings dialog's choice of database (kept in the settings file, never
// a password, refused fields left unsaved) and the result list's 刷新, which
// shows what another PC stored meanwhile and keeps the chosen test.
#include "app/dbtarget.h"
#include "app/globals.h"
#include "dialogs/configdlg.h"
#include "dialogs/resultlistdlg.h"
#include "people/resultmodels.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

class TstDbSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void databaseChoiceKept();
    void refreshShowsOtherWriters();

private:
    QTemporaryDir m_dir;
};

void TstDbSettings::initTestCase()
{
    QVERIFY(QDir::setCurrent(m_dir.path()));
    QVERIFY(testsupport::startProcessOn(m_dir.filePath(QStringLiteral("maindb.db"))));
}

void TstDbSettings::databaseChoiceKept()
{
    QFile::remove(dbSettingsPath());
    {
        configDlg dlg;
        QVERIFY(dlg.dbFileButton()->isChecked());
        QVERIFY(!dlg.dbHostEdit()->isEnabled());
        dlg.dbServerButton()->setChecked(true);
        QVERIFY(dlg.dbHostEdit()->isEnabled());
        dlg.dbHostEdit()->setText(QStringLiteral("10.0.0.9"));
        dlg.dbPortEdit()->setText(QStringLiteral("70000"));
        dlg.dbNameEdit()->setText(QStringLiteral("day"));
        dlg.dbUserEdit()->setText(QStringLiteral("pc3"));
        const testsupport::BoxSeen refused = testsupport::boxOf([&dlg] { dlg.dbSaveButton()->click(); });
        QCOMPARE(refused.icon, QMessageBox::Warning);
        QVERIFY2(refused.text.contains(QStringLiteral("端口 70000 无效")), qPrintable(refused.text));
        QVERIFY(!QFile::exists(dbSettingsPath()));

        dlg.dbPortEdit()->setText(QStringLiteral("5433"));
        const testsupport::BoxSeen saved = testsupport::boxOf([&dlg] { dlg.dbSaveButton()->click(); });
        QCOMPARE(saved.icon, QMessageBox::Information);
        QVERIFY2(saved.text.contains(QStringLiteral("postgresql://pc3@10.0.0.9:5433/day")),
                 qPrintable(saved.text));
        QVERIFY(saved.text.contains(QStringLiteral("下次启动")));
    }
    DbTarget stored;
    QVERIFY(loadDbSetting(dbSettingsPath(), &stored));
    QCOMPARE(stored.display(), QStringLiteral("postgresql://pc3@10.0.0.9:5433/day"));
    // This run goes on with the database it started with.
    QCOMPARE(QSqlDatabase::database().driverName(), QStringLiteral("QSQLITE"));
    {
        configDlg dlg;
        QVERIFY(dlg.dbServerButton()->isChecked());
        QCOMPARE(dlg.dbHostEdit()->text() + '|' + dlg.dbPortEdit()->text() + '|' + dlg.dbNameEdit()->text() +
                     '|' + dlg.dbUserEdit()->text(),
                 QStringLiteral("10.0.0.9|5433|day|pc3"));
        dlg.dbFileButton()->setChecked(true);
        QCOMPARE(testsupport::boxOf([&dlg] { dlg.dbSaveButton()->click(); }).icon, QMessageBox::Information);
    }
    QVERIFY(loadDbSetting(dbSettingsPath(), &stored));
    QVERIFY(!stored.isServer());
    QCOMPARE(stored.path, QStringLiteral("maindb.db"));
    QFile::remove(dbSettingsPath());
}

void TstDbSettings::refreshShowsOtherWriters()
{
    for (const QString &uid : {QStringLiteral("R1"), QStringLiteral("R2")})
        QVERIFY(
            QSqlQuery().exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('%1', '甲')").arg(uid)));
    ResultListDlg dlg(ResultListDlg::Kind::Results, QStringLiteral("list"));
    QCOMPARE(dlg.model()->rowCount(), 2);
    dlg.view()->selectRow(1); // R1, the older one
    const int chosen = dlg.model()->index(1, 1).data().toInt();
    QCOMPARE(dlg.testIdEdit()->text().toInt(), chosen);

    // Another PC stores a result through a connection of its own.
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("otherpc"));
        other.setDatabaseName(m_dir.filePath(QStringLiteral("maindb.db")));
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('R3', '乙')")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("otherpc"));
    QCOMPARE(dlg.model()->rowCount(), 2);
    dlg.refreshButton()->click();
    QCOMPARE(dlg.model()->rowCount(), 3);
    QCOMPARE(dlg.model()->index(0, 0).data().toString(), QStringLiteral("R3"));
    QCOMPARE(dlg.view()->currentIndex().row(), 2);
    QCOMPARE(dlg.model()->index(2, 1).data().toInt(), chosen);
    QCOMPARE(dlg.testIdEdit()->text().toInt(), chosen);

    // A name search stays a name search.
    dlg.searchEdit()->setText(QStringLiteral("乙"));
    dlg.search();
    QCOMPARE(dlg.model()->rowCount(), 1);
    QVERIFY(QSqlQuery().exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('R4', '乙')")));
    dlg.refreshButton()->click();
    QCOMPARE(dlg.model()->rowCount(), 2);
    QCOMPARE(dlg.model()->index(0, 0).data().toString() + dlg.model()->index(1, 0).data().toString(),
             QStringLiteral("R4R3"));
}

QTEST_MAIN(TstDbSettings)
#include "tst_dbsettings.moc"
