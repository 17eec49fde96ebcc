#include "vlc_capture.h"

#include <vlc/vlc.h>

#include <cmath>
#include <numbers>

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
    libvlc_audio_set_callbacks(m_player, &VlcCapture::onPlay, nullptr, nullptr, nullptr, nullptr, this);
    libvlc_audio_set_format(m_player, "S16N", kRate, 1);
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

void VlcCapture::onPlay(void *data, const void *samples, unsigned count, int64_t)
{
    auto *self = static_cast<VlcCapture *>(data);
    const auto *s = static_cast<const qint16 *>(samples);
    std::lock_guard lock(self->m_mutex);
    self->m_samples.insert(self->m_samples.end(), s, s + count);
}

qint64 VlcCapture::capturedMs() const
{
    std::lock_guard lock(m_mutex);
    return qint64(m_samples.size()) * 1000 / kRate;
}

std::vector<qint16> VlcCapture::samples(qint64 skipMs) const
{
    std::lock_guard lock(m_mutex);
    const size_t skip = std::min(m_samples.size(), size_t(skipMs * kRate / 1000));
    return {m_samples.begin() + qsizetype(skip), m_samples.end()};
}

double VlcCapture::dominantHz(qint64 skipMs, double lo, double hi) const
{
    return dominantFrequency(samples(skipMs), kRate, lo, hi);
}

double dominantFrequency(const std::vector<qint16> &samples, int rate, double lo, double hi)
{
    const size_t n = std::min<size_t>(samples.size(), size_t(rate)); // at most one second
    if (n < size_t(rate / 10))
        return 0;
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = samples[i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n - 1)));
    double bestHz = 0, bestPower = -1;
    for (double f = lo; f <= hi; f += 1.0) {
        const double w = 2 * std::numbers::pi * f / rate;
        const double c = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (size_t i = 0; i < n; ++i) {
            const double s0 = x[i] + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            bestHz = f;
        }
    }
    return bestHz;
}

} // namespace lumora::test
