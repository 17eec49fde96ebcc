#pragma once

#include <QString>

namespace lumora {

// Where Lumora keeps what it remembers between runs: the state it keeps by itself (volumes,
// stations, titles heard) under $XDG_STATE_HOME/lumora/, and what the listener chose under
// $XDG_CONFIG_HOME/lumora/, beside endpoints.conf, which is the listener's and never written.
struct MemoryFiles {
    QString state;   // state.json
    QString choices; // settings.json

    // The user's folders, from the XDG variables (absolute paths only, as XDG asks) or their
    // defaults under $HOME.
    static MemoryFiles user();
};

} // namespace lumora
