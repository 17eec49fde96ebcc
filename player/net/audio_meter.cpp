#include "audio_meter.h"

#include "id3_tag.h"

#include <QtEndian>

#include <array>
#include <utility>

namespace lumora {

namespace {

constexpr qsizetype kOggHeader = 27;
constexpr qsizetype kOggMaxPage = kOggHeader + 255 + 255 * 255;
constexpr qint64 kMaxOggPageUs = 60 * 1000 * 1000; // more is a jump in the stream, not a page
constexpr qsizetype kId3Header = 10;

// Bit rates in kbit/s by [MPEG-1 or not][layer I, II, III][index]; 0: free format, refused.
constexpr std::array<std::array<std::array<int, 16>, 3>, 2> kMpegRates = {{
    {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}}},
    {{{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}},
}};
constexpr std::array<int, 3> kMpeg1SampleRates = {44100, 48000, 32000};
constexpr std::array<int, 13> kAdtsSampleRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                  22050, 16000, 12000, 11025, 8000, 7350};

quint8 byteAt(QByteArrayView v, qsizetype i) { return quint8(v[i]); }

} // namespace

QString AudioMeter::demuxer() const
{
    if (m_container == Container::Transport)
        return QStringLiteral("ts");
    switch (m_format) {
    case Format::Mpeg: return QStringLiteral("mpga");
    case Format::Adts: return QStringLiteral("aac"); // "es" alone takes MPEG audio only
    case Format::Ogg: return QStringLiteral("ogg");
    case Format::Mp4: return QStringLiteral("mp4");
    case Format::Unknown: break;
    }
    return {};
}

AudioMeter::Frame AudioMeter::frameAt(QByteArrayView at)
{
    Frame f;
    if (at.size() < 4 || byteAt(at, 0) != 0xFF)
        return f;
    const quint8 b1 = byteAt(at, 1), b2 = byteAt(at, 2);
    if ((b1 & 0xF6) == 0xF0) { // ADTS: sync 0xFFF, layer 0
        if (at.size() < 7)
            return f;
        const int rateIndex = (b2 >> 2) & 0x0F;
        if (rateIndex >= int(kAdtsSampleRates.size()))
            return f;
        const qsizetype length = ((byteAt(at, 3) & 0x03) << 11) | (byteAt(at, 4) << 3) | (byteAt(at, 5) >> 5);
        if (length < 7 || length > kMaxFrame)
            return f;
        const int blocks = (byteAt(at, 6) & 0x03) + 1;
        f.format = Format::Adts;
        f.length = length;
        f.durationUs = qint64(blocks) * 1024 * 1000000 / kAdtsSampleRates[std::size_t(rateIndex)];
        f.signature = (quint32(b1 & 0xF6) << 8) | (b2 & 0x3C);
        return f;
    }
    if ((b1 & 0xE0) != 0xE0)
        return f;
    const int version = (b1 >> 3) & 0x03; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layerBits = (b1 >> 1) & 0x03; // 3: I, 2: II, 1: III
    const int rateIndex = (b2 >> 4) & 0x0F;
    const int srIndex = (b2 >> 2) & 0x03;
    if (version == 1 || layerBits == 0 || srIndex == 3)
        return f;
    const int layer = 4 - layerBits; // 1, 2, 3
    const bool mpeg1 = version == 3;
    const int kbps = kMpegRates[mpeg1 ? 0 : 1][std::size_t(layer - 1)][std::size_t(rateIndex)];
    if (kbps == 0)
        return f;
    const int sampleRate = kMpeg1SampleRates[std::size_t(srIndex)] / (mpeg1 ? 1 : version == 2 ? 2 : 4);
    const int padding = (b2 >> 1) & 0x01;
    qsizetype length = 0;
    int samples = 0;
    if (layer == 1) {
        length = (12 * kbps * 1000 / sampleRate + padding) * 4;
        samples = 384;
    } else {
        const int factor = (layer == 3 && !mpeg1) ? 72 : 144;
        length = factor * kbps * 1000 / sampleRate + padding;
        samples = (layer == 3 && !mpeg1) ? 576 : 1152;
    }
    if (length < 4 || length > kMaxFrame)
        return f;
    f.format = Format::Mpeg;
    f.length = length;
    f.durationUs = qint64(samples) * 1000000 / sampleRate;
    f.signature = (quint32(b1 & 0xFE) << 8) | (b2 & 0x0C);
    return f;
}

void AudioMeter::feed(QByteArrayView bytes)
{
    if (m_gaveUp || bytes.isEmpty())
        return;
    m_fedBytes += bytes.size();
    if (m_container == Container::Transport) {
        feedTransport(bytes);
        return;
    }
    if (m_container == Container::Fragmented) {
        feedFragments(bytes);
        return;
    }
    m_pending.append(bytes);
    if (m_container == Container::Unknown) {
        // The stream's first bytes name a container: Ogg's capture pattern, or a transport
        // stream's sync byte ('G', which no frame or tag starts with) three times, 188 bytes
        // apart, or an MP4 box. Only there: the same bytes further on may be anything.
        if (m_pending.size() < 4 || (m_pending.front() == char(0x47) && m_pending.size() <= 2 * TsPackets::kPacket))
            return;
        m_container = Container::None;
        if (m_pending.startsWith("OggS")) {
            m_format = Format::Ogg;
        } else if (TsPackets::startsPackets(m_pending)) {
            m_container = Container::Transport;
            feedTransport(std::exchange(m_pending, {}));
            return;
        } else if (Mp4Fragments::startsBoxes(m_pending)) {
            m_container = Container::Fragmented;
            feedFragments(std::exchange(m_pending, {}));
            return;
        }
    }
    if (m_format == Format::Ogg)
        feedOgg();
    else
        feedFrames();
}

void AudioMeter::feedTransport(QByteArrayView bytes)
{
    m_containerBytes += bytes.size();
    m_packets.feed(bytes, [this](const TsPackets::Payload &p) {
        if (m_audioPid < 0 && TsPackets::isAudio(p.streamType))
            m_audioPid = p.pid;
        if (p.pid != m_audioPid)
            return;
        QByteArrayView data = p.data;
        if (p.unitStart) {
            const qsizetype header = TsPackets::pesHeaderLength(data);
            m_inPes = header > 0;
            data = data.sliced(header);
        }
        if (m_inPes) // else joined inside a PES, or its header did not read
            m_pending.append(data);
    });
    // Bytes with no audio stream in them, or out of step throughout, are no stream this counts.
    if (m_format == Format::Unknown
        && (m_packets.skipped() > kGiveUpAfter || (m_audioPid < 0 && m_containerBytes > kGiveUpAfter))) {
        giveUp();
        return;
    }
    feedFrames();
}

void AudioMeter::feedFragments(QByteArrayView bytes)
{
    m_containerBytes += bytes.size();
    const qint64 us = m_fragments.feed(bytes);
    if (us > 0) {
        m_format = Format::Mp4;
        m_audioUs += us;
    }
    // An MP4 file (no fragments) or boxes that do not read: no audio this counts.
    if (m_format == Format::Unknown && (m_fragments.broken() || m_containerBytes > kGiveUpAfter))
        giveUp();
}

void AudioMeter::giveUp()
{
    m_gaveUp = true;
    m_pending.clear();
}

void AudioMeter::feedFrames()
{
    qsizetype pos = 0;
    // A leading ID3v2 tag (a file's or a server's) is skipped whole; its size is checked.
    if (!m_id3Checked) {
        if (m_pending.size() < kId3Header)
            return;
        m_id3Checked = true;
        if (m_pending.startsWith("ID3")) {
            const QByteArrayView h(m_pending);
            qint64 size = 0;
            for (int i = 6; i < 10; ++i)
                size = (size << 7) | (byteAt(h, i) & 0x7F);
            // A tag of the size real files have (cover pictures of hundreds of kilobytes) is
            // skipped without counting towards giving up; a larger one counts like any skip.
            if (kId3Header + size > Id3Tag::kMaxSize)
                m_searched += kId3Header + size;
            m_skip = kId3Header + size;
        }
    }
    while (true) {
        if (m_skip > 0) {
            const qsizetype n = qsizetype(qMin<qint64>(m_skip, m_pending.size() - pos));
            pos += n;
            m_skip -= n;
            if (m_skip > 0)
                break;
        }
        const QByteArrayView at = QByteArrayView(m_pending).sliced(pos);
        if (at.size() < 7)
            break;
        const Frame f = frameAt(at);
        const bool locked = m_signature != 0;
        if (f.format != Format::Unknown && locked && f.signature == m_signature) {
            if (at.size() < f.length)
                break;
            m_audioUs += f.durationUs;
            pos += f.length;
            frameCounted(pos);
            continue;
        }
        if (f.format != Format::Unknown && !locked) {
            // Believed only when the next frame starts where this one's length says.
            if (at.size() < f.length + 7)
                break;
            const Frame next = frameAt(at.sliced(f.length));
            if (next.format == f.format && next.signature == f.signature) {
                m_format = f.format;
                m_signature = f.signature;
                m_audioUs += f.durationUs;
                pos += f.length;
                frameCounted(pos);
                continue;
            }
        }
        // Not a frame here (or a torn one after a gap): look for the next run.
        m_signature = 0;
        ++pos;
        if (++m_searched > kGiveUpAfter && m_format == Format::Unknown) {
            giveUp();
            return;
        }
    }
    m_pending.remove(0, pos);
}

void AudioMeter::frameCounted(qsizetype endInPending)
{
    if (m_frameTap && m_container == Container::None)
        m_frameTap(m_fedBytes - m_pending.size() + endInPending, m_audioUs / 1000);
}

void AudioMeter::feedOgg()
{
    qsizetype pos = 0;
    while (m_pending.size() - pos >= kOggHeader) {
        const QByteArrayView at = QByteArrayView(m_pending).sliced(pos);
        if (!at.startsWith("OggS")) {
            // Lost the pages (a splice mid-page): find the next capture pattern, bounded.
            const qsizetype next = QByteArrayView(m_pending).sliced(pos + 1).indexOf("OggS");
            m_searched += next < 0 ? at.size() : next + 1;
            if (m_searched > kGiveUpAfter) {
                giveUp();
                return;
            }
            if (next < 0) {
                pos = m_pending.size() - 3; // keep what may start a pattern
                break;
            }
            pos += next + 1;
            continue;
        }
        const int segments = byteAt(at, 26);
        if (at.size() < kOggHeader + segments)
            break;
        qsizetype bodySize = 0;
        for (int i = 0; i < segments; ++i)
            bodySize += byteAt(at, kOggHeader + i);
        const qsizetype pageSize = kOggHeader + segments + bodySize;
        if (at.size() < pageSize)
            break;
        const bool begins = (byteAt(at, 5) & 0x02) != 0;
        oggPage(at.sliced(kOggHeader + segments, bodySize), qFromLittleEndian<qint64>(at.data() + 6),
                qFromLittleEndian<quint32>(at.data() + 14), begins);
        pos += pageSize;
    }
    m_pending.remove(0, qMax<qsizetype>(0, pos));
    if (m_pending.size() > kOggMaxPage) { // cannot be a page: look further
        m_pending.remove(0, m_pending.size() - kOggMaxPage);
    }
}

void AudioMeter::oggPage(QByteArrayView body, qint64 granule, quint32 serial, bool begins)
{
    if (begins) {
        // A logical stream starts (also each new stream of a chained one): its first packet
        // names the codec. Vorbis gives its sample rate; Opus counts 48 kHz.
        qint64 rate = 0;
        if (body.size() >= 16 && body.startsWith("\x01vorbis"))
            rate = qFromLittleEndian<quint32>(body.data() + 12);
        else if (body.startsWith("OpusHead"))
            rate = 48000;
        if (rate > 0 && rate <= 384000) {
            m_oggRate = rate;
            m_oggSerial = serial;
            m_lastGranule = -1;
        }
        return;
    }
    if (m_oggRate == 0 || serial != m_oggSerial || granule <= 0)
        return; // another logical stream, a header page, or a page on which no packet ends
    // Granules come from the server: compared in granules first, so that any value is safe
    // to turn into time.
    const qint64 maxPageGranules = m_oggRate * (kMaxOggPageUs / 1000000);
    qint64 us = -1;
    if (m_lastGranule >= 0 && granule > m_lastGranule && granule - m_lastGranule <= maxPageGranules)
        us = (granule - m_lastGranule) * 1000000 / m_oggRate;
    // else a jump (the encoder restarted or the server skipped): no page's audio
    if (us < 0 && m_lastGranule < 0 && m_firstPageHintMs == 0 && granule <= maxPageGranules)
        m_firstPageHintMs = int(granule * 1000 / m_oggRate);
    if (us < 0) {
        // The first audio page after the headers, or after a jump: what it carries is not
        // known from its granule alone. It counts as the last page did; a stream's very first
        // page is made up for by the second, which counts twice.
        us = m_lastPageUs;
        m_firstPageOwed = us == 0;
    } else {
        if (m_firstPageOwed) {
            m_audioUs += us;
            m_firstPageOwed = false;
        }
        m_lastPageUs = us;
        m_longestPageMs = qMax(m_longestPageMs, int(us / 1000));
    }
    m_audioUs += us;
    m_lastGranule = granule;
    ++m_audioPages;
    if (m_format == Format::Unknown)
        m_format = Format::Ogg;
}

} // namespace lumora
