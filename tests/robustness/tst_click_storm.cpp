// 200 station clicks in ten seconds, across five pages and between them, through the real
// windows and real libVLC players: the last click on each page decides what plays there, the
// event loop keeps running, and once everything is stopped again libVLC's threads and the
// process's memory are back where they were before.

#include "robustness.h"

#include <QRandomGenerator>

using namespace lumora;
using namespace lumora::test;

namespace {

constexpr Page kPages[] = {Page::Form2, Page::Form4, Page::Form5, Page::Form16, Page::Form18};
constexpr int kClicks = 200;
constexpr int kClickEveryMs = 50; // 200 clicks in 10 s
constexpr int kThreadSlack = 2;
constexpr qint64 kMemorySlackKb = 12 * 1024;

struct Usage {
    int threads;
    qint64 heapKb;
};

Usage usage()
{
    return {threadCount(), heapInUseKb()};
}

} // namespace

class TestClickStorm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void theLastClickOnEachPageDecidesAndNothingIsLeftBehind();

private:
    void playOnEveryPage(const QHash<Page, const Station *> &stations);
    void stopEveryPlayer();
    int toneOf(const Station &s) { return m_program.sim.served(s).toneHz(); }

    SimulatedProgram m_program;
};

void TestClickStorm::initTestCase()
{
    QString error;
    QVERIFY2(m_program.start(SimulatorThread::fileSeconds(30), &error), qPrintable(error));
}

void TestClickStorm::cleanupTestCase()
{
    m_program.stop();
}

void TestClickStorm::playOnEveryPage(const QHash<Page, const Station *> &stations)
{
    for (Page page : kPages) {
        const Station &s = *stations.value(page);
        QTRY_VERIFY2_WITH_TIMEOUT(captureOf(*m_program.shell, page)->hears(toneOf(s)),
                                  qPrintable(pageName(page) + u'.' + s.buttonName() + QStringLiteral(": ")
                                             + captureOf(*m_program.shell, page)->describe() + u' '
                                             + m_program.shell->player(page)->statusText()),
                                  15000);
        QCOMPARE(m_program.shell->player(page)->URL(), addressOf(s, m_program.sim.table()).text);
    }
}

void TestClickStorm::stopEveryPlayer()
{
    for (Page page : kPages) {
        m_program.shell->goTo(page);
        QTest::mouseClick(m_program.shell->player(page)->findChild<QWidget *>(QStringLiteral("stopButton")), Qt::LeftButton);
    }
    for (Page page : kPages)
        QTRY_COMPARE(m_program.shell->player(page)->status().state, PlaybackState::Stopped);
    settledThreadCount(); // libVLC's threads end a moment after the players' stop
}

void TestClickStorm::theLastClickOnEachPageDecidesAndNothingIsLeftBehind()
{
    PageSetDriver &shell = *m_program.shell;
    const Usage start = usage();

    // Warm-up: every page opened and every station of it clicked once, the last one played
    // and stopped again. What is left then (libVLC's instance and every plugin the stations
    // need, the pages' windows, the heap's high-water mark) is the baseline.
    QHash<Page, const Station *> last;
    for (Page page : kPages) {
        for (const Station &s : stationsOf(page)) {
            shell.click(s);
            last.insert(page, &s);
            QVERIFY(userPause(kClickEveryMs));
        }
    }
    playOnEveryPage(last);
    const Usage warm = usage();
    stopEveryPlayer();
    // The simulator lives in this process too: its request log is no part of the program.
    m_program.sim.call([](sim::StationSimulator &s) { s.clearRequestLog(); });
    const Usage baseline = usage();
    qInfo("threads: %d at start, %d with five players playing, %d stopped (baseline)", start.threads,
          warm.threads, baseline.threads);

    // The storm: seeded, so that a failure can be replayed.
    const quint32 seed = qEnvironmentVariableIsSet("LUMORA_STORM_SEED")
        ? quint32(qEnvironmentVariableIntValue("LUMORA_STORM_SEED")) : 20240611u;
    QRandomGenerator random(seed);
    StallMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    int navigations = 0, peakThreads = 0;
    for (int i = 0; i < kClicks; ++i) {
        if (i == 0 || random.bounded(100) < 35) {
            const Page page = kPages[random.bounded(int(std::size(kPages)))];
            if (page != shell.visible()) {
                // Half the time through the main page, half through the "to" menu.
                if (shell.visible() != Page::Form1 && random.bounded(2))
                    shell.goTo(Page::Form1);
                shell.goTo(page);
                ++navigations;
            }
        }
        const Page page = shell.visible();
        const std::span<const Station> stations = stationsOf(page);
        const Station &s = stations[random.bounded(int(stations.size()))];
        meter.label(QStringLiteral("click %1: %2.%3").arg(i).arg(pageName(page), s.buttonName()));
        captureOf(shell, page)->clear();
        shell.click(s);
        last.insert(page, &s);
        const qint64 due = qint64(i + 1) * kClickEveryMs;
        if (clock.elapsed() < due)
            QVERIFY(userPause(int(due - clock.elapsed())));
        if (i % 20 == 0)
            peakThreads = qMax(peakThreads, threadCount());
    }
    const qint64 stormMs = clock.elapsed();
    meter.label(QStringLiteral("after the storm"));
    qInfo("seed %u: %d station clicks and %d page changes in %lld ms; up to %d threads", seed, kClicks,
          navigations, stormMs, peakThreads);
    QVERIFY(stormMs < 11000);

    // What plays on each page is its last click's station, and nothing else.
    playOnEveryPage(last);
    QVERIFY(userPause(1000)); // a second more of it
    for (Page page : kPages) {
        QVERIFY2(captureOf(shell, page)->hears(toneOf(*last.value(page))), qPrintable(captureOf(shell, page)->describe()));
        QCOMPARE(shell.player(page)->status().state, PlaybackState::Playing);
    }
    meter.stop();
    qInfo("worst event-loop stall during the storm: %lld ms (%s)", meter.worstMs(), qPrintable(meter.worstAt()));
    QVERIFY2(meter.worstMs() <= kStallLimitMs, qPrintable(meter.worstAt()));
    QVERIFY(!meter.dialogSeen());
    QVERIFY(shell.ends.isEmpty());

    // Everything stopped: libVLC's threads and the memory are back at the baseline.
    stopEveryPlayer();
    m_program.sim.call([](sim::StationSimulator &s) { s.clearRequestLog(); });
    const Usage after = usage();
    qInfo("after the storm, stopped: %d threads (baseline %d), %lld KiB of heap (baseline %lld KiB)",
          after.threads, baseline.threads, after.heapKb, baseline.heapKb);
    QVERIFY2(after.threads <= baseline.threads + kThreadSlack,
             qPrintable(QStringLiteral("%1 threads, %2 before").arg(after.threads).arg(baseline.threads)));
    QVERIFY2(after.heapKb <= baseline.heapKb + kMemorySlackKb,
             qPrintable(QStringLiteral("%1 KiB, %2 KiB before").arg(after.heapKb).arg(baseline.heapKb)));
}

QTEST_MAIN(TestClickStorm)
#include "tst_click_storm.moc"
