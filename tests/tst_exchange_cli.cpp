// The scheduled jobs of the program binary (--export-bca, --export-fit,
// --backup): run without any display, say what they wrote, and end with a
// non-zero code and a reason when something failed.
#include "tests/outputcheck.h"
#include "tests/testsupport.h"

#include <QDir>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

class TestExchangeCli : public QObject
{
    Q_OBJECT

private slots:
    void jobs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("setup"); // what is wrong with the working folder, if anything
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("written"); // files expected afterwards, relative to run/
        QTest::addColumn<QString>("saying");      // text expected on stdout (success) or stderr

        // Lines: 甲 twice, 乙 once, 丙 without results, then BCA5; fitness 2.
        QTest::newRow("export-bca") << QStringList{"--export-bca", "bca.csv"} << "" << 0
                                    << QStringList{"bca.csv"} << "bca.csv (5 rows)";
        QTest::newRow("all three, = form")
            << QStringList{"--backup", "--export-bca", "a.csv", "--export-fit=b.csv"} << "" << 0
            << QStringList{"a.csv", "b.csv", "../backup/*.db"} << "b.csv (2 rows)";
        QTest::newRow("export into a missing folder")
            << QStringList{"--export-bca", "no/bca.csv"} << "" << 1 << QStringList{} << "no/bca.csv";
        QTest::newRow("failing query")
            << QStringList{"--export-fit", "fit.csv"} << "no-fit-table" << 1 << QStringList{} << "ResultFIT";
        QTest::newRow("one of two jobs fails")
            << QStringList{"--backup", "--export-bca", "bca.csv"} << "no-backup-folder" << 1
            << QStringList{"bca.csv"} << "备份文件夹";
        QTest::newRow("no database") << QStringList{"--export-bca", "bca.csv"} << "no-database" << 1
                                     << QStringList{} << "maindb.db";
        QTest::newRow("file argument missing")
            << QStringList{"--export-bca"} << "" << 2 << QStringList{} << "export-bca";
        QTest::newRow("unknown option")
            << QStringList{"--backup", "--bogus"} << "" << 2 << QStringList{} << "bogus";
    }
    void jobs()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, setup);
        QFETCH(int, exitCode);
        QFETCH(QStringList, written);
        QFETCH(QString, saying);
        QTemporaryDir dir;
        const QDir root(dir.path());
        QVERIFY(root.mkpath(QStringLiteral("run")));
        const QString run = root.filePath(QStringLiteral("run"));
        const QString db = root.filePath(QStringLiteral("run/maindb.db"));
        if (setup != QLatin1String("no-backup-folder"))
            QVERIFY(root.mkpath(QStringLiteral("backup")));
        if (setup != QLatin1String("no-database")) {
            QVERIFY(testsupport::buildSuppliedDatabase(db));
            QStringList sql = {
                "INSERT INTO Person (UUID, UID, Name, Sex) VALUES "
                "('U','1','甲','1'),('U','2','乙','2'),('U','3','丙','1');",
                "INSERT INTO Result (UID, Fat) VALUES ('1', 1), ('1', 2), ('2', 3), ('BCA5', 4);",
                "INSERT INTO ResultFIT (UID, WOLI) VALUES ('1', 30), ('2', 40);"};
            if (setup == QLatin1String("no-fit-table"))
                sql << QStringLiteral("DROP TABLE ResultFIT;");
            QCOMPARE(outputcheck::run(QStringLiteral("sqlite3"), {db, sql.join(QLatin1Char(' '))}).exitCode,
                     0);
        }

        const outputcheck::Run r = outputcheck::runProgram(run, args);
        QVERIFY2(r.exitCode == exitCode,
                 qPrintable(QStringLiteral("exit %1\n%2%3").arg(r.exitCode).arg(r.out, r.err)));
        QVERIFY2((exitCode == 0 ? r.out : r.err).contains(saying), qPrintable(r.out + r.err));
        if (exitCode == 0)
            QCOMPARE(r.out.count(QLatin1Char('\n')), written.size()); // one line per job

        // Exactly the expected files: nothing half-written under another name.
        QStringList present = QDir(run).entryList(QDir::Files);
        present.removeAll(QStringLiteral("maindb.db"));
        for (const QString &b : QDir(root.filePath(QStringLiteral("backup"))).entryList(QDir::Files))
            present << QStringLiteral("../backup/*.db") + (b.endsWith(QLatin1String(".db")) ? QString() : b);
        present.sort();
        written.sort();
        QCOMPARE(present, written);
        for (const QString &f : written) {
            if (f.endsWith(QLatin1String(".csv")))
                QVERIFY(QFile(QDir(run).filePath(f)).size() > 3);
        }
        // A missing database is reported, not created.
        QCOMPARE(QFile::exists(db), setup != QLatin1String("no-database"));
    }
};

QTEST_GUILESS_MAIN(TestExchangeCli)
#include "tst_exchange_cli.moc"
