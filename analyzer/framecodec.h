// Byte frames of the body-composition analyzer: the fixed command frames, the
// answer, state and model codes, and the conversions between bytes, hex text
// and '#'-separated payload text. None of these functions holds state.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace frames {
// Fixed command frames, upper-case hex text with one blank between bytes.
extern const QString queryState;     // 01
extern const QString pcControlStart; // 02
extern const QString startTest;      // 04
extern const QString sendPerson;     // 05
extern const QString sendWhole;      // 06
extern const QString sendSegment;    // 07
extern const QString sendImpedance;  // 09
extern const QString pcControlEnd;   // 0C
extern const QString nextRecord;     // 0D
// Sample send-person-info frame (03) of the test console: 0#*#0#1990#26#26#170#
extern const QString samplePersonInfo;

// Answer codes: hex text of the first three bytes of an answer.
extern const QByteArray ansState;     // aabb81
extern const QByteArray ansPcControl; // aabb82
extern const QByteArray ansPersonAck; // aabb83
extern const QByteArray ansTestStart; // aabb84
extern const QByteArray ansPerson;    // aabb85
extern const QByteArray ansWhole;     // aabb86
extern const QByteArray ansSegment;   // aabb87
extern const QByteArray ansImpedance; // aabb89
extern const QByteArray ansSoftware;  // aabb8a
extern const QByteArray ansHardware;  // aabb8b
extern const QByteArray ansPcEnd;     // aabb8c
extern const QByteArray ansNext;      // aabb8d

// State codes (byte pair 0x0D, state) searched anywhere in the gathered text.
extern const QByteArray stStandby;      // 0d01
extern const QByteArray stTesting;      // 0d02
extern const QByteArray stWeightOk;     // 0d03
extern const QByteArray stWeightFail;   // 0d04
extern const QByteArray stFinished;     // 0d05
extern const QByteArray stMeasureFail;  // 0d06
extern const QByteArray stSearching;    // 0d07
extern const QByteArray stNoNewRecord;  // 0d09
extern const QByteArray stSearchDone;   // 0d0a
extern const QByteArray stSearchFailed; // 0d0b

extern const QByteArray endMark;    // bytes 0xCC 0xDD
extern const QByteArray endMarkHex; // "ccdd"
extern const QByteArray startMark;  // bytes 0xAA 0xBB
} // namespace frames

// Text to bytes: pieces separated by blanks, each parsed as base-16, low 8 bits kept.
QByteArray hexStringtoByteArray(QString text);

// Splits at the first 0xCC 0xDD pair: {bytes up to and including it, rest}.
// Without the pair: {whole input, empty}.
QList<QByteArray> cutFrame(const QByteArray &data);

// Position of the first byte-aligned "ccdd" in hex text at or after |from|, or -1.
int indexOfEndMarkHex(const QByteArray &hex, int from = 0);

// Payload hex text of one answer frame (hex text as received). Without "ccdd",
// or when the frame is too short to carry a header, the result is empty.
QByteArray hexStrTrim(QByteArray hex);

// Payload hex text to ASCII for numeric records (digits, '#', '-', '.').
QByteArray testDataTrans(QByteArray hex);
// The same for the person record, which also keeps '*' and ASCII letters.
QByteArray personDataTrans(QByteArray hex);

// Model tag of a status answer ("TQ-10" .. "TQ-30") from its hex text prefix;
// empty when the prefix names no known model.
QString modelTagFromStatus(const QByteArray &hex);

// Builds a frame as hex text (upper case, blanks) for |code| and |payload|,
// computing the length and the checksum. |modelByte| fills offset 4.
QString buildFrameHex(quint8 code, const QByteArray &payload = QByteArray(), quint8 modelByte = 0);
// The same as raw bytes.
QByteArray buildFrame(quint8 code, const QByteArray &payload = QByteArray(), quint8 modelByte = 0);

// Low 8 bits of the sum of the bytes from the code up to the last payload byte.
quint8 frameChecksum(const QByteArray &frame);

// Why |frame| (start mark to end mark) cannot be trusted: its length field
// differs from its size, or its checksum byte from the sum of its bytes.
// Empty for a sound frame.
QString frameProblem(const QByteArray &frame);

// UTF-16BE encoding of text payloads, as the analyzer and the PC write them.
QByteArray utf16beEncode(const QString &text);
