#pragma once

// What the robustness tests drive and watch: the program's page set with real windows, a
// station simulator on a thread of its own (so that its work never counts against the
// program's event loop), the audio each page's player plays, the event loop's worst stall,
// and the threads and memory of the process.

#include "address.h"
#include "audio_tap.h"
#include "endpoint_table.h"
#include "main_page.h"
#include "page_directory.h"
#include "page_instance.h"
#include "page_menus.h"
#include "page_set.h"
#include "page_window.h"
#include "player_control.h"
#include "player_settings.h"
#include "station.h"
#include "station_button.h"
#include "station_page.h"
#include "station_simulator.h"
#include "vlc_backend.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes(); // the sanitizer's runtime
#endif

extern "C" {
#include <libavutil/log.h>
}

namespace lumora::robust {

// Points this process's config locations at a folder of the test's own, holding the
// endpoint configuration given.
class ConfigHome {
public:
    explicit ConfigHome(const QByteArray &endpointsConf)
    {
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("home")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_dir.filePath(QStringLiteral("sys")).toUtf8());
        QDir().mkpath(m_dir.filePath(QStringLiteral("home/lumora")));
        QFile f(m_dir.filePath(QStringLiteral("home/lumora/endpoints.conf")));
        if (!f.open(QIODevice::WriteOnly) || f.write(endpointsConf) != endpointsConf.size())
            qFatal("cannot write the test configuration");
    }
    ~ConfigHome()
    {
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_CONFIG_DIRS");
    }

private:
    QTemporaryDir m_dir;
};

// The station simulator serving the whole catalogue on free loopback ports, living and
// answering on a thread of its own. Everything the test asks of it goes through call().
class SimulatorThread : public QThread {
public:
    SimulatorThread() : m_ports(sim::freeLoopbackPorts(65)) {}
    ~SimulatorThread() override
    {
        quit();
        wait();
    }

    // Starts the thread and the simulator; false (with the reason) if it cannot listen.
    bool begin(int mp3Seconds = 10, QString *error = nullptr)
    {
        if (m_ports.size() != 65) {
            if (error)
                *error = QStringLiteral("no 65 free loopback ports");
            return false;
        }
        m_mp3Seconds = mp3Seconds;
        av_log_set_level(AV_LOG_ERROR); // the encoders' notices are of no interest here
        start();
        m_ready.acquire();
        if (error)
            *error = m_error;
        return m_started;
    }

    EndpointTable table() const { return sim::loopbackTable(m_ports); }
    QByteArray config() const { return sim::loopbackConfig(m_ports); }

    // Runs f on the simulator's thread and waits for it.
    void call(const std::function<void(sim::StationSimulator &)> &f)
    {
        QMetaObject::invokeMethod(m_sim, [this, &f] { f(*m_sim); }, Qt::BlockingQueuedConnection);
    }
    sim::StationSimulator *simulator() const { return m_sim; }

    // A copy of what the simulator knows of a station's address (read once it runs).
    sim::ServedStation served(const Station &station)
    {
        sim::ServedStation out;
        call([&](sim::StationSimulator &s) {
            if (const sim::ServedStation *p = s.servedFor(station))
                out = *p;
        });
        return out;
    }
    void setFault(const Station &station, sim::Fault fault)
    {
        call([&](sim::StationSimulator &s) { s.setFault(station, fault); });
    }
    void clearFaults()
    {
        call([](sim::StationSimulator &s) { s.clearFaults(); });
    }
    QList<sim::RequestRecord> requestLog()
    {
        QList<sim::RequestRecord> out;
        call([&](sim::StationSimulator &s) { out = s.requestLog(); });
        return out;
    }

protected:
    void run() override
    {
        std::unique_ptr<sim::StationSimulator> simulator;
        // Ports found free may be taken by another program before they are bound: then
        // other ones are tried.
        for (int attempt = 0; attempt < 5 && !m_started; ++attempt) {
            if (attempt > 0)
                m_ports = sim::freeLoopbackPorts(65);
            simulator = std::make_unique<sim::StationSimulator>(sim::loopbackTable(m_ports));
            simulator->setMp3FileSeconds(m_mp3Seconds);
            simulator->setRealFileSeconds(m_mp3Seconds);
            m_started = simulator->start(&m_error);
        }
        m_sim = simulator.get();
        m_ready.release();
        if (m_started)
            exec();
        m_sim = nullptr;
    }

private:
    QList<quint16> m_ports;
    int m_mp3Seconds = 10;
    sim::StationSimulator *m_sim = nullptr;
    QSemaphore m_ready;
    QString m_error;
    bool m_started = false;
};

// The audio one player's engine decodes, the last two seconds of it kept. A child of the
// PlayerControl, so it outlives the engine that feeds it.
class ToneTap : public QObject, public AudioSink {
    Q_OBJECT
public:
    static constexpr int kRate = test::AudioTap::kRate;
    static constexpr qsizetype kKeep = 2 * kRate;

    explicit ToneTap(VlcBackend &backend) { backend.divertAudio(*this); }

    void takeSamples(const qint16 *p, qsizetype count) override
    {
        QMutexLocker lock(&m_mutex);
        m_samples.append(QVector<qint16>(p, p + count));
        m_total += count;
        if (m_samples.size() > 2 * kKeep)
            m_samples.remove(0, m_samples.size() - kKeep);
    }

    qint64 totalSamples() const
    {
        QMutexLocker lock(&m_mutex);
        return m_total;
    }
    double totalSeconds() const { return double(totalSamples()) / kRate; }
    QVector<qint16> recent(int ms) const
    {
        QMutexLocker lock(&m_mutex);
        const qsizetype n = qMin<qsizetype>(m_samples.size(), qsizetype(ms) * kRate / 1000);
        return m_samples.mid(m_samples.size() - n);
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_samples.clear();
    }
    // The last second holds the tone hz (tones of the simulator are 10 Hz apart).
    bool hears(int hz) const
    {
        const QVector<qint16> s = recent(1000);
        return s.size() >= kRate * 9 / 10 && qAbs(test::AudioTap::frequency(s) - hz) < 4
            && test::AudioTap::level(s) > 0.01;
    }
    QString describe() const
    {
        const QVector<qint16> s = recent(1000);
        return QStringLiteral("%1 s heard, last second %2 Hz at level %3")
            .arg(totalSeconds(), 0, 'f', 2)
            .arg(test::AudioTap::frequency(s), 0, 'f', 1)
            .arg(test::AudioTap::level(s), 0, 'f', 3);
    }

private:
    mutable QMutex m_mutex;
    QVector<qint16> m_samples;
    qint64 m_total = 0;
};

// Players on real libVLC with their audio tapped, as the page set's player factory.
inline PageSet::PlayerFactory tappedVlcPlayers()
{
    return [](QWidget *clientArea) -> PlayerControl * {
        auto backend = std::make_unique<VlcBackend>();
        auto tap = std::make_unique<ToneTap>(*backend);
        auto *player = new PlayerControl(PlayerSettings::stored(), std::move(backend), clientArea);
        tap.release()->setParent(player);
        return player;
    };
}

inline ToneTap *tapOf(PlayerControl *player)
{
    return player ? player->findChild<ToneTap *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
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

// Nanoseconds this thread has spent ready to run but waiting for a processor (Linux's
// schedstat), or -1 where the kernel does not say.
inline qint64 threadRunDelayNs()
{
    QFile f(QStringLiteral("/proc/thread-self/schedstat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().trimmed().split(' ');
    bool ok = false;
    const qint64 delay = fields.value(1).toLongLong(&ok);
    return ok ? delay : -1;
}

// Measures how long the event loop goes without running a 5 ms heartbeat, and whether a
// modal dialog ever came up meanwhile. Time the GUI thread spent waiting for a processor is
// left out: on a machine busy with other work that wait is the machine's, not the program's.
class StallMeter : public QObject {
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 delay = threadRunDelayNs();
            const qint64 waited = delay >= 0 && m_lastDelay >= 0 ? (delay - m_lastDelay) / 1000000 : 0;
            m_lastDelay = delay;
            const qint64 gap = qMax<qint64>(0, m_clock.restart() - waited);
            if (gap > 30 && qEnvironmentVariableIsSet("LUMORA_SHOW_STALLS"))
                qInfo("stall of %lld ms while %s", gap, qPrintable(m_label));
            if (gap > m_worst) {
                m_worst = gap;
                m_worstAt = m_label;
            }
            if (QApplication::activeModalWidget())
                m_dialog = true;
        });
    }
    void start()
    {
        m_worst = 0;
        m_dialog = false;
        m_lastDelay = threadRunDelayNs();
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    // What the test is doing, named in the report of the worst stall.
    void label(const QString &what) { m_label = what; }
    qint64 worstMs() const { return m_worst; }
    QString worstAt() const { return m_worstAt; }
    bool dialogSeen() const { return m_dialog; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
    qint64 m_lastDelay = -1;
    QString m_label, m_worstAt;
    bool m_dialog = false;
};

// The program's page set, started, with its end of program recorded, driven the way a user
// drives it: main-page buttons, the "to" and "back" items, station buttons, the frame's close.
struct Shell {
    QList<int> ends;
    PageSet pages{[this](int code) { ends.append(code); }};

    explicit Shell(PageSet::PlayerFactory factory)
    {
        pages.setPlayerFactory(std::move(factory));
        pages.start();
    }

    Page visible() const
    {
        for (int n = 1; n <= kPageCount; ++n)
            if (PageInstance *p = pages.slot(Page(n)); p && p->isVisible())
                return Page(n);
        return Page::Form1;
    }
    PageWindow *window(Page page) const
    {
        PageInstance *p = pages.slot(page);
        return p ? p->window() : nullptr;
    }
    PlayerControl *player(Page page) const
    {
        auto *p = dynamic_cast<StationPage *>(pages.slot(page));
        return p ? p->player() : nullptr;
    }
    ToneTap *tap(Page page) const { return tapOf(player(page)); }

    static QAction *menuItem(PageWindow *window, const QString &name)
    {
        QMenu *to = window->menuBar()->findChild<QMenu *>(QStringLiteral("to"));
        if (to)
            for (QAction *a : to->actions())
                if (a->objectName() == name)
                    return a;
        return nullptr;
    }

    // Goes to a page: its category button from the main page, "back", or its item in the
    // "to" menu of the page in front.
    void goTo(Page target)
    {
        const Page from = visible();
        if (from == target)
            return;
        PageWindow *w = window(from);
        if (from == Page::Form1) {
            QTest::mouseClick(w->button(PageDirectory::byPage(target)->mainButton), Qt::LeftButton);
        } else if (target == Page::Form1) {
            menuItem(w, QStringLiteral("back"))->trigger();
        } else {
            for (const PageMenuItem &item : pageMenuItems(from))
                if (item.target == target)
                    menuItem(w, item.name)->trigger();
        }
        if (visible() != target)
            qFatal("navigation to %s failed", qPrintable(pageName(target)));
    }

    // Clicks a station's button, going to its page first.
    void click(const Station &station)
    {
        goTo(station.page);
        QTest::mouseClick(window(station.page)->button(station.number), Qt::LeftButton);
    }

    // Closes the page in front from its frame; the window and its player go with the next
    // pass of the event loop.
    void closeFront() { window(visible())->close(); }
};

inline const Station &stationAt(Page page, int number)
{
    const Station *s = findStation(page, number);
    if (!s)
        qFatal("no such station");
    return *s;
}

} // namespace lumora::robust
