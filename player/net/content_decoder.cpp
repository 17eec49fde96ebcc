#include "content_decoder.h"

#include <zlib.h>

namespace lumora {

namespace {

constexpr qsizetype kOutPiece = 16 * 1024;

} // namespace

struct ContentDecoder::Stream {
    z_stream z{};
    bool open = false;
    ~Stream()
    {
        if (open)
            inflateEnd(&z);
    }
};

ContentDecoder::Coding ContentDecoder::codingOf(QByteArrayView contentEncoding)
{
    const QByteArray value = contentEncoding.trimmed().toByteArray().toLower();
    if (value.isEmpty() || value == "identity")
        return Coding::Identity;
    if (value == "gzip" || value == "x-gzip")
        return Coding::Gzip;
    if (value == "deflate")
        return Coding::Deflate;
    return Coding::Unknown;
}

ContentDecoder::ContentDecoder(Coding coding, qint64 maxOutput) : m_coding(coding), m_maxOutput(maxOutput) {}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::fail(const QString &why)
{
    m_error = why;
    m_stream.reset();
    return false;
}

bool ContentDecoder::begin(QByteArrayView first)
{
    m_stream = std::make_unique<Stream>();
    // gzip: its own header (32 lets zlib take a zlib header as well, which some servers send).
    // deflate means a zlib stream, but many servers send raw deflate data under that name:
    // a zlib stream starts with a header whose first two bytes are a multiple of 31.
    int windowBits = 15 + 32;
    if (m_coding == Coding::Deflate) {
        const bool zlibHeader = first.size() >= 2 && (quint8(first[0]) & 0x0F) == 8
            && ((quint8(first[0]) << 8) | quint8(first[1])) % 31 == 0;
        windowBits = zlibHeader ? 15 : -15;
    }
    if (inflateInit2(&m_stream->z, windowBits) != Z_OK)
        return fail(QStringLiteral("cannot start decompressing"));
    m_stream->open = true;
    return true;
}

bool ContentDecoder::feed(QByteArrayView in, QByteArray *out)
{
    if (!m_error.isEmpty())
        return false;
    if (m_coding == Coding::Identity || m_coding == Coding::Unknown) {
        out->append(in);
        return true;
    }
    if (m_ended || in.isEmpty())
        return true;
    if (!m_stream && !begin(in))
        return false;
    m_in += in.size();
    z_stream &z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = uInt(in.size());
    while (z.avail_in > 0 || z.avail_out == 0) {
        const qsizetype before = out->size();
        out->resize(before + kOutPiece);
        z.next_out = reinterpret_cast<Bytef *>(out->data() + before);
        z.avail_out = uInt(kOutPiece);
        const int rc = inflate(&z, Z_NO_FLUSH);
        const qsizetype made = kOutPiece - qsizetype(z.avail_out);
        out->resize(before + made);
        m_out += made;
        // Checked for every piece: a bomb never gets to fill memory before it is stopped.
        if (m_out > m_maxOutput)
            return fail(QStringLiteral("compressed body larger than %1 bytes decoded").arg(m_maxOutput));
        if (m_out > kRatioFloor && m_out > kMaxRatio * m_in)
            return fail(QStringLiteral("compressed body expands more than %1 times").arg(kMaxRatio));
        if (rc == Z_STREAM_END) {
            m_ended = true;
            m_stream.reset();
            return true;
        }
        if (rc == Z_BUF_ERROR && made == 0)
            return true; // needs more input
        if (rc != Z_OK)
            return fail(QStringLiteral("compressed body is corrupt (%1)")
                            .arg(QString::fromLatin1(z.msg ? z.msg : "zlib error")));
        if (z.avail_in == 0 && z.avail_out > 0)
            break;
    }
    return true;
}

} // namespace lumora
