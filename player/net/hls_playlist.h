#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

namespace lumora {

// A part of a resource: length bytes from offset. No range: the whole resource.
struct HlsByteRange {
    qint64 length = -1; // -1: the whole resource
    qint64 offset = 0;

    bool isWhole() const { return length < 0; }
    bool operator==(const HlsByteRange &) const = default;
};

// How a segment is encrypted (EXT-X-KEY).
struct HlsKey {
    enum class Method { None, Aes128 };
    Method method = Method::None;
    QString uri;   // Aes128: the key's address, absolute and in wire form
    QByteArray iv; // Aes128: 16 bytes from the tag, or empty (then the media sequence number)

    bool operator==(const HlsKey &) const = default;
};

// One segment of a media playlist.
struct HlsSegment {
    QString uri;            // absolute, wire form
    qint64 sequence = 0;    // its media sequence number
    int durationMs = 0;     // EXTINF
    bool discontinuity = false; // EXT-X-DISCONTINUITY before it
    HlsByteRange range;     // EXT-X-BYTERANGE
    HlsKey key;             // EXT-X-KEY in force
    QString mapUri;         // EXT-X-MAP in force (fMP4 init section), or empty
    HlsByteRange mapRange;
};

// One variant of a master playlist (EXT-X-STREAM-INF).
struct HlsVariant {
    QString uri;           // absolute, wire form
    qint64 bandwidth = 0;  // bits per second, as announced
    QString codecs;        // as announced ("mp4a.40.2"), plain text
};

// An HTTP Live Streaming playlist, master or media, as read from its body. Pure: nothing is
// fetched. Every address in it is made absolute against the playlist's own address and put
// into wire form; one that is not http or https, or too long, is left out with a problem.
// Everything read is bounded: counts, lengths, durations and numbers; a number out of range
// makes its tag (or the playlist) unusable instead of wrapping.
struct HlsPlaylist {
    enum class Kind { Invalid, Master, Media };

    Kind kind = Kind::Invalid;
    // Invalid: why the playlist cannot be used (not HLS, encrypted in a way Lumora does not
    // decrypt, no segment or variant that can be used, a number out of range).
    QString refusal;
    QStringList problems; // lines, tags and entries left out, and why

    // Master
    QList<HlsVariant> variants; // in the order written

    // Media
    int targetDurationMs = 0;
    qint64 mediaSequence = 0;
    bool endList = false; // EXT-X-ENDLIST: no segment will be added
    QList<HlsSegment> segments;

    bool isMaster() const { return kind == Kind::Master; }
    bool isMedia() const { return kind == Kind::Media; }
    // The segments together, in milliseconds.
    qint64 totalMs() const;

    static constexpr int kMaxSegments = 8192;
    static constexpr int kMaxVariants = 64;
    static constexpr qsizetype kMaxLineChars = 16 * 1024;
    static constexpr qsizetype kMaxAddressChars = 8 * 1024;
    static constexpr int kMaxDurationMs = 3600 * 1000; // a segment or the target duration
    static constexpr qint64 kMaxRangeBytes = 256LL * 1024 * 1024;
    static constexpr qint64 kMaxSequence = qint64(1) << 53;

    // address: where the playlist was fetched from (wire form), the base of relative entries.
    static HlsPlaylist read(QByteArrayView body, const QString &address);
};

} // namespace lumora
