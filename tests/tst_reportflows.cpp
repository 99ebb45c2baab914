// Report flows of the main window on a real SQLite file: batch ranges, the
// current-test print, the fitness preview guard, the PDF dialog, and the
// headless --export-pdf archive run as a separate process. Printed pages go
// to PDF files and are counted with pdfinfo.
#include "app/mainwindow.h"
#include "reports/paintarea.h"
#include "reports/reportprint.h"
#include "testsupport.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// Closes whatever modal window comes up while it lives: message boxes are
// accepted, other dialogs rejected; each is remembered as "title|text".
class ModalWatcher : public QObject
{
public:
    ModalWatcher()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || qobject_cast<QProgressDialog *>(w))
                return;
            if (auto *box = qobject_cast<QMessageBox *>(w)) {
                seen << box->windowTitle() + QLatin1Char('|') + box->text();
                box->accept();
            } else if (auto *dialog = qobject_cast<QDialog *>(w)) {
                seen << dialog->windowTitle() + QLatin1Char('|') +
                            QLatin1String(dialog->metaObject()->className());
                if (!dialog->findChild<PaintArea *>() && !qobject_cast<QFileDialog *>(dialog))
                    seen << QStringLiteral("unexpected dialog");
                dialog->reject();
            }
        });
        m_timer.start();
    }
    QStringList seen;

private:
    QTimer m_timer;
};

bool insertFit(int testId, const QString &uid, const QString &name, const QString &sex, int age)
{
    // Every test at its best for a man of 22: 110 points.
    QSqlQuery q;
    q.prepare(
        QStringLiteral("INSERT INTO ResultFIT (TestID, UID, Name, Sex, BirthYear, TestDate, Height, Weight, "
                       "WOLI, FHL, TQQ, TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY) "
                       "VALUES (?, ?, ?, ?, ?, ?, 170, 60, 60, 5000, 25, 70, 40, 300, 50, 120, 50, 280)"));
    const int year = 2025;
    for (const QVariant &v : {QVariant(testId), QVariant(uid), QVariant(name), QVariant(sex),
                              QVariant(year - age), QVariant(QStringLiteral("2025-09-15"))})
        q.addBindValue(v);
    return q.exec();
}

bool insertResult(int testId, const QString &uid, const QString &name)
{
    QSqlQuery q;
    q.prepare(
        QStringLiteral("INSERT INTO Result (TestID, UID, Name, Sex, BirthYear, TestDate, Height, Weight) "
                       "VALUES (?, ?, ?, '1', 1990, '2025-09-15', 175, 70)"));
    q.addBindValue(testId);
    q.addBindValue(uid);
    q.addBindValue(name);
    return q.exec();
}

QString runTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Pages of a PDF file (pdfinfo), -1 when there is no readable file.
int pdfPages(const QString &path)
{
    if (!QFile::exists(path))
        return -1;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                          .match(runTool(QStringLiteral("pdfinfo"), {path}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString pdfText(const QString &path)
{
    return runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
}

bool hasRadicalLookalikes(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x2E80 && c.unicode() <= 0x2FDF)
            return true;
    }
    return false;
}

} // namespace

class TestReportFlows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void batchRange_data();
    void batchRange();
    void printReportPicKeepsTheChosenTest();
    void cancelEndsTheRunAfterTheCurrentPage();
    void fitnessPreviewNeedsATest_data();
    void fitnessPreviewNeedsATest();
    void cancelledPdfDialogWritesNothing();
    void pdfWriteFailureNamesTheFile();
    void exportPdfArchive_data();
    void exportPdfArchive();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir;
};

void TestReportFlows::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
    m_startDir = QDir::currentPath();
}

void TestReportFlows::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestReportFlows::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    QVERIFY(insertFit(42, QStringLiteral("U042"), QStringLiteral("王四十二"), QStringLiteral("1"), 22));
    QVERIFY(insertFit(100, QStringLiteral("U100"), QStringLiteral("甲一百"), QStringLiteral("1"), 22));
    QVERIFY(insertFit(102, QStringLiteral("U102"), QStringLiteral("乙/一:百"), QStringLiteral("2"), 40));
    QVERIFY(insertResult(100, QStringLiteral("U100"), QStringLiteral("甲一百")));
    QVERIFY(insertResult(102, QStringLiteral("U102"), QStringLiteral("乙/一:百")));
    g_log.clear();
}

void TestReportFlows::cleanup()
{
    QDir::setCurrent(m_startDir);
    releaseProcessState();
}

void TestReportFlows::batchRange_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("pages"); // -1: nothing printed, no file
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("currentAfter");

    const QString fit = QStringLiteral("FITreport");
    const QString bca = QStringLiteral("TQ-40");
    const QString badRange = QStringLiteral("打印起止测试编号|请输入有效的起止测试编号（从1开始的整数）。");
    QTest::newRow("105-103 prints nothing") << fit << "105"
                                            << "103" << -1 << "" << 7;
    QTest::newRow("100-102 without 101") << fit << "100"
                                         << "102" << 2 << "" << 102;
    QTest::newRow("100-101 ends without a blank page") << fit << "100"
                                                       << "101" << 1 << "" << 101;
    QTest::newRow("100-102 body composition") << bca << "100"
                                              << "102" << 2 << "" << 102;
    QTest::newRow("0-3 warns") << fit << "0"
                               << "3" << -1 << badRange << 7;
    QTest::newRow("not a number warns") << fit << "abc"
                                        << "102" << -1 << badRange << 7;
    QTest::newRow("empty last warns") << fit << "100"
                                      << "" << -1 << badRange << 7;
    QTest::newRow("1-102 with progress") << fit << "1"
                                         << "102" << 3 << "" << 102;
    QTest::newRow("range past the last test") << fit << "100"
                                              << "2000000000" << 2 << "" << 102;
    QTest::newRow("range without records")
        << fit << "43"
        << "99" << -1 << "打印|所选范围内没有测试记录，未打印任何报告。" << 99;
}

void TestReportFlows::batchRange()
{
    QFETCH(QString, sheet);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(int, pages);
    QFETCH(QString, box);
    QFETCH(int, currentAfter);

    MainWindow window;
    global::sheetTag = sheet;
    global::currentTestID = 7;
    const QString pdf = m_dir->filePath(QStringLiteral("batch.pdf"));
    window.presetPrintOutput(pdf);
    ModalWatcher watcher;
    window.printTestRange(first, last);

    QCOMPARE(pdfPages(pdf), pages);
    QCOMPARE(watcher.seen, box.isEmpty() ? QStringList() : QStringList{box});
    QVERIFY(global::printList.isEmpty());
    QCOMPARE(global::currentTestID, currentAfter);
    if (sheet == QLatin1String("FITreport") && pages > 0) {
        const QString text = pdfText(pdf);
        QVERIFY(text.contains(QStringLiteral("U100/甲一百")));
        QCOMPARE(text.contains(QStringLiteral("U102/乙/一:百")), currentAfter == 102);
    }
}

void TestReportFlows::printReportPicKeepsTheChosenTest()
{
    MainWindow window;
    global::sheetTag = QStringLiteral("FITreport");
    global::currentTestID = 42;
    const QString pdf = m_dir->filePath(QStringLiteral("one.pdf"));
    window.presetPrintOutput(pdf);
    window.printReportPic();
    QCOMPARE(global::currentTestID, 42);
    QVERIFY(global::printList.isEmpty());
    QCOMPARE(pdfPages(pdf), 1);
    QVERIFY(pdfText(pdf).contains(QStringLiteral("U042/王四十二")));
    QVERIFY(g_log.contains(QStringLiteral("printItem=  0")));

    // A cancelled print dialog prints nothing.
    window.presetPrintOutput(QString());
    QFile::remove(pdf);
    window.printReportPic();
    QCOMPARE(pdfPages(pdf), -1);
    QVERIFY(global::printList.isEmpty());
}

void TestReportFlows::cancelEndsTheRunAfterTheCurrentPage()
{
    const QString pdf = m_dir->filePath(QStringLiteral("cancelled.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    QList<int> seen;
    // The operator cancels while the second page is being sent.
    const reports::PrintOutcome outcome = reports::printTestList(printer, QStringLiteral("FITreport"),
                                                                 {42, 100, 101, 102}, [&seen](int done, int) {
                                                                     seen << done;
                                                                     return done < 2;
                                                                 });
    QVERIFY(outcome.cancelled);
    QCOMPARE(outcome.pages, 2);
    QCOMPARE(seen, (QList<int>{0, 1, 2}));
    QCOMPARE(pdfPages(pdf), 2);
    QCOMPARE(global::currentTestID, 100);
}

void TestReportFlows::fitnessPreviewNeedsATest_data()
{
    QTest::addColumn<int>("testId");
    QTest::addColumn<QString>("seen");
    QTest::newRow("no test chosen") << 0 << "选择测试记录|请先选择测试记录!";
    QTest::newRow("test 42") << 42 << "机能评定报告|QDialog";
}

void TestReportFlows::fitnessPreviewNeedsATest()
{
    QFETCH(int, testId);
    QFETCH(QString, seen);
    MainWindow window;
    global::sheetTag = QStringLiteral("TQ-40");
    global::currentTestID = testId;
    ModalWatcher watcher;
    window.viewReportFit();
    QCOMPARE(watcher.seen, QStringList{seen});
    QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
    QCOMPARE(global::currentTestID, testId);
}

void TestReportFlows::cancelledPdfDialogWritesNothing()
{
    QDir(m_dir->path()).mkpath(QStringLiteral("work"));
    QDir::setCurrent(m_dir->filePath(QStringLiteral("work")));
    MainWindow window;
    global::sheetTag = QStringLiteral("FITreport");
    global::currentTestID = 42;
    ModalWatcher watcher;
    window.savePdf();
    QCOMPARE(watcher.seen, QStringList{QStringLiteral("PDF file|QFileDialog")});
    QDirIterator it(m_dir->path(), {QStringLiteral("*.pdf")}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(!it.hasNext());
}

void TestReportFlows::pdfWriteFailureNamesTheFile()
{
    const QString path = m_dir->filePath(QStringLiteral("no-such-folder/report.pdf"));
    QString error;
    QVERIFY(!reports::writeReportPdf(path, QStringLiteral("FITreport"), 42, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY(!QFile::exists(path));

    QVERIFY(reports::writeReportPdf(m_dir->filePath(QStringLiteral("ok.pdf")), QStringLiteral("FITreport"),
                                    42, &error));
    QCOMPARE(pdfPages(m_dir->filePath(QStringLiteral("ok.pdf"))), 1);
}

void TestReportFlows::exportPdfArchive_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("summary");

    QTest::newRow("fitness with holes")
        << QStringList{"--export-pdf", "100-103", "--out", "out", "--fitness"} << 0
        << QStringList{"100_U100_甲一百.pdf", "102_U102_乙_一_百.pdf"} << "2 written, 2 missing: 101, 103";
    QTest::newRow("body composition")
        << QStringList{"--export-pdf", "99-102", "--out", "archive/bca"} << 0
        << QStringList{"100_U100_甲一百.pdf", "102_U102_乙_一_百.pdf"} << "2 written, 2 missing: 99, 101";
    QTest::newRow("one number") << QStringList{"--export-pdf", "42", "--out", "out", "--fitness"} << 0
                                << QStringList{"42_U042_王四十二.pdf"} << "1 written, 0 missing";
    QTest::newRow("nothing in range") << QStringList{"--export-pdf", "200-300", "--out", "out", "--fitness"}
                                      << 1 << QStringList{} << "0 written, 101 missing: 200-300";
    QTest::newRow("reversed range") << QStringList{"--export-pdf", "105-103", "--out", "out"} << 2
                                    << QStringList{} << "";
    QTest::newRow("zero first") << QStringList{"--export-pdf", "0-3", "--out", "out"} << 2 << QStringList{}
                                << "";
    QTest::newRow("no folder") << QStringList{"--export-pdf", "1-3"} << 2 << QStringList{} << "";
    QTest::newRow("folder under a file")
        << QStringList{"--export-pdf", "100-102", "--out", "maindb.db/out"} << 2 << QStringList{} << "";
}

void TestReportFlows::exportPdfArchive()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, files);
    QFETCH(QString, summary);

    QProcess run;
    run.setWorkingDirectory(m_dir->path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY")); // no display, no platform chosen: the program picks its own
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar"), args);
    QVERIFY(run.waitForFinished(60000));
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.exitCode() == exitCode, qPrintable(err));

    const QStringList lines = QString::fromUtf8(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    if (exitCode == 2) {
        QVERIFY(lines.isEmpty());
        QVERIFY(!err.trimmed().isEmpty());
        return;
    }
    const QString outDir = m_dir->filePath(args.at(args.indexOf(QStringLiteral("--out")) + 1));
    QStringList expectedLines;
    for (const QString &f : files)
        expectedLines << QDir(args.at(args.indexOf(QStringLiteral("--out")) + 1)).filePath(f);
    expectedLines << summary;
    QCOMPARE(lines, expectedLines);
    QCOMPARE(QDir(outDir).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name), files);

    const bool fitness = args.contains(QStringLiteral("--fitness"));
    for (const QString &f : files) {
        const QString path = QDir(outDir).filePath(f);
        QCOMPARE(pdfPages(path), 1);
        const QString name = f.section(QLatin1Char('_'), 0, 0) == QLatin1String("102")
                                 ? QStringLiteral("乙/一:百")
                             : f.startsWith(QLatin1String("42_")) ? QStringLiteral("王四十二")
                                                                  : QStringLiteral("甲一百");
        QVERIFY2(runTool(QStringLiteral("pdfinfo"), {path}).contains(name), qPrintable(path));
        if (fitness) {
            const QString text = pdfText(path);
            QVERIFY2(text.contains(name), qPrintable(text));
            QVERIFY(!hasRadicalLookalikes(text));
            // The 22-year-old men have every test at its best.
            if (!f.startsWith(QLatin1String("102_")))
                QVERIFY2(text.split('\n').contains(QStringLiteral("110")), qPrintable(text));
        }
    }
}

QTEST_MAIN(TestReportFlows)
#include "tst_reportflows.moc"
