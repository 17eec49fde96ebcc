#pragma once

// A rough link on a thread of its own: a LinkRelay in front of one port (or several), so that
// tests, the benchmarks and the simulator's --link option can put stations behind jitter,
// stalls, a thin pipe or an outage, and the caller's own waits never hold up the bytes.
//
//     RoughLink link(targetPort, RoughLink::Condition::named("stalls").value());
//     const quint16 port = link.begin(); // 0: could not listen
//
// The condition's clock starts at begin(). Destroying the link closes every connection.

#include "link_condition.h"
#include "link_relay.h"

#include <QSemaphore>
#include <QThread>

namespace lumora::sim {

class RoughLink : public QThread {
public:
    using Condition = LinkCondition;
    using Route = LinkRelay::Route;
    using Limits = LinkRelay::Limits;

    // In front of targetPort, on a free loopback port.
    RoughLink(quint16 targetPort, Condition condition, Limits limits = {});
    // In front of every route's target, on its listen port (0: a free one).
    RoughLink(QList<Route> routes, Condition condition, Limits limits = {});
    ~RoughLink() override;

    // Starts the thread and listens; the first route's port, or 0 (with the reason).
    quint16 begin(QString *error = nullptr);
    // The routes with the ports listened on, after begin().
    QList<Route> routes() const { return m_routes; }
    const Condition &condition() const { return m_condition; }

protected:
    void run() override;

private:
    QList<Route> m_routes;
    Condition m_condition;
    Limits m_limits;
    QString m_error;
    bool m_listening = false;
    QSemaphore m_ready;
};

} // namespace lumora::sim
