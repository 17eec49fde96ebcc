// What keeping connections does for a live HLS station: the simulator's station played by
// HlsStream for a while with a new connection for every fetch, then with connections kept,
// over plain HTTP and over TLS (a TLS front of the tests' own before the simulator); for
// each, the connections the simulator accepted, the requests, and the time each segment took
// to fetch, from the request's start to its last byte (HttpGet's debug log). Then what a
// station costs: its master playlist played, the bytes fetched per minute (playlists and
// segments) against the chosen variant's own bytes per minute of audio.
//
//     lumora-bench-hls-fetch [--seconds N]   (default 60 for each of the five runs)

#include "bench_fetch.h"
#include "player/net/hls_playlist.h"
#include "player/net/hls_stream.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_tls.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

using namespace lumora;

namespace {

QList<double> g_segmentMs; // from "fetched ADDRESS.ts: B bytes in M ms"
struct Fetch {
    qint64 atMs; // since g_clock started
    QString address;
    qint64 bytes;
};
QList<Fetch> g_fetches; // every "fetched ADDRESS: B bytes in M ms"
QElapsedTimer g_clock;

void takeLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QRegularExpression line(QStringLiteral("^fetched (\\S+): (\\d+) bytes in ([0-9.]+) ms$"));
    if (qstrcmp(context.category, "lumora.player.http") == 0) {
        if (const auto m = line.match(message); m.hasMatch()) {
            g_fetches.append({g_clock.elapsed(), m.captured(1), m.captured(2).toLongLong()});
            if (m.captured(1).endsWith(u".ts"))
                g_segmentMs << m.captured(3).toDouble();
        }
        return;
    }
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Plays the HLS station at address (its playlist is body) for seconds, read as libVLC reads.
void play(const QString &address, const QByteArray &body, bool keep, int seconds)
{
    HlsStream::Settings settings;
    settings.keepConnections = keep;
    HlsStream stream(address, body, settings);
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] {
        QByteArray piece(64 * 1024, '\0');
        while (stream.buffer()->buffered() > 0 && stream.buffer()->read(piece.data(), piece.size()) > 0) {
        }
    });
    drain.start(100);
    stream.start();
    bench::idle(seconds * 1000);
    stream.close();
}

bool run(sim::StationSimulator &simulator, const QString &media, bool keep, int seconds, const QByteArray &name)
{
    const QByteArray body = bench::fetch(media);
    if (body.isEmpty())
        return false;
    simulator.clearRequestLog();
    g_segmentMs.clear();
    play(media, body, keep, seconds);

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

// The master playlist played for seconds. The first kWarmUpMs are left out of the count: the
// live start fetches three segments at once, which is the cushion, not waste.
bool runMaster(const QString &master, int seconds)
{
    constexpr qint64 kWarmUpMs = 10000;
    const QByteArray body = bench::fetch(master);
    if (body.isEmpty())
        return false;
    g_fetches.clear();
    const qint64 start = g_clock.elapsed();
    play(master, body, true, seconds + int(kWarmUpMs / 1000));
    const qint64 from = start + kWarmUpMs, to = g_clock.elapsed();
    qint64 bytes = 0;
    QMap<QString, int> playlists; // the media playlists reloaded, by address
    for (const Fetch &f : std::as_const(g_fetches)) {
        if (f.address.endsWith(u".m3u8"))
            ++playlists[f.address];
        if (f.atMs >= from && f.atMs <= to)
            bytes += f.bytes;
    }
    QString variant;
    for (auto it = playlists.cbegin(); it != playlists.cend(); ++it)
        if (variant.isEmpty() || it.value() > playlists.value(variant))
            variant = it.key();
    // The variant's own rate: its segments' sizes over their durations, fetched apart.
    const HlsPlaylist media = HlsPlaylist::read(bench::fetch(variant), variant);
    qint64 segmentBytes = 0, segmentMs = 0;
    for (const HlsSegment &segment : media.segments) {
        segmentBytes += bench::fetch(segment.uri).size();
        segmentMs += segment.durationMs;
    }
    if (segmentMs <= 0 || to <= from)
        return false;
    const double perMinute = double(bytes) * 60000.0 / double(to - from);
    const double variantPerMinute = double(segmentBytes) * 60000.0 / double(segmentMs);
    std::printf("# chosen variant: %s\n", qPrintable(variant));
    bench::report("master-bytes-per-minute", perMinute);
    bench::report("variant-bytes-per-minute", variantPerMinute);
    bench::report("master-over-variant", perMinute / variantPerMinute);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int seconds = args.contains(u"--seconds") ? args.value(args.indexOf(u"--seconds") + 1).toInt() : 60;
    g_clock.start();
    qInstallMessageHandler(takeLog);
    QLoggingCategory::setFilterRules(QStringLiteral("lumora.player.http.debug=true"));
    const std::unique_ptr<sim::StationSimulator> simulator = test::startLoopbackSimulator();
    if (!simulator)
        return 1;
    const sim::ServedStation &station = simulator->served().at(3);
    const QString media = sim::StationSimulator::hlsAddress(station, sim::HlsMode::Ts, QStringLiteral("hi/index.m3u8"));
    if (!runMaster(sim::StationSimulator::hlsAddress(station, sim::HlsMode::Ts), seconds))
        return 1;
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
