#pragma once

#include "player/common/player_status.h"
#include "stream_buffer.h"

#include <QObject>
#include <QString>
#include <memory>

namespace lumora {

// A stream that Lumora has opened and feeds, byte by byte as its server sends them, into a
// StreamBuffer that libVLC reads. libVLC never sees the address: whatever the server says
// later (a redirect, a playlist, another answer) reaches nobody but this connection.
// Lives on the GUI thread; only its buffer is shared with libVLC's thread.
class StreamSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~StreamSource() override = default;

    std::shared_ptr<StreamBuffer> buffer() const { return m_buffer; }
    QString address() const { return m_address; }        // wire form, for logs
    QString contentType() const { return m_contentType; } // as the server named it
    QString stationName() const { return m_stationName; } // icy-name, plain text
    // libVLC's demuxer for it, where its first bytes (or, for Ogg, its type) show it: "ogg",
    // "asf", "mpga" (MP3 frames), "es" (AAC in ADTS frames); else empty.
    QString container() const { return m_container; }

    // Drops the connection and aborts the buffer: libVLC's reads end at once.
    virtual void close() = 0;

    // A stream of known duration made of pieces that can each be fetched on their own (a
    // finished HTTP Live Streaming playlist): its duration in milliseconds; -1 for any other.
    virtual qint64 durationMs() const { return -1; }
    // Where in the stream the current buffer begins, in milliseconds.
    virtual qint64 startMs() const { return 0; }
    // Starts the stream again from the piece that holds ms, into a new buffer (buffer()
    // changes; the old one is aborted). false: this stream cannot.
    virtual bool restartAt(qint64 ms)
    {
        Q_UNUSED(ms);
        return false;
    }

    // Where the latest title begins in the stream's audio, on the count of the buffer's meter
    // (AudioMeter::audioMs): the audio written before it. -1: not known.
    qint64 titleAudioMs() const { return m_titleAudioMs; }

signals:
    // The stream's "now playing" text changed (plain text, possibly empty).
    void titleChanged(const QString &title);
    // The stream is over and the buffer finished: a file's server closed it (failure None)
    // or it broke; a live stream kept through outages ends only when the source gives up.
    void ended(lumora::OpenFailure failure, const QString &reason);
    // A live stream lost its flow (its connection fell silent, closed or broke) and the source
    // is getting it back on its own, into the same buffer: attempt is the try under way or
    // next (1, 2, ...), nextInMs when the next try starts (-1: one starts now), networkDown
    // whether the network itself seems gone (then tries go on without limit), why what the
    // last failure was. The buffer's reader waits meanwhile.
    void reconnecting(int attempt, int nextInMs, bool networkDown, lumora::OpenFailure why);
    // A connection delivers audio again that continues the stream.
    void reconnected();
    // The stream sends its audio in pieces this far apart (an Ogg page every few seconds).
    void spacingChanged(int ms);

protected:
    std::shared_ptr<StreamBuffer> m_buffer;
    QString m_address;
    QString m_contentType;
    QString m_stationName;
    QString m_container;
    qint64 m_titleAudioMs = -1;
};

} // namespace lumora
