#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <mutex>
#include <vector>

struct libvlc_instance_t;
struct libvlc_media_player_t;
struct libvlc_media_list_player_t;
struct libvlc_media_list_t;

namespace lumora::test {

// One libVLC instance for a test program, with the options playback tests use.
class VlcInstance {
public:
    VlcInstance();
    ~VlcInstance();
    VlcInstance(const VlcInstance &) = delete;
    VlcInstance &operator=(const VlcInstance &) = delete;
    libvlc_instance_t *get() const { return m_instance; }

private:
    libvlc_instance_t *m_instance = nullptr;
};

// Plays one address through a libVLC media list player (which follows playlists) and keeps
// the decoded audio, mono 16-bit at kRate, through the amem callbacks.
class VlcCapture {
public:
    static constexpr int kRate = 22050;

    VlcCapture(VlcInstance &vlc, const QString &address);
    ~VlcCapture();
    VlcCapture(const VlcCapture &) = delete;
    VlcCapture &operator=(const VlcCapture &) = delete;

    void play();
    void stop();
    // Milliseconds of audio captured so far.
    qint64 capturedMs() const;
    // The captured samples, skipping the first skipMs.
    std::vector<qint16> samples(qint64 skipMs = 0) const;
    // Strongest frequency between lo and hi Hz in the captured audio after skipMs.
    double dominantHz(qint64 skipMs = 200, double lo = 200, double hi = 2400) const;

private:
    static void onPlay(void *data, const void *samples, unsigned count, int64_t pts);

    libvlc_media_player_t *m_player = nullptr;
    libvlc_media_list_player_t *m_listPlayer = nullptr;
    libvlc_media_list_t *m_list = nullptr;
    mutable std::mutex m_mutex;
    std::vector<qint16> m_samples;
};

// Peak of the spectrum between lo and hi Hz (1 Hz steps, Hann window, Goertzel).
double dominantFrequency(const std::vector<qint16> &samples, int rate, double lo, double hi);

} // namespace lumora::test
