// Fuzz target: the analyzer frame codec and the analyzer dialogue fed
// arbitrary bytes in arbitrary read chunks.
//
// Input: a program of operations, each an operation byte and its operands:
//   0 tick(chunk)     a polling tick that read |chunk| (length byte + bytes)
//   1 receive(chunk)  a read of the download handler
//   2 time            the clock moves on by a 16-bit number of milliseconds
//   3                 the store's outcome flips (stored / refused)
//   4                 the batch switch flips (ON / OFF)
//   5 state           the window sets the analyzer state (operand % 7)
//
// What must hold: the codec's conversions keep their alphabets and lose no
// bytes, a frame built by the program reads back as sent; the session never
// writes an unsound frame, never sends 0D while a refused record waits to be
// stored, never keeps more than its limit of bytes without an end mark, and
// hands out a record only when every part of it is the decoding of a whole
// answer frame of that part that came over the line, at most one record per
// impedance answer.
#include "analyzer/analyzersession.h"
#include "analyzer/framecodec.h"
#include "app/globals.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QSet>

using fuzzsupport::ByteReader;

namespace {

bool onlyChars(const QByteArray &text, const char *alphabet, bool letters)
{
    for (const char c : text) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!std::strchr(alphabet, c) && !(letters && letter))
            return false;
    }
    return true;
}

void checkCodec(const QByteArray &bytes, quint8 code)
{
    const QList<QByteArray> cut = cutFrame(bytes);
    FUZZ_CHECK(cut.size() == 2 && cut[0] + cut[1] == bytes, bytes.toHex());
    FUZZ_CHECK(!cut[0].contains(frames::endMark) || cut[0].endsWith(frames::endMark), bytes.toHex());
    FUZZ_CHECK(cut[0].indexOf(frames::endMark) == cut[0].size() - 2 || !bytes.contains(frames::endMark),
               bytes.toHex());

    const QByteArray hex = bytes.toHex();
    const int end = indexOfEndMarkHex(hex);
    FUZZ_CHECK(end == -1 || (end % 2 == 0 && hex.mid(end, 4) == frames::endMarkHex), hex);
    FUZZ_CHECK((end == -1) == !bytes.contains(frames::endMark), hex);
    const QByteArray payloadHex = hexStrTrim(hex);
    FUZZ_CHECK(payloadHex.isEmpty() || hex.mid(18, payloadHex.size()) == payloadHex, hex);
    FUZZ_CHECK(onlyChars(testDataTrans(hex), "0123456789#-.", false), hex);
    FUZZ_CHECK(onlyChars(personDataTrans(hex), "0123456789#-.*", true), hex);

    // A frame the program builds is sound and gives its payload back, unless
    // the payload or checksum itself forms an end mark.
    const QByteArray frame = buildFrame(code, bytes);
    FUZZ_CHECK(frameProblem(frame).isEmpty(), frame.toHex());
    FUZZ_CHECK(hexStringtoByteArray(buildFrameHex(code, bytes)) == frame, frame.toHex());
    if (!frame.chopped(2).contains(frames::endMark))
        FUZZ_CHECK(hexStrTrim(frame.toHex()) == hex, frame.toHex());
    // Digits, '#', '-' and '.' in UTF-16BE decode to themselves.
    QByteArray text;
    for (const char c : bytes)
        text += "0123456789#-."[quint8(c) % 13];
    FUZZ_CHECK(
        testDataTrans(hexStrTrim(buildFrame(code, utf16beEncode(QString::fromLatin1(text))).toHex())) == text,
        text);
}

// The decoded texts of every whole answer with |code| in |stream|: a frame
// runs from a start mark and answer code to the first end mark after it.
QSet<QByteArray> decodedAnswers(const QByteArray &stream, char code)
{
    QSet<QByteArray> texts;
    const QByteArray head = frames::startMark + code;
    for (int at = stream.indexOf(head); at >= 0; at = stream.indexOf(head, at + 1)) {
        const int end = stream.indexOf(frames::endMark, at + 3);
        if (end < 0)
            break;
        const QByteArray hex = stream.mid(at, end + 2 - at).toHex();
        QByteArray text =
            code == char(0x85) ? personDataTrans(hexStrTrim(hex)) : testDataTrans(hexStrTrim(hex));
        if (text.isEmpty() && (code == char(0x87) || code == char(0x89)))
            text = analyzer::defaultRecord();
        texts.insert(text);
    }
    return texts;
}

int wholeAnswers(const QByteArray &stream, char code)
{
    int n = 0;
    const QByteArray head = frames::startMark + code;
    for (int at = stream.indexOf(head); at >= 0; at = stream.indexOf(head, at + 1))
        n += stream.indexOf(frames::endMark, at + 3) >= 0;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    global::resetDefaults();
    global::personInfoStr = analyzer::buildPersonFrame(QStringLiteral("12"), "Li", 0, 1990, 170, 2024);
    analyzer::AnalyzerSession session;
    bool storeOk = true;
    int stores = 0;
    MeasurementLists stored;
    session.setStore([&](const MeasurementLists &lists) {
        ++stores;
        stored = lists;
        return storeOk;
    });
    QByteArray stream;
    int records = 0;
    const QByteArray next = hexStringtoByteArray(frames::nextRecord);
    QObject::connect(&session, &analyzer::AnalyzerSession::writeFrame, [&](const QByteArray &frame) {
        FUZZ_CHECK(frameProblem(frame).isEmpty(), frame.toHex());
        // 0D makes the analyzer drop its record: never while that record waits unstored.
        FUZZ_CHECK(frame != next || !session.recordWaiting(),
                   "0D while a record waits, stream " + stream.toHex());
    });
    QObject::connect(&session, &analyzer::AnalyzerSession::recordReady, [&](const MeasurementLists &lists) {
        ++records;
        const QByteArray lines = lists.personData + '|' + lists.wholeData + '|' + lists.segData + '|' +
                                 lists.impData + "\nstream " + stream.toHex();
        FUZZ_CHECK(stores > 0 && lists.wholeData == stored.wholeData && lists.impData == stored.impData,
                   lines);
        FUZZ_CHECK(records <= wholeAnswers(stream, char(0x89)), lines);
        FUZZ_CHECK(lists.personData.isEmpty() ||
                       decodedAnswers(stream, char(0x85)).contains(lists.personData),
                   lines);
        FUZZ_CHECK(decodedAnswers(stream, char(0x86)).contains(lists.wholeData), lines);
        FUZZ_CHECK(decodedAnswers(stream, char(0x87)).contains(lists.segData), lines);
        FUZZ_CHECK(decodedAnswers(stream, char(0x89)).contains(lists.impData), lines);
    });

    ByteReader in(data, size);
    qint64 now = 0;
    while (!in.atEnd()) {
        const int op = in.byte() % 6;
        switch (op) {
        case 0:
        case 1: {
            const bool tick = op == 0;
            const QByteArray bytes = in.chunk();
            stream += bytes;
            checkCodec(bytes, quint8(bytes.isEmpty() ? 0 : bytes.at(0)));
            if (tick)
                session.tick(bytes, now);
            else
                session.receive(bytes, now);
            break;
        }
        case 2:
            now += in.u16();
            break;
        case 3:
            storeOk = !storeOk;
            break;
        case 4:
            global::batchSwitch =
                global::batchSwitch == QLatin1String("ON") ? QStringLiteral("OFF") : QStringLiteral("ON");
            break;
        default:
            global::BCAstate = in.byte() % 7;
            break;
        }
        FUZZ_CHECK(session.buffered() <= analyzer::kReceiveLimit, QByteArray::number(session.buffered()));
        FUZZ_CHECK(global::BCAstate >= 0 && global::BCAstate <= 6, QByteArray::number(global::BCAstate));
    }
    return 0;
}
