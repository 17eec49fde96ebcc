#pragma once

#include "format_table.h"
#include "playlist_text.h"
#include "stream_signatures.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace lumora {

// What an HTTP response body is, judged by its content (and only then by its type).
enum class ContentKind {
    NeedMore,    // not enough bytes yet to tell
    Stream,      // audio or video data: hand the address to libVLC
    MmshStream,  // Windows Media over HTTP (framed ASF): libVLC opens it as mmsh://
    Hls,         // an HTTP Live Streaming playlist: Lumora fetches its segments (HlsStream)
    Playlist,    // a playlist or page in one of playlistFormats()
    NotPlayable, // neither a stream nor a playlist
};

struct Content {
    ContentKind kind = ContentKind::NotPlayable;
    const PlaylistFormat *playlist = nullptr; // Playlist: its format
};

// "stream", "HLS", ... or the playlist format's name.
QString contentName(const Content &content);

// The most of a body recogniseContent looks at: a partial body longer than this is judged
// as its first kJudgedBytes are.
constexpr qsizetype kJudgedBytes = 64 * 1024;

// Judges a body from its first bytes. complete tells whether body is the whole response; a
// playlist found on a partial body is only a first guess and is judged again when the body
// is complete (an M3U may turn out to be an HLS index).
Content recogniseContent(QByteArrayView contentType, QByteArrayView body, bool complete);

// The entries of a playlist body in order, as its format's reader gives them; none when the
// content is no playlist. Alternatives of one ASX entry follow each other.
QStringList playlistEntries(const Content &content, QByteArrayView body);

} // namespace lumora
