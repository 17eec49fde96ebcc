#pragma once

#include "tone_encoder.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QString>
#include <memory>
#include <optional>

namespace lumora::sim {

// How a live HLS stream of the simulator is made and what goes wrong with it.
enum class HlsMode {
    Ts,            // MPEG-TS segments of AAC, the title as timed ID3
    Packed,        // packed audio: ADTS frames after an ID3 tag with the station's title
    Fmp4,          // fragmented MP4: an initialisation section (EXT-X-MAP), then fragments
    Discontinuity, // MPEG-TS whose encoder starts again every fourth segment, marked
    Missing,       // MPEG-TS whose every fifth segment is listed but answers 404
    Stalled,       // MPEG-TS whose playlist stops advancing two segments after it was first read
    Aes,           // MPEG-TS encrypted with AES-128, IV from the media sequence number
    Vod,           // MPEG-TS, a finished playlist (EXT-X-ENDLIST) of kVodSegments segments
};

// The segments of a finished playlist (Vod).
inline constexpr int kVodSegments = 60;

QString hlsModeName(HlsMode mode); // "ts", "packed", ... as in the address
std::optional<HlsMode> hlsModeNamed(QByteArrayView name);

// One rendition (variant) of a live HLS stream: a sine tone cut into segments as time passes,
// a sliding window of them in the media playlist. Segments are made in order, when first
// listed, and kept while they are in the window (and a little after). A finished playlist
// (Vod) lists all its segments from the first reading on and keeps them.
class HlsChannel {
public:
    struct Setup {
        HlsMode mode = HlsMode::Ts;
        int toneHz = 440;
        int bitRate = 48000;
        int segmentMs = 2000;
        int window = 6;       // segments listed
        QByteArray title;     // the TIT2 of each segment (UTF-8): packed audio's tag, TS's timed ID3
        QByteArray key;       // Aes: 16 bytes
    };

    explicit HlsChannel(const Setup &setup);
    ~HlsChannel();

    bool ok() const;
    // The media playlist now. keyUri: the key's address as the playlist names it (Aes).
    QByteArray playlist(const QByteArray &keyUri);
    // The segment of that sequence number, made if need be; nothing when it is not (or no
    // longer) available or is one that the mode leaves missing.
    std::optional<QByteArray> segment(qint64 sequence);
    // Encodes the segments that have become available since: a live encoder's work, done as
    // time goes rather than when a request comes (a request would otherwise wait for it).
    void keepUp();
    // Fmp4: the initialisation section.
    QByteArray initSection() const { return m_init; }
    QByteArray segmentSuffix() const;

private:
    qint64 availableCount();
    void makeUpTo(qint64 count);
    QByteArray encodeSegment(qint64 sequence);
    bool isMissing(qint64 sequence) const;
    bool startsAgain(qint64 sequence) const;

    Setup m_setup;
    std::unique_ptr<ToneEncoder> m_encoder;
    QByteArray m_init;
    QElapsedTimer m_clock;  // since the first playlist was read
    qint64 m_made = 0;      // segments made so far: 0 .. m_made - 1
    qint64 m_stalledAt = -1;
    QMap<qint64, QByteArray> m_segments;
};

} // namespace lumora::sim
