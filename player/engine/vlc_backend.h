#pragma once

#include "audio_sink.h"
#include "playback_policy.h"
#include "player/net/stream_resolver.h"

namespace lumora {

class VlcEngine;

// The player's engine as the program assembles it: the playback policy with libVLC as the
// decoder, Lumora's own connections (StreamResolver) as the opener and the system clock.
class VlcBackend : public PlaybackPolicy {
    Q_OBJECT
public:
    // Throws lumora::PlayerFailure (saying what to install) when libVLC is missing or broken.
    explicit VlcBackend(QObject *parent = nullptr);
    ~VlcBackend() override;

    // Sends the decoded audio to sink instead of the sound device, from the next media on and
    // for the backend's life: sink must outlive the backend.
    void divertAudio(AudioSink &sink);
    StreamResolver &resolver() const;
    // The speed libVLC plays at now (a live stream short of its cushion plays slower).
    double speed() const;
    void setBandwidthLimit(qint64 bitsPerSecond) override;

private:
    VlcEngine &vlc() const;
};

} // namespace lumora
