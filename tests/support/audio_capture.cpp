#include "audio_capture.h"

#include "player/engine/vlc_backend.h"

#include <QtMath>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>
#include <vlc/vlc.h>

namespace lumora::test {

AudioCapture::AudioCapture(VlcBackend &backend, QObject *parent) : QObject(parent), m_rate(kRate)
{
    backend.divertAudio(*this);
}

AudioCapture::AudioCapture(libvlc_media_player_t *player, int rate, QObject *parent) : QObject(parent), m_rate(rate)
{
    libvlc_audio_set_callbacks(player, &AudioCapture::onPlay, nullptr, nullptr, nullptr, nullptr, this);
    libvlc_audio_set_format(player, "S16N", unsigned(m_rate), 1);
}

void AudioCapture::onPlay(void *data, const void *samples, unsigned count, int64_t)
{
    static_cast<AudioCapture *>(data)->takeSamples(static_cast<const qint16 *>(samples), count);
}

void AudioCapture::takeSamples(const qint16 *p, qsizetype count)
{
    qint64 none = 0;
    m_firstNs.compare_exchange_strong(
        none, std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    QMutexLocker lock(&m_mutex);
    m_samples.append(QVector<qint16>(p, p + count));
    m_sinceClear += count;
    m_total += count;
    if (m_keep > 0 && m_samples.size() > 2 * m_keep)
        m_samples.remove(0, m_samples.size() - m_keep);
}

void AudioCapture::keepOnly(int ms)
{
    QMutexLocker lock(&m_mutex);
    m_keep = qsizetype(ms) * m_rate / 1000;
}

void AudioCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_samples.clear();
    m_sinceClear = 0;
    m_firstNs = 0;
}

double AudioCapture::seconds() const
{
    QMutexLocker lock(&m_mutex);
    return double(m_sinceClear) / m_rate;
}

qint64 AudioCapture::totalSamples() const
{
    QMutexLocker lock(&m_mutex);
    return m_total;
}

QVector<qint16> AudioCapture::samples() const
{
    QMutexLocker lock(&m_mutex);
    return m_samples;
}

QVector<qint16> AudioCapture::recent(int ms) const
{
    QMutexLocker lock(&m_mutex);
    const qsizetype n = qMin<qsizetype>(m_samples.size(), qsizetype(ms) * m_rate / 1000);
    return m_samples.mid(m_samples.size() - n);
}

bool AudioCapture::hears(int hz) const
{
    const QVector<qint16> s = recent(1000);
    return s.size() >= m_rate * 9 / 10 && qAbs(frequency(s, m_rate) - hz) < 4 && level(s) > 0.01;
}

QString AudioCapture::describe() const
{
    const QVector<qint16> s = recent(1000);
    return QStringLiteral("%1 s heard, last second %2 Hz at level %3")
        .arg(totalSeconds(), 0, 'f', 2)
        .arg(frequency(s, m_rate), 0, 'f', 1)
        .arg(level(s), 0, 'f', 3);
}

double AudioCapture::frequency(const QVector<qint16> &s, int rate)
{
    int peak = 0;
    for (qint16 v : s)
        peak = qMax(peak, qAbs(int(v)));
    const int threshold = qMax(100, peak / 3);
    // The periods between rising crossings. A gap in the sound (a busy machine's output
    // running late) is one long period, not a lower tone: periods half as long again as the
    // median are left out, and the rest are averaged for a tone finer than a whole sample.
    QList<qsizetype> periods;
    qsizetype last = -1;
    bool low = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] < -threshold) {
            low = true;
        } else if (low && s[i] > threshold) {
            low = false;
            if (last >= 0)
                periods << i - last;
            last = i;
        }
    }
    if (periods.size() < 2)
        return 0;
    QList<qsizetype> sorted = periods;
    std::sort(sorted.begin(), sorted.end());
    const double median = double(sorted[sorted.size() / 2]);
    double sum = 0;
    int count = 0;
    for (qsizetype p : std::as_const(periods))
        if (p < median * 1.5) {
            sum += double(p);
            ++count;
        }
    return count < 2 ? 0 : count * double(rate) / sum;
}

double AudioCapture::strength(const QVector<qint16> &s, double hz, int rate)
{
    if (s.isEmpty())
        return 0;
    const double coeff = 2 * std::cos(2 * M_PI * hz / rate);
    double q1 = 0, q2 = 0;
    for (qint16 v : s) {
        const double q0 = coeff * q1 - q2 + v / 32768.0;
        q2 = q1;
        q1 = q0;
    }
    const double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
    return std::sqrt(power) / s.size();
}

double AudioCapture::level(const QVector<qint16> &s)
{
    if (s.isEmpty())
        return 0;
    double sum = 0;
    for (qint16 v : s)
        sum += double(v) * v;
    return std::sqrt(sum / s.size()) / 32768.0;
}

double AudioCapture::dominantFrequency(const QVector<qint16> &samples, double lo, double hi, int rate)
{
    const qsizetype n = qMin<qsizetype>(samples.size(), rate); // at most one second
    if (n < rate / 10)
        return 0;
    std::vector<double> x(static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i)
        x[size_t(i)] = samples[i] * (0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n - 1)));
    double bestHz = 0, bestPower = -1;
    for (double f = lo; f <= hi; f += 1.0) {
        const double c = 2 * std::cos(2 * M_PI * f / rate);
        double s1 = 0, s2 = 0;
        for (double v : x) {
            const double s0 = v + c * s1 - s2;
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
