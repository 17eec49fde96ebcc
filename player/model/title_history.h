#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

namespace lumora {

// One title a station sent, as it sent it (plain text), with the moment it began and the
// caption of the station that sent it.
struct TitleEntry {
    QString title;
    QDateTime began; // UTC
    QString station;

    bool operator==(const TitleEntry &) const = default;
};

// The titles a page's player heard, oldest first, at most kCapacity: the oldest go first. A
// title equal to the newest entry's is the server repeating itself (after a reconnection, or
// sending the same metadata again) and makes no new entry.
class TitleHistory : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kCapacity = 500;

    using QObject::QObject;

    // Adds a title that began at began; false when it repeats the newest entry or is empty.
    bool add(const QString &title, const QDateTime &began, const QString &station);
    // Replaces everything with entries kept from an earlier run (oldest first); only the
    // newest kCapacity are kept.
    void restore(QList<TitleEntry> entries);
    void clear();

    const QList<TitleEntry> &entries() const { return m_entries; } // oldest first
    QList<TitleEntry> newestFirst() const;
    qsizetype size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }

signals:
    // An entry was added, or the whole history replaced or cleared.
    void changed();

private:
    QList<TitleEntry> m_entries;
};

} // namespace lumora
