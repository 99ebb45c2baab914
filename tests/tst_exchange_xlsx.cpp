// Workbook export through the program's command line, read back with
// openpyxl: one typed row per CSV line (texts stay texts, numbers keep the
// CSV file's decimals, dates are dates), the test number first, and on the
// fitness sheet the points, grades and total the fitness report prints.
#include "exchange/csvexport.h"
#include "exchange/xlsxexport.h"
#include "reports/fitnessscore.h"
#include "reports/reportpage.h"
#include "tests/outputcheck.h"
#include "tests/pagerecorder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using exchange::CellKind;
using exchange::ExportTable;
using reports::FitItem;

namespace {
QJsonDocument dump(const QString &path)
{
    const outputcheck::Run r = outputcheck::run(QStringLiteral("/usr/bin/python3"),
                                                {testsupport::sourcePath("tests/sheetdump.py"), path});
    if (r.exitCode != 0)
        qWarning() << r.err;
    return QJsonDocument::fromJson(r.out.toUtf8());
}

// "type|text|format" of a dumped cell (no format for an empty cell).
QString cellText(const QJsonValue &value)
{
    const QJsonArray c = value.toArray();
    const QString type = c[0].toString();
    const QString text = type == "n" ? QString::number(c[1].toString().toDouble(), 'g', 15) : c[1].toString();
    return type + '|' + text + '|' + (type.isEmpty() ? QString() : c[2].toString());
}

QStringList rowText(const QJsonValue &row)
{
    QStringList cells;
    for (const QJsonValue c : row.toArray())
        cells << cellText(c);
    return cells;
}

QString numberCell(double value, int decimals)
{
    return "n|" + QString::number(value, 'g', 15) + '|' + (decimals ? "0." + QString(decimals, '0') : "0");
}

// The cell a field of the CSV file becomes in the workbook.
QString expectedCell(const QString &field, CellKind kind)
{
    bool number = false;
    const double value = field.toDouble(&number);
    if (field.isEmpty())
        return "||";
    if (kind == CellKind::Number && number)
        return numberCell(value, field.contains('.') ? field.size() - field.indexOf('.') - 1 : 0);
    if (kind == CellKind::Date)
        return field.size() > 10 ? "d|" + QString(field).replace(' ', 'T') + "|yyyy-mm-dd hh:mm:ss"
                                 : "d|" + field + "T00:00:00|yyyy-mm-dd";
    // The CSV file defuses formulas with an apostrophe; a text cell needs none.
    const bool defused = field.startsWith('\'') && QStringLiteral("=+-@").contains(field.mid(1, 1));
    return "s|" + (defused ? field.mid(1) : field) + "|General";
}

// Points and grade word of every graded item, then the total, as the fitness
// report of |testId| prints them (BMI: read from the body-form bar).
QStringList reportScores(int testId)
{
    PageRecorder page;
    {
        QPainter painter(&page);
        reports::paintReportPage(painter, QStringLiteral("FITreport"), testId);
    }
    struct Spot
    {
        FitItem item;
        int pointsX, gradeX, y;
    };
    // The grid of the report, in the order of the workbook's columns.
    const Spot spots[] = {{FitItem::WOLI, 290, 380, 380}, {FitItem::FHL, 290, 380, 430},
                          {FitItem::FYS, 290, 380, 480},  {FitItem::BYDJ, 290, 380, 530},
                          {FitItem::TZ, 290, 380, 580},   {FitItem::TQQ, 755, 840, 380},
                          {FitItem::YWQZ, 755, 840, 430}, {FitItem::FWC, 755, 840, 480},
                          {FitItem::ZT, 755, 840, 530},   {FitItem::TY, 755, 840, 580}};
    const int bmiBar = int(page.rectWidthAt(156, 712));
    QStringList cells = {numberCell(bmiBar == 350   ? 5
                                    : bmiBar == 193 ? 3
                                                    : 1,
                                    0),
                         QStringLiteral("s|%1|General")
                             .arg(bmiBar == 350   ? "优秀"
                                  : bmiBar == 193 ? "良好"
                                                  : "不及格")};
    for (const Spot &s : spots)
        cells << numberCell(page.textAt(s.pointsX, s.y).toDouble(), 0)
              << "s|" + page.textAt(s.gradeX, s.y) + "|General";
    return cells << numberCell(page.textAt(810, 235).toDouble(), 0);
}
} // namespace

class TestExchangeXlsx : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(testsupport::startProcessOn(path(QStringLiteral("maindb.db"))));
        // clang-format off
        for (const QVariantList &p : {QVariantList{"单位A", "000123", "1e5", "1", 1990, 175, "013812345678", "=1+2"},
                                      QVariantList{"单位A", "000456", "TRUE", "2", 1985, 160, "+86 139", "3/4 "},
                                      QVariantList{"单位A", "000789", "3/4", "1", 2001, 181, QVariant(), QVariant()}})
            QVERIFY(outputcheck::insertRow("Person", "UUID, UID, Name, Sex, BirthYear, Height, Phone, Note", p) > 0);
        // Test 3 is a walk-in (no registered person) whose fat reads as no number.
        for (const QVariantList &r : {QVariantList{"000456", "2024-03-14", 160.5, 55.25, 14.5, 21.48, "标准型", 1, 0.385},
                                      QVariantList{"000123", "2024-03-15", 175.2, 70.5, 11.25, 22.86, "肌肉型", 2, 0.39},
                                      QVariantList{"W001", "2024-03-16 09:30:05", 168, 61, "abc", 21.6, "偏瘦型", 0, 0.4},
                                      QVariantList{"000123", "2024-03-17", 175, 71.125, -1.5, 23.2, "标准型", 3, 0.381}})
            QVERIFY(outputcheck::insertRow("Result", "UID, TestDate, Height, Weight, Fat, BMI, BodyType, LiverRisk, "
                                           "RL_edema", r) > 0);
        // Tested at 25 (push-ups graded 3 there, 4 at today's age), at 24, and at 17.
        const QString fit = "UUID, UID, Name, Sex, BirthYear, TestDate, Height, Weight, WOLI, FHL, FYS, BYDJ, TZ, "
                            "TQQ, YWQZ, FWC, ZT, TY";
        for (const QVariantList &f : {QVariantList{"单位A", "000123", "1e5", "1", 1990, "2015-06-01", 175, 70, 50.5,
                                                   4000, 420, 30, 55.5, 10.5, 25, 20, 35.5, 240},
                                      QVariantList{"单位A", "000456", "TRUE", "2", 2000, "2024-05-20", 160, 48, 28.5,
                                                   2500, 480, 20, 60.2, 15, 30, 15, 22.5, 190},
                                      QVariantList{"单位A", "000789", "3/4", "1", 2008, "2025-01-10", 181, 95, 40,
                                                   3000, 600, 5, 40, 2, 10, 8, 20, 210}})
            QVERIFY(outputcheck::insertRow("ResultFIT", fit, f) > 0);
        // clang-format on
    }
    void cleanupTestCase() { releaseProcessState(); }

    // Both workbooks from the command line against the CSV files of the same
    // database: one row per line, each field as its typed cell.
    void workbooksMatchTheCsvFiles_data()
    {
        QTest::addColumn<int>("table");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QList<int>>("testIds"); // 0: a person without results
        QTest::addColumn<QString>("filter");
        QTest::newRow("body composition")
            << int(ExportTable::BodyComposition) << "体成分" << QList<int>{2, 4, 1, 0, 3} << "A1:BQ6";
        QTest::newRow("fitness") << int(ExportTable::Fitness) << "体测" << QList<int>{1, 2, 3} << "A1:AP4";
    }
    void workbooksMatchTheCsvFiles()
    {
        QFETCH(int, table);
        QFETCH(QString, sheet);
        QFETCH(QList<int>, testIds);
        QFETCH(QString, filter);
        const auto t = ExportTable(table);
        const bool fitness = t == ExportTable::Fitness;
        const QString option = fitness ? "--export-fit" : "--export-bca";
        const outputcheck::Run run =
            outputcheck::run(outputcheck::program, {option, "out.xlsx"}, m_dir.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QStringLiteral("out.xlsx (%1 rows)").arg(testIds.size())),
                 qPrintable(run.out));
        QVERIFY(exchange::exportCsv(t, path("out.csv")).ok);

        const QJsonArray csv = dump(path("out.csv")).array();
        const QJsonArray sheets = dump(path("out.xlsx")).array();
        QCOMPARE(sheets.size(), 1);
        const QJsonObject ws = sheets[0].toObject();
        QCOMPARE(ws["name"].toString(), sheet);
        QCOMPARE(ws["freeze"].toString(), QStringLiteral("A2"));
        QCOMPARE(ws["filter"].toString(), filter);
        QVERIFY(ws["bold"].toBool());

        const QJsonArray rows = ws["rows"].toArray();
        QCOMPARE(rows.size(), csv.size());
        QStringList header = {"测试编号"};
        for (const QJsonValue h : csv[0].toArray())
            header << h.toString();
        if (fitness)
            header
                << QString(
                       "BMI得分 BMI等级 握力得分 握力等级 肺活量得分 肺活量等级 反应时得分 反应时等级 "
                       "闭眼单脚站立得分 闭眼单脚站立等级 台阶实验指数得分 台阶实验指数等级 坐位体前屈得分 "
                       "坐位体前屈等级 仰卧起坐得分 仰卧起坐等级 俯卧撑得分 俯卧撑等级 纵跳得分 纵跳等级 "
                       "立定跳远得分 立定跳远等级 总分")
                       .split(' ');
        QStringList headerCells;
        for (const QString &h : header)
            headerCells << "s|" + h + "|General";
        QCOMPARE(rowText(rows[0]), headerCells);

        const QVector<exchange::ExportColumn> &columns = exchange::exportColumns(t);
        for (int i = 1; i < rows.size(); ++i) {
            const int testId = testIds.at(i - 1);
            QStringList expected = {testId ? numberCell(testId, 0) : QStringLiteral("||")};
            const QJsonArray fields = csv[i].toArray();
            for (int c = 0; c < columns.size(); ++c)
                expected << expectedCell(fields[c].toString(), columns[c].kind);
            if (fitness)
                expected << reportScores(testId);
            QCOMPARE(rowText(rows[i]), expected);
        }

        // Columns wide enough for their header (CJK characters count twice).
        const QJsonArray widths = ws["widths"].toArray();
        QCOMPARE(widths.size(), header.size());
        for (int c = 0; c < header.size(); ++c) {
            const double needed = (header[c].toUtf8().size() + header[c].size()) / 2.0;
            QVERIFY2(widths[c].toDouble() >= needed && widths[c].toDouble() <= 62, qPrintable(header[c]));
        }
    }

    // What a spreadsheet must not change: user numbers and phones with
    // leading zeros, names like numbers, booleans, dates or formulas.
    void textsStayTexts()
    {
        QVERIFY(exchange::exportWorkbook(ExportTable::BodyComposition, path("bca.xlsx")).ok);
        const QJsonArray rows = dump(path("bca.xlsx")).array()[0].toObject()["rows"].toArray();
        const QStringList header = rowText(rows[0]);
        const auto cell = [&](int row, const char *name) {
            return cellText(rows[row].toArray()[header.indexOf(QStringLiteral("s|%1|General").arg(name))])
                .section('|', 0, 1);
        };
        // clang-format off
        const struct { int row; const char *column; const char *cell; } cases[] = {
            {1, "用户ID", "s|000123"}, {1, "手机号", "s|013812345678"}, {1, "姓名", "s|1e5"}, {1, "备注", "s|=1+2"},
            {3, "姓名", "s|TRUE"},     {3, "备注", "s|3/4 "},           {4, "姓名", "s|3/4"}, {4, "测试日期", "|"},
            {1, "测试日期", "d|2024-03-15T00:00:00"}, {5, "测试日期", "d|2024-03-16T09:30:05"},
            {1, "体重", "n|70.5"}, {2, "体重", "n|71.125"}, {5, "脂肪", "s|abc"}, {1, "出生年份", "n|1990"}};
        // clang-format on
        for (const auto &c : cases)
            QCOMPARE(cell(c.row, c.column), QString::fromUtf8(c.cell));
    }
};

QTEST_MAIN(TestExchangeXlsx)
#include "tst_exchange_xlsx.moc"
