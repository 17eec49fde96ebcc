#pragma once

namespace lumora::PlayerError {

// Numbers of the run-time errors the player raises, as the platform's error report shows them.
constexpr int CannotCreate = 429;            // the player cannot be created (libVLC missing or broken)
constexpr int InvalidSettings = 380;         // the stored player settings are damaged
constexpr int Failed = int(0x80004005u);     // stop or writing URL failed (E_FAIL)

} // namespace lumora::PlayerError
