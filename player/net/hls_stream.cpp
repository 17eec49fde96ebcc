#include "hls_stream.h"

#include "aes128_cbc.h"
#include "audio_meter.h"
#include "id3_tag.h"
#include "mp4_fragments.h"

#include <QLoggingCategory>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcHls, "lumora.player.hls", QtWarningMsg)

namespace lumora {

namespace {

constexpr int kLiveStartDurations = 3; // a live playlist is joined this far from its end
constexpr int kStallDurations = 3;     // no new segment this long: the stream is lost
constexpr int kMaxSkippedInRow = 3;    // before the first sound: then the station fails
constexpr qsizetype kKeyBytes = 16;
constexpr int kMaxKeys = 16;           // keys kept; a stream that rotates them fetches again
constexpr int kMaxSegmentDeadlineMs = 60000;

// What a segment's first bytes are, as libVLC's demuxer is named.
QString containerOf(QByteArrayView bytes, bool hasMap)
{
    if (hasMap)
        return QStringLiteral("mp4");
    if (!bytes.isEmpty() && bytes[0] == 0x47 && (bytes.size() <= 188 || bytes[188] == 0x47))
        return QStringLiteral("ts");
    if (Mp4Fragments::startsBoxes(bytes))
        return QStringLiteral("mp4");
    // Packed audio. libVLC's elementary stream demuxer takes AAC only when named "aac".
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
        && (static_cast<unsigned char>(bytes[1]) & 0xF6) == 0xF0)
        return QStringLiteral("aac"); // ADTS: sync word, layer 0
    return QStringLiteral("mpga");
}

// Packed audio: whole frames from the start while they make less than ms, taken out; the
// audio taken out (ms). Nothing where the frames do not read right through to the moment.
qint64 dropFramesBefore(QByteArray &bytes, qint64 ms)
{
    qsizetype at = 0;
    qint64 us = 0;
    while (us < ms * 1000) {
        const AudioMeter::Frame f = AudioMeter::frameAt(QByteArrayView(bytes).sliced(at));
        if (f.format == AudioMeter::Format::Unknown || at + f.length >= bytes.size())
            return 0;
        at += f.length;
        us += f.durationUs;
    }
    bytes.remove(0, at);
    return us / 1000;
}

} // namespace

HlsStream::HlsStream(const QString &address, const QByteArray &playlist, const Settings &settings, QObject *parent)
    : m_settings(settings), m_firstBody(playlist), m_connections(HttpConnectionPool::kDefaultIdleMs, this)
{
    setParent(parent);
    m_address = address;
    m_contentType = QStringLiteral("application/vnd.apple.mpegurl");
    m_reload.setSingleShot(true);
    m_retry.setSingleShot(true);
    connect(&m_reload, &QTimer::timeout, this, &HlsStream::loadPlaylist);
    connect(&m_retry, &QTimer::timeout, this, &HlsStream::pump);
    newBuffer();
}

void HlsStream::newBuffer()
{
    if (m_buffer) {
        m_buffer->disconnect(this);
        m_buffer->abort();
    }
    m_buffer = std::make_shared<StreamBuffer>();
    m_waitingForSpace = false;
    connect(m_buffer.get(), &StreamBuffer::spaceAvailable, this, [this] {
        if (m_waitingForSpace) {
            m_waitingForSpace = false;
            pump();
        }
    }, Qt::QueuedConnection);
}

qint64 HlsStream::durationMs() const
{
    return m_playlist.isMedia() && m_playlist.endList && !m_playlist.segments.isEmpty() ? m_playlist.totalMs() : -1;
}

bool HlsStream::restartAt(qint64 ms)
{
    if (m_closed || durationMs() <= 0)
        return false;
    // The segment that holds ms; past the end, the last one.
    qint64 segmentStart = 0;
    const HlsSegment *at = nullptr;
    for (const HlsSegment &s : std::as_const(m_playlist.segments)) {
        at = &s;
        if (ms < segmentStart + s.durationMs)
            break;
        if (&s != &m_playlist.segments.constLast())
            segmentStart += s.durationMs;
    }
    // What is on its way or buffered belongs to the old place: dropped, with the buffer.
    m_retry.stop();
    if (m_segmentGet)
        m_segmentGet.release()->deleteLater();
    newBuffer();
    m_retried = -1;
    m_skippedInRow = 0;
    m_mapWritten.clear(); // a new reader needs the initialisation section again
    m_timeline = {};      // and takes the time stamps as they come
    m_nextSequence = at->sequence;
    m_startMs = segmentStart;
    m_skipMs = qMin<qint64>(ms - segmentStart, at->durationMs); // within the segment
    m_ended = false;
    qCInfo(lcHls) << m_mediaAddress << "from" << ms << "ms: segment" << at->sequence << "at" << segmentStart << "ms";
    pump();
    return true;
}

HlsStream::~HlsStream()
{
    close();
}

qint64 HlsStream::variantBandwidth() const
{
    return m_variant >= 0 ? m_variants[m_variant].bandwidth : 0;
}

void HlsStream::start()
{
    QMetaObject::invokeMethod(this, [this] {
        if (!m_closed)
            takePlaylist(std::exchange(m_firstBody, {}), m_address);
    }, Qt::QueuedConnection);
}

void HlsStream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_reload.stop();
    m_retry.stop();
    if (m_playlistGet)
        m_playlistGet.release()->deleteLater();
    if (m_segmentGet)
        m_segmentGet.release()->deleteLater();
    m_buffer->abort();
}

std::unique_ptr<HttpGet> HlsStream::newGet()
{
    auto get = std::make_unique<HttpGet>();
    if (m_settings.keepConnections)
        get->setConnectionPool(&m_connections);
    return get;
}

void HlsStream::takePlaylist(const QByteArray &body, const QString &address)
{
    const HlsPlaylist playlist = HlsPlaylist::read(body, address);
    for (const QString &p : playlist.problems)
        qCInfo(lcHls) << address << p;
    if (playlist.isMaster()) {
        if (!m_variants.isEmpty()) {
            fail(OpenFailure::NotAStream, QStringLiteral("a variant is itself a master playlist"));
            return;
        }
        m_variants = playlist.variants;
        std::stable_sort(m_variants.begin(), m_variants.end(),
                         [](const HlsVariant &a, const HlsVariant &b) { return a.bandwidth < b.bandwidth; });
        chooseVariant();
        loadPlaylist();
        return;
    }
    m_mediaAddress = address;
    onPlaylist(playlist);
}

void HlsStream::chooseVariant()
{
    // The highest bandwidth within the limit; the lowest when none is within it.
    m_variant = 0;
    for (int i = 0; i < m_variants.size(); ++i)
        if (m_settings.maxBandwidth <= 0 || m_variants[i].bandwidth <= m_settings.maxBandwidth)
            m_variant = i;
    m_mediaAddress = m_variants[m_variant].uri;
    m_headroomSince.start();
    qCInfo(lcHls) << "variant" << m_mediaAddress << "of" << m_variants.size() << "at"
                  << m_variants[m_variant].bandwidth << "bit/s";
}

void HlsStream::loadPlaylist()
{
    if (m_closed || m_ended)
        return;
    m_playlistGet = newGet();
    const QString address = m_mediaAddress;
    connect(m_playlistGet.get(), &HttpGet::done, this, [this, address](const QByteArray &body) {
        m_playlistGet.release()->deleteLater();
        if (address != m_mediaAddress) {
            loadPlaylist();
            return;
        }
        const HlsPlaylist playlist = HlsPlaylist::read(body, address);
        if (playlist.isMaster()) {
            fail(OpenFailure::NotAStream, QStringLiteral("a variant is itself a master playlist"));
            return;
        }
        onPlaylist(playlist);
    });
    connect(m_playlistGet.get(), &HttpGet::failed, this, [this](OpenFailure failure, const QString &reason, int) {
        m_playlistGet.release()->deleteLater();
        qCInfo(lcHls) << m_mediaAddress << "playlist:" << reason;
        if (m_nextSequence < 0) {
            fail(failure, QStringLiteral("the playlist %1: %2").arg(m_mediaAddress, reason));
            return;
        }
        // Counted as a reload that brought nothing new: the stall clock decides.
        scheduleReload(false);
    });
    m_playlistGet->start(m_mediaAddress, {m_settings.fetchTimeoutMs, m_settings.maxPlaylistBytes});
}

void HlsStream::onPlaylist(const HlsPlaylist &playlist)
{
    if (m_closed || m_ended)
        return;
    if (!playlist.isMedia()) {
        if (m_nextSequence < 0) {
            fail(OpenFailure::NotAStream, playlist.refusal);
            return;
        }
        qCInfo(lcHls) << m_mediaAddress << "unusable reload:" << playlist.refusal;
        scheduleReload(false);
        return;
    }
    const qint64 first = playlist.segments.isEmpty() ? playlist.mediaSequence : playlist.segments.first().sequence;
    const qint64 newest = playlist.segments.isEmpty() ? -1 : playlist.segments.last().sequence;
    const bool joining = m_nextSequence < 0 || m_nextSequence < first - 1 || m_nextSequence > newest + 1;
    if (joining && !playlist.segments.isEmpty()) {
        // A live playlist is joined far enough from its end that the next segments are
        // listed before these are played; a finished one is played from its start.
        qsizetype start = 0;
        if (!playlist.endList) {
            qint64 behind = 0;
            start = playlist.segments.size();
            while (start > 0 && behind < qint64(kLiveStartDurations) * playlist.targetDurationMs)
                behind += playlist.segments[--start].durationMs;
        }
        if (m_nextSequence >= 0)
            qCInfo(lcHls) << m_mediaAddress << "segment" << m_nextSequence << "is not near this playlist; joining again";
        m_nextSequence = playlist.segments[start].sequence;
        m_sinceAdvance.start();
    } else if (m_nextSequence >= 0 && m_nextSequence < first) {
        qCInfo(lcHls) << m_mediaAddress << "segments" << m_nextSequence << "to" << first - 1
                      << "left the playlist before they were fetched; skipped";
        m_nextSequence = first;
    }
    const bool advanced = newest > m_newestSequence;
    if (advanced) {
        m_newestSequence = newest;
        m_sinceAdvance.start();
        if (m_announcedStall) {
            m_announcedStall = false;
            m_buffer->setHeld(false);
            emit reconnected();
        }
    }
    if (!m_sinceAdvance.isValid())
        m_sinceAdvance.start();
    m_playlist = playlist;
    if (playlist.endList) {
        m_reload.stop();
    } else {
        scheduleReload(advanced);
    }
    pump();
}

void HlsStream::scheduleReload(bool advanced)
{
    if (m_closed || m_ended)
        return;
    checkStall();
    if (m_ended)
        return;
    const int target = qMax(m_playlist.targetDurationMs, 1000);
    m_reload.start(advanced ? target : target / 2);
}

void HlsStream::checkStall()
{
    if (!m_sinceAdvance.isValid() || m_playlist.endList)
        return;
    const qint64 target = qMax(m_playlist.targetDurationMs, 1000);
    const qint64 since = m_sinceAdvance.elapsed();
    if (since >= kStallDurations * target) {
        end(OpenFailure::NoAnswer, QStringLiteral("the playlist brought no new segment for %1 s").arg(since / 1000));
        return;
    }
    if (since >= target + target / 2 && !m_announcedStall && m_opened) {
        // What is buffered plays out meanwhile; the reader waits for more without a deadline.
        m_announcedStall = true;
        m_buffer->setHeld(true);
        emit reconnecting(1, -1, false, OpenFailure::NoAnswer);
    }
}

void HlsStream::pump()
{
    if (m_closed || m_ended || m_segmentGet || m_retry.isActive() || m_nextSequence < 0)
        return;
    if (m_buffer->freeSpace() == 0) {
        // Full: the buffer says when its reader has taken half of it. The next fetch waits
        // (the buffer holds its capacity and one segment at most).
        m_waitingForSpace = true;
        return;
    }
    const auto at = std::find_if(m_playlist.segments.cbegin(), m_playlist.segments.cend(),
                                 [this](const HlsSegment &s) { return s.sequence >= m_nextSequence; });
    if (at == m_playlist.segments.cend()) {
        if (m_playlist.endList && m_opened)
            end(OpenFailure::None, QStringLiteral("the playlist ended"));
        else if (m_playlist.endList)
            fail(OpenFailure::NotAStream, QStringLiteral("no segment could be played"));
        return; // the next reload lists more
    }
    const HlsSegment segment = *at;
    m_nextSequence = segment.sequence;
    if (segment.key.method == HlsKey::Method::Aes128 && !m_keys.contains(segment.key.uri)) {
        fetchKey(segment.key.uri);
        return;
    }
    const QString map = segment.mapUri.isEmpty() ? QString()
        : segment.mapUri + u'@' + QString::number(segment.mapRange.offset) + u'+' + QString::number(segment.mapRange.length);
    if (!map.isEmpty() && map != m_mapWritten && map != m_mapFetched) {
        fetchMap(segment);
        return;
    }
    fetchSegment(segment);
}

void HlsStream::fetchKey(const QString &uri)
{
    m_segmentGet = newGet();
    connect(m_segmentGet.get(), &HttpGet::done, this, [this, uri](const QByteArray &key) {
        m_segmentGet.release()->deleteLater();
        if (key.size() != kKeyBytes) {
            fail(OpenFailure::NotAStream, QStringLiteral("the AES-128 key at %1 is %2 bytes, not 16").arg(uri).arg(key.size()));
            return;
        }
        if (m_keys.size() >= kMaxKeys)
            m_keys.clear();
        m_keys.insert(uri, key);
        pump();
    });
    connect(m_segmentGet.get(), &HttpGet::failed, this, [this, uri](OpenFailure failure, const QString &reason, int) {
        m_segmentGet.release()->deleteLater();
        fail(failure, QStringLiteral("the AES-128 key at %1: %2").arg(uri, reason));
    });
    m_segmentGet->start(uri, {m_settings.fetchTimeoutMs, 64});
}

void HlsStream::fetchMap(const HlsSegment &segment)
{
    const QString map = segment.mapUri + u'@' + QString::number(segment.mapRange.offset) + u'+'
        + QString::number(segment.mapRange.length);
    m_segmentGet = newGet();
    connect(m_segmentGet.get(), &HttpGet::done, this, [this, map](const QByteArray &bytes) {
        m_segmentGet.release()->deleteLater();
        m_map = bytes;
        m_mapFetched = map;
        pump();
    });
    connect(m_segmentGet.get(), &HttpGet::failed, this, [this, segment](OpenFailure failure, const QString &reason, int) {
        m_segmentGet.release()->deleteLater();
        onSegmentFailed(segment, failure, QStringLiteral("its initialisation section: ") + reason);
    });
    HttpGet::Limits limits{m_settings.fetchTimeoutMs, m_settings.maxPlaylistBytes};
    if (!segment.mapRange.isWhole()) {
        limits.rangeOffset = segment.mapRange.offset;
        limits.rangeLength = segment.mapRange.length;
    }
    m_segmentGet->start(segment.mapUri, limits);
}

void HlsStream::fetchSegment(const HlsSegment &segment)
{
    m_segmentGet = newGet();
    connect(m_segmentGet.get(), &HttpGet::done, this, [this, segment](const QByteArray &bytes) {
        const qint64 elapsed = m_segmentGet->elapsedMs();
        m_segmentGet.release()->deleteLater();
        onSegment(segment, bytes, elapsed);
    });
    connect(m_segmentGet.get(), &HttpGet::failed, this, [this, segment](OpenFailure failure, const QString &reason, int) {
        m_segmentGet.release()->deleteLater();
        onSegmentFailed(segment, failure, reason);
    });
    // A segment has its duration and as long again to come, at least the usual deadline and
    // never more than a minute, whatever duration the playlist claims.
    const int deadlineMs = qMax(m_settings.fetchTimeoutMs, qMin(2 * segment.durationMs, kMaxSegmentDeadlineMs));
    HttpGet::Limits limits{deadlineMs, m_settings.maxSegmentBytes};
    if (!segment.range.isWhole()) {
        limits.rangeOffset = segment.range.offset;
        limits.rangeLength = segment.range.length;
    }
    m_segmentGet->start(segment.uri, limits);
}

void HlsStream::onSegment(const HlsSegment &segment, QByteArray bytes, qint64 elapsedMs)
{
    if (m_closed || m_ended)
        return;
    if (segment.key.method == HlsKey::Method::Aes128) {
        const QByteArray iv = segment.key.iv.isEmpty() ? aes128cbc::sequenceIv(segment.sequence) : segment.key.iv;
        const std::optional<QByteArray> plain = aes128cbc::decrypt(bytes, m_keys.value(segment.key.uri), iv);
        if (!plain) {
            m_retried = segment.sequence; // the same bytes would come again
            onSegmentFailed(segment, OpenFailure::NotAStream, QStringLiteral("does not decrypt with its key"));
            return;
        }
        bytes = *plain;
    }
    m_retried = -1;
    m_skippedInRow = 0;
    adapt(segment, elapsedMs);
    // Packed audio starts each segment with an ID3 tag (its time stamp, sometimes a title).
    const Id3Tag tag = Id3Tag::read(bytes);
    if (tag.size > 0 && tag.complete)
        bytes.remove(0, tag.size);
    const bool hasMap = !segment.mapUri.isEmpty();
    if (!m_opened)
        m_container = containerOf(bytes, hasMap);
    // A seek lands inside this segment: the sound starts at the moment asked for.
    if (const qint64 skipMs = std::exchange(m_skipMs, 0); skipMs > 0) {
        const qint64 skipped = m_container == u"ts" ? m_timeline.startAt(bytes, skipMs)
            : m_container == u"mp4"                 ? 0 // fragments are not cut: from the segment's start
                                                    : dropFramesBefore(bytes, skipMs);
        m_startMs += skipped;
    }
    // MPEG-TS carries its titles as timed ID3 on a stream of its own.
    QString title = tag.title;
    if (m_container == u"ts") {
        const QStringList timed = m_timedId3.feed(bytes);
        if (!timed.isEmpty())
            title = timed.last();
        m_timeline.carry(bytes, segment.discontinuity);
    }
    const qint64 segmentAudioMs = m_buffer->meter().audioMs(); // where this segment's audio begins
    if (hasMap && m_mapFetched != m_mapWritten) {
        // Written once, and again only when the playlist names another one.
        write(m_map);
        m_mapWritten = m_mapFetched;
    }
    if (segment.discontinuity)
        qCInfo(lcHls) << m_mediaAddress << "discontinuity before segment" << segment.sequence;
    write(bytes);
    m_nextSequence = segment.sequence + 1;
    if (!m_opened) {
        m_opened = true;
        qCInfo(lcHls) << m_address << "opened:" << m_container << "from segment" << segment.sequence;
        emit opened();
        if (m_closed)
            return;
    }
    // After opened(): the player listens from then on.
    if (!title.isEmpty() && title != m_lastTitle) {
        m_lastTitle = title;
        m_titleAudioMs = segmentAudioMs;
        emit titleChanged(title);
        if (m_closed)
            return;
    }
    pump();
}

void HlsStream::onSegmentFailed(const HlsSegment &segment, OpenFailure failure, const QString &reason)
{
    if (m_closed || m_ended)
        return;
    if (m_retried != segment.sequence) {
        qCInfo(lcHls) << segment.uri << reason << "- asking once more";
        m_retried = segment.sequence;
        m_retry.start(m_settings.retryDelayMs);
        return;
    }
    qCInfo(lcHls) << segment.uri << reason << "- skipped";
    m_retried = -1;
    m_nextSequence = segment.sequence + 1;
    if (!m_opened && ++m_skippedInRow >= kMaxSkippedInRow) {
        fail(failure, QStringLiteral("segment %1: %2").arg(segment.uri, reason));
        return;
    }
    pump();
}

void HlsStream::write(const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        m_buffer->write(m_buffer->epoch(), bytes);
}

void HlsStream::adapt(const HlsSegment &segment, qint64 elapsedMs)
{
    if (m_variants.size() < 2 || segment.durationMs <= 0)
        return;
    // Slower than it plays: the next lower variant, after two such segments or one far too slow.
    if (elapsedMs >= segment.durationMs) {
        ++m_slowInRow;
        if (m_variant > 0 && (m_slowInRow >= 2 || elapsedMs >= 2 * segment.durationMs))
            switchVariant(m_variant - 1, "segments come slower than they play");
        return;
    }
    m_slowInRow = 0;
    if (m_variant + 1 >= m_variants.size())
        return;
    const HlsVariant &higher = m_variants[m_variant + 1];
    if (m_settings.maxBandwidth > 0 && higher.bandwidth > m_settings.maxBandwidth)
        return;
    // The higher variant's segments, as much larger as its bandwidth says, would have come
    // within half their duration.
    const double scale = m_variants[m_variant].bandwidth > 0
        ? double(higher.bandwidth) / double(m_variants[m_variant].bandwidth) : 2.0;
    if (elapsedMs * scale > segment.durationMs / 2.0) {
        m_headroomSince.start();
        return;
    }
    if (m_headroomSince.elapsed() >= m_settings.stepUpAfterMs)
        switchVariant(m_variant + 1, "a minute of headroom");
}

void HlsStream::switchVariant(int index, const char *why)
{
    m_variant = index;
    m_mediaAddress = m_variants[index].uri;
    m_slowInRow = 0;
    m_headroomSince.start();
    qCInfo(lcHls) << why << "- variant" << m_mediaAddress << "at" << m_variants[index].bandwidth << "bit/s";
    emit variantChanged(m_mediaAddress, m_variants[index].bandwidth);
    // The new variant's playlist is read before its next segment; sequence numbers of the
    // variants of one stream go together.
    m_reload.stop();
    if (m_playlistGet)
        m_playlistGet.release()->deleteLater();
    m_playlist = {}; // nothing is fetched until the new variant's playlist is in
    loadPlaylist();
}

void HlsStream::fail(OpenFailure failure, const QString &reason)
{
    if (m_closed || m_ended)
        return;
    if (m_opened) {
        end(failure, reason);
        return;
    }
    qCInfo(lcHls) << m_address << "cannot open:" << reason;
    m_ended = true;
    m_reload.stop();
    m_retry.stop();
    emit failed(failure, reason);
}

void HlsStream::end(OpenFailure failure, const QString &reason)
{
    if (m_ended)
        return;
    if (!m_opened) {
        fail(failure == OpenFailure::None ? OpenFailure::NotAStream : failure, reason);
        return;
    }
    m_ended = true;
    m_reload.stop();
    m_retry.stop();
    qCInfo(lcHls) << m_address << "ended:" << reason;
    if (failure != OpenFailure::None && !m_announcedStall) {
        // The source has tried by itself: the player does not try the same playlist again.
        emit reconnecting(1, -1, false, failure);
    }
    m_buffer->setHeld(false);
    m_buffer->finish(m_buffer->epoch());
    emit ended(failure, reason);
}

} // namespace lumora
