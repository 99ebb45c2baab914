// Database backup: the copy is sound and complete (also right after a batch
// of inserts and while the program still has queries open), an existing
// target or a missing folder fails with the reason, the backup slot's boxes
// (the whole folder named, a failure with the warning icon), the command-line
// jobs of the program binary, and system error texts put in Chinese.
#include "app/mainwindow.h"
#include "exchange/backup.h"
#include "exchange/errortext.h"
#include "tests/outputcheck.h"

#include <QSqlDatabase>

namespace {
// What the sqlite3 tool reads from |file|: integrity (copies), row counts and value checksums.
QString contents(const QString &file)
{
    QString sql =
        QStringLiteral("PRAGMA integrity_check; SELECT TOTAL(Fat), TOTAL(TestID), GROUP_CONCAT(Name) FROM "
                       "Result; SELECT TOTAL(WOLI), GROUP_CONCAT(Name) FROM ResultFIT;");
    for (const char *t : {"Person", "Result", "ResultFIT", "Unit", "Report", "Server", "Print"})
        sql += QStringLiteral(" SELECT COUNT(*) FROM %1;").arg(QLatin1String(t));
    return outputcheck::run(QStringLiteral("sqlite3"), {file, sql}).out;
}

bool insertBatch(int results)
{
    QSqlQuery q;
    bool ok = q.exec(QStringLiteral("BEGIN"));
    for (int i = 0; i < results && ok; ++i) {
        const QString name = QStringLiteral("人%1").arg(i);
        ok = outputcheck::insertRow("Result", "UID, Name, Fat", {i, name, i * 0.5}) > 0 &&
             outputcheck::insertRow("ResultFIT", "UID, Name, WOLI", {i, name, i * 0.25}) > 0;
    }
    return ok && q.exec(QStringLiteral("COMMIT"));
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

    // The copy passes the integrity check and holds every row: of the supplied
    // database, then right after a batch of inserts while a query of the
    // program is still reading (and goes on undisturbed).
    void copyIsSoundAndComplete()
    {
        QSqlQuery reading;
        reading.setForwardOnly(true);
        for (const QString name : {"first.db", "second.db"}) {
            if (name == QLatin1String("second.db")) {
                QVERIFY(insertBatch(3000));
                QVERIFY(reading.exec(QStringLiteral("SELECT * FROM Result")) && reading.next());
            }
            const exchange::BackupResult result = exchange::backupDatabase(path("backup/" + name));
            QVERIFY2(result.ok, qPrintable(result.error));
            const QString copy = contents(path("backup/" + name));
            QVERIFY(copy.startsWith(QStringLiteral("ok\n")));
            QCOMPARE(copy, contents(path(QStringLiteral("run/maindb.db"))));
            QVERIFY(name == QLatin1String("first.db") || reading.next());
        }
        QCOMPARE(QDir(path(QStringLiteral("backup"))).entryList(QDir::Files),
                 (QStringList{"first.db", "second.db"}));
    }

    // The backup's name: the 14 digits of the moment, each where it belongs
    // (every field distinct, two-digit fields before 10 with their zero).
    void backupFileName()
    {
        const struct
        {
            QDateTime when;
            const char *folder, *name;
        } cases[] = {
            {{QDate(2026, 11, 7), QTime(13, 45, 29)}, "../backup/", "../backup/maindb20261107134529.db"},
            {{QDate(2031, 3, 24), QTime(5, 9, 47)}, "/b/", "/b/maindb20310324050947.db"},
            {{QDate(2029, 12, 31), QTime(23, 58, 1)}, "", "maindb20291231235801.db"}};
        for (const auto &c : cases)
            QCOMPARE(exchange::backupTarget(c.when, QLatin1String(c.folder)), QLatin1String(c.name));
        QCOMPARE(exchange::backupTarget(cases[0].when), QLatin1String(cases[0].name));
    }

    // A database file that is missing, empty, no database or without any of
    // the program's tables fails with the reason and no copy; a missing one
    // is not created by looking for it. An existing target or a missing
    // folder: see the slot's boxes below.
    void unusableDatabase_data()
    {
        QTest::addColumn<QByteArray>("content"); // "-": no file
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QByteArray("-") << "run/maindb.db 不存在";
        QTest::newRow("empty") << QByteArray() << "run/maindb.db 是空文件（0字节）";
        QTest::newRow("text") << QByteArray(5000, 'x') << "不是数据库文件";
        QTest::newRow("no tables") << QByteArray("tables") << "中没有本程序的数据表";
    }
    void unusableDatabase()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString db = path(QStringLiteral("run/maindb.db"));
        QSqlDatabase::database().close();
        QVERIFY(QFile::remove(db));
        if (content == "tables") {
            QVERIFY(outputcheck::run(QStringLiteral("sqlite3"), {db, "CREATE TABLE t(a); DROP TABLE t;"})
                        .exitCode == 0);
        } else if (content != "-") {
            QFile f(db);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        }
        const exchange::BackupResult result =
            exchange::backupDatabase(path(QStringLiteral("backup/copy.db")));
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(reason), qPrintable(result.error));
        QCOMPARE(QFile::exists(db), content != "-");
        QVERIFY(QDir(path(QStringLiteral("backup"))).isEmpty());
    }

    // Two backups within one second: the second fails and says why; no backup
    // folder: the box says so. (A machine too busy to do both in one second
    // gets another try.)
    void backupSlotTellsTheOperator()
    {
        QVERIFY(QDir::setCurrent(path(QStringLiteral("run"))));
        MainWindow w;
        QDir backups(path(QStringLiteral("backup")));
        auto owner = std::make_unique<outputcheck::ModalWatcher>();
        outputcheck::ModalWatcher &watcher = *owner;
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
        QCOMPARE(
            watcher.seen[0],
            QStringLiteral("数据库备份|数据库备份成功,信息已保存在%1！").arg(backups.filePath(files[0])));
        QVERIFY2(watcher.seen[1].startsWith(QStringLiteral("数据库备份|数据库备份失败！\n")),
                 qPrintable(watcher.seen[1]));
        QVERIFY(watcher.seen[1].contains(QStringLiteral("已存在")));

        QVERIFY(backups.removeRecursively());
        owner.reset();
        const testsupport::BoxSeen missing = testsupport::boxOf([&w] { w.DBbackup(); });
        QCOMPARE(missing.icon, QMessageBox::Warning);
        QVERIFY(missing.text.startsWith(QStringLiteral("数据库备份失败！\n")));
        QVERIFY(missing.text.contains(QStringLiteral("备份文件夹")));
    }

    void systemErrorsInChinese_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("shown");
        QTest::newRow("full disk") << "No space left on device"
                                   << "磁盘空间不足";
        QTest::newRow("SQLite full, driver words") << "database or disk is full Unable to fetch row"
                                                   << "磁盘空间不足（数据库已满） 数据库语句未能执行完";
        QTest::newRow("read-only, any case") << "read-only FILE system"
                                             << "只读文件系统，无法写入";
        QTest::newRow("inside Chinese words, path kept")
            << "SQLite 无法复制数据库：attempt to write a readonly database"
            << "SQLite 无法复制数据库：数据库文件是只读的，无法写入";
        QTest::newRow("Chinese already") << "备份文件夹 /srv/b 不存在"
                                         << "备份文件夹 /srv/b 不存在";
        QTest::newRow("unknown") << "Quota of widgets exceeded"
                                 << "系统错误：Quota of widgets exceeded";
        QTest::newRow("empty") << ""
                               << "";
    }
    void systemErrorsInChinese()
    {
        QFETCH(QString, system);
        QFETCH(QString, shown);
        QCOMPARE(exchange::systemErrorText(system), shown);
    }
    // The scheduled jobs of the program binary (--export-bca, --export-fit,
    // --backup): run without any display, say what they wrote, and end with a
    // non-zero code and a reason when something failed.
    void jobs_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("setup"); // what is wrong with the working folder, if anything
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("written"); // files expected afterwards, relative to run/
        QTest::addColumn<QString>("saying");  // text expected on stdout (success) or stderr
        // Lines: 甲 twice, 乙 once, 丙 without results, then BCA5; fitness 2.
        // clang-format off
        QTest::newRow("export-bca") << "--export-bca bca.csv" << "" << 0 << "bca.csv" << "bca.csv (5 rows)";
        QTest::newRow("all three, = form") << "--backup --export-bca a.csv --export-fit=b.csv" << "" << 0
                                           << "../backup/*.db a.csv b.csv" << "b.csv (2 rows)";
        QTest::newRow("export into a missing folder") << "--export-bca no/bca.csv" << "" << 1 << "" << "no/bca.csv";
        QTest::newRow("failing query") << "--export-fit fit.csv" << "no-fit-table" << 1 << "" << "ResultFIT";
        QTest::newRow("one of two jobs fails") << "--backup --export-bca bca.csv" << "no-backup-folder" << 1
                                               << "bca.csv" << "备份文件夹";
        QTest::newRow("no database") << "--export-bca bca.csv" << "no-database" << 1 << "" << "run/maindb.db does not exist (找不到数据库文件)";
        QTest::newRow("file argument missing") << "--export-bca" << "" << 2 << "" << "export-bca";
        QTest::newRow("unknown option") << "--backup --bogus" << "" << 2 << "" << "bogus";
        // clang-format on
    }
    void jobs()
    {
        QFETCH(QString, args);
        QFETCH(QString, setup);
        QFETCH(int, exitCode);
        QFETCH(QString, written);
        QFETCH(QString, saying);
        QSqlQuery q;
        for (const char *sql :
             {"INSERT INTO Person (UUID, UID, Name, Sex) VALUES ('U','1','甲','1'), "
              "('U','2','乙','2'), ('U','3','丙','1')",
              "INSERT INTO Result (UID, Fat) VALUES ('1', 1), ('1', 2), ('2', 3), ('BCA5', 4)",
              "INSERT INTO ResultFIT (UID, WOLI) VALUES ('1', 30), ('2', 40)"})
            QVERIFY(q.exec(QString::fromUtf8(sql)));
        if (setup == QLatin1String("no-fit-table"))
            QVERIFY(q.exec(QStringLiteral("DROP TABLE ResultFIT")));
        releaseProcessState();
        if (setup == QLatin1String("no-database"))
            QVERIFY(QFile::remove(path(QStringLiteral("run/maindb.db"))));
        if (setup == QLatin1String("no-backup-folder"))
            QVERIFY(QDir(path(QStringLiteral("backup"))).removeRecursively());

        const outputcheck::Run r =
            outputcheck::run(outputcheck::program, args.split(' '), path(QStringLiteral("run")));
        QVERIFY2(r.exitCode == exitCode,
                 qPrintable(QStringLiteral("exit %1\n%2%3").arg(r.exitCode).arg(r.out, r.err)));
        QVERIFY2((exitCode == 0 ? r.out : r.err).contains(saying), qPrintable(r.out + r.err));
        if (exitCode == 0)
            QCOMPARE(r.out.count(QLatin1Char('\n')), written.count(' ') + 1); // one line per job

        // Exactly the expected files, none empty: nothing half-written under another name.
        QStringList present = QDir(path(QStringLiteral("run"))).entryList(QDir::Files);
        present.removeAll(QStringLiteral("maindb.db"));
        for (const QString &b : QDir(path(QStringLiteral("backup"))).entryList(QDir::Files))
            present.prepend(QStringLiteral("../backup/*.db") +
                            (b.endsWith(QLatin1String(".db")) ? QString() : b));
        QCOMPARE(present.join(' '), written);
        for (const QString &f : present)
            QVERIFY(QFileInfo(QDir(path(QStringLiteral("run"))).filePath(f)).size() > 3 || f.startsWith('.'));
        // A missing database is reported, not created.
        QCOMPARE(QFile::exists(path(QStringLiteral("run/maindb.db"))), setup != QLatin1String("no-database"));
    }
};

QTEST_MAIN(TestExchangeBackup)
#include "tst_exchange_backup.moc"
