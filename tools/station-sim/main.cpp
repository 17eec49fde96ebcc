// lumora-station-sim: the catalogue's radio stations on loopback, for the demo and for tests.

#include "catalogue/page.h"
#include "lumora_version.h"
#include "rough_link.h"
#include "station_simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace lumora;
using namespace lumora::sim;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// Quits the event loop on SIGINT or SIGTERM, so the simulator closes its ports cleanly.
void quitOnSignals()
{
    if (::pipe(g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

bool isLoopbackHost(const QString &host)
{
    return host == QLatin1StringView("localhost") || host.startsWith(QLatin1StringView("127."))
        || host == QLatin1StringView("[::1]");
}

// "18003", "Form2.Command1" or a full station address.
bool applyFault(StationSimulator &sim, const QString &spec, QString *error)
{
    const qsizetype eq = spec.lastIndexOf(u'=');
    if (eq <= 0) {
        *error = QStringLiteral("--fault wants TARGET=MODE, got \"%1\"").arg(spec);
        return false;
    }
    const QString target = spec.left(eq);
    const auto fault = faultFromName(spec.mid(eq + 1));
    if (!fault) {
        *error = QStringLiteral("unknown fault mode \"%1\"; known: %2")
                     .arg(spec.mid(eq + 1), faultNames().join(QStringLiteral(", ")));
        return false;
    }
    bool isPort = false;
    const uint port = target.toUInt(&isPort);
    if (isPort) {
        if (!sim.ports().contains(quint16(port))) {
            *error = QStringLiteral("no station is served on port %1").arg(port);
            return false;
        }
        sim.setPortFault(quint16(port), *fault);
        return true;
    }
    if (sim.servedFor(target)) {
        sim.setFault(target, *fault);
        return true;
    }
    const qsizetype dot = target.indexOf(u'.');
    const auto page = pageFromName(QStringView(target).left(dot));
    const QString button = target.mid(dot + 1);
    if (dot > 0 && page && button.startsWith(QLatin1StringView("Command"))) {
        if (const Station *st = findStation(*page, button.mid(7).toInt())) {
            sim.setFault(*st, *fault);
            return true;
        }
    }
    *error = QStringLiteral("\"%1\" is neither a served port, a station (Form2.Command1) nor a served address")
                 .arg(target);
    return false;
}

// --write-config: a configuration with E01..E65 on 127.0.0.1, ports from first up.
int writeConfig(const QString &firstPort, QTextStream &out, QTextStream &err)
{
    bool ok = false;
    const uint first = firstPort.toUInt(&ok);
    constexpr uint kLastFirst = 65536 - keys::kEndpointCount;
    if (!ok || first < 1 || first > kLastFirst) {
        err << "lumora-station-sim: --write-config wants a first port from 1 to " << kLastFirst << "\n";
        return 2;
    }
    QList<quint16> ports;
    for (uint p = first; p < first + keys::kEndpointCount; ++p)
        ports.append(quint16(p));
    out << QString::fromUtf8(loopbackConfig(ports));
    return 0;
}

// Says which stations have no address; false, saying why, when nothing is served or an
// endpoint is not a port on 127.0.0.1.
bool servesOnLoopback(const StationSimulator &sim, const QString &configFile, QTextStream &err)
{
    if (!sim.unserved().isEmpty())
        err << "lumora-station-sim: no address for " << sim.unserved().join(QStringLiteral(", "))
            << " (missing values in " << configFile << ")\n";
    if (sim.served().isEmpty()) {
        err << "lumora-station-sim: nothing to serve\n";
        return false;
    }
    for (const ServedStation &s : sim.served()) {
        if (!isLoopbackHost(s.host) || s.port == 0) {
            err << "lumora-station-sim: " << s.label() << " is at " << s.address
                << "; every endpoint must be 127.0.0.1 with a port\n";
            return false;
        }
    }
    return true;
}

// The simulator listens on free ports of its own; the link takes the endpoints' ports and
// passes each connection on along its route. false: not enough free ports.
bool moveBehindLink(StationSimulator &sim, QList<RoughLink::Route> *routes)
{
    const QList<quint16> endpoints = sim.ports();
    QList<quint16> behind;
    for (quint16 p : freeLoopbackPorts(int(endpoints.size()) * 2))
        if (!endpoints.contains(p) && behind.size() < endpoints.size())
            behind << p;
    if (behind.size() != endpoints.size())
        return false;
    for (qsizetype i = 0; i < endpoints.size(); ++i) {
        sim.setListenPort(endpoints[i], behind[i]);
        *routes << RoughLink::Route{endpoints[i], behind[i]};
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumora-station-sim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(lumora::kVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves every station address of the Lumora catalogue on loopback, each as a server "
        "of its kind would, with a sine tone of its own (300 + 10 x n Hz)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOpt(QStringLiteral("config"),
        QStringLiteral("Endpoint configuration to serve (every endpoint on 127.0.0.1)."), QStringLiteral("file"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"),
        QStringLiteral("Make a port, a station (Form2.Command1) or an address misbehave; MODE is one of: %1. "
                       "May be given more than once.").arg(faultNames().join(QStringLiteral(", "))),
        QStringLiteral("target=mode"));
    const QCommandLineOption logOpt(QStringLiteral("log"),
        QStringLiteral("Append one line per request to this file ('-' for standard output)."), QStringLiteral("file"));
    const QCommandLineOption mp3Opt(QStringLiteral("mp3-seconds"),
        QStringLiteral("Length of the MP3 files (default 30)."), QStringLiteral("seconds"));
    const QCommandLineOption realOpt(QStringLiteral("real-seconds"),
        QStringLiteral("Length of the RealMedia file (default 300)."), QStringLiteral("seconds"));
    const QCommandLineOption burstOpt(QStringLiteral("burst-ms"),
        QStringLiteral("Audio a live stream sends at once before pacing in real time (default 2000)."),
        QStringLiteral("ms"));
    const QCommandLineOption liveKbpsOpt(
        QStringLiteral("live-kbps"), QStringLiteral("Bit rate of the live MP3 streams, 8 to 160 kbit/s (default 32)."),
        QStringLiteral("kbps"));
    const QCommandLineOption redirectOpt(QStringLiteral("local-redirect"),
        QStringLiteral("Where the redirect-local fault points (default file:///etc/passwd)."), QStringLiteral("address"));
    const QCommandLineOption pageOpt(QStringLiteral("sparse-page-ms"),
        QStringLiteral("Time between the audio pages of the sparse-ogg fault (default 4000)."), QStringLiteral("ms"));
    const QCommandLineOption linkOpt(QStringLiteral("link"),
        QStringLiteral("Serve every endpoint through a rough link: CONDITION is one of %1, optionally followed "
                       "by :key=value,... with keys %2.")
            .arg(LinkCondition::names().join(QStringLiteral(", ")), LinkCondition::parameterNames().join(QStringLiteral(", "))),
        QStringLiteral("condition[:key=value,...]"));
    const QCommandLineOption listOpt(QStringLiteral("list"),
        QStringLiteral("Print every served address with its kind, answer and tone, and exit."));
    const QCommandLineOption writeOpt(QStringLiteral("write-config"),
        QStringLiteral("Print a configuration with E01..E65 on 127.0.0.1, ports from this one up, and exit."),
        QStringLiteral("first-port"));
    parser.addOptions({configOpt, faultOpt, logOpt, mp3Opt, realOpt, burstOpt, liveKbpsOpt, redirectOpt, pageOpt,
                       linkOpt, listOpt, writeOpt});
    parser.process(app);

    QTextStream err(stderr);
    QTextStream out(stdout);

    if (parser.isSet(writeOpt))
        return writeConfig(parser.value(writeOpt), out, err);

    if (!parser.isSet(configOpt)) {
        err << "lumora-station-sim: give the configuration to serve with --config FILE "
               "(for the demo: demo/endpoints.conf)\n";
        return 2;
    }
    QList<ConfigMessage> messages;
    const EndpointTable table = EndpointTable::load(parser.value(configOpt), &messages);
    for (const ConfigMessage &m : messages)
        err << "lumora-station-sim: " << m.toString() << '\n';

    StationSimulator sim(table);
    if (!servesOnLoopback(sim, parser.value(configOpt), err))
        return 1;

    if (parser.isSet(listOpt)) {
        for (const ServedStation &s : sim.served())
            out << s.label() << '\t' << kindName(s.kind) << '\t' << answerName(s.answer) << '\t'
                << s.toneHz() << " Hz\t" << s.address << '\n';
        return 0;
    }

    if (parser.isSet(mp3Opt))
        sim.setMp3FileSeconds(std::max(1, parser.value(mp3Opt).toInt()));
    if (parser.isSet(realOpt))
        sim.setRealFileSeconds(std::max(1, parser.value(realOpt).toInt()));
    if (parser.isSet(burstOpt))
        sim.setBurstMs(std::max(0, parser.value(burstOpt).toInt()));
    if (parser.isSet(liveKbpsOpt))
        sim.setLiveMp3Kbps(std::clamp(parser.value(liveKbpsOpt).toInt(), 8, 160));
    if (parser.isSet(redirectOpt))
        sim.setLocalRedirectTarget(parser.value(redirectOpt));
    if (parser.isSet(pageOpt))
        sim.setSparsePageMs(std::max(100, parser.value(pageOpt).toInt()));

    for (const QString &spec : parser.values(faultOpt)) {
        QString error;
        if (!applyFault(sim, spec, &error)) {
            err << "lumora-station-sim: " << error << '\n';
            return 2;
        }
    }

    // Behind a link, the simulator listens on free ports of its own and the link takes the
    // endpoints' ports, passing each connection on to the simulator's port behind it.
    std::optional<LinkCondition> link;
    QList<RoughLink::Route> routes;
    if (parser.isSet(linkOpt)) {
        QString error;
        link = LinkCondition::parse(parser.value(linkOpt), &error);
        if (!link) {
            err << "lumora-station-sim: --link: " << error << '\n';
            return 2;
        }
        if (!moveBehindLink(sim, &routes)) {
            err << "lumora-station-sim: not enough free loopback ports for the link\n";
            return 1;
        }
    }

    QFile logFile;
    if (parser.isSet(logOpt)) {
        const QString path = parser.value(logOpt);
        const bool opened = path == QLatin1StringView("-")
            ? logFile.open(stdout, QIODevice::WriteOnly)
            : (logFile.setFileName(path), logFile.open(QIODevice::WriteOnly | QIODevice::Append));
        if (!opened) {
            err << "lumora-station-sim: cannot write the log " << path << ": " << logFile.errorString() << '\n';
            return 1;
        }
        sim.setLogDevice(&logFile);
    }

    QString error;
    if (!sim.start(&error)) {
        err << "lumora-station-sim: " << error
            << " (is another simulator or the demo already running?)\n";
        return 1;
    }
    std::unique_ptr<RoughLink> relay;
    if (link) {
        relay = std::make_unique<RoughLink>(routes, *link);
        if (!relay->begin(&error)) {
            err << "lumora-station-sim: " << error << " (is another simulator or the demo already running?)\n";
            return 1;
        }
        // The link stops by itself after its lifetime; the simulator stops with it.
        QObject::connect(relay.get(), &QThread::finished, &app, &QCoreApplication::quit);
        err << "lumora-station-sim: every endpoint behind the link " << parser.value(linkOpt) << '\n';
    }
    quitOnSignals();
    err << "lumora-station-sim: serving " << sim.served().size() << " addresses on "
        << sim.ports().size() << " ports (" << sim.ports().first() << "-" << sim.ports().last() << ")\n";
    err.flush();
    const int rc = app.exec();
    relay.reset();
    sim.stop();
    return rc;
}
