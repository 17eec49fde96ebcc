#pragma once

#include "ts_packets.h"

#include <QByteArray>
#include <QHash>

namespace lumora {

// Keeps the time stamps of an MPEG-TS stream running on across HLS discontinuities, so that
// the reader downstream (libVLC) sees one stream. Where an encoder starts again (an ad break,
// a restart), its time stamps start afresh: libVLC's clock takes them for late data, and
// with a metadata stream in the program, or played at another speed, it falls silent for
// good. From a segment marked as a discontinuity on, every PCR, PTS and DTS is moved by one
// offset that makes its first audio packet follow the last one before it, and each stream's
// continuity counter runs on from where it was. A seek's first segment is started at its
// moment (startAt).
//
// Segments are whole packets (HLS cuts them so); bytes that are not are left as they are.
// Every field read is within its packet.
class TsTimeline {
public:
    // The segment's bytes, changed in place where the offset is not zero.
    void carry(QByteArray &segment, bool discontinuity);

    // The stream starts ms into this segment (a seek): its audio PES packets stamped less
    // than that after the segment's first become null packets, in place. Returns the audio
    // taken out (ms): 0 where no audio follows that moment. Before carry().
    qint64 startAt(QByteArray &segment, qint64 ms);

    // The offset in 90 kHz ticks (modulo 2^33) now applied.
    qint64 offset() const { return m_offset; }

    static constexpr qint64 kWrap = qint64(1) << 33;
    // A step between two audio packets larger than this (ticks) is no step: 2 s.
    static constexpr qint64 kMaxStep = 2 * 90000;

private:
    bool isAudioPacket(const char *packet) const; // of the program's audio, in step
    qint64 firstAudioPts(const QByteArray &segment) const;
    void retime(char *packet);
    void continueCounter(char *packet);

    TsPackets m_tables;      // what the program map says each PID carries
    qint64 m_offset = 0;
    qint64 m_lastPts = -1;   // the last audio PES's time stamp, as written
    qint64 m_step = 0;       // between the last two
    QHash<int, int> m_nextCounter; // per PID: the counter the next packet with payload carries
    QHash<int, int> m_counterShift; // per PID, since the last discontinuity
};

} // namespace lumora
