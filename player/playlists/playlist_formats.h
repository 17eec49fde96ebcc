#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace lumora {

// What an HTTP response body is, judged by its content (and only then by its type).
enum class ContentKind {
    NeedMore,    // not enough bytes yet to tell
    Stream,      // audio or video data: hand the address to libVLC
    MmshStream,  // Windows Media over HTTP (framed ASF): libVLC opens it as mmsh://
    Hls,         // an HTTP Live Streaming index: libVLC plays it itself
    Asx,         // ASX / WAX / WVX
    Reference,   // "[Reference]" file (Ref1=..., Ref2=...)
    Pls,         // "[playlist]" File1=...
    M3u,         // M3U, with or without #EXTM3U
    Smil,        // WPL or SMIL: <media src=...>
    Xspf,        // XSPF: <location>...</location>
    Html,        // a web page that may embed a player
    NotPlayable, // neither a stream nor a playlist
};

QString contentKindName(ContentKind kind);
bool isPlaylistKind(ContentKind kind);

// Judges a body from its first bytes. complete tells whether body is the whole response; a
// playlist kind found on a partial body is only a first guess and is judged again when the
// body is complete (an M3U may turn out to be an HLS index).
ContentKind recogniseContent(QByteArrayView contentType, QByteArrayView body, bool complete);

// The entries of a playlist body in order, as written (entities decoded, surrounding space
// removed). Alternatives of one ASX entry follow each other. Nothing is checked or resolved:
// that is the caller's work.
QStringList playlistEntries(ContentKind kind, QByteArrayView body);

// Whether a response's headers alone show a live audio stream: a SHOUTcast or Icecast
// server's icy-* headers with an audio codec's content type and no length. Such an answer is
// judged before its body comes, which on a stream paced in real time takes a while.
bool announcesLiveStream(QByteArrayView contentType, bool icyHeaders, bool hasLength);

// Body text: UTF-8 or UTF-16 by byte order mark, else UTF-8 when valid, else Latin-1.
QString decodeBodyText(QByteArrayView body);

} // namespace lumora
