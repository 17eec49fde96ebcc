#include "policy_clock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace lumora {

namespace {

class QtPolicyTimer : public PolicyTimer {
public:
    QtPolicyTimer()
    {
        m_timer.setSingleShot(true);
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

class SystemClock : public PolicyClock {
public:
    SystemClock() { m_clock.start(); }
    qint64 nowMs() const override { return m_clock.elapsed(); }
    std::unique_ptr<PolicyTimer> createTimer() override { return std::make_unique<QtPolicyTimer>(); }

private:
    QElapsedTimer m_clock;
};

} // namespace

std::unique_ptr<PolicyClock> systemClock()
{
    return std::make_unique<SystemClock>();
}

} // namespace lumora
