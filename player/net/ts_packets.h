#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <utility>
#include <vector>

namespace lumora {

// Reads an MPEG-TS stream's 188-byte packets in order and follows its program tables: the
// association table (PID 0) names the first program's map, and the map names the PID and type
// of each of its elementary streams. The payload of each packet of those streams is handed on
// with its stream's type. The bytes may come in any pieces: a packet split between two feeds
// is kept for the next. Where a packet should start and no sync byte is, the reader looks for
// the next one; what it passes over is counted, so that a caller can give up on bytes that
// are no transport stream.
class TsPackets {
public:
    static constexpr qsizetype kPacket = 188;

    // Stream types of the program map that this program reads.
    static constexpr quint8 kMpeg1Audio = 0x03;
    static constexpr quint8 kMpeg2Audio = 0x04;
    static constexpr quint8 kAdtsAudio = 0x0f;
    static constexpr quint8 kMetadata = 0x15; // timed ID3

    struct Payload {
        int pid = -1;
        quint8 streamType = 0;
        bool unitStart = false; // a PES starts in this packet
        QByteArrayView data;
    };

    void feed(QByteArrayView bytes, const std::function<void(const Payload &)> &each);

    // Of one whole packet: its PID; where its payload starts (0: it has none); whether a PES
    // (or a section) starts in it.
    static int pidOf(QByteArrayView packet);
    static qsizetype payloadStart(QByteArrayView packet);
    static bool unitStarts(QByteArrayView packet) { return quint8(packet[1]) & 0x40; }
    // The length of the PES header that the bytes start with (start code, stream id, length,
    // flags, header data); 0 where none starts there or it is not whole.
    static qsizetype pesHeaderLength(QByteArrayView pes);
    // Whether the bytes begin with three packets' sync bytes where they belong.
    static bool startsPackets(QByteArrayView bytes);
    // The type the program map gives a PID; 0 where it lists none such.
    quint8 typeOf(int pid) const;
    static bool isAudio(quint8 streamType)
    {
        return streamType == kAdtsAudio || streamType == kMpeg1Audio || streamType == kMpeg2Audio;
    }
    // Bytes passed over where no packet started.
    qint64 skipped() const { return m_skipped; }

    // A program map lists at most this many streams that are kept.
    static constexpr std::size_t kMaxStreams = 32;

private:
    void packet(QByteArrayView packet, const std::function<void(const Payload &)> &each);
    void table(int pid, QByteArrayView section);

    QByteArray m_pending; // less than a packet, or bytes not yet in step
    int m_pmtPid = -1;
    std::vector<std::pair<int, quint8>> m_streams; // PID and type, as the map lists them
    qint64 m_skipped = 0;
};

} // namespace lumora
