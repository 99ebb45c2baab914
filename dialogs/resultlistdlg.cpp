#include "dialogs/resultlistdlg.h"

#include "exchange/errortext.h"
#include "people/resultmodels.h"

#include <QDataWidgetMapper>
#include <QDebug>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QIntValidator>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

using resultlists::ResultTable;

namespace {
// Column of the test number in every list.
constexpr int kTestIdColumn = 1;

QPushButton *plainButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

QLineEdit *rangeField(const char *name, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setValidator(new QIntValidator(0, 2147483647, field));
    return field;
}

constexpr int kNameColumn = 2;
constexpr int kResultSexColumn = 4;
} // namespace

ResultListDlg::ResultListDlg(Kind kind, const QString &caption, const QString &personUid,
                             const QString &personName, QWidget *parent)
    : QDialog(parent), m_kind(kind), m_personUid(personUid),
      m_table(kind == Kind::Fitness ? ResultTable::Fitness : ResultTable::BodyComposition)
{
    const bool person = kind == Kind::Person;
    const bool fitness = kind == Kind::Fitness;
    setWindowTitle(tr("测量结果列表"));
    resize(700, 600);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinMaxButtonsHint);

    m_model = new ResultListModel(fitness ? -1 : kResultSexColumn, this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(caption, this));
    if (person) {
        auto *who = new QLabel(tr("人员：%1    用户编号：%2").arg(personName, personUid), this);
        who->setObjectName(QStringLiteral("personLabel"));
        layout->addWidget(who);
        // Both kinds of the person's results, a tab each.
        m_tabs = new QTabBar(this);
        m_tabs->setObjectName(QStringLiteral("resultTabs"));
        m_tabs->addTab(tr("体成分测试结果"));
        m_tabs->addTab(tr("体质测试结果"));
        m_tabs->setExpanding(false);
        layout->addWidget(m_tabs);
        connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) {
            setResultTable(index == 1 ? ResultTable::Fitness : ResultTable::BodyComposition);
        });
    }

    auto *searchRow = new QHBoxLayout;
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("searchEdit"));
    m_search->setPlaceholderText(tr("请输入姓名查询,支持按姓氏模糊搜索"));
    m_searchButton = new QPushButton(tr("搜索"), this);
    m_searchButton->setDefault(true); // Enter in the dialog searches
    m_backButton = plainButton(tr("<<返回"), this);
    searchRow->addWidget(m_search, 1);
    searchRow->addWidget(m_searchButton);
    searchRow->addWidget(m_backButton);
    m_refreshButton = plainButton(tr("刷新"), this);
    m_refreshButton->setToolTip(tr("重新读取列表（显示其他电脑刚保存的结果）"));
    searchRow->addWidget(m_refreshButton);
    connect(m_refreshButton, &QPushButton::clicked, this, &ResultListDlg::refresh);
    layout->addLayout(searchRow);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("resultView"));
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setModel(m_model);
    layout->addWidget(m_view, 1);

    auto *actionRow = new QHBoxLayout;
    if (!person) {
        actionRow->addWidget(new QLabel(tr("测试序号"), this));
        m_testId = new QLineEdit(this);
        m_testId->setObjectName(QStringLiteral("testIdEdit"));
        m_testId->setReadOnly(true); // it follows the chosen row
        actionRow->addWidget(m_testId);
        m_mapper = new QDataWidgetMapper(this);
        m_mapper->setModel(m_model);
        m_mapper->addMapping(m_testId, 1);
        connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, m_mapper,
                &QDataWidgetMapper::setCurrentModelIndex);
    }
    // The same actions in every list, on the chosen row.
    m_reportButton = plainButton(tr("查看报告"), this);
    m_printButton = plainButton(tr("打印报告"), this);
    m_viewButton = plainButton(tr("查看详情"), this);
    m_viewButton->setToolTip(tr("在主窗口的结果页中显示所选记录，并关闭本列表"));
    m_deleteButton = plainButton(tr("删除"), this);
    m_uploadButton = plainButton(tr("上传数据"), this);
    m_uploadButton->setIcon(QIcon(QStringLiteral(":/image/icon-upload.png")));
    for (QPushButton *button : {m_reportButton, m_printButton, m_viewButton, m_deleteButton, m_uploadButton})
        actionRow->addWidget(button);
    if (person) {
        m_historyButton = plainButton(tr("历史趋势"), this);
        actionRow->addWidget(m_historyButton);
    }
    actionRow->addStretch(1);
    layout->addLayout(actionRow);
    m_uploadStatus = new QLabel(this);
    m_uploadStatus->setObjectName(QStringLiteral("uploadStatus"));
    m_uploadStatus->setWordWrap(true);
    m_uploadStatus->hide();
    layout->addWidget(m_uploadStatus);

    if (!person) {
        auto *printRow = new QHBoxLayout;
        printRow->addWidget(new QLabel(tr("打印起止测试编号"), this));
        m_printStart = rangeField("printStartEdit", this);
        printRow->addWidget(m_printStart);
        printRow->addWidget(new QLabel(tr(" - "), this));
        m_printEnd = rangeField("printEndEdit", this);
        printRow->addWidget(m_printEnd);
        m_batchPrintButton = plainButton(tr("批量打印"), this);
        printRow->addWidget(m_batchPrintButton);
        printRow->addStretch(1);
        layout->addLayout(printRow);
    }

    showAll();
}

void ResultListDlg::setResultTable(ResultTable table)
{
    if (table == m_table)
        return;
    m_table = table;
    m_model->setSexColumn(table == ResultTable::Fitness ? -1 : kResultSexColumn);
    if (m_tabs)
        m_tabs->setCurrentIndex(table == ResultTable::Fitness ? 1 : 0);
    m_search->clear();
    showAll();
    emit resultTableChanged();
}

void ResultListDlg::select(const QString &namePrefix)
{
    m_shownPrefix = namePrefix;
    const QString uid =
        m_kind == Kind::Person ? (m_personUid.isNull() ? QStringLiteral("") : m_personUid) : QString();
    if (namePrefix.isNull() && uid.isNull()) {
        // The full lists keep their own query texts.
        if (m_table == ResultTable::Fitness)
            initilizeModelFitResult(m_model);
        else
            initializeModelResult(m_model);
    } else {
        resultlists::selectResults(m_model, m_table, {uid, namePrefix});
    }
    fitColumns();
    // The test-number field shows the first row again, or nothing when the
    // list is empty (never a number no longer listed).
    if (m_mapper) {
        if (m_model->rowCount() > 0)
            m_mapper->toFirst();
        else
            m_testId->clear();
    }
}

void ResultListDlg::fitColumns()
{
    // Dates and headers shown whole; names of three characters (and
    // compound surnames) fit without "...". Only the loaded rows are measured.
    m_view->ensurePolished();
    m_view->resizeColumnsToContents();
    const int width = m_view->fontMetrics().horizontalAdvance(QStringLiteral("欧阳小明")) + 16;
    m_view->setColumnWidth(kNameColumn, std::max(m_view->columnWidth(kNameColumn), width));
}

void ResultListDlg::search()
{
    select(m_search->text().isNull() ? QStringLiteral("") : m_search->text());
}

void ResultListDlg::showAll()
{
    select(QString());
}

void ResultListDlg::refresh()
{
    // New rows come first: the chosen test is found again by its number.
    const int row = m_view->currentIndex().row();
    const QVariant chosen = row >= 0 ? m_model->index(row, kTestIdColumn).data() : QVariant();
    select(m_shownPrefix);
    if (!chosen.isValid())
        return;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        if (m_model->index(r, kTestIdColumn).data() == chosen) {
            m_view->selectRow(r);
            if (m_mapper)
                m_mapper->setCurrentIndex(r);
            return;
        }
    }
}

int ResultListDlg::chosenTestId() const
{
    if (m_testId)
        return resultlists::testIdFromText(m_testId->text());
    // The person dialog has no test-number field: take the current row, or
    // the first one as the other dialogs' fields do before a choice.
    int row = m_view->currentIndex().row();
    if (row < 0 && m_model->rowCount() > 0)
        row = 0;
    return m_model->index(row, 1).data(Qt::EditRole).toInt();
}

void ResultListDlg::deleteSelected()
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    const QList<int> testIds = resultlists::selectedTestIds(selected);
    if (testIds.isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("没有选择记录！"), QMessageBox::Cancel);
        return;
    }
    // The question names what goes: the one test and its person, or how many.
    QString question = tr("确定删除所选的 %1 条记录吗？").arg(testIds.size());
    if (testIds.size() == 1) {
        for (const QModelIndex &index : selected) {
            if (index.column() == 1)
                question = tr("确定删除测试编号 %1（%2）的记录吗？")
                               .arg(testIds.first())
                               .arg(m_model->index(index.row(), kNameColumn).data().toString());
        }
    }
    const auto answer = QMessageBox::warning(this, tr("删除数据"), question,
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        qDebug() << "you press no";
    } else {
        qDebug() << "you press yes";
        const resultlists::DeleteOutcome outcome = resultlists::deleteTests(m_table, testIds);
        if (!outcome.failed.isEmpty()) {
            qDebug() << "not deleted:" << outcome.failed << outcome.error;
            const QString why = exchange::systemErrorText(outcome.error);
            QMessageBox::warning(this, tr("删除数据"),
                                 why.isEmpty() ? tr("删除记录出错！") : tr("删除记录出错！\n%1").arg(why),
                                 QMessageBox::Yes);
        }
    }
    // A person's dialog goes on listing only that person's results.
    showAll();
}
