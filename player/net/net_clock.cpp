#include "net_clock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace lumora {

namespace {

class QtNetTimer : public NetTimer {
public:
    QtNetTimer()
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (timeout)
                timeout();
        });
    }
    void start(int ms) override { m_timer.start(qMax(0, ms)); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

class SystemNetClock : public NetClock {
public:
    SystemNetClock() { m_clock.start(); }
    qint64 nowMs() const override { return m_clock.elapsed(); }
    std::unique_ptr<NetTimer> createTimer() override { return std::make_unique<QtNetTimer>(); }

private:
    QElapsedTimer m_clock;
};

} // namespace

std::unique_ptr<NetClock> systemNetClock()
{
    return std::make_unique<SystemNetClock>();
}

} // namespace lumora
