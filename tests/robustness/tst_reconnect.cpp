// A live stream that breaks off is first continued by its own source, on new connections at
// growing pauses whose repeated audio is not played again, showing "reconnecting" with the try
// while silent; when three tries only repeat what was heard, the source gives up and the player
// stops and says so, adding no tries of its own. A stream that comes back plays
// on; a file that ends stops; a click meanwhile ends the rejoining. Through the real windows
// and real libVLC against the simulator, whose "reset" fault drops each connection after
// sending its burst of two seconds of audio.

#include "robustness.h"

using namespace lumora;
using namespace lumora::test;

namespace {

struct Moment {
    qint64 at; // ms since the epoch, as the simulator's request log has it
    PlaybackState state;
    int attempt;
};

// What a player said, with when.
struct StatusLog {
    QList<Moment> moments;
    QMetaObject::Connection connection;

    StatusLog(PlayerControl *player)
    {
        connection = QObject::connect(player, &PlayerControl::statusChanged, player, [this](const PlayerStatus &s) {
            if (moments.isEmpty() || moments.last().state != s.state || moments.last().attempt != s.attempt)
                moments.append({QDateTime::currentMSecsSinceEpoch(), s.state, s.attempt});
        });
    }
    ~StatusLog() { QObject::disconnect(connection); }
    const Moment *first(PlaybackState state, int attempt = -1) const
    {
        for (const Moment &m : moments)
            if (m.state == state && (attempt < 0 || m.attempt == attempt))
                return &m;
        return nullptr;
    }
    QString text() const
    {
        QStringList out;
        for (const Moment &m : moments)
            out << playbackStateName(m.state) + (m.attempt ? QStringLiteral("(%1)").arg(m.attempt) : QString());
        return out.join(u' ');
    }
};

// The times anything connected for a station: every connection is the player's own, and
// every one counts.
QList<qint64> connections(SimulatorThread &sim, const Station &station)
{
    const QString label = pageName(station.page) + u'.' + station.buttonName();
    QList<qint64> out;
    for (const sim::RequestRecord &r : sim.requestLog())
        if (r.station == label)
            out << r.time.toMSecsSinceEpoch();
    return out;
}

} // namespace

class TestReconnect : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void aBrokenLiveStreamIsRetriedThenGivenUp();
    void aStreamThatComesBackPlaysOn();
    void aClickWhileReconnectingEndsTheRejoining();
    void aFileThatEndsStops();

private:
    const Station &icyStation(Page page) const;

    SimulatedProgram m_program;
    StallMeter m_meter;
};

void TestReconnect::initTestCase()
{
    QString error;
    QVERIFY2(m_program.start(SimulatorThread::fileSeconds(3), &error), qPrintable(error)); // "MP3" files of three seconds
}

void TestReconnect::cleanupTestCase()
{
    m_program.stop();
}

void TestReconnect::init()
{
    m_program.sim.clearFaults();
    m_program.sim.call([](sim::StationSimulator &s) { s.clearRequestLog(); });
    m_meter.start();
}

void TestReconnect::cleanup()
{
    m_meter.stop();
    QVERIFY(!m_meter.dialogSeen());
    QVERIFY(m_program.shell->ends.isEmpty());
    QVERIFY2(m_meter.worstMs() <= kStallLimitMs, qPrintable(QStringLiteral("the event loop stalled %1 ms while %2")
                                                      .arg(m_meter.worstMs()).arg(m_meter.worstAt())));
}

const Station &TestReconnect::icyStation(Page page) const
{
    for (const Station &s : stationsOf(page))
        if (const_cast<SimulatorThread &>(m_program.sim).served(s).answer == sim::Answer::IcyServer)
            return s;
    qFatal("no ICY station on %s", qPrintable(pageName(page)));
}

void TestReconnect::aBrokenLiveStreamIsRetriedThenGivenUp()
{
    PageSetDriver &shell = *m_program.shell;
    const Station &station = icyStation(Page::Form2);
    const int hz = m_program.sim.served(station).toneHz();
    m_program.sim.setFault(station, sim::Fault::ResetMidStream);
    shell.goTo(station.page);
    StatusLog log(shell.player(station.page));
    const qint64 clicked = QDateTime::currentMSecsSinceEpoch();
    shell.click(station);
    QTRY_VERIFY2_WITH_TIMEOUT(captureOf(shell, station.page)->hears(hz), qPrintable(captureOf(shell, station.page)->describe()), 10000);

    m_meter.label(QStringLiteral("the stream breaks off and is retried"));
    QTRY_VERIFY2_WITH_TIMEOUT(log.first(PlaybackState::Lost), qPrintable(log.text()), 60000);
    const Moment lost = *log.first(PlaybackState::Lost);
    QCOMPARE(shell.player(station.page)->statusText(), QString::fromUtf8("انقطع البث وتعذّرت إعادة الاتصال"));

    // The source tried three more connections itself, after about 1, 2 and 4 s; each only
    // repeated the burst already heard. Its tries were the tries: no more came on top.
    const QList<qint64> connected = connections(m_program.sim, station);
    QCOMPARE(connected.size(), 1 + 3);
    const int pauses[] = {1000, 2000, 4000};
    for (int i = 1; i < connected.size(); ++i)
        QVERIFY2(connected[i] - connected[i - 1] >= pauses[i - 1] * 95 / 100 - 20,
                 qPrintable(QStringLiteral("try %1 after %2 ms").arg(i).arg(connected[i] - connected[i - 1])));
    // While silent the listener was told which try was under way, counting up, never past three.
    int lastAttempt = 0;
    for (const Moment &m : log.moments)
        if (m.state == PlaybackState::Reconnecting) {
            QVERIFY2(m.attempt >= lastAttempt && m.attempt <= 3, qPrintable(log.text()));
            lastAttempt = m.attempt;
        }
    QVERIFY2(lastAttempt > 0, qPrintable(log.text()));
    QVERIFY2(lost.at - clicked < 30000, qPrintable(log.text()));
    qInfo("statuses: %s", qPrintable(log.text()));

    // And then it has stopped: no more connections, no more sound.
    const qint64 heard = captureOf(shell, station.page)->totalSamples();
    const int count = connections(m_program.sim, station).size();
    m_meter.label(QStringLiteral("after giving up"));
    // Nothing for five seconds: a deliberate fixed look.
    QVERIFY(holdsFor([&] { return connections(m_program.sim, station).size() == count; }, 5000));
    QVERIFY(captureOf(shell, station.page)->totalSamples() - heard < AudioCapture::kRate / 2); // what was buffered
    QCOMPARE(shell.player(station.page)->status().state, PlaybackState::Lost);
}

void TestReconnect::aStreamThatComesBackPlaysOn()
{
    PageSetDriver &shell = *m_program.shell;
    const Station &station = icyStation(Page::Form4);
    const int hz = m_program.sim.served(station).toneHz();
    m_program.sim.setFault(station, sim::Fault::ResetMidStream);
    shell.goTo(station.page);
    StatusLog log(shell.player(station.page));
    shell.click(station);
    QTRY_VERIFY_WITH_TIMEOUT(log.first(PlaybackState::Reconnecting), 10000);
    m_program.sim.clearFaults(); // the server is back before the next try
    QTRY_VERIFY_WITH_TIMEOUT(log.moments.last().state == PlaybackState::Playing, 10000);
    captureOf(shell, station.page)->clear();
    // No further break for longer than one burst of the broken stream.
    const qsizetype settled = log.moments.size();
    const auto steady = [&] {
        for (qsizetype i = settled; i < log.moments.size(); ++i)
            if (log.moments.at(i).state != PlaybackState::Playing)
                return false;
        return true;
    };
    QVERIFY2(holdsFor(steady, 3500), qPrintable(log.text()));
    QVERIFY2(captureOf(shell, station.page)->hears(hz), qPrintable(captureOf(shell, station.page)->describe()));
    QCOMPARE(shell.player(station.page)->status().state, PlaybackState::Playing);
}

void TestReconnect::aClickWhileReconnectingEndsTheRejoining()
{
    PageSetDriver &shell = *m_program.shell;
    const Station &broken = icyStation(Page::Form16);
    const Station *other = nullptr;
    for (const Station &s : stationsOf(Page::Form16))
        if (m_program.sim.served(s).port != m_program.sim.served(broken).port && m_program.sim.served(s).answer == sim::Answer::AsxTidy)
            other = &s;
    QVERIFY(other);
    m_program.sim.setFault(broken, sim::Fault::ResetMidStream);
    shell.goTo(broken.page);
    StatusLog log(shell.player(broken.page));
    shell.click(broken);
    QTRY_VERIFY_WITH_TIMEOUT(log.first(PlaybackState::Reconnecting), 10000);
    const int connected = connections(m_program.sim, broken).size();
    shell.click(*other); // within the pause before the next try
    captureOf(shell, broken.page)->clear();
    QTRY_VERIFY2_WITH_TIMEOUT(captureOf(shell, broken.page)->hears(m_program.sim.served(*other).toneHz()),
                              qPrintable(captureOf(shell, broken.page)->describe()), 10000);
    // Past the pause of the first try, no try was made.
    QVERIFY(holdsFor([&] { return connections(m_program.sim, broken).size() == connected; }, 2000));
    QCOMPARE(shell.player(broken.page)->status().state, PlaybackState::Playing);
}

void TestReconnect::aFileThatEndsStops()
{
    PageSetDriver &shell = *m_program.shell;
    const Station *file = nullptr;
    for (const Station &s : stationsOf(Page::Form5))
        if (m_program.sim.served(s).answer == sim::Answer::Mp3File && !file)
            file = &s;
    QVERIFY(file);
    shell.goTo(file->page);
    StatusLog log(shell.player(file->page));
    captureOf(shell, file->page)->clear();
    const qint64 before = captureOf(shell, file->page)->totalSamples();
    shell.click(*file);
    QTRY_COMPARE_WITH_TIMEOUT(shell.player(file->page)->status().state, PlaybackState::Ended, 10000);
    QCOMPARE(shell.player(file->page)->statusText(), QString::fromUtf8("انتهى"));
    const int connected = connections(m_program.sim, *file).size();
    // For three seconds more nothing joins it again.
    QVERIFY(holdsFor([&] { return connections(m_program.sim, *file).size() == connected; }, 3000));
    // Once: about three seconds of it, not rejoined, not repeated.
    const double played = double(captureOf(shell, file->page)->totalSamples() - before) / AudioCapture::kRate;
    QVERIFY2(played > 2.5 && played < 4, qPrintable(QString::number(played)));
    QCOMPARE(connections(m_program.sim, *file).size(), connected);
    QCOMPARE(shell.player(file->page)->status().state, PlaybackState::Ended);
    QVERIFY2(!log.first(PlaybackState::Reconnecting), qPrintable(log.text()));
}

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
