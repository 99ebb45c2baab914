// Database backup: the copy is sound and complete (also right after a batch
// of inserts and while the program still has queries open), an existing
// target or a missing folder fails with the reason, and the backup slot's
// boxes.
#include "app/mainwindow.h"
#include "exchange/backup.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
const QStringList kTables = {"Person", "Result", "ResultFIT", "Unit", "Report", "Server", "Print"};

// Row counts and a value checksum of the default connection or of |file|.
QStringList fingerprint(const QString &file = QString())
{
    const QString name = QStringLiteral("fingerprint");
    QStringList out;
    {
        QSqlDatabase db =
            file.isEmpty() ? QSqlDatabase::database() : QSqlDatabase::addDatabase("QSQLITE", name);
        if (!file.isEmpty()) {
            db.setDatabaseName(file);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (!db.open())
                return {QStringLiteral("cannot open")};
        }
        QSqlQuery q(db);
        if (!file.isEmpty()) {
            q.exec(QStringLiteral("PRAGMA integrity_check"));
            out << (q.next() ? q.value(0).toString() : QStringLiteral("no answer"));
        }
        for (const QString &t : kTables) {
            q.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(t));
            out << t + QLatin1Char('=') + (q.next() ? q.value(0).toString() : QStringLiteral("?"));
        }
        q.exec(QStringLiteral("SELECT TOTAL(Fat), TOTAL(TestID), GROUP_CONCAT(Name) FROM Result"));
        if (q.next())
            out << q.value(0).toString() << q.value(1).toString() << q.value(2).toString();
        q.finish();
    }
    if (!file.isEmpty())
        QSqlDatabase::removeDatabase(name);
    return out;
}

bool insertBatch(int results, bool oneTransaction)
{
    QSqlDatabase db = QSqlDatabase::database();
    if (oneTransaction && !db.transaction())
        return false;
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO Result (UID, Name, Fat) VALUES (?, ?, ?)"));
    QSqlQuery fit;
    fit.prepare(QStringLiteral("INSERT INTO ResultFIT (UID, Name, WOLI) VALUES (?, ?, ?)"));
    for (int i = 0; i < results; ++i) {
        q.addBindValue(QString::number(i));
        q.addBindValue(QStringLiteral("人%1").arg(i));
        q.addBindValue(i * 0.5);
        fit.addBindValue(QString::number(i));
        fit.addBindValue(QStringLiteral("人%1").arg(i));
        fit.addBindValue(i * 0.25);
        if (!q.exec() || !fit.exec())
            return false;
    }
    return !oneTransaction || db.commit();
}

struct BoxSeen
{
    bool seen = false;
    QString title;
    QString text;
};

void closeNextBox(BoxSeen *seen)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, seen] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            seen->seen = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            box->buttons().first()->click();
            timer->deleteLater();
        }
    });
    timer->start();
    QTimer::singleShot(10000, timer, &QObject::deleteLater);
}

// Sleeps until a fresh second has just begun, so two quick backups share it.
void waitForSecondStart()
{
    while (QTime::currentTime().msec() > 100)
        QThread::msleep(20);
}
} // namespace

class TestExchangeBackup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void targetName();
    void copyIsSoundAndComplete_data();
    void copyIsSoundAndComplete();
    void existingTargetFails();
    void missingFolderOrDatabaseFails_data();
    void missingFolderOrDatabaseFails();
    void backupSlotTellsTheOperator();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCwd;
};

void TestExchangeBackup::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
    m_oldCwd = QDir::currentPath();
}

void TestExchangeBackup::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestExchangeBackup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("run")));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("backup")));
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("run/maindb.db"))));
    g_log.clear();
}

void TestExchangeBackup::cleanup()
{
    QDir::setCurrent(m_oldCwd);
    releaseProcessState();
}

void TestExchangeBackup::targetName()
{
    const QDateTime when(QDate(2024, 3, 15), QTime(9, 30, 5));
    QCOMPARE(exchange::backupTarget(when), QStringLiteral("../backup/maindb20240315093005.db"));
    QCOMPARE(exchange::backupTarget(when, QStringLiteral("/x/")),
             QStringLiteral("/x/maindb20240315093005.db"));
}

void TestExchangeBackup::copyIsSoundAndComplete_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("oneTransaction");
    QTest::addColumn<bool>("openQuery");  // a statement still reading on the default connection
    QTest::addColumn<bool>("mainWindow"); // the window's fitness page holds unfetched rows
    QTest::newRow("supplied database") << 0 << false << false << false;
    QTest::newRow("right after a batch in one transaction") << 3000 << true << false << false;
    QTest::newRow("right after single inserts") << 40 << false << false << false;
    QTest::newRow("while a query is still reading") << 1000 << true << true << false;
    QTest::newRow("while the window shows a long list") << 1000 << true << false << true;
}

void TestExchangeBackup::copyIsSoundAndComplete()
{
    QFETCH(int, rows);
    QFETCH(bool, oneTransaction);
    QFETCH(bool, openQuery);
    QFETCH(bool, mainWindow);
    QVERIFY(insertBatch(rows, oneTransaction));
    QSqlQuery reading;
    if (openQuery) {
        reading.setForwardOnly(true);
        QVERIFY(reading.exec(QStringLiteral("SELECT * FROM Result")));
        QVERIFY(reading.next());
        QVERIFY(reading.isActive());
    }
    std::unique_ptr<MainWindow> window;
    if (mainWindow)
        window = std::make_unique<MainWindow>();

    const QStringList source = fingerprint();
    const QString target = m_dir->filePath(QStringLiteral("backup/copy.db"));
    const exchange::BackupResult result = exchange::backupDatabase(target);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(fingerprint(target), QStringList{QStringLiteral("ok")} + source);
    if (openQuery)
        QVERIFY(reading.next()); // the program's own query goes on undisturbed
    // Nothing but the copy is left in the folder.
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("backup"))).entryList(QDir::Files),
             QStringList{QStringLiteral("copy.db")});
}

void TestExchangeBackup::existingTargetFails()
{
    const QDateTime when = QDateTime::currentDateTime();
    const QString target =
        m_dir->filePath(QStringLiteral("backup/")).append(QFileInfo(exchange::backupTarget(when)).fileName());
    QVERIFY(exchange::backupDatabase(target).ok);
    const QByteArray first = [&] {
        QFile f(target);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QVERIFY(insertBatch(10, true));
    const exchange::BackupResult second = exchange::backupDatabase(target);
    QVERIFY(!second.ok);
    QVERIFY2(second.error.contains(QStringLiteral("已存在")), qPrintable(second.error));
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), first); // the first backup is kept as it was
}

void TestExchangeBackup::missingFolderOrDatabaseFails_data()
{
    QTest::addColumn<QString>("missing");
    QTest::newRow("backup folder") << QStringLiteral("folder");
    QTest::newRow("database file") << QStringLiteral("database");
}

void TestExchangeBackup::missingFolderOrDatabaseFails()
{
    QFETCH(QString, missing);
    QString target = m_dir->filePath(QStringLiteral("backup/copy.db"));
    QString named;
    if (missing == QLatin1String("folder")) {
        target = m_dir->filePath(QStringLiteral("nowhere/copy.db"));
        named = m_dir->filePath(QStringLiteral("nowhere"));
    } else {
        QSqlDatabase::database().close();
        QVERIFY(QFile::remove(m_dir->filePath(QStringLiteral("run/maindb.db"))));
        named = m_dir->filePath(QStringLiteral("run/maindb.db"));
    }
    const exchange::BackupResult result = exchange::backupDatabase(target);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(named) && result.error.contains(QStringLiteral("不存在")),
             qPrintable(result.error));
    QVERIFY(!QFile::exists(target));
    // A missing database is not created by looking for it.
    QVERIFY(missing != QLatin1String("database") || !QFile::exists(named));
}

void TestExchangeBackup::backupSlotTellsTheOperator()
{
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("run"))));
    MainWindow w;

    // Two backups within one second: the second fails and says why. (A
    // machine too busy to do both in one second gets another try.)
    const QDir backups(m_dir->filePath(QStringLiteral("backup")));
    BoxSeen first, second;
    QStringList files;
    for (int attempt = 0; attempt < 3; ++attempt) {
        for (const QString &f : backups.entryList(QDir::Files))
            QVERIFY(QFile::remove(backups.filePath(f)));
        waitForSecondStart();
        first = BoxSeen();
        second = BoxSeen();
        closeNextBox(&first);
        w.DBbackup();
        closeNextBox(&second);
        w.DBbackup();
        files = backups.entryList(QDir::Files);
        if (files.size() == 1)
            break;
    }
    QCOMPARE(files.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^maindb\\d{14}\\.db$")).match(files.first()).hasMatch());
    QCOMPARE(first.title, QStringLiteral("数据库备份"));
    QCOMPARE(first.text, QStringLiteral("数据库备份成功,信息已保存在../backup/%1！").arg(files.first()));
    QCOMPARE(second.title, QStringLiteral("数据库备份"));
    QVERIFY2(second.text.startsWith(QStringLiteral("数据库备份失败！\n")), qPrintable(second.text));
    QVERIFY(second.text.contains(QStringLiteral("已存在")));
    QVERIFY(g_log.contains(QStringLiteral("dbfile exists")));

    // No backup folder.
    QVERIFY(QDir(m_dir->filePath(QStringLiteral("backup"))).removeRecursively());
    BoxSeen third;
    closeNextBox(&third);
    w.DBbackup();
    QVERIFY2(third.text.startsWith(QStringLiteral("数据库备份失败！\n")), qPrintable(third.text));
    QVERIFY(third.text.contains(QStringLiteral("备份文件夹")));
}

QTEST_MAIN(TestExchangeBackup)
#include "tst_exchange_backup.moc"
