#pragma once

#include "http_fetch.h"
#include "player/common/player_status.h"
#include "stream_opener.h"
#include "stream_source.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <memory>

namespace lumora {

// Opens the stream behind the address a station gives, on Lumora's own connections.
//
// http(s) addresses are fetched here, with bounds on time, size, redirects and nesting, and
// recognised by what they hold. Playlist entries are tried in order, depth first. The answer
// that is judged a stream keeps its connection: found() hands over its address, and
// takeSource() the open stream, whose bytes go to libVLC through a buffer. mms addresses are
// opened as MMS over HTTP here (MmshStream); an HTTP Live Streaming playlist is played by
// fetching its segments here (HlsStream). Only when no HTTP server answers there is the
// address handed on as an explicit mmst:// address, the one address libVLC opens itself.
// If libVLC cannot play what was found, next() goes on with the following entry.
//
// Every address, the station's own, a redirect's target or a playlist entry, must use a
// network scheme Lumora speaks (http, https, mms, mmsh, mmst): nothing a server sends can
// open a local file, a device, a capture source or a listening socket.
//
// Everything runs on the thread that owns the resolver, through its event loop; no call blocks.
// A large playlist or page alone is judged and read on a worker (BodyReader), and what it
// finds comes back through the event loop; cancel() and resolve() drop a reading under way
// without waiting for it.
class StreamResolver : public StreamOpener {
    Q_OBJECT
public:
    struct Limits {
        int fetchTimeoutMs = 8000;        // one request: connect, answer, playlist body
        int totalTimeoutMs = 20000;       // all requests of one resolution together
        qint64 maxBodyBytes = 1024 * 1024; // a larger playlist or page is refused
        int maxRedirects = 5;             // per entry
        int maxDepth = 4;                 // playlists inside playlists
        int maxEntriesPerPlaylist = 32;   // later entries are ignored
        qsizetype maxAddressChars = 8 * 1024; // a longer entry is left out (see EntryLimits)
        int maxRequests = 48;             // requests of one resolution
        bool streamByHeaders = true;      // see FetchLimits
        bool mmstFallback = true;         // mms: MMS over TCP through libVLC when MMSH fails
        qint64 hlsMaxBandwidth = 0;       // HLS: the highest variant bandwidth (bit/s); 0: any
    };

    // What the answer of the address last handed over by found() said of itself. Nothing for
    // an address handed over without being fetched (mms and the like).
    struct StreamInfo {
        bool fetched = false; // the address was fetched here and answered as a stream
        QString contentType;  // the Content-Type header, e.g. "audio/mpeg"
        QString icyName;      // the icy-name header: the name a radio server gives its station
    };

    explicit StreamResolver(QObject *parent = nullptr);
    ~StreamResolver() override;

    void setLimits(const Limits &limits) { m_limits = limits; }
    const Limits &limits() const { return m_limits; }

    // Starts resolving address (as written; it is put into wire form here), abandoning any
    // earlier resolution. found() or failed() follow, never from inside this call.
    void resolve(const QString &address) override;
    // The address of the last found() could not be played: continue with the next entry.
    void next() override;
    // Abandons the current resolution; no further signal comes from it.
    void cancel() override;

    // Valid from found() until the next resolve().
    const StreamInfo &streamInfo() const { return m_streamInfo; }
    // After found(): the open stream of that address, or nothing for an mmst:// address,
    // which libVLC opens itself. Once.
    std::unique_ptr<StreamSource> takeSource() override;
    // After failed(): why, in a listener's terms. A server's own answer (not found, an
    // error) wins over problems met with entries tried after it.
    OpenFailure failure() const override { return m_failure; }
    int serverStatus() const override { return m_serverStatus; }

private:
    struct Candidate {
        QString address; // wire form
        int depth = 0;
        int redirects = 0;
    };

    void scheduleStep();
    void openMmsh(const Candidate &c);
    void openHls(const Candidate &c, const QByteArray &playlist, const QByteArray &contentType);
    void noteFailure(OpenFailure failure, int status);
    void step();
    void onFetched(const FetchResult &result);
    void pushEntries(const FetchResult &result, const Candidate &from);
    void emitFound(const QString &address);
    void giveUp(OpenFailure failure, const QString &reason);
    void startClock();
    void stopClock();

    Limits m_limits;
    std::deque<Candidate> m_pending;
    Candidate m_current;
    StreamInfo m_streamInfo;
    QSet<QString> m_seen;
    QStringList m_problems;
    std::unique_ptr<HttpFetch> m_fetch;
    std::unique_ptr<StreamSource> m_source;   // opened, not yet taken
    std::unique_ptr<class MmshStream> m_mmsh; // opening
    std::unique_ptr<class HlsStream> m_hls;   // opening
    OpenFailure m_failure = OpenFailure::None;
    int m_serverStatus = 0;
    QTimer m_deadline;
    QElapsedTimer m_clock;
    qint64 m_budgetMs = 0;
    int m_requests = 0;
    quint64 m_run = 0;
    bool m_busy = false;
    bool m_awaitingVerdict = false; // found() given, next() may follow
};

} // namespace lumora
