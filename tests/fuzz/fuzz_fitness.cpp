// Fuzz target: the fitness station dialogue fed arbitrary reads.
//
// Input: a program of operations, each an operation byte and its operands:
//   0                 a poll tick
//   1 chunk           a read from the port (length byte + bytes)
//   2 time            the clock moves on by a 16-bit number of milliseconds
//   3                 the store's outcome flips (stored / refused)
//
// What must hold: a result is handed out only from a reception that was
// asked for, and it is the last 27 bytes received in it, shaped as a result
// (a user-number field without control bytes, blank-separated fields, the
// item field of a blank, two code digits and five value characters), split
// exactly into user number, item code and value; noise in front of the ready
// answer still starts the reception; the collection stays bounded; only a
// stored (or already stored) result is acknowledged.
#include "fitness/fitnesssession.h"
#include "tests/fuzz/fuzzsupport.h"

using fuzzsupport::ByteReader;

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The result shape, independent of the session's own test.
bool hasResultShape(const QByteArray &t)
{
    if (t.size() != fitness::kResultLength || t.at(0) == ' ')
        return false;
    const int blank = t.indexOf(' ');
    if (blank < 1 || blank > 18)
        return false;
    for (int i = 0; i < blank; ++i) {
        if (quint8(t.at(i)) < 0x20 || t.at(i) == 0x7f)
            return false;
    }
    if (t.at(19) != ' ' || !isDigit(t.at(20)) || !isDigit(t.at(21)))
        return false;
    for (int i = 22; i < 27; ++i) {
        if (!isDigit(t.at(i)) && t.at(i) != '.' && t.at(i) != '-')
            return false;
    }
    return true;
}

void checkSplit(const fitness::FitResult &r, const QByteArray &text)
{
    QString value = QString::fromLatin1(text.mid(22, 5));
    while (value.startsWith(QLatin1Char('0')))
        value.remove(0, 1);
    const QByteArray detail = "text [" + text + "] hex " + text.toHex();
    FUZZ_CHECK(r.userId == QString::fromUtf8(text.left(text.indexOf(' '))), detail);
    FUZZ_CHECK(r.itemCode == QString::fromLatin1(text.mid(20, 2)), detail);
    FUZZ_CHECK(r.value == value, detail);
}

bool isCommand(const QByteArray &write, char code)
{
    return write.size() == 2 && quint8(write.at(0)) >= 0x80 &&
           quint8(write.at(0)) < 0x80 + fitness::kTerminals && write.at(1) == code;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fitness::FitnessSession session;
    ByteReader in(data, size);
    qint64 now = 0;
    bool storeOk = true;
    QByteArray lastStored;
    while (!in.atEnd()) {
        switch (in.byte() % 4) {
        case 0: {
            const fitness::FitnessSession::TickOutcome t = session.tick(now);
            FUZZ_CHECK(t.write.isEmpty() || isCommand(t.write, fitness::kQuery), t.write.toHex());
            break;
        }
        case 1: {
            const QByteArray bytes = in.chunk();
            const bool collecting = session.containerFlag() == 1;
            const QByteArray before = session.containerFit();
            const int asked = session.askNum();
            const fitness::FitnessSession::ReceiveOutcome out = session.receive(bytes, now);
            const QByteArray received = before + bytes;
            const QByteArray detail = "received " + received.toHex();
            if (!out.timedOut && !collecting && bytes.endsWith('3') && asked >= 0 &&
                asked < fitness::kTerminals) {
                // A ready answer, with or without line noise read in front of it.
                FUZZ_CHECK(session.containerFlag() == 1 &&
                               out.write == fitness::command(asked, fitness::kRequest),
                           "ready answer " + bytes.toHex());
            }
            if (out.hasResult || out.duplicate) {
                FUZZ_CHECK(collecting && !out.timedOut, detail);
                const QByteArray text = received.right(fitness::kResultLength);
                FUZZ_CHECK(hasResultShape(text), detail);
                if (out.hasResult)
                    checkSplit(out.result, text);
                else
                    FUZZ_CHECK(text == lastStored, detail);
            }
            if (out.duplicate)
                FUZZ_CHECK(out.write.isEmpty() || isCommand(out.write, fitness::kAcknowledge),
                           out.write.toHex());
            else
                FUZZ_CHECK(out.write.isEmpty() || isCommand(out.write, fitness::kRequest), out.write.toHex());
            if (out.hasResult) {
                const QByteArray ack = session.resultStored(storeOk);
                FUZZ_CHECK(storeOk ? (ack.isEmpty() || isCommand(ack, fitness::kAcknowledge)) : ack.isEmpty(),
                           ack.toHex());
                if (storeOk)
                    lastStored = received.right(fitness::kResultLength);
            }
            FUZZ_CHECK(session.containerFit().size() <= fitness::kContainerCap + bytes.size(),
                       QByteArray::number(session.containerFit().size()));
            break;
        }
        case 2:
            now += in.u16();
            break;
        default:
            storeOk = !storeOk;
            break;
        }
    }
    return 0;
}
