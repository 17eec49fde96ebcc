// PLS, SHOUTcast's playlist: "[playlist]", then File1=..., File2=... in any order.

#include "playlist_readers.h"
#include "playlist_text.h"

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
