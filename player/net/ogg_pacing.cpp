#include "ogg_pacing.h"

#include <QtEndian>

namespace lumora {

namespace {

constexpr qsizetype kHeaderBytes = 27;
constexpr qsizetype kMaxPage = kHeaderBytes + 255 + 255 * 255;

} // namespace

void OggPacing::feed(QByteArrayView bytes)
{
    if (m_lost)
        return;
    m_pending.append(bytes);
    qsizetype pos = 0;
    while (m_pending.size() - pos >= kHeaderBytes) {
        const QByteArrayView at = QByteArrayView(m_pending).sliced(pos);
        if (!at.startsWith("OggS")) {
            m_lost = true;
            m_pending.clear();
            return;
        }
        const int segments = quint8(at[26]);
        if (at.size() < kHeaderBytes + segments)
            break;
        qsizetype bodySize = 0;
        for (int i = 0; i < segments; ++i)
            bodySize += quint8(at[kHeaderBytes + i]);
        const qsizetype pageSize = kHeaderBytes + segments + bodySize;
        if (at.size() < pageSize)
            break;
        page(at.first(kHeaderBytes), at.sliced(kHeaderBytes + segments, bodySize),
             qFromLittleEndian<qint64>(at.data() + 6));
        pos += pageSize;
    }
    m_pending.remove(0, pos);
    if (m_pending.size() > kMaxPage) { // cannot be a page: stop watching
        m_lost = true;
        m_pending.clear();
    }
}

void OggPacing::page(QByteArrayView, QByteArrayView body, qint64 granule)
{
    if (m_rate == 0) {
        // The first packet names the codec: Vorbis gives its sample rate, Opus counts 48 kHz.
        if (body.size() >= 16 && body.startsWith("\x01vorbis"))
            m_rate = qFromLittleEndian<quint32>(body.data() + 12);
        else if (body.startsWith("OpusHead"))
            m_rate = 48000;
        if (m_rate <= 0 || m_rate > 384000)
            m_rate = 0;
        return;
    }
    if (granule == 0 && m_lastGranule < 0) {
        m_lastGranule = 0; // the headers: a stream that starts here counts its first page from 0
        return;
    }
    if (granule <= 0)
        return; // a page on which no packet ends
    if (m_lastGranule >= 0 && granule > m_lastGranule) {
        // A stream joined in its middle counts from far away: gaps of a minute or more are
        // no page's audio.
        const qint64 ms = (granule - m_lastGranule) * 1000 / m_rate;
        if (ms > m_longestMs && ms < 60000)
            m_longestMs = int(ms);
    }
    m_lastGranule = granule;
}

} // namespace lumora
