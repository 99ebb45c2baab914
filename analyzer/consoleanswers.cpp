#include "analyzer/consoleanswers.h"

#include "analyzer/framecodec.h"

#include <QCoreApplication>
#include <QDebug>

namespace {
// Containment on byte boundaries only: "0d01" must be the bytes 0D 01, not
// the tail of one byte and the head of the next.
bool hasCode(const QByteArray &hex, const QByteArray &code)
{
    for (int pos = hex.indexOf(code); pos >= 0; pos = hex.indexOf(code, pos + 1)) {
        if (pos % 2 == 0)
            return true;
    }
    return false;
}

// The answer from its start mark on (noise read before it is passed over).
QByteArray fromStartMark(const QByteArray &hex)
{
    for (int pos = hex.indexOf("aabb"); pos >= 0; pos = hex.indexOf("aabb", pos + 1)) {
        if (pos % 2 == 0)
            return hex.mid(pos);
    }
    return hex;
}

QString text(const char *source)
{
    return QCoreApplication::translate("testBCADlg", source);
}
} // namespace

ConsoleReading interpretConsoleAnswer(const QByteArray &hex)
{
    struct CodeText
    {
        const QByteArray &code;
        const char *text;
    };
    // Order matters: the first code found gives the text.
    const CodeText codes[] = {
        {frames::ansPcControl, QT_TRANSLATE_NOOP("testBCADlg", "体成分仪已进入主控模式")},
        {frames::ansPersonAck, QT_TRANSLATE_NOOP("testBCADlg", "收到个人信息")},
        {frames::ansTestStart, QT_TRANSLATE_NOOP("testBCADlg", "开始测试")},
        {frames::ansSoftware, QT_TRANSLATE_NOOP("testBCADlg", "收到软件版本")},
        {frames::ansHardware, QT_TRANSLATE_NOOP("testBCADlg", "收到硬件版本")},
        {frames::ansPcEnd, QT_TRANSLATE_NOOP("testBCADlg", "主控已取消")},
        {frames::ansNext, QT_TRANSLATE_NOOP("testBCADlg", "查询下一条记录")},
        {frames::stTesting, QT_TRANSLATE_NOOP("testBCADlg", "正在测试中")},
        {frames::stWeightOk, QT_TRANSLATE_NOOP("testBCADlg", "体重已得到")},
        {frames::stWeightFail, QT_TRANSLATE_NOOP("testBCADlg", "体重测量出错")},
        {frames::stFinished, QT_TRANSLATE_NOOP("testBCADlg", "测试完毕，有新数据")},
        {frames::stMeasureFail, QT_TRANSLATE_NOOP("testBCADlg", "测量出错")},
        {frames::stSearching, QT_TRANSLATE_NOOP("testBCADlg", "正在查询数据")},
        {frames::stNoNewRecord, QT_TRANSLATE_NOOP("testBCADlg", "查询完成，没有新数据")},
        {frames::stSearchDone, QT_TRANSLATE_NOOP("testBCADlg", "体成分仪查询完成")},
        {frames::stSearchFailed, QT_TRANSLATE_NOOP("testBCADlg", "体成分仪查询出错")},
    };

    ConsoleReading reading;
    if (hasCode(hex, frames::ansState) && hasCode(hex, frames::stStandby)) {
        reading.text = text("体成分仪正常待机");
        return reading;
    }
    for (const CodeText &entry : codes) {
        if (hasCode(hex, entry.code)) {
            reading.text = text(entry.text);
            return reading;
        }
    }

    const QByteArray frame = fromStartMark(hex);
    if (frame.startsWith(frames::ansPerson)) {
        qDebug() << "PART1: Geting Person Information! #############";
        reading.part = ConsoleReading::Person;
        reading.record = personDataTrans(hexStrTrim(frame));
        qDebug() << "personData====: " << reading.record;
        reading.text = text("个人信息数据: ") + QString::fromLatin1(reading.record);
    } else if (frame.startsWith(frames::ansWhole)) {
        qDebug() << "PART2: Geting Whole Data! #############";
        reading.part = ConsoleReading::Whole;
        reading.record = testDataTrans(hexStrTrim(frame));
        qDebug() << "wholeData: " << reading.record;
        reading.text = text("全身成分数据: ") + QString::fromLatin1(reading.record);
    } else if (frame.startsWith(frames::ansSegment)) {
        qDebug() << "PART3： Geting Segmental Data! ####################";
        reading.part = ConsoleReading::Segment;
        reading.record = testDataTrans(hexStrTrim(frame));
        qDebug() << "segData: " << reading.record;
        reading.text = text("节段数据: ") + QString::fromLatin1(reading.record);
    } else if (frame.startsWith(frames::ansImpedance)) {
        qDebug() << "PART4: Geting Impedance Data! #######################";
        reading.part = ConsoleReading::Impedance;
        reading.record = testDataTrans(hexStrTrim(frame));
        qDebug() << "impData: " << reading.record;
        reading.text = text("阻抗数据: ") + QString::fromLatin1(reading.record);
    } else {
        reading.text = text("此部分数据无法解析");
    }
    return reading;
}
