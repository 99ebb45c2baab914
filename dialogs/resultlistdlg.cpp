#include "dialogs/resultlistdlg.h"

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
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

using resultlists::ResultTable;

namespace {
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
    m_viewButton = plainButton(fitness ? tr("查看报告") : tr("查看详情"), this);
    actionRow->addWidget(m_viewButton);
    if (fitness) {
        m_printButton = plainButton(tr("打印报告"), this);
        actionRow->addWidget(m_printButton);
    }
    m_deleteButton = plainButton(tr("删除"), this);
    actionRow->addWidget(m_deleteButton);
    if (person) {
        m_historyButton = plainButton(tr("历史趋势"), this);
        actionRow->addWidget(m_historyButton);
    }
    if (!person) {
        m_uploadButton = plainButton(tr("上传数据"), this);
        m_uploadButton->setIcon(QIcon(fitness ? QStringLiteral(":/image/icon-upload2.png")
                                              : QStringLiteral(":/image/icon-upload.png")));
        actionRow->addWidget(m_uploadButton);
    }
    actionRow->addStretch(1);
    layout->addLayout(actionRow);

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

void ResultListDlg::select(const QString &namePrefix)
{
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
    if (selected.isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("没有选择记录！"), QMessageBox::Cancel);
        return;
    }
    const auto answer = QMessageBox::warning(this, tr("删除数据"), tr("你确定删除所选记录吗？"),
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        qDebug() << "you press no";
    } else {
        qDebug() << "you press yes";
        const resultlists::DeleteOutcome outcome =
            resultlists::deleteTests(m_table, resultlists::selectedTestIds(selected));
        if (!outcome.failed.isEmpty()) {
            qDebug() << "not deleted:" << outcome.failed << outcome.error;
            QMessageBox::warning(this, tr("删除数据"), tr("删除记录出错！"), QMessageBox::Yes);
        }
    }
    // A person's dialog goes on listing only that person's results.
    showAll();
}
