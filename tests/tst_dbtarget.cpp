// Reading the database address, the order in which it is chosen, and the
// texts that differ between the file and the server.
#include "app/database.h"
#include "app/dbtarget.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
DbTarget server(const QString &host, int port, const QString &user, const QString &name)
{
    DbTarget t;
    t.kind = DbTarget::Kind::Server;
    t.path.clear();
    t.host = host;
    t.port = port;
    t.user = user;
    t.name = name;
    return t;
}

DbTarget file(const QString &path)
{
    DbTarget t;
    t.path = path;
    return t;
}
} // namespace

Q_DECLARE_METATYPE(DbTarget)

class TstDbTarget : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void parseRefuses_data();
    void parseRefuses();
    void choiceOrder_data();
    void choiceOrder();
    void settingsRoundTrip();
    void settingsForm();
    void optionTakenFromArguments();
    void dialectTexts();
    void schemaNamesQuoted();
    void fileDatabaseOpensAndRevives();
};

void TstDbTarget::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<DbTarget>("expected");
    QTest::addColumn<QString>("display");
    QTest::newRow("plain path") << "data/day1.db" << file("data/day1.db") << QString();
    QTest::newRow("sqlite scheme") << "sqlite:/srv/q/maindb.db" << file("/srv/q/maindb.db")
                                   << "/srv/q/maindb.db";
    QTest::newRow("sqlite double slash") << "sqlite:///srv/a.db" << file("/srv/a.db") << "/srv/a.db";
    QTest::newRow("full url") << "postgresql://tester@db.lan:5433/quelmar"
                              << server("db.lan", 5433, "tester", "quelmar")
                              << "postgresql://tester@db.lan:5433/quelmar";
    QTest::newRow("no user no port") << "postgresql://10.0.0.7/results"
                                     << server("10.0.0.7", 0, "", "results")
                                     << "postgresql://10.0.0.7/results";
    QTest::newRow("short scheme") << "postgres://ops@h/q" << server("h", 0, "ops", "q")
                                  << "postgresql://ops@h/q";
    QTest::newRow("ipv6") << "postgresql://[::1]:6000/q" << server("::1", 6000, "", "q")
                          << "postgresql://[::1]:6000/q";
    QTest::newRow("socket param") << "postgresql:///quelmar?host=/tmp/pg%20dir&user=nobody"
                                  << server("/tmp/pg dir", 0, "nobody", "quelmar")
                                  << "postgresql://nobody@/quelmar?host=/tmp/pg dir";
    QTest::newRow("encoded socket") << "postgresql://%2Fvar%2Frun%2Fpostgresql:5544/day"
                                    << server("/var/run/postgresql", 5544, "", "day")
                                    << "postgresql://:5544/day?host=/var/run/postgresql";
    QTest::newRow("params override") << "postgresql://a@h1:1111/d1?port=2222&dbname=d2&user=b"
                                     << server("h1", 2222, "b", "d2") << "postgresql://b@h1:2222/d2";
    QTest::newRow("encoded user and name") << "postgresql://%E6%B5%8B%E8%AF%95@h/%E5%BA%93"
                                           << server("h", 0, QStringLiteral("测试"), QStringLiteral("库"))
                                           << QStringLiteral("postgresql://测试@h/库");
    QTest::newRow("edge ports") << "postgresql://h:65535/x" << server("h", 65535, "", "x")
                                << "postgresql://h:65535/x";
    QTest::newRow("port one") << "postgresql://h:1/x" << server("h", 1, "", "x") << "postgresql://h:1/x";
}

void TstDbTarget::parse()
{
    QFETCH(QString, text);
    QFETCH(DbTarget, expected);
    QFETCH(QString, display);
    DbTarget got;
    QString error;
    QVERIFY2(parseDbTarget(text, &got, &error), qPrintable(error));
    QCOMPARE(got.isServer(), expected.isServer());
    QCOMPARE(got.path, expected.path);
    QCOMPARE(got.host, expected.host);
    QCOMPARE(got.port, expected.port);
    QCOMPARE(got.user, expected.user);
    QCOMPARE(got.name, expected.name);
    QVERIFY(got.password.isEmpty());
    QCOMPARE(got.display(), display.isEmpty() ? QFileInfo(expected.path).absoluteFilePath() : display);
}

void TstDbTarget::parseRefuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << "  "
                           << "empty";
    QTest::newRow("port zero") << "postgresql://h:0/x"
                               << "port \"0\"";
    QTest::newRow("port too big") << "postgresql://h:65536/x"
                                  << "port \"65536\"";
    QTest::newRow("port letters") << "postgresql://h:abc/x"
                                  << "port \"abc\"";
    QTest::newRow("bad param port") << "postgresql://h/x?port=-1"
                                    << "port \"-1\"";
    QTest::newRow("unknown param") << "postgresql://h/x?sslcert=a"
                                   << "unknown parameter \"sslcert\"";
    QTest::newRow("unclosed ipv6") << "postgresql://[::1/x"
                                   << "unclosed";
    QTest::newRow("other scheme") << "mysql://h/x"
                                  << "unknown kind";
    QTest::newRow("sqlite nothing") << "sqlite:"
                                    << "no file";
}

void TstDbTarget::parseRefuses()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    DbTarget got = file(QStringLiteral("untouched.db"));
    QString error;
    QVERIFY(!parseDbTarget(text, &got, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(got.path, QStringLiteral("untouched.db"));
}

void TstDbTarget::choiceOrder_data()
{
    QTest::addColumn<bool>("optionGiven");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("env");
    QTest::addColumn<QString>("setting"); // "" none, "pg" server setting, "file" file setting
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("display"); // expected target; "" = error
    const QString optPg = QStringLiteral("postgresql://opt@o:5001/od");
    const QString envPg = QStringLiteral("postgresql://env@e:5002/ed");
    QTest::newRow("option over all") << true << optPg << envPg << "pg"
                                     << "--database" << optPg;
    QTest::newRow("option file over env pg") << true << "sqlite:/o.db" << envPg << "pg"
                                             << "--database"
                                             << "/o.db";
    QTest::newRow("env over settings") << false << "" << envPg << "file"
                                       << "QUELMAR_DATABASE" << envPg;
    QTest::newRow("blank env ignored") << false << ""
                                       << "  "
                                       << "pg"
                                       << "settings"
                                       << "postgresql://set@s:5003/sd";
    QTest::newRow("settings file") << false << ""
                                   << ""
                                   << "file"
                                   << "settings"
                                   << "/set.db";
    QTest::newRow("default") << false << ""
                             << ""
                             << ""
                             << "default"
                             << "maindb.db";
    QTest::newRow("bad option is an error") << true << "postgresql://h:0/x" << envPg << "pg"
                                            << "--database"
                                            << "";
    QTest::newRow("bad env is an error") << false << ""
                                         << "ftp://x"
                                         << "file"
                                         << "QUELMAR_DATABASE"
                                         << "";
}

void TstDbTarget::choiceOrder()
{
    QFETCH(bool, optionGiven);
    QFETCH(QString, option);
    QFETCH(QString, env);
    QFETCH(QString, setting);
    QFETCH(QString, source);
    QFETCH(QString, display);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("quelmar.ini"));
    QString error;
    if (setting == QLatin1String("pg"))
        QVERIFY(saveDbSetting(
            ini, server(QStringLiteral("s"), 5003, QStringLiteral("set"), QStringLiteral("sd")), &error));
    else if (setting == QLatin1String("file"))
        QVERIFY(saveDbSetting(ini, file(QStringLiteral("/set.db")), &error));
    const DbChoice choice = chooseDbTarget(optionGiven, option, env, ini);
    QCOMPARE(choice.source, source);
    if (display.isEmpty()) {
        QVERIFY(!choice.error.isEmpty());
        return;
    }
    QVERIFY2(choice.error.isEmpty(), qPrintable(choice.error));
    QCOMPARE(choice.target.display(),
             choice.target.isServer() ? display : QFileInfo(display).absoluteFilePath());
}

void TstDbTarget::settingsRoundTrip()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("quelmar.ini"));
    DbTarget none;
    QVERIFY(!loadDbSetting(ini, &none));
    DbTarget pg = server(QStringLiteral("/run/pg"), 5439, QStringLiteral("站点"), QStringLiteral("day2"));
    pg.password = QStringLiteral("secret");
    QString error;
    QVERIFY(saveDbSetting(ini, pg, &error));
    QFile raw(ini);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY2(!raw.readAll().contains("secret"), "the password must never reach the settings file");
    DbTarget back;
    QVERIFY(loadDbSetting(ini, &back));
    pg.password.clear();
    QVERIFY(back == pg);
    // Going back to the file replaces the server entry.
    QVERIFY(saveDbSetting(ini, file(QStringLiteral("other.db")), &error));
    QVERIFY(loadDbSetting(ini, &back));
    QVERIFY(back == file(QStringLiteral("other.db")));
}

void TstDbTarget::settingsForm()
{
    const struct
    {
        bool server;
        const char *host, *port, *name, *user;
        const char *display; // empty: refused
        const char *why;
    } rows[] = {
        {false, "h", "x", "", "", "", ""}, // the file ignores the server fields
        {true, " 10.1.1.5 ", "", "day", "pc1", "postgresql://pc1@10.1.1.5/day", ""},
        {true, "db", "1", "day", "", "postgresql://db:1/day", ""},
        {true, "db", "65535", "day", "", "postgresql://db:65535/day", ""},
        {true, "db", "0", "day", "", "", "端口 0 无效"},
        {true, "db", "65536", "day", "", "", "端口 65536 无效"},
        {true, "db", "5432x", "day", "", "", "端口 5432x 无效"},
        {true, "db", "", "  ", "u", "", "请填写数据库名称"},
    };
    for (const auto &row : rows) {
        DbTarget got = server(QStringLiteral("untouched"), 1, QString(), QString());
        QString why;
        const bool ok = dbTargetFromForm(row.server, row.host, row.port, row.name, row.user, &got, &why);
        const QString display = QString::fromUtf8(row.display);
        QCOMPARE(ok, row.server ? !display.isEmpty() : true);
        if (!row.server) {
            QVERIFY(got == DbTarget());
        } else if (ok) {
            QCOMPARE(got.display(), display);
        } else {
            QVERIFY2(why.contains(QString::fromUtf8(row.why)), qPrintable(why));
            QCOMPARE(got.host, QStringLiteral("untouched"));
        }
    }
}

void TstDbTarget::optionTakenFromArguments()
{
    struct Row
    {
        QByteArrayList args;
        QString env;
        QByteArrayList rest;
        QString display; // empty: refused
    };
    const QString here = QFileInfo(QStringLiteral("maindb.db")).absoluteFilePath();
    const Row rows[] = {
        {{"q", "--batch"}, "", {"q", "--batch"}, here},
        {{"q", "--batch"}, "postgresql://e@h/x", {"q", "--batch"}, "postgresql://e@h/x"},
        {{"q", "--database", "postgresql://o@h:7/x", "--batch"},
         "sqlite:/e.db",
         {"q", "--batch"},
         "postgresql://o@h:7/x"},
        {{"q", "--export-bca", "a.csv", "--database=/d/b.db"}, "", {"q", "--export-bca", "a.csv"}, "/d/b.db"},
        {{"q", "--connect", "--database"}, "", {}, ""},
        {{"q", "--database", "postgresql://h:99999/x"}, "", {}, ""},
    };
    for (const Row &row : rows) {
        qputenv("QUELMAR_DATABASE", row.env.toUtf8());
        QByteArrayList storage = row.args;
        std::vector<char *> argv;
        for (QByteArray &a : storage)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int argc = int(storage.size());
        setActiveDbTarget(server(QStringLiteral("before"), 1, QString(), QString()));
        QString error;
        const bool ok = takeDbTargetFromProcess(&argc, argv.data(), &error);
        QCOMPARE(ok, !row.display.isEmpty());
        if (!ok) {
            QVERIFY(error.contains(QStringLiteral("数据库地址")));
            QCOMPARE(activeDbTarget().host, QStringLiteral("before"));
            continue;
        }
        QByteArrayList rest;
        for (int i = 0; i < argc; ++i)
            rest << argv[size_t(i)];
        QCOMPARE(rest, row.rest);
        QCOMPARE(argv[size_t(argc)], nullptr);
        QCOMPARE(activeDbTarget().display(), row.display);
    }
    qunsetenv("QUELMAR_DATABASE");
}

void TstDbTarget::dialectTexts()
{
    const SqlDialect lite = SqlDialect::forTarget(file(QStringLiteral("a.db")));
    const SqlDialect pg =
        SqlDialect::forTarget(server(QStringLiteral("h"), 0, QString(), QStringLiteral("d")));
    QCOMPARE(lite.driverName(), QStringLiteral("QSQLITE"));
    QCOMPARE(pg.driverName(), QStringLiteral("QPSQL"));
    QCOMPARE(lite.modelTable(QStringLiteral("ResultFIT")), QStringLiteral("ResultFIT"));
    QCOMPARE(pg.modelTable(QStringLiteral("ResultFIT")), QStringLiteral("resultfit"));
    QCOMPARE(lite.insertionOrder(), QStringLiteral("rowid"));
    QCOMPARE(pg.insertionOrder(), QStringLiteral("ctid"));
    QCOMPARE(lite.returningKey(QStringLiteral("TestID")), QString());
    QCOMPARE(pg.returningKey(QStringLiteral("TestID")), QStringLiteral(" RETURNING \"TestID\""));
    QCOMPARE(lite.tryKeyLock(), QString());
    QCOMPARE(pg.tryKeyLock(), QStringLiteral("SELECT pg_try_advisory_xact_lock(hashtext(?))"));
    QCOMPARE(lite.backupExtension(), QStringLiteral(".db"));
    QCOMPARE(pg.backupExtension(), QStringLiteral(".dump"));
    QCOMPARE(lite.connectOptions(), QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    QCOMPARE(lite.connectOptions(true),
             QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    QCOMPARE(pg.connectOptions(),
             QStringLiteral("connect_timeout=3;keepalives=1;keepalives_idle=5;keepalives_interval=2;"
                            "keepalives_count=3;tcp_user_timeout=8000"));
    const QString gone =
        QStringLiteral("server closed the connection unexpectedly\nQPSQL: Unable to create query");
    QVERIFY(pg.lostConnection(gone));
    QVERIFY(!lite.lostConnection(gone));
    QVERIFY(!pg.lostConnection(QStringLiteral("ERROR:  duplicate key value violates unique constraint")));
}

void TstDbTarget::schemaNamesQuoted()
{
    const QHash<QString, QString> names{
        {"testid", "TestID"}, {"uid", "UID"}, {"bodytype", "BodyType"}, {"la5", "LA5"}, {"name", "Name"}};
    const struct
    {
        const char *in;
        const char *out;
    } rows[] = {
        {"SELECT TestID, UID FROM resultFIT WHERE UID=? ORDER BY TestID DESC LIMIT 1",
         R"(SELECT "TestID", "UID" FROM resultFIT WHERE "UID"=? ORDER BY "TestID" DESC LIMIT 1)"},
        {"SELECT bodyType, LA5 FROM Person p WHERE p.uid LIKE 'UID%' AND Name = 'it''s Name'",
         R"(SELECT "BodyType", "LA5" FROM Person p WHERE p."UID" LIKE 'UID%' AND "Name" = 'it''s Name')"},
        {R"(SELECT "Name", NameX, xName, 5e2, 12 FROM Person)",
         R"(SELECT "Name", NameX, xName, 5e2, 12 FROM Person)"},
        {"INSERT INTO Person (UID,Name)VALUES (?, ?)", R"(INSERT INTO Person ("UID","Name")VALUES (?, ?))"},
        {"SELECT COUNT(*) FROM Person", R"(SELECT COUNT(*) FROM Person)"},
        {"'unclosed UID", "'unclosed UID"},
    };
    for (const auto &row : rows)
        QCOMPARE(quoteSchemaNames(QString::fromUtf8(row.in), names), QString::fromUtf8(row.out));
    QCOMPARE(quoteSchemaNames(QStringLiteral("SELECT UID FROM Person"), {}),
             QStringLiteral("SELECT UID FROM Person"));
    // A file database takes the text as it is.
    QCOMPARE(
        SqlDialect::forTarget(file(QStringLiteral("a.db"))).sql(QStringLiteral("SELECT uid FROM person")),
        QStringLiteral("SELECT uid FROM person"));
}

void TstDbTarget::fileDatabaseOpensAndRevives()
{
    QTemporaryDir dir;
    const DbTarget target = file(dir.filePath(QStringLiteral("x.db")));
    QVERIFY(openDefaultDatabase(target));
    QCOMPARE(SqlDialect::current().driverName(), QStringLiteral("QSQLITE"));
    QVERIFY(reviveDefaultDatabase());
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("CREATE TABLE t (a TEXT)")));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO t VALUES ('x')") + SqlDialect::current().returningKey("a")));
    QCOMPARE(SqlDialect::current().insertedKey(q).toInt(), 1);
    QVERIFY(schemaProblemText(target).contains(target.display()));
    QVERIFY(
        unreachableText(server("h", 1, "", "d"), "gone").startsWith(QStringLiteral("无法连接数据库服务器")));
}

QTEST_GUILESS_MAIN(TstDbTarget)
#include "tst_dbtarget.moc"
