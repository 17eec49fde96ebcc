#pragma once

#include <QObject>

namespace lumora {

// Whether the machine's network is reachable, where Qt has a backend that knows
// (QNetworkInformation: NetworkManager, GLib). Without one, nothing is known: isDown() is
// false and linkReturned() never comes, and reconnecting relies on its pauses alone.
class NetworkWatch : public QObject {
    Q_OBJECT
public:
    explicit NetworkWatch(QObject *parent = nullptr);

    bool isKnown() const { return m_known; }
    bool isDown() const;

signals:
    // The network was down and is reachable again: a waiting try may start at once.
    void linkReturned();

private:
    bool m_known = false;
    bool m_wasDown = false;
};

} // namespace lumora
