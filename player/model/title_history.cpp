#include "title_history.h"

#include <algorithm>

namespace lumora {

bool TitleHistory::add(const QString &title, const QDateTime &began, const QString &station)
{
    if (title.isEmpty() || (!m_entries.isEmpty() && m_entries.constLast().title == title))
        return false;
    if (m_entries.size() >= kCapacity)
        m_entries.remove(0, m_entries.size() - kCapacity + 1);
    m_entries.append({title, began.toUTC(), station});
    emit changed();
    return true;
}

void TitleHistory::restore(QList<TitleEntry> entries)
{
    if (entries.size() > kCapacity)
        entries.remove(0, entries.size() - kCapacity);
    m_entries = std::move(entries);
    emit changed();
}

void TitleHistory::clear()
{
    if (m_entries.isEmpty())
        return;
    m_entries.clear();
    emit changed();
}

QList<TitleEntry> TitleHistory::newestFirst() const
{
    QList<TitleEntry> out = m_entries;
    std::reverse(out.begin(), out.end());
    return out;
}

} // namespace lumora
