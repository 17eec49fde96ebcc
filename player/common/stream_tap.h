#pragma once

#include <QByteArray>
#include <QString>

namespace lumora {

// Whoever wants a station's own bytes as they arrive (a recording): the stream exactly as the
// decoder is given it, with the ICY titles already taken out and MMS unframed into ASF.
// Every call comes on the GUI thread, from the connection that writes the bytes.
class StreamTap {
public:
    virtual ~StreamTap() = default;
    // A stream starts: its content type as the server named it, and the container its first
    // bytes showed where that is certain ("ogg", "asf"), else empty.
    virtual void streamBegan(const QString &contentType, const QString &container) = 0;
    virtual void streamBytes(const QByteArray &bytes) = 0;
    // The stream's title changed here, between the bytes before and those after. A player
    // shows it later, when its audio is heard.
    virtual void streamTitle(const QString &title) { (void)title; }
    // The stream is over: stopped, ended, or given up.
    virtual void streamEnded() = 0;
};

} // namespace lumora
