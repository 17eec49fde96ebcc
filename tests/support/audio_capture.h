#pragma once

// The audio one player decodes, captured instead of going to a sound device (mono, 16-bit),
// and what it holds: which tone, how loud, how much. A player of the program gives it its
// audio through VlcBackend::divertAudio; a libVLC player of a test's own (the simulator's
// checks) through libVLC's audio callbacks, here and nowhere else.

#include "player/engine/audio_sink.h"

#include <QMutex>
#include <QObject>
#include <QVector>
#include <atomic>

struct libvlc_media_player_t;

namespace lumora {
class VlcBackend;
}

namespace lumora::test {

class AudioCapture : public QObject, public AudioSink {
    Q_OBJECT
public:
    static constexpr int kRate = AudioSink::kRate;

    // Takes the backend's audio; the backend must not play after the capture is gone: as a
    // child of the PlayerControl that owns the backend it outlives it.
    explicit AudioCapture(VlcBackend &backend, QObject *parent = nullptr);
    // The same on a libVLC player of the test's own.
    explicit AudioCapture(libvlc_media_player_t *player, int rate = kRate, QObject *parent = nullptr);

    // Keeps only about the last ms of audio (for long runs); all of it by default.
    void keepOnly(int ms);

    int rate() const { return m_rate; }
    // Forgets the audio so far (not the total) and when the first of it came.
    void clear();
    // Seconds of audio since the last clear.
    double seconds() const;
    // Samples delivered since the capture was installed.
    qint64 totalSamples() const;
    double totalSeconds() const { return double(totalSamples()) / m_rate; }
    // Steady-clock nanoseconds of the first audio since the last clear; 0 before any.
    qint64 firstAudioNs() const { return m_firstNs.load(); }
    // The audio kept since the last clear, and the last ms of it.
    QVector<qint16> samples() const;
    QVector<qint16> recent(int ms) const;

    // The last second holds the tone hz, within 4 Hz (the simulator's tones are 10 Hz apart).
    bool hears(int hz) const;
    // The figures of the last second, for failure messages.
    QString describe() const;

    // Frequency from rising crossings, with hysteresis (a third of the peak) so that
    // near-silence, such as the encoder's padding at either end of a file, does not count,
    // and from the periods near the median, so that a gap in the sound does not count either.
    // Samples at rate per second, by default the captures' own.
    static double frequency(const QVector<qint16> &s, int rate = kRate);
    // Relative strength of one frequency (Goertzel), 0 for silence, about 0.5 for a full tone.
    static double strength(const QVector<qint16> &s, double hz, int rate = kRate);
    // Root mean square of the samples, 0 to 1.
    static double level(const QVector<qint16> &s);
    // Peak of the spectrum between lo and hi Hz (1 Hz steps, Hann window), over at most the
    // first second of s.
    static double dominantFrequency(const QVector<qint16> &s, double lo, double hi, int rate = kRate);

    void takeSamples(const qint16 *samples, qsizetype count) override;

private:
    static void onPlay(void *data, const void *samples, unsigned count, int64_t pts);

    const int m_rate;
    mutable QMutex m_mutex;
    QVector<qint16> m_samples;
    qint64 m_sinceClear = 0;
    qint64 m_total = 0;
    qsizetype m_keep = 0; // 0: everything
    std::atomic<qint64> m_firstNs{0};
};

} // namespace lumora::test
