// Runs every benchmark probe several times, each figure beside its baseline measured in the
// same run, and prints a table of medians with their ratios and targets; writes it as CSV.
//   lumora-bench [--out FILE] [--runs N] [--sound-only | --mms-only]
// (--sound-only: only the first-sound figures, the ones heard at the sound server's sink;
// --mms-only: only the first sound of the mms station, for the program, vlc and mpv.)
// Needs an X display (scripts/bench runs it under xvfb-run), pulseaudio, parec, cvlc and mpv.

#include "bench_fetch.h"
#include "player/net/wire_url.h"
#include "players.h"
#include "sink_monitor.h"
#include "tools/station-sim/rough_link.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <csignal>
#include <optional>

using namespace lumora;
using namespace lumora::bench;

namespace {

using Results = QHash<QString, QList<double>>;

double median(QList<double> v)
{
    if (v.isEmpty())
        return -1;
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString say(const char *what)
{
    QTextStream(stderr) << "bench: " << what << Qt::endl;
    return {};
}

// Runs a probe to its end and collects its "name value" lines (prefixed).
void runProbe(Results &into, const QString &program, const QStringList &args,
              const QProcessEnvironment &env, const QString &prefix = {}, int timeoutMs = 300000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs) || p.exitCode() != 0) {
        QTextStream(stderr) << "bench: " << program << " failed: " << p.readAllStandardError() << Qt::endl;
        p.kill();
        p.waitForFinished();
        return;
    }
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(' ');
        if (f.size() == 2)
            into[prefix + QString::fromLatin1(f[0])] << f[1].toDouble();
    }
}

// Wall time from starting a program to its first output line ("painted").
double timeToFirstLine(const QString &program, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(program, {});
    if (!p.waitForReadyRead(20000))
        return -1;
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    p.waitForFinished(10000);
    return ms;
}

// VLC's command-line player as a user starts it, for its CPU and memory.
QStringList cvlcCommand(const QString &url) { return {"cvlc", "-q", "--no-video", url}; }

// cvlc as nobody playing url into the sound server: CPU per cent over ms, and peak memory.
std::optional<std::pair<double, double>> cvlcUsage(const QString &url, const SoundServer &sound, int ms, int *streams)
{
    QProcess runuser;
    startAsNobody(runuser, sound.address(), cvlcCommand(url));
    if (!runuser.waitForStarted(5000))
        return {};
    const qint64 pid = childOf(runuser);
    std::optional<std::pair<double, double>> result;
    if (pid > 0) {
        idle(5000); // opened and playing steadily
        *streams = sound.streams();
        const ProcessUsage before = processUsage(pid);
        QElapsedTimer clock;
        clock.start();
        idle(ms);
        const ProcessUsage after = processUsage(pid);
        if (before.cpuMs >= 0 && after.cpuMs >= 0)
            result = std::make_pair(100.0 * double(after.cpuMs - before.cpuMs) / double(clock.elapsed()),
                                    double(after.peakKb));
    }
    stopAsNobody(runuser);
    return result;
}

// Another player, running idle, told to play url (the click) to its first sound of toneHz at
// the sink, in ms; -1 when none within 20 s. Afterwards the sink is silent again.
double peerFirstSound(SinkMonitor &sink, const SoundServer &sound, PeerPlayer::Kind kind, const QString &url, int toneHz)
{
    sink.waitSilence(300, 5000);
    qint64 heard = -1, clicked = -1;
    {
        PeerPlayer player(kind, sound.address());
        if (player.start() && (clicked = player.play(url)) > 0)
            heard = sink.firstSound(clicked, toneHz, 20000);
        else
            QTextStream(stderr) << "bench: " << PeerPlayer::name(kind) << " did not take the command" << Qt::endl;
    }
    sink.waitSilence(300, 5000);
    return heard < 0 ? -1 : double(heard - clicked) / 1e6;
}

// The program clicking the stations (page, number, ...) in turn: from its last click to its
// first sound of toneHz at the sink, in ms; -1 when none within 20 s.
double oursFirstSound(SinkMonitor &sink, const QString &program, const QProcessEnvironment &env,
                      const QList<const Station *> &clicks, int toneHz)
{
    sink.waitSilence(300, 5000);
    QStringList args;
    for (const Station *s : clicks)
        args << QString::number(pageNumber(s->page)) << QString::number(s->number);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    qint64 clicked = 0;
    int seen = 0;
    waitFor([&] {
        while (p.canReadLine()) {
            const QList<QByteArray> f = p.readLine().trimmed().split(' ');
            if (f.value(0) == "click" && ++seen == clicks.size())
                clicked = f.value(1).toLongLong();
        }
        return clicked > 0 || p.state() == QProcess::NotRunning;
    }, 60000);
    const qint64 heard = clicked > 0 ? sink.firstSound(clicked, toneHz, 20000) : -1;
    p.closeWriteChannel();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    sink.waitSilence(300, 5000);
    return heard < 0 ? -1 : double(heard - clicked) / 1e6;
}

// The served address a station of the page plays, if the simulator serves it as asked.
const sim::ServedStation *servedOf(const QList<sim::ServedStation> &served, const Station *station)
{
    for (const sim::ServedStation &s : served)
        if (s.stations.contains(station))
            return &s;
    return nullptr;
}

struct Row {
    Row(QString f, QString u, double v, QString b, double bv, QString t)
        : figure(std::move(f)), unit(std::move(u)), value(v), baseline(std::move(b)), baselineValue(bv),
          target(std::move(t))
    {
    }
    QString figure, unit;
    double value = -1;
    QString baseline;
    double baselineValue = -1;
    QString target;
    std::optional<bool> met;
};

struct Options {
    QString out = QStringLiteral("bench-results.csv");
    int runs = 9;
    bool mmsOnly = false;
    bool soundOnly = false; // mmsOnly too
};

Options readOptions(const QStringList &args)
{
    Options o;
    if (args.contains(u"--out"))
        o.out = args.value(args.indexOf(u"--out") + 1);
    if (args.contains(u"--runs"))
        o.runs = args.value(args.indexOf(u"--runs") + 1).toInt();
    o.mmsOnly = args.contains(u"--mms-only");
    o.soundOnly = o.mmsOnly || args.contains(u"--sound-only");
    return o;
}

QString bin(const char *name)
{
    return QStringLiteral(LUMORA_BENCH_DIR) + u'/' + QString::fromLatin1(name);
}

// CPU and memory of the program playing on 1, 5 and 17 pages, and of cvlc playing one stream.
struct Usage {
    QMap<int, QList<double>> cpu, peak;
    QList<double> vlcCpu, vlcPeak;
    int ourStreams17 = -1, vlcStreams = -1;
};

// Start-up, station pages, event-loop stalls at a switch and first audio decoded in-process:
// the figures that need no sound server.
void measureWithoutSound(Results &r, const Options &options, const QProcessEnvironment &gui)
{
    say("start-up: the program and a bare Qt window, alternately");
    for (int i = 0; i < (options.soundOnly ? 0 : options.runs + 2); ++i) {
        r[QStringLiteral("bare_start")] << timeToFirstLine(bin("lumora-bench-bare-window"), gui);
        r[QStringLiteral("lumora_start")] << timeToFirstLine(bin("lumora-bench-startup"), gui);
    }
    say("station page: first opening and showing again");
    for (int i = 0; i < (options.soundOnly ? 0 : options.runs); ++i)
        runProbe(r, bin("lumora-bench-pages"), {}, gui);

    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    say("event-loop stalls at a switch: to a plain station and to a 1 MiB playlist, idle and beside two busy loops");
    if (!options.soundOnly)
        runProbe(r, bin("lumora-bench-switch"), {QString::number(qMax(3, options.runs / 2))}, offscreen);
    say("first audio: streams that send a burst first (as Icecast and SHOUTcast do)");
    if (!options.soundOnly)
        runProbe(r, bin("lumora-bench-audio"), {"--burst", "2000", "--runs", QString::number(options.runs)}, offscreen);
    say("first audio: streams paced in real time from the first byte");
    if (!options.soundOnly)
        runProbe(r, bin("lumora-bench-audio"), {"--burst", "0", "--runs", QString::number(qMax(3, options.runs / 2))},
                 offscreen, QStringLiteral("paced_"));
}

// The station of the live HLS row: its own address answers the master playlist of the
// simulator's live MPEG-TS HLS (2 s segments), as a station that moved to HLS does. An http
// station whose address no other station shares; the other rows leave it alone.
const Station *hlsRowStation()
{
    QList<quint16> anyPorts;
    for (int i = 0; i < keys::kEndpointCount; ++i)
        anyPorts << quint16(20000 + i);
    for (const sim::ServedStation &s : sim::servedStations(sim::loopbackTable(anyPorts)))
        if (s.stations.size() == 1 && s.scheme == Scheme::Http && s.answer == sim::Answer::IcecastMount)
            return s.stations.first();
    return nullptr;
}

// First sound at the sink for the program, cvlc and mpv on the same addresses.
void measureFirstSound(Results &r, const Options &options, SoundServer &sound, SimulatorProcess &simulator,
                       SinkMonitor &sink, bool canPlay, const QProcessEnvironment &playing, const Station *hlsStation)
{
    say("first sound at the sink: the program, vlc and mpv; bursting ICY stream, direct and through a delay "
        "proxy; mms; live HLS; an MP3 file; a file station after a switch and on a fresh page");
    const QList<sim::ServedStation> served = sim::servedStations(simulator.table());
    const sim::ServedStation *icy = nullptr, *mms = nullptr, *file = nullptr, *live = nullptr;
    const sim::ServedStation *hls = servedOf(served, hlsStation);
    for (const sim::ServedStation &s : served) {
        if (s.stations.isEmpty() || &s == hls)
            continue;
        if (!icy && s.answer == sim::Answer::IcyServer && s.kind == Kind::Root && s.scheme == Scheme::Http)
            icy = &s;
        if (!mms && s.answer == sim::Answer::Mmsh && s.scheme == Scheme::Mms)
            mms = &s;
        if (s.answer != sim::Answer::Mp3File || s.scheme != Scheme::Http)
            continue;
        // A file station and a live stream on its page whose tones are far apart, so that the
        // file's own tone tells when it is heard after the switch.
        for (const Station &st : stationsOf(s.stations.first()->page)) {
            const sim::ServedStation *x = servedOf(served, &st);
            if (x && x != hls && x->scheme == Scheme::Http
                && (x->answer == sim::Answer::IcyServer || x->answer == sim::Answer::IcecastMount)
                && (!live || std::abs(x->toneHz() - s.toneHz()) > std::abs(live->toneHz() - file->toneHz()))) {
                file = &s;
                live = x;
            }
        }
    }
    if (!canPlay || !icy || !mms || !file || !sink.start(sound.address(), QStringLiteral("bench"))) {
        say("no sound server, simulator, monitor or stations: first-sound figures left out");
    } else {
        // 50 ms each way, and a connection's first bytes a round trip more for the handshake.
        sim::RoughLink proxy(icy->port, *sim::LinkCondition::parse(QStringLiteral("clean:delay-ms=50")));
        QTemporaryDir proxiedHome;
        QList<quint16> proxiedPorts = simulator.ports();
        const quint16 proxyPort = proxy.begin();
        proxiedPorts.replace(proxiedPorts.indexOf(icy->port), proxyPort);
        // The HLS station's playlists and segments through a delay of their own.
        std::optional<sim::RoughLink> hlsProxy;
        quint16 hlsProxyPort = 0;
        if (hls && hls->port != icy->port) {
            hlsProxy.emplace(hls->port, *sim::LinkCondition::parse(QStringLiteral("clean:delay-ms=50")));
            hlsProxyPort = hlsProxy->begin();
            if (hlsProxyPort)
                proxiedPorts.replace(proxiedPorts.indexOf(hls->port), hlsProxyPort);
        }
        QDir(proxiedHome.path()).mkpath(QStringLiteral("lumora"));
        QFile conf(proxiedHome.filePath(QStringLiteral("lumora/endpoints.conf")));
        conf.open(QIODevice::WriteOnly);
        conf.write(sim::loopbackConfig(proxiedPorts));
        conf.close();
        QProcessEnvironment viaProxy = playing;
        viaProxy.insert(QStringLiteral("XDG_CONFIG_HOME"), proxiedHome.path());
        const Station *icyStation = icy->stations.first();
        const QString icyUrl = toWireUrl(addressOf(*icyStation, simulator.table()).text);
        const QString proxiedUrl = toWireUrl(addressOf(*icyStation, sim::loopbackTable(proxiedPorts)).text);
        const QString mmsUrl = toWireUrl(addressOf(*mms->stations.first(), simulator.table()).text);
        const QString fileUrl = toWireUrl(addressOf(*file->stations.first(), simulator.table()).text);
        auto add = [&](const QString &key, double ms) {
            if (ms >= 0)
                r[key] << ms;
            else
                QTextStream(stderr) << "bench: " << key << ": no sound within 20 s" << Qt::endl;
        };
        const QString hlsUrl = hls ? toWireUrl(addressOf(*hlsStation, simulator.table()).text) : QString();
        const QString hlsProxiedUrl =
            hlsProxyPort ? toWireUrl(addressOf(*hlsStation, sim::loopbackTable(proxiedPorts)).text) : QString();
        for (const sim::ServedStation *s : {icy, mms, live, file, hls})
            if (s)
                QTextStream(stderr) << "bench: " << s->label() << ", " << answerName(s->answer) << ", " << s->toneHz()
                                << " Hz" << Qt::endl;
        // The HLS station's renditions are made before anyone is timed, as a live server has
        // its window ready: the first request would otherwise wait for its encoding.
        if (hls)
            for (const QString &resource : {QStringLiteral("hi/index.m3u8"), QStringLiteral("lo/index.m3u8")})
                fetch(sim::StationSimulator::hlsAddress(*hls, sim::HlsMode::Ts, resource));
        const QString ours = bin("lumora-bench-sound");
        for (int run = 0; run < options.runs; ++run) {
            if (options.mmsOnly) {
                add(QStringLiteral("heard_mms_ours"), oursFirstSound(sink, ours, playing, {mms->stations.first()}, mms->toneHz()));
                add(QStringLiteral("heard_mms_cvlc"), peerFirstSound(sink, sound, PeerPlayer::Kind::Vlc, mmsUrl, mms->toneHz()));
                add(QStringLiteral("heard_mms_mpv"), peerFirstSound(sink, sound, PeerPlayer::Kind::Mpv, mmsUrl, mms->toneHz()));
                continue;
            }
            add(QStringLiteral("heard_burst_ours"), oursFirstSound(sink, ours, playing, {icyStation}, icy->toneHz()));
            add(QStringLiteral("heard_burst_cvlc"), peerFirstSound(sink, sound, PeerPlayer::Kind::Vlc, icyUrl, icy->toneHz()));
            add(QStringLiteral("heard_burst_mpv"), peerFirstSound(sink, sound, PeerPlayer::Kind::Mpv, icyUrl, icy->toneHz()));
            if (proxyPort) {
                add(QStringLiteral("heard_proxy_ours"), oursFirstSound(sink, ours, viaProxy, {icyStation}, icy->toneHz()));
                add(QStringLiteral("heard_proxy_cvlc"), peerFirstSound(sink, sound, PeerPlayer::Kind::Vlc, proxiedUrl, icy->toneHz()));
                add(QStringLiteral("heard_proxy_mpv"), peerFirstSound(sink, sound, PeerPlayer::Kind::Mpv, proxiedUrl, icy->toneHz()));
            }
            add(QStringLiteral("heard_mms_ours"), oursFirstSound(sink, ours, playing, {mms->stations.first()}, mms->toneHz()));
            add(QStringLiteral("heard_mms_cvlc"), peerFirstSound(sink, sound, PeerPlayer::Kind::Vlc, mmsUrl, mms->toneHz()));
            add(QStringLiteral("heard_mms_mpv"), peerFirstSound(sink, sound, PeerPlayer::Kind::Mpv, mmsUrl, mms->toneHz()));
            if (hls) {
                add(QStringLiteral("heard_hls_ours"), oursFirstSound(sink, ours, playing, {hlsStation}, hls->toneHz()));
                add(QStringLiteral("heard_hls_cvlc"), peerFirstSound(sink, sound, PeerPlayer::Kind::Vlc, hlsUrl, hls->toneHz()));
                add(QStringLiteral("heard_hls_mpv"), peerFirstSound(sink, sound, PeerPlayer::Kind::Mpv, hlsUrl, hls->toneHz()));
            }
            if (hlsProxyPort) {
                add(QStringLiteral("heard_hlsproxy_ours"),
                    oursFirstSound(sink, ours, viaProxy, {hlsStation}, hls->toneHz()));
                add(QStringLiteral("heard_hlsproxy_cvlc"),
                    peerFirstSound(sink, sound, PeerPlayer::Kind::Vlc, hlsProxiedUrl, hls->toneHz()));
                add(QStringLiteral("heard_hlsproxy_mpv"),
                    peerFirstSound(sink, sound, PeerPlayer::Kind::Mpv, hlsProxiedUrl, hls->toneHz()));
            }
            // The fresh page's first click on the file station counts for both file rows.
            const double fresh = oursFirstSound(sink, ours, playing, {file->stations.first()}, file->toneHz());
            add(QStringLiteral("heard_file_fresh"), fresh);
            add(QStringLiteral("heard_mp3file_ours"), fresh);
            add(QStringLiteral("heard_mp3file_cvlc"),
                peerFirstSound(sink, sound, PeerPlayer::Kind::Vlc, fileUrl, file->toneHz()));
            add(QStringLiteral("heard_mp3file_mpv"),
                peerFirstSound(sink, sound, PeerPlayer::Kind::Mpv, fileUrl, file->toneHz()));
            add(QStringLiteral("heard_file_switch"), oursFirstSound(sink, ours, playing,
                                                              {live->stations.first(), file->stations.first()},
                                                              file->toneHz()));
        }
    }
}

Usage measureUsage(const Options &options, SoundServer &sound, SimulatorProcess &simulator, bool canPlay,
                   const QProcessEnvironment &playing)
{
    Usage u;
    say("CPU and memory: 1, 5 and 17 pages playing, and cvlc playing one of the same streams");
    if (!canPlay || options.soundOnly) {
        say("no sound server or simulator, or only sound figures asked for: CPU figures left out");
    } else {
        const Station *first = liveMp3Station(Page::Form2, simulator.table());
        const QString url = toWireUrl(addressOf(*first, simulator.table()).text);
        for (int round = 0; round < 3; ++round) {
            for (int n : {1, 5, kStationPageCount}) {
                Results one;
                runProbe(one, bin("lumora-bench-playing"), {QString::number(n), simulator.configFile()}, playing);
                u.cpu[n] << one.value(QStringLiteral("cpu_percent"));
                u.peak[n] << one.value(QStringLiteral("peak_kb"));
                if (n == kStationPageCount)
                    u.ourStreams17 = int(one.value(QStringLiteral("streams")).value(0, -1));
            }
            if (auto vlc = cvlcUsage(url, sound, 10000, &u.vlcStreams)) {
                u.vlcCpu << vlc->first;
                u.vlcPeak << vlc->second;
            }
        }
        if (u.vlcStreams != 1)
            say("cvlc did not play into the sound server: its figures are not comparable");
    }

    return u;
}

QList<Row> tableRows(const Results &r, const Usage &u)
{
    QList<Row> rows;
    auto m = [&](const QString &key) { return median(r.value(key)); };
    {
        Row row{QStringLiteral("start-up to the main page's first paint"), QStringLiteral("ms"),
                m(QStringLiteral("lumora_start")), QStringLiteral("bare Qt window"), m(QStringLiteral("bare_start")),
                QStringLiteral("<= 1.5 x baseline")};
        if (row.value >= 0)
            row.met = row.value <= 1.5 * row.baselineValue;
        rows << row;
    }
    rows << Row{QStringLiteral("station page, first opening (window, player, libVLC)"), QStringLiteral("ms"),
                m(QStringLiteral("page_first")), QStringLiteral("plain Qt window, as many buttons"),
                m(QStringLiteral("plain_first")), QStringLiteral("-")};
    rows << Row{QStringLiteral("  of which the player and libVLC instance"), QStringLiteral("ms"),
                m(QStringLiteral("page_player")), QString(), -1, QStringLiteral("-")};
    rows << Row{QStringLiteral("station page, shown again"), QStringLiteral("ms"), m(QStringLiteral("page_again")),
                QStringLiteral("plain Qt window, shown again"), m(QStringLiteral("plain_again")), QStringLiteral("-")};
    {
        const auto stall = [&](const char *key) { return m(QString::fromLatin1(key)); };
        Row row{QStringLiteral("worst event-loop stall at a switch to a 1 MiB playlist, 2 busy loops"),
                QStringLiteral("ms"), stall("switch_playlist_busy"),
                QStringLiteral("plain station; idle: playlist %1, plain %2")
                    .arg(stall("switch_playlist"), 0, 'f', 0).arg(stall("switch_plain"), 0, 'f', 0),
                stall("switch_plain_busy"), QStringLiteral("< 50 ms, all four")};
        const auto all = {stall("switch_playlist_busy"), stall("switch_plain_busy"), stall("switch_playlist"),
                          stall("switch_plain")};
        if (std::min(all) >= 0)
            row.met = std::max(all) < 50;
        rows << row;
    }
    // First sound at the sink, beside the faster of VLC and mpv told to play the same address.
    auto fasterPeer = [&](const QString &key, const QString &figure, const QString &target, double limitMs,
                          double factor = 1.0) {
        const double v = m(key + QStringLiteral("_cvlc")), p = m(key + QStringLiteral("_mpv"));
        const double faster = v < 0 ? p : p < 0 ? v : std::min(v, p);
        Row row{figure, QStringLiteral("ms"), m(key + QStringLiteral("_ours")),
                QStringLiteral("faster of vlc %1, mpv %2").arg(v, 0, 'f', 0).arg(p, 0, 'f', 0), faster, target};
        if (row.value >= 0)
            row.met = limitMs > 0 ? row.value <= limitMs : faster > 0 && row.value <= factor * faster;
        rows << row;
    };
    fasterPeer(QStringLiteral("heard_burst"), QStringLiteral("click to first sound, bursting ICY stream, loopback"),
               QStringLiteral("<= 1.0 x baseline"), 0);
    fasterPeer(QStringLiteral("heard_proxy"), QStringLiteral("the same through a proxy adding 50 ms each way"),
               QStringLiteral("<= 1.0 x baseline"), 0);
    fasterPeer(QStringLiteral("heard_mms"), QStringLiteral("click to first sound, mms (MMSH server bursts)"),
               QStringLiteral("<= 1.5 x baseline"), 0, 1.5);
    fasterPeer(QStringLiteral("heard_hls"), QStringLiteral("click to first sound, live HLS (MPEG-TS, 2 s segments)"),
               QStringLiteral("<= 1.0 x baseline"), 0);
    fasterPeer(QStringLiteral("heard_hlsproxy"), QStringLiteral("the same through a proxy adding 50 ms each way"),
               QStringLiteral("<= 1.0 x baseline"), 0);
    fasterPeer(QStringLiteral("heard_mp3file"), QStringLiteral("click to first sound, MP3 file (a length, ranges)"),
               QStringLiteral("<= 1.0 x baseline"), 0);
    {
        Row row{QStringLiteral("click to first sound, file station after a switch"), QStringLiteral("ms"),
                m(QStringLiteral("heard_file_switch")), QStringLiteral("fresh page's first click on it"),
                m(QStringLiteral("heard_file_fresh")), QStringLiteral("<= 300 ms")};
        if (row.value >= 0)
            row.met = row.value <= 300;
        rows << row;
    }
    // Decoded audio in-process, beside libVLC's own list player at libVLC's default network
    // caching: how the player opened every stream before it kept its own connections.
    for (const QString &pace : {QString(), QStringLiteral("paced_")}) {
        for (const char *kind : {"asx", "icy", "mms"}) {
            const QString k = pace + QString::fromLatin1(kind);
            Row row{QStringLiteral("click to first audio, %1 station%2")
                        .arg(QString::fromLatin1(kind).toUpper(), pace.isEmpty() ? QStringLiteral(" (server bursts)")
                                                                                 : QStringLiteral(" (paced stream)")),
                    QStringLiteral("ms"), m(k + QStringLiteral("_ours")), QStringLiteral("libVLC list player, 1 s caching"),
                    m(k + QStringLiteral("_list")), QStringLiteral("<= baseline + 50")};
            if (row.value >= 0)
                row.met = row.value <= row.baselineValue + 50;
            rows << row;
        }
    }
    const double vlcC = median(u.vlcCpu), vlcP = median(u.vlcPeak) / 1024;
    for (int n : {1, 5, kStationPageCount}) {
        Row row{QStringLiteral("CPU per playing page, %1 page%2 playing").arg(n).arg(n > 1 ? "s" : ""),
                QStringLiteral("% of a core"),
                median(u.cpu.value(n)) / n,
                QStringLiteral("cvlc, one stream"),
                vlcC,
                QStringLiteral("<= 1.1 x baseline")};
        if (row.value >= 0 && vlcC > 0)
            row.met = row.value <= 1.1 * vlcC;
        rows << row;
    }
    for (int n : {1, 5, kStationPageCount}) {
        Row row{QStringLiteral("peak memory, %1 page%2 playing").arg(n).arg(n > 1 ? "s" : ""),
                QStringLiteral("MB"),
                median(u.peak.value(n)) / 1024,
                QStringLiteral("cvlc, one stream"),
                vlcP,
                n == kStationPageCount ? QStringLiteral("< 200 MB") : QStringLiteral("-")};
        if (n == kStationPageCount && row.value > 0)
            row.met = row.value < 200;
        rows << row;
    }

    return rows;
}

void writeCsv(const QList<Row> &rows, const QString &out)
{
    QFile csv(out);
    if (csv.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream c(&csv);
        c << "figure,value,unit,baseline,baseline_value,ratio,target,met\n";
        for (const Row &row : rows) {
            const double ratio = row.baselineValue > 0 && row.value >= 0 ? row.value / row.baselineValue : -1;
            c << '"' << row.figure.trimmed() << "\"," << QString::number(row.value, 'f', 2) << ',' << row.unit << ",\""
              << row.baseline << "\"," << (row.baselineValue >= 0 ? QString::number(row.baselineValue, 'f', 2) : QString())
              << ',' << (ratio >= 0 ? QString::number(ratio, 'f', 3) : QString()) << ",\"" << row.target << "\","
              << (row.met ? (*row.met ? "yes" : "no") : "") << '\n';
        }
    }
}

void printTable(const QList<Row> &rows, const Options &options, const Usage &u)
{
    QTextStream table(stdout);
    table << QStringLiteral("\n%1 %2 %3 %4 %5  %6  %7\n")
                 .arg(QStringLiteral("figure"), -58).arg(QStringLiteral("value"), 9).arg(QStringLiteral("baseline"), 9)
                 .arg(QStringLiteral("ratio"), 6).arg(QStringLiteral("target"), -20).arg(QStringLiteral("met"), -3)
                 .arg(QStringLiteral("baseline is"));
    for (const Row &row : rows) {
        const double ratio = row.baselineValue > 0 && row.value >= 0 ? row.value / row.baselineValue : -1;
        table << QStringLiteral("%1 %2 %3 %4 %5  %6  %7\n")
                     .arg(row.figure + QStringLiteral(" (") + row.unit + u')', -58)
                     .arg(row.value >= 0 ? QString::number(row.value, 'f', 1) : QStringLiteral("-"), 9)
                     .arg(row.baselineValue >= 0 ? QString::number(row.baselineValue, 'f', 1) : QStringLiteral("-"), 9)
                     .arg(ratio >= 0 ? QString::number(ratio, 'f', 2) : QStringLiteral("-"), 6)
                     .arg(row.target, -20)
                     .arg(row.met ? (*row.met ? QStringLiteral("yes") : QStringLiteral("NO")) : QString(), -3)
                     .arg(row.baseline);
    }
    table << QStringLiteral("\nfirst sound: the station's own tone first heard at the sound server's null sink (parec on its "
                            "monitor), the program timed from its button's click, vlc and mpv from the command given to them "
                            "running idle (rc and IPC sockets)\n");
    table << QStringLiteral("baselines: %1; runs per figure: %2 (medians); audio streams in the sound server: %3 for "
                            "17 pages, %4 for cvlc\nwritten to %5\n")
                 .arg(QStringLiteral("measured in this run"))
                 .arg(options.runs)
                 .arg(u.ourStreams17)
                 .arg(u.vlcStreams)
                 .arg(options.out);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options options = readOptions(app.arguments());
    QProcessEnvironment gui = QProcessEnvironment::systemEnvironment();
    gui.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    Results r;
    measureWithoutSound(r, options, gui);

    const Station *hlsStation = hlsRowStation();
    const QString hlsFault =
        hlsStation ? pageName(hlsStation->page) + u'.' + hlsStation->buttonName() + QStringLiteral("=hls") : QString();
    SoundServer sound;
    SimulatorProcess simulator; // bursts 2 s of audio to every new listener, as Icecast does
    SinkMonitor sink;
    const bool canPlay = sound.start()
        && simulator.start(QStringLiteral(LUMORA_STATION_SIM),
                           hlsStation ? QStringList{QStringLiteral("--fault"), hlsFault} : QStringList{});
    QProcessEnvironment playing = gui;
    playing.insert(QStringLiteral("PULSE_SERVER"), sound.address());
    playing.insert(QStringLiteral("XDG_CONFIG_HOME"), simulator.configHome());
    playing.insert(QStringLiteral("XDG_CONFIG_DIRS"), simulator.configHome() + QStringLiteral("/none"));
    measureFirstSound(r, options, sound, simulator, sink, canPlay, playing, hlsStation);
    const Usage usage = measureUsage(options, sound, simulator, canPlay, playing);

    QList<Row> rows = tableRows(r, usage);
    if (options.mmsOnly)
        rows.removeIf([](const Row &row) { return !row.figure.contains(u"mms (MMSH"); });
    writeCsv(rows, options.out);
    printTable(rows, options, usage);
    return 0;
}
