// Main window slots of the person history: the dialog "历史趋势" for the
// person in the registry form or in a person's result list, and printing and
// saving its page through the same printer choice and PDF writer as the reports.
#include "app/mainwindow.h"

#include "dialogs/historydlg.h"
#include "reports/historypage.h"
#include "reports/reportprint.h"

#include <QApplication>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>

void MainWindow::personHistory()
{
    qDebug() << "personHistory function";
    // A new entry not stored yet has no results of its own.
    const QString uid = m_registry && newFlag != 1 ? m_registry->uidEdit()->text() : QString();
    showPersonHistory(uid);
}

void MainWindow::showPersonHistory(const QString &uid)
{
    QWidget *parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : this;
    qDebug() << "showPersonHistory UID=" << uid;
    if (uid.trimmed().isEmpty()) {
        QMessageBox::warning(parent, tr("人员数据"), tr("您还没有选择人员！"), QMessageBox::Ok);
        return;
    }
    history::PersonHistory loaded;
    QString error;
    if (!history::loadPersonHistory(uid.trimmed(), &loaded, &error)) {
        QMessageBox::warning(parent, tr("历史趋势"), tr("读取测试记录失败：%1").arg(error));
        return;
    }
    HistoryDlg dialog(std::move(loaded), parent);
    connect(&dialog, &HistoryDlg::printRequested, this, [this, &dialog] { printHistory(dialog.history()); });
    connect(&dialog, &HistoryDlg::pdfRequested, this, [this, &dialog] { saveHistoryPdf(dialog.history()); });
    dialog.exec();
}

void MainWindow::printHistory(const history::PersonHistory &history)
{
    qDebug() << "printHistory function";
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(history::historyTitle(history.person));
    if (!choosePrinter(printer))
        return;
    const QString unitName = history::readUnitName();
    if (reports::printPages(printer, 1, [&](QPainter &painter, int) {
            history::paintHistoryPage(painter, history, unitName);
        }).failed) {
        QMessageBox::warning(QApplication::activeModalWidget(), tr("打印"),
                             tr("无法开始打印，请检查打印机或输出文件 %1。").arg(printer.outputFileName()));
    }
}

void MainWindow::saveHistoryPdf(const history::PersonHistory &history)
{
    qDebug() << "saveHistoryPdf function";
    QWidget *parent = QApplication::activeModalWidget();
    const QString suggested = QStringLiteral("../") + history::historyFileName(history.person);
    QString path = QFileDialog::getSaveFileName(parent, tr("PDF file"), suggested, tr("Files (*.pdf)"));
    if (path.isEmpty())
        return; // cancelled: nothing written, nothing to report
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QString error;
    if (!history::writeHistoryPdf(path, history, &error)) {
        QMessageBox::warning(parent, tr("存为PDF文件"), tr("PDF文件保存失败。\n%1").arg(error));
        return;
    }
    QMessageBox::information(parent, tr("存为PDF文件"), tr("保存完毕"));
}
