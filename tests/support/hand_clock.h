#pragma once

// A clock that moves only when a test moves it, for the playback policy and the stream
// connections: waits of seconds and minutes are checked in no time.

#include "player/net/net_clock.h"

#include <algorithm>
#include <vector>

namespace lumora::test {

class HandClock : public NetClock {
public:
    class Timer : public NetTimer {
    public:
        explicit Timer(HandClock &clock) : m_clock(clock) { m_clock.m_timers.push_back(this); }
        ~Timer() override { std::erase(m_clock.m_timers, this); }
        void start(int ms) override { due = m_clock.m_now + ms; }
        void stop() override { due = -1; }
        bool isActive() const override { return due >= 0; }
        qint64 due = -1;

    private:
        HandClock &m_clock;
    };

    qint64 nowMs() const override { return m_now; }
    std::unique_ptr<NetTimer> createTimer() override { return std::make_unique<Timer>(*this); }

    // Moves the time on, firing every timer that falls due, in order.
    void advance(qint64 ms)
    {
        const qint64 end = m_now + ms;
        for (;;) {
            Timer *next = nullptr;
            for (Timer *t : m_timers)
                if (t->due >= 0 && t->due <= end && (!next || t->due < next->due))
                    next = t;
            if (!next)
                break;
            m_now = next->due;
            next->due = -1;
            next->timeout();
        }
        m_now = end;
    }

private:
    qint64 m_now = 0;
    std::vector<Timer *> m_timers;
};

} // namespace lumora::test
