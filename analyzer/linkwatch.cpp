#include "analyzer/linkwatch.h"

namespace analyzer {

void LinkWatch::queried(qint64 nowMs)
{
    if (m_waitingSince < 0)
        m_waitingSince = nowMs;
}

LinkWatch::Change LinkWatch::answered()
{
    m_waitingSince = -1;
    m_portLost = false;
    if (!m_silent)
        return Change::None;
    m_silent = false;
    return Change::Recovered;
}

LinkWatch::Change LinkWatch::check(qint64 nowMs)
{
    if (m_silent || m_waitingSince < 0 || nowMs - m_waitingSince < m_silenceMs)
        return Change::None;
    m_silent = true;
    return Change::WentSilent;
}

LinkWatch::Change LinkWatch::lost()
{
    m_portLost = true;
    if (m_silent)
        return Change::None;
    m_silent = true;
    return Change::WentSilent;
}

void LinkWatch::reset()
{
    m_waitingSince = -1;
    m_silent = false;
    m_portLost = false;
}

} // namespace analyzer
