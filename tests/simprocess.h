// The harness of the end-to-end tests: an instrument simulator as a child
// process on its own pseudo-terminal, the program's port opened on that line,
// the main window polling it, and what was stored checked against what the
// simulator saw delivered; and another program that locks the database file.
#pragma once

#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "app/startup.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSqlDatabase>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>

class SimProcess
{
public:
    ~SimProcess() { stop(); }

    // Starts |program| (a binary of the build folder) with |args|, logging each
    // delivered record or result to |logPath|, and opens |port| on its line
    // (the path the simulator prints first).
    bool start(const QString &program, const QStringList &args, QSerialPort *port, const QString &logPath)
    {
        m_log = logPath;
        m_proc.start(QStringLiteral(QUELMAR_BUILD_DIR "/") + program, args + QStringList{"--log", logPath});
        QElapsedTimer t;
        t.start();
        while (m_proc.waitForStarted(5000) && !m_proc.canReadLine() && t.elapsed() < 5000)
            m_proc.waitForReadyRead(100);
        const QString path = QString::fromLocal8Bit(m_proc.readLine()).trimmed();
        return !path.isEmpty() && openInstrumentPort(port, path);
    }

    QStringList delivered() const { return testsupport::readLines(m_log); }

    // Waits until |n| are delivered, then |settleMs| more in which one delivered twice would show.
    bool awaitDelivered(int n, int timeoutMs, int settleMs)
    {
        QElapsedTimer t;
        t.start();
        while (delivered().size() < n && t.elapsed() < timeoutMs)
            QTest::qWait(50);
        QTest::qWait(settleMs);
        return delivered().size() == n;
    }

    // What the simulator reported on stderr so far (the faults it made).
    QString notes() { return m_notes += QString::fromLocal8Bit(m_proc.readAllStandardError()); }

    // Ends the simulator by its own PID (terminate, then kill).
    void stop()
    {
        m_proc.terminate();
        if (m_proc.state() != QProcess::NotRunning && !m_proc.waitForFinished(3000))
            m_proc.kill();
        m_proc.waitForFinished(3000);
        notes();
    }

private:
    ParentBoundProcess m_proc; // ends with the test, however that ends
    QString m_log;
    QString m_notes;
};

// Another program with the database file open, able to lock it exclusively.
class OtherProgram
{
public:
    explicit OtherProgram(const QString &dbPath)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kName);
        db.setDatabaseName(dbPath);
        db.open();
    }
    ~OtherProgram()
    {
        QSqlDatabase::database(kName).close();
        QSqlDatabase::removeDatabase(kName);
    }
    bool exec(const QString &sql) { return QSqlQuery(QSqlDatabase::database(kName)).exec(sql); }

private:
    static inline const QString kName = QStringLiteral("other program");
};

// One road from an instrument into the database, on a scratch copy of the
// supplied database. |during| runs once the window polls.
class Road
{
public:
    using During = std::function<void(MainWindow &)>;

    Road() { ok = m_dir.isValid() && testsupport::startProcessOn(path("maindb.db")); }
    ~Road()
    {
        BCAport->close();
        fitPort->close();
        releaseProcessState();
    }
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    int delivered() const { return testsupport::readLines(path("delivered.log")).size(); }

    // The analyzer simulator with |args| until it has delivered |expected|
    // records; then Result must hold each of them once, column for column.
    void analyzer(const QStringList &args, int expected, const During &during = {})
    {
        SimProcess sim;
        QVERIFY(sim.start(QStringLiteral("quelmar-analyzer-sim"), QStringList{"--test-time", "300"} + args,
                          BCAport, path("delivered.log")));
        global::portFlag = QStringLiteral("1");
        global::batchSwitch = args.contains(QStringLiteral("--batch")) ? "ON" : "OFF";
        MainWindow w;
        QSignalSpy saved(&w, &MainWindow::tidChanged);
        w.connectBCA();
        w.connectBCA(); // a second press must not double the ticks
        if (during)
            during(w);
        QVERIFY2(sim.awaitDelivered(expected, 60000, 1200), qPrintable(sim.notes()));
        w.stopCheckTimer();
        sim.stop();
        notes = sim.notes();
        QCOMPARE(saved.count(), expected);
        QCOMPARE(global::tid, expected); // the batch dialog's count

        const QStringList delivered = sim.delivered();
        QSqlQuery q(QStringLiteral("SELECT * FROM Result ORDER BY TestID"));
        for (int row = 0; row < expected; ++row) {
            QVERIFY2(q.next(), "fewer rows than delivered records");
            // "record <uid> <person>|<whole>|<segment>|<impedance>", fields split by '#'
            QList<QStringList> f;
            for (const QString &part : delivered.at(row).section(QLatin1Char(' '), 2).split(QLatin1Char('|')))
                f << part.split(QLatin1Char('#'));
            QCOMPARE(f.size(), 4);
            QSqlQuery name;
            name.prepare(QStringLiteral("SELECT Name FROM Person WHERE UID = ?"));
            name.addBindValue(f[0].value(0));
            QVERIFY(name.exec());
            const QStringList person{f[0].value(0), name.next() ? name.value(0).toString() : QString(),
                                     f[0].value(2) == QLatin1String("1") ? "2" : "1", f[0].value(3),
                                     f[1].value(1)};
            QCOMPARE(
                (QStringList{q.value("UID").toString(), q.value("Name").toString(), q.value("Sex").toString(),
                             q.value("BirthYear").toString(), q.value("TestDate").toString()}),
                person);
            QCOMPARE(q.value("UUID"), testsupport::scalar(QStringLiteral("SELECT UUID FROM Unit")));
            auto same = [&](int column, const QStringList &fields, int i, bool whole = false) {
                const double want =
                    whole ? std::trunc(fields.value(i).toDouble()) : fields.value(i).toDouble();
                QVERIFY2(std::fabs(q.value(column).toDouble() - want) < 1e-9,
                         qPrintable(q.record().fieldName(column)));
            };
            for (int i = 4; i <= 6; ++i)
                same(i + 3, f[1], i);
            for (int i = 7; i <= 24; ++i)
                same(i + 4, f[1], i);
            same(29, f[1], 25, true); // Body_age keeps whole years
            same(30, f[1], 26);
            for (int i = 2; i <= 26; ++i) {
                same(i + 29, f[2], i);
                same(i + 54, f[3], i);
            }
            // Water is the sum of intra- and extracellular water.
            QVERIFY(std::fabs(q.value("Water").toDouble() - f[1][7].toDouble() - f[1][8].toDouble()) < 0.006);
        }
        QVERIFY2(!q.next(), "more rows than delivered records");
    }

    // The station simulator on |script| with |args|, the window polling every
    // 200 ms (its own timer polls every 500 ms; the dialogue is the same),
    // until |expected| results were acknowledged; then ResultFIT must hold one
    // row per person with the last value of each item, and nothing else. A
    // script line: "<terminal> <user number> <item code> <value> <column>
    // <stored value>".
    void station(const QStringList &script, const QStringList &args, int expected, const During &during = {})
    {
        QVERIFY(testsupport::addPerson(QStringLiteral("O'1"), QStringLiteral("欧阳一"), "1", 1980));
        QFile file(path("results.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
        for (const QString &line : script)
            file.write(line.section(QLatin1Char(' '), 0, 3).toUtf8() + '\n');
        file.close();
        SimProcess sim;
        QVERIFY(sim.start(QStringLiteral("quelmar-station-sim"),
                          QStringList{"--script", file.fileName(), "--interval", "100"} + args, fitPort,
                          path("delivered.log")));
        g_log.clear();
        MainWindow w;
        QSignalSpy recorded(&w, &MainWindow::fitRecorded);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &w, &MainWindow::checkFitstate);
        tick.start(200);
        if (during)
            during(w);
        QVERIFY2(sim.awaitDelivered(expected, 40000, 300), qPrintable(sim.notes()));
        tick.stop();
        sim.stop();
        notes = sim.notes();
        QCOMPARE(recorded.count(), expected);

        // Expected day rows: the last acknowledged value per person and column.
        QMap<QString, QMap<QString, QString>> want;
        for (const QString &line : sim.delivered()) {
            const QString sent = line.mid(7) + QLatin1Char(' '); // after "result "
            const QStringList match =
                script.filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(sent)));
            QVERIFY2(match.size() == 1, qPrintable(line));
            const QStringList f = match[0].split(QLatin1Char(' '));
            want[f[1]][f[4]] = f[5];
        }
        QSqlQuery q(QStringLiteral("SELECT * FROM ResultFIT ORDER BY TestID"));
        QStringList uids;
        while (q.next()) {
            const QString uid = q.value("UID").toString();
            QVERIFY2(!uids.contains(uid), qPrintable(QStringLiteral("second row for ") + uid));
            uids << uid;
            QCOMPARE(q.value("TestDate").toString(), QDate::currentDate().toString(Qt::ISODate));
            for (const QString column :
                 {"Height", "Weight", "WOLI", "FHL", "TQQ", "TZ", "YWQZ", "FYS", "FWC", "BYDJ", "ZT", "TY"}) {
                const QVariant got = q.value(column);
                const QString expect = want.value(uid).value(column);
                QVERIFY2(
                    expect.isNull() ? got.isNull() : std::fabs(got.toDouble() - expect.toDouble()) < 1e-9,
                    qPrintable(uid + QLatin1Char('/') + column + QStringLiteral(" = ") + got.toString()));
            }
            // The person comes from the register; unregistered numbers get the defaults.
            const QStringList person{q.value("Name").toString(), q.value("Sex").toString(),
                                     q.value("BirthYear").toString()};
            if (uid == QLatin1String("O'1"))
                QCOMPARE(person, (QStringList{"欧阳一", "1", "1980"}));
            else if (uid == QLatin1String("9009"))
                QCOMPARE(person, (QStringList{"-", "2", "1990"}));
        }
        QCOMPARE(uids.size(), want.size());
        QCOMPARE(w.fitModel()->rowCount(), uids.size()); // the page shows every row
    }

    bool ok = false;
    QString notes; // what the simulator reported

private:
    QTemporaryDir m_dir;
};
