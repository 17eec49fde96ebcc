#include "playlist_text.h"

#include <QMap>
#include <QStringDecoder>

#include <algorithm>

namespace lumora {

QString decodeBodyText(QByteArrayView body)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(body.sliced(3));
    if (body.startsWith("\xFF\xFE")) {
        QStringDecoder d(QStringDecoder::Utf16LE);
        return d(body.sliced(2));
    }
    if (body.startsWith("\xFE\xFF")) {
        QStringDecoder d(QStringDecoder::Utf16BE);
        return d(body.sliced(2));
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(body);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(body);
}

namespace playlists {

namespace {

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u':' || c == u'_' || c == u'-' || c == u'.';
}

} // namespace

QString decodeEntities(QStringView text)
{
    if (!text.contains(u'&'))
        return text.toString();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            out += text[i];
            continue;
        }
        // An entity ends within ten characters; looking no further keeps a text full of
        // bare '&' linear.
        qsizetype semi = -1;
        for (qsizetype k = i + 1; k < qMin(text.size(), i + 11); ++k) {
            if (text[k] == u';') {
                semi = k;
                break;
            }
        }
        if (semi < 0) {
            out += u'&'; // a bare '&' in an address stays as it is
            continue;
        }
        const QStringView name = text.mid(i + 1, semi - i - 1);
        char32_t code = 0;
        if (name == u"amp") code = u'&';
        else if (name == u"lt") code = u'<';
        else if (name == u"gt") code = u'>';
        else if (name == u"quot") code = u'"';
        else if (name == u"apos") code = u'\'';
        else if (name.startsWith(u"#x") || name.startsWith(u"#X")) code = name.mid(2).toUInt(nullptr, 16);
        else if (name.startsWith(u'#')) code = name.mid(1).toUInt();
        if (code == 0 || code > 0x10FFFF) {
            out += u'&';
            continue;
        }
        out += QString::fromUcs4(&code, 1);
        i = semi;
    }
    return out;
}

bool startsWithNoCase(QStringView text, QStringView prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

QStringList lines(QStringView text)
{
    QStringList out;
    for (QStringView line : text.split(u'\n'))
        out += line.trimmed().toString();
    return out;
}

QStringList numberedEntries(QStringView text, QStringView key)
{
    QMap<int, QString> byNumber;
    for (const QString &line : lines(text)) {
        if (!startsWithNoCase(line, key))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        bool ok = false;
        const int number = QStringView(line).mid(key.size(), eq - key.size()).trimmed().toInt(&ok);
        const QString value = line.mid(eq + 1).trimmed();
        if (ok && !value.isEmpty() && !byNumber.contains(number))
            byNumber.insert(number, value);
    }
    return byNumber.values();
}

bool TagScanner::next(Tag &tag)
{
    while (true) {
        const qsizetype lt = m_text.indexOf(u'<', m_pos);
        if (lt < 0 || lt + 1 >= m_text.size())
            return false;
        m_pos = lt + 1;
        if (m_text.mid(m_pos).startsWith(u"!--")) {
            const qsizetype end = m_text.indexOf(u"-->", m_pos + 3);
            m_pos = end < 0 ? m_text.size() : end + 3;
            continue;
        }
        if (m_text[m_pos] == u'!' || m_text[m_pos] == u'?') {
            const qsizetype end = m_text.indexOf(u'>', m_pos);
            m_pos = end < 0 ? m_text.size() : end + 1;
            continue;
        }
        tag = Tag{};
        if (m_text[m_pos] == u'/') {
            tag.closing = true;
            ++m_pos;
        }
        const qsizetype nameStart = m_pos;
        while (m_pos < m_text.size() && isNameChar(m_text[m_pos]))
            ++m_pos;
        if (m_pos == nameStart)
            continue; // "<" followed by something else: text
        tag.name = m_text.mid(nameStart, m_pos - nameStart).toString().toLower();
        readAttributes(tag);
        return true;
    }
}

QStringView TagScanner::textToNextTag() const
{
    qsizetype end = m_text.indexOf(u'<', m_pos);
    if (end < 0)
        end = m_text.size();
    return m_text.mid(m_pos, end - m_pos);
}

void TagScanner::skipSpace()
{
    while (m_pos < m_text.size() && m_text[m_pos].isSpace())
        ++m_pos;
}

void TagScanner::readAttributes(Tag &tag)
{
    while (true) {
        skipSpace();
        if (m_pos >= m_text.size())
            return;
        const QChar c = m_text[m_pos];
        if (c == u'>') {
            ++m_pos;
            return;
        }
        if (c == u'/') {
            ++m_pos;
            continue;
        }
        const qsizetype nameStart = m_pos;
        while (m_pos < m_text.size() && !m_text[m_pos].isSpace() && m_text[m_pos] != u'='
               && m_text[m_pos] != u'>' && m_text[m_pos] != u'/')
            ++m_pos;
        const QString name = m_text.mid(nameStart, m_pos - nameStart).toString().toLower();
        skipSpace();
        QString value;
        if (m_pos < m_text.size() && m_text[m_pos] == u'=') {
            ++m_pos;
            skipSpace();
            value = readValue();
        }
        if (!name.isEmpty() && !tag.attributes.contains(name))
            tag.attributes.insert(name, decodeEntities(value).trimmed());
    }
}

QString TagScanner::readValue()
{
    if (m_pos >= m_text.size())
        return {};
    const QChar quote = m_text[m_pos];
    if (quote == u'"' || quote == u'\'') {
        const qsizetype start = m_pos + 1;
        qsizetype end = m_text.indexOf(quote, start);
        if (end < 0) { // unterminated: up to the end of the tag
            end = m_text.indexOf(u'>', start);
            if (end < 0)
                end = m_text.size();
            m_pos = end;
        } else {
            m_pos = end + 1;
        }
        return m_text.mid(start, end - start).toString();
    }
    // Unquoted: up to white space or the end of the tag; '/' belongs to the value
    // (HREF=http://host/path>).
    const qsizetype start = m_pos;
    while (m_pos < m_text.size() && !m_text[m_pos].isSpace() && m_text[m_pos] != u'>')
        ++m_pos;
    return m_text.mid(start, m_pos - start).toString();
}

QString firstElement(QStringView text)
{
    TagScanner scanner(text);
    Tag tag;
    while (scanner.next(tag))
        if (!tag.closing)
            return tag.name;
    return {};
}

QStringList attributeOfTags(QStringView text, std::initializer_list<QStringView> names,
                            const QString &attribute)
{
    QStringList out;
    TagScanner scanner(text);
    Tag tag;
    while (scanner.next(tag)) {
        if (tag.closing || std::find(names.begin(), names.end(), tag.name) == names.end())
            continue;
        const QString value = tag.attributes.value(attribute);
        if (!value.isEmpty())
            out += value;
    }
    return out;
}

} // namespace playlists
} // namespace lumora
