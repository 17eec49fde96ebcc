#include "player_status.h"

namespace lumora {

bool isUnderWay(PlaybackState state)
{
    switch (state) {
    case PlaybackState::Opening:
    case PlaybackState::Buffering:
    case PlaybackState::Playing:
    case PlaybackState::Reconnecting:
    case PlaybackState::Waiting:
        return true;
    default:
        return false;
    }
}

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
    case PlaybackState::NoSoundDevice: return QStringLiteral("no sound device");
    case PlaybackState::Waiting: return QStringLiteral("waiting");
    }
    return {};
}

QString openFailureName(OpenFailure failure)
{
    switch (failure) {
    case OpenFailure::None: return QStringLiteral("none");
    case OpenFailure::HostNotFound: return QStringLiteral("host not found");
    case OpenFailure::Refused: return QStringLiteral("refused");
    case OpenFailure::NoAnswer: return QStringLiteral("no answer");
    case OpenFailure::NotFound: return QStringLiteral("not found");
    case OpenFailure::ServerError: return QStringLiteral("server error");
    case OpenFailure::NotAStream: return QStringLiteral("not a stream");
    }
    return {};
}

} // namespace lumora
