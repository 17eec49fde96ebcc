#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <memory>

namespace lumora {

// Undoes an answer's content coding (Content-Encoding: gzip, deflate) as its body arrives,
// through zlib. A server may send a playlist compressed whether it was asked to or not, so
// whatever it sends is decoded. Bounded against a body that expands without end (a
// "zip bomb"): no more than maxOutput bytes come out in all, and past the first kRatioFloor
// bytes no more than kMaxRatio times what went in.
class ContentDecoder {
public:
    enum class Coding { Identity, Gzip, Deflate, Unknown };

    static constexpr qint64 kRatioFloor = 256 * 1024;
    // deflate cannot do better than about 1032:1, which only runs of one byte reach; real
    // text, even a playlist of one line repeated, stays well below.
    static constexpr qint64 kMaxRatio = 1000;

    // The coding a Content-Encoding value names ("gzip", "x-gzip", "deflate"; empty and
    // "identity" are none).
    static Coding codingOf(QByteArrayView contentEncoding);

    explicit ContentDecoder(Coding coding, qint64 maxOutput = qint64(1) << 50);
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder &) = delete;
    ContentDecoder &operator=(const ContentDecoder &) = delete;

    // Decodes the next bytes and appends what they give to out. False, with error() saying
    // why, when the bytes are not of the coding or would exceed a bound; nothing more is
    // decoded after that. Bytes after the end of the compressed stream are ignored.
    bool feed(QByteArrayView in, QByteArray *out);
    void setMaxOutput(qint64 maxOutput) { m_maxOutput = maxOutput; }
    QString error() const { return m_error; }
    qint64 bytesIn() const { return m_in; }
    qint64 bytesOut() const { return m_out; }

private:
    bool fail(const QString &why);
    bool begin(QByteArrayView first);

    struct Stream;
    Coding m_coding;
    std::unique_ptr<Stream> m_stream;
    qint64 m_maxOutput;
    qint64 m_in = 0;
    qint64 m_out = 0;
    bool m_ended = false;
    QString m_error;
};

} // namespace lumora
