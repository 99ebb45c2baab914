#include "analyzer/answergatherer.h"

#include "analyzer/framecodec.h"

#include <QDebug>

QList<QByteArray> AnswerGatherer::feed(const QByteArray &bytes)
{
    m_pending.append(bytes);
    QList<QByteArray> frames;
    while (m_pending.contains(frames::endMark)) {
        const QList<QByteArray> parts = cutFrame(m_pending);
        frames << parts.at(0);
        m_pending = parts.at(1);
    }
    if (m_pending.size() > m_limit) {
        // Keep from the last start mark on, if that much still fits: it may be
        // the beginning of a real answer after the noise.
        const int start = m_pending.lastIndexOf(frames::startMark);
        const int keepFrom = (start >= 0 && m_pending.size() - start <= m_limit) ? start : m_pending.size();
        qDebug() << "receive buffer full, bytes without end mark dropped:" << keepFrom;
        m_dropped += keepFrom;
        m_pending.remove(0, keepFrom);
    }
    return frames;
}
