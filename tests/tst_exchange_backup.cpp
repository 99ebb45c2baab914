// Database backup: the copy is sound and complete (also right after a batch
// of inserts and while the program still has queries open), an existing
// target or a missing folder fails with the reason, and the backup slot's boxes.
#include "app/mainwindow.h"
#include "exchange/backup.h"
#include "tests/outputcheck.h"
#include "tests/testsupport.h"

#include <QDir>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {
// Integrity (copies only), row counts and a value checksum of the default
// connection or of |file|.
QStringList fingerprint(const QString &file = QString())
{
    QStringList out;
    {
        QSqlDatabase db =
            file.isEmpty() ? QSqlDatabase::database() : QSqlDatabase::addDatabase("QSQLITE", "copy");
        if (!file.isEmpty()) {
            db.setDatabaseName(file);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (!db.open())
                return {QStringLiteral("cannot open")};
        }
        QSqlQuery q(db);
        QStringList sql = {"SELECT TOTAL(Fat), TOTAL(TestID), GROUP_CONCAT(Name) FROM Result",
                           "SELECT TOTAL(WOLI), GROUP_CONCAT(Name) FROM ResultFIT"};
        if (!file.isEmpty())
            sql.prepend(QStringLiteral("PRAGMA integrity_check"));
        for (const char *t : {"Person", "Result", "ResultFIT", "Unit", "Report", "Server", "Print"})
            sql << QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(t));
        for (const QString &s : sql) {
            q.exec(s);
            out << (q.next() ? q.value(0).toString() + q.value(1).toString() + q.value(2).toString() : s);
        }
    }
    if (!file.isEmpty())
        QSqlDatabase::removeDatabase(QStringLiteral("copy"));
    return out;
}

bool insertBatch(int results, bool oneTransaction)
{
    QSqlDatabase db = QSqlDatabase::database();
    if (oneTransaction && !db.transaction())
        return false;
    for (int i = 0; i < results; ++i) {
        const QString name = QStringLiteral("人%1").arg(i);
        if (outputcheck::insertRow(QStringLiteral("Result"), {{"UID", i}, {"Name", name}, {"Fat", i * 0.5}}) <
                0 ||
            outputcheck::insertRow(QStringLiteral("ResultFIT"),
                                   {{"UID", i}, {"Name", name}, {"WOLI", i * 0.25}}) < 0)
            return false;
    }
    return !oneTransaction || db.commit();
}
} // namespace

class TestExchangeBackup : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir = QDir::currentPath();

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("run")));
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("backup")));
        QVERIFY(testsupport::startProcessOn(path(QStringLiteral("run/maindb.db"))));
    }
    void cleanup()
    {
        QDir::setCurrent(m_startDir);
        releaseProcessState();
    }

    void copyIsSoundAndComplete_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("oneTransaction");
        QTest::addColumn<bool>("openQuery"); // a statement still reading on the default connection
        QTest::newRow("supplied database") << 0 << false << false;
        QTest::newRow("right after a batch in one transaction") << 3000 << true << false;
        QTest::newRow("right after single inserts") << 40 << false << false;
        QTest::newRow("while a query is still reading") << 1000 << true << true;
    }
    void copyIsSoundAndComplete()
    {
        QFETCH(int, rows);
        QFETCH(bool, oneTransaction);
        QFETCH(bool, openQuery);
        QVERIFY(insertBatch(rows, oneTransaction));
        QSqlQuery reading;
        reading.setForwardOnly(true);
        if (openQuery)
            QVERIFY(reading.exec(QStringLiteral("SELECT * FROM Result")) && reading.next());
        const QStringList source = fingerprint();
        const exchange::BackupResult result =
            exchange::backupDatabase(path(QStringLiteral("backup/copy.db")));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(fingerprint(path(QStringLiteral("backup/copy.db"))),
                 QStringList{QStringLiteral("ok")} + source);
        if (openQuery)
            QVERIFY(reading.next()); // the program's own query goes on undisturbed
        QCOMPARE(QDir(path(QStringLiteral("backup"))).entryList(QDir::Files), QStringList{"copy.db"});
    }

    // An existing target, a missing folder or a missing database fail with
    // the reason; the first backup is kept as it was and nothing is created.
    void failures_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("why");
        QTest::newRow("target exists") << "backup/copy.db"
                                       << "backup/copy.db 已存在";
        QTest::newRow("backup folder missing") << "nowhere/copy.db"
                                               << "nowhere 不存在";
        QTest::newRow("database missing") << "backup/copy.db"
                                          << "run/maindb.db 不存在";
    }
    void failures()
    {
        QFETCH(QString, target);
        QFETCH(QString, why);
        const QString copy = path(target);
        QByteArray first;
        if (why.contains(QStringLiteral("已存在"))) {
            QVERIFY(exchange::backupDatabase(copy).ok);
            QFile f(copy);
            QVERIFY(f.open(QIODevice::ReadOnly));
            first = f.readAll();
            QVERIFY(insertBatch(10, true));
        } else if (why.startsWith(QLatin1String("run"))) {
            QSqlDatabase::database().close();
            QVERIFY(QFile::remove(path(QStringLiteral("run/maindb.db"))));
        }
        const exchange::BackupResult result = exchange::backupDatabase(copy);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(path(why)), qPrintable(result.error));
        QFile f(copy);
        QCOMPARE(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(), first);
        QVERIFY(QFile::exists(path(QStringLiteral("run/maindb.db"))) ==
                !why.startsWith(QLatin1String("run")));
    }

    // Two backups within one second: the second fails and says why; no backup
    // folder: the box says so. (A machine too busy to do both in one second
    // gets another try.)
    void backupSlotTellsTheOperator()
    {
        QVERIFY(QDir::setCurrent(path(QStringLiteral("run"))));
        MainWindow w;
        QDir backups(path(QStringLiteral("backup")));
        outputcheck::ModalWatcher watcher;
        for (int attempt = 0; attempt < 3; ++attempt) {
            for (const QString &f : backups.entryList(QDir::Files))
                QVERIFY(backups.remove(f));
            watcher.seen.clear();
            while (QTime::currentTime().msec() > 100)
                QThread::msleep(20);
            w.DBbackup();
            w.DBbackup();
            if (backups.entryList(QDir::Files).size() == 1)
                break;
        }
        const QStringList files = backups.entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^maindb\\d{14}\\.db$")).match(files.first()).hasMatch());
        QCOMPARE(watcher.seen.size(), 2);
        QCOMPARE(watcher.seen[0],
                 QStringLiteral("数据库备份|数据库备份成功,信息已保存在../backup/%1！").arg(files[0]));
        QVERIFY2(watcher.seen[1].startsWith(QStringLiteral("数据库备份|数据库备份失败！\n")),
                 qPrintable(watcher.seen[1]));
        QVERIFY(watcher.seen[1].contains(QStringLiteral("已存在")));

        QVERIFY(backups.removeRecursively());
        w.DBbackup();
        QCOMPARE(watcher.seen.size(), 3);
        QVERIFY(watcher.seen[2].startsWith(QStringLiteral("数据库备份|数据库备份失败！\n")));
        QVERIFY(watcher.seen[2].contains(QStringLiteral("备份文件夹")));
    }
};

QTEST_MAIN(TestExchangeBackup)
#include "tst_exchange_backup.moc"
