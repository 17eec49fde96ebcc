#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace lumora {

// Takes the preroll out of a live ASF stream before libVLC reads it.
//
// An ASF header states a preroll (Windows Media servers say 3 to 5 s) and every payload's
// presentation time is its send time plus that preroll. libVLC's ASF demuxer holds back all
// audio until the packets' send times have run a whole preroll past the first one, so on a
// server that bursts less than the preroll the first sound waits, in real time, for the rest
// of it. Lumora keeps its own cushion for live streams, so the stream libVLC reads says
// preroll 0 and each presentation time is moved back by the preroll: the audio plays as soon
// as it arrives, at the times it was meant to have relative to the others.
//
// A packet that does not parse (every field is checked against the packet's size) is passed
// on unchanged; so is everything when the preroll is 0 or larger than kMaxPrerollMs.
class AsfPrerollCut {
public:
    // The ASF header object: returns it with the File Properties' preroll set to 0 and keeps
    // the preroll to take off the packets that follow. Bytes that are no header come back
    // as they are.
    QByteArray header(QByteArray header);
    // One data packet, padded to the header's packet size: its payloads' presentation times
    // less the preroll (never below 0). false when it did not parse (and is unchanged).
    bool packet(char *data, qsizetype size) const;
    // The preroll the header stated and that is taken off, in ms; 0 when nothing is.
    quint32 prerollMs() const { return m_prerollMs; }

    static constexpr quint64 kMaxPrerollMs = 60000;

private:
    quint32 m_prerollMs = 0;
};

} // namespace lumora
