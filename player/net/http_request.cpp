#include "http_request.h"

#include "catalogue/authority.h"
#include "http_connection_pool.h"
#include "network_text.h"
#include "wire_url.h"

#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>

Q_LOGGING_CATEGORY(lcHttp, "lumora.player.http", QtWarningMsg)

namespace lumora {

namespace {

constexpr qint64 kReadPiece = 64 * 1024;
constexpr qsizetype kMaxTunnelAnswer = 16 * 1024; // a proxy's answer to CONNECT, head only

} // namespace

std::optional<HttpTarget> HttpTarget::parse(const QString &wire, QString *error)
{
    auto no = [error](const char *why) {
        if (error)
            *error = QString::fromLatin1(why);
        return std::nullopt;
    };
    const QString scheme = schemeOf(wire);
    if (scheme != u"http" && scheme != u"https" && scheme != u"mmsh")
        return no("not an http address");
    if (wire.mid(scheme.size(), 3) != u"://")
        return no("no host");
    HttpTarget t;
    t.tls = scheme == u"https";
    const qsizetype start = scheme.size() + 3;
    qsizetype end = start;
    while (end < wire.size() && wire[end] != u'/' && wire[end] != u'?' && wire[end] != u'#')
        ++end;
    const QString authority = wire.mid(start, end - start);
    const Authority parts = splitAuthority(authority);
    if (parts.problem)
        return no("bad host");
    t.authority = authority.mid(parts.userInfo.isNull() ? 0 : parts.userInfo.size() + 1);
    t.host = parts.host.toString();
    if (t.host.isEmpty())
        return no("no host");
    t.port = t.tls ? 443 : 80;
    if (!parts.port.isEmpty()) {
        const std::optional<quint16> port = portNumber(parts.port);
        if (!port)
            return no("bad port");
        t.port = *port;
    }
    QString path = wire.mid(end);
    const qsizetype hash = path.indexOf(u'#');
    if (hash >= 0)
        path.truncate(hash);
    if (path.isEmpty() || path.startsWith(u'?'))
        path.prepend(u'/');
    t.path = path;
    return t;
}

HttpRequest::HttpRequest(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_reachedProxy && !m_proxy.isDirect()) {
            fail(OpenFailure::ProxyUnreachable, QStringLiteral("the proxy did not answer within %1 ms").arg(m_options.answerTimeoutMs));
            return;
        }
        fail(OpenFailure::NoAnswer, m_headSeen ? QStringLiteral("no data for %1 ms").arg(m_options.idleTimeoutMs)
                                               : QStringLiteral("no answer within %1 ms").arg(m_options.answerTimeoutMs));
    });
}

HttpRequest::~HttpRequest()
{
    dropSocket();
}

void HttpRequest::start(const QString &wireAddress, const Options &options)
{
    m_address = wireAddress;
    m_options = options;
    QString error;
    const std::optional<HttpTarget> target = HttpTarget::parse(wireAddress, &error);
    if (!target) {
        QMetaObject::invokeMethod(this, [this, error] { fail(OpenFailure::NotAStream, error); }, Qt::QueuedConnection);
        return;
    }
    m_target = *target;
    m_proxy = ProxyRoute::choose(ProxyEnvironment::current(), schemeOf(wireAddress), target->host, target->port);
    const bool forwarded = m_proxy.kind == ProxyRoute::Kind::Http && !target->tls;
    m_parser.setMetadataRequested(options.icyMetadata);
    const bool keep = !options.connections.isNull();
    // The target goes on the wire as it is: toWireUrl has made it ASCII already. An HTTP
    // proxy is asked for the whole address (MMS over HTTP is http to it).
    const QByteArray requestTarget = forwarded ? "http://" + target->authority.toLatin1() + target->path.toLatin1()
                                               : target->path.toLatin1();
    m_request = "GET " + requestTarget + (keep || options.http11 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n")
                + "Host: " + target->authority.toLatin1() + "\r\n"
                "User-Agent: " + options.userAgent + "\r\n"
                "Accept: */*\r\n";
    if (forwarded && m_proxy.hasCredentials())
        m_request += "Proxy-Authorization: " + m_proxy.authorization() + "\r\n";
    if (options.icyMetadata)
        m_request += "Icy-MetaData: 1\r\n";
    for (const auto &[name, value] : options.headers)
        m_request += name + ": " + value + "\r\n";
    m_request += keep ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    // A kept connection serves the same scheme, host and port reached the same way only.
    m_origin = (target->tls ? "https " : "http ") + target->host.toUtf8() + ' ' + QByteArray::number(target->port) + ' '
        + QByteArray::number(int(m_proxy.kind)) + ' ' + m_proxy.host.toUtf8() + ' ' + QByteArray::number(m_proxy.port) + ' '
        + m_proxy.user.toUtf8().toBase64() + ' ' + m_proxy.password.toUtf8().toBase64();

    if (target->tls && !QSslSocket::supportsSsl()) {
        QMetaObject::invokeMethod(this, [this] { fail(OpenFailure::NotAStream, QStringLiteral("TLS is not available")); },
                                  Qt::QueuedConnection);
        return;
    }
    m_timer.start(m_options.answerTimeoutMs);
    if (keep) {
        if (std::unique_ptr<QAbstractSocket> kept = options.connections->take(m_origin)) {
            adopt(std::move(kept));
            return;
        }
    }
    connectFresh();
}

void HttpRequest::connectFresh()
{
    if (m_target.tls) {
        auto *tls = new QSslSocket(this);
        m_socket = tls;
        // Through a tunnel the socket is connected to the proxy: the name checked is the station's.
        tls->setPeerVerifyName(m_target.host);
        connect(tls, &QSslSocket::encrypted, this, &HttpRequest::onConnected);
        connect(tls, &QSslSocket::sslErrors, this, &HttpRequest::onSslErrors);
    } else {
        m_socket = new QTcpSocket(this);
    }
    connect(m_socket, &QAbstractSocket::connected, this, &HttpRequest::onTcpConnected);
    // Lumora speaks to an HTTP proxy itself; a SOCKS one is the socket's. Qt's own
    // application proxy is never used: the environment is the desktop's word.
    if (m_proxy.kind == ProxyRoute::Kind::Socks5)
        m_socket->setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, m_proxy.host, m_proxy.port, m_proxy.user,
                                         m_proxy.password));
    else
        m_socket->setProxy(QNetworkProxy::NoProxy);
    // Qt reads no further ahead than this; the rest waits in the kernel while we are paused.
    m_socket->setReadBufferSize(kReadPiece);
    watchSocket();
    qCDebug(lcHttp) << "GET" << m_address << "on a new connection" << (m_proxy.isDirect() ? "" : "through proxy") << m_proxy.host;
    const bool viaHttpProxy = m_proxy.kind == ProxyRoute::Kind::Http;
    const QString host = viaHttpProxy ? m_proxy.host : m_target.host;
    const quint16 port = viaHttpProxy ? m_proxy.port : m_target.port;
    if (m_target.tls && !viaHttpProxy)
        static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(host, port);
    else
        m_socket->connectToHost(host, port); // a tunnel is encrypted once the proxy has opened it
}

void HttpRequest::adopt(std::unique_ptr<QAbstractSocket> socket)
{
    m_socket = socket.release();
    m_socket->setParent(this);
    watchSocket();
    m_reused = true;
    m_reachedProxy = true;
    m_connected = true;
    qCDebug(lcHttp) << "GET" << m_address << "on a kept connection";
    // Written from the event loop, as a new connection's request is: no signal comes from
    // inside start(), and a close already on its way is seen first.
    QMetaObject::invokeMethod(this, [this] {
        if (m_done || !m_socket || !m_reused)
            return;
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            retryFresh();
            return;
        }
        m_socket->write(m_request);
    }, Qt::QueuedConnection);
}

void HttpRequest::watchSocket()
{
    connect(m_socket, &QIODevice::readyRead, this, &HttpRequest::onReadable);
    connect(m_socket, &QAbstractSocket::disconnected, this, &HttpRequest::onClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &HttpRequest::onSocketError);
}

bool HttpRequest::retryFresh()
{
    // A kept connection may have been closed by the server just as the request went out. A
    // GET asks for nothing to change, so it is sent again, once, on a new connection, as
    // long as nothing of an answer has come.
    if (!m_reused || m_answerBytes > 0 || m_done)
        return false;
    m_reused = false;
    m_connected = false;
    m_reachedProxy = false;
    qCDebug(lcHttp) << m_address << "the kept connection was closed; asking again on a new one";
    dropSocket();
    m_timer.start(m_options.answerTimeoutMs);
    connectFresh();
    return true;
}

void HttpRequest::abort()
{
    m_done = true;
    m_timer.stop();
    dropSocket();
}

void HttpRequest::discard(std::unique_ptr<HttpRequest> &request)
{
    if (!request)
        return;
    request->abort();
    request.release()->deleteLater();
}

void HttpRequest::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    if (m_done || !m_socket)
        return;
    // A reader that does not want more is no silent server.
    if (paused && m_headSeen)
        m_timer.stop();
    if (!paused) {
        if (m_headSeen)
            m_timer.start(m_options.idleTimeoutMs);
        QMetaObject::invokeMethod(this, [this] {
            onReadable();
            if (!m_done && m_socket && m_socket->state() != QAbstractSocket::ConnectedState)
                onClosed();
        }, Qt::QueuedConnection);
    }
}

void HttpRequest::setIdleTimeoutMs(int ms)
{
    m_options.idleTimeoutMs = ms;
    if (m_headSeen && !m_done && !m_paused && m_timer.isActive())
        m_timer.start(ms);
}

void HttpRequest::readWaiting()
{
    if (m_done || !m_socket || m_paused)
        return;
    m_socket->waitForReadyRead(0); // takes what the kernel holds, without waiting
    onReadable();
}

void HttpRequest::onTcpConnected()
{
    m_reachedProxy = true;
    if (!m_socket || m_done)
        return;
    // A kept connection carries request after request: each goes out whole at once.
    if (m_options.connections)
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_target.tls && m_proxy.kind == ProxyRoute::Kind::Http) {
        const QByteArray where = (m_target.host.contains(u':') ? u'[' + m_target.host + u']' : m_target.host).toLatin1()
            + ':' + QByteArray::number(m_target.port);
        QByteArray connectRequest = "CONNECT " + where + " HTTP/1.1\r\nHost: " + where + "\r\nUser-Agent: "
            + m_options.userAgent + "\r\n";
        if (m_proxy.hasCredentials())
            connectRequest += "Proxy-Authorization: " + m_proxy.authorization() + "\r\n";
        m_tunnelling = true;
        m_socket->write(connectRequest + "\r\n");
        return;
    }
    if (!m_target.tls)
        onConnected(); // TLS: once encrypted
}

void HttpRequest::readTunnelAnswer()
{
    // Byte by byte up to the blank line: what follows it is the server's TLS, not the proxy's.
    while (m_tunnelling && m_socket && m_socket->bytesAvailable() > 0) {
        char c = 0;
        if (!m_socket->getChar(&c))
            break;
        m_tunnelAnswer += c;
        if (m_tunnelAnswer.size() > kMaxTunnelAnswer) {
            fail(OpenFailure::ProxyDenied, QStringLiteral("the proxy's answer to CONNECT is too long"));
            return;
        }
        if (!m_tunnelAnswer.endsWith("\r\n\r\n") && !m_tunnelAnswer.endsWith("\n\n"))
            continue;
        const QByteArray statusLine = m_tunnelAnswer.left(m_tunnelAnswer.indexOf('\n')).trimmed();
        const QList<QByteArray> parts = statusLine.split(' ');
        const int status = parts.size() > 1 && parts[0].startsWith("HTTP/") ? parts[1].toInt() : 0;
        const QString said = plainNetworkText(QString::fromLatin1(statusLine.left(120)));
        if (status == 407) {
            fail(OpenFailure::ProxyCredentials, QStringLiteral("proxy: %1").arg(said));
            return;
        }
        if (status < 200 || status > 299) {
            fail(OpenFailure::ProxyDenied, QStringLiteral("proxy: %1").arg(said));
            return;
        }
        m_tunnelling = false;
        m_tunnelAnswer.clear();
        static_cast<QSslSocket *>(m_socket)->startClientEncryption();
        return;
    }
}

void HttpRequest::onSslErrors(const QList<QSslError> &errors)
{
    // The most telling reason first: a self-signed certificate is usually for another name too.
    OpenFailure failure = OpenFailure::CertificateUntrusted;
    QString why = errors.isEmpty() ? QStringLiteral("TLS error") : errors.first().errorString();
    int rank = 0;
    for (const QSslError &e : errors) {
        int r = 0;
        OpenFailure f = OpenFailure::CertificateUntrusted;
        switch (e.error()) {
        case QSslError::SelfSignedCertificate: // the station's own; one in its chain is an unknown authority
            f = OpenFailure::CertificateSelfSigned;
            r = 4;
            break;
        case QSslError::CertificateExpired:
        case QSslError::CertificateNotYetValid:
            f = OpenFailure::CertificateExpired;
            r = 3;
            break;
        case QSslError::HostNameMismatch:
            f = OpenFailure::CertificateOtherHost;
            r = 2;
            break;
        default:
            r = 1;
            break;
        }
        if (r > rank) {
            rank = r;
            failure = f;
            why = e.errorString();
        }
    }
    fail(failure, QStringLiteral("certificate not trusted: %1").arg(why));
}

void HttpRequest::onConnected()
{
    m_connected = true;
    if (m_socket)
        m_socket->write(m_request);
}

void HttpRequest::onReadable()
{
    if (m_done || !m_socket)
        return;
    if (m_tunnelling) {
        readTunnelAnswer();
        return;
    }
    // The pause is honoured once the head is in: the head is needed to know what comes.
    while (!m_done && m_socket && (!m_paused || !m_headSeen) && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(kReadPiece);
        if (bytes.isEmpty())
            break;
        m_answerBytes += bytes.size();
        afterParse(m_parser.feed(bytes));
    }
}

void HttpRequest::onClosed()
{
    if (m_done || !m_socket)
        return;
    if (m_socket->bytesAvailable() == 0 && retryFresh())
        return;
    if (m_paused && m_headSeen && m_socket->bytesAvailable() > 0)
        return; // what is left is read on resume; the close is seen again then
    onReadable();
    if (m_done)
        return;
    afterParse(m_parser.close());
}

void HttpRequest::onSocketError()
{
    if (m_done || !m_socket)
        return;
    if (m_socket->error() != QAbstractSocket::SocketTimeoutError && m_socket->bytesAvailable() == 0 && retryFresh())
        return;
    const bool throughProxy = !m_proxy.isDirect();
    // Until the proxy has taken the connection, a failure to connect is the proxy's.
    const bool proxyNotReached = m_proxy.kind == ProxyRoute::Kind::Http && !m_reachedProxy;
    switch (m_socket->error()) {
    case QAbstractSocket::SocketTimeoutError:
        return; // readWaiting() found nothing waiting; the deadlines here are our own
    case QAbstractSocket::RemoteHostClosedError:
        if (m_tunnelling) {
            fail(OpenFailure::ProxyDenied, QStringLiteral("the proxy closed the connection instead of opening a tunnel"));
            return;
        }
        onClosed();
        return;
    case QAbstractSocket::HostNotFoundError:
        fail(proxyNotReached ? OpenFailure::ProxyUnreachable : OpenFailure::HostNotFound, m_socket->errorString());
        return;
    case QAbstractSocket::ConnectionRefusedError:
        fail(proxyNotReached ? OpenFailure::ProxyUnreachable : OpenFailure::Refused, m_socket->errorString());
        return;
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        fail(OpenFailure::ProxyUnreachable, m_socket->errorString());
        return;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        fail(OpenFailure::ProxyCredentials, m_socket->errorString());
        return;
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyProtocolError:
        fail(throughProxy ? OpenFailure::ProxyDenied : OpenFailure::NoAnswer, m_socket->errorString());
        return;
    default:
        if (m_headSeen) {
            onClosed(); // a reset after the answer began: the body ends here
            return;
        }
        fail(OpenFailure::NoAnswer, m_socket->errorString());
        return;
    }
}

void HttpRequest::afterParse(HttpResponseParser::State state)
{
    if (m_done)
        return;
    if (state == HttpResponseParser::State::Failed) {
        // A body that cannot be decoded is no stream and no playlist; one that breaks off
        // after its head is a server that stopped answering.
        const bool unreadable = !m_headSeen || m_parser.bodyUndecodable();
        fail(unreadable ? OpenFailure::NotAStream : OpenFailure::NoAnswer, m_parser.error());
        return;
    }
    if (state == HttpResponseParser::State::Head)
        return;
    if (!m_paused)
        m_timer.start(m_options.idleTimeoutMs);
    if (!m_headSeen) {
        if (m_parser.head().status == 407 && m_proxy.kind == ProxyRoute::Kind::Http) {
            fail(OpenFailure::ProxyCredentials,
                 QStringLiteral("proxy: %1").arg(plainNetworkText(QString::fromLatin1(m_parser.head().statusLine.left(120)))));
            return;
        }
        m_headSeen = true;
        emit headReady();
        if (m_done)
            return;
    }
    if (m_parser.pendingBody() > 0 || state == HttpResponseParser::State::Done)
        emit bodyReady();
    if (m_done)
        return;
    if (state == HttpResponseParser::State::Done) {
        m_done = true;
        m_timer.stop();
        releaseSocket();
        emit finished();
    }
}

bool HttpRequest::reusable() const
{
    if (!m_options.connections || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    // The answer ended by its own framing, exactly where the connection's bytes end.
    if (!m_parser.endedByFraming() || m_parser.surplusBytes() > 0 || m_socket->bytesAvailable() > 0)
        return false;
    const HttpHead &head = m_parser.head();
    if (head.icy || !head.statusLine.startsWith("HTTP/1.1 ") || head.status < 200)
        return false;
    // Both a length and a transfer coding, or a coding other than chunked alone, is a server
    // whose framing is not to be trusted with the next answer.
    int codings = 0;
    for (const auto &[name, value] : head.headers) {
        if (name == "transfer-encoding" && (++codings > 1 || value.compare("chunked", Qt::CaseInsensitive) != 0))
            return false;
        if (name == "content-length" && head.chunked)
            return false;
        if (name == "connection") {
            for (const QByteArray &token : value.split(','))
                if (token.trimmed().compare("close", Qt::CaseInsensitive) == 0)
                    return false;
        }
    }
    return true;
}

void HttpRequest::releaseSocket()
{
    if (!reusable()) {
        dropSocket();
        return;
    }
    m_socket->disconnect(this);
    std::unique_ptr<QAbstractSocket> socket(m_socket);
    m_socket = nullptr;
    m_options.connections->keep(m_origin, std::move(socket));
}

void HttpRequest::fail(OpenFailure failure, const QString &reason)
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    dropSocket();
    qCDebug(lcHttp) << m_address << "failed:" << reason;
    emit failed(failure, reason);
}

void HttpRequest::dropSocket()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

} // namespace lumora
