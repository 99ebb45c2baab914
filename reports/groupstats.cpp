#include "reports/groupstats.h"

#include "app/dbtarget.h"
#include "records/indicators.h"
#include "reports/layout.h"

#include <QDebug>
#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace reports {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double percent(qint64 part, qint64 whole)
{
    return whole > 0 ? 100.0 * double(part) / double(whole) : kNaN;
}

int gradeIndex(const QString &word)
{
    if (word == QStringLiteral("优秀"))
        return GradeExcellent;
    if (word == QStringLiteral("良好"))
        return GradeGood;
    if (word == QStringLiteral("及格"))
        return GradePass;
    return GradeFail;
}

double itemValue(const FitnessRecord &r, FitItem item, double bmi)
{
    switch (item) {
    case FitItem::BMI:
        return bmi;
    case FitItem::TY:
        return r.ty;
    case FitItem::FWC:
        return r.fwc;
    case FitItem::YWQZ:
        return r.ywqz;
    case FitItem::WOLI:
        return r.woli;
    case FitItem::FHL:
        return r.fhl;
    case FitItem::TQQ:
        return r.tqq;
    case FitItem::BYDJ:
        return r.bydj;
    case FitItem::ZT:
        return r.zt;
    case FitItem::TZ:
        return r.tz;
    case FitItem::FYS:
        return r.fys;
    case FitItem::Count:
        break;
    }
    return 0;
}

// Only BMI and the standing long jump are graded below 20.
bool gradedAtGroup(FitItem item, int group)
{
    return group != AgeUnder20 || item == FitItem::BMI || item == FitItem::TY;
}

void addToGroup(FitnessGroupStats &g, const FitnessRecord &r, const FitnessAssessment &a, int group)
{
    ++g.records;
    for (int i = 0; i < FitItemCount; ++i) {
        const FitItem item = FitItem(i);
        const double v = itemValue(r, item, a.bmi);
        // A value not measured (0, empty) is left out, not counted as 0.
        if (v == 0 || !std::isfinite(v))
            continue;
        FitnessItemStats &s = g.items[size_t(i)];
        s.values.add(v);
        if (gradedAtGroup(item, group))
            ++s.grades[size_t(gradeIndex(a.grade(item).word))];
        else
            ++s.ungraded;
    }
    g.total.add(a.total);
    ++g.totalBands[size_t(totalBand(a.total))];
}

void addToGroup(BcaGroupStats &g, const StatsAccumulator::BcaRow &row, bool male)
{
    ++g.records;
    const double values[BcaQuantityCount] = {row.weight, row.bmi, row.pbf, row.smm, row.vfi};
    for (int q = 0; q < BcaQuantityCount; ++q) {
        const double v = values[q];
        if (v == 0 || !std::isfinite(v))
            continue;
        BcaQuantityStats &s = g.quantities[size_t(q)];
        s.values.add(v);
        const int side = bcaRangeSide(q, male, row.height, row.weight, v);
        if (side >= 0)
            ++s.ranges[size_t(side)];
    }
    const int type = bodyTypeIndex(row.bodyType);
    if (type >= 0)
        ++g.bodyTypes[size_t(type)];
}

// Digits of |text| from |pos| (at most |maxDigits|); -1 when there are none.
int readNumber(const QString &text, int &pos, int maxDigits)
{
    int value = 0;
    int digits = 0;
    while (pos < text.size() && digits < maxDigits && text.at(pos).isDigit()) {
        value = value * 10 + text.at(pos).digitValue();
        ++pos;
        ++digits;
    }
    return digits == 0 ? -1 : value;
}

double columnDouble(const QSqlQuery &q, int column)
{
    bool ok = false;
    const double v = q.value(column).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}
} // namespace

int statsAgeGroup(int age)
{
    return ageGroup(age) + 1;
}

QString statsAgeGroupName(int group)
{
    switch (group) {
    case AgeUnder20:
        return QObject::tr("20岁以下");
    case Age20to24:
        return QObject::tr("20-24岁");
    case Age25to29:
        return QObject::tr("25-29岁");
    case Age30to34:
        return QObject::tr("30-34岁");
    case Age35Plus:
        return QObject::tr("35岁及以上");
    default:
        return QObject::tr("全部");
    }
}

QString statsSexName(int sex)
{
    switch (sex) {
    case SexMale:
        return QObject::tr("男");
    case SexFemale:
        return QObject::tr("女");
    default:
        return QObject::tr("全部");
    }
}

QString statsGradeName(int grade)
{
    static const char *const names[StatsGradeCount] = {"优秀", "良好", "及格", "不及格"};
    return grade >= 0 && grade < StatsGradeCount ? QString::fromUtf8(names[grade]) : QString();
}

const std::array<FitItem, FitItemCount> &statsItemOrder()
{
    static const std::array<FitItem, FitItemCount> order = {
        FitItem::BMI, FitItem::WOLI, FitItem::FHL, FitItem::FYS, FitItem::BYDJ, FitItem::TZ,
        FitItem::TQQ, FitItem::YWQZ, FitItem::FWC, FitItem::ZT,  FitItem::TY};
    return order;
}

QString statsItemName(FitItem item)
{
    switch (item) {
    case FitItem::BMI:
        return QStringLiteral("BMI");
    case FitItem::WOLI:
        return QObject::tr("握力");
    case FitItem::FHL:
        return QObject::tr("肺活量");
    case FitItem::FYS:
        return QObject::tr("选择反应时");
    case FitItem::BYDJ:
        return QObject::tr("闭眼单脚站立");
    case FitItem::TZ:
        return QObject::tr("台阶实验指数");
    case FitItem::TQQ:
        return QObject::tr("坐位体前屈");
    case FitItem::YWQZ:
        return QObject::tr("仰卧起坐");
    case FitItem::FWC:
        return QObject::tr("俯卧撑");
    case FitItem::ZT:
        return QObject::tr("纵跳");
    case FitItem::TY:
        return QObject::tr("立定跳远");
    case FitItem::Count:
        break;
    }
    return QString();
}

QString statsItemUnit(FitItem item)
{
    switch (item) {
    case FitItem::WOLI:
        return QStringLiteral("kg");
    case FitItem::FHL:
        return QStringLiteral("ml");
    case FitItem::FYS:
        return QStringLiteral("ms");
    case FitItem::BYDJ:
        return QStringLiteral("s");
    case FitItem::TQQ:
    case FitItem::ZT:
    case FitItem::TY:
        return QStringLiteral("cm");
    case FitItem::YWQZ:
    case FitItem::FWC:
        return QObject::tr("次");
    default:
        return QString();
    }
}

int totalBand(int total)
{
    return std::clamp(total / 10, 0, TotalBandCount - 1);
}

QString totalBandName(int band)
{
    if (band == TotalBandCount - 1)
        return QObject::tr("%1-110分").arg(band * 10);
    return QObject::tr("%1-%2分").arg(band * 10).arg(band * 10 + 9);
}

QString bcaQuantityName(int quantity)
{
    switch (quantity) {
    case BcaWeight:
        return QObject::tr("体重");
    case BcaBmi:
        return QStringLiteral("BMI");
    case BcaPbf:
        return QObject::tr("体脂率");
    case BcaSmm:
        return QObject::tr("骨骼肌");
    case BcaVfi:
        return QObject::tr("内脏脂肪指数");
    default:
        return QString();
    }
}

QString bcaQuantityUnit(int quantity)
{
    switch (quantity) {
    case BcaWeight:
    case BcaSmm:
        return QStringLiteral("kg");
    case BcaPbf:
        return QStringLiteral("%");
    default:
        return QString();
    }
}

QString bodyTypeName(int index)
{
    namespace bt = indicators::bodytype;
    const QString *const words[BodyTypeCount - 1] = {
        &bt::obese,  &bt::overweight,    &bt::athletic,           &bt::excessFat, &bt::healthy,
        &bt::lowFat, &bt::hiddenObesity, &bt::insufficientMuscle, &bt::thin};
    if (index >= 0 && index < BodyTypeCount - 1)
        return *words[index];
    return index == BodyTypeCount - 1 ? QObject::tr("其他") : QString();
}

int bodyTypeIndex(const QString &word)
{
    const QString w = word.trimmed();
    if (w.isEmpty())
        return -1;
    for (int i = 0; i < BodyTypeCount - 1; ++i) {
        if (w == bodyTypeName(i))
            return i;
    }
    return BodyTypeCount - 1;
}

QString rangeSideName(int side)
{
    static const char *const names[RangeSideCount] = {"偏低", "正常", "偏高"};
    return side >= 0 && side < RangeSideCount ? QString::fromUtf8(names[side]) : QString();
}

QString formatStat(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QString();
}

QString formatShare(double percent)
{
    return std::isfinite(percent) ? QString::number(percent, 'f', 1) + QLatin1Char('%') : QString();
}

int statsItemDecimals(FitItem item)
{
    return item == FitItem::FHL || item == FitItem::FYS ? 0 : 1;
}

QString formatItemValue(FitItem item, double value)
{
    return item == FitItem::BMI ? formatStat(value, 1) : formatValue(value);
}

int bcaQuantityDecimals(int)
{
    return 1;
}

void RunningStats::add(double value)
{
    // Welford's update: stable for long series of close values.
    ++m_count;
    const double delta = value - m_mean;
    m_mean += delta / double(m_count);
    m_m2 += delta * (value - m_mean);
    if (m_count == 1 || value < m_min)
        m_min = value;
    if (m_count == 1 || value > m_max)
        m_max = value;
}

double RunningStats::sd() const
{
    return m_count < 2 ? kNaN : std::sqrt(std::max(0.0, m_m2) / double(m_count - 1));
}

qint64 FitnessItemStats::graded() const
{
    qint64 n = 0;
    for (qint64 g : grades)
        n += g;
    return n;
}

double FitnessItemStats::share(int grade) const
{
    return percent(grades[size_t(grade)], graded());
}

qint64 BcaQuantityStats::classified() const
{
    return ranges[RangeBelow] + ranges[RangeWithin] + ranges[RangeAbove];
}

double BcaQuantityStats::share(int side) const
{
    return percent(ranges[size_t(side)], classified());
}

QString describeFilter(const StatsFilter &f)
{
    return QObject::tr("%1 至 %2，性别：%3，年龄组：%4")
        .arg(f.from.toString(Qt::ISODate), f.to.toString(Qt::ISODate), statsSexName(f.sex),
             statsAgeGroupName(f.ageGroup));
}

QString emptyStatsSentence(const StatsFilter &f)
{
    return QObject::tr("%1 至 %2 没有符合条件的测试结果（性别：%3，年龄组：%4）。")
        .arg(f.from.toString(Qt::ISODate), f.to.toString(Qt::ISODate), statsSexName(f.sex),
             statsAgeGroupName(f.ageGroup));
}

QString checkStatsFilter(const StatsFilter &f)
{
    if (!f.from.isValid() || !f.to.isValid())
        return QObject::tr("日期无效，请按 yyyy-MM-dd 输入开始和结束日期。");
    if (f.from > f.to)
        return QObject::tr("开始日期 %1 晚于结束日期 %2。")
            .arg(f.from.toString(Qt::ISODate), f.to.toString(Qt::ISODate));
    return QString();
}

QDate parseTestDay(const QString &text)
{
    int pos = 0;
    while (pos < text.size() && text.at(pos).isSpace())
        ++pos;
    const int start = pos;
    const int year = readNumber(text, pos, 8);
    if (year < 0)
        return QDate();
    if (pos - start == 8) // yyyyMMdd
        return QDate(year / 10000, year / 100 % 100, year % 100);
    if (pos - start != 4 || pos >= text.size())
        return QDate();
    const QChar sep = text.at(pos);
    if (sep != QLatin1Char('-') && sep != QLatin1Char('/') && sep != QLatin1Char('.'))
        return QDate();
    ++pos;
    const int month = readNumber(text, pos, 2);
    if (month < 0 || pos >= text.size() || text.at(pos) != sep)
        return QDate();
    ++pos;
    const int day = readNumber(text, pos, 2);
    if (day < 0 || (pos < text.size() && text.at(pos).isDigit()))
        return QDate();
    return QDate(year, month, day);
}

int bcaRangeSide(int quantity, bool male, double heightCm, double weightKg, double value)
{
    const bool needsHeight = quantity == BcaWeight || quantity == BcaSmm;
    if (quantity == BcaVfi || quantity < 0 || quantity >= BcaQuantityCount || (needsHeight && heightCm <= 0))
        return -1;
    const References refs = referenceValues(male, heightCm, weightKg);
    const Range range = quantity == BcaWeight ? refs.weight
                        : quantity == BcaBmi  ? refs.bmi
                        : quantity == BcaPbf  ? refs.pbf
                                              : refs.smm;
    if (value < range.low)
        return RangeBelow;
    return value > range.high ? RangeAbove : RangeWithin;
}

StatsAccumulator::StatsAccumulator(const StatsFilter &filter)
{
    m_stats.filter = filter;
}

bool StatsAccumulator::wanted(const QDate &day, int sex, int group) const
{
    const StatsFilter &f = m_stats.filter;
    if (!day.isValid() || day < f.from || day > f.to)
        return false;
    return (f.sex < 0 || f.sex == sex) && (f.ageGroup < 0 || f.ageGroup == group);
}

bool StatsAccumulator::addFitness(const FitnessRecord &record, const QDate &day)
{
    const int sex = record.isMale() ? SexMale : SexFemale;
    // Each result is graded in the age group of its own test date.
    const int age = day.isValid() ? day.year() - record.birthYear : 0;
    const int group = statsAgeGroup(age);
    if (!wanted(day, sex, group))
        return false;
    const FitnessAssessment a = gradeFitness(record, age);
    addToGroup(m_stats.fitness, record, a, group);
    addToGroup(m_stats.fitnessCells[size_t(sex)][size_t(group)], record, a, group);
    return true;
}

bool StatsAccumulator::addBca(const BcaRow &row, const QDate &day)
{
    const bool male = row.sex == QLatin1String("1");
    const int sex = male ? SexMale : SexFemale;
    const int group = statsAgeGroup(day.isValid() ? day.year() - row.birthYear : 0);
    if (!wanted(day, sex, group))
        return false;
    addToGroup(m_stats.bca, row, male);
    addToGroup(m_stats.bcaCells[size_t(sex)][size_t(group)], row, male);
    return true;
}

StatsOutcome computeGroupStatistics(const StatsFilter &filter, const StatsProgress &progress)
{
    StatsOutcome outcome;
    outcome.error = checkStatsFilter(filter);
    if (!outcome.error.isEmpty())
        return outcome;
    qDebug() << "group statistics:" << describeFilter(filter);

    // TestDate is text; any stored form starts with the year, so the
    // statement narrows to the years and the exact day is checked per row.
    const QString fromYear = QString::number(filter.from.year());
    const QString toYear = QString::number(filter.to.year() + 1);
    const QString where = QStringLiteral(" WHERE TestDate >= ? AND TestDate < ?");
    const auto run = [&](QSqlQuery &q, const QString &sql) {
        q.setForwardOnly(true);
        q.prepare(dbSql(sql));
        q.addBindValue(fromYear);
        q.addBindValue(toYear);
        if (q.exec())
            return true;
        qDebug() << "statistics query failed:" << q.lastError();
        outcome.error = QObject::tr("查询失败：%1").arg(q.lastError().text());
        return false;
    };

    qint64 total = 0;
    if (progress) {
        QSqlQuery count;
        if (!run(count, QStringLiteral("SELECT COUNT(*) FROM ResultFIT") + where))
            return outcome;
        total += count.next() ? count.value(0).toLongLong() : 0;
        count.finish();
        if (!run(count, QStringLiteral("SELECT COUNT(*) FROM Result") + where))
            return outcome;
        total += count.next() ? count.value(0).toLongLong() : 0;
    }
    qint64 done = 0;
    const auto step = [&]() {
        ++done;
        if (progress && (done & 0x3FF) == 0 && !progress(done, total)) {
            outcome.cancelled = true;
            outcome.error = QObject::tr("统计已取消");
            return false;
        }
        return true;
    };

    StatsAccumulator acc(filter);
    {
        QSqlQuery q;
        if (!run(q, QStringLiteral("SELECT Sex, BirthYear, TestDate, Height, Weight, WOLI, FHL, TQQ, TZ, "
                                   "YWQZ, FYS, FWC, BYDJ, ZT, TY FROM ResultFIT") +
                        where))
            return outcome;
        while (q.next()) {
            FitnessRecord r;
            r.sex = q.value(0).toString().trimmed();
            r.birthYear = q.value(1).toInt();
            r.testDate = q.value(2).toString();
            r.height = columnDouble(q, 3);
            r.weight = columnDouble(q, 4);
            r.woli = columnDouble(q, 5);
            r.fhl = q.value(6).toInt();
            r.tqq = columnDouble(q, 7);
            r.tz = columnDouble(q, 8);
            r.ywqz = q.value(9).toInt();
            r.fys = q.value(10).toInt();
            r.fwc = q.value(11).toInt();
            r.bydj = columnDouble(q, 12);
            r.zt = columnDouble(q, 13);
            r.ty = columnDouble(q, 14);
            acc.addFitness(r, parseTestDay(r.testDate));
            if (!step())
                return outcome;
        }
        if (q.lastError().isValid()) {
            outcome.error = QObject::tr("读取数据失败：%1").arg(q.lastError().text());
            return outcome;
        }
    }
    {
        QSqlQuery q;
        if (!run(q, QStringLiteral("SELECT Sex, BirthYear, TestDate, Height, Weight, BMI, PBF, SMM, VFI, "
                                   "BodyType FROM Result") +
                        where))
            return outcome;
        while (q.next()) {
            StatsAccumulator::BcaRow row;
            row.sex = q.value(0).toString().trimmed();
            row.birthYear = q.value(1).toInt();
            row.height = columnDouble(q, 3);
            row.weight = columnDouble(q, 4);
            row.bmi = columnDouble(q, 5);
            row.pbf = columnDouble(q, 6);
            row.smm = columnDouble(q, 7);
            row.vfi = columnDouble(q, 8);
            row.bodyType = q.value(9).toString();
            acc.addBca(row, parseTestDay(q.value(2).toString()));
            if (!step())
                return outcome;
        }
        if (q.lastError().isValid()) {
            outcome.error = QObject::tr("读取数据失败：%1").arg(q.lastError().text());
            return outcome;
        }
    }
    if (progress)
        progress(done, done);

    QSqlQuery unit;
    if (unit.exec(dbSql(QStringLiteral("SELECT UnitName FROM Unit LIMIT 1"))) && unit.next())
        acc.result().unitName = unit.value(0).toString();
    outcome.stats = acc.result();
    outcome.ok = true;
    qDebug() << "group statistics: fitness" << outcome.stats.fitness.records << "body composition"
             << outcome.stats.bca.records;
    return outcome;
}

} // namespace reports
