#include "live_source.h"

#include <QtEndian>

#include <utility>

namespace lumora::sim {
namespace {
constexpr quint16 kChunkHeader = 0x4824; // "$H"
constexpr quint16 kChunkData = 0x4424;   // "$D"
constexpr quint16 kHeaderFlags = 0x0C00;
} // namespace

IcyFramer::IcyFramer(IcyTitles titles)
    : m_titles(std::move(titles)), m_untilMeta(m_titles.metaint)
{
}

QByteArray IcyFramer::metadataBlock()
{
    // The title goes in the first block and in every nth after it; the others are empty,
    // as a server does when the title has not changed.
    const int block = m_blocks++;
    if (block % m_titles.blocksPerTitle != 0)
        return QByteArray(1, '\0');
    static constexpr QByteArrayView kOpen = "StreamTitle='", kClose = "';";
    const QByteArray title = m_titles.text(block / m_titles.blocksPerTitle)
                                 .left(kMaxBlockBytes - kOpen.size() - kClose.size());
    QByteArray text = kOpen.toByteArray() + title + kClose.toByteArray();
    const int units = int((text.size() + 15) / 16);
    text.resize(units * 16, '\0');
    return char(units) + text;
}

QByteArray IcyFramer::frame(const QByteArray &audio)
{
    QByteArray out;
    qsizetype pos = 0;
    while (pos < audio.size()) {
        const qsizetype take = std::min<qsizetype>(m_untilMeta, audio.size() - pos);
        out += audio.mid(pos, take);
        pos += take;
        m_untilMeta -= int(take);
        if (m_untilMeta == 0) {
            out += metadataBlock();
            m_untilMeta = m_titles.metaint;
        }
    }
    return out;
}

LiveSource::LiveSource(Framing framing, ToneEncoder::Format format, int toneHz, IcyTitles titles, int bitRate)
    : m_framing(framing)
{
    if (framing != Framing::Junk)
        m_encoder = std::make_unique<ToneEncoder>(format, toneHz, bitRate);
    if (framing == Framing::Mp3Icy)
        m_icy = std::make_unique<IcyFramer>(std::move(titles));
}

LiveSource::~LiveSource() = default;

bool LiveSource::ok() const
{
    return !m_encoder || m_encoder->ok();
}

QString LiveSource::errorString() const
{
    return m_encoder ? m_encoder->errorString() : QString();
}

QByteArray LiveSource::chunk(quint16 type, quint32 sequence, quint16 flags, const QByteArray &data)
{
    QByteArray c(12, '\0');
    const auto length = quint16(data.size() + 8);
    qToLittleEndian<quint16>(type, c.data());
    qToLittleEndian<quint16>(length, c.data() + 2);
    qToLittleEndian<quint32>(sequence, c.data() + 4);
    qToLittleEndian<quint16>(flags, c.data() + 8);
    qToLittleEndian<quint16>(length, c.data() + 10);
    return c + data;
}

QByteArray LiveSource::next(qint64 ms)
{
    if (m_finished)
        return {};
    QByteArray out;
    switch (m_framing) {
    case Framing::Mp3:
        return std::exchange(m_prefix, {}) + m_encoder->encode(ms);
    case Framing::Mp3Icy:
        return m_icy->frame(std::exchange(m_prefix, {}) + m_encoder->encode(ms));
    case Framing::Real:
    case Framing::Ogg:
        if (!m_started)
            out = m_encoder->header();
        m_started = true;
        return ms > 0 ? out + m_encoder->encode(ms) : out;
    case Framing::MmshDescribe:
        m_finished = true;
        return chunk(kChunkHeader, 0, kHeaderFlags, m_encoder->header());
    case Framing::MmshPlay: {
        if (!m_started)
            out = chunk(kChunkHeader, m_sequence++, kHeaderFlags, m_encoder->header());
        m_started = true;
        const QByteArray packets = m_encoder->encode(ms);
        const int size = m_encoder->packetSize();
        for (qsizetype pos = 0; pos + size <= packets.size(); pos += size)
            out += chunk(kChunkData, m_sequence++, 0, packets.mid(pos, size));
        return out;
    }
    case Framing::Junk: {
        // xorshift bytes with 0xFF left out, so no MPEG frame sync can appear.
        const qint64 n = ms * kJunkBytesPerSecond / 1000;
        out.reserve(n);
        while (out.size() < n) {
            m_junkState ^= m_junkState << 13;
            m_junkState ^= m_junkState >> 17;
            m_junkState ^= m_junkState << 5;
            out.append(char(m_junkState % 255));
        }
        return out;
    }
    }
    return out;
}

} // namespace lumora::sim
