// ASX, Windows Media's metafile (also as .wax and .wvx): <asx> with <entry><ref href=...>.

#include "player/playlists/playlist_text.h"
#include "playlist_readers.h"

namespace lumora::playlists::asx {

SignatureMatch signature(const BodySample &body)
{
    return body.firstElement == u"asx" ? SignatureMatch::Opening : SignatureMatch::None;
}

QStringList entries(QStringView text)
{
    // <ref href> and <entryref href> in document order; the refs of one <entry> are its
    // alternatives, tried one after another like any later entry.
    return attributeOfTags(text, {u"ref", u"entryref"}, QStringLiteral("href"));
}

} // namespace lumora::playlists::asx
