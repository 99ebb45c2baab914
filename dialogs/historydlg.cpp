#include "dialogs/historydlg.h"

#include "reports/historyplot.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <qwt_plot.h>

using namespace history;

namespace {

QTableWidgetItem *cell(const QString &text, const QColor &colour = QColor(Qt::black))
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setForeground(colour);
    return item;
}

QTableWidget *newTable(const QStringList &headers, int rows, QWidget *parent)
{
    auto *table = new QTableWidget(rows, headers.size(), parent);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->setWordWrap(false);
    // Column widths from the first rows: hundreds of tests open at once.
    table->horizontalHeader()->setResizeContentsPrecision(64);
    return table;
}

QString dateCell(const QDateTime &when, const QString &text)
{
    return when.isValid() ? when.date().toString(QStringLiteral("yyyy-MM-dd")) : text;
}

QwtPlot *livePlot(const PlotSpec &spec, QWidget *parent)
{
    auto *plot = new QwtPlot(parent);
    setUpPlot(*plot, spec, PlotTarget::Screen);
    plot->setMinimumSize(320, 180);
    plot->replot();
    return plot;
}

QLabel *sentence(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    label->setFont(font);
    return label;
}

void showNewest(QTableWidget *table)
{
    table->resizeColumnsToContents();
    // The newest test in view, unselected so its colours show.
    table->scrollToBottom();
}

} // namespace

HistoryDlg::HistoryDlg(PersonHistory history, QWidget *parent)
    : QDialog(parent), m_history(std::move(history))
{
    const PersonInfo &who = m_history.person;
    setWindowTitle(tr("历史趋势 - %1").arg(who.name.isEmpty() ? who.uid : who.name));
    setWindowFlags(Qt::Dialog | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(1100, 820);

    auto *layout = new QVBoxLayout(this);
    const QString sex =
        who.sex == QLatin1String("1") ? tr("男") : (who.sex == QLatin1String("2") ? tr("女") : who.sex);
    auto *header =
        new QLabel(tr("姓名：%1    用户编号：%2    性别：%3    出生年份：%4    体成分测试 %5 次    "
                      "体质测试 %6 次")
                       .arg(who.name, who.uid, sex)
                       .arg(who.birthYear > 0 ? QString::number(who.birthYear) : QStringLiteral("—"))
                       .arg(m_history.bca.size())
                       .arg(m_history.fitness.size()),
                   this);
    header->setObjectName(QStringLiteral("historyHeader"));
    layout->addWidget(header);

    if (m_history.isEmpty()) {
        m_emptyLabel =
            sentence(tr("该人员还没有体成分或体质测试记录，完成测试后即可在这里查看历史趋势。"), this);
        layout->addWidget(m_emptyLabel, 1);
    } else {
        m_tabs = new QTabWidget(this);
        m_tabs->addTab(buildBcaTab(), tr("体成分"));
        m_tabs->addTab(buildFitnessTab(), tr("体质测试"));
        if (m_history.bca.isEmpty())
            m_tabs->setCurrentIndex(1);
        layout->addWidget(m_tabs, 1);
        layout->addWidget(new QLabel(tr("浅绿色区域为该人员的正常范围；变化一栏绿色表示向好，红色表示需注意。"
                                        "体质测试按每次测试时的年龄组评分。"),
                                     this));
    }

    auto *buttons = new QHBoxLayout;
    m_printButton = new QPushButton(tr("打印"), this);
    m_pdfButton = new QPushButton(tr("存为PDF文件"), this);
    auto *closeButton = new QPushButton(tr("关闭"), this);
    for (QPushButton *b : {m_printButton, m_pdfButton, closeButton})
        b->setAutoDefault(false);
    m_printButton->setEnabled(!m_history.isEmpty());
    m_pdfButton->setEnabled(!m_history.isEmpty());
    buttons->addStretch(1);
    buttons->addWidget(m_printButton);
    buttons->addWidget(m_pdfButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    connect(m_printButton, &QPushButton::clicked, this, &HistoryDlg::printRequested);
    connect(m_pdfButton, &QPushButton::clicked, this, &HistoryDlg::pdfRequested);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

QWidget *HistoryDlg::buildBcaTab()
{
    if (m_history.bca.isEmpty())
        return sentence(tr("该人员还没有体成分测试记录。"), this);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    auto *charts = new QWidget(splitter);
    auto *grid = new QGridLayout(charts);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int k = 0; k < MeasureCount; ++k) {
        const Measure m = kMeasures[size_t(k)];
        m_bcaPlots[size_t(k)] = livePlot(bcaPlotSpec(m_history, m), charts);
        grid->addWidget(m_bcaPlots[size_t(k)], k / 2, k % 2);
    }

    QStringList headers{tr("测试日期"), tr("测试编号")};
    for (Measure m : kMeasures)
        headers << measureTitle(m) << tr("较上次") << tr("较首次");
    headers << tr("体型");
    m_bcaTable = newTable(headers, m_history.bca.size(), splitter);
    m_bcaTable->setObjectName(QStringLiteral("bcaHistoryTable"));
    for (int row = 0; row < m_history.bca.size(); ++row) {
        const BcaTest &t = m_history.bca[row];
        m_bcaTable->setItem(row, 0, cell(dateCell(t.when, t.dateText)));
        m_bcaTable->setItem(row, 1, cell(QString::number(t.testId)));
        for (int k = 0; k < MeasureCount; ++k) {
            const int column = bcaValueColumn(kMeasures[size_t(k)]);
            const Change &previous = t.sincePrevious[size_t(k)];
            const Change &first = t.sinceFirst[size_t(k)];
            m_bcaTable->setItem(row, column, cell(formatMeasure(t.values[size_t(k)])));
            m_bcaTable->setItem(row, column + 1,
                                cell(formatChange(previous), verdictColour(previous.verdict)));
            m_bcaTable->setItem(row, column + 2, cell(formatChange(first), verdictColour(first.verdict)));
        }
        m_bcaTable->setItem(row, headers.size() - 1, cell(t.bodyType));
    }
    showNewest(m_bcaTable);
    splitter->setSizes({460, 240});
    return splitter;
}

QWidget *HistoryDlg::buildFitnessTab()
{
    if (m_history.fitness.isEmpty())
        return sentence(tr("该人员还没有体质测试记录。"), this);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    m_scorePlot = livePlot(totalScorePlotSpec(m_history), splitter);

    QStringList headers{tr("测试日期"), tr("测试编号"), tr("年龄"), tr("总分")};
    for (const FitnessColumn &c : kFitnessColumns)
        headers << QString::fromUtf8(c.caption);
    m_fitTable = newTable(headers, m_history.fitness.size(), splitter);
    m_fitTable->setObjectName(QStringLiteral("fitnessHistoryTable"));
    for (int row = 0; row < m_history.fitness.size(); ++row) {
        const FitnessTest &t = m_history.fitness[row];
        m_fitTable->setItem(row, 0, cell(dateCell(t.when, t.record.testDate)));
        m_fitTable->setItem(row, 1, cell(QString::number(t.testId)));
        m_fitTable->setItem(row, 2, cell(QString::number(t.age)));
        m_fitTable->setItem(row, 3, cell(QString::number(t.assessment.total)));
        int column = 4;
        for (const FitnessColumn &c : kFitnessColumns)
            m_fitTable->setItem(row, column++, cell(fitnessCell(t, c.item)));
    }
    showNewest(m_fitTable);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    return splitter;
}
