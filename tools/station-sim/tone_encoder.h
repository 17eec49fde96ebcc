#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

namespace lumora::sim {

// Encodes an endless sine tone into the container a station of some kind serves:
// MP3 frames, ASF (WMA or PCM, for MMSH), RealMedia (RealAudio 14.4), Ogg Vorbis, or AAC for
// HTTP Live Streaming (in MPEG-TS, as ADTS frames, or fragmented MP4). The encoder keeps its phase
// and timestamps across calls, so consecutive chunks form one continuous stream.
class ToneEncoder {
public:
    enum class Format { Mp3, AsfWma, AsfPcm, RealAudio, OggVorbis, TsAac, Adts, Fmp4Aac };

    // bitRate: bits per second of the AAC formats; 0 for the format's usual rate.
    ToneEncoder(Format format, int toneHz, int bitRate = 0);
    ~ToneEncoder();
    ToneEncoder(const ToneEncoder &) = delete;
    ToneEncoder &operator=(const ToneEncoder &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    Format format() const { return m_format; }

    // What the muxer wrote before the first audio packet: the ASF header objects with the
    // data object header, the RealMedia header, the Ogg header pages, or the fragmented MP4's
    // initialisation section (ftyp and moov). Empty for MP3, ADTS and MPEG-TS.
    QByteArray header() const { return m_header; }
    // ASF data packet size; every chunk of encode() is a whole number of packets for ASF.
    int packetSize() const { return m_packetSize; }

    // Encodes the next `ms` milliseconds of tone and returns the bytes the muxer produced.
    // For Ogg, everything encoded so far goes out as one page (more only past 255 segments);
    // for MPEG-TS and fragmented MP4, as one segment that a client can start with (PAT and PMT
    // first; one fragment).
    // timedId3: MPEG-TS only, an ID3v2 tag sent as timed metadata at the start of these ms.
    QByteArray encode(qint64 ms, const QByteArray &timedId3 = {});
    // Ends the stream: flushes the encoder's delayed frames and writes the container's
    // trailer. For files; encode() gives nothing after it.
    QByteArray finish();
    // Milliseconds of audio encoded so far.
    qint64 encodedMs() const;

private:
    struct Av;
    bool open();
    bool pushFrame();
    void writeTimedId3(const QByteArray &tag);
    void drainPackets();

    Format m_format;
    int m_toneHz;
    int m_bitRate;
    int m_packetSize = 0;
    QString m_error;
    QByteArray m_header;
    QByteArray m_out;
    std::unique_ptr<Av> m_av;
};

} // namespace lumora::sim
