#include "mp4_fragments.h"

#include <QtEndian>

#include <functional>
#include <limits>
#include <optional>

namespace lumora {

namespace {

constexpr qsizetype kBoxHeader = 8;
constexpr qsizetype kFullBoxHeader = 4; // version and flags

quint32 u32(QByteArrayView b, qsizetype at)
{
    return qFromBigEndian<quint32>(b.data() + at);
}

// A full box's 32-bit field that lies at v0 in a version 0 box and at v1 in a version 1 box
// (whose times are 64 bits); nothing where the box is too short.
std::optional<quint32> fieldAt(QByteArrayView body, qsizetype v0, qsizetype v1)
{
    if (body.isEmpty())
        return std::nullopt;
    const qsizetype at = body[0] == 1 ? v1 : v0;
    if (body.size() < at + 4)
        return std::nullopt;
    return u32(body, at);
}

// Calls each(type, body) for every whole box in bytes, in order; false where a size does not
// fit its bytes.
bool eachBox(QByteArrayView bytes, const std::function<void(QByteArrayView, QByteArrayView)> &each)
{
    qsizetype at = 0;
    while (bytes.size() - at >= kBoxHeader) {
        const quint32 size = u32(bytes, at);
        if (size < kBoxHeader || size > quint64(bytes.size() - at))
            return false; // a large size (1) or a box to the end (0) has no place inside a box
        each(bytes.sliced(at + 4, 4), bytes.sliced(at + kBoxHeader, size - kBoxHeader));
        at += size;
    }
    return at == bytes.size();
}

// The body of the first child box of that type; null where there is none.
QByteArrayView childBox(QByteArrayView parent, QByteArrayView type)
{
    QByteArrayView found;
    eachBox(parent, [&](QByteArrayView t, QByteArrayView body) {
        if (t == type && found.isNull())
            found = body;
    });
    return found;
}

} // namespace

bool Mp4Fragments::startsBoxes(QByteArrayView bytes)
{
    if (bytes.size() < kBoxHeader || u32(bytes, 0) < kBoxHeader)
        return false;
    const QByteArrayView type = bytes.sliced(4, 4);
    return type == "ftyp" || type == "styp" || type == "moov" || type == "moof";
}

qint64 Mp4Fragments::feed(QByteArrayView bytes)
{
    if (m_broken)
        return 0;
    qint64 us = 0;
    // Media data passes straight through; only what follows it is kept.
    const qsizetype passed = qsizetype(qMin<qint64>(m_skip, bytes.size()));
    m_skip -= passed;
    m_pending.append(bytes.sliced(passed));
    const auto broken = [&] {
        m_broken = true;
        m_pending.clear();
        return us;
    };
    qsizetype pos = 0;
    while (m_pending.size() - pos >= kBoxHeader) {
        const QByteArrayView box = QByteArrayView(m_pending).sliced(pos);
        qint64 size = u32(box, 0);
        qsizetype header = kBoxHeader;
        if (size == 1) {
            if (box.size() < 16)
                break;
            size = qFromBigEndian<qint64>(box.data() + 8);
            header = 16;
        } else if (size == 0) {
            size = std::numeric_limits<qint64>::max(); // to the end of the stream
        }
        if (size < header)
            return broken();
        const QByteArrayView type = box.sliced(4, 4);
        if (type != "moov" && type != "moof") {
            // Passed over: media data, and whatever else lies between.
            const qint64 here = box.size();
            if (size <= here) {
                pos += qsizetype(size);
                continue;
            }
            m_skip = size - here;
            pos = m_pending.size();
            break;
        }
        if (size > kMaxReadBox)
            return broken();
        if (box.size() < size)
            break;
        const QByteArrayView body = box.sliced(header, qsizetype(size) - header);
        if (type == "moov")
            movie(body);
        else
            us += fragment(body);
        pos += qsizetype(size);
    }
    m_pending.remove(0, pos);
    return us;
}

void Mp4Fragments::movie(QByteArrayView moov)
{
    // The first track whose handler is sound.
    quint32 track = 0, timescale = 0;
    eachBox(moov, [&](QByteArrayView type, QByteArrayView trak) {
        if (type != "trak" || track != 0)
            return;
        const QByteArrayView mdia = childBox(trak, "mdia");
        const QByteArrayView hdlr = childBox(mdia, "hdlr");
        if (hdlr.size() < 12 || hdlr.sliced(8, 4) != "soun")
            return;
        track = fieldAt(childBox(trak, "tkhd"), 12, 20).value_or(0);
        timescale = fieldAt(childBox(mdia, "mdhd"), 12, 20).value_or(0);
        if (timescale == 0)
            track = 0;
    });
    if (track == 0)
        return;
    m_track = track;
    m_timescale = timescale;
    m_defaultDuration = 0;
    eachBox(childBox(moov, "mvex"), [&](QByteArrayView type, QByteArrayView trex) {
        if (type == "trex" && trex.size() >= kFullBoxHeader + 16 && u32(trex, 4) == m_track)
            m_defaultDuration = u32(trex, 12);
    });
}

qint64 Mp4Fragments::fragment(QByteArrayView moof) const
{
    if (m_track == 0)
        return 0;
    qint64 units = 0;
    bool sane = true;
    eachBox(moof, [&](QByteArrayView type, QByteArrayView traf) {
        if (type != "traf")
            return;
        quint32 defaultDuration = m_defaultDuration;
        bool ours = false;
        eachBox(traf, [&](QByteArrayView t, QByteArrayView b) {
            if (t == "tfhd" && b.size() >= kFullBoxHeader + 4) {
                const quint32 flags = u32(b, 0) & 0xffffff;
                ours = u32(b, 4) == m_track;
                qsizetype at = 8 + ((flags & 0x01) ? 8 : 0) + ((flags & 0x02) ? 4 : 0);
                if ((flags & 0x08) && b.size() >= at + 4)
                    defaultDuration = u32(b, at);
            }
            if (t != "trun" || !ours || b.size() < kFullBoxHeader + 4)
                return;
            const quint32 flags = u32(b, 0) & 0xffffff;
            const quint32 count = u32(b, 4);
            qsizetype at = 8 + ((flags & 0x01) ? 4 : 0) + ((flags & 0x04) ? 4 : 0);
            if (!(flags & 0x100)) {
                if (count > kMaxSamples) {
                    sane = false;
                    return;
                }
                units += qint64(count) * defaultDuration;
                return;
            }
            const qsizetype perSample =
                4 * (1 + ((flags & 0x200) ? 1 : 0) + ((flags & 0x400) ? 1 : 0) + ((flags & 0x800) ? 1 : 0));
            if (qint64(count) * perSample > b.size() - at) {
                sane = false;
                return;
            }
            for (quint32 i = 0; i < count; ++i, at += perSample)
                units += u32(b, at);
        });
    });
    if (!sane || m_timescale == 0 || units > qint64(m_timescale) * (kMaxFragmentUs / 1000000))
        return 0;
    return units * 1000000 / m_timescale;
}

} // namespace lumora
