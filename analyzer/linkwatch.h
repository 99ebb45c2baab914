// Whether an instrument still answers: queries that expect an answer and
// bytes that come back are reported with the time of a monotonic clock; a
// query left unanswered for kSilenceMs makes the link silent until bytes
// come again; a port that fails makes it silent at once. Used for the
// analyzer's status queries and the fitness station's result requests.
#pragma once

#include <QtGlobal>

namespace analyzer {

constexpr qint64 kSilenceMs = 5000;

class LinkWatch
{
public:
    enum class Change { None, WentSilent, Recovered };

    explicit LinkWatch(qint64 silenceMs = kSilenceMs) : m_silenceMs(silenceMs) {}

    // A query that expects an answer went out.
    void queried(qint64 nowMs);
    // Bytes came in; Recovered when the link was silent.
    Change answered();
    // WentSilent once the oldest unanswered query has waited silenceMs.
    Change check(qint64 nowMs);
    // The port itself failed (adapter unplugged, device gone): silent at once.
    Change lost();
    // The port was closed or polling stopped: nothing is awaited any more.
    void reset();

    bool silent() const { return m_silent; }
    // Silent because the port failed (until reset or an answer).
    bool portLost() const { return m_portLost; }

private:
    qint64 m_silenceMs;
    qint64 m_waitingSince = -1; // first query after the last answer, -1 when none waits
    bool m_silent = false;
    bool m_portLost = false;
};

} // namespace analyzer
