// Main window slots of the result lists: the body-composition, fitness and
// person result dialogs with their search, selection, deletion, upload and
// print buttons. Queries and deletions live in people/resultlists.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "people/resultlists.h"
#include "people/resultmodels.h"

#include <QDataWidgetMapper>
#include <QDebug>
#include <QDialog>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQueryModel>
#include <QTableView>
#include <QVBoxLayout>

using resultlists::ResultTable;

namespace {
enum class ListKind { Results, Fitness, Person };

// Widgets of one list dialog; the optional ones are null where the kind has none.
struct ListDialogParts
{
    QTableView *view = nullptr;
    QLineEdit *search = nullptr;
    QPushButton *searchButton = nullptr;
    QPushButton *backButton = nullptr;
    QLineEdit *testId = nullptr;
    QDataWidgetMapper *mapper = nullptr;
    QPushButton *viewButton = nullptr;
    QPushButton *printButton = nullptr;
    QPushButton *deleteButton = nullptr;
    QPushButton *uploadButton = nullptr;
    QLineEdit *printStart = nullptr;
    QLineEdit *printEnd = nullptr;
    QPushButton *batchPrintButton = nullptr;
};

QPushButton *plainButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

ListDialogParts buildListDialog(QDialog &dialog, ListKind kind, const QString &caption, QSqlQueryModel *model)
{
    ListDialogParts p;
    dialog.setWindowTitle(MainWindow::tr("测量结果列表"));
    dialog.resize(700, 600);
    dialog.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinMaxButtonsHint);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(caption, &dialog));

    auto *searchRow = new QHBoxLayout;
    p.search = new QLineEdit(&dialog);
    p.search->setObjectName(QStringLiteral("searchEdit"));
    p.search->setPlaceholderText(MainWindow::tr("请输入姓名查询,支持按姓氏模糊搜索"));
    p.searchButton = new QPushButton(MainWindow::tr("搜索"), &dialog);
    p.searchButton->setDefault(true); // Enter in the dialog searches
    p.backButton = plainButton(MainWindow::tr("<<返回"), &dialog);
    searchRow->addWidget(p.search, 1);
    searchRow->addWidget(p.searchButton);
    searchRow->addWidget(p.backButton);
    layout->addLayout(searchRow);

    p.view = new QTableView(&dialog);
    p.view->setObjectName(QStringLiteral("resultView"));
    p.view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    p.view->setSelectionBehavior(QAbstractItemView::SelectRows);
    p.view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    p.view->setModel(model);
    layout->addWidget(p.view, 1);

    const bool person = kind == ListKind::Person;
    const bool fitness = kind == ListKind::Fitness;
    auto *actionRow = new QHBoxLayout;
    if (!person) {
        actionRow->addWidget(new QLabel(MainWindow::tr("测试序号"), &dialog));
        p.testId = new QLineEdit(&dialog);
        p.testId->setObjectName(QStringLiteral("testIdEdit"));
        actionRow->addWidget(p.testId);
        p.mapper = new QDataWidgetMapper(&dialog);
        p.mapper->setModel(model);
        p.mapper->addMapping(p.testId, 1);
        p.mapper->toFirst();
        QObject::connect(p.view->selectionModel(), &QItemSelectionModel::currentRowChanged, p.mapper,
                         &QDataWidgetMapper::setCurrentModelIndex);
    }
    p.viewButton = plainButton(fitness ? MainWindow::tr("查看报告") : MainWindow::tr("查看详情"), &dialog);
    actionRow->addWidget(p.viewButton);
    if (fitness) {
        p.printButton = plainButton(MainWindow::tr("打印报告"), &dialog);
        actionRow->addWidget(p.printButton);
    }
    p.deleteButton = plainButton(MainWindow::tr("删除"), &dialog);
    actionRow->addWidget(p.deleteButton);
    if (!person) {
        p.uploadButton = plainButton(MainWindow::tr("上传数据"), &dialog);
        p.uploadButton->setIcon(QIcon(fitness ? QStringLiteral(":/image/icon-upload2.png")
                                              : QStringLiteral(":/image/icon-upload.png")));
        actionRow->addWidget(p.uploadButton);
    }
    actionRow->addStretch(1);
    layout->addLayout(actionRow);

    if (!person) {
        auto *printRow = new QHBoxLayout;
        printRow->addWidget(new QLabel(MainWindow::tr("打印起止测试编号"), &dialog));
        p.printStart = new QLineEdit(&dialog);
        p.printStart->setObjectName(QStringLiteral("printStartEdit"));
        p.printStart->setValidator(new QIntValidator(0, 2147483647, p.printStart));
        printRow->addWidget(p.printStart);
        printRow->addWidget(new QLabel(MainWindow::tr(" - "), &dialog));
        p.printEnd = new QLineEdit(&dialog);
        p.printEnd->setObjectName(QStringLiteral("printEndEdit"));
        p.printEnd->setValidator(new QIntValidator(0, 2147483647, p.printEnd));
        printRow->addWidget(p.printEnd);
        p.batchPrintButton = plainButton(MainWindow::tr("批量打印"), &dialog);
        printRow->addWidget(p.batchPrintButton);
        printRow->addStretch(1);
        layout->addLayout(printRow);
    }
    return p;
}

// After the model was re-queried, the test-number field shows the first row
// again, or nothing when the list is empty (never a number no longer listed).
void syncTestIdField(QSqlQueryModel *model, QDataWidgetMapper *mapper, QLineEdit *field)
{
    if (!model || !mapper || !field)
        return;
    if (model->rowCount() > 0)
        mapper->toFirst();
    else
        field->clear();
}

bool requireChosenTest(QWidget *parent)
{
    if (global::currentTestID != 0)
        return true;
    QMessageBox::warning(parent, MainWindow::tr("选择测试记录"), MainWindow::tr("请先选择测试记录!"));
    return false;
}

// Asks, then deletes the selected rows of |view| from |table| (the caller reloads).
void deleteSelectedTests(QTableView *view, ResultTable table)
{
    QWidget *parent = view->window();
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        QMessageBox::warning(parent, MainWindow::tr("警告"), MainWindow::tr("没有选择记录！"),
                             QMessageBox::Cancel);
        return;
    }
    const auto answer =
        QMessageBox::warning(parent, MainWindow::tr("删除数据"), MainWindow::tr("你确定删除所选记录吗？"),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        qDebug() << "you press no";
        return;
    }
    qDebug() << "you press yes";
    const resultlists::DeleteOutcome outcome =
        resultlists::deleteTests(table, resultlists::selectedTestIds(selected));
    if (!outcome.failed.isEmpty()) {
        qDebug() << "not deleted:" << outcome.failed << outcome.error;
        QMessageBox::warning(parent, MainWindow::tr("删除数据"), MainWindow::tr("删除记录出错！"),
                             QMessageBox::Yes);
    }
}
} // namespace

void MainWindow::dataList()
{
    qDebug() << "dataList function";
    runResultListDialog(tr("全部体成分测试数据列表"), false, QString());
}

void MainWindow::dataListWithPerson()
{
    qDebug() << "dataListWithPerson function";
    showPersonResults(nameEdit ? nameEdit->text() : QString());
}

void MainWindow::showPersonResults(const QString &name)
{
    global::currentPerson = name;
    qDebug() << "currentPerson= " << global::currentPerson;
    if (global::currentPerson.isEmpty()) {
        QMessageBox::warning(this, tr("人员数据"), tr("您还没有选择人员！"), QMessageBox::Ok);
        return;
    }
    runResultListDialog(tr("全部测试数据列表"), true, global::currentPerson);
}

void MainWindow::runResultListDialog(const QString &caption, bool personDialog, const QString &personName)
{
    if (!m_resultModel)
        m_resultModel = new QSqlQueryModel(this);
    initializeModelResult(m_resultModel);
    if (personDialog)
        resultlists::searchByName(m_resultModel, ResultTable::BodyComposition, personName);

    QDialog dialog;
    const ListDialogParts p =
        buildListDialog(dialog, personDialog ? ListKind::Person : ListKind::Results, caption, m_resultModel);
    m_resultView = p.view;
    m_resultSearchEdit = p.search;
    m_resultTestIdEdit = p.testId;
    m_resultMapper = p.mapper;
    printStartEdit = p.printStart;
    printEndEdit = p.printEnd;

    connect(p.searchButton, &QPushButton::clicked, this, &MainWindow::searchData);
    connect(p.backButton, &QPushButton::clicked, this, &MainWindow::searchDataWhole);
    connect(p.viewButton, &QPushButton::clicked, this, &MainWindow::setCurrentData2);
    connect(p.viewButton, &QPushButton::clicked, this, &MainWindow::displayData);
    connect(p.view, &QTableView::doubleClicked, this, &MainWindow::setCurrentData2);
    connect(p.view, &QTableView::doubleClicked, this, &MainWindow::displayData);
    connect(p.deleteButton, &QPushButton::clicked, this, &MainWindow::deleteData);
    if (p.batchPrintButton)
        connect(p.batchPrintButton, &QPushButton::clicked, this, &MainWindow::printAllReport);
    if (p.uploadButton)
        connect(p.uploadButton, &QPushButton::clicked, this, &MainWindow::uploadChosenResult);

    dialog.exec();
    // Drop the open cursor of the list so no read stays pending on the file.
    m_resultModel->clear();
}

void MainWindow::dataListFit()
{
    qDebug() << "dataListFit function";
    global::sheetTag = QStringLiteral("FITreport");
    if (!m_fitListModel)
        m_fitListModel = new QSqlQueryModel(this);
    initilizeModelFitResult(m_fitListModel);

    QDialog dialog;
    const ListDialogParts p =
        buildListDialog(dialog, ListKind::Fitness, tr("全部体质测试数据列表"), m_fitListModel);
    m_fitListView = p.view;
    m_fitListSearchEdit = p.search;
    m_fitListTestIdEdit = p.testId;
    m_fitListMapper = p.mapper;
    printStartEdit = p.printStart;
    printEndEdit = p.printEnd;

    connect(p.searchButton, &QPushButton::clicked, this, &MainWindow::searchDataFit);
    connect(p.backButton, &QPushButton::clicked, this, &MainWindow::searchDataWholeFit);
    connect(p.viewButton, &QPushButton::clicked, this, &MainWindow::setCurrentDataFit2);
    connect(p.viewButton, &QPushButton::clicked, this, &MainWindow::viewReportFit);
    connect(p.view, &QTableView::doubleClicked, this, &MainWindow::setCurrentDataFit2);
    connect(p.printButton, &QPushButton::clicked, this, [this, parent = &dialog] {
        setCurrentDataFit2();
        if (requireChosenTest(parent))
            printReportFit();
    });
    connect(p.deleteButton, &QPushButton::clicked, this, &MainWindow::deleteDataFit);
    connect(p.batchPrintButton, &QPushButton::clicked, this, &MainWindow::printAllReportFit);
    connect(p.uploadButton, &QPushButton::clicked, this, &MainWindow::uploadChosenFitResult);

    dialog.exec();
    m_fitListModel->clear();
}

void MainWindow::searchData()
{
    qDebug() << "searchData function";
    if (!m_resultModel || !m_resultSearchEdit)
        return;
    resultlists::searchByName(m_resultModel, ResultTable::BodyComposition, m_resultSearchEdit->text());
    syncTestIdField(m_resultModel, m_resultMapper, m_resultTestIdEdit);
}

void MainWindow::searchDataWhole()
{
    qDebug() << "search data whole function";
    if (!m_resultModel || !m_resultView)
        return;
    initializeModelResult(m_resultModel);
    syncTestIdField(m_resultModel, m_resultMapper, m_resultTestIdEdit);
}

void MainWindow::searchDataFit()
{
    qDebug() << "searchDataFit function";
    if (!m_fitListModel || !m_fitListSearchEdit)
        return;
    resultlists::searchByName(m_fitListModel, ResultTable::Fitness, m_fitListSearchEdit->text());
    syncTestIdField(m_fitListModel, m_fitListMapper, m_fitListTestIdEdit);
}

void MainWindow::searchDataWholeFit()
{
    qDebug() << "search data whole fit function";
    if (!m_fitListModel || !m_fitListView)
        return;
    // The full fitness list, in the column set its 16 headers describe.
    initilizeModelFitResult(m_fitListModel);
    syncTestIdField(m_fitListModel, m_fitListMapper, m_fitListTestIdEdit);
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
    if (!m_resultView)
        return;
    int row = m_resultView->currentIndex().row();
    if (m_resultTestIdEdit) {
        global::currentTestID = resultlists::testIdFromText(m_resultTestIdEdit->text());
    } else {
        // The person dialog has no test-number field: take the current row,
        // or the first one as the other dialogs' fields do before a choice.
        if (row < 0 && m_resultModel->rowCount() > 0)
            row = 0;
        global::currentTestID = m_resultModel->index(row, 1).data().toInt();
    }
    qDebug() << "selectedRow= " << row;
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
    if (!m_fitListView || !m_fitListTestIdEdit)
        return;
    qDebug() << "selectedRow= " << m_fitListView->currentIndex().row();
    global::currentTestID = resultlists::testIdFromText(m_fitListTestIdEdit->text());
    qDebug() << "selctedTestID= " << global::currentTestID;
}

void MainWindow::deleteData()
{
    qDebug() << "deleteData function";
    if (!m_resultView || !m_resultModel)
        return;
    deleteSelectedTests(m_resultView, ResultTable::BodyComposition);
    initializeModelResult(m_resultModel);
    syncTestIdField(m_resultModel, m_resultMapper, m_resultTestIdEdit);
}

void MainWindow::deleteDataFit()
{
    qDebug() << "deleteData Fit function";
    if (!m_fitListView || !m_fitListModel)
        return;
    deleteSelectedTests(m_fitListView, ResultTable::Fitness);
    initilizeModelFitResult(m_fitListModel);
    syncTestIdField(m_fitListModel, m_fitListMapper, m_fitListTestIdEdit);
    // The fitness page shows the same rows; its hidden field must not keep a
    // deleted test number either.
    initilizeModelFitResult(m_fitModel);
    syncTestIdField(m_fitModel, m_fitMapper, m_fitTestIdEdit);
}

void MainWindow::uploadChosenResult()
{
    setCurrentData2();
    if (requireChosenTest(m_resultView ? m_resultView->window() : this))
        uploadBCA();
}

void MainWindow::uploadChosenFitResult()
{
    setCurrentDataFit2();
    if (!requireChosenTest(m_fitListView ? m_fitListView->window() : this))
        return;
    // The fitness upload takes its test number from the fitness page's hidden
    // field: point it at the chosen test for this call, then give the page
    // its own selection back.
    const QString pageTestId = m_fitTestIdEdit->text();
    m_fitTestIdEdit->setText(QString::number(global::currentTestID));
    uploadPhy();
    m_fitTestIdEdit->setText(pageTestId);
}
