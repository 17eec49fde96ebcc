// Click to first decoded audio, on the program's own page and player, for an ASX station, an
// ICY root station, an mms station and an MP3 file served with a length and byte ranges; beside each, libVLC's own media list player opening
// the same address on the same libVLC instance with libVLC's default network caching, which
// is how the player opened every stream before it kept its own connections.
//   lumora-bench-audio [--burst MS] [--runs N]
// Prints "<kind>_<figure> milliseconds" lines, one per run.

#include "bench_support.h"

#include "tests/support/audio_capture.h"
#include "tests/support/config_home.h"
#include "tests/support/page_set_driver.h"
#include "tests/support/simulator_thread.h"

#include "app/page_instance.h"
#include "app/page_set.h"
#include "player/common/player_settings.h"
#include "player/engine/vlc/vlc_instance.h"
#include "player/engine/vlc_backend.h"
#include "player/net/wire_url.h"
#include "player/widget/player_control.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QApplication>
#include <vlc/vlc.h>

using namespace lumora;
using namespace lumora::bench;

namespace {

// Captures of the audio of libVLC players, only to know when the first of it came.
constexpr int kKeepMs = 100;

// libVLC's default network caching.
constexpr int kLibvlcCachingMs = 1000;

struct Measured {
    const char *name;
    const Station *station = nullptr;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    const int burst = args.contains(u"--burst") ? args.value(args.indexOf(u"--burst") + 1).toInt() : 2000;
    const int runs = args.contains(u"--runs") ? args.value(args.indexOf(u"--runs") + 1).toInt() : 5;

    test::SimulatorThread simulator;
    QString error;
    if (!simulator.begin(test::SimulatorThread::burstMs(burst), &error))
        qFatal("the simulator cannot listen: %s", qPrintable(error));
    const EndpointTable table = simulator.table();
    const test::ConfigHome home(simulator.config());

    // The stations measured.
    Measured kinds[] = {{"asx"}, {"icy"}, {"mms"}, {"file"}};
    for (const sim::ServedStation &s : sim::servedStations(table)) {
        if (s.stations.isEmpty())
            continue;
        if (!kinds[0].station && s.answer == sim::Answer::AsxServerStyle && s.link == sim::StreamLink::Http)
            kinds[0].station = s.stations.first();
        if (!kinds[1].station && s.answer == sim::Answer::IcyServer && s.kind == lumora::Kind::Root)
            kinds[1].station = s.stations.first();
        if (!kinds[2].station && s.scheme == Scheme::Mms && s.answer == sim::Answer::Mmsh)
            kinds[2].station = s.stations.first();
        if (!kinds[3].station && s.answer == sim::Answer::Mp3File)
            kinds[3].station = s.stations.first();
    }

    test::PageSetDriver pages([](QWidget *area) -> PlayerControl * {
        auto backend = std::make_unique<VlcBackend>();
        auto capture = std::make_unique<test::AudioCapture>(*backend);
        capture->keepOnly(kKeepMs);
        auto *player = new PlayerControl(PlayerSettings::stored(), std::move(backend), area);
        capture.release()->setParent(player); // it outlives the engine that feeds it
        return player;
    });
    // Every page with a measured station is opened first: its window and player exist.
    for (Measured &k : kinds) {
        if (!k.station)
            qFatal("no %s station", k.name);
        pages.show(k.station->page);
    }

    std::shared_ptr<VlcInstance> vlc = VlcInstance::shared();
    libvlc_media_player_t *listMedia = libvlc_media_player_new(vlc->native());
    auto listAudio = std::make_unique<test::AudioCapture>(listMedia);
    listAudio->keepOnly(kKeepMs);
    libvlc_media_list_player_t *list = libvlc_media_list_player_new(vlc->native());
    libvlc_media_list_player_set_media_player(list, listMedia);

    for (int run = 0; run < runs; ++run) {
        for (const Measured &k : kinds) {
            const QString address = addressOf(*k.station, table).text;
            const QString wire = toWireUrl(address);
            const QByteArray name = k.name;

            // The program: the page's button, as the user clicks it.
            pages.show(k.station->page);
            PageWindow *window = pages.window(k.station->page);
            auto *ours = pages.player(k.station->page)->findChild<test::AudioCapture *>();
            ours->clear();
            const qint64 clicked = nowNs();
            window->button(k.station->number)->click();
            if (waitFor([&] { return ours->firstAudioNs() != 0; }, 15000))
                report(name + "_ours", double(ours->firstAudioNs() - clicked) / 1e6);
            pages.player(k.station->page)->stop();
            idle(300);

            // libVLC's own list player, same address (in wire form).
            libvlc_media_list_t *media = libvlc_media_list_new(vlc->native());
            libvlc_media_t *m = libvlc_media_new_location(vlc->native(), wire.toUtf8().constData());
            libvlc_media_add_option(m, QStringLiteral(":network-caching=%1").arg(kLibvlcCachingMs).toUtf8().constData());
            libvlc_media_add_option(m, ":no-video");
            libvlc_media_list_add_media(media, m);
            libvlc_media_release(m);
            libvlc_media_list_player_set_media_list(list, media);
            listAudio->clear();
            const qint64 started = nowNs();
            libvlc_media_list_player_play(list);
            if (waitFor([&] { return listAudio->firstAudioNs() != 0; }, 15000))
                report(name + "_list", double(listAudio->firstAudioNs() - started) / 1e6);
            libvlc_media_list_player_stop(list);
            libvlc_media_list_release(media);
            idle(300);
        }
    }
    libvlc_media_list_player_release(list);
    libvlc_media_player_release(listMedia);
    listAudio.reset(); // after the player that fed it
    return 0;
}
