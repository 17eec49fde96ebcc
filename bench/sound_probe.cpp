// The program clicking station buttons as a user does, playing through its real audio output
// (the sound server named by PULSE_SERVER), for the driver that listens at the sink.
//   lumora-bench-sound [--go] [--stay SECONDS] PAGE NUMBER [PAGE NUMBER ...]
// (the endpoint configuration is found by the program through XDG_CONFIG_HOME). Opens
// the pages first, then clicks the stations in turn (with --go: once a line has come on its
// input, so that the driver can start other players at the same moment); after each click it
// waits until the page says Playing and 1.5 s more before the next. Prints "click
// <steady-clock ns>" right before each click and "playing <ns>" when the page says Playing,
// then, every half second, "cushion <ms>": the audio the player holds and has not played yet
// (-1: it does not say). Stays up until its input closes (or SECONDS, default 30), so that
// the sound goes on while the driver listens.

#include "bench_support.h"

#include "tests/support/page_set_driver.h"

#include "app/page_instance.h"
#include "app/page_set.h"
#include "player/widget/player_control.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>

using namespace lumora;
using namespace lumora::bench;

namespace {

void line(const char *what, qint64 ns)
{
    std::printf("%s %lld\n", what, static_cast<long long>(ns));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QStringList args = app.arguments();
    const bool waitForGo = args.removeAll(QStringLiteral("--go")) > 0;
    int staySeconds = 30;
    if (const qsizetype at = args.indexOf(QStringLiteral("--stay")); at > 0) {
        staySeconds = std::max(1, args.value(at + 1).toInt());
        args.remove(at, 2);
    }
    QList<const Station *> clicks;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const Station *s = findStation(Page(args.at(i).toInt()), args.at(i + 1).toInt());
        if (!s)
            qFatal("no station %s %s", qPrintable(args.at(i)), qPrintable(args.at(i + 1)));
        clicks << s;
    }
    if (clicks.isEmpty())
        qFatal("usage: lumora-bench-sound [--go] [--stay SECONDS] PAGE NUMBER [PAGE NUMBER ...]");

    test::PageSetDriver pages;
    for (const Station *s : clicks) // windows and players exist before the first click
        pages.show(s->page);
    idle(500);
    if (waitForGo) {
        char c = 0;
        while (::read(0, &c, 1) == 1 && c != '\n') {
        }
    }

    PlayerControl *last = nullptr;
    for (const Station *s : clicks) {
        pages.show(s->page);
        PageWindow *window = pages.window(s->page);
        auto *player = qobject_cast<PlayerControl *>(window->player());
        line("click", nowNs());
        window->button(s->number)->click();
        if (!waitFor([&] { return player->status().state == PlaybackState::Playing; }, 60000))
            qFatal("%s %d does not play", qPrintable(pageName(s->page)), s->number);
        line("playing", nowNs());
        last = player;
        if (s != clicks.last())
            idle(1500);
    }
    // Until the driver has heard enough: it closes our input.
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char c;
        if (::read(0, &c, 1) <= 0)
            app.quit();
    });
    QTimer cushion;
    QObject::connect(&cushion, &QTimer::timeout, &app, [last] { line("cushion", last->status().cushionMs); });
    cushion.start(500);
    QTimer::singleShot(staySeconds * 1000, &app, &QApplication::quit);
    return app.exec();
}
