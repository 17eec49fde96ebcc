#pragma once

#include <QByteArrayView>
#include <QString>

namespace lumora {

// An ID3v2 tag at the start of some bytes: how long it is, and the title (TIT2) it holds.
// Packed audio segments of HTTP Live Streaming (ADTS, MP3) begin with one; the tag is cut
// out before the audio goes to libVLC and its title shown like an ICY title.
struct Id3Tag {
    qsizetype size = 0; // bytes of the whole tag, header (and footer) included; 0: no tag
    QString title;      // TIT2 decoded and made plain; empty when it has none
    bool complete = false; // all size bytes were there

    static constexpr qsizetype kMaxSize = 1024 * 1024;

    // The tag at the start of bytes; size 0 when bytes do not start with a valid ID3v2
    // header. A tag larger than kMaxSize is no tag.
    static Id3Tag read(QByteArrayView bytes);
};

} // namespace lumora
