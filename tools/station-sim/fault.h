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
};

// Command-line names: "refuse", "404", "500", "no-answer", "stall", "trickle", "reset",
// "redirect-loop", "redirect-chain", "self-playlist", "huge-playlist", "junk", "none".
QString faultName(Fault f);
std::optional<Fault> faultFromName(QStringView name);
QStringList faultNames();

} // namespace lumora::sim
