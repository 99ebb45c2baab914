// Simulated fitness-test station with eleven terminals on a serial line: it
// answers the PC's two-byte queries, hands out one result at a time in the
// order of a script (or of a seeded generator) and waits for each result's
// acknowledgement.
#include "tools/simcommon.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kTerminals = 11;
constexpr int kUidWidth = 16;   // user number field, padded with blanks
constexpr int kTextLength = 27; // every result text has exactly this length
// A text longer than the PC's completeness mark of 27 bytes would be cut.
static_assert(kUidWidth + 1 + 2 + 1 + 7 == kTextLength, "result text layout");

struct Result
{
    int terminal = 0;
    QString uid;
    QString code;
    QString value;        // as scripted or generated, without the zero padding
    bool offered = false; // "3" went out for it
    bool textSent = false;
};

// Value field of five characters with leading zeros ("490" -> "00490",
// "-5.2" -> "-05.2").
QString paddedValue(const QString &value)
{
    if (value.startsWith(QLatin1Char('-')))
        return QLatin1Char('-') + value.mid(1).rightJustified(4, QLatin1Char('0'));
    return value.rightJustified(5, QLatin1Char('0'));
}

// "<uid padded to 16> <terminal, two digits> <item code><value, five characters>"
QByteArray resultText(const Result &r)
{
    return (r.uid.leftJustified(kUidWidth, QLatin1Char(' ')) + QLatin1Char(' ') +
            QString::number(r.terminal).rightJustified(2, QLatin1Char('0')) + QLatin1Char(' ') + r.code +
            paddedValue(r.value))
        .toLatin1();
}

bool validUid(const QString &uid)
{
    static const QRegularExpression pattern(QStringLiteral("^[!-~]{1,16}$"));
    return pattern.match(uid).hasMatch();
}

bool validValue(const QString &value)
{
    static const QRegularExpression pattern(QStringLiteral("^[!-~]{1,5}$"));
    return pattern.match(value).hasMatch();
}

// Reads "<terminal> <user number> <item code> <value>" lines.
bool readScript(const QString &path, QList<Result> *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the script %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream in(&file);
    int lineNo = 0;
    while (!in.atEnd()) {
        QString line = in.readLine();
        ++lineNo;
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList f = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (f.isEmpty())
            continue;
        Result r;
        bool ok = f.size() == 4;
        if (ok)
            r.terminal = f[0].toInt(&ok);
        ok = ok && r.terminal >= 0 && r.terminal < kTerminals;
        if (ok) {
            r.uid = f[1];
            r.code = f[2];
            r.value = f[3];
            ok = validUid(r.uid) && r.code.size() == 2 && r.code[0].isDigit() && r.code[1].isDigit() &&
                 validValue(r.value);
        }
        if (!ok) {
            *error =
                QStringLiteral("%1 line %2: expected \"<terminal 0-10> <user number, at most 16 characters> "
                               "<two-digit item code> <value, at most 5 characters>\"")
                    .arg(path)
                    .arg(lineNo);
            return false;
        }
        out->append(r);
    }
    return true;
}

// Test items: code, terminal of the station that measures it.
struct Item
{
    const char *code;
    int terminal;
};
const Item kItems[] = {{"01", 0}, {"02", 0}, {"03", 1}, {"04", 2}, {"05", 3}, {"06", 4},
                       {"07", 5}, {"09", 6}, {"11", 7}, {"12", 8}, {"14", 9}, {"15", 10}};

// Fixed traits of one generated person, so that repeated items stay consistent.
struct Profile
{
    bool male = true;
    double height = 170.0;
    double weight = 65.0;
    double fitness = 0.0; // standard score, shifts every performance
};

Profile makeProfile(quint32 seed, const QString &uid)
{
    std::seed_seq seq{seed, quint32(qHash(uid))};
    std::mt19937 rng(seq);
    std::normal_distribution<double> gauss(0.0, 1.0);
    Profile p;
    p.male = std::uniform_int_distribution<int>(0, 1)(rng) == 0;
    p.height = std::clamp((p.male ? 172.0 : 160.0) + 6.0 * gauss(rng), 145.0, 198.0);
    p.weight = std::clamp(22.5 * std::pow(p.height / 100.0, 2.0) + 6.0 * gauss(rng), 40.0, 120.0);
    p.fitness = std::clamp(gauss(rng), -2.0, 2.0);
    return p;
}

// A realistic value in the station's units: centimetres, kilograms,
// millilitres, newtons for grip strength, seconds, milliseconds, counts.
QString itemValue(const QString &code, const Profile &p, std::mt19937 &rng)
{
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double f = p.fitness;
    auto around = [&](double mean, double sd, double low, double high) {
        return std::clamp(mean + sd * (0.7 * f + 0.7 * gauss(rng)), low, high);
    };
    auto d1 = [](double v) { return QString::number(v, 'f', 1); };
    auto whole = [](double v) { return QString::number(std::lround(v)); };
    const bool m = p.male;
    if (code == QLatin1String("01"))
        return d1(p.height + 0.2 * gauss(rng));
    if (code == QLatin1String("02"))
        return d1(p.weight + 0.3 * gauss(rng));
    if (code == QLatin1String("03"))
        return whole(around(m ? 3600.0 : 2600.0, m ? 600.0 : 450.0, 1200.0, 6500.0));
    if (code == QLatin1String("04"))
        return d1(around(56.0, 8.0, 35.0, 90.0));
    if (code == QLatin1String("05"))
        return d1(around(m ? 8.0 : 11.0, 7.0, -10.0, 30.0));
    if (code == QLatin1String("06"))
        return whole(around(m ? 430.0 : 260.0, m ? 70.0 : 45.0, 100.0, 800.0));
    if (code == QLatin1String("07"))
        return d1(around(m ? 42.0 : 30.0, m ? 7.0 : 5.0, 10.0, 80.0));
    if (code == QLatin1String("09"))
        return whole(around(m ? 25.0 : 12.0, m ? 9.0 : 6.0, 0.0, 80.0));
    if (code == QLatin1String("11"))
        return d1(around(20.0, 12.0, 1.0, 120.0));
    if (code == QLatin1String("12"))
        return whole(around(480.0, -60.0, 250.0, 900.0)); // fitter people react faster
    if (code == QLatin1String("14"))
        return whole(around(m ? 32.0 : 26.0, m ? 8.0 : 7.0, 0.0, 70.0));
    return whole(around(m ? 215.0 : 160.0, m ? 22.0 : 18.0, 80.0, 300.0)); // "15"
}

QList<Result> generateResults(quint32 seed, int count, const QStringList &users)
{
    std::seed_seq seq{seed, 0x5747u};
    std::mt19937 rng(seq);
    QList<Result> out;
    for (int i = 0; i < count; ++i) {
        const QString uid = users[std::uniform_int_distribution<int>(0, users.size() - 1)(rng)];
        const Item &item = kItems[std::uniform_int_distribution<int>(0, 11)(rng)];
        Result r;
        r.terminal = item.terminal;
        r.uid = uid;
        r.code = QString::fromLatin1(item.code);
        r.value = itemValue(r.code, makeProfile(seed, uid), rng);
        out << r;
    }
    return out;
}

class StationSim : public QObject
{
public:
    StationSim(QList<Result> results, int intervalMs, int stall, sim::SimLink *link)
        : m_results(std::move(results)), m_intervalMs(intervalMs), m_stall(stall), m_link(link)
    {
        m_clock.start();
        connect(link, &sim::SimLink::received, this, &StationSim::onBytes);
    }

private:
    Result *head(int terminal)
    {
        if (m_next >= m_results.size() || m_results[m_next].terminal != terminal)
            return nullptr;
        return &m_results[m_next];
    }

    void advance()
    {
        ++m_next;
        m_availableAt = m_clock.elapsed() + m_intervalMs;
        if (m_next >= m_results.size())
            sim::note(QStringLiteral("all %1 result(s) handled").arg(m_results.size()));
    }

    void onBytes(const QByteArray &bytes)
    {
        m_in.append(bytes);
        while (!m_in.isEmpty()) {
            const int first = quint8(m_in[0]);
            if (first < 0x80 || first >= 0x80 + kTerminals) {
                sim::note(QStringLiteral("stray byte %1 ignored").arg(first, 2, 16, QLatin1Char('0')));
                m_in.remove(0, 1);
                continue;
            }
            if (m_in.size() < 2)
                return;
            const int second = quint8(m_in[1]);
            if (second < 0x64 || second > 0x66) {
                sim::note(QStringLiteral("stray byte %1 ignored").arg(first, 2, 16, QLatin1Char('0')));
                m_in.remove(0, 1);
                continue;
            }
            m_in.remove(0, 2);
            handle(first - 0x80, second);
        }
    }

    void handle(int terminal, int command)
    {
        Result *r = head(terminal);
        if (command == 0x64) {
            // Only a terminal holding a result answers a query; the others stay silent.
            if (r && m_clock.elapsed() >= m_availableAt && m_link->sendAnswer(QStringLiteral("ready"), "3"))
                r->offered = true;
            return;
        }
        if (command == 0x65) {
            if (!r || !r->offered) {
                sim::note(QStringLiteral("terminal %1 asked for a result it has not announced: no answer")
                              .arg(terminal));
                return;
            }
            const QByteArray text = resultText(*r);
            if (m_next + 1 == m_stall) {
                m_link->sendAnswer(QStringLiteral("result"), text.left(10));
                sim::note(QStringLiteral("terminal %1 stalls after 10 bytes of result %2; the result is lost")
                              .arg(terminal)
                              .arg(m_next + 1));
                advance();
                return;
            }
            if (m_link->sendAnswer(QStringLiteral("result"), text))
                r->textSent = true;
            return;
        }
        // 0x66: the PC has the result.
        if (!r || !r->textSent) {
            sim::note(QStringLiteral("acknowledgement for terminal %1 without a sent result ignored")
                          .arg(terminal));
            return;
        }
        m_link->logDelivery(
            QStringLiteral("result %1 %2 %3 %4").arg(r->terminal).arg(r->uid, r->code, r->value));
        advance();
    }

    QList<Result> m_results;
    int m_intervalMs;
    int m_stall;
    sim::SimLink *m_link;
    QElapsedTimer m_clock;
    QByteArray m_in;
    int m_next = 0;
    qint64 m_availableAt = 0;
};

const char kDescription[] =
    "Simulated fitness-test station with eleven terminals (0 to 10) on a serial\n"
    "line (9600 baud 8N1).\n"
    "\n"
    "Opens a pseudo-terminal and prints the device path the program should open as\n"
    "the first line on stdout; progress goes to stderr. SIGTERM or SIGINT end it.\n"
    "\n"
    "Results are handed out one at a time, in order. The terminal holding the next\n"
    "result answers the query 0x80+N 0x64 with the single byte \"3\"; every other\n"
    "query gets no answer. 0x80+N 0x65 then brings the result text, 27 bytes:\n"
    "  <user number, left-aligned, blank-padded to 16> <terminal, 2 digits> <item code><value>\n"
    "with the value zero-padded to five characters (\"0600490\": grip strength\n"
    "490 N). 0x80+N 0x66 acknowledges it; the next result becomes available\n"
    "--interval ms later. Without acknowledgement the terminal keeps the result and\n"
    "announces it again on its next query.\n"
    "Item codes: 01 height cm, 02 weight kg, 03 vital capacity ml, 04 step test\n"
    "index, 05 sit-and-reach cm, 06 grip strength N, 07 vertical jump cm,\n"
    "09 push-ups, 11 one-leg stand with eyes closed s, 12 reaction time ms,\n"
    "14 sit-ups, 15 standing long jump cm.\n"
    "\n"
    "--drop kinds: ready (the \"3\" answer), result (the result text).\n"
    "--stall N: the N-th result is sent only partly (its first 10 bytes); the\n"
    "terminal then says nothing more about it and the result is lost; the next\n"
    "results follow normally on later queries.\n"
    "--log line, written when a result is acknowledged:\n"
    "  result <terminal> <user number> <item code> <value>\n"
    "(the value as in the script or as generated, without the zero padding).";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelmar-station-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    sim::addCommonOptions(parser);
    parser.addOptions({
        {QStringLiteral("script"),
         QStringLiteral(
             "Results from the lines \"<terminal 0-10> <user number> <item code> <value>\" of FILE, "
             "in file order ('#' starts a comment, blank lines are ignored). User numbers have at "
             "most 16 characters, values at most 5."),
         QStringLiteral("FILE")},
        {QStringLiteral("results"),
         QStringLiteral("Without --script: generate N results from the seed (default 20), spread over the "
                        "terminals and over --users."),
         QStringLiteral("N"), QStringLiteral("20")},
        {QStringLiteral("users"),
         QStringLiteral("Comma-separated user numbers of generated results (default 1,2,3,4)."),
         QStringLiteral("LIST"), QStringLiteral("1,2,3,4")},
        {QStringLiteral("interval"),
         QStringLiteral("Minimum pause in ms between the acknowledgement of one result and the announcement "
                        "of the next (default 500)."),
         QStringLiteral("MS"), QStringLiteral("500")},
        {QStringLiteral("stall"),
         QStringLiteral("Send only the first 10 bytes of the N-th result and then stay silent about it."),
         QStringLiteral("N")},
    });
    parser.process(app);

    sim::CommonOptions common;
    QString error;
    bool ok =
        sim::readCommonOptions(parser, {QStringLiteral("ready"), QStringLiteral("result")}, &common, &error);
    auto intOption = [&](const char *name, int low, int high, int fallback) {
        if (!ok || !parser.isSet(QLatin1String(name)))
            return fallback;
        bool okNum = false;
        const int value = parser.value(QLatin1String(name)).toInt(&okNum);
        if (!okNum || value < low || value > high) {
            error = QStringLiteral("--%1 needs a whole number from %2 to %3")
                        .arg(QLatin1String(name))
                        .arg(low)
                        .arg(high);
            ok = false;
            return fallback;
        }
        return value;
    };
    const int count = intOption("results", 0, 1000000, 20);
    const int interval = intOption("interval", 0, 3600000, 500);
    const int stall = intOption("stall", 1, 1000000, 0);
    QList<Result> results;
    if (ok && parser.isSet(QStringLiteral("script"))) {
        ok = readScript(parser.value(QStringLiteral("script")), &results, &error);
    } else if (ok) {
        const QStringList users = parser.value(QStringLiteral("users")).split(QLatin1Char(','));
        for (const QString &uid : users) {
            if (!validUid(uid)) {
                error = QStringLiteral("--users: \"%1\" is no user number (1 to 16 characters, no blanks)")
                            .arg(uid);
                ok = false;
            }
        }
        if (ok)
            results = generateResults(common.seed, count, users);
    }
    if (!ok) {
        sim::note(QStringLiteral("quelmar-station-sim: %1 (see --help)").arg(error));
        return 2;
    }

    sim::installQuitSignals();
    sim::SimLink link(common);
    if (!link.open(&error)) {
        sim::note(QStringLiteral("quelmar-station-sim: %1").arg(error));
        return 1;
    }
    StationSim station(results, interval, stall, &link);
    std::printf("%s\n", link.devicePath().toLocal8Bit().constData());
    std::fflush(stdout);
    sim::note(QStringLiteral("station ready on %1 with %2 result(s) (%3)")
                  .arg(link.devicePath())
                  .arg(results.size())
                  .arg(common.fast ? QStringLiteral("fast") : QStringLiteral("960 bytes/s")));
    return app.exec();
}
