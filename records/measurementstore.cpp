#include "records/measurementstore.h"

#include "app/database.h"
#include "app/dbtarget.h"
#include "records/indicators.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace measurementstore {
namespace {
using indicators::SegmentValues;

double number(const QList<QByteArray> &fields, int index)
{
    return listField(fields, index).toDouble(); // 0 when missing or not a number
}

// Text of a list field; a missing field is the empty text, which SQLite
// stores as '' (a null QString would be stored as NULL).
QString fieldText(const QByteArray &field)
{
    return field.isEmpty() ? QStringLiteral("") : QString::fromUtf8(field);
}

QString queryError(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

// The unit identifier ("Null" when Unit holds none). A read that fails (a
// busy database) sets |error|: the save fails rather than store a wrong one.
QString unitIdentifier(QString *error)
{
    QSqlQuery query;
    QString uuid;
    if (!query.exec(dbSql(QStringLiteral("SELECT UUID FROM Unit")))) {
        qDebug() << "unit lookup failed / 单位查询失败:" << query.lastError();
        *error = queryError(query);
        return QString();
    }
    if (query.next())
        uuid = query.value(0).toString();
    uuid = unitIdOfThisPc(uuid);
    qDebug() << "UUID when save data= " << uuid;
    return uuid.isEmpty() ? QStringLiteral("Null") : uuid;
}

// Name of the last Person row with user number |uid|, empty when nobody has
// that number. A failed lookup sets |error|.
QString personName(const QString &uid, QString *error)
{
    const QString sql = QStringLiteral("SELECT UID, Name, Sex FROM Person WHERE UID=?");
    qDebug() << "sqlStrData = " << sql << uid;
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.prepare(dbSql(sql)) || (query.addBindValue(uid), !query.exec())) {
        qDebug() << "查询失败！" << query.lastError();
        *error = queryError(query);
        return QString();
    }
    QString name = QStringLiteral("");
    while (query.next())
        name = query.value(1).toString();
    return name;
}

struct Person
{
    QString uid;
    QString name;
    QString sex;
    int birthYear = 0;
};
} // namespace

QByteArray listField(const QList<QByteArray> &fields, int index)
{
    return index >= 0 && index < fields.size() ? fields.at(index) : QByteArray();
}

QString insertStatement()
{
    return QStringLiteral(
        "INSERT INTO Result (UUID, UID, Name, Sex, BirthYear, TestDate, Fat, Bone, Protein, Water, ICW, ECW, "
        "Muscle, LBM, Height, Weight, Standard_weight, Weight_control, Fat_control, Muscle_control,PBF, SMM, "
        "BMI, WHR, BMR, Edema, VFI, Subcutaneous_fat, Body_age, Score, TR_fat, TR_muscle, TR_bone, TR_water, "
        "TR_LBM, LA_fat, LA_muscle, LA_bone, LA_water, LA_LBM, RA_fat, RA_muscle, RA_bone, RA_water, RA_LBM, "
        "LL_fat, LL_muscle, LL_bone, LL_water, LL_LBM, RL_fat, RL_muscle, RL_bone, RL_water, RL_LBM, RA5, "
        "LA5, "
        "TR5, RL5, LL5, RA50, LA50, TR50, RL50, LL50, RA100, LA100, TR100, RL100, LL100, RA250, LA250, "
        "TR250, "
        "RL250, LL250, RA500, LA500, TR500, RL500, LL500,BodyType, LiverRisk, RA_edema, LA_edema, TR_edema, "
        "RL_edema, LL_edema, RA_ICW, LA_ICW, TR_ICW, RL_ICW, LL_ICW, RA_ECW, LA_ECW, TR_ECW, RL_ECW, LL_ECW)"
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, "
        "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, "
        "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
}

namespace {
// A store that failed because the server went away may still have been
// committed there (only the answer was lost): the next attempt first looks
// for the row before it inserts it again.
bool g_lastStoreLost = false;

// Test number of a row already holding this record, 0 when there is none.
// The date holds no time: the weight, fat and an impedance tell two
// measurements of one person on one day apart.
int storedAlready(const QString &uuid, const QString &uid, const QString &testDate, double weight, double fat,
                  double ra50, QString *error)
{
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.prepare(dbSql(QStringLiteral(
            "SELECT TestID FROM Result WHERE UUID = ? AND UID = ? AND TestDate = ? AND ABS(Weight - ?) < "
            "0.0005 "
            "AND ABS(Fat - ?) < 0.0005 AND ABS(RA50 - ?) < 0.0005 ORDER BY TestID DESC LIMIT 1")))) {
        *error = queryError(query);
        return 0;
    }
    for (const QVariant &v :
         {QVariant(uuid), QVariant(uid), QVariant(testDate), QVariant(weight), QVariant(fat), QVariant(ra50)})
        query.addBindValue(v);
    if (!query.exec()) {
        *error = queryError(query);
        return 0;
    }
    return query.next() ? query.value(0).toInt() : 0;
}

SaveOutcome saveOnce(const MeasurementLists &lists, const PcControlPerson &pc,
                     const QString &previousBodyType);
} // namespace

SaveOutcome saveMeasurement(const MeasurementLists &lists, const PcControlPerson &pc,
                            const QString &previousBodyType)
{
    SaveOutcome out = saveOnce(lists, pc, previousBodyType);
    if (!out.ok) {
        g_lastStoreLost = isUnreachableError(out.error);
        out.error = storeErrorText(out.error);
    } else {
        g_lastStoreLost = false;
    }
    return out;
}

namespace {
SaveOutcome saveOnce(const MeasurementLists &lists, const PcControlPerson &pc,
                     const QString &previousBodyType)
{
    SaveOutcome out;
    out.error = databaseReadyForStore();
    if (!out.error.isEmpty())
        return out;
    out.uuid = unitIdentifier(&out.error);
    if (!out.error.isEmpty())
        return out;

    Person person;
    out.collectionMode = pc.uid == QLatin1String("0");
    if (out.collectionMode) {
        const QList<QByteArray> fields = lists.personData.split('#');
        person.uid = fieldText(listField(fields, 0));
        person.name = personName(person.uid, &out.error);
        if (!out.error.isEmpty())
            return out;
        // The analyzer codes a woman as 1; the program stores "2" for her.
        person.sex = listField(fields, 2) == "1" ? QStringLiteral("2") : QStringLiteral("1");
        person.birthYear = listField(fields, 3).toInt();
        qDebug() << "UID in dataCollection mode is: " << person.uid;
    } else {
        person = {pc.uid, pc.name, pc.sex, pc.birthYear};
        qDebug() << "UID in PCCtrol mode saved is: " << person.uid;
    }
    qDebug() << "Name is: " << person.name;
    qDebug() << "Sex is: " << person.sex;
    qDebug() << " BirthYear is: " << person.birthYear;
    out.uid = person.uid;

    const QList<QByteArray> whole = lists.wholeData.split('#');
    qDebug() << "wholeData elements" << whole;
    out.bodyType =
        indicators::bodyTypeRule(person.sex, number(whole, 19), number(whole, 17), previousBodyType);

    const QList<QByteArray> seg = lists.segData.split('#');
    qDebug() << "segData elements" << seg;
    const QList<QByteArray> imp = lists.impData.split('#');
    qDebug() << "impData elements" << imp;

    using namespace indicators;
    const double water = Water(number(whole, 7), number(whole, 8));
    const int liverRisk = liverRiskLadder(person.sex, number(whole, 4));
    SegmentValues z50{}, muscle{}, segWater{};
    // List positions per segment, in the order RA, LA, TR, RL, LL.
    constexpr int z50Field[SegmentCount] = {7, 8, 9, 10, 11};
    constexpr int z250Field[SegmentCount] = {17, 18, 19, 20, 21};
    constexpr int muscleField[SegmentCount] = {13, 8, 3, 23, 18};
    constexpr int waterField[SegmentCount] = {15, 10, 5, 25, 20};
    for (int i = 0; i < SegmentCount; ++i) {
        z50[i] = number(imp, z50Field[i]);
        muscle[i] = number(seg, muscleField[i]);
        segWater[i] = number(seg, waterField[i]);
    }
    for (int i = 0; i < SegmentCount; ++i)
        qDebug().noquote() << segmentCode(Segment(i)) + QStringLiteral("50==================") << z50[i];
    for (int i = 0; i < SegmentCount; ++i)
        qDebug().noquote() << segmentCode(Segment(i)) + QStringLiteral("250==================")
                           << number(imp, z250Field[i]);
    const SegmentWater split = segmentWaterSplit(number(whole, 22), z50, muscle, segWater);

    if (g_lastStoreLost) {
        const int testId = storedAlready(out.uuid, person.uid, fieldText(listField(whole, 1)),
                                         number(whole, 12), number(whole, 4), number(imp, 7), &out.error);
        if (!out.error.isEmpty())
            return out;
        if (testId > 0) {
            qDebug() << "record was stored before the connection broke, test number" << testId;
            out.ok = true;
            out.testId = testId;
            return out;
        }
    }
    QSqlQuery query;
    const SqlDialect dialect = SqlDialect::current();
    if (!query.prepare(dialect.sql(insertStatement()) + dialect.returningKey(QStringLiteral("TestID")))) {
        out.error = queryError(query);
        qDebug() << query.lastError();
        return out;
    }
    query.bindValue(0, out.uuid);
    query.bindValue(1, person.uid);
    query.bindValue(2, person.name);
    query.bindValue(3, person.sex);
    query.bindValue(4, person.birthYear);
    query.bindValue(5, fieldText(listField(whole, 1)));
    for (int f = 4; f <= 6; ++f) // Fat, Bone, Protein
        query.bindValue(f + 2, number(whole, f));
    query.bindValue(9, water);
    for (int f = 7; f <= 24; ++f) // ICW .. Subcutaneous_fat
        query.bindValue(f + 3, number(whole, f));
    query.bindValue(28, double(listField(whole, 25).toInt())); // Body_age: whole years only
    query.bindValue(29, number(whole, 26));
    for (int f = 2; f <= 26; ++f) {
        query.bindValue(f + 28, number(seg, f));
        query.bindValue(f + 53, number(imp, f));
    }
    query.bindValue(80, out.bodyType);
    query.bindValue(81, liverRisk);
    for (int i = 0; i < SegmentCount; ++i) {
        query.bindValue(82 + i, split.edema[i]);
        query.bindValue(87 + i, split.icw[i]);
        query.bindValue(92 + i, split.ecw[i]);
    }
    if (!query.exec()) {
        out.error = queryError(query);
        qDebug() << query.lastError();
        return out;
    }
    out.ok = true;
    out.testId = dialect.insertedKey(query).toInt();
    qDebug() << "测试数据已插入!";
    return out;
}
} // namespace
} // namespace measurementstore
