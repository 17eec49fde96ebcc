#pragma once

#include "http_request.h"
#include "stream_source.h"

#include <memory>

namespace lumora {

// A stream over HTTP (or a SHOUTcast server's ICY): the connection that answered the first
// request goes on feeding the buffer, with the ICY metadata taken out and turned into titles.
// A file with a length from a server that takes byte ranges can seek: each seek is a new
// request for the rest of the file from that offset, to the same checked address.
class HttpStream : public StreamSource {
    Q_OBJECT
public:
    // Takes over request, whose head is in; firstBytes is the body it has read so far.
    HttpStream(std::unique_ptr<HttpRequest> request, const QByteArray &firstBytes);
    ~HttpStream() override;

    void close() override;

private:
    void attach(HttpRequest *request, quint64 epoch);
    void pump(quint64 epoch);
    void watchPacing(const QByteArray &bytes);
    void onSeek(quint64 offset, quint64 epoch);

    std::unique_ptr<HttpRequest> m_request;
    int m_pageMs = 0; // a live Ogg stream: the longest stretch of audio one page carried
    QString m_lastTitle;
    bool m_closed = false;
};

} // namespace lumora
