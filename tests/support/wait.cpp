#include "wait.h"

#include <QEventLoop>
#include <QTimer>

namespace lumora::test {

namespace {

// Runs the event loop until stop() holds, looked at every pollMs, or ms pass.
void runUntil(const std::function<bool()> &stop, int ms, int pollMs)
{
    QEventLoop loop;
    QTimer poll, deadline;
    poll.setTimerType(Qt::PreciseTimer);
    deadline.setTimerType(Qt::PreciseTimer); // a coarse one may end the wait up to 5 % early
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop())
            loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(pollMs);
    deadline.setSingleShot(true);
    deadline.start(ms);
    loop.exec();
}

} // namespace

bool waitFor(const std::function<bool()> &condition, int deadlineMs, int pollMs)
{
    // condition() is not asked again once it held: it may consume what it looks at.
    bool met = condition();
    if (!met)
        runUntil([&] { return met = condition(); }, deadlineMs, pollMs);
    return met;
}

bool holdsFor(const std::function<bool()> &condition, int ms)
{
    bool held = condition();
    if (held)
        runUntil([&] { return !(held = condition()); }, ms, 5);
    return held;
}

} // namespace lumora::test
