#include "playlist_formats.h"

#include <algorithm>
#include <string_view>

#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace lumora {

namespace {

// Bytes looked at before a partial body is judged; a stream's signature needs fewer.
constexpr qsizetype kSniffBytes = 512;
constexpr qsizetype kMagicBytes = 16;

// One tag of a loosely written SGML/XML document. Real ASX files are often not XML at all:
// upper-case names, unquoted values, bare '&' in addresses. The scanner takes them as they come.
struct Tag {
    QString name; // lower case
    bool closing = false;
    QHash<QString, QString> attributes; // lower-case names, values with entities decoded
};

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

class TagScanner {
public:
    explicit TagScanner(QStringView text) : m_text(text) {}

    // The next element tag; comments, processing instructions and declarations are skipped.
    bool next(Tag &tag)
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

    // Text from the end of the last tag to the next '<'.
    QStringView textToNextTag() const
    {
        qsizetype end = m_text.indexOf(u'<', m_pos);
        if (end < 0)
            end = m_text.size();
        return m_text.mid(m_pos, end - m_pos);
    }

private:
    static bool isNameChar(QChar c)
    {
        return c.isLetterOrNumber() || c == u':' || c == u'_' || c == u'-' || c == u'.';
    }

    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }

    void readAttributes(Tag &tag)
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

    QString readValue()
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

    QStringView m_text;
    qsizetype m_pos = 0;
};

// The name of the first element of a markup document ("" when there is none).
QString firstElement(QStringView text)
{
    TagScanner scanner(text);
    Tag tag;
    while (scanner.next(tag))
        if (!tag.closing)
            return tag.name;
    return {};
}

bool startsWithNoCase(QStringView text, QStringView prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

bool hasAsfHeader(QByteArrayView b)
{
    static const unsigned char guid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    return b.size() >= 16 && memcmp(b.data(), guid, 16) == 0;
}

bool hasMediaMagic(QByteArrayView b)
{
    auto at = [&](qsizetype i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0; };
    if (b.startsWith("ID3") || b.startsWith("OggS") || b.startsWith("RIFF")
        || b.startsWith(".RMF") || b.startsWith("fLaC") || b.startsWith("\x1A\x45\xDF\xA3"))
        return true;
    if (b.size() >= 8 && b.sliced(4, 4) == "ftyp")
        return true;
    // MPEG audio frame sync (MP3, ADTS AAC); FF FE followed by a zero byte is the byte order
    // mark of UTF-16 text instead.
    if (at(0) == 0xFF && at(1) == 0xFE && b.size() >= 4 && at(3) == 0)
        return false;
    return at(0) == 0xFF && (at(1) & 0xE0) == 0xE0;
}

// Binary data has NUL bytes or many control characters in its first bytes.
bool looksBinary(QByteArrayView b)
{
    const qsizetype n = qMin<qsizetype>(b.size(), 1024);
    if (n == 0)
        return false;
    if (b.startsWith("\xFF\xFE") || b.startsWith("\xFE\xFF"))
        return false; // UTF-16 text with a byte order mark
    qsizetype control = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = b[i];
        if (c == 0)
            return true;
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f')
            ++control;
    }
    return control * 10 > n;
}

QByteArray mimeOf(QByteArrayView contentType)
{
    QByteArray mime = contentType.toByteArray();
    const qsizetype semi = mime.indexOf(';');
    if (semi >= 0)
        mime.truncate(semi);
    return mime.trimmed().toLower();
}

QStringList lines(QStringView text)
{
    QStringList out;
    for (QStringView line : text.split(u'\n'))
        out += line.trimmed().toString();
    return out;
}

// Every line that is neither blank nor a comment holds an absolute address.
bool isBareAddressList(QStringView text)
{
    static const QRegularExpression absolute(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://\\S+$"));
    int entries = 0;
    for (const QString &line : lines(text)) {
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (!absolute.match(line).hasMatch())
            return false;
        ++entries;
    }
    return entries > 0;
}

QStringList m3uEntries(QStringView text)
{
    QStringList out;
    for (const QString &line : lines(text))
        if (!line.isEmpty() && !line.startsWith(u'#'))
            out += line;
    return out;
}

// "Key<N>=value" lines of an INI-like playlist, ordered by N.
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

// The non-empty values of one attribute of the opening tags with the given names, in
// document order.
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

QStringList asxEntries(QStringView text)
{
    // <ref href> and <entryref href> in document order; the refs of one <entry> are its
    // alternatives, tried one after another like any later entry.
    return attributeOfTags(text, {u"ref", u"entryref"}, QStringLiteral("href"));
}

QStringList smilEntries(QStringView text)
{
    return attributeOfTags(text, {u"media", u"audio", u"video", u"ref"}, QStringLiteral("src"));
}

QStringList xspfEntries(QStringView text)
{
    QStringList out;
    TagScanner scanner(text);
    Tag tag;
    while (scanner.next(tag)) {
        if (!tag.closing && tag.name == u"location") {
            const QString value = decodeEntities(scanner.textToNextTag()).trimmed();
            if (!value.isEmpty())
                out += value;
        }
    }
    return out;
}

QStringList htmlEntries(QStringView text)
{
    // Embedded players: <embed src>, <object> with <param name=url|src|filename value>,
    // <audio src> and <source src>.
    static const QStringList paramNames = {QStringLiteral("url"), QStringLiteral("src"),
                                           QStringLiteral("filename")};
    QStringList out;
    QSet<QString> seen; // a page may embed the same address many times
    TagScanner scanner(text);
    Tag tag;
    int objectDepth = 0;
    while (scanner.next(tag)) {
        if (tag.name == u"object") {
            objectDepth += tag.closing ? -1 : 1;
            objectDepth = qMax(objectDepth, 0);
            continue;
        }
        if (tag.closing)
            continue;
        QString address;
        if (tag.name == u"embed" || tag.name == u"audio" || tag.name == u"source")
            address = tag.attributes.value(QStringLiteral("src"));
        else if (tag.name == u"param" && objectDepth > 0
                 && paramNames.contains(tag.attributes.value(QStringLiteral("name")).toLower()))
            address = tag.attributes.value(QStringLiteral("value"));
        if (!address.isEmpty() && !seen.contains(address)) {
            seen.insert(address);
            out += address;
        }
    }
    return out;
}

} // namespace

QString contentKindName(ContentKind kind)
{
    switch (kind) {
    case ContentKind::NeedMore: return QStringLiteral("need more");
    case ContentKind::Stream: return QStringLiteral("stream");
    case ContentKind::MmshStream: return QStringLiteral("MMSH stream");
    case ContentKind::Hls: return QStringLiteral("HLS");
    case ContentKind::Asx: return QStringLiteral("ASX");
    case ContentKind::Reference: return QStringLiteral("reference");
    case ContentKind::Pls: return QStringLiteral("PLS");
    case ContentKind::M3u: return QStringLiteral("M3U");
    case ContentKind::Smil: return QStringLiteral("WPL/SMIL");
    case ContentKind::Xspf: return QStringLiteral("XSPF");
    case ContentKind::Html: return QStringLiteral("HTML");
    case ContentKind::NotPlayable: return QStringLiteral("not playable");
    }
    return {};
}

bool isPlaylistKind(ContentKind kind)
{
    switch (kind) {
    case ContentKind::Asx: case ContentKind::Reference: case ContentKind::Pls:
    case ContentKind::M3u: case ContentKind::Smil: case ContentKind::Xspf: case ContentKind::Html:
        return true;
    default:
        return false;
    }
}

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

bool announcesLiveStream(QByteArrayView contentType, bool icyHeaders, bool hasLength)
{
    if (!icyHeaders || hasLength)
        return false;
    // Codecs only: playlist types such as audio/x-mpegurl or audio/x-scpls are not here.
    static constexpr std::string_view kStreamTypes[] = {
        "audio/mpeg", "audio/mp3", "audio/mpeg3", "audio/aac", "audio/aacp", "audio/x-aac",
        "audio/ogg", "application/ogg", "audio/opus", "audio/flac", "audio/mp4", "audio/webm",
    };
    const QByteArray mime = mimeOf(contentType);
    const std::string_view type(mime.constData(), size_t(mime.size()));
    return std::find(std::begin(kStreamTypes), std::end(kStreamTypes), type) != std::end(kStreamTypes);
}

ContentKind recogniseContent(QByteArrayView contentType, QByteArrayView body, bool complete)
{
    const QByteArray mime = mimeOf(contentType);

    // A stream shows what it is in its first bytes, and no playlist starts like one: judged
    // as soon as they are here. A stream paced in real time takes a while to send more.
    if (complete || body.size() >= kMagicBytes) {
        if (body.startsWith("$H") || mime == "application/x-mms-framed"
            || mime == "application/vnd.ms.wms-hdr.asfv1")
            return ContentKind::MmshStream;
        if (hasAsfHeader(body) || hasMediaMagic(body))
            return ContentKind::Stream;
    }
    if (!complete && body.size() < kSniffBytes)
        return ContentKind::NeedMore;

    const bool binary = looksBinary(body);
    const bool mediaType = mime.startsWith("audio/") || mime.startsWith("video/")
        || mime == "application/ogg" || mime == "application/octet-stream";
    if (binary)
        return mediaType || mime.isEmpty() ? ContentKind::Stream : ContentKind::NotPlayable;

    const QString text = decodeBodyText(body.first(qMin<qsizetype>(body.size(), 64 * 1024)));
    const QStringView head = QStringView(text).trimmed();
    if (startsWithNoCase(head, u"[playlist]"))
        return ContentKind::Pls;
    if (startsWithNoCase(head, u"[reference]"))
        return ContentKind::Reference;
    if (startsWithNoCase(head, u"#extm3u")) {
        if (complete && text.contains(u"#EXT-X-", Qt::CaseInsensitive))
            return ContentKind::Hls;
        return ContentKind::M3u;
    }
    if (head.startsWith(u'<')) {
        if (startsWithNoCase(head, u"<?wpl"))
            return ContentKind::Smil;
        const QString first = firstElement(head);
        if (first == u"asx")
            return ContentKind::Asx;
        if (first == u"smil")
            return ContentKind::Smil;
        if (first == u"playlist")
            return ContentKind::Xspf;
        if (!first.isEmpty())
            return ContentKind::Html;
        if (startsWithNoCase(head, u"<!doctype html"))
            return ContentKind::Html;
    }
    if (mime == "audio/x-scpls")
        return ContentKind::Pls;
    if (mime == "text/html" || mime == "application/xhtml+xml")
        return ContentKind::Html;

    // Text in no known form: a bare list of addresses is an M3U without its header. That
    // can only be judged on the whole body.
    if (!complete)
        return ContentKind::NeedMore;
    if (isBareAddressList(text))
        return ContentKind::M3u;
    return mediaType ? ContentKind::Stream : ContentKind::NotPlayable;
}

QStringList playlistEntries(ContentKind kind, QByteArrayView body)
{
    const QString text = decodeBodyText(body);
    switch (kind) {
    case ContentKind::Asx: return asxEntries(text);
    case ContentKind::Reference: return numberedEntries(text, u"ref");
    case ContentKind::Pls: return numberedEntries(text, u"file");
    case ContentKind::M3u: return m3uEntries(text);
    case ContentKind::Smil: return smilEntries(text);
    case ContentKind::Xspf: return xspfEntries(text);
    case ContentKind::Html: return htmlEntries(text);
    default: return {};
    }
}

} // namespace lumora
