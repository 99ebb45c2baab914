// The scheduled jobs of the program binary (--export-bca, --export-fit,
// --backup): run without any display, say what they wrote, and end with a
// non-zero code and a reason when something failed.
#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString kProgram = QStringLiteral(QUELMAR_BUILD_DIR "/quelmar");

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the program in |dir| with no display at all: a window would abort it.
Run runProgram(const QString &dir, const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(kProgram, args);
    Run r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Fills the database with 3 people, 4 body-composition and 2 fitness results.
bool fill(const QString &db)
{
    const QString name = QStringLiteral("fill");
    bool ok = true;
    {
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        c.setDatabaseName(db);
        ok = c.open();
        QSqlQuery q(c);
        for (const char *sql :
             {"INSERT INTO Person (UUID, UID, Name, Sex) VALUES "
              "('U','1','甲','1'),('U','2','乙','2'),('U','3','丙','1')",
              "INSERT INTO Result (UID, Fat) VALUES ('1', 1), ('1', 2), ('2', 3), ('BCA5', 4)",
              "INSERT INTO ResultFIT (UID, WOLI) VALUES ('1', 30), ('2', 40)"})
            ok = ok && q.exec(QLatin1String(sql));
        c.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}
} // namespace

class TestExchangeCli : public QObject
{
    Q_OBJECT

private slots:
    void jobs_data();
    void jobs();
};

void TestExchangeCli::jobs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("setup"); // what is wrong with the working folder, if anything
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("written"); // files expected afterwards, relative to run/
    QTest::addColumn<QString>("saying");      // text expected on stdout (success) or stderr

    // Lines: 1 甲 twice, 乙 once, 丙 without results, then BCA5 = 5; fitness 2.
    QTest::newRow("export-bca") << QStringList{"--export-bca", "bca.csv"} << QString() << 0
                                << QStringList{"bca.csv"} << QStringLiteral("bca.csv (5 rows)");
    QTest::newRow("export-fit, = form") << QStringList{"--export-fit=fit.csv"} << QString() << 0
                                        << QStringList{"fit.csv"} << QStringLiteral("fit.csv (2 rows)");
    QTest::newRow("backup") << QStringList{"--backup"} << QString() << 0 << QStringList{"../backup/*.db"}
                            << QStringLiteral("/backup/maindb");
    QTest::newRow("all three") << QStringList{"--backup", "--export-bca", "a.csv", "--export-fit", "b.csv"}
                               << QString() << 0 << QStringList{"a.csv", "b.csv", "../backup/*.db"}
                               << QStringLiteral("b.csv (2 rows)");
    QTest::newRow("export into a missing folder") << QStringList{"--export-bca", "no/bca.csv"} << QString()
                                                  << 1 << QStringList{} << QStringLiteral("no/bca.csv");
    QTest::newRow("failing query") << QStringList{"--export-fit", "fit.csv"} << QStringLiteral("no-fit-table")
                                   << 1 << QStringList{} << QStringLiteral("ResultFIT");
    QTest::newRow("backup without its folder")
        << QStringList{"--backup"} << QStringLiteral("no-backup-folder") << 1 << QStringList{}
        << QStringLiteral("数据库备份失败！");
    QTest::newRow("one of two jobs fails")
        << QStringList{"--backup", "--export-bca", "bca.csv"} << QStringLiteral("no-backup-folder") << 1
        << QStringList{"bca.csv"} << QStringLiteral("备份文件夹");
    QTest::newRow("no database") << QStringList{"--export-bca", "bca.csv"} << QStringLiteral("no-database")
                                 << 1 << QStringList{} << QStringLiteral("maindb.db");
    QTest::newRow("file argument missing")
        << QStringList{"--export-bca"} << QString() << 2 << QStringList{} << QStringLiteral("export-bca");
    QTest::newRow("unknown option") << QStringList{"--backup", "--bogus"} << QString() << 2 << QStringList{}
                                    << QStringLiteral("bogus");
}

void TestExchangeCli::jobs()
{
    QFETCH(QStringList, args);
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(QStringList, written);
    QFETCH(QString, saying);
    QVERIFY2(QFile::exists(kProgram), "build the program first (cmake --build build --target quelmar)");

    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(root.mkpath(QStringLiteral("run")));
    const QString run = root.filePath(QStringLiteral("run"));
    const QString db = root.filePath(QStringLiteral("run/maindb.db"));
    if (setup != QLatin1String("no-backup-folder"))
        QVERIFY(root.mkpath(QStringLiteral("backup")));
    if (setup != QLatin1String("no-database")) {
        QVERIFY(testsupport::buildSuppliedDatabase(db));
        QVERIFY(fill(db));
    }
    if (setup == QLatin1String("no-fit-table"))
        QVERIFY(QProcess::execute(QStringLiteral("sqlite3"), {db, QStringLiteral("DROP TABLE ResultFIT")}) ==
                0);

    const Run r = runProgram(run, args);
    QVERIFY2(r.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1\nstdout: %2\nstderr: %3").arg(r.exitCode).arg(r.out, r.err)));
    if (exitCode == 0) {
        QVERIFY2(r.out.contains(saying), qPrintable(r.out));
        QCOMPARE(r.out.count(QLatin1Char('\n')), written.size()); // one line per job
    } else {
        QVERIFY2(r.err.contains(saying), qPrintable(r.err));
    }

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

QTEST_GUILESS_MAIN(TestExchangeCli)
#include "tst_exchange_cli.moc"
