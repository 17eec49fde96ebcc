#pragma once

#include "hls_playlist.h"
#include "http_connection_pool.h"
#include "http_get.h"
#include "stream_source.h"
#include "ts_timed_id3.h"
#include "ts_timeline.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTimer>
#include <memory>

namespace lumora {

// A station that streams HTTP Live Streaming, fetched by Lumora itself: the playlist (a
// master playlist's variant, chosen here), its segments in order, keys and initialisation
// sections, every address checked (http, https only), every fetch with a deadline and every
// body bounded. The segments' bytes are written one after the other into one buffer, so
// libVLC reads one continuous stream and is given no address: MPEG-TS as it is, packed audio
// (ADTS, MP3) with the ID3 tag that starts each segment cut out and its title (TIT2) shown,
// fragmented MP4 as its initialisation section once and then the fragments.
//
// A finished playlist (EXT-X-ENDLIST) is played from its start and lasts as long as its
// segments together; restartAt() starts it again, into a new buffer, from the segment that
// holds a moment of it, which is how a listener's seek reaches it.
//
// A live playlist is joined three target durations from its end, reloaded every target
// duration (half of it after a reload that brought nothing new); segments that left the
// playlist before they were fetched are skipped, ones listed again are not fetched twice. A
// segment that cannot be fetched is asked for once more, then skipped. A playlist that brings
// no new segment for three target durations ends the stream, with the reason.
//
// The variant played is the one of highest bandwidth within the listener's limit. When
// segments take longer to fetch than they play, the next lower variant takes over; after a
// minute in which the next higher one would have come in time with room to spare, it is
// tried again.
//
// The playlist reloads, segments, keys and initialisation sections of one stream share their
// connections (HTTP/1.1 keep-alive, an HttpConnectionPool of the stream's own): a live
// stream's fetches, one or two each target duration, go over one connection while the
// server keeps it.
class HlsStream : public StreamSource {
    Q_OBJECT
public:
    struct Settings {
        qint64 maxBandwidth = 0; // bits per second a variant may announce; 0: no limit
        int fetchTimeoutMs = 8000;             // a playlist or a key
        qint64 maxPlaylistBytes = 1024 * 1024;
        qint64 maxSegmentBytes = 16 * 1024 * 1024;
        int retryDelayMs = 500;                // before a failed segment is asked for again
        int stepUpAfterMs = 60000;             // headroom before a higher variant is tried
        bool keepConnections = true;           // false: a new connection for every fetch
    };

    // address: the playlist's address (wire form); playlist: its body, already fetched.
    HlsStream(const QString &address, const QByteArray &playlist, const Settings &settings,
              QObject *parent = nullptr);
    ~HlsStream() override;

    // Reads the playlist, fetches what is needed and the first segment; opened() or failed()
    // follow, never from inside this call.
    void start();
    void close() override;
    qint64 durationMs() const override;
    qint64 startMs() const override { return m_startMs; }
    bool restartAt(qint64 ms) override;

    // The media playlist played and the bandwidth its variant announced (0: no master).
    QString mediaAddress() const { return m_mediaAddress; }
    qint64 variantBandwidth() const;

signals:
    // The first segment is in the buffer, and container() says what it is.
    void opened();
    void failed(lumora::OpenFailure failure, const QString &reason);
    // Another variant is played from the next segment on.
    void variantChanged(const QString &mediaAddress, qint64 bandwidth);

private:
    void takePlaylist(const QByteArray &body, const QString &address);
    void chooseVariant();
    void loadPlaylist();
    void onPlaylist(const HlsPlaylist &playlist);
    void scheduleReload(bool advanced);
    void checkStall();
    void pump();
    void fetchKey(const QString &uri);
    void fetchMap(const HlsSegment &segment);
    void fetchSegment(const HlsSegment &segment);
    void onSegment(const HlsSegment &segment, QByteArray bytes, qint64 elapsedMs);
    void onSegmentFailed(const HlsSegment &segment, OpenFailure failure, const QString &reason);
    void write(const QByteArray &bytes);
    void adapt(const HlsSegment &segment, qint64 elapsedMs);
    void switchVariant(int index, const char *why);
    void fail(OpenFailure failure, const QString &reason);
    void end(OpenFailure failure, const QString &reason);
    std::unique_ptr<HttpGet> newGet();
    void newBuffer();

    Settings m_settings;
    QByteArray m_firstBody;
    QList<HlsVariant> m_variants; // from the master playlist, lowest bandwidth first
    int m_variant = -1;
    QString m_mediaAddress;
    HlsPlaylist m_playlist;
    qint64 m_nextSequence = -1; // the next segment to fetch; -1 before the first playlist
    qint64 m_newestSequence = -1;
    qint64 m_retried = -1;      // the segment asked for a second time
    int m_skippedInRow = 0;
    HttpConnectionPool m_connections;
    std::unique_ptr<HttpGet> m_playlistGet;
    std::unique_ptr<HttpGet> m_segmentGet;
    QHash<QString, QByteArray> m_keys; // by address
    QString m_mapWritten;            // the initialisation section written last (address@offset)
    QByteArray m_map;                // its bytes, fetched for the segment being fetched
    QString m_mapFetched;
    QTimer m_reload;
    QTimer m_retry;
    QElapsedTimer m_sinceAdvance;  // since the playlist last brought a new segment
    QElapsedTimer m_headroomSince; // since segments last came without room for the next variant
    int m_slowInRow = 0;
    qint64 m_startMs = 0;          // a finished playlist: where the buffer begins
    qint64 m_skipMs = 0;           // after a seek: how far into the next segment it begins
    bool m_waitingForSpace = false;
    bool m_announcedStall = false;
    bool m_opened = false;
    bool m_closed = false;
    bool m_ended = false;
    QString m_lastTitle;
    TsTimedId3 m_timedId3; // titles in MPEG-TS segments
    TsTimeline m_timeline; // MPEG-TS time stamps carried on across discontinuities
};

} // namespace lumora
