#include "stream_resolver.h"

#include "hls_stream.h"
#include "http_stream.h"
#include "mmsh_stream.h"
#include "wire_url.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcResolver, "lumora.player.resolver", QtWarningMsg)

namespace lumora {

StreamResolver::StreamResolver(QObject *parent) : StreamOpener(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        giveUp(OpenFailure::NoAnswer, QStringLiteral("nothing answered within %1 ms").arg(m_limits.totalTimeoutMs));
    });
}

StreamResolver::~StreamResolver() = default;

void StreamResolver::resolve(const QString &address)
{
    cancel();
    ++m_run;
    m_streamInfo = {};
    m_failure = OpenFailure::None;
    m_serverStatus = 0;
    m_pending.push_back({toWireUrl(address.trimmed()), 0, 0});
    m_budgetMs = m_limits.totalTimeoutMs;
    m_requests = 0;
    qCInfo(lcResolver) << "resolving" << address;
    scheduleStep();
}

void StreamResolver::next()
{
    if (!m_awaitingVerdict)
        return;
    m_awaitingVerdict = false;
    qCInfo(lcResolver) << "could not play" << m_current.address << "- trying the next entry";
    m_problems << QStringLiteral("%1: not playable").arg(m_current.address);
    scheduleStep();
}

void StreamResolver::cancel()
{
    ++m_run; // a step already queued belongs to the old run and is dropped
    if (m_fetch) {
        m_fetch->abort();
        m_fetch.release()->deleteLater(); // may be inside its own signal
    }
    if (m_mmsh) {
        m_mmsh->close();
        m_mmsh.release()->deleteLater();
    }
    if (m_hls) {
        m_hls->close();
        m_hls.release()->deleteLater();
    }
    if (m_source) {
        m_source->close();
        m_source.release()->deleteLater();
    }
    m_pending.clear();
    m_seen.clear();
    m_problems.clear();
    m_deadline.stop();
    m_busy = false;
    m_awaitingVerdict = false;
}

void StreamResolver::scheduleStep()
{
    m_busy = true;
    startClock();
    const quint64 run = m_run;
    QMetaObject::invokeMethod(this, [this, run] {
        if (run == m_run && m_busy)
            step();
    }, Qt::QueuedConnection);
}

void StreamResolver::step()
{
    while (!m_pending.empty()) {
        const Candidate c = m_pending.front();
        m_pending.pop_front();
        const QString scheme = schemeOf(c.address);
        if (!isNetworkScheme(scheme)) {
            m_problems << QStringLiteral("%1: not a network address, ignored").arg(c.address);
            noteFailure(OpenFailure::NotAStream, 0);
            qCWarning(lcResolver) << "ignoring non-network address" << c.address;
            continue;
        }
        if (m_seen.contains(c.address)) {
            m_problems << QStringLiteral("%1: seen before (loop)").arg(c.address);
            continue;
        }
        m_seen.insert(c.address);
        m_current = c;
        if (scheme == u"mmst") {
            m_streamInfo = {};
            emitFound(c.address);
            return;
        }
        if (m_requests >= m_limits.maxRequests) {
            giveUp(OpenFailure::NotAStream, QStringLiteral("more than %1 requests").arg(m_limits.maxRequests));
            return;
        }
        if (scheme == u"mms" || scheme == u"mmsh") {
            ++m_requests;
            openMmsh(c);
            return;
        }
        ++m_requests;
        m_fetch = std::make_unique<HttpFetch>();
        connect(m_fetch.get(), &HttpFetch::finished, this, &StreamResolver::onFetched);
        m_fetch->start(c.address, {m_limits.fetchTimeoutMs, m_limits.maxBodyBytes, m_limits.streamByHeaders,
                                   {m_limits.maxEntriesPerPlaylist, m_limits.maxAddressChars}});
        return;
    }
    giveUp(OpenFailure::NotAStream, QStringLiteral("no entry could be opened"));
}

void StreamResolver::openMmsh(const Candidate &c)
{
    const QString address = QStringLiteral("mmsh") + c.address.mid(schemeOf(c.address).size());
    m_mmsh = std::make_unique<MmshStream>(address, m_limits.fetchTimeoutMs);
    connect(m_mmsh.get(), &MmshStream::opened, this, [this, address] {
        m_mmsh->disconnect(this);
        m_source.reset(m_mmsh.release());
        m_streamInfo = {true, m_source->contentType(), {}};
        emitFound(address);
    });
    connect(m_mmsh.get(), &MmshStream::failed, this, [this, c](OpenFailure failure, const QString &reason) {
        m_mmsh->close();
        m_mmsh.release()->deleteLater(); // we are inside its signal
        m_problems << QStringLiteral("%1: MMSH: %2").arg(c.address, reason);
        qCInfo(lcResolver) << c.address << "MMSH:" << reason;
        noteFailure(failure, 0);
        // No Windows Media server over HTTP there: MMS over TCP is the last thing to try, as
        // an explicit mmst:// address so that libVLC cannot go on to anything else.
        const bool noHttpServer = failure != OpenFailure::NotFound && failure != OpenFailure::ServerError
            && failure != OpenFailure::HostNotFound;
        if (m_limits.mmstFallback && schemeOf(c.address) == u"mms" && noHttpServer)
            m_pending.push_front({QStringLiteral("mmst") + c.address.mid(3), c.depth, c.redirects});
        step();
    });
    m_mmsh->start();
}

void StreamResolver::openHls(const Candidate &c, const QByteArray &playlist, const QByteArray &contentType)
{
    HlsStream::Settings settings;
    settings.maxBandwidth = m_limits.hlsMaxBandwidth;
    settings.fetchTimeoutMs = m_limits.fetchTimeoutMs;
    settings.maxPlaylistBytes = m_limits.maxBodyBytes;
    m_hls = std::make_unique<HlsStream>(c.address, playlist, settings);
    connect(m_hls.get(), &HlsStream::opened, this, [this, c, contentType] {
        m_hls->disconnect(this);
        m_source.reset(m_hls.release());
        m_streamInfo = {true, QString::fromLatin1(contentType), {}};
        emitFound(c.address);
    });
    connect(m_hls.get(), &HlsStream::failed, this, [this, c](OpenFailure failure, const QString &reason) {
        m_hls->close();
        m_hls.release()->deleteLater(); // we are inside its signal
        m_problems << QStringLiteral("%1: HLS: %2").arg(c.address, reason);
        qCInfo(lcResolver) << c.address << "HLS:" << reason;
        noteFailure(failure, 0);
        step();
    });
    m_hls->start();
}

std::unique_ptr<StreamSource> StreamResolver::takeSource()
{
    return std::move(m_source);
}

void StreamResolver::noteFailure(OpenFailure failure, int status)
{
    const bool serverSaid = failure == OpenFailure::NotFound || failure == OpenFailure::ServerError;
    const bool haveServerWord = m_failure == OpenFailure::NotFound || m_failure == OpenFailure::ServerError;
    if (m_failure == OpenFailure::None || (serverSaid && !haveServerWord)) {
        m_failure = failure;
        m_serverStatus = status;
    }
}

void StreamResolver::onFetched(const FetchResult &result)
{
    std::unique_ptr<HttpStream> stream = m_fetch ? m_fetch->takeStream() : nullptr;
    if (m_fetch)
        m_fetch.release()->deleteLater(); // we are inside its signal
    const Candidate c = m_current;
    switch (result.outcome) {
    case FetchResult::Outcome::Stream:
        if (result.content.kind == ContentKind::MmshStream) {
            // Framed ASF over plain http: a Windows Media server; ask it as one.
            openMmsh(c);
            return;
        }
        if (result.content.kind == ContentKind::Hls) {
            openHls(c, result.body, result.contentType);
            return;
        }
        if (!stream) {
            m_problems << QStringLiteral("%1: %2 is not supported").arg(c.address, contentName(result.content));
            noteFailure(OpenFailure::NotAStream, 0);
            break;
        }
        m_streamInfo = {true, QString::fromLatin1(result.contentType), result.icyName};
        if (stream->awaitsContainer()) {
            // Found once the frames behind its leading tag name the container; the search's
            // deadline still runs meanwhile.
            connect(stream.get(), &HttpStream::containerSettled, this, [this, address = c.address] {
                emitFound(address);
            });
            m_source = std::move(stream);
            return;
        }
        m_source = std::move(stream);
        emitFound(c.address);
        return;
    case FetchResult::Outcome::Redirect:
        if (!isNetworkScheme(schemeOf(toWireUrl(result.location)))) {
            m_problems << QStringLiteral("%1: redirect to a local address refused").arg(c.address);
            qCWarning(lcResolver) << c.address << "redirects to a non-network address; refused";
            noteFailure(OpenFailure::NotAStream, 0);
        } else if (c.redirects >= m_limits.maxRedirects) {
            m_problems << QStringLiteral("%1: more than %2 redirects").arg(c.address).arg(m_limits.maxRedirects);
        } else {
            m_pending.push_front({toWireUrl(result.location), c.depth, c.redirects + 1});
        }
        break;
    case FetchResult::Outcome::Playlist:
        pushEntries(result, c);
        break;
    case FetchResult::Outcome::Failed:
        m_problems << QStringLiteral("%1: %2").arg(c.address, result.error);
        qCInfo(lcResolver) << c.address << result.error;
        noteFailure(result.failure, result.status);
        break;
    }
    step();
}

void StreamResolver::pushEntries(const FetchResult &result, const Candidate &from)
{
    if (from.depth >= m_limits.maxDepth) {
        m_problems << QStringLiteral("%1: playlists nested more than %2 deep").arg(from.address).arg(m_limits.maxDepth);
        return;
    }
    qCInfo(lcResolver) << from.address << "is" << contentName(result.content) << "with" << result.listed
                       << "entries";
    m_problems << result.entryProblems;
    if (result.entries.isEmpty()) {
        m_problems << QStringLiteral("%1: %2 without entries").arg(from.address, contentName(result.content));
        noteFailure(OpenFailure::NotAStream, 0);
        return;
    }
    // The fetch has read them off this thread, resolved and in wire form.
    std::deque<Candidate> resolved;
    for (const QString &entry : result.entries)
        resolved.push_back({entry, from.depth + 1, 0});
    m_pending.insert(m_pending.begin(), resolved.begin(), resolved.end());
}

void StreamResolver::emitFound(const QString &address)
{
    stopClock();
    m_busy = false;
    m_awaitingVerdict = true;
    qCInfo(lcResolver) << "stream" << address;
    emit found(address);
}

void StreamResolver::giveUp(OpenFailure failure, const QString &reason)
{
    // What was met on the way says more than how the search ended.
    if (m_failure == OpenFailure::None)
        m_failure = failure;
    const QString why = m_problems.isEmpty() ? reason : reason + QStringLiteral("; ") + m_problems.join(QStringLiteral("; "));
    cancel();
    qCInfo(lcResolver) << "cannot open:" << why;
    emit failed(why);
}

void StreamResolver::startClock()
{
    if (m_deadline.isActive())
        return;
    m_clock.start();
    m_deadline.start(int(qMax<qint64>(m_budgetMs, 0)));
}

void StreamResolver::stopClock()
{
    if (!m_deadline.isActive())
        return;
    m_budgetMs -= m_clock.elapsed();
    m_deadline.stop();
}

} // namespace lumora
