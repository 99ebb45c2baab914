// Generated body-composition results for report tests, benchmarks and the
// sample pages: a person described by sex, height, weight and body fat, with
// every Result column filled consistently.
#pragma once

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <cmath>

namespace reportsamples {

struct Person
{
    QString uid, name, sex; // sex "1" male, "2" female
    int birthYear;
    double height, weight, pbf;
    QString bodyType, testDate;
    double segmentScale = 1; // segment values against their share of the whole
};

// uid, name, sex, birth year, height, weight, PBF, body type, test date, segment scale.
inline const Person smallWoman{"W001", "林小雨", "2", 1998, 148, 39.5, 21.4, "消瘦型", "2026-03-05"};
inline const Person largeMan{"M002", "欧阳大海", "1", 1961, 196, 138.6, 38.2, "肥胖型", "2026-11-20"};
// Values that drive every bar to its upper or its lower clamp.
// clang-format off
inline const Person topClamp{"T12345678", "司马长风", "1", 1950, 150, 149.8, 58.6, "肥胖型", "2026-01-15", 3.0};
// clang-format on
inline const Person bottomClamp{"B9", "丁一", "2", 2010, 199, 30.2, 3.1, "运动员型", "2026-12-01", 0.05};

// Every column of a Result row for |p|.
inline QVariantMap resultColumns(const Person &p)
{
    const double W = p.weight;
    const double fat = W * p.pbf / 100;
    const double lbm = W - fat;
    const double water = lbm * 0.73;
    const double icw = water * 0.62;
    const double ecw = water - icw;
    const double bone = lbm * 0.068;
    const double protein = lbm - water - bone;
    const double muscle = lbm - bone;
    const bool male = p.sex == QLatin1String("1");
    const double standard = male ? 0.7 * (p.height - 80) : 0.6 * (p.height - 70);
    const QStringList names =
        QStringLiteral(
            "Fat Bone Protein Water ICW ECW Muscle LBM Height Weight Standard_weight Weight_control "
            "Fat_control Muscle_control PBF SMM BMI WHR BMR Edema VFI Subcutaneous_fat Score")
            .split(QLatin1Char(' '));
    // clang-format off
    const double values[] = {fat, bone, protein, water, icw, ecw, muscle, lbm, p.height, W, standard, standard - W,
                             (male ? 0.15 : 0.23) * W - fat, male ? 0.0 : 2.4, p.pbf, muscle * 0.57,
                             W / (p.height / 100 * p.height / 100), male ? 1.02 : 0.71, 370 + 21.6 * lbm,
                             ecw / water, male ? 24.0 : 2.0, fat * 0.8, male ? 58.5 : 71.0};
    // clang-format on
    QVariantMap m;
    for (int i = 0; i < names.size(); ++i)
        m[names[i]] = values[i];
    m[QStringLiteral("UUID")] = QStringLiteral("U0001");
    m[QStringLiteral("UID")] = p.uid;
    m[QStringLiteral("Name")] = p.name;
    m[QStringLiteral("Sex")] = p.sex;
    m[QStringLiteral("BirthYear")] = p.birthYear;
    m[QStringLiteral("TestDate")] = p.testDate;
    m[QStringLiteral("Body_age")] = male ? 71 : 26;
    const char *segs[5] = {"TR", "LA", "RA", "LL", "RL"};
    const double share[5] = {0.5, 0.075, 0.075, 0.175, 0.175};
    for (int i = 0; i < 5; ++i) {
        const QString s = QLatin1String(segs[i]);
        m[s + QStringLiteral("_fat")] = fat * share[i];
        m[s + QStringLiteral("_muscle")] = muscle * share[i];
        m[s + QStringLiteral("_bone")] = bone * share[i];
        m[s + QStringLiteral("_water")] = water * share[i] * p.segmentScale;
        m[s + QStringLiteral("_LBM")] = lbm * share[i];
        m[s + QStringLiteral("_ICW")] = icw * share[i];
        m[s + QStringLiteral("_ECW")] = ecw * share[i];
        m[s + QStringLiteral("_edema")] = ecw / water + 0.01 * i;
    }
    const int freqs[5] = {5, 50, 100, 250, 500};
    const double segOhm[5] = {28.5, 345.2, 351.7, 288.4, 291.0};
    for (int f = 0; f < 5; ++f) {
        for (int i = 0; i < 5; ++i)
            m[QLatin1String(segs[i]) + QString::number(freqs[f])] =
                std::round(segOhm[i] * (1.12 - 0.05 * f) * 10) / 10;
    }
    // Stored values carry two decimals, as the analyzer's records do.
    for (auto it = m.begin(); it != m.end(); ++it) {
        if (it.value().type() == QVariant::Double)
            it.value() = std::round(it.value().toDouble() * 100) / 100;
    }
    m[QStringLiteral("BodyType")] = p.bodyType;
    m[QStringLiteral("LiverRisk")] = male ? 78 : 5;
    return m;
}

// Inserts a Result row with |columns|; returns its TestID (0 on failure).
inline int insertResult(const QVariantMap &columns)
{
    QSqlQuery q;
    q.prepare(
        QStringLiteral("INSERT INTO Result (%1) VALUES (?%2)")
            .arg(columns.keys().join(QLatin1Char(',')), QStringLiteral(",?").repeated(columns.size() - 1)));
    for (const QVariant &v : columns)
        q.addBindValue(v);
    return q.exec() ? q.lastInsertId().toInt() : 0;
}

inline int insertPerson(const Person &p)
{
    return insertResult(resultColumns(p));
}

} // namespace reportsamples
