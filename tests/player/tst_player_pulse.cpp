// The real audio path: a player on libVLC plays into a PulseAudio server of the test's own (a
// null sink), the sink's monitor is recorded, and the tone is found there; and what a
// listener hears of a stream that stalls while it plays slowed.

#include "player/engine/cushion_keeper.h"
#include "player/engine/vlc_backend.h"
#include "player/widget/player_control.h"
#include "tests/support/audio_capture.h"
#include "tests/support/loopback_server.h"
#include "tone.h"
#include "tools/station-sim/rough_link.h"

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
    void aSlowedStreamPlaysOnWholeAfterAStall();
    void cleanupTestCase();

private:
    // parec recording the sink's monitor into wav; the samples recorded so far.
    void record(QProcess &parec, const QString &wav);
    static QVector<qint16> recorded(const QString &wav);

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
                   {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
                    "--log-level=error", "-L", "module-null-sink sink_name=lumora_test norewinds=1", "-L",
                    "module-native-protocol-unix auth-anonymous=1 socket=" + m_socket});
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

    // The sink's monitor, recorded into a file while the tone plays. "Playing" comes once
    // sound has reached the output; the recording runs until a second of sound is in it and
    // only that second is judged.
    const QString wav = m_dir.filePath("monitor.wav");
    QProcess record;
    this->record(record, wav);
    QVector<qint16> samples;
    const auto secondOfSound = [&] {
        const QVector<qint16> all = recorded(wav);
        qsizetype first = 0;
        while (first < all.size() && qAbs(all[first]) < 100)
            ++first;
        // Half a second is let go by after the sound starts, while the sound server's new
        // stream settles.
        const qsizetype from = first + 22050;
        if (from + 44100 > all.size())
            return false;
        samples = all.mid(from, 44100);
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

void TestPlayerPulse::record(QProcess &parec, const QString &wav)
{
    // parec writes nothing to a pipe here: it records into a file.
    parec.start("parec",
                {"-d", "lumora_test.monitor", "--file-format=wav", "--format=s16le", "--rate=44100", "--channels=1",
                 "--latency-msec=20", wav});
    QVERIFY(parec.waitForStarted(5000));
}

QVector<qint16> TestPlayerPulse::recorded(const QString &wav)
{
    QFile file(wav);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    const qsizetype data = content.indexOf("data");
    if (data < 0)
        return {};
    const QByteArray raw = content.mid(data + 8);
    const auto *all = reinterpret_cast<const qint16 *>(raw.constData());
    return QVector<qint16>(all, all + raw.size() / 2);
}

void TestPlayerPulse::aSlowedStreamPlaysOnWholeAfterAStall()
{
    // A stream without a burst plays at 97 % while its cushion grows; then the link holds it
    // back for 2.5 s, longer than the cushion. The player waits for it, says so, and plays on
    // at normal speed from where the listener was. At the sink, every step of the tones comes
    // in turn, and the sound lasts as long as the stream's own steps: nothing lost, little
    // heard twice.
    const QByteArray mp3 = stepsMp3(kSteps, kStepS, 4 * int(kSteps.size())); // 12 s
    QVERIFY(!mp3.isEmpty());
    LoopbackServer http;
    Route live = LoopbackServer::ok("audio/mpeg", mp3);
    live.contentLength = false;
    live.endless = true;
    live.burstBytes = 0;
    http.route("/steps.mp3", live);
    const auto condition = sim::RoughLink::Condition::parse(QStringLiteral("stalls:stall-every-ms=6000,stall-ms=2500"));
    QVERIFY(condition);
    sim::RoughLink link(http.port(), *condition);
    const quint16 port = link.begin();
    QVERIFY(port);

    auto backend = std::make_unique<VlcBackend>();
    VlcBackend *engine = backend.get();
    PlayerControl player(PlayerSettings::stored(), std::move(backend));
    const QString wav = m_dir.filePath("stall.wav");
    QProcess record;
    this->record(record, wav);
    player.setURL(QStringLiteral("http://127.0.0.1:%1/steps.mp3").arg(port));
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(engine->speed() - CushionKeeper::kSlowRate) < 0.001, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::Waiting, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::Playing, 10000);
    QCOMPARE(engine->speed(), 1.0);
    // Two seconds of sound after it, at the sink.
    const qsizetype resumed = recorded(wav).size();
    QTRY_VERIFY_WITH_TIMEOUT(recorded(wav).size() > resumed + 2 * 44100, 10000);
    record.terminate();
    QVERIFY(record.waitForFinished(5000));
    player.stop();

    const QVector<qint16> samples = recorded(wav);
    const HeardSteps heard = heardSteps(samples, 44100);
    QVERIFY2(heard.starts.size() >= 12, qPrintable(QString::number(heard.starts.size())));
    const double silentS = double(heard.silenceTo - heard.silenceFrom) / 44100;
    const double jump = heard.jumpAcrossSilence();
    qInfo() << "silent for" << silentS << "s; the stream went on" << jump << "s from where it stopped";
    QVERIFY2(silentS > 1 && silentS < 4, qPrintable(QString::number(silentS)));
    // libVLC plays out what it was given and starts again a read block (128 ms here) and two
    // frames before its end, which it may not have played: nothing is lost, whatever the
    // machine's load does to the clocks, and at most that much is heard twice. (Each edge of
    // the silence is known to a window of 25 ms.)
    QVERIFY2(jump > -0.25 && jump < 0.08, qPrintable(QString::number(jump)));
    // The sound comes back at the player's volume (50 %: about 0.03, see above), not at the
    // sound server's full volume for a new stream.
    for (qsizetype at = heard.silenceTo; at < heard.silenceTo + 44100; at += 2205) {
        const double level = AudioCapture::level(samples.mid(at, 2205));
        QVERIFY2(level < 0.06, qPrintable(QStringLiteral("level %1 at %2 s").arg(level).arg(double(at) / 44100)));
    }
    // Elsewhere every step comes in turn: nothing lost or said twice as it played on.
    for (qsizetype i = 1; i < heard.starts.size(); ++i) {
        if (heard.starts[i - 1].sample < heard.silenceFrom && heard.starts[i].sample >= heard.silenceTo)
            continue;
        QVERIFY2(heard.starts[i].step == (heard.starts[i - 1].step + 1) % kSteps.size(),
                 qPrintable(QStringLiteral("step %1 after step %2, %3 s in")
                                .arg(heard.starts[i].step)
                                .arg(heard.starts[i - 1].step)
                                .arg(double(heard.starts[i].sample) / 44100)));
    }
}

void TestPlayerPulse::cleanupTestCase()
{
    m_server.terminate();
    if (!m_server.waitForFinished(3000))
        m_server.kill();
}

QTEST_MAIN(TestPlayerPulse)
#include "tst_player_pulse.moc"
