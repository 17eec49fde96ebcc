#pragma once

#include "mp4_fragments.h"
#include "ts_packets.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

namespace lumora {

// Counts how much audio the bytes of a live stream carry, as they arrive: MPEG audio frames
// (MP3, MP2), AAC in ADTS frames, both also inside MPEG-TS (the first audio stream of its
// program, as HLS segments carry it), Ogg pages (Vorbis, Opus) and fragmented MP4's track runs
// (Mp4Fragments). The player compares it with
// what has been heard to know its cushion, and names the container to libVLC so that no time
// goes into probing.
//
// Frames are believed only in a run: a header counts once the next frame's header is where its
// length says. Ogg audio is the distance between the granules of two consecutive audio pages of
// one logical stream; a page after the headers has no such distance and counts as the pages
// around it do, so a stream joined in its middle, or started a minute ago at granule 0, reads
// the same. A leading ID3v2 tag of up to Id3Tag::kMaxSize (a file's cover picture) is skipped
// whole. Every length is checked; bytes that never lock on stop the counting after a bound,
// and the work per byte is bounded.
class AudioMeter {
public:
    enum class Format { Unknown, Mpeg, Adts, Ogg, Mp4 };

    void feed(QByteArrayView bytes);

    // Audio carried by the bytes fed so far, in milliseconds; -1 until the format is known.
    qint64 audioMs() const { return m_format == Format::Unknown ? -1 : m_audioUs / 1000; }
    Format format() const { return m_format; }
    // The name of libVLC's demuxer for it: "mpga", "aac", "ogg", "mp4"; "ts" as soon as the bytes
    // are MPEG-TS; empty while unknown.
    QString demuxer() const;
    // The longest stretch of audio one Ogg page carried (ms); 0 for other formats.
    int longestPageMs() const { return m_longestPageMs; }
    // What the first audio page of an Ogg stream may carry, from its granule alone: right for
    // a stream that started at granule 0, too much for one joined in its middle. A hint of how
    // long to wait for sound, never a measure of the audio. 0 until that page.
    int firstPageHintMs() const { return m_firstPageHintMs; }
    // Ogg pages with audio seen so far.
    int audioPages() const { return m_audioPages; }
    // The bytes are MPEG-TS; format() is then the audio inside.
    bool transport() const { return m_container == Container::Transport; }
    // The stream is no audio this meter knows: it stopped counting.
    bool gaveUp() const { return m_gaveUp; }
    // Told of every bare MPEG audio or ADTS frame counted, as it is: the offset where the
    // next frame starts and the audio before it (ms).
    void setFrameTap(std::function<void(qint64 offset, qint64 audioMs)> tap) { m_frameTap = std::move(tap); }

    // Frames of at most this many bytes are believed; anything else is not a frame.
    static constexpr qsizetype kMaxFrame = 8192;
    // Bytes looked through without finding a run of frames before the meter gives up.
    static constexpr qint64 kGiveUpAfter = 256 * 1024;

    // The MPEG audio or ADTS frame whose header starts there, as its header tells; format
    // Unknown where none does. A header alone: whether a frame follows it is the caller's.
    struct Frame {
        Format format = Format::Unknown;
        qsizetype length = 0;
        qint64 durationUs = 0;
        quint32 signature = 0; // what stays the same from frame to frame
    };
    static Frame frameAt(QByteArrayView at);

private:
    void feedFrames();
    void feedTransport(QByteArrayView bytes);
    void feedFragments(QByteArrayView bytes);
    void giveUp();
    void feedOgg();
    void oggPage(QByteArrayView body, qint64 granule, quint32 serial, bool begins);

    void frameCounted(qsizetype endInPending);

    QByteArray m_pending;
    std::function<void(qint64, qint64)> m_frameTap;
    qint64 m_fedBytes = 0;
    Format m_format = Format::Unknown;
    quint32 m_signature = 0;
    qint64 m_audioUs = 0;
    qint64 m_searched = 0; // bytes skipped while not locked on
    bool m_gaveUp = false;
    // What carries the frames, judged from the first bytes: Unknown until they are in,
    // None for bare frames or Ogg.
    enum class Container { Unknown, None, Transport, Fragmented };
    Container m_container = Container::Unknown;
    qint64 m_containerBytes = 0; // fed since a container (MPEG-TS, MP4) was made out
    bool m_id3Checked = false;
    qint64 m_skip = 0; // bytes of an ID3 tag still to skip

    // MPEG-TS: its audio stream's PES payloads go on to the frames above
    TsPackets m_packets;
    int m_audioPid = -1;
    bool m_inPes = false;

    // Fragmented MP4
    Mp4Fragments m_fragments;

    // Ogg
    qint64 m_oggRate = 0;
    quint32 m_oggSerial = 0;
    qint64 m_lastGranule = -1;  // of the last audio page of the current logical stream
    qint64 m_lastPageUs = 0;    // what that page carried, for the page after the next headers
    int m_longestPageMs = 0;
    int m_audioPages = 0;
    int m_firstPageHintMs = 0;
    bool m_firstPageOwed = false; // the stream's first audio page is counted with the second
};

} // namespace lumora
