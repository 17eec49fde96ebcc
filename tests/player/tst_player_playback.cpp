// Real libVLC: players open addresses from a loopback server and the audio each one plays
// is captured and its tone measured.

#include "player/common/player_failure.h"
#include "player/engine/cushion_keeper.h"
#include "player/engine/vlc/vlc_instance.h"
#include "player/engine/vlc/vlc_plugin_preload.h"
#include "player/engine/vlc_backend.h"
#include "player/widget/player_control.h"
#include "tests/support/audio_capture.h"
#include "tests/support/loopback_server.h"
#include "tests/support/tapped_player.h"
#include "tests/support/wait.h"
#include "tone.h"
#include "tools/station-sim/rough_link.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

constexpr double kToneA = 440, kToneB = 1000, kToneC = 660;

QString describe(const QVector<qint16> &s)
{
    return QStringLiteral("%1 s, %2 Hz, level %3")
        .arg(double(s.size()) / AudioCapture::kRate).arg(AudioCapture::frequency(s)).arg(AudioCapture::level(s));
}

// The tone at hz, clearly above silence (at volume 50 libVLC's gain is 1/8).
bool isTone(const QVector<qint16> &s, double hz)
{
    return qAbs(AudioCapture::frequency(s) - hz) < hz * 0.02 && AudioCapture::level(s) > 0.01;
}

// The player says "playing" all along for ms, and its audio keeps up with the clock but for
// slackS seconds: no wait and no gap.
void playsOnFor(TappedPlayer &p, int ms, double slackS)
{
    const double before = p.tap->seconds();
    QElapsedTimer clock;
    clock.start();
    PlayerStatus seen;
    const auto playing = [&] {
        seen = p.player->status();
        return seen.state == PlaybackState::Playing;
    };
    QVERIFY2(holdsFor(playing, ms),
             qPrintable(QStringLiteral("%1 after %2 ms, cushion %3 ms")
                            .arg(playbackStateName(seen.state))
                            .arg(clock.elapsed())
                            .arg(seen.cushionMs)));
    const double heard = p.tap->seconds() - before, passed = clock.elapsed() / 1000.0;
    QVERIFY2(heard > passed - slackS, qPrintable(QStringLiteral("%1 s of audio in %2 s").arg(heard).arg(passed)));
    QVERIFY2(isTone(p.tap->samples(), kToneC), qPrintable(describe(p.tap->samples())));
}

// A link of this condition before port, listening on listeningPort; nullptr when the
// condition does not parse or the link cannot listen.
std::unique_ptr<sim::RoughLink> roughLink(quint16 port, const QString &condition, quint16 &listeningPort)
{
    const auto c = sim::RoughLink::Condition::parse(condition);
    if (!c)
        return nullptr;
    auto link = std::make_unique<sim::RoughLink>(port, *c);
    listeningPort = link->begin();
    return listeningPort ? std::move(link) : nullptr;
}

} // namespace

class TestPlayerPlayback : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void playsTheToneOfItsAddress();
    void playlistsAndLiveStreamWithTitle();
    void twoPlayersPlayAtOnce();
    void titleShowsWithItsAudio();
    void liveStreamRidesOutStallsOnItsCushion();
    void streamWithoutBurstRidesOutJitterFromItsStart();
    void aSlowedStreamLeavesTheNextAtNormalSpeed();
    void clickWhileOpeningAbandonsTheEarlierAddress();
    void fallsBackWhenLibvlcCannotPlayAnEntry();
    void mp3NamedToLibvlcWhateverItsLabel();
    void cannotOpenThenAnotherAddressPlays();
    void repeatedWriteRestartsAndAFilePlaysOnce();
    void closedPlayerGetsNoCallbacks();
    void oneSharedInstance();
    void slowPluginsAreThereToLoadAhead();
    void brokenLibvlcSaysWhatToInstall();
    void screenshots();

private:
    LoopbackServer m_server;
    QByteArray m_a, m_b, m_c;
};

void TestPlayerPlayback::initTestCase()
{
    m_a = toneMp3(kToneA, 3);
    m_b = toneMp3(kToneB, 3);
    m_c = toneMp3(kToneC, 2);
    QVERIFY2(!m_a.isEmpty() && !m_b.isEmpty() && !m_c.isEmpty(), "lame is needed to make test tones");

    m_server.route("/a.mp3", LoopbackServer::ok("audio/mpeg", m_a));
    m_server.route("/b.mp3", LoopbackServer::ok("audio/mpeg", m_b));
    m_server.route("/short.mp3", LoopbackServer::ok("audio/mpeg", toneMp3(kToneA, 0.6)));
    Route live;
    live.head = "ICY 200 OK\r\nicy-name: Test FM\r\n";
    live.contentType = "audio/mpeg";
    live.body = m_c;
    live.endless = true;
    live.icyMetaInt = 8192;
    live.icyTitle = QString::fromUtf8("نشرة الأخبار").toUtf8();
    m_server.route("/", live);
    Route songs = live;
    songs.icyTitles = {"first song", "second song"};
    songs.icyBlocksPerTitle = 4;
    m_server.route("/songs", songs);
    live.burstBytes = 0; // paced from its first byte, as a mount without a connect burst
    m_server.route("/no-burst", live);
    Route slow = LoopbackServer::ok("audio/mpeg", m_a);
    slow.delayMs = 1500;
    m_server.route("/slow.mp3", slow);
    // ASX from a script, sent as a web page: libVLC alone would not play it.
    m_server.route("/list.php?id=3", LoopbackServer::ok("text/html",
        "<ASX VERSION=\"3.0\"><ENTRY><REF HREF=\"" + m_server.url("/b.mp3").toUtf8() + "\"/></ENTRY></ASX>"));
    m_server.route("/fallback.m3u", LoopbackServer::ok("audio/x-mpegurl",
        "#EXTM3U\nmms://127.0.0.1:" + QByteArray::number(closedPort()) + "/gone\n/a.mp3\n"));
    m_server.route("/dead.pls", LoopbackServer::ok("audio/x-scpls",
        "[playlist]\nFile1=/missing.mp3\nFile2=http://127.0.0.1:" + QByteArray::number(closedPort()) + "/\n"));
}

void TestPlayerPlayback::playsTheToneOfItsAddress()
{
    TappedPlayer p;
    QCOMPARE(p.player->status().state, PlaybackState::Idle);
    p.player->stop(); // on an idle player: nothing happens
    QCOMPARE(p.player->status().state, PlaybackState::Idle);

    p.player->setURL(m_server.url("/a.mp3"));
    QCOMPARE(p.player->URL(), m_server.url("/a.mp3"));
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->seconds() > 1.0, 10000);
    const QVector<qint16> s = p.tap->samples();
    QVERIFY2(isTone(s, kToneA), qPrintable(describe(s)));
    QTRY_COMPARE(p.player->status().state, PlaybackState::Playing); // may rebuffer on a busy machine
    QVERIFY(p.states.contains(PlaybackState::Opening));
    // The position bar follows a file (it stays inactive: this server cannot seek).
    auto *bar = p.player->findChild<QSlider *>("positionBar");
    QTRY_VERIFY(bar->value() > 0);
    QVERIFY(!bar->isEnabled());
}

void TestPlayerPlayback::playlistsAndLiveStreamWithTitle()
{
    TappedPlayer p;
    p.player->setURL(m_server.url("/list.php?id=3"));
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->seconds() > 1.0, 10000);
    QVector<qint16> s = p.tap->samples();
    QVERIFY2(isTone(s, kToneB), qPrintable(describe(s)));

    p.player->stop();
    QCOMPARE(p.player->status().state, PlaybackState::Stopped);
    p.tap->clear();
    p.player->setURL(m_server.url("/"));
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->seconds() > 1.0, 10000);
    s = p.tap->samples();
    QVERIFY2(isTone(s, kToneC), qPrintable(describe(s)));
    // The ICY title, in Arabic, reaches the status line; a live stream cannot seek.
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().title, QString::fromUtf8("نشرة الأخبار"), 5000);
    QTRY_COMPARE(p.player->statusText(), QString::fromUtf8("قيد التشغيل: نشرة الأخبار"));
    QVERIFY(!p.player->findChild<QSlider *>("positionBar")->isEnabled());
}

void TestPlayerPlayback::liveStreamRidesOutStallsOnItsCushion()
{
    // The server's connect burst gives about 4 s in hand; the link holds the stream for 2.5 s
    // every 6 s, the socket kept open, then delivers what it held.
    quint16 port = 0;
    const auto link = roughLink(m_server.port(), QStringLiteral("stalls:stall-every-ms=6000,stall-ms=2500"), port);
    QVERIFY(link);
    TappedPlayer p;
    p.player->setURL(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Playing, 10000);
    // Two stalls pass without a wait: never a word other than "playing", and the audio keeps
    // coming as fast as time goes.
    playsOnFor(p, 13000, 1.5);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(p.player->status().cushionMs > 0);

    // A stall longer than the cushion: the status says the station is waited for, with the
    // seconds, and goes back to "playing" by itself when the data comes again.
    quint16 longPort = 0;
    const auto longStall =
        roughLink(m_server.port(), QStringLiteral("outage:outage-at-ms=1500,outage-ms=9000"), longPort);
    QVERIFY(longStall);
    p.states.clear();
    p.player->setURL(QStringLiteral("http://127.0.0.1:%1/").arg(longPort));
    // Silent: waiting for the late data, or (the link also refuses new connections) saying
    // which try to reach the station again is under way; never "playing".
    const auto silent = [&] {
        const PlaybackState st = p.player->status().state;
        return st == PlaybackState::Waiting || st == PlaybackState::Reconnecting;
    };
    QTRY_VERIFY_WITH_TIMEOUT(silent(), 20000);
    QVERIFY(!p.player->statusText().contains(QString::fromUtf8("قيد التشغيل")));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Playing, 20000);
    QVERIFY(!p.states.contains(PlaybackState::Lost));
}

void TestPlayerPlayback::streamWithoutBurstRidesOutJitterFromItsStart()
{
    // Without a burst the stream comes as fast as it plays: what the player gathers before
    // the first sound (0.8 s) is all it has when the link holds data back. The holds here
    // (0.37 s and 0.40 s in the first 3 s, then up to 0.45 s) leave it more than the
    // player's low mark of 0.25 s; a player that starts on libVLC's 0.3 s alone cannot.
    quint16 port = 0;
    const auto link =
        roughLink(m_server.port(), QStringLiteral("jitter:jitter-every-ms=1500,jitter-max-ms=450,seed=2"), port);
    QVERIFY(link);
    TappedPlayer p;
    p.player->setURL(QStringLiteral("http://127.0.0.1:%1/no-burst").arg(port));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Playing, 10000);
    playsOnFor(p, 10000, 0.5);
}

void TestPlayerPlayback::aSlowedStreamLeavesTheNextAtNormalSpeed()
{
    // A stream without a burst plays slower while its cushion grows. libVLC keeps a player's
    // speed from one media to the next: the file after it must play at normal speed.
    TappedPlayer p;
    p.player->setURL(m_server.url("/no-burst"));
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(p.engine->speed() - CushionKeeper::kSlowRate) < 0.001, 15000);
    p.player->setURL(m_server.url("/b.mp3"));
    p.tap->keepOnly(500);
    QTRY_VERIFY_WITH_TIMEOUT(isTone(p.tap->samples(), kToneB), 10000);
    QCOMPARE(p.engine->speed(), 1.0);
}

void TestPlayerPlayback::titleShowsWithItsAudio()
{
    // The connect burst (4 s) brings the second title with the audio after five blocks of
    // 8192 bytes, 2.6 s in: it shows when that audio is heard, not when it came.
    TappedPlayer p;
    p.player->setURL(m_server.url("/songs"));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().title, QStringLiteral("first song"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().title, QStringLiteral("second song"), 10000);
    const double heard = p.tap->seconds();
    QVERIFY2(heard > 2.0 && heard < 3.6, qPrintable(QStringLiteral("shown after %1 s of audio").arg(heard)));
}

void TestPlayerPlayback::twoPlayersPlayAtOnce()
{
    TappedPlayer one, two;
    one.player->setURL(m_server.url("/"));
    two.player->setURL(m_server.url("/list.php?id=3"));
    QTRY_VERIFY_WITH_TIMEOUT(one.tap->seconds() > 1.0 && two.tap->seconds() > 1.0, 10000);
    const QVector<qint16> a = one.tap->samples(), b = two.tap->samples();
    QVERIFY2(isTone(a, kToneC), qPrintable(describe(a)));
    QVERIFY2(isTone(b, kToneB), qPrintable(describe(b)));
    // Each player's audio holds its own tone only.
    QVERIFY(AudioCapture::strength(a, kToneB) < 0.05 * AudioCapture::strength(a, kToneC));
    QVERIFY(AudioCapture::strength(b, kToneC) < 0.05 * AudioCapture::strength(b, kToneB));
}

void TestPlayerPlayback::clickWhileOpeningAbandonsTheEarlierAddress()
{
    TappedPlayer p;
    const int slowHits = m_server.hits("/slow.mp3");
    p.player->setURL(m_server.url("/slow.mp3")); // answers after 1.5 s
    QVERIFY(holdsFor([&] { return p.player->status().state == PlaybackState::Opening; }, 100));
    p.player->stop();
    p.player->setURL(m_server.url("/b.mp3"));
    // Past the moment the slow server answers, the second address is the one that stays.
    QVERIFY(holdsFor([&] { return p.player->URL() == m_server.url("/b.mp3"); }, 2500));
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->seconds() > 1.0, 10000);
    const QVector<qint16> s = p.tap->samples();
    QVERIFY2(isTone(s, kToneB), qPrintable(describe(s)));
    QVERIFY(AudioCapture::strength(s, kToneA) < 0.05 * AudioCapture::strength(s, kToneB));
    QCOMPARE(m_server.hits("/slow.mp3"), slowHits + 1); // asked once, then dropped
    QCOMPARE(p.player->URL(), m_server.url("/b.mp3"));
}

void TestPlayerPlayback::fallsBackWhenLibvlcCannotPlayAnEntry()
{
    TappedPlayer p;
    p.player->setURL(m_server.url("/fallback.m3u")); // an mms entry nobody serves, then a file
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->seconds() > 1.0, 15000);
    const QVector<qint16> s = p.tap->samples();
    QVERIFY2(isTone(s, kToneA), qPrintable(describe(s)));
    QVERIFY(!p.states.contains(PlaybackState::CannotOpen));
}

void TestPlayerPlayback::mp3NamedToLibvlcWhateverItsLabel()
{
    // A file labelled as anything: its frames name libVLC's demuxer, which plays it without
    // probing the others (one of which once took a 320 kbit/s MP3 for another format).
    m_server.route("/download", LoopbackServer::ok("application/octet-stream", m_a));
    TappedPlayer p;
    p.player->setURL(m_server.url(QStringLiteral("/download")));
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->seconds() > 1.0, 10000);
    const QVector<qint16> s = p.tap->samples();
    QVERIFY2(isTone(s, kToneA), qPrintable(describe(s)));
}

void TestPlayerPlayback::cannotOpenThenAnotherAddressPlays()
{
    TappedPlayer p;
    p.player->setURL(m_server.url("/dead.pls"));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::CannotOpen, 5000);
    // The first entry's server answered 404, the second refused: the server's word is the reason.
    QCOMPARE(p.player->status().failure, OpenFailure::NotFound);
    QVERIFY(p.player->statusText().startsWith(QString::fromUtf8("تعذّر فتح")));
    QCOMPARE(p.tap->seconds(), 0.0);

    p.player->setURL(QStringLiteral("mms://127.0.0.1:%1/live").arg(closedPort()));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::CannotOpen, 10000);
    QCOMPARE(p.player->status().failure, OpenFailure::Refused); // MMSH, then MMS over TCP

    p.player->stop();
    p.player->setURL(m_server.url("/a.mp3"));
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->seconds() > 0.5, 10000);
    QVERIFY(isTone(p.tap->samples(), kToneA));
}

void TestPlayerPlayback::repeatedWriteRestartsAndAFilePlaysOnce()
{
    TappedPlayer p;
    const int before = m_server.hits("/short.mp3");
    p.player->setURL(m_server.url("/short.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Ended, 10000);
    const double first = p.tap->seconds();
    QVERIFY2(first > 0.4 && first < 0.9, qPrintable(QString::number(first))); // once, not repeated
    QCOMPARE(p.player->statusText(), QString::fromUtf8("انتهى"));

    // The same address again, after stop: opened and played afresh.
    p.player->stop();
    p.tap->clear();
    p.player->setURL(m_server.url("/short.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Ended, 10000);
    QVERIFY(p.tap->seconds() > 0.4);
    QVERIFY2(isTone(p.tap->samples(), kToneA), qPrintable(describe(p.tap->samples())));
    QVERIFY(m_server.hits("/short.mp3") >= before + 2);
}

void TestPlayerPlayback::closedPlayerGetsNoCallbacks()
{
    // Players closed while libVLC is busy with them, in every phase: at once, while the
    // address is being opened, once libVLC has it, and while it plays. Queued events and
    // timers must not reach them.
    const std::function<bool(TappedPlayer &)> phases[] = {
        [](TappedPlayer &) { return true; },
        [](TappedPlayer &p) { return p.states.contains(PlaybackState::Opening); },
        [](TappedPlayer &p) { return p.states.contains(PlaybackState::Buffering) || p.states.contains(PlaybackState::Playing); },
        [](TappedPlayer &p) { return p.tap->seconds() > 0.5; },
    };
    for (const auto &phase : phases) {
        auto p = std::make_unique<TappedPlayer>();
        p->player->setURL(m_server.url("/"));
        QVERIFY(waitFor([&] { return phase(*p); }, 10000));
        p.reset();
    }
    // A new player, made where the closed ones were, hears nothing of them for a while.
    TappedPlayer fresh;
    QVERIFY(holdsFor([&] { return fresh.states.isEmpty() && fresh.tap->seconds() == 0; }, 300));
    QCOMPARE(fresh.player->status().state, PlaybackState::Idle);
    QCOMPARE(fresh.player->URL(), QString());
    QCOMPARE(fresh.player->statusText(), QString::fromUtf8("جاهز"));
}

void TestPlayerPlayback::oneSharedInstance()
{
    std::weak_ptr<VlcInstance> seen;
    {
        TappedPlayer one;
        std::shared_ptr<VlcInstance> a = VlcInstance::shared();
        TappedPlayer two;
        QCOMPARE(VlcInstance::shared().get(), a.get());
        seen = a;
    }
    QVERIFY(seen.expired()); // released with the last player
}

void TestPlayerPlayback::slowPluginsAreThereToLoadAhead()
{
    // A plugin renamed or moved by a libVLC package would make its loading ahead a silent
    // no-op, and the first mms station slower by its 20 to 30 ms.
    for (const char *plugin : VlcPluginPreload::plugins()) {
        const QString path = VlcPluginPreload::defaultFolder() + u'/' + QLatin1StringView(plugin);
        QVERIFY2(QFile::exists(path), qPrintable(path));
    }
}

void TestPlayerPlayback::brokenLibvlcSaysWhatToInstall()
{
    try {
        VlcInstance::create({QStringLiteral("--no-such-option-at-all")});
        QFAIL("libVLC accepted a bad argument");
    } catch (const PlayerFailure &e) {
        QCOMPARE(e.kind(), PlayerFailure::Kind::CannotCreate);
        QVERIFY2(e.description().contains("vlc-plugin-base") && e.description().contains("libvlc-bin"),
                 qPrintable(e.description()));
    }
}

void TestPlayerPlayback::screenshots()
{
    TappedPlayer p;
    p.player->show();
    QCOMPARE(p.player->size(), QSize(465, 97));
    const QString dir = QDir::currentPath();
    QVERIFY(p.player->grab().save(dir + "/player-idle.png"));
    p.player->setURL(m_server.url("/"));
    // Playing, with the stream's title: the title may come while the first audio is buffered.
    QTRY_VERIFY_WITH_TIMEOUT(p.player->status().state == PlaybackState::Playing
                                 && p.player->status().title == QString::fromUtf8("نشرة الأخبار"),
                             10000);
    QVERIFY(p.player->grab().save(dir + "/player-playing.png"));
    p.player->showNoAddress({"E05", "Form2.Command5.domain"}, "/nonexistent/endpoints.conf");
    QVERIFY(p.player->grab().save(dir + "/player-no-address.png"));
    qInfo() << "screenshots in" << dir;
}

QTEST_MAIN(TestPlayerPlayback)
#include "tst_player_playback.moc"
