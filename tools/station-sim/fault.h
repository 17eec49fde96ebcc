#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace lumora::sim {

// Ways a station or a whole port can misbehave, as dead or broken servers do.
enum class Fault {
    None,
    Refuse,           // the port is closed: connections are refused
    NotFound,         // 404
    ServerError,      // 500
    NoAnswer,         // accepts, reads the request, never answers
    HeadersThenStall, // the usual status and headers, then nothing
    Trickle,          // the usual answer at one byte a second
    ResetMidStream,   // the usual answer, then a TCP reset after a little of the body
    RedirectLoop,     // 302 to a second path that redirects back
    RedirectChain,    // a chain of 302s, then the usual answer
    SelfPlaylist,     // a playlist whose only entry is the station's own address
    HugePlaylist,     // a playlist of more than 10 MB
    JunkAudio,        // endless binary junk labelled audio/mpeg
    SecondDiffers,    // the first request for an address as usual, every later one 302 to file:///etc/passwd
    RedirectLocal,    // 302 to a local scheme (StationSimulator::localRedirectTarget())
    LocalPlaylist,    // an M3U of local files, devices and a UDP listener, the real stream last
    TenBytes,         // "ICY 200 OK", its headers, 10 bytes of audio, then close
    Cp1256Title,      // live MP3 whose StreamTitle and icy-name are Windows-1256
    HostileTitle,     // live MP3 whose StreamTitle is markup, bidi override and control bytes, 10 a second
    HugeChunk,        // chunked audio/mpeg whose first chunk claims 0x7ffffffffffffff0 bytes
    HugeChunkText,    // the same labelled text/html
    NegativeLength,   // an M3U with "Content-Length: -5"
    HugeLength,       // an M3U with "Content-Length: 99999999999999999999"
    SparseOgg,        // live Ogg Vorbis: header pages at once, then one page of audio every few seconds
    MmstSilent,       // a connection that speaks no HTTP (MMS over TCP) is accepted and never answered
    Hls,              // the station streams live HLS: its address answers a master playlist of two variants
    GzipPlaylist,     // playlists and pages sent gzip-compressed (Content-Encoding: gzip), asked or not
    Latin1Title,      // live MP3 whose StreamTitle and icy-name are a French title in Latin-1
    Id3Cover,         // MP3 (a file or live) that starts with a 300 KiB ID3v2 tag: a cover picture, then TIT2
    Id3CoverAac,      // the same with AAC in ADTS frames instead of MP3
};

// Command-line names: "refuse", "404", "500", "no-answer", "stall", "trickle", "reset",
// "redirect-loop", "redirect-chain", "self-playlist", "huge-playlist", "junk", "second-differs",
// "redirect-local", "local-playlist", "ten-bytes", "cp1256-title", "hostile-title", "huge-chunk",
// "huge-chunk-text", "negative-length", "huge-length", "sparse-ogg", "mmst-silent", "hls", "gzip-playlist",
// "latin1-title", "id3-cover", "id3-cover-aac", "none".
QString faultName(Fault f);
std::optional<Fault> faultFromName(QStringView name);
QStringList faultNames();

} // namespace lumora::sim
