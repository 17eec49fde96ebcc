#include "playlist_formats.h"

#include <algorithm>

namespace lumora {

namespace {

// Bytes looked at before a partial body is judged; a stream's signature needs fewer.
constexpr qsizetype kSniffBytes = 512;
constexpr qsizetype kMagicBytes = 16;

Content playlist(const PlaylistFormat &format)
{
    return {ContentKind::Playlist, &format};
}

bool typeDecides(const PlaylistFormat &format, QByteArrayView mime)
{
    const std::string_view type(mime.data(), size_t(mime.size()));
    return format.typeDecides
        && std::find(format.mimeTypes.begin(), format.mimeTypes.end(), type) != format.mimeTypes.end();
}

} // namespace

QString contentName(const Content &content)
{
    switch (content.kind) {
    case ContentKind::NeedMore: return QStringLiteral("need more");
    case ContentKind::Stream: return QStringLiteral("stream");
    case ContentKind::MmshStream: return QStringLiteral("MMSH stream");
    case ContentKind::Hls: return QStringLiteral("HLS");
    case ContentKind::Playlist:
        return content.playlist ? QString::fromLatin1(content.playlist->name) : QStringLiteral("playlist");
    case ContentKind::NotPlayable: return QStringLiteral("not playable");
    }
    return {};
}

Content recogniseContent(QByteArrayView contentType, QByteArrayView body, bool complete)
{
    using namespace playlists;
    const QByteArray mime = mimeOf(contentType);

    // A stream shows what it is in its first bytes, and no playlist starts like one: judged
    // as soon as they are here. A stream paced in real time takes a while to send more.
    if (complete || body.size() >= kMagicBytes) {
        if (body.startsWith("$H") || mime == "application/x-mms-framed"
            || mime == "application/vnd.ms.wms-hdr.asfv1")
            return {ContentKind::MmshStream};
        if (hasAsfHeader(body) || hasMediaMagic(body))
            return {ContentKind::Stream};
    }
    if (!complete && body.size() < kSniffBytes)
        return {ContentKind::NeedMore};

    const bool mediaType = mime.startsWith("audio/") || mime.startsWith("video/")
        || mime == "application/ogg" || mime == "application/octet-stream";
    if (looksBinary(body))
        return {mediaType || mime.isEmpty() ? ContentKind::Stream : ContentKind::NotPlayable};

    const QString text = decodeBodyText(body.first(qMin(body.size(), kJudgedBytes)));
    const QStringView head = QStringView(text).trimmed();
    // An M3U with HTTP Live Streaming tags is an index of segments, not a list of stations.
    if (complete && startsWithNoCase(head, u"#extm3u") && text.contains(u"#EXT-X-", Qt::CaseInsensitive))
        return {ContentKind::Hls};

    const QString first = head.startsWith(u'<') ? firstElement(head) : QString();
    const BodySample sample{text, head, first, complete};
    const PlaylistFormat *wholeBody = nullptr;
    for (const PlaylistFormat &format : playlistFormats()) {
        const SignatureMatch match = format.signature(sample);
        if (match == SignatureMatch::Opening)
            return playlist(format);
        if (match == SignatureMatch::WholeBody && !wholeBody)
            wholeBody = &format;
    }
    for (const PlaylistFormat &format : playlistFormats())
        if (typeDecides(format, mime))
            return playlist(format);

    // Text in no form known by its opening: only the whole body can tell more.
    if (!complete)
        return {ContentKind::NeedMore};
    if (wholeBody)
        return playlist(*wholeBody);
    return {mediaType ? ContentKind::Stream : ContentKind::NotPlayable};
}

QStringList playlistEntries(const Content &content, QByteArrayView body)
{
    if (content.kind != ContentKind::Playlist || !content.playlist)
        return {};
    return content.playlist->entries(decodeBodyText(body));
}

} // namespace lumora
