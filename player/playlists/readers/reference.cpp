// Windows Media's reference file: "[Reference]", then Ref1=..., Ref2=... in any order.

#include "player/playlists/playlist_text.h"
#include "playlist_readers.h"

namespace lumora::playlists::reference {

SignatureMatch signature(const BodySample &body)
{
    return startsWithNoCase(body.head, u"[reference]") ? SignatureMatch::Opening : SignatureMatch::None;
}

QStringList entries(QStringView text)
{
    return numberedEntries(text, u"ref");
}

} // namespace lumora::playlists::reference
