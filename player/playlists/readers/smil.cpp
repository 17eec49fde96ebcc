// SMIL and Windows Media's WPL (SMIL with a "<?wpl" prolog): <media src=...>, <audio>, <video>
// and <ref>.

#include "player/playlists/playlist_text.h"
#include "playlist_readers.h"

namespace lumora::playlists::smil {

SignatureMatch signature(const BodySample &body)
{
    return startsWithNoCase(body.head, u"<?wpl") || body.firstElement == u"smil"
        ? SignatureMatch::Opening : SignatureMatch::None;
}

QStringList entries(QStringView text)
{
    return attributeOfTags(text, {u"media", u"audio", u"video", u"ref"}, QStringLiteral("src"));
}

} // namespace lumora::playlists::smil
