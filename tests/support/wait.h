#pragma once

// Waiting in tests and benchmarks: on a condition, with a deadline, while the event loop runs.

#include <functional>

namespace lumora::test {

// Runs the event loop until condition() holds (looked at every pollMs) or deadlineMs passes;
// true when it holds. The loop runs all the while, so timers and sockets of this thread are
// served promptly: measurements made in their handlers are not held up. A condition that is
// costly to look at (another program asked) is looked at less often.
bool waitFor(const std::function<bool()> &condition, int deadlineMs, int pollMs = 1);

// A negative check: runs the event loop for ms and says whether condition() held every time
// it was looked at (every 5 ms). For what must NOT happen for a while, such as audio
// going on after its player has gone; the duration is the check, so it is deliberately fixed.
bool holdsFor(const std::function<bool()> &condition, int ms);

} // namespace lumora::test
