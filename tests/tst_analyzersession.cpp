// The analyzer link without port or widgets: the frame codec (built frames,
// cutting, trimming, decoding, damaged frames, random bytes), and the
// dialogue fed generated answer frames in arbitrary pieces, checking the
// frames it writes, the records it hands out and the state it reaches; the
// silence watch of a link on a driven clock.
#include "analyzer/analyzersession.h"
#include "analyzer/framecodec.h"
#include "analyzer/linkwatch.h"
#include "app/globals.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <random>

namespace {
QByteArray status(char state, char model = 2)
{
    return buildFrame(0x81, QByteArray(1, char(0x0D)) + state, model);
}

QByteArray answer(quint8 code, const QString &text)
{
    return buildFrame(code, utf16beEncode(text));
}

const QString kPerson = QStringLiteral("A12#SunNa#1#1990#36#168.5#");
const QString kWhole = QStringLiteral("1#2026-12-07#53#1#15.3#2.6#7.5#17.0#10.7#35.2#37.8#168.7#53.1#59.8#6."
                                      "2#-1.5#7.7#28.8#19.2#18.7#0.81#1186#0.386#9#12.2#36.5#75#");
const QString kSeg = QStringLiteral("1#2026-12-07#6.99#18.26#1.27#14.37#19.53#1.04#1.85#0.17#1.46#2.02#1.07#"
                                    "1.99#0.17#1.56#2.16#3.13#6.64#0.49#5.22#7.13#3.07#6.46#0.50#5.09#6.96#");
const QString kImp =
    QStringLiteral("1#2026-12-07#413.2#412.7#30.3#342.5#345.8#375.8#375.5#27.4#309.1#312.7#359.4#357.0#26.2#"
                   "295.6#297.3#344.7#342.2#25.0#283.0#287.0#336.4#336.0#24.6#277.0#280.9#");

// The session with a record of the frames it wrote and of the records it handed out.
struct Session
{
    analyzer::AnalyzerSession s;
    QSignalSpy writes{&s, &analyzer::AnalyzerSession::writeFrame};
    QSignalSpy records{&s, &analyzer::AnalyzerSession::recordReady};

    int sent(const QString &frameHex) const
    {
        int n = 0;
        for (const QList<QVariant> &w : writes)
            n += w.at(0).toByteArray() == hexStringtoByteArray(frameHex) ? 1 : 0;
        return n;
    }
    // Feeds |bytes| in random pieces of 1..40 bytes.
    void feed(const QByteArray &bytes, qint64 now, std::mt19937 &rng)
    {
        std::uniform_int_distribution<int> size(1, 40);
        for (int pos = 0; pos < bytes.size();) {
            const int n = size(rng);
            s.receive(bytes.mid(pos, n), now);
            pos += n;
        }
    }
};
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

    void builtFrames();
    void cuttingTrimmingDecoding();
    void damagedFramesAreRecognised_data();
    void damagedFramesAreRecognised();
    void randomBytesNeverBreakTheDecoders();

    void recordInPiecesIsStoredOnce();
    void lostAnswerIsAskedAgainOnceAndLateAnswersIgnored();
    void batchMovesOnAfterEachRecord();
    void noiseAndOverflowResynchronise();
    void recordWaitsForItsStoreAndIsStoredOnce();
    void damagedAnswerIsAskedAgainUnlessRepeatedAlike();

    void silenceAfterFiveSecondsAndRecovery_data();
    void silenceAfterFiveSecondsAndRecovery();
};

void TestAnalyzerSession::builtFrames()
{
    for (const int code : {0x01, 0x05, 0x09, 0x0D}) {
        const QByteArray bytes = buildFrame(quint8(code));
        QCOMPARE(bytes, QByteArray("\xAA\xBB", 2) + char(code) + QByteArray("\x21\0\0\0\0\x0C", 6) +
                            char(code + 0x21 + 0x0C) + QByteArray("\xCC\xDD"));
        QCOMPARE(frameChecksum(bytes), quint8(bytes.at(9)));
    }
    QCOMPARE(buildFrameHex(0x06), frames::sendWhole);
    QCOMPARE(buildFrame(0x03, utf16beEncode(QStringLiteral("0#*#0#1990#26#26#170#"))),
             hexStringtoByteArray(frames::samplePersonInfo));
    // The model byte is part of the checksum.
    const QByteArray status = buildFrame(0x81, QByteArray("\x0d\x01", 2), 0x02);
    QCOMPARE(frameChecksum(status), quint8((0x81 + 0x21 + 0x02 + 14 + 0x0d + 0x01) & 0xFF));
    QCOMPARE(modelTagFromStatus(status.toHex()), QStringLiteral("TQ-40"));
}

void TestAnalyzerSession::cuttingTrimmingDecoding()
{
    const QByteArray frame = hexStringtoByteArray(frames::queryState);
    // Two frames back to back: the first cut leaves exactly the second.
    QCOMPARE(cutFrame(frame + frame), (QList<QByteArray>{frame, frame}));
    // No end mark: nothing is cut and nothing is lost.
    QCOMPARE(cutFrame(QByteArray("\xaa\xbb\x01", 3)),
             (QList<QByteArray>{QByteArray("\xaa\xbb\x01", 3), QByteArray()}));
    const QByteArray payload("\x00\x31\x00\x23\x00\x32", 6);
    QCOMPARE(hexStrTrim(buildFrame(0x85, payload).toHex()), payload.toHex());
    QVERIFY(hexStrTrim(QByteArray("aabb85")).isEmpty());
    // "ccdd" across a byte boundary ("0c cd d0") is not an end mark.
    QCOMPARE(indexOfEndMarkHex(QByteArray("0ccdd0ccdd")), 6);
    auto hex = [](const QString &text) { return utf16beEncode(text).toHex().toUpper(); };
    QCOMPARE(testDataTrans(hex(QStringLiteral("1#2016-05-12#63.5#"))), QByteArray("1#2016-05-12#63.5#"));
    QCOMPARE(testDataTrans(hex(QStringLiteral("A1*#"))), QByteArray("1#"));
    QCOMPARE(personDataTrans(hex(QStringLiteral("12#Li#*#"))), QByteArray("12#Li#*#"));
    // A Chinese name leaves an empty field; its UTF-16 bytes never turn into letters.
    QCOMPARE(personDataTrans(hex(QStringLiteral("7#张三#0#"))), QByteArray("7##0#"));
}

void TestAnalyzerSession::damagedFramesAreRecognised_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("sound");
    const QByteArray good = buildFrame(0x86, utf16beEncode(QStringLiteral("1#53.1#")));
    QByteArray changed = good;
    changed[14] = '8'; // 53.1 -> 83.1, checksum as before
    QTest::newRow("sound") << good << true;
    QTest::newRow("no payload") << buildFrame(0x81) << true;
    QTest::newRow("changed digit") << changed << false;
    QTest::newRow("byte lost") << QByteArray(good).remove(13, 1) << false;
    QTest::newRow("byte added") << QByteArray(good).insert(11, '.') << false;
    QTest::newRow("too short") << good.right(11) << false;
}

void TestAnalyzerSession::damagedFramesAreRecognised()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, sound);
    QCOMPARE(frameProblem(frame).isEmpty(), sound);
}

void TestAnalyzerSession::randomBytesNeverBreakTheDecoders()
{
    QRandomGenerator rng(7);
    for (int round = 0; round < 2000; ++round) {
        QByteArray noise(int(rng.bounded(0, 80)), Qt::Uninitialized);
        for (char &c : noise)
            c = char(rng.bounded(256));
        if (round % 3 == 0)
            noise += frames::endMark;
        const QByteArray hex = noise.toHex();
        QVERIFY(hexStrTrim(hex).size() <= hex.size());
        for (char c : testDataTrans(hexStrTrim(hex)))
            QVERIFY(QByteArray("0123456789#-.").contains(c));
        const QList<QByteArray> parts = cutFrame(noise);
        QCOMPARE(parts.at(0) + parts.at(1), noise);
    }
}

void TestAnalyzerSession::recordInPiecesIsStoredOnce()
{
    Session t;
    std::mt19937 rng(5);
    t.s.tick(status(0x05), 0);
    QCOMPARE(global::BCAstate, 3);
    QCOMPARE(t.sent(frames::sendPerson), 1);
    // State 3 ticks while the answers arrive do not start a second chain.
    t.writes.clear();
    t.feed(answer(0x85, kPerson), 500, rng);
    t.s.tick({}, 1000);
    // A status answer and a byte of noise in front of a data answer.
    t.feed(status(0x05) + "Z" + answer(0x86, kWhole), 1200, rng);
    t.s.tick({}, 2000);
    t.feed(answer(0x87, kSeg), 2500, rng);
    t.feed(status(0x05) + answer(0x89, kImp), 2800, rng);
    QByteArrayList sent, want;
    for (const QList<QVariant> &w : qAsConst(t.writes))
        sent << w.at(0).toByteArray();
    for (const QString &f : {frames::sendWhole, frames::queryState, frames::sendSegment, frames::queryState,
                             frames::sendImpedance, frames::nextRecord})
        want << hexStringtoByteArray(f);
    QCOMPARE(sent, want);

    QCOMPARE(t.records.count(), 1);
    const MeasurementLists lists = t.records.at(0).at(0).value<MeasurementLists>();
    QCOMPARE((QByteArrayList{lists.personData, lists.wholeData, lists.segData, lists.impData}),
             (QByteArrayList{kPerson.toLatin1(), kWhole.toLatin1(), kSeg.toLatin1(), kImp.toLatin1()}));
    QCOMPARE(global::BCAstate, 4);
    QVERIFY(!t.s.downloading());

    // Status answers to queries sent before the 0D still report the old
    // record; they must not fetch it again. After 8D a new 0d05 does.
    t.s.tick(status(0x05), 3000);
    QVERIFY(!t.s.downloading());
    t.s.receive(buildFrame(0x8D), 3100);
    t.s.tick(status(0x01), 4000);
    QCOMPARE(global::BCAstate, 1);
    t.s.tick(status(0x05), 5000);
    QVERIFY(t.s.downloading());
    QCOMPARE(t.records.count(), 1);
}

void TestAnalyzerSession::lostAnswerIsAskedAgainOnceAndLateAnswersIgnored()
{
    Session t;
    t.s.tick(status(0x05), 0);
    t.s.receive(answer(0x85, kPerson), 200); // asks 06
    // Part of the whole-body answer arrives slowly: that is progress.
    const QByteArray whole = answer(0x86, kWhole);
    t.s.tick({}, 1200);
    t.s.receive(whole.left(100), 1900);
    t.s.tick({}, 3200);
    QCOMPARE(t.sent(frames::sendWhole), 1);
    // Then the line goes quiet: asked again after two seconds, not at every tick.
    t.s.tick({}, 4200);
    t.s.tick({}, 5200);
    QCOMPARE(t.sent(frames::sendWhole), 2);
    // The answer to the repeated request comes; late copies of the person
    // and whole-body answers change nothing.
    t.s.receive(whole, 6500);
    t.s.receive(answer(0x85, kPerson) + whole, 6600);
    QCOMPARE(t.sent(frames::sendSegment), 1);
    t.s.receive(answer(0x87, kSeg) + answer(0x89, kImp), 6700);
    t.s.receive(answer(0x89, kImp), 6800); // duplicate last part
    QCOMPARE(t.records.count(), 1);
    QCOMPARE(t.sent(frames::nextRecord), 1);
}

void TestAnalyzerSession::batchMovesOnAfterEachRecord()
{
    Session t;
    QSignalSpy ended(&t.s, &analyzer::AnalyzerSession::noFurtherRecord);
    global::batchSwitch = QStringLiteral("ON");
    qint64 now = 0;
    for (int i = 0; i < 3; ++i) {
        t.s.tick(status(0x0A), now += 1000);
        QVERIFY(t.s.downloading());
        t.s.receive(answer(0x85, kPerson) + answer(0x86, kWhole + QString::number(i)), now += 100);
        // A tick in state 4 of the previous record must not cut this download.
        t.s.tick(status(0x0A), now += 1000);
        QVERIFY(t.s.downloading());
        t.s.receive(answer(0x87, kSeg) + answer(0x89, kImp) + buildFrame(0x8D), now += 100);
        QCOMPARE(t.records.count(), i + 1);
    }
    t.s.tick(status(0x09), now += 1000);
    QCOMPARE(global::BCAstate, 6);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(t.records.count(), 3);

    // PC control started on the emptied analyzer: its lasting "no new record"
    // does not end it; the person frame goes out at every tick until the
    // measurement starts, and the search's end after it ends PC control.
    global::batchSwitch = QStringLiteral("OFF");
    global::personInfoStr = analyzer::buildPersonFrame("0", "*", 1, 1990, 168, 2026);
    global::BCAstate = 5;
    for (int i = 0; i < 3; ++i)
        t.s.tick(status(0x09), now += 1000);
    QCOMPARE(global::BCAstate, 5);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(t.sent(global::personInfoStr), 3);
    t.s.tick(status(0x02), now += 1000);
    QCOMPARE(global::BCAstate, 2);
    t.s.tick(status(0x09), now += 1000);
    QCOMPARE(ended.count(), 2);
}

void TestAnalyzerSession::noiseAndOverflowResynchronise()
{
    analyzer::AnalyzerSession s;
    QSignalSpy shown(&s, &analyzer::AnalyzerSession::showText);
    // Noise in front of an answer does not hide it.
    s.tick(QByteArrayLiteral("zq@~") + status(0x02), 0);
    QCOMPARE(global::BCAstate, 2);
    // Endless bytes without an end mark stay bounded; the next answer is read.
    for (int i = 0; i < 5; ++i) {
        s.tick(QByteArray(20000, 'Q'), 1000 + i);
        QVERIFY(s.buffered() <= analyzer::kReceiveLimit);
    }
    s.tick(status(0x01, 3), 2000);
    QCOMPARE(global::BCAstate, 1);
    QCOMPARE(global::BCAmodel, QStringLiteral("TQ-20"));
    QCOMPARE(s.buffered(), 0);
    // Noise past the limit with a stray start mark in front: the answer that
    // begins at its end is kept from its own start mark and read.
    const QByteArray next = status(0x02, 2);
    s.tick(QByteArrayLiteral("\xAA\xBB") + QByteArray(analyzer::kReceiveLimit, 'Q') + next.left(5), 2500);
    s.tick(next.mid(5), 2600);
    QCOMPARE(global::BCAstate, 2);
    QCOMPARE(s.buffered(), 0);
    // A complete answer of nothing known.
    s.tick(QByteArrayLiteral("\x01\x02\xCC\xDD"), 3000);
    QCOMPARE(shown.last().at(0).toString(), QStringLiteral("收到的数据无法解析"));
}

// Obvious-fault fix: a record is acknowledged (0D) only once it is stored.
void TestAnalyzerSession::recordWaitsForItsStoreAndIsStoredOnce()
{
    Session t;
    bool storeWorks = false;
    int stores = 0;
    t.s.setStore([&](const MeasurementLists &) {
        ++stores;
        return storeWorks;
    });
    const QByteArray record =
        answer(0x85, kPerson) + answer(0x86, kWhole) + answer(0x87, kSeg) + answer(0x89, kImp);
    t.s.tick(status(0x05), 0);
    t.s.receive(record, 100);
    // The store fails: no 0D, and the record still announced is not fetched again.
    QVERIFY(t.s.recordWaiting());
    t.s.tick(status(0x05), 3000);
    t.s.tick(status(0x05), 4000);
    QCOMPARE(t.sent(frames::nextRecord), 0);
    QCOMPARE(t.sent(frames::sendPerson), 1);
    QCOMPARE(stores, 3);
    // It is stored at the next tick that can, and only then 0D goes out.
    storeWorks = true;
    t.s.tick({}, 5000);
    QVERIFY(!t.s.recordWaiting());
    QCOMPARE(stores, 4);
    QCOMPARE(t.sent(frames::nextRecord), 1);
    // The 0D was lost: the same record comes again; it is not stored twice, 0D is sent again.
    t.s.tick(status(0x05), 8000);
    t.s.receive(record, 8100);
    QCOMPARE(stores, 4);
    QCOMPARE(t.sent(frames::nextRecord), 2);
}

// Obvious-fault fix: an answer damaged on the line is asked again, not stored.
void TestAnalyzerSession::damagedAnswerIsAskedAgainUnlessRepeatedAlike()
{
    Session t;
    QByteArray bad = answer(0x86, kWhole);
    bad[40] = char(bad[40] ^ 0x01);
    t.s.tick(status(0x05), 0);
    t.s.receive(answer(0x85, kPerson), 100);
    t.s.receive(bad, 200);
    t.s.tick({}, 2500);
    QCOMPARE(t.sent(frames::sendWhole), 2);
    // Damaged again, in another place: still the line's, asked again.
    QByteArray other = answer(0x86, kWhole);
    other[60] = char(other[60] ^ 0x10);
    t.s.receive(other, 2600);
    t.s.tick({}, 5000);
    QCOMPARE(t.sent(frames::sendWhole), 3);
    QCOMPARE(t.sent(frames::sendSegment), 0);
    // The same bytes twice in a row: the analyzer's own framing, taken.
    t.s.receive(bad, 5100);
    t.s.tick({}, 7500);
    QCOMPARE(t.sent(frames::sendWhole), 4);
    t.s.receive(bad, 7600);
    QCOMPARE(t.sent(frames::sendSegment), 1);
    // Empty segment and impedance parts give the default record.
    t.s.receive(answer(0x87, {}) + answer(0x89, {}), 7700);
    const MeasurementLists lists = t.records.at(0).at(0).value<MeasurementLists>();
    QCOMPARE(lists.segData + lists.impData, analyzer::defaultRecord() + analyzer::defaultRecord());
}

void TestAnalyzerSession::silenceAfterFiveSecondsAndRecovery_data()
{
    // Steps "q<ms>" query sent, "a<ms>" bytes came, "c<ms>" check, "l" port
    // lost, "x" reset;
    // a check or answer followed by ":S" went silent, ":R" recovered, ":-" nothing.
    QTest::addColumn<QString>("script");
    QTest::newRow("one query a second, never answered")
        << "q0 c0:- q1000 c1000:- q4000 c4999:- q5000 c5000:S q6000 c6000:- c60000:-";
    QTest::newRow("an answer restarts the count")
        << "q0 q1000 a1100:- q2000 q3000 c6999:- c7000:S a7100:R c7100:- c30000:-";
    QTest::newRow("silence counts from the first unanswered query")
        << "q0 a500:- q1000 q5900 c5999:- c6000:S";
    QTest::newRow("recovered, then silent again") << "q0 c5000:S a5100:R q6000 c10999:- c11000:S";
    QTest::newRow("reset forgets what was awaited") << "q0 c4000:- x c9000:- q9000 c14000:S x c20000:-";
    QTest::newRow("no query, no silence") << "c0:- c100000:- a100001:-";
    QTest::newRow("a failed port is silent at once") << "q0 l:S c1000:- l:- a2000:R c2000:- l:S x c9000:-";
}

void TestAnalyzerSession::silenceAfterFiveSecondsAndRecovery()
{
    QFETCH(QString, script);
    using Change = analyzer::LinkWatch::Change;
    analyzer::LinkWatch watch;
    QString seen;
    bool silent = false; // as the script says it should be
    bool lost = false;
    for (const QString &step : script.split(QLatin1Char(' '))) {
        lost =
            step.startsWith(QLatin1Char('l')) || (lost && !step.startsWith(QLatin1Char('a')) && step != "x");
        silent = step.endsWith(":S") || (silent && !step.endsWith(":R") && step != QLatin1String("x"));
        const qint64 t = step.mid(1).section(QLatin1Char(':'), 0, 0).toLongLong();
        Change change = Change::None;
        switch (step.at(0).toLatin1()) {
        case 'q':
            watch.queried(t);
            break;
        case 'a':
            change = watch.answered();
            break;
        case 'c':
            change = watch.check(t);
            break;
        case 'l':
            change = watch.lost();
            break;
        default:
            watch.reset();
            break;
        }
        seen += (seen.isEmpty() ? QString() : QStringLiteral(" ")) + step.section(QLatin1Char(':'), 0, 0);
        if (step.contains(QLatin1Char(':')))
            seen += change == Change::WentSilent ? ":S" : change == Change::Recovered ? ":R" : ":-";
        QCOMPARE(watch.silent(), silent);
        QCOMPARE(watch.portLost(), lost);
    }
    QCOMPARE(seen, script);
}

QTEST_MAIN(TestAnalyzerSession)
#include "tst_analyzersession.moc"
