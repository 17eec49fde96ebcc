#include "http_stream.h"

#include "audio_meter.h"
#include "network_text.h"
#include "network_watch.h"
#include "stream_redial.h"

#include <QLoggingCategory>

#include <algorithm>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcHttp)

namespace lumora {

namespace {

// The title an ICY metadata block names, if it names one (a block may carry other fields only).
std::optional<QString> titleIn(const QByteArray &block)
{
    if (!block.contains("StreamTitle="))
        return std::nullopt;
    return icyStreamTitle(block);
}

const char *howName(StreamSplice::How how)
{
    switch (how) {
    case StreamSplice::How::Overlap: return "after the bytes it repeated";
    case StreamSplice::How::Sync: return "at the next frame (audio was lost)";
    case StreamSplice::How::NewChain: return "as a new chained stream";
    case StreamSplice::How::AsItComes: return "as it came";
    case StreamSplice::How::None: break;
    }
    return "";
}

} // namespace

QString HttpStream::elementaryDemuxer(const QByteArray &firstBytes)
{
    // The frames themselves, never the label: servers call AAC audio/mpeg often enough. Only
    // frames seen are named: told a demuxer before them (behind a large ID3 tag, say) libVLC's
    // elementary-stream demuxer gives up where its probing would have found them.
    AudioMeter meter;
    meter.feed(firstBytes);
    if (meter.format() == AudioMeter::Format::Mpeg || meter.format() == AudioMeter::Format::Adts)
        return meter.demuxer();
    return {};
}

HttpStream::HttpStream(std::unique_ptr<HttpRequest> request, const QByteArray &firstBytes)
    : m_request(std::move(request))
{
    const HttpHead &head = m_request->head();
    m_address = m_request->address();
    m_contentType = QString::fromLatin1(head.value("content-type")).left(100);
    m_stationName = decodeNetworkText(head.value("icy-name"));
    // A file: a length, and byte ranges for seeking where the server says it takes them.
    const bool file = !head.icy && head.status == 200 && head.contentLength > 0 && !head.chunked
        && !head.compressed
        && head.metaint == 0;
    const bool ranges = head.value("accept-ranges").toLower().contains("bytes");
    m_buffer = std::make_shared<StreamBuffer>(file ? head.contentLength : -1, file && ranges);
    connect(m_buffer.get(), &StreamBuffer::spaceAvailable, this, [this] {
        if (!m_request || m_closed)
            return;
        m_request->setPaused(false);
        if (m_keeps && !m_gaveUp && !m_schedule->inOutage())
            m_stallTimer->start(stallMs()); // the reader was slow, not the server
    }, Qt::QueuedConnection);
    connect(m_buffer.get(), &StreamBuffer::seekRequested, this, &HttpStream::onSeek, Qt::QueuedConnection);
    const QByteArray type = head.value("content-type").toLower();
    if (firstBytes.startsWith("OggS") || type.startsWith("audio/ogg") || type.startsWith("application/ogg"))
        m_container = QStringLiteral("ogg");
    else if (firstBytes.startsWith(QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C")))
        m_container = QStringLiteral("asf");
    else
        m_container = elementaryDemuxer(firstBytes);
    if (m_container.isEmpty() && firstBytes.startsWith("ID3")) {
        m_awaitingFrames = true;
        m_frames.feed(firstBytes);
    }
    m_request->setParent(nullptr);
    // ASF starts with a header that a new connection repeats with other numbers in it: an ASF
    // stream that breaks ends, as an MMSH one does.
    m_keeps = m_buffer->size() < 0 && m_container != u"asf";
    if (m_keeps) {
        m_splice = std::make_unique<StreamSplice>(StreamSplice::formatOf(head.value("content-type"), firstBytes));
        m_clock = systemNetClock();
        setUpKeeping();
        m_request->setIdleTimeoutMs(m_keeping.silentCapMs);
        m_splice->written(firstBytes);
    }
    m_buffer->write(0, firstBytes);
    watchTag(firstBytes, 0);
    watchPacing(firstBytes);
    attach(m_request.get(), 0);
    if (m_request->isFinished()) {
        QMetaObject::invokeMethod(this, [this] {
            settleContainer();
            if (m_keeps) {
                onConnectionLost(OpenFailure::None, QStringLiteral("the server ended the stream"));
                return;
            }
            m_buffer->finish(0);
            emit ended(OpenFailure::None, QStringLiteral("the server ended the stream"));
        }, Qt::QueuedConnection);
        return;
    }
    // Bytes that came with the head and were not taken yet.
    QMetaObject::invokeMethod(this, [this] { pump(0); }, Qt::QueuedConnection);
}

HttpStream::~HttpStream()
{
    close();
}

void HttpStream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_stallTimer)
        m_stallTimer->stop();
    if (m_retryTimer)
        m_retryTimer->stop();
    dropRedial(); // the closing may come from inside its signal
    HttpRequest::discard(m_candidate);
    m_buffer->abort();
    HttpRequest::discard(m_request);
}

void HttpStream::setKeeping(std::shared_ptr<NetClock> clock, const Keeping &keeping)
{
    if (!m_keeps)
        return;
    m_clock = std::move(clock);
    m_keeping = keeping;
    setUpKeeping();
    if (m_request)
        m_request->setIdleTimeoutMs(m_keeping.silentCapMs);
}

void HttpStream::setUpKeeping()
{
    m_schedule = std::make_unique<ReconnectSchedule>(*m_clock, m_keeping.schedule);
    m_stallTimer = m_clock->createTimer();
    m_stallTimer->timeout = [this] { onStalled(); };
    m_retryTimer = m_clock->createTimer();
    m_retryTimer->timeout = [this] { startTry(false); };
    m_lastByteAt = m_clock->nowMs();
    m_stallTimer->start(stallMs());
}

void HttpStream::attach(HttpRequest *request, quint64 epoch)
{
    connect(request, &HttpRequest::bodyReady, this, [this, epoch] { pump(epoch); });
    connect(request, &HttpRequest::finished, this, [this, epoch] {
        pump(epoch);
        settleContainer();
        if (m_keeps) {
            onConnectionLost(OpenFailure::None, QStringLiteral("the server ended the stream"));
            return;
        }
        m_buffer->finish(epoch);
        if (epoch == m_buffer->epoch())
            emit ended(OpenFailure::None, QStringLiteral("the server ended the stream"));
    });
    connect(request, &HttpRequest::failed, this, [this, epoch](OpenFailure failure, const QString &reason) {
        settleContainer();
        if (m_keeps) {
            onConnectionLost(failure, reason);
            return;
        }
        m_buffer->finish(epoch);
        if (epoch == m_buffer->epoch())
            emit ended(failure, reason);
    });
}

void HttpStream::pump(quint64 epoch)
{
    if (m_closed || !m_request)
        return;
    HttpResponseParser &response = m_request->response();
    const QByteArray body = response.takeBody();
    const QList<HttpResponseParser::Metadata> blocks = response.takeMetadata();
    if (!body.isEmpty() && m_keeps && m_candidate) {
        // The old connection is back before the new one brought anything new: it goes on.
        qCDebug(lcHttp) << m_address << "the stalled connection goes on; the new one is closed";
        dropCandidate();
    }
    // The body goes into the buffer up to each title, so that a title is placed in the
    // stream's audio where it came (the player shows it when that audio is heard).
    qsizetype done = 0;
    for (const HttpResponseParser::Metadata &m : blocks) {
        const qsizetype upTo = qBound(done, m.after, body.size());
        take(body.sliced(done, upTo - done), epoch);
        done = upTo;
        if (const std::optional<QString> title = titleIn(m.block))
            announceTitle(*title);
        if (m_closed || !m_request)
            return;
    }
    take(body.sliced(done), epoch);
    if (m_request && m_buffer->freeSpace() <= 0)
        holdBack();
}

void HttpStream::take(const QByteArray &bytes, quint64 epoch)
{
    if (bytes.isEmpty())
        return;
    m_buffer->write(epoch, bytes);
    watchTag(bytes, epoch);
    nameContainer(bytes, epoch);
    watchPacing(bytes);
    if (m_keeps) {
        m_splice->written(bytes);
        flowing();
    }
}

void HttpStream::holdBack()
{
    m_request->setPaused(true);
    if (m_keeps)
        m_stallTimer->stop(); // silence while the reader catches up is no stall
}

void HttpStream::announceTitle(const QString &title)
{
    if (title == m_lastTitle)
        return;
    m_lastTitle = title;
    m_titleAudioMs = m_buffer->meter().audioMs();
    emit titleChanged(title);
}

void HttpStream::noteCandidateTitles()
{
    for (const HttpResponseParser::Metadata &m : m_candidate->response().takeMetadata())
        if (const std::optional<QString> title = titleIn(m.block))
            m_candidateTitle = *title;
}

void HttpStream::nameContainer(const QByteArray &bytes, quint64 epoch)
{
    if (!m_awaitingFrames || epoch != 0)
        return;
    m_frames.feed(bytes);
    const AudioMeter::Format format = m_frames.format();
    if (format == AudioMeter::Format::Mpeg || format == AudioMeter::Format::Adts)
        m_container = m_frames.demuxer();
    else if (format == AudioMeter::Format::Unknown && !m_frames.gaveUp() && m_buffer->freeSpace() > 0)
        return; // still in the tag, or before the first run of frames
    settleContainer();
}

void HttpStream::settleContainer()
{
    if (!m_awaitingFrames)
        return;
    m_awaitingFrames = false;
    m_frames = AudioMeter();
    qCDebug(lcHttp) << m_address << "after its ID3 tag:"
                    << (m_container.isEmpty() ? QStringLiteral("no frames known") : m_container);
    emit containerSettled();
}

void HttpStream::watchTag(const QByteArray &bytes, quint64 epoch)
{
    // The stream's first bytes only: a seek's answer starts elsewhere in the file.
    if (epoch != 0 || !m_leadingTag.feed(bytes) || m_leadingTag.tag().title.isEmpty())
        return;
    const QString title = m_leadingTag.tag().title;
    qCDebug(lcHttp) << m_address << "starts with an ID3 tag of" << m_leadingTag.tag().size << "bytes";
    // Told from the event loop (this may run inside the constructor); a title the stream
    // has sent itself (ICY) goes first.
    QMetaObject::invokeMethod(this, [this, title] {
        if (m_closed || !m_lastTitle.isNull())
            return;
        m_lastTitle = title;
        m_titleAudioMs = -1; // the file's or stream's own name, from its start
        emit titleChanged(title);
    }, Qt::QueuedConnection);
}

void HttpStream::watchPacing(const QByteArray &bytes)
{
    // The buffer's meter has read the pages just written.
    if (bytes.isEmpty() || m_container != u"ogg")
        return;
    // Until two audio pages show the spacing, the first one's granule hints at it (a stream
    // that sends a page every few seconds is told apart before its second page comes).
    const AudioMeter &meter = m_buffer->meter();
    const int longest = qMax(meter.longestPageMs(), qMin(meter.firstPageHintMs(), kPageHintCapMs));
    if (longest > m_pageMs) {
        m_pageMs = longest;
        emit spacingChanged(longest);
    }
}

void HttpStream::onSeek(quint64 offset, quint64 epoch)
{
    if (m_closed || epoch != m_buffer->epoch())
        return;
    qCDebug(lcHttp) << m_address << "from byte" << offset;
    HttpRequest::discard(m_request);
    m_request = std::make_unique<HttpRequest>();
    HttpRequest *request = m_request.get();
    HttpRequest::Options options;
    options.headers.append(std::pair<QByteArray, QByteArray>("Range", "bytes=" + QByteArray::number(offset) + '-'));
    // The answer must be the part asked for: a whole file from its start would be read as
    // if it began at offset.
    connect(request, &HttpRequest::headReady, this, [this, request, offset, epoch] {
        const int status = request->head().status;
        if (status == 206 || (status == 200 && offset == 0))
            return;
        qCDebug(lcHttp) << m_address << "refused the range:" << status;
        request->abort();
        m_buffer->finish(epoch);
    });
    attach(request, epoch);
    request->start(m_address, options);
}

// Keeping a live stream through outages.

int HttpStream::stallMs() const
{
    // Pages seconds apart are no stall: wait a second longer than the widest gap seen.
    const int spacing = m_pageMs;
    return std::max(m_keeping.stallMs, spacing > 0 ? spacing + 1000 : 0);
}

void HttpStream::flowing()
{
    m_lastByteAt = m_clock->nowMs();
    m_stallTimer->start(stallMs());
    if (!m_schedule->inOutage())
        return;
    m_schedule->flowResumed();
    m_retryTimer->stop();
    dropRedial();
    m_buffer->setHeld(false);
    qCInfo(lcHttp) << m_address << "flows again";
    if (m_announced) {
        m_announced = false;
        emit reconnected();
    }
}

void HttpStream::beginOutage(OpenFailure why, const QString &reason)
{
    m_lastFailure = why;
    m_lastReason = reason;
    if (m_schedule->inOutage())
        return;
    m_schedule->flowLost();
    m_lastNetworkDown = false;
    m_serverAnswered = false;
    // The reader waits for the stream to go on instead of giving up at its read deadline.
    m_buffer->setHeld(true);
}

void HttpStream::onStalled()
{
    if (m_closed || m_gaveUp || !m_request)
        return;
    qCInfo(lcHttp) << m_address << "silent for" << stallMs() << "ms; trying a second connection";
    beginOutage(OpenFailure::NoAnswer, QStringLiteral("no data for %1 ms").arg(stallMs()));
    if (!m_redial && !m_candidate && !m_retryTimer->isActive() && !m_schedule->givenUp())
        scheduleTry(true);
}

void HttpStream::onConnectionLost(OpenFailure failure, const QString &reason)
{
    if (m_closed || m_gaveUp)
        return;
    qCInfo(lcHttp) << m_address << "connection lost:" << reason;
    HttpRequest::discard(m_request); // may be inside its own signal
    m_stallTimer->stop();
    beginOutage(failure, reason);
    if (m_schedule->givenUp()) {
        giveUp();
        return;
    }
    if (!m_redial && !m_candidate && !m_retryTimer->isActive())
        scheduleTry(false);
}

void HttpStream::scheduleTry(bool soon)
{
    const int pause = m_schedule->pauseBeforeNextTryMs(soon);
    if (pause <= 0) {
        startTry(soon);
        return;
    }
    qCInfo(lcHttp) << m_address << "next try in" << pause << "ms";
    m_retryTimer->start(pause);
    m_announced = true;
    emit reconnecting(m_schedule->attempt() + 1, pause, networkDown(), m_lastFailure);
}

void HttpStream::startTry(bool soon)
{
    if (m_closed || m_gaveUp)
        return;
    m_retryTimer->stop();
    m_schedule->tryStarted(soon);
    qCInfo(lcHttp) << m_address << "try" << m_schedule->attempt();
    m_redial = std::make_unique<StreamRedial>(m_address, m_keeping.answerTimeoutMs, m_keeping.maxRedirects);
    connect(m_redial.get(), &StreamRedial::connected, this, &HttpStream::onTryConnected);
    connect(m_redial.get(), &StreamRedial::failed, this, &HttpStream::onTryFailed);
    m_redial->start();
    m_announced = true;
    emit reconnecting(m_schedule->attempt(), -1, networkDown(), m_lastFailure);
}

void HttpStream::onTryConnected()
{
    QByteArray firstBytes;
    m_candidate = m_redial->takeConnection(&firstBytes);
    dropRedial(); // inside its own signal
    if (!m_candidate) {
        onTryFailed(OpenFailure::NotAStream, QStringLiteral("the new connection was lost"), false);
        return;
    }
    m_candidate->setParent(nullptr);
    m_candidate->setIdleTimeoutMs(m_keeping.silentCapMs);
    m_candidateTitle.clear();
    m_splice->beginJoin();
    HttpRequest *candidate = m_candidate.get();
    connect(candidate, &HttpRequest::bodyReady, this, [this] { feedCandidate(); });
    connect(candidate, &HttpRequest::finished, this, [this] {
        feedCandidate();
        if (m_candidate)
            onTryFailed(OpenFailure::None, QStringLiteral("the new connection ended before the stream went on"), false);
    });
    connect(candidate, &HttpRequest::failed, this, [this](OpenFailure failure, const QString &reason) {
        onTryFailed(failure, reason, false);
    });
    feedCandidate(firstBytes);
}

void HttpStream::feedCandidate(const QByteArray &firstBytes)
{
    if (m_closed || !m_candidate)
        return;
    const QByteArray out = m_splice->join(firstBytes + m_candidate->response().takeBody());
    noteCandidateTitles();
    if (m_splice->state() == StreamSplice::State::Failed) {
        onTryFailed(OpenFailure::NotAStream, QStringLiteral("the new connection does not continue the stream"), false);
        return;
    }
    if (out.isEmpty())
        return; // still searching, or caught up with what was written: the next new byte decides
    // The old connection gets a last look: if it has new audio too, it goes on.
    if (m_request)
        m_request->readWaiting();
    if (!m_candidate || m_closed)
        return;
    if (m_request && m_splice->how() != StreamSplice::How::Overlap
        && m_clock->nowMs() - m_lastByteAt < m_keeping.takeOverMs) {
        // Not the same bytes, while the old connection may still go on: it keeps its place
        // for now, and a later try may take over.
        qCInfo(lcHttp) << m_address << "the new connection does not continue the stream byte for byte; not yet";
        dropCandidate();
        m_schedule->tryFailed(false);
        afterFailedTry();
        return;
    }
    qCInfo(lcHttp) << m_address << "a new connection goes on" << howName(m_splice->how()) << "; skipped"
                   << m_splice->skipped() << "bytes";
    HttpRequest::discard(m_request);
    m_request = std::move(m_candidate);
    m_request->disconnect(this);
    attach(m_request.get(), m_buffer->epoch());
    if (!m_candidateTitle.isNull())
        announceTitle(m_candidateTitle); // it names what the new connection brings
    if (m_closed)
        return;
    m_buffer->write(m_buffer->epoch(), out);
    watchPacing(out);
    m_splice->written(out);
    flowing();
    if (m_request->isFinished()) { // ended with the very bytes that won
        QMetaObject::invokeMethod(this, [this] {
            onConnectionLost(OpenFailure::None, QStringLiteral("the server ended the stream"));
        }, Qt::QueuedConnection);
        return;
    }
    if (m_buffer->freeSpace() <= 0)
        holdBack();
}

void HttpStream::dropRedial()
{
    if (!m_redial)
        return;
    m_redial->disconnect(this); // nothing more from it, whatever it still had queued
    m_redial.release()->deleteLater();
}

void HttpStream::dropCandidate()
{
    HttpRequest::discard(m_candidate);
}

void HttpStream::onTryFailed(OpenFailure failure, const QString &reason, bool networkDown)
{
    if (m_closed || m_gaveUp)
        return;
    if (m_redial)
        dropRedial(); // inside its own signal
    dropCandidate();
    qCInfo(lcHttp) << m_address << "try" << m_schedule->attempt() << "failed:" << reason
                   << (networkDown ? "(network)" : "");
    if (!m_schedule->inOutage())
        return; // the old connection went on meanwhile
    m_lastFailure = failure;
    m_lastReason = reason;
    m_lastNetworkDown = networkDown;
    m_serverAnswered = !networkDown;
    if (networkDown && m_keeping.watchNetwork && !m_watch) {
        // Asked only now: loading Qt's backend costs the event loop some tens of ms, and
        // only while the network is gone does it matter when the link comes back.
        m_watch = new NetworkWatch(this);
        connect(m_watch, &NetworkWatch::linkReturned, this, &HttpStream::onLinkReturned);
    }
    m_schedule->tryFailed(!networkDown);
    afterFailedTry();
}

void HttpStream::afterFailedTry()
{
    if (m_schedule->givenUp()) {
        if (!m_request)
            giveUp();
        // else the stalled connection is the last hope: it resumes or reaches its cap
        return;
    }
    scheduleTry(false);
}

void HttpStream::giveUp()
{
    qCInfo(lcHttp) << m_address << "given up after" << m_schedule->attempt() << "tries:" << m_lastReason;
    m_gaveUp = true;
    m_stallTimer->stop();
    m_retryTimer->stop();
    dropRedial();
    dropCandidate();
    m_buffer->setHeld(false);
    m_buffer->finish(m_buffer->epoch());
    emit ended(m_lastFailure, m_lastReason);
}

bool HttpStream::networkDown() const
{
    // A server that answered, however badly, was reached: whatever the watch says.
    if (m_serverAnswered)
        return false;
    return m_lastNetworkDown || (m_watch && m_watch->isDown());
}

void HttpStream::onLinkReturned()
{
    if (m_closed || m_gaveUp || !m_retryTimer->isActive())
        return;
    qCInfo(lcHttp) << m_address << "the network is back";
    m_lastNetworkDown = false;
    const int pause = m_schedule->pauseBeforeNextTryMs(true);
    if (pause <= 0) {
        startTry(true);
        return;
    }
    m_retryTimer->start(pause);
    emit reconnecting(m_schedule->attempt() + 1, pause, false, m_lastFailure);
}

} // namespace lumora
