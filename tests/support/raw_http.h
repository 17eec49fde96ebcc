#pragma once

// A plain client for one exchange with a loopback server, and a reader of MP3 frame runs.

#include "wait.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QTcpSocket>

namespace lumora::test {

// One exchange with a server over a plain socket, for answers that Qt's HTTP client does not
// take (ICY status lines, MMSH framing) or when the exact bytes matter.
struct RawAnswer {
    bool connected = false;
    bool closedByServer = false;
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QByteArray statusLine;                      // "HTTP/1.1 200 OK", "ICY 200 OK"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;                            // bytes after the blank line
    QByteArray raw;                             // everything received

    int status() const { return statusLine.split(' ').value(1).toInt(); }
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[k, v] : headers)
            if (k.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        return {};
    }
};

inline QByteArray getRequest(const QByteArray &target, const QList<QByteArray> &extraHeaders = {},
                             const QByteArray &method = "GET")
{
    QByteArray r = method + ' ' + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: lumora-test\r\n";
    for (const QByteArray &h : extraHeaders)
        r += h + "\r\n";
    return r + "\r\n";
}

// Sends the request and reads until the server closes, maxBytes of body arrived, or waitMs
// passed.
inline RawAnswer exchange(quint16 port, const QByteArray &request, int waitMs = 2000,
                          qsizetype maxBytes = 1 << 30)
{
    // Waits by running the event loop: the simulator under test may live in this thread.
    RawAnswer a;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState || socket.state() == QAbstractSocket::UnconnectedState; },
            2000);
    if (socket.state() != QAbstractSocket::ConnectedState) {
        a.error = socket.error();
        return a;
    }
    a.connected = true;
    socket.write(request);
    qsizetype headEnd = -1;
    waitFor([&] {
        a.raw += socket.readAll();
        if (headEnd < 0)
            headEnd = a.raw.indexOf("\r\n\r\n");
        if (headEnd >= 0 && a.raw.size() - headEnd - 4 >= maxBytes)
            return true;
        if (socket.state() == QAbstractSocket::UnconnectedState) {
            a.raw += socket.readAll();
            a.closedByServer = true;
            a.error = socket.error();
            return true;
        }
        return false;
    }, waitMs);
    if (headEnd < 0)
        headEnd = a.raw.indexOf("\r\n\r\n");
    if (headEnd >= 0) {
        const QList<QByteArray> lines = a.raw.left(headEnd).split('\n');
        a.statusLine = lines.value(0).trimmed();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                a.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        a.body = a.raw.mid(headEnd + 4);
    }
    socket.abort();
    return a;
}

// Walks MP3 frame headers from the start of data; returns how many bytes form whole,
// back-to-back frames (MPEG-1/2 layer III).
inline qsizetype mp3FrameRun(const QByteArray &data, int *frames = nullptr)
{
    static const int kBitrates[2][16] = {
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},     // MPEG-2/2.5
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}, // MPEG-1
    };
    static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    qsizetype pos = 0;
    int n = 0;
    while (pos + 4 <= data.size()) {
        const auto b = [&](int i) { return quint8(data[pos + i]); };
        if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0 || ((b(1) >> 1) & 3) != 1)
            break;
        const int version = (b(1) >> 3) & 3; // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
        const int bitrate = kBitrates[version == 3][b(2) >> 4] * 1000;
        const int rate = kRates[version][(b(2) >> 2) & 3];
        if (bitrate == 0 || rate == 0)
            break;
        const int padding = (b(2) >> 1) & 1;
        const int length = (version == 3 ? 144 : 72) * bitrate / rate + padding;
        if (pos + length > data.size())
            break;
        pos += length;
        ++n;
    }
    if (frames)
        *frames = n;
    return pos;
}

} // namespace lumora::test
