// What keeping connections does for a live HLS station: the simulator's station played by
// HlsStream for a while with a new connection for every fetch, then with connections kept,
// over plain HTTP and over TLS (a TLS front of the tests' own before the simulator); for
// each, the connections the simulator accepted, the requests, and the time each segment took
// to fetch, from the request's start to its last byte (HttpGet's debug log).
//
//     lumora-bench-hls-fetch [--seconds N]   (default 60 for each of the four runs)

#include "bench_support.h"
#include "player/net/hls_stream.h"
#include "player/net/http_get.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_tls.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

using namespace lumora;

namespace {

QList<double> g_segmentMs; // from "fetched ADDRESS.ts: B bytes in M ms"

void takeLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QRegularExpression line(QStringLiteral("^fetched \\S+\\.ts: \\d+ bytes in ([0-9.]+) ms$"));
    if (qstrcmp(context.category, "lumora.player.http") == 0) {
        if (const auto m = line.match(message); m.hasMatch())
            g_segmentMs << m.captured(1).toDouble();
        return;
    }
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

bool run(sim::StationSimulator &simulator, const QString &media, bool keep, int seconds, const QByteArray &name)
{
    HttpGet first;
    QByteArray body;
    bool failed = false;
    QObject::connect(&first, &HttpGet::done, [&](const QByteArray &b) { body = b; });
    QObject::connect(&first, &HttpGet::failed, [&] { failed = true; });
    first.start(media, {});
    if (!bench::waitFor([&] { return !body.isEmpty() || failed; }, 15000) || failed)
        return false;
    simulator.clearRequestLog();
    g_segmentMs.clear();

    HlsStream::Settings settings;
    settings.keepConnections = keep;
    HlsStream stream(media, body, settings);
    QTimer drain; // a reader, as libVLC is
    QObject::connect(&drain, &QTimer::timeout, [&] {
        QByteArray piece(64 * 1024, '\0');
        while (stream.buffer()->buffered() > 0 && stream.buffer()->read(piece.data(), piece.size()) > 0) {
        }
    });
    drain.start(100);
    stream.start();
    bench::idle(seconds * 1000);
    stream.close();

    QSet<int> connections;
    int requests = 0;
    for (const sim::RequestRecord &r : simulator.requestLog()) {
        connections.insert(r.connection);
        ++requests;
    }
    QList<double> ms = g_segmentMs;
    std::sort(ms.begin(), ms.end());
    double mean = 0;
    for (double v : ms)
        mean += double(v) / double(std::max<qsizetype>(ms.size(), 1));
    bench::report(name + "-requests", requests);
    bench::report(name + "-connections", connections.size());
    bench::report(name + "-segments", ms.size());
    bench::report(name + "-segment-ms-mean", mean);
    bench::report(name + "-segment-ms-median", ms.isEmpty() ? 0 : ms[ms.size() / 2]);
    bench::report(name + "-segment-ms-max", ms.isEmpty() ? 0 : ms.last());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int seconds = args.contains(u"--seconds") ? args.value(args.indexOf(u"--seconds") + 1).toInt() : 60;
    qInstallMessageHandler(takeLog);
    QLoggingCategory::setFilterRules(QStringLiteral("lumora.player.http.debug=true"));
    const std::unique_ptr<sim::StationSimulator> simulator = test::startLoopbackSimulator();
    if (!simulator)
        return 1;
    const sim::ServedStation &station = simulator->served().at(3);
    const QString media = sim::StationSimulator::hlsAddress(station, sim::HlsMode::Ts, QStringLiteral("hi/index.m3u8"));
    if (!run(*simulator, media, false, seconds, "http-new-each-fetch") || !run(*simulator, media, true, seconds, "http-kept"))
        return 1;
    const test::TestCertificates certificates;
    if (!certificates.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(certificates.error()));
        return 1;
    }
    test::TlsFront tls(certificates.trusted(), station.port);
    test::TrustedAuthority trust(certificates.authority());
    const QString secure = tls.url(media.mid(media.indexOf(u'/', media.indexOf(u"//") + 2)));
    if (!run(*simulator, secure, false, seconds, "https-new-each-fetch") || !run(*simulator, secure, true, seconds, "https-kept"))
        return 1;
    return 0;
}
