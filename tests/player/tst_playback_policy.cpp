// The playback policy on a hand-driven clock, with stand-ins for the opener and the decoder:
// which entry is tried when, when the player gives up, how often a broken stream is rejoined,
// and what the status says meanwhile. Seconds of waiting run in microseconds.

#include "player/engine/cushion_keeper.h"
#include "player/engine/playback_policy.h"
#include "tests/support/hand_clock.h"

#include <QSignalSpy>
#include <QTest>
#include <map>

using namespace lumora;
using namespace lumora::test;

namespace {


class FakeSource : public StreamSource {
public:
    explicit FakeSource(qint64 size = -1, qint64 duration = -1) : duration(duration)
    {
        m_buffer = std::make_shared<StreamBuffer>(size, false);
    }
    void close() override { closed = true; }
    // A stream of pieces of two seconds each that starts again at the piece holding ms.
    qint64 durationMs() const override { return duration; }
    qint64 startMs() const override { return start; }
    bool restartAt(qint64 ms) override
    {
        if (duration <= 0)
            return false;
        restarts << ms;
        start = ms / 2000 * 2000;
        m_buffer = std::make_shared<StreamBuffer>();
        return true;
    }
    qint64 duration;
    qint64 start = 0;
    QList<qint64> restarts;
    void title(const QString &t) { emit titleChanged(t); }
    void titleAt(qint64 audioMs, const QString &t)
    {
        m_titleAudioMs = audioMs;
        emit titleChanged(t);
    }
    void end(OpenFailure f = OpenFailure::None) { emit ended(f, QStringLiteral("gone")); }
    void spacing(int ms) { emit spacingChanged(ms); }
    void redial(int attempt, int nextInMs, bool down = false) { emit reconnecting(attempt, nextInMs, down, OpenFailure::NoAnswer); }
    void redialed() { emit reconnected(); }
    bool closed = false;
};

// Entries by address: each resolve() or next() hands out the next one, or fails.
class FakeOpener : public StreamOpener {
public:
    QStringList entries;
    QStringList resolved; // every resolve(), in order
    int position = 0;
    bool pending = false;
    OpenFailure why = OpenFailure::Refused;
    FakeSource *lastSource = nullptr;
    qint64 fileSize = -1;
    qint64 duration = -1;

    void resolve(const QString &address) override
    {
        resolved << address;
        position = 0;
        pending = true;
    }
    void next() override { pending = true; }
    void cancel() override { pending = false; }
    std::unique_ptr<StreamSource> takeSource() override
    {
        auto s = std::make_unique<FakeSource>(fileSize, duration);
        lastSource = s.get();
        return s;
    }
    OpenFailure failure() const override { return why; }
    int serverStatus() const override { return 0; }

    // What the network does next: the next entry is found, or there is none.
    void answer()
    {
        QVERIFY(pending);
        pending = false;
        if (position < entries.size())
            emit found(entries.at(position++));
        else
            emit failed(QStringLiteral("no entry left"));
    }
};

class FakeEngine : public DecodeEngine {
public:
    int plays = 0;
    int stops = 0;
    bool file = false;
    qint64 played = -1;
    QList<double> seeks;
    std::shared_ptr<StreamBuffer> buffer;
    void configure(const PlayerSettings &) override {}
    bool playBuffer(std::shared_ptr<StreamBuffer> b, const QString &) override
    {
        buffer = std::move(b);
        return ++plays, true;
    }
    bool playAddress(const QString &) override { return ++plays, true; }
    void stop() override { ++stops; }
    bool canPause() const override { return file; }
    void setPaused(bool) override {}
    void setVolume(int) override {}
    void setMuted(bool) override {}
    void seek(double f) override { seeks << f; }
    void setVideoWindow(WId) override {}
    bool isFile() const override { return file; }
    qint64 playedMs() const override { return played; }
    qint64 heard = -1;
    qint64 heardAudioMs() const override { return heard; }
    void seekable(bool can) { emit seekableChanged(can); }
    void sound() { emit soundStarted(); }
    void starve() { emit starved(); }
    void feed() { emit fed(); }
    void cushion(int ms) { emit cushionChanged(ms); }
    void silent() { emit noSoundDevice(); }
    void end() { emit ended(); }
    void fail() { emit failed(); }
};

struct Rig {
    Rig()
    {
        auto e = std::make_unique<FakeEngine>();
        auto o = std::make_unique<FakeOpener>();
        auto c = std::make_unique<HandClock>();
        engine = e.get();
        opener = o.get();
        clock = c.get();
        policy = std::make_unique<PlaybackPolicy>(std::move(e), std::move(o), std::move(c));
        QObject::connect(policy.get(), &MediaBackend::statusChanged, [this](const PlayerStatus &s) { statuses << s; });
    }
    PlaybackState state() const { return statuses.isEmpty() ? PlaybackState::Idle : statuses.last().state; }
    PlayerStatus last() const { return statuses.last(); }

    FakeEngine *engine;
    FakeOpener *opener;
    HandClock *clock;
    std::unique_ptr<PlaybackPolicy> policy;
    QList<PlayerStatus> statuses;
};

} // namespace

class TestPlaybackPolicy : public QObject {
    Q_OBJECT
private slots:
    void entriesAreTriedInTurnUntilOneIsHeard();
    void givesUpWithTheOpenersReason();
    void openBudgetCoversAllEntries();
    void playingOnlyOnceSoundIsHeard();
    void noSoundDeviceIsSaidAndNoOtherEntryTried();
    void brokenStreamIsRejoinedThreeTimesThenLost();
    void steadyPlayEarnsTheTriesBack();
    void aFileThatEndsIsOver();
    void aSourceOfKnownDurationSeeksItself();
    void titlesAreCoalesced();
    void titlesWaitForTheirAudio();
    void sparsePagesGetTheirTime();
    void lateDataIsWaitedForWithTheSeconds();
    void cushionGrowsSlowlyAndRebuffersOnce();
    void thinStreamHoldsBeforeLibvlcStarves();
    void theSpeedChangesOnlyWhileTheOutputIsSettled();
    void aSourceThatRedialsShowsItsTriesAndEndsAlone();
    void stopAbandonsEverything();
};

void TestPlaybackPolicy::entriesAreTriedInTurnUntilOneIsHeard()
{
    Rig r;
    r.opener->entries = {"http://a/1", "http://a/2", "http://a/3"};
    r.policy->open("http://a/list.asx");
    QCOMPARE(r.state(), PlaybackState::Opening);
    r.opener->answer();
    FakeSource *first = r.opener->lastSource;
    r.engine->fail(); // libVLC cannot decode the first entry
    QVERIFY(first->closed);
    r.opener->answer();
    r.clock->advance(PlaybackPolicy::kEntryTimeoutMs); // the second stays silent
    r.opener->answer();
    r.engine->sound();
    QCOMPARE(r.state(), PlaybackState::Playing);
    QCOMPARE(r.engine->plays, 3);
    QVERIFY(!r.opener->pending);
}

void TestPlaybackPolicy::givesUpWithTheOpenersReason()
{
    Rig r;
    r.opener->why = OpenFailure::NotFound;
    r.policy->open("http://a/");
    r.opener->answer();
    QCOMPARE(r.state(), PlaybackState::CannotOpen);
    QCOMPARE(r.last().failure, OpenFailure::NotFound);
    // A new address starts afresh: no reason left over.
    r.opener->entries = {"http://b/"};
    r.policy->open("http://b/");
    QCOMPARE(r.last().failure, OpenFailure::None);
}

void TestPlaybackPolicy::openBudgetCoversAllEntries()
{
    Rig r;
    r.opener->why = OpenFailure::None;
    r.opener->entries = {"http://a/1", "http://a/2"};
    r.policy->open("http://a/");
    r.opener->answer();
    r.clock->advance(PlaybackPolicy::kEntryTimeoutMs);
    r.opener->answer();
    r.clock->advance(PlaybackPolicy::kOpenBudgetMs - PlaybackPolicy::kEntryTimeoutMs);
    QCOMPARE(r.state(), PlaybackState::CannotOpen);
    QCOMPARE(r.last().failure, OpenFailure::NoAnswer); // nothing better known
    QVERIFY(!r.opener->pending);
}

void TestPlaybackPolicy::playingOnlyOnceSoundIsHeard()
{
    Rig r;
    r.opener->entries = {"http://a/"};
    r.policy->open("http://a/");
    r.opener->answer();
    r.opener->lastSource->buffer()->write(0, QByteArray(8000, 'x'));
    r.clock->advance(PlaybackPolicy::kProgressIntervalMs);
    QCOMPARE(r.state(), PlaybackState::Buffering);
    QCOMPARE(r.last().bufferPercent, int(8000 * 100 / PlaybackPolicy::kStartBytes));
    for (const PlayerStatus &s : std::as_const(r.statuses))
        QVERIFY(s.state != PlaybackState::Playing);
    r.engine->sound();
    QCOMPARE(r.state(), PlaybackState::Playing);
}

void TestPlaybackPolicy::noSoundDeviceIsSaidAndNoOtherEntryTried()
{
    Rig r;
    r.opener->entries = {"http://a/1", "http://a/2"};
    r.policy->open("http://a/");
    r.opener->answer();
    r.engine->silent();
    QCOMPARE(r.state(), PlaybackState::NoSoundDevice);
    r.clock->advance(60000);
    QCOMPARE(r.state(), PlaybackState::NoSoundDevice);
    QCOMPARE(r.engine->plays, 1);
    QVERIFY(!r.opener->pending);
}

void TestPlaybackPolicy::brokenStreamIsRejoinedThreeTimesThenLost()
{
    Rig r;
    r.opener->entries = {"http://a/live"};
    r.policy->open("http://a/list.pls");
    r.opener->answer();
    r.engine->sound();
    r.opener->lastSource->end(OpenFailure::NoAnswer);
    r.engine->end();
    const int pauses[] = {1000, 2000, 4000};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(r.state(), PlaybackState::Reconnecting);
        QCOMPARE(r.last().attempt, i + 1);
        r.clock->advance(pauses[i] - 1);
        QCOMPARE(r.opener->resolved.size(), 1 + i); // not a moment early
        r.clock->advance(1);
        QCOMPARE(r.opener->resolved.size(), 2 + i);
        QCOMPARE(r.opener->resolved.last(), QString("http://a/live")); // the stream, not the list
        // It connects, sends a few bytes, even plays a moment, and breaks again.
        r.opener->answer();
        r.engine->sound();
        r.engine->end();
    }
    QCOMPARE(r.state(), PlaybackState::Lost);
    r.clock->advance(600000);
    QCOMPARE(r.opener->resolved.size(), 4); // one connection and three tries, then quiet
}

void TestPlaybackPolicy::steadyPlayEarnsTheTriesBack()
{
    Rig r;
    r.opener->entries = {"http://a/live"};
    r.policy->open("http://a/live");
    r.opener->answer();
    r.engine->sound();
    for (int round = 0; round < 5; ++round) {
        r.clock->advance(PlaybackPolicy::kSteadyPlayMs);
        r.engine->end();
        QCOMPARE(r.last().attempt, 1);
        r.clock->advance(1000);
        r.opener->answer();
        r.engine->sound();
    }
    QCOMPARE(r.state(), PlaybackState::Playing);
    // A request about every half minute: a handful a minute at most.
    QCOMPARE(r.opener->resolved.size(), 6);
}

void TestPlaybackPolicy::aFileThatEndsIsOver()
{
    Rig r;
    r.opener->fileSize = 500000;
    r.opener->entries = {"http://a/news.mp3"};
    r.policy->open("http://a/news.mp3");
    r.opener->answer();
    r.engine->sound();
    r.engine->end();
    QCOMPARE(r.state(), PlaybackState::Ended);
    r.clock->advance(60000);
    QCOMPARE(r.opener->resolved.size(), 1);
}

void TestPlaybackPolicy::aSourceOfKnownDurationSeeksItself()
{
    // A finished HLS playlist of a minute, which libVLC reads from a pipe: the source says
    // that it can seek and how long it lasts, and the position is where its buffer begins
    // plus what the engine has played of it.
    Rig r;
    r.opener->duration = 60000;
    r.opener->entries = {"http://a/vod.m3u8"};
    QSignalSpy seekable(r.policy.get(), &MediaBackend::seekableChanged);
    QSignalSpy position(r.policy.get(), &MediaBackend::positionChanged);
    r.policy->open("http://a/vod.m3u8");
    r.opener->answer();
    FakeSource *s = r.opener->lastSource;
    QCOMPARE(seekable.size(), 1);
    QVERIFY(seekable.last().at(0).toBool());
    r.engine->seekable(false); // libVLC, on its pipe: not what the player shows
    QCOMPARE(seekable.size(), 1);
    r.engine->sound();
    r.engine->played = 6000;
    r.clock->advance(PlaybackPolicy::kPositionIntervalMs);
    QCOMPARE(position.last().at(0).toDouble(), 0.1);

    // A seek starts the source again and the engine on its new buffer.
    const int plays = r.engine->plays;
    r.policy->seek(0.75);
    QCOMPARE(s->restarts, QList<qint64>{45000});
    QVERIFY(r.engine->seeks.isEmpty());
    QCOMPARE(r.engine->plays, plays + 1);
    QCOMPARE(r.engine->buffer, s->buffer());
    QCOMPARE(position.last().at(0).toDouble(), 44000.0 / 60000);
    r.engine->played = 3000;
    r.clock->advance(PlaybackPolicy::kPositionIntervalMs);
    QCOMPARE(position.last().at(0).toDouble(), 47000.0 / 60000);
    QCOMPARE(r.state(), PlaybackState::Playing);

    // Its end is the end, as a file's: not rejoined.
    r.engine->end();
    QCOMPARE(r.state(), PlaybackState::Ended);
    QVERIFY(!seekable.last().at(0).toBool());
    r.clock->advance(60000);
    QCOMPARE(r.opener->resolved.size(), 1);

    // A live source of no duration: the seek is the engine's, which ignores it there.
    Rig live;
    live.opener->entries = {"http://a/live"};
    QSignalSpy liveSeekable(live.policy.get(), &MediaBackend::seekableChanged);
    live.policy->open("http://a/live");
    live.opener->answer();
    live.engine->sound();
    live.policy->seek(0.5);
    QCOMPARE(live.engine->seeks, QList<double>{0.5});
    QCOMPARE(live.opener->lastSource->restarts.size(), 0);
    QCOMPARE(liveSeekable.size(), 0);
}

void TestPlaybackPolicy::titlesAreCoalesced()
{
    Rig r;
    r.opener->entries = {"http://a/"};
    r.policy->open("http://a/");
    r.opener->answer();
    FakeSource *s = r.opener->lastSource;
    s->title("early"); // before sound: kept for when it plays
    r.engine->sound();
    QCOMPARE(r.last().title, QString("early"));
    const qsizetype before = r.statuses.size();
    for (int i = 0; i < 100; ++i) {
        s->title(QStringLiteral("title %1").arg(i));
        r.clock->advance(10);
    }
    r.clock->advance(PlaybackPolicy::kTitleIntervalMs);
    const qsizetype updates = r.statuses.size() - before;
    QVERIFY2(updates >= 3 && updates <= 1000 / PlaybackPolicy::kTitleIntervalMs + 2, qPrintable(QString::number(updates)));
    QCOMPARE(r.last().title, QString("title 99")); // the latest wins
}

void TestPlaybackPolicy::titlesWaitForTheirAudio()
{
    Rig r;
    r.opener->entries = {"http://a/live"};
    r.policy->open("http://a/live");
    r.opener->answer();
    FakeSource *s = r.opener->lastSource;
    r.engine->heard = 0;
    s->titleAt(500, "first"); // names what already plays
    r.engine->sound();
    QCOMPARE(r.last().title, QString("first"));

    // Titles that came in the cushion, seconds ahead of their audio.
    r.engine->heard = 1000;
    s->titleAt(4000, "next");
    s->titleAt(4100, "next, corrected"); // within the same moment of audio: one title
    s->titleAt(7000, "later");
    r.clock->advance(2000);
    QCOMPARE(r.last().title, QString("first"));
    r.engine->heard = 4050;
    r.clock->advance(PlaybackPolicy::kHeardTitleCheckMs);
    QCOMPARE(r.last().title, QString("next, corrected"));
    r.clock->advance(2000); // a wait for late data: nothing more is heard
    QCOMPARE(r.last().title, QString("next, corrected"));
    r.engine->heard = 7000;
    r.clock->advance(PlaybackPolicy::kTitleIntervalMs);
    QCOMPARE(r.last().title, QString("later"));

    // A server that sends a title with every few bytes: a bounded wait, the latest wins.
    for (int i = 1; i <= 20000; ++i)
        s->titleAt(7000 + i * PlaybackPolicy::kTitleIntervalMs, QStringLiteral("flood %1").arg(i));
    const qsizetype before = r.statuses.size();
    r.engine->heard = 1LL << 40;
    r.clock->advance(PlaybackPolicy::kTitleIntervalMs);
    QCOMPARE(r.last().title, QString("flood 20000"));
    QVERIFY(r.statuses.size() - before <= 2);

    // Where a title's audio is not known, it shows as it comes.
    s->titleAt(1LL << 41, "ahead");
    s->titleAt(-1, "unplaced");
    r.clock->advance(PlaybackPolicy::kTitleIntervalMs);
    QCOMPARE(r.last().title, QString("unplaced"));
    r.clock->advance(1000);
    QCOMPARE(r.last().title, QString("unplaced")); // the one before it is dropped

    // Titles waiting for a stream that is left are not shown for the next one.
    s->titleAt(r.engine->heard + 5000, "never heard");
    r.policy->open("http://b/live");
    r.opener->answer();
    r.engine->sound();
    r.engine->heard = 1LL << 42;
    r.clock->advance(1000);
    QVERIFY(r.last().title != QString("never heard"));
}

void TestPlaybackPolicy::sparsePagesGetTheirTime()
{
    Rig r;
    r.opener->entries = {"http://a/ogg"};
    r.policy->open("http://a/ogg");
    r.opener->answer();
    r.opener->lastSource->spacing(100); // pages that flow: nothing to do
    r.clock->advance(4000);
    r.opener->lastSource->spacing(4000);
    r.clock->advance(PlaybackPolicy::kEntryTimeoutMs + 4000); // past what a flowing stream gets
    QCOMPARE(r.state(), PlaybackState::Opening);
    QCOMPARE(r.engine->plays, 1);
    r.engine->sound();
    QCOMPARE(r.state(), PlaybackState::Playing);
}

void TestPlaybackPolicy::lateDataIsWaitedForWithTheSeconds()
{
    Rig r;
    r.opener->entries = {"http://a/live"};
    r.policy->open("http://a/live");
    r.opener->answer();
    r.opener->lastSource->title("news");
    r.engine->sound();
    r.engine->cushion(3400);
    QCOMPARE(r.state(), PlaybackState::Playing);
    QCOMPARE(r.last().cushionMs, 3400);

    r.engine->starve(); // the sound stopped: never "playing" in silence
    QCOMPARE(r.state(), PlaybackState::Waiting);
    QCOMPARE(r.last().waitedMs, 0);
    QCOMPARE(r.last().title, QString("news"));
    r.clock->advance(2500);
    QCOMPARE(r.last().waitedMs, 2000);
    QCOMPARE(r.state(), PlaybackState::Waiting);
    QCOMPARE(r.opener->resolved.size(), 1); // a late stream is waited for, not opened again

    r.engine->feed();
    QCOMPARE(r.state(), PlaybackState::Playing);
    QCOMPARE(r.last().waitedMs, 0);
    QCOMPARE(r.last().title, QString("news"));
    const qsizetype after = r.statuses.size();
    r.clock->advance(5000); // no ticking once it plays
    QCOMPARE(r.statuses.size(), after);

    r.policy->stop();
    QCOMPARE(r.last().cushionMs, -1);
}

void TestPlaybackPolicy::aSourceThatRedialsShowsItsTriesAndEndsAlone()
{
    Rig r;
    r.opener->entries = {"http://a/live"};
    r.policy->open("http://a/live");
    r.opener->answer();
    FakeSource *source = r.opener->lastSource;
    r.engine->sound();
    source->redial(1, 1000); // still heard from the cushion: still playing
    QCOMPARE(r.state(), PlaybackState::Playing);
    r.engine->starve(); // silent: which try, and when
    QCOMPARE(r.state(), PlaybackState::Reconnecting);
    QCOMPARE(r.last().attempt, 1);
    QCOMPARE(r.last().nextTryInMs, 1000);
    r.clock->advance(1000);
    source->redial(2, -1, true);
    QCOMPARE(r.last().attempt, 2);
    QCOMPARE(r.last().nextTryInMs, -1);
    QVERIFY(r.last().networkDown);
    source->redialed();
    QCOMPARE(r.state(), PlaybackState::Waiting); // connected again, the sound not yet back
    r.engine->feed();
    QCOMPARE(r.state(), PlaybackState::Playing);

    // When the source gives up, its tries were the tries: lost, no more requests.
    source->redial(3, 4000);
    source->end(OpenFailure::Refused);
    r.engine->end();
    QCOMPARE(r.state(), PlaybackState::Lost);
    QCOMPARE(r.last().failure, OpenFailure::Refused);
    r.clock->advance(60000);
    QCOMPARE(r.opener->resolved.size(), 1);
}

void TestPlaybackPolicy::cushionGrowsSlowlyAndRebuffersOnce()
{
    // A stream without a burst: 300 ms in hand when the sound starts, then data in real time.
    CushionKeeper k;
    qint64 received = 300, heard = 0;
    CushionKeeper::Decision d;
    int msToSlow = -1;
    for (int ms = 0; ms < 120000 && k.cushionMs() < k.targetMs(); ms += 100) {
        received += 100;
        heard += qint64(100 * d.rate);
        d = k.update(received, heard);
        QVERIFY(!d.hold);
        if (msToSlow < 0 && d.rate == CushionKeeper::kSlowRate)
            msToSlow = ms;
    }
    // Short of the target: imperceptibly slower, once the audio output has settled.
    QVERIFY2(qAbs(msToSlow - CushionKeeper::kSettleMs) <= 100, qPrintable(QString::number(msToSlow)));
    QCOMPARE(k.cushionMs(), qint64(k.targetMs()));
    QCOMPARE(d.rate, 1.0); // built: normal speed
    received += 100, heard += 100; // a small dip does not slow it down again at once
    QCOMPARE(k.update(received - 200, heard).rate, 1.0);

    // A stall longer than the cushion: one hold, just before the sound would stop, and no
    // slowing down while nothing comes (libVLC would take the change as it starts again)...
    int holds = 0;
    for (int ms = 0; ms < 6000; ms += 100) {
        if (!k.holding())
            heard += 100;
        d = k.update(received, heard);
        holds += d.hold;
        QVERIFY(!d.release);
        QCOMPARE(d.rate, 1.0);
    }
    QCOMPARE(holds, 1);
    QVERIFY(k.cushionMs() < CushionKeeper::kLowMs && k.cushionMs() > 0);
    QCOMPARE(k.targetMs(), CushionKeeper::kTargetMs + CushionKeeper::kTargetStepMs);
    // ...and play again once a larger cushion is in, not at the first byte.
    received += 500;
    QVERIFY(!k.update(received, heard).release);
    received += k.resumeMs();
    d = k.update(received, heard);
    QVERIFY(d.release);
    QVERIFY(k.resumeMs() > CushionKeeper::kLowMs * 4);

    // libVLC's own wait for late data counts as one too, and ends when libVLC says so.
    k.holdStarted();
    QVERIFY(k.holding());
    QVERIFY(!k.update(received + 20000, heard).release);
    k.holdEnded();
    QVERIFY(!k.holding());
    QCOMPARE(k.targetMs(), CushionKeeper::kTargetMs + 2 * CushionKeeper::kTargetStepMs);
    for (int i = 0; i < 10; ++i)
        k.holdStarted(), k.holdEnded();
    QCOMPARE(k.targetMs(), CushionKeeper::kMaxTargetMs); // bounded
}

void TestPlaybackPolicy::theSpeedChangesOnlyWhileTheOutputIsSettled()
{
    constexpr int step = CushionKeeper::kUpdateMs;
    CushionKeeper::Decision d;
    qint64 received = 0, heard = 0;
    auto play = [&](CushionKeeper &k, int ms, int audioPerStep) {
        for (int t = 0; t < ms; t += step) {
            if (!k.holding())
                heard += qint64(step * d.rate);
            d = k.update(received += audioPerStep, heard);
        }
    };
    // A stream without a burst plays slower once the output has settled after the first sound.
    CushionKeeper k;
    received = 800;
    play(k, CushionKeeper::kSettleMs - step, step);
    QCOMPARE(d.rate, 1.0);
    play(k, 2 * step, step);
    QCOMPARE(d.rate, CushionKeeper::kSlowRate);
    // libVLC waits for late data and starts again by itself: the speed stays through its wait
    // and while its output settles again, whatever came meanwhile.
    k.holdStarted();
    play(k, 3000, 3 * step);
    QCOMPARE(d.rate, CushionKeeper::kSlowRate);
    k.holdEnded();
    play(k, CushionKeeper::kResettleMs - step, step);
    QCOMPARE(d.rate, CushionKeeper::kSlowRate);
    QVERIFY(k.cushionMs() >= k.targetMs()); // normal speed is due...
    play(k, 2 * step, step);
    QCOMPARE(d.rate, 1.0); // ...and comes once the output has settled

    // Held in its first seconds: no change of speed while paused, however long, nor while the
    // output settles after it.
    CushionKeeper early;
    received = 800, heard = 0, d = {};
    for (int ms = 0; !d.hold; ms += step) {
        QVERIFY2(ms < 2000, "no hold");
        play(early, step, 0);
    }
    play(early, 6000, 0);
    received += early.resumeMs();
    d = early.update(received, heard);
    QVERIFY(d.release);
    QCOMPARE(d.rate, 1.0);
    play(early, CushionKeeper::kResettleMs - step, step);
    QCOMPARE(d.rate, 1.0);
    play(early, 2 * step, step);
    QCOMPARE(d.rate, CushionKeeper::kSlowRate);

    // Held while slowed, libVLC is stopped and started afresh at normal speed: the answer is
    // normal speed from then on, and the speed changes again as after a first start.
    CushionKeeper fresh;
    received = 800, heard = 0, d = {};
    play(fresh, CushionKeeper::kSettleMs + step, step);
    QCOMPARE(d.rate, CushionKeeper::kSlowRate);
    for (int ms = 0; !d.hold; ms += step) {
        QVERIFY2(ms < 2000, "no hold");
        play(fresh, step, 0);
    }
    fresh.restartAtNormalSpeed();
    play(fresh, 1000, 0);
    QCOMPARE(d.rate, 1.0);
    received += fresh.resumeMs();
    d = fresh.update(received, heard);
    QVERIFY(d.release);
    play(fresh, CushionKeeper::kSettleMs - step, step);
    QCOMPARE(d.rate, 1.0);
    play(fresh, 2 * step, step);
    QCOMPARE(d.rate, CushionKeeper::kSlowRate);
}

void TestPlaybackPolicy::thinStreamHoldsBeforeLibvlcStarves()
{
    // 32 kbit/s arriving at 90 % of the speed it plays at: libVLC reads it in blocks of a
    // quarter second and more, so the hold comes while that much is still in hand.
    CushionKeeper k;
    k.setBytesPerSecond(4000);
    QVERIFY(k.lowMs() >= CushionKeeper::kLowMs + 500);
    qint64 received = 1200, heard = 0;
    CushionKeeper::Decision d;
    int holds = 0, msToHold = -1;
    for (int ms = 0; ms < 30000; ms += CushionKeeper::kUpdateMs) {
        received += 90;
        if (!k.holding())
            heard += qint64(100 * d.rate);
        const double rateBefore = d.rate;
        d = k.update(received, heard);
        if (d.hold) {
            ++holds;
            if (msToHold < 0)
                msToHold = ms;
            QVERIFY(k.cushionMs() >= CushionKeeper::kLowMs + 500);
        }
        if (k.holding() || d.release)
            QCOMPARE(d.rate, rateBefore); // no change of speed around a hold
    }
    QVERIFY2(msToHold > 0 && msToHold < 10000, qPrintable(QString::number(msToHold)));
    // After the one hold the larger cushion carries the rest of half a minute at 90 %.
    QCOMPARE(holds, 1);

    // The same thin stream on a link that keeps up, without a burst: 300 ms in hand at the
    // start is short but not falling, and its blocks come whole in time: no hold.
    CushionKeeper steady;
    steady.setBytesPerSecond(4000);
    received = 300, heard = 0;
    d = {};
    for (int ms = 0; ms < 20000; ms += CushionKeeper::kUpdateMs) {
        received += 100;
        heard += qint64(100 * d.rate);
        d = steady.update(received, heard);
        QVERIFY2(!d.hold, qPrintable(QString::number(ms)));
    }

    // A stall of the thin stream with 3 s in hand: nothing comes, so the plain mark alone
    // holds, and a stall shorter than the cushion is ridden out without one.
    CushionKeeper stalled;
    stalled.setBytesPerSecond(4000);
    received = 3000, heard = 0;
    for (int ms = 0; ms < 3000; ms += CushionKeeper::kUpdateMs)
        QVERIFY(!stalled.update(received += 100, heard += 100).hold);
    bool held = false;
    for (int ms = 0; ms < 2600; ms += CushionKeeper::kUpdateMs)
        held |= stalled.update(received, heard += 100).hold;
    QVERIFY2(!held, qPrintable(QString::number(stalled.cushionMs())));

    // A short stall of the thin stream with under a second in hand, after a hold of the
    // link that took some of it: the cushion falls while data came over the trend's span,
    // but nothing comes now, so the plain mark holds and the stall is ridden out.
    CushionKeeper jittery;
    jittery.setBytesPerSecond(4000);
    received = 1300, heard = 0;
    for (int ms = 0; ms < 3000; ms += CushionKeeper::kUpdateMs)
        QVERIFY(!jittery.update(received += (ms < 2000 ? 100 : 80), heard += 100).hold);
    held = false;
    for (int ms = 0; ms < 500; ms += CushionKeeper::kUpdateMs)
        held |= jittery.update(received, heard += 100).hold;
    QVERIFY2(!held, qPrintable(QString::number(jittery.cushionMs())));
    QVERIFY(jittery.cushionMs() < jittery.lowMs());

    // A stream of ordinary rate keeps the plain mark; a nonsense rate changes nothing.
    CushionKeeper fast;
    fast.setBytesPerSecond(16000);
    QVERIFY(fast.lowMs() < CushionKeeper::kLowMs + 200);
    fast.setBytesPerSecond(0);
    fast.setBytesPerSecond(-1);
    QVERIFY(fast.lowMs() < CushionKeeper::kLowMs + 200);
    CushionKeeper trickle;
    trickle.setBytesPerSecond(10);
    QCOMPARE(trickle.lowMs(), CushionKeeper::kMaxLowMs);
}

void TestPlaybackPolicy::stopAbandonsEverything()
{
    Rig r;
    r.opener->entries = {"http://a/live"};
    r.policy->open("http://a/live");
    r.opener->answer();
    r.engine->sound();
    r.engine->end(); // broke: a rejoin is due in a second
    r.policy->stop();
    QCOMPARE(r.state(), PlaybackState::Stopped);
    r.clock->advance(60000);
    QCOMPARE(r.opener->resolved.size(), 1);
    QCOMPARE(r.state(), PlaybackState::Stopped);
}

QTEST_GUILESS_MAIN(TestPlaybackPolicy)
#include "tst_playback_policy.moc"
