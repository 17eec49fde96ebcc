#include "vlc_capture.h"

#include <cmath>
#include <vlc/vlc.h>

namespace lumora::test {

VlcInstance::VlcInstance()
{
    const char *args[] = {"--no-video", "--network-caching=300", "--no-stats", "--quiet"};
    m_instance = libvlc_new(int(std::size(args)), args);
}

VlcInstance::~VlcInstance()
{
    if (m_instance)
        libvlc_release(m_instance);
}

VlcCapture::VlcCapture(VlcInstance &vlc, const QString &address)
{
    m_player = libvlc_media_player_new(vlc.get());
    m_audio = std::make_unique<AudioCapture>(m_player, kRate);
    m_listPlayer = libvlc_media_list_player_new(vlc.get());
    libvlc_media_list_player_set_media_player(m_listPlayer, m_player);
    m_list = libvlc_media_list_new(vlc.get());
    libvlc_media_t *media = libvlc_media_new_location(vlc.get(), address.toUtf8().constData());
    libvlc_media_list_add_media(m_list, media);
    libvlc_media_release(media);
    libvlc_media_list_player_set_media_list(m_listPlayer, m_list);
}

VlcCapture::~VlcCapture()
{
    stop();
    libvlc_media_list_player_release(m_listPlayer);
    libvlc_media_list_release(m_list);
    libvlc_media_player_release(m_player);
}

void VlcCapture::play()
{
    libvlc_media_list_player_play(m_listPlayer);
}

void VlcCapture::stop()
{
    libvlc_media_list_player_stop(m_listPlayer);
}

qint64 VlcCapture::capturedMs() const
{
    return std::llround(m_audio->seconds() * 1000);
}

double VlcCapture::dominantHz(qint64 skipMs, double lo, double hi) const
{
    return AudioCapture::dominantFrequency(m_audio->samples().mid(skipMs * kRate / 1000), lo, hi, kRate);
}

} // namespace lumora::test
