#pragma once

#include "player_status.h"

#include <span>

namespace lumora {

// What the player's primary control (the play button, the first item of its context menu,
// a desktop's PlayPause) does in a state.
enum class PrimaryControl {
    Open,   // opens the player's address again, when it has one
    Resume, // goes on after a pause
    Pause,
    Stop,   // gives up what the player is trying by itself (opening, rejoining)
    None,   // nothing to start: the station shown has no address
};

// How a desktop's media player applet is told what the player does (MPRIS PlaybackStatus).
enum class TransportStatus { Playing, Paused, Stopped };

// Everything a state means outside its status text, one row per state.
struct PlaybackStateInfo {
    PlaybackState state;
    const char *name;          // "idle", "opening", ... for logs and tests
    PrimaryControl primary;
    TransportStatus transport;
    bool underWay;             // on its way to sound or making it: neither at rest nor failed
    bool canPause;             // Pause is honoured: it pauses, or the player is paused already
    bool namesStation;         // the status line begins with the station's caption
    bool showsCushion;         // the audio received and not yet heard is shown
};

// The row of a state; every state has one.
const PlaybackStateInfo &stateInfo(PlaybackState state);
// Every row, in the order of PlaybackState.
std::span<const PlaybackStateInfo> playbackStates();

} // namespace lumora
