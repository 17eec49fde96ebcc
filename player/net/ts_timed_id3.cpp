#include "ts_timed_id3.h"

#include "id3_tag.h"

#include <utility>

namespace lumora {

namespace {

constexpr qsizetype kPacket = 188;
constexpr quint8 kSync = 0x47;
constexpr int kPatPid = 0;
constexpr quint8 kPatTable = 0x00;
constexpr quint8 kPmtTable = 0x02;
constexpr quint8 kMetadataStreamType = 0x15;
constexpr qsizetype kCrcBytes = 4;

quint8 at(QByteArrayView b, qsizetype i)
{
    return quint8(b[i]);
}
int pidAt(QByteArrayView b, qsizetype i)
{
    return ((at(b, i) & 0x1f) << 8) | at(b, i + 1);
}
int lengthAt(QByteArrayView b, qsizetype i)
{
    return ((at(b, i) & 0x0f) << 8) | at(b, i + 1);
}

} // namespace

QStringList TsTimedId3::feed(QByteArrayView bytes)
{
    QStringList titles;
    for (qsizetype p = 0; p + kPacket <= bytes.size(); p += kPacket) {
        const QByteArrayView packet = bytes.sliced(p, kPacket);
        if (at(packet, 0) != kSync)
            break; // not TS, or lost step: nothing more is read from these bytes
        const bool unitStart = at(packet, 1) & 0x40;
        const int pid = pidAt(packet, 1);
        const int adaptation = (at(packet, 3) >> 4) & 0x3;
        qsizetype start = 4;
        if (adaptation & 0x2)
            start += 1 + at(packet, 4);
        if (!(adaptation & 0x1) || start >= kPacket)
            continue; // no payload
        const QByteArrayView data = packet.sliced(start);
        if (pid == kPatPid || pid == m_pmtPid) {
            // A section starts after the pointer field in the packet that starts it; the
            // tables a segment needs are short enough to fit one packet.
            if (!unitStart)
                continue;
            const qsizetype pointer = 1 + at(data, 0);
            if (pointer < data.size())
                table(pid, data.sliced(pointer));
        } else if (pid == m_metadataPid) {
            payload(unitStart, data, titles);
        }
    }
    return titles;
}

void TsTimedId3::table(int pid, QByteArrayView section)
{
    if (section.size() < 3)
        return;
    const qsizetype end = 3 + lengthAt(section, 1) - kCrcBytes; // the entries end before the CRC
    if (end > section.size())
        return;
    if (pid == kPatPid && at(section, 0) == kPatTable) {
        // Program number, then its map's PID; number 0 names the network table instead.
        for (qsizetype i = 8; i + 4 <= end; i += 4) {
            if ((at(section, i) << 8 | at(section, i + 1)) != 0) {
                m_pmtPid = pidAt(section, i + 2);
                return;
            }
        }
    } else if (pid == m_pmtPid && at(section, 0) == kPmtTable && end >= 12) {
        qsizetype i = 12 + lengthAt(section, 10); // after the program's descriptors
        while (i + 5 <= end) {
            if (at(section, i) == kMetadataStreamType) {
                m_metadataPid = pidAt(section, i + 1);
                return;
            }
            i += 5 + lengthAt(section, i + 3);
        }
    }
}

void TsTimedId3::payload(bool unitStart, QByteArrayView bytes, QStringList &titles)
{
    if (unitStart) {
        endPes(titles);
        m_inPes = true;
    }
    if (!m_inPes)
        return; // joined in the middle of a PES
    if (m_pes.size() + bytes.size() > kMaxPesBytes) {
        m_pes.clear();
        m_inPes = false;
        return;
    }
    m_pes.append(bytes);
    // A PES whose length is given ends with its last byte; one of length 0 at the next start.
    if (m_pes.size() >= 6) {
        const qsizetype length = at(m_pes, 4) << 8 | at(m_pes, 5);
        if (length > 0 && m_pes.size() >= 6 + length) {
            m_pes.truncate(6 + length);
            endPes(titles);
        }
    }
}

void TsTimedId3::endPes(QStringList &titles)
{
    const QByteArray pes = std::exchange(m_pes, {});
    m_inPes = false;
    // Start code, stream id, length, then (for the metadata and private streams) the flags and
    // the header's own length before the tag.
    if (pes.size() < 9 || at(pes, 0) != 0 || at(pes, 1) != 0 || at(pes, 2) != 1)
        return;
    const qsizetype tagAt = 9 + at(pes, 8);
    if (tagAt >= pes.size())
        return;
    const Id3Tag tag = Id3Tag::read(QByteArrayView(pes).sliced(tagAt));
    if (tag.complete && !tag.title.isEmpty())
        titles << tag.title;
}

} // namespace lumora
