#include "stream_redial.h"

#include "wire_url.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcHttp)

namespace lumora {

StreamRedial::StreamRedial(const QString &wireAddress, int answerTimeoutMs, int maxRedirects)
    : m_address(wireAddress), m_answerTimeoutMs(answerTimeoutMs), m_maxRedirects(maxRedirects)
{
}

StreamRedial::~StreamRedial()
{
    if (m_fetch)
        m_fetch->abort();
}

void StreamRedial::start()
{
    fetch(m_address);
}

void StreamRedial::fetch(const QString &address)
{
    const QString scheme = schemeOf(address);
    if (scheme != u"http" && scheme != u"https") {
        QMetaObject::invokeMethod(this, [this] {
            emit failed(OpenFailure::NotAStream, QStringLiteral("not an http address"), false);
        }, Qt::QueuedConnection);
        return;
    }
    if (m_fetch) {
        m_fetch->abort();
        m_fetch.release()->deleteLater(); // may be inside its own signal
    }
    m_fetch = std::make_unique<HttpFetch>();
    connect(m_fetch.get(), &HttpFetch::finished, this, &StreamRedial::onFetched);
    FetchLimits limits;
    limits.askCompressed = false; // the answer is known to be audio
    limits.timeoutMs = m_answerTimeoutMs;
    m_fetch->start(address, limits);
}

std::unique_ptr<HttpRequest> StreamRedial::takeConnection(QByteArray *firstBytes)
{
    return m_fetch ? m_fetch->takeConnection(firstBytes) : nullptr;
}

void StreamRedial::onFetched(const FetchResult &result)
{
    switch (result.outcome) {
    case FetchResult::Outcome::Stream:
        if (result.content.kind == ContentKind::Stream) {
            emit connected();
            return;
        }
        emit failed(OpenFailure::NotAStream, QStringLiteral("answered with another kind of stream"), false);
        return;
    case FetchResult::Outcome::Redirect:
        if (++m_redirects > m_maxRedirects) {
            emit failed(OpenFailure::NotAStream, QStringLiteral("too many redirects"), false);
            return;
        }
        qCDebug(lcHttp) << m_address << "now redirects to" << result.location;
        fetch(toWireUrl(result.location));
        return;
    case FetchResult::Outcome::Playlist:
        emit failed(OpenFailure::NotAStream, QStringLiteral("answered with a playlist, not the stream"), false);
        return;
    case FetchResult::Outcome::Failed: {
        const bool networkDown = result.failure == OpenFailure::HostNotFound
            || (result.failure == OpenFailure::NoAnswer && !result.connected);
        emit failed(result.failure, result.error, networkDown);
        return;
    }
    }
}

} // namespace lumora
