#pragma once

#include "playback_policy.h"
#include "stream_resolver.h"
#include "vlc_engine.h"

struct libvlc_media_player_t;

namespace lumora {

// The player's engine as the program assembles it: the playback policy with libVLC as the
// decoder, Lumora's own connections (StreamResolver) as the opener and the system clock.
class VlcBackend : public PlaybackPolicy {
    Q_OBJECT
public:
    // Throws lumora::PlayerFailure (saying what to install) when libVLC is missing or broken.
    explicit VlcBackend(QObject *parent = nullptr);
    ~VlcBackend() override;

    // For tests and tools: the libVLC player (e.g. for audio callbacks) and the resolver.
    libvlc_media_player_t *nativePlayer() const;
    StreamResolver &resolver() const;
};

} // namespace lumora
