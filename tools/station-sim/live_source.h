#pragma once

#include "tone_encoder.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace lumora::sim {

// What the ICY metadata of a stream says, and how often.
struct IcyTitles {
    int metaint = 8192;      // audio bytes between metadata blocks
    int blocksPerTitle = 8;  // the title goes in every nth block; the others are empty
    std::function<QByteArray(int update)> text; // StreamTitle bytes of the nth title sent
};

// Inserts SHOUTcast metadata blocks into an MP3 byte stream: after every `metaint` bytes of
// audio, one length byte (in units of 16) and "StreamTitle='...';" padded with zeros. A block
// holds at most 255 x 16 bytes: a longer title is cut so that it stays within one block.
class IcyFramer {
public:
    explicit IcyFramer(IcyTitles titles);
    QByteArray frame(const QByteArray &audio);

    static constexpr int kMaxBlockBytes = 255 * 16;

private:
    QByteArray metadataBlock();
    IcyTitles m_titles;
    int m_untilMeta;
    int m_blocks = 0;
};

// One endless body of a streaming answer, produced a slice of time at a time.
class LiveSource {
public:
    enum class Framing {
        Mp3,      // MP3 frames (or other raw frames: ADTS)
        Mp3Icy,   // MP3 frames with ICY metadata blocks
        MmshPlay, // $H chunk with the ASF header, then one $D chunk per ASF packet
        MmshDescribe, // one $H chunk, then the body ends
        Real,     // RealMedia header, then packets
        Junk,     // bytes that are no audio at all
        Ogg,      // Ogg header pages, then one page per slice
    };

    // bitRate: bits per second, 0 for the format's own.
    LiveSource(Framing framing, ToneEncoder::Format format, int toneHz, IcyTitles titles = {}, int bitRate = 0);
    ~LiveSource();

    bool ok() const;
    QString errorString() const;
    // The next `ms` milliseconds of the stream (the header first where there is one).
    QByteArray next(qint64 ms);
    // Bytes the stream starts with before its audio (raw frames only; inside the ICY framing when
    // there is one), as a stream whose encoder reads a tagged file sends its tag.
    void setPrefix(QByteArray prefix) { m_prefix = std::move(prefix); }
    // True when the body has no more bytes (describe answers only).
    bool finished() const { return m_finished; }

    static constexpr int kJunkBytesPerSecond = 8000;
    static QByteArray chunk(quint16 type, quint32 sequence, quint16 flags, const QByteArray &data);

private:
    Framing m_framing;
    std::unique_ptr<ToneEncoder> m_encoder;
    std::unique_ptr<IcyFramer> m_icy;
    bool m_started = false;
    QByteArray m_prefix;
    bool m_finished = false;
    quint32 m_sequence = 0;
    quint32 m_junkState = 0x2545F491u;
};

} // namespace lumora::sim
