#include "analyzer/framecodec.h"

#include <QDebug>

namespace frames {
const QString queryState = QStringLiteral("AA BB 01 21 00 00 00 00 0C 2E CC DD");
const QString pcControlStart = QStringLiteral("AA BB 02 21 00 00 00 00 0C 2F CC DD");
const QString startTest = QStringLiteral("AA BB 04 21 00 00 00 00 0C 31 CC DD");
const QString sendPerson = QStringLiteral("AA BB 05 21 00 00 00 00 0C 32 CC DD");
const QString sendWhole = QStringLiteral("AA BB 06 21 00 00 00 00 0C 33 CC DD");
const QString sendSegment = QStringLiteral("AA BB 07 21 00 00 00 00 0C 34 CC DD");
const QString sendImpedance = QStringLiteral("AA BB 09 21 00 00 00 00 0C 36 CC DD");
const QString pcControlEnd = QStringLiteral("AA BB 0C 21 00 00 00 00 0C 39 CC DD");
const QString nextRecord = QStringLiteral("AA BB 0D 21 00 00 00 00 0C 3A CC DD");
const QString samplePersonInfo = QStringLiteral(
    "AA BB 03 21 00 00 00 00 36 00 30 00 23 00 2A 00 23 00 30 00 23 00 31 00 39 00 39 00 30 00 23 "
    "00 32 00 36 00 23 00 32 00 36 00 23 00 31 00 37 00 30 00 23 14 CC DD");

const QByteArray ansState("aabb81");
const QByteArray ansPcControl("aabb82");
const QByteArray ansPersonAck("aabb83");
const QByteArray ansTestStart("aabb84");
const QByteArray ansPerson("aabb85");
const QByteArray ansWhole("aabb86");
const QByteArray ansSegment("aabb87");
const QByteArray ansImpedance("aabb89");
const QByteArray ansSoftware("aabb8a");
const QByteArray ansHardware("aabb8b");
const QByteArray ansPcEnd("aabb8c");
const QByteArray ansNext("aabb8d");

const QByteArray stStandby("0d01");
const QByteArray stTesting("0d02");
const QByteArray stWeightOk("0d03");
const QByteArray stWeightFail("0d04");
const QByteArray stFinished("0d05");
const QByteArray stMeasureFail("0d06");
const QByteArray stSearching("0d07");
const QByteArray stNoNewRecord("0d09");
const QByteArray stSearchDone("0d0a");
const QByteArray stSearchFailed("0d0b");

const QByteArray endMark("\xCC\xDD", 2);
const QByteArray endMarkHex("ccdd");
const QByteArray startMark("\xAA\xBB", 2);
} // namespace frames

QByteArray hexStringtoByteArray(QString text)
{
    QByteArray out;
    const QStringList pieces = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        // A piece that is not hexadecimal parses as 0, like any failed number parse.
        out.append(char(piece.toUInt(nullptr, 16) & 0xFF));
    }
    return out;
}

QList<QByteArray> cutFrame(const QByteArray &data)
{
    qDebug() << "Cut!-----------------------------------------------------------";
    const int pos = data.indexOf(frames::endMark);
    qDebug() << "pos = " << pos;
    if (pos < 0)
        return {data, QByteArray()};
    const QByteArray first = data.left(pos + 2);
    const QByteArray rest = data.mid(pos + 2);
    qDebug() << "data = " << first;
    qDebug() << "data2 = " << rest;
    return {first, rest};
}

int indexOfEndMarkHex(const QByteArray &hex, int from)
{
    // Only byte-aligned matches count: "0ccdd0" (bytes 0C CD D0) is no end mark.
    for (int pos = hex.indexOf(frames::endMarkHex, from); pos >= 0;
         pos = hex.indexOf(frames::endMarkHex, pos + 1)) {
        if (pos % 2 == 0)
            return pos;
    }
    return -1;
}

QByteArray hexStrTrim(QByteArray hex)
{
    const int pos = indexOfEndMarkHex(hex);
    qDebug() << "pos = " << pos;
    // Header of nine bytes (18 hex characters) and one checksum byte before the end mark.
    if (pos < 20)
        return QByteArray();
    QByteArray payload = hex.left(pos - 2);
    payload.remove(0, 18);
    qDebug() << "truncated data = " << payload;
    return payload;
}

namespace {
// Splits hex text into two-character pieces as the decoders read it: a blank
// after every two characters, trimmed, split at blanks.
QList<QByteArray> hexPieces(const QByteArray &hex)
{
    QList<QByteArray> pieces;
    for (int i = 0; i < hex.size(); i += 2) {
        QByteArray piece = hex.mid(i, 2).trimmed();
        if (!piece.isEmpty())
            pieces << piece;
    }
    return pieces;
}

// Common decoding of one piece: digits, '#', '-', '.'; returns 0 for "nothing".
char numericChar(const QByteArray &piece)
{
    if (piece == "23")
        return '#';
    if (piece == "2D" || piece == "2d")
        return '-';
    if (piece == "2E" || piece == "2e")
        return '.';
    if (piece.size() == 2 && piece[0] == '3' && piece[1] >= '0' && piece[1] <= '9')
        return piece[1];
    return 0;
}
} // namespace

QByteArray testDataTrans(QByteArray hex)
{
    QByteArray out;
    for (const QByteArray &piece : hexPieces(hex.toUpper())) {
        if (const char c = numericChar(piece))
            out.append(c);
    }
    return out;
}

QByteArray personDataTrans(QByteArray hex)
{
    // Read in UTF-16 code units: a unit whose high byte is not 00 (a Chinese
    // character, for one) gives nothing, so its bytes never turn into letters.
    QByteArray out;
    for (int i = 0; i + 4 <= hex.size(); i += 4) {
        if (hex.mid(i, 2) != "00")
            continue;
        const QByteArray piece = hex.mid(i + 2, 2);
        if (const char c = numericChar(piece)) {
            out.append(c);
            continue;
        }
        bool ok = false;
        const uint value = piece.toUInt(&ok, 16);
        if (!ok)
            continue;
        if (value == 0x2a)
            out.append('*');
        else if ((value >= 0x41 && value <= 0x5A) || (value >= 0x61 && value <= 0x7A))
            out.append(char(value));
    }
    return out;
}

QString modelTagFromStatus(const QByteArray &hex)
{
    if (hex.startsWith("aabb812101"))
        return QStringLiteral("TQ-10");
    if (hex.startsWith("aabb812102"))
        return QStringLiteral("TQ-40");
    if (hex.startsWith("aabb812103"))
        return QStringLiteral("TQ-20");
    if (hex.startsWith("aabb812104"))
        return QStringLiteral("TQ-30");
    return QString();
}

quint8 frameChecksum(const QByteArray &frame)
{
    // Sum from offset 2 up to the byte before the checksum (frame minus 3 trailing bytes).
    quint32 sum = 0;
    for (int i = 2; i < frame.size() - 3; ++i)
        sum += quint8(frame[i]);
    return quint8(sum & 0xFF);
}

QString frameProblem(const QByteArray &frame)
{
    if (frame.size() < 12)
        return QStringLiteral("frame of %1 bytes is too short").arg(frame.size());
    const int length = (quint8(frame[7]) << 8) | quint8(frame[8]);
    if (length != frame.size())
        return QStringLiteral("length field %1, frame has %2 bytes").arg(length).arg(frame.size());
    const quint8 sum = frameChecksum(frame);
    const quint8 carried = quint8(frame[frame.size() - 3]);
    if (sum != carried)
        return QStringLiteral("checksum %1, bytes sum to %2")
            .arg(carried, 2, 16, QLatin1Char('0'))
            .arg(sum, 2, 16, QLatin1Char('0'));
    return QString();
}

QByteArray buildFrame(quint8 code, const QByteArray &payload, quint8 modelByte)
{
    const int length = 12 + payload.size();
    QByteArray frame;
    frame.reserve(length);
    frame.append(frames::startMark);
    frame.append(char(code));
    frame.append(char(0x21));
    frame.append(char(modelByte));
    frame.append(char(0));
    frame.append(char(0));
    frame.append(char((length >> 8) & 0xFF));
    frame.append(char(length & 0xFF));
    frame.append(payload);
    frame.append(char(0)); // checksum placeholder
    frame.append(frames::endMark);
    frame[9 + payload.size()] = char(frameChecksum(frame));
    return frame;
}

QString buildFrameHex(quint8 code, const QByteArray &payload, quint8 modelByte)
{
    return QString::fromLatin1(buildFrame(code, payload, modelByte).toHex(' ').toUpper());
}

QByteArray utf16beEncode(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (const QChar ch : text) {
        out.append(char(ch.unicode() >> 8));
        out.append(char(ch.unicode() & 0xFF));
    }
    return out;
}
