// Real players against the station simulator, through the real windows: the user clicks a
// station and hears that station's tone. Each player's audio is captured (libVLC's audio
// callbacks) and its frequency measured.

#include "tests/support/audio_capture.h"
#include "tests/support/config_home.h"
#include "tests/support/context_menu.h"
#include "tests/support/page_set_driver.h"
#include "tests/support/simulator_thread.h"
#include "tests/support/wait.h"

#include "app/memory_files.h"
#include "app/page_instance.h"
#include "app/station_page.h"
#include "catalogue/address.h"
#include "catalogue/page_directory.h"
#include "player/common/player_settings.h"
#include "player/engine/vlc_backend.h"
#include "player/widget/player_control.h"
#include "player/widget/player_texts.h"
#include "ui/page_window.h"

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QDir>
#include <QMenuBar>
#include <QMenu>
#include <QMessageBox>
#include <QSlider>
#include <map>
#include <memory>
#include <vector>

using namespace lumora;
using namespace lumora::test;

namespace {

// Real players whose audio goes to taps of the test's own instead of the sound card.
struct TappedPlayers {
    // Captures outlive the players that feed them: they are kept until the test ends.
    std::vector<std::unique_ptr<AudioCapture>> taps;
    std::map<Page, AudioCapture *> current;

    PlayerFactory factory()
    {
        return [this](QWidget *clientArea) {
            auto engine = std::make_unique<VlcBackend>();
            taps.push_back(std::make_unique<AudioCapture>(*engine));
            const Page page = qobject_cast<PageWindow *>(clientArea->window())->layout().page;
            current[page] = taps.back().get();
            return new PlayerControl(PlayerSettings::stored(), std::move(engine), clientArea);
        };
    }
    AudioCapture *tap(Page page) { return current.at(page); }
};

// The simulator on free loopback ports, and a configuration pointing at it.
struct Stations {
    SimulatorThread simulator;
    ConfigHome config;

    Stations()
    {
        QString error;
        if (!simulator.begin([](sim::StationSimulator &s) {
                s.setMp3FileSeconds(20);
                s.setRealFileSeconds(30);
            }, &error))
            qFatal("simulator: %s", qPrintable(error));
        config.write(simulator.config());
    }
};

double heardHz(AudioCapture *tap) { return tap->frequency(tap->samples()); }

// Everything captured since the last clear, over half a second of it, is the tone hz.
bool hears(AudioCapture *tap, int hz)
{
    const QVector<qint16> s = tap->samples();
    return s.size() > tap->rate() / 2 && qAbs(tap->frequency(s) - hz) < hz * 0.02 && tap->level(s) > 0.01;
}

QString label(const Station &s)
{
    return QStringLiteral("%1 %2 (%3)").arg(pageName(s.page), s.buttonName(), kindName(s.kind));
}

} // namespace

class TestStationPlayback : public QObject {
    Q_OBJECT

private slots:
    void startUpReadsNothingAndTheFirstClickReadsTheConfiguration()
    {
        // The configuration appears only after start-up: it is read at the first click.
        SimulatorThread simulator;
        QVERIFY(simulator.begin());
        ConfigHome config;
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        shell.goTo(Page::Form2);
        QVERIFY(!shell.pages.endpoints().loaded());
        config.write(simulator.config());
        shell.click(station(Page::Form2, 1));
        QVERIFY(shell.pages.endpoints().loaded());
        QTRY_VERIFY_WITH_TIMEOUT(hears(players.tap(Page::Form2),
                                       sim::StationSimulator::toneHz(station(Page::Form2, 1))), 15000);
    }

    // One station of every kind of address, both schemes, each on its own page so that all
    // play at once: the pages left behind are hidden and go on playing.
    void everyKindPlaysItsOwnTone()
    {
        Stations stations;
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        const QList<std::pair<Page, int>> rounds[] = {
            {
                {Page::Form3, 1},   // ASX on the shared portal
                {Page::Form2, 2},   // M3U behind a query
                {Page::Form16, 7},  // PLS
                {Page::Form4, 12},  // WPL behind a bare query value
                {Page::Form8, 2},   // WVX
                {Page::Form5, 7},   // mms, .wm
                {Page::Form18, 4},  // RealMedia
                {Page::Form7, 1},   // HTML page (.htm) embedding the stream
                {Page::Form6, 3},   // PHP script handing out an mms address
                {Page::Form15, 5},  // ASP script
                {Page::Form14, 6},  // bare server at "/"
                {Page::Form9, 7},   // mms root, empty remainder
                {Page::Form11, 1},  // "/?id=" root with a query
                {Page::Form12, 2},  // no extension, spaces in the path
                {Page::Form13, 1},  // PHP with a query
                {Page::Form17, 8},  // ASX with a query
                {Page::Form10, 6},  // ASX on the portal, caption with a doubled letter
            },
            {
                {Page::Form5, 9},   // mms, .wav
                {Page::Form2, 11},  // HTML page with Arabic letters in its path
                {Page::Form4, 18},  // MP3 file
                {Page::Form12, 1},  // HTML page with Arabic letters
                {Page::Form16, 2},  // bare server, empty remainder
                {Page::Form15, 1},  // root with a long query
                {Page::Form17, 4},  // no extension, spaces
                {Page::Form3, 3},   // ASX on another server
                {Page::Form7, 8},   // "%20" in the path
            },
        };
        for (const auto &round : rounds) {
            QList<const Station *> played;
            for (const auto &[page, number] : round) {
                const Station &s = station(page, number);
                shell.click(s);
                players.tap(page)->clear();
                played << &s;
            }
            shell.goTo(Page::Form1);
            const bool all = waitFor([&] {
                for (const Station *s : played)
                    if (!hears(players.tap(s->page), sim::StationSimulator::toneHz(*s)))
                        return false;
                return true;
            }, 30000);
            QStringList report;
            for (const Station *s : played) {
                AudioCapture *tap = players.tap(s->page);
                const int expected = sim::StationSimulator::toneHz(*s);
                report << QStringLiteral("%1: want %2 Hz, heard %3 Hz over %4 s, status \"%5\"")
                              .arg(label(*s)).arg(expected).arg(heardHz(tap), 0, 'f', 1)
                              .arg(tap->seconds(), 0, 'f', 1).arg(shell.player(s->page)->statusText());
            }
            qInfo().noquote() << report.join(u'\n');
            QVERIFY2(all, qPrintable(report.join(u'\n')));
            QVERIFY(!QApplication::activeModalWidget());
        }
        // Every player plays on while the main page is in front.
        QMap<Page, double> before;
        for (auto &[page, tap] : players.current)
            before[page] = tap->seconds();
        for (auto &[page, tap] : players.current)
            if (page != Page::Form4) // the MP3 file may be at its end
                QTRY_VERIFY2_WITH_TIMEOUT(tap->seconds() > before[page] + 0.5, qPrintable(pageName(page)), 10000);
    }

    // All 158 stations, each by its own button: round k plays station k of every page that
    // has one, all pages at once.
    void everyStationPlaysItsOwnTone()
    {
        Stations stations;
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        QStringList failures;
        int heard = 0;
        for (int k = 1; k <= 28; ++k) {
            QList<const Station *> played;
            for (const PageEntry &e : PageDirectory::entries()) {
                if (k > int(stationsOf(e.page).size()))
                    continue;
                const Station &s = station(e.page, k);
                shell.click(s);
                players.tap(e.page)->clear();
                played << &s;
            }
            QList<const Station *> waiting = played;
            waitFor([&] {
                waiting.removeIf([&](const Station *s) {
                    return hears(players.tap(s->page), sim::StationSimulator::toneHz(*s));
                });
                return waiting.isEmpty();
            }, 20000);
            heard += int(played.size() - waiting.size());
            for (const Station *s : waiting)
                failures << QStringLiteral("%1: want %2 Hz, heard %3 Hz, status \"%4\"")
                                .arg(label(*s)).arg(sim::StationSimulator::toneHz(*s))
                                .arg(heardHz(players.tap(s->page)), 0, 'f', 1)
                                .arg(shell.player(s->page)->statusText());
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
        QCOMPARE(heard, 158);
    }

    void theLastClickDecidesWhatPlays()
    {
        Stations stations;
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        const Station &first = station(Page::Form2, 1), &second = station(Page::Form2, 3);
        shell.click(first);
        shell.click(second); // while the first is still opening
        players.tap(Page::Form2)->clear();
        QTRY_VERIFY_WITH_TIMEOUT(hears(players.tap(Page::Form2), sim::StationSimulator::toneHz(second)), 15000);
        // A second and a half more of it, and nothing of the first station in all of it.
        AudioCapture *tap = players.tap(Page::Form2);
        const double heard = tap->seconds();
        QTRY_VERIFY_WITH_TIMEOUT(tap->seconds() > heard + 1.5, 10000);
        const QVector<qint16> s = tap->samples();
        QVERIFY(tap->strength(s, sim::StationSimulator::toneHz(first))
                < 0.05 * tap->strength(s, sim::StationSimulator::toneHz(second)));
        // A repeated click joins the stream afresh and plays the same tone again.
        shell.click(second);
        players.tap(Page::Form2)->clear();
        QTRY_VERIFY_WITH_TIMEOUT(hears(players.tap(Page::Form2), sim::StationSimulator::toneHz(second)), 15000);
    }

    void anUnreachableStationCannotOpenAndThePageGoesOn()
    {
        Stations stations;
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        const Station &dead = station(Page::Form3, 2), &alive = station(Page::Form3, 5);
        stations.simulator.setFault(dead, sim::Fault::NotFound);
        shell.click(dead);
        QTRY_COMPARE_WITH_TIMEOUT(shell.player(Page::Form3)->status().state, PlaybackState::CannotOpen, 15000);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(shell.ends.isEmpty());
        shell.click(alive);
        players.tap(Page::Form3)->clear();
        QTRY_VERIFY_WITH_TIMEOUT(hears(players.tap(Page::Form3), sim::StationSimulator::toneHz(alive)), 15000);
    }

    void aStationGivenItsOwnAddressPlaysFromIt()
    {
        // The listener's configuration gives Form3's second station the address at which
        // the simulator serves its fifth: that is what the player gets and what is heard.
        Stations stations;
        const Station &moved = station(Page::Form3, 2), &elsewhere = station(Page::Form3, 5);
        const QString address = addressOf(elsewhere, stations.simulator.table()).text;
        stations.config.write(stations.simulator.config() + "\nForm3.Command2 = " + address.toUtf8() + "\n");
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        shell.click(moved);
        QCOMPARE(shell.player(Page::Form3)->URL(), address);
        QTRY_VERIFY_WITH_TIMEOUT(hears(players.tap(Page::Form3), sim::StationSimulator::toneHz(elsewhere)), 15000);
    }

    // A station that streams HLS today: a click plays its high variant (the station's own
    // tone), segment after segment, as long as the page listens.
    void anHlsStationPlaysItsTone()
    {
        Stations stations;
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        const Station &hls = station(Page::Form3, 4);
        stations.simulator.setFault(hls, sim::Fault::Hls);
        shell.goTo(Page::Form3);
        shell.click(hls);
        AudioCapture *tap = players.tap(Page::Form3);
        QTRY_VERIFY2_WITH_TIMEOUT(tap->hears(sim::StationSimulator::toneHz(hls)), qPrintable(tap->describe()), 20000);
        // Past the segments listed when it was joined: the playlist is followed live.
        QTRY_VERIFY_WITH_TIMEOUT(tap->totalSeconds() > 9, 20000);
        QVERIFY2(tap->hears(sim::StationSimulator::toneHz(hls)), qPrintable(tap->describe()));
        QCOMPARE(shell.player(Page::Form3)->status().state, PlaybackState::Playing);
    }

    // The listener's configuration limits the bandwidth of the variant played: on every page
    // the player takes the lower one (its own tone, half again as high as the station's).
    void theConfiguredBandwidthLimitChoosesTheVariant()
    {
        Stations stations;
        const qint64 limit = sim::StationSimulator::kHlsHighBandwidth - 1;
        stations.config.write(stations.simulator.config() + "\nHls.MaxBandwidth = " + QByteArray::number(limit) + "\n");
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        for (const Station *hls : {&station(Page::Form3, 4), &station(Page::Form2, 3)}) {
            stations.simulator.setFault(*hls, sim::Fault::Hls);
            shell.goTo(hls->page);
            shell.click(*hls);
            AudioCapture *tap = players.tap(hls->page);
            const int low = sim::StationSimulator::hlsLowToneHz(stations.simulator.served(*hls));
            QTRY_VERIFY2_WITH_TIMEOUT(tap->hears(low), qPrintable(tap->describe()), 20000);
        }
        int high = 0, lowRequests = 0;
        for (const sim::RequestRecord &r : stations.simulator.requestLog()) {
            high += r.target.endsWith("/hi/index.m3u8") ? 1 : 0;
            lowRequests += r.target.endsWith("/lo/index.m3u8") ? 1 : 0;
        }
        QCOMPARE(high, 0);
        QVERIFY(lowRequests >= 2);
    }

    void aPageClosedFromItsFrameComesBackWithANewIdlePlayer()
    {
        Stations stations;
        TappedPlayers players;
        PageSetDriver shell(players.factory());
        const Station &s = station(Page::Form7, 2);
        shell.click(s);
        AudioCapture *oldTap = players.tap(Page::Form7);
        QTRY_VERIFY_WITH_TIMEOUT(hears(oldTap, sim::StationSimulator::toneHz(s)), 15000);
        PlayerControl *oldPlayer = shell.player(Page::Form7);
        QPointer<PlayerControl> watch(oldPlayer);

        shell.window(Page::Form7)->close();
        QTRY_VERIFY(watch.isNull()); // the window and its player are gone
        QCOMPARE(shell.ends, QList<int>{0}); // no page was left visible
        // and its playback ended: no more audio for a while (a deliberate fixed look)
        const double heard = oldTap->seconds();
        QVERIFY(holdsFor([&] { return oldTap->seconds() == heard; }, 700));

        shell.pages.showPage(Page::Form7, Page::Form1);
        PlayerControl *fresh = shell.player(Page::Form7);
        QVERIFY(fresh);
        QCOMPARE(fresh->status().state, PlaybackState::Idle);
        QVERIFY(fresh->URL().isEmpty());
        // The old station does not resume: the new player stays silent for a while.
        QVERIFY(holdsFor([&] { return players.tap(Page::Form7)->seconds() == 0.0; }, 700));
    }

    // Asked to (from a player's context menu), the pages that were playing when the program
    // ended play again at the next start, unseen behind the main page, at the volume they had.
    void playingPagesPlayAgainAtTheNextStart()
    {
        Stations stations;
        const Station &m3u = station(Page::Form2, 2);   // M3U behind a query
        const Station &bare = station(Page::Form14, 6); // bare server at "/"
        {
            TappedPlayers players;
            PageSetDriver shell(players.factory(), MemoryFiles::user());
            shell.click(m3u);
            shell.player(Page::Form2)->findChild<QSlider *>("volumeSlider")->setValue(35);
            shell.click(bare);
            QTRY_VERIFY_WITH_TIMEOUT(hears(players.tap(Page::Form14), sim::StationSimulator::toneHz(bare)), 15000);
            const QString resume = playerLabel(PlayerLabel::ResumePlaying);
            QVERIFY(contextMenu(shell.player(Page::Form14), resume).contains(resume));
            PageSetDriver::menuItem(shell.window(Page::Form14), QStringLiteral("exit"))->trigger();
            QCOMPARE(shell.ends, QList<int>{0});
        }
        TappedPlayers players;
        PageSetDriver shell(players.factory(), MemoryFiles::user());
        QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
        for (const Station *s : {&m3u, &bare})
            QTRY_VERIFY2_WITH_TIMEOUT(hears(players.tap(s->page), sim::StationSimulator::toneHz(*s)),
                                      qPrintable(label(*s)), 15000);
        QCOMPARE(shell.player(Page::Form2)->volume(), 35);
        QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
    }

    void endingTheProgramEndsEveryPlayer()
    {
        Stations stations;
        TappedPlayers players;
        {
            PageSetDriver shell(players.factory());
            shell.click(station(Page::Form9, 2));
            shell.click(station(Page::Form10, 3));
            QTRY_VERIFY_WITH_TIMEOUT(players.tap(Page::Form9)->seconds() > 0.5
                                         && players.tap(Page::Form10)->seconds() > 0.5, 15000);
            PageSetDriver::menuItem(shell.window(Page::Form10), QStringLiteral("exit"))->trigger();
            QCOMPARE(shell.ends, QList<int>{0});
        } // the program's page set goes with the end of the event loop, and its players with it
        const double a = players.tap(Page::Form9)->seconds(), b = players.tap(Page::Form10)->seconds();
        // Silence from both for a while: their playback ended with them.
        QVERIFY(holdsFor([&] {
            return players.tap(Page::Form9)->seconds() == a && players.tap(Page::Form10)->seconds() == b;
        }, 700));
    }

    // A station page as a person sees it, saved as PNG pictures to look at: before anything
    // plays, playing, failing, not set up, and with its "to" menu open. Pictures go to
    // $LUMORA_SCREENS_DIR, or the current folder.
    void aPageAsItLooks()
    {
        const QString dir = qEnvironmentVariable("LUMORA_SCREENS_DIR", QDir::currentPath());
        const auto save = [&](QWidget *w, const QString &name) {
            QVERIFY2(w->grab().save(dir + u'/' + name), qPrintable(name));
        };
        {
            Stations stations;
            TappedPlayers players;
            PageSetDriver shell(players.factory());
            shell.goTo(Page::Form5);
            PageWindow *window = shell.window(Page::Form5);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            save(window, "page-idle.png");

            shell.click(station(Page::Form5, 1));
            PlayerControl *player = shell.player(Page::Form5);
            QTRY_COMPARE_WITH_TIMEOUT(player->status().state, PlaybackState::Playing, 20000);
            QTRY_VERIFY_WITH_TIMEOUT(hears(players.tap(Page::Form5), sim::StationSimulator::toneHz(station(Page::Form5, 1))), 20000);
            save(window, "page-playing.png");

            stations.simulator.setFault(station(Page::Form5, 2), sim::Fault::Refuse);
            shell.click(station(Page::Form5, 2));
            QTRY_COMPARE_WITH_TIMEOUT(player->status().state, PlaybackState::CannotOpen, 20000);
            save(window, "page-failing.png");

            QTest::keyClick(window, Qt::Key_F10);
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Left);
            auto *to = window->menuBar()->findChild<QMenu *>(QStringLiteral("to"));
            QTRY_VERIFY(to->isVisible());
            save(to, "menu-to.png");
            QTest::keyClick(to, Qt::Key_Escape);
        }
        {
            ConfigHome nothingYet;
            PageSetDriver shell;
            shell.click(station(Page::Form5, 1));
            QCOMPARE(shell.player(Page::Form5)->status().state, PlaybackState::NoAddress);
            save(shell.window(Page::Form5), "page-first-run.png");
        }
        qInfo() << "pictures in" << dir;
    }
};

QTEST_MAIN(TestStationPlayback)
#include "tst_station_playback.moc"
