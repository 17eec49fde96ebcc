#pragma once

#include <QtGlobal>

#include <array>

namespace lumora {

// How much audio a live stream holds between its arrival and the listener's ears, and what to
// do about it. It decides only; the engine measures and acts.
//
// - The cushion is the audio received and not yet heard. It grows to a target: from the
//   server's burst where there is one, otherwise by playing kSlowRate of normal speed (pitch
//   kept) while it is short, which a listener does not hear.
// - When it runs low (the data is late), playback is held (the engine pauses libVLC, whose
//   clock then stops with it) until the cushion is back to resumeMs(), and the target grows
//   by kTargetStepMs: one wait to a larger cushion, never many small ones.
// - Where libVLC holds and restarts by itself (its clock found the data too late), the engine
//   reports it through holdStarted()/holdEnded() and the target grows the same way.
// - The speed changes only while libVLC's audio output is settled: kSettleMs after the first
//   update (the first sound), kResettleMs after a hold or libVLC's restart, never during one.
//   The output corrects its timing after every start, restart and change of speed (about
//   50 ms, taken up by resampling over 8 to 10 s); a change on top of that, or a paused
//   player's, is heard as a gap when it plays again.
class CushionKeeper {
public:
    static constexpr int kTargetMs = 3000;
    static constexpr int kMaxTargetMs = 10000;
    static constexpr int kTargetStepMs = 2000;
    // Below this, the sound is about to stop: hold now, rather than let libVLC run dry.
    static constexpr int kLowMs = 250;
    // libVLC's demuxer takes a stream in blocks of about this many bytes and waits for a
    // whole one: on a thin stream a block is a good part of a second, which is audio libVLC
    // cannot reach yet although it has arrived.
    static constexpr int kReadBlockBytes = 2048;
    static constexpr int kMaxLowMs = 1500;
    // The engine calls update() this often; the cushion's trend is taken over kTrendUpdates.
    static constexpr int kUpdateMs = 100;
    static constexpr int kTrendUpdates = 20;
    // The cushion is falling when it lost this much over the trend's span; data trickles when
    // at least this much audio came meanwhile.
    static constexpr int kFallingMs = 100;
    // After a hold, play again once this much is in (or the target, if smaller).
    static constexpr int kResumeMs = 1500;
    static constexpr double kSlowRate = 0.97;
    static constexpr int kSettleMs = 3000;
    static constexpr int kResettleMs = 10000;

    struct Decision {
        bool hold = false;
        bool release = false;
        double rate = 1.0; // the speed to play at now
    };

    // receivedMs: audio received so far; heardMs: where playback is. Both of one stream.
    Decision update(qint64 receivedMs, qint64 heardMs);
    // The hold plays on with libVLC started afresh at normal speed, whose output settles as at
    // a first start: kSettleMs after the first update that follows the hold's end.
    void restartAtNormalSpeed();
    // libVLC stopped and restarted its clock by itself.
    void holdStarted();
    void holdEnded();
    // The stream's bytes per second of audio, once known: while the data trickles (it comes,
    // but slower than it plays) the low mark then covers libVLC's read block at that rate.
    // While nothing comes at all, the plain mark holds: the block's wait changes nothing then.
    // A cushion that is short but steady or growing, as at the start of a stream without a
    // burst, is not held for it: its blocks come whole in time.
    void setBytesPerSecond(double bytesPerSecond);

    qint64 cushionMs() const { return m_cushionMs; }
    int targetMs() const { return m_targetMs; }
    bool holding() const { return m_holding; }
    int lowMs() const { return m_lowMs; }
    int resumeMs() const
    {
        return qMax(m_lowMs + kResumeMs - kLowMs, qMin(m_targetMs, kResumeMs + (m_targetMs - kTargetMs) / 2));
    }

private:
    void grow();

    qint64 m_cushionMs = 0;
    int m_targetMs = kTargetMs;
    int m_lowMs = kLowMs;
    bool m_holding = false;
    bool m_libvlcHolds = false; // the hold is libVLC's own: it ends when libVLC says so
    bool m_slow = false;
    bool m_restarted = false;
    qint64 m_lastReceivedMs = -1;
    int m_settleUpdates = kSettleMs / kUpdateMs; // until the speed may change
    struct Sample {
        qint64 cushionMs = 0;
        qint64 receivedMs = 0;
    };
    std::array<Sample, kTrendUpdates> m_trend{}; // the last updates, oldest first
    int m_trendCount = 0;
};

} // namespace lumora
