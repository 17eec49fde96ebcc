#include "player_status.h"

namespace lumora {

QString playbackStateName(PlaybackState state)
{
    switch (state) {
    case PlaybackState::Idle: return QStringLiteral("idle");
    case PlaybackState::Opening: return QStringLiteral("opening");
    case PlaybackState::Buffering: return QStringLiteral("buffering");
    case PlaybackState::Playing: return QStringLiteral("playing");
    case PlaybackState::Paused: return QStringLiteral("paused");
    case PlaybackState::Stopped: return QStringLiteral("stopped");
    case PlaybackState::Ended: return QStringLiteral("ended");
    case PlaybackState::CannotOpen: return QStringLiteral("cannot open");
    case PlaybackState::NoAddress: return QStringLiteral("no address");
    case PlaybackState::Reconnecting: return QStringLiteral("reconnecting");
    case PlaybackState::Lost: return QStringLiteral("lost");
    }
    return {};
}

} // namespace lumora
