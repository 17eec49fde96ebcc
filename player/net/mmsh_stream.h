#pragma once

#include "http_request.h"
#include "mmsh_framing.h"
#include "stream_source.h"

#include <memory>

namespace lumora {

// Windows Media over HTTP (MMSH), spoken by Lumora itself: a "describe" request for the ASF
// header and its streams, then a "play" request for all of them; the framed answer is taken
// apart (MmshUnframer) into the plain ASF stream that goes to libVLC. Both requests go to the
// one address given, so nothing a server sends can lead anywhere else.
class MmshStream : public StreamSource {
    Q_OBJECT
public:
    // address: mmsh:// (or an http:// address that answered with framed ASF), wire form.
    explicit MmshStream(const QString &address, int timeoutMs = 8000, QObject *parent = nullptr);
    ~MmshStream() override;

    // Starts the describe request; opened() or failed() follow, never from inside.
    void start();
    void close() override;

signals:
    // The play request has answered with the header: the buffer holds it.
    void opened();
    void failed(lumora::OpenFailure failure, const QString &reason);

private:
    HttpRequest::Options options(bool play) const;
    void onDescribed();
    void startPlay();
    void onPlayBody();
    void giveUp(OpenFailure failure, const QString &reason);
    void end(OpenFailure failure, const QString &reason);

    int m_timeoutMs;
    QByteArray m_clientId;
    std::unique_ptr<HttpRequest> m_request;
    MmshUnframer m_describe;
    MmshUnframer m_play;
    bool m_playing = false;
    bool m_opened = false;
    bool m_closed = false;
    bool m_ended = false;  // ended() was emitted: it is emitted once
    bool m_failed = false; // failed() was emitted: it is emitted once
};

} // namespace lumora
