#include "delay_proxy.h"

#include <QTcpSocket>
#include <algorithm>

namespace lumora::bench {

DelayProxy::DelayProxy(quint16 targetPort, Limits limits, QObject *parent)
    : QObject(parent), m_targetPort(targetPort), m_limits(limits)
{
    m_clock.start();
    m_delivery.setSingleShot(true);
    m_delivery.setTimerType(Qt::PreciseTimer);
    connect(&m_delivery, &QTimer::timeout, this, &DelayProxy::deliver);
    m_lifetime.setSingleShot(true);
    connect(&m_lifetime, &QTimer::timeout, this, [this] {
        m_server.close();
        closeAll();
        QThread::currentThread()->quit();
    });
    connect(&m_server, &QTcpServer::newConnection, this, &DelayProxy::accept);
}

DelayProxy::~DelayProxy()
{
    closeAll();
}

quint16 DelayProxy::listen()
{
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        return 0;
    m_lifetime.start(m_limits.lifetimeMs);
    return m_server.serverPort();
}

void DelayProxy::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        if (int(m_pairs.size()) >= m_limits.maxConnections) {
            client->abort();
            client->deleteLater();
            continue;
        }
        ++m_accepted;
        auto pair = std::make_unique<Pair>();
        Pair *p = pair.get();
        p->client = client;
        p->server = new QTcpSocket(this);
        p->acceptedMs = m_clock.elapsed();
        m_pairs.push_back(std::move(pair));
        // The client's connection is already set up on loopback; across the delayed path its
        // handshake would have taken a round trip, so its first bytes leave no sooner than
        // that round trip plus their own way.
        const qint64 firstSendMs = p->acceptedMs + 3 * m_limits.delayMs;
        connect(client, &QTcpSocket::readyRead, this, [this, p, firstSendMs] { take(p, p->client, p->up, firstSendMs); });
        connect(p->server, &QTcpSocket::readyRead, this, [this, p] { take(p, p->server, p->down, 0); });
        connect(client, &QTcpSocket::disconnected, this, [this, p] { close(p); });
        connect(client, &QTcpSocket::errorOccurred, this, [this, p] { close(p); });
        connect(p->server, &QTcpSocket::disconnected, this, [this, p] {
            p->serverGone = true;
            deliver();
        });
        connect(p->server, &QTcpSocket::errorOccurred, this, [this, p](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                close(p);
        });
        p->server->connectToHost(QHostAddress::LocalHost, m_targetPort);
    }
}

void DelayProxy::take(Pair *pair, QTcpSocket *from, Direction &into, qint64 notBeforeMs)
{
    const QByteArray bytes = from->readAll();
    if (bytes.isEmpty() || pair->closing)
        return;
    into.queued += bytes.size();
    if (into.queued > m_limits.maxBacklogBytes) {
        close(pair);
        return;
    }
    into.queue.push_back({std::max(m_clock.elapsed() + m_limits.delayMs, notBeforeMs), bytes});
    scheduleDelivery();
}

void DelayProxy::deliver()
{
    const qint64 now = m_clock.elapsed();
    for (auto &pair : m_pairs) {
        Pair *p = pair.get();
        if (p->closing)
            continue;
        auto send = [now](Direction &d, QTcpSocket *to) {
            while (!d.queue.empty() && d.queue.front().dueMs <= now
                   && to->state() == QAbstractSocket::ConnectedState) {
                to->write(d.queue.front().bytes);
                d.queued -= d.queue.front().bytes.size();
                d.queue.pop_front();
            }
        };
        send(p->up, p->server);
        send(p->down, p->client);
        if (p->serverGone && p->down.queue.empty())
            p->client->disconnectFromHost(); // after what is written; then close() on disconnected
    }
    scheduleDelivery();
}

void DelayProxy::scheduleDelivery()
{
    qint64 next = -1;
    for (auto &pair : m_pairs) {
        for (const Direction *d : {&pair->up, &pair->down})
            if (!d->queue.empty() && (next < 0 || d->queue.front().dueMs < next))
                next = d->queue.front().dueMs;
    }
    if (next < 0)
        return;
    // Bytes for a server still connecting wait for the next look, a millisecond later.
    const int in = int(std::max<qint64>(1, next - m_clock.elapsed()));
    if (!m_delivery.isActive() || m_delivery.remainingTime() > in)
        m_delivery.start(in);
}

void DelayProxy::close(Pair *pair)
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

void DelayProxy::closeAll()
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

} // namespace lumora::bench
