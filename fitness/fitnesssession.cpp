#include "fitness/fitnesssession.h"

#include <QDebug>

namespace fitness {
namespace {

enum class Kind { Double, Integer, Grip };

struct ItemDef
{
    const char *code;
    const char *column;
    Kind kind;
    double FitValues::*real;
    int FitValues::*whole;
    const char *logPrefix; // logged with the converted value, or null
};

const ItemDef kItems[] = {
    {"01", "Height", Kind::Double, &FitValues::height, nullptr, nullptr},
    {"02", "Weight", Kind::Double, &FitValues::weight, nullptr, nullptr},
    {"03", "FHL", Kind::Integer, nullptr, &FitValues::FHL, nullptr},
    {"04", "TZ", Kind::Double, &FitValues::TZ, nullptr, "Getting TZ:"},
    {"05", "TQQ", Kind::Double, &FitValues::TQQ, nullptr, nullptr},
    {"06", "WOLI", Kind::Grip, &FitValues::WOLI, nullptr, nullptr},
    {"07", "ZT", Kind::Double, &FitValues::ZT, nullptr, "Getting ZT:"},
    {"09", "FWC", Kind::Integer, nullptr, &FitValues::FWC, "Getting FWC:"},
    {"11", "BYDJ", Kind::Double, &FitValues::BYDJ, nullptr, nullptr},
    {"12", "FYS", Kind::Integer, nullptr, &FitValues::FYS, nullptr},
    {"14", "YWQZ", Kind::Integer, nullptr, &FitValues::YWQZ, "Getting YWQZ"},
    {"15", "TY", Kind::Double, &FitValues::TY, nullptr, "Getting TY"},
};

const ItemDef *findItem(const QString &code)
{
    for (const ItemDef &item : kItems) {
        if (code == QLatin1String(item.code))
            return &item;
    }
    return nullptr;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

QString itemColumn(const QString &code)
{
    const ItemDef *item = findItem(code);
    return item ? QString::fromLatin1(item->column) : QString();
}

bool convertItem(FitValues &values, const QString &code, const QString &value)
{
    const ItemDef *item = findItem(code);
    if (!item)
        return false;
    // toDouble/toInt give 0 for text that is no number, which is what is stored then.
    switch (item->kind) {
    case Kind::Double:
        values.*(item->real) = value.toDouble();
        break;
    case Kind::Grip:
        // The station counts in newtons; the lists show kilograms with one decimal.
        values.*(item->real) = QString::number(value.toDouble() / 9.8, 'f', 1).toDouble();
        break;
    case Kind::Integer:
        values.*(item->whole) = value.toInt(nullptr, 10);
        break;
    }
    if (item->logPrefix)
        qDebug().noquote() << item->logPrefix << itemValue(values, code).toString();
    return true;
}

QVariant itemValue(const FitValues &values, const QString &code)
{
    const ItemDef *item = findItem(code);
    if (!item)
        return QVariant();
    if (item->kind == Kind::Integer)
        return values.*(item->whole);
    return values.*(item->real);
}

FitResult splitResult(const QByteArray &text)
{
    const QList<QByteArray> parts = text.split(' ');
    QStringList pre;
    for (const QByteArray &part : parts)
        pre << QString::fromUtf8(part);
    qDebug() << "resultListPre =" << pre;

    FitResult r;
    r.userId = pre.first();
    const QString last = pre.last();
    r.itemCode = last.left(2);
    r.value = last.mid(2, 5);
    while (r.value.startsWith(QLatin1Char('0'))) {
        r.value.remove(0, 1);
        qDebug() << "去掉0后的值是：" << r.value;
    }
    qDebug() << "resultList=" << QStringList{r.userId, r.itemCode, r.value};
    return r;
}

bool isCompleteResult(const QByteArray &text)
{
    return resultStart(text) >= 0;
}

int resultStart(const QByteArray &text)
{
    const int n = text.size();
    if (n < kResultLength)
        return -1;
    const int start = n - kResultLength;
    // The item field: a blank, the two-digit code and five value characters.
    if (text.at(n - 8) != ' ' || !isDigit(text.at(n - 7)) || !isDigit(text.at(n - 6)))
        return -1;
    for (int i = n - 5; i < n; ++i) {
        const char c = text.at(i);
        if (!isDigit(c) && c != '.' && c != '-')
            return -1;
    }
    // The user-number field opens the text and is separated from what follows
    // by a blank; line noise brings control bytes, a field never does.
    if (text.at(start) == ' ')
        return -1;
    int firstBlank = -1;
    for (int i = start; i < n - 8; ++i) {
        const uchar c = uchar(text.at(i));
        if (c == ' ') {
            firstBlank = i;
            break;
        }
        if (c < 0x20 || c == 0x7f)
            return -1;
    }
    return firstBlank > start ? start : -1;
}

QByteArray command(int terminal, char code)
{
    QByteArray out;
    out.append(char(0x80 + terminal));
    out.append(code);
    return out;
}

QString commandLogLine(int terminal, char code)
{
    auto hex = [](int v) { return QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0')); };
    return QStringLiteral("sending 'x%1x%2'").arg(hex(0x80 + terminal), hex(quint8(code)));
}

FitnessSession::TickOutcome FitnessSession::tick(qint64 nowMs)
{
    TickOutcome out;
    out.timedOut = expireStalled(nowMs);
    qDebug() << "containerFlag=" << m_containerFlag << "askNum=" << m_askNum;
    if (m_containerFlag != 0)
        return out; // nothing is sent while a result is being received
    qDebug() << "comi======================================================" << m_comi;
    if (m_comi >= 0 && m_comi < kTerminals) {
        out.write = command(m_comi, kQuery);
        qDebug().noquote() << commandLogLine(m_comi, kQuery);
        m_askNum = m_comi;
    }
    if (m_comi >= kTerminals)
        m_comi = 0;
    else
        ++m_comi;
    return out;
}

FitnessSession::ReceiveOutcome FitnessSession::receive(const QByteArray &bytes, qint64 nowMs)
{
    ReceiveOutcome out;
    out.timedOut = expireStalled(nowMs);
    if (bytes.isEmpty())
        return out;
    const int zero = bytes.indexOf('\0');
    out.shown = QString::fromLatin1(zero >= 0 ? bytes.left(zero) : bytes);

    const bool askValid = m_askNum >= 0 && m_askNum < kTerminals;
    // "3" answers a query; once the result is asked for, every byte is its text.
    // Line noise read together with the answer sits in front of it.
    if (m_containerFlag == 0 && bytes.endsWith('3')) {
        if (bytes.size() > 1)
            qDebug() << "dropped noise before the ready answer / 丢弃就绪应答前的干扰字节:"
                     << bytes.chopped(1);
        qDebug() << "listened 3, get data!";
        m_containerFit.clear();
        m_containerFlag = 1;
        m_lastByteMs = nowMs;
        qDebug() << "Now containerFit===========1.containerFit ready=";
        if (askValid) {
            out.write = command(m_askNum, kRequest);
            qDebug().noquote() << commandLogLine(m_askNum, kRequest);
        }
        return out; // the collection has just been emptied: nothing can be complete
    }
    if (m_containerFlag != 1)
        return out; // not asked for: only shown
    m_containerFit.append(bytes);
    m_lastByteMs = nowMs;
    qDebug() << "listenedFit=" << bytes;
    qDebug() << "containerFit=" << m_containerFit;

    if (!isCompleteResult(m_containerFit)) {
        if (m_containerFit.size() > kContainerCap) {
            // A noisy line that never forms a result: drop what came and poll
            // again; the terminal keeps an unacknowledged result and offers it anew.
            qDebug() << "containerFit over" << kContainerCap
                     << "bytes without a result, dropped / 超长无效数据已丢弃:" << m_containerFit.left(64);
            endReception();
            out.resynced = true;
        }
        return out;
    }

    qDebug() << "All data(>26) received, start to save";
    m_containerFlag = 0;
    // The station sends results of exactly kResultLength bytes, so bytes in
    // front of the result's shape are line noise.
    QByteArray text = m_containerFit;
    const int start = resultStart(text);
    if (start > 0) {
        qDebug() << "dropped noise before the result / 丢弃结果前的干扰字节:" << text.left(start);
        text = text.mid(start);
    }
    m_containerFit.clear();
    if (text == m_containerOld) {
        // Stored already: only the acknowledgement was missing.
        qDebug() << "containerOld=" << m_containerOld << " same data ------------------";
        out.write = resultStored(true);
        out.duplicate = true;
        return out;
    }
    m_unstored = text;
    out.result = splitResult(text);
    m_itemCode = out.result.itemCode.toUtf8();
    qDebug() << "userID=" << out.result.userId;
    out.hasResult = true;
    return out;
}

QByteArray FitnessSession::resultStored(bool stored)
{
    const QByteArray text = m_unstored.isEmpty() ? m_containerOld : m_unstored;
    m_unstored.clear();
    if (!stored) {
        qDebug() << "result not stored, not acknowledged; the terminal offers it again:" << text;
        return QByteArray();
    }
    m_containerOld = text;
    if (m_askNum < 0 || m_askNum >= kTerminals)
        return QByteArray();
    qDebug().noquote() << commandLogLine(m_askNum, kAcknowledge);
    QByteArray ack = command(m_askNum, kAcknowledge);
    m_askNum += 100;
    return ack;
}

bool FitnessSession::expireStalled(qint64 nowMs)
{
    if (m_containerFlag == 0 || nowMs - m_lastByteMs < kReceptionTimeoutMs)
        return false;
    qDebug() << "reception timed out, no byte for" << kReceptionTimeoutMs
             << "ms; partial text dropped / 接收超时，丢弃不完整数据: containerFit=" << m_containerFit;
    endReception();
    return true;
}

void FitnessSession::endReception()
{
    m_containerFit.clear();
    m_containerFlag = 0;
}

} // namespace fitness
