#include "wire_url.h"

#include "catalogue/authority.h"

#include <QUrl>

#include <algorithm>

namespace lumora {

namespace {

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// ASCII characters that may stand in a URI as they are (RFC 3986 reserved and unreserved).
bool isUriChar(char16_t c)
{
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        return true;
    return QStringView(u"-._~:/?#[]@!$&'()*+,;=").contains(QChar(c));
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The UTF-8 bytes of one code point given as one UTF-16 unit or a surrogate pair; a lone
// surrogate as QString::toUtf8 writes it.
qsizetype utf8Bytes(QStringView unit, char *out)
{
    char32_t c = unit[0].unicode();
    if (unit.size() == 2) {
        c = QChar::surrogateToUcs4(unit[0], unit[1]);
    } else if (unit[0].isSurrogate()) {
        const QByteArray bytes = unit.toUtf8();
        const qsizetype n = qMin<qsizetype>(bytes.size(), 4);
        std::copy_n(bytes.constData(), n, out);
        return n;
    }
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

void appendEncoded(QString &out, QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'%') {
            if (i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2]))
                out += c;
            else
                out += u"%25";
            continue;
        }
        if (c.unicode() < 0x80 && isUriChar(c.unicode())) {
            out += c;
            continue;
        }
        // Encode one code point (a surrogate pair counts as one) as its UTF-8 bytes. An
        // address from a playlist may be long and all Arabic: no allocation per byte.
        qsizetype len = 1;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            len = 2;
        char utf8[4];
        const qsizetype n = utf8Bytes(text.mid(i, len), utf8);
        for (qsizetype k = 0; k < n; ++k) {
            const auto b = static_cast<unsigned char>(utf8[k]);
            out += u'%';
            out += QLatin1Char(kHexDigits[b >> 4]);
            out += QLatin1Char(kHexDigits[b & 0xF]);
        }
        i += len - 1;
    }
}

bool isAscii(QStringView s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

} // namespace

QString schemeOf(const QString &address)
{
    const qsizetype colon = address.indexOf(u':');
    if (colon <= 0)
        return {};
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = address[i];
        const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
            || (i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'));
        if (!ok)
            return {};
    }
    return address.left(colon).toLower();
}

bool isNetworkScheme(const QString &scheme)
{
    static const QStringList allowed = {
        QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mms"),
        QStringLiteral("mmsh"), QStringLiteral("mmst"),
    };
    return allowed.contains(scheme);
}

QString toWireUrl(const QString &address)
{
    QString out;
    out.reserve(address.size() + 16);

    // scheme://authority is split off so that a non-ASCII host gets its IDNA form instead of
    // percent escapes, which no resolver would understand.
    const qsizetype sep = address.indexOf(u"://");
    qsizetype rest = 0;
    if (sep > 0 && !schemeOf(address).isEmpty() && schemeOf(address).size() == sep) {
        qsizetype end = sep + 3;
        while (end < address.size() && address[end] != u'/' && address[end] != u'?'
               && address[end] != u'#')
            ++end;
        out += address.left(sep + 3);
        QStringView authority = QStringView(address).mid(sep + 3, end - sep - 3);
        const qsizetype at = authority.lastIndexOf(u'@');
        if (at >= 0) {
            appendEncoded(out, authority.left(at + 1));
            authority = authority.mid(at + 1);
        }
        // A bracketed IPv6 host is ASCII and goes as it is, port and all.
        const Authority parts = splitAuthority(authority);
        const qsizetype hostEnd = parts.problem || parts.bracketed ? authority.size() : parts.host.size();
        const QStringView host = authority.left(hostEnd);
        if (!isAscii(host)) {
            const QByteArray ace = QUrl::toAce(host.toString());
            if (!ace.isEmpty())
                out += QString::fromLatin1(ace);
            else
                appendEncoded(out, host);
        } else {
            appendEncoded(out, host);
        }
        appendEncoded(out, authority.mid(hostEnd));
        rest = end;
    }
    appendEncoded(out, QStringView(address).mid(rest));
    return out;
}

} // namespace lumora
