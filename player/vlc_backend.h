#pragma once

#include "media_backend.h"
#include "stream_resolver.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <array>
#include <memory>

struct libvlc_media_player_t;

namespace lumora {

class VlcInstance;
class VlcMediaPlayer;

// The player's engine: StreamResolver finds a playable address, libVLC plays it.
//
// open() resolves the address; each address found is handed to libVLC. If libVLC reports an
// error, ends without having played, or has not started playing within the open time-out
// (a silent mms server keeps libVLC opening for ever), the next entry is tried. When no
// entry is left, or nothing has played within the open budget (all entries together), the
// status is CannotOpen. Nothing of this is an error of open(): it returns at once, and a
// stream that cannot be played is only shown in the status line.
//
// A live stream that breaks off after it has played is rejoined: the same stream address is
// opened again after a pause, at most kRejoinPausesMs.size() times with growing pauses, and
// the status says Reconnecting meanwhile; when the last try fails too the player stops and
// the status is Lost. A rejoined stream that then plays for kSteadyPlayMs earns its tries
// back. A file (it has a length or can seek) that ends is over: it plays once.
class VlcBackend : public MediaBackend {
    Q_OBJECT
public:
    // Throws lumora::RuntimeError (saying what to install) when libVLC is missing or broken.
    explicit VlcBackend(QObject *parent = nullptr);
    ~VlcBackend() override;

    void configure(const PlayerSettings &settings) override;
    bool stop() override;
    bool open(const QString &address) override;
    void pause() override;
    void resume() override;
    void setVolume(int volume) override;
    void setMuted(bool muted) override;
    void seek(double fraction) override;
    void setVideoWindow(WId window) override;
    QString lastError() const override { return m_lastError; }

    // For tests and tools: the libVLC player (e.g. for audio callbacks) and the resolver.
    libvlc_media_player_t *nativePlayer() const;
    StreamResolver &resolver() { return m_resolver; }
    void setOpenTimeout(int ms) { m_openTimeoutMs = ms; }
    void setOpenBudget(int ms) { m_openBudgetMs = ms; }

    // Pauses before the tries to rejoin a live stream that broke off: a server that drops
    // its listeners for a moment (a restart, a full relay) is back within seconds, and one
    // that is not is given up on after seven seconds rather than hammered.
    static constexpr std::array<int, 3> kRejoinPausesMs = {1000, 2000, 4000};
    static constexpr int kSteadyPlayMs = 30000;
    // From writing the address to the first audio, all entries of a playlist together.
    static constexpr int kOpenBudgetMs = 12000;

    // Network caching for every stream, in milliseconds. Internet radio comes from distant
    // servers over paths with jitter; libVLC's default of one second rides that out without
    // stutter, while smaller values start sooner but break up on a busy link.
    static constexpr int kNetworkCachingMs = 1000;

private:
    void onFound(const QString &address);
    void playCandidate(const QString &address);
    void candidateFailed(const char *why);
    void onBuffering(float percent);
    void onPlaying();
    void onEndReached();
    bool isLiveStream() const;
    void streamBroke(const char *why);
    void rejoin();
    void openBudgetSpent();
    void setState(PlaybackState state, int percent = 0, int attempt = 0);
    void publish();

    std::shared_ptr<VlcInstance> m_instance;
    std::unique_ptr<VlcMediaPlayer> m_player;
    StreamResolver m_resolver;
    QTimer m_openWatchdog;
    int m_openTimeoutMs = 8000;
    QTimer m_openBudget;         // the whole opening, or one try to rejoin
    int m_openBudgetMs = kOpenBudgetMs;
    QTimer m_rejoinTimer;
    QElapsedTimer m_playingFor;  // since the current candidate started playing
    QString m_rejoinAddress;     // the live stream that broke off
    int m_rejoinTries = 0;       // tries to rejoin since it last played steadily
    bool m_rejoining = false;    // the current candidate is a try to rejoin
    QStringList m_subItems;      // entries libVLC found in the current media, not yet tried
    int m_subItemRounds = 0;     // playlists libVLC expanded for one resolver address
    static constexpr int kMaxSubItemRounds = 3;
    QString m_candidate;         // the address libVLC is playing
    PlayerStatus m_status;
    bool m_started = false;      // the current candidate has played (buffer filled)
    bool m_libvlcPlaying = false;
    bool m_hasWindow = false;
    int m_volume = 50;
    bool m_volumeSettled = false; // the audio output has reported m_volume
    bool m_muted = false;
    int m_playCount = 1;
    QString m_lastError;
};

} // namespace lumora
