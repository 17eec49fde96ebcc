#include "format_table.h"

// Declares signature() and entries() of every reader in readers/: the file readers/<name>.cpp
// defines them in namespace lumora::playlists::<name>. CMake writes this header from the
// folder's files (a CONFIGURE_DEPENDS glob), so a new reader needs no line anywhere but its
// row below.
#include "playlist_readers.h"

namespace lumora {

std::span<const PlaylistFormat> playlistFormats()
{
    using namespace playlists;
    // Signatures are tried from the top and the first that recognises a body decides, so
    // HTML, which takes any markup, stays last. A type that decides is used only when no
    // signature recognises the body.
    // One row a format, wrapped by hand.
    // clang-format off
    static const PlaylistFormat kFormats[] = {
        // name, media types, type decides, signature, entries, http means MMSH
        {"PLS", {"audio/x-scpls"}, true, pls::signature, pls::entries, false},
        {"reference", {"video/x-ms-asf", "audio/x-ms-asf"}, false, reference::signature,
         reference::entries, true},
        {"M3U", {"audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl", "application/vnd.apple.mpegurl"},
         false, m3u::signature, m3u::entries, false},
        {"WPL/SMIL", {"application/vnd.ms-wpl", "application/smil", "application/smil+xml"}, false,
         smil::signature, smil::entries, false},
        {"ASX", {"video/x-ms-asf", "audio/x-ms-wax", "video/x-ms-wvx", "video/x-ms-wmx"}, false,
         asx::signature, asx::entries, false},
        {"XSPF", {"application/xspf+xml"}, false, xspf::signature, xspf::entries, false},
        {"HTML", {"text/html", "application/xhtml+xml"}, true, html::signature, html::entries, false},
    };
    // clang-format on
    return kFormats;
}

} // namespace lumora
