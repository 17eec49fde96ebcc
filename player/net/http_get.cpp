#include "http_get.h"

#include "http_connection_pool.h"
#include "network_text.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcHttp) // http_request.cpp

namespace lumora {

HttpGet::HttpGet(QObject *parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(OpenFailure::NoAnswer, QStringLiteral("not fetched within %1 ms").arg(m_limits.deadlineMs));
    });
}

HttpGet::~HttpGet()
{
    abort();
}

void HttpGet::start(const QString &wireAddress, const Limits &limits)
{
    m_limits = limits;
    m_done = false;
    m_body.clear();
    m_clock.start();
    m_request = std::make_unique<HttpRequest>();
    connect(m_request.get(), &HttpRequest::headReady, this, &HttpGet::onHead);
    connect(m_request.get(), &HttpRequest::bodyReady, this, &HttpGet::onBody);
    connect(m_request.get(), &HttpRequest::finished, this, &HttpGet::onFinished);
    connect(m_request.get(), &HttpRequest::failed, this,
            [this](OpenFailure failure, const QString &reason) { fail(failure, reason); });
    HttpRequest::Options options;
    options.http11 = true;
    options.connections = m_pool;
    options.answerTimeoutMs = limits.deadlineMs;
    options.idleTimeoutMs = limits.deadlineMs;
    if (limits.rangeLength >= 0)
        options.headers.append({"Range", "bytes=" + QByteArray::number(limits.rangeOffset) + '-'
                                             + QByteArray::number(limits.rangeOffset + qMax<qint64>(limits.rangeLength, 1) - 1)});
    m_deadline.start(limits.deadlineMs);
    m_request->start(wireAddress, options);
}

void HttpGet::abort()
{
    m_done = true;
    m_deadline.stop();
    HttpRequest::discard(m_request);
}

void HttpGet::onHead()
{
    const HttpHead &head = m_request->head();
    if (head.status == 404 || head.status == 410) {
        fail(OpenFailure::NotFound, plainNetworkText(QString::fromLatin1(head.statusLine)), head.status);
        return;
    }
    if (head.status != 200 && head.status != 206) {
        fail(OpenFailure::ServerError, plainNetworkText(QString::fromLatin1(head.statusLine)), head.status);
        return;
    }
    // A server that ignores the range sends the whole resource: what it sends is cut at the
    // range's end, however long it says it is.
    if (m_limits.rangeLength >= 0 && head.status == 200)
        return;
    if (head.contentLength > m_limits.maxBytes)
        fail(OpenFailure::NotAStream, QStringLiteral("%1 bytes announced, more than %2").arg(head.contentLength).arg(m_limits.maxBytes));
}

void HttpGet::onBody()
{
    if (m_done)
        return;
    m_body += m_request->response().takeBody();
    const bool wholeForRange = m_limits.rangeLength >= 0 && m_request->head().status == 200;
    const qint64 allowed = wholeForRange ? m_limits.rangeOffset + m_limits.rangeLength : m_limits.maxBytes;
    if (m_body.size() >= allowed && wholeForRange) {
        m_body.truncate(allowed);
        onFinished();
        return;
    }
    if (m_body.size() > allowed)
        fail(OpenFailure::NotAStream, QStringLiteral("more than %1 bytes").arg(allowed));
}

void HttpGet::onFinished()
{
    if (m_done)
        return;
    m_body += m_request->response().takeBody();
    const HttpHead &head = m_request->head();
    const bool framed = head.chunked || head.contentLength >= 0;
    if (framed && !m_request->response().endedByFraming() && !(m_limits.rangeLength >= 0 && head.status == 200)) {
        fail(OpenFailure::NoAnswer, head.chunked ? QStringLiteral("cut off inside a chunked body after %1 bytes").arg(m_body.size())
                                                 : QStringLiteral("cut off after %1 of %2 bytes").arg(m_body.size()).arg(head.contentLength));
        return;
    }
    if (m_limits.rangeLength >= 0 && head.status == 200) {
        if (m_body.size() < m_limits.rangeOffset + m_limits.rangeLength) {
            fail(OpenFailure::NoAnswer, QStringLiteral("shorter than the byte range asked for"));
            return;
        }
        m_body = m_body.mid(m_limits.rangeOffset, m_limits.rangeLength);
    }
    m_done = true;
    m_deadline.stop();
    m_elapsedMs = m_clock.elapsed();
    qCDebug(lcHttp).noquote().nospace() << "fetched " << m_request->address() << ": " << m_body.size() << " bytes in "
                                        << QString::number(double(m_clock.nsecsElapsed()) / 1e6, 'f', 3) << " ms";
    HttpRequest::discard(m_request);
    emit done(m_body);
}

void HttpGet::fail(OpenFailure failure, const QString &reason, int status)
{
    if (m_done)
        return;
    m_done = true;
    m_deadline.stop();
    HttpRequest::discard(m_request);
    m_body.clear();
    emit failed(failure, reason, status);
}

} // namespace lumora
