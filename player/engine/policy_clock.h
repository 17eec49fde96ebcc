#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

namespace lumora {

// A one-shot timer as the playback policy uses it.
class PolicyTimer {
public:
    virtual ~PolicyTimer() = default;
    virtual void start(int ms) = 0; // restarts a running timer
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    std::function<void()> timeout;
};

// The time and the timers of the playback policy: Qt's in the program, a hand-driven one in
// tests, so that waits of seconds are checked in milliseconds.
class PolicyClock {
public:
    virtual ~PolicyClock() = default;
    virtual qint64 nowMs() const = 0;
    virtual std::unique_ptr<PolicyTimer> createTimer() = 0;
};

// QTimer and a monotonic clock.
std::unique_ptr<PolicyClock> systemClock();

} // namespace lumora
