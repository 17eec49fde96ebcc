#pragma once

// Tones encoded as MP3 with the lame command-line encoder, made when the test runs.

#include "tests/support/audio_capture.h"

#include <QProcess>
#include <QtMath>

#include <cmath>

namespace lumora::test {

// 16-bit mono PCM at 44.1 kHz as MP3 at 128 kbit/s, without the Xing/LAME info frame so that
// the data can be repeated to make an endless stream. Empty when lame is not available.
inline QByteArray encodeMp3(const QByteArray &pcm)
{
    QProcess lame;
    lame.start(QStringLiteral("lame"),
               {"-r", "-s", "44.1", "-m", "m", "--bitwidth", "16", "--signed", "--little-endian",
                "-b", "128", "-t", "--quiet", "-", "-"});
    if (!lame.waitForStarted(5000))
        return {};
    lame.write(pcm);
    lame.closeWriteChannel();
    if (!lame.waitForFinished(20000) || lame.exitCode() != 0)
        return {};
    return lame.readAllStandardOutput();
}

// Tones of hz in turn, each for stepSeconds, steps of them in all, as MP3 (see encodeMp3);
// amplitude out of 32767. The phase runs on across a change: no click to be taken for a gap.
inline QByteArray stepsMp3(const QList<double> &hz, double stepSeconds, int steps, double amplitude = 12000)
{
    const int rate = 44100;
    const int perStep = int(stepSeconds * rate);
    QByteArray pcm;
    pcm.resize(qsizetype(perStep) * steps * 2);
    auto *p = reinterpret_cast<qint16 *>(pcm.data());
    double phase = 0;
    for (int i = 0; i < perStep * steps; ++i) {
        phase += 2 * M_PI * hz[(i / perStep) % hz.size()] / rate;
        p[i] = qint16(amplitude * std::sin(phase));
    }
    return encodeMp3(pcm);
}

// A pure tone (see stepsMp3).
inline QByteArray toneMp3(double hz, double seconds, double amplitude = 12000)
{
    return stepsMp3({hz}, seconds, 1, amplitude);
}

// A stream whose tone changes every kStepS, through kSteps in turn: where the audio heard is
// in the stream shows in it.
inline const QList<double> kSteps = {400, 500, 630, 800, 1000, 1250};
constexpr double kStepS = 0.5;

// What was heard of a kSteps stream: where its tone changes (the sample each step is heard
// from, and the step, an index into kSteps), and the longest silence after the first change.
// Windows across a change and silent ones are no step.
struct HeardSteps {
    struct Start {
        qsizetype sample = 0;
        int step = 0;
    };
    QList<Start> starts;
    qsizetype silenceFrom = 0, silenceTo = 0; // samples
    int rate = 0;

    // How far the stream moved on across the silence: 0 when it goes on where it stopped,
    // more when audio was lost, less when some was heard again; within half a cycle of kSteps.
    // Where it stopped shows from the last change before the silence, where it came back
    // from the first change after it.
    double jumpAcrossSilence() const
    {
        qsizetype before = -1, after = -1;
        for (qsizetype i = 0; i < starts.size(); ++i) {
            if (starts[i].sample < silenceFrom)
                before = i;
            else if (after < 0 && starts[i].sample >= silenceTo)
                after = i;
        }
        if (before < 0 || after < 0)
            return qInf();
        const double stopped = starts[before].step * kStepS + double(silenceFrom - starts[before].sample) / rate;
        const double cameBack = starts[after].step * kStepS - double(starts[after].sample - silenceTo) / rate;
        const double cycle = kSteps.size() * kStepS;
        return std::remainder(cameBack - stopped, cycle);
    }
};
inline HeardSteps heardSteps(const QVector<qint16> &s, int rate)
{
    const qsizetype window = rate / 40;
    HeardSteps heard;
    heard.rate = rate;
    qsizetype silentFrom = -1;
    for (qsizetype at = 0; at + window <= s.size(); at += window) {
        const QVector<qint16> w = s.mid(at, window);
        if (AudioCapture::level(w) < 0.002) {
            if (silentFrom < 0)
                silentFrom = at;
            continue;
        }
        if (silentFrom >= 0 && !heard.starts.isEmpty() && at - silentFrom > heard.silenceTo - heard.silenceFrom) {
            heard.silenceFrom = silentFrom;
            heard.silenceTo = at;
        }
        silentFrom = -1;
        const double hz = AudioCapture::frequency(w, rate);
        for (int i = 0; i < kSteps.size(); ++i) {
            if (qAbs(hz - kSteps[i]) < kSteps[i] * 0.03 && (heard.starts.isEmpty() || heard.starts.back().step != i))
                heard.starts << HeardSteps::Start{at, i};
        }
    }
    return heard;
}

} // namespace lumora::test
