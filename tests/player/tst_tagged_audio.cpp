// Audio as taggers leave it: MP3 and AAC files, and live streams, that start with an ID3v2 tag
// of 300 KiB (a cover picture, then the title). Real libVLC plays the simulator's stations
// through the player; the tone is checked, and a file's title must be the tag's.

#include "tests/support/sim_fixture.h"
#include "tests/support/tapped_player.h"

#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

constexpr int kHearMs = 20000;

const sim::ServedStation *servedWith(const sim::StationSimulator &s, sim::Answer answer)
{
    for (const sim::ServedStation &st : s.served())
        if (st.answer == answer && st.scheme == Scheme::Http && !st.stations.isEmpty())
            return &st;
    return nullptr;
}

} // namespace

class TestTaggedAudio : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void playsBehindALargeTag_data();
    void playsBehindALargeTag();

private:
    std::unique_ptr<sim::StationSimulator> m_sim;
};

void TestTaggedAudio::initTestCase()
{
    m_sim = startLoopbackSimulator();
    QVERIFY(m_sim);
}

void TestTaggedAudio::playsBehindALargeTag_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("fault");
    const int mp3 = int(sim::Fault::Id3Cover), aac = int(sim::Fault::Id3CoverAac);
    QTest::newRow("MP3 file with a length") << int(sim::Answer::Mp3File) << mp3;
    QTest::newRow("AAC file with a length") << int(sim::Answer::Mp3File) << aac;
    QTest::newRow("live MP3 Icecast mount") << int(sim::Answer::IcecastMount) << mp3;
    QTest::newRow("live AAC Icecast mount") << int(sim::Answer::IcecastMount) << aac;
}

void TestTaggedAudio::playsBehindALargeTag()
{
    QFETCH(int, answer);
    QFETCH(int, fault);
    const sim::ServedStation *station = servedWith(*m_sim, sim::Answer(answer));
    QVERIFY(station);
    m_sim->setFault(station->address, sim::Fault(fault));
    TappedPlayer p;
    p.player->setURL(station->address);
    QTRY_VERIFY2_WITH_TIMEOUT(p.tap->hears(station->toneHz()), qPrintable(p.tap->describe()), kHearMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.player->status().state, PlaybackState::Playing, 5000);
    // A file's title is the tag's, which comes after the picture (a live mount sends its own).
    if (answer == int(sim::Answer::Mp3File))
        QTRY_COMPARE_WITH_TIMEOUT(p.player->status().title, station->caption, 5000);
    // And it goes on playing.
    const double start = p.tap->totalSeconds();
    QTRY_VERIFY_WITH_TIMEOUT(p.tap->totalSeconds() > start + 2, 10000);
    QVERIFY2(p.tap->hears(station->toneHz()), qPrintable(p.tap->describe()));
    m_sim->setFault(station->address, sim::Fault::None);
}

QTEST_MAIN(TestTaggedAudio)
#include "tst_tagged_audio.moc"
