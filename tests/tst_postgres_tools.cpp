// The shared database on a real PostgreSQL server of the test's own: the
// schema made by `quelmar --init-database` against the supplied SQLite file
// (columns and configuration rows, table by table), the values the program
// stores kept exactly, an existing schema refused, and `--copy-database`
// moving a PC's file in: whole rows compared, people not doubled, a second
// run refused, --again, and a failing copy leaving nothing behind.
#include "app/database.h"
#include "exchange/dbinit.h"
#include "tests/outputcheck.h"
#include "tests/pgserver.h"

#include <QSqlRecord>

namespace {
const QString kTarget = QStringLiteral("target");

// One value as text that tells numbers, texts and NULL apart; whole numbers
// read from either database look the same.
QString cell(const QVariant &v)
{
    if (v.isNull())
        return QStringLiteral("NULL");
    if (v.type() == QVariant::Double)
        return QString::number(v.toDouble(), 'g', 17);
    if (v.type() == QVariant::String)
        return QLatin1Char('\'') + v.toString() + QLatin1Char('\'');
    return v.toString();
}

// Rows of |sql| on |db|, each "v1|v2|..."; |skip| leaves a column out by name.
QStringList rowsOf(const QSqlDatabase &db, const QString &sql, const QString &skip = QString())
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        return {QStringLiteral("failed: ") + q.lastError().text()};
    QStringList rows;
    while (q.next()) {
        QStringList values;
        for (int c = 0; c < q.record().count(); ++c) {
            if (q.record().fieldName(c).compare(skip, Qt::CaseInsensitive) != 0)
                values << cell(q.value(c));
        }
        rows << values.join(QLatin1Char('|'));
    }
    return rows;
}

QStringList columnsOf(const QSqlDatabase &db, const QString &table)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(table)))
        return {QStringLiteral("failed: ") + q.lastError().text()};
    QStringList names;
    for (int c = 0; c < q.record().count(); ++c)
        names << q.record().fieldName(c);
    return names;
}

bool exec(const QSqlDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        qWarning() << sql << q.lastError().text();
        return false;
    }
    return true;
}

QStringList lowerTables(const QSqlDatabase &db)
{
    QStringList t;
    // SQLite's own bookkeeping of AUTOINCREMENT is no table of the program.
    for (const QString &name : db.tables()) {
        if (name != QLatin1String("sqlite_sequence"))
            t << name.toLower();
    }
    t.sort();
    return t;
}
} // namespace

class TestPostgresTools : public QObject
{
    Q_OBJECT

    PgServer m_server;
    QTemporaryDir m_dir;
    int m_serial = 0;

    // A new empty database on the server; its name.
    QString newDatabase()
    {
        const QString name = QStringLiteral("db%1").arg(++m_serial);
        return m_server.createDatabase(name) ? name : QString();
    }

    outputcheck::Run quelmar(const QStringList &args)
    {
        return outputcheck::run(outputcheck::program, args, m_dir.path());
    }

    // A new database holding the program's schema, opened as kTarget.
    QSqlDatabase preparedTarget(QString *url)
    {
        const QString name = newDatabase();
        *url = m_server.url(name);
        const outputcheck::Run r = quelmar({QStringLiteral("--init-database"), *url});
        if (r.exitCode != 0)
            qWarning() << r.err;
        QSqlDatabase::removeDatabase(kTarget);
        return m_server.connect(name, kTarget);
    }

private slots:
    void initTestCase()
    {
        if (!m_server.available())
            QSKIP(qPrintable(m_server.skipReason()));
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        QVERIFY(m_dir.isValid());
    }

    void cleanup()
    {
        QSqlDatabase::removeDatabase(kTarget);
        QSqlDatabase::removeDatabase(QStringLiteral("sqlite"));
    }

    void statements_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("statements");
        QTest::newRow("two, last without semicolon")
            << "CREATE TABLE a (x integer);\nINSERT INTO a VALUES (1)"
            << QStringList{"CREATE TABLE a (x integer)", "INSERT INTO a VALUES (1)"};
        QTest::newRow("semicolon in a literal and a doubled quote")
            << "INSERT INTO a VALUES ('x;''y');SELECT 1;"
            << QStringList{"INSERT INTO a VALUES ('x;''y')", "SELECT 1"};
        QTest::newRow("semicolon in a quoted name")
            << "SELECT \"a;b\" FROM t;" << QStringList{"SELECT \"a;b\" FROM t"};
        QTest::newRow("comment with semicolon and quote")
            << "-- don't; stop\nSELECT 2; -- trailing ';\n;  ;" << QStringList{"SELECT 2"};
        QTest::newRow("dashes inside a literal") << "SELECT '--x;' ;" << QStringList{"SELECT '--x;'"};
    }
    void statements()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, statements);
        QCOMPARE(exchange::sqlStatements(script), statements);
    }

    // The server's schema has every table and column of the supplied file,
    // in the same order and spelling, and the same configuration rows.
    void schemaMatchesSuppliedFile()
    {
        const QString name = newDatabase();
        const outputcheck::Run r = quelmar({QStringLiteral("--init-database"), m_server.url(name)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out,
                 QStringLiteral("init-database: %1: 7 tables (Person, Result, ResultFIT, Unit, Report, "
                                "Server, Print) and 15 configuration rows created\n")
                     .arg(m_server.url(name)));

        const QString file = m_dir.filePath(QStringLiteral("supplied.db"));
        QVERIFY(testsupport::buildSuppliedDatabase(file));
        QSqlDatabase lite = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("sqlite"));
        lite.setDatabaseName(file);
        QVERIFY(lite.open());
        QSqlDatabase pg = m_server.connect(name, kTarget);
        QVERIFY2(pg.isOpen(), qPrintable(m_server.error()));

        QCOMPARE(lowerTables(pg), lowerTables(lite));
        const QStringList keys = {"ID", "TestID", "TestID", "ID", "ID", "ID", ""};
        for (int i = 0; i < requiredTables().size(); ++i) {
            const QString table = requiredTables().at(i);
            QCOMPARE(columnsOf(pg, table), columnsOf(lite, table));
            // The Print rows have no key: insertion order on both.
            const QString order = keys[i].isEmpty() ? QString() : QStringLiteral("\"%1\"").arg(keys[i]);
            const QStringList seeded = rowsOf(
                lite,
                QStringLiteral("SELECT * FROM %1 ORDER BY %2").arg(table, order.isEmpty() ? "rowid" : order));
            QCOMPARE(rowsOf(pg, QStringLiteral("SELECT * FROM %1 ORDER BY %2")
                                    .arg(table, order.isEmpty() ? "ctid" : order)),
                     seeded);
        }
        QCOMPARE(rowsOf(pg, "SELECT count(*) FROM Print").value(0), QStringLiteral("7"));
    }

    // Each kind of value the program stores comes back exactly as bound.
    void valuesKept_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("real: inexact sum") << "Result"
                                           << "Fat" << QVariant(0.1 + 0.2);
        QTest::newRow("real: tiny") << "Result"
                                    << "RA500" << QVariant(1e-300);
        QTest::newRow("real: huge") << "Result"
                                    << "Weight" << QVariant(1.7976931348623157e308);
        QTest::newRow("real: negative, many digits") << "Result"
                                                     << "Weight_control" << QVariant(-12.345678901234567);
        QTest::newRow("integer: largest") << "Result"
                                          << "LiverRisk" << QVariant(2147483647);
        QTest::newRow("integer: smallest") << "ResultFIT"
                                           << "FHL" << QVariant(-2147483647 - 1);
        QTest::newRow("text: Chinese and quotes") << "Result"
                                                  << "BodyType" << QVariant("隐性肥胖型 'a' \"b\" ;--");
        QTest::newRow("text: date as the analyzer sends it") << "Result"
                                                             << "TestDate" << QVariant("2026-12-08 09:05:01");
        QTest::newRow("person height with decimals") << "Person"
                                                     << "Height" << QVariant(170.5);
        QTest::newRow("person height as imported text") << "Person"
                                                        << "Height" << QVariant("168.5");
        QTest::newRow("birth year as imported text") << "Person"
                                                     << "BirthYear" << QVariant("1990");
        QTest::newRow("phone with leading zero") << "Person"
                                                 << "Phone" << QVariant("013800000000");
    }
    void valuesKept()
    {
        QFETCH(QString, table);
        QFETCH(QString, column);
        QFETCH(QVariant, value);
        QString url;
        QSqlDatabase pg = preparedTarget(&url);
        QVERIFY(pg.isOpen());
        const QString key = table == QLatin1String("Person") ? "ID" : "TestID";
        QVERIFY(exec(pg, QStringLiteral("INSERT INTO %1 (\"%2\") VALUES (?)").arg(table, column), {value}));
        const QStringList got =
            rowsOf(pg, QStringLiteral("SELECT \"%1\", \"%2\" FROM %3").arg(key, column, table));
        // Text of digits reads back as the number it names.
        const QVariant expected = value.type() == QVariant::String && value.toString() == "168.5"
                                      ? QVariant(168.5)
                                  : value.toString() == "1990" ? QVariant(1990)
                                                               : value;
        QCOMPARE(got, QStringList{QStringLiteral("1|") + cell(expected)});
    }

    void initRefused_data()
    {
        QTest::addColumn<QString>("before"); // SQL run on the new database first
        QTest::addColumn<QString>("url");    // empty: the new database
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("saying");
        QTest::addColumn<QStringList>("tablesAfter");
        const QStringList all = {"person", "print", "report", "result", "resultfit", "server", "unit"};
        QTest::newRow("schema there already")
            << "INIT"
            << "" << 1
            << "holds the tables Person, Result, ResultFIT, Unit, Report, Server, "
               "Print already; nothing was changed"
            << all;
        QTest::newRow("one table of the program there")
            << "CREATE TABLE ResultFIT (x integer)"
            << "" << 1 << "holds the tables ResultFIT already; nothing was changed"
            << QStringList{"resultfit"};
        QTest::newRow("other tables only: created beside them")
            << "CREATE TABLE notes (x integer)"
            << "" << 0 << "7 tables" << (QStringList{"notes"} + all);
        QTest::newRow("no server on the port")
            << ""
            << "postgresql://quelmar@127.0.0.1:1/x" << 1 << "cannot open postgresql://quelmar@127.0.0.1:1/x"
            << QStringList{};
        QTest::newRow("not an address")
            << ""
            << "mysql://h/x" << 2 << "--init-database mysql://h/x" << QStringList{};
    }
    void initRefused()
    {
        QFETCH(QString, before);
        QFETCH(QString, url);
        QFETCH(int, exitCode);
        QFETCH(QString, saying);
        QFETCH(QStringList, tablesAfter);
        const QString name = newDatabase();
        if (before == QLatin1String("INIT"))
            QCOMPARE(quelmar({"--init-database", m_server.url(name)}).exitCode, 0);
        else if (!before.isEmpty())
            QVERIFY(m_server.psql(name, before));
        QString rowsBefore;
        QVERIFY(m_server.psql(name, "SELECT count(*) FROM pg_class", &rowsBefore));
        const outputcheck::Run r = quelmar({"--init-database", url.isEmpty() ? m_server.url(name) : url});
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2((exitCode == 0 ? r.out : r.err).contains(saying), qPrintable(r.out + r.err));
        if (!url.isEmpty())
            return;
        QSqlDatabase pg = m_server.connect(name, kTarget);
        QCOMPARE(lowerTables(pg), tablesAfter);
        if (exitCode != 0) {
            QString rowsAfter;
            QVERIFY(m_server.psql(name, "SELECT count(*) FROM pg_class", &rowsAfter));
            QCOMPARE(rowsAfter, rowsBefore);
        }
    }

    // A PC's file into a server that already holds a person and a result.
    void copyIntoShared()
    {
        QString url;
        QSqlDatabase pg = preparedTarget(&url);
        QVERIFY(pg.isOpen());
        QVERIFY(exec(pg,
                     "INSERT INTO Person (\"UUID\", \"UID\", \"Name\", \"Sex\", \"BirthYear\", \"Height\") "
                     "VALUES ('U-SHARED', 'P1', '王五', '1', 1980, 175)"));
        QVERIFY(exec(pg, "INSERT INTO Result (\"UID\", \"Name\", \"Weight\") VALUES ('P1', '王五', 80.5)"));

        const QString file = m_dir.filePath(QStringLiteral("pc2.db"));
        QVERIFY(testsupport::buildSuppliedDatabase(file));
        {
            QSqlDatabase lite =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("sqlite"));
            lite.setDatabaseName(file);
            QVERIFY(lite.open());
            const QString person =
                "INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height, Phone, Note) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
            // Registered on the server already under P1: kept as it is there.
            QVERIFY(exec(lite, person,
                         {"U-PC2", "P1", "王五（二号机）", "2", 1981, 176, QVariant(), QVariant()}));
            QVERIFY(exec(lite, person, {"U-PC2", "P2", "赵六", "2", 1985, 158.5, "013800000000", "左利手"}));
            // The same user number twice in the file: the first one counts.
            QVERIFY(
                exec(lite, person, {"U-PC2", "P2", "赵六（重复）", "1", 1986, 160, QVariant(), QVariant()}));
            QVERIFY(exec(lite, person, {"U-PC2", "", "无编号", "1", 2001, 181, QVariant(), "x"}));
            const QString result =
                "INSERT INTO Result (UUID, UID, Name, Sex, BirthYear, TestDate, Fat, Weight, "
                "RA500, BodyType, LiverRisk, LL_ECW) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
            QVERIFY(exec(lite, result,
                         {"U-PC2", "P2", "赵六", "2", 1985, "2026-12-08 09:00:00", 0.1 + 0.2, 52.25, 1e-300,
                          "隐性肥胖型", 40, 1.23}));
            QVERIFY(exec(lite, result,
                         {"U-PC2", "P1", "王五", "1", 1981, "2026-12-08 09:10:00", 17.5, 76.75, QVariant(),
                          "标准型", 0, QVariant()}));
            QVERIFY(exec(lite,
                         "INSERT INTO ResultFIT (UID, Name, Sex, BirthYear, TestDate, WOLI, FHL, TZ, YWQZ) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                         {"P2", "赵六", "2", 1985, "2026-12-08", 31.5, 3200, 58.25, 41}));
            // A result deleted on the PC leaves a gap in its test numbers.
            QVERIFY(exec(lite, "DELETE FROM Result WHERE TestID = 1"));
            QVERIFY(exec(lite, result,
                         {"U-PC2", "P2", "赵六", "2", 1985, "2026-12-08 09:20:00", 22.0, 52.0, 2.5, "肥胖型",
                          90, 0.5}));
        }
        QSqlDatabase lite = QSqlDatabase::database(QStringLiteral("sqlite"));
        const QStringList sourceResults = rowsOf(lite, "SELECT * FROM Result ORDER BY TestID", "TestID");
        const QStringList sourceFitness = rowsOf(lite, "SELECT * FROM ResultFIT ORDER BY TestID", "TestID");
        QCOMPARE(sourceResults.size(), 2);
        const QStringList sharedResult = rowsOf(pg, "SELECT * FROM Result", "TestID");
        lite.close();

        const QString people = "SELECT * FROM Person ORDER BY \"ID\"";
        const QStringList expectedPeople = {
            "1|'U-SHARED'|'P1'|'王五'|'1'|1980|175|NULL|NULL",
            "2|'U-PC2'|'P2'|'赵六'|'2'|1985|158.5|'013800000000'|'左利手'",
            "3|'U-PC2'|''|'无编号'|'1'|2001|181|NULL|'x'",
        };

        // First copy.
        outputcheck::Run r = quelmar({"--copy-database", file, url});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out,
                 QStringLiteral("copy-database: %1 -> %2: 2 people copied, 2 already registered (kept), "
                                "2 body-composition results, 1 fitness results\n")
                     .arg(file, url));
        QCOMPARE(rowsOf(pg, people), expectedPeople);
        QCOMPARE(rowsOf(pg, "SELECT * FROM Result ORDER BY \"TestID\"", "TestID"),
                 sharedResult + sourceResults);
        QCOMPARE(rowsOf(pg, "SELECT * FROM ResultFIT ORDER BY \"TestID\"", "TestID"), sourceFitness);
        // New test numbers after the server's own, not the file's.
        QCOMPARE(rowsOf(pg, "SELECT \"TestID\" FROM Result ORDER BY \"TestID\""),
                 (QStringList{"1", "2", "3"}));

        // The same file again: refused, nothing changed.
        r = quelmar({"--copy-database", "sqlite:" + file, url});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(
            r.err.contains(QStringLiteral("the data of %1 was copied into this database already").arg(file)),
            qPrintable(r.err));
        QVERIFY2(r.err.contains("2 body-composition and 1 fitness results); --again copies it once more"),
                 qPrintable(r.err));
        QCOMPARE(r.out, QString());
        QCOMPARE(rowsOf(pg, "SELECT count(*) FROM Result").value(0), QStringLiteral("3"));
        QCOMPARE(rowsOf(pg, people), expectedPeople);

        // --again: the results once more, registered people still not doubled.
        r = quelmar({"--copy-database", file, url, "--again"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(
            r.out.startsWith(QStringLiteral("copy-database: %1 -> %2: 1 people copied, 3 already registered "
                                            "(kept), 2 body-composition results, 1 fitness results (again; "
                                            "before: ")
                                 .arg(file, url)),
            qPrintable(r.out));
        QCOMPARE(rowsOf(pg, people).mid(0, 3), expectedPeople);
        QCOMPARE(rowsOf(pg, "SELECT count(*) FROM Person").value(0), QStringLiteral("4"));
        QCOMPARE(rowsOf(pg, "SELECT * FROM Result ORDER BY \"TestID\"", "TestID"),
                 sharedResult + sourceResults + sourceResults);
        QCOMPARE(rowsOf(pg, "SELECT \"Copies\", \"Results\", \"FitnessResults\" FROM CopiedFile"),
                 QStringList{"2|2|1"});
    }

    // A value the server cannot take stops the copy with nothing written.
    void failedCopyLeavesNothing()
    {
        QString url;
        QSqlDatabase pg = preparedTarget(&url);
        QVERIFY(pg.isOpen());
        const QString file = m_dir.filePath(QStringLiteral("bad.db"));
        QVERIFY(testsupport::buildSuppliedDatabase(file));
        QVERIFY(outputcheck::run("sqlite3", {file, "INSERT INTO Person (UID, Name) VALUES ('B1', '甲');"
                                                   "INSERT INTO Result (UID, Weight) VALUES ('B1', 60);"
                                                   "INSERT INTO ResultFIT (UID, FHL) VALUES ('B1', 'abc');"})
                    .exitCode == 0);
        outputcheck::Run r = quelmar({"--copy-database", file, url});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("ResultFIT row TestID 1 of %1 not copied").arg(file)),
                 qPrintable(r.err));
        QCOMPARE(r.out, QString());
        for (const char *table : {"Person", "Result", "ResultFIT"})
            QCOMPARE(rowsOf(pg, QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))).value(0),
                     QStringLiteral("0"));
        QVERIFY(!lowerTables(pg).contains("copiedfile") ||
                rowsOf(pg, "SELECT count(*) FROM CopiedFile").value(0) == QLatin1String("0"));

        // Mended, the file copies (it is other data now).
        QVERIFY(outputcheck::run("sqlite3", {file, "UPDATE ResultFIT SET FHL = 2800"}).exitCode == 0);
        r = quelmar({"--copy-database", file, url});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(rowsOf(pg, "SELECT \"UID\", \"FHL\" FROM ResultFIT"), QStringList{"'B1'|2800"});
    }

    void copyCommandLine_data()
    {
        QTest::addColumn<QStringList>("args"); // TARGET stands for a prepared database
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("saying");
        QTest::newRow("source missing")
            << QStringList{"--copy-database", "none.db", "TARGET"} << 1 << "none.db does not exist";
        QTest::newRow("source on a server")
            << QStringList{"--copy-database", "TARGET", "TARGET"} << 2 << "the source must be an SQLite file";
        QTest::newRow("no target") << QStringList{"--copy-database", "x.db"} << 2 << "takes FROM and TO";
        QTest::newRow("both tools") << QStringList{"--copy-database", "x.db", "TARGET", "--init-database",
                                                   "TARGET"}
                                    << 2 << "give either --init-database or --copy-database";
        QTest::newRow("target without the schema")
            << QStringList{"--copy-database", "SOURCE", "EMPTY"} << 1
            << "the target has no table Person: run --init-database first";
        QTest::newRow("file onto itself") << QStringList{"--copy-database", "SOURCE", "sqlite:SOURCE"} << 2
                                          << "source and target are the same file";
    }
    void copyCommandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, saying);
        QString url;
        QSqlDatabase pg = preparedTarget(&url);
        const QString empty = m_server.url(newDatabase());
        const QString source = m_dir.filePath(QStringLiteral("source.db"));
        QVERIFY(testsupport::buildSuppliedDatabase(source));
        for (QString &a : args) {
            a.replace("TARGET", url).replace("EMPTY", empty).replace("SOURCE", source);
        }
        const outputcheck::Run r = quelmar(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(saying), qPrintable(r.err));
        QCOMPARE(r.out, QString());
        QCOMPARE(rowsOf(pg, "SELECT count(*) FROM Person").value(0), QStringLiteral("0"));
    }
};

QTEST_MAIN(TestPostgresTools)
#include "tst_postgres_tools.moc"
