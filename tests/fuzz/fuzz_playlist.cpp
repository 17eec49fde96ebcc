// Feeds arbitrary bytes to one of the player's playlist readers (the reader is chosen when the
// target is built: LUMORA_FUZZ_READER) and checks what it hands back. The "recognise" target
// feeds the content recogniser instead: a Content-Type line, then the body.

#include "player/playlists/playlist_formats.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <algorithm>
#include <cstdlib>

#if !defined(LUMORA_FUZZ_RECOGNISE)
// The reader under test, as readers/<reader>.cpp defines it.
namespace lumora::playlists::LUMORA_FUZZ_READER {
QStringList entries(QStringView text);
}
#endif

namespace {

using lumora::Content;
using lumora::ContentKind;

[[noreturn]] void broken(const char *what)
{
    std::fputs(what, stderr);
    std::fputc('\n', stderr);
    std::abort();
}

void checkEntries(const Content &content, QByteArrayView body)
{
    const QStringList entries = lumora::playlistEntries(content, body);
    // Entries are as written, with the space around them removed, and never empty.
    for (const QString &e : entries) {
        if (e.isEmpty())
            broken("an empty entry");
        if (e != e.trimmed())
            broken("an entry with space around it");
    }
    // Each entry comes from at least a few bytes of the body.
    if (entries.size() > body.size())
        broken("more entries than bytes");
    if (content.playlist->name == "HTML" && entries.size() != QSet<QString>(entries.begin(), entries.end()).size())
        broken("a page's address listed twice");
}

#if defined(LUMORA_FUZZ_RECOGNISE)
void checkRecognition(QByteArrayView input)
{
    const qsizetype eol = input.indexOf('\n');
    const QByteArrayView type = eol < 0 ? QByteArrayView() : input.first(eol);
    const QByteArrayView body = eol < 0 ? input : input.sliced(eol + 1);
    const Content whole = lumora::recogniseContent(type, body, true);
    if (whole.kind == ContentKind::NeedMore)
        broken("a whole body judged as needing more");
    // Fewer than 512 bytes of a body still coming are judged only when they are a stream's
    // first bytes, and the whole body is then the same stream.
    const Content early = lumora::recogniseContent(type, body.first(qMin<qsizetype>(body.size(), 511)), false);
    if (early.kind != ContentKind::NeedMore && early.kind != ContentKind::Stream && early.kind != ContentKind::MmshStream)
        broken("a short partial body judged as something else than a stream");
    if (early.kind != ContentKind::NeedMore && early.kind != whole.kind)
        broken("a stream's first bytes judged otherwise than its whole body");
    if (whole.kind == ContentKind::Playlist)
        checkEntries(whole, body);
}
#else
// The table's row of the reader under test.
Content readerUnderTest()
{
    const auto formats = lumora::playlistFormats();
    const auto row = std::find_if(formats.begin(), formats.end(), [](const lumora::PlaylistFormat &f) {
        return f.entries == &lumora::playlists::LUMORA_FUZZ_READER::entries;
    });
    if (row == formats.end())
        broken("the reader has no row in the table");
    return {ContentKind::Playlist, &*row};
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
#if defined(LUMORA_FUZZ_RECOGNISE)
    checkRecognition(input);
#else
    static const Content reader = readerUnderTest();
    checkEntries(reader, input);
#endif
    // Decoding never loses the text: valid UTF-8 comes back as it was.
    const QString text = lumora::decodeBodyText(input);
    if (!input.startsWith("\xEF\xBB\xBF") && !input.startsWith("\xFF\xFE") && !input.startsWith("\xFE\xFF")
        && QString::fromUtf8(input).toUtf8() == input && text.toUtf8() != input)
        broken("valid UTF-8 decoded as something else");
    return 0;
}
