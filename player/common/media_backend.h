#pragma once

#include "player_settings.h"
#include "player_status.h"
#include "stream_tap.h"

#include <QObject>
#include <QString>
#include <qwindowdefs.h> // WId

namespace lumora {

// What a PlayerControl needs of a media engine: libVLC in the program (VlcBackend), a
// recording stand-in in tests. All calls and all signals are on the GUI thread.
class MediaBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~MediaBackend() override = default;

    // Applied once, when the player is created.
    virtual void configure(const PlayerSettings &settings) = 0;
    // Ends whatever plays, opens or buffers. It cannot fail: what is stopped is released.
    virtual void stop() = 0;
    // Drops what it had and starts opening address (exactly as written) and playing it;
    // returns at once. It cannot fail here: an address that cannot be played is reported
    // later through the status ("cannot open" with the reason), never raised.
    virtual void open(const QString &address) = 0;

    // The player's own controls.
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void setVolume(int volume) = 0; // 0 to 100
    virtual void setMuted(bool muted) = 0;
    virtual void seek(double fraction) = 0; // 0 to 1, where the stream allows it
    // The native window the picture is drawn into; 0: none (no picture is shown).
    virtual void setVideoWindow(WId window) = 0;

    // Gives the bytes of every stream played from now on to tap as they arrive (nullptr: to
    // nobody). The tap outlives the backend or is unset first. An engine that fetches nothing
    // itself has nothing to give.
    virtual void setStreamTap(StreamTap *tap) { Q_UNUSED(tap); }
    // Evens out the loudness of stations (quiet ones raised, loud ones held back) from the
    // next media on. An engine without audio filters ignores it.
    virtual void setEvenLoudness(bool on) { Q_UNUSED(on); }
    // Where a station offers its stream in several versions (HTTP Live Streaming variants),
    // the one of highest bandwidth within bitsPerSecond is played, from the next open on;
    // 0: the best one. An engine that fetches nothing itself has nothing to choose.
    virtual void setBandwidthLimit(qint64 bitsPerSecond) { Q_UNUSED(bitsPerSecond); }

signals:
    void statusChanged(const lumora::PlayerStatus &status);
    void positionChanged(double fraction);
    void seekableChanged(bool seekable);
    void videoChanged(bool hasVideo);
};

} // namespace lumora
