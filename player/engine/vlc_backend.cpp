#include "vlc_backend.h"

#include "player/engine/vlc/vlc_engine.h"

namespace lumora {

VlcBackend::VlcBackend(QObject *parent)
    : PlaybackPolicy(std::make_unique<VlcEngine>(), std::make_unique<StreamResolver>(), systemClock(), parent)
{
}

VlcBackend::~VlcBackend() = default;

VlcEngine &VlcBackend::vlc() const
{
    return static_cast<VlcEngine &>(engine());
}

void VlcBackend::divertAudio(AudioSink &sink)
{
    vlc().divertAudio(sink);
}

StreamResolver &VlcBackend::resolver() const
{
    return static_cast<StreamResolver &>(opener());
}

double VlcBackend::speed() const
{
    return vlc().speed();
}

void VlcBackend::setBandwidthLimit(qint64 bitsPerSecond)
{
    StreamResolver::Limits limits = resolver().limits();
    limits.hlsMaxBandwidth = qMax<qint64>(0, bitsPerSecond);
    resolver().setLimits(limits);
}

} // namespace lumora
