#include "http_request.h"

#include "authority.h"
#include "wire_url.h"

#include <QLoggingCategory>
#include <QSslSocket>
#include <QTcpSocket>

Q_LOGGING_CATEGORY(lcHttp, "lumora.player.http", QtWarningMsg)

namespace lumora {

namespace {

constexpr qint64 kReadPiece = 64 * 1024;

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
    m_parser.setMetadataRequested(options.icyMetadata);
    // The target goes on the wire as it is: toWireUrl has made it ASCII already.
    m_request = "GET " + target->path.toLatin1() + " HTTP/1.0\r\n"
                "Host: " + target->authority.toLatin1() + "\r\n"
                "User-Agent: " + options.userAgent + "\r\n"
                "Accept: */*\r\n";
    if (options.icyMetadata)
        m_request += "Icy-MetaData: 1\r\n";
    for (const auto &[name, value] : options.headers)
        m_request += name + ": " + value + "\r\n";
    m_request += "Connection: close\r\n\r\n";

    if (target->tls) {
        if (!QSslSocket::supportsSsl()) {
            QMetaObject::invokeMethod(this, [this] { fail(OpenFailure::NotAStream, QStringLiteral("TLS is not available")); },
                                      Qt::QueuedConnection);
            return;
        }
        auto *tls = new QSslSocket(this);
        m_socket = tls;
        connect(tls, &QSslSocket::encrypted, this, &HttpRequest::onConnected);
        connect(tls, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            fail(OpenFailure::NoAnswer, errors.isEmpty() ? QStringLiteral("TLS error") : errors.first().errorString());
        });
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QAbstractSocket::connected, this, &HttpRequest::onConnected);
    }
    // Qt reads no further ahead than this; the rest waits in the kernel while we are paused.
    m_socket->setReadBufferSize(kReadPiece);
    connect(m_socket, &QIODevice::readyRead, this, &HttpRequest::onReadable);
    connect(m_socket, &QAbstractSocket::disconnected, this, &HttpRequest::onClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &HttpRequest::onSocketError);
    m_timer.start(m_options.answerTimeoutMs);
    qCDebug(lcHttp) << "GET" << wireAddress;
    if (target->tls)
        static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(target->host, target->port);
    else
        m_socket->connectToHost(target->host, target->port);
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
    // The pause is honoured once the head is in: the head is needed to know what comes.
    while (!m_done && m_socket && (!m_paused || !m_headSeen) && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(kReadPiece);
        if (bytes.isEmpty())
            break;
        afterParse(m_parser.feed(bytes));
    }
}

void HttpRequest::onClosed()
{
    if (m_done || !m_socket)
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
    switch (m_socket->error()) {
    case QAbstractSocket::SocketTimeoutError:
        return; // readWaiting() found nothing waiting; the deadlines here are our own
    case QAbstractSocket::RemoteHostClosedError:
        onClosed();
        return;
    case QAbstractSocket::HostNotFoundError:
        fail(OpenFailure::HostNotFound, m_socket->errorString());
        return;
    case QAbstractSocket::ConnectionRefusedError:
        fail(OpenFailure::Refused, m_socket->errorString());
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
        fail(m_headSeen ? OpenFailure::NoAnswer : OpenFailure::NotAStream, m_parser.error());
        return;
    }
    if (state == HttpResponseParser::State::Head)
        return;
    if (!m_paused)
        m_timer.start(m_options.idleTimeoutMs);
    if (!m_headSeen) {
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
        dropSocket();
        emit finished();
    }
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
