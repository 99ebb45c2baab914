#include "dialogs/statsdlg.h"

#include "exchange/statscsv.h"
#include "reports/layout.h"
#include "reports/statspage.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtNumeric>

#include <functional>

namespace {
using namespace reports;

// Columns |stretchFirst| to |stretchLast| share the room the others leave;
// the others fit their contents.
QTableWidget *makeTable(const QStringList &headers, QWidget *parent, int stretchFirst = 1,
                        int stretchLast = -1)
{
    auto *table = new QTableWidget(0, headers.size(), parent);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    QHeaderView *header = table->horizontalHeader();
    header->setMinimumSectionSize(56);
    for (int c = 0; c < headers.size(); ++c) {
        const bool stretch = c >= stretchFirst && (stretchLast < 0 || c <= stretchLast);
        header->setSectionResizeMode(c, stretch ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    }
    return table;
}

void setRow(QTableWidget *table, int row, const QStringList &cells)
{
    for (int c = 0; c < cells.size() && c < table->columnCount(); ++c) {
        auto *item = new QTableWidgetItem(cells.at(c));
        item->setTextAlignment(c == 0 ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignCenter));
        table->setItem(row, c, item);
    }
}

// "12 (30.0%)", or the count alone when there is no share.
QString countWithShare(qint64 n, double percent)
{
    const QString share = formatShare(percent);
    return share.isEmpty() ? QString::number(n) : QStringLiteral("%1 (%2)").arg(n).arg(share);
}

QString nameWithUnit(const QString &name, const QString &unit)
{
    return unit.isEmpty() ? name : QStringLiteral("%1(%2)").arg(name, unit);
}

QStringList valueCells(const RunningStats &s, int decimals, const std::function<QString(double)> &extreme)
{
    if (s.count() == 0)
        return {QStringLiteral("0"), QString(), QString(), QString(), QString()};
    return {QString::number(s.count()), formatStat(s.mean(), decimals), formatStat(s.sd(), decimals),
            extreme(s.min()), extreme(s.max())};
}
} // namespace

StatsDlg::StatsDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("统计分析"));
    setWindowFlags(Qt::Dialog | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(1040, 720);
    auto *layout = new QVBoxLayout(this);

    auto *filters = new QHBoxLayout;
    m_from = new QDateEdit(QDate::currentDate(), this);
    m_to = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
    }
    m_sex = new QComboBox(this);
    m_sex->addItem(tr("全部"), -1);
    for (int s = 0; s < StatsSexCount; ++s)
        m_sex->addItem(statsSexName(s), s);
    m_age = new QComboBox(this);
    m_age->addItem(tr("全部"), -1);
    for (int a = 0; a < StatsAgeGroupCount; ++a)
        m_age->addItem(statsAgeGroupName(a), a);
    m_run = new QPushButton(tr("统计"), this);
    m_run->setDefault(true);
    filters->addWidget(new QLabel(tr("开始日期"), this));
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(tr("结束日期"), this));
    filters->addWidget(m_to);
    filters->addSpacing(12);
    filters->addWidget(new QLabel(tr("性别"), this));
    filters->addWidget(m_sex);
    filters->addWidget(new QLabel(tr("年龄组"), this));
    filters->addWidget(m_age);
    filters->addSpacing(12);
    filters->addWidget(m_run);
    filters->addStretch();
    layout->addLayout(filters);

    m_summary = new QLabel(tr("选择日期范围后点击“统计”。"), this);
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);

    auto *groupRow = new QHBoxLayout;
    m_group = new QComboBox(this);
    m_group->setMinimumContentsLength(16);
    groupRow->addWidget(new QLabel(tr("显示分组"), this));
    groupRow->addWidget(m_group);
    groupRow->addStretch();
    layout->addLayout(groupRow);

    m_tabs = new QTabWidget(this);
    auto *fitPage = new QWidget(m_tabs);
    auto *fitLayout = new QVBoxLayout(fitPage);
    QStringList fitHeaders = {tr("项目"), tr("人数"), tr("平均值"), tr("标准差"), tr("最小值"), tr("最大值")};
    for (int g = 0; g < StatsGradeCount; ++g)
        fitHeaders << statsGradeName(g);
    fitHeaders << tr("未评定");
    m_fitness = makeTable(fitHeaders, fitPage, 1, 5);
    fitLayout->addWidget(m_fitness, 3);
    m_totalLine = new QLabel(fitPage);
    fitLayout->addWidget(m_totalLine);
    QStringList bands = {QString()};
    for (int b = 0; b < TotalBandCount; ++b)
        bands << totalBandName(b);
    m_total = makeTable(bands, fitPage);
    m_total->setRowCount(2);
    m_total->setFixedHeight(m_total->horizontalHeader()->sizeHint().height() +
                            2 * m_total->verticalHeader()->defaultSectionSize() + 2 * m_total->frameWidth() +
                            2);
    fitLayout->addWidget(m_total);
    m_tabs->addTab(fitPage, tr("体质测试"));

    auto *bcaPage = new QWidget(m_tabs);
    auto *bcaLayout = new QVBoxLayout(bcaPage);
    QStringList bcaHeaders = {tr("项目"), tr("人数"), tr("平均值"), tr("标准差"), tr("最小值"), tr("最大值")};
    for (int r = 0; r < RangeSideCount; ++r)
        bcaHeaders << rangeSideName(r);
    m_bca = makeTable(bcaHeaders, bcaPage, 1, 5);
    bcaLayout->addWidget(m_bca, 2);
    m_bodyTypes = makeTable({tr("体型"), tr("人数"), tr("比例")}, bcaPage);
    bcaLayout->addWidget(m_bodyTypes, 3);
    m_tabs->addTab(bcaPage, tr("体成分测试"));

    QStringList groupHeaders = {tr("组别"), tr("体质人数"), tr("总分平均"), tr("总分标准差"),
                                tr("体成分人数")};
    for (int q = 0; q < BcaQuantityCount; ++q)
        groupHeaders << tr("平均") + nameWithUnit(bcaQuantityName(q), bcaQuantityUnit(q));
    m_groups = makeTable(groupHeaders, this, groupHeaders.size());
    m_tabs->addTab(m_groups, tr("分组统计"));
    layout->addWidget(m_tabs, 1);

    auto *buttons = new QHBoxLayout;
    m_csv = new QPushButton(tr("导出CSV"), this);
    m_pdf = new QPushButton(tr("存为PDF文件"), this);
    m_print = new QPushButton(tr("打印"), this);
    buttons->addStretch();
    for (QPushButton *b : {m_csv, m_pdf, m_print}) {
        b->setEnabled(false);
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    connect(m_run, &QPushButton::clicked, this, &StatsDlg::compute);
    connect(m_csv, &QPushButton::clicked, this, &StatsDlg::exportCsv);
    connect(m_pdf, &QPushButton::clicked, this, &StatsDlg::savePdf);
    connect(m_print, &QPushButton::clicked, this, &StatsDlg::print);
    connect(m_group, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &StatsDlg::showGroup);
}

void StatsDlg::compute()
{
    qDebug() << "group statistics function";
    StatsFilter filter;
    filter.from = m_from->date();
    filter.to = m_to->date();
    filter.sex = m_sex->currentData().toInt();
    filter.ageGroup = m_age->currentData().toInt();
    const QString problem = checkStatsFilter(filter);
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("统计分析"), problem);
        return;
    }

    // Shown only when the run takes longer than half a second.
    QProgressDialog progress(tr("正在统计…"), tr("取消"), 0, 1, this);
    progress.setWindowTitle(tr("统计分析"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    const StatsOutcome outcome = computeGroupStatistics(filter, [&progress](qint64 done, qint64 total) {
        progress.setMaximum(int(qMax<qint64>(1, qMax(done, total))));
        progress.setValue(int(done));
        return !progress.wasCanceled();
    });
    progress.close();
    if (outcome.cancelled)
        return; // the tables keep the last statistics
    if (!outcome.ok) {
        QMessageBox::warning(this, tr("统计分析"), outcome.error);
        return;
    }
    m_stats = outcome.stats;
    m_computed = true;
    showStatistics();
}

void StatsDlg::showStatistics()
{
    for (QPushButton *b : {m_csv, m_pdf, m_print})
        b->setEnabled(true);
    m_summary->setText(m_stats.isEmpty() ? emptyStatsSentence(m_stats.filter)
                                         : tr("体质测试 %1 人，体成分测试 %2 人（%3）。")
                                               .arg(m_stats.fitness.records)
                                               .arg(m_stats.bca.records)
                                               .arg(describeFilter(m_stats.filter)));
    const QSignalBlocker block(m_group);
    m_group->clear();
    QStringList chosen;
    if (m_stats.filter.sex >= 0)
        chosen << statsSexName(m_stats.filter.sex);
    if (m_stats.filter.ageGroup >= 0)
        chosen << statsAgeGroupName(m_stats.filter.ageGroup);
    m_group->addItem(chosen.isEmpty() ? tr("全部") : tr("全部（%1）").arg(chosen.join(QStringLiteral("，"))),
                     -1);
    for (int s = 0; s < StatsSexCount; ++s) {
        for (int a = 0; a < StatsAgeGroupCount; ++a) {
            if (m_stats.fitnessCells[size_t(s)][size_t(a)].records +
                    m_stats.bcaCells[size_t(s)][size_t(a)].records >
                0)
                m_group->addItem(statsSexName(s) + QLatin1Char(' ') + statsAgeGroupName(a), s * 10 + a);
        }
    }
    showGroup();
    fillGroupTable();
}

void StatsDlg::showGroup()
{
    const int key = m_group->currentData().toInt();
    const bool whole = key < 0;
    const FitnessGroupStats &fit =
        whole ? m_stats.fitness : m_stats.fitnessCells[size_t(key / 10)][size_t(key % 10)];
    const BcaGroupStats &bca = whole ? m_stats.bca : m_stats.bcaCells[size_t(key / 10)][size_t(key % 10)];
    const bool empty = !m_computed || m_stats.isEmpty();

    m_fitness->clearContents();
    m_fitness->setRowCount(empty ? 0 : FitItemCount);
    int row = 0;
    for (const FitItem item : statsItemOrder()) {
        if (empty)
            break;
        const FitnessItemStats &s = fit.item(item);
        QStringList cells = {nameWithUnit(statsItemName(item), statsItemUnit(item))};
        cells << valueCells(s.values, statsItemDecimals(item),
                            [item](double v) { return formatItemValue(item, v); });
        if (s.values.count() > 0) {
            for (int g = 0; g < StatsGradeCount; ++g)
                cells << countWithShare(s.grades[size_t(g)], s.share(g));
            cells << QString::number(s.ungraded);
        }
        setRow(m_fitness, row++, cells);
    }

    const RunningStats &t = fit.total;
    m_totalLine->setText(empty || t.count() == 0
                             ? QString()
                             : tr("总分（满分110分）：%1 人，平均 %2，标准差 %3，最低 %4，最高 %5")
                                   .arg(t.count())
                                   .arg(formatStat(t.mean(), 1), formatStat(t.sd(), 1), formatValue(t.min()),
                                        formatValue(t.max())));
    m_total->clearContents();
    if (!empty && t.count() > 0) {
        QStringList counts = {tr("人数")};
        QStringList shares = {tr("比例")};
        for (int b = 0; b < TotalBandCount; ++b) {
            const qint64 n = fit.totalBands[size_t(b)];
            counts << QString::number(n);
            shares << formatShare(100.0 * double(n) / double(t.count()));
        }
        setRow(m_total, 0, counts);
        setRow(m_total, 1, shares);
    }

    m_bca->clearContents();
    m_bca->setRowCount(empty ? 0 : BcaQuantityCount);
    for (int q = 0; q < BcaQuantityCount && !empty; ++q) {
        const BcaQuantityStats &s = bca.quantities[size_t(q)];
        QStringList cells = {nameWithUnit(bcaQuantityName(q), bcaQuantityUnit(q))};
        cells << valueCells(s.values, bcaQuantityDecimals(q), [](double v) { return formatValue(v); });
        for (int r = 0; r < RangeSideCount && s.values.count() > 0; ++r)
            cells << (q == BcaVfi ? tr("无正常范围") : countWithShare(s.ranges[size_t(r)], s.share(r)));
        setRow(m_bca, q, cells);
    }

    qint64 typed = 0;
    for (qint64 n : bca.bodyTypes)
        typed += n;
    m_bodyTypes->setRowCount(0);
    for (int i = 0; i < BodyTypeCount && !empty; ++i) {
        const qint64 n = bca.bodyTypes[size_t(i)];
        if (i == BodyTypeCount - 1 && n == 0)
            continue;
        const int r = m_bodyTypes->rowCount();
        m_bodyTypes->insertRow(r);
        setRow(m_bodyTypes, r,
               {bodyTypeName(i), QString::number(n),
                formatShare(typed > 0 ? 100.0 * double(n) / double(typed) : qQNaN())});
    }
}

void StatsDlg::fillGroupTable()
{
    m_groups->setRowCount(0);
    for (int s = 0; s < StatsSexCount; ++s) {
        for (int a = 0; a < StatsAgeGroupCount; ++a) {
            const FitnessGroupStats &fit = m_stats.fitnessCells[size_t(s)][size_t(a)];
            const BcaGroupStats &bca = m_stats.bcaCells[size_t(s)][size_t(a)];
            if (fit.records + bca.records == 0)
                continue;
            QStringList cells = {statsSexName(s) + QLatin1Char(' ') + statsAgeGroupName(a),
                                 QString::number(fit.records), formatStat(fit.total.mean(), 1),
                                 formatStat(fit.total.sd(), 1), QString::number(bca.records)};
            if (fit.records == 0)
                cells[2] = cells[3] = QString();
            for (int q = 0; q < BcaQuantityCount; ++q) {
                const RunningStats &v = bca.quantities[size_t(q)].values;
                cells << (v.count() > 0 ? formatStat(v.mean(), bcaQuantityDecimals(q)) : QString());
            }
            const int row = m_groups->rowCount();
            m_groups->insertRow(row);
            setRow(m_groups, row, cells);
        }
    }
}

QString StatsDlg::chooseFile(const QString &caption, const QString &filter, const QString &suffix)
{
    QString path;
    if (m_hasPresetFile) {
        m_hasPresetFile = false;
        path = m_presetFile;
    } else {
        const QString name = QStringLiteral("../统计_%1_%2.%3")
                                 .arg(m_stats.filter.from.toString(QStringLiteral("yyyyMMdd")),
                                      m_stats.filter.to.toString(QStringLiteral("yyyyMMdd")), suffix);
        path = QFileDialog::getSaveFileName(this, caption, name, filter);
    }
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + suffix;
    return path;
}

void StatsDlg::exportCsv()
{
    qDebug() << "stats csv function";
    const QString path = chooseFile(tr("CSV file"), tr("Files (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    const exchange::ExportResult r = exchange::writeStatsCsv(path, m_stats);
    if (r.ok)
        QMessageBox::information(this, tr("导出数据成功"), tr("信息已保存在%1！").arg(path));
    else
        QMessageBox::warning(this, tr("导出失败"), tr("统计表没有保存：%1").arg(r.error));
}

void StatsDlg::savePdf()
{
    qDebug() << "stats pdf function";
    const QString path = chooseFile(tr("PDF file"), tr("Files (*.pdf)"), QStringLiteral("pdf"));
    if (path.isEmpty())
        return;
    QString error;
    if (writeStatisticsPdf(path, m_stats, &error))
        QMessageBox::information(this, tr("存为PDF文件"), tr("保存完毕：%1").arg(path));
    else
        QMessageBox::warning(this, tr("存为PDF文件"), error);
}

bool StatsDlg::choosePrinter(QPrinter &printer)
{
    printer.setPageSize(QPageSize(QPageSize::A4));
    if (m_hasPresetPrint) {
        m_hasPresetPrint = false;
        if (m_presetPrint.isEmpty())
            return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_presetPrint);
        return true;
    }
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
}

void StatsDlg::print()
{
    qDebug() << "stats print function";
    QPrinter printer(QPrinter::HighResolution);
    if (!choosePrinter(printer))
        return;
    if (printStatistics(printer, m_stats).failed)
        QMessageBox::warning(this, tr("打印"),
                             tr("无法开始打印，请检查打印机或输出文件 %1。").arg(printer.outputFileName()));
}
