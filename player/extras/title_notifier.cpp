#include "title_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QVariantMap>

Q_LOGGING_CATEGORY(lcNotify, "lumora.player.notify", QtWarningMsg)

namespace lumora {

TitleNotifier::TitleNotifier(NetClock &clock, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_clock(clock), m_bus(bus), m_hold(clock.createTimer())
{
    m_hold->timeout = [this] { send(); };
}

TitleNotifier::~TitleNotifier() = default;

void TitleNotifier::setEnabled(bool on)
{
    m_enabled = on;
    if (!on)
        m_hold->stop();
}

void TitleNotifier::setStatus(const PlayerStatus &status)
{
    if (status.state != PlaybackState::Playing || status.title.isEmpty() || status.title == m_title)
        return;
    m_title = status.title;
    offer();
}

void TitleNotifier::offer()
{
    if (!m_enabled || m_title == m_shown || m_hold->isActive())
        return;
    const qint64 since = m_sentAt < 0 ? kIntervalMs : m_clock.nowMs() - m_sentAt;
    if (since >= kIntervalMs)
        send();
    else
        m_hold->start(int(kIntervalMs - since));
}

void TitleNotifier::send()
{
    if (!m_enabled || m_title == m_shown || !m_bus.isConnected())
        return;
    m_shown = m_title;
    m_sentAt = m_clock.nowMs();
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QString::fromLatin1(kService),
                                                       QStringLiteral("Notify"));
    call.setAutoStartService(false); // a desktop without a notification service gets none
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("org.lumora.Lumora")}};
    // Servers that speak markup read the body as markup: the title is escaped so that what
    // a station sends shows as it is written.
    call << QStringLiteral("Lumora") << m_id << QStringLiteral("org.lumora.Lumora") << m_caption
         << m_title.toHtmlEscaped() << QStringList() << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            qCDebug(lcNotify) << "no notification:" << reply.error().message();
        else
            m_id = reply.value();
    });
}

} // namespace lumora
