#include "http_stream.h"

#include "network_text.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcHttp)

namespace lumora {

HttpStream::HttpStream(std::unique_ptr<HttpRequest> request, const QByteArray &firstBytes)
    : m_request(std::move(request))
{
    const HttpHead &head = m_request->head();
    m_address = m_request->address();
    m_contentType = QString::fromLatin1(head.value("content-type")).left(100);
    m_stationName = decodeNetworkText(head.value("icy-name"));
    // A file: a length, and byte ranges for seeking where the server says it takes them.
    const bool file = !head.icy && head.status == 200 && head.contentLength > 0 && !head.chunked
        && head.metaint == 0;
    const bool ranges = head.value("accept-ranges").toLower().contains("bytes");
    m_buffer = std::make_shared<StreamBuffer>(file ? head.contentLength : -1, file && ranges);
    connect(m_buffer.get(), &StreamBuffer::spaceAvailable, this, [this] {
        if (m_request)
            m_request->setPaused(false);
    }, Qt::QueuedConnection);
    connect(m_buffer.get(), &StreamBuffer::seekRequested, this, &HttpStream::onSeek, Qt::QueuedConnection);
    const QByteArray type = head.value("content-type").toLower();
    if (firstBytes.startsWith("OggS") || type.startsWith("audio/ogg") || type.startsWith("application/ogg"))
        m_container = QStringLiteral("ogg");
    else if (firstBytes.startsWith(QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C")))
        m_container = QStringLiteral("asf");
    m_request->setParent(nullptr);
    m_buffer->write(0, firstBytes);
    watchPacing(firstBytes);
    attach(m_request.get(), 0);
    if (m_request->isFinished()) {
        m_buffer->finish(0);
        QMetaObject::invokeMethod(this, [this] { emit ended(OpenFailure::None, QStringLiteral("the server ended the stream")); },
                                  Qt::QueuedConnection);
        return;
    }
    // Bytes that came with the head and were not taken yet.
    QMetaObject::invokeMethod(this, [this] { pump(0); }, Qt::QueuedConnection);
}

HttpStream::~HttpStream()
{
    close();
}

void HttpStream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_buffer->abort();
    HttpRequest::discard(m_request);
}

void HttpStream::attach(HttpRequest *request, quint64 epoch)
{
    connect(request, &HttpRequest::bodyReady, this, [this, epoch] { pump(epoch); });
    connect(request, &HttpRequest::finished, this, [this, epoch] {
        pump(epoch);
        m_buffer->finish(epoch);
        if (epoch == m_buffer->epoch())
            emit ended(OpenFailure::None, QStringLiteral("the server ended the stream"));
    });
    connect(request, &HttpRequest::failed, this, [this, epoch](OpenFailure failure, const QString &reason) {
        m_buffer->finish(epoch);
        if (epoch == m_buffer->epoch())
            emit ended(failure, reason);
    });
}

void HttpStream::pump(quint64 epoch)
{
    if (m_closed || !m_request)
        return;
    HttpResponseParser &response = m_request->response();
    const QByteArray body = response.takeBody();
    if (!body.isEmpty()) {
        m_buffer->write(epoch, body);
        watchPacing(body);
    }
    const QList<QByteArray> blocks = response.takeMetadata();
    for (const QByteArray &block : blocks) {
        const QString title = icyStreamTitle(block);
        if (block.contains("StreamTitle=") && title != m_lastTitle) {
            m_lastTitle = title;
            emit titleChanged(title);
        }
    }
    if (m_buffer->freeSpace() <= 0)
        m_request->setPaused(true);
}

void HttpStream::watchPacing(const QByteArray &bytes)
{
    // The buffer's meter has read the pages just written.
    if (bytes.isEmpty() || m_container != u"ogg")
        return;
    const int longest = m_buffer->meter().longestPageMs();
    if (longest > m_pageMs) {
        m_pageMs = longest;
        emit spacingChanged(longest);
    }
}

void HttpStream::onSeek(quint64 offset, quint64 epoch)
{
    if (m_closed || epoch != m_buffer->epoch())
        return;
    qCDebug(lcHttp) << m_address << "from byte" << offset;
    HttpRequest::discard(m_request);
    m_request = std::make_unique<HttpRequest>();
    HttpRequest *request = m_request.get();
    HttpRequest::Options options;
    options.headers.append(std::pair<QByteArray, QByteArray>("Range", "bytes=" + QByteArray::number(offset) + '-'));
    // The answer must be the part asked for: a whole file from its start would be read as
    // if it began at offset.
    connect(request, &HttpRequest::headReady, this, [this, request, offset, epoch] {
        const int status = request->head().status;
        if (status == 206 || (status == 200 && offset == 0))
            return;
        qCDebug(lcHttp) << m_address << "refused the range:" << status;
        request->abort();
        m_buffer->finish(epoch);
    });
    attach(request, epoch);
    request->start(m_address, options);
}

} // namespace lumora
