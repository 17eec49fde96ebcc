#include "mpris_presence.h"

#include "mpris_adaptors.h"
#include "player/common/playback_states.h"
#include "player/model/station_player.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QLoggingCategory>

#include <cmath>
#include <iterator>

Q_LOGGING_CATEGORY(lcMpris, "lumora.player.mpris", QtInfoMsg)

namespace lumora {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// PlaybackStatus as MPRIS spells it, for each TransportStatus.
constexpr const char *kTransportNames[] = {"Playing", "Paused", "Stopped"};
static_assert(std::size(kTransportNames) == std::size_t(TransportStatus::Stopped) + 1);

} // namespace

MprisPresence::MprisPresence(StationPlayer *player, const QString &pageName,
                             const QString &pageTitle)
    : QObject(player), m_player(player), m_pageName(pageName), m_pageTitle(pageTitle)
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    connect(player, &StationPlayer::statusChanged, this, &MprisPresence::onStatus);
    connect(player, &StationPlayer::stationCaptionChanged, this, [this] {
        ++m_track;
        publishChanges();
    });
    connect(player, &StationPlayer::volumeChanged, this, &MprisPresence::publishChanges);
    m_appearTimer.setSingleShot(true);
    m_appearTimer.setInterval(kAppearAfterMs);
    connect(&m_appearTimer, &QTimer::timeout, this, &MprisPresence::appear);
    onStatus(player->status());
}

MprisPresence::~MprisPresence()
{
    // The player is half gone already: only the bus is touched here.
    if (!m_bus)
        return;
    m_bus->unregisterService(m_busName);
    m_bus->unregisterObject(QString::fromLatin1(kObjectPath));
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void MprisPresence::onStatus(const PlayerStatus &status)
{
    if (!m_triedBus && status.state == PlaybackState::Playing) {
        m_triedBus = true;
        m_appearTimer.stop();
        // After whatever brought the sound has returned.
        QMetaObject::invokeMethod(this, &MprisPresence::appear, Qt::QueuedConnection);
    } else if (!m_triedBus && stateInfo(status.state).underWay && !m_appearTimer.isActive()) {
        m_appearTimer.start();
    }
    publishChanges();
}

void MprisPresence::appear()
{
    m_triedBus = true;
    const QString page = m_pageName;
    m_connectionName = QStringLiteral("lumora-mpris-%1-%2").arg(page).arg(quintptr(this), 0, 16);
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
    const QString path = QString::fromLatin1(kObjectPath);
    QString name = QLatin1StringView(kNamePrefix) + page;
    QString problem;
    if (!bus.isConnected())
        problem = QStringLiteral("no session bus (%1)").arg(bus.lastError().message());
    else if (!bus.registerObject(path, this, QDBusConnection::ExportAdaptors))
        problem = QStringLiteral("cannot register %1").arg(path);
    else if (!bus.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name))
            problem = QStringLiteral("cannot own %1: %2").arg(name, bus.lastError().message());
    }
    if (!problem.isEmpty()) {
        qCDebug(lcMpris).noquote() << page << "not on the session bus:" << problem;
        bus = QDBusConnection(QString()); // let go of it before it is closed
        QDBusConnection::disconnectFromBus(m_connectionName);
        return;
    }
    m_bus = bus;
    m_busName = name;
    m_published = changeableProperties();
    qCDebug(lcMpris).noquote() << page << "on the session bus as" << name;
}

QString MprisPresence::identity() const
{
    const QString title = m_pageTitle;
    return title.isEmpty() ? QStringLiteral("Lumora") : QStringLiteral("Lumora \u2014 ") + title;
}

QString MprisPresence::playbackStatus() const
{
    return QString::fromLatin1(kTransportNames[std::size_t(stateInfo(m_player->status().state).transport)]);
}

QVariantMap MprisPresence::metadata() const
{
    QVariantMap m;
    if (m_track == 0) {
        m.insert(QStringLiteral("mpris:trackid"),
                 QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack")));
        return m;
    }
    m.insert(QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/lumora/Lumora/%1/station%2")
                                                     .arg(m_pageName).arg(m_track))));
    const QString caption = m_player->stationCaption();
    const QString nowPlaying = m_player->status().title; // the stream's ICY title, if it sends one
    m.insert(QStringLiteral("xesam:title"),
             !nowPlaying.isEmpty() ? nowPlaying : !caption.isEmpty() ? caption : m_player->address());
    if (!caption.isEmpty())
        m.insert(QStringLiteral("xesam:artist"), QStringList{caption});
    if (!m_pageTitle.isEmpty())
        m.insert(QStringLiteral("xesam:album"), m_pageTitle);
    if (!m_player->address().isEmpty())
        m.insert(QStringLiteral("xesam:url"), m_player->address());
    return m;
}

double MprisPresence::volume() const
{
    return m_player->volume() / 100.0;
}

void MprisPresence::setVolume(double volume)
{
    m_player->setVolume(int(std::lround(qBound(0.0, volume, 1.0) * 100)));
}

bool MprisPresence::canPlay() const
{
    return !m_player->address().isEmpty();
}

bool MprisPresence::canPause() const
{
    return stateInfo(m_player->status().state).canPause;
}

void MprisPresence::play()
{
    m_player->play(); // resumes a paused stream, opens a stopped one again
}

void MprisPresence::pause()
{
    m_player->pause(); // exactly where CanPause is true; a paused player stays so
}

QVariantMap MprisPresence::changeableProperties() const
{
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), volume()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPause()},
    };
}

void MprisPresence::publishChanges()
{
    if (!m_bus)
        return;
    const QVariantMap now = changeableProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (m_published.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    if (changed.isEmpty())
        return;
    m_published = now;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    m_bus->send(signal);
}

} // namespace lumora
