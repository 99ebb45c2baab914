// Main window slots of the result lists: they open the body-composition,
// fitness and person result dialogs (ResultListDlg) and act on the one that
// is open: search, selection, deletion, upload and print buttons. Queries
// and deletions live in people/resultlists.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "people/resultlists.h"
#include "people/resultmodels.h"

#include <QDataWidgetMapper>
#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

namespace {
bool requireChosenTest(QWidget *parent, int testId = global::currentTestID)
{
    if (testId != 0)
        return true;
    QMessageBox::warning(parent, MainWindow::tr("选择测试记录"), MainWindow::tr("请先选择测试记录!"));
    return false;
}
} // namespace

void MainWindow::dataList()
{
    qDebug() << "dataList function";
    ResultListDlg dialog(ResultListDlg::Kind::Results, tr("全部体成分测试数据列表"));
    runResultListDialog(dialog);
}

void MainWindow::dataListWithPerson()
{
    qDebug() << "dataListWithPerson function";
    const QString name = m_registry ? m_registry->nameEdit()->text() : QString();
    const QString uid = m_registry ? m_registry->uidEdit()->text() : QString();
    // A new entry not stored yet has no results of its own.
    showPersonResults(newFlag == 1 ? QString() : uid, name);
}

void MainWindow::showPersonResults(const QString &uid, const QString &name)
{
    global::currentPerson = name;
    qDebug() << "currentPerson= " << global::currentPerson << "UID=" << uid;
    if (uid.trimmed().isEmpty()) {
        QMessageBox::warning(m_registry ? static_cast<QWidget *>(m_registry) : this, tr("人员数据"),
                             tr("您还没有选择人员！"), QMessageBox::Ok);
        return;
    }
    ResultListDlg dialog(ResultListDlg::Kind::Person, tr("全部测试数据列表"), uid, name);
    runResultListDialog(dialog);
}

void MainWindow::runResultListDialog(ResultListDlg &dialog)
{
    // Every list offers the same actions; the person dialog's tab decides
    // which kind of result they act on.
    m_openList = &dialog;
    if (dialog.kind() != ResultListDlg::Kind::Fitness)
        m_resultList = &dialog;
    if (dialog.kind() != ResultListDlg::Kind::Results)
        m_fitList = &dialog;
    const auto isFit = [&dialog] { return dialog.resultTable() == resultlists::ResultTable::Fitness; };
    connect(dialog.searchButton(), &QPushButton::clicked, this,
            [this, isFit] { isFit() ? searchDataFit() : searchData(); });
    connect(dialog.backButton(), &QPushButton::clicked, this,
            [this, isFit] { isFit() ? searchDataWholeFit() : searchDataWhole(); });
    const auto report = [this, isFit, &dialog] {
        if (isFit()) {
            setCurrentDataFit2();
            viewReportFit();
            return;
        }
        setCurrentData2();
        if (!requireChosenTest(&dialog))
            return;
        displayData(); // the page shows the record the report is made of
        viewReport();
    };
    connect(dialog.reportButton(), &QPushButton::clicked, this, report);
    connect(dialog.view(), &QTableView::doubleClicked, this, [&dialog, report](const QModelIndex &index) {
        dialog.view()->setCurrentIndex(index); // the row double-clicked is the one chosen
        report();
    });
    connect(dialog.printButton(), &QPushButton::clicked, this, [this, isFit, &dialog] {
        if (isFit()) {
            setCurrentDataFit2();
            if (requireChosenTest(&dialog))
                printReportFit();
            return;
        }
        setCurrentData2();
        if (!requireChosenTest(&dialog))
            return;
        displayData();
        readSelectedSheet();
        printReportPic();
    });
    connect(dialog.viewButton(), &QPushButton::clicked, this,
            [this, isFit, &dialog] { showOnPage(dialog, isFit()); });
    connect(dialog.deleteButton(), &QPushButton::clicked, this,
            [this, isFit] { isFit() ? deleteDataFit() : deleteData(); });
    if (dialog.batchPrintButton())
        connect(dialog.batchPrintButton(), &QPushButton::clicked, this,
                [this, isFit] { isFit() ? printAllReportFit() : printAllReport(); });
    connect(dialog.uploadButton(), &QPushButton::clicked, this,
            [this, isFit] { isFit() ? uploadChosenFitResult() : uploadChosenResult(); });
    dialog.exec();
}

void MainWindow::showOnPage(ResultListDlg &dialog, bool fitness)
{
    // The record goes to the main window's page, which the list would hide:
    // the list closes.
    if (fitness) {
        const int testId = dialog.chosenTestId();
        if (!requireChosenTest(&dialog, testId))
            return;
        if (!selectFitRow(testId)) {
            QMessageBox::warning(&dialog, tr("查看详情"),
                                 tr("体质测定结果页中没有测试编号 %1。").arg(testId));
            return;
        }
        setCurrentDataFit();
        m_tabs->setCurrentIndex(0);
    } else {
        setCurrentData2();
        if (!requireChosenTest(&dialog))
            return;
        displayData();
        m_tabs->setCurrentIndex(1);
    }
    dialog.accept();
}

void MainWindow::dataListFit()
{
    qDebug() << "dataListFit function";
    global::sheetTag = QStringLiteral("FITreport");
    ResultListDlg dialog(ResultListDlg::Kind::Fitness, tr("全部体质测试数据列表"));
    runResultListDialog(dialog);
}

void MainWindow::searchData()
{
    qDebug() << "searchData function";
    if (m_resultList)
        m_resultList->search();
}

void MainWindow::searchDataWhole()
{
    qDebug() << "search data whole function";
    if (m_resultList)
        m_resultList->showAll();
}

void MainWindow::searchDataFit()
{
    qDebug() << "searchDataFit function";
    if (m_fitList)
        m_fitList->search();
}

void MainWindow::searchDataWholeFit()
{
    qDebug() << "search data whole fit function";
    // The full fitness list, in the column set its 16 headers describe.
    if (m_fitList)
        m_fitList->showAll();
}

void MainWindow::setCurrentData()
{
    qDebug() << "set current data function";
    global::currentTestID = resultlists::testIdFromText(m_fitTestIdEdit->text());
    qDebug() << "selectedRow= " << m_fitView->currentIndex().row();
    qDebug() << "sectedTestID= " << global::currentTestID;
}

void MainWindow::setCurrentData2()
{
    qDebug() << "set current data function";
    if (!m_resultList)
        return;
    global::currentTestID = m_resultList->chosenTestId();
    qDebug() << "selectedRow= " << m_resultList->view()->currentIndex().row();
    qDebug() << "sectedTestID= " << global::currentTestID;
}

void MainWindow::setCurrentDataFit()
{
    qDebug() << "set current dataFit function";
    global::sheetTag = QStringLiteral("FITreport");
    qDebug() << "selectedRow= " << m_fitView->currentIndex().row();
    global::currentTestID = resultlists::testIdFromText(m_fitTestIdEdit->text());
    qDebug() << "selctedTestID= " << global::currentTestID;
}

void MainWindow::setCurrentDataFit2()
{
    qDebug() << "set current dataFit function2";
    global::sheetTag = QStringLiteral("FITreport");
    if (!m_fitList)
        return;
    qDebug() << "selectedRow= " << m_fitList->view()->currentIndex().row();
    global::currentTestID = m_fitList->chosenTestId();
    qDebug() << "selctedTestID= " << global::currentTestID;
}

void MainWindow::deleteData()
{
    qDebug() << "deleteData function";
    if (m_resultList)
        m_resultList->deleteSelected();
}

void MainWindow::deleteDataFit()
{
    qDebug() << "deleteData Fit function";
    if (!m_fitList)
        return;
    m_fitList->deleteSelected();
    // The fitness page shows the same rows; its hidden field must not keep a
    // deleted test number either.
    initilizeModelFitResult(m_fitModel);
    if (m_fitModel->rowCount() > 0)
        m_fitMapper->toFirst();
    else
        m_fitTestIdEdit->clear();
}

void MainWindow::uploadChosenResult()
{
    setCurrentData2();
    if (!requireChosenTest(m_resultList ? static_cast<QWidget *>(m_resultList) : this))
        return;
    // The dialog hears how its upload went.
    m_uploadOrigin = m_resultList ? m_resultList->uploadStatusLabel() : nullptr;
    uploadBCA();
    m_uploadOrigin = nullptr;
}

void MainWindow::uploadChosenFitResult()
{
    setCurrentDataFit2();
    if (!requireChosenTest(m_fitList ? static_cast<QWidget *>(m_fitList) : this))
        return;
    // The fitness upload takes its test number from the fitness page's hidden
    // field: point it at the chosen test for this call, then give the page
    // its own selection back.
    const QString pageTestId = m_fitTestIdEdit->text();
    m_fitTestIdEdit->setText(QString::number(global::currentTestID));
    m_uploadOrigin = m_fitList ? m_fitList->uploadStatusLabel() : nullptr;
    uploadPhy();
    m_uploadOrigin = nullptr;
    m_fitTestIdEdit->setText(pageTestId);
}
