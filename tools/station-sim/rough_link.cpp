#include "rough_link.h"

namespace lumora::sim {

RoughLink::RoughLink(quint16 targetPort, Condition condition, Limits limits)
    : RoughLink(QList<Route>{Route{0, targetPort}}, std::move(condition), limits)
{
}

RoughLink::RoughLink(QList<Route> routes, Condition condition, Limits limits)
    : m_routes(std::move(routes)), m_condition(std::move(condition)), m_limits(limits)
{
}

RoughLink::~RoughLink()
{
    quit();
    wait();
}

quint16 RoughLink::begin(QString *error)
{
    start();
    m_ready.acquire();
    if (!m_listening) {
        if (error)
            *error = m_error;
        return 0;
    }
    return m_routes.value(0).listenPort;
}

void RoughLink::run()
{
    LinkRelay relay(m_routes, m_condition, m_limits);
    m_listening = relay.listen(&m_error);
    if (m_listening)
        m_routes = relay.routes();
    m_ready.release();
    if (m_listening)
        exec();
}

} // namespace lumora::sim
