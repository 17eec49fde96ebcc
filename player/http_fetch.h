#pragma once

#include "playlist_formats.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QAbstractSocket;

namespace lumora {

struct FetchLimits {
    int timeoutMs = 8000;                   // connect, answer and (for a playlist) whole body
    qint64 maxBodyBytes = 1024 * 1024;      // a playlist or page larger than this is refused
    qint64 maxHeaderBytes = 16 * 1024;
    // A live stream announced by its headers (icy-* headers, an audio codec's type) is taken
    // at its word without waiting for its first bytes. A health check that must see data
    // turns this off.
    bool streamByHeaders = true;
};

struct FetchResult {
    enum class Outcome { Stream, Playlist, Redirect, Failed };

    Outcome outcome = Outcome::Failed;
    ContentKind kind = ContentKind::NotPlayable; // Stream: Stream/MmshStream/Hls; Playlist: its form
    QString address;  // the address fetched (wire form)
    QString location; // Redirect: the absolute target
    QByteArray body;  // Playlist: the whole body
    QString error;    // Failed: what went wrong
    QByteArray contentType; // the Content-Type header as sent, when the answer had one
    QString icyName;  // the icy-name header (the station's name), when the answer had one
};

// One GET of an http or https address, looking at the answer just far enough to tell a stream
// from a playlist. A stream is not downloaded: the connection is dropped after its first
// bytes, and libVLC opens the address afresh.
//
// A plain socket rather than QNetworkAccessManager because SHOUTcast servers answer with an
// "ICY 200 OK" status line, which is no HTTP and which QNetworkAccessManager rejects; and the
// request is HTTP/1.0 with "Connection: close" so that a body ends with its connection.
class HttpFetch : public QObject {
    Q_OBJECT
public:
    explicit HttpFetch(QObject *parent = nullptr);
    ~HttpFetch() override;

    // Starts a fetch; finished() is emitted exactly once, never from inside start().
    void start(const QString &wireAddress, const FetchLimits &limits);
    // Drops the connection; finished() is not emitted.
    void abort();

signals:
    void finished(const lumora::FetchResult &result);

private:
    void onConnected();
    void onReadable();
    void onClosed();
    void onSocketError();
    void process();
    bool takeChunks();
    void finish(FetchResult result);
    void fail(const QString &error);
    void dropSocket();

    FetchLimits m_limits;
    QString m_address;
    QByteArray m_request;
    QAbstractSocket *m_socket = nullptr;
    QTimer m_timer;
    QByteArray m_buffer;   // header bytes until the header ends, then raw (chunked) body
    QByteArray m_body;
    QByteArray m_contentType;
    QString m_icyName;
    qint64 m_contentLength = -1;
    bool m_headerDone = false;
    bool m_icyHeaders = false; // any icy-* header: a SHOUTcast or Icecast server
    bool m_chunked = false;
    bool m_chunksDone = false;
    bool m_closed = false;
    bool m_done = false;
};

} // namespace lumora
