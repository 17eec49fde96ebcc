#include "stream_signatures.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace lumora {

namespace playlists {

bool hasAsfHeader(QByteArrayView b)
{
    static const unsigned char guid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    return b.size() >= 16 && std::memcmp(b.data(), guid, 16) == 0;
}

bool hasMediaMagic(QByteArrayView b)
{
    auto at = [&](qsizetype i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0; };
    if (b.startsWith("ID3") || b.startsWith("OggS") || b.startsWith("RIFF")
        || b.startsWith(".RMF") || b.startsWith("fLaC") || b.startsWith("\x1A\x45\xDF\xA3"))
        return true;
    if (b.size() >= 8 && b.sliced(4, 4) == "ftyp")
        return true;
    // MPEG audio frame sync (MP3, ADTS AAC); FF FE followed by a zero byte is the byte order
    // mark of UTF-16 text instead.
    if (at(0) == 0xFF && at(1) == 0xFE && b.size() >= 4 && at(3) == 0)
        return false;
    return at(0) == 0xFF && (at(1) & 0xE0) == 0xE0;
}

bool looksBinary(QByteArrayView b)
{
    const qsizetype n = qMin<qsizetype>(b.size(), 1024);
    if (n == 0)
        return false;
    if (b.startsWith("\xFF\xFE") || b.startsWith("\xFE\xFF"))
        return false; // UTF-16 text with a byte order mark
    qsizetype control = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = b[i];
        if (c == 0)
            return true;
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f')
            ++control;
    }
    return control * 10 > n;
}

QByteArray mimeOf(QByteArrayView contentType)
{
    QByteArray mime = contentType.toByteArray();
    const qsizetype semi = mime.indexOf(';');
    if (semi >= 0)
        mime.truncate(semi);
    return mime.trimmed().toLower();
}

} // namespace playlists

bool announcesLiveStream(QByteArrayView contentType, bool icyHeaders, bool hasLength)
{
    if (!icyHeaders || hasLength)
        return false;
    // Codecs only: playlist types such as audio/x-mpegurl or audio/x-scpls are not here.
    static constexpr std::string_view kStreamTypes[] = {
        "audio/mpeg", "audio/mp3", "audio/mpeg3", "audio/aac", "audio/aacp", "audio/x-aac",
        "audio/ogg", "application/ogg", "audio/opus", "audio/flac", "audio/mp4", "audio/webm",
    };
    const QByteArray mime = playlists::mimeOf(contentType);
    const std::string_view type(mime.constData(), size_t(mime.size()));
    return std::find(std::begin(kStreamTypes), std::end(kStreamTypes), type) != std::end(kStreamTypes);
}

} // namespace lumora
