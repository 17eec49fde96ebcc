#include "cushion_keeper.h"

#include <algorithm>
#include <utility>

namespace lumora {

namespace {

// The slow speed ends at the target and starts again only this far below it, so that the
// speed does not flap around the target.
constexpr int kSlowHysteresisMs = 500;

} // namespace

CushionKeeper::Decision CushionKeeper::update(qint64 receivedMs, qint64 heardMs)
{
    m_cushionMs = qMax<qint64>(0, receivedMs - heardMs);
    // Trickling: data still comes, but slower than it plays. libVLC then waits for whole
    // blocks; when nothing comes at all (a stall) that wait makes no difference. A stall's
    // first moments look like a trickle over the trend's span (the cushion falls, and data
    // came before it): only audio that came since the last update tells one from the other,
    // else a cushion that would ride out a short stall is held at the trickle's higher mark.
    const bool trickling = m_trendCount == kTrendUpdates && !m_holding && receivedMs > m_trend.back().receivedMs
        && m_cushionMs < m_trend.front().cushionMs - kFallingMs
        && receivedMs >= m_trend.front().receivedMs + kFallingMs;
    if (m_holding) {
        m_trendCount = 0; // a hold is no trend
    } else {
        if (m_trendCount == kTrendUpdates)
            std::rotate(m_trend.begin(), m_trend.begin() + 1, m_trend.end());
        else
            ++m_trendCount;
        m_trend[size_t(m_trendCount - 1)] = {m_cushionMs, receivedMs};
    }
    Decision d;
    d.rate = m_slow ? kSlowRate : 1.0;
    if (m_libvlcHolds)
        return d; // libVLC starts again by itself, at the speed it had
    if (!m_holding && (m_cushionMs < kLowMs || (trickling && m_cushionMs < m_lowMs))) {
        m_holding = true;
        grow();
        d.hold = true;
    } else if (m_holding && m_cushionMs >= resumeMs()) {
        m_holding = false;
        m_settleUpdates = (std::exchange(m_restarted, false) ? kSettleMs : kResettleMs) / kUpdateMs;
        d.release = true;
    }
    // The speed is not slowed while nothing comes either: libVLC's input then waits inside a
    // read and takes the change only with the data, just as its clock starts again.
    if (m_holding || d.release)
        ;
    else if (m_settleUpdates > 0)
        --m_settleUpdates;
    else if (m_cushionMs >= m_targetMs)
        m_slow = false;
    else if (m_cushionMs < m_targetMs - kSlowHysteresisMs && receivedMs > m_lastReceivedMs)
        m_slow = true;
    m_lastReceivedMs = receivedMs;
    d.rate = m_slow ? kSlowRate : 1.0;
    return d;
}

void CushionKeeper::restartAtNormalSpeed()
{
    m_slow = false;
    m_restarted = true;
}

void CushionKeeper::holdStarted()
{
    if (m_holding)
        return;
    m_holding = m_libvlcHolds = true;
    grow();
}

void CushionKeeper::holdEnded()
{
    if (m_libvlcHolds) {
        m_holding = m_libvlcHolds = false;
        m_settleUpdates = kResettleMs / kUpdateMs;
    }
}

void CushionKeeper::setBytesPerSecond(double bytesPerSecond)
{
    if (!(bytesPerSecond > 0))
        return;
    const double blockMs = kReadBlockBytes * 1000.0 / bytesPerSecond;
    m_lowMs = int(qMin<double>(kMaxLowMs, kLowMs + blockMs));
}

void CushionKeeper::grow()
{
    m_targetMs = qMin(kMaxTargetMs, m_targetMs + kTargetStepMs);
}

} // namespace lumora
