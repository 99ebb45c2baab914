// Gathering the bytes read from the analyzer port into whole answer frames.
#pragma once

#include <QByteArray>
#include <QList>

// Gathers received bytes and hands out every complete frame (up to and
// including its 0xCC 0xDD end mark) exactly once, whatever the split of the
// reads. Bytes that never reach an end mark are dropped once more than
// |limit| of them wait, so a noisy line cannot grow the buffer without bound.
class AnswerGatherer
{
public:
    static constexpr int defaultLimit = 64 * 1024;

    explicit AnswerGatherer(int limit = defaultLimit) : m_limit(limit) {}

    // Appends |bytes| and returns the frames they complete, in arrival order.
    QList<QByteArray> feed(const QByteArray &bytes);

    // Bytes of an answer not yet complete.
    const QByteArray &pending() const { return m_pending; }
    // Number of bytes dropped so far because no end mark came.
    qint64 droppedBytes() const { return m_dropped; }
    void clear() { m_pending.clear(); }

private:
    int m_limit;
    QByteArray m_pending;
    qint64 m_dropped = 0;
};
