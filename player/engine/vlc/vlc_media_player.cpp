#include "vlc_media_player.h"

#include "vlc_audio_filters.h"

#include "pipe_feed.h"
#include "player/common/player_failure.h"
#include "player/engine/audio_sink.h"
#include "player/net/stream_buffer.h"
#include "vlc_instance.h"
#include "vlc_worker.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <vlc/vlc.h>

#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcVlc)

namespace lumora {

namespace {

const libvlc_event_type_t kPlayerEvents[] = {
    libvlc_MediaPlayerOpening,        libvlc_MediaPlayerBuffering,
    libvlc_MediaPlayerPlaying,        libvlc_MediaPlayerPaused,
    libvlc_MediaPlayerEndReached,     libvlc_MediaPlayerEncounteredError,
    libvlc_MediaPlayerPositionChanged, libvlc_MediaPlayerSeekableChanged,
    libvlc_MediaPlayerVout,           libvlc_MediaPlayerAudioVolume,
    libvlc_MediaPlayerMuted,          libvlc_MediaPlayerUnmuted,
    libvlc_MediaPlayerLengthChanged,
};

// libVLC's media callbacks, on libVLC's input thread; opaque is the StreamBuffer, which the
// player keeps alive until that thread has ended.
int openBuffer(void *opaque, void **data, uint64_t *size)
{
    auto *buffer = static_cast<StreamBuffer *>(opaque);
    *data = buffer;
    *size = buffer->size() > 0 ? uint64_t(buffer->size()) : UINT64_MAX;
    return 0;
}

ssize_t readBuffer(void *data, unsigned char *into, size_t max)
{
    return ssize_t(static_cast<StreamBuffer *>(data)->read(reinterpret_cast<char *>(into), qint64(max)));
}

int seekBuffer(void *data, uint64_t offset)
{
    return static_cast<StreamBuffer *>(data)->seek(offset) ? 0 : -1;
}

void closeBuffer(void *) {}

} // namespace

VlcMediaPlayer::VlcMediaPlayer(std::shared_ptr<VlcInstance> instance, QObject *parent)
    : QObject(parent), m_instance(std::move(instance)), m_worker(std::make_unique<VlcWorker>())
{
    m_player = libvlc_media_player_new(m_instance->native());
    if (!m_player) {
        const char *why = libvlc_errmsg();
        throw PlayerFailure(PlayerFailure::Kind::CannotCreate,
                           QCoreApplication::translate("lumora::VlcInstance",
                                                       "libVLC could not create a media player (%1). "
                                                       "Install the Debian package vlc-plugin-base.")
                               .arg(QString::fromUtf8(why ? why : "no reason given")));
    }
    // The picture area belongs to Qt: mouse and keys over it go to the player's own controls.
    libvlc_video_set_mouse_input(m_player, false);
    libvlc_video_set_key_input(m_player, false);
    attachPlayerEvents(true);
}

VlcMediaPlayer::~VlcMediaPlayer()
{
    attachPlayerEvents(false);
    retire();
    m_worker.reset(); // runs what is queued, then joins
    libvlc_media_player_release(m_player);
}

void VlcMediaPlayer::attachPlayerEvents(bool attach)
{
    libvlc_event_manager_t *em = libvlc_media_player_event_manager(m_player);
    for (libvlc_event_type_t type : kPlayerEvents) {
        if (attach)
            libvlc_event_attach(em, type, &VlcMediaPlayer::onEvent, this);
        else
            libvlc_event_detach(em, type, &VlcMediaPlayer::onEvent, this);
    }
}

void VlcMediaPlayer::onEvent(const libvlc_event_t *e, void *data)
{
    // A libVLC thread (or the GUI thread inside a libVLC call): copy, queue, return.
    auto *self = static_cast<VlcMediaPlayer *>(data);
    Event event;
    event.type = e->type;
    switch (e->type) {
    case libvlc_MediaPlayerBuffering: event.number = e->u.media_player_buffering.new_cache; break;
    case libvlc_MediaPlayerLengthChanged:
        self->m_hasLength = e->u.media_player_length_changed.new_length > 0;
        return; // only kept for the position events
    case libvlc_MediaPlayerPositionChanged:
        if (!self->m_seekable && !self->m_hasLength)
            return;
        event.number = e->u.media_player_position_changed.new_position;
        break;
    case libvlc_MediaPlayerSeekableChanged:
        // A live stream has a seek callback that always refuses (see playBuffer): it is not
        // seekable, whatever libVLC concludes from the callback.
        event.integer = e->u.media_player_seekable_changed.new_seekable && !self->m_liveBuffer;
        self->m_seekable = event.integer != 0;
        break;
    case libvlc_MediaPlayerVout: event.integer = e->u.media_player_vout.new_count; break;
    case libvlc_MediaPlayerAudioVolume: event.number = e->u.media_player_audio_volume.volume; break;
    default: break;
    }
    const quint64 generation = self->m_generation.load();
    QMetaObject::invokeMethod(self, [self, generation, event] { self->deliver(generation, event); },
                              Qt::QueuedConnection);
}

void VlcMediaPlayer::deliver(quint64 generation, const Event &event)
{
    if (generation != m_generation.load())
        return; // belongs to a media that was stopped since
    switch (event.type) {
    case libvlc_MediaPlayerOpening: emit opening(); break;
    case libvlc_MediaPlayerBuffering: emit buffering(event.number); break;
    case libvlc_MediaPlayerPlaying: emit playing(); break;
    case libvlc_MediaPlayerPaused: emit paused(); break;
    case libvlc_MediaPlayerEndReached: emit endReached(); break;
    case libvlc_MediaPlayerEncounteredError: emit encounteredError(); break;
    case libvlc_MediaPlayerPositionChanged: emit positionChanged(event.number); break;
    case libvlc_MediaPlayerSeekableChanged: emit seekableChanged(event.integer != 0); break;
    case libvlc_MediaPlayerVout: emit voutChanged(int(event.integer)); break;
    case libvlc_MediaPlayerAudioVolume: emit audioVolumeChanged(event.number); break;
    case libvlc_MediaPlayerMuted: emit audioMutedChanged(true); break;
    case libvlc_MediaPlayerUnmuted: emit audioMutedChanged(false); break;
    default: break;
    }
}

bool VlcMediaPlayer::play(const QString &mrl, const QStringList &options)
{
    stop();
    m_liveBuffer = false;
    qCDebug(lcVlc) << "play" << mrl << options;
    return start(libvlc_media_new_location(m_instance->native(), mrl.toUtf8().constData()), options);
}

bool VlcMediaPlayer::playBuffer(std::shared_ptr<StreamBuffer> buffer, const QStringList &options, int marginMs)
{
    stop();
    m_buffer = std::move(buffer);
    m_liveBuffer = !m_buffer->seekable();
    if (m_buffer->size() < 0) {
        auto feed = std::make_shared<PipeFeed>(m_buffer);
        if (feed->valid()) {
            feed->start();
            m_feed = feed;
            QStringList all = options;
            // The access that reads a descriptor takes its clock margin from here.
            all << QStringLiteral(":file-caching=%1").arg(marginMs);
            qCDebug(lcVlc) << "play live stream through a pipe" << all;
            return start(libvlc_media_new_fd(m_instance->native(), feed->readFd()), all);
        }
    }
    qCDebug(lcVlc) << "play buffer" << options;
    // The seek callback is given even for a live stream, where it always refuses. Without one
    // libVLC takes a stream as one whose pace it cannot control: it slaves its clock to the
    // data's arrival with a margin of only 300 ms, and on a busy machine the sound breaks up
    // (a third of a second lost in a second, measured beside another player's work). With it,
    // libVLC paces playback by its own clock, as its own http access does for radio, and the
    // bytes it has not yet read wait in the buffer.
    return start(libvlc_media_new_callbacks(m_instance->native(), openBuffer, readBuffer, seekBuffer,
                                            closeBuffer, m_buffer.get()),
                 options);
}

bool VlcMediaPlayer::suspendLive(qint64 fromOffset)
{
    if (!m_feed || !m_buffer)
        return false; // not a live stream through a pipe
    m_running = false;
    ++m_generation;
    libvlc_media_player_t *player = m_player;
    std::shared_ptr<PipeFeed> feed = std::move(m_feed);
    std::shared_ptr<StreamBuffer> buffer = m_buffer;
    libvlc_media_t *media = std::exchange(m_media, nullptr);
    // As in retire(), on the worker; the buffer is kept, and what libVLC had read and not
    // played is put back into it once the copying has ended.
    m_worker->post([player, feed, buffer, media, fromOffset] {
        libvlc_media_player_stop(player);
        feed->stop(PipeFeed::Buffer::Keep);
        libvlc_media_release(media);
        if (!buffer->rewindTo(fromOffset))
            qCInfo(lcVlc) << "the stream goes on where it was read up to: its audio from" << fromOffset
                          << "is no longer kept";
    });
    return true;
}

bool VlcMediaPlayer::drainLive()
{
    if (!m_feed || !m_buffer)
        return false;
    // The copying's end joins its thread: on the worker. The feed and the media stay, for
    // libVLC reads the pipe on.
    m_worker->post([feed = m_feed] { feed->stopCopying(); });
    return true;
}

qint64 VlcMediaPlayer::liveBytesFed() const
{
    return m_feed ? m_feed->fedTo() : -1;
}

bool VlcMediaPlayer::resumeLive(const QStringList &options, int marginMs)
{
    if (!m_buffer || m_feed)
        return false;
    auto feed = std::make_shared<PipeFeed>(m_buffer);
    if (!feed->valid())
        return false;
    m_feed = feed;
    QStringList all = options;
    all << QStringLiteral(":file-caching=%1").arg(marginMs);
    qCDebug(lcVlc) << "play live stream on through a new pipe" << all;
    // The copying starts on the worker, after the suspended media's bytes were put back.
    m_worker->post([feed] { feed->start(); });
    return start(libvlc_media_new_fd(m_instance->native(), feed->readFd()), all);
}

bool VlcMediaPlayer::start(libvlc_media_t *media, const QStringList &options)
{
    m_seekable = false;
    m_hasLength = false;
    m_media = media;
    if (!m_media)
        return false;
    for (const QString &option : options)
        libvlc_media_add_option(m_media, option.toUtf8().constData());
    libvlc_media_retain(m_media); // one reference for the worker's call below
    libvlc_media_player_t *player = m_player;
    libvlc_media_t *current = m_media;
    const quint64 generation = m_generation.load();
    m_worker->post([this, player, current, generation] {
        libvlc_media_player_set_media(player, current);
        libvlc_media_release(current);
        m_running = true; // what was stopped before has stopped: its audio and locks are gone
        if (libvlc_media_player_play(player) != 0) {
            QMetaObject::invokeMethod(this, [this, generation] {
                Event event;
                event.type = libvlc_MediaPlayerEncounteredError;
                deliver(generation, event);
            }, Qt::QueuedConnection);
        }
    });
    return true;
}

void VlcMediaPlayer::stop()
{
    m_running = false;
    // Events still on their way belong to the old media from here on.
    ++m_generation;
    retire();
}

void VlcMediaPlayer::retire()
{
    // A read waiting for data returns at once, so that libVLC's stop does not wait for it.
    if (m_buffer)
        m_buffer->abort();
    libvlc_media_player_t *player = m_player;
    std::shared_ptr<PipeFeed> feed = std::move(m_feed);
    std::shared_ptr<StreamBuffer> buffer = std::move(m_buffer);
    libvlc_media_t *media = std::exchange(m_media, nullptr);
    // libVLC's stop returns once the input thread has ended: no event of the old media comes
    // later, and the ones it raised on the way carry the old number. The pipe's copying ends
    // then (its thread, woken by the aborted buffer, is joined there, not on the GUI thread,
    // which on a busy machine could wait for it to be scheduled), and the buffer and the media
    // are let go.
    m_worker->post([player, feed, buffer, media] {
        libvlc_media_player_stop(player);
        if (feed)
            feed->stop();
        if (media)
            libvlc_media_release(media);
    });
}

// Calls that reach libVLC's input take the lock that its stop holds while it waits for the input
// thread to end, on the worker: they are made only while the current media runs, so that the
// GUI thread never waits for a stop.
void VlcMediaPlayer::setPause(bool pause)
{
    if (m_running)
        libvlc_media_player_set_pause(m_player, pause ? 1 : 0);
}

void VlcMediaPlayer::setPosition(double fraction)
{
    if (m_running)
        libvlc_media_player_set_position(m_player, float(fraction));
}

// Volume, mute, speed, filters and delay reach libVLC's audio output, which a stop tears down
// holding the locks these calls take: they are made on the worker, after whatever it runs.
void VlcMediaPlayer::setVolume(int volume)
{
    m_worker->post([player = m_player, v = qBound(0, volume, 100)] { libvlc_audio_set_volume(player, v); });
}

void VlcMediaPlayer::setMuted(bool muted)
{
    m_worker->post([player = m_player, muted] { libvlc_audio_set_mute(player, muted ? 1 : 0); });
}

void VlcMediaPlayer::setRate(double rate)
{
    m_worker->post([player = m_player, rate] { libvlc_media_player_set_rate(player, float(rate)); });
}

void VlcMediaPlayer::setEvenLoudness(bool on)
{
    m_worker->post([player = m_player, on] { setAudioFilters(player, on ? "compressor" : ""); });
}

void VlcMediaPlayer::setVideoWindow(quint32 xid) { libvlc_media_player_set_xwindow(m_player, xid); }
void VlcMediaPlayer::setAudioDelay(qint64 microseconds)
{
    m_worker->post([player = m_player, microseconds] { libvlc_audio_set_delay(player, microseconds); });
}

void VlcMediaPlayer::divertAudio(AudioSink &sink)
{
    // Called on libVLC's audio thread; count is in samples of the one channel asked for. The
    // stopped media's audio, decoded ahead and still arriving until the worker has stopped it,
    // is not the sink's: it takes audio only from a media started after the last stop.
    m_sink = &sink;
    const auto play = [](void *data, const void *samples, unsigned count, int64_t) {
        auto *self = static_cast<VlcMediaPlayer *>(data);
        if (self->m_running.load())
            self->m_sink->takeSamples(static_cast<const qint16 *>(samples), count);
    };
    libvlc_audio_set_callbacks(m_player, play, nullptr, nullptr, nullptr, nullptr, this);
    libvlc_audio_set_format(m_player, "S16N", AudioSink::kRate, 1);
}

void VlcMediaPlayer::keepAspect()
{
    // Scale 0 fits the picture into the window keeping its aspect; without an aspect ratio
    // of our own the source's ratio is used.
    libvlc_video_set_scale(m_player, 0);
    libvlc_video_set_aspect_ratio(m_player, nullptr);
}

bool VlcMediaPlayer::isSeekable() const { return m_running && !m_liveBuffer && libvlc_media_player_is_seekable(m_player) != 0; }
bool VlcMediaPlayer::canPause() const { return m_running && libvlc_media_player_can_pause(m_player) != 0; }
double VlcMediaPlayer::rate() const
{
    return libvlc_media_player_get_rate(m_player);
}
qint64 VlcMediaPlayer::timeMs() const { return m_running ? libvlc_media_player_get_time(m_player) : -1; }
qint64 VlcMediaPlayer::lengthMs() const { return m_running ? qMax<qint64>(0, libvlc_media_player_get_length(m_player)) : 0; }

VlcMediaPlayer::AudioCounts VlcMediaPlayer::audioCounts() const
{
    AudioCounts counts;
    libvlc_media_stats_t stats;
    if (m_media && libvlc_media_get_stats(m_media, &stats)) {
        counts.decoded = stats.i_decoded_audio;
        counts.played = stats.i_played_abuffers;
    }
    return counts;
}

} // namespace lumora
