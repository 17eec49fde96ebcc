#pragma once

// The sockets of a rough link: listens on loopback ports, connects each client to its target
// port and carries the bytes both ways as its LinkCondition says. Lives in the thread that
// creates it (RoughLink gives it one of its own). Bounded: a number of connections, a backlog
// per direction beyond which the pair is closed, and a lifetime after which everything closes
// and the thread's event loop quits.

#include "link_condition.h"

#include <QElapsedTimer>
#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QTimer>
#include <deque>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

Q_DECLARE_LOGGING_CATEGORY(lcRoughLink)

namespace lumora::sim {

class LinkRelay : public QObject {
public:
    struct Route {
        quint16 listenPort = 0; // 0: a free one, filled in by listen()
        quint16 targetPort = 0;
    };
    struct Limits {
        int maxConnections = 64;                    // more are refused
        qint64 maxBacklogBytes = 8 * 1024 * 1024;   // held in one direction; more closes the pair
        qint64 lifetimeMs = 2 * 60 * 60 * 1000;     // then everything closes
    };

    LinkRelay(QList<Route> routes, LinkCondition condition, Limits limits, QObject *parent = nullptr);
    ~LinkRelay() override;

    // Listens on every route's port on 127.0.0.1; false, with the reason, when one cannot be
    // bound (then none is). The condition's clock starts here.
    bool listen(QString *error);
    const QList<Route> &routes() const { return m_routes; }

private:
    struct Chunk {
        qint64 readyMs; // when it has come through the delay
        QByteArray bytes;
    };
    struct Direction {
        explicit Direction(LinkCondition::Direction w) : which(w) {}
        LinkCondition::Direction which;
        std::deque<Chunk> queue;
        qint64 queued = 0;
        double budget = 0; // bytes the cap lets through now
        qint64 refilledMs = 0;
    };
    struct Pair {
        QTcpSocket *client = nullptr;
        QTcpSocket *server = nullptr;
        Direction up{LinkCondition::Direction::Up};
        Direction down{LinkCondition::Direction::Down};
        qint64 acceptedMs = 0;
        bool serverGone = false; // what it sent is still delivered
        bool closing = false;
    };

    void accept(QTcpServer *server, quint16 targetPort);
    void take(Pair *pair, QTcpSocket *from, Direction &into);
    void pump();
    qint64 send(Direction &d, QTcpSocket *to, qint64 now); // next time to look, or -1
    void close(Pair *pair);
    void closeAll();

    QList<Route> m_routes;
    LinkCondition m_condition;
    Limits m_limits;
    std::vector<std::unique_ptr<QTcpServer>> m_servers;
    QElapsedTimer m_clock;
    QTimer m_pump;
    QTimer m_lifetime;
    std::vector<std::unique_ptr<Pair>> m_pairs;
};

} // namespace lumora::sim
