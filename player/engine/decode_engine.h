#pragma once

#include "player/common/player_settings.h"
#include "player/net/stream_buffer.h"

#include <QObject>
#include <QString>
#include <qwindowdefs.h> // WId
#include <memory>

namespace lumora {

// What the playback policy needs of a decoder: libVLC in the program (VlcEngine). It plays
// what it is given and reports what happens; it decides nothing (no retries, no time limits).
// All calls and signals on the GUI thread.
class DecodeEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~DecodeEngine() override = default;

    virtual void configure(const PlayerSettings &settings) = 0;
    // Demuxes and decodes what buffer receives; container ("ogg", "asf") names its format when
    // it is known, so that no time goes into guessing it. false: the engine could not start.
    virtual bool playBuffer(std::shared_ptr<StreamBuffer> buffer, const QString &container) = 0;
    // Opens an mmst:// address itself (MMS over TCP). false: the engine could not start.
    virtual bool playAddress(const QString &mmstAddress) = 0;
    virtual void stop() = 0;
    virtual bool canPause() const = 0;
    virtual void setPaused(bool paused) = 0;
    virtual void setVolume(int volume) = 0; // 0 to 100
    virtual void setMuted(bool muted) = 0;
    virtual void seek(double fraction) = 0;
    virtual void setVideoWindow(WId window) = 0;
    // A file (it has a length or can seek) rather than a broadcast.
    virtual bool isFile() const = 0;
    // How far into what it was given it has played, in milliseconds; -1: not known.
    virtual qint64 playedMs() const { return -1; }
    // Of a live stream whose audio the buffer's meter counts: how much of that audio has been
    // heard, on the meter's count (StreamSource::titleAudioMs places titles on it); -1: not known.
    virtual qint64 heardAudioMs() const { return -1; }
    // See MediaBackend::setEvenLoudness.
    virtual void setEvenLoudness(bool on) { Q_UNUSED(on); }

signals:
    void soundStarted();   // the first audio has reached an audio output
    void noSoundDevice();  // audio is decoded but no output takes it
    void starved();        // the sound stopped: the stream's data is late; the engine waits for it
    void fed();            // after starved(): the sound goes on
    void cushionChanged(int ms); // audio received and not yet heard, of a live stream
    void paused();
    void resumed();
    void ended();          // the end of what it was given
    void failed();         // it could not open or decode what it was given
    void positionChanged(double fraction);
    void seekableChanged(bool seekable);
    void videoChanged(bool hasVideo);
};

} // namespace lumora
