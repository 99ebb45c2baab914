// CSV export: field quoting and formula defusing, the lines of both files,
// files read back by Python's csv module and by our own person import, and
// failures that must leave no file behind; the export slots' boxes.
#include "app/database.h"
#include "exchange/csvexport.h"
#include "exchange/xlsxexport.h"
#include "people/personimport.h"
#include "tests/outputcheck.h"

#include <QSqlRecord>

#include <sys/resource.h>

#include <csignal>

namespace {
const QByteArray kBom("\xEF\xBB\xBF");

// UUID, UID, Name, Sex, BirthYear, Height, Phone, Note (empty unless given).
bool insertPerson(QVariantList values)
{
    while (values.size() < 8)
        values << QVariant();
    return outputcheck::insertRow("Person", "UUID, UID, Name, Sex, BirthYear, Height, Phone, Note", values) >
           0;
}

bool insertResult(const QVariant &uid, const QString &date, double fat, const QString &name = QString())
{
    return outputcheck::insertRow(
               "Result", "UUID, UID, Name, Sex, BirthYear, TestDate, Height, Fat, BodyType, RL_edema",
               {"R-UNIT", uid, name, "1", 1990, date, 171.5, fat, "肥胖型", 1.01}) > 0;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The rows of |path| as Python's csv module reads them (the BOM dropped).
QList<QStringList> pythonRows(const QString &path)
{
    const QString script =
        QStringLiteral("import csv, sys\n"
                       "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                       "    print('\\x1e'.join('\\x1f'.join(r) for r in csv.reader(f)), end='')");
    QList<QStringList> rows;
    for (const QString &row : outputcheck::run("python3", {"-c", script, path}).out.split(QChar(0x1e)))
        rows << row.split(QChar(0x1f));
    return rows;
}

// Text fields as written, one per line: value, then "→" and the field
// (＂ stands for a double quote, ␊ for a line feed, ␍ for a carriage return, ␉ for a tab).
const char *const kTextFields = R"(张 三→张 三
a,b→＂a,b＂
5＂→＂5＂＂＂
a␊b→＂a␊b＂
a␍b→＂a␍b＂
 a→＂ a＂
a →＂a ＂
=1+2→＂'=1+2＂
+86 138→＂'+86 138＂
-A1→＂'-A1＂
@SUM(A1)→＂'@SUM(A1)＂
␉=x→＂'␉=x＂
=HYPERLINK(＂x＂,＂y＂)→＂'=HYPERLINK(＂＂x＂＂,＂＂y＂＂)＂
-1.5→-1.5)";
} // namespace

class TestExchangeExport : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
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
        for (QString line : QString::fromUtf8(kTextFields).split('\n')) {
            line.replace("＂", "\"").replace("␊", "\n").replace("␍", "\r").replace("␉", "\t");
            QTest::newRow(qPrintable(line)) << QVariant(line.section("→", 0, 0)) << line.section("→", 1);
        }
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
    // person without results gets one line with empty result fields; the
    // results of analyzer user numbers ("BCA...", any case) and of people not
    // registered follow in test order with their own values. Every line has
    // the header's 68 fields.
    void bodyCompositionLines()
    {
        // clang-format off
        for (const QVariantList &person : {QVariantList{"P-UNIT", "002", "李四", "2", 1985, 160, "139", "备注"},
                                           QVariantList{"P-UNIT", "001", "张三", "1", 1990, 175, "138"},
                                           QVariantList{"P-UNIT", "003", "赵六", "2", 2000, 150, QVariant(), "无测试"},
                                           QVariantList{"P-UNIT", "BCA9", "王五", "1", 1970, 168},
                                           QVariantList{"P-UNIT", "bca17", "分析仪", "1", 1975, 166}})
            QVERIFY(insertPerson(person));
        // clang-format on
        const char *results[][3] = {{"001", "2024-01-02", "11.5"}, {"002", "2024-01-03", "22.5"},
                                    {"W77", "2024-01-04", "66"},   {"001", "2024-01-05", "-1.5"},
                                    {"BCA9", "2024-01-06", "33"},  {"bca17", "2024-01-07", "44"},
                                    {"XBCA1", "2024-01-08", "55"}};
        for (const auto &r : results) // W77 and XBCA1 are walk-ins: no registered person
            QVERIFY(insertResult(r[0], r[1], QByteArray(r[2]).toDouble(),
                                 r[0][0] == 'B'   ? "王五"
                                 : r[0][0] == 'b' ? "分析仪"
                                 : r[0][0] == 'W' ? "路人"
                                                  : ""));
        const QString file = path(QStringLiteral("bca.csv"));
        QCOMPARE(exchange::exportBca(file).lines, 10);

        // Body type is value 30, right-leg edema the last; no date: no result.
        const auto line = [](const QString &first8, const QString &date = {}, const QString &fat = {}) {
            QStringList values = first8.split(QLatin1Char(',')) + QStringList{date, fat};
            while (values.size() < 68)
                values << QString();
            if (!date.isEmpty()) {
                values[29] = QStringLiteral("肥胖型");
                values[67] = QStringLiteral("1.01");
            }
            return values.join(QLatin1Char(','));
        };
        const QString zhang = QStringLiteral("P-UNIT,001,张三,1,1990,175,138,");
        QCOMPARE(QString::fromUtf8(fileBytes(file)).split(QLatin1Char('\n')),
                 (QStringList{QString::fromUtf8(kBom) + exchange::bcaHeader(),
                              line("P-UNIT,002,李四,2,1985,160,139,备注", "2024-01-03", "22.5"),
                              line(zhang, "2024-01-02", "11.5"), line(zhang, "2024-01-05", "-1.5"),
                              line("P-UNIT,003,赵六,2,2000,150,,无测试"),
                              line("P-UNIT,BCA9,王五,1,1970,168,,", "2024-01-06", "33"),
                              line("P-UNIT,bca17,分析仪,1,1975,166,,", "2024-01-07", "44"),
                              line("R-UNIT,W77,路人,1,1990,171.5,W77,W77", "2024-01-04", "66"),
                              line("R-UNIT,BCA9,王五,1,1990,171.5,BCA9,BCA9", "2024-01-06", "33"),
                              line("R-UNIT,bca17,分析仪,1,1990,171.5,bca17,bca17", "2024-01-07", "44"),
                              line("R-UNIT,XBCA1,,1,1990,171.5,XBCA1,XBCA1", "2024-01-08", "55"), ""}));
    }

    // The fitness file in its column order; empty tables give the header only.
    void fitnessFileAndEmptyTables()
    {
        QVERIFY(exchange::exportBca(path(QStringLiteral("bca.csv"))).ok);
        QCOMPARE(fileBytes(path(QStringLiteral("bca.csv"))), kBom + exchange::bcaHeader().toUtf8() + '\n');
        const QString fit = path(QStringLiteral("fit.csv"));
        QVERIFY(exchange::exportFit(fit).ok);
        QCOMPARE(fileBytes(fit), kBom + exchange::fitHeader().toUtf8() + '\n');
        // clang-format off
        QVERIFY(outputcheck::insertRow("ResultFIT", "UUID, UID, Name, Sex, BirthYear, TestDate, Height, Weight, WOLI, "
                                       "FHL, FYS, BYDJ, TZ, TQQ, YWQZ, FWC, ZT, TY", {"F", "7", "@钱", "1", 1999,
                                       "2024-06-01", 180.5, 70, 50, 3200, 400, 12.5, 60.1, -3.5, 40, 20, 45, 230}) > 0);
        // clang-format on
        QCOMPARE(exchange::exportFit(fit).lines, 1);
        QCOMPARE(fileBytes(fit),
                 kBom + exchange::fitHeader().toUtf8() +
                     "\nF,7,\"'@钱\",1,1999,2024-06-01,180.5,70,50,3200,400,12.5,60.1,-3.5,40,20,45,230\n");
    }

    // A remark with a comma, a quote and a line break, one with CRLF and a
    // trailing blank, and a formula-like name come back through Python's csv
    // module as written (the name defused); the people part comes back through
    // our own person import (张三's second line refused as already registered).
    void readBack()
    {
        const QStringList notes = {"左膝旧伤, \"轻微\"\n复查", "a\r\nb ", "ok"};
        const QStringList names = {"张三", "欧阳娜娜", "=HYPERLINK(\"http://evil\",\"点我\")"};
        const QStringList sexes = {"1", "2", "1"};
        const QStringList heights = {"170", "158.5", "181"};
        for (int i = 0; i < 3; ++i)
            QVERIFY(insertPerson({"U" + QString::number(i + 5), i, names[i], sexes[i], 1990 + i, heights[i],
                                  "-12", notes[i]}));
        QVERIFY(insertResult(0, "2024-01-02", -1.5));
        QVERIFY(insertResult(0, "2024-01-03", 2));
        const QString file = path(QStringLiteral("bca.csv"));
        QVERIFY(exchange::exportBca(file).ok);
        const QList<QStringList> rows = pythonRows(file);
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0], exchange::bcaHeader().split(QLatin1Char(',')));
        for (const QString &name : rows[0])
            QVERIFY2(!name.isEmpty() && name == name.trimmed(), qPrintable(name));
        for (const QStringList &row : rows)
            QCOMPARE(row.size(), 68);
        QCOMPARE(rows[3].mid(8).join(QString()), QString()); // 欧阳娜娜 has no results
        for (int i = 0; i < 3; ++i) {
            const QStringList &row = rows[i + 1 + (i > 0)];
            QCOMPARE(row.mid(0, 8), (QStringList{"U" + QString::number(i + 5), QString::number(i),
                                                 i == 2 ? "'" + names[i] : names[i], sexes[i],
                                                 QString::number(1990 + i), heights[i], "-12", notes[i]}));
        }
        QCOMPARE(rows[1].mid(8, 2), (QStringList{"2024-01-02", "-1.5"}));
        QCOMPARE(rows[1][67], QStringLiteral("1.01"));

        QVERIFY(testsupport::buildSuppliedDatabase(path(QStringLiteral("second.db"))));
        QVERIFY(openDefaultDatabase(path(QStringLiteral("second.db"))));
        const personimport::ImportResult imported = personimport::importFile(file);
        QCOMPARE(imported.encoding, personimport::TextEncoding::Utf8Bom);
        QCOMPARE(imported.imported, 3);
        QCOMPARE(imported.skipped.size(), 1);
        QCOMPARE(imported.skipped[0].reason, personimport::SkipReason::AlreadyRegistered);
        QCOMPARE(testsupport::scalar(
                     "SELECT GROUP_CONCAT(UUID || ' ' || UID || ' ' || Name || ' ' || Sex || ' ' || "
                     "BirthYear || ' ' || Height, '|') FROM Person")
                     .toString(),
                 QStringLiteral("U5 0 张三 1 1990 170|U6 1 欧阳娜娜 2 1991 158.5|U7 2 '") + names[2] +
                     " 1 1992 181");
    }

    // Every value of a person and a result under its own header, in a line
    // whose values are all distinct. A segment header names its segment and
    // its quantity; the others are looked up in the table below.
    void everyValueUnderItsHeader()
    {
        // clang-format off
        const QString whole = QStringLiteral(
            "单位标识=UUID 用户ID=UID 姓名=Name 性别=Sex 出生年份=BirthYear 身高=Height 手机号=Phone 备注=Note "
            "测试日期=TestDate 脂肪=Fat 骨质=Bone 蛋白质=Protein 总水分=Water 细胞内液=ICW 细胞外液=ECW "
            "肌肉=Muscle 去脂体重=LBM 体重=Weight 标准体重=Standard_weight 体重控制=Weight_control "
            "脂肪控制量=Fat_control 肌肉控制量=Muscle_control 体脂百分比=PBF 骨骼肌=SMM BMI=BMI 腰臀比=WHR "
            "基础代谢=BMR 全身水肿系数=Edema 内脏脂肪指数=VFI 体型=BodyType 脂肪肝风险度%=LiverRisk "
            "身体年龄=Body_age 健康评分=Score");
        const QStringList segments = {"躯干=TR", "左上肢=LA", "右上肢=RA", "左下肢=LL", "右下肢=RL"};
        const QStringList quantities = {"脂肪=fat", "肌肉=muscle", "骨质=bone", "去脂体重=LBM", "水分=water",
                                        "外水=ECW", "水肿系数=edema"};
        // clang-format on
        QHash<QString, QString> columnOf;
        for (const QString &pair : whole.split(' '))
            columnOf[pair.section('=', 0, 0)] = pair.section('=', 1);
        for (const QString &seg : segments) {
            for (const QString &q : quantities)
                columnOf[seg.section('=', 0, 0) + q.section('=', 0, 0)] =
                    seg.section('=', 1) + '_' + q.section('=', 1);
        }
        // Distinct values; the result's own person columns differ from the register's.
        QHash<QString, QString> value{{"UUID", "P-UNIT"}, {"UID", "U-9"},        {"Name", "甲乙"},
                                      {"Sex", "2"},       {"BirthYear", "1987"}, {"Height", "163.5"},
                                      {"Phone", "139"},   {"Note", "备注"}};
        QVERIFY(insertPerson({"P-UNIT", "U-9", "甲乙", "2", 1987, 163.5, "139", "备注"}));
        QStringList names;
        QVariantList values;
        const QSqlRecord record = QSqlDatabase::database().record(QStringLiteral("Result"));
        for (int i = 1; i < record.count(); ++i) { // all but TestID
            const QString name = record.fieldName(i);
            names << name;
            values << (name == QLatin1String("UID")        ? QStringLiteral("U-9")
                       : name == QLatin1String("TestDate") ? QStringLiteral("2026-01-02")
                       : name == QLatin1String("BodyType") ? QStringLiteral("肥胖型")
                                                           : QString::number(100 + 3 * i) + ".5");
            if (!value.contains(name))
                value.insert(name, values.last().toString());
        }
        QVERIFY(outputcheck::insertRow("Result", names.join(','), values) > 0);
        const QString file = path(QStringLiteral("bca.csv"));
        QCOMPARE(exchange::exportBca(file).lines, 1);
        const QStringList lines = QString::fromUtf8(fileBytes(file).mid(3)).split('\n');
        QCOMPARE(lines.size(), 3);
        QStringList got, expected;
        const QStringList headers = lines[0].split(','), fields = lines[1].split(',');
        QCOMPARE(fields.size(), headers.size());
        for (int c = 0; c < headers.size(); ++c) {
            got << headers[c] + '=' + fields[c];
            expected << headers[c] + '=' + value.value(columnOf.value(headers[c]), "?");
        }
        QCOMPARE(got.join(' '), expected.join(' '));
    }

    // A missing folder, a failing query, a full disk or a cancel: no file, and
    // an earlier file of the same name stays as it was.
    void failuresLeaveNoFile_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("name");
        for (const char *f :
             {"folder missing", "query fails", "disk full", "short file past the size limit", "cancelled"})
            QTest::newRow(f) << QString::fromLatin1(f) << "out.csv";
        for (const char *f : {"query fails", "disk full", "cancelled"})
            QTest::addRow("workbook, %s", f) << QString::fromLatin1(f) << "out.xlsx";
    }
    void failuresLeaveNoFile()
    {
        QFETCH(QString, failure);
        QFETCH(QString, name);
        const bool shortFile = failure.startsWith(QLatin1String("short"));
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("BEGIN")));
        for (int i = 0; i < (shortFile ? 1 : 3000); ++i)
            QVERIFY(insertPerson({"U", i, "某人", "1", 1990, 170}) && insertResult(i, "2024-01-02", i));
        QVERIFY(q.exec(QStringLiteral("COMMIT")));
        const bool noFolder = failure == QLatin1String("folder missing");
        const QString file = path(noFolder ? "missing/" + name : name);
        const QByteArray earlier = noFolder ? QByteArray() : "an earlier export\n";
        QFile f(file);
        QVERIFY(noFolder || (f.open(QIODevice::WriteOnly) && f.write(earlier) == earlier.size()));
        f.close();
        if (failure == QLatin1String("query fails"))
            QVERIFY(q.exec(QStringLiteral("ALTER TABLE Result RENAME COLUMN Score TO Score2")));

        // A file-size limit makes the writes fail as on a full disk; a short
        // file fails only when its buffered tail is written.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = shortFile ? 100 : 64 * 1024;
        const bool limited = shortFile || failure == QLatin1String("disk full");
        QCOMPARE(setrlimit(RLIMIT_FSIZE, limited ? &small : &old), 0);
        QList<qint64> last;
        const exchange::ExportResult result = exchange::exportResults(
            exchange::ExportTable::BodyComposition, file, [&](qint64 done, qint64 total) {
                last = {done, total};
                return failure != QLatin1String("cancelled") || done < 512;
            });
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!result.ok && !result.error.isEmpty());
        QCOMPARE(result.error.contains(QStringLiteral("文件超过系统允许的大小")), limited);
        QCOMPARE(result.cancelled, failure == QLatin1String("cancelled"));
        if (result.cancelled)
            QCOMPARE(last, (QList<qint64>{512, 3000}));
        QCOMPARE(fileBytes(file), earlier);
        QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("out*")}, QDir::Files).size(),
                 noFolder ? 0 : 1);
    }
};

QTEST_MAIN(TestExchangeExport)
#include "tst_exchange_export.moc"
