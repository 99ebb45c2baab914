// Person history: the good/bad rule of a change, the change columns of a
// made-up series, fitness tests graded in the age group of their own date,
// the plot description (one point, two points on one day, a long series) and
// the plot built from it, the dialog from the registry and from a person's
// result list with its printed page, and --export-history as a real process.
#include "app/mainwindow.h"
#include "dialogs/historydlg.h"
#include "dialogs/resultlistdlg.h"
#include "people/personmodel.h"
#include "reports/historyplot.h"
#include "tests/outputcheck.h"

#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_intervalcurve.h>
#include <qwt_scale_div.h>

using namespace history;

namespace {
const char *verdictName(Verdict v)
{
    return v == Verdict::Good ? "good" : (v == Verdict::Bad ? "bad" : "none");
}

QString changeText(const Change &c)
{
    return c.valid ? formatChange(c) + QLatin1Char(' ') + QLatin1String(verdictName(c.verdict))
                   : QStringLiteral("-");
}

BcaTest bcaTest(int testId, const QString &date, std::array<double, MeasureCount> values)
{
    BcaTest t;
    t.testId = testId;
    t.dateText = date;
    t.when = parseTestDate(date);
    t.sex = QStringLiteral("1");
    t.height = 170; // weight range 63-77, skeletal muscle 33.6-41.1
    t.values = values;
    return t;
}

const qint64 kDayMs = 24LL * 3600 * 1000;

double msOf(const QString &iso)
{
    return double(QDateTime::fromString(iso, Qt::ISODate).toMSecsSinceEpoch());
}
} // namespace

class TestHistory : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir = QDir::currentPath();

    QString path(const QString &name) const { return m_dir->filePath(name); }

    // 张三 (U001, male, 1990, 170 cm): three body-composition tests and two
    // fitness tests; 李四 (U002) registered without any test.
    void insertPeople()
    {
        QVERIFY(testsupport::addPerson(QStringLiteral("U001"), QStringLiteral("张三"), QStringLiteral("1"),
                                       1990));
        QVERIFY(testsupport::addPerson(QStringLiteral("U002"), QStringLiteral("李四"), QStringLiteral("2"),
                                       1992));
        const QString columns =
            QStringLiteral("UID, Name, Sex, BirthYear, TestDate, Height, Weight, PBF, SMM, VFI, "
                           "BodyType");
        const QVariantList rows[] = {
            {"U001", "张三", "1", 1990, "2024-01-15", 170, 80.0, 24.0, 30.0, 11, "脂肪过多型"},
            {"U001", "张三", "1", 1990, "2024-04-15", 170, 82.5, 23.0, 31.0, 11, "脂肪过多型"},
            {"U001", "张三", "1", 1990, "2024-07-15", 170, 78.0, 21.5, 30.4, 9, "健康匀称型"},
        };
        for (const QVariantList &row : rows)
            QVERIFY(outputcheck::insertRow(QStringLiteral("Result"), columns, row) > 0);
        for (const char *date : {"2024-02-01", "2024-08-01"})
            QVERIFY(
                outputcheck::insertRow(QStringLiteral("ResultFIT"),
                                       QStringLiteral("UID, Name, Sex, BirthYear, TestDate, Height, Weight, "
                                                      "WOLI, FHL, FWC, TY"),
                                       {"U001", "张三", "1", 1990, date, 170, 80, 50, 4000, 25, 240}) > 0);
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(path(QStringLiteral("maindb.db"))));
    }
    void cleanup()
    {
        QDir::setCurrent(m_startDir);
        releaseProcessState();
    }

    // Weight and body fat: good towards their range, bad away from it, none
    // inside; skeletal muscle up is good; visceral fat up is bad. Values
    // count with one decimal, as shown.
    void verdictOfAChange_data()
    {
        QTest::addColumn<int>("measure");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QString>("verdict");
        const int w = int(Measure::Weight), f = int(Measure::BodyFat);
        const int s = int(Measure::SkeletalMuscle), v = int(Measure::VisceralFat);
        QTest::newRow("weight up above the range") << w << 80.0 << 82.0 << 63.0 << 77.0 << "bad";
        QTest::newRow("weight down above the range") << w << 80.0 << 78.0 << 63.0 << 77.0 << "good";
        QTest::newRow("weight up below the range") << w << 55.0 << 58.0 << 63.0 << 77.0 << "good";
        QTest::newRow("weight down below the range") << w << 58.0 << 55.0 << 63.0 << 77.0 << "bad";
        QTest::newRow("weight inside the range") << w << 65.0 << 70.0 << 63.0 << 77.0 << "none";
        QTest::newRow("weight from below to far above") << w << 60.0 << 82.0 << 63.0 << 77.0 << "bad";
        QTest::newRow("weight leaves at the upper edge") << w << 77.0 << 77.1 << 63.0 << 77.0 << "bad";
        QTest::newRow("weight enters at the lower edge") << w << 62.9 << 63.0 << 63.0 << 77.0 << "good";
        QTest::newRow("weight same to one decimal") << w << 80.0 << 80.04 << 63.0 << 77.0 << "none";
        QTest::newRow("weight without a range") << w << 80.0 << 82.0 << 0.0 << 0.0 << "none";
        QTest::newRow("body fat down above the range") << f << 22.0 << 21.0 << 10.0 << 20.0 << "good";
        QTest::newRow("body fat up below the range") << f << 8.0 << 9.0 << 10.0 << 20.0 << "good";
        QTest::newRow("body fat down below the range") << f << 9.0 << 8.0 << 10.0 << 20.0 << "bad";
        QTest::newRow("muscle up above its range") << s << 45.0 << 46.0 << 33.6 << 41.1 << "good";
        QTest::newRow("muscle down") << s << 31.0 << 30.0 << 33.6 << 41.1 << "bad";
        QTest::newRow("visceral fat up inside") << v << 3.0 << 4.0 << 1.0 << 9.0 << "bad";
        QTest::newRow("visceral fat down") << v << 11.0 << 10.0 << 1.0 << 9.0 << "good";
    }
    void verdictOfAChange()
    {
        QFETCH(int, measure);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QString, verdict);
        const Band band{high > 0, low, high};
        QCOMPARE(QString::fromLatin1(verdictName(judgeChange(Measure(measure), from, to, band))), verdict);
    }

    // A made-up series of a man of 170 cm: weight above its range, body fat
    // above, skeletal muscle below, visceral fat above. A test stored late
    // with an earlier date takes its place by date, an undated test stays
    // behind the test stored before it, and a value not measured (0) is
    // skipped by the change columns.
    void changeColumnsOfASeries()
    {
        QVector<BcaTest> tests = {
            bcaTest(1, QStringLiteral("2023-01-10"), {85.0, 25.0, 30.0, 12}),
            bcaTest(2, QStringLiteral("2023-07-10"), {80.0, 24.0, 31.0, 10}),
            bcaTest(3, QStringLiteral("2023-04-10 08:30"), {88.0, 24.0, 31.5, 12}),
            bcaTest(4, QStringLiteral("未记录"), {79.0, 0, 30.5, 10}),
            bcaTest(5, QStringLiteral("2023/10/1"), {76.0, 20.5, 32.0, 9}),
        };
        completeBcaSeries(tests);
        QStringList rows;
        for (const BcaTest &t : qAsConst(tests)) {
            QStringList cells{QString::number(t.testId)};
            for (int k = 0; k < MeasureCount; ++k)
                cells << changeText(t.sincePrevious[size_t(k)]) + QLatin1Char('/') +
                             changeText(t.sinceFirst[size_t(k)]);
            rows << cells.join(QStringLiteral(" | "));
        }
        const QStringList expected = {
            "1 | -/- | -/- | -/- | -/-",
            "3 | +3.0 bad/+3.0 bad | -1.0 good/-1.0 good | +1.5 good/+1.5 good | 0.0 none/0.0 none",
            "4 | -9.0 good/-6.0 good | -/- | -1.0 bad/+0.5 good | -2.0 good/-2.0 good",
            "2 | +1.0 bad/-5.0 good | 0.0 none/-1.0 good | +0.5 good/+1.0 good | 0.0 none/-2.0 good",
            "5 | -4.0 good/-9.0 good | -3.5 good/-4.5 good | +1.0 good/+2.0 good | -1.0 good/-3.0 good",
        };
        QCOMPARE(rows, expected);
        QCOMPARE(tests[0].bands[size_t(Measure::Weight)].low, 63.0);
        QCOMPARE(tests[0].bands[size_t(Measure::Weight)].high, 77.0);
    }

    // One man born 2001 with the same results on three test days, stored
    // out of date order: at 19 only BMI and the long jump are graded, at 20
    // the 20-24 norms apply, at 25 the 25-29 norms (push-ups 25: pass, then
    // good; grip 50: good, then pass).
    void fitnessGradedInTheAgeOfItsDate()
    {
        for (const char *date : {"2026-06-01", "2020-06-01", "2021-06-01"})
            QVERIFY(
                outputcheck::insertRow(QStringLiteral("ResultFIT"),
                                       QStringLiteral("UID, Name, Sex, BirthYear, TestDate, Height, Weight, "
                                                      "WOLI, FWC, TY"),
                                       {"U050", "周五十", "1", 2001, date, 180, 70, 50.0, 25, 255}) > 0);
        PersonHistory h;
        QString error;
        QVERIFY2(loadPersonHistory(QStringLiteral("U050"), &h, &error), qPrintable(error));
        QStringList rows;
        for (const FitnessTest &t : qAsConst(h.fitness))
            rows << QStringLiteral("%1 %2 %3 | %4 | %5 | %6 | %7")
                        .arg(t.record.testDate)
                        .arg(t.age)
                        .arg(t.assessment.total)
                        .arg(fitnessCell(t, reports::FitItem::BMI), fitnessCell(t, reports::FitItem::FWC),
                             fitnessCell(t, reports::FitItem::WOLI), fitnessCell(t, reports::FitItem::FHL));
        // Totals: 2 x (BMI 5 + long jump 4) at 19; the other items add 1 point
        // each when not measured (sit-ups, vital capacity, ...), 5 for a
        // reaction time of 0.
        const QStringList expected = {
            "2020-06-01 19 18 | 21.6 优秀 | 25 | 50 | —",
            "2021-06-01 20 54 | 21.6 优秀 | 25 及格 | 50 良好 | —",
            "2026-06-01 25 54 | 21.6 优秀 | 25 良好 | 50 及格 | —",
        };
        QCOMPARE(rows, expected);
        QVERIFY(h.person.name == QStringLiteral("周五十") && !h.person.registered);
    }

    // Plot descriptions: dates padded (at least 30 days shown), the band
    // stretched over the whole date range, every dated value a point.
    void plotDescription_data()
    {
        QTest::addColumn<int>("tests");
        QTest::addColumn<int>("daysApart");
        QTest::addColumn<double>("xMin");
        QTest::addColumn<double>("xMax");
        QTest::addColumn<int>("bandSamples");
        const double first = msOf(QStringLiteral("2024-03-10T12:00:00Z"));
        QTest::newRow("one point") << 1 << 0 << first - 15 * kDayMs << first + 15 * kDayMs << 3;
        QTest::newRow("two points on one day") << 2 << 0 << first - 15 * kDayMs << first + 15 * kDayMs << 4;
        const double span = 499.0 * 7 * kDayMs;
        QTest::newRow("500 weekly tests") << 500 << 7 << first - span * 0.05 << first + span * 1.05 << 502;
    }
    void plotDescription()
    {
        QFETCH(int, tests);
        QFETCH(int, daysApart);
        QFETCH(double, xMin);
        QFETCH(double, xMax);
        QFETCH(int, bandSamples);
        QVector<SeriesSample> samples;
        const QDateTime first(QDate(2024, 3, 10), QTime(12, 0), Qt::UTC);
        for (int i = 0; i < tests; ++i)
            samples.append({first.addDays(qint64(i) * daysApart), 70.0 + (i % 7), Band{true, 63, 77}});
        samples.append({QDateTime(), 99.0, Band{true, 63, 77}}); // undated: not drawn
        const PlotSpec spec = makePlotSpec(QStringLiteral("体重(kg)"), samples);
        QCOMPARE(spec.points.size(), tests);
        QCOMPARE(spec.xMin, xMin);
        QCOMPARE(spec.xMax, xMax);
        QCOMPARE(spec.band.size(), bandSamples);
        QCOMPARE(spec.band.first().x, xMin);
        QCOMPARE(spec.band.last().x, xMax);
        QVERIFY(spec.band.first().low == 63 && spec.band.last().high == 77);
        // Values 70..76 and the band 63..77: 8 % below, 22 % above for the labels.
        QCOMPARE(spec.yMin, 63 - 14 * 0.08);
        QCOMPARE(spec.yMax, 77 + 14 * 0.22);

        // The live plot built from the description shows the same.
        QwtPlot plot;
        setUpPlot(plot, spec, PlotTarget::Screen);
        plot.resize(600, 300);
        plot.replot();
        const QwtScaleDiv &x = plot.axisScaleDiv(QwtPlot::xBottom);
        QVERIFY(x.lowerBound() == xMin && x.upperBound() == xMax);
        const QwtPlotItemList curves = plot.itemList(QwtPlotItem::Rtti_PlotCurve);
        const QwtPlotItemList bands = plot.itemList(QwtPlotItem::Rtti_PlotIntervalCurve);
        QVERIFY(curves.size() == 1 && bands.size() == 1);
        QCOMPARE(int(static_cast<QwtPlotCurve *>(curves.first())->dataSize()), tests);
        QCOMPARE(int(static_cast<QwtPlotIntervalCurve *>(bands.first())->dataSize()), bandSamples);
    }

    // Labels: the newest and the oldest first, then from the newest back,
    // none overlapping another.
    void labelsDoNotOverlap()
    {
        const QVector<QRectF> boxes = {{0, 0, 20, 10},  {15, 0, 20, 10}, {30, 0, 20, 10},
                                       {60, 0, 20, 10}, {75, 5, 20, 10}, {90, 0, 20, 10}};
        QCOMPARE(chooseLabels(boxes), (QVector<int>{0, 2, 3, 5}));
        QCOMPARE(chooseLabels({{0, 0, 10, 10}}), QVector<int>{0});
        QCOMPARE(chooseLabels({{0, 0, 10, 10}, {0, 0, 10, 10}}), QVector<int>{1});
    }

    // The registry's button opens the history of the person shown, a
    // person's result list its own; the table shows values and coloured
    // changes, printing gives one page with the person on it. A person
    // without tests gets a sentence and nothing to print.
    void dialogFromRegistryAndResultList()
    {
        insertPeople();
        MainWindow window;
        const QString pdf = path(QStringLiteral("history.pdf"));
        auto isHistory = [](QWidget *d) { return qobject_cast<HistoryDlg *>(d) != nullptr; };
        QStringList seen;
        auto inspect = [&](QWidget *d) {
            auto *dialog = static_cast<HistoryDlg *>(d);
            if (dialog->emptyLabel()) {
                seen << dialog->emptyLabel()->text() + QString::number(dialog->printButton()->isEnabled());
                return;
            }
            QTableWidget *table = dialog->bcaTable();
            const int w = HistoryDlg::bcaValueColumn(Measure::Weight);
            QStringList row;
            for (int c = 0; c < table->columnCount(); ++c)
                row << table->item(2, c)->text();
            seen << row.join(QLatin1Char('|'));
            seen << table->item(2, w + 1)->foreground().color().name() +
                        table->item(1, w + 1)->foreground().color().name();
            seen << QString::number(dialog->fitnessTable()->rowCount());
            // Whole lines: the headers over the body-composition columns and
            // the newest fitness test.
            QStringList headers;
            for (int c = 0; c < table->columnCount(); ++c)
                headers << table->horizontalHeaderItem(c)->text();
            seen << headers.join(QLatin1Char('|'));
            QTableWidget *fit = dialog->fitnessTable();
            QStringList fitRow;
            for (int c = 0; c < fit->columnCount(); ++c)
                fitRow << fit->horizontalHeaderItem(c)->text() + QLatin1Char('=') +
                              (fit->item(fit->rowCount() - 1, c) ? fit->item(fit->rowCount() - 1, c)->text()
                                                                 : QString());
            seen << fitRow.join(QLatin1Char('|'));
            window.presetPrintOutput(pdf);
            dialog->printButton()->click();
        };
        QVERIFY(testsupport::withModal(
            [](QWidget *d) { return qobject_cast<PersonRegistryDlg *>(d) != nullptr; },
            [&] { window.usersList(); },
            [&](QWidget *d) {
                auto *registry = static_cast<PersonRegistryDlg *>(d);
                for (const char *uid : {"U001", "U002"}) {
                    const auto rows =
                        registry->model()->match(registry->model()->index(0, 2), Qt::DisplayRole,
                                                 QString::fromLatin1(uid), 1, Qt::MatchExactly);
                    QCOMPARE(rows.size(), 1);
                    registry->view()->setCurrentIndex(rows.first());
                    QCOMPARE(registry->uidEdit()->text(), QString::fromLatin1(uid));
                    auto *button = registry->findChild<QPushButton *>(QStringLiteral("historyButton"));
                    QVERIFY(testsupport::withModal(
                        isHistory, [button] { button->click(); }, inspect));
                }
            }));
        const QStringList expected = {
            "2024-07-15|3|78.0|-4.5|-2.0|21.5|-1.5|-2.5|30.4|-0.6|+0.4|9.0|-2.0|-2.0|健康匀称型",
            "#008000#c80000",
            "2",
            QStringLiteral("测试日期|测试编号|体重(kg)|较上次|较首次|体脂率(%)|较上次|较首次|") +
                "骨骼肌(kg)|较上次|较首次|内脏脂肪指数|较上次|较首次|体型",
            QStringLiteral("测试日期=2024-08-01|测试编号=2|年龄=34|总分=56|BMI=27.7 良好|") +
                "握力(公斤)=50 及格|肺活量=4000 良好|坐位体前屈=—|台阶指数=—|仰卧起坐=—|" +
                "选择反应时=—|俯卧撑=25 良好|闭眼单脚站=—|纵跳=—|立定跳远=240 及格",
            "该人员还没有体成分或体质测试记录，完成测试后即可在这里查看历史趋势。0"};
        QCOMPARE(seen, expected);
        QCOMPARE(outputcheck::pdfPages(pdf), 1);
        const QString text = outputcheck::pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("个人历史报告")) && text.contains(QStringLiteral("张三")),
                 qPrintable(text));

        // The person's result list offers the same dialog for its person.
        seen.clear();
        QFile::remove(pdf);
        QVERIFY(testsupport::withModal(
            [](QWidget *d) { return qobject_cast<ResultListDlg *>(d) != nullptr; },
            [&] { window.showPersonResults(QStringLiteral("U001"), QStringLiteral("张三")); },
            [&](QWidget *d) {
                QPushButton *button = static_cast<ResultListDlg *>(d)->historyButton();
                QVERIFY(button);
                QVERIFY(testsupport::withModal(
                    isHistory, [button] { button->click(); }, inspect));
            }));
        QCOMPARE(seen, expected.mid(0, 5));
        QCOMPARE(outputcheck::pdfPages(pdf), 1);
    }

    // The page written by a separate process: one opaque page for a person
    // with results; exit code 2 and no file for a person without any, a
    // user number nobody has, or no --out.
    void exportHistoryCommandLine_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("person with results") << "--export-history U001 --out h.pdf" << 0;
        QTest::newRow("registered, no result") << "--export-history U002 --out h.pdf" << 2;
        QTest::newRow("unknown user number") << "--export-history U404 --out h.pdf" << 2;
        QTest::newRow("no output file") << "--export-history U001" << 2;
    }
    void exportHistoryCommandLine()
    {
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        insertPeople();
        const outputcheck::Run run = outputcheck::run(outputcheck::program, args.split(' '), m_dir->path());
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        const QString pdf = path(QStringLiteral("h.pdf"));
        if (exitCode != 0) {
            QVERIFY(run.out.isEmpty() && !run.err.trimmed().isEmpty());
            QVERIFY(!QFile::exists(pdf));
            return;
        }
        QCOMPARE(run.out,
                 QStringLiteral("export-history: %1 (U001, 3 body-composition tests, 2 fitness tests)\n")
                     .arg(QFileInfo(pdf).absoluteFilePath()));
        QCOMPARE(outputcheck::pdfPages(pdf), 1);
        const QString text = outputcheck::pdfText(pdf);
        for (const char *word :
             {"个人历史报告", "张三", "U001", "体重(kg)", "体质总分", "2024-07-15", "健康匀称型"})
            QVERIFY2(text.contains(QString::fromUtf8(word)), word);
        QVERIFY(!text.contains(outputcheck::radicals));
        // No transparency: a print queue would turn the page into a bitmap.
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QRegularExpression alpha(QStringLiteral("/SMask \\d|/(ca|CA) 0\\."));
        QVERIFY(!alpha.match(QString::fromLatin1(bytes)).hasMatch());
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
