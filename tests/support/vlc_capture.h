#pragma once

// A libVLC media list player of the test's own (which follows playlists) playing one address,
// its audio captured, for checking what a server sends without the program's player.

#include "audio_capture.h"

#include <QString>
#include <memory>

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
    // Strongest frequency between lo and hi Hz in the captured audio after skipMs.
    double dominantHz(qint64 skipMs = 200, double lo = 200, double hi = 2400) const;

private:
    libvlc_media_player_t *m_player = nullptr;
    libvlc_media_list_player_t *m_listPlayer = nullptr;
    libvlc_media_list_t *m_list = nullptr;
    std::unique_ptr<AudioCapture> m_audio;
};

} // namespace lumora::test
