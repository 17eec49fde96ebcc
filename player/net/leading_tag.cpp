#include "leading_tag.h"

namespace lumora {

bool LeadingTag::feed(QByteArrayView bytes)
{
    if (m_done || bytes.isEmpty())
        return false;
    constexpr qsizetype kHeader = 10;
    // Only as much as the tag can still need is kept.
    const qsizetype wanted = (m_tag.size > 0 ? m_tag.size : Id3Tag::kMaxSize) - m_head.size();
    m_head.append(bytes.first(qMin(bytes.size(), qMax<qsizetype>(0, wanted))));
    if (m_head.size() < kHeader && QByteArrayView("ID3").startsWith(m_head.first(qMin<qsizetype>(3, m_head.size()))))
        return false; // may still be a tag's header
    m_tag = Id3Tag::read(m_head);
    if (m_tag.size > 0 && !m_tag.complete)
        return false;
    m_done = true;
    m_head = QByteArray();
    return true;
}

} // namespace lumora
