#include "loopback_proxy.h"

#include <QPointer>
#include <QTcpSocket>
#include <QUrl>

namespace lumora::test {

namespace {

constexpr qsizetype kMaxHead = 16 * 1024;

void answerAndClose(QTcpSocket *client, const QByteArray &statusLine, const QByteArray &extra = {})
{
    client->write(statusLine + "\r\n" + extra + "Content-Length: 0\r\nConnection: close\r\n\r\n");
    client->disconnectFromHost();
}

// Bytes both ways until either side closes; the other is closed once its writes are out.
// The guards are of the base class: a socket still emits "disconnected" from its base's
// destructor, when it is no longer a QTcpSocket (as when the proxy goes with its sockets).
void pipe(QTcpSocket *a, QTcpSocket *b)
{
    QPointer<QAbstractSocket> pa(a), pb(b);
    QObject::connect(a, &QTcpSocket::readyRead, b, [pa, pb] {
        if (pa && pb)
            pb->write(pa->readAll());
    });
    QObject::connect(b, &QTcpSocket::readyRead, a, [pa, pb] {
        if (pa && pb)
            pa->write(pb->readAll());
    });
    QObject::connect(a, &QTcpSocket::disconnected, b, [pa, pb] {
        if (pa && pb)
            pb->write(pa->readAll());
        if (pb)
            pb->disconnectFromHost();
    });
    QObject::connect(b, &QTcpSocket::disconnected, a, [pa, pb] {
        if (pa && pb)
            pa->write(pb->readAll());
        if (pa)
            pa->disconnectFromHost();
    });
}

} // namespace

LoopbackProxy::LoopbackProxy()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = m_server.nextPendingConnection())
            accept(s);
    });
}

QString LoopbackProxy::url(const QString &user, const QString &password) const
{
    const QString credentials = user.isEmpty() ? QString() : user + u':' + password + u'@';
    return QStringLiteral("http://") + credentials + QStringLiteral("127.0.0.1:") + QString::number(port());
}

void LoopbackProxy::requireCredentials(const QByteArray &user, const QByteArray &password)
{
    m_expectedAuthorization = "Basic " + (user + ':' + password).toBase64();
}

int LoopbackProxy::tunnels() const
{
    return int(std::count_if(m_requestLines.begin(), m_requestLines.end(),
                             [](const QByteArray &l) { return l.startsWith("CONNECT "); }));
}

int LoopbackProxy::forwarded() const
{
    return int(m_requestLines.size()) - tunnels();
}

void LoopbackProxy::accept(QTcpSocket *client)
{
    connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    auto *buffer = new QByteArray;
    connect(client, &QObject::destroyed, client, [buffer] { delete buffer; });
    connect(client, &QTcpSocket::readyRead, this, [this, client, buffer] {
        *buffer += client->readAll();
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0) {
            if (buffer->size() > kMaxHead)
                answerAndClose(client, "HTTP/1.1 431 Request Header Fields Too Large");
            return;
        }
        client->disconnect(this); // from here the client's bytes belong to the pipe
        const QByteArray head = buffer->left(end);
        const QByteArray rest = buffer->mid(end + 4);
        buffer->clear();
        handle(client, head, rest);
    });
}

void LoopbackProxy::handle(QTcpSocket *client, const QByteArray &head, const QByteArray &rest)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &l : lines)
        l = l.trimmed();
    const QByteArray requestLine = lines.value(0);
    m_requestLines << requestLine;
    QByteArray authorization;
    QList<QByteArray> kept; // headers passed on to the server
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        if (name == "proxy-authorization")
            authorization = lines[i].mid(colon + 1).trimmed();
        else if (name != "proxy-connection")
            kept << lines[i];
    }
    m_authorizations << authorization;
    if (!m_expectedAuthorization.isEmpty() && authorization != m_expectedAuthorization) {
        answerAndClose(client, "HTTP/1.1 407 Proxy Authentication Required",
                       "Proxy-Authenticate: Basic realm=\"lumora-test\"\r\n");
        return;
    }
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3) {
        answerAndClose(client, "HTTP/1.1 400 Bad Request");
        return;
    }
    const bool tunnel = parts[0] == "CONNECT";
    QString host;
    quint16 port = 0;
    QByteArray originRequest;
    if (tunnel) {
        if (m_refuseTunnels) {
            answerAndClose(client, "HTTP/1.1 403 Forbidden");
            return;
        }
        const QUrl where(QStringLiteral("tcp://") + QString::fromLatin1(parts[1]));
        host = where.host();
        port = quint16(where.port(443));
    } else {
        const QUrl target(QString::fromLatin1(parts[1]));
        if (target.scheme() != u"http" || target.host().isEmpty()) {
            answerAndClose(client, "HTTP/1.1 400 Bad Request");
            return;
        }
        host = target.host();
        port = quint16(target.port(80));
        QByteArray path = target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        if (path.isEmpty())
            path = "/";
        originRequest = parts[0] + ' ' + path + ' ' + parts[2] + "\r\n" + kept.join("\r\n") + "\r\n\r\n" + rest;
    }
    auto *server = new QTcpSocket(client);
    connect(server, &QTcpSocket::connected, client, [client, server, tunnel, originRequest] {
        if (tunnel)
            client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        else
            server->write(originRequest);
        pipe(client, server);
        if (client->bytesAvailable() > 0)
            server->write(client->readAll());
    });
    connect(server, &QTcpSocket::errorOccurred, client, [client, server] {
        if (server->state() != QAbstractSocket::ConnectedState && client->state() == QAbstractSocket::ConnectedState)
            answerAndClose(client, "HTTP/1.1 502 Bad Gateway");
    });
    server->connectToHost(host, port);
}

} // namespace lumora::test
