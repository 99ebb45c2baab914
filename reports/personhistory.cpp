#include "reports/personhistory.h"

#include "app/dbtarget.h"
#include "reports/layout.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>

namespace history {

namespace {
// Visceral fat index: levels 1 to 9 are the normal band of the index scale.
constexpr Band kVisceralFatBand{true, 1, 9};

double oneDecimal(double v)
{
    return std::round(v * 10.0) / 10.0;
}

// How far |v| lies outside |band|; 0 inside.
double distanceToBand(double v, const Band &band)
{
    if (v < band.low)
        return band.low - v;
    if (v > band.high)
        return v - band.high;
    return 0;
}

Change changeBetween(Measure m, double from, double to, const Band &band)
{
    Change c;
    if (from <= 0 || to <= 0)
        return c;
    c.valid = true;
    c.delta = oneDecimal(to) - oneDecimal(from);
    c.verdict = judgeChange(m, from, to, band);
    return c;
}

const char *const kNotMeasured = "—";
} // namespace

QString measureTitle(Measure m)
{
    switch (m) {
    case Measure::Weight:
        return QObject::tr("体重(kg)");
    case Measure::BodyFat:
        return QObject::tr("体脂率(%)");
    case Measure::SkeletalMuscle:
        return QObject::tr("骨骼肌(kg)");
    case Measure::VisceralFat:
        return QObject::tr("内脏脂肪指数");
    }
    return QString();
}

const char *measureColumn(Measure m)
{
    switch (m) {
    case Measure::Weight:
        return "Weight";
    case Measure::BodyFat:
        return "PBF";
    case Measure::SkeletalMuscle:
        return "SMM";
    case Measure::VisceralFat:
        return "VFI";
    }
    return "";
}

Band normalBand(Measure m, bool male, double heightCm)
{
    if (m == Measure::VisceralFat)
        return kVisceralFatBand;
    if (m != Measure::BodyFat && !(heightCm > 0))
        return Band{};
    // The reports' reference values; the weight argument only scales ranges not used here.
    const reports::References r = reports::referenceValues(male, heightCm, 0);
    const reports::Range range = m == Measure::Weight ? r.weight : (m == Measure::BodyFat ? r.pbf : r.smm);
    return Band{true, range.low, range.high};
}

Verdict judgeChange(Measure m, double from, double to, const Band &band)
{
    const double a = oneDecimal(from);
    const double b = oneDecimal(to);
    if (a == b)
        return Verdict::None;
    switch (m) {
    case Measure::SkeletalMuscle:
        return b > a ? Verdict::Good : Verdict::Bad;
    case Measure::VisceralFat:
        return b > a ? Verdict::Bad : Verdict::Good;
    case Measure::Weight:
    case Measure::BodyFat: {
        if (!band.valid)
            return Verdict::None;
        const double before = distanceToBand(a, band);
        const double after = distanceToBand(b, band);
        if (after < before)
            return Verdict::Good;
        if (after > before)
            return Verdict::Bad;
        return Verdict::None;
    }
    }
    return Verdict::None;
}

QString formatChange(const Change &change)
{
    if (!change.valid)
        return QString();
    QString text = QString::number(std::abs(change.delta), 'f', 1);
    if (text == QLatin1String("0.0"))
        return text;
    return (change.delta > 0 ? QStringLiteral("+") : QStringLiteral("-")) + text;
}

QString formatMeasure(double value)
{
    return value > 0 ? QString::number(value, 'f', 1) : QString::fromUtf8(kNotMeasured);
}

QDateTime parseTestDate(const QString &text)
{
    // 2024-05-06, 2024/5/6 10:00, 2024-05-06T10:20:30, 2024年5月6日
    static const QRegularExpression ymd(QStringLiteral(
        "^\\s*(\\d{4})[-/.年](\\d{1,2})[-/.月](\\d{1,2})日?(?:[ T]+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?"));
    // 20240506, 202405061020, 20240506102030
    static const QRegularExpression digits(
        QStringLiteral("^\\s*(\\d{4})(\\d{2})(\\d{2})(?:(\\d{2})(\\d{2})(\\d{2})?)?\\s*$"));
    // 6.5.2024
    static const QRegularExpression dmy(QStringLiteral("^\\s*(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})"));
    int y = 0, mo = 0, d = 0, h = 12, mi = 0, s = 0;
    QRegularExpressionMatch m = ymd.match(text);
    if (!m.hasMatch())
        m = digits.match(text);
    if (m.hasMatch()) {
        y = m.captured(1).toInt();
        mo = m.captured(2).toInt();
        d = m.captured(3).toInt();
        if (!m.captured(4).isEmpty()) {
            h = m.captured(4).toInt();
            mi = m.captured(5).toInt();
            s = m.captured(6).toInt();
        }
    } else if ((m = dmy.match(text)).hasMatch()) {
        d = m.captured(1).toInt();
        mo = m.captured(2).toInt();
        y = m.captured(3).toInt();
    } else {
        return QDateTime();
    }
    const QDate date(y, mo, d);
    const QTime time(h, mi, s);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

const std::array<FitnessColumn, 11> kFitnessColumns = {{
    {reports::FitItem::BMI, "BMI"},
    {reports::FitItem::WOLI, "握力(公斤)"},
    {reports::FitItem::FHL, "肺活量"},
    {reports::FitItem::TQQ, "坐位体前屈"},
    {reports::FitItem::TZ, "台阶指数"},
    {reports::FitItem::YWQZ, "仰卧起坐"},
    {reports::FitItem::FYS, "选择反应时"},
    {reports::FitItem::FWC, "俯卧撑"},
    {reports::FitItem::BYDJ, "闭眼单脚站"},
    {reports::FitItem::ZT, "纵跳"},
    {reports::FitItem::TY, "立定跳远"},
}};

double fitnessValue(const FitnessTest &test, reports::FitItem item)
{
    const reports::FitnessRecord &r = test.record;
    using reports::FitItem;
    switch (item) {
    case FitItem::BMI:
        return test.assessment.bmi;
    case FitItem::WOLI:
        return r.woli;
    case FitItem::FHL:
        return r.fhl;
    case FitItem::TQQ:
        return r.tqq;
    case FitItem::TZ:
        return r.tz;
    case FitItem::YWQZ:
        return r.ywqz;
    case FitItem::FYS:
        return r.fys;
    case FitItem::FWC:
        return r.fwc;
    case FitItem::BYDJ:
        return r.bydj;
    case FitItem::ZT:
        return r.zt;
    case FitItem::TY:
        return r.ty;
    case FitItem::Count:
        break;
    }
    return 0;
}

QString fitnessCell(const FitnessTest &test, reports::FitItem item)
{
    const double value = fitnessValue(test, item);
    if (value == 0)
        return QString::fromUtf8(kNotMeasured);
    const QString number =
        item == reports::FitItem::BMI ? QString::number(value, 'f', 1) : QString::number(value, 'g', 6);
    const reports::FitnessGrade &grade = test.assessment.grade(item);
    // Points 0: the item is not graded at this age (under 20).
    return grade.points > 0 ? number + QLatin1Char(' ') + grade.word : number;
}

void completeBcaSeries(QVector<BcaTest> &tests)
{
    // Sort key: the test's date, or for an undated test the date of the
    // test stored before it, so that it keeps its place in the series.
    QVector<QPair<QDateTime, int>> keys;
    QDateTime carried;
    for (int i = 0; i < tests.size(); ++i) {
        if (tests[i].when.isValid())
            carried = tests[i].when;
        keys.append({carried, i});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const auto &a, const auto &b) {
        if (a.first != b.first)
            return !a.first.isValid() || (b.first.isValid() && a.first < b.first);
        return a.second < b.second;
    });
    QVector<BcaTest> sorted;
    sorted.reserve(tests.size());
    for (const auto &k : qAsConst(keys))
        sorted.append(tests[k.second]);
    tests = sorted;

    std::array<int, MeasureCount> first;
    std::array<int, MeasureCount> previous;
    first.fill(-1);
    previous.fill(-1);
    for (int i = 0; i < tests.size(); ++i) {
        BcaTest &t = tests[i];
        const bool male = t.sex == QLatin1String("1");
        for (int k = 0; k < MeasureCount; ++k) {
            const Measure m = kMeasures[size_t(k)];
            t.bands[size_t(k)] = normalBand(m, male, t.height);
            const double v = t.values[size_t(k)];
            t.sincePrevious[size_t(k)] = Change{};
            t.sinceFirst[size_t(k)] = Change{};
            if (!(v > 0))
                continue;
            if (previous[size_t(k)] >= 0) {
                const Band &band = t.bands[size_t(k)];
                t.sincePrevious[size_t(k)] = changeBetween(m, tests[previous[size_t(k)]].value(m), v, band);
                t.sinceFirst[size_t(k)] = changeBetween(m, tests[first[size_t(k)]].value(m), v, band);
            } else {
                first[size_t(k)] = i;
            }
            previous[size_t(k)] = i;
        }
    }
}

bool loadPersonHistory(const QString &uid, PersonHistory *history, QString *error)
{
    *history = PersonHistory{};
    PersonInfo &person = history->person;
    person.uid = uid;
    auto failed = [error](const QSqlQuery &q) {
        *error = q.lastError().text();
        qDebug() << "history query failed:" << q.lastError();
        return false;
    };

    // The last registration under the number, as a measurement is stored.
    QSqlQuery q;
    q.setForwardOnly(true);
    q.prepare(dbSql(
        QStringLiteral("SELECT Name, Sex, BirthYear, Height FROM Person WHERE UID = ? ORDER BY ID DESC")));
    q.addBindValue(uid);
    if (!q.exec())
        return failed(q);
    if (q.next()) {
        person.registered = true;
        person.name = q.value(0).toString();
        person.sex = q.value(1).toString().trimmed();
        person.birthYear = q.value(2).toInt();
        person.height = q.value(3).toDouble();
    }
    q.finish();

    q.prepare(
        dbSql(QStringLiteral("SELECT TestID, TestDate, Name, Sex, BirthYear, Height, Weight, PBF, SMM, VFI, "
                             "BodyType FROM Result WHERE UID = ? ORDER BY TestID")));
    q.addBindValue(uid);
    if (!q.exec())
        return failed(q);
    QString lastName, lastSex;
    int lastBirthYear = 0;
    while (q.next()) {
        BcaTest t;
        t.testId = q.value(0).toInt();
        t.dateText = q.value(1).toString();
        t.when = parseTestDate(t.dateText);
        lastName = q.value(2).toString();
        lastSex = q.value(3).toString().trimmed();
        lastBirthYear = q.value(4).toInt();
        t.sex = lastSex.isEmpty() ? person.sex : lastSex;
        t.height = q.value(5).toDouble();
        if (!(t.height > 0))
            t.height = person.height;
        for (int k = 0; k < MeasureCount; ++k)
            t.values[size_t(k)] = q.value(6 + k).toDouble();
        t.bodyType = q.value(10).toString();
        history->bca.append(t);
    }
    q.finish();
    completeBcaSeries(history->bca);

    q.prepare(
        dbSql(QStringLiteral("SELECT TestID, TestDate, Name, Sex, BirthYear, Height, Weight, WOLI, FHL, TQQ, "
                             "TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY FROM ResultFIT WHERE UID = ? "
                             "ORDER BY TestDate, TestID")));
    q.addBindValue(uid);
    if (!q.exec())
        return failed(q);
    while (q.next()) {
        FitnessTest t;
        reports::FitnessRecord &r = t.record;
        t.testId = q.value(0).toInt();
        r.uid = uid;
        r.testDate = q.value(1).toString();
        r.name = q.value(2).toString();
        r.sex = q.value(3).toString().trimmed();
        r.birthYear = q.value(4).toInt();
        r.height = q.value(5).toDouble();
        r.weight = q.value(6).toDouble();
        r.woli = q.value(7).toDouble();
        r.fhl = q.value(8).toInt();
        r.tqq = q.value(9).toDouble();
        r.tz = q.value(10).toDouble();
        r.ywqz = q.value(11).toInt();
        r.fys = q.value(12).toInt();
        r.fwc = q.value(13).toInt();
        r.bydj = q.value(14).toDouble();
        r.zt = q.value(15).toDouble();
        r.ty = q.value(16).toDouble();
        t.when = parseTestDate(r.testDate);
        // Graded in the age group of the test's own date, as its report is.
        t.age = reports::ageAtTest(r.birthYear, r.testDate).value_or(-1);
        t.assessment = reports::assessFitness(r, t.age);
        history->fitness.append(t);
        if (lastName.isEmpty()) {
            lastName = r.name;
            lastSex = r.sex;
            lastBirthYear = r.birthYear;
        }
    }
    // A number without registration still has a name: the one its tests carry.
    if (!person.registered) {
        person.name = lastName;
        person.sex = lastSex;
        person.birthYear = lastBirthYear;
    }
    return true;
}

} // namespace history
