#include "http_fetch.h"

#include "http_stream.h"
#include "network_text.h"
#include "wire_url.h"

#include <QLoggingCategory>
#include <QUrl>

#include <utility>

Q_LOGGING_CATEGORY(lcFetch, "lumora.player.fetch", QtWarningMsg)

namespace lumora {

namespace {

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

HttpFetch::HttpFetch(QObject *parent) : QObject(parent)
{
    connect(&m_reader, &BodyReader::done, this, &HttpFetch::onRead);
}

HttpFetch::~HttpFetch()
{
    abort();
}

void HttpFetch::start(const QString &wireAddress, const FetchLimits &limits)
{
    m_limits = limits;
    m_address = wireAddress;
    m_request = std::make_unique<HttpRequest>();
    connect(m_request.get(), &HttpRequest::headReady, this, &HttpFetch::onHead);
    connect(m_request.get(), &HttpRequest::bodyReady, this, &HttpFetch::onBody);
    connect(m_request.get(), &HttpRequest::finished, this, [this] { judge(true); });
    connect(m_request.get(), &HttpRequest::failed, this,
            [this](OpenFailure failure, const QString &reason) { fail(failure, reason); });
    HttpRequest::Options options;
    options.answerTimeoutMs = limits.timeoutMs;
    options.idleTimeoutMs = limits.timeoutMs;
    // Asked on every request: a stream recognised here keeps this very connection.
    options.icyMetadata = true;
    if (limits.askCompressed)
        options.headers.append({QByteArray("Accept-Encoding"), QByteArray("gzip, deflate")});
    // A compressed body counts by what it decodes to: a playlist's limit holds for that.
    m_request->response().setMaxDecodedBytes(limits.maxBodyBytes + 1);
    m_request->start(wireAddress, options);
}

void HttpFetch::abort()
{
    m_done = true;
    m_reader.cancel();
    HttpRequest::discard(m_request);
}

std::unique_ptr<HttpStream> HttpFetch::takeStream()
{
    QByteArray firstBytes;
    std::unique_ptr<HttpRequest> request = takeConnection(&firstBytes);
    return request ? std::make_unique<HttpStream>(std::move(request), firstBytes) : nullptr;
}

std::unique_ptr<HttpRequest> HttpFetch::takeConnection(QByteArray *firstBytes)
{
    if (!m_streamReady)
        return nullptr;
    m_streamReady = false;
    *firstBytes = std::exchange(m_body, {});
    // A stream has no size limit; a server that insists on compressing one is still
    // held to the decoder's ratio.
    m_request->response().setMaxDecodedBytes(HttpResponseParser::Limits().maxDecodedBytes);
    return std::move(m_request);
}

void HttpFetch::onHead()
{
    const HttpHead &head = m_request->head();
    const int code = head.status;
    if (isRedirect(code)) {
        const QByteArray location = head.value("location");
        if (location.isEmpty()) {
            fail(OpenFailure::NotAStream, QStringLiteral("redirect without a target"), code);
            return;
        }
        FetchResult r;
        r.outcome = FetchResult::Outcome::Redirect;
        r.address = m_address;
        r.status = code;
        const QString target = QString::fromUtf8(location);
        r.location = schemeOf(target).isEmpty()
            ? QUrl(m_address).resolved(QUrl(target)).toString(QUrl::FullyEncoded) : target;
        finish(r);
        return;
    }
    if (code == 404 || code == 410) {
        fail(OpenFailure::NotFound, plainNetworkText(QString::fromLatin1(head.statusLine)), code);
        return;
    }
    if (code < 200 || code > 299) {
        fail(OpenFailure::ServerError, plainNetworkText(QString::fromLatin1(head.statusLine)), code);
        return;
    }
    if (head.icy || (m_limits.streamByHeaders
                     && announcesLiveStream(head.value("content-type"), head.anyIcyHeader(),
                                            head.contentLength >= 0 || head.chunked))) {
        // "ICY 200 OK" is a stream by its status line alone; an Icecast answer by its headers.
        FetchResult r;
        r.outcome = FetchResult::Outcome::Stream;
        r.content = {ContentKind::Stream};
        r.address = m_address;
        finish(r);
    }
}

void HttpFetch::onBody()
{
    if (m_done)
        return;
    m_body += m_request->response().takeBody();
    judge(false);
}

void HttpFetch::judge(bool complete)
{
    if (m_done)
        return;
    if (complete)
        m_body += m_request->response().takeBody();
    // A body already judged a playlist is only judged again once it is whole: judging every
    // piece of a large one again would read it over and over.
    if (m_body.size() > m_limits.maxBodyBytes) {
        // Only text gets this far (a stream is recognised by its first bytes).
        fail(OpenFailure::NotAStream, QStringLiteral("body larger than %1 bytes").arg(m_limits.maxBodyBytes));
        return;
    }
    if (complete) {
        // The whole body: judged again and, for a playlist, its entries read, by the reader.
        m_reader.start(m_request->head().value("content-type"), m_body, m_address, m_limits.entries);
        return;
    }
    // recogniseContent looks at no more than the first kJudgedBytes of a partial body: once
    // that much has been judged, more of it cannot change the verdict.
    if (m_partialGuess || m_partialJudged)
        return;
    m_partialJudged = m_body.size() >= kJudgedBytes;
    FetchResult r;
    r.address = m_address;
    r.content = recogniseContent(m_request->head().value("content-type"), m_body, false);
    switch (r.content.kind) {
    case ContentKind::NeedMore:
        return;
    case ContentKind::Stream:
    case ContentKind::MmshStream:
    case ContentKind::Hls:
        r.outcome = FetchResult::Outcome::Stream;
        finish(r);
        return;
    case ContentKind::NotPlayable:
        failNotPlayable();
        return;
    case ContentKind::Playlist:
        m_partialGuess = true;
        return;
    }
}

void HttpFetch::onRead(const BodyReading &reading)
{
    if (m_done)
        return;
    FetchResult r;
    r.address = m_address;
    r.content = reading.content;
    switch (reading.content.kind) {
    case ContentKind::NeedMore:
        fail(OpenFailure::NotAStream, QStringLiteral("empty answer"));
        return;
    case ContentKind::Hls:
        r.body = m_body;
        [[fallthrough]];
    case ContentKind::Stream:
    case ContentKind::MmshStream:
        r.outcome = FetchResult::Outcome::Stream;
        finish(r);
        return;
    case ContentKind::NotPlayable:
        failNotPlayable();
        return;
    case ContentKind::Playlist:
        r.outcome = FetchResult::Outcome::Playlist;
        r.entries = reading.entries;
        r.entryProblems = reading.problems;
        r.listed = reading.listed;
        finish(r);
        return;
    }
}

void HttpFetch::failNotPlayable()
{
    fail(OpenFailure::NotAStream, QStringLiteral("neither a stream nor a playlist (%1)")
             .arg(QString::fromLatin1(m_request->head().value("content-type").left(60))));
}

void HttpFetch::finish(FetchResult result)
{
    if (m_done)
        return;
    m_done = true;
    const HttpHead &head = m_request->head();
    result.connected = m_request->wasConnected();
    result.contentType = head.value("content-type").left(200);
    result.icyName = decodeNetworkText(head.value("icy-name"));
    if (result.status == 0)
        result.status = head.status;
    if (result.outcome == FetchResult::Outcome::Stream && result.content.kind == ContentKind::Stream) {
        // The connection goes on as the stream, with what was read of it.
        m_request->disconnect(this);
        m_streamReady = true;
    } else {
        HttpRequest::discard(m_request);
        m_body.clear();
    }
    qCDebug(lcFetch) << m_address << "->" << int(result.outcome) << contentName(result.content) << result.error;
    emit finished(result);
}

void HttpFetch::fail(OpenFailure failure, const QString &error, int status)
{
    if (m_done)
        return;
    FetchResult result;
    result.outcome = FetchResult::Outcome::Failed;
    result.address = m_address;
    result.error = error;
    result.failure = failure;
    result.status = status;
    if (!m_request) {
        m_done = true;
        emit finished(result);
        return;
    }
    finish(result);
}

} // namespace lumora
