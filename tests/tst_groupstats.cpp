// Group statistics on a small generated set with known answers: counts,
// means, standard deviations, grade and range shares, the sex x age cells,
// values of 0 left out, grading in the age group of each result's own test
// date, filters and an empty range; the CSV read back by Python's csv module,
// the PDF pages, the dialog, and `quelmar --stats` run as a real process.
#include "app/mainwindow.h"
#include "dialogs/statsdlg.h"
#include "exchange/statscsv.h"
#include "reports/groupstats.h"
#include "reports/statspage.h"
#include "tests/outputcheck.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QMenuBar>
#include <QSqlDatabase>
#include <QTableWidget>

#include <sys/resource.h>

#include <csignal>

using namespace reports;

namespace {
const QDate kDay(2024, 5, 6);

const QString kFitColumns = QStringLiteral(
    "UID, Sex, BirthYear, TestDate, Height, Weight, WOLI, FHL, TQQ, TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY");

// Fitness rows of the test day (0 and NULL: not measured):
//  A man 24: BMI 20.0, grip 50.0 (good), vital capacity 3465 (pass)  -> total 48
//  B man 24: BMI 30.9 (fail), grip 40.0 (fail), long jump 266 (excellent) -> 40
//  C woman 34: no weight, grip 30.0 (pass), reaction 400 ms (excellent) -> 34
//  D man 18: BMI 20.0, grip 45.0 (not graded below 20), long jump 250 (good) -> 18
// and rows outside the day or on the day written without leading zeros.
const QList<QVariantList> kFitRows = {
    {"A", "1", 2000, "2024-05-06", 170, 57.8, 50.0, 3465, 0, 0, 0, 0, 0, 0, 0, 0},
    {"B", "1", 2000, "2024-05-06", 180, 100, 40.0, QVariant(), 0, 0, 0, 0, 0, 0, 0, 266},
    {"C", "2", 1990, "2024-5-6", 160, 0, 30.0, 0, 0, 0, 0, 400, 0, 0, 0, 0},
    {"D", "1", 2006, "2024/05/06 09:30", 175, 61.25, 45.0, 0, 0, 0, 0, 0, 0, 0, 0, 250},
    {"X", "1", 2000, "2024-05-05", 170, 60, 99.0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {"Y", "2", 2000, "2024-05-07", 170, 60, 99.0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    // One person of 1999 on both sides of a new year: 24, then 25.
    {"E", "1", 1999, "2023-12-31", 175, 70, 50.0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {"E", "1", 1999, "2024-01-02", 175, 70, 50.0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

const QString kBcaColumns =
    QStringLiteral("UID, Sex, BirthYear, TestDate, Height, Weight, BMI, PBF, SMM, VFI, BodyType");
// Body-composition rows of the day, at the edges of the normal ranges:
//  P man 24, 170 cm: weight 63.0 (= low edge, normal), BMI 18.5 (normal), body fat 20.0 (normal),
//    skeletal muscle 33.5 (below 33.59)
//  Q woman 34: weight 0 (left out), BMI 24.0 (above), body fat 17.9 (below), SMM and VFI 0
//  R man 18 without height: weight 80 and SMM 30 have no range, BMI 23.9 (normal), body fat 20.1 (above),
//    a body type that is none of the nine words
//  S woman 34, 165 cm: weight 70 (above 66), no BMI, body fat 28.0 (normal), SMM 25 (below 28.15),
//    no body type
const QList<QVariantList> kBcaRows = {
    {"P", "1", 2000, "2024-05-06", 170, 63.0, 18.5, 20.0, 33.5, 8, "健康匀称型"},
    {"Q", "2", 1990, "2024-05-06", 160, 0, 24.0, 17.9, 0, 0, "肥胖型"},
    {"R", "1", 2006, "2024-05-06", 0, 80, 23.9, 20.1, 30, 12, "标准型"},
    {"S", "2", 1990, "2024-05-06", 165, 70, QVariant(), 28.0, 25, 4, QString()},
    {"Z", "1", 2000, "2024-05-07", 170, 99, 30, 30, 30, 30, "肥胖型"},
};

StatsFilter dayFilter(int sex = -1, int ageGroup = -1)
{
    return StatsFilter{kDay, kDay, sex, ageGroup};
}

GroupStatistics compute(const StatsFilter &filter)
{
    const StatsOutcome outcome = computeGroupStatistics(filter);
    if (!outcome.ok)
        qWarning() << outcome.error;
    return outcome.stats;
}

// The CSV line whose first four fields are those of |expected|.
QString lineFor(const QList<QStringList> &rows, const QString &expected)
{
    const QStringList key = expected.split(QLatin1Char(',')).mid(0, 4);
    for (const QStringList &row : rows) {
        if (row.mid(0, 4) == key)
            return row.join(QLatin1Char(','));
    }
    return QStringLiteral("(no line)");
}

// The rows of |path| as Python's csv module reads them (the BOM dropped).
QList<QStringList> pythonRows(const QString &path)
{
    const QString script =
        QStringLiteral("import csv, sys\n"
                       "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                       "    print('\\x1e'.join('\\x1f'.join(r) for r in csv.reader(f)), end='')");
    QList<QStringList> rows;
    const outputcheck::Run run =
        outputcheck::run(QStringLiteral("python3"), {QStringLiteral("-c"), script, path});
    for (const QString &row : run.out.split(QChar(0x1e)))
        rows << row.split(QChar(0x1f));
    return rows;
}

QStringList tableRow(const QTableWidget *table, int row)
{
    QStringList cells;
    for (int c = 0; c < table->columnCount(); ++c)
        cells << (table->item(row, c) ? table->item(row, c)->text() : QString());
    return cells;
}
} // namespace

class TestGroupStats : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir = QDir::currentPath();

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(path(QStringLiteral("maindb.db"))));
        // One transaction: a disk sync per row would dominate the run.
        QVERIFY(QSqlDatabase::database().transaction());
        for (const QVariantList &row : kFitRows)
            QVERIFY(outputcheck::insertRow(QStringLiteral("ResultFIT"), kFitColumns, row) > 0);
        for (const QVariantList &row : kBcaRows)
            QVERIFY(outputcheck::insertRow(QStringLiteral("Result"), kBcaColumns, row) > 0);
        QVERIFY(QSqlDatabase::database().commit());
    }
    void cleanup()
    {
        QDir::setCurrent(m_startDir);
        releaseProcessState();
    }

    // Whole CSV lines of the day: the whole group and its sex x age cells.
    void knownAnswers()
    {
        const QList<QStringList> rows = exchange::statsCsvRows(compute(dayFilter()));
        const QStringList expected = {
            "体质测试,全部,全部,测试人数,,4,,,,,,,,,,,,,,,,,,,",
            "体质测试,全部,全部,BMI,,3,23.62,6.27,20.00,30.86,2,0,0,1,0,66.7,0.0,0.0,33.3,,,,,,",
            "体质测试,全部,全部,握力,kg,4,41.25,8.54,30,50,0,1,1,1,1,0.0,33.3,33.3,33.3,,,,,,",
            "体质测试,全部,全部,肺活量,ml,1,3465.00,,3465,3465,0,0,1,0,0,0.0,0.0,100.0,0.0,,,,,,",
            "体质测试,全部,全部,选择反应时,ms,1,400.00,,400,400,1,0,0,0,0,100.0,0.0,0.0,0.0,,,,,,",
            "体质测试,全部,全部,立定跳远,cm,2,258.00,11.31,250,266,1,1,0,0,0,50.0,50.0,0.0,0.0,,,,,,",
            "体质测试,全部,全部,纵跳,cm,0,,,,,,,,,,,,,,,,,,,",
            "体质总分,全部,全部,总分,分,4,35.00,12.70,18,48,,,,,,,,,,,,,,,",
            "总分分布,全部,全部,10-19分,,1,,,,,,,,,,,,,,,,,,,",
            "总分分布,全部,全部,20-29分,,0,,,,,,,,,,,,,,,,,,,",
            "总分分布,全部,全部,40-49分,,2,,,,,,,,,,,,,,,,,,,",
            "总分分布,全部,全部,100-110分,,0,,,,,,,,,,,,,,,,,,,",
            "体成分测试,全部,全部,测试人数,,4,,,,,,,,,,,,,,,,,,,",
            "体成分测试,全部,全部,体重,kg,3,71.00,8.54,63,80,,,,,,,,,,0,1,1,0.0,50.0,50.0",
            "体成分测试,全部,全部,BMI,,3,22.13,3.15,18.5,24,,,,,,,,,,0,2,1,0.0,66.7,33.3",
            "体成分测试,全部,全部,体脂率,%,4,21.50,4.45,17.9,28,,,,,,,,,,1,2,1,25.0,50.0,25.0",
            "体成分测试,全部,全部,骨骼肌,kg,3,29.50,4.27,25,33.5,,,,,,,,,,2,0,0,100.0,0.0,0.0",
            "体成分测试,全部,全部,内脏脂肪指数,,3,8.00,4.00,4,12,,,,,,,,,,,,,,,",
            "体型,全部,全部,健康匀称型,,1,,,,,,,,,,,,,,,,,,,",
            "体型,全部,全部,肥胖型,,1,,,,,,,,,,,,,,,,,,,",
            "体型,全部,全部,消瘦型,,0,,,,,,,,,,,,,,,,,,,",
            "体型,全部,全部,其他,,1,,,,,,,,,,,,,,,,,,,",
            "体质测试,男,20-24岁,握力,kg,2,45.00,7.07,40,50,0,1,0,1,0,0.0,50.0,0.0,50.0,,,,,,",
            "体质总分,男,20-24岁,总分,分,2,44.00,5.66,40,48,,,,,,,,,,,,,,,",
            "体质测试,男,20岁以下,握力,kg,1,45.00,,45,45,0,0,0,0,1,,,,,,,,,,",
            "体质测试,男,20岁以下,BMI,,1,20.00,,20.00,20.00,1,0,0,0,0,100.0,0.0,0.0,0.0,,,,,,",
            "体质测试,女,30-34岁,BMI,,0,,,,,,,,,,,,,,,,,,,",
            "体质测试,女,30-34岁,握力,kg,1,30.00,,30,30,0,0,1,0,0,0.0,0.0,100.0,0.0,,,,,,",
            "体成分测试,女,30-34岁,体脂率,%,2,22.95,7.14,17.9,28,,,,,,,,,,1,1,0,50.0,50.0,0.0",
            "体成分测试,男,20岁以下,体重,kg,1,80.00,,80,80,,,,,,,,,,0,0,0,,,",
        };
        for (const QString &line : expected)
            QCOMPARE(lineFor(rows, line), line);
        // Only cells that hold results have lines: the whole group (three fitness
        // and two body-composition parts) and three cells of each kind.
        QSet<QString> cells;
        for (const QStringList &row : rows)
            cells << row.at(0) + row.at(1) + row.at(2);
        QCOMPARE(cells.size(), 5 + 3 * 3 + 3 * 2);
    }

    // Each result is graded in the age group of its own test date: the same
    // grip of 50.0 is good at 24 (2023) and a pass at 25 (2024).
    void gradedByOwnTestDate()
    {
        const QList<QStringList> rows =
            exchange::statsCsvRows(compute({QDate(2023, 12, 31), QDate(2024, 1, 2), -1, -1}));
        for (const QString &line :
             {QStringLiteral("体质测试,男,20-24岁,握力,kg,1,50.00,,50,50,0,1,0,0,0,0.0,100.0,0.0,0.0,,,,,,"),
              QStringLiteral("体质测试,男,25-29岁,握力,kg,1,50.00,,50,50,0,0,1,0,0,0.0,0.0,100.0,0.0,,,,,,"),
              QStringLiteral("体质测试,全部,全部,测试人数,,2,,,,,,,,,,,,,,,,,,,")})
            QCOMPARE(lineFor(rows, line), line);
    }

    // Filters and ranges: (from, to, sex, age group) -> fitness and body-composition results.
    void filters_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<int>("sex");
        QTest::addColumn<int>("age");
        QTest::addColumn<int>("fitness");
        QTest::addColumn<int>("bca");
        QTest::newRow("day") << kDay << kDay << -1 << -1 << 4 << 4;
        QTest::newRow("women") << kDay << kDay << int(SexFemale) << -1 << 1 << 2;
        QTest::newRow("men") << kDay << kDay << int(SexMale) << -1 << 3 << 2;
        QTest::newRow("under 20") << kDay << kDay << -1 << int(AgeUnder20) << 1 << 1;
        QTest::newRow("men 20-24") << kDay << kDay << int(SexMale) << int(Age20to24) << 2 << 1;
        QTest::newRow("women 20-24") << kDay << kDay << int(SexFemale) << int(Age20to24) << 0 << 0;
        QTest::newRow("day before to day after") << kDay.addDays(-1) << kDay.addDays(1) << -1 << -1 << 6 << 5;
        QTest::newRow("new year across years")
            << QDate(2023, 12, 31) << QDate(2024, 1, 2) << -1 << -1 << 2 << 0;
        QTest::newRow("nothing tested") << QDate(2024, 6, 1) << QDate(2024, 6, 30) << -1 << -1 << 0 << 0;
    }
    void filters()
    {
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(int, sex);
        QFETCH(int, age);
        QFETCH(int, fitness);
        QFETCH(int, bca);
        const GroupStatistics s = compute({from, to, sex, age});
        QCOMPARE(s.fitness.records, qint64(fitness));
        QCOMPARE(s.bca.records, qint64(bca));
        QCOMPARE(s.isEmpty(), fitness + bca == 0);
    }

    // Stored date texts and the day they name.
    void testDays_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("day");
        QTest::newRow("iso") << "2024-05-06" << kDay;
        QTest::newRow("no zeros") << "2024-5-6" << kDay;
        QTest::newRow("slashes and time") << "2024/05/06 09:30:00" << kDay;
        QTest::newRow("dots") << " 2024.5.06" << kDay;
        QTest::newRow("eight digits") << "20240506" << kDay;
        QTest::newRow("mixed separators") << "2024-05/06" << QDate();
        QTest::newRow("month 13") << "2024-13-01" << QDate();
        QTest::newRow("day first") << "06.05.2024" << QDate();
        QTest::newRow("three digit day") << "2024-05-061" << QDate();
        QTest::newRow("empty") << "" << QDate();
    }
    void testDays()
    {
        QFETCH(QString, text);
        QFETCH(QDate, day);
        QCOMPARE(parseTestDay(text), day);
    }

    // Normal-range sides at the edges of the reports' ranges (-1: no range).
    void rangeSides_data()
    {
        QTest::addColumn<int>("quantity");
        QTest::addColumn<bool>("male");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("side");
        QTest::newRow("man 170 weight 62.9") << int(BcaWeight) << true << 170.0 << 62.9 << int(RangeBelow);
        QTest::newRow("man 170 weight 77.0") << int(BcaWeight) << true << 170.0 << 77.0 << int(RangeWithin);
        QTest::newRow("woman 170 weight 71.6") << int(BcaWeight) << false << 170.0 << 71.6 << int(RangeAbove);
        QTest::newRow("weight without height") << int(BcaWeight) << true << 0.0 << 70.0 << -1;
        QTest::newRow("BMI 18.4") << int(BcaBmi) << true << 0.0 << 18.4 << int(RangeBelow);
        QTest::newRow("BMI 23.9") << int(BcaBmi) << false << 0.0 << 23.9 << int(RangeWithin);
        QTest::newRow("man body fat 10.0") << int(BcaPbf) << true << 170.0 << 10.0 << int(RangeWithin);
        QTest::newRow("woman body fat 28.1") << int(BcaPbf) << false << 160.0 << 28.1 << int(RangeAbove);
        QTest::newRow("man 170 SMM 41.0") << int(BcaSmm) << true << 170.0 << 41.0 << int(RangeWithin);
        QTest::newRow("man 170 SMM 41.1") << int(BcaSmm) << true << 170.0 << 41.1 << int(RangeAbove);
        QTest::newRow("visceral fat") << int(BcaVfi) << true << 170.0 << 10.0 << -1;
    }
    void rangeSides()
    {
        QFETCH(int, quantity);
        QFETCH(bool, male);
        QFETCH(double, height);
        QFETCH(double, value);
        QFETCH(int, side);
        QCOMPARE(bcaRangeSide(quantity, male, height, 70.0, value), side);
    }

    // CSV file read back by Python: the BOM, the header and every line; an
    // empty range gives the header alone, and its page says why.
    void csvAndPdf()
    {
        const GroupStatistics day = compute(dayFilter());
        const exchange::ExportResult written = exchange::writeStatsCsv(path("day.csv"), day);
        QVERIFY2(written.ok, qPrintable(written.error));
        QFile file(path("day.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(3) == QByteArray("\xEF\xBB\xBF"));
        QList<QStringList> expected = {exchange::statsCsvColumns()};
        expected << exchange::statsCsvRows(day);
        QCOMPARE(pythonRows(path("day.csv")), expected);
        QCOMPARE(written.lines, expected.size() - 1);

        QString error;
        QVERIFY2(writeStatisticsPdf(path("day.pdf"), day, &error), qPrintable(error));
        QCOMPARE(outputcheck::pdfPages(path("day.pdf")), 2);
        const QString text = outputcheck::pdfText(path("day.pdf"));
        for (const char *word : {"群体统计分析报告", "一、体质测试（4 人）", "二、体成分测试（4 人）",
                                 "握力(kg)", "41.3", "健康匀称型", "男 20-24岁", "第2页/共2页"})
            QVERIFY2(text.contains(QString::fromUtf8(word)), word);
        QVERIFY(!text.contains(outputcheck::radicals));

        const StatsFilter june{QDate(2024, 6, 1), QDate(2024, 6, 30), int(SexFemale), -1};
        const GroupStatistics none = compute(june);
        QVERIFY(exchange::writeStatsCsv(path("none.csv"), none).ok);
        QCOMPARE(pythonRows(path("none.csv")), QList<QStringList>{exchange::statsCsvColumns()});
        QVERIFY(writeStatisticsPdf(path("none.pdf"), none, &error));
        QCOMPARE(outputcheck::pdfPages(path("none.pdf")), 1);
        const QString sentence = emptyStatsSentence(june);
        QCOMPARE(
            sentence,
            QStringLiteral("2024-06-01 至 2024-06-30 没有符合条件的测试结果（性别：女，年龄组：全部）。"));
        QVERIFY(outputcheck::pdfText(path("none.pdf"))
                    .simplified()
                    .remove(' ')
                    .contains(QString(sentence).remove(' ')));

        // A folder that does not exist, a disk that fills up: no file, a reason.
        const exchange::ExportResult failed = exchange::writeStatsCsv(path("no/such/dir/x.csv"), day);
        QVERIFY(!failed.ok && !failed.error.isEmpty());
        QVERIFY(!writeStatisticsPdf(path("no/such/dir/x.pdf"), day, &error));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 2000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool csvWritten = exchange::writeStatsCsv(path("full.csv"), day).ok;
        const bool pdfWritten = writeStatisticsPdf(path("full.pdf"), none, &error);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!csvWritten && !QFile::exists(path("full.csv")));
        QVERIFY(!pdfWritten && !QFile::exists(path("full.pdf")));
    }

    // A long run reports its progress and can be cancelled.
    void progressAndCancel()
    {
        QSqlDatabase::database().transaction();
        for (int i = 0; i < 3000; ++i)
            outputcheck::insertRow(QStringLiteral("ResultFIT"), kFitColumns,
                                   {QStringLiteral("M%1").arg(i), "1", 1990, "2024-05-06", 170, 60, 40.0, 0,
                                    0, 0, 0, 0, 0, 0, 0, 0});
        QSqlDatabase::database().commit();
        QList<qint64> seen;
        StatsOutcome done = computeGroupStatistics(dayFilter(), [&seen](qint64 n, qint64 total) {
            seen << n << total;
            return true;
        });
        QVERIFY(done.ok);
        QCOMPARE(done.stats.fitness.records, qint64(3004));
        // The rows of 2024 are read: 3000 + 7 fitness, 5 body composition.
        QCOMPARE(seen, (QList<qint64>{1024, 3012, 2048, 3012, 3012, 3012}));
        const StatsOutcome cancelled =
            computeGroupStatistics(dayFilter(), [](qint64, qint64) { return false; });
        QVERIFY(cancelled.cancelled && !cancelled.ok);
    }

    // The dialog from the 测量结果 menu: statistics of the day, a group, the
    // three outputs, and an empty range.
    void dialog()
    {
        MainWindow window;
        QAction *action = nullptr;
        for (QAction *menu : window.menuBar()->actions()) {
            if (menu->text().contains(QStringLiteral("测量结果"))) {
                for (QAction *a : menu->menu()->actions())
                    action = a->text() == QStringLiteral("统计分析") ? a : action;
            }
        }
        QVERIFY(action);
        bool opened =
            testsupport::withModal([](QWidget *w) { return qobject_cast<StatsDlg *>(w) != nullptr; },
                                   [action] { action->trigger(); },
                                   [](QWidget *w) {
                                       auto *d = qobject_cast<StatsDlg *>(w);
                                       QCOMPARE(d->fromEdit()->date(), QDate::currentDate());
                                       QCOMPARE(d->toEdit()->date(), QDate::currentDate());
                                   });
        QVERIFY(opened);

        StatsDlg dlg;
        QVERIFY(!dlg.csvButton()->isEnabled());
        dlg.fromEdit()->setDate(kDay);
        dlg.toEdit()->setDate(kDay);
        dlg.runButton()->click();
        QCOMPARE(
            dlg.summaryLabel()->text(),
            QStringLiteral(
                "体质测试 4 人，体成分测试 4 人（2024-05-06 至 2024-05-06，性别：全部，年龄组：全部）。"));
        QCOMPARE(tableRow(dlg.fitnessTable(), 0),
                 QStringList({"BMI", "3", "23.6", "6.3", "20.0", "30.9", "2 (66.7%)", "0 (0.0%)", "0 (0.0%)",
                              "1 (33.3%)", "0"}));
        QCOMPARE(tableRow(dlg.bcaTable(), 2), QStringList({"体脂率(%)", "4", "21.5", "4.5", "17.9", "28",
                                                           "1 (25.0%)", "2 (50.0%)", "1 (25.0%)"}));
        QCOMPARE(tableRow(dlg.totalTable(), 0),
                 QStringList({"人数", "0", "1", "0", "1", "2", "0", "0", "0", "0", "0", "0"}));
        QStringList bodyTypes;
        for (int r = 0; r < dlg.bodyTypeTable()->rowCount(); ++r)
            bodyTypes << tableRow(dlg.bodyTypeTable(), r).join(QLatin1Char(' '));
        // R's word is none of the nine: the row "其他" counts it; S has none.
        QCOMPARE(bodyTypes,
                 QStringList({"肥胖型 1 33.3%", "超重型 0 0.0%", "运动员型 0 0.0%", "脂肪过多型 0 0.0%",
                              "健康匀称型 1 33.3%", "低脂肪型 0 0.0%", "隐性肥胖型 0 0.0%",
                              "肌肉不足型 0 0.0%", "消瘦型 0 0.0%", "其他 1 33.3%"}));
        QCOMPARE(dlg.groupTable()->rowCount(), 3);
        QCOMPARE(tableRow(dlg.groupTable(), 0),
                 QStringList({"男 20岁以下", "1", "18.0", "", "1", "80.0", "23.9", "20.1", "30.0", "12.0"}));

        dlg.groupBox()->setCurrentText(QStringLiteral("男 20-24岁"));
        QCOMPARE(tableRow(dlg.fitnessTable(), 1),
                 QStringList({"握力(kg)", "2", "45.0", "7.1", "40", "50", "0 (0.0%)", "1 (50.0%)", "0 (0.0%)",
                              "1 (50.0%)", "0"}));

        outputcheck::ModalWatcher watcher;
        dlg.presetFile(path("dlg.csv"));
        dlg.csvButton()->click();
        QCOMPARE(pythonRows(path("dlg.csv")).mid(1), exchange::statsCsvRows(dlg.statistics()));
        dlg.presetFile(path("dlg"));
        dlg.pdfButton()->click();
        QCOMPARE(outputcheck::pdfPages(path("dlg.pdf")), 2);
        dlg.presetPrintOutput(path("printed.pdf"));
        dlg.printButton()->click();
        QCOMPARE(outputcheck::pdfPages(path("printed.pdf")), 2);
        QCOMPARE(watcher.seen, QStringList({"导出数据成功|信息已保存在" + path("dlg.csv") + "！",
                                            "存为PDF文件|保存完毕：" + path("dlg.pdf")}));

        dlg.fromEdit()->setDate(QDate(2024, 6, 1));
        dlg.toEdit()->setDate(QDate(2024, 6, 30));
        dlg.runButton()->click();
        QCOMPARE(dlg.summaryLabel()->text(),
                 emptyStatsSentence({QDate(2024, 6, 1), QDate(2024, 6, 30), -1, -1}));
        QCOMPARE(dlg.fitnessTable()->rowCount(), 0);
        QCOMPARE(dlg.groupTable()->rowCount(), 0);

        dlg.toEdit()->setDate(QDate(2024, 5, 1));
        dlg.runButton()->click();
        QCOMPARE(watcher.seen.last(),
                 QStringLiteral("统计分析|开始日期 2024-06-01 晚于结束日期 2024-05-01。"));
    }

    // quelmar --stats as a scheduled job would run it.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says"); // on stdout for 0, on stderr otherwise
        QTest::newRow("csv") << QStringList{"--stats", "2024-05-06", "2024-05-06", "--out", "s.csv"} << 0
                             << "体质测试 4 人，体成分测试 4 人";
        QTest::newRow("pdf") << QStringList{"--stats", "2024-05-06", "2024-05-06", "--out=s.PDF"} << 0
                             << "(2 pages)";
        QTest::newRow("empty range") << QStringList{"--stats", "2024-06-01", "2024-06-30", "--out", "e.csv"}
                                     << 0 << "2024-06-01 至 2024-06-30 没有符合条件的测试结果";
        QTest::newRow("one date") << QStringList{"--stats", "2024-05-06", "--out", "s.csv"} << 2
                                  << "two dates";
        QTest::newRow("bad date") << QStringList{"--stats", "2024-02-30", "2024-05-06", "--out", "s.csv"} << 2
                                  << "yyyy-MM-dd";
        QTest::newRow("reversed") << QStringList{"--stats", "2024-05-07", "2024-05-06", "--out", "s.csv"} << 2
                                  << "晚于结束日期";
        QTest::newRow("no out") << QStringList{"--stats", "2024-05-06", "2024-05-06"} << 2 << "--out FILE";
        QTest::newRow("other suffix")
            << QStringList{"--stats", "2024-05-06", "2024-05-06", "--out", "s.txt"} << 2 << ".csv or .pdf";
        QTest::newRow("unwritable") << QStringList{"--stats", "2024-05-06", "2024-05-06", "--out",
                                                   "no/dir/s.csv"}
                                    << 1 << "failed";
        QTest::newRow("no database") << QStringList{"--stats", "2024-05-06", "2024-05-06", "--out", "s.csv"}
                                     << 1 << "does not exist";
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        QString dir = m_dir->path();
        if (QByteArray(QTest::currentDataTag()) == "no database") {
            dir = path("empty");
            QDir().mkpath(dir);
        }
        const outputcheck::Run run = outputcheck::run(outputcheck::program, args, dir);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((exitCode == 0 ? run.out : run.err).contains(says), qPrintable(run.out + run.err));
        QString out;
        for (int i = 0; i < args.size(); ++i)
            out = args.at(i) == "--out"             ? args.value(i + 1)
                  : args.at(i).startsWith("--out=") ? args.at(i).mid(6)
                                                    : out;
        if (exitCode != 0) {
            QVERIFY(out.isEmpty() || !QFile::exists(QDir(dir).filePath(out)));
        } else if (out.endsWith(".csv")) {
            QList<QStringList> expected = {exchange::statsCsvColumns()};
            expected << exchange::statsCsvRows(compute(
                {QDate::fromString(args.at(1), Qt::ISODate), QDate::fromString(args.at(2), Qt::ISODate)}));
            QCOMPARE(pythonRows(QDir(dir).filePath(out)), expected);
        } else {
            QCOMPARE(outputcheck::pdfPages(QDir(dir).filePath(out)), 2);
        }
    }
};

QTEST_MAIN(TestGroupStats)
#include "tst_groupstats.moc"
