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
};

struct PlayerStatus {
    PlaybackState state = PlaybackState::Idle;
    int bufferPercent = 0;
    QString title;
    QStringList missingKeys;
    int attempt = 0;

    bool operator==(const PlayerStatus &) const = default;
};

QString playbackStateName(PlaybackState state); // "idle", "opening", ... for logs and tests

} // namespace lumora

Q_DECLARE_METATYPE(lumora::PlayerStatus)
