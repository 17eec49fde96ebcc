// XSPF: <playlist> with <track><location>address</location></track>.

#include "player/playlists/playlist_text.h"
#include "playlist_readers.h"

namespace lumora::playlists::xspf {

SignatureMatch signature(const BodySample &body)
{
    return body.firstElement == u"playlist" ? SignatureMatch::Opening : SignatureMatch::None;
}

QStringList entries(QStringView text)
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

} // namespace lumora::playlists::xspf
