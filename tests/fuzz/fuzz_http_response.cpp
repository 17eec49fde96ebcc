// libFuzzer target: an answer from a hostile server, read in pieces of any size by the HTTP
// response parser (status line, headers, chunked bodies, ICY metadata framing), then by the
// MMSH unframer (with the ASF preroll taken out of its packets) and the title decoder.
// Nothing may crash, hang or grow without bound.

#include "player/net/http_response.h"
#include "player/net/mmsh_framing.h"
#include "player/net/network_text.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte chooses the piece size and whether ICY metadata was asked for, so that
    // every split of the same answer is tried.
    const size_t piece = 1 + (data[0] & 0x3F);
    const bool metadata = data[0] & 0x40;
    const QByteArrayView answer(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    lumora::HttpResponseParser::Limits limits;
    limits.maxDecodedBytes = 1 << 20; // a compressed body expands, within this
    lumora::HttpResponseParser parser(limits);
    parser.setMetadataRequested(metadata);
    qint64 body = 0;
    lumora::MmshUnframer mmsh;
    for (qsizetype at = 0; at < answer.size(); at += qsizetype(piece)) {
        parser.feed(answer.sliced(at, qMin<qsizetype>(qsizetype(piece), answer.size() - at)));
        const QByteArray bytes = parser.takeBody();
        body += bytes.size();
        mmsh.feed(bytes);
        mmsh.takeOutput();
        for (const auto &m : parser.takeMetadata()) {
            (void)lumora::icyStreamTitle(m.block);
            // A block's place lies within the body taken with it.
            if (m.after < 0 || m.after > bytes.size())
                __builtin_trap();
        }
    }
    parser.close();
    body += parser.takeBody().size();
    // Decoding never makes bytes out of nothing: a body is at most the answer, or, sent
    // compressed (gzip, deflate), at most what it may be decoded to.
    if (body > (parser.head().compressed ? limits.maxDecodedBytes : answer.size()))
        __builtin_trap();
    return 0;
}
