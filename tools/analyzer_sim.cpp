// Simulated body-composition analyzer on a serial line: answers the PC's
// command frames, runs measurements (standalone, PC-controlled) and holds
// stored records for batch download. Records come from a seeded generator.
#include "analyzer/framecodec.h"
#include "tools/simcommon.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

struct Person
{
    QString uid;
    QString name;
    int sexDigit = 0; // 0 male, 1 female, as the analyzer writes it
    int birthYear = 1990;
    int age = 30;
    double height = 170.0;
};

// One measurement as the analyzer sends it: the four '#'-separated texts.
struct Record
{
    QString uid;
    QString personText;
    QString wholeText;
    QString segmentText;
    QString impedanceText;
    // Answers 85, 86, 87, 89 that actually went out for this record.
    std::array<bool, 4> sent{{false, false, false, false}};
    bool complete() const
    {
        return std::all_of(sent.begin(), sent.end(), [](bool b) { return b; });
    }
};

QString num(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

double clampTo(double value, double low, double high)
{
    return std::max(low, std::min(high, value));
}

const char *const kSurnames[] = {"Wang",  "Li",   "Zhang", "Liu", "Chen", "Yang", "Zhao",
                                 "Huang", "Zhou", "Wu",    "Xu",  "Sun",  "Hu",   "Zhu",
                                 "Gao",   "Lin",  "He",    "Guo", "Ma",   "Luo"};
const char *const kMaleNames[] = {"Wei", "Qiang", "Lei", "Jun", "Yong", "Jie", "Tao", "Ming", "Chao", "Hao"};
const char *const kFemaleNames[] = {"Fang", "Na", "Min", "Jing", "Li", "Yan", "Xia", "Juan", "Ying", "Hong"};

// Generated person stepping on the analyzer in standalone mode.
Person makePerson(const QString &uid, std::mt19937 &rng)
{
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    Person p;
    p.uid = uid;
    p.sexDigit = pick(2);
    p.age = std::uniform_int_distribution<int>(18, 70)(rng);
    p.birthYear = QDate::currentDate().year() - p.age;
    std::normal_distribution<double> height(p.sexDigit == 0 ? 172.0 : 160.0, p.sexDigit == 0 ? 6.0 : 5.5);
    p.height =
        std::round(clampTo(height(rng), p.sexDigit == 0 ? 155.0 : 145.0, p.sexDigit == 0 ? 195.0 : 182.0) *
                   10.0) /
        10.0;
    p.name = QString::fromLatin1(kSurnames[pick(20)]) +
             QString::fromLatin1(p.sexDigit == 0 ? kMaleNames[pick(10)] : kFemaleNames[pick(10)]);
    return p;
}

// Splits |total| (in hundredths) over the five segments TR, LA, RA, LL, RL:
// the limbs get their fractions, the trunk the rest, so the parts add up exactly.
std::array<long, 5> splitSegments(long total, const std::array<double, 4> &limbFractions)
{
    std::array<long, 5> parts{};
    long limbs = 0;
    for (int i = 0; i < 4; ++i) {
        parts[size_t(i) + 1] = std::lround(double(total) * limbFractions[size_t(i)]);
        limbs += parts[size_t(i) + 1];
    }
    parts[0] = total - limbs;
    return parts;
}

// The measured values of |p| with a plausible body composition: weight = fat +
// fat-free mass, water about 73 % of the fat-free mass, segments adding up to
// the whole body, impedances following the segment water.
Record makeRecord(const Person &p, std::mt19937 &rng)
{
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> jitter(0.95, 1.05);
    std::uniform_real_distribution<double> spread(0.97, 1.03);
    const bool male = p.sexDigit == 0;
    const double h = p.height / 100.0;
    const QString date = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));

    // Weight from a body-mass index around 23, fat from the index, age and sex.
    const double bmiTarget = clampTo(22.8 + 2.8 * gauss(rng), 17.5, 32.0);
    const long weight10 = std::lround(bmiTarget * h * h * 10.0);
    const double pbfTarget =
        clampTo(1.2 * bmiTarget + 0.23 * p.age - (male ? 10.8 : 0.0) - 5.4 + 2.0 * gauss(rng),
                male ? 8.0 : 15.0, male ? 30.0 : 38.0);
    const long fat10 = std::lround(double(weight10) * pbfTarget / 100.0);
    const long lbm10 = weight10 - fat10;
    const double tbw = 0.732 * double(lbm10) / 10.0;
    const double edema =
        std::round(clampTo(0.380 + 0.0004 * (p.age - 40) + 0.006 * gauss(rng), 0.360, 0.400) * 1000.0) /
        1000.0;
    const long tbw10 = std::lround(tbw * 10.0);
    const long ecw10 = std::lround(tbw * edema * 10.0);
    const long icw10 = tbw10 - ecw10;
    const long bone10 = std::lround(double(lbm10) * 0.068);
    const long protein10 = lbm10 - tbw10 - bone10;
    const long muscle10 = lbm10 - bone10;
    const long smm10 = std::lround(double(muscle10) * (male ? 0.575 : 0.545));

    const double weight = double(weight10) / 10.0;
    const double fat = double(fat10) / 10.0;
    const double lbm = double(lbm10) / 10.0;
    const double muscle = double(muscle10) / 10.0;
    const double pbf = std::round(double(fat10) * 1000.0 / double(weight10)) / 10.0;
    const double bmi = std::round(weight / (h * h) * 10.0) / 10.0;
    const double stdWeight = std::round((male ? 22.0 : 21.0) * h * h * 10.0) / 10.0;
    const double stdFat = stdWeight * (male ? 0.15 : 0.23);
    const long fatControl10 = std::lround((stdFat - fat) * 10.0);
    const double stdMuscle = (stdWeight - stdFat) * muscle / lbm;
    const long muscleControl10 = std::max(0L, std::lround((stdMuscle - muscle) * 10.0));
    const long weightControl10 = fatControl10 + muscleControl10;
    const double normalPbf = male ? 15.0 : 23.0;
    const double whr = clampTo((male ? 0.86 : 0.80) + 0.005 * (pbf - (male ? 18.0 : 28.0)) +
                                   0.0015 * (p.age - 40) + 0.015 * gauss(rng),
                               0.70, 1.10);
    const long bmr = std::lround(370.0 + 21.6 * lbm);
    const long vfi = std::lround(clampTo(
        1.0 + 0.45 * (pbf - (male ? 10.0 : 18.0)) + 0.12 * std::max(0, p.age - 30) + gauss(rng), 1.0, 20.0));
    const double subcutaneous = std::round(fat * 0.8 * 10.0) / 10.0;
    const long bodyAge = std::lround(
        clampTo(p.age + 0.5 * (pbf - normalPbf) + 0.5 * (bmi - 22.0), std::max(18, p.age - 10), p.age + 10));
    const long score = std::lround(clampTo(
        86.0 - 1.2 * std::abs(pbf - normalPbf) - 1.5 * std::abs(bmi - 22.0) + 1.5 * gauss(rng), 50.0, 100.0));

    auto t1 = [](long tenths) { return num(double(tenths) / 10.0, 1); };
    QStringList whole{p.uid,
                      date,
                      QString::number(p.age),
                      QString::number(p.sexDigit),
                      t1(fat10),
                      t1(bone10),
                      t1(protein10),
                      t1(icw10),
                      t1(ecw10),
                      t1(muscle10),
                      t1(lbm10),
                      num(p.height, 1),
                      t1(weight10),
                      num(stdWeight, 1),
                      t1(weightControl10),
                      t1(fatControl10),
                      t1(muscleControl10),
                      num(pbf, 1),
                      t1(smm10),
                      num(bmi, 1),
                      num(whr, 2),
                      QString::number(bmr),
                      num(edema, 3),
                      QString::number(vfi),
                      num(subcutaneous, 1),
                      QString::number(bodyAge),
                      QString::number(score)};

    // Segment shares of the limbs (LA, RA, LL, RL); the trunk takes the rest.
    std::array<double, 4> muscleShare{{0.054, 0.057, 0.185, 0.188}};
    std::array<double, 4> fatShare = male ? std::array<double, 4>{{0.065, 0.066, 0.170, 0.172}}
                                          : std::array<double, 4>{{0.070, 0.071, 0.200, 0.202}};
    std::array<double, 4> boneShare{{0.065, 0.067, 0.190, 0.192}};
    for (double &s : muscleShare)
        s *= jitter(rng);
    for (double &s : fatShare)
        s *= jitter(rng);
    const auto segMuscle = splitSegments(muscle10 * 10, muscleShare);
    const auto segFat = splitSegments(fat10 * 10, fatShare);
    const auto segBone = splitSegments(bone10 * 10, boneShare);
    const auto segWater = splitSegments(tbw10 * 10, muscleShare);
    auto t2 = [](long hundredths) { return num(double(hundredths) / 100.0, 2); };
    QStringList segment{p.uid, date};
    for (size_t s = 0; s < 5; ++s) {
        segment << t2(segFat[s]) << t2(segMuscle[s]) << t2(segBone[s]) << t2(segWater[s])
                << t2(segMuscle[s] + segBone[s]);
    }

    // 50 kHz impedance per segment: longer and thinner segments (less water)
    // resist more. Reference water of an average man or woman.
    const double lengthScale = p.height / (male ? 172.0 : 160.0);
    auto z50 = [&](double base, double refWater, long water100, double low, double high) {
        const double water = std::max(0.1, double(water100) / 100.0);
        return clampTo(base * std::sqrt(refWater / water) * lengthScale * spread(rng), low, high);
    };
    // Impedance order of the analyzer: RA, LA, TR, RL, LL.
    const std::array<double, 5> at50{{
        z50(male ? 300.0 : 350.0, male ? 2.5 : 1.6, segWater[2], 200.0, 520.0),
        z50(male ? 305.0 : 355.0, male ? 2.4 : 1.5, segWater[1], 200.0, 520.0),
        z50(male ? 22.0 : 26.0, male ? 20.0 : 14.0, segWater[0], 14.0, 40.0),
        z50(male ? 245.0 : 280.0, male ? 8.2 : 5.8, segWater[4], 170.0, 430.0),
        z50(male ? 250.0 : 285.0, male ? 8.1 : 5.7, segWater[3], 170.0, 430.0),
    }};
    // Falling with frequency; a higher extracellular share flattens the curve a little.
    const std::array<double, 5> freqFactor{{1.11 - (edema - 0.38), 1.0, 0.955, 0.915, 0.895}};
    QStringList impedance{p.uid, date};
    std::uniform_real_distribution<double> fine(0.995, 1.005);
    for (size_t f = 0; f < freqFactor.size(); ++f) {
        for (double z : at50)
            impedance << num(z * freqFactor[f] * (f == 1 ? 1.0 : fine(rng)), 1);
    }

    Record r;
    r.uid = p.uid;
    r.personText = QStringList{p.uid,
                               p.name,
                               QString::number(p.sexDigit),
                               QString::number(p.birthYear),
                               QString::number(p.age),
                               num(p.height, 1)}
                       .join(QLatin1Char('#')) +
                   QLatin1Char('#');
    r.wholeText = whole.join(QLatin1Char('#')) + QLatin1Char('#');
    r.segmentText = segment.join(QLatin1Char('#')) + QLatin1Char('#');
    r.impedanceText = impedance.join(QLatin1Char('#')) + QLatin1Char('#');
    return r;
}

struct AnalyzerOptions
{
    sim::CommonOptions common;
    int model = 2;
    double measureEvery = 0.0;
    int measurements = -1; // unlimited
    int testTimeMs = 2000;
    int batch = -1; // no batch mode
    qint64 uidBase = 1;
    QList<sim::DropRule> corrupt;     // answers with one payload digit changed
    QList<sim::DropRule> loseByte;    // answers with one payload byte missing
    QList<sim::DropRule> loseCommand; // commands that never arrive
};

bool ruleHits(const QList<sim::DropRule> &rules, const QString &kind, int count)
{
    return std::any_of(rules.begin(), rules.end(),
                       [&](const sim::DropRule &r) { return r.kind == kind && r.nth == count; });
}

// Position of a digit's low byte in the second half of a frame's payload, or -1.
int digitInPayload(const QByteArray &frame)
{
    for (int i = 9 + (frame.size() - 12) / 2; i < frame.size() - 3; ++i) {
        if (frame[i] >= '0' && frame[i] <= '9')
            return i;
    }
    return -1;
}

class AnalyzerSim : public QObject
{
public:
    AnalyzerSim(const AnalyzerOptions &opt, sim::SimLink *link)
        : m_opt(opt), m_link(link), m_stepOnTimer(new QTimer(this)), m_phaseTimer(new QTimer(this))
    {
        m_nextUid = opt.uidBase;
        m_stepOnTimer->setSingleShot(true);
        m_phaseTimer->setSingleShot(true);
        connect(m_stepOnTimer, &QTimer::timeout, this, &AnalyzerSim::stepOn);
        connect(m_phaseTimer, &QTimer::timeout, this, &AnalyzerSim::phaseDone);
        connect(link, &sim::SimLink::received, this, &AnalyzerSim::onBytes);
        for (int i = 0; i < std::max(0, opt.batch); ++i) {
            std::mt19937 rng = recordRng();
            m_stored << makeRecord(makePerson(QString::number(m_nextUid++), rng), rng);
        }
        if (opt.batch >= 0)
            sim::note(QStringLiteral("batch mode: %1 stored record(s)").arg(m_stored.size()));
        enterStandby();
    }

private:
    enum class Phase { Standby, Weighing, WeightObtained, Measuring, Finished };

    std::mt19937 recordRng()
    {
        std::seed_seq seq{m_opt.common.seed, quint32(m_serial++)};
        return std::mt19937(seq);
    }

    void enterStandby()
    {
        m_phase = Phase::Standby;
        m_measured.reset();
        if (m_opt.measureEvery > 0.0 && (m_opt.measurements < 0 || m_started < m_opt.measurements))
            m_stepOnTimer->start(int(std::lround(m_opt.measureEvery * 1000.0)));
    }

    void stepOn()
    {
        if (m_phase != Phase::Standby)
            return;
        if (m_pcControl) {
            // Under PC control a measurement starts from the person data of the PC.
            m_stepOnTimer->start(int(std::lround(m_opt.measureEvery * 1000.0)));
            return;
        }
        ++m_started;
        std::mt19937 rng = recordRng();
        startMeasurement(makePerson(QString::number(m_nextUid++), rng), rng);
    }

    void startMeasurement(const Person &p, std::mt19937 rng)
    {
        m_person = p;
        m_personRng = rng;
        m_phase = Phase::Weighing;
        m_stepOnTimer->stop();
        m_phaseTimer->start(m_opt.testTimeMs);
        sim::note(QStringLiteral("person %1 (%2) stepped on: testing").arg(p.uid, p.name));
    }

    void phaseDone()
    {
        if (m_phase == Phase::Weighing) {
            m_phase = Phase::WeightObtained;
            sim::note(QStringLiteral("weight obtained, waiting for the start command"));
        } else if (m_phase == Phase::Measuring) {
            m_measured = makeRecord(m_person, m_personRng);
            m_phase = Phase::Finished;
            sim::note(QStringLiteral("measurement of %1 finished: new record waiting").arg(m_person.uid));
        }
    }

    quint8 stateCode() const
    {
        switch (m_phase) {
        case Phase::Weighing:
        case Phase::Measuring:
            return 0x02;
        case Phase::WeightObtained:
            return 0x03;
        case Phase::Finished:
            return 0x05;
        case Phase::Standby:
            break;
        }
        if (m_opt.batch >= 0)
            return m_stored.isEmpty() ? 0x09 : 0x0a;
        return 0x01;
    }

    // The record the data commands read: a finished measurement first, then
    // the oldest stored record.
    Record *current()
    {
        if (m_measured)
            return &*m_measured;
        if (!m_stored.isEmpty())
            return &m_stored.first();
        return nullptr;
    }

    void answer(quint8 code, const QByteArray &payload = QByteArray(), quint8 modelByte = 0,
                Record *rec = nullptr, int part = -1)
    {
        const QString kind = QString::number(code, 16).rightJustified(2, QLatin1Char('0'));
        QByteArray frame = buildFrame(code, payload, modelByte);
        const int count = ++m_answerCounts[kind];
        const int digit = digitInPayload(frame);
        if (digit >= 0 && ruleHits(m_opt.corrupt, kind, count)) {
            frame[digit] = char('0' + (frame[digit] - '0' + 3) % 10); // checksum left as it was
            sim::note(QStringLiteral("answer %1 #%2 sent with a changed digit").arg(kind).arg(count));
        } else if (digit >= 0 && ruleHits(m_opt.loseByte, kind, count)) {
            frame.remove(digit, 1);
            sim::note(QStringLiteral("answer %1 #%2 sent with a byte missing").arg(kind).arg(count));
        }
        const bool sent = m_link->sendAnswer(kind, frame);
        if (sent && rec && part >= 0)
            rec->sent[size_t(part)] = true;
    }

    void onBytes(const QByteArray &bytes)
    {
        m_in.append(bytes);
        for (;;) {
            const int start = m_in.indexOf(frames::startMark);
            if (start < 0) {
                // Keep a trailing 0xAA: it may begin the next start mark.
                const bool keep = !m_in.isEmpty() && quint8(m_in.back()) == 0xAA;
                if (m_in.size() > (keep ? 1 : 0))
                    sim::note(QStringLiteral("ignored %1 stray byte(s)").arg(m_in.size() - (keep ? 1 : 0)));
                m_in = keep ? m_in.right(1) : QByteArray();
                return;
            }
            if (start > 0) {
                sim::note(QStringLiteral("ignored %1 stray byte(s)").arg(start));
                m_in.remove(0, start);
            }
            if (m_in.size() < 9)
                return;
            const int length = (quint8(m_in[7]) << 8) | quint8(m_in[8]);
            if (length < 12 || length > 1024) {
                sim::note(QStringLiteral("frame with impossible length %1 ignored").arg(length));
                m_in.remove(0, 2);
                continue;
            }
            if (m_in.size() < length)
                return;
            const QByteArray frame = m_in.left(length);
            if (!frame.endsWith(frames::endMark)) {
                sim::note(QStringLiteral("frame without end mark at its length ignored"));
                m_in.remove(0, 2);
                continue;
            }
            m_in.remove(0, length);
            if (frameChecksum(frame) != quint8(frame[length - 3])) {
                sim::note(QStringLiteral("frame with a wrong checksum ignored: %1")
                              .arg(QString::fromLatin1(frame.toHex(' '))));
                continue;
            }
            handle(quint8(frame[2]), frame.mid(9, length - 12));
        }
    }

    void handle(quint8 code, const QByteArray &payload)
    {
        const QString kind = QString::number(code, 16).rightJustified(2, QLatin1Char('0'));
        if (ruleHits(m_opt.loseCommand, kind, ++m_commandCounts[kind])) {
            sim::note(QStringLiteral("command %1 #%2 lost on the line").arg(kind).arg(m_commandCounts[kind]));
            return;
        }
        switch (code) {
        case 0x01:
            answer(0x81, QByteArray(1, char(0x0D)) + char(stateCode()), quint8(m_opt.model));
            break;
        case 0x02:
            m_pcControl = true;
            sim::note(QStringLiteral("PC control on"));
            answer(0x82);
            break;
        case 0x03:
            answer(0x83);
            personFromPc(payload);
            break;
        case 0x04:
            answer(0x84);
            if (m_phase == Phase::WeightObtained) {
                m_phase = Phase::Measuring;
                m_phaseTimer->start(m_opt.testTimeMs);
                sim::note(QStringLiteral("start command: measuring"));
            }
            break;
        case 0x05:
        case 0x06:
        case 0x07:
        case 0x09: {
            const int part = code == 0x09 ? 3 : code - 0x05;
            Record *rec = current();
            if (!rec) {
                sim::note(QStringLiteral("command %1 without a waiting record: no answer")
                              .arg(code, 2, 16, QLatin1Char('0')));
                break;
            }
            const QString &text = part == 0   ? rec->personText
                                  : part == 1 ? rec->wholeText
                                  : part == 2 ? rec->segmentText
                                              : rec->impedanceText;
            answer(quint8(code + 0x80), utf16beEncode(text), 0, rec, part);
            break;
        }
        case 0x0A:
            answer(0x8A, utf16beEncode(QStringLiteral("2.0.3#")));
            break;
        case 0x0B:
            answer(0x8B, utf16beEncode(QStringLiteral("1.2#")));
            break;
        case 0x0C:
            m_pcControl = false;
            sim::note(QStringLiteral("PC control off"));
            answer(0x8C);
            break;
        case 0x0D:
            nextRecord();
            answer(0x8D);
            break;
        default:
            sim::note(QStringLiteral("unknown command %1 ignored").arg(code, 2, 16, QLatin1Char('0')));
            break;
        }
    }

    void nextRecord()
    {
        Record *rec = current();
        if (!rec)
            return;
        if (rec->complete()) {
            m_link->logDelivery(
                QStringLiteral("record %1 %2|%3|%4|%5")
                    .arg(rec->uid, rec->personText, rec->wholeText, rec->segmentText, rec->impedanceText));
        } else {
            sim::note(QStringLiteral("record %1 passed over before all four parts were sent").arg(rec->uid));
        }
        if (m_measured) {
            enterStandby();
        } else {
            m_stored.removeFirst();
            sim::note(QStringLiteral("%1 stored record(s) left").arg(m_stored.size()));
        }
    }

    // Person data of the PC (ID, name, sex, birth year, age, age, height): in
    // PC control and with the analyzer free, that person is measured.
    void personFromPc(const QByteArray &payload)
    {
        QString text;
        for (int i = 0; i + 1 < payload.size(); i += 2)
            text.append(QChar(ushort((quint8(payload[i]) << 8) | quint8(payload[i + 1]))));
        const QStringList f = text.split(QLatin1Char('#'));
        bool okSex = false;
        bool okYear = false;
        bool okAge = false;
        bool okHeight = false;
        Person p;
        if (f.size() >= 7) {
            p.uid = f[0];
            p.name = f[1];
            p.sexDigit = f[2].toInt(&okSex);
            p.birthYear = f[3].toInt(&okYear);
            p.age = f[4].toInt(&okAge);
            p.height = f[6].toDouble(&okHeight);
        }
        if (!okSex || !okYear || !okAge || !okHeight || (p.sexDigit != 0 && p.sexDigit != 1) ||
            p.height < 50.0 || p.height > 260.0 || p.age < 0 || p.age > 130) {
            sim::note(QStringLiteral("person data not understood: \"%1\"").arg(text));
            return;
        }
        if (!m_pcControl) {
            sim::note(QStringLiteral("person data outside PC control: not measured"));
            return;
        }
        if (m_phase != Phase::Standby) {
            return; // already measuring; the PC repeats the data until it sees the test running
        }
        if (p.uid.isEmpty())
            p.uid = QStringLiteral("0");
        startMeasurement(p, recordRng());
    }

    AnalyzerOptions m_opt;
    sim::SimLink *m_link;
    QTimer *m_stepOnTimer;
    QTimer *m_phaseTimer;
    QByteArray m_in;
    QHash<QString, int> m_answerCounts;
    QHash<QString, int> m_commandCounts;
    Phase m_phase = Phase::Standby;
    Person m_person;
    std::mt19937 m_personRng;
    std::optional<Record> m_measured;
    QList<Record> m_stored;
    bool m_pcControl = false;
    int m_started = 0;
    quint32 m_serial = 0;
    qint64 m_nextUid = 1;
};

const char kDescription[] =
    "Simulated body-composition analyzer on a serial line (9600 baud 8N1).\n"
    "\n"
    "Opens a pseudo-terminal and prints the device path the program should open as\n"
    "the first line on stdout; progress goes to stderr. SIGTERM or SIGINT end it.\n"
    "\n"
    "Every command frame of the PC (01, 02, 03, 04, 05, 06, 07, 09, 0A, 0B, 0C, 0D)\n"
    "is answered in order of arrival with code+0x80. Frames with a wrong length,\n"
    "end mark or checksum are ignored. The status answer 81 carries the model byte\n"
    "and the state pair 0D xx.\n"
    "\n"
    "Measurement: standby (0d01) -> a person steps on (--measure-every, or the\n"
    "person data 03 under PC control) -> testing (0d02) for --test-time ms ->\n"
    "weight obtained (0d03), waiting for the start command 04 -> testing (0d02) for\n"
    "--test-time ms -> finished (0d05), a new record waits. 05/06/07/09 send its\n"
    "person, whole-body, segment and impedance parts; 0D (answer 8D) ends it and\n"
    "the analyzer returns to standby. Data commands without a waiting record get\n"
    "no answer. With --batch K the analyzer holds K stored records; standby then\n"
    "reads 0d0a while records are left and 0d09 when none are.\n"
    "PC control: 02 (82) switches it on, 0C (8C) off; person data 03 (83) in PC\n"
    "control starts the measurement of that person (sex, birth year, age, height).\n"
    "\n"
    "--drop kinds: answer codes in hex, 81 82 83 84 85 86 87 89 8a 8b 8c 8d.\n"
    "--log line, written when 0D ends a record whose four parts were all sent:\n"
    "  record <uid> <personText>|<wholeText>|<segmentText>|<impedanceText>\n"
    "(the four '#'-separated payload texts as sent).\n"
    "\n"
    "Line damage: --corrupt KIND[:N] changes one payload digit of the N-th answer\n"
    "of KIND (checksum unchanged), --lose-byte KIND[:N] leaves one payload byte out\n"
    "of it, --lose-command CODE[:N] ignores the N-th command CODE (01 .. 0d) as if it\n"
    "never arrived.";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelmar-analyzer-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    sim::addCommonOptions(parser);
    parser.addOptions({
        {QStringLiteral("model"),
         QStringLiteral(
             "Model byte of the status answer, 1 to 4: 1 TQ-10, 2 TQ-40 (default), 3 TQ-20, 4 TQ-30."),
         QStringLiteral("N"), QStringLiteral("2")},
        {QStringLiteral("measure-every"),
         QStringLiteral("While in standby, a new person steps on every SEC seconds (fractions allowed; 0 = "
                        "never, the default)."),
         QStringLiteral("SEC"), QStringLiteral("0")},
        {QStringLiteral("measurements"),
         QStringLiteral("Start no new standalone measurement after N of them (default unlimited)."),
         QStringLiteral("N")},
        {QStringLiteral("test-time"),
         QStringLiteral(
             "How long a measurement stays in \"testing\" before the weight is obtained, and again "
             "after the start command before it is finished (default 2000)."),
         QStringLiteral("MS"), QStringLiteral("2000")},
        {QStringLiteral("batch"),
         QStringLiteral("Hold K stored records for batch download (state 0d0a while records are left, 0d09 "
                        "when none)."),
         QStringLiteral("K")},
        {QStringLiteral("corrupt"), QStringLiteral("Change one payload digit of the N-th answer KIND."),
         QStringLiteral("KIND[:N]")},
        {QStringLiteral("lose-byte"), QStringLiteral("Leave one payload byte out of the N-th answer KIND."),
         QStringLiteral("KIND[:N]")},
        {QStringLiteral("lose-command"), QStringLiteral("Ignore the N-th command CODE (01 .. 0d)."),
         QStringLiteral("CODE[:N]")},
        {QStringLiteral("uid-base"),
         QStringLiteral("User numbers of generated records are N, N+1, ... (default 1); stored records come "
                        "first."),
         QStringLiteral("N"), QStringLiteral("1")},
    });
    parser.process(app);

    AnalyzerOptions opt;
    QString error;
    const QStringList kinds{QStringLiteral("81"), QStringLiteral("82"), QStringLiteral("83"),
                            QStringLiteral("84"), QStringLiteral("85"), QStringLiteral("86"),
                            QStringLiteral("87"), QStringLiteral("89"), QStringLiteral("8a"),
                            QStringLiteral("8b"), QStringLiteral("8c"), QStringLiteral("8d")};
    bool ok = sim::readCommonOptions(parser, kinds, &opt.common, &error) &&
              sim::parseKindRules(parser.values(QStringLiteral("corrupt")), kinds, QStringLiteral("corrupt"),
                                  &opt.corrupt, &error) &&
              sim::parseKindRules(parser.values(QStringLiteral("lose-byte")), kinds,
                                  QStringLiteral("lose-byte"), &opt.loseByte, &error) &&
              sim::parseKindRules(parser.values(QStringLiteral("lose-command")),
                                  {QStringLiteral("01"), QStringLiteral("02"), QStringLiteral("03"),
                                   QStringLiteral("04"), QStringLiteral("05"), QStringLiteral("06"),
                                   QStringLiteral("07"), QStringLiteral("09"), QStringLiteral("0a"),
                                   QStringLiteral("0b"), QStringLiteral("0c"), QStringLiteral("0d")},
                                  QStringLiteral("lose-command"), &opt.loseCommand, &error);
    auto intOption = [&](const char *name, int low, int high, int *out) {
        if (!ok || !parser.isSet(QLatin1String(name)))
            return;
        bool okNum = false;
        const int value = parser.value(QLatin1String(name)).toInt(&okNum);
        if (!okNum || value < low || value > high) {
            error = QStringLiteral("--%1 needs a whole number from %2 to %3")
                        .arg(QLatin1String(name))
                        .arg(low)
                        .arg(high);
            ok = false;
            return;
        }
        *out = value;
    };
    intOption("model", 1, 4, &opt.model);
    intOption("measurements", 0, 1000000000, &opt.measurements);
    intOption("test-time", 0, 3600000, &opt.testTimeMs);
    intOption("batch", 0, 100000, &opt.batch);
    if (ok) {
        bool okNum = false;
        opt.measureEvery = parser.value(QStringLiteral("measure-every")).toDouble(&okNum);
        if (!okNum || opt.measureEvery < 0.0 || opt.measureEvery > 86400.0) {
            error = QStringLiteral("--measure-every needs a number of seconds from 0 to 86400");
            ok = false;
        }
    }
    if (ok) {
        bool okNum = false;
        opt.uidBase = parser.value(QStringLiteral("uid-base")).toLongLong(&okNum);
        if (!okNum || opt.uidBase < 0) {
            error = QStringLiteral("--uid-base needs a non-negative whole number");
            ok = false;
        }
    }
    if (!ok) {
        sim::note(QStringLiteral("quelmar-analyzer-sim: %1 (see --help)").arg(error));
        return 2;
    }

    sim::installQuitSignals();
    sim::SimLink link(opt.common);
    if (!link.open(&error)) {
        sim::note(QStringLiteral("quelmar-analyzer-sim: %1").arg(error));
        return 1;
    }
    AnalyzerSim analyzer(opt, &link);
    std::printf("%s\n", link.devicePath().toLocal8Bit().constData());
    std::fflush(stdout);
    sim::note(QStringLiteral("analyzer ready on %1 (model %2, %3)")
                  .arg(link.devicePath())
                  .arg(opt.model)
                  .arg(opt.common.fast ? QStringLiteral("fast") : QStringLiteral("960 bytes/s")));
    return app.exec();
}
