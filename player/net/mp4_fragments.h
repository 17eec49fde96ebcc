#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace lumora {

// The audio that fragmented MP4 carries, as its boxes come (HLS's fMP4 segments: the
// initialisation section once, then a movie fragment and its media data at a time). The
// initialisation section's movie box names the audio track (handler "soun"), its time scale
// and its default sample duration; each movie fragment's track runs for that track add up
// their samples' durations. Media data is passed over without being kept. Bytes may come in
// any pieces; every size is checked before it is used, a box to be read whole is at most
// kMaxReadBox, and a fragment that claims more than a minute of audio counts nothing.
class Mp4Fragments {
public:
    // Audio (microseconds) that the movie fragments completed by these bytes carry.
    qint64 feed(QByteArrayView bytes);
    // The bytes do not read as MP4 boxes: nothing more is counted.
    bool broken() const { return m_broken; }
    // Whether the bytes begin with a box that starts fragmented MP4.
    static bool startsBoxes(QByteArrayView bytes);

    static constexpr qint64 kMaxReadBox = 1024 * 1024;
    static constexpr qint64 kMaxFragmentUs = 60 * 1000 * 1000;
    // Samples one track run may claim without listing them (a minute of 8 kHz audio, a
    // sample a frame of 128, is a few thousand).
    static constexpr quint32 kMaxSamples = 1 << 20;

private:
    void movie(QByteArrayView moov);
    qint64 fragment(QByteArrayView moof) const;

    QByteArray m_pending;
    qint64 m_skip = 0;   // media data still to pass over
    quint32 m_track = 0; // the audio track's ID; 0 until the movie box
    quint32 m_timescale = 0;
    quint32 m_defaultDuration = 0; // from the movie extends' track defaults
    bool m_broken = false;
};

} // namespace lumora
