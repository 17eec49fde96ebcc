#pragma once

// A desktop's side of MPRIS2: calls, property reads and writes and PropertiesChanged, over
// the session bus, through a connection of its own. The players answer from this same
// thread, so every wait keeps the event loop running.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QList>
#include <QVariantMap>

#include "tests/support/wait.h"

namespace lumora::test {

inline const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
inline const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
inline const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Maps inside variants arrive as marshalled arguments; plain values as themselves.
inline QVariant unwrap(const QVariant &v)
{
    if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        return unwrap(v.value<QDBusVariant>().variant());
    if (v.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument arg = v.value<QDBusArgument>();
        if (arg.currentType() == QDBusArgument::MapType)
            return qdbus_cast<QVariantMap>(arg);
        if (arg.currentType() == QDBusArgument::ArrayType)
            return qdbus_cast<QStringList>(arg);
    }
    return v;
}

inline bool nameOnBus(const QString &name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

inline QStringList lumoraNames()
{
    QStringList out;
    for (const QString &n : QDBusConnection::sessionBus().interface()->registeredServiceNames().value())
        if (n.startsWith(u"org.mpris.MediaPlayer2.lumora."))
            out << n;
    out.sort();
    return out;
}

class MprisClient : public QObject {
    Q_OBJECT
public:
    explicit MprisClient(const QString &service) : m_service(service) {}

    // Records PropertiesChanged of the player interface from now on.
    bool watch()
    {
        return QDBusConnection::sessionBus().connect(
            m_service, kPath, kProperties, QStringLiteral("PropertiesChanged"), this,
            SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    }
    QList<QVariantMap> changes; // each signal's changed properties, unwrapped

    QDBusMessage call(const QString &interface, const QString &method, const QVariantList &args = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall(m_service, kPath, interface, method);
        m.setArguments(args);
        QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(m, 5000);
        waitFor([&] { return pending.isFinished(); }, 6000);
        return pending.reply();
    }
    QVariant get(const QString &interface, const QString &property)
    {
        const QDBusMessage reply = call(kProperties, QStringLiteral("Get"), {interface, property});
        return reply.arguments().isEmpty() ? QVariant() : unwrap(reply.arguments().first());
    }
    QVariantMap getAll(const QString &interface)
    {
        const QDBusMessage reply = call(kProperties, QStringLiteral("GetAll"), {interface});
        return reply.arguments().isEmpty() ? QVariantMap() : unwrap(reply.arguments().first()).toMap();
    }
    QVariantMap metadata() { return get(kPlayer, QStringLiteral("Metadata")).toMap(); }
    QString status() { return get(kPlayer, QStringLiteral("PlaybackStatus")).toString(); }
    bool set(const QString &interface, const QString &property, const QVariant &value)
    {
        const QDBusMessage reply = call(kProperties, QStringLiteral("Set"),
                                        {interface, property, QVariant::fromValue(QDBusVariant(value))});
        return reply.type() == QDBusMessage::ReplyMessage;
    }

private slots:
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
    {
        if (interface != kPlayer)
            return;
        QVariantMap m;
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            m.insert(it.key(), unwrap(it.value()));
        changes << m;
    }

private:
    QString m_service;
};

} // namespace lumora::test
