// Answer handling of the protocol test console: gathering the bytes read from
// the analyzer port into whole frames and turning one frame into the line the
// console shows. Widget-free so that tests can drive it byte by byte.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Gathers received bytes and hands out every complete frame (up to and
// including its 0xCC 0xDD end mark) exactly once, whatever the split of the
// reads. Bytes that never reach an end mark are dropped once more than
// |limit| of them wait, so a noisy line cannot grow the buffer without bound.
class ConsoleAnswerGatherer
{
public:
    static constexpr int defaultLimit = 64 * 1024;

    explicit ConsoleAnswerGatherer(int limit = defaultLimit) : m_limit(limit) {}

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

// Interpretation of one complete answer, as the console shows it.
struct ConsoleReading
{
    enum Part { NoRecord, Person, Whole, Segment, Impedance };

    Part part = NoRecord;
    QString text;      // the line of the information view
    QByteArray record; // decoded '#'-separated text of a data record
};

// Interprets the lower-case hex text of one answer: state and acknowledgement
// codes first, then the four data records by their answer code.
ConsoleReading interpretConsoleAnswer(const QByteArray &hex);
