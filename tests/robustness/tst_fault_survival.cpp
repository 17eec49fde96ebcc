// Every way a radio server can misbehave, met through the program's own windows and real
// libVLC players: no crash, no dialog, the status settles ("cannot open", or the station
// plays after all) within 15 s, the event loop never stalls, and every other player and
// every other station of the page goes on playing.
//
// Each fault is met three times: by a station whose address is a playlist or page (fetched
// and read by the resolver), by a bare HTTP stream station (ICY or Icecast mount: the
// resolver looks at its first bytes, libVLC plays it) and by an mms station (left to
// libVLC alone, which tries MMS over TCP and then over HTTP). Faults run in parallel rounds, one faulty station per page, on ports no healthy
// station of the round uses.

#include "robustness.h"

#include <QSet>

using namespace lumora;
using namespace lumora::test;

namespace {

constexpr qint64 kSettleMs = 15000;   // the status says what became of a click within this

enum class Path { Playlist, HttpStream, Mms };

const sim::Fault kFaults[] = {
    sim::Fault::Refuse,           sim::Fault::NotFound,       sim::Fault::ServerError,
    sim::Fault::NoAnswer,         sim::Fault::HeadersThenStall, sim::Fault::Trickle,
    sim::Fault::ResetMidStream,   sim::Fault::RedirectLoop,   sim::Fault::RedirectChain,
    sim::Fault::SelfPlaylist,     sim::Fault::HugePlaylist,   sim::Fault::JunkAudio,
};

bool fitsPath(const sim::ServedStation &s, Path path)
{
    switch (path) {
    case Path::Playlist: return s.scheme == Scheme::Http && sim::isPlaylistAnswer(s.answer);
    case Path::HttpStream:
        return s.scheme == Scheme::Http
            && (s.answer == sim::Answer::IcyServer || s.answer == sim::Answer::IcecastMount);
    case Path::Mms: return s.scheme == Scheme::Mms;
    }
    return false;
}

QString pathName(Path path)
{
    switch (path) {
    case Path::Playlist: return QStringLiteral("playlist");
    case Path::HttpStream: return QStringLiteral("http stream");
    case Path::Mms: return QStringLiteral("mms");
    }
    return {};
}

// Stations that start playing quickly when healthy: the ones checked after a fault.
bool isQuickAnswer(sim::Answer a)
{
    return a == sim::Answer::AsxTidy || a == sim::Answer::AsxServerStyle || a == sim::Answer::M3u
        || a == sim::Answer::Pls || a == sim::Answer::IcyServer || a == sim::Answer::IcecastMount;
}

struct Case {
    sim::Fault fault;
    Path path;
    const Station *faulty = nullptr;
    const Station *healthy = nullptr;
    int faultyHz = 0, healthyHz = 0;
    qint64 clickedAt = -1, settledAt = -1;
    QString outcome; // "cannot open", "lost", "plays"
    QList<PlaybackState> states;

    QString name() const
    {
        return QStringLiteral("%1 on %2 (%3)")
            .arg(sim::faultName(fault), pageName(faulty->page) + u'.' + faulty->buttonName(),
                 pathName(path));
    }
};

struct Round {
    QSet<int> pages; // page numbers
    QSet<quint16> faultPorts, healthyPorts;
    QList<Case> cases;
};

} // namespace

class TestFaultSurvival : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyFaultSettlesAndEverythingElsePlays();

private:
    bool plan();
    void runRound(Round &round, int number);

    SimulatedProgram m_program;
    QHash<const Station *, sim::ServedStation> m_served;
    const Station *m_witness = nullptr;
    int m_witnessHz = 0;
    QList<Round> m_rounds;
    StallMeter m_meter;
    QElapsedTimer m_clock;
};

void TestFaultSurvival::initTestCase()
{
    QString error;
    QVERIFY2(m_program.start(SimulatorThread::fileSeconds(10), &error), qPrintable(error));
    for (const Station &s : allStations())
        m_served.insert(&s, m_program.sim.served(s));
    QVERIFY(plan());
    m_clock.start();
}

void TestFaultSurvival::cleanupTestCase()
{
    m_program.stop();
}

bool TestFaultSurvival::plan()
{
    // One page plays a healthy station through every round: the witness.
    m_witness = &station(Page::Form10, 1);
    m_witnessHz = m_served[m_witness].toneHz();
    const quint16 witnessPort = m_served[m_witness].port;

    int caseNumber = 0;
    for (Path path : {Path::Mms, Path::HttpStream, Path::Playlist}) {
        for (sim::Fault fault : kFaults) {
            ++caseNumber;
            bool placed = false;
            for (int r = 0; !placed && r <= m_rounds.size(); ++r) {
                if (r == m_rounds.size())
                    m_rounds.append(Round{});
                Round &round = m_rounds[r];
                for (int n = pageNumber(Page::Form2); !placed && n <= pageNumber(Page::Form18); ++n) {
                    const Page page = Page(n);
                    if (page == m_witness->page || round.pages.contains(pageNumber(page)))
                        continue;
                    const std::span<const Station> stations = stationsOf(page);
                    // Start at a different station of the page for each case, so that the
                    // playlist cases meet more than one kind of playlist.
                    for (std::size_t k = 0; !placed && k < stations.size(); ++k) {
                        const Station &faulty = stations[(k + std::size_t(caseNumber)) % stations.size()];
                        const sim::ServedStation &f = m_served[&faulty];
                        if (!fitsPath(f, path) || f.port == witnessPort || round.faultPorts.contains(f.port)
                            || round.healthyPorts.contains(f.port))
                            continue;
                        for (const Station &healthy : stations) {
                            const sim::ServedStation &h = m_served[&healthy];
                            if (!isQuickAnswer(h.answer) || h.port == f.port
                                || round.faultPorts.contains(h.port) || h.index == f.index)
                                continue;
                            Case c{fault, path, &faulty, &healthy, f.toneHz(), h.toneHz(), -1, -1, {}, {}};
                            round.cases.append(c);
                            round.pages.insert(pageNumber(page));
                            round.faultPorts.insert(f.port);
                            round.healthyPorts.insert(h.port);
                            placed = true;
                            break;
                        }
                    }
                }
                if (!placed && round.cases.isEmpty()) {
                    qWarning("no station can take %s", qPrintable(sim::faultName(fault)));
                    return false;
                }
            }
        }
    }
    // Rounds that stayed empty while looking for a place.
    m_rounds.removeIf([](const Round &r) { return r.cases.isEmpty(); });
    return true;
}

void TestFaultSurvival::everyFaultSettlesAndEverythingElsePlays()
{
    PageSetDriver &shell = *m_program.shell;
    // Every page is opened once first: its window, its player and (for the first) libVLC.
    // What that costs is measured by the benchmarks; here it is reported.
    m_meter.start();
    for (int n = pageNumber(Page::Form2); n <= pageNumber(Page::Form18); ++n) {
        m_meter.label(QStringLiteral("opening ") + pageName(Page(n)));
        shell.goTo(Page(n));
        QVERIFY(userPause(20));
    }
    qInfo("worst event-loop stall while opening the pages: %lld ms (%s)", m_meter.worstMs(),
          qPrintable(m_meter.worstAt()));

    m_meter.start();
    m_meter.label(QStringLiteral("witness starts"));
    shell.click(*m_witness);
    QTRY_VERIFY2_WITH_TIMEOUT(captureOf(shell, m_witness->page) && captureOf(shell, m_witness->page)->hears(m_witnessHz),
                              qPrintable(captureOf(shell, m_witness->page)->describe()), 15000);

    for (int r = 0; r < m_rounds.size(); ++r) {
        runRound(m_rounds[r], r + 1);
        if (QTest::currentTestFailed())
            return;
    }
    m_meter.stop();
    qInfo("worst event-loop stall over the whole test: %lld ms (%s)", m_meter.worstMs(),
          qPrintable(m_meter.worstAt()));
    QVERIFY(!m_meter.dialogSeen());
    QVERIFY(shell.ends.isEmpty());
}

void TestFaultSurvival::runRound(Round &round, int number)
{
    PageSetDriver &shell = *m_program.shell;
    QStringList names;
    for (const Case &c : round.cases)
        names << c.name();
    qInfo("round %d: %s", number, qPrintable(names.join(QStringLiteral(", "))));

    // Faults first, then every faulty station clicked, one page after another.
    for (const Case &c : round.cases)
        m_program.sim.setFault(*c.faulty, c.fault);
    const AudioCapture *witness = captureOf(shell, m_witness->page);
    const qint64 witnessBefore = witness->totalSamples();
    const qint64 roundStart = m_clock.elapsed();
    QList<QMetaObject::Connection> watches;
    for (Case &c : round.cases) {
        m_meter.label(QStringLiteral("round %1: clicking %2").arg(number).arg(c.name()));
        shell.goTo(c.faulty->page);
        captureOf(shell, c.faulty->page)->clear();
        PlayerControl *player = shell.player(c.faulty->page);
        watches << connect(player, &PlayerControl::statusChanged, this, [this, &c](const PlayerStatus &s) {
            if (c.states.isEmpty() || c.states.last() != s.state)
                c.states << s.state;
            if (c.settledAt >= 0)
                return;
            if (s.state == PlaybackState::CannotOpen || s.state == PlaybackState::Lost) {
                c.settledAt = m_clock.elapsed();
                c.outcome = playbackStateName(s.state);
            }
        });
        c.clickedAt = m_clock.elapsed();
        shell.click(*c.faulty);
        QVERIFY(userPause(20)); // one click at a time, as a user clicks
    }

    // Every click settles: "cannot open", or its own station's tone is heard after all.
    m_meter.label(QStringLiteral("round %1: waiting for the faulty stations").arg(number));
    auto unsettled = [&] {
        int open = 0;
        for (Case &c : round.cases) {
            if (c.settledAt < 0 && captureOf(shell, c.faulty->page)->hears(c.faultyHz)) {
                c.settledAt = m_clock.elapsed();
                c.outcome = QStringLiteral("plays");
            }
            open += c.settledAt < 0;
        }
        return open;
    };
    waitFor([&] { return unsettled() == 0; }, kSettleMs + 2000);
    for (const QMetaObject::Connection &w : watches)
        disconnect(w);
    for (const Case &c : round.cases) {
        QStringList states;
        for (PlaybackState s : c.states)
            states << playbackStateName(s);
        qInfo("  %-48s %-12s after %5lld ms  (%s)", qPrintable(c.name()),
              qPrintable(c.outcome.isEmpty() ? QStringLiteral("UNSETTLED") : c.outcome),
              c.settledAt < 0 ? -1 : c.settledAt - c.clickedAt, qPrintable(states.join(u' ')));
    }
    for (const Case &c : round.cases) {
        QVERIFY2(c.settledAt >= 0, qPrintable(c.name() + QStringLiteral(" never settled: ")
                                              + shell.player(c.faulty->page)->statusText()));
        QVERIFY2(c.settledAt - c.clickedAt <= kSettleMs, qPrintable(c.name()));
    }

    // The page's other stations play: the healthy station of every faulty page.
    m_program.sim.clearFaults();
    for (const Case &c : round.cases) {
        m_meter.label(QStringLiteral("round %1: clicking %2 after %3").arg(number)
                          .arg(pageName(c.healthy->page) + u'.' + c.healthy->buttonName(), c.name()));
        captureOf(shell, c.faulty->page)->clear();
        shell.click(*c.healthy);
        QVERIFY(userPause(20));
    }
    m_meter.label(QStringLiteral("round %1: waiting for the healthy stations").arg(number));
    for (const Case &c : round.cases) {
        AudioCapture *tap = captureOf(shell, c.faulty->page);
        QTRY_VERIFY2_WITH_TIMEOUT(tap->hears(c.healthyHz),
                                  qPrintable(c.name() + QStringLiteral(", then ")
                                             + pageName(c.healthy->page) + u'.' + c.healthy->buttonName()
                                             + QStringLiteral(": ") + tap->describe()),
                                  10000);
    }

    // The witness played all along, on another page.
    const double witnessSeconds = double(witness->totalSamples() - witnessBefore) / AudioCapture::kRate;
    const double roundSeconds = double(m_clock.elapsed() - roundStart) / 1000;
    QVERIFY2(witness->hears(m_witnessHz), qPrintable(witness->describe()));
    QVERIFY2(witnessSeconds > 0.8 * roundSeconds,
             qPrintable(QStringLiteral("the witness played %1 s of a %2 s round").arg(witnessSeconds).arg(roundSeconds)));

    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!m_meter.dialogSeen());
    QVERIFY(shell.ends.isEmpty());
    qInfo("round %d: worst event-loop stall so far %lld ms (%s)", number, m_meter.worstMs(),
          qPrintable(m_meter.worstAt()));
    QVERIFY2(m_meter.worstMs() <= kStallLimitMs,
             qPrintable(QStringLiteral("the event loop stalled %1 ms while %2")
                            .arg(m_meter.worstMs()).arg(m_meter.worstAt())));

    // The healthy stations stop (the player's own stop button), so the next round starts quiet.
    for (const Case &c : round.cases) {
        shell.goTo(c.faulty->page);
        QTest::mouseClick(shell.player(c.faulty->page)->findChild<QWidget *>(QStringLiteral("stopButton")),
                          Qt::LeftButton);
    }
}

QTEST_MAIN(TestFaultSurvival)
#include "tst_fault_survival.moc"
