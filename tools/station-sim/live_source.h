#pragma once

#include "tone_encoder.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace lumora::sim {

// Inserts SHOUTcast metadata blocks into an MP3 byte stream: after every `metaint` bytes of
// audio, one length byte (in units of 16) and "StreamTitle='...';" padded with zeros.
class IcyFramer {
public:
    IcyFramer(int metaint, const QString &title);
    QByteArray frame(const QByteArray &audio);

private:
    QByteArray metadataBlock();
    int m_metaint;
    int m_untilMeta;
    QByteArray m_title;
    int m_blocks = 0;
};

// One endless body of a streaming answer, produced a slice of time at a time.
class LiveSource {
public:
    enum class Framing {
        Mp3,      // MP3 frames
        Mp3Icy,   // MP3 frames with ICY metadata blocks
        MmshPlay, // $H chunk with the ASF header, then one $D chunk per ASF packet
        MmshDescribe, // one $H chunk, then the body ends
        Real,     // RealMedia header, then packets
        Junk,     // bytes that are no audio at all
    };

    LiveSource(Framing framing, ToneEncoder::Format format, int toneHz,
               const QString &title = {}, int metaint = 0);
    ~LiveSource();

    bool ok() const;
    QString errorString() const;
    // The next `ms` milliseconds of the stream (the header first where there is one).
    QByteArray next(qint64 ms);
    // True when the body has no more bytes (describe answers only).
    bool finished() const { return m_finished; }

    static constexpr int kJunkBytesPerSecond = 8000;
    static QByteArray chunk(quint16 type, quint32 sequence, quint16 flags, const QByteArray &data);

private:
    Framing m_framing;
    std::unique_ptr<ToneEncoder> m_encoder;
    std::unique_ptr<IcyFramer> m_icy;
    bool m_started = false;
    bool m_finished = false;
    quint32 m_sequence = 0;
    quint32 m_junkState = 0x2545F491u;
};

} // namespace lumora::sim
