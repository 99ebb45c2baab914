#include "exchange/statscsv.h"

#include <QFileInfo>
#include <QObject>
#include <QSaveFile>

#include <cmath>

namespace exchange {

namespace {
using namespace reports;

enum Column {
    ColPart,
    ColSex,
    ColAge,
    ColItem,
    ColUnit,
    ColCount,
    ColMean,
    ColSd,
    ColMin,
    ColMax,
    ColGrades,                                 // four grade counts
    ColUngraded = ColGrades + StatsGradeCount, // measured, not graded
    ColGradeShares,                            // four shares
    ColRanges = ColGradeShares + StatsGradeCount,
    ColRangeShares = ColRanges + RangeSideCount,
    ColumnCount = ColRangeShares + RangeSideCount
};
static_assert(ColumnCount == 25, "25 columns");

QString number(double v, int decimals)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QString();
}

QString extreme(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', 6) : QString();
}

class Rows
{
public:
    QList<QStringList> lines;

    QStringList &start(const QString &part, const QString &sex, const QString &age, const QString &item,
                       const QString &unit = QString())
    {
        QStringList line;
        for (int i = 0; i < ColumnCount; ++i)
            line << QString();
        line[ColPart] = part;
        line[ColSex] = sex;
        line[ColAge] = age;
        line[ColItem] = item;
        line[ColUnit] = unit;
        lines << line;
        return lines.last();
    }

    // |computed| values (BMI of the fitness record) get two decimals, measured
    // ones are written as stored.
    static void values(QStringList &line, const RunningStats &s, bool computed = false)
    {
        line[ColCount] = QString::number(s.count());
        if (s.count() == 0)
            return;
        line[ColMean] = number(s.mean(), 2);
        line[ColSd] = number(s.sd(), 2);
        line[ColMin] = computed ? number(s.min(), 2) : extreme(s.min());
        line[ColMax] = computed ? number(s.max(), 2) : extreme(s.max());
    }

    void fitness(const FitnessGroupStats &g, const QString &sex, const QString &age)
    {
        if (g.records == 0)
            return;
        const QString part = QObject::tr("体质测试");
        start(part, sex, age, QObject::tr("测试人数"))[ColCount] = QString::number(g.records);
        for (const FitItem item : statsItemOrder()) {
            const FitnessItemStats &s = g.item(item);
            QStringList &line = start(part, sex, age, statsItemName(item), statsItemUnit(item));
            values(line, s.values, item == FitItem::BMI);
            if (s.values.count() == 0)
                continue;
            for (int grade = 0; grade < StatsGradeCount; ++grade) {
                line[ColGrades + grade] = QString::number(s.grades[size_t(grade)]);
                line[ColGradeShares + grade] = number(s.share(grade), 1);
            }
            line[ColUngraded] = QString::number(s.ungraded);
        }
        values(start(QObject::tr("体质总分"), sex, age, QObject::tr("总分"), QObject::tr("分")), g.total);
        for (int band = 0; band < TotalBandCount; ++band)
            start(QObject::tr("总分分布"), sex, age, totalBandName(band))[ColCount] =
                QString::number(g.totalBands[size_t(band)]);
    }

    void bca(const BcaGroupStats &g, const QString &sex, const QString &age)
    {
        if (g.records == 0)
            return;
        const QString part = QObject::tr("体成分测试");
        start(part, sex, age, QObject::tr("测试人数"))[ColCount] = QString::number(g.records);
        for (int q = 0; q < BcaQuantityCount; ++q) {
            const BcaQuantityStats &s = g.quantities[size_t(q)];
            QStringList &line = start(part, sex, age, bcaQuantityName(q), bcaQuantityUnit(q));
            values(line, s.values);
            if (q == BcaVfi || s.values.count() == 0)
                continue; // no normal range for the visceral fat index
            for (int side = 0; side < RangeSideCount; ++side) {
                line[ColRanges + side] = QString::number(s.ranges[size_t(side)]);
                line[ColRangeShares + side] = number(s.share(side), 1);
            }
        }
        for (int t = 0; t < BodyTypeCount; ++t)
            start(QObject::tr("体型"), sex, age, bodyTypeName(t))[ColCount] =
                QString::number(g.bodyTypes[size_t(t)]);
    }
};
} // namespace

QStringList statsCsvColumns()
{
    QStringList columns = {QObject::tr("分类"),   QObject::tr("性别"),   QObject::tr("年龄组"),
                           QObject::tr("项目"),   QObject::tr("单位"),   QObject::tr("人数"),
                           QObject::tr("平均值"), QObject::tr("标准差"), QObject::tr("最小值"),
                           QObject::tr("最大值")};
    for (int g = 0; g < StatsGradeCount; ++g)
        columns << statsGradeName(g);
    columns << QObject::tr("未评定");
    for (int g = 0; g < StatsGradeCount; ++g)
        columns << statsGradeName(g) + QObject::tr("率%");
    for (int r = 0; r < RangeSideCount; ++r)
        columns << rangeSideName(r);
    for (int r = 0; r < RangeSideCount; ++r)
        columns << rangeSideName(r) + QObject::tr("率%");
    return columns;
}

QList<QStringList> statsCsvRows(const GroupStatistics &stats)
{
    Rows rows;
    // The whole selection first, under the filter's sex and age group.
    const QString sex = statsSexName(stats.filter.sex);
    const QString age = statsAgeGroupName(stats.filter.ageGroup);
    rows.fitness(stats.fitness, sex, age);
    rows.bca(stats.bca, sex, age);
    for (int s = 0; s < StatsSexCount; ++s) {
        for (int a = 0; a < StatsAgeGroupCount; ++a) {
            rows.fitness(stats.fitnessCells[size_t(s)][size_t(a)], statsSexName(s), statsAgeGroupName(a));
            rows.bca(stats.bcaCells[size_t(s)][size_t(a)], statsSexName(s), statsAgeGroupName(a));
        }
    }
    return rows.lines;
}

ExportResult writeStatsCsv(const QString &path, const GroupStatistics &stats)
{
    ExportResult result;
    result.path = path;
    QByteArray data("\xEF\xBB\xBF");
    const auto appendLine = [&data](const QStringList &fields) {
        for (int i = 0; i < fields.size(); ++i) {
            if (i > 0)
                data += ',';
            appendCsvField(data, fields.at(i));
        }
        data += '\n';
    };
    appendLine(statsCsvColumns());
    const QList<QStringList> rows = statsCsvRows(stats);
    for (const QStringList &row : rows)
        appendLine(row);

    // Text mode: line ends are "\r\n" on Windows, "\n" elsewhere.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        result.error = QObject::tr("文件无法写入：%1").arg(file.errorString());
        return result;
    }
    if (file.write(data) != data.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        result.error = QObject::tr("文件写入失败：%1").arg(file.errorString());
        file.cancelWriting();
        return result;
    }
    if (!file.commit()) {
        result.error = QObject::tr("文件保存失败：%1").arg(file.errorString());
        return result;
    }
    result.ok = true;
    result.lines = rows.size();
    return result;
}

} // namespace exchange
