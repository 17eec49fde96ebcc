#include "vlc_engine.h"

#include "player/net/stream_buffer.h"
#include "vlc_instance.h"
#include "vlc_media_player.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcEngine, "lumora.player.engine", QtWarningMsg)

namespace lumora {

namespace {

constexpr int kSoundCheckMs = 50;
constexpr int kStartCheckMs = 5;

} // namespace

VlcEngine::VlcEngine(QObject *parent)
    : DecodeEngine(parent),
      m_instance(VlcInstance::shared()),
      m_player(std::make_unique<VlcMediaPlayer>(m_instance))
{
    m_soundCheck.setInterval(kSoundCheckMs);
    connect(&m_soundCheck, &QTimer::timeout, this, &VlcEngine::checkSound);
    m_cushionTimer.setInterval(kCushionTickMs);
    connect(&m_cushionTimer, &QTimer::timeout, this, &VlcEngine::keepCushion);
    m_pageWait.setInterval(kSoundCheckMs);
    m_startWait.setInterval(kStartCheckMs);
    connect(&m_startWait, &QTimer::timeout, this, [this] {
        // A listener's pause before the first sound keeps the stream waiting too.
        if (m_live && !m_userPaused && hasStartAudio() && !launchLive()) {
            m_soundCheck.stop();
            emit failed();
        }
    });

    VlcMediaPlayer *p = m_player.get();
    connect(p, &VlcMediaPlayer::playing, this, [this] {
        // libVLC takes an audio delay only once its input runs: it is given again then.
        if (m_audioDelayMs > 0 && !m_soundReached)
            m_player->setAudioDelay(qint64(m_audioDelayMs) * 1000);
        if (m_libvlcPaused) {
            m_libvlcPaused = false;
            emit resumed();
        }
    });
    connect(p, &VlcMediaPlayer::paused, this, [this] {
        // Only the listener's pause is one: libVLC also pauses while the cushion fills, and
        // its event may come after that hold has ended.
        if (!m_userPaused)
            return;
        m_libvlcPaused = true;
        emit paused();
    });
    connect(p, &VlcMediaPlayer::buffering, this, &VlcEngine::libvlcBuffering);
    // Sound that came before the end counts, however short the stream was. libVLC updates
    // its counts a few times a second and once more as the input ends: an end that comes
    // before any sound was counted waits for the last count first.
    // A media that ends or fails while it plays out for a hold is started afresh: the
    // stream is not over.
    connect(p, &VlcMediaPlayer::endReached, this, [this] { m_suspended ? playedOut() : finish(false); });
    connect(p, &VlcMediaPlayer::encounteredError, this, [this] { m_suspended ? playedOut() : finish(true); });
    m_playOutWait.setSingleShot(true);
    connect(&m_playOutWait, &QTimer::timeout, this, &VlcEngine::playedOut);
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

double VlcEngine::speed() const
{
    return m_player->rate();
}

void VlcEngine::configure(const PlayerSettings &settings)
{
    m_volume = settings.volume;
    m_muted = settings.mute;
    m_playCount = qMax(1, settings.playCount);
    m_normalRate = settings.rate > 0 ? settings.rate : 1.0;
    m_player->setRate(m_normalRate);
    m_player->keepAspect(); // stretchToFit is false: decoding refuses anything else
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
    if (buffer->size() < 0) {
        m_live = std::move(buffer);
        return startLive(options, container);
    }
    // libVLC otherwise tries its demuxers in turn, and some of them wait for tens of
    // kilobytes before they decline or take an MP3 file for another format.
    if (!container.isEmpty())
        options << QStringLiteral(":demux=") + container;
    if (!m_player->playBuffer(std::move(buffer), options, kStartMarginMs))
        return false;
    started();
    return true;
}

bool VlcEngine::startLive(const QStringList &options, const QString &container)
{
    m_liveOptions = options;
    m_liveContainer = container;
    started();
    m_startWaitFor.start();
    if (hasStartAudio())
        return launchLive(); // a failure is the caller's to tell, as it always was
    m_startWait.start();
    return true;
}

bool VlcEngine::hasStartAudio() const
{
    // MPEG audio and ADTS, also in MPEG-TS, and fragmented MP4 are counted as they come.
    // Ogg's pages, other containers and a format the meter has not made out in the first
    // kilobytes are left to libVLC's margin, as is a stream that has ended already.
    const AudioMeter &meter = m_live->meter();
    if (m_live->isFinished() || m_startWaitFor.elapsed() >= kStartWaitMaxMs)
        return true;
    switch (meter.format()) {
    case AudioMeter::Format::Mpeg:
    case AudioMeter::Format::Adts:
    case AudioMeter::Format::Mp4: return meter.audioMs() >= kStartAudioMs;
    case AudioMeter::Format::Ogg: return true;
    case AudioMeter::Format::Unknown:
        // A container the source named (ASF) is none the meter counts; an unnamed
        // stream is MP3 or AAC once its first few frames are in.
        return !m_liveContainer.isEmpty() || m_live->received() >= kStartProbeBytes;
    }
    return true;
}

bool VlcEngine::launchLive()
{
    m_startWait.stop();
    const AudioMeter &meter = m_live->meter();
    // Naming the container spares libVLC's probing, which may wait for tens of kilobytes
    // or take one format for another.
    const QString demuxer = m_liveContainer.isEmpty() ? meter.demuxer() : m_liveContainer;
    if (!demuxer.isEmpty())
        m_liveOptions << QStringLiteral(":demux=") + demuxer;
    qCInfo(lcEngine) << "live stream" << (demuxer.isEmpty() ? QStringLiteral("of unknown format") : demuxer) << "with"
                     << meter.audioMs() << "ms of audio after" << m_startWaitFor.elapsed() << "ms";
    if (!m_player->playBuffer(m_live, m_liveOptions, kStartMarginMs))
        return false;
    // A live Ogg stream whose pages come seconds apart is stamped by each page's end: libVLC
    // hears it only with its audio held back by a page and more. How far apart the pages come
    // shows once two have come; the audio is held back then, before anything of it is heard,
    // and never changed while it plays.
    if (demuxer == u"ogg") {
        const quint64 generation = m_generation;
        m_pageWait.disconnect();
        connect(&m_pageWait, &QTimer::timeout, this, [this, generation] {
            if (generation != m_generation || !m_live || m_soundReached) {
                m_pageWait.stop();
                return;
            }
            const int pageMs = m_live->meter().longestPageMs();
            if (pageMs > kSparsePageMs && pageMs + kPageMarginMs > m_audioDelayMs) {
                m_audioDelayMs = pageMs + kPageMarginMs;
                qCInfo(lcEngine) << "a page of audio every" << pageMs << "ms: audio held back by" << m_audioDelayMs << "ms";
                m_player->setAudioDelay(qint64(m_audioDelayMs) * 1000);
            }
        });
        m_pageWait.start();
    }
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
    m_audioDelayMs = 0;
    m_playedBeforeMs = 0;
    m_keeper = CushionKeeper();
    m_heardMs = 0;
    m_lastTimeMs = -1;
    m_sinceRateChange.invalidate();
    m_holding = m_userPaused = m_starved = m_suspended = m_restarting = false;
    m_playedOut = m_restartWanted = false;
    m_playOutWait.stop();
    m_cushionShownMs = -1;
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
    if (m_restarting && counts.played > 0) {
        // Started afresh after a hold: what is heard goes on from where the hold began.
        m_soundCheck.stop();
        foldHeard();
        m_restarting = m_holding = false;
        giveVolume();
        if (m_userPaused)
            m_player->setPause(true);
        qCInfo(lcEngine) << "playing again, started afresh, with" << m_live->meter().audioMs() - heardMs()
                         << "ms of audio";
        tellHeld();
        return;
    }
    if (m_restarting)
        return;
    if (counts.played > 0) {
        m_soundCheck.stop();
        m_soundReached = true;
        giveVolume();
        if (m_live) {
            m_sinceTime.start();
            m_cushionTimer.start();
        }
        emit soundStarted();
        return;
    }
    if (counts.decoded <= 0 || m_noSoundTold)
        return;
    if (!m_decodedFor.isValid())
        m_decodedFor.start();
    else if (m_decodedFor.elapsed() >= kNoSoundAfterMs + 2 * m_audioDelayMs) {
        // Audio held back by a page is decoded up to a page before that is due.
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
    m_cushionTimer.stop();
    m_pageWait.stop();
    m_startWait.stop();
    m_playOutWait.stop();
    m_player->stop();
    m_live.reset();
    // libVLC keeps a player's speed from one media to the next: a stream that was slowed for
    // its cushion would otherwise start the next one slowed too.
    if (m_rate != m_normalRate) {
        m_rate = m_normalRate;
        m_player->setRate(m_rate);
    }
}

void VlcEngine::giveVolume()
{
    // libVLC keeps volume and mute with the audio output, which may be new: until it reports
    // the player's volume, that volume is set again (see audioVolumeChanged).
    m_volumeSettled = false;
    m_player->setVolume(m_volume);
    m_player->setMuted(m_muted);
}

bool VlcEngine::canPause() const
{
    // A live stream stopped for its cushion pauses as it would have playing.
    return m_suspended || m_restarting || m_player->canPause();
}

void VlcEngine::setPaused(bool paused)
{
    if (paused == m_userPaused)
        return;
    foldHeard();
    m_userPaused = paused;
    if (m_suspended && !m_playedOut) {
        // What libVLC still plays out stops with the listener's pause, and goes on after it.
        m_player->setPause(paused);
        if (paused)
            m_playOutWait.stop();
        else
            m_playOutWait.start(m_playOutMs);
    }
    if (m_suspended || m_restarting)
        return; // libVLC is played out, or its new start takes the pause once it plays
    if (!paused && m_holding) {
        // The listener asks for sound while the cushion fills: wait on, as the status says.
        emit resumed();
        return;
    }
    m_player->setPause(paused);
}

qint64 VlcEngine::heardMs() const
{
    if (m_holding || m_userPaused || m_keeper.holding() || !m_sinceTime.isValid())
        return m_heardMs;
    return m_heardMs + qint64(double(m_sinceTime.elapsed()) * m_rate);
}

void VlcEngine::foldHeard()
{
    foldHeard(heardMs());
}

void VlcEngine::foldHeard(qint64 heard)
{
    m_heardMs = heard;
    m_sinceTime.start();
    m_lastTimeMs = -1; // libVLC's next time is taken afresh, not counted again
}

void VlcEngine::keepCushion()
{
    if (!m_live)
        return;
    const qint64 received = m_live->meter().audioMs();
    if (received < 0)
        return; // a format the meter does not know: libVLC's own margin alone
    // What was heard follows libVLC's time where it moves; between its updates, and while its
    // input waits for data (its time then stands still), the clock carries it on. A change of
    // speed makes libVLC's time jump (by half a second on the way to 97 %, a quarter on the
    // way back) while the sound plays on: for a moment after one the clock alone counts.
    const qint64 time = m_player->timeMs();
    if (time >= 0 && time != m_lastTimeMs && !m_holding && !m_userPaused) {
        if (m_lastTimeMs < 0 || (m_sinceRateChange.isValid() && m_sinceRateChange.elapsed() < kTimeJumpMs))
            m_heardMs = heardMs();
        else
            m_heardMs += qBound(qint64(0), qint64(time - m_lastTimeMs), qint64(10000));
        m_lastTimeMs = time;
        m_sinceTime.start();
    }
    if (m_userPaused)
        return;
    if (m_live->isFinished()) {
        // Nothing more will come: libVLC plays out what it holds and reaches the end.
        if (m_suspended) {
            restartLive();
        } else if (m_holding && !m_restarting) {
            m_holding = false;
            m_player->setPause(false);
        }
        m_cushionTimer.stop();
        return;
    }
    // Audio that comes a page every second or more arrives in steps as large as the page:
    // its cushion swings with every page, and the audio held back by a page carries it.
    if (m_live->meter().longestPageMs() > kSparsePageMs || m_restarting) {
        showCushion(received - heardMs());
        return;
    }
    if (received >= kRateKnownAfterMs)
        m_keeper.setBytesPerSecond(double(m_live->received()) * 1000.0 / double(received));
    // Taken before the keeper decides: once it holds, what was heard stands still.
    const qint64 heard = heardMs();
    const CushionKeeper::Decision d = m_keeper.update(received, heard);
    if (d.hold) {
        foldHeard(heard);
        m_holding = true;
        if (!suspendLive())
            m_player->setPause(true);
        qCInfo(lcEngine) << "the cushion ran out at" << m_keeper.cushionMs() << "ms (low mark" << m_keeper.lowMs()
                         << "ms): waiting for" << m_keeper.resumeMs() << "ms of audio"
                         << (m_suspended ? "while libVLC plays out what it has" : "");
    } else if (d.release) {
        foldHeard(); // still held: nothing was heard meanwhile
        qCInfo(lcEngine) << "playing on with" << m_keeper.cushionMs() << "ms of audio; aiming at"
                         << m_keeper.targetMs();
        if (m_suspended) {
            restartLive();
        } else {
            m_holding = false;
            m_player->setPause(false);
        }
    }
    // The keeper changes the speed only while libVLC's audio output is settled.
    // MPEG-TS keeps its speed: where its time stamps start again (an encoder's restart that
    // no HLS discontinuity marks, so that they are not carried on) at another speed, libVLC's
    // clock takes the new stamps for late data and falls silent for good. An HLS stream's
    // cushion is the segments its live start keeps in hand.
    // A stopped libVLC starts afresh at normal speed, set as it was stopped.
    if (d.rate != m_rate && !m_suspended && !m_live->meter().transport()) {
        foldHeard();
        m_rate = d.rate;
        m_player->setRate(m_rate);
        m_sinceRateChange.start();
        qCInfo(lcEngine) << "playing at" << m_rate << "of normal speed with" << m_keeper.cushionMs() << "ms of audio";
    }
    tellHeld();
    showCushion(m_keeper.cushionMs());
}

bool VlcEngine::suspendLive()
{
    // libVLC's output plays again after a pause with a timing correction of its own that is
    // heard as a second gap: after a pause at 97 % every time, after a long one at normal speed
    // now and then. Bare MPEG audio and ADTS can start anywhere a frame does: libVLC is given
    // no more of the stream instead. It plays out what it was given, and once the cushion is
    // back it is started afresh, at normal speed, from where it got to. Where the listener
    // was is then known from the bytes, not from clocks: a busy machine's sound server falls
    // behind the wall clock by tenths of a second, which would be lost.
    //
    // libVLC's demuxer waits for whole blocks of a few kilobytes, and its packetizer for the
    // next frame's header: of what it was given, up to a block's bytes and a frame are not
    // heard. They are played again, from a block before the end of what it was given. (Ended
    // there, libVLC would play them, but after a gap where it was waiting for its block
    // already; and it takes its output down at a media's end with the last few tenths of a
    // second in it, now and then.)
    if (m_playCount != 1 || m_live->markAtOrBefore(m_heardMs).bytes < 0)
        return false; // a media played again at its end, or a format without frame marks
    const qint64 played = playedMs();
    if (!m_player->drainLive())
        return false;
    m_suspended = true;
    m_playedOut = m_restartWanted = false;
    m_heardAtHoldMs = m_heardMs;
    m_playedAtHoldMs = played;
    // libVLC has played out what it was given once the cushion's audio has been heard, and
    // the slack covers a sound server behind the wall clock. An end or error meanwhile tells
    // so sooner.
    m_playOutMs = int(qBound<qint64>(0, m_keeper.cushionMs(), qint64(CushionKeeper::kMaxLowMs))) + kPlayOutSlackMs;
    m_playOutWait.start(m_playOutMs);
    m_keeper.restartAtNormalSpeed();
    return true;
}

void VlcEngine::playedOut()
{
    if (!m_suspended || m_playedOut)
        return;
    m_playedOut = true;
    m_playOutWait.stop();
    if (m_restartWanted)
        restartLive();
}

void VlcEngine::restartLive()
{
    if (!m_playedOut) {
        m_restartWanted = true; // once libVLC has played out what it has
        qCInfo(lcEngine) << "the cushion is back; libVLC still plays out what it had";
        return;
    }
    // A block before the end of what libVLC was given (see suspendLive), and kLeadFrames
    // before that: a fresh decoder takes an MP3 frame's start from the frames before it (its
    // bit reservoir).
    const qint64 fed = m_player->liveBytesFed();
    StreamBuffer::Mark mark = m_live->markAtOrBeforeOffset(fed - CushionKeeper::kReadBlockBytes, kLeadFrames);
    if (mark.bytes < 0) // nothing fed, or beyond what the marks keep: where the clock says
        mark = m_live->markAtOrBefore(m_heardMs);
    if (mark.bytes < 0 || !m_player->suspendLive(mark.bytes)) {
        emit failed();
        return;
    }
    m_playedBeforeMs = m_playedAtHoldMs + qMax<qint64>(0, mark.audioMs - m_heardAtHoldMs);
    qCInfo(lcEngine) << "starting afresh from" << mark.audioMs << "ms of the stream; the clock had" << m_heardAtHoldMs
                     << "ms when the cushion ran out";
    m_heardMs = mark.audioMs;
    m_rate = m_normalRate;
    m_player->setRate(m_rate);
    resumeLive();
}

void VlcEngine::resumeLive()
{
    m_suspended = false;
    m_restarting = true;
    if (!m_player->resumeLive(m_liveOptions, kRestartMarginMs)) {
        emit failed();
        return;
    }
    // libVLC's new audio output comes up at the sound server's volume for a new stream (full,
    // where the server restores none): given as the media starts, the player's volume is the
    // one it opens with.
    giveVolume();
    m_soundCheck.start(kSoundCheckMs);
}

void VlcEngine::showCushion(qint64 ms)
{
    // To a tenth of a second, and told when that changes.
    const int shown = int(qMax<qint64>(0, ms) / 100) * 100;
    if (shown == m_cushionShownMs)
        return;
    m_cushionShownMs = shown;
    emit cushionChanged(shown);
}

void VlcEngine::tellHeld()
{
    const bool held = m_keeper.holding() || m_suspended || m_restarting;
    if (held == m_starved)
        return;
    m_starved = held;
    if (m_starved)
        emit starved();
    else
        emit fed();
}

void VlcEngine::libvlcBuffering(float percent)
{
    // Before the first sound this is libVLC's start. After it, libVLC found the data too late
    // for its clock and waits for it by itself: the sound has stopped.
    if (!m_soundReached || m_holding || m_userPaused)
        return;
    if (percent < 100.0f && !m_keeper.holding()) {
        foldHeard();
        m_keeper.holdStarted();
    } else if (percent >= 100.0f && m_keeper.holding()) {
        foldHeard(); // still held: nothing was heard meanwhile
        m_keeper.holdEnded();
    } else {
        return;
    }
    tellHeld();
}

void VlcEngine::setEvenLoudness(bool on)
{
    m_player->setEvenLoudness(on);
}

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

qint64 VlcEngine::playedMs() const
{
    // A live stream started afresh goes on from the time the last start had reached.
    if (m_suspended || m_restarting)
        return m_playedBeforeMs;
    const qint64 time = m_player->timeMs();
    return time < 0 ? time : m_playedBeforeMs + time;
}

qint64 VlcEngine::heardAudioMs() const
{
    if (!m_live || m_live->meter().audioMs() < 0)
        return -1;
    return heardMs();
}

bool VlcEngine::isFile() const
{
    // A file has a length and a server that serves ranges; a broadcast has neither.
    return m_player->lengthMs() > 0 || m_player->isSeekable();
}

} // namespace lumora
