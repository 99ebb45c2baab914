// Several collection PCs on one PostgreSQL server, end to end: program
// instances as real processes (`quelmar --database postgresql://… --connect`,
// offscreen) on the simulators' lines, all writing into the test's own
// server. Every delivered record is stored once under a unique test number,
// a person registered on one PC names the results taken on another, a server
// stopped in the middle of a batch loses and doubles nothing, and the
// headless exports and PDF archive read the same from the server as from a
// file with the same rows.
#include "app/dbtarget.h"
#include "people/personregistry.h"
#include "tests/outputcheck.h"
#include "tests/pgserver.h"
#include "tests/rowsapart.h"

#include <QSqlRecord>

#include <cmath>

namespace {
const QString kCheck = QStringLiteral("check");

// An instrument simulator as a child process on its own pseudo-terminal.
class Simulator
{
public:
    ~Simulator() { stop(); }
    bool start(const QString &program, const QStringList &args, const QString &log)
    {
        m_log = log;
        m_proc.start(QStringLiteral(QUELMAR_BUILD_DIR "/") + program, args + QStringList{"--log", log});
        QElapsedTimer t;
        t.start();
        while (m_proc.waitForStarted(5000) && !m_proc.canReadLine() && t.elapsed() < 10000)
            m_proc.waitForReadyRead(100);
        device = QString::fromLocal8Bit(m_proc.readLine()).trimmed();
        return !device.isEmpty();
    }
    QStringList delivered() const { return testsupport::readLines(m_log); }
    QString notes() { return m_notes += QString::fromLocal8Bit(m_proc.readAllStandardError()); }
    void stop()
    {
        if (m_proc.state() == QProcess::NotRunning)
            return;
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000))
            m_proc.kill();
        m_proc.waitForFinished(3000);
    }
    QString device;

private:
    QProcess m_proc;
    QString m_log;
    QString m_notes;
};

// One collection PC: the program with its window offscreen, its ports on
// the simulators' lines, polling from the start.
class Instance
{
public:
    ~Instance() { stop(); }
    bool start(const QString &url, const QString &analyzer, const QString &station, const QString &dir)
    {
        QStringList args{"--database", url, "--connect"};
        if (!analyzer.isEmpty())
            args << "--analyzer-port" << analyzer << "--batch";
        if (!station.isEmpty())
            args << "--station-port" << station;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("QUELMAR_DATABASE"));
        m_proc.setProcessEnvironment(env);
        m_proc.setWorkingDirectory(dir);
        m_proc.setStandardOutputFile(dir + QStringLiteral("/out.log"));
        m_proc.setStandardErrorFile(dir + QStringLiteral("/err.log"));
        m_dir = dir;
        m_proc.start(outputcheck::program, args);
        return m_proc.waitForStarted(10000);
    }
    bool running() const { return m_proc.state() == QProcess::Running; }
    QString log() const
    {
        QFile f(m_dir + QStringLiteral("/err.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    void stop()
    {
        if (m_proc.state() == QProcess::NotRunning)
            return;
        m_proc.terminate();
        if (!m_proc.waitForFinished(5000))
            m_proc.kill();
        m_proc.waitForFinished(5000);
    }

private:
    QProcess m_proc;
    QString m_dir;
};

// Waits until every simulator in |sims| has delivered its count (or 0 for
// "any"), then |settleMs| in which a record delivered twice would show.
bool awaitAll(const QList<QPair<Simulator *, int>> &sims, int timeoutMs, int settleMs)
{
    QElapsedTimer t;
    t.start();
    const auto done = [&sims] {
        for (const auto &s : sims) {
            if (s.first->delivered().size() < s.second)
                return false;
        }
        return true;
    };
    while (!done() && t.elapsed() < timeoutMs)
        QTest::qWait(100);
    QTest::qWait(settleMs);
    for (const auto &s : sims) {
        if (s.first->delivered().size() != s.second)
            return false;
    }
    return true;
}

QString number(double v)
{
    return QString::number(v, 'g', 15);
}

// The Result columns a delivered record fills, as one line: "record <uid>
// <person>|<whole>|<segment>|<impedance>", fields split by '#'. |names|
// gives the registered name of a user number.
QString expectedRow(const QString &line, const QMap<QString, QString> &names)
{
    QList<QStringList> f;
    for (const QString &part : line.section(QLatin1Char(' '), 2).split(QLatin1Char('|')))
        f << part.split(QLatin1Char('#'));
    if (f.size() != 4)
        return QStringLiteral("bad line ") + line;
    QStringList v{f[0].value(0), names.value(f[0].value(0)), f[0].value(2) == QLatin1String("1") ? "2" : "1",
                  f[0].value(3), f[1].value(1)};
    for (int i = 4; i <= 24; ++i)
        v << number(f[1].value(i).toDouble());
    v << number(std::trunc(f[1].value(25).toDouble())) << number(f[1].value(26).toDouble());
    for (int i = 2; i <= 26; ++i)
        v << number(f[2].value(i).toDouble());
    for (int i = 2; i <= 26; ++i)
        v << number(f[3].value(i).toDouble());
    return v.join(QLatin1Char('|'));
}

// The same columns of every stored Result row.
QStringList storedRows(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    QStringList rows;
    if (!q.exec(QStringLiteral("SELECT * FROM Result")))
        return {q.lastError().text()};
    while (q.next()) {
        QStringList v;
        for (int c = 2; c <= 6; ++c)
            v << q.value(c).toString();
        // Whole-body values but Water (position 10), which is derived.
        for (int c = 7; c <= 28; ++c) {
            if (c != 10)
                v << number(q.value(c).toDouble());
        }
        v << number(q.value(29).toDouble()) << number(q.value(30).toDouble());
        for (int c = 31; c <= 80; ++c)
            v << number(q.value(c).toDouble());
        rows << v.join(QLatin1Char('|'));
    }
    return rows;
}

// ResultFIT as "uid|name|column=value|…" (non-empty item columns only),
// sorted by user number.
QStringList fitnessRows(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    QStringList rows;
    if (!q.exec(QStringLiteral("SELECT * FROM ResultFIT")))
        return {q.lastError().text()};
    while (q.next()) {
        QStringList v{q.value("UID").toString(), q.value("Name").toString()};
        for (const char *column :
             {"Height", "Weight", "WOLI", "FHL", "TQQ", "TZ", "YWQZ", "FYS", "FWC", "BYDJ", "ZT", "TY"}) {
            if (!q.value(column).isNull())
                v << QLatin1String(column) + QLatin1Char('=') + number(q.value(column).toDouble());
        }
        rows << v.join(QLatin1Char('|'));
    }
    rows.sort();
    return rows;
}
} // namespace

class TestPostgresE2E : public QObject
{
    Q_OBJECT

    PgServer m_server;
    QTemporaryDir m_dir;
    int m_serial = 0;

    // A new database with the program's schema; its address.
    QString preparedDatabase()
    {
        const QString name = QStringLiteral("day%1").arg(++m_serial);
        if (!m_server.createDatabase(name))
            return QString();
        const QString url = m_server.url(name);
        const outputcheck::Run r = outputcheck::run(outputcheck::program, {"--init-database", url});
        return r.exitCode == 0 ? url : QString();
    }

    QString folder(const QString &name)
    {
        QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    QString writeScript(const QString &name, const QStringList &script)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
            return QString();
        for (const QString &line : script)
            file.write(line.section(QLatin1Char(' '), 0, 3).toUtf8() + '\n');
        return file.fileName();
    }

    // ResultFIT as it must be after the station delivered |delivered| of |script|:
    // the last value per person and column; |names| from the registry, "-" for
    // an unregistered user number.
    static QStringList expectedFitness(const QStringList &script, const QStringList &delivered,
                                       const QMap<QString, QString> &names)
    {
        QMap<QString, QMap<QString, QString>> want;
        for (const QString &line : delivered) {
            const QString sent = line.mid(7) + QLatin1Char(' '); // after "result "
            for (const QString &s : script) {
                if (s.startsWith(sent)) {
                    const QStringList f = s.split(QLatin1Char(' '));
                    want[f[1]][f[4]] = f[5];
                }
            }
        }
        QStringList rows;
        for (auto it = want.cbegin(); it != want.cend(); ++it) {
            QStringList v{it.key(), names.value(it.key(), QStringLiteral("-"))};
            for (const char *column :
                 {"Height", "Weight", "WOLI", "FHL", "TQQ", "TZ", "YWQZ", "FYS", "FWC", "BYDJ", "ZT", "TY"}) {
                if (it.value().contains(QLatin1String(column)))
                    v << QLatin1String(column) + QLatin1Char('=') +
                             number(it.value().value(column).toDouble());
            }
            rows << v.join(QLatin1Char('|'));
        }
        rows.sort();
        return rows;
    }

    // The test process as one more PC: the program's registry on the server.
    bool registerPeople(const QString &url, const QMap<QString, QString> &names)
    {
        DbTarget target;
        QString error;
        if (!parseDbTarget(url, &target, &error))
            return false;
        initProcessState(target);
        bool ok = dbSetupResult;
        for (auto it = names.cbegin(); ok && it != names.cend(); ++it) {
            personregistry::NewPerson p;
            p.uuid = QStringLiteral("U-DESK");
            p.uid = it.key();
            p.name = it.value();
            p.sex = QStringLiteral("2");
            p.birthYear = 1988;
            ok = personregistry::insertPerson(p, &error) > 0;
            if (!ok)
                qWarning() << error;
        }
        releaseProcessState();
        return ok;
    }

    QSqlDatabase check(const QString &url)
    {
        QSqlDatabase::removeDatabase(kCheck);
        return m_server.connect(url.section(QLatin1Char('/'), -1), kCheck);
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
        QSqlDatabase::removeDatabase(kCheck);
        if (!m_server.isRunning())
            QVERIFY2(m_server.restart(), qPrintable(m_server.error()));
    }

    void twoInstancesOneServer();
    void serverGoneMidBatch();
    void exportsMatchFile();
};

void TestPostgresE2E::twoInstancesOneServer()
{
    const QString url = preparedDatabase();
    QVERIFY(!url.isEmpty());
    // Registered at a desk PC; measured on the two collection PCs.
    const QMap<QString, QString> names{
        {"1", "孙一"}, {"3", "周三"}, {"102", "吴一〇二"}, {"2001", "郑二〇〇一"}};
    QVERIFY(registerPeople(url, names));

    const QStringList script{"0 2001 03 3333 FHL 3333", "3 102 06 490 WOLI 50",  "5 2001 07 33.3 ZT 33.3",
                             "7 9009 05 -5.2 TQQ -5.2", "10 2001 14 33 YWQZ 33", "1 1 01 180.2 Height 180.2",
                             "2 2001 03 3400 FHL 3400"};
    Simulator a, b, station;
    QVERIFY(a.start("quelmar-analyzer-sim", {"--batch", "6", "--fast", "--seed", "11", "--uid-base", "1"},
                    m_dir.filePath("a.log")));
    QVERIFY(b.start("quelmar-analyzer-sim", {"--batch", "6", "--fast", "--seed", "12", "--uid-base", "101"},
                    m_dir.filePath("b.log")));
    QVERIFY(station.start("quelmar-station-sim",
                          {"--script", writeScript("two.txt", script), "--interval", "100", "--fast"},
                          m_dir.filePath("station.log")));
    Instance pcA, pcB;
    QVERIFY(pcA.start(url, a.device, QString(), folder("pcA")));
    QVERIFY(pcB.start(url, b.device, station.device, folder("pcB")));
    const bool all = awaitAll({{&a, 6}, {&b, 6}, {&station, script.size()}}, 120000, 1500);
    QVERIFY2(all, qPrintable(a.notes() + b.notes() + station.notes() + pcA.log().right(2000) +
                             pcB.log().right(2000)));
    QVERIFY(pcA.running() && pcB.running());
    pcA.stop();
    pcB.stop();

    QSqlDatabase db = check(url);
    QVERIFY(db.isOpen());
    QStringList expected;
    for (const QString &line : a.delivered() + b.delivered())
        expected << expectedRow(line, names);
    QStringList stored = storedRows(db);
    expected.sort();
    stored.sort();
    QCOMPARE(stored, expected);
    // Both PCs measured someone the desk registered, and named him so.
    QCOMPARE(stored.filter(QRegularExpression("^1\\|孙一\\|")).size(), 1);
    QCOMPARE(stored.filter(QRegularExpression("^102\\|吴一〇二\\|")).size(), 1);
    QSqlQuery ids(db);
    QVERIFY(ids.exec("SELECT count(*), count(DISTINCT \"TestID\") FROM Result") && ids.next());
    QCOMPARE(ids.value(0).toInt(), 12);
    QCOMPARE(ids.value(1).toInt(), 12);
    QCOMPARE(fitnessRows(db), expectedFitness(script, station.delivered(), names));
}

void TestPostgresE2E::serverGoneMidBatch()
{
    const QString url = preparedDatabase();
    QVERIFY(!url.isEmpty());
    const QMap<QString, QString> names{{"201", "冯二〇一"}, {"9", "陈九"}};
    QVERIFY(registerPeople(url, names));
    QStringList script;
    for (int i = 0; i < 12; ++i)
        script << QStringLiteral("%1 %2 03 %3 FHL %3").arg(i % 11).arg(i % 2 ? "9" : "8").arg(3000 + i);
    Simulator analyzer, station;
    QVERIFY(analyzer.start("quelmar-analyzer-sim",
                           {"--batch", "14", "--fast", "--seed", "21", "--uid-base", "201"},
                           m_dir.filePath("gone-a.log")));
    QVERIFY(station.start("quelmar-station-sim",
                          {"--script", writeScript("gone.txt", script), "--interval", "400", "--fast"},
                          m_dir.filePath("gone-s.log")));
    Instance pc;
    QVERIFY(pc.start(url, analyzer.device, station.device, folder("gone")));

    // The server goes once a few records are in.
    QElapsedTimer t;
    t.start();
    while (analyzer.delivered().size() < 3 && t.elapsed() < 60000)
        QTest::qWait(20);
    QVERIFY2(analyzer.delivered().size() >= 3, qPrintable(pc.log().right(2000)));
    QVERIFY(m_server.stop());
    // A record stored just before the stop may still be acknowledged; after
    // that nothing is, for as long as the server is away.
    QTest::qWait(1500);
    const int recordsWhileGone = analyzer.delivered().size();
    const int resultsWhileGone = station.delivered().size();
    QTest::qWait(8500);
    QCOMPARE(analyzer.delivered().size(), recordsWhileGone);
    QCOMPARE(station.delivered().size(), resultsWhileGone);
    QVERIFY(recordsWhileGone < 14);
    qInfo() << "while the server was away:" << recordsWhileGone << "records and" << resultsWhileGone
            << "station results stored before";
    // The program says why it waits.
    QVERIFY2(pc.log().contains(QStringLiteral("无法连接数据库服务器")), qPrintable(pc.log().right(2000)));
    QVERIFY(pc.running());
    QVERIFY2(m_server.restart(), qPrintable(m_server.error()));

    // Back: everything waiting goes in, once, without a restart of the program.
    QVERIFY2(awaitAll({{&analyzer, 14}, {&station, script.size()}}, 120000, 1500),
             qPrintable(analyzer.notes() + station.notes() + pc.log().right(3000)));
    QVERIFY(pc.running());
    pc.stop();
    QSqlDatabase db = check(url);
    QVERIFY(db.isOpen());
    QStringList expected;
    for (const QString &line : analyzer.delivered())
        expected << expectedRow(line, names);
    QStringList stored = storedRows(db);
    expected.sort();
    stored.sort();
    QCOMPARE(stored, expected);
    QCOMPARE(fitnessRows(db), expectedFitness(script, station.delivered(), names));
}

void TestPostgresE2E::exportsMatchFile()
{
    // A test day in a file, and the same rows on the server.
    const QString file = m_dir.filePath("testday.db");
    const outputcheck::Run made =
        outputcheck::run(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar-make-testday"),
                         {file, "--date", "2026-11-20", "--people", "12", "--seed", "4"});
    QCOMPARE(made.exitCode, 0);
    const QString url = preparedDatabase();
    QVERIFY(!url.isEmpty());
    QCOMPARE(outputcheck::run(outputcheck::program, {"--copy-database", file, url}).exitCode, 0);

    // The same jobs against each: files side by side.
    const QStringList jobs[] = {
        {"--export-bca", "bca.csv", "--export-fit", "fit.csv"},
        {"--export-bca", "bca.xlsx", "--export-fit", "fit.xlsx"},
        {"--export-pdf", "1-12", "--out", "pdf"},
        {"--export-pdf", "1-12", "--out", "pdffit", "--fitness"},
        {"--stats", "2026-11-01", "2026-11-30", "--out", "stats.csv"},
    };
    const QString onFile = folder("onfile/run");
    const QString onServer = folder("onserver/run");
    for (const QStringList &job : jobs) {
        const outputcheck::Run f =
            outputcheck::run(outputcheck::program, QStringList{"--database", "sqlite:" + file} + job, onFile);
        const outputcheck::Run s =
            outputcheck::run(outputcheck::program, QStringList{"--database", url} + job, onServer);
        QVERIFY2(f.exitCode == 0, qPrintable(job.join(' ') + f.err));
        QVERIFY2(s.exitCode == 0, qPrintable(job.join(' ') + s.err));
    }
    const auto files = [](const QString &dir) {
        QStringList found;
        QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(dir).relativeFilePath(it.next());
        found.sort();
        return found;
    };
    const QStringList written = files(onFile);
    QCOMPARE(files(onServer), written);
    QVERIFY(written.contains("bca.csv") && written.contains("fit.xlsx") && written.contains("stats.csv"));
    QCOMPARE(written.filter(QRegularExpression("^pdf/.*\\.pdf$")).size(), 12);
    QCOMPARE(written.filter(QRegularExpression("^pdffit/.*\\.pdf$")).size(), 12);
    for (const QString &name : written) {
        const QString a = onFile + QLatin1Char('/') + name;
        const QString b = onServer + QLatin1Char('/') + name;
        if (name.endsWith(".csv")) {
            QFile fa(a), fb(b);
            QVERIFY(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
            QCOMPARE(fb.readAll(), fa.readAll());
        } else if (name.endsWith(".xlsx")) {
            const auto dump = [](const QString &path) {
                return outputcheck::run("/usr/bin/python3",
                                        {testsupport::sourcePath("tests/sheetdump.py"), path})
                    .out;
            };
            const QString sheet = dump(a);
            QVERIFY(sheet.size() > 100);
            QCOMPARE(dump(b), sheet);
        } else if (name.endsWith(".pdf")) {
            QCOMPARE(outputcheck::pdfPages(b), outputcheck::pdfPages(a));
            const QString text = outputcheck::pdfText(a, {"-layout"});
            QVERIFY(!text.trimmed().isEmpty());
            QCOMPARE(outputcheck::pdfText(b, {"-layout"}), text);
        }
    }
}

QUELMAR_TEST_MAIN_ROWS_APART(TestPostgresE2E)
#include "tst_postgres_e2e.moc"
