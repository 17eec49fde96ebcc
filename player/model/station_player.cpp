#include "station_player.h"

#include "player/common/playback_states.h"
#include "player/engine/vlc_backend.h"

#include <cmath>

namespace lumora {

StationPlayer::StationPlayer(QObject *parent)
    : StationPlayer(PlayerSettings::stored(), std::make_unique<VlcBackend>(), parent)
{
}

StationPlayer::StationPlayer(const PlayerSettings &settings, std::unique_ptr<MediaBackend> backend,
                             QObject *parent)
    : QObject(parent), m_settings(settings), m_backend(std::move(backend)),
      m_volume(qBound(0, settings.volume, 100)), m_muted(settings.mute)
{
    m_backend->configure(m_settings);
    connect(m_backend.get(), &MediaBackend::statusChanged, this, &StationPlayer::setStatus);
}

StationPlayer::~StationPlayer()
{
    // The engine goes first and tells nobody: whoever watches this player is going too.
    m_backend->disconnect(this);
    m_backend.reset();
}

void StationPlayer::stop()
{
    m_backend->stop();
}

void StationPlayer::setAddress(const QString &address)
{
    if (m_address != address) {
        m_address = address;
        emit addressChanged(address);
    }
    if (!m_settings.autoStart)
        return;
    if (m_videoWindow)
        m_backend->setVideoWindow(m_videoWindow());
    m_backend->open(address);
}

void StationPlayer::showNoAddress(const QStringList &missingKeys, const QString &configFile)
{
    PlayerStatus s;
    s.state = PlaybackState::NoAddress;
    s.missingKeys = missingKeys;
    s.configFile = configFile;
    setStatus(s);
}

void StationPlayer::setStationCaption(const QString &caption)
{
    m_stationCaption = caption;
    emit stationCaptionChanged(caption);
}

void StationPlayer::open()
{
    if (m_address.isEmpty())
        return;
    if (m_videoWindow)
        m_backend->setVideoWindow(m_videoWindow());
    m_backend->open(m_address);
}

void StationPlayer::togglePlay()
{
    switch (stateInfo(m_status.state).primary) {
    case PrimaryControl::Pause:
        m_backend->pause();
        break;
    case PrimaryControl::Stop:
        m_backend->stop();
        break;
    case PrimaryControl::Resume:
        m_backend->resume();
        break;
    case PrimaryControl::Open:
        open();
        break;
    case PrimaryControl::None:
        break; // the station shown has no address; the one before it must not start instead
    }
}

void StationPlayer::play()
{
    const PrimaryControl primary = stateInfo(m_status.state).primary;
    if (primary == PrimaryControl::Resume || primary == PrimaryControl::Open)
        togglePlay(); // resumes a paused stream, opens a stopped one again
}

void StationPlayer::pause()
{
    // Exactly where CanPause is true: the state table keeps the two in step. A paused player
    // stays so.
    if (stateInfo(m_status.state).primary == PrimaryControl::Pause)
        m_backend->pause();
}

void StationPlayer::ownStop()
{
    m_backend->stop();
}

void StationPlayer::setVolume(int volume)
{
    volume = qBound(0, volume, 100);
    if (volume == m_volume)
        return;
    m_volume = volume;
    applyVolume();
    emit volumeChanged(volume);
}

void StationPlayer::setMuted(bool muted)
{
    if (muted == m_muted)
        return;
    m_muted = muted;
    m_backend->setMuted(muted);
    emit mutedChanged(muted);
}

void StationPlayer::setOutputGain(double gain)
{
    gain = qBound(0.0, gain, 1.0);
    if (gain == m_gain)
        return;
    m_gain = gain;
    applyVolume();
}

void StationPlayer::applyVolume()
{
    m_backend->setVolume(int(std::lround(m_volume * m_gain)));
}

void StationPlayer::setRemark(const QString &key, const QString &text)
{
    if (text.isEmpty() ? m_remarks.remove(key) == 0 : m_remarks.value(key) == text)
        return;
    if (!text.isEmpty())
        m_remarks.insert(key, text);
    emit remarksChanged();
}

void StationPlayer::setStatus(const PlayerStatus &status)
{
    const bool newTitle = status.title != m_status.title;
    m_status = status;
    emit statusChanged(status);
    if (!newTitle)
        return;
    m_history.add(status.title, QDateTime::currentDateTimeUtc(), m_stationCaption);
    emit titleChanged(status.title);
}

} // namespace lumora
