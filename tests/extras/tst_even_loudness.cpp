// Even loudness, measured where the sound goes: two live stations, one mastered 15 dB below
// the other, played by two players on real libVLC with their audio captured.

#include "app/program_extras.h"
#include "player/engine/vlc_backend.h"
#include "player/widget/player_control.h"
#include "tests/player/tone.h"
#include "tests/support/audio_capture.h"
#include "tests/support/config_home.h"
#include "tests/support/loopback_server.h"

#include <QTest>
#include <QtMath>

using namespace lumora;
using namespace lumora::test;

namespace {

struct Station {
    explicit Station(ProgramExtras &program)
    {
        auto backend = std::make_unique<VlcBackend>();
        tap = std::make_unique<AudioCapture>(*backend);
        player = std::make_unique<PlayerControl>(PlayerSettings::stored(), std::move(backend));
        program.attach(player.get());
    }
    ~Station() { player.reset(); }
    // The level of the last 1.5 s, in dB of full scale.
    double decibels() const { return 20 * std::log10(qMax(1e-9, AudioCapture::level(tap->recent(1500)))); }

    std::unique_ptr<AudioCapture> tap;
    std::unique_ptr<PlayerControl> player;
};

} // namespace

class TestEvenLoudness : public QObject {
    Q_OBJECT
private slots:
    void stationsFifteenDecibelsApartPlayWithinThree();

private:
    // Plays both stations anew and gives the difference of their levels once 3 s of each
    // were heard, the first second (the compressor settling) left out.
    double difference(Station &loud, Station &quiet);
    LoopbackServer m_server;
};

double TestEvenLoudness::difference(Station &loud, Station &quiet)
{
    for (auto [s, path] : {std::pair{&loud, "/loud"}, std::pair{&quiet, "/quiet"}}) {
        s->player->stop();
        s->tap->clear();
        s->player->setURL(m_server.url(QString::fromLatin1(path)));
    }
    const bool heard = QTest::qWaitFor([&] { return loud.tap->seconds() > 3 && quiet.tap->seconds() > 3; }, 20000);
    if (!heard)
        return qQNaN();
    const double d = loud.decibels() - quiet.decibels();
    qInfo("loud %.1f dBFS, quiet %.1f dBFS: %.1f dB apart", loud.decibels(), quiet.decibels(), d);
    return d;
}

void TestEvenLoudness::stationsFifteenDecibelsApartPlayWithinThree()
{
    const QByteArray loudTone = toneMp3(440, 3, 12000);
    const QByteArray quietTone = toneMp3(440, 3, 12000 / std::pow(10.0, 15.0 / 20));
    QVERIFY2(!loudTone.isEmpty() && !quietTone.isEmpty(), "lame is needed to make test tones");
    for (auto [path, body] : {std::pair{"/loud", loudTone}, std::pair{"/quiet", quietTone}}) {
        Route live;
        live.head = "ICY 200 OK\r\n";
        live.contentType = "audio/mpeg";
        live.body = body;
        live.endless = true;
        m_server.route(path, live);
    }

    ConfigHome home;
    ProgramExtras program;
    QVERIFY(!program.settings().evenLoudness); // off by default
    Station loud(program), quiet(program);
    const double apart = difference(loud, quiet);
    QVERIFY2(qAbs(apart - 15) < 1.5, qPrintable(QString::number(apart)));

    ExtrasSettings on = program.settings();
    on.evenLoudness = true;
    program.setSettings(on);
    const double even = difference(loud, quiet);
    QVERIFY2(qAbs(even) <= 3, qPrintable(QString::number(even)));

    // Remembered: the next run's players start with it.
    ProgramExtras next;
    QVERIFY(next.settings().evenLoudness);
    Station loud2(next), quiet2(next);
    loud.player.reset();
    quiet.player.reset();
    const double still = difference(loud2, quiet2);
    QVERIFY2(qAbs(still) <= 3, qPrintable(QString::number(still)));
}

QTEST_MAIN(TestEvenLoudness)
#include "tst_even_loudness.moc"
