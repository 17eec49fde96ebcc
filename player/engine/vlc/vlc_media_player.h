#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

struct libvlc_media_player_t;
struct libvlc_media_t;
struct libvlc_event_t;

namespace lumora {

class AudioSink;
class PipeFeed;
class StreamBuffer;
class VlcInstance;
class VlcWorker;

// One libVLC media player and the media it plays, with libVLC's events delivered as Qt
// signals on the GUI thread.
//
// libVLC raises events on its own threads. The callback only copies the event and queues it
// to this object; it never calls libVLC. Each event carries the number of the media it
// belongs to, so an event of a media that was stopped meanwhile is dropped on arrival. The
// destructor detaches every callback first; libVLC detaches under the same lock it calls
// callbacks under, so none can be running or start afterwards, and Qt drops events queued to
// a destroyed object.
class VlcMediaPlayer : public QObject {
    Q_OBJECT
public:
    // Throws lumora::PlayerFailure when libVLC cannot make a media player.
    explicit VlcMediaPlayer(std::shared_ptr<VlcInstance> instance, QObject *parent = nullptr);
    ~VlcMediaPlayer() override;

    // Starts playing mrl (wire form) with the given media options (":name=value"). Only MMS
    // over TCP (mmst://) is opened this way: every other stream comes through playBuffer().
    bool play(const QString &mrl, const QStringList &options);
    // Starts demuxing and decoding what Lumora's own connection writes into buffer. libVLC
    // gets no address: it cannot fetch anything again, follow a redirect or open anything
    // else. A file (it can seek) is read through libVLC's media callbacks; a live stream
    // through a pipe, so that libVLC gathers marginMs of audio before it plays and keeps that
    // much between its clock and the data.
    bool playBuffer(std::shared_ptr<StreamBuffer> buffer, const QStringList &options, int marginMs);
    // Stops what plays. Returns at once: libVLC's stop, which waits for its input thread, and
    // the release of the media run on the player's worker thread, in order with what follows.
    void stop();
    // A live stream from playBuffer() stopped in libVLC and started afresh, from the same
    // buffer: suspendLive() stops libVLC and keeps the stream from fromOffset (its bytes since
    // the start) to be read again; resumeLive() starts it with a new media. A fresh start
    // has no timing correction of libVLC's audio output to carry over.
    bool suspendLive(qint64 fromOffset); // false: not a live stream through a pipe
    bool resumeLive(const QStringList &options, int marginMs);
    // Before that, drainLive() stops the copying where it has got to: libVLC plays what it
    // was given and waits for more. What it was given of the stream ends at liveBytesFed()
    // (bytes since the start; -1: unknown).
    bool drainLive(); // false: not a live stream through a pipe
    qint64 liveBytesFed() const;
    void setPause(bool pause);
    void setPosition(double fraction);
    void setVolume(int volume);
    void setMuted(bool muted);
    void setRate(double rate);
    double rate() const; // the speed libVLC plays this player's media at, the next one's too
    void keepAspect(); // the picture fitted into the window with the source's aspect
    // libVLC's compressor on this player's sound (see VlcInstance::defaultArguments).
    void setEvenLoudness(bool on);
    void setVideoWindow(quint32 xid);
    void setAudioDelay(qint64 microseconds); // of the media playing now
    // All audio from the next media on goes to sink (S16 mono at AudioSink::kRate) instead
    // of a sound device.
    void divertAudio(AudioSink &sink);

    bool isSeekable() const;
    bool canPause() const;
    qint64 lengthMs() const;             // 0 when unknown, as for a live stream
    qint64 timeMs() const;               // where playback is in the media; -1 unknown

    // Audio of the current media so far: blocks decoded, and blocks an audio output played.
    struct AudioCounts {
        int decoded = 0;
        int played = 0;
    };
    AudioCounts audioCounts() const;

signals:
    void opening();
    void buffering(float percent);
    void playing();
    void paused();
    void endReached();
    void encounteredError();
    void positionChanged(float fraction);
    void seekableChanged(bool seekable);
    void voutChanged(int count);
    void audioVolumeChanged(float volume); // 1.0: full
    void audioMutedChanged(bool muted);

private:
    struct Event {
        int type = 0;
        float number = 0;
        qint64 integer = 0;
    };
    static void onEvent(const libvlc_event_t *event, void *self);
    void deliver(quint64 generation, const Event &event);
    void attachPlayerEvents(bool attach);
    // Takes media as the current one, with options, and starts it; false if there is none.
    bool start(libvlc_media_t *media, const QStringList &options);
    // Runs on the worker: libVLC's stop, then what the stopped media held is let go.
    void retire();

    std::shared_ptr<VlcInstance> m_instance;
    libvlc_media_player_t *m_player = nullptr;
    libvlc_media_t *m_media = nullptr;
    // The buffer the current media reads; kept until libVLC's input thread has ended.
    std::shared_ptr<StreamBuffer> m_buffer;
    std::shared_ptr<PipeFeed> m_feed; // a live stream's pipe; kept until libVLC has stopped
    std::unique_ptr<VlcWorker> m_worker;
    AudioSink *m_sink = nullptr;          // see divertAudio
    // The media started last runs in libVLC (what was stopped before has stopped): the sink
    // takes its audio, and calls that wait on libVLC's input are made.
    std::atomic<bool> m_running{false};
    std::atomic<quint64> m_generation{0};
    // Whether the current media can seek or has a length. A live stream has neither: its
    // position means nothing, and its position events are not passed on, which spares the
    // GUI thread a wake-up for each of them (several a second for every playing page).
    std::atomic<bool> m_seekable{false};
    std::atomic<bool> m_hasLength{false};
    std::atomic<bool> m_liveBuffer{false}; // the current media is a live stream from a buffer
};

} // namespace lumora
