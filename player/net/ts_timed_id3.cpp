#include "ts_timed_id3.h"

#include "id3_tag.h"

#include <utility>

namespace lumora {

namespace {

quint8 at(QByteArrayView b, qsizetype i)
{
    return quint8(b[i]);
}

} // namespace

QStringList TsTimedId3::feed(QByteArrayView bytes)
{
    QStringList titles;
    m_packets.feed(bytes, [&](const TsPackets::Payload &p) {
        if (p.streamType != TsPackets::kMetadata)
            return;
        if (m_metadataPid < 0)
            m_metadataPid = p.pid; // the first such stream; another would tear its PES apart
        if (p.pid == m_metadataPid)
            payload(p.unitStart, p.data, titles);
    });
    return titles;
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
    const qsizetype tagAt = TsPackets::pesHeaderLength(pes);
    if (tagAt == 0 || tagAt >= pes.size())
        return;
    const Id3Tag tag = Id3Tag::read(QByteArrayView(pes).sliced(tagAt));
    if (tag.complete && !tag.title.isEmpty())
        titles << tag.title;
}

} // namespace lumora
