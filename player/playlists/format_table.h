#pragma once

// The playlist formats Lumora reads, one row each: the table the recogniser and the entry
// reader walk.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <initializer_list>
#include <span>
#include <string_view>

namespace lumora {

// What a signature test sees of a text body.
struct BodySample {
    QStringView text;         // the decoded text (its first 64 KiB)
    QStringView head;         // the text without the space around it
    QStringView firstElement; // a markup text's first element, lower case; empty otherwise
    bool complete = false;    // the text is the whole body
};

// How a body fits a format.
enum class SignatureMatch {
    None,
    // The body opens as this format: decided at once, on a partial body too.
    Opening,
    // The whole body has this format's form without announcing it: decided only when no
    // format's opening and no format's media type claims the body.
    WholeBody,
};

struct PlaylistFormat {
    using SignatureTest = SignatureMatch (*)(const BodySample &body);
    using EntriesReader = QStringList (*)(QStringView text);

    std::string_view name; // as logs, problems and the health check name it
    // The media types servers send it with. With typeDecides, a text body that no format
    // recognises by its content is this format when it comes with one of them.
    std::initializer_list<std::string_view> mimeTypes;
    bool typeDecides;
    SignatureTest signature;
    // Its entries in order, as written: entities decoded, the space around them removed.
    // Nothing is checked or resolved: that is the caller's work.
    EntriesReader entries;
    // Its http entries name Windows Media servers: MMS over HTTP, as Windows Media Player
    // and VLC read them.
    bool httpMeansMmsh;
};

// Every playlist format, in the order their signatures are tried: the first that recognises
// a body decides.
std::span<const PlaylistFormat> playlistFormats();

} // namespace lumora
