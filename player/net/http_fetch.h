#pragma once

#include "body_reader.h"
#include "http_request.h"
#include "player/common/player_status.h"
#include "player/playlists/playlist_formats.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

namespace lumora {

class HttpStream;

struct FetchLimits {
    int timeoutMs = 8000;                   // connect, answer and (for a playlist) whole body
    qint64 maxBodyBytes = 1024 * 1024;      // a playlist or page larger than this is refused
    // A live stream announced by its headers (icy-* headers, an audio codec's type) is taken
    // at its word without waiting for its first bytes. A health check that must see data
    // turns this off.
    bool streamByHeaders = true;
    EntryLimits entries; // what of a playlist is taken
    // Ask for a compressed body (Accept-Encoding: gzip, deflate): the address may be a
    // playlist or a page. Off where the answer is known to be audio (a stream's redial).
    bool askCompressed = true;
};

struct FetchResult {
    enum class Outcome { Stream, Playlist, Redirect, Failed };

    Outcome outcome = Outcome::Failed;
    Content content; // Stream: Stream/MmshStream/Hls; Playlist: its format
    QString address;  // the address fetched (wire form)
    QString location; // Redirect: the target as the server wrote it, made absolute
    QStringList entries;       // Playlist: its entries, absolute and in wire form (BodyReading)
    QStringList entryProblems; // Playlist: entries left out, and why
    int listed = 0;            // Playlist: the entries it held
    QString error;    // Failed: what went wrong
    OpenFailure failure = OpenFailure::None; // Failed: in a listener's terms
    int status = 0;   // the answer's status code, when there was one
    bool connected = false; // the connection to the server was made (a failure after it is the server's)
    QByteArray contentType; // the Content-Type header as sent, when the answer had one
    QString icyName;  // the icy-name header (the station's name), plain text
    QByteArray body;  // Stream of kind Hls: the whole playlist, for HlsStream to read
};

// One GET of an http or https address, looking at the answer just far enough to tell a stream
// from a playlist. A playlist or page is read whole (within the limits), then judged and its
// entries read by a BodyReader, off this thread when it is large. A stream is not dropped:
// its connection, with the bytes read so far, is kept for takeStream(), so that the answer
// that was judged is the one that plays.
class HttpFetch : public QObject {
    Q_OBJECT
public:
    explicit HttpFetch(QObject *parent = nullptr);
    ~HttpFetch() override;

    // Starts a fetch; finished() is emitted exactly once, never from inside start().
    void start(const QString &wireAddress, const FetchLimits &limits);
    // Drops the connection; finished() is not emitted.
    void abort();
    // After finished() with a Stream outcome (not MMSH or HLS): the open stream. Once.
    std::unique_ptr<HttpStream> takeStream();
    // Instead of takeStream(): the bare connection whose head is in, and the body read so
    // far, for a stream that goes on through another connection. Once.
    std::unique_ptr<HttpRequest> takeConnection(QByteArray *firstBytes);

signals:
    void finished(const lumora::FetchResult &result);

private:
    void onHead();
    void onBody();
    void judge(bool complete);
    void onRead(const BodyReading &reading);
    void failNotPlayable();
    void finish(FetchResult result);
    void fail(OpenFailure failure, const QString &error, int status = 0);

    FetchLimits m_limits;
    QString m_address;
    std::unique_ptr<HttpRequest> m_request;
    bool m_streamReady = false; // m_request and m_body wait for takeStream()
    QByteArray m_body;
    BodyReader m_reader;         // the whole body, judged and its entries read
    bool m_partialGuess = false; // judged a playlist on a partial body
    bool m_partialJudged = false; // a partial body as large as recogniseContent looks at was judged
    bool m_done = false;
};

} // namespace lumora
