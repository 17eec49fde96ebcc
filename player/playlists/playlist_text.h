#pragma once

// Text helpers shared by the playlist readers: body decoding, entities, lines, numbered keys
// and a tolerant scanner of markup tags.

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <initializer_list>

namespace lumora {

// Body text: UTF-8 or UTF-16 by byte order mark, else UTF-8 when valid, else Latin-1.
QString decodeBodyText(QByteArrayView body);

namespace playlists {

// XML's five named entities and numeric character references; anything else, a bare '&'
// above all, stays as written.
QString decodeEntities(QStringView text);

bool startsWithNoCase(QStringView text, QStringView prefix);

// The lines of a text, each with the space around it removed.
QStringList lines(QStringView text);

// The values of "Key<N>=value" lines of an INI-like playlist, ordered by N; the first of a
// repeated N counts.
QStringList numberedEntries(QStringView text, QStringView key);

// One tag of a loosely written SGML/XML document. Real ASX files are often not XML at all:
// upper-case names, unquoted values, bare '&' in addresses. The scanner takes them as they come.
struct Tag {
    QString name; // lower case
    bool closing = false;
    QHash<QString, QString> attributes; // lower-case names, values with entities decoded
};

class TagScanner {
public:
    explicit TagScanner(QStringView text) : m_text(text) {}

    // The next element tag; comments, processing instructions and declarations are skipped.
    bool next(Tag &tag);
    // Text from the end of the last tag to the next '<'.
    QStringView textToNextTag() const;

private:
    void skipSpace();
    void readAttributes(Tag &tag);
    QString readValue();

    QStringView m_text;
    qsizetype m_pos = 0;
};

// The name of the first element of a markup document ("" when there is none).
QString firstElement(QStringView text);

// The non-empty values of one attribute of the opening tags with the given names, in
// document order.
QStringList attributeOfTags(QStringView text, std::initializer_list<QStringView> names,
                            const QString &attribute);

} // namespace playlists
} // namespace lumora
