#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <memory>
#include <utility>

namespace lumora {

// The status line and headers of an answer.
struct HttpHead {
    bool icy = false;        // "ICY 200 OK": a SHOUTcast server, no HTTP
    int status = 0;          // 200, 302, 404, ...
    QByteArray statusLine;   // as sent, without the line end
    QList<std::pair<QByteArray, QByteArray>> headers; // names in lower case, values trimmed
    qint64 contentLength = -1; // -1: none given
    bool chunked = false;
    int metaint = 0;         // icy-metaint: audio bytes between two metadata blocks; 0: none
    bool compressed = false; // Content-Encoding gzip or deflate: the body is given decoded

    // The first value of a header (name in lower case), or an empty array.
    QByteArray value(QByteArrayView name) const;
    bool anyIcyHeader() const;
};

class ContentDecoder;

// Reads an HTTP/1.x (or SHOUTcast "ICY") answer as it arrives, in pieces of any size: the
// head, then the body, undoing chunked transfer coding and gzip or deflate content coding
// (ContentDecoder, bounded) and taking out the ICY metadata blocks when the server
// interleaves them. Every size the server states is checked against a limit
// before it is used in any arithmetic, so no answer can make it loop, overflow or allocate
// without bound.
class HttpResponseParser {
public:
    struct Limits {
        qsizetype maxHeaderBytes = 16 * 1024;
        int maxHeaderLines = 100;
        qint64 maxChunkBytes = 16 * 1024 * 1024;   // one chunk of a chunked body
        qint64 maxContentLength = qint64(1) << 50; // a stated length beyond this is a lie
        int maxMetaint = 1024 * 1024;
        qint64 maxDecodedBytes = qint64(1) << 50; // a compressed body decoded to more fails
        qsizetype maxTrailerBytes = 16 * 1024;     // the trailer of a chunked body, all its lines
    };

    enum class State { Head, Body, Done, Failed };

    HttpResponseParser();
    explicit HttpResponseParser(Limits limits);
    ~HttpResponseParser();
    HttpResponseParser(const HttpResponseParser &) = delete;
    HttpResponseParser &operator=(const HttpResponseParser &) = delete;

    // Whether the request asked for ICY metadata (Icy-MetaData: 1). Only then is icy-metaint
    // honoured: a server that sends it unasked is not believed.
    void setMetadataRequested(bool requested) { m_metaRequested = requested; }
    // The most a compressed body may decode to (a playlist's size limit); set before the head.
    // A body handed on as a stream is given a new limit.
    void setMaxDecodedBytes(qint64 bytes);

    // Takes the next bytes from the connection.
    State feed(QByteArrayView bytes);
    // The connection was closed. A body without a stated length ends here; a cut chunked or
    // sized body is a failure only when nothing of it was decoded.
    State close();

    State state() const { return m_state; }
    const HttpHead &head() const { return m_head; }
    QString error() const { return m_error; }
    // The failure was the content coding's: a corrupt compressed body or one that expands
    // beyond its bounds.
    bool bodyUndecodable() const { return m_undecodable; }

    // Body bytes decoded so far and not yet taken.
    QByteArray takeBody();
    qsizetype pendingBody() const { return m_body.size(); }
    // An ICY metadata block ("StreamTitle='...';") and where it sat: after this many of the
    // body bytes not yet taken when it came.
    struct Metadata {
        QByteArray block;
        qsizetype after = 0;
    };
    // Metadata blocks received so far and not yet taken, in order. Take the body first:
    // their places count in the body taken with them.
    QList<Metadata> takeMetadata();
    // The body ended where its framing said: the stated length reached, or the last chunk and
    // its trailer read. False for a body that ends with the connection (cut short or unframed).
    bool endedByFraming() const { return m_framedEnd; }
    // Bytes that came after the end of the answer: never part of it, and a sign that the
    // connection holds something nobody asked for.
    qint64 surplusBytes() const { return m_surplus; }

private:
    State fail(const QString &error);
    void parseHead(QByteArrayView head);
    void decodeBody(QByteArrayView bytes);
    void decodeSized(QByteArrayView bytes);
    void decodeChunked(QByteArrayView bytes);
    void takeTrailerLine(const QByteArray &line, qsizetype bytesAfter);
    void takeSizeLine(QByteArray line);
    void takeContent(QByteArrayView bytes);
    void takeDecoded(QByteArrayView bytes);
    void unframeIcy(QByteArrayView bytes);

    enum class Chunk { Size, Data, DataEnd, Trailer };

    Limits m_limits;
    State m_state = State::Head;
    QString m_error;
    HttpHead m_head;
    QByteArray m_pending; // head bytes, or a partial chunk-size or trailer line
    QByteArray m_body;
    QList<Metadata> m_metadata;
    qint64 m_bodyBytes = 0;
    qint64 m_contentLeft = -1; // sized body: bytes still to come
    qint64 m_surplus = 0;
    static constexpr int kMaxInterimHeads = 4;
    int m_interimHeads = 0;
    bool m_framedEnd = false;
    bool m_metaRequested = false;
    bool m_undecodable = false;
    // chunked
    Chunk m_chunk = Chunk::Size;
    qint64 m_chunkLeft = 0;
    qsizetype m_trailerBytes = 0;
    // ICY framing
    qint64 m_audioLeft = 0;   // audio bytes before the next metadata length byte
    qint64 m_metaLeft = -1;   // metadata bytes still to come; -1: not inside a block
    QByteArray m_meta;
    std::unique_ptr<ContentDecoder> m_decoder; // a compressed body
};

} // namespace lumora
