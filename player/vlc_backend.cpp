#include "vlc_backend.h"

#include "vlc_instance.h"
#include "vlc_media_player.h"
#include "wire_url.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPlayer, "lumora.player", QtWarningMsg)

namespace lumora {

VlcBackend::VlcBackend(QObject *parent)
    : MediaBackend(parent),
      m_instance(VlcInstance::shared()),
      m_player(std::make_unique<VlcMediaPlayer>(m_instance))
{
    m_openWatchdog.setSingleShot(true);
    connect(&m_openWatchdog, &QTimer::timeout, this, [this] { candidateFailed("nothing played in time"); });
    m_openBudget.setSingleShot(true);
    connect(&m_openBudget, &QTimer::timeout, this, &VlcBackend::openBudgetSpent);
    m_rejoinTimer.setSingleShot(true);
    connect(&m_rejoinTimer, &QTimer::timeout, this, &VlcBackend::rejoin);
    connect(&m_resolver, &StreamResolver::found, this, &VlcBackend::onFound);
    connect(&m_resolver, &StreamResolver::failed, this, [this](const QString &reason) {
        qCInfo(lcPlayer) << "cannot open:" << reason;
        m_openBudget.stop();
        setState(PlaybackState::CannotOpen);
    });

    VlcMediaPlayer *p = m_player.get();
    connect(p, &VlcMediaPlayer::opening, this, [this] {
        if (!m_started && !m_rejoining)
            setState(PlaybackState::Opening);
    });
    connect(p, &VlcMediaPlayer::buffering, this, &VlcBackend::onBuffering);
    connect(p, &VlcMediaPlayer::playing, this, &VlcBackend::onPlaying);
    connect(p, &VlcMediaPlayer::paused, this, [this] { setState(PlaybackState::Paused); });
    connect(p, &VlcMediaPlayer::endReached, this, &VlcBackend::onEndReached);
    connect(p, &VlcMediaPlayer::encounteredError, this, [this] {
        if (m_started && isLiveStream())
            streamBroke("libVLC reported an error while playing");
        else
            candidateFailed("libVLC reported an error");
    });
    connect(p, &VlcMediaPlayer::positionChanged, this, [this](float f) { emit positionChanged(f); });
    connect(p, &VlcMediaPlayer::seekableChanged, this, &MediaBackend::seekableChanged);
    connect(p, &VlcMediaPlayer::voutChanged, this, [this](int count) { emit videoChanged(count > 0); });
    // The audio output may come up at a volume of its own (a sound server's new stream can
    // start at full volume): until it reports the player's volume, that volume is set again.
    // Later changes from outside (the desktop's mixer) are left alone.
    connect(p, &VlcMediaPlayer::audioVolumeChanged, this, [this](float volume) {
        if (m_volumeSettled)
            return;
        if (qAbs(volume * 100.0f - float(m_volume)) > 0.5f)
            m_player->setVolume(m_volume);
        else
            m_volumeSettled = true;
    });
    connect(p, &VlcMediaPlayer::audioMutedChanged, this, [this](bool muted) {
        if (muted != m_muted)
            m_player->setMuted(m_muted);
    });
    connect(p, &VlcMediaPlayer::metaChanged, this, [this] {
        const QString title = m_player->nowPlaying();
        if (title != m_status.title) {
            m_status.title = title;
            publish();
        }
    });
}

VlcBackend::~VlcBackend()
{
    m_resolver.cancel();
}

libvlc_media_player_t *VlcBackend::nativePlayer() const
{
    return m_player->native();
}

void VlcBackend::configure(const PlayerSettings &settings)
{
    m_volume = settings.volume;
    m_muted = settings.mute;
    m_playCount = qMax(1, settings.playCount);
    m_player->setRate(settings.rate > 0 ? settings.rate : 1.0);
    m_player->setKeepAspect(!settings.stretchToFit);
    m_player->setVolume(m_volume);
    m_player->setMuted(m_muted);
    // fullScreen false: libVLC draws only into the window it is given, never a screen of its own.
    // enableErrorDialogs false: no dialog callbacks are installed, so libVLC shows none.
}

bool VlcBackend::stop()
{
    m_resolver.cancel();
    m_openWatchdog.stop();
    m_openBudget.stop();
    m_rejoinTimer.stop();
    m_player->stop();
    m_subItems.clear();
    m_candidate.clear();
    m_rejoinAddress.clear();
    m_rejoinTries = 0;
    m_started = m_libvlcPlaying = m_rejoining = false;
    if (m_status.state != PlaybackState::Idle)
        setState(PlaybackState::Stopped);
    return true;
}

bool VlcBackend::open(const QString &address)
{
    stop();
    m_status.title.clear();
    if (address.trimmed().isEmpty()) {
        setState(PlaybackState::Idle);
        return true;
    }
    setState(PlaybackState::Opening);
    m_openBudget.start(m_openBudgetMs);
    m_resolver.resolve(address);
    return true;
}

void VlcBackend::onFound(const QString &address)
{
    m_subItems.clear();
    m_subItemRounds = 0;
    playCandidate(address);
}

void VlcBackend::playCandidate(const QString &address)
{
    m_started = m_libvlcPlaying = false;
    m_volumeSettled = false;
    m_candidate = address;
    QStringList options = {
        QStringLiteral(":network-caching=%1").arg(kNetworkCachingMs),
        // playCount 1: a media item plays once.
        QStringLiteral(":input-repeat=%1").arg(m_playCount - 1),
    };
    // Without a window of ours libVLC would open one of its own outside the page.
    if (!m_hasWindow)
        options << QStringLiteral(":no-video");
    qCInfo(lcPlayer) << "libVLC opens" << address;
    if (!m_player->play(address, options)) {
        candidateFailed("libVLC could not start it");
        return;
    }
    m_openWatchdog.start(m_openTimeoutMs);
}

void VlcBackend::candidateFailed(const char *why)
{
    if (m_rejoining) {
        streamBroke(why);
        return;
    }
    qCInfo(lcPlayer) << m_candidate << ":" << why;
    m_openWatchdog.stop();
    m_player->stop();
    m_started = m_libvlcPlaying = false;
    setState(PlaybackState::Opening);
    while (!m_subItems.isEmpty()) {
        const QString next = m_subItems.takeFirst();
        if (isNetworkScheme(schemeOf(next))) {
            playCandidate(next);
            return;
        }
    }
    m_candidate.clear();
    m_resolver.next();
}

void VlcBackend::onBuffering(float percent)
{
    if (percent >= 100.0f) {
        if (!m_started) {
            m_started = true;
            m_rejoining = false;
            m_openWatchdog.stop();
            m_openBudget.stop();
            m_playingFor.start();
            // libVLC keeps volume and mute with the audio output, which may be new.
            m_player->setVolume(m_volume);
            m_player->setMuted(m_muted);
        }
        if (m_libvlcPlaying)
            setState(PlaybackState::Playing);
        return;
    }
    if (m_rejoining)
        return; // the status keeps saying which try this is
    setState(PlaybackState::Buffering, int(percent));
}

void VlcBackend::onPlaying()
{
    m_libvlcPlaying = true;
    if (m_started)
        setState(PlaybackState::Playing);
}

void VlcBackend::onEndReached()
{
    m_openWatchdog.stop();
    // A playlist libVLC read itself ends after listing its entries: play those.
    const QStringList items = m_player->subItemAddresses();
    if (!items.isEmpty() && m_subItemRounds < kMaxSubItemRounds) {
        ++m_subItemRounds;
        m_subItems = items + m_subItems;
        candidateFailed("a playlist: playing its entries");
        return;
    }
    if (!m_started) {
        candidateFailed("ended without playing");
        return;
    }
    if (isLiveStream()) {
        streamBroke("the stream broke off");
        return;
    }
    m_player->stop();
    m_candidate.clear();
    setState(PlaybackState::Ended);
}

bool VlcBackend::isLiveStream() const
{
    // A file has a length and a server that serves ranges; a broadcast has neither.
    return m_player->lengthMs() <= 0 && !m_player->isSeekable();
}

void VlcBackend::streamBroke(const char *why)
{
    if (!m_candidate.isEmpty())
        m_rejoinAddress = m_candidate;
    qCInfo(lcPlayer) << m_rejoinAddress << ":" << why;
    m_openWatchdog.stop();
    m_openBudget.stop();
    m_player->stop();
    if (m_started && m_playingFor.elapsed() >= kSteadyPlayMs)
        m_rejoinTries = 0;
    m_started = m_libvlcPlaying = m_rejoining = false;
    m_candidate.clear();
    if (m_rejoinTries >= int(kRejoinPausesMs.size())) {
        qCInfo(lcPlayer) << m_rejoinAddress << ": given up after" << m_rejoinTries << "tries";
        m_rejoinAddress.clear();
        setState(PlaybackState::Lost);
        return;
    }
    m_rejoinTimer.start(kRejoinPausesMs[std::size_t(m_rejoinTries)]);
    ++m_rejoinTries;
    setState(PlaybackState::Reconnecting, 0, m_rejoinTries);
}

void VlcBackend::rejoin()
{
    qCInfo(lcPlayer) << "rejoining" << m_rejoinAddress << "try" << m_rejoinTries;
    m_rejoining = true;
    m_openBudget.start(m_openBudgetMs);
    playCandidate(m_rejoinAddress);
}

void VlcBackend::openBudgetSpent()
{
    if (m_started)
        return;
    if (m_rejoining) {
        streamBroke("nothing played in time");
        return;
    }
    qCInfo(lcPlayer) << "cannot open: nothing played within" << m_openBudgetMs << "ms";
    m_resolver.cancel();
    m_openWatchdog.stop();
    m_player->stop();
    m_subItems.clear();
    m_candidate.clear();
    setState(PlaybackState::CannotOpen);
}

void VlcBackend::pause()
{
    if (m_player->canPause())
        m_player->setPause(true);
    else
        stop();
}

void VlcBackend::resume()
{
    m_player->setPause(false);
}

void VlcBackend::setVolume(int volume)
{
    m_volume = qBound(0, volume, 100);
    m_volumeSettled = false;
    m_player->setVolume(m_volume);
}

void VlcBackend::setMuted(bool muted)
{
    m_muted = muted;
    m_player->setMuted(muted);
}

void VlcBackend::seek(double fraction)
{
    if (m_player->isSeekable())
        m_player->setPosition(qBound(0.0, fraction, 1.0));
}

void VlcBackend::setVideoWindow(WId window)
{
    m_hasWindow = window != 0;
    m_player->setVideoWindow(quint32(window));
}

void VlcBackend::setState(PlaybackState state, int percent, int attempt)
{
    if (state != PlaybackState::Playing && state != PlaybackState::Buffering
        && state != PlaybackState::Paused)
        m_status.title.clear();
    if (m_status.state == state && m_status.bufferPercent == percent && m_status.attempt == attempt)
        return;
    m_status.state = state;
    m_status.bufferPercent = percent;
    m_status.attempt = attempt;
    m_status.missingKeys.clear();
    publish();
}

void VlcBackend::publish()
{
    emit statusChanged(m_status);
}

} // namespace lumora
