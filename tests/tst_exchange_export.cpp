// CSV export: field quoting and formula defusing, the lines of both files,
// files read back by Python's csv module and by our own person import, and
// failures that must leave no file behind; the export slots' boxes.
#include "app/database.h"
#include "app/mainwindow.h"
#include "exchange/csvexport.h"
#include "people/personimport.h"
#include "tests/outputcheck.h"
#include "tests/testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

#include <csignal>

namespace {
const QByteArray kBom("\xEF\xBB\xBF");

// UUID, UID, Name, Sex, BirthYear, Height, Phone, Note
bool insertPerson(const QStringList &v)
{
    const char *columns[] = {"UUID", "UID", "Name", "Sex", "BirthYear", "Height", "Phone", "Note"};
    QVariantMap row;
    for (int i = 0; i < 8; ++i)
        row[QLatin1String(columns[i])] = v.value(i);
    return outputcheck::insertRow(QStringLiteral("Person"), row) > 0;
}

bool insertResult(const QString &uid, const QString &date, double fat, const QString &name = QString())
{
    return outputcheck::insertRow(QStringLiteral("Result"), {{"UUID", "R-UNIT"},
                                                             {"UID", uid},
                                                             {"Name", name},
                                                             {"Sex", "1"},
                                                             {"BirthYear", 1990},
                                                             {"TestDate", date},
                                                             {"Height", 171.5},
                                                             {"Fat", fat},
                                                             {"BodyType", "肥胖型"},
                                                             {"RL_edema", 1.01}}) > 0;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The rows of |path| as Python's csv module reads them (the BOM dropped).
QList<QStringList> pythonRows(const QString &path)
{
    const outputcheck::Run py =
        outputcheck::run(QStringLiteral("python3"),
                         {QStringLiteral("-c"),
                          QStringLiteral("import csv, json, sys\n"
                                         "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                                         "    print(json.dumps(list(csv.reader(f))))\n"),
                          path});
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(py.out.toUtf8()).array()) {
        QStringList fields;
        for (const QJsonValue &field : row.toArray())
            fields << field.toString();
        rows << fields;
    }
    return rows;
}
} // namespace

class TestExchangeExport : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(path(QStringLiteral("maindb.db"))));
    }
    void cleanup() { releaseProcessState(); }

    void fields_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain text") << QVariant("张 三") << "张 三";
        QTest::newRow("comma") << QVariant("a,b") << "\"a,b\"";
        QTest::newRow("quote") << QVariant("5\"") << "\"5\"\"\"";
        QTest::newRow("line feed") << QVariant("a\nb") << "\"a\nb\"";
        QTest::newRow("carriage return") << QVariant("a\rb") << "\"a\rb\"";
        QTest::newRow("leading blank") << QVariant(" a") << "\" a\"";
        QTest::newRow("trailing blank") << QVariant("a ") << "\"a \"";
        QTest::newRow("formula =") << QVariant("=1+2") << "\"'=1+2\"";
        QTest::newRow("formula +") << QVariant("+86 138") << "\"'+86 138\"";
        QTest::newRow("formula -") << QVariant("-A1") << "\"'-A1\"";
        QTest::newRow("formula @") << QVariant("@SUM(A1)") << "\"'@SUM(A1)\"";
        QTest::newRow("formula tab") << QVariant("\t=x") << "\"'\t=x\"";
        QTest::newRow("formula with quotes")
            << QVariant("=HYPERLINK(\"x\",\"y\")") << "\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\"";
        QTest::newRow("signed number as text") << QVariant("-1.5") << "-1.5";
        QTest::newRow("negative real") << QVariant(-1.5) << "-1.5";
        QTest::newRow("real as stored") << QVariant(3.141592653589793) << "3.141592653589793";
        QTest::newRow("big integer") << QVariant(qlonglong(9007199254740993LL)) << "9007199254740993";
        QTest::newRow("NULL") << QVariant(QVariant::String) << "";
    }
    // Both the field text and the file writer's fast path.
    void fields()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, field);
        QCOMPARE(exchange::csvField(value), field);
        QByteArray out;
        exchange::appendCsvField(out, value);
        QCOMPARE(QString::fromUtf8(out), field);
    }

    // Register order decides the persons, test order each person's lines; a
    // person without results gets one line of his 8 values; results under
    // analyzer user numbers ("BCA...", any case) follow with their own values.
    void bodyCompositionLines()
    {
        QVERIFY(insertPerson({"P-UNIT", "002", "李四", "2", "1985", "160", "139", "备注"}));
        QVERIFY(insertPerson({"P-UNIT", "001", "张三", "1", "1990", "175", "138", ""}));
        QVERIFY(insertPerson({"P-UNIT", "003", "赵六", "2", "2000", "150", "", "无测试"}));
        QVERIFY(insertPerson({"P-UNIT", "BCA9", "王五", "1", "1970", "168", "", ""}));
        QVERIFY(insertResult("001", "2024-01-02", 11.5));
        QVERIFY(insertResult("002", "2024-01-03", 22.5));
        QVERIFY(insertResult("001", "2024-01-04", -1.5));
        QVERIFY(insertResult("BCA9", "2024-01-05", 33.0, "王五"));
        QVERIFY(insertResult("bca17", "2024-01-06", 44.0, "分析仪"));
        QVERIFY(insertResult("XBCA1", "2024-01-07", 55.0)); // not an analyzer number
        const QString file = path(QStringLiteral("bca.csv"));
        const exchange::ExportResult result = exchange::exportBca(file);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.lines, 7);

        // Every value followed by a comma; body type is value 30, right-leg edema the last.
        const auto line = [](const QString &first8, const QString &date, const QString &fat) {
            QStringList values = first8.split(QLatin1Char(',')) + QStringList{date, fat};
            while (values.size() < 68)
                values << QString();
            values[29] = QStringLiteral("肥胖型");
            values[67] = QStringLiteral("1.01");
            return values.join(QLatin1Char(',')) + QLatin1Char(',');
        };
        const QString zhang = QStringLiteral("P-UNIT,001,张三,1,1990,175,138,");
        QStringList lines = QString::fromUtf8(fileBytes(file)).split(QLatin1Char('\n'));
        QCOMPARE(lines.takeFirst(), QString::fromUtf8(kBom) + exchange::bcaHeader());
        QCOMPARE(lines,
                 (QStringList{
                     line(QStringLiteral("P-UNIT,002,李四,2,1985,160,139,备注"), "2024-01-03", "22.5"),
                     line(zhang, "2024-01-02", "11.5"), line(zhang, "2024-01-04", "-1.5"),
                     QStringLiteral("P-UNIT,003,赵六,2,2000,150,,无测试,"),
                     line(QStringLiteral("P-UNIT,BCA9,王五,1,1970,168,,"), "2024-01-05", "33"),
                     line(QStringLiteral("R-UNIT,BCA9,王五,1,1990,171.5,BCA9,BCA9"), "2024-01-05", "33"),
                     line(QStringLiteral("R-UNIT,bca17,分析仪,1,1990,171.5,bca17,bca17"), "2024-01-06", "44"),
                     QString()}));
    }

    void fitnessFileAndEmptyTables()
    {
        QVERIFY(exchange::exportBca(path(QStringLiteral("bca.csv"))).ok);
        QCOMPARE(fileBytes(path(QStringLiteral("bca.csv"))), kBom + exchange::bcaHeader().toUtf8() + '\n');
        QCOMPARE(exchange::bcaHeader().split(QLatin1Char(',')).size(), 68);
        QCOMPARE(exchange::fitHeader().split(QLatin1Char(',')).size(), 18);
        const QString fit = path(QStringLiteral("fit.csv"));
        QVERIFY(exchange::exportFit(fit).ok);
        QCOMPARE(fileBytes(fit), kBom + exchange::fitHeader().toUtf8() + '\n');

        QVERIFY(outputcheck::insertRow(QStringLiteral("ResultFIT"), {{"UUID", "F"},
                                                                     {"UID", "7"},
                                                                     {"Name", "@钱"},
                                                                     {"Sex", "1"},
                                                                     {"BirthYear", 1999},
                                                                     {"TestDate", "2024-06-01"},
                                                                     {"Height", 180.5},
                                                                     {"Weight", 70},
                                                                     {"WOLI", 50},
                                                                     {"FHL", 3200},
                                                                     {"FYS", 400},
                                                                     {"BYDJ", 12.5},
                                                                     {"TZ", 60.1},
                                                                     {"TQQ", -3.5},
                                                                     {"YWQZ", 40},
                                                                     {"FWC", 20},
                                                                     {"ZT", 45},
                                                                     {"TY", 230}}) > 0);
        QCOMPARE(exchange::exportFit(fit).lines, 1);
        QCOMPARE(fileBytes(fit),
                 kBom + exchange::fitHeader().toUtf8() +
                     "\nF,7,\"'@钱\",1,1999,2024-06-01,180.5,70,50,3200,400,12.5,60.1,-3.5,40,20,45,230,\n");
    }

    void pythonReadsItBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("readName"); // what a spreadsheet-compatible reader gets
        QTest::newRow("remark with comma, quote and line break") << "张三"
                                                                 << "左膝旧伤, \"轻微\"\n复查"
                                                                 << "张三";
        QTest::newRow("remark with CRLF and trailing blank") << "李四"
                                                             << "a\r\nb "
                                                             << "李四";
        QTest::newRow("formula-like name") << "=HYPERLINK(\"http://evil\",\"点我\")"
                                           << "ok"
                                           << "'=HYPERLINK(\"http://evil\",\"点我\")";
    }
    void pythonReadsItBack()
    {
        QFETCH(QString, name);
        QFETCH(QString, note);
        QFETCH(QString, readName);
        QVERIFY(insertPerson({"U", "001", name, "1", "1990", "170", "-12", note}));
        QVERIFY(insertResult("001", "2024-01-02", -1.5));
        const QString file = path(QStringLiteral("bca.csv"));
        QVERIFY(exchange::exportBca(file).ok);
        const QList<QStringList> rows = pythonRows(file);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0], exchange::bcaHeader().split(QLatin1Char(',')));
        QCOMPARE(rows[1].size(), 69); // 68 values and the empty field after the last comma
        QCOMPARE(rows[1].mid(2, 8),
                 (QStringList{readName, "1", "1990", "170", "-12", note, "2024-01-02", "-1.5"}));
        QCOMPARE(rows[1][67], QStringLiteral("1.01"));
    }

    // The people part reads back through our own person import: one person
    // per line, the second line of 张三 refused as already registered.
    void personImportReadsItBack()
    {
        const QList<QStringList> people = {{"U-1", "1001", "张三", "1", "1990", "175"},
                                           {"U-1", "1002", "欧阳娜娜", "2", "2001", "162"},
                                           {"U-2", "2001", "Li Si", "1", "1975", "181"}};
        for (const QStringList &p : people)
            QVERIFY(insertPerson(p + QStringList{"138", "备注"}));
        QVERIFY(insertResult("1001", "2024-01-02", 10));
        QVERIFY(insertResult("1001", "2024-01-03", 11));
        const QString file = path(QStringLiteral("people.csv"));
        QVERIFY(exchange::exportBca(file).ok);

        QVERIFY(testsupport::buildSuppliedDatabase(path(QStringLiteral("second.db"))));
        QVERIFY(openDefaultDatabase(path(QStringLiteral("second.db"))));
        const personimport::ImportResult imported = personimport::importFile(file);
        QCOMPARE(imported.encoding, personimport::TextEncoding::Utf8Bom);
        QCOMPARE(imported.imported, 3);
        QCOMPARE(imported.skipped.size(), 1);
        QCOMPARE(imported.skipped[0].line, 3);
        QCOMPARE(imported.skipped[0].reason, personimport::SkipReason::AlreadyRegistered);
        QSqlQuery q;
        QVERIFY(
            q.exec(QStringLiteral("SELECT UUID, UID, Name, Sex, BirthYear, Height FROM Person ORDER BY ID")));
        for (const QStringList &p : people) {
            QVERIFY(q.next());
            for (int i = 0; i < 6; ++i)
                QCOMPARE(q.value(i).toString(), p[i]);
        }
        QVERIFY(!q.next());
    }

    // A missing folder, a failing query, a full disk or a cancel: no file, and
    // an earlier file of the same name stays as it was.
    void failuresLeaveNoFile_data()
    {
        QTest::addColumn<QString>("failure");
        for (const char *f : {"folder missing", "query fails", "disk full", "cancelled"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }
    void failuresLeaveNoFile()
    {
        QFETCH(QString, failure);
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("BEGIN")));
        for (int i = 0; i < 3000; ++i) {
            QVERIFY(insertPerson({"U", QString::number(i), "某人", "1", "1990", "170"}));
            QVERIFY(insertResult(QString::number(i), "2024-01-02", i));
        }
        QVERIFY(q.exec(QStringLiteral("COMMIT")));
        const QString file =
            path(failure == QLatin1String("folder missing") ? QStringLiteral("missing/out.csv")
                                                            : QStringLiteral("out.csv"));
        const QByteArray earlier =
            failure == QLatin1String("folder missing") ? QByteArray() : "an earlier export\n";
        if (!earlier.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(earlier) == earlier.size());
        }
        if (failure == QLatin1String("query fails"))
            QVERIFY(q.exec(QStringLiteral("ALTER TABLE Result RENAME COLUMN Score TO Score2")));

        // A file-size limit makes the writes fail as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, failure == QLatin1String("disk full") ? &small : &old), 0);
        qint64 lastDone = 0, lastTotal = 0;
        const exchange::ExportResult result = exchange::exportBca(file, [&](qint64 done, qint64 total) {
            lastDone = done, lastTotal = total;
            return failure != QLatin1String("cancelled") || done < 512;
        });
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!result.ok);
        QCOMPARE(result.cancelled, failure == QLatin1String("cancelled"));
        if (result.cancelled)
            QCOMPARE(QPair(lastDone, lastTotal), QPair(qint64(512), qint64(3000)));
        QVERIFY(!result.error.isEmpty());
        QCOMPARE(fileBytes(file), earlier);
        QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("out*")}, QDir::Files).size(),
                 earlier.isEmpty() ? 0 : 1);
    }

    // The slots tell the operator what happened, in a box; a cancelled file
    // dialog shows none.
    void exportSlotsTellTheOperator()
    {
        QVERIFY(insertPerson({"U", "001", "张三", "1", "1990", "170"}));
        MainWindow w;
        const struct
        {
            bool fitness;
            QString file, box;
        } cases[] = {
            {false, path("bca.csv"), "导出数据成功|信息已保存在" + path("bca.csv") + "！"},
            {true, path("fit.csv"), "导出数据成功|信息已保存在" + path("fit.csv") + "！"},
            {true, path("missing/fit.csv"), "导出数据失败|数据导出失败，文件" + path("missing/fit.csv")}};
        for (const auto &c : cases) {
            outputcheck::ModalWatcher watcher;
            w.presetExportFile(c.file);
            c.fitness ? w.dataFitExport() : w.dataExport();
            QCOMPARE(watcher.seen.size(), 1);
            QVERIFY2(watcher.seen[0].startsWith(c.box), qPrintable(watcher.seen[0]));
            QCOMPARE(QFile::exists(c.file), !c.file.contains(QLatin1String("missing")));
        }
        outputcheck::ModalWatcher watcher;
        w.presetExportFile(QString());
        w.dataExport();
        QVERIFY(watcher.seen.isEmpty());
    }
};

QTEST_MAIN(TestExchangeExport)
#include "tst_exchange_export.moc"
