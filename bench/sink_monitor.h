#pragma once

// Listens at a PulseAudio sink's monitor (parec) and says when a given tone is first heard
// there: what every player, ours or another program, has really sent to the sound server.

#include "bench_support.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lumora::bench {

inline qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

class SinkMonitor {
public:
    static constexpr int kRate = 22050;        // enough for the simulator's tones (300-1900 Hz)
    static constexpr int kThreshold = 100;     // |sample| above this is sound (about -50 dBFS)
    static constexpr int kBlock = kRate / 50;  // 20 ms: the window a tone is recognised in
    static constexpr int kStep = kRate / 200;  // 5 ms between windows

    // Keeps the last keepSeconds of the sink's sound.
    explicit SinkMonitor(int keepSeconds = 20) : m_keepSeconds(keepSeconds) {}
    ~SinkMonitor()
    {
        m_parec.terminate();
        if (!m_parec.waitForFinished(3000))
            m_parec.kill();
    }

    bool start(const QString &pulseServer, const QString &sink)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), pulseServer);
        m_parec.setProcessEnvironment(env);
        m_parec.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // LUMORA_BENCH_RECORD=folder keeps what the sink heard there, as sink.s16 (mono,
        // 16-bit little-endian at kRate), to be listened to or drawn.
        if (const QString folder = qEnvironmentVariable("LUMORA_BENCH_RECORD"); !folder.isEmpty()) {
            m_record.setFileName(folder + u'/' + sink + QStringLiteral(".s16"));
            m_record.open(QIODevice::WriteOnly | QIODevice::Truncate);
        }
        QObject::connect(&m_parec, &QProcess::readyReadStandardOutput, &m_parec, [this] { read(); });
        m_parec.start(QStringLiteral("parec"), {"--raw", "--format=s16le", "--channels=1",
                                                QStringLiteral("--rate=%1").arg(kRate), "--latency-msec=5",
                                                "--device=" + sink + ".monitor"});
        return m_parec.waitForStarted(5000) && waitFor([this] { return m_total > kRate / 10; }, 10000);
    }

    // The steady-clock time of the first sample of a sound of toneHz (within 4 %; 0: any
    // sound) at or after afterNs, waiting up to timeoutMs for it; -1 when none came.
    qint64 firstSound(qint64 afterNs, int toneHz, int timeoutMs)
    {
        qint64 found = -1;
        qint64 from = std::max<qint64>(indexAt(afterNs), m_base);
        waitFor([&] {
            for (; from + kBlock <= m_total; from += kStep) {
                if (toneHz == 0) {
                    for (qint64 i = from; i < from + kStep; ++i)
                        if (std::abs(at(i)) > kThreshold)
                            return (found = timeOf(i)), true;
                } else if (isTone(from, toneHz)) {
                    return (found = timeOf(onset(from, std::max<qint64>(indexAt(afterNs), m_base)))), true;
                }
            }
            return false;
        }, timeoutMs);
        return found;
    }

    // How the sound went on between two steady-clock times (fromNs: the first sound): the
    // silences of at least minSilenceMs, one still going on at toNs included, and their
    // total length. Samples no longer kept count as sound.
    struct Continuity {
        int dropouts = 0;
        double silentSeconds = 0;
        QList<QPair<double, double>> silences; // each one's start after fromNs and length, in s
    };
    Continuity continuity(qint64 fromNs, qint64 toNs, int minSilenceMs = 60) const
    {
        Continuity c;
        const qint64 from = std::max(indexAt(fromNs), m_base), to = std::min(indexAt(toNs), m_total);
        const qint64 least = qint64(minSilenceMs) * kRate / 1000;
        qint64 run = 0;
        auto endRun = [&](qint64 i) {
            if (run >= least) {
                ++c.dropouts;
                c.silentSeconds += double(run) / kRate;
                c.silences.append({double(i - run - from) / kRate, double(run) / kRate});
            }
            run = 0;
        };
        for (qint64 i = from; i < to; ++i) {
            if (std::abs(at(i)) > kThreshold)
                endRun(i);
            else
                ++run;
        }
        endRun(to);
        return c;
    }

    // Waits until the sink has been silent for ms.
    bool waitSilence(int ms, int timeoutMs)
    {
        const qint64 span = qint64(ms) * kRate / 1000;
        return waitFor([&] {
            if (m_total - m_base < span)
                return false;
            for (qint64 i = m_total - span; i < m_total; ++i)
                if (std::abs(at(i)) > kThreshold)
                    return false;
            return true;
        }, timeoutMs);
    }

private:
    qint16 at(qint64 i) const { return m_samples[size_t(i - m_base)]; }
    qint64 timeOf(qint64 i) const { return m_t0 + i * 1000000000LL / kRate; }
    qint64 indexAt(qint64 ns) const { return (ns - m_t0) * kRate / 1000000000LL; }

    void read()
    {
        const qint64 arrived = steadyNs();
        const QByteArray bytes = m_parec.readAllStandardOutput();
        if (m_record.isOpen())
            m_record.write(bytes);
        m_pending += bytes;
        const qsizetype n = m_pending.size() / 2;
        const size_t old = m_samples.size();
        m_samples.resize(old + size_t(n));
        std::memcpy(m_samples.data() + old, m_pending.constData(), size_t(n) * 2);
        m_pending.remove(0, n * 2);
        m_total += n;
        // The sink produces samples in real time; the earliest arrival sets the clock, so the
        // time of a sample is when the sink played it plus the monitor's least delay.
        const qint64 t0 = arrived - m_total * 1000000000LL / kRate;
        if (m_t0 == 0 || t0 < m_t0)
            m_t0 = t0;
        const qint64 keep = qint64(kRate) * m_keepSeconds;
        if (m_total - m_base > 2 * keep) {
            const qint64 drop = m_total - m_base - keep;
            m_samples.erase(m_samples.begin(), m_samples.begin() + drop);
            m_base += drop;
        }
    }

    // Whether the 20 ms from i are a tone of hz: loud enough, and its rising zero crossings
    // (interpolated) a period of 1/hz apart on average.
    bool isTone(qint64 i, int hz) const
    {
        double first = -1, last = -1;
        int crossings = 0;
        int peak = 0;
        for (qint64 k = i; k < i + kBlock; ++k) {
            peak = std::max(peak, std::abs(int(at(k))));
            if (k > i && at(k - 1) < 0 && at(k) >= 0) {
                const double x = double(k - 1) + double(-at(k - 1)) / double(at(k) - at(k - 1));
                if (first < 0)
                    first = x;
                last = x;
                ++crossings;
            }
        }
        if (peak <= kThreshold || crossings < 3)
            return false;
        const double measured = double(crossings - 1) * kRate / (last - first);
        return std::abs(measured - hz) <= 0.04 * hz;
    }

    // Where the sound recognised at i began: back over the sound just before it, at most one
    // window, not before from.
    qint64 onset(qint64 i, qint64 from) const
    {
        const qint64 quiet = kRate / 500; // 2 ms of silence ends the search
        qint64 start = i;
        for (qint64 k = i - 1; k >= std::max(from, i - kBlock); --k) {
            bool silent = true;
            for (qint64 j = k; j > k - quiet && j >= from; --j)
                if (std::abs(at(j)) > kThreshold)
                    silent = false;
            if (silent)
                break;
            start = k;
        }
        while (start < i + kBlock && std::abs(at(start)) <= kThreshold)
            ++start; // the first sample that is sound
        return start;
    }

    int m_keepSeconds;
    QFile m_record;
    QProcess m_parec;
    QByteArray m_pending;
    std::vector<qint16> m_samples;
    qint64 m_base = 0;  // index of m_samples[0]
    qint64 m_total = 0; // samples read
    qint64 m_t0 = 0;    // steady-clock time of sample 0
};

} // namespace lumora::bench
