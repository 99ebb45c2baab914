// Report flows of the main window on a real SQLite file: batch ranges, the
// current-test print, the fitness preview guard, the PDF dialog, and the
// headless --export-pdf archive run as a separate process. Printed pages go
// to PDF files and are counted with pdfinfo.
#include "app/mainwindow.h"
#include "reports/paintarea.h"
#include "reports/pdfarchive.h"
#include "reports/reportprint.h"
#include "tests/outputcheck.h"

#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>

using outputcheck::pdfPages;
using outputcheck::pdfText;

class TestReportFlows : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir = QDir::currentPath();

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    // Fitness tests 42, 100 and 102 (no 101), body composition 100 and 102.
    // Every test at its best: 110 points for each of them.
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(path(QStringLiteral("maindb.db"))));
        const QString columns = QStringLiteral("TestID, UID, Name, Sex, BirthYear, TestDate, Height, Weight");
        for (QVariantList row :
             {QVariantList{42, "U042", "王四十二", "1", 2003}, QVariantList{100, "U100", "甲一百", "1", 2003},
              QVariantList{102, "U102", "乙/一:百", "2", 1985}}) {
            row << "2025-09-15" << 170 << 60;
            QCOMPARE(outputcheck::insertRow("ResultFIT",
                                            columns + ", WOLI, FHL, TQQ, TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY",
                                            row + QVariantList{60, 5000, 25, 70, 40, 300, 50, 120, 50, 280}),
                     row[0].toInt());
            QVERIFY(row[0] == 42 || outputcheck::insertRow("Result", columns, row) == row[0].toInt());
        }
    }
    void cleanup()
    {
        QDir::setCurrent(m_startDir);
        releaseProcessState();
    }

    // Ranges as typed ("first,last") with the pages printed (-1: nothing, no
    // file), the box shown ("title|text", empty for none) and the current test after
    // (the last record printed).
    void batchRange_data()
    {
        QTest::addColumn<QString>("range");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("currentAfter");
        const QString badRange = "打印起止测试编号|请输入有效的起止测试编号（从1开始的整数）。";
        QTest::newRow("105-103 prints nothing") << "105,103" << -1 << "" << 7;
        QTest::newRow("100-102 without 101")
            << "100,102" << 2 << "批量打印|已打印 2 份，缺少测试编号：101。" << 102;
        QTest::newRow("100-102 body composition")
            << "100,102" << 2 << "批量打印|已打印 2 份，缺少测试编号：101。" << 102;
        QTest::newRow("100-101 ends without a blank page")
            << "100,101" << 1 << "批量打印|已打印 1 份，缺少测试编号：101。" << 100;
        QTest::newRow("100-100 nothing missing") << "100,100" << 1 << "批量打印|已打印 1 份。" << 100;
        QTest::newRow("0-3 warns") << "0,3" << -1 << badRange << 7;
        QTest::newRow("not a number warns") << "abc,102" << -1 << badRange << 7;
        QTest::newRow("1-2000000000, past the last")
            << "1,2000000000" << 3 << "批量打印|已打印 3 份，缺少测试编号：1-41、43-99、101。" << 102;
        QTest::newRow("the whole number range")
            << "1,2147483647" << 4 << "批量打印|已打印 4 份，缺少测试编号：1-41、43-99、101、103-2147483646。"
            << 2147483647;
        QTest::newRow("no records") << "43,99" << -1 << "打印|所选范围内没有测试记录，未打印任何报告。" << 7;
    }
    void batchRange()
    {
        QFETCH(QString, range);
        QFETCH(int, pages);
        QFETCH(QString, box);
        QFETCH(int, currentAfter);
        MainWindow window;
        global::sheetTag =
            QTest::currentDataTag() == QByteArray("100-102 body composition") ? "TQ-40" : "FITreport";
        global::currentTestID = 7;
        window.presetPrintOutput(path(QStringLiteral("batch.pdf")));
        if (QTest::currentDataTag() == QByteArray("the whole number range"))
            QCOMPARE(outputcheck::insertRow("ResultFIT", "TestID, UID, Name", {2147483647, "U-MAX", "末"}),
                     2147483647);
        outputcheck::ModalWatcher watcher;
        window.printTestRange(range.section(',', 0, 0), range.section(',', 1));
        QCOMPARE(pdfPages(path(QStringLiteral("batch.pdf"))), pages);
        QCOMPARE(watcher.seen, box.isEmpty() ? QStringList() : QStringList{box});
        QVERIFY(global::printList.isEmpty());
        QCOMPARE(global::currentTestID, currentAfter);
        if (pages > 0) {
            const QString text = pdfText(path(QStringLiteral("batch.pdf")));
            QVERIFY(text.contains("U100/甲一百"));
            QCOMPARE(text.contains("U102/乙/一:百"), currentAfter >= 102);
            QCOMPARE(text.contains("U-MAX/末"), currentAfter == 2147483647);
        }
    }

    // A list of tests to print whose record went meanwhile (deleted while a
    // preview or a range was open): that number is reported missing and gets
    // no page, the others print, for both kinds of report.
    void vanishedRecordGetsNoPage()
    {
        for (const QString tag : {"FITreport", "TQ-40"}) {
            const QString pdf = path(tag + QStringLiteral(".pdf"));
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            const reports::PrintOutcome out = reports::printTestList(printer, tag, {102, 101, 100});
            QCOMPARE(QStringLiteral("%1 pages, missing %2").arg(out.pages).arg(out.missing.value(0)),
                     QStringLiteral("2 pages, missing 101"));
            QCOMPARE(pdfPages(pdf), 2);
        }
    }

    // Cancel in the progress dialog ends a run after the page being sent.
    void cancelEndsTheRunAfterTheCurrentPage()
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path(QStringLiteral("cancelled.pdf")));
        const reports::PrintOutcome outcome =
            reports::printTestList(printer, QStringLiteral("FITreport"), {42, 100, 101, 102},
                                   [](int done, int) { return done < 2; });
        QVERIFY(outcome.cancelled);
        QCOMPARE(outcome.pages, 2);
        QCOMPARE(pdfPages(path(QStringLiteral("cancelled.pdf"))), 2);
    }

    // The current-test print keeps the chosen test; a cancelled print dialog
    // prints nothing; a cancelled file dialog writes nothing and shows no box;
    // a PDF that cannot be written names its file and leaves nothing behind.
    void currentTestOutputs()
    {
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("work")));
        QDir::setCurrent(path(QStringLiteral("work")));
        MainWindow window;
        global::sheetTag = QStringLiteral("FITreport");
        global::currentTestID = 42;
        const QString pdf = path(QStringLiteral("one.pdf"));
        window.presetPrintOutput(pdf);
        window.printReportPic();
        QCOMPARE(global::currentTestID, 42);
        QVERIFY(global::printList.isEmpty());
        QCOMPARE(pdfPages(pdf), 1);
        QVERIFY(pdfText(pdf).contains(QStringLiteral("U042/王四十二")));
        QVERIFY(QFile::remove(pdf));
        window.presetPrintOutput(QString());
        window.printReportPic();
        QVERIFY(global::printList.isEmpty());

        outputcheck::ModalWatcher watcher;
        window.savePdf();
        QCOMPARE(watcher.seen, QStringList{QStringLiteral("存为PDF文件|QFileDialog")});
        QVERIFY(QDir(m_dir->path()).entryList({"*.pdf"}).isEmpty() && QDir().entryList({"*.pdf"}).isEmpty());

        const QString bad = path(QStringLiteral("no-such-folder/report.pdf"));
        QString error;
        QVERIFY(!reports::writeReportPdf(bad, QStringLiteral("FITreport"), 42, &error));
        QVERIFY2(error.contains(bad), qPrintable(error));
        QVERIFY(!QFile::exists(bad));
    }

    // A record is chosen once: the body-composition preview, its print, the
    // overlay print and the upload stay on the page's record when a fitness
    // row is chosen and when a new measurement is stored meanwhile.
    void outputsKeepTheChosenRecord()
    {
        MainWindow window;
        global::currentTestID = 100; // the list's "查看详情" puts 100 on the page
        window.displayData();
        window.fitTestIdEdit()->setText(QStringLiteral("42"));
        window.setCurrentDataFit(); // a fitness row chosen: shared state now 42 / FITreport
        QCOMPARE(global::currentTestID, 42);

        const QString printed = path(QStringLiteral("preview.pdf"));
        QStringList shown;
        QTimer::singleShot(50, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            auto *page = dialog ? dialog->findChild<PaintArea *>() : nullptr;
            if (page)
                shown << page->sheetTag() + QLatin1Char('|') + QString::number(page->testId());
            // A new measurement arrives while the preview is open.
            QCOMPARE(outputcheck::insertRow("Result", "TestID, UID, Name, Sex, BirthYear",
                                            {103, "U103", "丙新来", "2", 1990}),
                     103);
            global::currentTestID = 0;
            window.presetPrintOutput(printed);
            for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
                if (b->text() == QStringLiteral("打印"))
                    b->click();
            }
            dialog->reject();
        });
        window.viewReport();
        QCOMPARE(shown, QStringList{"TQ-40|100"});
        const QString text = pdfText(printed);
        QVERIFY2(text.contains("U100") && !text.contains("U103") && !text.contains("U042"), qPrintable(text));

        // Overlay printing after a fitness row is chosen again (shared state
        // 42 / FITreport): the settings' style, the page's record.
        window.setCurrentDataFit();
        QCOMPARE(global::currentTestID, 42);
        const QString overlay = path(QStringLiteral("overlay.pdf"));
        window.presetPrintOutput(overlay);
        window.printReport();
        QCOMPARE(pdfPages(overlay), 1);
        QCOMPARE(global::sheetTag, QStringLiteral("TQ-40"));
        QCOMPARE(global::currentTestID, 100);
        const QString overlayText = pdfText(overlay);
        QVERIFY2(overlayText.contains("U100") && !overlayText.contains("U042") &&
                     !overlayText.contains("U103"),
                 qPrintable(overlayText));
    }

    // The fitness preview warns without a chosen test and shows test 42.
    void fitnessPreviewNeedsATest()
    {
        MainWindow window;
        for (int testId : {0, 42}) {
            global::sheetTag = QStringLiteral("TQ-40");
            global::currentTestID = testId;
            outputcheck::ModalWatcher watcher;
            window.viewReportFit();
            QCOMPARE(watcher.seen,
                     QStringList{testId ? "机能评定报告|QDialog" : "选择测试记录|请先选择测试记录!"});
            QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
            QCOMPARE(global::currentTestID, testId);
        }
    }

    // Arguments, exit code, and the summary line after the files of 100 and 102.
    void exportPdfArchive_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("summary");
        // clang-format off
        QTest::newRow("fitness with holes") << "100-103 --out out --fitness" << 0 << "2 written, 2 missing: 101, 103";
        QTest::newRow("body composition") << "99-102 --out archive/bca" << 0 << "2 written, 2 missing: 99, 101";
        QTest::newRow("nothing in range") << "200-300 --out out --fitness" << 1 << "0 written, 101 missing: 200-300";
        // clang-format on
        QTest::newRow("reversed range") << "105-103 --out out" << 2 << "";
        QTest::newRow("zero first") << "0-3 --out out" << 2 << "";
        QTest::newRow("no folder") << "1-3" << 2 << "";
    }
    // Each existing test of the range in a one-page PDF whose title holds the
    // person's name and whose fitness report text holds name and total score.
    void exportPdfArchive()
    {
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QFETCH(QString, summary);
        const QStringList files =
            exitCode ? QStringList() : QStringList{"100_U100_甲一百.pdf", "102_U102_乙_一_百.pdf"};
        const outputcheck::Run run =
            outputcheck::run(outputcheck::program, ("--export-pdf " + args).split(' '), m_dir->path());
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        if (exitCode == 2) {
            QVERIFY(lines.isEmpty() && !run.err.trimmed().isEmpty());
            return;
        }
        const QString out = args.section(' ', 2, 2);
        QStringList expected;
        for (const QString &f : files)
            expected << QDir(out).filePath(f);
        QCOMPARE(lines, expected << summary);
        QCOMPARE(QDir(path(out)).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name), files);
        for (const QString &f : files) {
            const QString pdf = QDir(path(out)).filePath(f);
            const QString name =
                f.startsWith(QLatin1String("100")) ? QStringLiteral("甲一百") : QStringLiteral("乙/一:百");
            QCOMPARE(pdfPages(pdf), 1);
            QVERIFY(outputcheck::run(QStringLiteral("pdfinfo"), {pdf}).out.contains(name)); // the title
            if (!args.endsWith(QLatin1String("--fitness")))
                continue;
            const QString text = pdfText(pdf);
            QVERIFY2(text.contains(name) && !text.contains(outputcheck::radicals), qPrintable(text));
            // The total after the form's caption.
            QVERIFY2(text.contains(QRegularExpression(QStringLiteral("总分\\s+110(\\s|$)"))),
                     qPrintable(text));
        }
    }

    // Archive file names stay within 200 bytes of UTF-8, cut between characters.
    void archiveFileNames_data()
    {
        QTest::addColumn<int>("testId");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        const QString smile = QStringLiteral("😀");
        QTest::newRow("short") << 100 << "U100"
                               << "甲一百"
                               << "100_U100_甲一百.pdf";
        QTest::newRow("70 CJK characters") << 7 << "13812345678" << QString(70, QChar(0x963F))
                                           << "7_13812345678_" + QString(60, QChar(0x963F)) + ".pdf";
        QTest::newRow("characters of two UTF-16 units")
            << 8 << "U8"
            << "a" + smile.repeated(100) << "8_U8_a" + smile.repeated(47) + ".pdf";
        QTest::newRow("long user number") << 9 << QString(100, '1') << "名"
                                          << "9_" + QString(64, '1') + "_名.pdf";
        QTest::newRow("half a character, separators") << 10 << "a/b" << QString(QChar(0xD800)) + "/名"
                                                      << "10_a_b___名.pdf";
    }
    void archiveFileNames()
    {
        QFETCH(int, testId);
        QFETCH(QString, uid);
        QFETCH(QString, name);
        QFETCH(QString, file);
        const QString made = reports::archiveFileName(testId, uid, name);
        QCOMPARE(made, file);
        QVERIFY(made.toUtf8().size() <= 200);
    }

    // A record whose file cannot be written is reported and the run goes on;
    // a name too long for the file system is cut and written. The same
    // output whether one process writes every file or workers share them
    // (with three, the failure falls to the last worker).
    void exportPdfArchiveGoesOnAfterAFailure_data()
    {
        QTest::addColumn<QString>("jobs");
        QTest::newRow("one process") << "1";
        QTest::newRow("two processes") << "2";
        QTest::newRow("three processes") << "3";
    }
    void exportPdfArchiveGoesOnAfterAFailure()
    {
        QFETCH(QString, jobs);
        const QString longName(70, QChar(0x963F));
        for (const QVariantList &row :
             {QVariantList{103, "13812345678", longName}, QVariantList{104, "U104", "丁"}})
            QCOMPARE(outputcheck::insertRow("ResultFIT", "TestID, UID, Name, Sex, BirthYear, TestDate",
                                            row + QVariantList{"1", 1990, "2025-09-15"}),
                     row[0].toInt());
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("out/104_U104_丁.pdf"))); // a folder in the way
        const outputcheck::Run run = outputcheck::run(
            outputcheck::program,
            QString("--export-pdf 100-104 --out out --fitness --jobs " + jobs).split(' '), m_dir->path());
        QCOMPARE(run.exitCode, 1);
        const QString cut = "out/103_13812345678_" + QString(60, QChar(0x963F)) + ".pdf";
        QCOMPARE(run.out.split('\n', Qt::SkipEmptyParts),
                 (QStringList{"out/100_U100_甲一百.pdf", "out/102_U102_乙_一_百.pdf", cut,
                              "3 written, 1 missing: 101; 1 failed: 104"}));
        QVERIFY2(run.err.contains(QStringLiteral("test 104: ")) &&
                     run.err.contains(QStringLiteral("已有同名的文件夹")),
                 qPrintable(run.err));
        QCOMPARE(pdfPages(path(cut)), 1);
    }
};

QTEST_MAIN(TestReportFlows)
#include "tst_reportflows.moc"
