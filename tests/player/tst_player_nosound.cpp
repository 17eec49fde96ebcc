// A machine with no sound server and no sound card: libVLC decodes, nothing is heard, and the
// player says so instead of "playing". The process is given neither: PULSE_SERVER points
// nowhere and ALSA finds no configuration.

#include "player/widget/player_control.h"
#include "tests/support/loopback_server.h"
#include "tests/support/wait.h"
#include "tone.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

class TestPlayerNoSound : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("PULSE_SERVER", "unix:/nonexistent/lumora-test");
        qputenv("ALSA_CONFIG_PATH", "/nonexistent/lumora-test");
    }

    void saysThereIsNoSoundDevice()
    {
        const QByteArray mp3 = toneMp3(440, 4);
        QVERIFY(!mp3.isEmpty());
        LoopbackServer http;
        Route live = LoopbackServer::ok("audio/mpeg", mp3);
        live.endless = true;
        http.route("/live", live);

        PlayerControl player; // real libVLC, with whatever audio output it can find: none
        QList<PlaybackState> states;
        connect(&player, &PlayerControl::statusChanged, this, [&](const PlayerStatus &s) { states << s.state; });
        player.setURL(http.url("/live"));
        QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::NoSoundDevice, 15000);
        QVERIFY(!states.contains(PlaybackState::Playing));
        QVERIFY(!player.statusText().isEmpty());
        // It stays so: no other entry, no rejoining, no "playing".
        QVERIFY(holdsFor([&] {
            return player.status().state == PlaybackState::NoSoundDevice && http.hits("/live") == 1;
        }, 1000));
        player.stop();
        QCOMPARE(player.status().state, PlaybackState::Stopped);
    }
};

QTEST_MAIN(TestPlayerNoSound)
#include "tst_player_nosound.moc"
