#pragma once

// Constructed audio byte streams for the tests of the player's own connections: an MP3 stream
// whose every frame is different (so that any stretch of it is found in one place only), and
// Ogg pages. Deterministic: the same index gives the same bytes.

#include <QByteArray>
#include <QtEndian>

namespace lumora::test {

// MPEG-1 layer III, 128 kbit/s, 44.1 kHz, no padding: 417 bytes a frame.
constexpr int kMp3FrameBytes = 417;

inline QByteArray mp3Frame(qint64 index)
{
    QByteArray frame(kMp3FrameBytes, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(0x90);
    frame[3] = char(0x64);
    quint32 x = quint32(index) * 2654435761u + 12345u;
    for (int i = 4; i < kMp3FrameBytes; ++i) {
        x = x * 1103515245u + 12345u;
        frame[i] = char((x >> 16) & 0x7F); // never 0xFF: no sync inside a frame
    }
    return frame;
}

// Something that starts like MP3 audio, as a resolver judges an answer: frame sync, then
// filler.
inline QByteArray fakeMp3()
{
    QByteArray b("\xFF\xFB\x90\x64", 4);
    b.append(QByteArray(4000, '\x55'));
    return b;
}

// Frames first .. first + count - 1, one after another.
inline QByteArray mp3Frames(qint64 first, qint64 count)
{
    QByteArray out;
    out.reserve(count * kMp3FrameBytes);
    for (qint64 i = first; i < first + count; ++i)
        out += mp3Frame(i);
    return out;
}

// One Ogg page (the checksum left zero: these pages go to no decoder).
inline QByteArray oggPage(quint32 serial, quint32 sequence, qint64 granule, const QByteArray &body, bool bos = false)
{
    QByteArray page("OggS");
    page += char(0);
    page += char(bos ? 0x02 : 0x00);
    char number[8];
    qToLittleEndian<qint64>(granule, number);
    page += QByteArray(number, 8);
    qToLittleEndian<quint32>(serial, number);
    page += QByteArray(number, 4);
    qToLittleEndian<quint32>(sequence, number);
    page += QByteArray(number, 4);
    page += QByteArray(4, '\0');
    QByteArray lacing;
    qsizetype left = body.size();
    do {
        const int n = int(qMin<qsizetype>(left, 255));
        lacing += char(n);
        left -= n;
        if (n < 255)
            break;
    } while (true);
    page += char(lacing.size());
    return page + lacing + body;
}

// The header pages of a Vorbis-like stream: identification (BOS), comments, setup.
inline QByteArray oggHeaders(quint32 serial)
{
    return oggPage(serial, 0, 0, "\x01vorbis" + QByteArray(23, '\x01'), true)
        + oggPage(serial, 1, 0, "\x03vorbis" + QByteArray(40, char('c' + serial % 7)))
        + oggPage(serial, 2, 0, "\x05vorbis" + QByteArray(200, char('s' + serial % 5)));
}

// Audio page number n (from 0) of the stream with that serial.
inline QByteArray oggAudioPage(quint32 serial, qint64 n)
{
    QByteArray body(1000 + int(n % 7) * 13, '\0');
    quint32 x = quint32(n) * 2246822519u + serial;
    for (char &c : body) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 16);
    }
    return oggPage(serial, quint32(3 + n), 1024 * (n + 1), body);
}

inline QByteArray oggAudioPages(quint32 serial, qint64 first, qint64 count)
{
    QByteArray out;
    for (qint64 n = first; n < first + count; ++n)
        out += oggAudioPage(serial, n);
    return out;
}

} // namespace lumora::test
