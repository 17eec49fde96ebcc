#pragma once

// What marks audio and video data, and the headers that announce a live stream: the judging
// of an answer that comes before any playlist format is looked for.

#include <QByteArray>
#include <QByteArrayView>

namespace lumora {

namespace playlists {

// The 16-byte header object of ASF (Windows Media) data.
bool hasAsfHeader(QByteArrayView body);

// The first bytes of MP3, AAC, Ogg, FLAC, RIFF, RealMedia, Matroska/WebM or MP4 data.
bool hasMediaMagic(QByteArrayView body);

// Binary data has NUL bytes or many control characters in its first bytes.
bool looksBinary(QByteArrayView body);

// The media type of a Content-Type header, lower case, without its parameters.
QByteArray mimeOf(QByteArrayView contentType);

} // namespace playlists

// Whether a response's headers alone show a live audio stream: a SHOUTcast or Icecast
// server's icy-* headers with an audio codec's content type and no length. Such an answer is
// judged before its body comes, which on a stream paced in real time takes a while.
bool announcesLiveStream(QByteArrayView contentType, bool icyHeaders, bool hasLength);

} // namespace lumora
