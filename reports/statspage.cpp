// Statistics pages. Positions are page units (960 x 1358); text is drawn
// in the reports' font with pixel sizes in page units, so the page is the
// same on screen, paper and PDF. Fills are opaque (a print queue turns pages
// with transparency into pictures).
#include "reports/statspage.h"

#include "reports/layout.h"
#include "reports/reportpage.h"

#include <QPainter>
#include <QtMath>

#include <cmath>
#include <vector>

namespace reports {

namespace {

constexpr int kLeft = 50;
constexpr int kRight = 910;
constexpr int kRowHeight = 28;

const QColor kGradeColours[StatsGradeCount] = {QColor(46, 125, 50), QColor(129, 199, 132),
                                               QColor(255, 183, 77), QColor(229, 115, 115)};
const QColor kRangeColours[RangeSideCount] = {QColor(100, 181, 246), QColor(129, 199, 132),
                                              QColor(229, 115, 115)};
const QColor kHeaderFill(232, 236, 240);
const QColor kGridPen(150, 150, 150);
const QColor kBarFill(90, 130, 180);

QFont pageFont(double points, bool bold = false)
{
    QFont font(reportFontFamily);
    font.setPixelSize(pointsToPixels(points));
    font.setBold(bold);
    return font;
}

// One column of a table: header text and width; numbers are centred.
struct Column
{
    QString title;
    int width;
};

// A part of a stacked bar: its share in percent and colour.
struct Segment
{
    double percent;
    QColor colour;
};

class StatsPainter
{
public:
    StatsPainter(QPainter &p, const GroupStatistics &s) : painter(p), stats(s) {}

    QPainter &painter;
    const GroupStatistics &stats;

    void header(const QString &part, const QDate &printedOn)
    {
        painter.setPen(Qt::black);
        painter.setFont(pageFont(20, true));
        painter.drawText(QRectF(kLeft, 40, kRight - kLeft, 40), Qt::AlignCenter,
                         QObject::tr("群体统计分析报告"));
        painter.setFont(pageFont(11));
        const QString unit =
            stats.unitName.isEmpty() ? QString() : QObject::tr("单位：%1").arg(stats.unitName);
        painter.drawText(QRectF(kLeft, 88, 430, 24), Qt::AlignLeft | Qt::AlignVCenter, unit);
        painter.drawText(
            QRectF(480, 88, kRight - 480, 24), Qt::AlignRight | Qt::AlignVCenter,
            QObject::tr("测试日期：%1 至 %2")
                .arg(stats.filter.from.toString(Qt::ISODate), stats.filter.to.toString(Qt::ISODate)));
        painter.drawText(QRectF(kLeft, 114, 430, 24), Qt::AlignLeft | Qt::AlignVCenter,
                         QObject::tr("性别：%1    年龄组：%2")
                             .arg(statsSexName(stats.filter.sex), statsAgeGroupName(stats.filter.ageGroup)));
        painter.drawText(QRectF(480, 114, kRight - 480, 24), Qt::AlignRight | Qt::AlignVCenter,
                         QObject::tr("制表日期：%1").arg(printedOn.toString(Qt::ISODate)));
        painter.setPen(QPen(Qt::black, 2));
        painter.drawLine(QPointF(kLeft, 146), QPointF(kRight, 146));
        if (!part.isEmpty())
            heading(182, part);
    }

    void heading(int y, const QString &text)
    {
        painter.setPen(Qt::black);
        painter.setFont(pageFont(14, true));
        painter.drawText(QPointF(kLeft, y), text);
    }

    void footer(int page, int pages)
    {
        painter.setPen(Qt::black);
        painter.setFont(pageFont(10));
        painter.drawText(QRectF(kLeft, 1310, kRight - kLeft, 24), Qt::AlignCenter,
                         QObject::tr("第 %1 页 / 共 %2 页").arg(page + 1).arg(pages));
    }

    void note(int y, const QString &text)
    {
        painter.setPen(QColor(70, 70, 70));
        painter.setFont(pageFont(9));
        painter.drawText(QRectF(kLeft, y, kRight - kLeft, 20), Qt::AlignLeft | Qt::AlignVCenter, text);
    }

    // Header row of a table at |y|; returns the y of the first body row.
    int tableHeader(int y, const std::vector<Column> &columns)
    {
        int x = kLeft;
        painter.setFont(pageFont(10, true));
        for (const Column &c : columns) {
            const QRectF cell(x, y, c.width, kRowHeight + 4);
            painter.setPen(QPen(kGridPen, 1));
            painter.setBrush(kHeaderFill);
            painter.drawRect(cell);
            painter.setPen(Qt::black);
            painter.drawText(cell, Qt::AlignCenter, c.title);
            x += c.width;
        }
        painter.setBrush(Qt::NoBrush);
        return y + kRowHeight + 4;
    }

    // Text cells of one body row; the first is left-aligned. Returns the x
    // after the text cells.
    int tableRow(int y, const std::vector<Column> &columns, const QStringList &cells)
    {
        int x = kLeft;
        painter.setFont(pageFont(10));
        for (size_t i = 0; i < columns.size(); ++i) {
            const QRectF cell(x, y, columns[i].width, kRowHeight);
            painter.setPen(QPen(kGridPen, 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(cell);
            painter.setPen(Qt::black);
            if (int(i) < cells.size()) {
                if (i == 0)
                    painter.drawText(cell.adjusted(8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                                     cells.at(0));
                else
                    painter.drawText(cell, Qt::AlignCenter, cells.at(int(i)));
            }
            x += columns[i].width;
        }
        return x;
    }

    // A bar of shares stacked left to right inside |rect|, each part labelled
    // with its percentage when there is room for it.
    void stackedBar(const QRectF &rect, const std::vector<Segment> &segments)
    {
        const QRectF bar = rect.adjusted(6, 6, -6, -6);
        double x = bar.left();
        painter.setFont(pageFont(8));
        const QFontMetricsF metrics(painter.font(), painter.device());
        for (const Segment &s : segments) {
            if (!std::isfinite(s.percent) || s.percent <= 0)
                continue;
            const double w = bar.width() * s.percent / 100.0;
            const QRectF part(x, bar.top(), w, bar.height());
            painter.setPen(Qt::NoPen);
            painter.setBrush(s.colour);
            painter.drawRect(part);
            const QString label = QString::number(s.percent, 'f', s.percent >= 10 ? 0 : 1) + QLatin1Char('%');
            if (metrics.horizontalAdvance(label) + 4 <= w) {
                painter.setPen(s.colour.lightness() < 110 ? Qt::white : Qt::black);
                painter.drawText(part, Qt::AlignCenter, label);
            }
            x += w;
        }
        painter.setBrush(Qt::NoBrush);
    }

    void legend(int y, const QStringList &names, const QColor *colours)
    {
        painter.setFont(pageFont(9));
        const QFontMetricsF metrics(painter.font(), painter.device());
        double x = kLeft;
        for (int i = 0; i < names.size(); ++i) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colours[i]);
            painter.drawRect(QRectF(x, y + 4, 14, 12));
            painter.setBrush(Qt::NoBrush);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(x + 20, y + 15), names.at(i));
            x += 20 + metrics.horizontalAdvance(names.at(i)) + 24;
        }
    }

    void emptyPage()
    {
        painter.setPen(Qt::black);
        painter.setFont(pageFont(14));
        painter.drawText(QRectF(kLeft, 200, kRight - kLeft, 80), Qt::AlignLeft | Qt::TextWordWrap,
                         emptyStatsSentence(stats.filter));
    }

    void fitnessPage();
    void bcaPage();

private:
    int fitnessItems(int y);
    int totalDistribution(int y);
    int fitnessGroups(int y);
    int bcaQuantities(int y);
    int bodyTypes(int y);
    int bcaGroups(int y);
};

std::vector<Segment> gradeSegments(const FitnessItemStats &s)
{
    std::vector<Segment> out;
    out.reserve(StatsGradeCount);
    for (int g = 0; g < StatsGradeCount; ++g)
        out.push_back({s.share(g), kGradeColours[g]});
    return out;
}

// Every graded result of a group together: how its item results spread over the grades.
FitnessItemStats pooledGrades(const FitnessGroupStats &group)
{
    FitnessItemStats pooled;
    for (const FitnessItemStats &s : group.items) {
        for (int g = 0; g < StatsGradeCount; ++g)
            pooled.grades[size_t(g)] += s.grades[size_t(g)];
    }
    return pooled;
}

QStringList gradeNames()
{
    QStringList names;
    for (int g = 0; g < StatsGradeCount; ++g)
        names << statsGradeName(g);
    return names;
}

QStringList rangeNames()
{
    QStringList names;
    for (int r = 0; r < RangeSideCount; ++r)
        names << rangeSideName(r);
    return names;
}

int StatsPainter::fitnessItems(int y)
{
    const std::vector<Column> columns = {
        {QObject::tr("项目"), 150},  {QObject::tr("人数"), 50},     {QObject::tr("平均值"), 70},
        {QObject::tr("标准差"), 70}, {QObject::tr("最小值"), 65},   {QObject::tr("最大值"), 65},
        {QObject::tr("优秀"), 46},   {QObject::tr("良好"), 46},     {QObject::tr("及格"), 46},
        {QObject::tr("不及格"), 52}, {QObject::tr("等级分布"), 196}};
    y = tableHeader(y, columns);
    bool anyUngraded = false;
    for (const FitItem item : statsItemOrder()) {
        const FitnessItemStats &s = stats.fitness.item(item);
        const int decimals = statsItemDecimals(item);
        const QString unit = statsItemUnit(item);
        const QString name =
            unit.isEmpty() ? statsItemName(item) : QStringLiteral("%1(%2)").arg(statsItemName(item), unit);
        QStringList cells = {name, QString::number(s.values.count())};
        if (s.values.count() > 0) {
            cells << formatStat(s.values.mean(), decimals) << formatStat(s.values.sd(), decimals)
                  << formatItemValue(item, s.values.min()) << formatItemValue(item, s.values.max());
            for (int g = 0; g < StatsGradeCount; ++g)
                cells << QString::number(s.grades[size_t(g)]);
        }
        const int x = tableRow(y, columns, cells);
        const QRectF barCell(x - columns.back().width, y, columns.back().width, kRowHeight);
        if (s.graded() > 0)
            stackedBar(barCell, gradeSegments(s));
        anyUngraded = anyUngraded || s.ungraded > 0;
        y += kRowHeight;
    }
    legend(y + 6, gradeNames(), kGradeColours);
    y += 30;
    note(y, QObject::tr("未测的项目（0或空）不计入该项目。各项按本人测试日期的年龄组评定等级。"));
    y += 20;
    if (anyUngraded) {
        note(y, QObject::tr("20岁以下只评定BMI和立定跳远，其余项目计入人数和平均值，不评定等级。"));
        y += 20;
    }
    return y;
}

int StatsPainter::totalDistribution(int y)
{
    const RunningStats &t = stats.fitness.total;
    heading(y + 24, QObject::tr("总分分布（满分110分）"));
    painter.setFont(pageFont(10));
    painter.drawText(
        QPointF(kLeft + 260, y + 24),
        QObject::tr("人数 %1    平均 %2    标准差 %3    最低 %4    最高 %5")
            .arg(t.count())
            .arg(formatStat(t.mean(), 1), formatStat(t.sd(), 1), formatValue(t.min()), formatValue(t.max())));
    const int top = y + 50;
    const int chartHeight = 170;
    const int baseline = top + chartHeight;
    qint64 most = 1;
    for (qint64 n : stats.fitness.totalBands)
        most = std::max(most, n);
    const double slot = double(kRight - kLeft) / TotalBandCount;
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(QPointF(kLeft, baseline), QPointF(kRight, baseline));
    for (int b = 0; b < TotalBandCount; ++b) {
        const qint64 n = stats.fitness.totalBands[size_t(b)];
        const double h = (chartHeight - 22) * double(n) / double(most);
        const double x = kLeft + b * slot;
        if (n > 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(kBarFill);
            painter.drawRect(QRectF(x + 12, baseline - h, slot - 24, h));
            painter.setBrush(Qt::NoBrush);
        }
        painter.setPen(Qt::black);
        painter.setFont(pageFont(9));
        painter.drawText(QRectF(x, baseline - h - 20, slot, 18), Qt::AlignCenter, QString::number(n));
        painter.drawText(QRectF(x, baseline + 2, slot, 18), Qt::AlignCenter, totalBandName(b));
    }
    return baseline + 24;
}

int StatsPainter::fitnessGroups(int y)
{
    heading(y + 24, QObject::tr("按性别和年龄组"));
    y += 38;
    const std::vector<Column> columns = {{QObject::tr("组别"), 150},        {QObject::tr("人数"), 60},
                                         {QObject::tr("总分平均"), 80},     {QObject::tr("总分标准差"), 90},
                                         {QObject::tr("最低"), 55},         {QObject::tr("最高"), 55},
                                         {QObject::tr("各项等级合计"), 370}};
    y = tableHeader(y, columns);
    for (int sex = 0; sex < StatsSexCount; ++sex) {
        for (int group = 0; group < StatsAgeGroupCount; ++group) {
            const FitnessGroupStats &cell = stats.fitnessCells[size_t(sex)][size_t(group)];
            if (cell.records == 0)
                continue;
            const RunningStats &t = cell.total;
            const int x = tableRow(y, columns,
                                   {statsSexName(sex) + QLatin1Char(' ') + statsAgeGroupName(group),
                                    QString::number(cell.records), formatStat(t.mean(), 1),
                                    formatStat(t.sd(), 1), formatValue(t.min()), formatValue(t.max())});
            const FitnessItemStats pooled = pooledGrades(cell);
            if (pooled.graded() > 0)
                stackedBar(QRectF(x - columns.back().width, y, columns.back().width, kRowHeight),
                           gradeSegments(pooled));
            y += kRowHeight;
        }
    }
    return y;
}

void StatsPainter::fitnessPage()
{
    int y = fitnessItems(200);
    y = totalDistribution(y + 6);
    fitnessGroups(y + 10);
}

int StatsPainter::bcaQuantities(int y)
{
    const std::vector<Column> columns = {{QObject::tr("项目"), 150},  {QObject::tr("人数"), 55},
                                         {QObject::tr("平均值"), 75}, {QObject::tr("标准差"), 75},
                                         {QObject::tr("最小值"), 70}, {QObject::tr("最大值"), 70},
                                         {QObject::tr("偏低"), 50},   {QObject::tr("正常"), 50},
                                         {QObject::tr("偏高"), 50},   {QObject::tr("正常范围分布"), 215}};
    y = tableHeader(y, columns);
    for (int q = 0; q < BcaQuantityCount; ++q) {
        const BcaQuantityStats &s = stats.bca.quantities[size_t(q)];
        const QString unit = bcaQuantityUnit(q);
        const QString name =
            unit.isEmpty() ? bcaQuantityName(q) : QStringLiteral("%1(%2)").arg(bcaQuantityName(q), unit);
        QStringList cells = {name, QString::number(s.values.count())};
        if (s.values.count() > 0) {
            const int d = bcaQuantityDecimals(q);
            cells << formatStat(s.values.mean(), d) << formatStat(s.values.sd(), d)
                  << formatValue(s.values.min()) << formatValue(s.values.max());
            for (int r = 0; r < RangeSideCount; ++r)
                cells << (q == BcaVfi ? QStringLiteral("—") : QString::number(s.ranges[size_t(r)]));
        }
        const int x = tableRow(y, columns, cells);
        const QRectF barCell(x - columns.back().width, y, columns.back().width, kRowHeight);
        if (s.classified() > 0) {
            std::vector<Segment> segments;
            segments.reserve(RangeSideCount);
            for (int r = 0; r < RangeSideCount; ++r)
                segments.push_back({s.share(r), kRangeColours[r]});
            stackedBar(barCell, segments);
        }
        y += kRowHeight;
    }
    legend(y + 6, rangeNames(), kRangeColours);
    y += 30;
    note(y,
         QObject::tr("正常范围与体成分报告相同：体重按身高和性别，BMI 18.5-23.9，体脂率男10-20%、女18-28%，"
                     "骨骼肌按身高和性别；内脏脂肪指数无正常范围。"));
    return y + 20;
}

int StatsPainter::bodyTypes(int y)
{
    heading(y + 24, QObject::tr("体型分布"));
    y += 38;
    const std::vector<Column> columns = {
        {QObject::tr("体型"), 150}, {QObject::tr("人数"), 70}, {QObject::tr("比例"), 80}, {QString(), 560}};
    y = tableHeader(y, columns);
    qint64 typed = 0;
    qint64 most = 1;
    for (qint64 n : stats.bca.bodyTypes) {
        typed += n;
        most = std::max(most, n);
    }
    for (int t = 0; t < BodyTypeCount; ++t) {
        const qint64 n = stats.bca.bodyTypes[size_t(t)];
        if (t == BodyTypeCount - 1 && n == 0)
            continue; // "其他" only when such words were stored
        const int x = tableRow(y, columns,
                               {bodyTypeName(t), QString::number(n),
                                formatShare(typed > 0 ? 100.0 * double(n) / double(typed) : qQNaN())});
        if (n > 0) {
            const QRectF cell(x - columns.back().width, y, columns.back().width, kRowHeight);
            const QRectF bar = cell.adjusted(6, 7, -6, -7);
            painter.setPen(Qt::NoPen);
            painter.setBrush(kBarFill);
            painter.drawRect(
                QRectF(bar.left(), bar.top(), bar.width() * double(n) / double(most), bar.height()));
            painter.setBrush(Qt::NoBrush);
        }
        y += kRowHeight;
    }
    return y;
}

int StatsPainter::bcaGroups(int y)
{
    heading(y + 24, QObject::tr("按性别和年龄组（平均值）"));
    y += 38;
    std::vector<Column> columns = {{QObject::tr("组别"), 175}, {QObject::tr("人数"), 60}};
    for (int q = 0; q < BcaQuantityCount; ++q) {
        const QString unit = bcaQuantityUnit(q);
        columns.push_back(
            {unit.isEmpty() ? bcaQuantityName(q) : QStringLiteral("%1(%2)").arg(bcaQuantityName(q), unit),
             125});
    }
    y = tableHeader(y, columns);
    for (int sex = 0; sex < StatsSexCount; ++sex) {
        for (int group = 0; group < StatsAgeGroupCount; ++group) {
            const BcaGroupStats &cell = stats.bcaCells[size_t(sex)][size_t(group)];
            if (cell.records == 0)
                continue;
            QStringList cells = {statsSexName(sex) + QLatin1Char(' ') + statsAgeGroupName(group),
                                 QString::number(cell.records)};
            for (int q = 0; q < BcaQuantityCount; ++q) {
                const RunningStats &v = cell.quantities[size_t(q)].values;
                const int d = bcaQuantityDecimals(q);
                cells << (v.count() == 0  ? QString()
                          : v.count() < 2 ? formatStat(v.mean(), d)
                                          : QStringLiteral("%1 ± %2").arg(formatStat(v.mean(), d),
                                                                          formatStat(v.sd(), d)));
            }
            tableRow(y, columns, cells);
            y += kRowHeight;
        }
    }
    return y;
}

void StatsPainter::bcaPage()
{
    int y = bcaQuantities(200);
    y = bodyTypes(y + 6);
    bcaGroups(y + 10);
}

enum class PageKind { Fitness, Bca, Empty };

std::vector<PageKind> pagesOf(const GroupStatistics &stats)
{
    std::vector<PageKind> pages;
    if (stats.fitness.records > 0)
        pages.push_back(PageKind::Fitness);
    if (stats.bca.records > 0)
        pages.push_back(PageKind::Bca);
    if (pages.empty())
        pages.push_back(PageKind::Empty);
    return pages;
}

} // namespace

int statisticsPageCount(const GroupStatistics &stats)
{
    return int(pagesOf(stats).size());
}

void paintStatisticsPage(QPainter &painter, const GroupStatistics &stats, int page, const QDate &printedOn)
{
    const std::vector<PageKind> pages = pagesOf(stats);
    if (page < 0 || page >= int(pages.size()))
        return;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.fillRect(QRect(0, 0, PageWidth, PageHeight), Qt::white);
    StatsPainter p(painter, stats);
    switch (pages[size_t(page)]) {
    case PageKind::Fitness:
        p.header(QObject::tr("一、体质测试（%1 人）").arg(stats.fitness.records), printedOn);
        p.fitnessPage();
        break;
    case PageKind::Bca:
        p.header(QObject::tr("%1、体成分测试（%2 人）")
                     .arg(pages.size() > 1 ? QObject::tr("二") : QObject::tr("一"))
                     .arg(stats.bca.records),
                 printedOn);
        p.bcaPage();
        break;
    case PageKind::Empty:
        p.header(QString(), printedOn);
        p.emptyPage();
        break;
    }
    p.footer(page, int(pages.size()));
    painter.restore();
}

PrintOutcome printStatistics(QPagedPaintDevice &device, const GroupStatistics &stats)
{
    return printPages(device, statisticsPageCount(stats),
                      [&stats](QPainter &painter, int page) { paintStatisticsPage(painter, stats, page); });
}

bool writeStatisticsPdf(const QString &path, const GroupStatistics &stats, QString *error)
{
    return writePagesPdf(
        path, statisticsPageCount(stats),
        [&stats](QPainter &painter, int page) { paintStatisticsPage(painter, stats, page); }, error,
        QObject::tr("群体统计分析报告 %1").arg(describeFilter(stats.filter)));
}

} // namespace reports
