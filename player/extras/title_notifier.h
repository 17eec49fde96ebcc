#pragma once

#include "player/common/player_status.h"
#include "player/net/net_clock.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <memory>

namespace lumora {

// Tells the desktop (org.freedesktop.Notifications) when one player's title changes: the
// station's caption as the summary, the title as plain text (markup a server put in it is
// escaped). One notification per player, replaced in place; at most one every
// kIntervalMs, the latest title then shown when the interval is over. Nothing is asked of
// the bus when the player's notifications are off, and no notification service is started
// when none runs: the call then fails, and nothing is shown.
class TitleNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 10000;
    static constexpr auto kService = "org.freedesktop.Notifications";

    TitleNotifier(NetClock &clock, const QDBusConnection &bus, QObject *parent = nullptr);
    ~TitleNotifier() override;

    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }

public slots:
    void setCaption(const QString &caption) { m_caption = caption; }
    // Titles count while the station plays (not while it opens or after it stopped).
    void setStatus(const lumora::PlayerStatus &status);

private:
    void offer();
    void send();

    NetClock &m_clock;
    QDBusConnection m_bus;
    std::unique_ptr<NetTimer> m_hold; // the interval since the last notification
    bool m_enabled = false;
    QString m_caption;
    QString m_title;   // the latest title heard
    QString m_shown;   // the title of the last notification sent
    qint64 m_sentAt = -1;
    uint m_id = 0;     // the notification to replace; 0: none yet
};

} // namespace lumora
