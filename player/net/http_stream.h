#pragma once

#include "audio_meter.h"
#include "http_request.h"
#include "leading_tag.h"
#include "net_clock.h"
#include "reconnect_schedule.h"
#include "stream_source.h"
#include "stream_splice.h"

#include <memory>

namespace lumora {

class NetworkWatch;
class StreamRedial;

// A stream over HTTP (or a SHOUTcast server's ICY): the connection that answered the first
// request goes on feeding the buffer, with the ICY metadata taken out and turned into titles.
// A file with a length from a server that takes byte ranges can seek: each seek is a new
// request for the rest of the file from that offset, to the same checked address.
//
// A live stream (no length; not ASF, whose headers cannot be spliced) is kept through outages.
// A connection that falls silent stays open for as long as its server may resume (its backlog
// is audio), up to a long cap; after a short stall a second connection to the same address is
// opened beside it, and whichever delivers new audio first goes on, the other is closed. A
// connection that closes or breaks is replaced the same way, on a ReconnectSchedule. The new
// connection's bytes are joined onto what was written by a StreamSplice, so the reader (libVLC)
// reads one stream from one buffer, which is held (no read deadline) meanwhile.
class HttpStream : public StreamSource {
    Q_OBJECT
public:
    // The demuxer libVLC is told for MP3 or AAC by its first bytes: a run of MPEG audio
    // ("mpga") or ADTS ("es") frames, after any ID3 tag; empty when they show none.
    static QString elementaryDemuxer(const QByteArray &firstBytes);

    struct Keeping {
        int stallMs = 3000;          // silence after which a second connection is tried
        // A new connection that does not repeat the end of what was written (audio was lost,
        // or its encoder is another) takes over from a connection that is still open only
        // once that one has been silent this long: a stream that sends a page every few
        // seconds is not replaced between its pages.
        int takeOverMs = 10000;
        int silentCapMs = 120000;    // a live connection silent this long is dropped
        int answerTimeoutMs = 8000;  // a new connection: connected and answered within
        int maxRedirects = 5;        // a new connection's redirects
        ReconnectRules schedule;
        bool watchNetwork = true;    // ask Qt whether the network is reachable
    };

    // Takes over request, whose head is in; firstBytes is the body it has read so far.
    HttpStream(std::unique_ptr<HttpRequest> request, const QByteArray &firstBytes);
    ~HttpStream() override;

    void close() override;

    // The stream starts with an ID3 tag longer than the bytes read so far (an MP3 or AAC
    // file's cover picture): its container is named once the frames after the tag show
    // (libVLC finds AAC behind a tag only when told), and containerSettled() comes then, or
    // when the frames show none, the buffer is full or the stream ends.
    bool awaitsContainer() const { return m_awaitingFrames; }

    // Whether this stream is kept through outages (a live stream that can be spliced).
    bool keepsLive() const { return m_keeps; }
    // The clock and thresholds of keeping a live stream; before its first outage (tests).
    void setKeeping(std::shared_ptr<NetClock> clock, const Keeping &keeping);

signals:
    void containerSettled();

private:
    void attach(HttpRequest *request, quint64 epoch);
    void nameContainer(const QByteArray &bytes, quint64 epoch);
    void settleContainer();
    void pump(quint64 epoch);
    void holdBack();
    void take(const QByteArray &bytes, quint64 epoch); // body bytes, into the buffer
    void announceTitle(const QString &title);
    void noteCandidateTitles();
    void watchPacing(const QByteArray &bytes);
    // The ID3 tag the stream starts with: its title, when the stream has none of its own.
    void watchTag(const QByteArray &bytes, quint64 epoch);
    void onSeek(quint64 offset, quint64 epoch);

    // Keeping a live stream.
    void setUpKeeping();
    void flowing();
    void onStalled();
    void onConnectionLost(OpenFailure failure, const QString &reason);
    void beginOutage(OpenFailure why, const QString &reason);
    void scheduleTry(bool soon);
    void startTry(bool soon);
    void onTryConnected();
    void onTryFailed(OpenFailure failure, const QString &reason, bool networkDown);
    void feedCandidate(const QByteArray &firstBytes = {});
    void dropRedial();
    void dropCandidate();
    void afterFailedTry();
    void giveUp();
    bool networkDown() const;
    void onLinkReturned();
    int stallMs() const;

    std::unique_ptr<HttpRequest> m_request;
    int m_pageMs = 0; // a live Ogg stream: the longest stretch of audio one page carried
    // The first page's hint counts for at most this much (a stream joined in its middle).
    static constexpr int kPageHintCapMs = 10000;
    QString m_lastTitle;
    LeadingTag m_leadingTag;
    AudioMeter m_frames; // the frames after a leading tag, while they name the container
    bool m_awaitingFrames = false;
    bool m_closed = false;

    bool m_keeps = false;
    bool m_gaveUp = false;
    Keeping m_keeping;
    std::shared_ptr<NetClock> m_clock;
    std::unique_ptr<StreamSplice> m_splice;
    std::unique_ptr<ReconnectSchedule> m_schedule;
    std::unique_ptr<NetTimer> m_stallTimer;
    std::unique_ptr<NetTimer> m_retryTimer;
    std::unique_ptr<StreamRedial> m_redial;   // a try connecting
    std::unique_ptr<HttpRequest> m_candidate; // a try answered, its audio being joined
    QString m_candidateTitle;                 // its last title, announced if it wins
    NetworkWatch *m_watch = nullptr;
    OpenFailure m_lastFailure = OpenFailure::None;
    QString m_lastReason;
    bool m_lastNetworkDown = false;
    bool m_serverAnswered = false; // the last try reached a server
    qint64 m_lastByteAt = 0;       // when the connection in use last brought audio (clock ms)
    bool m_announced = false; // reconnecting() said in this outage: reconnected() follows
};

} // namespace lumora
