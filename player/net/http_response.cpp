#include "http_response.h"

#include "content_decoder.h"

#include <algorithm>

namespace lumora {

namespace {

// Non-negative decimal of at most 18 digits (no sign, no spaces inside); -1 otherwise.
qint64 decimal(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

QByteArray HttpHead::value(QByteArrayView name) const
{
    for (const auto &[n, v] : headers)
        if (n == name)
            return v;
    return {};
}

bool HttpHead::anyIcyHeader() const
{
    return std::any_of(headers.begin(), headers.end(), [](const auto &h) { return h.first.startsWith("icy-"); });
}

HttpResponseParser::HttpResponseParser() : HttpResponseParser(Limits()) {}

HttpResponseParser::HttpResponseParser(Limits limits) : m_limits(limits) {}

HttpResponseParser::~HttpResponseParser() = default;

void HttpResponseParser::setMaxDecodedBytes(qint64 bytes)
{
    m_limits.maxDecodedBytes = bytes;
    if (m_decoder)
        m_decoder->setMaxOutput(bytes);
}

HttpResponseParser::State HttpResponseParser::fail(const QString &error)
{
    m_state = State::Failed;
    m_error = error;
    m_pending.clear();
    return m_state;
}

HttpResponseParser::State HttpResponseParser::feed(QByteArrayView bytes)
{
    if (m_state == State::Done)
        m_surplus += bytes.size();
    if (m_state == State::Failed || m_state == State::Done || bytes.isEmpty())
        return m_state;
    if (m_state == State::Head) {
        // Only as much as the head may be is kept while looking for its end.
        const qsizetype room = m_limits.maxHeaderBytes + 4 - m_pending.size();
        const qsizetype take = std::min<qsizetype>(room, bytes.size());
        const qsizetype before = m_pending.size();
        m_pending.append(bytes.first(take));
        const qsizetype from = std::max<qsizetype>(0, before - 3);
        qsizetype end = m_pending.indexOf("\r\n\r\n", from);
        qsizetype sep = 4;
        const qsizetype lf = m_pending.indexOf("\n\n", std::max<qsizetype>(0, before - 1));
        if (lf >= 0 && (end < 0 || lf < end)) {
            end = lf;
            sep = 2;
        }
        if (end < 0 || end > m_limits.maxHeaderBytes) {
            if (m_pending.size() > m_limits.maxHeaderBytes)
                return fail(QStringLiteral("answer header larger than %1 bytes").arg(m_limits.maxHeaderBytes));
            return m_state;
        }
        const QByteArray head = m_pending.left(end);
        // What came after the head is body; the part of bytes that did not fit is too.
        const QByteArray rest = m_pending.mid(end + sep) + QByteArray(bytes.sliced(take).data(), bytes.size() - take);
        m_pending.clear();
        parseHead(head);
        if (m_state != State::Body)
            return m_state;
        if (!m_head.icy && m_head.status >= 100 && m_head.status < 200 && m_head.status != 101) {
            // An interim answer (100 Continue, 103 Early Hints) to an HTTP/1.1 request: the
            // real one follows on the same connection.
            if (++m_interimHeads > kMaxInterimHeads)
                return fail(QStringLiteral("more than %1 interim answers").arg(kMaxInterimHeads));
            m_head = HttpHead();
            m_decoder.reset();
            m_state = State::Head;
            return rest.isEmpty() ? m_state : feed(rest);
        }
        if (m_contentLeft == 0 && !m_head.chunked) {
            m_state = State::Done;
            m_framedEnd = true;
            m_surplus += rest.size();
            return m_state;
        }
        decodeBody(rest);
        return m_state;
    }
    decodeBody(bytes);
    return m_state;
}

HttpResponseParser::State HttpResponseParser::close()
{
    if (m_state == State::Head)
        return fail(m_pending.isEmpty() ? QStringLiteral("connection closed without an answer")
                                        : QStringLiteral("connection closed inside the answer header"));
    if (m_state == State::Body) {
        const bool cut = m_head.chunked || m_contentLeft > 0;
        if (cut && m_bodyBytes == 0)
            return fail(QStringLiteral("connection closed before the body"));
        m_state = State::Done;
    }
    return m_state;
}

void HttpResponseParser::parseHead(QByteArrayView headBytes)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start <= headBytes.size()) {
        qsizetype nl = headBytes.indexOf('\n', start);
        if (nl < 0)
            nl = headBytes.size();
        QByteArrayView line = headBytes.sliced(start, nl - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        start = nl + 1;
        if (lines.size() > m_limits.maxHeaderLines + 1) {
            fail(QStringLiteral("more than %1 header lines").arg(m_limits.maxHeaderLines));
            return;
        }
    }
    const QByteArrayView status = lines.isEmpty() ? QByteArrayView() : lines.first();
    m_head.statusLine = status.toByteArray();
    if (m_head.statusLine.isEmpty())
        m_head.statusLine = " "; // an empty status line still counts as a head received
    m_head.icy = status.startsWith("ICY ");
    if (!m_head.icy && !status.startsWith("HTTP/1.")) {
        fail(QStringLiteral("not an HTTP answer"));
        return;
    }
    const qsizetype sp = status.indexOf(' ');
    const QByteArrayView codeText = status.sliced(sp + 1).first(std::min<qsizetype>(3, status.size() - sp - 1));
    const qint64 code = decimal(codeText);
    if (codeText.size() != 3 || code < 100 || code > 999) {
        fail(QStringLiteral("no status code"));
        return;
    }
    m_head.status = int(code);

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.first(colon).trimmed().toByteArray().toLower();
        const QByteArray value = line.sliced(colon + 1).trimmed().toByteArray();
        m_head.headers.append({name, value});
        if (name == "content-length") {
            const qint64 length = decimal(value);
            if (length < 0 || length > m_limits.maxContentLength
                || (m_head.contentLength >= 0 && m_head.contentLength != length)) {
                fail(QStringLiteral("bad Content-Length"));
                return;
            }
            m_head.contentLength = length;
        } else if (name == "transfer-encoding") {
            m_head.chunked = value.toLower().contains("chunked");
        } else if (name == "icy-metaint") {
            const qint64 metaint = decimal(value);
            if (metaint <= 0 || metaint > m_limits.maxMetaint) {
                fail(QStringLiteral("bad icy-metaint"));
                return;
            }
            m_head.metaint = int(metaint);
        }
    }
    if (m_head.chunked)
        m_head.contentLength = -1; // chunked coding wins over a stated length
    const ContentDecoder::Coding coding = ContentDecoder::codingOf(m_head.value("content-encoding"));
    if (coding == ContentDecoder::Coding::Gzip || coding == ContentDecoder::Coding::Deflate) {
        m_decoder = std::make_unique<ContentDecoder>(coding, m_limits.maxDecodedBytes);
        m_head.compressed = true;
    }
    if (!m_metaRequested)
        m_head.metaint = 0;
    m_contentLeft = m_head.contentLength;
    m_audioLeft = m_head.metaint;
    m_state = State::Body;
}

void HttpResponseParser::decodeBody(QByteArrayView bytes)
{
    if (m_head.chunked)
        decodeChunked(bytes);
    else
        decodeSized(bytes);
}

// A body of a stated length, or one that ends with the connection.
void HttpResponseParser::decodeSized(QByteArrayView bytes)
{
    if (m_contentLeft < 0) {
        takeContent(bytes);
        return;
    }
    const qint64 n = std::min<qint64>(m_contentLeft, bytes.size());
    takeContent(bytes.first(n));
    m_contentLeft -= n;
    if (m_contentLeft == 0 && m_state == State::Body) {
        m_state = State::Done;
        m_framedEnd = true;
        m_surplus += bytes.size() - n;
    }
}

void HttpResponseParser::decodeChunked(QByteArrayView bytes)
{
    qsizetype pos = 0;
    while (pos < bytes.size() && m_state == State::Body) {
        switch (m_chunk) {
        case Chunk::Size:
        case Chunk::Trailer: {
            const qsizetype nl = bytes.indexOf('\n', pos);
            const qsizetype end = nl < 0 ? bytes.size() : nl;
            if (m_pending.size() + (end - pos) > 1024) {
                fail(QStringLiteral("chunk line too long"));
                return;
            }
            m_pending.append(bytes.sliced(pos, end - pos));
            pos = end;
            if (nl < 0)
                return;
            ++pos; // the '\n'
            const QByteArray line = m_pending.trimmed();
            m_pending.clear();
            if (m_chunk == Chunk::Trailer)
                takeTrailerLine(line, bytes.size() - pos);
            else
                takeSizeLine(line);
            break;
        }
        case Chunk::Data: {
            const qint64 n = std::min<qint64>(m_chunkLeft, bytes.size() - pos);
            takeContent(bytes.sliced(pos, n));
            pos += n;
            m_chunkLeft -= n;
            if (m_chunkLeft == 0)
                m_chunk = Chunk::DataEnd;
            break;
        }
        case Chunk::DataEnd: {
            // The CRLF after a chunk's data.
            const char c = bytes[pos++];
            if (c == '\n')
                m_chunk = Chunk::Size;
            else if (c != '\r') {
                fail(QStringLiteral("chunk without its line end"));
                return;
            }
            break;
        }
        }
    }
}

// Trailer fields are skipped: nothing here needs them. Their size is bounded like a head's,
// so an endless trailer is no endless answer. An empty line ends the answer; what follows it
// in the same read is surplus.
void HttpResponseParser::takeTrailerLine(const QByteArray &line, qsizetype bytesAfter)
{
    m_trailerBytes += line.size() + 2;
    if (m_trailerBytes > m_limits.maxTrailerBytes) {
        fail(QStringLiteral("chunked trailer larger than %1 bytes").arg(m_limits.maxTrailerBytes));
        return;
    }
    if (line.isEmpty()) {
        m_state = State::Done;
        m_framedEnd = true;
        m_surplus += bytesAfter;
    }
}

// A chunk's size in hexadecimal, perhaps with extensions after ';', which are ignored.
void HttpResponseParser::takeSizeLine(QByteArray line)
{
    const qsizetype semi = line.indexOf(';');
    if (semi >= 0)
        line = line.left(semi).trimmed();
    if (line.isEmpty() || line.size() > 16) {
        fail(QStringLiteral("bad chunk size"));
        return;
    }
    qint64 size = 0;
    for (char c : std::as_const(line)) {
        const int digit = (c >= '0' && c <= '9') ? c - '0'
            : (c >= 'a' && c <= 'f')             ? c - 'a' + 10
            : (c >= 'A' && c <= 'F')             ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) {
            fail(QStringLiteral("bad chunk size"));
            return;
        }
        // Checked before the shift: the limit is far below where it could overflow.
        if (size > m_limits.maxChunkBytes) {
            fail(QStringLiteral("chunk larger than %1 bytes").arg(m_limits.maxChunkBytes));
            return;
        }
        size = size * 16 + digit;
    }
    if (size > m_limits.maxChunkBytes) {
        fail(QStringLiteral("chunk larger than %1 bytes").arg(m_limits.maxChunkBytes));
        return;
    }
    m_chunkLeft = size;
    m_chunk = size == 0 ? Chunk::Trailer : Chunk::Data;
}

void HttpResponseParser::takeContent(QByteArrayView bytes)
{
    if (m_decoder) {
        QByteArray decoded;
        if (!m_decoder->feed(bytes, &decoded)) {
            m_undecodable = true;
            fail(m_decoder->error());
            return;
        }
        takeDecoded(decoded);
        return;
    }
    takeDecoded(bytes);
}

void HttpResponseParser::takeDecoded(QByteArrayView bytes)
{
    if (m_head.metaint > 0)
        unframeIcy(bytes);
    else {
        m_body.append(bytes);
        m_bodyBytes += bytes.size();
    }
}

void HttpResponseParser::unframeIcy(QByteArrayView bytes)
{
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        if (m_metaLeft < 0 && m_audioLeft > 0) {
            const qint64 n = std::min<qint64>(m_audioLeft, bytes.size() - pos);
            m_body.append(bytes.sliced(pos, n));
            m_bodyBytes += n;
            m_audioLeft -= n;
            pos += n;
        } else if (m_metaLeft < 0) {
            // The length byte: the block holds 16 times as many bytes (at most 4080).
            m_metaLeft = qint64(quint8(bytes[pos++])) * 16;
            m_meta.clear();
            if (m_metaLeft == 0) {
                m_metaLeft = -1;
                m_audioLeft = m_head.metaint;
            }
        } else {
            const qint64 n = std::min<qint64>(m_metaLeft, bytes.size() - pos);
            m_meta.append(bytes.sliced(pos, n));
            m_metaLeft -= n;
            pos += n;
            if (m_metaLeft == 0) {
                m_metadata.append({m_meta, m_body.size()});
                if (m_metadata.size() > 16)
                    m_metadata.removeFirst(); // only the latest matter
                m_meta.clear();
                m_metaLeft = -1;
                m_audioLeft = m_head.metaint;
            }
        }
    }
}

QByteArray HttpResponseParser::takeBody()
{
    QByteArray out;
    out.swap(m_body);
    return out;
}

QList<HttpResponseParser::Metadata> HttpResponseParser::takeMetadata()
{
    QList<Metadata> out;
    out.swap(m_metadata);
    return out;
}

} // namespace lumora
