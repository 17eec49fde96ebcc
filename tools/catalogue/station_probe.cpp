#include "station_probe.h"

#include "catalogue/address.h"
#include "player/net/stream_resolver.h"
#include "player/net/wire_url.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace lumora {

namespace {

// One station's check: the player's own opener, then the first bytes of the stream it opened,
// all within the time allowed.
class StationCheck {
public:
    StationCheck(ProbeResult &result, const ProbeOptions &options, qint64 hlsMaxBandwidth)
        : m_result(result), m_timeoutMs(options.timeoutMs)
    {
        StreamResolver::Limits limits;
        // HLS: the version the player would choose, within the listener's limit.
        limits.hlsMaxBandwidth = hlsMaxBandwidth;
        limits.totalTimeoutMs = m_timeoutMs;
        limits.fetchTimeoutMs = qMin(limits.fetchTimeoutMs, m_timeoutMs);
        // A station works when its server sends stream data, not only headers that promise it.
        limits.streamByHeaders = false;
        // MMS over TCP is libVLC's to speak; nothing here can check it.
        limits.mmstFallback = false;
        m_resolver.setLimits(limits);
        QObject::connect(&m_resolver, &StreamResolver::found, &m_resolver,
                         [this](const QString &address) { onFound(address); });
        QObject::connect(&m_resolver, &StreamResolver::failed, &m_resolver,
                         [this](const QString &reason) { fail(reason); });
        // The resolver keeps its own deadline; this one also covers the wait for data.
        m_guard.setSingleShot(true);
        QObject::connect(&m_guard, &QTimer::timeout, &m_resolver, [this] {
            fail(QStringLiteral("no verdict within %1 ms").arg(m_timeoutMs));
        });
        m_poll.setInterval(20);
        QObject::connect(&m_poll, &QTimer::timeout, &m_resolver, [this] { checkData(); });
    }

    // done is called once, never from inside start().
    void start(std::function<void()> done)
    {
        m_done = std::move(done);
        m_clock.start();
        m_guard.start(m_timeoutMs + kGuardSlackMs);
        m_resolver.resolve(m_result.address);
    }

private:
    static constexpr int kGuardSlackMs = 500;

    void onFound(const QString &address)
    {
        m_stream = address;
        m_source = m_resolver.takeSource();
        if (!m_source) {
            succeed(QStringLiteral("%1 address not checked").arg(schemeOf(address)));
            return;
        }
        QObject::connect(m_source.get(), &StreamSource::ended, &m_resolver, [this](OpenFailure, const QString &reason) {
            checkData();
            if (!m_finished)
                nextEntry(reason);
        });
        m_poll.start();
    }

    // The stream counts as working once its server has sent data, the way the player reads it.
    void checkData()
    {
        if (m_source && m_source->buffer()->received() > 0)
            succeed({});
    }

    void nextEntry(const QString &why)
    {
        m_poll.stop();
        m_problems << QStringLiteral("%1: %2").arg(m_stream, why);
        dropSource();
        m_resolver.next();
    }

    void succeed(const QString &note)
    {
        if (m_finished)
            return;
        m_result.verdict = ProbeResult::Verdict::Working;
        m_result.stream = m_stream;
        m_result.contentType = m_source ? m_source->contentType() : QString();
        m_result.icyName = m_source ? m_source->stationName() : QString();
        m_result.reason = note;
        end();
    }

    void fail(const QString &reason)
    {
        if (m_finished)
            return;
        m_result.verdict = ProbeResult::Verdict::Failing;
        QString why = reason;
        for (const QString &problem : std::as_const(m_problems))
            why += QStringLiteral("; ") + problem;
        m_result.reason = why;
        end();
    }

    void dropSource()
    {
        if (!m_source)
            return;
        m_source->disconnect(&m_resolver);
        m_source->close();
        m_source.release()->deleteLater(); // may be inside its own signal
    }

    void end()
    {
        m_finished = true;
        m_result.elapsedMs = m_clock.elapsed();
        m_guard.stop();
        m_poll.stop();
        m_resolver.cancel();
        dropSource();
        // Not from inside a signal of the resolver, which the caller may go on using.
        QTimer::singleShot(0, &m_resolver, m_done);
    }

    ProbeResult &m_result;
    const int m_timeoutMs;
    StreamResolver m_resolver;
    std::unique_ptr<StreamSource> m_source;
    QString m_stream;
    QStringList m_problems;
    QTimer m_guard;
    QTimer m_poll;
    QElapsedTimer m_clock;
    std::function<void()> m_done;
    bool m_finished = false;
};

} // namespace

QString verdictName(ProbeResult::Verdict verdict)
{
    switch (verdict) {
    case ProbeResult::Verdict::Working: return QStringLiteral("working");
    case ProbeResult::Verdict::Failing: return QStringLiteral("failing");
    case ProbeResult::Verdict::NoAddress: return QStringLiteral("no address");
    }
    return {};
}

QList<ProbeResult> probeStations(std::span<const Station> stations, const EndpointTable &table,
                                 const ProbeOptions &options)
{
    QList<ProbeResult> results;
    results.reserve(qsizetype(stations.size()));
    std::vector<qsizetype> toCheck;
    for (const Station &s : stations) {
        ProbeResult r;
        r.station = &s;
        const StationAddress a = addressOf(s, table);
        if (a.ok()) {
            r.address = a.text;
            toCheck.push_back(results.size());
        } else {
            r.missing = a.missing;
            r.reason = QStringLiteral("no value for %1").arg(a.missing.join(QStringLiteral(", ")));
        }
        results.append(r);
    }
    if (toCheck.empty())
        return results;

    // The checks refer to their results: results is not resized from here on.
    std::vector<std::unique_ptr<StationCheck>> checks;
    QEventLoop loop;
    size_t started = 0;
    int running = 0;
    std::function<void()> launch = [&] {
        while (running < qMax(1, options.jobs) && started < toCheck.size()) {
            checks.push_back(
                std::make_unique<StationCheck>(results[toCheck[started++]], options, table.hlsMaxBandwidth()));
            ++running;
            checks.back()->start([&] {
                --running;
                launch();
                if (running == 0)
                    loop.quit();
            });
        }
    };
    launch();
    loop.exec();
    checks.clear();
    // The fetches and sockets let go from inside their own signals.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return results;
}

} // namespace lumora
