#include "hls_playlist.h"

#include "network_text.h"
#include "wire_url.h"

#include <QHash>
#include <QUrl>

#include <optional>

namespace lumora {

namespace {

// An attribute list: NAME=VALUE pairs separated by commas, a value either a quoted string
// (which may hold commas) or a bare token. Names are upper case in the playlists written by
// servers; they are compared as written.
QHash<QString, QString> attributes(QStringView list)
{
    QHash<QString, QString> out;
    qsizetype i = 0;
    while (i < list.size() && out.size() < 64) {
        const qsizetype eq = list.indexOf(u'=', i);
        if (eq < 0)
            break;
        const QString name = list.mid(i, eq - i).trimmed().toString();
        qsizetype j = eq + 1;
        QString value;
        if (j < list.size() && list[j] == u'"') {
            const qsizetype close = list.indexOf(u'"', j + 1);
            if (close < 0)
                break; // an unterminated string: nothing after it can be trusted
            value = list.mid(j + 1, close - j - 1).toString();
            j = close + 1;
            const qsizetype comma = list.indexOf(u',', j);
            i = comma < 0 ? list.size() : comma + 1;
        } else {
            const qsizetype comma = list.indexOf(u',', j);
            value = list.mid(j, (comma < 0 ? list.size() : comma) - j).trimmed().toString();
            i = comma < 0 ? list.size() : comma + 1;
        }
        if (!name.isEmpty())
            out.insert(name, value);
    }
    return out;
}

// A decimal integer in [0, max]; nothing for anything else (signs, overflow, junk).
std::optional<qint64> decimal(QStringView text, qint64 max)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 19)
        return std::nullopt;
    qint64 v = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        v = v * 10 + (c.unicode() - u'0');
        if (v > max)
            return std::nullopt;
    }
    return v;
}

// Seconds, integer or decimal ("9.976"), as milliseconds within [0, kMaxDurationMs].
std::optional<int> seconds(QStringView text)
{
    text = text.trimmed();
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || !(s >= 0) || s * 1000 > HlsPlaylist::kMaxDurationMs)
        return std::nullopt;
    return int(s * 1000 + 0.5);
}

// "0x" and 32 hexadecimal digits.
std::optional<QByteArray> initVector(QStringView text)
{
    if (text.size() != 34 || !(text.startsWith(u"0x") || text.startsWith(u"0X")))
        return std::nullopt;
    const QByteArray hex = text.mid(2).toLatin1();
    for (char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    return QByteArray::fromHex(hex);
}

// "length[@offset]"
std::optional<HlsByteRange> byteRange(QStringView text)
{
    const qsizetype at = text.indexOf(u'@');
    const auto length = decimal(at < 0 ? text : text.left(at), HlsPlaylist::kMaxRangeBytes);
    if (!length)
        return std::nullopt;
    HlsByteRange r{*length, -1};
    if (at >= 0) {
        const auto offset = decimal(text.mid(at + 1), HlsPlaylist::kMaxSequence);
        if (!offset)
            return std::nullopt;
        r.offset = *offset;
    }
    return r;
}

class Reader {
public:
    Reader(const QString &address) : m_base(address) {}

    HlsPlaylist read(QByteArrayView body)
    {
        const QString text = QString::fromUtf8(body);
        QStringView rest(text);
        if (rest.startsWith(QChar(0xFEFF)))
            rest = rest.mid(1);
        bool first = true;
        while (!rest.isEmpty()) {
            qsizetype end = 0;
            while (end < rest.size() && rest[end] != u'\n' && rest[end] != u'\r')
                ++end;
            const QStringView line = rest.left(end).trimmed();
            rest = rest.mid(end);
            while (!rest.isEmpty() && (rest[0] == u'\n' || rest[0] == u'\r'))
                rest = rest.mid(1);
            if (line.isEmpty())
                continue;
            if (first) {
                first = false;
                if (line != u"#EXTM3U")
                    return refuse(QStringLiteral("not an HLS playlist: it does not begin with #EXTM3U"));
                continue;
            }
            if (line.size() > HlsPlaylist::kMaxLineChars) {
                problem(QStringLiteral("a line of %1 characters, left out").arg(line.size()));
                if (line.startsWith(u'#'))
                    continue;
                // An entry all the same: the segment takes its sequence number with it.
                m_skipNextUri = true;
            }
            if (!take(line))
                return m_out;
        }
        return finish();
    }

private:
    // One line; false when the playlist is refused.
    bool take(QStringView line)
    {
        if (!line.startsWith(u'#'))
            return takeUri(line);
        if (!line.startsWith(u"#EXT"))
            return true; // a comment
        const qsizetype colon = line.indexOf(u':');
        const QStringView tag = colon < 0 ? line : line.left(colon);
        const QStringView value = colon < 0 ? QStringView() : line.mid(colon + 1);

        if (tag == u"#EXT-X-STREAM-INF") {
            const auto a = attributes(value);
            const auto bandwidth = decimal(a.value(QStringLiteral("BANDWIDTH")), qint64(1) << 40);
            if (!bandwidth) {
                problem(QStringLiteral("a variant without a usable BANDWIDTH, left out"));
                m_pendingVariant = HlsVariant{QString(), -1, {}};
            } else {
                m_pendingVariant = HlsVariant{QString(), *bandwidth,
                                              plainNetworkText(a.value(QStringLiteral("CODECS")))};
            }
            m_master = true;
        } else if (tag == u"#EXT-X-TARGETDURATION") {
            const auto s = decimal(value, HlsPlaylist::kMaxDurationMs / 1000);
            if (!s || *s == 0)
                return refuseBool(QStringLiteral("EXT-X-TARGETDURATION is not a number of seconds: %1")
                                      .arg(plainNetworkText(value.toString(), 40)));
            m_out.targetDurationMs = int(*s * 1000);
            m_media = true;
        } else if (tag == u"#EXT-X-MEDIA-SEQUENCE") {
            const auto n = decimal(value, HlsPlaylist::kMaxSequence);
            if (!n)
                return refuseBool(QStringLiteral("EXT-X-MEDIA-SEQUENCE out of range: %1")
                                      .arg(plainNetworkText(value.toString(), 40)));
            if (m_out.segments.isEmpty() && !m_segmentOpen)
                m_out.mediaSequence = *n;
            m_media = true;
        } else if (tag == u"#EXTINF") {
            const qsizetype comma = value.indexOf(u',');
            const auto ms = seconds(comma < 0 ? value : value.left(comma));
            if (!ms) {
                problem(QStringLiteral("EXTINF without a usable duration; its segment left out"));
                m_segment = {};
                m_segmentOpen = false;
                m_skipNextUri = true;
                return true;
            }
            m_segment.durationMs = *ms;
            m_segmentOpen = true;
            m_media = true;
        } else if (tag == u"#EXT-X-DISCONTINUITY") {
            m_discontinuity = true;
        } else if (tag == u"#EXT-X-ENDLIST") {
            m_out.endList = true;
        } else if (tag == u"#EXT-X-BYTERANGE") {
            const auto r = byteRange(value);
            if (!r) {
                problem(QStringLiteral("EXT-X-BYTERANGE out of range; its segment left out"));
                m_skipNextUri = true;
                return true;
            }
            m_segment.range = *r;
        } else if (tag == u"#EXT-X-MAP") {
            const auto a = attributes(value);
            m_mapUri.clear();
            m_mapRange = {};
            const QString uri = absolute(a.value(QStringLiteral("URI")));
            if (uri.isEmpty()) {
                m_mapBroken = true;
                return true;
            }
            m_mapBroken = false;
            if (a.contains(QStringLiteral("BYTERANGE"))) {
                const auto r = byteRange(a.value(QStringLiteral("BYTERANGE")));
                if (!r || r->offset < 0) {
                    problem(QStringLiteral("EXT-X-MAP with a byte range out of range"));
                    m_mapBroken = true;
                    return true;
                }
                m_mapRange = *r;
            }
            m_mapUri = uri;
        } else if (tag == u"#EXT-X-KEY") {
            const auto a = attributes(value);
            const QString method = a.value(QStringLiteral("METHOD"));
            m_key = {};
            m_keyBroken = false;
            if (method == u"NONE")
                return true;
            if (method != u"AES-128") {
                // SAMPLE-AES encrypts inside the audio frames, for players that decrypt inside
                // their decoder; nothing before libVLC can undo it.
                m_refusedMethod = plainNetworkText(method, 40);
                m_keyBroken = true;
                return true;
            }
            const QString uri = absolute(a.value(QStringLiteral("URI")));
            if (uri.isEmpty()) {
                problem(QStringLiteral("an AES-128 key without a usable address"));
                m_keyBroken = true;
                return true;
            }
            m_key.method = HlsKey::Method::Aes128;
            m_key.uri = uri;
            if (a.contains(QStringLiteral("IV"))) {
                const auto iv = initVector(a.value(QStringLiteral("IV")));
                if (!iv) {
                    problem(QStringLiteral("an AES-128 key with a malformed IV"));
                    m_keyBroken = true;
                    m_key = {};
                    return true;
                }
                m_key.iv = *iv;
            }
        }
        // Other tags (EXT-X-VERSION, EXT-X-MEDIA, EXT-X-PROGRAM-DATE-TIME, ...) change
        // nothing Lumora does.
        return true;
    }

    bool takeUri(QStringView line)
    {
        if (m_pendingVariant) {
            HlsVariant v = *m_pendingVariant;
            m_pendingVariant.reset();
            if (v.bandwidth < 0 || m_skipNextUri) {
                m_skipNextUri = false;
                return true;
            }
            v.uri = absolute(line.toString());
            if (v.uri.isEmpty())
                return true;
            if (m_out.variants.size() >= HlsPlaylist::kMaxVariants) {
                problem(QStringLiteral("more than %1 variants; the rest left out").arg(HlsPlaylist::kMaxVariants));
                return true;
            }
            m_out.variants << v;
            return true;
        }
        const bool reported = m_skipNextUri;
        const bool skip = m_skipNextUri || !m_segmentOpen;
        m_skipNextUri = false;
        HlsSegment s = m_segment;
        m_segment = {};
        m_segmentOpen = false;
        const qint64 sequence = m_out.mediaSequence + m_nextIndex;
        ++m_nextIndex;
        const bool discontinuity = m_discontinuity;
        m_discontinuity = false;
        if (skip) {
            if (!m_master && !reported)
                problem(QStringLiteral("an entry without EXTINF, left out"));
            m_previousUri.clear();
            return true;
        }
        if (sequence > HlsPlaylist::kMaxSequence)
            return refuseBool(QStringLiteral("media sequence numbers out of range"));
        if (m_keyBroken || m_mapBroken) {
            if (!m_refusedMethod.isEmpty())
                m_refusedSegments = true;
            m_previousUri.clear();
            return true;
        }
        s.uri = absolute(line.toString());
        if (s.uri.isEmpty()) {
            m_previousUri.clear();
            return true;
        }
        if (!s.range.isWhole()) {
            if (s.range.offset < 0) {
                // No offset: the range follows the previous one of the same resource.
                if (m_previousUri != s.uri) {
                    problem(QStringLiteral("a byte range without an offset and no range before it; left out"));
                    return true;
                }
                s.range.offset = m_previousEnd;
            }
            m_previousUri = s.uri;
            m_previousEnd = s.range.offset + s.range.length;
        } else {
            m_previousUri.clear();
        }
        if (m_out.segments.size() >= HlsPlaylist::kMaxSegments) {
            problem(QStringLiteral("more than %1 segments; the rest left out").arg(HlsPlaylist::kMaxSegments));
            return true;
        }
        s.sequence = sequence;
        s.discontinuity = discontinuity;
        s.key = m_key;
        s.mapUri = m_mapUri;
        s.mapRange = m_mapRange;
        m_out.segments << s;
        return true;
    }

    // An address of the playlist, made absolute and put into wire form; empty (with a problem)
    // when it is not http or https, or too long.
    QString absolute(const QString &entry)
    {
        if (entry.isEmpty()) {
            problem(QStringLiteral("an empty address, left out"));
            return {};
        }
        if (entry.size() > HlsPlaylist::kMaxAddressChars) {
            problem(QStringLiteral("an address of %1 characters, left out").arg(entry.size()));
            return {};
        }
        QString full = entry;
        if (schemeOf(entry).isEmpty())
            full = m_base.resolved(QUrl(toWireUrl(entry))).toString(QUrl::FullyEncoded);
        QString wire = toWireUrl(full);
        const QString scheme = schemeOf(wire);
        if (scheme != u"http" && scheme != u"https") {
            problem(QStringLiteral("%1: not an http or https address, left out").arg(plainNetworkText(wire, 80)));
            return {};
        }
        if (wire.size() > HlsPlaylist::kMaxAddressChars) {
            problem(QStringLiteral("an address of %1 characters on the wire, left out").arg(wire.size()));
            return {};
        }
        return wire;
    }

    HlsPlaylist finish()
    {
        if (m_master && !m_media) {
            if (m_out.variants.isEmpty())
                return refuse(QStringLiteral("a master playlist without a usable variant"));
            m_out.kind = HlsPlaylist::Kind::Master;
            return m_out;
        }
        if (!m_media)
            return refuse(QStringLiteral("an M3U without HLS tags"));
        if (m_out.targetDurationMs <= 0)
            return refuse(QStringLiteral("a media playlist without EXT-X-TARGETDURATION"));
        if (m_out.segments.isEmpty() && m_refusedSegments)
            return refuse(QStringLiteral("encrypted with %1, which Lumora cannot decrypt").arg(m_refusedMethod));
        if (m_out.segments.isEmpty() && m_out.endList)
            return refuse(QStringLiteral("a media playlist without a usable segment"));
        if (m_refusedSegments)
            problem(QStringLiteral("segments encrypted with %1 left out").arg(m_refusedMethod));
        m_out.kind = HlsPlaylist::Kind::Media;
        return m_out;
    }

    HlsPlaylist refuse(const QString &why)
    {
        HlsPlaylist out;
        out.refusal = why;
        out.problems = m_out.problems;
        return out;
    }

    bool refuseBool(const QString &why)
    {
        m_out = refuse(why);
        return false;
    }

    void problem(const QString &what)
    {
        if (m_out.problems.size() < 32)
            m_out.problems << what;
    }

    QUrl m_base;
    HlsPlaylist m_out;
    HlsSegment m_segment;
    std::optional<HlsVariant> m_pendingVariant;
    HlsKey m_key;
    QString m_mapUri;
    HlsByteRange m_mapRange;
    QString m_previousUri; // the resource of the last byte range, for one without an offset
    qint64 m_previousEnd = 0;
    QString m_refusedMethod;
    qint64 m_nextIndex = 0;
    bool m_segmentOpen = false;
    bool m_skipNextUri = false;
    bool m_discontinuity = false;
    bool m_keyBroken = false;
    bool m_mapBroken = false;
    bool m_refusedSegments = false;
    bool m_master = false;
    bool m_media = false;
};

} // namespace

qint64 HlsPlaylist::totalMs() const
{
    qint64 total = 0;
    for (const HlsSegment &s : segments)
        total += s.durationMs;
    return total;
}

HlsPlaylist HlsPlaylist::read(QByteArrayView body, const QString &address)
{
    return Reader(address).read(body);
}

} // namespace lumora
