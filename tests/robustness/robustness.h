#pragma once

// What the robustness tests watch beyond the toolkit: the audio of every page's player, the
// event loop's worst stall, and the threads and memory of the process.

#include "tests/support/audio_capture.h"
#include "tests/support/config_home.h"
#include "tests/support/page_set_driver.h"
#include "tests/support/simulator_thread.h"
#include "tests/support/stall_meter.h"
#include "tests/support/wait.h"

#include "app/page_instance.h"
#include "app/page_set.h"
#include "app/station_page.h"
#include "catalogue/address.h"
#include "catalogue/page_directory.h"
#include "player/common/player_settings.h"
#include "player/engine/vlc_backend.h"
#include "player/widget/player_control.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <memory>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes(); // the sanitizer's runtime
#endif

namespace lumora::test {

// Players on real libVLC, each with its audio captured (the last two seconds kept) by a
// capture that is the player's child, so that it outlives the engine that feeds it.
inline PlayerFactory capturedVlcPlayers()
{
    return [](QWidget *clientArea) -> PlayerControl * {
        auto backend = std::make_unique<VlcBackend>();
        auto capture = std::make_unique<AudioCapture>(*backend);
        capture->keepOnly(2000);
        auto *player = new PlayerControl(PlayerSettings::stored(), std::move(backend), clientArea);
        capture.release()->setParent(player);
        return player;
    };
}

// What a robustness suite runs against: the simulator on a thread of its own, a config home
// that points at it, and the page set with captured libVLC players.
struct SimulatedProgram {
    SimulatorThread sim;
    std::unique_ptr<ConfigHome> config;
    std::unique_ptr<PageSetDriver> shell;

    // The simulator, set up by configure, then the config home and the page set; false (with
    // the reason) when the simulator cannot listen.
    bool start(const SimulatorThread::Configure &configure, QString *error)
    {
        if (!sim.begin(configure, error))
            return false;
        config = std::make_unique<ConfigHome>(sim.config());
        shell = std::make_unique<PageSetDriver>(capturedVlcPlayers());
        return true;
    }
    // Every player goes before the simulator.
    void stop() { shell.reset(); }
};

// The audio of a page's player made by capturedVlcPlayers; nullptr when it has none.
inline AudioCapture *captureOf(const PageSetDriver &shell, Page page)
{
    PlayerControl *player = shell.player(page);
    return player ? player->findChild<AudioCapture *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

// A user's pause between two steps, ms long; false if a dialog came up meanwhile. The
// pause is the user's rhythm, deliberately fixed.
inline bool userPause(int ms)
{
    return holdsFor([] { return !QApplication::activeModalWidget(); }, ms);
}

// The threads of this process and its resident memory.
inline int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

inline qint64 residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Waits until the number of threads has not changed for a second (libVLC's threads end a
// moment after their players stop); the number then.
inline int settledThreadCount()
{
    int threads = threadCount();
    QElapsedTimer unchanged;
    unchanged.start();
    waitFor([&] {
        if (const int now = threadCount(); now != threads) {
            threads = now;
            unchanged.restart();
        }
        return unchanged.elapsed() >= 1000;
    }, 15000);
    return threads;
}

// The longest the event loop may go without running. AddressSanitizer makes every
// allocation several times slower, and opening a page allocates a great deal, so the
// sanitized build is given four times as long; the normal build's limit is the one that counts.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kStallLimitMs = 400;
#else
constexpr qint64 kStallLimitMs = 100;
#endif

// Live heap memory: the allocator's own count under AddressSanitizer (whose quarantine of
// freed blocks makes the resident size meaningless), else the resident size once the heap has
// given back what it can.
inline qint64 heapInUseKb()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    malloc_trim(0);
    return residentKb();
#endif
}

} // namespace lumora::test
