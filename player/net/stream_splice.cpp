#include "stream_splice.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace lumora {

namespace {

constexpr qsizetype kOggHeaderBytes = 27;

enum class Check { No, Yes, More };

quint8 at(QByteArrayView b, qsizetype i)
{
    return quint8(b[i]);
}

// An MPEG audio frame header at the start of b: its frame length, or 0.
int mpegFrameLength(QByteArrayView b)
{
    static const int kBitrates[2][3][16] = {
        {// MPEG-2 and 2.5: layers I, II, III
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
        {// MPEG-1
         {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    };
    static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    if (b.size() < 4 || at(b, 0) != 0xFF || (at(b, 1) & 0xE0) != 0xE0)
        return 0;
    const int version = (at(b, 1) >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layerBits = (at(b, 1) >> 1) & 3; // 3 layer I, 2 layer II, 1 layer III
    const int rateIndex = (at(b, 2) >> 2) & 3;
    if (version == 1 || layerBits == 0 || rateIndex == 3)
        return 0;
    const int layer = 3 - layerBits; // 0 I, 1 II, 2 III
    const int bitrate = kBitrates[version == 3][layer][at(b, 2) >> 4] * 1000;
    const int rate = kRates[version][rateIndex];
    if (bitrate == 0 || rate == 0)
        return 0;
    const int padding = (at(b, 2) >> 1) & 1;
    if (layer == 0)
        return (12 * bitrate / rate + padding) * 4;
    if (layer == 2 && version != 3)
        return 72 * bitrate / rate + padding;
    return 144 * bitrate / rate + padding;
}

// An ADTS (AAC) frame header at the start of b: its frame length, or 0.
int adtsFrameLength(QByteArrayView b)
{
    if (b.size() < 7 || at(b, 0) != 0xFF || (at(b, 1) & 0xF6) != 0xF0 || ((at(b, 2) >> 2) & 0xF) > 12)
        return 0;
    const int length = ((at(b, 3) & 3) << 11) | (at(b, 4) << 3) | (at(b, 5) >> 5);
    return length >= 7 ? length : 0;
}

// Two frames in a row with the same stream parameters: a frame start one can trust.
template <typename Length>
Check frameSync(QByteArrayView b, Length length, quint8 sameMask2)
{
    if (b.size() < 7)
        return Check::More;
    const int first = length(b);
    if (first == 0)
        return Check::No;
    if (b.size() < first + 7)
        return Check::More;
    const QByteArrayView next = b.sliced(first);
    if (length(next) == 0 || at(next, 1) != at(b, 1) || (at(next, 2) & sameMask2) != (at(b, 2) & sameMask2))
        return Check::No;
    return Check::Yes;
}

// The length of the Ogg page at the start of b, 0 if b holds no whole page yet, -1 if none
// starts there.
qsizetype oggPageLength(QByteArrayView b)
{
    if (b.size() < 4)
        return QByteArrayView("OggS").startsWith(b) ? 0 : -1;
    if (!b.startsWith("OggS"))
        return -1;
    if (b.size() < kOggHeaderBytes)
        return 0;
    if (at(b, 4) != 0 || at(b, 5) > 7)
        return -1;
    const int segments = at(b, 26);
    if (b.size() < kOggHeaderBytes + segments)
        return 0;
    qsizetype body = 0;
    for (int i = 0; i < segments; ++i)
        body += at(b, kOggHeaderBytes + i);
    const qsizetype length = kOggHeaderBytes + segments + body;
    return b.size() < length ? 0 : length;
}

// A whole page here and the next one starting right after it.
Check oggPageSync(QByteArrayView b)
{
    const qsizetype length = oggPageLength(b);
    if (length < 0)
        return Check::No;
    if (length == 0 || b.size() < length + 6)
        return Check::More;
    const QByteArrayView next = b.sliced(length);
    return next.startsWith("OggS") && at(next, 4) == 0 && at(next, 5) <= 7 ? Check::Yes : Check::No;
}

bool startsWithBos(QByteArrayView b)
{
    return b.size() >= kOggHeaderBytes && b.startsWith("OggS") && at(b, 4) == 0 && (at(b, 5) & 0x02);
}

} // namespace

StreamSplice::StreamSplice(Format format) : m_format(format) {}

StreamSplice::Format StreamSplice::formatOf(QByteArrayView contentType, QByteArrayView firstBytes)
{
    const QByteArray type = contentType.toByteArray().toLower();
    if (firstBytes.startsWith("OggS") || type.contains("ogg") || type.contains("opus"))
        return Format::Ogg;
    if (adtsFrameLength(firstBytes) > 0 || type.contains("aac"))
        return Format::Adts;
    if (mpegFrameLength(firstBytes) > 0 || firstBytes.startsWith("ID3") || type.startsWith("audio/mpeg")
        || type.startsWith("audio/mp3") || type.startsWith("audio/x-mpeg"))
        return Format::Mpeg;
    return Format::Other;
}

void StreamSplice::written(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    m_tail.append(bytes);
    // Trimmed in steps, not on every write: the tail holds between one and two tails' worth.
    if (m_tail.size() > 2 * kTailBytes)
        m_tail.remove(0, m_tail.size() - kTailBytes);
    if (m_format == Format::Ogg && !m_pagesLost)
        walkPages(bytes);
}

void StreamSplice::walkPages(QByteArrayView bytes)
{
    m_page.append(bytes);
    qsizetype pos = 0;
    while (pos < m_page.size()) {
        const QByteArrayView rest = QByteArrayView(m_page).sliced(pos);
        const qsizetype length = oggPageLength(rest);
        if (length < 0) {
            m_pagesLost = true; // not page after page: the headers cannot be followed
            m_page.clear();
            return;
        }
        if (length == 0)
            break;
        const bool bos = at(rest, 5) & 0x02;
        const qint64 granule = qFromLittleEndian<qint64>(rest.data() + 6);
        if (bos) {
            if (!m_previousWasBos)
                m_oggHeaders.clear(); // a new chain begins
            m_recordingHeaders = true;
        }
        if (m_recordingHeaders) {
            if (bos || granule == 0 || granule == -1) {
                if (m_oggHeaders.size() + length > kMaxHeaderBytes) {
                    m_oggHeaders.clear(); // too large to compare: treated as unknown
                    m_recordingHeaders = false;
                } else {
                    m_oggHeaders.append(rest.first(length));
                }
            } else {
                m_recordingHeaders = false; // the first page of audio
            }
        }
        m_previousWasBos = bos;
        pos += length;
    }
    m_page.remove(0, pos);
}

void StreamSplice::beginJoin()
{
    m_state = State::Searching;
    m_how = How::None;
    m_pending.clear();
    m_headersChecked = false;
    m_anchorsFound = false;
    m_anchors.clear();
    m_syncFrom = 0;
    m_skipped = 0;
}

QByteArray StreamSplice::join(QByteArrayView bytes)
{
    if (m_state == State::Joined)
        return bytes.toByteArray();
    if (m_state != State::Searching)
        return {};
    m_pending.append(bytes);
    QByteArray out = search();
    if (m_state == State::Searching && m_pending.size() > kMaxPending) {
        m_state = State::Failed; // nothing lines up in all this: not the stream that was playing
        m_skipped += m_pending.size();
        m_pending.clear();
        m_anchors.clear();
    }
    return out;
}

QByteArray StreamSplice::search()
{
    if (m_format == Format::Ogg && !m_headersChecked && !skipOggHeaders())
        return {};
    if (m_state == State::Joined) // a new chain, passed on whole
        return joinAt(0, How::NewChain);

    if (!m_anchorsFound) {
        const qsizetype anchor = std::min(kAnchorBytes, m_tail.size());
        if (anchor >= kMinOverlap && m_pending.size() < anchor)
            return {};
        if (anchor >= kMinOverlap)
            findAnchors();
        m_anchorsFound = true;
    }
    // Each place is compared once, byte by byte as they come, shortest overlap first.
    while (!m_anchors.empty()) {
        Anchor &a = m_anchors.front();
        const qsizetype have = std::min(a.overlap, m_pending.size());
        const char *repeated = m_tail.constData() + m_tail.size() - a.overlap;
        if (std::memcmp(repeated + a.checked, m_pending.constData() + a.checked, size_t(have - a.checked)) != 0) {
            m_anchors.erase(m_anchors.begin());
            continue;
        }
        a.checked = have;
        if (have < a.overlap)
            return {}; // so far the new connection repeats what was written: wait for the rest
        return joinAt(a.overlap, How::Overlap);
    }

    if (m_format == Format::Other)
        return joinAt(0, How::AsItComes);
    const qsizetype from = syncPoint();
    return from >= 0 ? joinAt(from, How::Sync) : QByteArray();
}

bool StreamSplice::skipOggHeaders()
{
    const QByteArrayView pending(m_pending);
    if (!m_oggHeaders.isEmpty()) {
        const qsizetype n = std::min(m_oggHeaders.size(), pending.size());
        if (pending.first(n) == QByteArrayView(m_oggHeaders).first(n)) {
            if (n < m_oggHeaders.size())
                return false;
            m_skipped += n;
            m_pending.remove(0, n);
            m_headersChecked = true;
            return true;
        }
    } else if (pending.size() < kOggHeaderBytes) {
        return false;
    }
    m_headersChecked = true;
    // Other headers: the encoder started again, and its stream follows as a new chain.
    if (startsWithBos(pending))
        m_state = State::Joined;
    return true;
}

void StreamSplice::findAnchors()
{
    const qsizetype anchor = std::min(kAnchorBytes, m_tail.size());
    const QByteArrayView tail(m_tail);
    const QByteArrayView needle = QByteArrayView(m_pending).first(anchor);
    // Shorter overlaps than the anchor: the new connection began just before the old one
    // ended.
    for (qsizetype n = kMinOverlap; n < anchor && int(m_anchors.size()) < kMaxAnchors; ++n)
        if (tail.endsWith(needle.first(n)))
            m_anchors.push_back({n});
    // The anchor inside the tail, nearest the end first.
    qsizetype from = tail.size() - anchor;
    while (from >= 0 && int(m_anchors.size()) < kMaxAnchors) {
        const qsizetype found = tail.lastIndexOf(needle, from);
        if (found < 0)
            break;
        m_anchors.push_back({tail.size() - found});
        from = found - 1;
    }
}

qsizetype StreamSplice::syncPoint()
{
    const QByteArrayView pending(m_pending);
    for (; m_syncFrom < pending.size(); ++m_syncFrom) {
        const QByteArrayView rest = pending.sliced(m_syncFrom);
        Check check = Check::No;
        switch (m_format) {
        case Format::Mpeg:
            // Version, layer and protection bits, and the sample rate, stay from frame to frame.
            check = frameSync(rest, mpegFrameLength, 0x0C);
            break;
        case Format::Adts:
            check = frameSync(rest, adtsFrameLength, 0xFC);
            break;
        case Format::Ogg:
            check = oggPageSync(rest);
            break;
        case Format::Other:
            return 0;
        }
        if (check == Check::Yes)
            return m_syncFrom;
        if (check == Check::More)
            return -1;
    }
    return -1;
}

QByteArray StreamSplice::joinAt(qsizetype from, How how)
{
    QByteArray out = m_pending.mid(from);
    m_skipped += from;
    m_pending.clear();
    m_anchors.clear();
    m_state = State::Joined;
    m_how = how;
    if (how != How::Overlap) {
        // The old connection may have ended inside a page; the new one starts at a page.
        m_page.clear();
        m_pagesLost = false;
        m_previousWasBos = false;
    }
    return out;
}

} // namespace lumora
