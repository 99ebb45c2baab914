// Frame codec: fixed frames, hex conversions, frame cutting and payload decoding.
#include "analyzer/framecodec.h"

#include <QRandomGenerator>
#include <QtTest>

class TestFrameCodec : public QObject
{
    Q_OBJECT

private slots:
    void fixedFramesCarryLengthAndChecksum_data();
    void fixedFramesCarryLengthAndChecksum();
    void hexTextParsing();
    void builtFramesMatchTheSample();
    void cuttingStreams();
    void payloadTrimming();
    void decodingPayloads();
    void modelTags();
    void randomBytesNeverBreakTheDecoders();
    void damagedFramesAreRecognised_data();
    void damagedFramesAreRecognised();
};

void TestFrameCodec::damagedFramesAreRecognised_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("sound");
    const QByteArray good = buildFrame(0x86, utf16beEncode(QStringLiteral("1#53.1#")));
    QByteArray changed = good;
    changed[14] = '8'; // 53.1 -> 83.1, checksum as before
    QByteArray longer = good;
    longer.insert(11, '.');
    QTest::newRow("sound") << good << true;
    QTest::newRow("no payload") << buildFrame(0x81) << true;
    QTest::newRow("changed digit") << changed << false;
    QTest::newRow("byte lost") << QByteArray(good).remove(13, 1) << false;
    QTest::newRow("byte added") << longer << false;
    QTest::newRow("too short") << good.right(11) << false;
}

void TestFrameCodec::damagedFramesAreRecognised()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, sound);
    QCOMPARE(frameProblem(frame).isEmpty(), sound);
}

void TestFrameCodec::fixedFramesCarryLengthAndChecksum_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("code");
    QTest::newRow("01") << frames::queryState << 0x01;
    QTest::newRow("02") << frames::pcControlStart << 0x02;
    QTest::newRow("04") << frames::startTest << 0x04;
    QTest::newRow("05") << frames::sendPerson << 0x05;
    QTest::newRow("06") << frames::sendWhole << 0x06;
    QTest::newRow("07") << frames::sendSegment << 0x07;
    QTest::newRow("09") << frames::sendImpedance << 0x09;
    QTest::newRow("0C") << frames::pcControlEnd << 0x0C;
    QTest::newRow("0D") << frames::nextRecord << 0x0D;
}

void TestFrameCodec::fixedFramesCarryLengthAndChecksum()
{
    QFETCH(QString, frame);
    QFETCH(int, code);
    const QByteArray bytes = hexStringtoByteArray(frame);
    QCOMPARE(bytes.size(), 12);
    QCOMPARE(bytes.left(2), frames::startMark);
    QCOMPARE(quint8(bytes.at(2)), quint8(code));
    QCOMPARE(quint8(bytes.at(8)), quint8(12));
    QCOMPARE(quint8(bytes.at(9)), quint8((code + 0x21 + 0x0C) & 0xFF));
    QCOMPARE(frameChecksum(bytes), quint8(bytes.at(9)));
    QCOMPARE(bytes.right(2), frames::endMark);
    QCOMPARE(buildFrameHex(quint8(code)), frame);
}

void TestFrameCodec::hexTextParsing()
{
    QCOMPARE(hexStringtoByteArray(QStringLiteral("  0c   2e ")), QByteArray("\x0c\x2e", 2));
    QCOMPARE(hexStringtoByteArray(QStringLiteral("E")), QByteArray("\x0e", 1));
    QCOMPARE(hexStringtoByteArray(QStringLiteral("1ff")), QByteArray("\xff", 1)); // low 8 bits
    QCOMPARE(hexStringtoByteArray(QString()), QByteArray());
    // A piece that is not hex still yields one byte, so frame lengths stay aligned.
    QCOMPARE(hexStringtoByteArray(QStringLiteral("AA zz BB")).size(), 3);
}

void TestFrameCodec::builtFramesMatchTheSample()
{
    const QByteArray sample = hexStringtoByteArray(frames::samplePersonInfo);
    QCOMPARE(sample.size(), 54);
    QCOMPARE(quint8(sample.at(8)), quint8(0x36));
    QCOMPARE(quint8(sample.at(sample.size() - 3)), quint8(0x14));
    QCOMPARE(buildFrame(0x03, utf16beEncode(QStringLiteral("0#*#0#1990#26#26#170#"))), sample);
    // The model byte is part of the checksum.
    const QByteArray status = buildFrame(0x81, QByteArray("\x0d\x01", 2), 0x02);
    QCOMPARE(quint8(status.at(4)), quint8(0x02));
    QCOMPARE(frameChecksum(status), quint8((0x81 + 0x21 + 0x02 + 14 + 0x0d + 0x01) & 0xFF));
}

void TestFrameCodec::cuttingStreams()
{
    const QByteArray frame = hexStringtoByteArray(frames::queryState);
    const QList<QByteArray> parts = cutFrame(frame + QByteArray("\xaa\xbb\x85", 3));
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts.at(0), frame);
    QCOMPARE(parts.at(1), QByteArray("\xaa\xbb\x85", 3));
    // Two frames back to back: the first cut leaves exactly the second.
    const QList<QByteArray> two = cutFrame(frame + frame);
    QCOMPARE(two.at(0), frame);
    QCOMPARE(two.at(1), frame);
    // No end mark: nothing is cut and nothing is lost.
    const QList<QByteArray> none = cutFrame(QByteArray("\xaa\xbb\x01", 3));
    QCOMPARE(none.at(0), QByteArray("\xaa\xbb\x01", 3));
    QVERIFY(none.at(1).isEmpty());
}

void TestFrameCodec::payloadTrimming()
{
    const QByteArray payload("\x00\x31\x00\x23\x00\x32", 6);
    const QByteArray hex = buildFrame(0x85, payload).toHex();
    QCOMPARE(hexStrTrim(hex), payload.toHex());
    QCOMPARE(hexStrTrim(hex).size(), 12);
    QVERIFY(hexStrTrim(QByteArray("aabb85")).isEmpty());
    QVERIFY(hexStrTrim(QByteArray("ccdd")).isEmpty());
    // "ccdd" across a byte boundary ("0c cd d0") is not an end mark.
    QCOMPARE(indexOfEndMarkHex(QByteArray("0ccdd0ccdd")), 6);
    QCOMPARE(indexOfEndMarkHex(QByteArray("aabb"), 0), -1);
}

void TestFrameCodec::decodingPayloads()
{
    QCOMPARE(testDataTrans(utf16beEncode(QStringLiteral("1#2016-05-12#63.5#")).toHex()),
             QByteArray("1#2016-05-12#63.5#"));
    QCOMPARE(testDataTrans(utf16beEncode(QStringLiteral("A1*#")).toHex()), QByteArray("1#"));
    QCOMPARE(personDataTrans(utf16beEncode(QStringLiteral("12#Li#*#")).toHex()), QByteArray("12#Li#*#"));
    QCOMPARE(personDataTrans(utf16beEncode(QStringLiteral("12#Li#*#")).toHex().toUpper()),
             QByteArray("12#Li#*#"));
    // A Chinese name leaves an empty field; its UTF-16 bytes never turn into letters.
    QCOMPARE(personDataTrans(utf16beEncode(QStringLiteral("7#张三#0#")).toHex()), QByteArray("7##0#"));
    QCOMPARE(personDataTrans(utf16beEncode(QStringLiteral("1#呵#")).toHex()), QByteArray("1##"));
}

void TestFrameCodec::modelTags()
{
    QCOMPARE(modelTagFromStatus(buildFrame(0x81, QByteArray("\x0d\x01", 2), 0x01).toHex()),
             QStringLiteral("TQ-10"));
    QCOMPARE(modelTagFromStatus(buildFrame(0x81, QByteArray("\x0d\x01", 2), 0x02).toHex()),
             QStringLiteral("TQ-40"));
    QCOMPARE(modelTagFromStatus(buildFrame(0x81, QByteArray("\x0d\x01", 2), 0x03).toHex()),
             QStringLiteral("TQ-20"));
    QCOMPARE(modelTagFromStatus(buildFrame(0x81, QByteArray("\x0d\x01", 2), 0x04).toHex()),
             QStringLiteral("TQ-30"));
    QVERIFY(modelTagFromStatus(buildFrame(0x81, QByteArray("\x0d\x01", 2), 0x09).toHex()).isEmpty());
}

void TestFrameCodec::randomBytesNeverBreakTheDecoders()
{
    QRandomGenerator rng(7);
    for (int round = 0; round < 2000; ++round) {
        QByteArray noise(int(rng.bounded(0, 80)), Qt::Uninitialized);
        for (char &c : noise)
            c = char(rng.bounded(256));
        if (round % 3 == 0)
            noise += frames::endMark;
        const QByteArray hex = noise.toHex();
        const QByteArray payload = hexStrTrim(hex);
        QVERIFY(payload.size() <= hex.size());
        for (char c : testDataTrans(payload))
            QVERIFY(QByteArray("0123456789#-.").contains(c));
        const QList<QByteArray> parts = cutFrame(noise);
        QCOMPARE(parts.at(0) + parts.at(1), noise);
    }
}

QTEST_GUILESS_MAIN(TestFrameCodec)
#include "tst_framecodec.moc"
