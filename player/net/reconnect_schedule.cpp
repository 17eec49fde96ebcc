#include "reconnect_schedule.h"

#include <algorithm>

namespace lumora {

ReconnectSchedule::ReconnectSchedule(const NetClock &clock, ReconnectRules rules) : m_clock(clock), m_rules(std::move(rules))
{
    if (m_rules.pausesMs.empty())
        m_rules.pausesMs.push_back(1000);
    m_flowingSince = m_clock.nowMs();
}

void ReconnectSchedule::flowLost()
{
    if (m_inOutage)
        return;
    m_inOutage = true;
    m_attempt = 0;
    m_bad = 0;
    if (m_clock.nowMs() - m_flowingSince >= m_rules.stableMs)
        m_step = 0;
}

void ReconnectSchedule::flowResumed()
{
    if (!m_inOutage)
        return;
    m_inOutage = false;
    m_bad = 0;
    m_flowingSince = m_clock.nowMs();
}

int ReconnectSchedule::windowWaitMs() const
{
    const qint64 now = m_clock.nowMs();
    std::size_t inWindow = 0;
    for (qint64 at : m_starts)
        if (now - at < m_rules.windowMs)
            ++inWindow;
    if (inWindow < std::size_t(m_rules.maxTriesPerWindow))
        return 0;
    // The try that leaves the window first makes room.
    const qint64 oldest = m_starts[m_starts.size() - std::size_t(m_rules.maxTriesPerWindow)];
    return int(std::max<qint64>(0, oldest + m_rules.windowMs - now));
}

int ReconnectSchedule::pauseBeforeNextTryMs(bool soon) const
{
    const int backoff = soon ? 0 : m_rules.pausesMs[std::min(m_step, m_rules.pausesMs.size() - 1)];
    return std::max(backoff, windowWaitMs());
}

void ReconnectSchedule::tryStarted(bool soon)
{
    const qint64 now = m_clock.nowMs();
    m_starts.push_back(now);
    while (!m_starts.empty() && now - m_starts.front() >= m_rules.windowMs)
        m_starts.pop_front();
    if (!soon)
        ++m_step;
    ++m_attempt;
}

void ReconnectSchedule::tryFailed(bool badAnswer)
{
    if (badAnswer)
        ++m_bad;
}

} // namespace lumora
