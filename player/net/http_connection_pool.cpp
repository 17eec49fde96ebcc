#include "http_connection_pool.h"

#include <QAbstractSocket>
#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcHttp) // http_request.cpp

namespace lumora {

HttpConnectionPool::HttpConnectionPool(int idleMs, QObject *parent) : QObject(parent), m_idleMs(std::max(idleMs, 0))
{
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &HttpConnectionPool::expire);
}

HttpConnectionPool::~HttpConnectionPool()
{
    while (!m_idle.isEmpty())
        dropAt(0, "the pool is gone");
}

std::unique_ptr<QAbstractSocket> HttpConnectionPool::take(const QByteArray &origin)
{
    for (qsizetype i = m_idle.size() - 1; i >= 0; --i) {
        if (m_idle[i].origin != origin)
            continue;
        QAbstractSocket *socket = m_idle[i].socket;
        m_idle.removeAt(i);
        socket->disconnect(this);
        // What the kernel holds and the signals have not told yet: a close, or bytes nobody
        // asked for. Either makes the connection useless for a new request.
        socket->waitForReadyRead(0);
        if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0) {
            qCDebug(lcHttp) << "kept connection to" << socket->peerName() << socket->peerPort() << "was closed or sent bytes unasked";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setParent(nullptr);
        scheduleExpiry();
        return std::unique_ptr<QAbstractSocket>(socket);
    }
    scheduleExpiry();
    return nullptr;
}

void HttpConnectionPool::keep(const QByteArray &origin, std::unique_ptr<QAbstractSocket> owned)
{
    if (!owned || owned->state() != QAbstractSocket::ConnectedState || owned->bytesAvailable() > 0)
        return; // the socket goes with owned
    QAbstractSocket *socket = owned.release();
    socket->setParent(this);
    // Anything from the server while nobody asked, or its close, ends the connection's use.
    connect(socket, &QIODevice::readyRead, this, [this, socket] { drop(socket, "sent bytes unasked"); });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { drop(socket, "closed by the server"); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] { drop(socket, "failed while idle"); });
    m_idle.append({origin, socket, QDeadlineTimer(m_idleMs)});
    const auto sameOrigin = [&origin](const Idle &idle) { return idle.origin == origin; };
    if (std::count_if(m_idle.cbegin(), m_idle.cend(), sameOrigin) > kMaxPerOrigin)
        dropAt(std::find_if(m_idle.cbegin(), m_idle.cend(), sameOrigin) - m_idle.cbegin(), "more than enough kept");
    if (m_idle.size() > kMaxIdle)
        dropAt(0, "more than enough kept");
    scheduleExpiry();
}

void HttpConnectionPool::drop(QAbstractSocket *socket, const char *why)
{
    const auto it = std::find_if(m_idle.cbegin(), m_idle.cend(), [socket](const Idle &idle) { return idle.socket == socket; });
    if (it != m_idle.cend())
        dropAt(it - m_idle.cbegin(), why);
}

void HttpConnectionPool::dropAt(qsizetype index, const char *why)
{
    QAbstractSocket *socket = m_idle[index].socket;
    m_idle.removeAt(index);
    qCDebug(lcHttp) << "kept connection to" << socket->peerName() << socket->peerPort() << "dropped:" << why;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater(); // it may be inside one of its own signals
    scheduleExpiry();
}

void HttpConnectionPool::expire()
{
    for (qsizetype i = m_idle.size() - 1; i >= 0; --i)
        if (m_idle[i].expires.hasExpired())
            dropAt(i, "idle too long");
    scheduleExpiry();
}

void HttpConnectionPool::scheduleExpiry()
{
    if (m_idle.isEmpty()) {
        m_expiry.stop();
        return;
    }
    // The oldest expires first: all are kept for the same time.
    m_expiry.start(std::chrono::milliseconds(std::max<qint64>(m_idle.first().expires.remainingTime(), 0)));
}

} // namespace lumora
