// The instrument simulators, driven over real pseudo-terminals with a
// QSerialPort on the PC side: frames and texts decode with the program's own
// codec, the dialogues run as the program expects, and the line faults the
// options ask for happen as documented.
#include "analyzer/framecodec.h"
#include "simprocess.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// The PC side of a simulator's line.
class Line
{
public:
    bool open(const QString &path)
    {
        m_port.setPortName(path);
        if (!m_port.open(QIODevice::ReadWrite))
            return false;
        m_port.setBaudRate(QSerialPort::Baud9600);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        return true;
    }
    void send(const QByteArray &bytes)
    {
        m_port.write(bytes);
        m_port.waitForBytesWritten(1000);
    }
    // Reads until |done| holds or |ms| pass; returns the number of reads that brought bytes.
    int readUntil(const std::function<bool()> &done, int ms)
    {
        QElapsedTimer t;
        t.start();
        int reads = 0;
        while (!done() && t.elapsed() < ms) {
            if (m_port.waitForReadyRead(int(std::max<qint64>(1, ms - t.elapsed())))) {
                const QByteArray got = m_port.readAll();
                if (!got.isEmpty()) {
                    buffer.append(got);
                    ++reads;
                }
            }
        }
        return reads;
    }
    QByteArray readFor(int ms)
    {
        readUntil([] { return false; }, ms);
        QByteArray out = buffer;
        buffer.clear();
        return out;
    }

    QByteArray buffer;

private:
    QSerialPort m_port;
};

// Splits the first whole frame off |buf| (by its length field); the bytes in
// front of it go to |junk|. Empty while no whole frame is there.
QByteArray takeFrame(QByteArray &buf, QByteArray *junk = nullptr)
{
    const int start = buf.indexOf(frames::startMark);
    if (start < 0 || buf.size() < start + 9)
        return QByteArray();
    const int length = (quint8(buf[start + 7]) << 8) | quint8(buf[start + 8]);
    if (buf.size() < start + length)
        return QByteArray();
    if (junk)
        *junk = buf.left(start);
    const QByteArray frame = buf.mid(start, length);
    buf.remove(0, start + length);
    return frame;
}

bool hasFrame(const QByteArray &buf)
{
    QByteArray copy = buf;
    return !takeFrame(copy).isEmpty();
}

// Sends one command frame (hex text) and returns the first answer frame.
QByteArray ask(Line &line, const QString &command, QByteArray *junk = nullptr, int *reads = nullptr)
{
    line.buffer.clear();
    line.send(hexStringtoByteArray(command));
    const int n = line.readUntil([&] { return hasFrame(line.buffer); }, 3000);
    if (reads)
        *reads = n;
    return takeFrame(line.buffer, junk);
}

// The frame as the analyzer must build it: marks, code, length, checksum.
bool wellFormed(const QByteArray &f, quint8 code)
{
    return f.size() >= 12 && f.startsWith(frames::startMark) && f.endsWith(frames::endMark) &&
           quint8(f[2]) == code && quint8(f[3]) == 0x21 && ((quint8(f[7]) << 8) | quint8(f[8])) == f.size() &&
           quint8(f[f.size() - 3]) == frameChecksum(f);
}

// State code of a status answer, or -1.
int stateOf(const QByteArray &f)
{
    if (!wellFormed(f, 0x81) || f.size() != 14 || quint8(f[9]) != 0x0D)
        return -1;
    return quint8(f[10]);
}

int pollState(Line &line)
{
    return stateOf(ask(line, frames::queryState));
}

// Decoded payload of a data answer, through the program's own decoders; it
// must equal the UTF-16BE text the frame carries (nothing lost in decoding).
QByteArray decoded(const QByteArray &f, bool person)
{
    const QByteArray hex = f.toHex();
    const QByteArray text = person ? personDataTrans(hexStrTrim(hex)) : testDataTrans(hexStrTrim(hex));
    const QByteArray payload = f.mid(9, f.size() - 12);
    QString raw;
    for (int i = 0; i + 1 < payload.size(); i += 2)
        raw.append(QChar(ushort((quint8(payload[i]) << 8) | quint8(payload[i + 1]))));
    return raw.toLatin1() == text ? text : QByteArray("decoded text differs from the payload");
}

QList<double> numbers(const QByteArray &text)
{
    QList<double> out;
    for (const QByteArray &f : text.split('#'))
        out << f.toDouble();
    return out;
}

struct Download
{
    QByteArray person, whole, segment, impedance;
};

Download download(Line &line)
{
    Download d;
    const QByteArray p = ask(line, frames::sendPerson);
    const QByteArray w = ask(line, frames::sendWhole);
    const QByteArray s = ask(line, frames::sendSegment);
    const QByteArray i = ask(line, frames::sendImpedance);
    if (wellFormed(p, 0x85) && wellFormed(w, 0x86) && wellFormed(s, 0x87) && wellFormed(i, 0x89)) {
        d.person = decoded(p, true);
        d.whole = decoded(w, false);
        d.segment = decoded(s, false);
        d.impedance = decoded(i, false);
    }
    return d;
}

// Physiological plausibility and inner consistency of one downloaded record.
void checkRecord(const Download &d)
{
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QList<QByteArray> person = d.person.split('#');
    QVERIFY2(person.size() >= 5 && person.last().isEmpty(), d.person.constData());
    QVERIFY(!person[0].isEmpty());
    QVERIFY(person[2] == "0" || person[2] == "1");
    const int year = person[3].toInt();
    QVERIFY(year > QDate::currentDate().year() - 110 && year < QDate::currentDate().year() - 3);

    const QList<QByteArray> wf = d.whole.split('#');
    QCOMPARE(wf.size(), 28); // 27 fields and the closing '#'
    QCOMPARE(wf[0], person[0]);
    QCOMPARE(QString::fromLatin1(wf[1]), today);
    const QList<double> w = numbers(d.whole);
    const double fat = w[4], bone = w[5], protein = w[6], icw = w[7], ecw = w[8], muscle = w[9], lbm = w[10];
    const double height = w[11], weight = w[12], pbf = w[17], smm = w[18], bmi = w[19], edema = w[22];
    QVERIFY(height >= 100 && height <= 250);
    QVERIFY(weight >= 25 && weight <= 200);
    QVERIFY2(qAbs(bmi - weight / (height * height / 10000.0)) <= 0.06, d.whole.constData());
    QVERIFY(qAbs(fat + lbm - weight) <= 0.051);
    QVERIFY(qAbs(icw + ecw + protein + bone - lbm) <= 0.051);
    QVERIFY(qAbs(muscle + bone - lbm) <= 0.051);
    QVERIFY2((icw + ecw) / weight > 0.45 && (icw + ecw) / weight < 0.70, d.whole.constData());
    QVERIFY((icw + ecw) / lbm > 0.70 && (icw + ecw) / lbm < 0.76); // hydration of lean tissue
    QVERIFY(qAbs(pbf - 100.0 * fat / weight) <= 0.11);
    QVERIFY(pbf >= 5 && pbf <= 50);
    QVERIFY(qAbs(edema - ecw / (icw + ecw)) <= 0.005 && edema > 0.34 && edema < 0.42);
    QVERIFY(smm > 0.4 * muscle && smm < muscle);
    QVERIFY(bone > 1.0 && bone < 6.0 && protein > 4.0 && protein < 20.0);
    QVERIFY(qAbs(w[14] - (w[15] + w[16])) <= 0.051); // weight control = fat + muscle control
    QVERIFY(w[20] >= 0.6 && w[20] <= 1.2);           // waist-hip ratio
    QVERIFY(w[21] >= 800 && w[21] <= 2600);          // basal metabolic rate
    QVERIFY(w[23] >= 1 && w[23] <= 20);              // visceral fat index
    bool wholeAge = false;
    const int bodyAge = wf[25].toInt(&wholeAge);
    QVERIFY(wholeAge && bodyAge >= 10 && bodyAge <= 110);
    QVERIFY(w[26] > 0 && w[26] <= 100);

    const QList<QByteArray> sf = d.segment.split('#');
    QCOMPARE(sf.size(), 28);
    QCOMPARE(QString::fromLatin1(sf[1]), today);
    const QList<double> s = numbers(d.segment);
    // Five quantities per segment (fat, muscle, bone, water, fat-free mass), segments TR LA RA LL RL.
    double sums[5] = {0, 0, 0, 0, 0};
    for (int seg = 0; seg < 5; ++seg) {
        const int b = 2 + 5 * seg;
        for (int q = 0; q < 5; ++q) {
            QVERIFY(s[b + q] > 0);
            sums[q] += s[b + q];
        }
        QVERIFY(qAbs(s[b + 4] - (s[b + 1] + s[b + 2])) <= 0.011);
        QVERIFY(s[b + 3] < s[b + 1]);
        if (seg > 0)
            QVERIFY(s[b + 1] < s[3]); // the trunk holds the most muscle
    }
    QVERIFY(qAbs(sums[0] - fat) <= 0.011);
    QVERIFY(qAbs(sums[1] - muscle) <= 0.011);
    QVERIFY(qAbs(sums[2] - bone) <= 0.011);
    QVERIFY(qAbs(sums[3] - (icw + ecw)) <= 0.011);
    QVERIFY(qAbs(sums[4] - lbm) <= 0.011);

    const QList<QByteArray> zf = d.impedance.split('#');
    QCOMPARE(zf.size(), 28);
    QCOMPARE(QString::fromLatin1(zf[1]), today);
    const QList<double> z = numbers(d.impedance);
    // Order RA LA TR RL LL at 5, 50, 100, 250, 500 kHz; index 2 of each block is the trunk.
    for (int seg = 0; seg < 5; ++seg) {
        for (int f = 0; f < 4; ++f)
            QVERIFY(z[2 + 5 * f + seg] > z[2 + 5 * (f + 1) + seg]); // falls with frequency
        const double at50 = z[7 + seg];
        if (seg == 2)
            QVERIFY(at50 >= 10 && at50 <= 50);
        else
            QVERIFY2(at50 >= 150 && at50 <= 600, d.impedance.constData());
    }
}

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString recordLine(const Download &d)
{
    return QStringLiteral("record %1 %2|%3|%4|%5")
        .arg(QString::fromLatin1(d.person.split('#').value(0)), QString::fromLatin1(d.person),
             QString::fromLatin1(d.whole), QString::fromLatin1(d.segment), QString::fromLatin1(d.impedance));
}

// Station: one two-byte command.
QByteArray cmd(int terminal, int code)
{
    QByteArray out;
    out.append(char(0x80 + terminal));
    out.append(char(code));
    return out;
}

// The station's answer to a query of |terminal|: what the first read within |ms| brings.
QByteArray query(Line &line, int terminal, int ms = 60)
{
    line.buffer.clear();
    line.send(cmd(terminal, 0x64));
    line.readUntil([&] { return !line.buffer.isEmpty(); }, ms);
    QByteArray out = line.buffer;
    line.buffer.clear();
    return out;
}

// Asks for the result text and gathers at least 27 bytes; |reads| counts the reads.
QByteArray fetchText(Line &line, int terminal, int *reads = nullptr, int ms = 2000)
{
    line.buffer.clear();
    line.send(cmd(terminal, 0x65));
    const int n = line.readUntil([&] { return line.buffer.size() >= 27; }, ms);
    if (reads)
        *reads = n;
    QByteArray text = line.buffer;
    line.buffer.clear();
    return text;
}

// User number, item code and value as the program splits a result text.
QStringList splitResult(const QByteArray &text)
{
    const QList<QByteArray> fields = text.split(' ');
    QByteArray value = fields.last().mid(2, 5);
    while (value.startsWith('0'))
        value.remove(0, 1);
    return {QString::fromLatin1(fields.first()), QString::fromLatin1(fields.last().left(2)),
            QString::fromLatin1(value)};
}

} // namespace

class TestSimulators : public QObject
{
    Q_OBJECT

private slots:
    void analyzerBatchRecordsArePlausible();
    void analyzerLineFaults();
    void stationStallAndDrops();
};

void TestSimulators::analyzerBatchRecordsArePlausible()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("batch.log"));
    SimProcess sim;
    QVERIFY(sim.start(QStringLiteral("quelmar-analyzer-sim"),
                      {QStringLiteral("--fast"), QStringLiteral("--batch"), QStringLiteral("20"),
                       QStringLiteral("--uid-base"), QStringLiteral("7"), QStringLiteral("--seed"),
                       QStringLiteral("11"), QStringLiteral("--log"), log}));
    Line line;
    QVERIFY(line.open(sim.devicePath()));
    QStringList expected;
    QSet<QByteArray> sexes;
    for (int i = 0; i < 20; ++i) {
        QCOMPARE(pollState(line), 0x0a);
        const Download d = download(line);
        checkRecord(d);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(d.person.split('#').value(0), QByteArray::number(7 + i));
        sexes << d.person.split('#').value(2);
        expected << recordLine(d);
        QVERIFY(wellFormed(ask(line, frames::nextRecord), 0x8D));
    }
    QCOMPARE(sexes.size(), 2); // both sexes among twenty people
    QCOMPARE(pollState(line), 0x09);
    QCOMPARE(readLines(log), expected);

    // The same seed gives the same records.
    SimProcess again;
    QVERIFY(again.start(QStringLiteral("quelmar-analyzer-sim"),
                        {QStringLiteral("--fast"), QStringLiteral("--batch"), QStringLiteral("1"),
                         QStringLiteral("--uid-base"), QStringLiteral("7"), QStringLiteral("--seed"),
                         QStringLiteral("11")}));
    Line second;
    QVERIFY(second.open(again.devicePath()));
    QCOMPARE(recordLine(download(second)), expected.first());
}

void TestSimulators::analyzerLineFaults()
{
    {
        SimProcess sim;
        QVERIFY(sim.start(QStringLiteral("quelmar-analyzer-sim"),
                          {QStringLiteral("--fast"), QStringLiteral("--batch"), QStringLiteral("1"),
                           QStringLiteral("--drop"), QStringLiteral("86"), QStringLiteral("--drop"),
                           QStringLiteral("81:2"), QStringLiteral("--garbage"), QStringLiteral("1")}));
        Line line;
        QVERIFY(line.open(sim.devicePath()));
        QByteArray junk;
        QCOMPARE(stateOf(ask(line, frames::queryState, &junk)), 0x0a);
        QVERIFY(junk.size() >= 1 && junk.size() <= 16);
        for (const char c : qAsConst(junk))
            QVERIFY(quint8(c) >= 0x40 && quint8(c) <= 0x7E);
        line.send(hexStringtoByteArray(frames::queryState)); // the second status answer is dropped
        QVERIFY(line.readFor(300).isEmpty());
        QCOMPARE(stateOf(ask(line, frames::queryState, &junk)), 0x0a);
        QVERIFY(!junk.isEmpty());

        QVERIFY(wellFormed(ask(line, frames::sendPerson), 0x85));
        line.send(hexStringtoByteArray(frames::sendWhole)); // the first whole-body answer is dropped
        QVERIFY(line.readFor(300).isEmpty());
        QVERIFY(wellFormed(ask(line, frames::sendWhole, &junk), 0x86));
        QVERIFY(!junk.isEmpty());
    }
    {
        // Answers in small pieces arrive over several reads and reassemble.
        SimProcess sim;
        QVERIFY(sim.start(QStringLiteral("quelmar-analyzer-sim"),
                          {QStringLiteral("--fast"), QStringLiteral("--batch"), QStringLiteral("1"),
                           QStringLiteral("--chunk"), QStringLiteral("20:40")}));
        Line line;
        QVERIFY(line.open(sim.devicePath()));
        int reads = 0;
        const QByteArray whole = ask(line, frames::sendWhole, nullptr, &reads);
        QVERIFY(wellFormed(whole, 0x86));
        QVERIFY2(reads >= whole.size() / 40, qPrintable(QString::number(reads)));
        QCOMPARE(numbers(decoded(whole, false)).size(), 28);
    }
}

void TestSimulators::stationStallAndDrops()
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("results.txt"));
    const QString log = dir.filePath(QStringLiteral("station.log"));
    QFile f(script);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Text));
    f.write("1 21 09 30\n1 22 14 40\n1 23 12 455\n");
    f.close();
    SimProcess sim;
    QVERIFY(sim.start(QStringLiteral("quelmar-station-sim"),
                      {QStringLiteral("--fast"), QStringLiteral("--script"), script,
                       QStringLiteral("--interval"), QStringLiteral("0"), QStringLiteral("--stall"),
                       QStringLiteral("2"), QStringLiteral("--drop"), QStringLiteral("ready"),
                       QStringLiteral("--drop"), QStringLiteral("result:1"), QStringLiteral("--log"), log}));
    Line line;
    QVERIFY(line.open(sim.devicePath()));
    QVERIFY(query(line, 1, 150).isEmpty()); // first "3" dropped
    QCOMPARE(query(line, 1), QByteArray("3"));
    QVERIFY(fetchText(line, 1, nullptr, 300).isEmpty()); // first result text dropped
    const QByteArray text = fetchText(line, 1);
    QCOMPARE(splitResult(text),
             QStringList({QStringLiteral("21"), QStringLiteral("09"), QStringLiteral("30")}));
    line.send(cmd(1, 0x66));

    // The second result stops after ten bytes and is not sent again.
    QCOMPARE(query(line, 1), QByteArray("3"));
    const QByteArray part = fetchText(line, 1, nullptr, 400);
    QCOMPARE(part.size(), 10);
    QVERIFY(part.startsWith("22 "));
    QVERIFY(fetchText(line, 1, nullptr, 300).isEmpty());
    line.send(cmd(1, 0x66));

    // The third follows normally on a later query.
    QCOMPARE(query(line, 1), QByteArray("3"));
    QCOMPARE(splitResult(fetchText(line, 1)),
             QStringList({QStringLiteral("23"), QStringLiteral("12"), QStringLiteral("455")}));
    line.send(cmd(1, 0x66));
    QTest::qWait(100);
    QCOMPARE(readLines(log),
             QStringList({QStringLiteral("result 1 21 09 30"), QStringLiteral("result 1 23 12 455")}));
}

QTEST_GUILESS_MAIN(TestSimulators)
#include "tst_simulators.moc"
