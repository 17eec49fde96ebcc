#include "network_watch.h"

#include <QLoggingCategory>
#include <QNetworkInformation>

Q_DECLARE_LOGGING_CATEGORY(lcHttp)

namespace lumora {

NetworkWatch::NetworkWatch(QObject *parent) : QObject(parent)
{
    // Loaded once for the process; later calls find it loaded.
    if (!QNetworkInformation::instance()
        && !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *info = QNetworkInformation::instance();
    if (!info || !info->supports(QNetworkInformation::Feature::Reachability))
        return;
    m_known = true;
    m_wasDown = isDown();
    qCDebug(lcHttp) << "network reachability from" << info->backendName() << ":" << int(info->reachability());
    connect(info, &QNetworkInformation::reachabilityChanged, this, [this](QNetworkInformation::Reachability) {
        const bool down = isDown();
        if (m_wasDown && !down)
            emit linkReturned();
        m_wasDown = down;
    });
}

bool NetworkWatch::isDown() const
{
    if (!m_known)
        return false;
    return QNetworkInformation::instance()->reachability() == QNetworkInformation::Reachability::Disconnected;
}

} // namespace lumora
