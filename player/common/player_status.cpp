#include "player_status.h"

#include "playback_states.h"

namespace lumora {

bool isUnderWay(PlaybackState state)
{
    return stateInfo(state).underWay;
}

QString playbackStateName(PlaybackState state)
{
    return QString::fromLatin1(stateInfo(state).name);
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
