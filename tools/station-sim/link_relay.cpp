#include "link_relay.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>

Q_LOGGING_CATEGORY(lcRoughLink, "lumora.stationsim.link", QtInfoMsg)

namespace lumora::sim {
namespace {
// Written to a socket and not yet taken by the peer's kernel: beyond this the relay holds the
// rest in its own queue (where the backlog limit sees it) instead of Qt's buffer.
constexpr qint64 kMaxUnsent = 256 * 1024;
// A capped direction lets through at most this long's worth of bytes at once.
constexpr double kCapBurstSeconds = 0.05;
} // namespace

LinkRelay::LinkRelay(QList<Route> routes, LinkCondition condition, Limits limits, QObject *parent)
    : QObject(parent), m_routes(std::move(routes)), m_condition(std::move(condition)), m_limits(limits)
{
    m_pump.setSingleShot(true);
    m_pump.setTimerType(Qt::PreciseTimer);
    connect(&m_pump, &QTimer::timeout, this, &LinkRelay::pump);
    m_lifetime.setSingleShot(true);
    connect(&m_lifetime, &QTimer::timeout, this, [this] {
        qCInfo(lcRoughLink) << "lifetime over: closing every connection";
        m_servers.clear();
        closeAll();
        QThread::currentThread()->quit();
    });
}

LinkRelay::~LinkRelay()
{
    closeAll();
}

bool LinkRelay::listen(QString *error)
{
    for (Route &route : m_routes) {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(QHostAddress::LocalHost, route.listenPort)) {
            if (error)
                *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(route.listenPort).arg(server->errorString());
            m_servers.clear();
            return false;
        }
        route.listenPort = server->serverPort();
        QTcpServer *s = server.get();
        const quint16 target = route.targetPort;
        connect(s, &QTcpServer::newConnection, this, [this, s, target] { accept(s, target); });
        m_servers.push_back(std::move(server));
    }
    m_clock.start();
    m_lifetime.start(std::chrono::milliseconds(m_limits.lifetimeMs));
    qCInfo(lcRoughLink).noquote() << "link" << m_condition.name << "on" << m_routes.size() << "ports";
    return true;
}

void LinkRelay::accept(QTcpServer *server, quint16 targetPort)
{
    while (QTcpSocket *client = server->nextPendingConnection()) {
        if (qsizetype(m_pairs.size()) >= m_limits.maxConnections) {
            qCWarning(lcRoughLink) << "more than" << m_limits.maxConnections << "connections: one refused";
            client->abort();
            client->deleteLater();
            continue;
        }
        client->setParent(this);
        auto pair = std::make_unique<Pair>();
        Pair *p = pair.get();
        p->client = client;
        p->server = new QTcpSocket(this);
        p->acceptedMs = m_clock.elapsed();
        m_pairs.push_back(std::move(pair));
        // During an outage the client's connection is accepted (loopback has done that
        // already) but nothing goes either way: the queues hold its request until the end.
        if (m_condition.inOutage(p->acceptedMs))
            qCDebug(lcRoughLink) << "connection accepted during the outage: held";
        connect(client, &QTcpSocket::readyRead, this, [this, p] { take(p, p->client, p->up); });
        connect(p->server, &QTcpSocket::readyRead, this, [this, p] { take(p, p->server, p->down); });
        connect(p->server, &QTcpSocket::connected, this, &LinkRelay::pump);
        connect(client, &QTcpSocket::bytesWritten, this, &LinkRelay::pump);
        connect(p->server, &QTcpSocket::bytesWritten, this, &LinkRelay::pump);
        connect(client, &QTcpSocket::disconnected, this, [this, p] { close(p); });
        connect(client, &QTcpSocket::errorOccurred, this, [this, p] { close(p); });
        connect(p->server, &QTcpSocket::disconnected, this, [this, p] {
            p->serverGone = true;
            pump();
        });
        connect(p->server, &QTcpSocket::errorOccurred, this, [this, p](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                close(p);
        });
        p->server->connectToHost(QHostAddress::LocalHost, targetPort);
    }
}

void LinkRelay::take(Pair *pair, QTcpSocket *from, Direction &into)
{
    const QByteArray bytes = from->readAll();
    if (bytes.isEmpty() || pair->closing)
        return;
    into.queued += bytes.size();
    if (into.queued > m_limits.maxBacklogBytes) {
        qCWarning(lcRoughLink) << "backlog over" << m_limits.maxBacklogBytes << "bytes: connection closed";
        close(pair);
        return;
    }
    const qint64 now = m_clock.elapsed();
    qint64 ready = now + m_condition.delayMs;
    // The client's connection is already set up on loopback; across the delayed path its
    // handshake would have taken a round trip, so its first bytes leave no sooner than that
    // round trip plus their own way.
    if (into.which == LinkCondition::Direction::Up)
        ready = std::max(ready, pair->acceptedMs + 3 * qint64(m_condition.delayMs));
    into.queue.push_back({ready, bytes});
    pump();
}

qint64 LinkRelay::send(Direction &d, QTcpSocket *to, qint64 now)
{
    const double rate = m_condition.capBytesPerSecond(now);
    if (rate > 0)
        d.budget = std::min(d.budget + rate * double(now - d.refilledMs) / 1000.0,
                            std::max(1.0, rate * kCapBurstSeconds));
    d.refilledMs = now;
    while (!d.queue.empty()) {
        if (to->state() != QAbstractSocket::ConnectedState)
            return now + 5; // the server is still being connected to
        if (to->bytesToWrite() > kMaxUnsent)
            return -1; // bytesWritten calls again
        Chunk &c = d.queue.front();
        const qint64 at = m_condition.releaseMs(d.which, std::max(c.readyMs, now));
        if (at > now)
            return at;
        qsizetype n = c.bytes.size();
        if (rate > 0) {
            n = std::min(n, qsizetype(d.budget));
            if (n <= 0)
                return now + 10;
            d.budget -= double(n);
        }
        to->write(c.bytes.constData(), n);
        d.queued -= n;
        if (n == c.bytes.size())
            d.queue.pop_front();
        else
            c.bytes.remove(0, n);
    }
    return -1;
}

void LinkRelay::pump()
{
    const qint64 now = m_clock.elapsed();
    qint64 next = -1;
    auto earliest = [&next](qint64 t) {
        if (t >= 0 && (next < 0 || t < next))
            next = t;
    };
    for (auto &pair : m_pairs) {
        Pair *p = pair.get();
        if (p->closing)
            continue;
        earliest(send(p->up, p->server, now));
        earliest(send(p->down, p->client, now));
        if (p->serverGone && p->down.queue.empty())
            p->client->disconnectFromHost(); // after what is written; then close() on disconnected
    }
    if (next < 0)
        return;
    const int in = int(std::max<qint64>(0, next - m_clock.elapsed()));
    if (!m_pump.isActive() || m_pump.remainingTime() > in)
        m_pump.start(in);
}

void LinkRelay::close(Pair *pair)
{
    if (pair->closing)
        return;
    pair->closing = true;
    // Deleting the sockets from inside their own signal is not safe: later.
    QTimer::singleShot(0, this, [this, pair] {
        auto it = std::find_if(m_pairs.begin(), m_pairs.end(), [pair](const auto &p) { return p.get() == pair; });
        if (it == m_pairs.end())
            return;
        for (QTcpSocket *s : {pair->client, pair->server}) {
            s->disconnect(this);
            s->abort();
            s->deleteLater();
        }
        m_pairs.erase(it);
    });
}

void LinkRelay::closeAll()
{
    for (auto &pair : m_pairs) {
        for (QTcpSocket *s : {pair->client, pair->server}) {
            s->disconnect(this);
            s->abort();
            delete s;
        }
    }
    m_pairs.clear();
}

} // namespace lumora::sim
