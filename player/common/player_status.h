#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

namespace lumora {

// What a player is doing, as its status line shows it.
enum class PlaybackState {
    Idle,       // no media yet
    Opening,    // resolving the address or waiting for the stream
    Buffering,  // bufferPercent filled
    Playing,    // title: the stream's "now playing" text, if it sends one
    Paused,
    Stopped,
    Ended,      // a file played to its end
    CannotOpen, // every entry failed, or nothing answered in time
    NoAddress,  // the station has no complete address; missingKeys names the keys
    Reconnecting, // a live stream broke off; attempt: the try under way (1, 2, 3)
    Lost,       // a live stream broke off and every try to rejoin it failed
    NoSoundDevice, // the stream decodes but no audio output could be opened: nothing is heard
    Waiting,    // a stream that was heard fell silent because its data is late; waitedMs: how long
};

// Why a station could not be opened (CannotOpen) or was lost (Lost), in the terms a listener
// can act on. The first problem met on the way decides, except that a server's own answer
// (NotFound, ServerError) wins over a guess about an entry that was tried afterwards.
enum class OpenFailure {
    None,
    HostNotFound, // the server's name is not known (DNS)
    Refused,      // the server refused the connection: nothing listens there
    NoAnswer,     // no answer within the time allowed
    NotFound,     // the server answered that the station is not there (404, 410)
    ServerError,  // the server answered with another error; serverStatus holds its code
    NotAStream,   // what the server sent is neither a stream nor a playlist that leads to one
    // The TLS certificate was refused; the value says why.
    CertificateSelfSigned, // signed by itself (or a chain that ends in a certificate so made)
    CertificateExpired,    // expired or not valid yet
    CertificateOtherHost,  // made out for another host name
    CertificateUntrusted,  // any other reason: an unknown issuer, revoked, malformed
    // The proxy the desktop names (http_proxy and the like) stood in the way.
    ProxyUnreachable,      // the proxy's name is unknown, it refused the connection or did not answer
    ProxyDenied,           // the proxy answered, but would not forward the connection
    ProxyCredentials,      // the proxy asks for a user name and password (407), or took none given
};

// Whether a failure is the certificate's (any of the Certificate* values).
bool isCertificateFailure(OpenFailure failure);

struct PlayerStatus {
    PlaybackState state = PlaybackState::Idle;
    int bufferPercent = 0;
    QString title{};
    QStringList missingKeys{};
    int attempt = 0; // Reconnecting: the try under way or next (1, 2, ...)
    OpenFailure failure = OpenFailure::None; // CannotOpen and Lost: why
    int serverStatus = 0;                    // ServerError: the HTTP status code
    QString configFile{}; // NoAddress: the user's endpoint file, where the missing keys go
    int waitedMs = 0;       // Waiting: how long the station has been silent
    int nextTryInMs = -1;   // Reconnecting: when the next try starts; -1 while one is under way
    bool networkDown = false; // Reconnecting: the network itself is unreachable, tries go on
    int cushionMs = -1;     // Playing, Waiting: audio received and not yet heard; -1 unknown

    bool operator==(const PlayerStatus &) const = default;
};

// Whether the player is on its way to sound or making it: opening, buffering, playing,
// waiting for late data or rejoining a stream (not paused, not at rest, not failed).
// These two read the state table (playback_states.h), which says all a state means.
bool isUnderWay(PlaybackState state);

QString playbackStateName(PlaybackState state); // "idle", "opening", ... for logs and tests
QString openFailureName(OpenFailure failure);    // "refused", "not found", ... for logs and tests

} // namespace lumora

Q_DECLARE_METATYPE(lumora::PlayerStatus)
