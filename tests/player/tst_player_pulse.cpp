// The real audio path once: a player on libVLC plays into a PulseAudio server of the test's
// own (a null sink), the sink's monitor is recorded, and the tone is found there.

#include "player/widget/player_control.h"
#include "tests/support/audio_capture.h"
#include "tests/support/loopback_server.h"
#include "tone.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

class TestPlayerPulse : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void toneReachesTheSoundServer();
    void cleanupTestCase();

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_socket;
};

void TestPlayerPulse::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_socket = m_dir.filePath("native");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_dir.path());
    env.insert("PULSE_RUNTIME_PATH", m_dir.filePath("run"));
    env.insert("PULSE_STATE_PATH", m_dir.filePath("state"));
    m_server.setProcessEnvironment(env);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start("pulseaudio",
                   {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                    "--log-target=stderr", "--log-level=error",
                    "-L", "module-null-sink sink_name=lumora_test",
                    "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + m_socket});
    QVERIFY2(m_server.waitForStarted(5000), "pulseaudio (Debian package pulseaudio) is needed");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_socket), 10000);
    // libVLC's PulseAudio output and parec find the server here.
    qputenv("PULSE_SERVER", ("unix:" + m_socket).toUtf8());
    qputenv("PULSE_RUNTIME_PATH", m_dir.filePath("run").toUtf8());
}

void TestPlayerPulse::toneReachesTheSoundServer()
{
    const QByteArray mp3 = toneMp3(880, 4);
    QVERIFY(!mp3.isEmpty());
    LoopbackServer http;
    Route live = LoopbackServer::ok("audio/mpeg", mp3); // a live stream: plays as long as needed
    live.endless = true;
    http.route("/tone.mp3", live);

    PlayerControl player; // real libVLC with its own audio output
    player.setURL(http.url("/tone.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::Playing, 10000);

    // The sink's monitor, recorded into a file while the tone plays (parec writes nothing
    // to a pipe here). "Playing" comes once sound has reached the output; the recording runs
    // until a second of sound is in it and only that second is judged.
    const QString wav = m_dir.filePath("monitor.wav");
    QProcess record;
    record.start("parec", {"-d", "lumora_test.monitor", "--file-format=wav", "--format=s16le",
                           "--rate=44100", "--channels=1", "--latency-msec=20", wav});
    QVERIFY(record.waitForStarted(5000));
    QVector<qint16> samples;
    const auto secondOfSound = [&] {
        QFile file(wav);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray content = file.readAll();
        const qsizetype data = content.indexOf("data");
        if (data < 0)
            return false;
        const QByteArray raw = content.mid(data + 8);
        const auto *all = reinterpret_cast<const qint16 *>(raw.constData());
        const qsizetype count = raw.size() / 2;
        qsizetype first = 0;
        while (first < count && qAbs(all[first]) < 100)
            ++first;
        // Half a second is let go by after the sound starts, while the sound server's new
        // stream settles.
        const qsizetype from = first + 22050;
        if (from + 44100 > count)
            return false;
        samples = QVector<qint16>(all + from, all + from + 44100);
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(secondOfSound(), 20000);
    record.terminate();
    QVERIFY(record.waitForFinished(5000));
    player.stop();

    const double frequency = AudioCapture::frequency(samples);
    const double level = AudioCapture::level(samples);
    qInfo() << "recorded" << samples.size() / 44100.0 << "s at the sink:" << frequency << "Hz, level" << level;
    QVERIFY2(qAbs(frequency - 880) < 880 * 0.02, qPrintable(QString::number(frequency)));
    QVERIFY(AudioCapture::strength(samples, 880) > 10 * AudioCapture::strength(samples, 440));
    // Volume 50 on the player is the sound server's 50 %, a gain of 1/8 on its cubic scale:
    // the tone (0.26 rms at full volume) arrives at about 0.03.
    QVERIFY2(level > 0.01 && level < 0.06, qPrintable(QString::number(level)));
}

void TestPlayerPulse::cleanupTestCase()
{
    m_server.terminate();
    if (!m_server.waitForFinished(3000))
        m_server.kill();
}

QTEST_MAIN(TestPlayerPulse)
#include "tst_player_pulse.moc"
