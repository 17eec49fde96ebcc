// Runs every benchmark probe several times, each figure beside its baseline measured in the
// same run, and prints a table of medians with their ratios and targets; writes it as CSV.
//   lumora-bench [--out FILE] [--runs N]
// Needs an X display (scripts/bench runs it under xvfb-run), pulseaudio and cvlc.

#include "bench_support.h"
#include "vlc_backend.h"
#include "wire_url.h"

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

// A PulseAudio server of the run's own with a null sink, open to every user (cvlc runs as
// nobody), so that Lumora and cvlc both play through a real audio output.
class SoundServer {
public:
    bool start()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                | QFileDevice::ReadOther | QFileDevice::ExeOther
                                                | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("PULSE_STATE_PATH"), m_dir.filePath(QStringLiteral("state")));
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(QStringLiteral("pulseaudio"),
                       {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
                        "--log-level=error", "-L", "module-null-sink sink_name=bench", "-L",
                        "module-native-protocol-unix auth-anonymous=1 socket=" + socket()});
        if (!m_server.waitForStarted(5000))
            return false;
        const bool up = waitFor([this] { return QFile::exists(socket()); }, 10000);
        QFile::setPermissions(socket(), QFileDevice::Permissions(0x7777));
        return up;
    }
    ~SoundServer()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }
    QString socket() const { return m_dir.filePath(QStringLiteral("native")); }
    QString address() const { return QStringLiteral("unix:") + socket(); }
    // Streams playing into the sink now.
    int streams() const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), address());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("pactl"), {"list", "short", "sink-inputs"});
        p.waitForFinished(5000);
        return int(p.readAllStandardOutput().count('\n'));
    }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
};

// The station simulator as a process of its own, so that its work is not counted.
class SimulatorProcess {
public:
    bool start(const QString &program)
    {
        m_ports = sim::freeLoopbackPorts(65);
        QFile f(m_dir.filePath(QStringLiteral("lumora/endpoints.conf")));
        QDir(m_dir.path()).mkpath(QStringLiteral("lumora"));
        if (m_ports.size() != 65 || !f.open(QIODevice::WriteOnly))
            return false;
        f.write(sim::loopbackConfig(m_ports));
        f.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, {"--config", configFile()});
        return m_process.waitForStarted(5000) && waitFor([this] {
            QTcpSocket s;
            s.connectToHost(QStringLiteral("127.0.0.1"), m_ports.first());
            return s.waitForConnected(200);
        }, 20000);
    }
    ~SimulatorProcess()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString configHome() const { return m_dir.path(); }
    QString configFile() const { return m_dir.filePath(QStringLiteral("lumora/endpoints.conf")); }
    EndpointTable table() const { return sim::loopbackTable(m_ports); }

private:
    QTemporaryDir m_dir;
    QList<quint16> m_ports;
    QProcess m_process;
};

// cvlc as nobody playing url into the sound server: CPU per cent over ms, and peak memory.
std::optional<std::pair<double, double>> cvlcUsage(const QString &url, const SoundServer &sound, int ms, int *streams)
{
    QProcess runuser;
    runuser.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    runuser.start(QStringLiteral("runuser"),
                  {"-u", "nobody", "--", "env", "HOME=/tmp", "PULSE_SERVER=" + sound.address(), "cvlc", "-q",
                   "--no-video", QStringLiteral("--network-caching=%1").arg(VlcBackend::kNetworkCachingMs), url});
    if (!runuser.waitForStarted(5000))
        return {};
    // runuser waits for its child, the player (cvlc execs vlc).
    qint64 pid = 0;
    waitFor([&] {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(runuser.processId()));
        if (children.open(QIODevice::ReadOnly))
            pid = children.readAll().trimmed().split(' ').value(0).toLongLong();
        return pid > 0;
    }, 5000);
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
        ::kill(pid_t(pid), SIGTERM);
    }
    runuser.waitForFinished(10000);
    return result;
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString out = args.contains(u"--out") ? args.value(args.indexOf(u"--out") + 1) : QStringLiteral("bench-results.csv");
    const int runs = args.contains(u"--runs") ? args.value(args.indexOf(u"--runs") + 1).toInt() : 9;
    const QString dir = QStringLiteral(LUMORA_BENCH_DIR);
    auto bin = [&](const char *name) { return dir + u'/' + QString::fromLatin1(name); };

    QProcessEnvironment gui = QProcessEnvironment::systemEnvironment();
    gui.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    Results r;

    say("start-up: the program and a bare Qt window, alternately");
    for (int i = 0; i < runs + 2; ++i) {
        r[QStringLiteral("bare_start")] << timeToFirstLine(bin("lumora-bench-bare-window"), gui);
        r[QStringLiteral("lumora_start")] << timeToFirstLine(bin("lumora-bench-startup"), gui);
    }
    say("station page: first opening and showing again");
    for (int i = 0; i < runs; ++i)
        runProbe(r, bin("lumora-bench-pages"), {}, gui);

    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    say("first audio: streams that send a burst first (as Icecast and SHOUTcast do)");
    runProbe(r, bin("lumora-bench-audio"), {"--burst", "2000", "--runs", QString::number(runs)}, offscreen);
    say("first audio: streams paced in real time from the first byte");
    runProbe(r, bin("lumora-bench-audio"), {"--burst", "0", "--runs", QString::number(qMax(3, runs / 2))},
             offscreen, QStringLiteral("paced_"));

    say("CPU and memory: 1, 5 and 17 pages playing, and cvlc playing one of the same streams");
    SoundServer sound;
    SimulatorProcess simulator;
    QMap<int, QList<double>> cpu, peak;
    QList<double> vlcCpu, vlcPeak;
    int ourStreams17 = -1, vlcStreams = -1;
    if (!sound.start() || !simulator.start(QStringLiteral(LUMORA_STATION_SIM))) {
        say("no sound server or simulator: CPU figures left out");
    } else {
        QProcessEnvironment playing = gui;
        playing.insert(QStringLiteral("PULSE_SERVER"), sound.address());
        playing.insert(QStringLiteral("XDG_CONFIG_HOME"), simulator.configHome());
        playing.insert(QStringLiteral("XDG_CONFIG_DIRS"), simulator.configHome() + QStringLiteral("/none"));
        const Station *first = liveMp3Station(Page::Form2, simulator.table());
        const QString url = toWireUrl(addressOf(*first, simulator.table()).text);
        for (int round = 0; round < 3; ++round) {
            for (int n : {1, 5, kStationPageCount}) {
                Results one;
                runProbe(one, bin("lumora-bench-playing"), {QString::number(n), simulator.configFile()}, playing);
                cpu[n] << one.value(QStringLiteral("cpu_percent"));
                peak[n] << one.value(QStringLiteral("peak_kb"));
                if (n == kStationPageCount)
                    ourStreams17 = int(one.value(QStringLiteral("streams")).value(0, -1));
            }
            if (auto u = cvlcUsage(url, sound, 10000, &vlcStreams)) {
                vlcCpu << u->first;
                vlcPeak << u->second;
            }
        }
        if (vlcStreams != 1)
            say("cvlc did not play into the sound server: its figures are not comparable");
    }

    // The table.
    const double caching = VlcBackend::kNetworkCachingMs;
    QList<Row> rows;
    auto m = [&](const QString &key) { return median(r.value(key)); };
    {
        Row row{QStringLiteral("start-up to the main page's first paint"), QStringLiteral("ms"),
                m(QStringLiteral("lumora_start")), QStringLiteral("bare Qt window"), m(QStringLiteral("bare_start")),
                QStringLiteral("<= 1.5 x baseline")};
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
    for (const QString &pace : {QString(), QStringLiteral("paced_")}) {
        for (const char *kind : {"asx", "icy", "mms"}) {
            const QString k = pace + QString::fromLatin1(kind);
            Row row{QStringLiteral("click to first audio, %1 station%2")
                        .arg(QString::fromLatin1(kind).toUpper(), pace.isEmpty() ? QStringLiteral(" (server bursts)")
                                                                                 : QStringLiteral(" (paced stream)")),
                    QStringLiteral("ms"), m(k + QStringLiteral("_ours")), QStringLiteral("libVLC media list player"),
                    m(k + QStringLiteral("_list")),
                    QStringLiteral("<= baseline + 50 and <= %1 + 100").arg(caching)};
            row.met = row.value >= 0 && row.value <= row.baselineValue + 50 && row.value <= caching + 100;
            rows << row;
        }
    }
    for (const char *kind : {"asx", "icy", "mms"}) {
        const QString k = QString::fromLatin1(kind);
        rows << Row{QStringLiteral("resolver: click to libVLC given the stream, %1").arg(k.toUpper()), QStringLiteral("ms"),
                    m(k + QStringLiteral("_resolver")),
                    k == u"mms" ? QString() : QStringLiteral("one plain HTTP GET of the address"),
                    m(k + QStringLiteral("_get")), QStringLiteral("-")};
    }
    const double vlcC = median(vlcCpu), vlcP = median(vlcPeak) / 1024;
    for (int n : {1, 5, kStationPageCount}) {
        Row row{QStringLiteral("CPU per playing page, %1 page%2 playing").arg(n).arg(n > 1 ? "s" : ""),
                QStringLiteral("% of a core"), median(cpu.value(n)) / n, QStringLiteral("cvlc, one stream"), vlcC,
                QStringLiteral("<= 1.1 x baseline")};
        if (row.value >= 0 && vlcC > 0)
            row.met = row.value <= 1.1 * vlcC;
        rows << row;
    }
    for (int n : {1, 5, kStationPageCount}) {
        Row row{QStringLiteral("peak memory, %1 page%2 playing").arg(n).arg(n > 1 ? "s" : ""), QStringLiteral("MB"),
                median(peak.value(n)) / 1024, QStringLiteral("cvlc, one stream"), vlcP,
                n == kStationPageCount ? QStringLiteral("< 200 MB") : QStringLiteral("-")};
        if (n == kStationPageCount && row.value > 0)
            row.met = row.value < 200;
        rows << row;
    }

    QFile csv(out);
    QTextStream table(stdout);
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
    table << QStringLiteral("\n%1 %2 %3 %4 %5  %6\n")
                 .arg(QStringLiteral("figure"), -58).arg(QStringLiteral("value"), 9).arg(QStringLiteral("baseline"), 9)
                 .arg(QStringLiteral("ratio"), 6).arg(QStringLiteral("target"), -36).arg(QStringLiteral("met"));
    for (const Row &row : rows) {
        const double ratio = row.baselineValue > 0 && row.value >= 0 ? row.value / row.baselineValue : -1;
        table << QStringLiteral("%1 %2 %3 %4 %5  %6\n")
                     .arg(row.figure + QStringLiteral(" (") + row.unit + u')', -58)
                     .arg(row.value >= 0 ? QString::number(row.value, 'f', 1) : QStringLiteral("-"), 9)
                     .arg(row.baselineValue >= 0 ? QString::number(row.baselineValue, 'f', 1) : QStringLiteral("-"), 9)
                     .arg(ratio >= 0 ? QString::number(ratio, 'f', 2) : QStringLiteral("-"), 6)
                     .arg(row.target, -36)
                     .arg(row.met ? (*row.met ? QStringLiteral("yes") : QStringLiteral("NO")) : QString());
    }
    table << QStringLiteral("\nbaselines: %1; runs per figure: %2 (medians); audio streams in the sound server: %3 for "
                            "17 pages, %4 for cvlc\nwritten to %5\n")
                 .arg(QStringLiteral("measured in this run"))
                 .arg(runs)
                 .arg(ourStreams17)
                 .arg(vlcStreams)
                 .arg(out);
    return 0;
}
