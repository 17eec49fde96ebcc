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

bool isCertificateFailure(OpenFailure failure)
{
    return failure == OpenFailure::CertificateSelfSigned || failure == OpenFailure::CertificateExpired
        || failure == OpenFailure::CertificateOtherHost || failure == OpenFailure::CertificateUntrusted;
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
    case OpenFailure::CertificateSelfSigned: return QStringLiteral("certificate self-signed");
    case OpenFailure::CertificateExpired: return QStringLiteral("certificate expired");
    case OpenFailure::CertificateOtherHost: return QStringLiteral("certificate for another host");
    case OpenFailure::CertificateUntrusted: return QStringLiteral("certificate untrusted");
    case OpenFailure::ProxyUnreachable: return QStringLiteral("proxy unreachable");
    case OpenFailure::ProxyDenied: return QStringLiteral("proxy denied");
    case OpenFailure::ProxyCredentials: return QStringLiteral("proxy credentials");
    }
    return {};
}

} // namespace lumora
