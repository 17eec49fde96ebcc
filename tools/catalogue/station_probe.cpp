#include "station_probe.h"

#include "address.h"
#include "http_fetch.h"
#include "stream_resolver.h"
#include "wire_url.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace lumora {

namespace {

// One station's check: the resolver, then for an mms address the MMSH request, all within
// the time allowed.
class StationCheck {
public:
    StationCheck(ProbeResult &result, const ProbeOptions &options)
        : m_result(result), m_timeoutMs(options.timeoutMs)
    {
        StreamResolver::Limits limits;
        limits.totalTimeoutMs = m_timeoutMs;
        limits.fetchTimeoutMs = qMin(limits.fetchTimeoutMs, m_timeoutMs);
        // A station works when its server sends stream data, not only headers that promise it.
        limits.streamByHeaders = false;
        m_resolver.setLimits(limits);
        QObject::connect(&m_resolver, &StreamResolver::found, &m_resolver,
                         [this](const QString &address) { onFound(address); });
        QObject::connect(&m_resolver, &StreamResolver::failed, &m_resolver,
                         [this](const QString &reason) { fail(reason); });
        // The resolver keeps its own deadline; this one also covers the MMSH requests.
        m_guard.setSingleShot(true);
        QObject::connect(&m_guard, &QTimer::timeout, &m_resolver, [this] {
            fail(QStringLiteral("no verdict within %1 ms").arg(m_timeoutMs));
        });
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
        if (m_resolver.streamInfo().fetched) {
            // The resolver fetched it (as mmsh: over http) and saw a stream.
            succeed(address, m_resolver.streamInfo());
            return;
        }
        const QString scheme = schemeOf(address);
        if (scheme == u"mms" || scheme == u"mmsh") {
            askMmsh(address);
            return;
        }
        // Nothing here speaks mmst, rtsp or pnm: the player hands such an address on as it is.
        succeed(address, {}, QStringLiteral("%1 address not checked").arg(scheme));
    }

    // Windows Media over HTTP: a GET of the same path without "xPlayStrm=1" asks for the
    // stream's header only.
    void askMmsh(const QString &address)
    {
        const QString http = QStringLiteral("http") + address.mid(schemeOf(address).size());
        m_fetch = std::make_unique<HttpFetch>();
        QObject::connect(m_fetch.get(), &HttpFetch::finished, &m_resolver,
                         [this, address](const FetchResult &answer) { onMmshAnswer(address, answer); });
        FetchLimits limits;
        limits.timeoutMs = int(qMax<qint64>(100, m_timeoutMs - m_clock.elapsed()));
        m_fetch->start(http, limits);
    }

    void onMmshAnswer(const QString &address, const FetchResult &answer)
    {
        m_fetch.release()->deleteLater(); // inside its own signal
        if (answer.outcome == FetchResult::Outcome::Stream) {
            succeed(address, {true, QString::fromLatin1(answer.contentType), answer.icyName});
            return;
        }
        m_mmshProblems.append({address, answer.outcome == FetchResult::Outcome::Failed
                                            ? answer.error
                                            : QStringLiteral("no Windows Media stream")});
        m_resolver.next(); // as the player does when libVLC cannot play an address
    }

    void succeed(const QString &stream, const StreamResolver::StreamInfo &info, const QString &note = {})
    {
        if (m_finished)
            return;
        m_result.verdict = ProbeResult::Verdict::Working;
        m_result.stream = stream;
        m_result.contentType = info.contentType;
        m_result.icyName = info.icyName;
        m_result.reason = note;
        end();
    }

    void fail(const QString &reason)
    {
        if (m_finished)
            return;
        m_result.verdict = ProbeResult::Verdict::Failing;
        // The resolver only knows that an mms address "could not be played"; say why.
        QString why = reason;
        for (const auto &[address, problem] : m_mmshProblems) {
            const QString detail = QStringLiteral("%1: MMSH: %2").arg(address, problem);
            const QString vague = address + QStringLiteral(": not playable");
            if (why.contains(vague))
                why.replace(vague, detail);
            else
                why += QStringLiteral("; ") + detail;
        }
        m_result.reason = why;
        end();
    }

    void end()
    {
        m_finished = true;
        m_result.elapsedMs = m_clock.elapsed();
        m_guard.stop();
        m_resolver.cancel();
        if (m_fetch) {
            m_fetch->abort();
            m_fetch.release()->deleteLater();
        }
        // Not from inside a signal of the resolver, which the caller may go on using.
        QTimer::singleShot(0, &m_resolver, m_done);
    }

    ProbeResult &m_result;
    const int m_timeoutMs;
    StreamResolver m_resolver;
    std::unique_ptr<HttpFetch> m_fetch;
    QTimer m_guard;
    QElapsedTimer m_clock;
    QList<std::pair<QString, QString>> m_mmshProblems; // address, what went wrong
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
            checks.push_back(std::make_unique<StationCheck>(results[toCheck[started++]], options));
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
