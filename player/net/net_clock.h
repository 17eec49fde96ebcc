#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

namespace lumora {

// A one-shot timer as the stream connections use it.
class NetTimer {
public:
    virtual ~NetTimer() = default;
    virtual void start(int ms) = 0; // restarts a running timer
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    std::function<void()> timeout;
};

// The time and the timers that decide when a stream is stalled, when it is tried again, and
// (as the playback policy's clock) how long a player waits: Qt's in the program, a hand-driven
// one in tests, so that pauses of seconds and minutes are checked without waiting for them.
class NetClock {
public:
    virtual ~NetClock() = default;
    virtual qint64 nowMs() const = 0;
    virtual std::unique_ptr<NetTimer> createTimer() = 0;
};

// QTimer and a monotonic clock.
std::unique_ptr<NetClock> systemNetClock();

} // namespace lumora
