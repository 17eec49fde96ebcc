// The worst event-loop stall at a station switch: from the click on another station of the
// page to its "playing" and 300 ms beyond, the longest the GUI thread's event loop went without
// running (time spent waiting for a processor left out, as the tests' stall meter does). Two
// switches: to a plain live station, and to one behind a mebibyte of Arabic playlist (an M3U
// whose first entry is that long, the worst of the large playlists for the player to read);
// each also with two busy loops beside the program, as on a loaded CI machine. Players are the
// program's own on real libVLC, their audio captured instead of played. Prints
// "switch_plain", "switch_playlist", "switch_plain_busy" and "switch_playlist_busy" in ms,
// one line each per round.
//   lumora-bench-switch [ROUNDS]

#include "bench_support.h"

#include "tests/support/audio_capture.h"
#include "tests/support/config_home.h"
#include "tests/support/large_playlist.h"
#include "tests/support/loopback_server.h"
#include "tests/support/page_set_driver.h"
#include "tests/support/simulator_thread.h"
#include "tests/support/stall_meter.h"

#include "app/page_set.h"
#include "player/common/player_settings.h"
#include "player/engine/vlc_backend.h"
#include "player/net/wire_url.h"
#include "player/widget/player_control.h"
#include "tools/station-sim/served_station.h"

#include <QApplication>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

using namespace lumora;
using namespace lumora::bench;

namespace {

// The large playlist's server on a thread of its own, so that sending the mebibyte is not
// counted against the program's event loop.
class PlaylistServerThread : public QThread {
public:
    explicit PlaylistServerThread(test::LargePlaylistBody list) : m_list(std::move(list)) {}
    ~PlaylistServerThread() override
    {
        quit();
        wait();
    }
    quint16 begin()
    {
        start();
        m_ready.acquire();
        return m_port;
    }

protected:
    void run() override
    {
        test::LoopbackServer server;
        const test::Route answer = test::LoopbackServer::ok(m_list.contentType, m_list.body);
        server.fallback([answer](const QByteArray &) { return answer; });
        m_port = server.port();
        m_ready.release();
        exec();
    }

private:
    test::LargePlaylistBody m_list;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

// Two threads spinning for as long as they live.
class BusyLoops {
public:
    BusyLoops()
    {
        for (int i = 0; i < 2; ++i)
            m_threads.emplace_back([this] {
                while (!m_stop.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~BusyLoops()
    {
        m_stop = true;
        for (std::thread &t : m_threads)
            t.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

bool isLive(const sim::ServedStation &s)
{
    return s.scheme == Scheme::Http && (s.answer == sim::Answer::IcyServer || s.answer == sim::Answer::IcecastMount);
}

struct Stations {
    const Station *first = nullptr;    // playing before each switch
    const Station *plain = nullptr;    // another live station of the page
    const Station *playlist = nullptr; // its endpoint is pointed at the large playlist
};

// A page with two live stations on their own endpoints and an http station on a third.
Stations pickStations(const EndpointTable &table)
{
    const QList<sim::ServedStation> served = sim::servedStations(table);
    auto servedOf = [&](const Station &st) -> const sim::ServedStation * {
        for (const sim::ServedStation &s : served)
            if (s.stations.contains(&st))
                return &s;
        return nullptr;
    };
    for (int p = 0; p < kStationPageCount; ++p) {
        Stations found;
        for (const Station &st : stationsOf(Page(int(Page::Form2) + p))) {
            const sim::ServedStation *s = servedOf(st);
            if (!s || s->scheme != Scheme::Http)
                continue;
            if (isLive(*s) && !found.first)
                found.first = &st;
            else if (isLive(*s) && !found.plain && st.endpoint != found.first->endpoint)
                found.plain = &st;
        }
        if (!found.plain)
            continue;
        for (const Station &st : stationsOf(found.first->page)) {
            const sim::ServedStation *s = servedOf(st);
            if (s && s->scheme == Scheme::Http && st.endpoint != found.first->endpoint
                && st.endpoint != found.plain->endpoint) {
                found.playlist = &st;
                return found;
            }
        }
    }
    return {};
}

// The simulator's ports, endpoint by endpoint, from its table.
QList<quint16> portsOf(const EndpointTable &table)
{
    QList<quint16> ports;
    for (int i = 1; i <= 65; ++i)
        ports << table.value(QStringLiteral("E%1").arg(i, 2, 10, QLatin1Char('0')))
                     .value_or(QString()).section(u':', -1).toUShort();
    return ports;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const int rounds = qMax(1, app.arguments().value(1, QStringLiteral("3")).toInt());

    test::SimulatorThread sim;
    QString error;
    if (!sim.begin(test::SimulatorThread::burstMs(2000), &error))
        qFatal("simulator: %s", qPrintable(error));
    const Stations st = pickStations(sim.table());
    if (!st.playlist)
        qFatal("no page with two live stations and a third http station");
    // The playlist leads to the first station's stream, which libVLC can play.
    const QString stream = toWireUrl(addressOf(*st.first, sim.table()).text);
    PlaylistServerThread playlistServer(test::largeArabicPlaylist(test::LargePlaylist::LongEntry, {stream}));
    QList<quint16> ports = portsOf(sim.table());
    ports[st.playlist->endpoint - 1] = playlistServer.begin();
    test::ConfigHome config(sim::loopbackConfig(ports));

    test::PageSetDriver pages([](QWidget *clientArea) -> PlayerControl * {
        auto backend = std::make_unique<VlcBackend>();
        auto capture = std::make_unique<test::AudioCapture>(*backend);
        capture->keepOnly(500);
        auto *player = new PlayerControl(PlayerSettings::stored(), std::move(backend), clientArea);
        capture.release()->setParent(player);
        return player;
    });
    pages.show(st.first->page);
    PlayerControl *player = pages.player(st.first->page);
    auto playing = [&] { return player->status().state == PlaybackState::Playing; };
    idle(500);

    // From the click to playing and 300 ms on; -1 when it does not play within 20 s.
    test::StallMeter meter;
    auto worstAtSwitch = [&](const Station &to) -> double {
        if (!waitFor(playing, 20000))
            return -1;
        idle(500);
        meter.start();
        pages.click(to);
        const bool played = waitFor([&] { return player->status().state != PlaybackState::Playing; }, 5000)
            && waitFor(playing, 20000);
        idle(300);
        meter.stop();
        return played ? double(meter.worstMs()) : -1;
    };
    for (int round = 0; round < rounds; ++round) {
        for (const bool busy : {false, true}) {
            std::unique_ptr<BusyLoops> loops = busy ? std::make_unique<BusyLoops>() : nullptr;
            const QByteArray suffix = busy ? "_busy" : "";
            pages.click(*st.first);
            report("switch_plain" + suffix, worstAtSwitch(*st.plain));
            pages.click(*st.first);
            report("switch_playlist" + suffix, worstAtSwitch(*st.playlist));
        }
    }
    return 0;
}
