#include "app/mainwindow.h"

#include "analyzer/analyzersession.h"
#include "app/dbtarget.h"
#include "app/globals.h"
#include "people/namesearch.h"
#include "people/resultmodels.h"
#include "reports/layout.h"
#include "reports/reportprint.h"

#include <QAction>
#include <QCloseEvent>
#include <QDataWidgetMapper>
#include <QDebug>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSerialPort>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace {
// Shows the sex cell of the detail table (row 3, column 1) as 男/女; the
// item keeps the stored "1"/"2".
class SexCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.row() == 3 && index.column() == 1)
            option->text = namesearch::sexText(option->text);
    }
};
} // namespace

static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    initResources();
    qDebug() << "db setup result is:" << dbSetupResult;

    global::sheetTag = reports::readSelectedSheetTag();

    m_unitModel = new QSqlTableModel(this);
    m_unitModel->setTable(SqlDialect::current().modelTable(QStringLiteral("Unit")));
    m_unitModel->select();
    UUID = unitIdOfThisPc(m_unitModel->record(0).value(QStringLiteral("UUID")).toString());
    qDebug() << "UUID= " << UUID;

    qDebug() << "initial portFlag is: " << global::portFlag;

    BCAtimer = std::make_unique<QTimer>();
    fitTimer = std::make_unique<QTimer>();
    global::currentPerson = QString();

    resize(1000, 650);
    setWindowTitle(tr("体质测试数据采集与管理系统 | Quelmar V2.0"));
    setWindowIcon(QIcon(QStringLiteral(":/image/icon-16.png")));
    setStyleSheet(QStringLiteral("font-size:16px;"));

    createStatusNotice();
    createActions();
    createMenus();
    createToolBar();
    createPages();
    wireAnalyzerSession();
    watchPortFailures();
}

void MainWindow::watchPortFailures()
{
    // An unplugged adapter or a vanished device fails the port: the link is
    // silent at once (a station answers only when it holds a result, so this
    // is how its loss shows while it is idle). The failed port is closed, as
    // it would otherwise report the failure again at every read, and has to
    // be opened again in the settings.
    const auto watch = [this](QSerialPort *port, QString *flag, analyzer::LinkWatch *linkWatch,
                              const QString &text) {
        connect(port, &QSerialPort::errorOccurred, this, [=](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::ResourceError || !port->isOpen() || port->property("closing").toBool())
                return;
            qDebug() << "port failed, closed:" << port->portName() << port->errorString();
            port->setProperty("closing", true);
            // Closed outside the port's own notification.
            QTimer::singleShot(0, port, [port] {
                port->close();
                port->setProperty("closing", false);
            });
            *flag = QStringLiteral("0");
            linkWatch->lost();
            m_stateEdit->setText(text);
            showPortActive();
        });
    };
    watch(BCAport, &global::portFlag, &m_bcaWatch,
          tr("仪器无响应（体成分仪）：串口已断开，请检查连接后重新打开串口"));
    watch(fitPort, &global::fitPortFlag, &m_fitWatch,
          tr("仪器无响应（体测仪）：串口已断开，请检查连接后重新打开串口"));
}

MainWindow::~MainWindow() = default;

void MainWindow::createStatusNotice()
{
    auto *notice = new QLabel(tr("本软件版权归体质测试数据采集与管理系统开发组所有"), this);
    notice->setStyleSheet(QStringLiteral("font-size:12px;"));
    statusBar()->addPermanentWidget(notice);
    m_storeWarningLabel = new QLabel(this);
    m_storeWarningLabel->setStyleSheet(QStringLiteral("color:#c00000; font-weight:bold;"));
    m_storeWarningLabel->hide();
    // Permanent: a temporary status-bar message cannot hide it.
    statusBar()->insertPermanentWidget(0, m_storeWarningLabel, 1);
}

QString MainWindow::storeWarning() const
{
    return m_storeWarningLabel->text();
}

void MainWindow::setStoreWarning(QString *which, const QString &text)
{
    *which = text;
    QStringList parts;
    for (const QString *w : {&m_bcaStoreWarning, &m_fitStoreWarning}) {
        if (!w->isEmpty())
            parts << *w;
    }
    m_storeWarningLabel->setText(parts.join(QStringLiteral("；")));
    m_storeWarningLabel->setVisible(!parts.isEmpty());
    if (!parts.isEmpty())
        m_stateIcon->setPixmap(QPixmap(QStringLiteral(":/image/Error.png")));
}

void MainWindow::showPortActive()
{
    // While a measurement waits for its store or an instrument is silent the
    // error picture stays.
    const bool waiting = !m_bcaStoreWarning.isEmpty() || !m_fitStoreWarning.isEmpty() ||
                         m_bcaWatch.silent() || m_fitWatch.silent();
    m_stateIcon->setPixmap(
        QPixmap(waiting ? QStringLiteral(":/image/Error.png") : QStringLiteral(":/image/Valid.png")));
}

void MainWindow::createActions()
{
    const auto make = [this](const QString &label, const QString &icon, auto slot) {
        auto *action = icon.isEmpty() ? new QAction(label, this) : new QAction(QIcon(icon), label, this);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    m_actConfig = make(tr("连接与设置"), QStringLiteral(":/image/icon-config.png"), &MainWindow::config);
    m_actConnect = make(tr("连接仪器"), QString(), &MainWindow::connectBCA);
    m_actExit = make(tr("退出"), QString(), &MainWindow::close);
    m_actCollect = make(tr("实时采集模式"), QString(), &MainWindow::collect);
    m_actPcControl = make(tr("主控测试模式"), QString(), &MainWindow::pcControl);
    m_actBatch =
        make(tr("批量采集模式"), QStringLiteral(":/image/icon-batch.png"), &MainWindow::batchCollect);
    m_actTestBCA = make(tr("通讯调试"), QStringLiteral(":/image/icon-collect.png"), &MainWindow::testBCA);
    m_actUsersList =
        make(tr("用户列表"), QStringLiteral(":/image/icon-usersList.png"), &MainWindow::usersList);
    m_actUsersImport = make(tr("批量导入人员"), QString(), &MainWindow::usersImport);
    m_actDataList =
        make(tr("体成分数据列表"), QStringLiteral(":/image/icon-dataList.png"), &MainWindow::dataList);
    m_actDataListFit =
        make(tr("体质数据列表"), QStringLiteral(":/image/icon-physical.png"), &MainWindow::dataListFit);
    m_actDataExport = make(tr("体成分测试数据导出"), QString(), &MainWindow::dataExport);
    m_actDataFitExport = make(tr("体测测试数据导出"), QString(), &MainWindow::dataFitExport);
    m_actBackup = make(tr("数据库备份"), QString(), &MainWindow::DBbackup);
    m_actAbout = make(tr("关于"), QString(), &MainWindow::about);
    m_actHelp = make(tr("使用帮助"), QStringLiteral(":/image/icon-help.png"), &MainWindow::help);
}

void MainWindow::createMenus()
{
    QMenu *setup = menuBar()->addMenu(tr("&连接与设置"));
    setup->addActions({m_actConfig, m_actConnect, m_actExit});
    QMenu *collection = menuBar()->addMenu(tr("&数据采集"));
    collection->addActions({m_actCollect, m_actPcControl, m_actBatch, m_actTestBCA});
    QMenu *people = menuBar()->addMenu(tr("&人员信息"));
    people->addActions({m_actUsersList, m_actUsersImport});
    QMenu *results = menuBar()->addMenu(tr("&测量结果"));
    results->addActions({m_actDataListFit, m_actDataList, m_actDataExport, m_actDataFitExport, m_actBackup});
    results->insertAction(m_actDataExport, createStatsAction());
    QMenu *helpMenu = menuBar()->addMenu(tr("&说明与帮助"));
    helpMenu->addActions({m_actAbout, m_actHelp});
}

void MainWindow::createToolBar()
{
    m_actConfig->setIconText(tr("连接与设置"));
    m_actTestBCA->setIconText(tr("通讯调试"));
    m_actBatch->setIconText(tr("批量采集"));
    m_actBatch->setToolTip(tr("批量采集模式：连接仪器后，下载体成分仪中保存的测试记录"));
    m_actUsersList->setIconText(tr("人员列表"));
    m_actDataList->setIconText(tr("体成分数据列表"));
    m_actDataListFit->setIconText(tr("体质数据列表"));
    m_actHelp->setIconText(tr("使用帮助"));

    // The test number of the page shown; typing one and pressing Enter opens
    // that test. It takes the focus only when clicked.
    m_currentTestEdit = new QLineEdit(this);
    m_currentTestEdit->setObjectName(QStringLiteral("currentTestEdit"));
    m_currentTestEdit->setFocusPolicy(Qt::ClickFocus);
    m_currentTestEdit->setValidator(new QIntValidator(1, 2147483647, m_currentTestEdit));
    m_currentTestEdit->setMaximumWidth(110);
    m_currentTestEdit->setToolTip(tr("当前页面的测试编号；输入测试编号后按回车键打开该测试的报告"));
    connect(m_currentTestEdit, &QLineEdit::returnPressed, this, &MainWindow::openTypedTest);
    m_stateEdit = new QLineEdit(tr(" 未连接"), this);
    m_stateEdit->setObjectName(QStringLiteral("stateEdit"));
    m_stateEdit->setReadOnly(true);
    m_stateEdit->setFocusPolicy(Qt::NoFocus);
    m_stateEdit->setMinimumWidth(230);
    m_stateIcon = new QLabel(this);
    m_stateIcon->setPixmap(QPixmap(QStringLiteral(":/image/Error.png")));

    m_toolBar = addToolBar(tr("工具栏"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setStyleSheet(QStringLiteral("font-size:14px;"));
    m_toolBar->setFixedHeight(90);
    m_toolBar->setIconSize(QSize(32, 32));
    m_toolBar->addActions(
        {m_actConfig, m_actTestBCA, m_actBatch, m_actUsersList, m_actDataListFit, m_actDataList, m_actHelp});
    createUploadActions(); // the two upload actions, before the spacer
    auto *spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_toolBar->addWidget(spacer);
    m_toolBar->addWidget(new QLabel(tr("当前测试号:"), this));
    m_toolBar->addWidget(m_currentTestEdit);
    m_toolBar->addWidget(new QLabel(tr("仪器状态:"), this));
    m_toolBar->addWidget(m_stateEdit);
    m_toolBar->addAction(m_actConnect);
    m_toolBar->addWidget(m_stateIcon);
}

void MainWindow::createPages()
{
    auto *central = new QWidget(this);
    central->setStyleSheet(QStringLiteral("font-size:16px; color:#424242;"));
    auto *layout = new QVBoxLayout(central);
    m_tabs = new QTabWidget(central);
    layout->addWidget(m_tabs);

    // Fitness results: the list of every fitness row, newest first.
    auto *fitPage = new QWidget(m_tabs);
    auto *fitLayout = new QHBoxLayout(fitPage);
    m_fitModel = new QSqlQueryModel(this);
    initilizeModelFitResult(m_fitModel);
    m_fitView = new QTableView(fitPage);
    m_fitView->setModel(m_fitModel);
    m_fitView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fitView->setSelectionBehavior(QAbstractItemView::SelectRows);
    fitLayout->addWidget(m_fitView, 1);
    auto *fitSide = new QVBoxLayout;
    m_fitReportButton = new QPushButton(tr("体质评定报告"), fitPage);
    fitSide->addWidget(m_fitReportButton);
    fitSide->addWidget(new QLabel(tr("测试编号"), fitPage));
    fitSide->addStretch(1);
    fitLayout->addLayout(fitSide);

    // Hidden test-number field that follows the selected fitness row.
    m_fitTestIdEdit = new QLineEdit(this);
    m_fitTestIdEdit->hide();
    m_fitMapper = new QDataWidgetMapper(this);
    m_fitMapper->setModel(m_fitModel);
    m_fitMapper->addMapping(m_fitTestIdEdit, 1);
    m_fitMapper->toFirst();
    connect(m_fitView->selectionModel(), &QItemSelectionModel::currentRowChanged, m_fitMapper,
            &QDataWidgetMapper::setCurrentModelIndex);
    global::currentTestID = m_fitTestIdEdit->text().toInt();
    qDebug() << "selectedTestID= " << global::currentTestID;

    // Body composition of the current record.
    auto *bcaPage = new QWidget(m_tabs);
    auto *bcaLayout = new QVBoxLayout(bcaPage);
    m_bcaTable = new QTableWidget(6, 8, bcaPage);
    m_bcaTable->setHorizontalHeaderLabels({tr("项目"), tr("内容"), tr("指标"), tr("测量数据"), tr("指标"),
                                           tr("测量数据"), tr("指标"), tr("测量数据")});
    m_bcaTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_bcaTable->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section {background-color:#99CC99;color: black;}"));
    m_bcaTable->verticalHeader()->hide();
    // The detail table shows a record; nothing in it is for typing.
    m_bcaTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_bcaTable->setItemDelegate(new SexCellDelegate(m_bcaTable));
    const QStringList labels[4] = {
        {tr("用户编号"), tr("测试序号"), tr("姓名"), tr("性别"), tr("身高(cm)"), tr("测试日期")},
        {tr("体重(kg)"), tr("标准体重(kg)"), tr("体重控制(kg)"), tr("瘦体重(kg)"), tr("身体年龄"),
         tr("健康评分")},
        {tr("总水分(kg)"), tr("脂肪(kg)"), tr("体脂率(%)"), tr("蛋白质(kg)"), tr("肌肉(kg)"), tr("骨质(kg)")},
        {tr("BMI"), tr("基础代谢(kcal)"), tr("内脏脂肪指数"), tr("腰臀比"), tr("骨骼肌(kg)"), tr("体型判定")},
    };
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 6; ++r)
            m_bcaTable->setItem(r, c * 2, new QTableWidgetItem(labels[c][r]));
    }
    bcaLayout->addWidget(m_bcaTable);
    auto *bcaButtons = new QHBoxLayout;
    m_viewReportButton = new QPushButton(tr("查看报告"), bcaPage);
    m_choosePersonButton = new QPushButton(tr("选人测试"), bcaPage);
    m_overlayPrintButton = new QPushButton(tr("打印报告(套打)"), bcaPage);
    bcaButtons->addWidget(m_viewReportButton);
    bcaButtons->addWidget(m_choosePersonButton);
    bcaButtons->addWidget(m_overlayPrintButton);
    bcaLayout->addLayout(bcaButtons);

    m_tabs->addTab(fitPage, tr("体质测定结果"));
    m_tabs->addTab(bcaPage, tr("人体成分分析"));
    setCentralWidget(central);

    connect(m_fitView, &QTableView::doubleClicked, this, &MainWindow::setCurrentDataFit);
    connect(this, &MainWindow::fitRecorded, this, &MainWindow::displayFitData);
    connect(m_fitReportButton, &QPushButton::clicked, this, &MainWindow::setCurrentDataFit);
    connect(m_fitReportButton, &QPushButton::clicked, this, &MainWindow::viewReportFit);
    connect(this, &MainWindow::tidChanged, this, &MainWindow::displayData);
    connect(m_overlayPrintButton, &QPushButton::clicked, this, &MainWindow::printReport);
    connect(m_viewReportButton, &QPushButton::clicked, this, &MainWindow::viewReport);
    connect(m_choosePersonButton, &QPushButton::clicked, this, &MainWindow::usersList);

    // "当前测试号" follows the page shown: the selected fitness row or the
    // record of the detail table.
    connect(m_tabs, &QTabWidget::currentChanged, this, &MainWindow::updateCurrentTestField);
    connect(m_fitTestIdEdit, &QLineEdit::textChanged, this, &MainWindow::updateCurrentTestField);
    connect(m_bcaTable->model(), &QAbstractItemModel::dataChanged, this, &MainWindow::updateCurrentTestField);
    updateCurrentTestField();
    m_fitView->setFocus();
}

void MainWindow::updateCurrentTestField()
{
    if (m_currentTestEdit->hasFocus())
        return; // the operator is typing a number
    const bool fitness = m_tabs->currentIndex() == 0;
    const QTableWidgetItem *bcaTest = m_bcaTable->item(1, 1);
    m_currentTestEdit->setText(fitness ? m_fitTestIdEdit->text() : bcaTest ? bcaTest->text() : QString());
}

bool MainWindow::selectFitRow(int testId)
{
    // Rows are newest first: fetch until the number is passed.
    for (int row = 0;; ++row) {
        if (row >= m_fitModel->rowCount()) {
            if (!m_fitModel->canFetchMore())
                return false;
            m_fitModel->fetchMore();
        }
        if (row >= m_fitModel->rowCount())
            return false;
        const int id = m_fitModel->index(row, 1).data().toInt();
        if (id == testId) {
            m_fitView->selectRow(row);
            m_fitView->setCurrentIndex(m_fitModel->index(row, 1));
            return true;
        }
        if (id < testId)
            return false;
    }
}

void MainWindow::openTypedTest()
{
    const int testId = m_currentTestEdit->text().toInt();
    m_fitView->setFocus(); // the field shows the page's test again
    const bool fitness = m_tabs->currentIndex() == 0;
    qDebug() << "open typed test" << testId << (fitness ? "fitness" : "body composition");
    if (fitness) {
        if (testId <= 0 || !selectFitRow(testId)) {
            QMessageBox::warning(this, tr("当前测试号"),
                                 tr("没有测试编号为 %1 的体质测试记录。").arg(testId));
            updateCurrentTestField();
            return;
        }
        setCurrentDataFit();
        viewReportFit();
        return;
    }
    if (testId <= 0 || !reports::testExists(QString(), testId)) {
        QMessageBox::warning(this, tr("当前测试号"), tr("没有测试编号为 %1 的体成分测试记录。").arg(testId));
        updateCurrentTestField();
        return;
    }
    global::currentTestID = testId;
    displayData();
    viewReport();
}

QString MainWindow::busyText() const
{
    QStringList busy;
    if (global::BCAstate == 2)
        busy << tr("体成分仪正在测试中");
    if (global::BCAstate == 3 || m_analyzer->downloading())
        busy << tr("体成分测试数据正在接收");
    if (m_analyzer->recordWaiting() || !m_bcaStoreWarning.isEmpty() || !m_fitStoreWarning.isEmpty())
        busy << tr("有测试数据等待保存");
    if (m_fitSession.containerFlag() != 0)
        busy << tr("体测成绩正在接收");
    return busy.join(QStringLiteral("，"));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const QString busy = busyText();
    if (!busy.isEmpty()) {
        QMessageBox box(QMessageBox::Question, tr("退出"),
                        tr("%1。\n现在退出，这次测试的数据可能不会保存。确定要退出吗？").arg(busy),
                        QMessageBox::NoButton, this);
        QPushButton *quit = box.addButton(tr("退出"), QMessageBox::DestructiveRole);
        box.setDefaultButton(box.addButton(tr("继续测试"), QMessageBox::RejectRole));
        box.exec();
        if (box.clickedButton() != quit) {
            qDebug() << "exit cancelled while busy:" << busy;
            event->ignore();
            return;
        }
        qDebug() << "exit while busy:" << busy;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::about()
{
    qDebug() << "about function";
    QMessageBox::information(this, tr("版权说明"), tr("本软件版权归体质测试数据采集与管理系统开发组所有。"));
}

void MainWindow::help()
{
    qDebug() << "help function";
    QMessageBox::information(
        this, tr("使用说明"),
        tr("首先，在工具栏的连接与设置中设置单位信息，选择并打开相应串口，选择仪器型号。<br>"
           "设置完毕后点击右上角-连接仪器，看到‘已连接，……’的字样后可以开始测试。<br>"
           "测试分为体质测试和体成分测试两种模式，使用不同的串口。<br>"
           "测试时，请在仪器上输入相应编号，测试完，数据会自动传到软件中，显示在下方数据表格中。<br>"
           "最好先在人员列表中建立人员信息，再进行测试。<br>"
           "下载体成分仪中保存的测试记录：连接仪器后，在“数据采集”菜单或工具栏中打开“批量采集模式”。<br>"
           "在‘用户列表’和‘数据列表’中可以查看人员和所有数据，并可显示报告、打印。"));
}
