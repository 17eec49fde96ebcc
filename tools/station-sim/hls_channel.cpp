#include "hls_channel.h"

#include "cover_tag.h"

#include <openssl/evp.h>

namespace lumora::sim {

namespace {

constexpr int kMissingEvery = 5;       // Missing: sequence numbers 3, 8, 13, ... answer 404
constexpr int kStartAgainEvery = 4;    // Discontinuity: the encoder starts again at 4, 8, ...
constexpr int kStallAfterSegments = 2; // Stalled: segments added after the first reading
constexpr int kKeptBehind = 4;         // segments kept after they left the window

// An ID3v2.4 tag holding one TIT2 frame, UTF-8, as packed audio segments begin.
QByteArray id3Title(const QByteArray &title)
{
    const QByteArray content = '\x03' + title;
    const QByteArray frame = "TIT2" + id3SyncSafe(quint32(content.size())) + QByteArray(2, '\0') + content;
    return QByteArray("ID3\x04\x00\x00", 6) + id3SyncSafe(quint32(frame.size())) + frame;
}

QByteArray sequenceIv(qint64 sequence)
{
    QByteArray iv(16, '\0');
    for (int i = 0; i < 8; ++i)
        iv[15 - i] = char((quint64(sequence) >> (8 * i)) & 0xFF);
    return iv;
}

// AES-128-CBC with PKCS#7 padding, as a packager encrypts a segment.
QByteArray encrypt(const QByteArray &plain, const QByteArray &key, const QByteArray &iv)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(plain.size() + 16, Qt::Uninitialized);
    int n = 0, last = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, reinterpret_cast<const unsigned char *>(key.constData()),
                       reinterpret_cast<const unsigned char *>(iv.constData()));
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char *>(out.data()), &n,
                      reinterpret_cast<const unsigned char *>(plain.constData()), int(plain.size()));
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char *>(out.data()) + n, &last);
    EVP_CIPHER_CTX_free(ctx);
    out.truncate(n + last);
    return out;
}

ToneEncoder::Format formatOf(HlsMode mode)
{
    switch (mode) {
    case HlsMode::Packed: return ToneEncoder::Format::Adts;
    case HlsMode::Fmp4: return ToneEncoder::Format::Fmp4Aac;
    default: return ToneEncoder::Format::TsAac;
    }
}

} // namespace

QString hlsModeName(HlsMode mode)
{
    switch (mode) {
    case HlsMode::Ts: return QStringLiteral("ts");
    case HlsMode::Packed: return QStringLiteral("packed");
    case HlsMode::Fmp4: return QStringLiteral("fmp4");
    case HlsMode::Discontinuity: return QStringLiteral("discontinuity");
    case HlsMode::Missing: return QStringLiteral("missing");
    case HlsMode::Stalled: return QStringLiteral("stalled");
    case HlsMode::Aes: return QStringLiteral("aes");
    case HlsMode::Vod: return QStringLiteral("vod");
    }
    return {};
}

std::optional<HlsMode> hlsModeNamed(QByteArrayView name)
{
    for (HlsMode m : {HlsMode::Ts, HlsMode::Packed, HlsMode::Fmp4, HlsMode::Discontinuity, HlsMode::Missing,
                      HlsMode::Stalled, HlsMode::Aes, HlsMode::Vod})
        if (hlsModeName(m).toLatin1() == name)
            return m;
    return std::nullopt;
}

HlsChannel::HlsChannel(const Setup &setup)
    : m_setup(setup),
      m_encoder(std::make_unique<ToneEncoder>(formatOf(setup.mode), setup.toneHz, setup.bitRate))
{
    if (setup.mode == HlsMode::Fmp4)
        m_init = m_encoder->header();
}

HlsChannel::~HlsChannel() = default;

bool HlsChannel::ok() const
{
    return m_encoder && m_encoder->ok();
}

QByteArray HlsChannel::segmentSuffix() const
{
    switch (m_setup.mode) {
    case HlsMode::Packed: return ".aac";
    case HlsMode::Fmp4: return ".m4s";
    default: return ".ts";
    }
}

qint64 HlsChannel::availableCount()
{
    // The stream has been running for a window of segments when it is first read.
    if (m_setup.mode == HlsMode::Vod)
        return kVodSegments;
    if (!m_clock.isValid())
        m_clock.start();
    qint64 count = m_setup.window + m_clock.elapsed() / m_setup.segmentMs;
    if (m_setup.mode == HlsMode::Stalled) {
        if (m_stalledAt < 0)
            m_stalledAt = m_setup.window + kStallAfterSegments;
        count = qMin(count, m_stalledAt);
    }
    return count;
}

bool HlsChannel::isMissing(qint64 sequence) const
{
    return m_setup.mode == HlsMode::Missing && sequence % kMissingEvery == 3;
}

bool HlsChannel::startsAgain(qint64 sequence) const
{
    return m_setup.mode == HlsMode::Discontinuity && sequence > 0 && sequence % kStartAgainEvery == 0;
}

QByteArray HlsChannel::playlist(const QByteArray &keyUri)
{
    const qint64 count = availableCount();
    makeUpTo(count);
    const bool finished = m_setup.mode == HlsMode::Vod;
    const qint64 first = finished ? 0 : qMax<qint64>(0, count - m_setup.window);
    const int target = (m_setup.segmentMs + 999) / 1000;
    QByteArray out = "#EXTM3U\n#EXT-X-VERSION:" + QByteArray(m_setup.mode == HlsMode::Fmp4 ? "6" : "3") + "\n"
        "#EXT-X-TARGETDURATION:" + QByteArray::number(target) + "\n"
        "#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(first) + "\n";
    if (finished)
        out += "#EXT-X-PLAYLIST-TYPE:VOD\n";
    if (m_setup.mode == HlsMode::Aes)
        out += "#EXT-X-KEY:METHOD=AES-128,URI=\"" + keyUri + "\"\n";
    if (m_setup.mode == HlsMode::Fmp4)
        out += "#EXT-X-MAP:URI=\"init.mp4\"\n";
    const QByteArray duration = QByteArray::number(m_setup.segmentMs / 1000.0, 'f', 3);
    for (qint64 n = first; n < count; ++n) {
        if (startsAgain(n))
            out += "#EXT-X-DISCONTINUITY\n";
        out += "#EXTINF:" + duration + ",\n" + QByteArray::number(n) + segmentSuffix() + "\n";
    }
    if (finished)
        out += "#EXT-X-ENDLIST\n";
    return out;
}

std::optional<QByteArray> HlsChannel::segment(qint64 sequence)
{
    if (isMissing(sequence) || !m_segments.contains(sequence))
        return std::nullopt;
    return m_segments.value(sequence);
}

void HlsChannel::keepUp()
{
    makeUpTo(availableCount());
}

void HlsChannel::makeUpTo(qint64 count)
{
    while (m_made < count) {
        m_segments.insert(m_made, encodeSegment(m_made));
        ++m_made;
    }
    while (m_setup.mode != HlsMode::Vod && !m_segments.isEmpty()
           && m_segments.firstKey() < count - m_setup.window - kKeptBehind)
        m_segments.erase(m_segments.begin());
}

QByteArray HlsChannel::encodeSegment(qint64 sequence)
{
    QByteArray bytes;
    if (startsAgain(sequence))
        m_encoder = std::make_unique<ToneEncoder>(formatOf(m_setup.mode), m_setup.toneHz, m_setup.bitRate);
    if (m_encoder->encodedMs() == 0 && m_setup.mode != HlsMode::Fmp4)
        bytes += m_encoder->header(); // an MPEG-TS muxer's first tables, if it wrote them early
    // Packed audio carries its title in a tag before each segment, MPEG-TS as timed ID3.
    const bool ts = m_encoder->format() == ToneEncoder::Format::TsAac;
    bytes += m_encoder->encode(m_setup.segmentMs, ts ? id3Title(m_setup.title) : QByteArray());
    if (m_setup.mode == HlsMode::Packed)
        bytes.prepend(id3Title(m_setup.title));
    if (m_setup.mode == HlsMode::Aes)
        bytes = encrypt(bytes, m_setup.key, sequenceIv(sequence));
    return bytes;
}

} // namespace lumora::sim
