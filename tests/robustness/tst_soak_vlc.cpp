// The random walk of tst_soak on real libVLC players against the simulator, shorter: every
// step holds, the last station clicked on each open page is heard, and once the players stop,
// libVLC's threads are gone again.

#include "soak_walk.h"

#include <malloc.h>

using namespace lumora;
using namespace lumora::test;

class TestSoakVlc : public QObject {
    Q_OBJECT

private slots:
    void randomStepsOnLibvlc();
};

void TestSoakVlc::randomStepsOnLibvlc()
{
    SimulatorThread sim;
    QString error;
    QVERIFY2(sim.begin(SimulatorThread::fileSeconds(30), &error), qPrintable(error));
    ConfigHome config(sim.config());
    auto shell = std::make_unique<PageSetDriver>(capturedVlcPlayers());
    const int baselineThreads = threadCount();

    const int steps = qEnvironmentVariableIsSet("LUMORA_SOAK_STEPS") ? qEnvironmentVariableIntValue("LUMORA_SOAK_STEPS") : 300;
    const quint32 seed = qEnvironmentVariableIsSet("LUMORA_SOAK_SEED")
        ? quint32(qEnvironmentVariableIntValue("LUMORA_SOAK_SEED")) : 11u;
    RandomWalk walk(*shell, sim.table(), seed);
    StallMeter meter;
    meter.start();
    for (int i = 1; i <= steps; ++i) {
        const QString failure = walk.step();
        QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("step %1 (seed %2): %3").arg(i).arg(seed).arg(failure)));
        meter.label(walk.lastStep());
        const QString paused = walk.pause(30);
        QVERIFY2(paused.isEmpty(), qPrintable(paused));
    }
    qInfo("seed %u: %d page changes, %d station clicks, %d pages closed and reopened; %d threads", seed,
          walk.counts().navigations, walk.counts().clicks, walk.counts().closes, threadCount());

    for (auto it = walk.lastPlayed().cbegin(); it != walk.lastPlayed().cend(); ++it) {
        const int hz = sim.served(*it.value()).toneHz();
        captureOf(*shell, it.key())->clear();
        QTRY_VERIFY2_WITH_TIMEOUT(captureOf(*shell, it.key())->hears(hz),
                                  qPrintable(pageName(it.key()) + u'.' + it.value()->buttonName() + QStringLiteral(": ")
                                             + captureOf(*shell, it.key())->describe() + u' ' + shell->player(it.key())->statusText()),
                                  15000);
    }
    meter.stop();
    qInfo("worst event-loop stall %lld ms (%s)", meter.worstMs(), qPrintable(meter.worstAt()));
    QVERIFY2(meter.worstMs() <= kStallLimitMs, qPrintable(meter.worstAt()));
    QVERIFY(!meter.dialogSeen());

    // Every page closed: every player and every libVLC thread with it.
    shell.reset();
    QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= baselineThreads + 2, 10000);
    QVERIFY2(threadCount() <= baselineThreads + 2,
             qPrintable(QStringLiteral("%1 threads, %2 before").arg(threadCount()).arg(baselineThreads)));
}

QTEST_MAIN(TestSoakVlc)
#include "tst_soak_vlc.moc"
