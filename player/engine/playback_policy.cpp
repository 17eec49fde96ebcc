#include "playback_policy.h"

#include <QLoggingCategory>

#include <optional>
#include <utility>

Q_LOGGING_CATEGORY(lcPlayer, "lumora.player", QtWarningMsg)

namespace lumora {

PlaybackPolicy::PlaybackPolicy(std::unique_ptr<DecodeEngine> engine, std::unique_ptr<StreamOpener> opener,
                               std::unique_ptr<PolicyClock> clock, QObject *parent)
    : MediaBackend(parent), m_engine(std::move(engine)), m_opener(std::move(opener)), m_clock(std::move(clock))
{
    m_entryTimer = m_clock->createTimer();
    m_entryTimer->timeout = [this] { entryFailed("no sound in time"); };
    m_openBudget = m_clock->createTimer();
    m_openBudget->timeout = [this] { openBudgetSpent(); };
    m_rejoinTimer = m_clock->createTimer();
    m_rejoinTimer->timeout = [this] { rejoin(); };
    m_titleTimer = m_clock->createTimer();
    m_titleTimer->timeout = [this] { applyTitle(); };
    m_heardTitleTimer = m_clock->createTimer();
    m_heardTitleTimer->timeout = [this] { showHeardTitles(); };
    m_progressTimer = m_clock->createTimer();
    m_progressTimer->timeout = [this] { showProgress(); };
    m_waitTimer = m_clock->createTimer();
    m_waitTimer->timeout = [this] { showWaiting(); };
    m_positionTimer = m_clock->createTimer();
    m_positionTimer->timeout = [this] { showPosition(); };


    connect(m_opener.get(), &StreamOpener::found, this, &PlaybackPolicy::onFound);
    connect(m_opener.get(), &StreamOpener::failed, this, &PlaybackPolicy::onOpenerFailed);

    DecodeEngine *e = m_engine.get();
    connect(e, &DecodeEngine::soundStarted, this, &PlaybackPolicy::onSound);
    connect(e, &DecodeEngine::noSoundDevice, this, [this] {
        // It decodes: no other entry would do better, and waiting longer changes nothing.
        m_noSound = true;
        m_entryTimer->stop();
        m_openBudget->stop();
        m_progressTimer->stop();
        m_rejoining = false;
        setState(PlaybackState::NoSoundDevice);
    });
    connect(e, &DecodeEngine::starved, this, &PlaybackPolicy::onStarved);
    connect(e, &DecodeEngine::fed, this, &PlaybackPolicy::onFed);
    connect(e, &DecodeEngine::cushionChanged, this, [this](int ms) {
        if (m_status.cushionMs == ms)
            return;
        m_status.cushionMs = ms;
        if (m_status.state == PlaybackState::Playing || m_status.state == PlaybackState::Waiting)
            publish();
    });
    connect(e, &DecodeEngine::paused, this, [this] { setState(PlaybackState::Paused); });
    connect(e, &DecodeEngine::resumed, this, [this] {
        if (m_sound)
            m_waitingSince >= 0 ? showWaiting() : setState(PlaybackState::Playing);
    });
    connect(e, &DecodeEngine::ended, this, &PlaybackPolicy::onEngineEnded);
    connect(e, &DecodeEngine::failed, this, &PlaybackPolicy::onEngineFailed);
    // A source of known duration says itself where it plays and that it can seek; libVLC,
    // reading a pipe, knows neither.
    connect(e, &DecodeEngine::positionChanged, this, [this](double f) {
        if (!m_sourceSeeks)
            emit positionChanged(f);
    });
    connect(e, &DecodeEngine::seekableChanged, this, [this](bool seekable) {
        if (!m_sourceSeeks)
            emit seekableChanged(seekable);
    });
    connect(e, &DecodeEngine::videoChanged, this, &MediaBackend::videoChanged);
}

PlaybackPolicy::~PlaybackPolicy()
{
    m_opener->disconnect(this);
    m_opener->cancel();
    m_engine->disconnect(this);
    m_engine->stop();
    untapSource();
    if (m_source)
        m_source->close();
}

void PlaybackPolicy::setStreamTap(StreamTap *tap)
{
    untapSource();
    m_tap = tap;
    tapSource();
}

void PlaybackPolicy::untapSource()
{
    if (m_source)
        m_source->buffer()->setWriteTap({});
    if (m_tapped) {
        m_tapped = false;
        m_tap->streamEnded();
    }
}

void PlaybackPolicy::tapSource()
{
    if (!m_tap || !m_source)
        return;
    m_tapped = true;
    m_tap->streamBegan(m_source->contentType(), m_source->container());
    // The opener wrote the stream's first bytes while it told a stream from a playlist (and
    // an ASF stream's header): the tap gets them first, while nothing has read them yet.
    const std::shared_ptr<StreamBuffer> buffer = m_source->buffer();
    if (buffer->consumed() == 0 && buffer->epoch() == 0)
        if (const QByteArray first = buffer->unread(); !first.isEmpty())
            m_tap->streamBytes(first);
    buffer->setWriteTap([tap = m_tap](const QByteArray &b) { tap->streamBytes(b); });
}

void PlaybackPolicy::configure(const PlayerSettings &settings)
{
    m_engine->configure(settings);
}

void PlaybackPolicy::stop()
{
    m_opener->cancel();
    m_entryTimer->stop();
    m_openBudget->stop();
    m_rejoinTimer->stop();
    m_titleTimer->stop();
    m_progressTimer->stop();
    dropEntry();
    m_rejoinAddress.clear();
    m_rejoinTries = 0;
    m_rejoining = false;
    if (m_status.state != PlaybackState::Idle)
        setState(PlaybackState::Stopped);
}

void PlaybackPolicy::open(const QString &address)
{
    stop();
    m_status.title.clear();
    m_pendingTitle.clear();
    m_breakFailure = OpenFailure::None;
    if (address.trimmed().isEmpty()) {
        setState(PlaybackState::Idle);
        return;
    }
    setState(PlaybackState::Opening);
    m_openBudget->start(m_openBudgetMs);
    m_opener->resolve(address);
}

void PlaybackPolicy::onFound(const QString &address)
{
    m_entry = address;
    m_source = m_opener->takeSource();
    bool ok = false;
    if (m_source) {
        connect(m_source.get(), &StreamSource::titleChanged, this, &PlaybackPolicy::onTitle);
        connect(m_source.get(), &StreamSource::ended, this, &PlaybackPolicy::onSourceEnded);
        connect(m_source.get(), &StreamSource::spacingChanged, this, &PlaybackPolicy::onSpacing);
        connect(m_source.get(), &StreamSource::reconnecting, this,
                [this](int attempt, int nextInMs, bool networkDown, OpenFailure) {
                    m_redial = {true, attempt, nextInMs < 0 ? -1 : m_clock->nowMs() + nextInMs, networkDown};
                    m_sourceRetries = true;
                    if (m_waitingSince >= 0)
                        showWaiting();
                });
        connect(m_source.get(), &StreamSource::reconnected, this, [this] {
            m_redial = {};
            if (m_waitingSince >= 0)
                showWaiting();
        });
        tapSource();
        ok = m_engine->playBuffer(m_source->buffer(), m_source->container());
        m_progressTimer->start(kProgressIntervalMs);
        if (sourceHasDuration()) {
            qCInfo(lcPlayer) << address << "lasts" << m_source->durationMs() << "ms and can seek";
            m_sourceSeeks = true;
            emit seekableChanged(true);
            showPosition();
        }
    } else {
        ok = m_engine->playAddress(address);
    }
    qCInfo(lcPlayer) << "playing" << address;
    if (!ok) {
        entryFailed("the engine could not start it");
        return;
    }
    m_entryTimer->start(m_entryTimeoutMs);
}

void PlaybackPolicy::onOpenerFailed(const QString &reason)
{
    if (m_rejoining) {
        m_breakFailure = m_opener->failure();
        streamBroke("the stream could not be opened again");
        return;
    }
    qCInfo(lcPlayer) << "cannot open:" << reason;
    m_openBudget->stop();
    m_progressTimer->stop();
    m_status.failure = m_opener->failure();
    m_status.serverStatus = m_opener->serverStatus();
    setState(PlaybackState::CannotOpen);
}

void PlaybackPolicy::onSound()
{
    m_sound = true;
    m_noSound = false;
    m_rejoining = false;
    m_breakFailure = OpenFailure::None;
    m_soundSince = m_clock->nowMs();
    m_entryTimer->stop();
    m_openBudget->stop();
    m_progressTimer->stop();
    if (!m_pendingTitle.isEmpty() && m_status.title.isEmpty())
        m_status.title = m_pendingTitle;
    setState(PlaybackState::Playing);
}

void PlaybackPolicy::showProgress()
{
    if (m_sound || m_noSound || !m_source)
        return;
    const qint64 received = m_source->buffer()->received();
    if (received > 0 && !m_rejoining) {
        const int percent = int(qMin<qint64>(99, received * 100 / kStartBytes));
        setState(PlaybackState::Buffering, percent);
    }
    m_progressTimer->start(kProgressIntervalMs);
}

void PlaybackPolicy::onEngineEnded()
{
    if (!m_sound && !m_noSound) {
        entryFailed("ended without sound");
        return;
    }
    if (isLive()) {
        streamBroke("the stream broke off");
        return;
    }
    dropEntry();
    setState(PlaybackState::Ended);
}

void PlaybackPolicy::onEngineFailed()
{
    if ((m_sound || m_noSound) && isLive())
        streamBroke("libVLC reported an error while playing");
    else
        entryFailed("libVLC could not play it");
}

void PlaybackPolicy::onSourceEnded(OpenFailure failure, const QString &reason)
{
    // libVLC plays what is buffered, then ends; what happens then is decided there.
    qCInfo(lcPlayer) << m_entry << ":" << reason;
    m_breakFailure = failure;
}

void PlaybackPolicy::onSpacing(int ms)
{
    if (ms < kSparseSpacingMs || ms < m_spacingMs + kSparseMarginMs)
        return;
    m_spacingMs = ms;
    qCInfo(lcPlayer) << m_entry << ": a page of audio every" << ms << "ms";
    // Audio that comes a page every few seconds is heard a few pages later than a stream
    // that flows: the engine gathers a page and more before it plays.
    if (!m_sound && !m_noSound) {
        m_entryTimer->start(m_entryTimeoutMs + 3 * ms);
        m_openBudget->start(m_openBudgetMs + 3 * ms);
    }
}

void PlaybackPolicy::onStarved()
{
    if (!m_sound)
        return;
    qCInfo(lcPlayer) << m_entry << ": the stream is late; waiting for it";
    m_waitingSince = m_clock->nowMs();
    showWaiting();
}

void PlaybackPolicy::onFed()
{
    if (m_waitingSince < 0)
        return;
    qCInfo(lcPlayer) << m_entry << ": sound again after" << m_clock->nowMs() - m_waitingSince << "ms";
    m_waitingSince = -1;
    m_waitTimer->stop();
    if (m_status.state == PlaybackState::Waiting || m_status.state == PlaybackState::Reconnecting)
        setState(PlaybackState::Playing);
}

void PlaybackPolicy::showWaiting()
{
    if (m_waitingSince < 0 || m_status.state == PlaybackState::Paused)
        return;
    const qint64 now = m_clock->nowMs();
    const qint64 waited = now - m_waitingSince;
    if (m_redial.active) {
        // Silent, and the connection is being made again: which try, and when the next comes.
        m_status.nextTryInMs = m_redial.nextAtMs < 0 ? -1 : int(qMax<qint64>(0, m_redial.nextAtMs - now) / 1000 * 1000);
        m_status.networkDown = m_redial.networkDown;
        setState(PlaybackState::Reconnecting, 0, m_redial.attempt);
        publish();
        m_waitTimer->start(int(1000 - waited % 1000));
        return;
    }
    m_status.waitedMs = int(waited / 1000) * 1000;
    if (m_status.state != PlaybackState::Waiting)
        setState(PlaybackState::Waiting);
    else
        publish();
    // The seconds shown tick with the wait.
    m_waitTimer->start(int(1000 - waited % 1000));
}

void PlaybackPolicy::onTitle(const QString &title)
{
    // A recording splits where the title sits in the bytes; the listener sees it when heard.
    if (m_tap && m_tapped)
        m_tap->streamTitle(title);
    const qint64 at = m_source ? m_source->titleAudioMs() : -1;
    const qint64 heard = m_engine->heardAudioMs();
    const bool first = !std::exchange(m_entryTitled, true);
    if (first || at < 0 || heard < 0 || (at <= heard && m_waitingTitles.isEmpty())) {
        m_waitingTitles.clear();
        m_heardTitleTimer->stop();
        showTitle(title);
        return;
    }
    if (!m_waitingTitles.isEmpty() && at - m_waitingTitles.last().audioMs < kTitleIntervalMs)
        m_waitingTitles.last().title = title; // one replaces the other before either is seen
    else
        m_waitingTitles.append({at, title});
    if (m_waitingTitles.size() > kMaxWaitingTitles)
        m_waitingTitles.removeFirst();
    if (!m_heardTitleTimer->isActive())
        m_heardTitleTimer->start(kHeardTitleCheckMs);
}

void PlaybackPolicy::showHeardTitles()
{
    const qint64 heard = m_engine->heardAudioMs();
    std::optional<QString> due; // the latest whose audio is heard
    while (!m_waitingTitles.isEmpty() && (heard < 0 || m_waitingTitles.first().audioMs <= heard))
        due = m_waitingTitles.takeFirst().title;
    if (due)
        showTitle(*due);
    if (!m_waitingTitles.isEmpty())
        m_heardTitleTimer->start(kHeardTitleCheckMs);
}

void PlaybackPolicy::showTitle(const QString &title)
{
    m_pendingTitle = title;
    if (m_titleTimer->isActive())
        return;
    const qint64 since = m_titleShownAt < 0 ? kTitleIntervalMs : m_clock->nowMs() - m_titleShownAt;
    if (since >= kTitleIntervalMs)
        applyTitle();
    else
        m_titleTimer->start(int(kTitleIntervalMs - since));
}

void PlaybackPolicy::applyTitle()
{
    m_titleShownAt = m_clock->nowMs();
    if (m_status.title == m_pendingTitle)
        return;
    m_status.title = m_pendingTitle;
    // The title shows while playing; it is kept for the moment sound starts.
    if (m_status.state == PlaybackState::Playing || m_status.state == PlaybackState::Paused
        || m_status.state == PlaybackState::Waiting)
        publish();
}

void PlaybackPolicy::entryFailed(const char *why)
{
    if (m_rejoining) {
        streamBroke(why);
        return;
    }
    qCInfo(lcPlayer) << m_entry << ":" << why;
    dropEntry();
    setState(PlaybackState::Opening);
    m_opener->next();
}

void PlaybackPolicy::dropEntry()
{
    m_entryTimer->stop();
    m_progressTimer->stop();
    m_positionTimer->stop();
    if (std::exchange(m_sourceSeeks, false))
        emit seekableChanged(false);
    m_engine->stop();
    untapSource();
    if (m_source) {
        m_source->disconnect(this);
        m_source->close();
        m_source.release()->deleteLater(); // may be inside its own signal
    }
    m_entry.clear();
    m_spacingMs = 0;
    m_sound = m_noSound = false;
    m_waitingSince = -1;
    m_waitTimer->stop();
    m_redial = {};
    m_sourceRetries = false;
    m_status.cushionMs = -1;
    // Titles of audio that will not be heard now.
    m_waitingTitles.clear();
    m_heardTitleTimer->stop();
    m_entryTitled = false;
}

bool PlaybackPolicy::isLive() const
{
    if (m_source)
        return m_source->buffer()->size() < 0 && !m_sourceSeeks;
    return !m_engine->isFile();
}

void PlaybackPolicy::streamBroke(const char *why)
{
    if (!m_entry.isEmpty() && m_rejoinAddress.isEmpty())
        m_rejoinAddress = m_entry;
    qCInfo(lcPlayer) << m_rejoinAddress << ":" << why;
    if (m_sound && m_clock->nowMs() - m_soundSince >= kSteadyPlayMs)
        m_rejoinTries = 0;
    // A source that makes its connection again by itself has used up its tries when it ends:
    // more tries on top of each of its own would only multiply the requests.
    const bool sourceGaveUp = m_sourceRetries;
    m_opener->cancel();
    m_openBudget->stop();
    dropEntry();
    m_rejoining = false;
    if (sourceGaveUp || m_rejoinTries >= int(kRejoinPausesMs.size()) || m_rejoinAddress.isEmpty()) {
        qCInfo(lcPlayer) << m_rejoinAddress << ": given up after" << m_rejoinTries << "tries";
        m_rejoinAddress.clear();
        m_status.failure = m_breakFailure;
        m_status.serverStatus = 0;
        setState(PlaybackState::Lost);
        return;
    }
    m_rejoinTimer->start(kRejoinPausesMs[std::size_t(m_rejoinTries)]);
    m_status.nextTryInMs = kRejoinPausesMs[std::size_t(m_rejoinTries)];
    ++m_rejoinTries;
    setState(PlaybackState::Reconnecting, 0, m_rejoinTries);
}

void PlaybackPolicy::rejoin()
{
    qCInfo(lcPlayer) << "rejoining" << m_rejoinAddress << "try" << m_rejoinTries;
    m_rejoining = true;
    m_openBudget->start(m_openBudgetMs);
    m_opener->resolve(m_rejoinAddress);
}

void PlaybackPolicy::openBudgetSpent()
{
    if (m_sound || m_noSound)
        return;
    if (m_rejoining) {
        m_breakFailure = OpenFailure::NoAnswer;
        streamBroke("no sound in time");
        return;
    }
    qCInfo(lcPlayer) << "cannot open: no sound within" << m_openBudgetMs << "ms";
    m_opener->cancel();
    dropEntry();
    m_status.failure = m_opener->failure() != OpenFailure::None ? m_opener->failure() : OpenFailure::NoAnswer;
    m_status.serverStatus = m_opener->serverStatus();
    setState(PlaybackState::CannotOpen);
}

void PlaybackPolicy::pause()
{
    if (m_engine->canPause())
        m_engine->setPaused(true);
    else
        stop();
}

void PlaybackPolicy::resume()
{
    m_engine->setPaused(false);
}

void PlaybackPolicy::setVolume(int volume) { m_engine->setVolume(volume); }
void PlaybackPolicy::setMuted(bool muted) { m_engine->setMuted(muted); }
void PlaybackPolicy::seek(double fraction)
{
    if (m_sourceSeeks) {
        if (sourceHasDuration())
            restartSource(fraction);
        return;
    }
    m_engine->seek(fraction);
}

bool PlaybackPolicy::sourceHasDuration() const
{
    return m_source && m_source->durationMs() > 0;
}

void PlaybackPolicy::restartSource(double fraction)
{
    const qint64 ms = qint64(qBound(0.0, fraction, 1.0) * double(m_source->durationMs()));
    untapSource();
    if (!m_source->restartAt(ms)) {
        tapSource();
        return;
    }
    qCInfo(lcPlayer) << m_entry << ": from" << ms << "ms on";
    // The engine starts afresh on the new buffer; the player goes on playing meanwhile (a
    // pause ends with the seek, as it does on a file).
    m_engine->stop();
    tapSource();
    m_waitingSince = -1;
    m_waitTimer->stop();
    if (!m_engine->playBuffer(m_source->buffer(), m_source->container())) {
        streamBroke("the engine could not start it again");
        return;
    }
    if (m_status.state == PlaybackState::Paused)
        setState(PlaybackState::Playing);
    emit positionChanged(double(m_source->startMs()) / double(m_source->durationMs()));
    m_positionTimer->start(kPositionIntervalMs);
}

void PlaybackPolicy::showPosition()
{
    if (!m_sourceSeeks)
        return;
    // While the source reads another variant's playlist it does not know its duration for a
    // moment: the position waits for it.
    if (sourceHasDuration()) {
        const qint64 played = qMax<qint64>(0, m_engine->playedMs());
        const double total = double(m_source->durationMs());
        emit positionChanged(qBound(0.0, double(m_source->startMs() + played) / total, 1.0));
    }
    m_positionTimer->start(kPositionIntervalMs);
}
void PlaybackPolicy::setVideoWindow(WId window) { m_engine->setVideoWindow(window); }

void PlaybackPolicy::setState(PlaybackState state, int percent, int attempt)
{
    if (state != PlaybackState::Playing && state != PlaybackState::Buffering && state != PlaybackState::Paused
        && state != PlaybackState::NoSoundDevice && state != PlaybackState::Waiting)
        m_status.title.clear();
    if (state != PlaybackState::Waiting)
        m_status.waitedMs = 0;
    if (state != PlaybackState::Reconnecting) {
        m_status.nextTryInMs = -1;
        m_status.networkDown = false;
    }
    if (state != PlaybackState::Playing && state != PlaybackState::Waiting && state != PlaybackState::Paused)
        m_status.cushionMs = -1;
    if (state != PlaybackState::CannotOpen && state != PlaybackState::Lost) {
        m_status.failure = OpenFailure::None;
        m_status.serverStatus = 0;
    }
    if (m_status.state == state && m_status.bufferPercent == percent && m_status.attempt == attempt
        && state != PlaybackState::CannotOpen && state != PlaybackState::Lost)
        return;
    m_status.state = state;
    m_status.bufferPercent = percent;
    m_status.attempt = attempt;
    m_status.missingKeys.clear();
    publish();
}

void PlaybackPolicy::publish()
{
    emit statusChanged(m_status);
}

} // namespace lumora
