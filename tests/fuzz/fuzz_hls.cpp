// Feeds arbitrary bytes to what Lumora reads of HTTP Live Streaming: the playlist reader (the
// "playlist" target) or the ID3 tag readers, of packed audio and of MPEG-TS's timed ID3, with
// the audio meter that counts MPEG-TS's audio (the "id3" target, chosen when the target is
// built: LUMORA_FUZZ_ID3), and checks what they hand back.

#include "player/net/audio_meter.h"
#include "player/net/hls_playlist.h"
#include "player/net/id3_tag.h"
#include "player/net/ts_timed_id3.h"
#include "player/net/ts_timeline.h"
#include "player/net/wire_url.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace lumora;

[[noreturn]] void broken(const char *what)
{
    std::fputs(what, stderr);
    std::fputc('\n', stderr);
    std::abort();
}

void checkAddress(const QString &uri)
{
    const QString scheme = schemeOf(uri);
    if (scheme != u"http" && scheme != u"https")
        broken("an address that is not http or https");
    if (uri.size() > HlsPlaylist::kMaxAddressChars)
        broken("an address longer than the limit");
}

void checkPlaylist(QByteArrayView input)
{
    const HlsPlaylist p = HlsPlaylist::read(input, QStringLiteral("https://cdn.example/live/x/index.m3u8"));
    switch (p.kind) {
    case HlsPlaylist::Kind::Invalid:
        if (p.refusal.isEmpty())
            broken("refused without a reason");
        if (!p.segments.isEmpty() || !p.variants.isEmpty())
            broken("a refused playlist with entries");
        return;
    case HlsPlaylist::Kind::Master:
        if (p.variants.isEmpty() || p.variants.size() > HlsPlaylist::kMaxVariants)
            broken("a master with no or too many variants");
        for (const HlsVariant &v : p.variants) {
            checkAddress(v.uri);
            if (v.bandwidth < 0)
                broken("a negative bandwidth");
        }
        return;
    case HlsPlaylist::Kind::Media:
        break;
    }
    if (p.targetDurationMs <= 0 || p.targetDurationMs > HlsPlaylist::kMaxDurationMs)
        broken("a target duration out of range");
    if (p.segments.size() > HlsPlaylist::kMaxSegments)
        broken("more segments than the limit");
    qint64 previous = -1;
    for (const HlsSegment &s : p.segments) {
        checkAddress(s.uri);
        if (s.sequence <= previous || s.sequence > HlsPlaylist::kMaxSequence)
            broken("sequence numbers not rising, or out of range");
        previous = s.sequence;
        if (s.durationMs < 0 || s.durationMs > HlsPlaylist::kMaxDurationMs)
            broken("a segment duration out of range");
        if (!s.range.isWhole() && (s.range.offset < 0 || s.range.length > HlsPlaylist::kMaxRangeBytes))
            broken("a byte range out of range");
        if (s.key.method == HlsKey::Method::Aes128) {
            checkAddress(s.key.uri);
            if (!s.key.iv.isEmpty() && s.key.iv.size() != 16)
                broken("an IV that is not 16 bytes");
        }
        if (!s.mapUri.isEmpty())
            checkAddress(s.mapUri);
    }
}

void checkTitle(const QString &title)
{
    // 200 characters kept, then an ellipsis; the last one kept may take two UTF-16 units.
    if (title.size() > 202)
        broken("a title longer than plain network text allows");
    for (QChar c : title)
        if (c.category() == QChar::Other_Control)
            broken("a control character in a title");
}

void checkTimedId3(QByteArrayView input)
{
    // Whole, and again in two feeds split at a packet's end, as segments come.
    TsTimedId3 whole, split;
    const qsizetype half = input.size() / 2 / 188 * 188;
    QStringList titles = whole.feed(input);
    for (const QString &t : titles)
        checkTitle(t);
    titles = split.feed(input.first(half)) + split.feed(input.sliced(half));
    for (const QString &t : titles)
        checkTitle(t);
    // Time stamps carried across a discontinuity: the packets stay where they are.
    TsTimeline timeline;
    QByteArray first = input.first(half).toByteArray(), second = input.sliced(half).toByteArray();
    const qsizetype sizes = first.size() + second.size();
    QByteArray started = input.toByteArray();
    TsTimeline().startAt(started, 700);
    if (started.size() != input.size())
        broken("a seek's start moved the packets");
    timeline.carry(first, false);
    timeline.carry(second, true);
    if (first.size() + second.size() != sizes || (half > 0 && first.front() != input.front()))
        broken("the timeline moved the packets");
    // The audio meter reads the same bytes (MPEG-TS or frames) alike however they are cut.
    AudioMeter meterWhole, meterSplit;
    meterWhole.feed(input);
    const qsizetype cut = input.size() / 3;
    meterSplit.feed(input.first(cut));
    meterSplit.feed(input.sliced(cut));
    if (meterWhole.audioMs() != meterSplit.audioMs() || meterWhole.transport() != meterSplit.transport())
        broken("the audio meter counts differently when the bytes come in two pieces");
}

void checkId3(QByteArrayView input)
{
    checkTimedId3(input);
    const Id3Tag tag = Id3Tag::read(input);
    if (tag.size < 0 || tag.size > Id3Tag::kMaxSize)
        broken("a tag size out of range");
    if (tag.size == 0 && (tag.complete || !tag.title.isEmpty()))
        broken("no tag, yet a title or a whole one");
    if (tag.complete != (tag.size > 0 && tag.size <= input.size()))
        broken("complete does not match the size");
    checkTitle(tag.title);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
#if defined(LUMORA_FUZZ_ID3)
    checkId3(input);
#else
    checkPlaylist(input);
#endif
    return 0;
}
