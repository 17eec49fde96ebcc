// The player as the station page uses it, on a recording stand-in for libVLC: what reaches
// the engine, in which order, with exactly which address; the player's own controls and its
// Arabic status line; playStation.

#include "play_station.h"
#include "player_control.h"
#include "player_errors.h"
#include "recording_backend.h"
#include "runtime_error.h"

#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QToolButton>

using namespace lumora;
using namespace lumora::test;

namespace {

struct Recorded {
    explicit Recorded(const PlayerSettings &settings = PlayerSettings::stored())
    {
        auto b = std::make_unique<RecordingBackend>();
        backend = b.get();
        player = std::make_unique<PlayerControl>(settings, std::move(b));
    }
    QString statusLine() const { return player->findChild<QLabel *>("statusLine")->text(); }
    template <typename T> T *child(const char *name) const { return player->findChild<T *>(name); }

    std::unique_ptr<PlayerControl> player;
    RecordingBackend *backend = nullptr;
};

// A complete configuration: every key gets a value that addressOf accepts.
EndpointTable completeTable()
{
    EndpointTable t;
    for (const QString &key : EndpointTable::allKeys()) {
        switch (*EndpointTable::keyType(key)) {
        case EndpointTable::KeyType::Endpoint:
            t.set(key, key == u"E03" ? QStringLiteral("media.example.net")
                                     : QStringLiteral("127.0.0.1:%1").arg(8000 + key.mid(1).toInt()));
            break;
        case EndpointTable::KeyType::Id: t.set(key, QStringLiteral("0123456789abcdef0123456789abcdef")); break;
        case EndpointTable::KeyType::Stream: t.set(key, QStringLiteral("{12345678-1234-1234-1234-123456789abc}")); break;
        case EndpointTable::KeyType::Name: t.set(key, QStringLiteral("example")); break;
        }
    }
    return t;
}

} // namespace

class TestPlayerControl : public QObject {
    Q_OBJECT

private slots:
    void createdIdleWithStoredSettings();
    void urlIsKeptExactly_data();
    void urlIsKeptExactly();
    void playStationStopsThenWrites();
    void everyStationReachesItsOwnPlayerWithItsAddress();
    void stationWithoutAddressStopsAndSaysWhichKeys();
    void failuresAreRuntimeErrors();
    void statusLineInArabic_data();
    void statusLineInArabic();
    void ownControls();
    void settingsShapeTheInterface();
};

void TestPlayerControl::createdIdleWithStoredSettings()
{
    Recorded r;
    QCOMPARE(r.player->objectName(), QString("WindowsMediaPlayer1"));
    QCOMPARE(r.player->size(), QSize(465, 97));
    QCOMPARE(r.player->sizeHint(), QSize(465, 97));
    QCOMPARE(r.player->URL(), QString());
    QCOMPARE(r.player->status().state, PlaybackState::Idle);
    QCOMPARE(r.statusLine(), QString::fromUtf8("جاهز"));
    QVERIFY(r.backend->actions().isEmpty()); // nothing opened, nothing stopped

    const PlayerSettings &s = r.backend->configured;
    QCOMPARE(s.volume, 50);
    QCOMPARE(s.mute, false);
    QCOMPARE(s.rate, 1.0);
    QCOMPARE(s.playCount, 1);
    QCOMPARE(s.stretchToFit, false);
    QCOMPARE(r.child<QSlider>("volumeSlider")->value(), 50);
    QCOMPARE(r.child<QToolButton>("muteButton")->toolTip(), QString::fromUtf8("كتم الصوت"));
    QVERIFY(!r.child<QSlider>("positionBar")->isEnabled());
    QVERIFY(r.child<QSlider>("positionBar")->isVisibleTo(r.player.get()));
    QCOMPARE(r.child<QToolButton>("playPauseButton")->toolTip(), QString::fromUtf8("تشغيل"));
    QVERIFY(!r.child<QToolButton>("playPauseButton")->icon().isNull());
    QCOMPARE(r.player->contextMenuPolicy(), Qt::DefaultContextMenu);
    QCOMPARE(r.player->layoutDirection(), Qt::RightToLeft);

    // stop on an idle player does nothing visible.
    r.player->stop();
    QCOMPARE(r.backend->actions(), QStringList{"stop"});
}

void TestPlayerControl::urlIsKeptExactly_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("arabic letters") << QString::fromUtf8("http://h/game/game/701/إذاعة_راديو_إسماعيلية_مول.html");
    QTest::newRow("spaces") << "http://h/Radio Sawa Live/live.asx";
    QTest::newRow("%20") << "http://h/Radio%20Orient/video.asx";
    QTest::newRow("mms inside a query") << "http://h/players/playasx.php?url=mms://m.example/live";
    QTest::newRow("ends with the port") << "http://127.0.0.1:8007";
    QTest::newRow("ends with /") << "http://h/";
    QTest::newRow("mms") << "mms://h/SootArab";
    QTest::newRow("query without key") << "http://h/listen.php?0123456789abcdef0123456789abcdef";
}

void TestPlayerControl::urlIsKeptExactly()
{
    QFETCH(QString, address);
    Recorded r;
    r.player->setURL(address);
    QCOMPARE(r.player->URL(), address);
    QCOMPARE(r.player->property("URL").toString(), address);
    QCOMPARE(r.backend->actions(), QStringList{"open:" + address});
    // The same address again opens it again.
    r.player->setURL(address);
    QCOMPARE(r.backend->actions(), (QStringList{"open:" + address, "open:" + address}));
}

void TestPlayerControl::playStationStopsThenWrites()
{
    Recorded r;
    const Station &station = *findStation(Page::Form2, 11);
    const EndpointTable table = completeTable();
    const QString address = addressOf(station, table).text;
    QVERIFY(address.contains(QString::fromUtf8("إذاعة_راديو")));

    playStation(*r.player, station, table);
    QCOMPARE(r.backend->actions(), (QStringList{"stop", "open:" + address}));
    QCOMPARE(r.player->URL(), address);
    playStation(*r.player, station, table); // the station already playing: stop, open again
    const Station &other = *findStation(Page::Form2, 16);
    playStation(*r.player, other, table);
    const QString otherAddress = addressOf(other, table).text;
    QCOMPARE(r.backend->actions(), (QStringList{"stop", "open:" + address, "stop", "open:" + address,
                                                "stop", "open:" + otherAddress}));
    QCOMPARE(r.player->URL(), otherAddress);
}

void TestPlayerControl::everyStationReachesItsOwnPlayerWithItsAddress()
{
    // One player per page; every station of the catalogue played on its page's player.
    const EndpointTable table = completeTable();
    std::map<Page, std::unique_ptr<Recorded>> pages;
    for (const Station &s : allStations())
        if (!pages.count(s.page))
            pages[s.page] = std::make_unique<Recorded>();
    QCOMPARE(int(pages.size()), 17);

    int played = 0;
    for (const Station &s : allStations()) {
        std::map<Page, QStringList> before;
        for (auto &[page, r] : pages)
            before[page] = r->backend->actions();
        playStation(*pages[s.page]->player, s, table);
        const QString address = addressOf(s, table).text;
        for (auto &[page, r] : pages) {
            QStringList now = r->backend->actions();
            if (page == s.page)
                QCOMPARE(now.mid(before[page].size()), (QStringList{"stop", "open:" + address}));
            else
                QCOMPARE(now.size(), before[page].size());
        }
        ++played;
    }
    QCOMPARE(played, 158);
}

void TestPlayerControl::stationWithoutAddressStopsAndSaysWhichKeys()
{
    Recorded r;
    EndpointTable table = completeTable();
    const Station &good = *findStation(Page::Form2, 3);
    playStation(*r.player, good, table);

    EndpointTable partial;
    partial.set("E04", "radio.example.org");
    const Station &incomplete = *findStation(Page::Form2, 5); // mms://E05/live_{account}_{domain}_...
    playStation(*r.player, incomplete, partial); // no exception
    QCOMPARE(r.backend->actions().mid(2), QStringList{"stop"});
    QCOMPARE(r.player->status().state, PlaybackState::NoAddress);
    QCOMPARE(r.player->status().missingKeys,
             (QStringList{"E05", "Form2.Command5.account", "Form2.Command5.domain"}));
    QCOMPARE(r.player->statusText(),
             QString::fromUtf8("لا يوجد عنوان مُعَدّ (E05, Form2.Command5.account, Form2.Command5.domain)"));
    QCOMPARE(r.player->findChild<QLabel *>("statusLine")->toolTip(), r.player->statusText());

    // The page's other stations still play.
    playStation(*r.player, *findStation(Page::Form2, 4), partial);
    QCOMPARE(r.backend->actions().last(), QString("open:http://radio.example.org/live"));
}

void TestPlayerControl::failuresAreRuntimeErrors()
{
    const EndpointTable table = completeTable();
    const Station &station = *findStation(Page::Form3, 1);
    {
        Recorded r;
        r.backend->failStop = true;
        try {
            playStation(*r.player, station, table);
            QFAIL("a failed stop was not raised");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), PlayerError::Failed);
            QVERIFY(e.description().contains("could not stop"));
            QVERIFY(e.description().contains("the engine refused"));
        }
        QCOMPARE(r.backend->actions(), QStringList{"stop"}); // no address after a failed stop
        QCOMPARE(r.player->URL(), QString());
    }
    {
        Recorded r;
        r.backend->failOpen = true;
        QVERIFY_THROWS_EXCEPTION(RuntimeError, playStation(*r.player, station, table));
        QCOMPARE(r.backend->actions(), (QStringList{"stop", "open:" + addressOf(station, table).text}));
    }
}

void TestPlayerControl::statusLineInArabic_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("opening") << int(PlaybackState::Opening) << 0 << "" << QString::fromUtf8("جارٍ الفتح…");
    QTest::newRow("buffering") << int(PlaybackState::Buffering) << 42 << "" << QString::fromUtf8("جارٍ التخزين المؤقت 42٪");
    QTest::newRow("playing") << int(PlaybackState::Playing) << 0 << "" << QString::fromUtf8("قيد التشغيل");
    QTest::newRow("playing with title") << int(PlaybackState::Playing) << 0 << "Radio Sawa - News"
                                        << QString::fromUtf8("قيد التشغيل: Radio Sawa - News");
    QTest::newRow("paused") << int(PlaybackState::Paused) << 0 << "" << QString::fromUtf8("إيقاف مؤقت");
    QTest::newRow("stopped") << int(PlaybackState::Stopped) << 0 << "" << QString::fromUtf8("متوقف");
    QTest::newRow("ended") << int(PlaybackState::Ended) << 0 << "" << QString::fromUtf8("انتهى");
    QTest::newRow("cannot open") << int(PlaybackState::CannotOpen) << 0 << "" << QString::fromUtf8("تعذّر فتح العنوان");
}

void TestPlayerControl::statusLineInArabic()
{
    QFETCH(int, state);
    QFETCH(int, percent);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Recorded r;
    r.backend->publish(PlaybackState(state), percent, title);
    QCOMPARE(r.player->statusText(), text);
    QCOMPARE(r.statusLine(), text);
}

void TestPlayerControl::ownControls()
{
    Recorded r;
    auto *play = r.child<QToolButton>("playPauseButton");
    r.player->setURL("http://h/live");
    r.backend->publish(PlaybackState::Playing);
    QCOMPARE(play->toolTip(), QString::fromUtf8("إيقاف مؤقت"));
    play->click();
    QCOMPARE(r.backend->calls.last(), QString("pause"));
    r.backend->publish(PlaybackState::Paused);
    play->click();
    QCOMPARE(r.backend->calls.last(), QString("resume"));
    r.child<QToolButton>("stopButton")->click();
    QCOMPARE(r.backend->calls.last(), QString("stop"));
    QCOMPARE(r.statusLine(), QString::fromUtf8("متوقف"));
    play->click(); // stopped: plays the player's address again
    QCOMPARE(r.backend->calls.last(), QString("open:http://h/live"));
    r.child<QToolButton>("muteButton")->click();
    QCOMPARE(r.backend->calls.last(), QString("mute:1"));
    QCOMPARE(r.child<QToolButton>("muteButton")->toolTip(), QString::fromUtf8("إلغاء كتم الصوت"));
    r.child<QSlider>("volumeSlider")->setValue(70);
    QCOMPARE(r.backend->calls.last(), QString("volume:70"));

    // The engine says the stream can seek: the position bar becomes active and seeks.
    emit r.backend->seekableChanged(true);
    auto *bar = r.child<QSlider>("positionBar");
    QVERIFY(bar->isEnabled());
    emit r.backend->positionChanged(0.25);
    QCOMPARE(bar->value(), 250);
}

void TestPlayerControl::settingsShapeTheInterface()
{
    PlayerSettings s = PlayerSettings::stored();
    s.enabled = false;
    s.enableContextMenu = false;
    s.uiMode = "none";
    s.volume = 20;
    s.mute = true;
    Recorded r(s);
    QCOMPARE(r.backend->configured.volume, 20);
    QCOMPARE(r.child<QSlider>("volumeSlider")->value(), 20);
    QCOMPARE(r.child<QToolButton>("muteButton")->toolTip(), QString::fromUtf8("إلغاء كتم الصوت"));
    QVERIFY(!r.child<QToolButton>("stopButton")->isEnabled());
    QVERIFY(!r.child<QToolButton>("stopButton")->isVisibleTo(r.player.get()));
    QCOMPARE(r.player->contextMenuPolicy(), Qt::NoContextMenu);
    // stop and URL work whatever the interface shows.
    r.player->setURL("http://h/x");
    QCOMPARE(r.backend->actions(), QStringList{"open:http://h/x"});
}

QTEST_MAIN(TestPlayerControl)
#include "tst_player_control.moc"
