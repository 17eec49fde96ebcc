#pragma once

#include <chrono>

// What the benchmark probes share beyond the test toolkit (tests/support, whose page-set
// driver, simulator thread, audio capture and waits they use): knowing when a window has been
// painted, the process's CPU time and memory, and reporting a figure.

#include "tests/support/wait.h"
#include "tools/station-sim/station_simulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

namespace lumora::bench {

using test::waitFor;

// A monotonic clock in nanoseconds, the same in every probe.
inline qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Calls done() once, right after a window's first paint has been flushed to the screen.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget *window, std::function<void()> done) : m_window(window), m_done(std::move(done))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Paint && m_done) {
            m_window->removeEventFilter(this);
            // The paint is flushed to the window when the paint event returns.
            QTimer::singleShot(0, this, [this] {
                auto done = std::move(m_done);
                done();
            });
        }
        return false;
    }

private:
    QWidget *m_window;
    std::function<void()> m_done;
};

// Runs the event loop for ms, doing nothing else.
inline void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU time of a process in milliseconds (the sum over its threads, to the nanosecond, from
// the scheduler's own account); its peak and current resident memory in KiB. pid 0: this
// process. A thread that ends between two readings takes its time with it, so this is for
// processes in a steady state.
struct ProcessUsage {
    double cpuMs = -1;
    qint64 peakKb = -1;
    qint64 residentKb = -1;
};

inline ProcessUsage processUsage(qint64 pid = 0)
{
    const QString base = pid ? QStringLiteral("/proc/%1").arg(pid) : QStringLiteral("/proc/self");
    ProcessUsage u;
    const QDir tasks(base + QStringLiteral("/task"));
    qint64 ns = 0;
    bool any = false;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (schedstat.open(QIODevice::ReadOnly)) {
            ns += schedstat.readAll().split(' ').value(0).toLongLong();
            any = true;
        }
    }
    if (any)
        u.cpuMs = double(ns) / 1e6;
    QFile status(base + QStringLiteral("/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                u.peakKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
            else if (line.startsWith("VmRSS:"))
                u.residentKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return u;
}

// One result line for the driver: "name value".
inline void report(const QByteArray &name, double value)
{
    std::printf("%s %.3f\n", name.constData(), value);
    std::fflush(stdout);
}

} // namespace lumora::bench

#include "catalogue/address.h"
#include "catalogue/station.h"
#include "tools/station-sim/served_station.h"

namespace lumora::bench {

// The station of a page the CPU figures play: a live MP3 stream, bare (ICY or Icecast) if
// the page has one, else behind a playlist; never mms (another codec) or a file (it ends).
inline const Station *liveMp3Station(Page page, const EndpointTable &table)
{
    const QList<sim::ServedStation> served = sim::servedStations(table);
    auto answerOf = [&](const Station &s) {
        for (const sim::ServedStation &x : served)
            if (x.stations.contains(&s))
                return std::optional<sim::ServedStation>(x);
        return std::optional<sim::ServedStation>();
    };
    const Station *playlist = nullptr;
    for (const Station &s : stationsOf(page)) {
        const auto x = answerOf(s);
        if (!x || x->scheme != Scheme::Http)
            continue;
        if (x->answer == sim::Answer::IcyServer || x->answer == sim::Answer::IcecastMount)
            return &s;
        if (!playlist && sim::isPlaylistAnswer(x->answer) && x->link == sim::StreamLink::Http)
            playlist = &s;
    }
    return playlist;
}

} // namespace lumora::bench
