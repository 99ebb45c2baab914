// The program binary's headless modes on command lines and databases that
// are not as they should be: stray or repeated arguments, one file named for
// two jobs or for the database itself, and a maindb.db that is no database,
// empty, without tables or without the table a job reads. Each run ends with
// its exit code and reason before it writes or creates anything. Also which
// headless mode each form of an option starts, and the --export-pdf ranges.
#include "exchange/commandline.h"
#include "reports/historypage.h"
#include "reports/pdfarchive.h"
#include "tests/outputcheck.h"

#include <QCryptographicHash>
#include <QDirIterator>

namespace {
// Every file and folder below |dir| except the database, relative, sorted.
QStringList contentsOf(const QString &dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(dir).relativeFilePath(it.next());
        if (path != QLatin1String("run/maindb.db"))
            found << path;
    }
    found.sort();
    return found;
}

QByteArray digest(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1)
                                       : QByteArray();
}

bool sqlite(const QString &db, const QString &sql)
{
    return outputcheck::run(QStringLiteral("sqlite3"), {db, sql}).exitCode == 0;
}
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    // Each job alone and combined, as "--opt VALUE" and "--opt=VALUE": the
    // modes it starts (p: PDF archive, h: history export, j: a headless job).
    void modeOfEachForm()
    {
        // clang-format off
        const char *const cases[][2] = {
            {"--export-pdf 7 --out d", "p"},          {"--export-pdf=7-7 --out=d --fitness", "p"},
            {"--export-history U1 --out h.pdf", "hj"}, {"--export-history=U1 --out=h.pdf", "hj"},
            {"--export-bca a.csv", "j"},             {"--export-bca=a.csv", "j"},
            {"--export-fit b.csv", "j"},             {"--export-fit=b.xlsx", "j"},
            {"--backup", "j"},                       {"--backup --export-fit=b.csv --export-bca a.csv", "j"},
            {"--stats 2024-01-01 2024-01-31 --out=s.csv", "j"},
            {"--export-bcax a.csv", ""},             {"--export-pdfs 7", ""},
            {"--export-historyU1", ""},              {"-export-bca a.csv", ""},
            {"--demo", ""},                          {"", ""}};
        // clang-format on
        for (const auto &c : cases) {
            QList<QByteArray> words = QByteArray("quelmar ").append(c[0]).split(' ');
            words.removeAll(QByteArray());
            std::vector<char *> argv;
            for (QByteArray &w : words)
                argv.push_back(w.data());
            const int argc = int(argv.size());
            QString modes;
            if (reports::wantsPdfArchive(argc, argv.data()))
                modes += 'p';
            if (history::wantsHistoryExport(argc, argv.data()))
                modes += 'h';
            if (exchange::isJobCommandLine(argc, argv.data()))
                modes += 'j';
            QCOMPARE(QString(c[0]) + " -> " + modes, QString(c[0]) + " -> " + c[1]);
        }
    }

    // --export-pdf ranges: one number, FIRST-LAST with blanks, the edges of int.
    void archiveRanges()
    {
        // clang-format off
        const char *const cases[][2] = {
            {"7", "7-7"}, {"7-7", "7-7"}, {" 3 - 9 ", "3-9"}, {"1-2147483647", "1-2147483647"},
            {"9-7", "refused"}, {"0-3", "refused"}, {"0", "refused"}, {"2147483648", "refused"},
            {"7-", "refused"}, {"-7", "refused"}, {"3-9-12", "refused"}, {"a-b", "refused"}, {"", "refused"}};
        // clang-format on
        for (const auto &c : cases) {
            int first = -1, last = -1;
            const QString got = reports::parseArchiveRange(QString::fromLatin1(c[0]), &first, &last)
                                    ? QStringLiteral("%1-%2").arg(first).arg(last)
                                    : QStringLiteral("refused");
            QCOMPARE(QString(c[0]) + " -> " + got, QString(c[0]) + " -> " + c[1]);
        }
    }

    void edges_data()
    {
        QTest::addColumn<QString>("database"); // what run/maindb.db holds
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("saying"); // on stderr when failing, on stdout otherwise
        QTest::addColumn<QString>("left");   // files and folders afterwards besides run/ and backup/
        // clang-format off
        QTest::newRow("pdf: extra argument") << "records" << "--export-pdf 1 3 --out out" << 2 << "unexpected argument: 3" << "";
        QTest::newRow("pdf: --out twice") << "records" << "--export-pdf 1-3 --out a --out=b" << 2 << "--out given more than once" << "";
        QTest::newRow("pdf: range twice") << "records" << "--export-pdf 1-3 --export-pdf 5 --out a" << 2 << "--export-pdf given more than once" << "";
        QTest::newRow("pdf: no processes") << "records" << "--export-pdf 1-3 --out out --jobs 0" << 2 << "bad --jobs \"0\"" << "";
        QTest::newRow("jobs: extra argument") << "records" << "--export-bca a.csv b.csv" << 2 << "unexpected argument: b.csv" << "";
        QTest::newRow("jobs: option twice") << "records" << "--export-fit a.csv --export-fit b.csv" << 2 << "--export-fit given more than once" << "";
        QTest::newRow("jobs: --backup twice") << "records" << "--backup --backup" << 2 << "--backup given more than once" << "";
        QTest::newRow("jobs: one file for two") << "records" << "--export-bca f.csv --export-fit=./x/../f.csv" << 2 << "--export-bca and --export-fit name the same file" << "";
        QTest::newRow("jobs: export onto the database") << "records" << "--export-fit ../run/maindb.db" << 2 << "would overwrite the database" << "";
        QTest::newRow("pdf: not a database") << "text" << "--export-pdf 1-3 --out out" << 1 << "is not an SQLite database" << "";
        QTest::newRow("pdf: empty file") << "empty" << "--export-pdf 1-3 --out out --fitness" << 1 << "is empty" << "";
        QTest::newRow("pdf: no tables") << "tableless" << "--export-pdf 1-3 --out out" << 1 << "holds none of the program's tables" << "";
        QTest::newRow("pdf: no fitness table") << "no-ResultFIT" << "--export-pdf 1-3 --out out --fitness" << 1 << "lacks the table(s) ResultFIT" << "";
        QTest::newRow("pdf: at the top of the range") << "records" << "--export-pdf 2147483640-2147483647 --out out --fitness" << 0
            << "1 written, 7 missing: 2147483640-2147483646" << "run/out run/out/2147483647_U9_末.pdf";
        QTest::newRow("jobs: not a database") << "text" << "--export-bca a.csv --backup" << 1 << "is not an SQLite database" << "";
        QTest::newRow("backup: empty file") << "empty" << "--backup" << 1 << "is empty, 0 bytes" << "";
        QTest::newRow("backup: no tables") << "tableless" << "--backup" << 1 << "没有本程序的数据表" << "";
        QTest::newRow("backup: one table missing") << "no-ResultFIT" << "--backup" << 0 << "backup: " << "backup/*.db";
        QTest::newRow("jobs: the table of one job missing") << "no-ResultFIT" << "--export-fit f.csv --export-bca b.csv" << 1
            << "export-fit failed: " << "run/b.csv";
        // clang-format on
    }
    // The exit code, the reason, nothing left behind but what the run wrote,
    // and the database file untouched.
    void edges()
    {
        QFETCH(QString, database);
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QFETCH(QString, saying);
        QFETCH(QString, left);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("run")) &&
                QDir(dir.path()).mkpath(QStringLiteral("backup")));
        const QString db = dir.filePath(QStringLiteral("run/maindb.db"));
        if (database == QLatin1String("text")) {
            QFile f(db);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("UID,Name\n1,甲\n" + QByteArray(4000, 'x')) > 0);
        } else if (database == QLatin1String("empty")) {
            QFile f(db);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (database == QLatin1String("tableless")) {
            QVERIFY(sqlite(db, QStringLiteral("CREATE TABLE t(a); DROP TABLE t;")));
        } else {
            QVERIFY(testsupport::buildSuppliedDatabase(db));
            QVERIFY(sqlite(
                db,
                QStringLiteral("INSERT INTO ResultFIT (TestID, UID, Name) VALUES (2147483647, 'U9', '末');"
                               "INSERT INTO Result (UID, Name) VALUES ('U9', '末');")));
            if (database == QLatin1String("no-ResultFIT"))
                QVERIFY(sqlite(db, QStringLiteral("DROP TABLE ResultFIT")));
        }
        const QByteArray before = digest(db);

        const outputcheck::Run r =
            outputcheck::run(outputcheck::program, args.split(' '), dir.filePath("run"));
        QVERIFY2(r.exitCode == exitCode,
                 qPrintable(QStringLiteral("exit %1\n%2%3").arg(r.exitCode).arg(r.out, r.err)));
        QVERIFY2((exitCode == 0 ? r.out : r.err).contains(saying), qPrintable(r.out + r.err));
        QStringList rest = contentsOf(dir.path());
        rest.removeAll(QStringLiteral("run"));
        rest.removeAll(QStringLiteral("backup"));
        rest.replaceInStrings(QRegularExpression(QStringLiteral("^backup/maindb\\d{14}\\.db$")),
                              QStringLiteral("backup/*.db"));
        QCOMPARE(rest.join(' '), left);
        QCOMPARE(digest(db), before);
    }
};

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
