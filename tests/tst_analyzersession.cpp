// The analyzer dialogue driven without port or widgets: generated answer
// frames are fed in arbitrary pieces and the frames it writes, the records it
// hands out and the state it reaches are checked.
#include "analyzer/analyzersession.h"
#include "analyzer/framecodec.h"
#include "app/globals.h"

#include <QSignalSpy>
#include <QtTest>

#include <random>

namespace {
QByteArray status(char state)
{
    return buildFrame(0x81, QByteArray(1, char(0x0D)) + state, 2);
}

QByteArray dataAnswer(quint8 code, const QString &text)
{
    return buildFrame(code, utf16beEncode(text));
}

const QString kPerson = QStringLiteral("A12#SunNa#1#1990#36#168.5#");
const QString kWhole = QStringLiteral(
    "1#2026-12-07#53#1#15.3#2.6#7.5#17.0#10.7#35.2#37.8#168.7#53.1#59.8#6.2#-1.5#7.7#28.8#19.2#"
    "18.7#0.81#1186#0.386#9#12.2#36.5#75#");
const QString kSeg =
    QStringLiteral("1#2026-12-07#6.99#18.26#1.27#14.37#19.53#1.04#1.85#0.17#1.46#2.02#1.07#1.99#0."
                   "17#1.56#2.16#3.13#6.64#0.49#5.22#7.13#3.07#6.46#0.50#5.09#6.96#");
const QString kImp =
    QStringLiteral("1#2026-12-07#413.2#412.7#30.3#342.5#345.8#375.8#375.5#27.4#309.1#312.7#359.4#"
                   "357.0#26.2#295.6#297.3#344.7#342.2#25.0#283.0#287.0#336.4#336.0#24.6#277.0#"
                   "280.9#");

QByteArray code(const QString &frameHex)
{
    return hexStringtoByteArray(frameHex);
}

// Feeds |bytes| to receive() in random pieces of 1..|maxPiece| bytes.
void feedInPieces(analyzer::AnalyzerSession &s, const QByteArray &bytes, qint64 now, std::mt19937 &rng,
                  int maxPiece = 40)
{
    std::uniform_int_distribution<int> size(1, maxPiece);
    for (int pos = 0; pos < bytes.size();) {
        const int n = size(rng);
        s.receive(bytes.mid(pos, n), now);
        pos += n;
    }
}
} // namespace

class TestAnalyzerSession : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qRegisterMetaType<MeasurementLists>();
        global::resetDefaults();
        global::BCAstate = 1;
    }

    void recordInPiecesIsStoredOnce();
    void statusInFrontOfDataAnswerInOneRead();
    void lostAnswerIsAskedAgainOnceAndLateAnswersIgnored();
    void batchMovesOnAfterEachRecord();
    void noiseAndOverflowResynchronise();
    void personFrame();
    void recordWaitsForItsStoreAndIsStoredOnce();
    void damagedAnswerIsAskedAgainUnlessRepeatedAlike();
};

void TestAnalyzerSession::recordWaitsForItsStoreAndIsStoredOnce()
{
    analyzer::AnalyzerSession s;
    QSignalSpy writes(&s, &analyzer::AnalyzerSession::writeFrame);
    bool storeWorks = false;
    int stores = 0;
    s.setStore([&](const MeasurementLists &) {
        ++stores;
        return storeWorks;
    });
    auto sent = [&](const QString &frame) {
        int n = 0;
        for (const QList<QVariant> &w : qAsConst(writes))
            n += w.at(0).toByteArray() == code(frame) ? 1 : 0;
        return n;
    };
    const QByteArray record = dataAnswer(0x85, kPerson) + dataAnswer(0x86, kWhole) + dataAnswer(0x87, kSeg) +
                              dataAnswer(0x89, kImp);
    s.tick(status(0x05), 0);
    s.receive(record, 100);
    // The store fails: no 0D, and the record still announced is not fetched again.
    QVERIFY(s.recordWaiting());
    s.tick(status(0x05), 3000);
    s.tick(status(0x05), 4000);
    QCOMPARE(sent(frames::nextRecord), 0);
    QCOMPARE(sent(frames::sendPerson), 1);
    QCOMPARE(stores, 3);
    // It is stored at the next tick that can, and only then 0D goes out.
    storeWorks = true;
    s.tick({}, 5000);
    QVERIFY(!s.recordWaiting());
    QCOMPARE(stores, 4);
    QCOMPARE(sent(frames::nextRecord), 1);
    // The 0D was lost: the same record comes again; it is not stored twice, 0D is sent again.
    s.tick(status(0x05), 8000);
    s.receive(record, 8100);
    QCOMPARE(stores, 4);
    QCOMPARE(sent(frames::nextRecord), 2);
}

void TestAnalyzerSession::damagedAnswerIsAskedAgainUnlessRepeatedAlike()
{
    analyzer::AnalyzerSession s;
    QSignalSpy writes(&s, &analyzer::AnalyzerSession::writeFrame);
    QByteArray bad = dataAnswer(0x86, kWhole);
    bad[40] = char(bad[40] ^ 0x01);
    s.tick(status(0x05), 0);
    s.receive(dataAnswer(0x85, kPerson), 100);
    writes.clear();
    s.receive(bad, 200);
    QVERIFY(writes.isEmpty()); // dropped: the tick asks 06 again
    s.tick({}, 2500);
    QCOMPARE(writes.first().at(0).toByteArray(), code(frames::sendWhole));
    // The same bytes once more: the analyzer's own framing, taken.
    writes.clear();
    s.receive(bad, 2600);
    QCOMPARE(writes.first().at(0).toByteArray(), code(frames::sendSegment));
}

void TestAnalyzerSession::recordInPiecesIsStoredOnce()
{
    analyzer::AnalyzerSession s;
    QSignalSpy writes(&s, &analyzer::AnalyzerSession::writeFrame);
    QSignalSpy records(&s, &analyzer::AnalyzerSession::recordReady);
    std::mt19937 rng(5);

    s.tick(status(0x05), 0);
    QVERIFY(s.downloading());
    QCOMPARE(global::BCAstate, 3);
    QCOMPARE(writes.at(0).at(0).toByteArray(), code(frames::sendPerson));

    // State 3 ticks while the answers arrive do not start a second chain.
    writes.clear();
    feedInPieces(s, dataAnswer(0x85, kPerson), 500, rng);
    s.tick({}, 1000);
    feedInPieces(s, status(0x05) + dataAnswer(0x86, kWhole), 1200, rng);
    s.tick({}, 2000);
    feedInPieces(s, dataAnswer(0x87, kSeg), 2500, rng);
    feedInPieces(s, status(0x05) + dataAnswer(0x89, kImp), 2800, rng);
    QByteArrayList sent;
    for (const QList<QVariant> &w : qAsConst(writes))
        sent << w.at(0).toByteArray();
    const QByteArray query = code(frames::queryState);
    QCOMPARE(sent, (QByteArrayList{code(frames::sendWhole), query, code(frames::sendSegment), query,
                                   code(frames::sendImpedance), code(frames::nextRecord)}));

    QCOMPARE(records.count(), 1);
    const MeasurementLists lists = records.at(0).at(0).value<MeasurementLists>();
    QCOMPARE(lists.personData, kPerson.toLatin1());
    QCOMPARE(lists.wholeData, kWhole.toLatin1());
    QCOMPARE(lists.segData, kSeg.toLatin1());
    QCOMPARE(lists.impData, kImp.toLatin1());
    QCOMPARE(global::BCAstate, 4);
    QCOMPARE(global::dataFlag, 4);
    QVERIFY(!s.downloading());

    // Status answers to queries sent before the 0D still report the old
    // record; they must not fetch it again. After 8D a new 0d05 does.
    writes.clear();
    s.tick(status(0x05), 3000);
    QVERIFY(!s.downloading());
    s.receive(buildFrame(0x8D), 3100);
    s.tick(status(0x01), 4000);
    QCOMPARE(global::BCAstate, 1);
    s.tick(status(0x05), 5000);
    QVERIFY(s.downloading());
    QCOMPARE(records.count(), 1);
}

void TestAnalyzerSession::statusInFrontOfDataAnswerInOneRead()
{
    analyzer::AnalyzerSession s;
    QSignalSpy records(&s, &analyzer::AnalyzerSession::recordReady);
    s.tick(status(0x05), 0);
    s.receive(status(0x05) + dataAnswer(0x85, kPerson) + status(0x05), 100);
    QCOMPARE(global::dataFlag, 1);
    s.receive(dataAnswer(0x86, kWhole) + dataAnswer(0x87, {}) + status(0x05), 200);
    QCOMPARE(global::dataFlag, 3);
    s.receive(dataAnswer(0x89, {}), 300);
    QCOMPARE(records.count(), 1);
    // Empty segment and impedance parts give the default record.
    const MeasurementLists lists = records.at(0).at(0).value<MeasurementLists>();
    QCOMPARE(lists.segData, analyzer::defaultRecord());
    QCOMPARE(lists.impData, analyzer::defaultRecord());
    QCOMPARE(lists.wholeData, kWhole.toLatin1());
}

void TestAnalyzerSession::lostAnswerIsAskedAgainOnceAndLateAnswersIgnored()
{
    analyzer::AnalyzerSession s;
    QSignalSpy writes(&s, &analyzer::AnalyzerSession::writeFrame);
    QSignalSpy records(&s, &analyzer::AnalyzerSession::recordReady);
    s.tick(status(0x05), 0);
    s.receive(dataAnswer(0x85, kPerson), 200); // asks 06
    auto count = [&](const QString &frame) {
        int n = 0;
        for (const QList<QVariant> &w : qAsConst(writes))
            n += w.at(0).toByteArray() == code(frame) ? 1 : 0;
        return n;
    };
    // Part of the whole-body answer arrives slowly: that is progress.
    const QByteArray whole = dataAnswer(0x86, kWhole);
    s.tick({}, 1200);
    s.receive(whole.left(100), 1900);
    s.tick({}, 3200);
    QCOMPARE(count(frames::sendWhole), 1);
    // Then the line goes quiet: asked again after two seconds, not at every tick.
    s.tick({}, 4200);
    s.tick({}, 5200);
    QCOMPARE(count(frames::sendWhole), 2);
    // The answer to the repeated request comes; a late copy of the
    // person answer and of the whole-body answer change nothing.
    s.receive(whole, 6500);
    QCOMPARE(count(frames::sendSegment), 1);
    s.receive(dataAnswer(0x85, kPerson) + whole, 6600);
    QCOMPARE(count(frames::sendSegment), 1);
    s.receive(dataAnswer(0x87, kSeg) + dataAnswer(0x89, kImp), 6700);
    s.receive(dataAnswer(0x89, kImp), 6800); // duplicate last part
    QCOMPARE(records.count(), 1);
    QCOMPARE(count(frames::nextRecord), 1);
}

void TestAnalyzerSession::batchMovesOnAfterEachRecord()
{
    analyzer::AnalyzerSession s;
    QSignalSpy records(&s, &analyzer::AnalyzerSession::recordReady);
    QSignalSpy ended(&s, &analyzer::AnalyzerSession::noFurtherRecord);
    global::batchSwitch = QStringLiteral("ON");
    qint64 now = 0;
    for (int i = 0; i < 3; ++i) {
        s.tick(status(0x0A), now += 1000);
        QVERIFY(s.downloading());
        s.receive(dataAnswer(0x85, kPerson) + dataAnswer(0x86, kWhole + QString::number(i)), now += 100);
        // A tick in state 4 of the previous record must not cut this download.
        s.tick(status(0x0A), now += 1000);
        QVERIFY(s.downloading());
        s.receive(dataAnswer(0x87, kSeg) + dataAnswer(0x89, kImp) + buildFrame(0x8D), now += 100);
        QCOMPARE(records.count(), i + 1);
    }
    s.tick(status(0x09), now += 1000);
    QCOMPARE(global::BCAstate, 6);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(records.count(), 3);
}

void TestAnalyzerSession::noiseAndOverflowResynchronise()
{
    analyzer::AnalyzerSession s;
    QSignalSpy shown(&s, &analyzer::AnalyzerSession::showText);
    // Noise in front of an answer does not hide it.
    s.tick(QByteArrayLiteral("zq@~") + status(0x02), 0);
    QCOMPARE(global::BCAstate, 2);
    // Endless bytes without an end mark stay bounded; the next answer is read.
    const QByteArray noise(20000, 'Q');
    for (int i = 0; i < 5; ++i) {
        s.tick(noise, 1000 + i);
        QVERIFY(s.buffered() <= analyzer::kReceiveLimit);
    }
    s.tick(buildFrame(0x81, QByteArray(1, char(0x0D)) + char(0x01), 3), 2000);
    QCOMPARE(global::BCAstate, 1);
    QCOMPARE(global::BCAmodel, QStringLiteral("TQ-20"));
    QCOMPARE(shown.last().at(0).toString(), QStringLiteral("体成分仪正常待机"));
    QCOMPARE(s.buffered(), 0);
    // A complete answer of nothing known.
    s.tick(QByteArrayLiteral("\x01\x02\xCC\xDD"), 3000);
    QCOMPARE(shown.last().at(0).toString(), QStringLiteral("收到的数据无法解析"));
}

void TestAnalyzerSession::personFrame()
{
    // The reference frame: male, born 1990, 170 cm, built in 2016.
    QCOMPARE(analyzer::buildPersonFrame(QStringLiteral("0"), "*", 0, 1990, 170, 2016),
             frames::samplePersonInfo);
    const QByteArray frame =
        hexStringtoByteArray(analyzer::buildPersonFrame(QStringLiteral("0"), "*", 1, 2001, 158, 2026));
    QCOMPARE(int(quint8(frame.at(8))), frame.size());
    QCOMPARE(testDataTrans(hexStrTrim(frame.toHex())).isEmpty(), false);
    QVERIFY(frame.contains(utf16beEncode(QStringLiteral("0#*#1#2001#25#25#158#"))));
    QCOMPARE(frameChecksum(frame), quint8(frame.at(frame.size() - 3)));
}

QTEST_MAIN(TestAnalyzerSession)
#include "tst_analyzersession.moc"
