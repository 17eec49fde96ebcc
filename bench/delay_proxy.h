#pragma once

// A TCP relay on loopback that delays every chunk by a fixed time in each direction, so that
// players can be compared over a path with a round trip of their own (this machine has no
// netem). Bounded: a few connections, a capped backlog per connection, and a lifetime after
// which it closes everything and stops by itself.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <deque>
#include <memory>
#include <vector>

class QTcpSocket;

namespace lumora::bench {

class DelayProxy : public QObject {
public:
    struct Limits {
        int delayMs = 50;                       // each way
        int maxConnections = 16;                // more are refused
        qint64 maxBacklogBytes = 8 * 1024 * 1024; // queued in one direction; more closes the pair
        int lifetimeMs = 30 * 60 * 1000;        // then everything closes
    };

    DelayProxy(quint16 targetPort, Limits limits, QObject *parent = nullptr);
    ~DelayProxy() override;

    // Listens on a free loopback port; 0 when it cannot.
    quint16 listen();
    // Connections accepted so far.
    int accepted() const { return m_accepted; }

private:
    struct Chunk {
        qint64 dueMs;
        QByteArray bytes;
    };
    struct Direction {
        std::deque<Chunk> queue;
        qint64 queued = 0;
    };
    struct Pair {
        QTcpSocket *client = nullptr;
        QTcpSocket *server = nullptr;
        Direction up;   // client to server
        Direction down; // server to client
        qint64 acceptedMs = 0;
        bool serverGone = false; // what it sent is still delivered
        bool closing = false;
    };

    void accept();
    void take(Pair *pair, QTcpSocket *from, Direction &into, qint64 notBeforeMs);
    void deliver();
    void close(Pair *pair);
    void closeAll();
    void scheduleDelivery();

    quint16 m_targetPort;
    Limits m_limits;
    QTcpServer m_server;
    QElapsedTimer m_clock;
    QTimer m_delivery;
    QTimer m_lifetime;
    std::vector<std::unique_ptr<Pair>> m_pairs;
    int m_accepted = 0;
};

// The proxy on a thread of its own, so that the driver's waits do not hold up its chunks.
class DelayProxyThread : public QThread {
public:
    DelayProxyThread(quint16 targetPort, DelayProxy::Limits limits) : m_targetPort(targetPort), m_limits(limits) {}
    ~DelayProxyThread() override
    {
        quit();
        wait();
    }
    // The port it listens on; 0 when it cannot.
    quint16 begin()
    {
        start();
        m_ready.acquire();
        return m_port;
    }

protected:
    void run() override
    {
        DelayProxy proxy(m_targetPort, m_limits);
        m_port = proxy.listen();
        m_ready.release();
        if (m_port)
            exec();
    }

private:
    quint16 m_targetPort;
    DelayProxy::Limits m_limits;
    quint16 m_port = 0;
    QSemaphore m_ready;
};

} // namespace lumora::bench
