#include "mpris_adaptors.h"

#include "mpris_presence.h"
#include "player/model/station_player.h"

namespace lumora {

MprisRootAdaptor::MprisRootAdaptor(MprisPresence *presence)
    : QDBusAbstractAdaptor(presence), m_presence(presence)
{
}

QString MprisRootAdaptor::identity() const
{
    return m_presence->identity();
}

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisPresence *presence)
    : QDBusAbstractAdaptor(presence), m_presence(presence)
{
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return m_presence->playbackStatus();
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return m_presence->metadata();
}

double MprisPlayerAdaptor::volume() const
{
    return m_presence->volume();
}

void MprisPlayerAdaptor::setVolume(double volume)
{
    m_presence->setVolume(volume);
}

bool MprisPlayerAdaptor::canPlay() const
{
    return m_presence->canPlay();
}

bool MprisPlayerAdaptor::canPause() const
{
    return m_presence->canPause();
}

void MprisPlayerAdaptor::Pause()
{
    m_presence->pause();
}

void MprisPlayerAdaptor::PlayPause()
{
    m_presence->player().togglePlay();
}

void MprisPlayerAdaptor::Stop()
{
    m_presence->player().ownStop();
}

void MprisPlayerAdaptor::Play()
{
    m_presence->play();
}

void MprisPlayerAdaptor::Seek(qlonglong)
{
    // CanSeek is false: a radio stream has no position to go to.
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath &, qlonglong)
{
}

void MprisPlayerAdaptor::OpenUri(const QString &)
{
    // No schemes are offered (SupportedUriSchemes is empty): the player plays the stations
    // of its page and nothing a desktop hands it.
}

} // namespace lumora
