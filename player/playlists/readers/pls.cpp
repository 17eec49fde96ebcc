// PLS, SHOUTcast's playlist: "[playlist]", then File1=..., File2=... in any order.

#include "player/playlists/playlist_text.h"
#include "playlist_readers.h"

namespace lumora::playlists::pls {

SignatureMatch signature(const BodySample &body)
{
    return startsWithNoCase(body.head, u"[playlist]") ? SignatureMatch::Opening : SignatureMatch::None;
}

QStringList entries(QStringView text)
{
    return numberedEntries(text, u"file");
}

} // namespace lumora::playlists::pls
