#pragma once

#include "decode_engine.h"

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
    void setAudioMargin(int ms) override;
    bool isFile() const override;

    // See VlcBackend::divertAudio.
    void divertAudio(AudioSink &sink);

    // Network caching for MMS over TCP, the one stream libVLC fetches itself. Internet radio
    // comes from distant servers over paths with jitter; libVLC's default of one second rides
    // that out. Streams on Lumora's own connections are buffered by Lumora and start as soon
    // as libVLC can decode them (libVLC then keeps a fixed 300 ms for its clock).
    static constexpr int kNetworkCachingMs = 1000;
    // Decoded audio that no output has taken for this long means there is no sound device.
    static constexpr int kNoSoundAfterMs = 1500;

private:
    QStringList mediaOptions() const;
    void started();
    void checkSound();
    void finish(bool failed);
    static constexpr int kEndChecks = 8;

    std::shared_ptr<VlcInstance> m_instance;
    std::unique_ptr<VlcMediaPlayer> m_player;
    QTimer m_soundCheck;
    QElapsedTimer m_decodedFor; // since audio was first decoded without being played
    quint64 m_generation = 0;   // counts the media played and stopped
    int m_endChecks = 0;
    int m_audioMarginMs = 0;
    bool m_soundReached = false;
    bool m_noSoundTold = false;
    bool m_libvlcPaused = false;
    bool m_hasWindow = false;
    int m_volume = 50;
    bool m_volumeSettled = false;
    bool m_muted = false;
    int m_playCount = 1;
};

} // namespace lumora
