#pragma once

// Captures the audio one player's engine decodes, in place of the sound device, and tells
// which tone it holds.

#include <QMutex>
#include <QVector>
#include <QtMath>

#include "vlc_backend.h"

namespace lumora::test {

class AudioTap : public AudioSink {
public:
    // Takes backend's audio; it must outlive the backend.
    explicit AudioTap(VlcBackend &backend) { backend.divertAudio(*this); }

    void takeSamples(const qint16 *samples, qsizetype count) override
    {
        QMutexLocker lock(&m_mutex);
        m_samples.append(QVector<qint16>(samples, samples + count));
    }

    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_samples.clear();
    }
    double seconds() const
    {
        QMutexLocker lock(&m_mutex);
        return double(m_samples.size()) / kRate;
    }
    QVector<qint16> samples() const
    {
        QMutexLocker lock(&m_mutex);
        return m_samples;
    }

    // Frequency from rising crossings, with hysteresis (a third of the peak) so that
    // near-silence, such as the encoder's padding at either end of a file, does not count.
    static double frequency(const QVector<qint16> &s)
    {
        int peak = 0;
        for (qint16 v : s)
            peak = qMax(peak, qAbs(int(v)));
        const int threshold = qMax(100, peak / 3);
        qsizetype first = -1, last = -1;
        int crossings = 0;
        bool low = false;
        for (qsizetype i = 0; i < s.size(); ++i) {
            if (s[i] < -threshold) {
                low = true;
            } else if (low && s[i] > threshold) {
                low = false;
                if (first < 0)
                    first = i;
                else
                    ++crossings;
                last = i;
            }
        }
        if (crossings < 2)
            return 0;
        return crossings * double(kRate) / double(last - first);
    }

    // Relative strength of one frequency (Goertzel), 0 for silence, about 0.5 for a full tone.
    static double strength(const QVector<qint16> &s, double hz)
    {
        if (s.isEmpty())
            return 0;
        const double w = 2 * M_PI * hz / kRate;
        const double coeff = 2 * std::cos(w);
        double q1 = 0, q2 = 0, energy = 0;
        for (qint16 v : s) {
            const double x = v / 32768.0;
            energy += x * x;
            const double q0 = coeff * q1 - q2 + x;
            q2 = q1;
            q1 = q0;
        }
        const double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
        return std::sqrt(power) / s.size();
    }

    // Root mean square of the samples, 0 to 1.
    static double level(const QVector<qint16> &s)
    {
        if (s.isEmpty())
            return 0;
        double sum = 0;
        for (qint16 v : s)
            sum += double(v) * v;
        return std::sqrt(sum / s.size()) / 32768.0;
    }

private:
    mutable QMutex m_mutex;
    QVector<qint16> m_samples;
};

} // namespace lumora::test
