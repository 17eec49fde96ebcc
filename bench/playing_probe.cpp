// The program with N station pages playing at once, each a live MP3 stream of the
// simulator (running in a process of its own), through the players' own audio output:
// CPU use over ten seconds of steady playing, and the peak resident memory.
//   lumora-bench-playing N CONFIG      (CONFIG: the simulator's endpoint configuration,
//                                        found by the program through XDG_CONFIG_HOME)
// Prints "cpu_percent", "peak_kb" and "resident_kb".

#include "bench_support.h"

#include "tests/support/page_set_driver.h"

#include "app/page_instance.h"
#include "app/page_set.h"
#include "player/widget/player_control.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QApplication>
#include <QIcon>
#include <QProcess>

using namespace lumora;
using namespace lumora::bench;

int main(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const int count = qBound(1, app.arguments().value(1).toInt(), kStationPageCount);
    const EndpointTable table = EndpointTable::load(app.arguments().value(2));
    const int measureMs = 10000;

    test::PageSetDriver pages;
    QList<PlayerControl *> players;
    for (int i = 0; i < count; ++i) {
        const Page page = Page(pageNumber(Page::Form2) + i);
        const Station *station = liveMp3Station(page, table);
        if (!station)
            qFatal("%s has no live MP3 station", qPrintable(pageName(page)));
        pages.show(page);
        PageWindow *window = pages.window(page);
        window->button(station->number)->click();
        players << qobject_cast<PlayerControl *>(window->player());
    }
    const bool playing = waitFor([&] {
        for (PlayerControl *p : players)
            if (p->status().state != PlaybackState::Playing)
                return false;
        return true;
    }, 30000);
    if (!playing)
        qFatal("not every page plays");
    idle(3000); // steady state

    const ProcessUsage before = processUsage();
    QElapsedTimer clock;
    clock.start();
    idle(measureMs);
    const ProcessUsage after = processUsage();
    for (PlayerControl *p : players)
        if (p->status().state != PlaybackState::Playing)
            qFatal("a page stopped playing");
    // How many streams the sound server is playing: every page's, through the real output.
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {"list", "short", "sink-inputs"});
    pactl.waitForFinished(5000);
    report("streams", double(pactl.readAllStandardOutput().count('\n')));
    report("cpu_percent", 100.0 * double(after.cpuMs - before.cpuMs) / double(clock.elapsed()));
    report("peak_kb", double(after.peakKb));
    report("resident_kb", double(after.residentKb));
    return 0;
}
