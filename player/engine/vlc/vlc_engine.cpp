#include "vlc_engine.h"

#include "vlc_instance.h"
#include "vlc_media_player.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcEngine, "lumora.player.engine", QtWarningMsg)

namespace lumora {

namespace {

constexpr int kSoundCheckMs = 50;

} // namespace

VlcEngine::VlcEngine(QObject *parent)
    : DecodeEngine(parent),
      m_instance(VlcInstance::shared()),
      m_player(std::make_unique<VlcMediaPlayer>(m_instance))
{
    m_soundCheck.setInterval(kSoundCheckMs);
    connect(&m_soundCheck, &QTimer::timeout, this, &VlcEngine::checkSound);

    VlcMediaPlayer *p = m_player.get();
    connect(p, &VlcMediaPlayer::playing, this, [this] {
        if (m_audioMarginMs > 0)
            m_player->setAudioDelay(qint64(m_audioMarginMs) * 1000);
        if (m_libvlcPaused) {
            m_libvlcPaused = false;
            emit resumed();
        }
    });
    connect(p, &VlcMediaPlayer::paused, this, [this] {
        m_libvlcPaused = true;
        emit paused();
    });
    // Sound that came before the end counts, however short the stream was. libVLC updates
    // its counts a few times a second and once more as the input ends: an end that comes
    // before any sound was counted waits for the last count first.
    connect(p, &VlcMediaPlayer::endReached, this, [this] { finish(false); });
    connect(p, &VlcMediaPlayer::encounteredError, this, [this] { finish(true); });
    connect(p, &VlcMediaPlayer::positionChanged, this, [this](float f) { emit positionChanged(f); });
    connect(p, &VlcMediaPlayer::seekableChanged, this, &DecodeEngine::seekableChanged);
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
}

VlcEngine::~VlcEngine() = default;

void VlcEngine::divertAudio(AudioSink &sink)
{
    m_player->divertAudio(sink);
}

void VlcEngine::configure(const PlayerSettings &settings)
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

QStringList VlcEngine::mediaOptions() const
{
    // playCount 1: a media item plays once.
    QStringList options = {QStringLiteral(":input-repeat=%1").arg(m_playCount - 1)};
    // Without a window of ours libVLC would open one of its own outside the page.
    if (!m_hasWindow)
        options << QStringLiteral(":no-video");
    return options;
}

bool VlcEngine::playBuffer(std::shared_ptr<StreamBuffer> buffer, const QString &container)
{
    stop();
    QStringList options = mediaOptions();
    // libVLC otherwise tries its demuxers in turn, and some of them wait for tens of
    // kilobytes before they decline: on a stream that sends a page every few seconds, that
    // is half a minute of silence.
    if (container == u"ogg" || container == u"asf")
        options << QStringLiteral(":demux=") + container;
    if (!m_player->playBuffer(std::move(buffer), options))
        return false;
    started();
    return true;
}

bool VlcEngine::playAddress(const QString &mmstAddress)
{
    stop();
    if (!mmstAddress.startsWith(u"mmst://"))
        return false; // libVLC opens nothing else by address
    qCInfo(lcEngine) << "libVLC opens" << mmstAddress;
    if (!m_player->play(mmstAddress, mediaOptions() << QStringLiteral(":network-caching=%1").arg(kNetworkCachingMs)))
        return false;
    started();
    return true;
}

void VlcEngine::started()
{
    m_audioMarginMs = 0;
    ++m_generation;
    m_endChecks = 0;
    m_soundReached = m_noSoundTold = m_libvlcPaused = false;
    m_volumeSettled = false;
    m_decodedFor.invalidate();
    m_soundCheck.start(kSoundCheckMs);
}

void VlcEngine::finish(bool failed)
{
    m_soundCheck.stop();
    if (!m_soundReached)
        checkSound();
    if (m_soundReached || m_endChecks >= kEndChecks) {
        m_endChecks = 0;
        if (failed)
            emit this->failed();
        else
            emit ended();
        return;
    }
    ++m_endChecks;
    const quint64 generation = m_generation;
    QTimer::singleShot(kSoundCheckMs, this, [this, failed, generation] {
        if (generation == m_generation)
            finish(failed);
    });
}

void VlcEngine::checkSound()
{
    const VlcMediaPlayer::AudioCounts counts = m_player->audioCounts();
    qCDebug(lcEngine) << "audio decoded" << counts.decoded << "played" << counts.played;
    if (counts.played > 0) {
        m_soundCheck.stop();
        m_soundReached = true;
        // libVLC keeps volume and mute with the audio output, which may be new.
        m_player->setVolume(m_volume);
        m_player->setMuted(m_muted);
        emit soundStarted();
        return;
    }
    if (counts.decoded <= 0 || m_noSoundTold)
        return;
    if (!m_decodedFor.isValid())
        m_decodedFor.start();
    else if (m_decodedFor.elapsed() >= kNoSoundAfterMs) {
        m_noSoundTold = true; // and go on looking, less often: a sound server may come up
        m_soundCheck.setInterval(1000);
        qCInfo(lcEngine) << "audio is decoded but no audio output plays it";
        emit noSoundDevice();
    }
}

void VlcEngine::stop()
{
    ++m_generation; // an end still being confirmed belongs to what is stopped now
    m_soundCheck.stop();
    m_player->stop();
}

bool VlcEngine::canPause() const { return m_player->canPause(); }
void VlcEngine::setPaused(bool paused) { m_player->setPause(paused); }

void VlcEngine::setVolume(int volume)
{
    m_volume = qBound(0, volume, 100);
    m_volumeSettled = false;
    m_player->setVolume(m_volume);
}

void VlcEngine::setMuted(bool muted)
{
    m_muted = muted;
    m_player->setMuted(muted);
}

void VlcEngine::seek(double fraction)
{
    if (m_player->isSeekable())
        m_player->setPosition(qBound(0.0, fraction, 1.0));
}

void VlcEngine::setVideoWindow(WId window)
{
    m_hasWindow = window != 0;
    m_player->setVideoWindow(quint32(window));
}

void VlcEngine::setAudioMargin(int ms)
{
    // libVLC takes it only once its input runs; it is given again when that starts.
    m_audioMarginMs = ms;
    m_player->setAudioDelay(qint64(ms) * 1000);
}

bool VlcEngine::isFile() const
{
    // A file has a length and a server that serves ranges; a broadcast has neither.
    return m_player->lengthMs() > 0 || m_player->isSeekable();
}

} // namespace lumora
