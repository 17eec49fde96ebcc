#pragma once

#include "player/engine/cushion_keeper.h"
#include "player/engine/decode_engine.h"

#include <QElapsedTimer>
#include <QTimer>
#include <memory>

namespace lumora {

class AudioSink;
class VlcInstance;
class VlcMediaPlayer;

// libVLC as the decoder: it demuxes, decodes and plays what it is given, and says when sound
// really reaches an audio output (libVLC's own "playing" comes before any sound, and also when
// there is no audio output at all). The policy of what to play and when to give up is not here.
class VlcEngine : public DecodeEngine {
    Q_OBJECT
public:
    // Throws lumora::PlayerFailure (saying what to install) when libVLC is missing or broken.
    explicit VlcEngine(QObject *parent = nullptr);
    ~VlcEngine() override;

    void configure(const PlayerSettings &settings) override;
    bool playBuffer(std::shared_ptr<StreamBuffer> buffer, const QString &container) override;
    bool playAddress(const QString &mmstAddress) override;
    void stop() override;
    bool canPause() const override;
    void setPaused(bool paused) override;
    void setVolume(int volume) override;
    void setMuted(bool muted) override;
    void seek(double fraction) override;
    void setVideoWindow(WId window) override;
    bool isFile() const override;
    qint64 playedMs() const override;
    qint64 heardAudioMs() const override;
    void setEvenLoudness(bool on) override;

    // See VlcBackend::divertAudio.
    void divertAudio(AudioSink &sink);
    // The speed libVLC plays at now (a live stream short of its cushion plays slower).
    double speed() const;

    // Network caching for MMS over TCP, the one stream libVLC fetches itself. Internet radio
    // comes from distant servers over paths with jitter; libVLC's default of one second rides
    // that out. Live streams on Lumora's own connections start once libVLC holds
    // kStartMarginMs of audio, then keep a cushion (see CushionKeeper).
    static constexpr int kNetworkCachingMs = 1000;
    static constexpr int kStartMarginMs = 300;
    // Started afresh after a hold, libVLC has its cushion in hand at once: a larger margin
    // costs no time, and an output that comes up late on a busy machine then drops nothing.
    static constexpr int kRestartMarginMs = 1000;
    // A live MP3 or AAC stream is handed to libVLC once this much of its audio has come. A
    // server's connect burst gives it at once. A stream without one comes as fast as it plays,
    // so what is in hand at the start is the whole margin against a link that holds data back
    // for a moment, and libVLC's demuxer waits for whole read blocks on top of it.
    static constexpr int kStartAudioMs = 800;
    // ... or once this long has passed, whatever has come; a stream whose format the meter
    // has not made out in this many bytes is not waited for.
    static constexpr int kStartWaitMaxMs = 3000;
    static constexpr int kStartProbeBytes = 4 * 1024;
    // A live Ogg stream whose pages come seconds apart is stamped by each page's end: its
    // audio is held back by a page and this much more.
    static constexpr int kPageMarginMs = 500;
    static constexpr int kCushionTickMs = CushionKeeper::kUpdateMs;
    // Ogg pages longer than this are left to libVLC's margin alone (see keepCushion).
    static constexpr int kSparsePageMs = 1000;
    // The stream's byte rate is taken once this much audio has come (a burst counts too).
    static constexpr int kRateKnownAfterMs = 1000;
    // libVLC's time jumps within this long after a change of speed (seen 0.2 s after it).
    static constexpr int kTimeJumpMs = 1000;
    // A hold that starts libVLC afresh lets it play out what it has, for the cushion's audio
    // and this long: a busy machine's sound server runs up to 0.4 s behind the wall clock.
    static constexpr int kPlayOutSlackMs = 600;
    // ... and it starts again this many frames before the first one libVLC did not have.
    static constexpr int kLeadFrames = 2;
    // Decoded audio that no output has taken for this long means there is no sound device.
    static constexpr int kNoSoundAfterMs = 1500;

private:
    QStringList mediaOptions() const;
    void started();
    void checkSound();
    void finish(bool failed);
    bool startLive(const QStringList &options, const QString &container);
    bool hasStartAudio() const;
    bool launchLive();
    void keepCushion();
    qint64 heardMs() const;
    void foldHeard();
    void foldHeard(qint64 heard);
    void libvlcBuffering(float percent);
    void showCushion(qint64 ms);
    void tellHeld(); // starved() or fed() when the hold changed
    bool suspendLive();
    void playedOut();
    void restartLive();
    void giveVolume();
    void resumeLive();
    static constexpr int kEndChecks = 8;

    std::shared_ptr<VlcInstance> m_instance;
    std::unique_ptr<VlcMediaPlayer> m_player;
    QTimer m_soundCheck;
    QElapsedTimer m_decodedFor; // since audio was first decoded without being played
    quint64 m_generation = 0;   // counts the media played and stopped
    int m_endChecks = 0;
    bool m_soundReached = false;
    bool m_noSoundTold = false;
    bool m_libvlcPaused = false;
    bool m_hasWindow = false;
    int m_volume = 50;
    bool m_volumeSettled = false;
    bool m_muted = false;
    int m_playCount = 1;

    // A live stream's cushion: what it received (its buffer's meter) against what was heard.
    std::shared_ptr<StreamBuffer> m_live;
    CushionKeeper m_keeper;
    QTimer m_cushionTimer;
    QTimer m_pageWait;           // a live Ogg stream's page spacing, watched until the first sound
    QTimer m_startWait;          // a live stream's first audio, gathered before libVLC starts
    QElapsedTimer m_startWaitFor;
    QStringList m_liveOptions; // the live stream's media options, for when it starts
    QString m_liveContainer;
    QElapsedTimer m_sinceTime;   // since libVLC's time last moved (or was folded in)
    QElapsedTimer m_sinceRateChange;
    qint64 m_heardMs = 0;        // heard up to m_sinceTime
    qint64 m_lastTimeMs = -1;    // libVLC's time when last seen; -1: take it afresh
    double m_rate = 1.0;
    double m_normalRate = 1.0;   // the speed the settings ask for
    bool m_holding = false;      // libVLC is paused while the cushion fills
    bool m_suspended = false;    // ... or given no more, to be started afresh
    bool m_playedOut = false;    // ... and it has played out what it had
    bool m_restartWanted = false; // ... and the cushion is back
    QTimer m_playOutWait;
    int m_playOutMs = 0;
    qint64 m_heardAtHoldMs = 0;
    qint64 m_playedAtHoldMs = 0;
    bool m_restarting = false;   // started afresh after a hold, and not heard yet
    qint64 m_playedBeforeMs = 0; // libVLC's time before it was started afresh
    bool m_userPaused = false;
    bool m_starved = false;
    int m_cushionShownMs = -1;
    int m_audioDelayMs = 0; // a sparse Ogg stream's audio, held back behind libVLC's clock
};

} // namespace lumora
