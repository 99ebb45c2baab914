// CSV export: field quoting and formula defusing, the lines of both files,
// files read back by Python's csv module and by our own person import, and
// failures that must leave no file behind; the export slots' boxes.
#include "app/database.h"
#include "app/mainwindow.h"
#include "exchange/csvexport.h"
#include "people/personimport.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <csignal>
#include <memory>

namespace {
const QByteArray kBom("\xEF\xBB\xBF");

bool insertPerson(const QVariantList &values) // UUID, UID, Name, Sex, BirthYear, Height, Phone, Note
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height, Phone, Note) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v : values)
        q.addBindValue(v);
    return q.exec();
}

bool insertResult(const QString &uid, const QString &date, double fat, const QString &name = QString())
{
    QSqlQuery q;
    q.prepare(QStringLiteral(
        "INSERT INTO Result (UUID, UID, Name, Sex, BirthYear, TestDate, Height, Fat, "
        "BodyType, RL_edema) VALUES ('R-UNIT', ?, ?, '1', 1990, ?, 171.5, ?, '肥胖型', 1.01)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(date);
    q.addBindValue(fat);
    return q.exec();
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Data lines of an export (after the BOM and the header), without their ends.
QStringList dataLines(const QString &path)
{
    QByteArray bytes = fileBytes(path);
    if (!bytes.startsWith(kBom))
        return {QStringLiteral("<no byte-order mark>")};
    QStringList lines = QString::fromUtf8(bytes.mid(kBom.size())).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

// The rows of |path| as Python's csv module reads them.
QList<QStringList> pythonRows(const QString &path)
{
    QProcess py;
    py.start(QStringLiteral("python3"),
             {QStringLiteral("-c"),
              QStringLiteral("import csv, json, sys\n"
                             "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                             "    print(json.dumps(list(csv.reader(f))))\n"),
              path});
    if (!py.waitForFinished(20000) || py.exitCode() != 0) {
        qWarning() << py.readAllStandardError();
        return {};
    }
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(py.readAllStandardOutput()).array()) {
        QStringList fields;
        for (const QJsonValue &field : row.toArray())
            fields << field.toString();
        rows << fields;
    }
    return rows;
}

struct BoxSeen
{
    bool seen = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
};

// Records and closes the next message box.
void closeNextBox(BoxSeen *seen)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, seen] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            seen->seen = true;
            seen->icon = box->icon();
            seen->title = box->windowTitle();
            seen->text = box->text();
            box->buttons().first()->click();
            timer->deleteLater();
        }
    });
    timer->start();
    QTimer::singleShot(10000, timer, &QObject::deleteLater);
}
} // namespace

class TestExchangeExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void fieldQuotingAndDefusing_data();
    void fieldQuotingAndDefusing();
    void numbersAreWrittenAsStored_data();
    void numbersAreWrittenAsStored();
    void bodyCompositionLines();
    void emptyTablesGiveTheHeaderOnly();
    void fitnessLines();
    void awkwardTextsRoundTripThroughPython_data();
    void awkwardTextsRoundTripThroughPython();
    void peopleReadBackThroughPersonImport();
    void failuresLeaveNoFile_data();
    void failuresLeaveNoFile();
    void cancelLeavesNoFile();
    void exportSlotsTellTheOperator();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestExchangeExport::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void TestExchangeExport::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestExchangeExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(path(QStringLiteral("maindb.db"))));
    g_log.clear();
}

void TestExchangeExport::cleanup()
{
    releaseProcessState();
}

void TestExchangeExport::fieldQuotingAndDefusing_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain text") << QVariant(QStringLiteral("张三")) << QStringLiteral("张三");
    QTest::newRow("inner blank") << QVariant(QStringLiteral("a b")) << QStringLiteral("a b");
    QTest::newRow("comma") << QVariant(QStringLiteral("a,b")) << QStringLiteral("\"a,b\"");
    QTest::newRow("quote") << QVariant(QStringLiteral("5\"")) << QStringLiteral("\"5\"\"\"");
    QTest::newRow("line feed") << QVariant(QStringLiteral("a\nb")) << QStringLiteral("\"a\nb\"");
    QTest::newRow("carriage return inside") << QVariant(QStringLiteral("a\rb")) << QStringLiteral("\"a\rb\"");
    QTest::newRow("leading blank") << QVariant(QStringLiteral(" a")) << QStringLiteral("\" a\"");
    QTest::newRow("trailing blank") << QVariant(QStringLiteral("a ")) << QStringLiteral("\"a \"");
    QTest::newRow("formula =") << QVariant(QStringLiteral("=1+2")) << QStringLiteral("\"'=1+2\"");
    QTest::newRow("formula +") << QVariant(QStringLiteral("+86 138")) << QStringLiteral("\"'+86 138\"");
    QTest::newRow("formula -") << QVariant(QStringLiteral("-A1")) << QStringLiteral("\"'-A1\"");
    QTest::newRow("formula @") << QVariant(QStringLiteral("@SUM(A1)")) << QStringLiteral("\"'@SUM(A1)\"");
    QTest::newRow("formula tab") << QVariant(QStringLiteral("\t=x")) << QStringLiteral("\"'\t=x\"");
    QTest::newRow("formula carriage return")
        << QVariant(QStringLiteral("\r=x")) << QStringLiteral("\"'\r=x\"");
    QTest::newRow("formula with quotes and comma")
        << QVariant(QStringLiteral("=HYPERLINK(\"http://x\",\"y\")"))
        << QStringLiteral("\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"");
    QTest::newRow("negative number as text") << QVariant(QStringLiteral("-1.5")) << QStringLiteral("-1.5");
    QTest::newRow("signed number as text") << QVariant(QStringLiteral("+3")) << QStringLiteral("+3");
    QTest::newRow("negative real") << QVariant(-1.5) << QStringLiteral("-1.5");
    QTest::newRow("negative integer") << QVariant(qlonglong(-3)) << QStringLiteral("-3");
    QTest::newRow("NULL") << QVariant(QVariant::String) << QString();
    QTest::newRow("empty text") << QVariant(QString(QLatin1String(""))) << QString();
}

void TestExchangeExport::fieldQuotingAndDefusing()
{
    QFETCH(QVariant, value);
    QFETCH(QString, field);
    QCOMPARE(exchange::csvField(value), field);
    QByteArray out;
    exchange::appendCsvField(out, value);
    QCOMPARE(QString::fromUtf8(out), field);
}

void TestExchangeExport::numbersAreWrittenAsStored_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("0.1") << QVariant(0.1);
    QTest::newRow("12.5") << QVariant(12.5);
    QTest::newRow("whole real") << QVariant(170.0);
    QTest::newRow("pi") << QVariant(3.141592653589793);
    QTest::newRow("large") << QVariant(1e21);
    QTest::newRow("small") << QVariant(1.25e-7);
    QTest::newRow("integer") << QVariant(qlonglong(1520));
    QTest::newRow("big integer") << QVariant(qlonglong(9007199254740993LL));
}

void TestExchangeExport::numbersAreWrittenAsStored()
{
    // The file writer's fast path must give the stored value's own text.
    QFETCH(QVariant, value);
    QByteArray out;
    exchange::appendCsvField(out, value);
    QCOMPARE(QString::fromUtf8(out), value.toString());
}

void TestExchangeExport::bodyCompositionLines()
{
    // Register order decides the persons, test order each person's lines,
    // whatever order the results were stored in.
    QVERIFY(insertPerson({"P-UNIT", "002", "李四", "2", 1985, 160, "139", "备注"}));
    QVERIFY(insertPerson({"P-UNIT", "001", "张三", "1", 1990, 175, "138", ""}));
    QVERIFY(insertPerson({"P-UNIT", "BCA9", "王五", "1", 1970, 168, "", ""}));
    QVERIFY(insertResult("001", "2024-01-02", 11.5));
    QVERIFY(insertResult("002", "2024-01-03", 22.5));
    QVERIFY(insertResult("001", "2024-01-04", -1.5));
    QVERIFY(insertResult("BCA9", "2024-01-05", 33.0, "王五"));    // registered: twice
    QVERIFY(insertResult("bca17", "2024-01-06", 44.0, "分析仪")); // any case, not registered
    QVERIFY(insertResult("XBCA1", "2024-01-07", 55.0));           // not an analyzer number

    const QString file = path(QStringLiteral("bca.csv"));
    const exchange::ExportResult result = exchange::exportBca(file);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.lines, 6);

    // Every value followed by a comma; what the inserted results hold besides
    // date and fat: body type (value 30) and right-leg edema (the last).
    const auto line = [](const QStringList &first8, const QString &date, const QString &fat) {
        QStringList values = first8 + QStringList{date, fat};
        while (values.size() < 68)
            values << QString();
        values[29] = QStringLiteral("肥胖型");
        values[67] = QStringLiteral("1.01");
        return values.join(QLatin1Char(',')) + QLatin1Char(',');
    };
    const QStringList li = {"P-UNIT", "002", "李四", "2", "1985", "160", "139", "备注"};
    const QStringList zhang = {"P-UNIT", "001", "张三", "1", "1990", "175", "138", ""};
    const QStringList wang = {"P-UNIT", "BCA9", "王五", "1", "1970", "168", "", ""};
    // The closing part: the result's own person values, its measured height,
    // and the user number again in the phone and remark columns.
    const QStringList wangAgain = {"R-UNIT", "BCA9", "王五", "1", "1990", "171.5", "BCA9", "BCA9"};
    const QStringList analyzerUser = {"R-UNIT", "bca17", "分析仪", "1", "1990", "171.5", "bca17", "bca17"};
    const QStringList expected = {
        line(li, "2024-01-03", "22.5"),      line(zhang, "2024-01-02", "11.5"),
        line(zhang, "2024-01-04", "-1.5"),   line(wang, "2024-01-05", "33"),
        line(wangAgain, "2024-01-05", "33"), line(analyzerUser, "2024-01-06", "44")};
    QCOMPARE(dataLines(file), expected);

    // A person without results: one line of his 8 values.
    QVERIFY(insertPerson({"P-UNIT", "003", "赵六", "2", 2000, 150, "", "无测试"}));
    QVERIFY(exchange::exportBca(file).ok);
    QCOMPARE(dataLines(file).value(4), QStringLiteral("P-UNIT,003,赵六,2,2000,150,,无测试,"));
}

void TestExchangeExport::emptyTablesGiveTheHeaderOnly()
{
    const QString bca = path(QStringLiteral("bca.csv"));
    const QString fit = path(QStringLiteral("fit.csv"));
    QVERIFY(exchange::exportBca(bca).ok);
    QVERIFY(exchange::exportFit(fit).ok);
    QCOMPARE(fileBytes(bca), kBom + exchange::bcaHeader().toUtf8() + '\n');
    QCOMPARE(fileBytes(fit), kBom + exchange::fitHeader().toUtf8() + '\n');
    QCOMPARE(exchange::bcaHeader().split(QLatin1Char(',')).size(), 68);
    QCOMPARE(exchange::fitHeader().split(QLatin1Char(',')).size(), 18);
}

void TestExchangeExport::fitnessLines()
{
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral(
        "INSERT INTO ResultFIT (UUID, UID, Name, Sex, BirthYear, TestDate, Height, Weight, WOLI, FHL, FYS, "
        "BYDJ, TZ, TQQ, YWQZ, FWC, ZT, TY) VALUES ('F', '7', '@钱', '1', 1999, '2024-06-01', 180.5, 70, "
        "50, 3200, 400, 12.5, 60.1, -3.5, 40, 20, 45, 230)")));
    const QString file = path(QStringLiteral("fit.csv"));
    const exchange::ExportResult result = exchange::exportFit(file);
    QVERIFY(result.ok);
    QCOMPARE(result.lines, 1);
    QCOMPARE(dataLines(file),
             QStringList{QStringLiteral(
                 "F,7,\"'@钱\",1,1999,2024-06-01,180.5,70,50,3200,400,12.5,60.1,-3.5,40,20,45,230,")});
}

void TestExchangeExport::awkwardTextsRoundTripThroughPython_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("readName"); // what a spreadsheet-compatible reader gets
    QTest::newRow("remark with comma, quote and line break")
        << QStringLiteral("张三") << QStringLiteral("左膝旧伤, \"轻微\"\n复查") << QStringLiteral("张三");
    QTest::newRow("remark with CRLF and trailing blank")
        << QStringLiteral("李四") << QStringLiteral("a\r\nb ") << QStringLiteral("李四");
    QTest::newRow("formula-like name")
        << QStringLiteral("=HYPERLINK(\"http://evil\",\"点我\")") << QStringLiteral("ok")
        << QStringLiteral("'=HYPERLINK(\"http://evil\",\"点我\")");
    QTest::newRow("name with leading blank")
        << QStringLiteral(" 王五") << QString() << QStringLiteral(" 王五");
}

void TestExchangeExport::awkwardTextsRoundTripThroughPython()
{
    QFETCH(QString, name);
    QFETCH(QString, note);
    QFETCH(QString, readName);
    QVERIFY(insertPerson({"U", "001", name, "1", 1990, 170, "-12", note}));
    QVERIFY(insertResult("001", "2024-01-02", -1.5));
    const QString file = path(QStringLiteral("bca.csv"));
    QVERIFY(exchange::exportBca(file).ok);

    const QList<QStringList> rows = pythonRows(file);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0], exchange::bcaHeader().split(QLatin1Char(',')));
    const QStringList row = rows[1];
    QCOMPARE(row.size(), 69); // 68 values and the empty field after the last comma
    QCOMPARE(row[2], readName);
    QCOMPARE(row[6], QStringLiteral("-12"));
    QCOMPARE(row[7], note);
    QCOMPARE(row[8], QStringLiteral("2024-01-02"));
    QCOMPARE(row[9], QStringLiteral("-1.5"));
    QCOMPARE(row[67], QStringLiteral("1.01"));
}

void TestExchangeExport::peopleReadBackThroughPersonImport()
{
    struct Person
    {
        QString uuid, uid, name;
        int birthYear, height;
    };
    const QList<Person> people = {{"U-1", "1001", "张三", 1990, 175},
                                  {"U-1", "1002", "欧阳娜娜", 2001, 162},
                                  {"U-2", "2001", "Li Si", 1975, 181}};
    for (const Person &p : people)
        QVERIFY(insertPerson({p.uuid, p.uid, p.name, "1", p.birthYear, p.height, "138", "备注"}));
    QVERIFY(insertResult("1001", "2024-01-02", 10));
    QVERIFY(insertResult("1001", "2024-01-03", 11));
    const QString file = path(QStringLiteral("people.csv"));
    QVERIFY(exchange::exportBca(file).ok);

    // Import into a fresh database: one person per exported line.
    QVERIFY(testsupport::buildSuppliedDatabase(path(QStringLiteral("second.db"))));
    QVERIFY(openDefaultDatabase(path(QStringLiteral("second.db"))));
    const personimport::ImportResult imported = personimport::importFile(file);
    QVERIFY(imported.opened);
    QCOMPARE(imported.encoding, personimport::TextEncoding::Utf8Bom);
    // 张三 has two result lines: the second is the same user number again.
    QCOMPARE(imported.imported, 3);
    QCOMPARE(imported.skipped.size(), 1);
    QCOMPARE(imported.skipped[0].line, 3);
    QCOMPARE(imported.skipped[0].reason, personimport::SkipReason::AlreadyRegistered);

    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("SELECT UUID, UID, Name, BirthYear, Height, Sex FROM Person ORDER BY ID")));
    for (int i = 0; i < people.size(); ++i) {
        QVERIFY(q.next());
        const Person &p = people[i];
        QCOMPARE(q.value(0).toString(), p.uuid);
        QCOMPARE(q.value(1).toString(), p.uid);
        QCOMPARE(q.value(2).toString(), p.name);
        QCOMPARE(q.value(3).toInt(), p.birthYear);
        QCOMPARE(q.value(4).toInt(), p.height);
        QCOMPARE(q.value(5).toString(), QStringLiteral("1"));
    }
    QVERIFY(!q.next());
}

void TestExchangeExport::failuresLeaveNoFile_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("folder missing") << QStringLiteral("folder");
    QTest::newRow("query fails") << QStringLiteral("query");
    QTest::newRow("disk full while writing") << QStringLiteral("write");
}

void TestExchangeExport::failuresLeaveNoFile()
{
    QFETCH(QString, failure);
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("BEGIN")));
    for (int i = 0; i < 3000; ++i) {
        QVERIFY(insertPerson({"U", QString::number(i), "某人", "1", 1990, 170, "", ""}));
        QVERIFY(insertResult(QString::number(i), "2024-01-02", i));
    }
    QVERIFY(q.exec(QStringLiteral("COMMIT")));

    QString file = path(QStringLiteral("out.csv"));
    const QByteArray earlier = "an earlier export\n";
    if (failure == QLatin1String("folder")) {
        file = path(QStringLiteral("missing/out.csv"));
    } else {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(earlier);
    }
    if (failure == QLatin1String("query"))
        QVERIFY(q.exec(QStringLiteral("ALTER TABLE Result RENAME COLUMN Score TO Score2")));

    exchange::ExportResult result;
    if (failure == QLatin1String("write")) {
        // A file-size limit makes the writes fail as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        result = exchange::exportBca(file);
        setrlimit(RLIMIT_FSIZE, &old);
    } else {
        result = exchange::exportBca(file);
    }
    QVERIFY(!result.ok);
    QVERIFY(!result.cancelled);
    QVERIFY(!result.error.isEmpty());
    if (failure == QLatin1String("folder"))
        QVERIFY(!QFile::exists(file));
    else
        QCOMPARE(fileBytes(file), earlier); // the earlier file is untouched
    // No partial file beside it either.
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("out*")}, QDir::Files).size(),
             failure == QLatin1String("folder") ? 0 : 1);
}

void TestExchangeExport::cancelLeavesNoFile()
{
    for (int i = 0; i < 1000; ++i)
        QVERIFY(insertResult(QStringLiteral("BCA%1").arg(i), "2024-01-02", i));
    const QString file = path(QStringLiteral("bca.csv"));
    qint64 lastDone = 0, lastTotal = 0;
    const exchange::ExportResult result = exchange::exportBca(file, [&](qint64 done, qint64 total) {
        lastDone = done;
        lastTotal = total;
        return done < 512;
    });
    QVERIFY(result.cancelled);
    QVERIFY(!result.ok);
    QCOMPARE(lastDone, qint64(512));
    QCOMPARE(lastTotal, qint64(1000));
    QVERIFY(!QFile::exists(file));
}

void TestExchangeExport::exportSlotsTellTheOperator()
{
    QVERIFY(insertPerson({"U", "001", "张三", "1", 1990, 170, "", ""}));
    QVERIFY(insertResult("001", "2024-01-02", 12.5));
    MainWindow w;

    struct Case
    {
        bool fitness;
        QString file;
        bool written;
    };
    const Case cases[] = {{false, path(QStringLiteral("bca.csv")), true},
                          {true, path(QStringLiteral("fit.csv")), true},
                          {false, path(QStringLiteral("missing/bca.csv")), false},
                          {true, path(QStringLiteral("missing/fit.csv")), false}};
    for (const Case &c : cases) {
        BoxSeen box;
        closeNextBox(&box);
        w.presetExportFile(c.file);
        c.fitness ? w.dataFitExport() : w.dataExport();
        QVERIFY(box.seen);
        QCOMPARE(QFile::exists(c.file), c.written);
        if (c.written) {
            QCOMPARE(box.icon, QMessageBox::Information);
            QCOMPARE(box.title, QStringLiteral("导出数据成功"));
            QCOMPARE(box.text, QStringLiteral("信息已保存在%1！").arg(c.file));
        } else {
            QCOMPARE(box.icon, QMessageBox::Warning);
            QVERIFY(box.title != QStringLiteral("导出数据成功"));
            QVERIFY(box.text.contains(c.file));
        }
    }

    // A cancelled file dialog: logged, no box, no file.
    g_log.clear();
    w.presetExportFile(QString());
    w.dataExport();
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(g_log.contains(QStringLiteral("Cannot open file for writing:  \"\"")));
}

QTEST_MAIN(TestExchangeExport)
#include "tst_exchange_export.moc"
