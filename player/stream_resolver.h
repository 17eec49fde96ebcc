#pragma once

#include "http_fetch.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <memory>

namespace lumora {

// Turns the address a station gives into one that libVLC can play.
//
// libVLC on its own does not get far with the addresses radio stations publish: a bare media
// player ends after adding the entries of a playlist, it knows ASX only by extension or MIME
// type and WPL only by extension, a web page "plays" and ends without an error, and a server
// that accepts and never answers keeps it opening for ever. So http(s) addresses are fetched
// here first, with bounds on time, size, redirects and nesting, and recognised by what they
// hold. Playlist entries are tried in order, depth first; found() hands over the first
// address that answers as a stream. If libVLC then cannot play it, next() goes on with the
// following entry. mms, mmsh, mmst, rtsp and pnm addresses cannot be fetched over HTTP and go
// to libVLC as they are (libVLC tries MMST, then MMSH).
//
// Entries taken from a playlist must use a network scheme: a remote playlist must never open
// local files, devices, microphones or cameras.
//
// Everything runs on the thread that owns the resolver, through its event loop; no call blocks.
class StreamResolver : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int fetchTimeoutMs = 8000;        // one request: connect, answer, playlist body
        int totalTimeoutMs = 20000;       // all requests of one resolution together
        qint64 maxBodyBytes = 1024 * 1024; // a larger playlist or page is refused
        int maxRedirects = 5;             // per entry
        int maxDepth = 4;                 // playlists inside playlists
        int maxEntriesPerPlaylist = 32;   // later entries are ignored
        int maxRequests = 48;             // requests of one resolution
        bool streamByHeaders = true;      // see FetchLimits
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
    void resolve(const QString &address);
    // The address of the last found() could not be played: continue with the next entry.
    void next();
    // Abandons the current resolution; no further signal comes from it.
    void cancel();

    bool isBusy() const { return m_busy; }
    // Valid from found() until the next resolve().
    const StreamInfo &streamInfo() const { return m_streamInfo; }

signals:
    // An address for libVLC, in wire form.
    void found(const QString &streamAddress);
    // Every entry failed, or nothing answered within the time limits.
    void failed(const QString &reason);

private:
    struct Candidate {
        QString address; // wire form
        int depth = 0;
        int redirects = 0;
    };

    void scheduleStep();
    void step();
    void onFetched(const FetchResult &result);
    void pushEntries(const FetchResult &result, const Candidate &from);
    void emitFound(const QString &address);
    void giveUp(const QString &reason);
    void startClock();
    void stopClock();

    Limits m_limits;
    std::deque<Candidate> m_pending;
    Candidate m_current;
    StreamInfo m_streamInfo;
    QSet<QString> m_seen;
    QStringList m_problems;
    std::unique_ptr<HttpFetch> m_fetch;
    QTimer m_deadline;
    QElapsedTimer m_clock;
    qint64 m_budgetMs = 0;
    int m_requests = 0;
    quint64 m_run = 0;
    bool m_busy = false;
    bool m_awaitingVerdict = false; // found() given, next() may follow
};

} // namespace lumora
