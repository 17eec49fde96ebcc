// HTTP Live Streaming through the player, as a listener hears it: real libVLC plays the
// simulator's live HLS, which Lumora fetches segment by segment, and the tone is checked.

#include "tests/support/sim_fixture.h"
#include "tests/support/tapped_player.h"
#include "tests/support/wait.h"

#include <QSlider>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

constexpr int kSegmentMs = 1000;
constexpr int kHearMs = 20000;

// Requests whose target ends with suffix.
int requestsEndingWith(const sim::StationSimulator &sim, const QByteArray &suffix)
{
    int n = 0;
    for (const sim::RequestRecord &r : sim.requestLog())
        n += r.target.endsWith(suffix) ? 1 : 0;
    return n;
}

// The longest run of near-silence in the audio after its first second, in milliseconds.
int longestSilenceMs(const QVector<qint16> &s)
{
    constexpr int kWindow = AudioCapture::kRate / 50; // 20 ms
    int longest = 0, run = 0;
    for (qsizetype at = AudioCapture::kRate; at + kWindow <= s.size(); at += kWindow) {
        const bool quiet = AudioCapture::level(s.mid(at, kWindow)) < 0.003;
        run = quiet ? run + 20 : 0;
        longest = qMax(longest, run);
    }
    return longest;
}

// The first segment of a finished playlist's high variant asked for at or after the request
// numbered from; -1: none yet.
int firstVodSegmentFrom(const sim::StationSimulator &sim, qsizetype from)
{
    const QList<sim::RequestRecord> log = sim.requestLog();
    for (qsizetype i = from; i < log.size(); ++i)
        if (log[i].target.contains("/vod/hi/") && log[i].target.endsWith(".ts"))
            return log[i].target.mid(log[i].target.lastIndexOf('/') + 1).chopped(3).toInt();
    return -1;
}

} // namespace

class TestHlsPlayback : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void liveTsPlaysTheVariantWithinTheLimit();
    void packedAudioWithItsTitle();
    void encryptedSegments();
    void fragmentedMp4();
    void discontinuityAndMissingSegment();
    void stalledPlaylistIsLost();
    void finishedPlaylistSeeks();

private:
    std::unique_ptr<sim::StationSimulator> m_sim;
    const sim::ServedStation *m_station = nullptr;
};

void TestHlsPlayback::initTestCase()
{
    m_sim = startLoopbackSimulator();
    QVERIFY(m_sim);
    m_sim->setHlsSegmentMs(kSegmentMs);
    m_station = &m_sim->served().at(3);
}

void TestHlsPlayback::liveTsPlaysTheVariantWithinTheLimit()
{
    const int high = m_station->toneHz(), low = sim::StationSimulator::hlsLowToneHz(*m_station);
    // No limit: the variant of highest bandwidth, and only its playlist and segments.
    TappedPlayer p;
    p.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Ts));
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(high), qPrintable(p.tap->describe()), kHearMs);
    QTRY_COMPARE(p.player->status().state, PlaybackState::Playing);
    // Live: new segments are fetched as the playlist is reloaded, beyond the ones listed
    // when it was joined, and the tone goes on.
    const double start = p.tap->totalSeconds();
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->totalSeconds() > start + 6, 15000);
    QVERIFY2(p.tap->hears(high), qPrintable(p.tap->describe()));
    QVERIFY(requestsEndingWith(*m_sim, "/ts/hi/index.m3u8") >= 4);
    QCOMPARE(requestsEndingWith(*m_sim, "/ts/lo/index.m3u8"), 0);
    QVERIFY(longestSilenceMs(p.tap->samples()) < 200);
    // The segments' timed ID3 names what is on.
    QCOMPARE(p.player->status().title, m_station->caption);
    // The audio in hand is counted from the segments' frames, and shown.
    QTRY_VERIFY2(p.player->status().cushionMs >= 500, qPrintable(QString::number(p.player->status().cushionMs)));

    // Within a limit below the high variant's bandwidth: the low one.
    TappedPlayer limited;
    StreamResolver::Limits limits = limited.engine->resolver().limits();
    limits.hlsMaxBandwidth = sim::StationSimulator::kHlsHighBandwidth - 1;
    limited.engine->resolver().setLimits(limits);
    limited.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Ts));
    QTRY_VERIFY2_WITH_TIMEOUT(limited.tap->hears(low), qPrintable(limited.tap->describe()), kHearMs);
}

void TestHlsPlayback::packedAudioWithItsTitle()
{
    // ADTS after an ID3 tag in every segment: the tag is cut out, its title shown.
    TappedPlayer p;
    p.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Packed));
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().title, m_station->caption, 5000);
}

void TestHlsPlayback::encryptedSegments()
{
    TappedPlayer p;
    p.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Aes));
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
    QCOMPARE(requestsEndingWith(*m_sim, "/aes/key"), 1); // fetched once, kept
}

void TestHlsPlayback::fragmentedMp4()
{
    // The initialisation section once, then the fragments, as one fragmented MP4 file.
    TappedPlayer p;
    p.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Fmp4));
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
    const double start = p.tap->totalSeconds();
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->totalSeconds() > start + 5, 15000);
    QVERIFY2(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()));
    QVERIFY(longestSilenceMs(p.tap->samples()) < 200);
    QCOMPARE(requestsEndingWith(*m_sim, "/fmp4/hi/init.mp4"), 1);
    // The audio in hand is counted from the fragments' track runs, and shown.
    QTRY_VERIFY2(p.player->status().cushionMs >= 500, qPrintable(QString::number(p.player->status().cushionMs)));
}

void TestHlsPlayback::discontinuityAndMissingSegment()
{
    // The encoder starts again every fourth segment (time stamps from zero, marked), with the
    // title as timed ID3 beside the audio: heard as one tone, without a gap, titled.
    TappedPlayer p;
    p.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Discontinuity));
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->totalSeconds() > 9, 20000); // past two new starts
    QVERIFY2(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()));
    QVERIFY2(longestSilenceMs(p.tap->samples()) < 200, qPrintable(QString::number(longestSilenceMs(p.tap->samples()))));
    QVERIFY(!p.states.contains(PlaybackState::Reconnecting));
    QCOMPARE(p.player->status().title, m_station->caption);

    // Every fifth segment answers 404: asked for twice, then skipped; the stream goes on.
    TappedPlayer gaps;
    gaps.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Missing));
    QTRY_VERIFY2_WITH_TIMEOUT(gaps.tap->hears(m_station->toneHz()), qPrintable(gaps.tap->describe()), kHearMs);
    QTRY_VERIFY_WITH_TIMEOUT(requestsEndingWith(*m_sim, "/missing/hi/9.ts") >= 1, 20000);
    QCOMPARE(requestsEndingWith(*m_sim, "/missing/hi/8.ts"), 2);
    QTRY_VERIFY2_WITH_TIMEOUT(gaps.tap->hears(m_station->toneHz()), qPrintable(gaps.tap->describe()), 5000);
    QVERIFY(!gaps.states.contains(PlaybackState::Lost));
}

void TestHlsPlayback::stalledPlaylistIsLost()
{
    // The playlist stops advancing: what was fetched plays, then the station is lost, with
    // the reason that nothing came, and the player does not ask for it again and again.
    TappedPlayer p;
    p.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Stalled));
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Lost, 30000);
    QCOMPARE(p.player->status().failure, OpenFailure::NoAnswer);
    // Reloaded at half the target duration while unchanged, and the master read once.
    QVERIFY(requestsEndingWith(*m_sim, "/stalled/hi/index.m3u8") >= 6);
    QCOMPARE(requestsEndingWith(*m_sim, "/stalled/master.m3u8"), 1);
}

void TestHlsPlayback::finishedPlaylistSeeks()
{
    // A finished playlist of 60 one-second segments: played from its start, its position
    // shown on the bar, and a seek starts it again at the segment holding that moment.
    TappedPlayer p;
    auto *bar = p.player->findChild<QSlider *>(QStringLiteral("positionBar"));
    QVERIFY(bar);
    const double step = 1.0 / bar->maximum();
    const double segment = 1.0 / sim::kVodSegments;
    double position = -1;
    connect(&p.player->model().backend(), &MediaBackend::positionChanged, this, [&](double f) { position = f; });
    p.player->setURL(sim::StationSimulator::hlsAddress(*m_station, sim::HlsMode::Vod));
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
    QCOMPARE(firstVodSegmentFrom(*m_sim, 0), 0);
    QTRY_VERIFY(bar->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(position > segment, 10000); // a second in, and on
    QVERIFY(position < 0.5);

    // Forward, past what was fetched ahead, then back: each time the segment that holds the
    // moment asked for is the next one fetched, the position goes on from there and the
    // tone plays.
    for (const double to : {0.755, 0.1}) {
        const qsizetype before = m_sim->requestLog().size();
        p.player->model().backend().seek(to);
        QTRY_VERIFY_WITH_TIMEOUT(firstVodSegmentFrom(*m_sim, before) >= 0, 10000);
        QCOMPARE(firstVodSegmentFrom(*m_sim, before), int(to * sim::kVodSegments));
        p.tap->clear();
        QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(m_station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
        QTRY_VERIFY_WITH_TIMEOUT(position > to + segment, 10000);
        QVERIFY2(position < to + 8 * segment, qPrintable(QString::number(position)));
        QTRY_VERIFY(qAbs(bar->value() * step - position) < 2 * segment);
        QCOMPARE(p.player->status().state, PlaybackState::Playing);
    }

    // Half a second before the end, inside the last segment: that half second plays, not the
    // whole segment, then the player has ended, as a file does. What is heard is counted from
    // the segment's fetch, after anything the engine left behind gave while it stopped.
    const qsizetype before = m_sim->requestLog().size();
    p.player->model().backend().seek(1.0 - 0.5 * segment);
    QTRY_VERIFY_WITH_TIMEOUT(firstVodSegmentFrom(*m_sim, before) >= 0, 10000);
    const double heardBefore = p.tap->totalSeconds();
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Ended, 20000);
    const double heard = p.tap->totalSeconds() - heardBefore;
    QVERIFY2(heard > 0.3 && heard < 0.75, qPrintable(QString::number(heard)));
    QVERIFY(!p.states.contains(PlaybackState::Reconnecting));
    QVERIFY(!p.states.contains(PlaybackState::Lost));
    QVERIFY(!bar->isEnabled());
}

QTEST_MAIN(TestHlsPlayback)
#include "tst_hls_playback.moc"
