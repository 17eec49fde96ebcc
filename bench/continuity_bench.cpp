// How steadily the program, VLC and mpv play a live stream over rough links. For each link
// condition of the station simulator, with the server's connect burst and without it, the
// three play the same live MP3 station (an Icecast mount) through that link, each into a null
// sink of its own on one sound server, all at the same time (the same machine load), for N
// seconds after each one's first sound. Prints per condition and player the dropouts
// (silences of 60 ms or more at the sink's monitor after the first sound), the seconds of
// silence, the first sound and the program's cushion; writes the table as CSV.
//   lumora-bench-continuity [--seconds N] [--conditions a,b,...] [--busy] [--kbps N] [--out FILE]
// (--busy: the clean link also with two busy loops running; --kbps: the stream's bit rate,
// 32 by default, 128 as most of the region's MP3 stations.) The program is timed from its
// button's click in a running program, VLC and mpv from the play command given to them
// running idle. Needs pulseaudio, parec, vlc, mpv and an X display (scripts/bench).

#include "bench_support.h"
#include "players.h"
#include "sink_monitor.h"

#include "player/net/wire_url.h"
#include "tools/station-sim/link_condition.h"

#include <QCoreApplication>
#include <QTextStream>
#include <algorithm>
#include <memory>

using namespace lumora;
using namespace lumora::bench;

namespace {

constexpr int kMinSilenceMs = 60;
constexpr int kFirstSoundWithinMs = 20000;

struct Figures {
    QString condition, player;
    int burstMs = 0;
    double firstSoundMs = -1;
    int dropouts = -1;
    double silentSeconds = -1;
    double cushionSeconds = -1; // the program's median; -1: not reported
};

QString say(const QString &what)
{
    QTextStream(stderr) << "continuity: " << what << Qt::endl;
    return {};
}

// The live station: the first Icecast mount the catalogue names, as the rough links were
// measured against Icecast; a bare SHOUTcast server otherwise.
const sim::ServedStation *liveStation(const QList<sim::ServedStation> &served)
{
    const sim::ServedStation *icy = nullptr;
    for (const sim::ServedStation &s : served) {
        if (s.stations.isEmpty() || s.scheme != Scheme::Http)
            continue;
        if (s.answer == sim::Answer::IcecastMount)
            return &s;
        if (!icy && s.answer == sim::Answer::IcyServer)
            icy = &s;
    }
    return icy;
}

// Two processes that keep a core each busy while they live.
class BusyLoops {
public:
    explicit BusyLoops(int n)
    {
        for (int i = 0; i < n; ++i) {
            auto p = std::make_unique<QProcess>();
            p->start(QStringLiteral("sh"), {"-c", "while :; do :; done"});
            m_loops.push_back(std::move(p));
        }
    }
    ~BusyLoops()
    {
        for (auto &p : m_loops) {
            p->kill();
            p->waitForFinished(5000);
        }
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_loops;
};

// One run: the three players on one link condition, started together, heard for seconds.
QList<Figures> runOnce(const QString &program, const QString &soundProbe, const QString &condition, int burstMs,
                       int seconds, int kbps, const QString &label)
{
    QList<Figures> out;
    SoundServer sound;
    SimulatorProcess simulator;
    const QStringList sinks{QStringLiteral("lumora"), QStringLiteral("vlc"), QStringLiteral("mpv")};
    QString link = condition;
    if (condition.startsWith(u"thin"))
        link += (link.contains(u':') ? u',' : u':') + QStringLiteral("kbps=%1").arg(kbps); // the caps' unit
    if (!sound.start(sinks)
        || !simulator.start(
            program, {"--burst-ms", QString::number(burstMs), "--live-kbps", QString::number(kbps), "--link", link})) {
        say(QStringLiteral("%1: no sound server or simulator").arg(label));
        return out;
    }
    std::vector<std::unique_ptr<SinkMonitor>> monitors;
    for (const QString &sink : sinks) {
        monitors.push_back(std::make_unique<SinkMonitor>(seconds + 60));
        if (!monitors.back()->start(sound.address(), sink)) {
            say(QStringLiteral("%1: cannot listen at %2").arg(label, sink));
            return out;
        }
    }
    const QList<sim::ServedStation> served = sim::servedStations(simulator.table());
    const sim::ServedStation *station = liveStation(served);
    if (!station) {
        say(QStringLiteral("no live MP3 station"));
        return out;
    }
    const Station *button = station->stations.first();
    const QString url = toWireUrl(addressOf(*button, simulator.table()).text);

    // All three running and ready, then told to play at the same moment.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("PULSE_SERVER"), sound.address());
    env.insert(QStringLiteral("PULSE_SINK"), sinks[0]);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), simulator.configHome());
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), simulator.configHome() + QStringLiteral("/none"));
    QProcess ours;
    ours.setProcessEnvironment(env);
    ours.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ours.start(soundProbe, {"--go", "--stay", QString::number(seconds + 60), QString::number(pageNumber(button->page)),
                            QString::number(button->number)});
    PeerPlayer vlc(PeerPlayer::Kind::Vlc, sound.address(), sinks[1]);
    PeerPlayer mpv(PeerPlayer::Kind::Mpv, sound.address(), sinks[2]);
    if (!ours.waitForStarted(5000) || !vlc.start() || !mpv.start()) {
        say(QStringLiteral("%1: a player did not start").arg(label));
        return out;
    }
    idle(1500); // the program's pages open before it is told to click
    ours.write("go\n");
    const qint64 vlcSent = vlc.play(url), mpvSent = mpv.play(url);
    qint64 clicked = 0;
    QList<double> cushion;
    auto readOurs = [&] {
        while (ours.canReadLine()) {
            const QList<QByteArray> f = ours.readLine().trimmed().split(' ');
            if (f.value(0) == "click")
                clicked = f.value(1).toLongLong();
            else if (f.value(0) == "cushion" && f.value(1).toInt() >= 0)
                cushion << f.value(1).toDouble() / 1000.0;
        }
        return clicked > 0;
    };
    waitFor(readOurs, 30000);

    const qint64 sent[3] = {clicked, vlcSent, mpvSent};
    qint64 heard[3] = {-1, -1, -1};
    for (int i = 0; i < 3; ++i)
        heard[i] = sent[i] > 0 ? monitors[size_t(i)]->firstSound(sent[i], station->toneHz(), kFirstSoundWithinMs) : -1;
    qint64 last = 0;
    for (qint64 h : heard)
        last = std::max(last, h);
    const qint64 end = last + qint64(seconds) * 1000000000LL + 500000000LL; // and the monitors' own lag
    cushion.clear(); // from the first sound on
    waitFor([&] {
        readOurs();
        return nowNs() >= end;
    }, (seconds + 30) * 1000, 50);
    readOurs();
    std::sort(cushion.begin(), cushion.end());

    for (int i = 0; i < 3; ++i) {
        Figures f;
        f.condition = label;
        f.burstMs = burstMs;
        f.player = i == 0 ? QStringLiteral("lumora") : sinks[i];
        if (heard[i] > 0) {
            f.firstSoundMs = double(heard[i] - sent[i]) / 1e6;
            const auto c = monitors[size_t(i)]->continuity(heard[i], heard[i] + qint64(seconds) * 1000000000LL,
                                                           kMinSilenceMs);
            f.dropouts = c.dropouts;
            f.silentSeconds = c.silentSeconds;
            QStringList where;
            for (const auto &[at, length] : c.silences)
                where << QStringLiteral("%1 s (%2 ms)").arg(at, 0, 'f', 1).arg(qRound(length * 1000));
            if (!where.isEmpty())
                say(QStringLiteral("%1, %2: silent at %3").arg(label, f.player, where.join(u", ")));
        }
        if (i == 0 && !cushion.isEmpty())
            f.cushionSeconds = cushion[cushion.size() / 2];
        out << f;
    }
    ours.closeWriteChannel();
    if (!ours.waitForFinished(10000)) {
        ours.kill();
        ours.waitForFinished(5000);
    }
    return out;
}

QString number(double v, int decimals) { return v < 0 ? QStringLiteral("-") : QString::number(v, 'f', decimals); }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const char *name, const QString &otherwise) {
        const qsizetype at = args.indexOf(QLatin1StringView(name));
        return at > 0 ? args.value(at + 1) : otherwise;
    };
    const int seconds = std::max(5, option("--seconds", QStringLiteral("60")).toInt());
    const QString out = option("--out", QStringLiteral("bench-continuity.csv"));
    const int kbps = std::clamp(option("--kbps", QStringLiteral("32")).toInt(), 8, 160);
    const QStringList conditions = option("--conditions", sim::LinkCondition::names().join(u',')).split(u',');
    for (const QString &c : conditions) {
        QString error;
        if (!sim::LinkCondition::parse(c, &error))
            qFatal("%s", qPrintable(error));
    }
    const QString dir = QStringLiteral(LUMORA_BENCH_DIR);
    const QString probe = dir + QStringLiteral("/lumora-bench-sound");

    QList<Figures> table;
    for (const QString &condition : conditions) {
        for (int burst : {2000, 0}) {
            say(QStringLiteral("%1, burst %2 ms, %3 s, %4 kbit/s").arg(condition).arg(burst).arg(seconds).arg(kbps));
            table << runOnce(QStringLiteral(LUMORA_STATION_SIM), probe, condition, burst, seconds, kbps, condition);
        }
    }
    if (args.contains(u"--busy")) {
        for (int burst : {2000, 0}) {
            say(QStringLiteral("clean with two busy loops, burst %1 ms").arg(burst));
            BusyLoops busy(2);
            table << runOnce(QStringLiteral(LUMORA_STATION_SIM), probe, QStringLiteral("clean"), burst, seconds, kbps,
                             QStringLiteral("clean+busy"));
        }
    }

    QTextStream print(stdout);
    print << QStringLiteral("\n%1 %2 %3 %4 %5 %6 %7\n")
                 .arg(QStringLiteral("condition"), -12).arg(QStringLiteral("burst"), 6).arg(QStringLiteral("player"), -7)
                 .arg(QStringLiteral("dropouts"), 8).arg(QStringLiteral("silent s"), 9).arg(QStringLiteral("first ms"), 9)
                 .arg(QStringLiteral("cushion s"), 9);
    QFile csv(out);
    const bool writing = csv.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream c(&csv);
    if (writing)
        c << "condition,burst_ms,player,seconds,dropouts,silent_s,first_sound_ms,cushion_s\n";
    for (const Figures &f : table) {
        print << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                     .arg(f.condition, -12).arg(f.burstMs, 6).arg(f.player, -7)
                     .arg(f.dropouts < 0 ? QStringLiteral("-") : QString::number(f.dropouts), 8)
                     .arg(number(f.silentSeconds, 2), 9).arg(number(f.firstSoundMs, 0), 9)
                     .arg(f.player == u"lumora" ? number(f.cushionSeconds, 2) : QString(), 9);
        if (writing)
            c << f.condition << ',' << f.burstMs << ',' << f.player << ',' << seconds << ','
              << (f.dropouts < 0 ? QString() : QString::number(f.dropouts)) << ','
              << (f.silentSeconds < 0 ? QString() : QString::number(f.silentSeconds, 'f', 3)) << ','
              << (f.firstSoundMs < 0 ? QString() : QString::number(f.firstSoundMs, 'f', 1)) << ','
              << (f.cushionSeconds < 0 ? QString() : QString::number(f.cushionSeconds, 'f', 2)) << '\n';
    }
    print << QStringLiteral("\ndropouts: silences of %1 ms or more at each player's own null sink (parec on its monitor) "
                            "in the %2 s after its first sound; first sound: from the click (the program) or the "
                            "play command to the running player (vlc, mpv); cushion: the program's own report, "
                            "median\nwritten to %3\n")
                 .arg(kMinSilenceMs).arg(seconds).arg(out);
    return 0;
}
