// 2000 seeded random steps through the program (pages, station clicks, pages closed from
// their frame and opened again) on players whose engine only records what it is asked and
// answers later, the way libVLC does: every step leaves the program as it must be, and the
// memory stays bounded. In the sanitized build this is the walk that must report nothing.

#include "soak_walk.h"

using namespace lumora;
using namespace lumora::test;

namespace {

// An engine that records the player's requests and answers them from the event loop a
// moment later (opening, buffering, playing), as libVLC's events come.
class ReplyingBackend : public MediaBackend {
    Q_OBJECT
public:
    QStringList lastActions; // the latest "stop" and "open:<address>", at most four
    int actions = 0;

    void configure(const PlayerSettings &) override {}
    void stop() override
    {
        record(QStringLiteral("stop"));
        ++m_generation;
        publish(PlaybackState::Stopped);
    }
    void open(const QString &address) override
    {
        record(QStringLiteral("open:") + address);
        const quint64 generation = ++m_generation;
        publish(PlaybackState::Opening);
        QTimer::singleShot(int(address.size() % 7), this, [this, generation] {
            if (generation == m_generation)
                publish(PlaybackState::Buffering, 50);
        });
        QTimer::singleShot(8 + int(address.size() % 11), this, [this, generation] {
            if (generation == m_generation)
                publish(PlaybackState::Playing);
        });
    }
    void pause() override {}
    void resume() override {}
    void setVolume(int) override {}
    void setMuted(bool) override {}
    void seek(double) override {}
    void setVideoWindow(WId) override {}

private:
    void record(const QString &action)
    {
        ++actions;
        lastActions << action;
        if (lastActions.size() > 4)
            lastActions.removeFirst();
    }
    void publish(PlaybackState state, int percent = 0)
    {
        PlayerStatus s;
        s.state = state;
        s.bufferPercent = percent;
        emit statusChanged(s);
    }
    quint64 m_generation = 0;
};

ReplyingBackend *engineOf(PlayerControl *player)
{
    return player ? player->findChild<ReplyingBackend *>() : nullptr;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void twoThousandRandomSteps();
};

void TestSoak::twoThousandRandomSteps()
{
    const QList<quint16> ports = sim::freeLoopbackPorts(65); // never connected to
    ConfigHome config(sim::loopbackConfig(ports));
    PageSetDriver shell([](QWidget *clientArea) -> PlayerControl * {
        auto backend = std::make_unique<ReplyingBackend>();
        ReplyingBackend *engine = backend.get();
        auto *player = new PlayerControl(PlayerSettings::stored(), std::move(backend), clientArea);
        engine->setParent(player); // to be found again; the player deletes it first, as ever
        return player;
    });

    const quint32 seed = qEnvironmentVariableIsSet("LUMORA_SOAK_SEED")
        ? quint32(qEnvironmentVariableIntValue("LUMORA_SOAK_SEED")) : 7u;
    RandomWalk walk(shell, sim::loopbackTable(ports), seed,
                    [](PlayerControl *player, const Station &, const QString &address) -> QString {
                        ReplyingBackend *engine = engineOf(player);
                        const QStringList expected = {QStringLiteral("stop"), QStringLiteral("open:") + address};
                        if (!engine || engine->lastActions.mid(engine->lastActions.size() - 2) != expected)
                            return QStringLiteral("the engine was asked %1")
                                .arg(engine ? engine->lastActions.join(u',') : QStringLiteral("nothing"));
                        return {};
                    });
    StallMeter meter;
    meter.start();
    qint64 memoryAt250 = 0;
    for (int i = 1; i <= 2000; ++i) {
        const QString failure = walk.step();
        QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("step %1 (seed %2): %3").arg(i).arg(seed).arg(failure)));
        meter.label(walk.lastStep());
        // Mostly the next step comes before the engines' answers, every tenth after them.
        const QString paused = walk.pause(i % 10 == 0 ? 25 : 1);
        QVERIFY2(paused.isEmpty(), qPrintable(QStringLiteral("after step %1: %2").arg(i).arg(paused)));
        if (i == 250)
            memoryAt250 = heapInUseKb();
    }
    meter.stop();
    const qint64 memoryAtEnd = heapInUseKb();
    qInfo("seed %u: %d page changes, %d station clicks, %d pages closed and reopened", seed,
          walk.counts().navigations, walk.counts().clicks, walk.counts().closes);
    qInfo("heap after 250 steps %lld KiB, after 2000 %lld KiB; worst stall %lld ms (%s)", memoryAt250,
          memoryAtEnd, meter.worstMs(), qPrintable(meter.worstAt()));
    QVERIFY(walk.counts().closes > 50 && walk.counts().clicks > 800);
    QVERIFY(!meter.dialogSeen());
    // Bounded: what 1750 further steps add is far less than what they allocate and free.
    QVERIFY2(memoryAtEnd - memoryAt250 < 8 * 1024, qPrintable(QString::number(memoryAtEnd - memoryAt250)));

    // Every open page's player holds its last click; the engines answered them.
    for (auto it = walk.lastPlayed().cbegin(); it != walk.lastPlayed().cend(); ++it)
        QTRY_COMPARE(shell.player(it.key())->status().state, PlaybackState::Playing);
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
