// The station pages' players as the desktop sees them, on a private session bus
// (dbus-run-session): when they appear, what they say of themselves and of what plays, and
// that media keys, sound menus and widgets (here QtDBus and dbus-send) control the right
// player. Mostly on the recording stand-in engine; once with libVLC against the simulator.

#include "app/play_station.h"
#include "mpris_client.h"
#include "player/mpris/mpris_presence.h"
#include "player/widget/player_control.h"
#include "tests/support/recording_backend.h"

#include "tests/support/audio_capture.h"
#include "tests/support/config_home.h"
#include "tests/support/page_set_driver.h"
#include "tests/support/simulator_thread.h"
#include "tests/support/wait.h"

#include "player/common/player_settings.h"
#include "player/engine/vlc_backend.h"
#include "ui/page_window.h"

#include <QDBusObjectPath>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

const QString kEgypt = QString::fromUtf8("إذاعات مصرية");
const QString kSudan = QString::fromUtf8("إذاعات سودانية");

// A recorded player, on the bus as the program puts a page's player there when page is given.
struct Recorded : RecordedPlayer {
    explicit Recorded(const QString &page = {}, const QString &title = {}, QWidget *parent = nullptr)
        : RecordedPlayer(PlayerSettings::stored(), parent)
    {
        if (!page.isEmpty())
            new MprisPresence(&player->model(), page, title);
    }
};

// Every endpoint on a loopback port; nothing needs to answer for the recording engine.
EndpointTable table()
{
    static const EndpointTable t = sim::loopbackTable(sim::freeLoopbackPorts(65));
    return t;
}

QString busName(const QString &page)
{
    return QStringLiteral("org.mpris.MediaPlayer2.lumora.") + page;
}

struct DbusSend {
    int exitCode = -1;
    QString out;
};

// dbus-send, run while the event loop goes on (the player answers from this thread).
DbusSend dbusSend(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("dbus-send"), QStringList{"--session", "--print-reply"} + args);
    if (!p.waitForStarted(5000))
        return {};
    waitFor([&] { return p.state() == QProcess::NotRunning; }, 10000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

} // namespace

class TestMpris : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void onTheBusFromTheFirstPlayback();
    void metadataAndStatusFollowThePlayer();
    void controlsReachThePlayer();
    void pauseIsOfferedWhereItIsHonoured();
    void tickingDetailsTellTheDesktopNothing();
    void everyPageItsOwnPlayer();
    void goneWithItsWindow();
    void theProgramsStationPages();
    void realPlaybackOnTheSimulator();
};

void TestMpris::initTestCase()
{
    // dbus-run-session gives this test a bus of its own; never the user's.
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    QVERIFY(lumoraNames().isEmpty());
}

void TestMpris::onTheBusFromTheFirstPlayback()
{
    Recorded r("Form2", kEgypt);
    Recorded anonymous; // a player without a page identity never shows on the bus
    QVERIFY(holdsFor([] { return !nameOnBus(busName("Form2")); }, 100)); // nor one that has not played

    const Station &s = station(Page::Form2, 3);
    playStation(*r.player, s, table());
    playStation(*anonymous.player, station(Page::Form2, 4), table());
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    QVERIFY(holdsFor([] { return lumoraNames() == QStringList{busName("Form2")}; }, 50));

    // A real client of its own process: dbus-send.
    const DbusSend identity = dbusSend({"--dest=" + busName("Form2"), kPath,
                                        kProperties + ".Get", "string:" + kRoot, "string:Identity"});
    QCOMPARE(identity.exitCode, 0);
    QVERIFY2(identity.out.contains(QString::fromUtf8("string \"Lumora — إذاعات مصرية\"")),
             qPrintable(identity.out));

    MprisClient client(busName("Form2"));
    const QVariantMap root = client.getAll(kRoot);
    QCOMPARE(root.value("Identity").toString(), QString::fromUtf8("Lumora — إذاعات مصرية"));
    QCOMPARE(root.value("DesktopEntry").toString(), QString("org.lumora.Lumora"));
    QCOMPARE(root.value("CanQuit").toBool(), false);
    QCOMPARE(root.value("CanRaise").toBool(), false);
    QCOMPARE(root.value("HasTrackList").toBool(), false);
    QVERIFY(root.contains("SupportedUriSchemes"));
    QVERIFY(root.contains("SupportedMimeTypes"));

    const QVariantMap player = client.getAll(kPlayer);
    QCOMPARE(player.value("PlaybackStatus").toString(), QString("Playing")); // opening
    QCOMPARE(player.value("CanControl").toBool(), true);
    QCOMPARE(player.value("CanPlay").toBool(), true);
    QCOMPARE(player.value("CanPause").toBool(), false); // Pause would be ignored while opening
    QCOMPARE(player.value("CanSeek").toBool(), false);
    QCOMPARE(player.value("CanGoNext").toBool(), false);
    QCOMPARE(player.value("Rate").toDouble(), 1.0);
    QCOMPARE(player.value("Volume").toDouble(), 0.5); // the stored settings' 50
    const QVariantMap meta = unwrap(player.value("Metadata")).toMap();
    QCOMPARE(meta.value("xesam:title").toString(), s.caption());
    QCOMPARE(meta.value("xesam:artist").toStringList(), QStringList{s.caption()});
    QCOMPARE(meta.value("xesam:album").toString(), kEgypt);
    QCOMPARE(meta.value("xesam:url").toString(), addressOf(s, table()).text);
    QCOMPARE(meta.value("mpris:trackid").value<QDBusObjectPath>().path(),
             QString("/org/lumora/Lumora/Form2/station1"));
}

void TestMpris::metadataAndStatusFollowThePlayer()
{
    Recorded r("Form2", kEgypt);
    const Station &first = station(Page::Form2, 8);
    playStation(*r.player, first, table());
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    MprisClient client(busName("Form2"));
    QVERIFY(client.watch());
    QVERIFY(holdsFor([&] { return client.changes.isEmpty(); }, 50)); // nothing changed yet

    // The stream's ICY title while it plays; the caption stays the artist.
    r.backend->publish(PlaybackState::Playing, 100, QString::fromUtf8("أم كلثوم - الأطلال"));
    QTRY_VERIFY(!client.changes.isEmpty());
    QVariantMap meta = client.changes.last().value("Metadata").toMap();
    QCOMPARE(meta.value("xesam:title").toString(), QString::fromUtf8("أم كلثوم - الأطلال"));
    QCOMPARE(meta.value("xesam:artist").toStringList(), QStringList{first.caption()});
    QCOMPARE(client.metadata().value("xesam:title").toString(), QString::fromUtf8("أم كلثوم - الأطلال"));

    client.changes.clear();
    r.backend->publish(PlaybackState::Paused);
    QTRY_VERIFY(!client.changes.isEmpty());
    QCOMPARE(client.changes.last().value("PlaybackStatus").toString(), QString("Paused"));
    QCOMPARE(client.status(), QString("Paused"));

    // Another station: a new track with the new caption.
    const Station &second = station(Page::Form2, 9);
    const QString firstTrack = client.metadata().value("mpris:trackid").value<QDBusObjectPath>().path();
    playStation(*r.player, second, table());
    QTRY_COMPARE(client.metadata().value("xesam:title").toString(), second.caption());
    QVERIFY(client.metadata().value("mpris:trackid").value<QDBusObjectPath>().path() != firstTrack);
    QCOMPARE(client.status(), QString("Playing"));

    r.backend->publish(PlaybackState::CannotOpen);
    QTRY_COMPARE(client.status(), QString("Stopped"));
    QCOMPARE(client.get(kPlayer, "CanPause").toBool(), false);
    QCOMPARE(client.get(kPlayer, "CanPlay").toBool(), true);

    // Nothing changed, nothing said.
    QTRY_VERIFY(!client.changes.isEmpty());
    // A round trip to the player: its signals sent before the answer have all arrived.
    client.status();
    client.changes.clear();
    r.backend->publish(PlaybackState::CannotOpen);
    QVERIFY(holdsFor([&] { return client.changes.isEmpty(); }, 100));
}

void TestMpris::controlsReachThePlayer()
{
    Recorded r("Form2", kEgypt);
    playStation(*r.player, station(Page::Form2, 1), table());
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    MprisClient client(busName("Form2"));
    QVERIFY(client.watch());
    r.backend->publish(PlaybackState::Playing);
    r.backend->calls.clear();

    // A media key through dbus-send, then the desktop's own calls.
    const DbusSend key = dbusSend({"--dest=" + busName("Form2"), kPath, kPlayer + ".PlayPause"});
    QCOMPARE(key.exitCode, 0);
    QCOMPARE(r.backend->calls, QStringList{"pause"});
    r.backend->publish(PlaybackState::Paused);
    client.call(kPlayer, "Pause"); // paused already: nothing to do
    QCOMPARE(r.backend->calls, QStringList{"pause"});
    client.call(kPlayer, "Play");
    QCOMPARE(r.backend->calls, (QStringList{"pause", "resume"}));
    r.backend->publish(PlaybackState::Playing);
    client.call(kPlayer, "Play"); // playing already
    client.call(kPlayer, "Stop");
    QCOMPARE(r.backend->calls, (QStringList{"pause", "resume", "stop"}));
    QCOMPARE(r.player->status().state, PlaybackState::Stopped);
    QCOMPARE(client.status(), QString("Stopped"));
    // Play after Stop opens the station again, exactly as written.
    client.call(kPlayer, "Play");
    QCOMPARE(r.backend->calls.last(), "open:" + addressOf(station(Page::Form2, 1), table()).text);

    // Volume: the desktop's 0..1 is the player's 0..100, slider and engine alike.
    QVERIFY(client.set(kPlayer, "Volume", 0.3));
    QCOMPARE(r.player->volume(), 30);
    QCOMPARE(r.player->findChild<QSlider *>("volumeSlider")->value(), 30);
    QCOMPARE(r.backend->calls.last(), QString("volume:30"));
    QCOMPARE(client.get(kPlayer, "Volume").toDouble(), 0.3);
    QVERIFY(client.set(kPlayer, "Volume", 1.7));
    QCOMPARE(r.player->volume(), 100);
    QVERIFY(client.set(kPlayer, "Volume", -0.5));
    QCOMPARE(r.player->volume(), 0);

    // The user's own slider: the desktop is told.
    client.changes.clear();
    r.player->findChild<QSlider *>("volumeSlider")->setValue(80);
    QTRY_COMPARE(client.changes.isEmpty() ? -1.0 : client.changes.last().value("Volume").toDouble(), 0.8);

    // What radio has not: seeking and opening other addresses do nothing.
    r.backend->calls.clear();
    client.call(kPlayer, "Seek", {qlonglong(10'000'000)});
    client.call(kPlayer, "OpenUri", {QString("http://127.0.0.1:1/elsewhere.mp3")});
    client.call(kPlayer, "Next");
    QVERIFY(r.backend->calls.isEmpty());
}

void TestMpris::pauseIsOfferedWhereItIsHonoured()
{
    Recorded r("Form2", kEgypt);
    playStation(*r.player, station(Page::Form2, 1), table());
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    MprisClient client(busName("Form2"));

    struct Expected {
        PlayerStatus status;
        const char *playbackStatus;
        bool canPause;
    };
    const Expected states[] = {
        {{.state = PlaybackState::Opening}, "Playing", false},
        {{.state = PlaybackState::Buffering, .bufferPercent = 40}, "Playing", true},
        {{.state = PlaybackState::Playing, .cushionMs = 2000}, "Playing", true},
        {{.state = PlaybackState::Waiting, .waitedMs = 3000}, "Playing", true},
        {{.state = PlaybackState::Reconnecting, .attempt = 1, .nextTryInMs = 1000}, "Playing", false},
        {{.state = PlaybackState::Reconnecting, .attempt = 4, .networkDown = true}, "Playing", false},
        {{.state = PlaybackState::Paused}, "Paused", true},
        {{.state = PlaybackState::Stopped}, "Stopped", false},
        {{.state = PlaybackState::Ended}, "Stopped", false},
        {{.state = PlaybackState::CannotOpen, .failure = OpenFailure::Refused}, "Stopped", false},
        {{.state = PlaybackState::Lost, .failure = OpenFailure::NoAnswer}, "Stopped", false},
        {{.state = PlaybackState::NoSoundDevice}, "Stopped", false},
        {{.state = PlaybackState::NoAddress, .missingKeys = {"E05"}}, "Stopped", false},
    };
    for (const Expected &e : states) {
        const QString name = playbackStateName(e.status.state);
        emit r.backend->statusChanged(e.status);
        QCOMPARE(client.status(), QString(e.playbackStatus));
        const bool canPause = client.get(kPlayer, "CanPause").toBool();
        QVERIFY2(canPause == e.canPause, qPrintable(name));
        // A desktop that was offered Pause gets a pause (or the pause holds); where it was
        // not offered, Pause changes nothing.
        r.backend->calls.clear();
        client.call(kPlayer, "Pause");
        const bool paused = r.backend->calls == QStringList{"pause"};
        QVERIFY2(r.backend->calls.isEmpty() || paused, qPrintable(name + ": " + r.backend->calls.join(' ')));
        QVERIFY2(paused == (canPause && e.status.state != PlaybackState::Paused), qPrintable(name));
        QCOMPARE(r.player->status(), e.status);
    }
}

void TestMpris::tickingDetailsTellTheDesktopNothing()
{
    Recorded r("Form2", kEgypt);
    playStation(*r.player, station(Page::Form2, 1), table());
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    MprisClient client(busName("Form2"));
    QVERIFY(client.watch());
    r.backend->publish(PlaybackState::Playing, 0, "News");
    QTRY_VERIFY(!client.changes.isEmpty());
    // A round trip to the player: its signals sent before the answer have all arrived.
    client.status();
    client.changes.clear();

    // The cushion filling, then a stall whose seconds tick: the desktop still sees a player
    // that plays and can pause, and is told nothing.
    for (int ms = 0; ms <= 4000; ms += 250)
        emit r.backend->statusChanged(PlayerStatus{.state = PlaybackState::Playing, .title = "News", .cushionMs = ms});
    for (int ms = 0; ms <= 4000; ms += 250)
        emit r.backend->statusChanged(PlayerStatus{.state = PlaybackState::Waiting, .title = "News", .waitedMs = ms,
                                                   .cushionMs = 0});
    client.status();
    QVERIFY2(holdsFor([&] { return client.changes.isEmpty(); }, 200),
             qPrintable(client.changes.value(0).keys().join(' ')));
    QCOMPARE(client.status(), QString("Playing"));

    // Rejoining takes Pause away, once; its countdown and the network going down say nothing more.
    emit r.backend->statusChanged(PlayerStatus{.state = PlaybackState::Reconnecting, .attempt = 1, .nextTryInMs = 2000});
    QTRY_COMPARE(client.changes.size(), 1);
    QCOMPARE(client.changes[0].value("CanPause").toBool(), false);
    for (int ms = 2000; ms >= 0; ms -= 100)
        emit r.backend->statusChanged(PlayerStatus{.state = PlaybackState::Reconnecting, .attempt = 2,
                                                   .nextTryInMs = ms, .networkDown = ms < 1000});
    client.status();
    QVERIFY(holdsFor([&] { return client.changes.size() == 1; }, 200));
}

void TestMpris::everyPageItsOwnPlayer()
{
    Recorded egypt("Form2", kEgypt);
    Recorded sudan("Form3", kSudan);
    playStation(*egypt.player, station(Page::Form2, 1), table());
    playStation(*sudan.player, station(Page::Form3, 2), table());
    QTRY_VERIFY(nameOnBus(busName("Form2")) && nameOnBus(busName("Form3")));

    MprisClient egyptClient(busName("Form2"));
    MprisClient sudanClient(busName("Form3"));
    QCOMPARE(sudanClient.get(kRoot, "Identity").toString(), QString::fromUtf8("Lumora — إذاعات سودانية"));
    QCOMPARE(sudanClient.metadata().value("xesam:title").toString(), station(Page::Form3, 2).caption());
    QCOMPARE(egyptClient.metadata().value("xesam:title").toString(), station(Page::Form2, 1).caption());

    egypt.backend->calls.clear();
    sudan.backend->calls.clear();
    sudanClient.call(kPlayer, "Stop");
    QCOMPARE(sudan.backend->calls, QStringList{"stop"});
    QVERIFY(egypt.backend->calls.isEmpty());
    QVERIFY(egyptClient.set(kPlayer, "Volume", 0.1));
    QCOMPARE(egypt.player->volume(), 10);
    QCOMPARE(sudan.player->volume(), 50);

    // A second Lumora with the same page: the name gets its instance added.
    Recorded twin("Form2", kEgypt);
    playStation(*twin.player, station(Page::Form2, 2), table());
    const QString twinName = busName("Form2") + ".instance" + QString::number(QCoreApplication::applicationPid());
    QTRY_VERIFY(nameOnBus(twinName));
    MprisClient twinClient(twinName);
    QCOMPARE(twinClient.metadata().value("xesam:title").toString(), station(Page::Form2, 2).caption());
}

void TestMpris::goneWithItsWindow()
{
    auto *window = new QWidget;
    Recorded r("Form2", kEgypt, window);
    playStation(*r.player, station(Page::Form2, 1), table());
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    MprisClient client(busName("Form2"));
    QCOMPARE(client.status(), QString("Playing"));

    delete window; // closing a page from its frame destroys its window and player
    QVERIFY(r.player.isNull());
    QVERIFY(!nameOnBus(busName("Form2")));
    const QDBusMessage reply = client.call(kRoot, "Raise");
    QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);

    // A later player of the page, once it plays, is there again.
    Recorded again("Form2", kEgypt);
    playStation(*again.player, station(Page::Form2, 2), table());
    QTRY_VERIFY(nameOnBus(busName("Form2")));
}

void TestMpris::theProgramsStationPages()
{
    ConfigHome home(sim::loopbackConfig(sim::freeLoopbackPorts(65)));
    PageSetDriver shell([](QWidget *clientArea) {
        return new PlayerControl(PlayerSettings::stored(), std::make_unique<RecordingBackend>(), clientArea);
    });
    shell.goTo(Page::Form2);
    QVERIFY(holdsFor([] { return lumoraNames().isEmpty(); }, 100)); // open, but nothing played yet

    const Station &egyptian = station(Page::Form2, 3);
    shell.click(egyptian);
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    MprisClient egypt(busName("Form2"));
    QCOMPARE(egypt.get(kRoot, "Identity").toString(), QString::fromUtf8("Lumora — إذاعات مصرية"));
    QCOMPARE(egypt.metadata().value("xesam:title").toString(), egyptian.caption());

    const Station &assorted = station(Page::Form18, 2);
    shell.click(assorted);
    QTRY_VERIFY(nameOnBus(busName("Form18")));
    MprisClient various(busName("Form18"));
    QCOMPARE(various.get(kRoot, "Identity").toString(), QString::fromUtf8("Lumora — إذاعات عربية منوعة"));
    QCOMPARE(various.metadata().value("xesam:title").toString(), assorted.caption());
    QCOMPARE(egypt.status(), QString("Playing")); // its page hidden, its player goes on

    // Closing a page from its frame takes its player off the bus; the other stays.
    shell.window(Page::Form18)->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!shell.window(Page::Form18));
    QVERIFY(!nameOnBus(busName("Form18")));
    QVERIFY(nameOnBus(busName("Form2")));
}

void TestMpris::realPlaybackOnTheSimulator()
{
    SimulatorThread simulator;
    QString error;
    QVERIFY2(simulator.begin({}, &error), qPrintable(error));
    const EndpointTable endpoints = simulator.table();

    auto engine = std::make_unique<VlcBackend>();
    AudioCapture tap(*engine);
    PlayerControl player(PlayerSettings::stored(), std::move(engine));
    new MprisPresence(&player.model(), "Form2", kEgypt);

    // A SHOUTcast server sending its station's caption as the ICY title.
    const Station &s = station(Page::Form2, 8);
    playStation(player, s, endpoints);
    QTRY_VERIFY(nameOnBus(busName("Form2")));
    MprisClient client(busName("Form2"));
    QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::Playing, 15000);
    QCOMPARE(client.status(), QString("Playing"));
    QTRY_COMPARE_WITH_TIMEOUT(player.status().title, s.caption(), 10000);
    QCOMPARE(client.metadata().value("xesam:title").toString(), s.caption());
    QTRY_VERIFY_WITH_TIMEOUT(tap.seconds() > 1.0, 10000);
    const QVector<qint16> heard = tap.samples().mid(tap.samples().size() / 2);
    const double hz = sim::StationSimulator::toneHz(s);
    QVERIFY2(qAbs(AudioCapture::frequency(heard) - hz) < hz * 0.02,
             qPrintable(QString::number(AudioCapture::frequency(heard))));

    client.call(kPlayer, "PlayPause");
    QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::Paused, 5000);
    QCOMPARE(client.status(), QString("Paused"));
    client.call(kPlayer, "Play");
    QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::Playing, 5000);
    client.call(kPlayer, "Stop");
    QTRY_COMPARE_WITH_TIMEOUT(client.status(), QString("Stopped"), 5000);
    QCOMPARE(player.status().state, PlaybackState::Stopped);
}

QTEST_MAIN(TestMpris)
#include "tst_mpris.moc"
