// Click to first decoded audio, on the program's own page and player, for an ASX station, an
// ICY root station and an mms station; beside each, libVLC's own media list player opening
// the same address on the same libVLC instance with libVLC's default network caching, which
// is how the player opened every stream before it kept its own connections.
//   lumora-bench-audio [--burst MS] [--runs N]
// Prints "<kind>_<figure> milliseconds" lines, one per run.

#include "bench_support.h"
#include "page_instance.h"
#include "page_set.h"
#include "page_window.h"
#include "player_control.h"
#include "player_settings.h"
#include "station_button.h"
#include "vlc_backend.h"
#include "vlc_instance.h"
#include "wire_url.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <vlc/vlc.h>

using namespace lumora;
using namespace lumora::bench;

namespace {

// The time of the first audio a libVLC player delivers.
struct FirstAudio {
    std::atomic<qint64> at{0};
    void install(libvlc_media_player_t *p) // libVLC's own player, for the comparison
    {
        libvlc_audio_set_callbacks(p, &FirstAudio::onPlay, nullptr, nullptr, nullptr, nullptr, this);
        libvlc_audio_set_format(p, "S16N", 44100, 1);
    }
    static void onPlay(void *data, const void *, unsigned, int64_t)
    {
        auto *self = static_cast<FirstAudio *>(data);
        self->mark();
    }
    void mark()
    {
        qint64 expected = 0;
        at.compare_exchange_strong(expected, nowNs());
    }
};

// The same for the program's own player, whose engine hands its audio to a sink.
struct FirstAudioSink : AudioSink {
    FirstAudio &first;
    explicit FirstAudioSink(FirstAudio &f) : first(f) {}
    void takeSamples(const qint16 *, qsizetype) override { first.mark(); }
};

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

    SimulatorThread simulator(burst);
    if (!simulator.begin())
        qFatal("the simulator cannot listen");
    const EndpointTable table = simulator.table();
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_DIRS", home.filePath(QStringLiteral("none")).toUtf8());
    QDir().mkpath(home.filePath(QStringLiteral("lumora")));
    QFile conf(home.filePath(QStringLiteral("lumora/endpoints.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(simulator.config());
    conf.close();

    // The three stations.
    Measured kinds[] = {{"asx"}, {"icy"}, {"mms"}};
    for (const sim::ServedStation &s : sim::servedStations(table)) {
        if (s.stations.isEmpty())
            continue;
        if (!kinds[0].station && s.answer == sim::Answer::AsxServerStyle && s.link == sim::StreamLink::Http)
            kinds[0].station = s.stations.first();
        if (!kinds[1].station && s.answer == sim::Answer::IcyServer && s.kind == lumora::Kind::Root)
            kinds[1].station = s.stations.first();
        if (!kinds[2].station && s.scheme == Scheme::Mms && s.answer == sim::Answer::Mmsh)
            kinds[2].station = s.stations.first();
    }

    FirstAudio ours;
    FirstAudioSink ourSink(ours);
    PageSet pages([](int) {});
    pages.setPlayerFactory([&](QWidget *area) -> PlayerControl * {
        auto backend = std::make_unique<VlcBackend>();
        backend->divertAudio(ourSink);
        return new PlayerControl(PlayerSettings::stored(), std::move(backend), area);
    });
    pages.start();
    // Every page with a measured station is opened first: its window and player exist.
    for (Measured &k : kinds) {
        if (!k.station)
            qFatal("no %s station", k.name);
        showFromFront(pages, k.station->page);
    }

    std::shared_ptr<VlcInstance> vlc = VlcInstance::shared();
    FirstAudio listAudio;
    libvlc_media_player_t *listMedia = libvlc_media_player_new(vlc->native());
    listAudio.install(listMedia);
    libvlc_media_list_player_t *list = libvlc_media_list_player_new(vlc->native());
    libvlc_media_list_player_set_media_player(list, listMedia);

    for (int run = 0; run < runs; ++run) {
        for (const Measured &k : kinds) {
            const QString address = addressOf(*k.station, table).text;
            const QString wire = toWireUrl(address);
            const QByteArray name = k.name;

            // The program: the page's button, as the user clicks it.
            showFromFront(pages, k.station->page);
            PageWindow *window = pages.slot(k.station->page)->window();
            ours.at = 0;
            const qint64 clicked = nowNs();
            window->button(k.station->number)->click();
            if (waitFor([&] { return ours.at.load() != 0; }, 15000))
                report(name + "_ours", double(ours.at - clicked) / 1e6);
            qobject_cast<PlayerControl *>(window->player())->stop();
            idle(300);

            // libVLC's own list player, same address (in wire form).
            libvlc_media_list_t *media = libvlc_media_list_new(vlc->native());
            libvlc_media_t *m = libvlc_media_new_location(vlc->native(), wire.toUtf8().constData());
            libvlc_media_add_option(m, QStringLiteral(":network-caching=%1").arg(kLibvlcCachingMs).toUtf8().constData());
            libvlc_media_add_option(m, ":no-video");
            libvlc_media_list_add_media(media, m);
            libvlc_media_release(m);
            libvlc_media_list_player_set_media_list(list, media);
            listAudio.at = 0;
            const qint64 started = nowNs();
            libvlc_media_list_player_play(list);
            if (waitFor([&] { return listAudio.at.load() != 0; }, 15000))
                report(name + "_list", double(listAudio.at - started) / 1e6);
            libvlc_media_list_player_stop(list);
            libvlc_media_list_release(media);
            idle(300);
        }
    }
    libvlc_media_list_player_release(list);
    libvlc_media_player_release(listMedia);
    return 0;
}
