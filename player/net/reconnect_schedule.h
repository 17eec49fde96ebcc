#pragma once

#include "net_clock.h"

#include <deque>
#include <vector>

namespace lumora {

// The pauses and limits of ReconnectSchedule.
struct ReconnectRules {
    std::vector<int> pausesMs{1000, 2000, 4000, 8000, 16000, 30000};
    int maxTriesPerWindow = 6;
    int windowMs = 60000;
    int maxBadAnswers = 3;
    int stableMs = 30000; // a flow this long earns the short pauses back
};

// When a live stream that lost its flow is tried again, and when it is given up.
//
// Pauses grow 1, 2, 4, 8, 16 s and then stay at 30 s, and whatever the pauses say, no more
// than six tries start in any minute, so a server that keeps dropping its listeners sees a
// handful of requests a minute. The pauses start again from 1 s only after the stream has
// flowed for 30 s. Tries go on without limit while the network is down (no name lookup, no
// route, no connection); a station that answers badly (refuses, "not found", a server error,
// no audio) is given up after three such answers in one outage.
class ReconnectSchedule {
public:
    explicit ReconnectSchedule(const NetClock &clock, ReconnectRules rules = {});

    // The flow stopped: an outage begins (or goes on).
    void flowLost();
    // Audio flows again, from an old connection or a new one; the outage is over.
    void flowResumed();
    bool inOutage() const { return m_inOutage; }

    // How long from now the next try may start. soon: the outage itself was the wait (a
    // stall), or the network just came back, so no backoff pause; the window still holds.
    int pauseBeforeNextTryMs(bool soon) const;
    // A try starts now; soon as given to pauseBeforeNextTryMs.
    void tryStarted(bool soon);
    // The try under way failed; badAnswer: the station answered badly (not the network).
    void tryFailed(bool badAnswer);
    // Too many bad answers in this outage: the stream is lost.
    bool givenUp() const { return m_bad >= m_rules.maxBadAnswers; }
    // The tries started in this outage; the one under way or next is attempt() (+1).
    int attempt() const { return m_attempt; }

private:
    int windowWaitMs() const;

    const NetClock &m_clock;
    ReconnectRules m_rules;
    std::deque<qint64> m_starts; // when the tries of the last window started
    std::size_t m_step = 0;      // pauses taken since the flow was last stable
    int m_bad = 0;
    int m_attempt = 0;
    qint64 m_flowingSince = 0;
    bool m_inOutage = false;
};

} // namespace lumora
