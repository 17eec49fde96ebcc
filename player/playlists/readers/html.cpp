// A web page that may embed a player. Any markup no other format claims is taken as one.

#include "player/playlists/playlist_text.h"
#include "playlist_readers.h"

#include <QSet>

namespace lumora::playlists::html {

SignatureMatch signature(const BodySample &body)
{
    return !body.firstElement.isEmpty() || startsWithNoCase(body.head, u"<!doctype html")
        ? SignatureMatch::Opening : SignatureMatch::None;
}

QStringList entries(QStringView text)
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

} // namespace lumora::playlists::html
