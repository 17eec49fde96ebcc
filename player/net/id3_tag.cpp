#include "id3_tag.h"

#include "network_text.h"

#include <QStringDecoder>

namespace lumora {

namespace {

// Four 7-bit bytes, most significant first; -1 when a high bit is set.
qint64 syncSafe(QByteArrayView b)
{
    qint64 v = 0;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (c & 0x80)
            return -1;
        v = (v << 7) | c;
    }
    return v;
}

qint64 bigEndian32(QByteArrayView b)
{
    qint64 v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<unsigned char>(b[i]);
    return v;
}

// A text frame's content: an encoding byte, then the text (ISO-8859-1, UTF-16 with a byte
// order mark, UTF-16BE, UTF-8), up to its first terminator.
QString textFrame(QByteArrayView content)
{
    if (content.isEmpty())
        return {};
    const char encoding = content[0];
    QByteArrayView text = content.sliced(1);
    QString out;
    switch (encoding) {
    case 0:
        out = QString::fromLatin1(text);
        break;
    case 1:
    case 2: {
        QStringDecoder decode(encoding == 2 ? QStringConverter::Utf16BE : QStringConverter::Utf16,
                              QStringDecoder::Flag::Stateless);
        if (encoding == 1 && text.size() >= 2
            && static_cast<unsigned char>(text[0]) == 0xFF && static_cast<unsigned char>(text[1]) == 0xFE)
            decode = QStringDecoder(QStringConverter::Utf16LE);
        else if (encoding == 1 && text.size() >= 2
                 && static_cast<unsigned char>(text[0]) == 0xFE && static_cast<unsigned char>(text[1]) == 0xFF)
            decode = QStringDecoder(QStringConverter::Utf16BE);
        if (encoding == 1 && text.size() >= 2)
            text = text.sliced(2);
        out = decode(text.first(text.size() & ~qsizetype(1)));
        break;
    }
    case 3:
        out = QString::fromUtf8(text);
        break;
    default:
        return {};
    }
    const qsizetype nul = out.indexOf(QChar(0));
    if (nul >= 0)
        out.truncate(nul);
    return plainNetworkText(out);
}

} // namespace

Id3Tag Id3Tag::read(QByteArrayView bytes)
{
    Id3Tag tag;
    if (bytes.size() < 10 || !bytes.startsWith("ID3"))
        return tag;
    const auto major = static_cast<unsigned char>(bytes[3]);
    const auto flags = static_cast<unsigned char>(bytes[5]);
    if (major < 2 || major > 4 || static_cast<unsigned char>(bytes[4]) == 0xFF)
        return tag;
    const qint64 body = syncSafe(bytes.sliced(6, 4));
    if (body < 0)
        return tag;
    const bool footer = major == 4 && (flags & 0x10);
    const qint64 size = 10 + body + (footer ? 10 : 0);
    if (size > kMaxSize)
        return tag;
    tag.size = qsizetype(size);
    tag.complete = bytes.size() >= size;
    // Frames: unsynchronised or compressed tags are rare in streams and only lose the title.
    if (flags & 0x80)
        return tag;
    QByteArrayView frames = bytes.sliced(10, qMin<qint64>(body, bytes.size() - 10));
    if (major >= 3 && (flags & 0x40) && frames.size() >= 4) {
        // An extended header: its size (v2.4: sync-safe and including itself).
        const qint64 ext = major == 4 ? syncSafe(frames.first(4)) : bigEndian32(frames.first(4)) + 4;
        if (ext < 0 || ext > frames.size())
            return tag;
        frames = frames.sliced(ext);
    }
    const qsizetype header = major == 2 ? 6 : 10;
    while (frames.size() >= header && frames[0] != 0) {
        const QByteArrayView id = frames.first(major == 2 ? 3 : 4);
        qint64 length = 0;
        if (major == 2)
            length = (qint64(static_cast<unsigned char>(frames[3])) << 16)
                | (static_cast<unsigned char>(frames[4]) << 8) | static_cast<unsigned char>(frames[5]);
        else
            length = major == 4 ? syncSafe(frames.sliced(4, 4)) : bigEndian32(frames.sliced(4, 4));
        if (length < 0 || length > frames.size() - header)
            break;
        if (id == "TIT2" || id == "TT2") {
            tag.title = textFrame(frames.sliced(header, length));
            break;
        }
        frames = frames.sliced(header + length);
    }
    return tag;
}

} // namespace lumora
