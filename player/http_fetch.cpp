#include "http_fetch.h"

#include "wire_url.h"

#include <QLoggingCategory>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QUrl>

Q_LOGGING_CATEGORY(lcFetch, "lumora.player.fetch", QtWarningMsg)

namespace lumora {

namespace {

struct Target {
    bool tls = false;
    QString host;
    quint16 port = 0;
    QString authority; // host[:port] as written, for the Host header
    QString path;      // path and query, at least "/"
};

bool splitAddress(const QString &wire, Target &t, QString &error)
{
    const QString scheme = schemeOf(wire);
    if (scheme != u"http" && scheme != u"https") {
        error = QStringLiteral("not an http address");
        return false;
    }
    t.tls = scheme == u"https";
    const qsizetype start = scheme.size() + 3;
    if (wire.mid(scheme.size(), 3) != u"://") {
        error = QStringLiteral("no host");
        return false;
    }
    qsizetype end = start;
    while (end < wire.size() && wire[end] != u'/' && wire[end] != u'?' && wire[end] != u'#')
        ++end;
    QString authority = wire.mid(start, end - start);
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0)
        authority = authority.mid(at + 1);
    t.authority = authority;
    QString portText;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0) {
            error = QStringLiteral("bad host");
            return false;
        }
        t.host = authority.mid(1, close - 1);
        if (authority.mid(close + 1).startsWith(u':'))
            portText = authority.mid(close + 2);
    } else {
        const qsizetype colon = authority.lastIndexOf(u':');
        t.host = colon >= 0 ? authority.left(colon) : authority;
        if (colon >= 0)
            portText = authority.mid(colon + 1);
    }
    if (t.host.isEmpty()) {
        error = QStringLiteral("no host");
        return false;
    }
    t.port = t.tls ? 443 : 80;
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            error = QStringLiteral("bad port");
            return false;
        }
        t.port = quint16(port);
    }
    QString path = wire.mid(end);
    const qsizetype hash = path.indexOf(u'#');
    if (hash >= 0)
        path.truncate(hash);
    if (path.isEmpty() || path.startsWith(u'?'))
        path.prepend(u'/');
    t.path = path;
    return true;
}

// A header value as text: UTF-8 when it is valid UTF-8, else the Arabic code page that older
// station software sends.
QString headerText(const QByteArray &value)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(value);
    if (!utf8.hasError())
        return text;
    QStringDecoder arabic("windows-1256");
    return arabic.isValid() ? arabic.decode(value) : QString::fromLatin1(value);
}

FetchResult answer(FetchResult::Outcome outcome, ContentKind kind, const QString &address,
                   const QString &location = {}, const QByteArray &body = {})
{
    FetchResult r;
    r.outcome = outcome;
    r.kind = kind;
    r.address = address;
    r.location = location;
    r.body = body;
    return r;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

HttpFetch::HttpFetch(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no answer within %1 ms").arg(m_limits.timeoutMs));
    });
}

HttpFetch::~HttpFetch()
{
    dropSocket();
}

void HttpFetch::start(const QString &wireAddress, const FetchLimits &limits)
{
    m_limits = limits;
    m_address = wireAddress;
    Target target;
    QString error;
    if (!splitAddress(wireAddress, target, error)) {
        // finished() must not come from inside start().
        QMetaObject::invokeMethod(this, [this, error] { fail(error); }, Qt::QueuedConnection);
        return;
    }
    m_request = "GET " + target.path.toLatin1() + " HTTP/1.0\r\n"
        "Host: " + target.authority.toLatin1() + "\r\n"
        "User-Agent: Lumora/0.1\r\n"
        "Accept: */*\r\n"
        "Connection: close\r\n\r\n";

    if (target.tls) {
        if (!QSslSocket::supportsSsl()) {
            QMetaObject::invokeMethod(this, [this] { fail(QStringLiteral("TLS is not available")); },
                                      Qt::QueuedConnection);
            return;
        }
        auto *tls = new QSslSocket(this);
        m_socket = tls;
        connect(tls, &QSslSocket::encrypted, this, &HttpFetch::onConnected);
        connect(tls, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            fail(errors.isEmpty() ? QStringLiteral("TLS error") : errors.first().errorString());
        });
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QAbstractSocket::connected, this, &HttpFetch::onConnected);
    }
    connect(m_socket, &QIODevice::readyRead, this, &HttpFetch::onReadable);
    connect(m_socket, &QAbstractSocket::disconnected, this, &HttpFetch::onClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &HttpFetch::onSocketError);
    m_timer.start(m_limits.timeoutMs);
    qCDebug(lcFetch) << "GET" << wireAddress;
    if (target.tls)
        static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(target.host, target.port);
    else
        m_socket->connectToHost(target.host, target.port);
}

void HttpFetch::abort()
{
    m_done = true;
    m_timer.stop();
    dropSocket();
}

void HttpFetch::onConnected()
{
    m_socket->write(m_request);
}

void HttpFetch::onReadable()
{
    if (m_done)
        return;
    m_buffer += m_socket->readAll();
    process();
}

void HttpFetch::onClosed()
{
    if (m_done)
        return;
    m_buffer += m_socket->readAll();
    m_closed = true;
    process();
}

void HttpFetch::onSocketError()
{
    if (m_done)
        return;
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError) {
        onClosed();
        return;
    }
    fail(m_socket->errorString());
}

bool HttpFetch::takeChunks()
{
    // Moves complete chunks from m_buffer to m_body; false on a malformed chunk header.
    while (!m_chunksDone) {
        const qsizetype eol = m_buffer.indexOf("\r\n");
        if (eol < 0)
            return m_buffer.size() < 64;
        bool ok = false;
        QByteArray sizeText = m_buffer.left(eol);
        const qsizetype semi = sizeText.indexOf(';');
        if (semi >= 0)
            sizeText.truncate(semi);
        const qint64 size = sizeText.trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0)
            return false;
        if (size == 0) {
            m_chunksDone = true;
            m_buffer.clear();
            return true;
        }
        if (m_buffer.size() < eol + 2 + size + 2)
            return true;
        m_body += m_buffer.mid(eol + 2, size);
        m_buffer.remove(0, eol + 2 + size + 2);
    }
    return true;
}

void HttpFetch::process()
{
    if (m_done)
        return;
    if (!m_headerDone) {
        // SHOUTcast answers "ICY 200 OK": no HTTP, but its status line alone says this is a
        // stream. Its headers are still read, for the station's name.
        const bool icy = m_buffer.startsWith("ICY ");
        const qsizetype firstEol = m_buffer.indexOf('\n');
        if (icy && firstEol >= 0 && !m_buffer.left(firstEol).contains(" 200")) {
            fail(QString::fromLatin1(m_buffer.left(firstEol).trimmed()));
            return;
        }
        qsizetype end = m_buffer.indexOf("\r\n\r\n");
        qsizetype sepLen = 4;
        if (end < 0) {
            end = m_buffer.indexOf("\n\n");
            sepLen = 2;
        }
        if (end > m_limits.maxHeaderBytes || (end < 0 && m_buffer.size() > m_limits.maxHeaderBytes)) {
            fail(QStringLiteral("response header larger than %1 bytes").arg(m_limits.maxHeaderBytes));
            return;
        }
        if (end < 0) {
            if (m_closed)
                fail(m_buffer.isEmpty() ? QStringLiteral("connection closed without an answer")
                                        : QStringLiteral("incomplete response header"));
            return;
        }
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        const QByteArray status = lines.first().trimmed();
        const QList<QByteArray> parts = status.split(' ');
        if (!icy && (!status.startsWith("HTTP/") || parts.size() < 2)) {
            fail(QStringLiteral("not an HTTP answer"));
            return;
        }
        const int code = parts.at(1).toInt();
        QByteArray location;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name.startsWith("icy-"))
                m_icyHeaders = true;
            if (name == "content-type")
                m_contentType = value;
            else if (name == "content-length")
                m_contentLength = value.toLongLong();
            else if (name == "transfer-encoding")
                m_chunked = value.toLower().contains("chunked");
            else if (name == "location")
                location = value;
            else if (name == "icy-name")
                m_icyName = headerText(value);
        }
        if (icy) {
            finish(answer(FetchResult::Outcome::Stream, ContentKind::Stream, m_address));
            return;
        }
        if (isRedirect(code)) {
            if (location.isEmpty()) {
                fail(QStringLiteral("redirect without a target"));
                return;
            }
            const QString target = QString::fromUtf8(location);
            QString absolute = target;
            if (schemeOf(target).isEmpty())
                absolute = QUrl(m_address).resolved(QUrl(target)).toString(QUrl::FullyEncoded);
            finish(answer(FetchResult::Outcome::Redirect, ContentKind::NotPlayable, m_address, absolute));
            return;
        }
        if (code < 200 || code > 299) {
            fail(QString::fromLatin1(status));
            return;
        }
        m_headerDone = true;
        m_buffer.remove(0, end + sepLen);
        if (m_limits.streamByHeaders && announcesLiveStream(m_contentType, m_icyHeaders, m_contentLength >= 0 || m_chunked)) {
            finish(answer(FetchResult::Outcome::Stream, ContentKind::Stream, m_address));
            return;
        }
    }

    if (m_chunked) {
        if (!takeChunks()) {
            fail(QStringLiteral("malformed chunked body"));
            return;
        }
    } else {
        m_body += m_buffer;
        m_buffer.clear();
    }
    if (m_body.size() > m_limits.maxBodyBytes) {
        // Only text gets this far (a stream is recognised by its first bytes).
        fail(QStringLiteral("body larger than %1 bytes").arg(m_limits.maxBodyBytes));
        return;
    }
    const bool complete = m_closed || (m_chunked && m_chunksDone)
        || (!m_chunked && m_contentLength >= 0 && m_body.size() >= m_contentLength);
    if (complete && m_contentLength >= 0 && !m_chunked)
        m_body.truncate(m_contentLength);
    const ContentKind kind = recogniseContent(m_contentType, m_body, complete);
    switch (kind) {
    case ContentKind::NeedMore:
        if (complete)
            fail(QStringLiteral("empty answer"));
        return;
    case ContentKind::Stream:
    case ContentKind::MmshStream:
    case ContentKind::Hls:
        finish(answer(FetchResult::Outcome::Stream, kind, m_address));
        return;
    case ContentKind::NotPlayable:
        fail(QStringLiteral("neither a stream nor a playlist (%1)")
                 .arg(QString::fromLatin1(m_contentType.isEmpty() ? "no type" : m_contentType)));
        return;
    default:
        if (complete)
            finish(answer(FetchResult::Outcome::Playlist, kind, m_address, {}, m_body));
        return;
    }
}

void HttpFetch::finish(FetchResult result)
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    dropSocket();
    result.contentType = m_contentType;
    result.icyName = m_icyName;
    qCDebug(lcFetch) << m_address << "->" << int(result.outcome) << contentKindName(result.kind)
                     << result.error;
    emit finished(result);
}

void HttpFetch::fail(const QString &error)
{
    FetchResult result;
    result.outcome = FetchResult::Outcome::Failed;
    result.address = m_address;
    result.error = error;
    finish(result);
}

void HttpFetch::dropSocket()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

} // namespace lumora
