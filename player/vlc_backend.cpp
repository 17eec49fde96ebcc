#include "vlc_backend.h"

namespace lumora {

VlcBackend::VlcBackend(QObject *parent)
    : PlaybackPolicy(std::make_unique<VlcEngine>(), std::make_unique<StreamResolver>(), systemClock(), parent)
{
}

VlcBackend::~VlcBackend() = default;

libvlc_media_player_t *VlcBackend::nativePlayer() const
{
    return static_cast<VlcEngine &>(engine()).nativePlayer();
}

StreamResolver &VlcBackend::resolver() const
{
    return static_cast<StreamResolver &>(opener());
}

} // namespace lumora
