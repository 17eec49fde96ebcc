#pragma once

// A pure tone encoded as MP3 with the lame command-line encoder, made when the test runs.

#include <QProcess>
#include <QtMath>

namespace lumora::test {

// Mono 44.1 kHz, 128 kbit/s, without the Xing/LAME info frame so that the data can be
// repeated to make an endless stream; amplitude out of 32767. Empty when lame is not available.
inline QByteArray toneMp3(double hz, double seconds, double amplitude = 12000)
{
    const int rate = 44100;
    QByteArray pcm;
    const int n = int(seconds * rate);
    pcm.resize(n * 2);
    auto *p = reinterpret_cast<qint16 *>(pcm.data());
    for (int i = 0; i < n; ++i)
        p[i] = qint16(amplitude * std::sin(2 * M_PI * hz * i / rate));
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

} // namespace lumora::test
