#include "analyzer/analyzersession.h"

#include "analyzer/framecodec.h"
#include "app/globals.h"

#include <QDebug>

namespace analyzer {

QByteArray defaultRecord()
{
    return QByteArrayLiteral("0#2000-01-01#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#0#");
}

QString buildPersonFrame(const QString &id, const QByteArray &name, int sexDigit, int birthYear, int height,
                         int currentYear)
{
    const int age = currentYear - birthYear;
    qDebug() << "Age = " << age;
    const QByteArray fields[] = {id.toLatin1(),
                                 name,
                                 QByteArray::number(sexDigit),
                                 QByteArray::number(birthYear),
                                 QByteArray::number(age),
                                 QByteArray::number(age),
                                 QByteArray::number(height)};
    qDebug() << "inserted year=" << fields[3];
    qDebug() << "inserted phone=" << fields[4];
    qDebug() << "inserted address=" << fields[5];
    QByteArray payload;
    for (const QByteArray &field : fields) {
        for (char c : field) {
            payload.append('\0');
            payload.append(c);
        }
        payload.append('\0');
        payload.append('#');
    }
    QByteArray frame = QByteArrayLiteral("\xAA\xBB\x03\x21\x00\x00\x00\x00");
    frame.append(char(12 + payload.size()));
    frame.append(payload);
    const quint8 checksum = frameChecksum(frame + QByteArrayLiteral("\x00\xCC\xDD"));
    QStringList hex;
    for (int i = 0; i < frame.size(); ++i) {
        const quint8 byte = quint8(frame.at(i));
        // The length byte is written without a leading zero.
        hex << (i == 8 ? QString::number(byte, 16)
                       : QString::number(byte, 16).rightJustified(2, QLatin1Char('0')))
                   .toUpper();
    }
    const QString tail = QString::number(checksum, 16).toUpper() + QStringLiteral(" CC DD");
    qDebug() << "bufTail:" << tail;
    QString text = hex.join(QLatin1Char(' ')) + QLatin1Char(' ') + tail;
    qDebug() << "personInfoStr: " << text;
    return text;
}

AnalyzerSession::AnalyzerSession(QObject *parent) : QObject(parent) {}

void AnalyzerSession::tick(const QByteArray &bytes, qint64 nowMs)
{
    qDebug() << "checkBCAstate now!!!!!!!!!!";
    qDebug() << "global::batchSwitch=" << global::batchSwitch;
    qDebug() << "global::BCAstate: " << global::BCAstate;
    // A record whose store failed is stored now, before anything else.
    if (m_waiting)
        trySave(nowMs);
    switch (global::BCAstate) {
    case 1:
        m_resultstr = QStringLiteral("体成分仪空闲");
        qDebug() << "resultstr: " << m_resultstr;
        break;
    case 2:
        show(QStringLiteral("体成分仪忙"));
        break;
    case 3:
        show(QStringLiteral("测试完毕，有新数据尚未读取"));
        emit listenChanged(true);
        // A record announced but not being fetched (the link was reset) is fetched now.
        if (!m_downloading && !m_waiting && !awaitingNext(nowMs))
            startDownload(nowMs);
        break;
    case 4:
        show(QStringLiteral("数据已取走"));
        // A batch download of the next record may already run in state 4.
        if (!m_downloading && !m_waiting)
            emit listenChanged(false);
        break;
    case 5:
        show(QStringLiteral("主控状态中"));
        emit writeFrame(hexStringtoByteArray(global::personInfoStr));
        break;
    case 6:
        show(QStringLiteral("批量接收完成"));
        break;
    default:
        break;
    }
    // A step of the download that brought nothing for a while is asked again
    // (the answer was lost or garbled); one that is still arriving is not.
    if (m_downloading && nowMs - m_progressMs >= kRerequestMs) {
        qDebug() << "no answer to" << m_lastRequest << "for" << nowMs - m_progressMs << "ms, asking again";
        request(m_lastRequest, nowMs);
    }

    qDebug() << "listened= " << bytes;
    if (!bytes.isEmpty())
        emit portActive();
    handleBytes(bytes, nowMs);
    emit writeFrame(hexStringtoByteArray(frames::queryState));
}

void AnalyzerSession::receive(const QByteArray &bytes, qint64 nowMs)
{
    qDebug() << "Get Data funtion--------------------------------!";
    qDebug() << "global::dataFlag=" << global::dataFlag;
    qDebug() << "rawData= " << bytes;
    if (bytes.isEmpty())
        return;
    emit portActive();
    handleBytes(bytes, nowMs);
}

void AnalyzerSession::resetLink()
{
    m_gatherer.clear();
    if (m_downloading)
        endDownload();
    if (m_waiting) {
        qDebug() << "link reset: the record waiting to be stored is dropped; the analyzer still holds it";
        m_waiting = false;
        emit storeWaiting(false);
    }
}

bool AnalyzerSession::takeFrame(QByteArray &frame)
{
    QString problem = frameProblem(frame);
    // An answer cut short, then a whole one: the whole one is taken.
    for (int at = frame.lastIndexOf(frames::startMark); !problem.isEmpty() && at > 0;
         at = frame.lastIndexOf(frames::startMark, at - 1)) {
        if (frameProblem(frame.mid(at)).isEmpty()) {
            qDebug() << "incomplete answer dropped in front of a whole one:" << frame.left(at).toHex();
            frame.remove(0, at);
            problem.clear();
        }
    }
    if (problem.isEmpty()) {
        if (frame.left(3) == m_lastBadFrame.left(3))
            m_lastBadFrame.clear();
        return true;
    }
    // The same damage twice in a row is the instrument's own way of framing
    // this answer, not the line's: asking again would never end.
    if (frame == m_lastBadFrame) {
        qDebug() << "answer failing the same way twice taken as sent:" << problem << frame.toHex();
        m_lastBadFrame.clear();
        return true;
    }
    qDebug() << "damaged answer dropped / 数据帧校验失败，已丢弃:" << problem << frame.toHex();
    m_lastBadFrame = frame;
    return false;
}

void AnalyzerSession::trySave(qint64 nowMs)
{
    const bool same = m_lists.personData == m_lastStored.personData &&
                      m_lists.wholeData == m_lastStored.wholeData &&
                      m_lists.segData == m_lastStored.segData && m_lists.impData == m_lastStored.impData;
    if (same) {
        // The analyzer sent the record stored last again (its 0D was lost).
        qDebug() << "record identical to the last one stored, not stored again";
    } else if (m_store && !m_store(m_lists)) {
        qDebug() << "record not stored, kept for the next tick; no 0D until it is stored";
        if (!m_waiting) {
            m_waiting = true;
            emit storeWaiting(true);
        }
        return;
    } else {
        m_lastStored = m_lists;
        emit recordReady(m_lists);
    }
    if (m_waiting) {
        m_waiting = false;
        emit storeWaiting(false);
    }
    m_nextSentMs = nowMs;
    emit writeFrame(hexStringtoByteArray(frames::nextRecord));
}

void AnalyzerSession::handleBytes(const QByteArray &bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return;
    const QList<QByteArray> answers = m_gatherer.feed(bytes);
    // Bytes of the awaited answer still arriving count as progress of the
    // download; status answers meanwhile do not.
    if (m_downloading && m_gatherer.pending().contains(QByteArray::fromHex(m_expected)))
        m_progressMs = nowMs;
    for (QByteArray frame : answers) {
        // Line noise in front of an answer is dropped: the answer starts at its start mark.
        const int start = frame.indexOf(frames::startMark);
        if (start > 0) {
            qDebug() << "dropped" << start << "bytes in front of an answer:" << frame.left(start).toHex();
            frame.remove(0, start);
        }
        if (!takeFrame(frame)) {
            // A download step is asked again when its answer stays out; the
            // next tick queries the state again.
            if (!m_downloading)
                show(QStringLiteral("收到的数据无法解析"));
            continue;
        }
        const QByteArray hex = frame.toHex();
        qDebug() << "container:" << frame;
        qDebug() << "listenedHex= " << hex;
        if (m_downloading)
            handleDownload(hex, nowMs);
        else
            handleStatus(hex, nowMs);
    }
}

void AnalyzerSession::handleStatus(const QByteArray &hex, qint64 nowMs)
{
    using namespace frames;
    QString text;
    if (hex.contains(ansState) && hex.contains(stStandby)) {
        setState(1);
        const QString model = modelTagFromStatus(hex);
        if (!model.isEmpty())
            global::BCAmodel = model;
        text = QStringLiteral("体成分仪正常待机");
        if (global::sheetTag.isEmpty())
            global::sheetTag = global::BCAmodel;
    } else if (hex.contains(ansPcControl)) {
        text = QStringLiteral("体成分仪已进入主控模式");
    } else if (hex.contains(ansPersonAck)) {
        text = QStringLiteral("收到个人信息");
    } else if (hex.contains(ansTestStart)) {
        text = QStringLiteral("开始测试");
    } else if (hex.contains(ansPcEnd)) {
        text = QStringLiteral("主控已取消");
    } else if (hex.contains(ansNext)) {
        text = QStringLiteral("定位到下一条记录");
        m_nextSentMs = -1; // every later status answer is about the next record
        emit writeFrame(hexStringtoByteArray(queryState));
    } else if (hex.contains(stTesting)) {
        text = QStringLiteral("正在测试中");
        setState(2);
    } else if (hex.contains(stWeightOk)) {
        text = QStringLiteral("体重已得到");
        emit writeFrame(hexStringtoByteArray(startTest));
    } else if (hex.contains(stWeightFail)) {
        text = QStringLiteral("体重测量出错");
    } else if (hex.contains(stFinished) && awaitingNext(nowMs)) {
        // Answer to a query sent before the last record was closed: that record.
        text = QStringLiteral("测试完毕，有新数据");
    } else if (hex.contains(stFinished) && m_waiting) {
        // The record already downloaded waits for its store.
        text = QStringLiteral("测试完毕，有新数据");
    } else if (hex.contains(stFinished)) {
        text = QStringLiteral("测试完毕，有新数据");
        setState(3);
        global::dataFlag = 0;
        startDownload(nowMs);
    } else if (hex.contains(stMeasureFail)) {
        text = QStringLiteral("测量出错");
    } else if (hex.contains(stSearching)) {
        text = QStringLiteral("正在查询数据");
    } else if (hex.contains(stNoNewRecord) && global::BCAstate == 5) {
        // PC control was started after a search had emptied the analyzer: the
        // analyzer still reports that search until it measures the person
        // sent, so PC control goes on.
        text = QStringLiteral("查询完成，没有新数据");
    } else if (hex.contains(stNoNewRecord)) {
        text = QStringLiteral("查询完成，没有新数据");
        emit listenChanged(false);
        setState(6);
        emit noFurtherRecord();
    } else if (hex.contains(stSearchDone)) {
        text = QStringLiteral("体成分仪查询完成");
        if (global::batchSwitch == QLatin1String("ON") && !m_waiting && !awaitingNext(nowMs))
            startDownload(nowMs);
    } else if (hex.contains(stSearchFailed)) {
        text = QStringLiteral("体成分仪查询出错");
    } else {
        text = QStringLiteral("收到的数据无法解析");
    }
    show(text);
}

void AnalyzerSession::handleDownload(const QByteArray &hex, qint64 nowMs)
{
    using namespace frames;
    // Only the answer to the step asked last moves the download on; a late
    // answer to an earlier (re-sent) request would repeat steps and send a
    // second 0D, which makes the analyzer pass over a record.
    const bool dataAnswer = hex.startsWith(ansPerson) || hex.startsWith(ansWhole) ||
                            hex.startsWith(ansSegment) || hex.startsWith(ansImpedance);
    if (dataAnswer && !hex.startsWith(m_expected)) {
        qDebug() << "answer" << hex.left(6) << "while waiting for" << m_expected << ", ignored";
        return;
    }
    if (hex.startsWith(ansPerson)) {
        qDebug() << "PART1: Geting Person Information! #############";
        m_lists.personData = personDataTrans(hexStrTrim(hex));
        qDebug() << "personData: " << m_lists.personData;
        m_resultstr = QStringLiteral("收到个人信息数据");
        global::dataFlag = 1;
        request(sendWhole, nowMs);
    } else if (hex.startsWith(ansWhole)) {
        qDebug() << "PART2: Geting Whole Data! #############";
        m_saveSwitch = 1;
        m_lists.wholeData = testDataTrans(hexStrTrim(hex));
        qDebug() << "wholeData: " << m_lists.wholeData;
        m_resultstr = QStringLiteral("收到全身成分数据");
        global::dataFlag = 2;
        request(sendSegment, nowMs);
    } else if (hex.startsWith(ansSegment)) {
        qDebug() << "PART3： Geting Segmental Data! ####################";
        m_lists.segData = testDataTrans(hexStrTrim(hex));
        if (m_lists.segData.isEmpty())
            m_lists.segData = defaultRecord();
        qDebug() << "segData: " << m_lists.segData;
        m_resultstr = QStringLiteral("收到节段数据");
        global::dataFlag = 3;
        request(sendImpedance, nowMs);
    } else if (hex.startsWith(ansImpedance)) {
        qDebug() << "PART4: Geting Impedance Data! #######################";
        m_lists.impData = testDataTrans(hexStrTrim(hex));
        if (m_lists.impData.isEmpty())
            m_lists.impData = defaultRecord();
        qDebug() << "impData: " << m_lists.impData;
        m_resultstr = QStringLiteral("收到阻抗数据 ");
        global::dataFlag = 4;
        endDownload();
        setState(4);
        qDebug() << "saveSwitch=" << m_saveSwitch;
        if (m_saveSwitch == 1) {
            // 0D goes out only once the record is stored (now or at a later tick).
            m_saveSwitch = 0;
            trySave(nowMs);
        } else {
            m_nextSentMs = nowMs;
            emit writeFrame(hexStringtoByteArray(nextRecord));
        }
    } else if (hex.contains(stNoNewRecord)) {
        qDebug() << "End: Geting Data finished! #######################";
        global::dataFlag = 5;
        endDownload();
        emit listenChanged(false);
        setState(6);
    } else if (hex.contains(ansState) && hex.contains(stStandby)) {
        endDownload();
        emit listenChanged(false);
        setState(1);
    } else if (hex.contains(ansState) && !hex.contains(stFinished) && !hex.contains(stSearchDone)) {
        // The analyzer no longer holds a record to send (it measures again, or
        // failed): the download is over and the status is taken as such.
        qDebug() << "no record waits any more, download abandoned:" << hex;
        endDownload();
        handleStatus(hex, nowMs);
        return;
    } else {
        // Status answers to the queries of the ticks meanwhile: shown, and the
        // download goes on (a 0d05 or 0d0a here must not start a second one).
        if (hex.contains(ansState) || hex.contains(ansNext))
            qDebug() << "status answer during the download:" << hex;
    }
    emit showText(m_resultstr);
}

bool AnalyzerSession::awaitingNext(qint64 nowMs) const
{
    return m_nextSentMs >= 0 && nowMs - m_nextSentMs < kRerequestMs;
}

void AnalyzerSession::request(const QString &frameHex, qint64 nowMs)
{
    m_lastRequest = frameHex;
    // The answer code is the command code + 0x80, the third byte of the frame.
    const QByteArray frame = hexStringtoByteArray(frameHex);
    m_expected = frame.left(2).toHex() + QByteArray::number(quint8(frame.at(2)) + 0x80, 16);
    m_progressMs = nowMs;
    emit writeFrame(hexStringtoByteArray(frameHex));
}

void AnalyzerSession::startDownload(qint64 nowMs)
{
    m_downloading = true;
    emit listenChanged(true);
    request(frames::sendPerson, nowMs);
}

void AnalyzerSession::endDownload()
{
    m_downloading = false;
    m_lastRequest.clear();
}

void AnalyzerSession::setState(int state)
{
    if (global::BCAstate == state)
        return;
    global::BCAstate = state;
    emit stateChanged(state);
}

void AnalyzerSession::show(const QString &text)
{
    m_resultstr = text;
    qDebug() << "resultstr: " << m_resultstr;
    emit showText(m_resultstr);
}

} // namespace analyzer
