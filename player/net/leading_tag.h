#pragma once

#include "id3_tag.h"

#include <QByteArray>
#include <QByteArrayView>

namespace lumora {

// The ID3v2 tag a stream starts with, gathered as its bytes arrive: an MP3 file's, or the one
// a live stream sends first when its encoder reads tagged files. Real files carry cover
// pictures of hundreds of kilobytes, and the title may come after the picture, so the tag is
// read once it is whole (at most Id3Tag::kMaxSize bytes are kept).
class LeadingTag {
public:
    // The next bytes of the stream. true once, when the tag has become whole (tag() holds
    // it) or the bytes have shown that there is none (tag().size is 0).
    bool feed(QByteArrayView bytes);
    bool done() const { return m_done; }
    const Id3Tag &tag() const { return m_tag; }

private:
    QByteArray m_head;
    Id3Tag m_tag;
    bool m_done = false;
};

} // namespace lumora
