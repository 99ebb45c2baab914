// Main window slots of the reports subsystem: the report previews, printing
// (one record, the previewed record, a range of test numbers) and saving the
// previewed report as PDF. Pages come from the shared page painter.
#include "app/globals.h"
#include "app/mainwindow.h"
#include "exchange/errortext.h"
#include "reports/layout.h"
#include "reports/paintarea.h"
#include "reports/reportprint.h"

#include <QDebug>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QVariant>

#include <memory>

namespace {
// Batch runs longer than this show a progress dialog with a cancel button.
constexpr int kProgressThreshold = 3;
} // namespace

void MainWindow::readSelectedSheet()
{
    global::sheetTag = reports::readSelectedSheetTag();
}

bool MainWindow::choosePrinter(QPrinter &printer)
{
    printer.setPageSize(QPageSize(QPageSize::A4));
    if (m_hasPresetPrintOutput) {
        m_hasPresetPrintOutput = false;
        if (m_presetPrintOutput.isEmpty())
            return false;
        printer.setOutputFileName(m_presetPrintOutput);
        printer.setOutputFormat(QPrinter::PdfFormat);
        return true;
    }
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
}

void MainWindow::runReportPreview(const QString &title, const QString &sheetTag, int testId)
{
    // The record is chosen once, here: the page, its print and its PDF stay on
    // it whatever is stored while the preview is open.
    testId = reports::resolveTestId(sheetTag, testId);
    qDebug() << "preview of test" << testId << "sheet" << sheetTag;
    QDialog dialog(this);
    dialog.setWindowTitle(title);
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    dialog.resize(1000, 700);
    auto *grid = new QGridLayout(&dialog);
    auto *scroll = new QScrollArea(&dialog);
    scroll->setWidget(new PaintArea(sheetTag, testId));
    scroll->setAlignment(Qt::AlignHCenter);
    grid->addWidget(scroll, 0, 0, 1, 6);
    auto *pdfButton = new QPushButton(tr("存为PDF文件"), &dialog);
    auto *printButton = new QPushButton(tr("打印"), &dialog);
    grid->addWidget(pdfButton, 1, 2);
    grid->addWidget(printButton, 1, 3);
    connect(pdfButton, &QPushButton::clicked, &dialog,
            [this, sheetTag, testId] { saveReportPdf(sheetTag, testId); });
    connect(printButton, &QPushButton::clicked, &dialog,
            [this, sheetTag, testId] { printReports(sheetTag, {testId}); });
    dialog.exec();
}

void MainWindow::viewReport()
{
    qDebug() << "viewReport function";
    readSelectedSheet();
    // The record of the body-composition page, not whatever another page chose.
    runReportPreview(tr("体成分分析报告"), global::sheetTag, m_bcaPageTestId);
}

void MainWindow::viewReportFit()
{
    qDebug() << "viewReportFit function";
    global::sheetTag = QStringLiteral("FITreport");
    qDebug() << "selected testID=" << global::currentTestID;
    if (global::currentTestID == 0) {
        QMessageBox::warning(this, tr("选择测试记录"), tr("请先选择测试记录!"));
        return;
    }
    runReportPreview(tr("机能评定报告"), global::sheetTag, global::currentTestID);
}

void MainWindow::printReportPic()
{
    qDebug() << "printReportPic function";
    global::printList = {0};
    printReportWithPic();
}

void MainWindow::printReportWithPic()
{
    qDebug() << "printReportWithPic function ";
    const QList<int> list = global::printList;
    global::printList.clear();
    // A list of test numbers is a batch run; {0} is the current test.
    printReports(global::sheetTag, list, !list.isEmpty() && list.first() != 0);
}

void MainWindow::printReports(const QString &sheetTag, const QList<int> &list, bool batch,
                              const reports::NumberRuns &missing)
{
    qDebug() << "sheetTag received is: " << sheetTag;
    QPrinter printer(QPrinter::HighResolution);
    if (list.isEmpty() || !choosePrinter(printer))
        return;

    // A long run shows its progress; cancel ends it after the page being sent.
    std::unique_ptr<QProgressDialog> progress;
    if (list.size() > kProgressThreshold) {
        progress = std::make_unique<QProgressDialog>(tr("正在打印报告..."), tr("取消"), 0, list.size(), this);
        progress->setWindowTitle(tr("批量打印"));
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(300);
    }
    const reports::PrintOutcome outcome =
        reports::printTestList(printer, sheetTag, list, [&progress](int done, int total) {
            if (!progress)
                return true;
            progress->setValue(done);
            progress->setLabelText(tr("正在打印报告 %1 / %2").arg(done).arg(total));
            return !progress->wasCanceled();
        });
    progress.reset();

    if (outcome.failed) {
        QMessageBox::warning(
            this, tr("打印"),
            outcome.error.isEmpty()
                ? tr("无法开始打印，请检查打印机或输出文件 %1。").arg(printer.outputFileName())
                : tr("报告没有保存。\n%1").arg(outcome.error));
    } else if (outcome.pages == 0 && batch) {
        QMessageBox::information(this, tr("打印"), tr("所选范围内没有测试记录，未打印任何报告。"));
    } else if (batch) {
        // A batch run ends with what was printed and which numbers had no record.
        QMessageBox::information(this, tr("批量打印"), reports::batchPrintSummary(outcome, missing));
    } else if (outcome.cancelled) {
        QMessageBox::information(this, tr("打印"), tr("打印已取消，已发送 %1 页。").arg(outcome.pages));
    }
}

void MainWindow::printReportFit()
{
    qDebug() << "printReport Fit function";
    global::sheetTag = QStringLiteral("FITreport");
    global::printList = {0};
    printReportWithPic();
}

void MainWindow::printTestRange(const QString &firstText, const QString &lastText)
{
    global::printList.clear();
    qDebug() << "printList at first= " << global::printList;
    int first = 0;
    int last = 0;
    if (!reports::readPrintRange(firstText, lastText, &first, &last)) {
        QMessageBox::warning(this, tr("打印起止测试编号"), tr("请输入有效的起止测试编号（从1开始的整数）。"));
        return;
    }
    // Only the test numbers with a record: a range such as 1-2147483647 is
    // as cheap as the records in it.
    QString error;
    if (!reports::existingTests(global::sheetTag, first, last, &global::printList, &error)) {
        QMessageBox::warning(this, tr("打印起止测试编号"), tr("无法读取测试记录：%1").arg(error));
        return;
    }
    qDebug() << "printList= " << global::printList;
    if (global::printList.isEmpty() && first <= last)
        QMessageBox::information(this, tr("打印"), tr("所选范围内没有测试记录，未打印任何报告。"));
    else if (!global::printList.isEmpty())
        // Numbers above the greatest test number are not missing, just not yet used.
        printReports(global::sheetTag, global::printList, true,
                     reports::missingRuns(first,
                                          qMin<qint64>(last, reports::resolveTestId(global::sheetTag, 0)),
                                          global::printList));
    global::printList.clear();
}

void MainWindow::printAllReport()
{
    qDebug() << "printAllReport function";
    readSelectedSheet();
    printTestRange(m_openList ? m_openList->printStartEdit()->text() : QString(),
                   m_openList ? m_openList->printEndEdit()->text() : QString());
}

void MainWindow::printAllReportFit()
{
    qDebug() << "printAllReportFit function";
    global::sheetTag = QStringLiteral("FITreport");
    qDebug() << "global::sheetTag =" << global::sheetTag;
    printTestRange(m_openList ? m_openList->printStartEdit()->text() : QString(),
                   m_openList ? m_openList->printEndEdit()->text() : QString());
}

void MainWindow::savePdf()
{
    qDebug() << "savePdf function";
    saveReportPdf(global::sheetTag, global::currentTestID);
}

void MainWindow::saveReportPdf(const QString &sheetTag, int testId)
{
    QString path =
        QFileDialog::getSaveFileName(this, tr("存为PDF文件"), QStringLiteral("../"), tr("PDF文件 (*.pdf)"));
    if (path.isEmpty())
        return; // cancelled: nothing written, nothing to report
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QString error;
    if (!reports::writeReportPdf(path, sheetTag, testId, &error)) {
        QMessageBox::warning(this, tr("存为PDF文件"),
                             tr("PDF文件保存失败。\n%1").arg(exchange::systemErrorText(error)));
        return;
    }
    QMessageBox::information(this, tr("存为PDF文件"), tr("保存完毕"));
}
