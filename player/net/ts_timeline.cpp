#include "ts_timeline.h"

#include <QSet>

namespace lumora {

namespace {

constexpr qsizetype kPacket = TsPackets::kPacket;
constexpr char kSync = 0x47;
constexpr qsizetype kPesFixed = 9; // the PES header before its optional fields
constexpr qsizetype kStampBytes = 5;
constexpr qsizetype kPcrBytes = 6;

// A time in 90 kHz ticks brought into [0, 2^33), where MPEG-TS time stamps live.
qint64 wrapped(qint64 ticks)
{
    return (ticks % TsTimeline::kWrap + TsTimeline::kWrap) % TsTimeline::kWrap;
}

quint8 at(const char *b, qsizetype i)
{
    return quint8(b[i]);
}
QByteArrayView whole(const char *packet)
{
    return {packet, kPacket};
}
int pidOf(const char *packet)
{
    return TsPackets::pidOf(whole(packet));
}

// A PES time stamp: 33 bits in five bytes, with marker bits between.
qint64 readStamp(const char *b)
{
    return (qint64((at(b, 0) >> 1) & 0x07) << 30) | (qint64(at(b, 1)) << 22) | (qint64(at(b, 2) >> 1) << 15)
        | (qint64(at(b, 3)) << 7) | qint64(at(b, 4) >> 1);
}
void writeStamp(char *b, qint64 stamp)
{
    b[0] = char((at(b, 0) & 0xf1) | (((stamp >> 30) & 0x07) << 1) | 0x01);
    b[1] = char((stamp >> 22) & 0xff);
    b[2] = char((((stamp >> 15) & 0x7f) << 1) | 0x01);
    b[3] = char((stamp >> 7) & 0xff);
    b[4] = char(((stamp & 0x7f) << 1) | 0x01);
}

// The PES header that starts in this packet: where its PTS and DTS are (0: none).
struct Stamps {
    qsizetype pts = 0;
    qsizetype dts = 0;
};
Stamps pesStamps(const char *packet)
{
    Stamps s;
    const qsizetype start = TsPackets::payloadStart(whole(packet));
    if (start == 0 || !TsPackets::unitStarts(whole(packet)))
        return s;
    const qsizetype header = TsPackets::pesHeaderLength(whole(packet).sliced(start));
    const int flags = header ? at(packet, start + 7) >> 6 : 0; // 2: PTS, 3: PTS and DTS
    if ((flags & 0x2) && kPesFixed + kStampBytes <= header)
        s.pts = start + kPesFixed;
    if (flags == 0x3 && kPesFixed + 2 * kStampBytes <= header)
        s.dts = start + kPesFixed + kStampBytes;
    return s;
}

} // namespace

bool TsTimeline::isAudioPacket(const char *packet) const
{
    return packet[0] == kSync && TsPackets::isAudio(m_tables.typeOf(pidOf(packet)));
}

qint64 TsTimeline::firstAudioPts(const QByteArray &segment) const
{
    for (qsizetype p = 0; p + kPacket <= segment.size(); p += kPacket) {
        const char *packet = segment.constData() + p;
        if (!isAudioPacket(packet))
            continue;
        if (const Stamps s = pesStamps(packet); s.pts)
            return readStamp(packet + s.pts);
    }
    return -1;
}

qint64 TsTimeline::startAt(QByteArray &segment, qint64 ms)
{
    m_tables.feed(segment, [](const TsPackets::Payload &) {});
    const qint64 first = firstAudioPts(segment);
    if (first < 0 || ms <= 0 || segment.size() % kPacket != 0)
        return 0;
    const qint64 cut = ms * 90;
    // The first audio PES at or after the moment: nothing is taken out if there is none.
    qint64 kept = -1;
    for (qsizetype p = 0; p + kPacket <= segment.size() && kept < 0; p += kPacket) {
        const char *packet = segment.constData() + p;
        if (!isAudioPacket(packet))
            continue;
        if (const Stamps s = pesStamps(packet); s.pts) {
            const qint64 after = wrapped(readStamp(packet + s.pts) - first);
            if (after >= cut && after < kWrap / 2)
                kept = after;
        }
    }
    if (kept < 0)
        return 0;
    char *bytes = segment.data();
    bool dropping = false; // the audio PES under way is before the moment
    for (qsizetype p = 0; p + kPacket <= segment.size(); p += kPacket) {
        char *packet = bytes + p;
        if (!isAudioPacket(packet))
            continue;
        if (TsPackets::unitStarts(whole(packet))) {
            const Stamps s = pesStamps(packet);
            dropping = s.pts && wrapped(readStamp(packet + s.pts) - first) < kept;
        }
        if (dropping) {
            packet[1] = char(0x1f); // PID 0x1fff: a null packet, which readers pass over
            packet[2] = char(0xff);
        }
    }
    return kept / 90;
}

void TsTimeline::carry(QByteArray &segment, bool discontinuity)
{
    m_tables.feed(segment, [](const TsPackets::Payload &) {});
    if (segment.isEmpty() || segment.size() % kPacket != 0)
        return;
    if (discontinuity && m_lastPts >= 0) {
        // The first audio after the break follows the last before it, a step later.
        if (const qint64 first = firstAudioPts(segment); first >= 0)
            m_offset = wrapped(m_lastPts + m_step - first);
    }
    if (discontinuity)
        m_counterShift.clear();
    QSet<int> seen; // PIDs met in this segment
    char *bytes = segment.data();
    for (qsizetype p = 0; p + kPacket <= segment.size(); p += kPacket) {
        char *packet = bytes + p;
        if (packet[0] != kSync)
            continue;
        const int pid = pidOf(packet);
        if (discontinuity && TsPackets::payloadStart(whole(packet)) && !seen.contains(pid)) {
            // Each stream's counter runs on from where it was before the break.
            seen.insert(pid);
            if (m_nextCounter.contains(pid))
                m_counterShift.insert(pid, (m_nextCounter.value(pid) - (at(packet, 3) & 0x0f)) & 0x0f);
        }
        continueCounter(packet);
        retime(packet);
    }
}

void TsTimeline::continueCounter(char *packet)
{
    if (!TsPackets::payloadStart(whole(packet)))
        return; // a packet without payload does not count
    const int pid = pidOf(packet);
    const int counter = ((at(packet, 3) & 0x0f) + m_counterShift.value(pid, 0)) & 0x0f;
    packet[3] = char((at(packet, 3) & 0xf0) | counter);
    m_nextCounter.insert(pid, (counter + 1) & 0x0f);
}

void TsTimeline::retime(char *packet)
{
    if (m_offset != 0 && ((at(packet, 3) >> 4) & 0x2) && at(packet, 4) >= 1) {
        const qsizetype length = at(packet, 4);
        char *field = packet + 5;
        if (5 + length <= kPacket) {
            field[0] = char(at(field, 0) & 0x7f); // the break is mended: no discontinuity to signal
            if ((at(field, 0) & 0x10) && length >= 1 + kPcrBytes) {
                char *pcr = field + 1;
                qint64 base = (qint64(at(pcr, 0)) << 25) | (qint64(at(pcr, 1)) << 17) | (qint64(at(pcr, 2)) << 9)
                    | (qint64(at(pcr, 3)) << 1) | (at(pcr, 4) >> 7);
                base = wrapped(base + m_offset);
                pcr[0] = char(base >> 25);
                pcr[1] = char(base >> 17);
                pcr[2] = char(base >> 9);
                pcr[3] = char(base >> 1);
                pcr[4] = char((at(pcr, 4) & 0x7f) | ((base & 0x1) << 7));
            }
        }
    }
    const int pid = pidOf(packet);
    const quint8 type = m_tables.typeOf(pid);
    if (type == 0)
        return; // not a stream of the program (tables, padding)
    const Stamps s = pesStamps(packet);
    if (!s.pts)
        return;
    if (m_offset != 0) {
        writeStamp(packet + s.pts, wrapped(readStamp(packet + s.pts) + m_offset));
        if (s.dts)
            writeStamp(packet + s.dts, wrapped(readStamp(packet + s.dts) + m_offset));
    }
    if (TsPackets::isAudio(type)) {
        const qint64 pts = readStamp(packet + s.pts);
        const qint64 step = m_lastPts < 0 ? 0 : wrapped(pts - m_lastPts);
        if (step > 0 && step <= kMaxStep)
            m_step = step;
        m_lastPts = pts;
    }
}

} // namespace lumora
