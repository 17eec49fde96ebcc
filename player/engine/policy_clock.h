#pragma once

#include "player/net/net_clock.h"

namespace lumora {

// The playback policy keeps time as the stream connections do: one clock, Qt's in the program
// and a hand-driven one in tests.
using PolicyTimer = NetTimer;
using PolicyClock = NetClock;

inline std::unique_ptr<PolicyClock> systemClock() { return systemNetClock(); }

} // namespace lumora
