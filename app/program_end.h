#pragma once

#include <functional>

namespace lumora {

// Ends the program with an exit code. The program's own ending returns from the event loop, so
// main() returns and every window and player goes with the page set; tests put a recorder here.
using EndProgram = std::function<void(int exitCode)>;

EndProgram quitEventLoop();

} // namespace lumora
