#pragma once

#include "decode_engine.h"
#include "player/common/media_backend.h"
#include "player/net/stream_opener.h"
#include "policy_clock.h"

#include <QString>
#include <array>
#include <memory>

namespace lumora {

// What a station's player does between an address and sound, and when it gives up:
//
// - Opening: the opener finds the entries behind the address one after another; each stream
//   found goes to the engine. An entry that the engine cannot play, or that brings no sound
//   within kEntryTimeoutMs, makes way for the next one. When none is left, or no sound has come
//   within kOpenBudgetMs for all of them together, the status is CannotOpen, with the reason.
// - Playing is said only once sound has reached an audio output; decoded audio that no
//   output takes is NoSoundDevice. Before that, Buffering counts the bytes of Lumora's own
//   buffer towards about a second of audio. When the sound stops because the stream's data is
//   late (the engine waits for it), the state is Waiting, with the seconds, until it plays
//   again; the cushion the engine holds goes with Playing and Waiting.
// - A live stream whose source makes its connection again by itself (HTTP) is lost when
//   that source gives up; the policy adds no tries of its own.
// - Any other live stream that breaks off is rejoined after kRejoinPausesMs (1, 2, 4 s): each try is
//   a new connection and counts, however soon it broke again; after the last the status is
//   Lost. Only a stream that then played for kSteadyPlayMs earns its tries back, so a server
//   that keeps dropping its listeners sees a handful of requests a minute, never a storm.
// - A file (it has a length) that ends is over: it plays once. So is a stream of known
//   duration whose source starts it again elsewhere (a finished HLS playlist): a seek
//   restarts the source there and the engine on its new buffer, and the position is the
//   source's start there and what the engine has played since.
// - Stream titles are passed on at most every kTitleIntervalMs. A live stream's title comes
//   with the audio that follows it, which is heard a cushion later (seconds): where the
//   source places it in that audio and the engine says how much has been heard, it is shown
//   when its audio is, not ahead of its song. A stream's first title names what already plays.
//
// Nothing of this is an error of open(): it returns at once, and a station that cannot be
// played only shows in the status.
class PlaybackPolicy : public MediaBackend {
    Q_OBJECT
public:
    static constexpr std::array<int, 3> kRejoinPausesMs = {1000, 2000, 4000};
    static constexpr int kSteadyPlayMs = 30000;
    static constexpr int kOpenBudgetMs = 12000;
    static constexpr int kEntryTimeoutMs = 8000;
    static constexpr int kTitleIntervalMs = 300;
    // How often titles waiting for their audio look whether it is heard, and how many wait
    // at most (titles closer together than kTitleIntervalMs of audio wait as one).
    static constexpr int kHeardTitleCheckMs = 100;
    static constexpr qsizetype kMaxWaitingTitles = 64;
    static constexpr int kProgressIntervalMs = 200;
    static constexpr int kPositionIntervalMs = 250;
    // Buffering counts towards this many bytes: about a second of a 128 kbit/s stream.
    static constexpr qint64 kStartBytes = 16000;
    // A stream whose audio comes this far apart or more is given that much margin and more time.
    static constexpr int kSparseSpacingMs = 250;
    static constexpr int kSparseMarginMs = 500;

    PlaybackPolicy(std::unique_ptr<DecodeEngine> engine, std::unique_ptr<StreamOpener> opener,
                   std::unique_ptr<PolicyClock> clock, QObject *parent = nullptr);
    ~PlaybackPolicy() override;

    void configure(const PlayerSettings &settings) override;
    void stop() override;
    void open(const QString &address) override;
    void pause() override;
    void resume() override;
    void setVolume(int volume) override;
    void setMuted(bool muted) override;
    void seek(double fraction) override;
    void setVideoWindow(WId window) override;
    void setStreamTap(StreamTap *tap) override;
    void setEvenLoudness(bool on) override { m_engine->setEvenLoudness(on); }

    DecodeEngine &engine() const { return *m_engine; }
    StreamOpener &opener() const { return *m_opener; }

private:
    void onFound(const QString &address);
    void onOpenerFailed(const QString &reason);
    void onSound();
    void onEngineEnded();
    void onEngineFailed();
    void onSourceEnded(OpenFailure failure, const QString &reason);
    void onTitle(const QString &title);
    void showTitle(const QString &title); // now, or within kTitleIntervalMs of the last one
    void showHeardTitles();
    void onSpacing(int ms);
    void onStarved();
    void onFed();
    void showWaiting();

    void tapSource();   // tells the tap of m_source and hands it the bytes
    void untapSource(); // and that it ended: with the source, or a new tap
    void applyTitle();
    void showProgress();
    bool sourceHasDuration() const;
    void restartSource(double fraction);
    void showPosition();
    void entryFailed(const char *why);
    void dropEntry();
    void streamBroke(const char *why);
    void rejoin();
    void openBudgetSpent();
    bool isLive() const;
    void setState(PlaybackState state, int percent = 0, int attempt = 0);
    void publish();

    std::unique_ptr<DecodeEngine> m_engine;
    std::unique_ptr<StreamOpener> m_opener;
    std::unique_ptr<PolicyClock> m_clock;
    std::unique_ptr<PolicyTimer> m_entryTimer;    // sound from the current entry
    std::unique_ptr<PolicyTimer> m_openBudget;    // sound from all entries, or one rejoin
    std::unique_ptr<PolicyTimer> m_rejoinTimer;
    std::unique_ptr<PolicyTimer> m_titleTimer;
    std::unique_ptr<PolicyTimer> m_heardTitleTimer; // titles waiting for their audio
    std::unique_ptr<PolicyTimer> m_progressTimer;
    std::unique_ptr<PolicyTimer> m_waitTimer;     // the seconds of a wait for late data
    std::unique_ptr<PolicyTimer> m_positionTimer; // a source of known duration: where it plays
    const int m_entryTimeoutMs = kEntryTimeoutMs;
    const int m_openBudgetMs = kOpenBudgetMs;

    std::unique_ptr<StreamSource> m_source;       // the stream the engine reads, if Lumora's
    StreamTap *m_tap = nullptr;
    bool m_tapped = false;    // the tap was told that m_source began
    QString m_entry;          // the address the engine plays
    QString m_rejoinAddress;  // the live stream that broke off
    int m_rejoinTries = 0;    // tries to rejoin since it last played steadily
    bool m_rejoining = false; // the current entry is a try to rejoin
    bool m_sound = false;     // the current entry has reached an audio output
    bool m_noSound = false;   // the current entry is decoded but not heard
    qint64 m_soundSince = 0;
    qint64 m_waitingSince = -1; // the sound stopped for late data then; -1: it plays
    struct Redial {
        bool active = false; // the source is making its connection again
        int attempt = 0;
        qint64 nextAtMs = -1; // when its next try starts; -1: one is under way
        bool networkDown = false;
    } m_redial;
    bool m_sourceRetries = false; // the current source has made its connection again by itself
    bool m_sourceSeeks = false;   // the current source has a duration and seeks itself
    int m_spacingMs = 0;      // how far apart the current stream's pieces of audio come
    OpenFailure m_breakFailure = OpenFailure::None;
    QString m_pendingTitle;
    struct WaitingTitle {
        qint64 audioMs; // where its audio begins (StreamSource::titleAudioMs)
        QString title;
    };
    QList<WaitingTitle> m_waitingTitles; // oldest first
    bool m_entryTitled = false;          // the current entry has sent a title
    qint64 m_titleShownAt = -1;
    PlayerStatus m_status;
};

} // namespace lumora
