// Feeds arbitrary bytes to one of the player's playlist readers (the form is chosen when the
// target is built: LUMORA_FUZZ_KIND) and checks what it hands back. The "recognise" target
// feeds the content recogniser instead: a Content-Type line, then the body.

#include "playlist_formats.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <cstdlib>

namespace {

using lumora::ContentKind;

[[noreturn]] void broken(const char *what)
{
    std::fputs(what, stderr);
    std::fputc('\n', stderr);
    std::abort();
}

void checkEntries(ContentKind kind, QByteArrayView body)
{
    const QStringList entries = lumora::playlistEntries(kind, body);
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
    if (kind == ContentKind::Html && entries.size() != QSet<QString>(entries.begin(), entries.end()).size())
        broken("a page's address listed twice");
}

#if defined(LUMORA_FUZZ_RECOGNISE)
void checkRecognition(QByteArrayView input)
{
    const qsizetype eol = input.indexOf('\n');
    const QByteArrayView type = eol < 0 ? QByteArrayView() : input.first(eol);
    const QByteArrayView body = eol < 0 ? input : input.sliced(eol + 1);
    const ContentKind whole = lumora::recogniseContent(type, body, true);
    if (whole == ContentKind::NeedMore)
        broken("a whole body judged as needing more");
    // Fewer than 512 bytes of a body still coming are judged only when they are a stream's
    // first bytes, and the whole body is then the same stream.
    const ContentKind early = lumora::recogniseContent(type, body.first(qMin<qsizetype>(body.size(), 511)), false);
    if (early != ContentKind::NeedMore && early != ContentKind::Stream && early != ContentKind::MmshStream)
        broken("a short partial body judged as something else than a stream");
    if (early != ContentKind::NeedMore && early != whole)
        broken("a stream's first bytes judged otherwise than its whole body");
    if (lumora::isPlaylistKind(whole))
        checkEntries(whole, body);
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
#if defined(LUMORA_FUZZ_RECOGNISE)
    checkRecognition(input);
#else
    checkEntries(ContentKind::LUMORA_FUZZ_KIND, input);
#endif
    // Decoding never loses the text: valid UTF-8 comes back as it was.
    const QString text = lumora::decodeBodyText(input);
    if (!input.startsWith("\xEF\xBB\xBF") && !input.startsWith("\xFF\xFE") && !input.startsWith("\xFE\xFF")
        && QString::fromUtf8(input).toUtf8() == input && text.toUtf8() != input)
        broken("valid UTF-8 decoded as something else");
    return 0;
}
