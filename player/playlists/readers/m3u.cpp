// M3U: one address a line, '#' lines are comments, "#EXTM3U" first when extended. A text of
// nothing but absolute addresses is an M3U without its header.

#include "player/playlists/playlist_text.h"
#include "playlist_readers.h"

#include <QRegularExpression>

namespace lumora::playlists::m3u {

namespace {

// Every line that is neither blank nor a comment holds an absolute address.
bool isBareAddressList(QStringView text)
{
    static const QRegularExpression absolute(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://\\S+$"));
    int entries = 0;
    for (QStringView line : text.tokenize(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (!absolute.match(line).hasMatch())
            return false;
        ++entries;
    }
    return entries > 0;
}

} // namespace

SignatureMatch signature(const BodySample &body)
{
    if (startsWithNoCase(body.head, u"#extm3u"))
        return SignatureMatch::Opening;
    // Only the whole body can show that every line is an address.
    if (body.complete && isBareAddressList(body.text))
        return SignatureMatch::WholeBody;
    return SignatureMatch::None;
}

QStringList entries(QStringView text)
{
    QStringList out;
    for (const QString &line : lines(text))
        if (!line.isEmpty() && !line.startsWith(u'#'))
            out += line;
    return out;
}

} // namespace lumora::playlists::m3u
