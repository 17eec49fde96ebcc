// What Lumora reads off the wire before libVLC sees a byte: HTTP answers in pieces of any
// size (chunked, sized, ICY-framed), hostile sizes, titles from the network, MMSH framing
// and the ASF preroll taken out of it, and the buffer between the connection and libVLC's thread.

#include "player/net/audio_meter.h"
#include "player/net/http_response.h"
#include "player/net/mmsh_framing.h"
#include "player/net/network_text.h"
#include "player/net/stream_buffer.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_bytes.h"
#include "tools/station-sim/hls_channel.h"

#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTest>
#include <limits>
#include <thread>

using namespace lumora;
using namespace lumora::test;

namespace {

// Feeds answer in pieces of the given size; returns the body.
QByteArray readAll(HttpResponseParser &p, const QByteArray &answer, qsizetype piece)
{
    QByteArray body;
    for (qsizetype at = 0; at < answer.size() && p.state() != HttpResponseParser::State::Failed; at += piece) {
        p.feed(QByteArrayView(answer).sliced(at, qMin(piece, answer.size() - at)));
        body += p.takeBody();
    }
    return body;
}

} // namespace

class TestStreamWire : public QObject {
    Q_OBJECT
private slots:
    void bodiesInAnySplit_data();
    void bodiesInAnySplit();
    void hostileSizesFailAtOnce_data();
    void hostileSizesFailAtOnce();
    void icyMetadataIsTakenOutOfTheAudio();
    void titlesArePlainText();
    void mmshFramingBecomesAsf();
    void asfPrerollIsTakenOut();
    void bufferBlocksWakesAndBounds();
    void audioMeterCountsWhatTheBytesCarry();
    void liveStreamIsReadAgainFromAFrame();
};

void TestStreamWire::bodiesInAnySplit_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("sized") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA") << QByteArray("hello") << 200;
    QTest::newRow("chunked with extensions and trailer")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\nA\r\n0123456789\r\n0\r\nX-T: 1\r\n\r\n")
        << QByteArray("abc0123456789") << 200;
    QTest::newRow("after interim answers")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a.ts>\r\n\r\n"
                      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
        << QByteArray("ok") << 200;
    QTest::newRow("until close, bare LF") << QByteArray("HTTP/1.0 404 Not Found\nServer: x\n\nnothing") << QByteArray("nothing") << 404;
    QTest::newRow("shoutcast") << QByteArray("ICY 200 OK\r\nicy-name: R\r\n\r\n\xFF\xFB\x90") << QByteArray("\xFF\xFB\x90") << 200;
}

void TestStreamWire::bodiesInAnySplit()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    for (qsizetype piece : {qsizetype(1), qsizetype(2), qsizetype(7), answer.size()}) {
        HttpResponseParser p;
        QByteArray got = readAll(p, answer, piece);
        p.close();
        got += p.takeBody();
        QCOMPARE(got, body);
        QCOMPARE(p.head().status, status);
        QCOMPARE(p.state(), HttpResponseParser::State::Done);
    }
}

void TestStreamWire::hostileSizesFailAtOnce_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("chunk near 2^63") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7ffffffffffffff0\r\nabc");
    QTest::newRow("chunk size of 20 digits") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffffff\r\n");
    QTest::newRow("negative length") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nabc");
    QTest::newRow("length past 2^64") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n");
    QTest::newRow("two lengths") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n");
    QTest::newRow("metaint of zero") << QByteArray("ICY 200 OK\r\nicy-metaint: 0\r\n\r\nabc");
    QTest::newRow("endless header") << QByteArray("HTTP/1.0 200 OK\r\nX: ") + QByteArray(40000, 'a');
    QTest::newRow("no HTTP") << QByteArray("SSH-2.0-OpenSSH\r\n\r\n");
    QTest::newRow("endless interim answers") << QByteArray("HTTP/1.1 103 Early Hints\r\n\r\n").repeated(50);
    QTest::newRow("endless chunked trailer")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n") + QByteArray("X: y\r\n").repeated(5000);
}

void TestStreamWire::hostileSizesFailAtOnce()
{
    QFETCH(QByteArray, answer);
    HttpResponseParser p;
    p.setMetadataRequested(true);
    QElapsedTimer clock;
    clock.start();
    const QByteArray body = readAll(p, answer, 4096);
    QCOMPARE(p.state(), HttpResponseParser::State::Failed);
    QVERIFY(!p.error().isEmpty());
    QVERIFY(body.size() < 64);
    QVERIFY(clock.elapsed() < 1000);
}

void TestStreamWire::icyMetadataIsTakenOutOfTheAudio()
{
    QStringEncoder cp1256("windows-1256");
    const QString arabic = QString::fromUtf8("نشرة الأخبار");
    auto block = [](const QByteArray &text) {
        QByteArray b = text;
        b.append(QByteArray((16 - b.size() % 16) % 16, '\0'));
        return char(b.size() / 16) + b;
    };
    const QByteArray audio1(8, 'a'), audio2(8, 'b'), audio3(8, 'c');
    const QByteArray answer = "ICY 200 OK\r\nicy-metaint: 8\r\n\r\n" + audio1
        + block("StreamTitle='" + arabic.toUtf8() + "';") + audio2 + block("StreamTitle='" + cp1256.encode(arabic) + "';")
        + audio3 + '\0' + "dd";
    for (qsizetype piece : {1, 3, 1000}) {
        HttpResponseParser p;
        p.setMetadataRequested(true);
        QCOMPARE(readAll(p, answer, piece), audio1 + audio2 + audio3 + "dd");
        const QList<HttpResponseParser::Metadata> blocks = p.takeMetadata();
        QCOMPARE(blocks.size(), 2);
        QCOMPARE(icyStreamTitle(blocks[0].block), arabic);
        QCOMPARE(icyStreamTitle(blocks[1].block), arabic); // Windows-1256, as older station software sends
        if (piece == 1000) {                               // read at once: each block's place in the body taken with it
            QCOMPARE(blocks[0].after, audio1.size());
            QCOMPARE(blocks[1].after, audio1.size() + audio2.size());
        }
    }
    // Not asked for: icy-metaint is not believed and the bytes stay as they are.
    HttpResponseParser p;
    QCOMPARE(readAll(p, answer, 5).size(), answer.size() - answer.indexOf("\r\n\r\n") - 4);
}

void TestStreamWire::titlesArePlainText()
{
    // Direction overrides, controls and line breaks go; markup stays text; length is capped.
    const QString hostile = QString::fromUtf8("<img src=\"/dev/zero\">\u202Eabc\x01\x07\x1b\ndef\u2066x\u2069");
    QCOMPARE(plainNetworkText(hostile), QString("<img src=\"/dev/zero\">abc defx"));
    const QString joined = QString::fromUtf8("می\u200Cخواهم");
    QCOMPARE(plainNetworkText(joined), joined); // the zero-width non-joiner of Persian stays
    const QString longTitle = plainNetworkText(QString(5000, u'x'));
    QCOMPARE(longTitle.size(), 201);
    QVERIFY(longTitle.endsWith(QChar(0x2026)));
    QCOMPARE(icyStreamTitle("StreamTitle='Rock 'n' Roll';StreamUrl='x';"), QString("Rock 'n' Roll"));
    QCOMPARE(icyStreamTitle(QByteArray("StreamUrl='x';\0\0\0", 17)), QString());
    QCOMPARE(decodeNetworkText(QByteArray(100000, '\xC7')).size(), 201); // cut before decoding
}

void TestStreamWire::mmshFramingBecomesAsf()
{
    const QByteArray headerChunk = LoopbackServer::mmshHeaderChunk();
    const QByteArray header = headerChunk.mid(12);
    auto data = [](const QByteArray &payload) {
        const int len = int(payload.size()) + 8;
        return QByteArray("$D") + char(len & 0xFF) + char(len >> 8) + QByteArray(4, '\1') + QByteArray(2, '\0')
            + char(len & 0xFF) + char(len >> 8) + payload;
    };
    const QByteArray framed = headerChunk + data("packet-one") + data(QByteArray(3200, 'p')) + QByteArray("$E\x08\0", 4);
    for (qsizetype piece : {1, 5, 100000}) {
        MmshUnframer u;
        QByteArray out;
        for (qsizetype at = 0; at < framed.size(); at += piece) {
            u.feed(QByteArrayView(framed).sliced(at, qMin(piece, framed.size() - at)));
            out += u.takeOutput();
        }
        QCOMPARE(u.state(), MmshUnframer::State::Ended);
        QCOMPARE(u.headerInfo().packetSize, 3200u);
        QCOMPARE(u.headerInfo().streams, QList<int>{1});
        // The header, then each packet padded to the header's packet size.
        QCOMPARE(out, header + QByteArray("packet-one") + QByteArray(3190, '\0') + QByteArray(3200, 'p'));
    }
    MmshUnframer bad;
    QCOMPARE(bad.feed(data("before any header")), MmshUnframer::State::Failed);
    MmshUnframer junk;
    QCOMPARE(junk.feed("HTTP/1.0 200 OK\r\n"), MmshUnframer::State::Failed);
}

void TestStreamWire::asfPrerollIsTakenOut()
{
    auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i)
            b.append(char((v >> (8 * i)) & 0xFF));
        return b;
    };
    auto readLe = [](const QByteArray &b, qsizetype at, int bytes) {
        quint32 v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | uchar(b.at(at + i));
        return v;
    };
    // A header chunk whose File Properties state a preroll of 3.1 s, as Windows Media
    // encoders write it.
    QByteArray headerChunk = LoopbackServer::mmshHeaderChunk();
    constexpr qsizetype kPreroll = 12 + 30 + 80; // chunk head, header object's top, in File Properties
    headerChunk.replace(kPreroll, 4, le(3100, 4));
    const QByteArray header = headerChunk.mid(12);
    constexpr int kPacket = 3200;
    // Error correction (2 bytes), then the packet's flags: padding length as a word; the
    // payloads' fields: stream number, object number and replicated length as bytes, the
    // object offset as a dword.
    const QByteArray head = QByteArray::fromHex("820000");
    const char property = char(0x5D);
    auto finish = [&](QByteArray packet, qsizetype paddingAt) {
        packet.replace(paddingAt, 2, le(quint32(kPacket - packet.size()), 2));
        return packet; // the rest is padding, which MMSH leaves out
    };
    // One payload with its presentation time in the replicated data.
    QByteArray single = head + char(0x10) + property + le(0, 2) + le(2000, 4) + le(100, 2) + char(0x81) + char(7)
        + le(0, 4) + char(8) + le(100, 4) + le(5100, 4) + QByteArray(100, 'a');
    single = finish(single, 5);
    // Two payloads (lengths as words): one as above, one compressed, whose object offset
    // field is its presentation time.
    QByteArray multiple = head + char(0x11) + property + le(0, 2) + le(2100, 4) + le(100, 2) + char(0x82)
        + char(0x01) + char(8) + le(0, 4) + char(8) + le(50, 4) + le(5200, 4) + le(50, 2) + QByteArray(50, 'b')
        + char(0x01) + char(9) + le(5300, 4) + char(1) + char(23) + le(20, 2) + char(19) + QByteArray(19, 'c');
    const qsizetype compressedAt = 3 + 2 + 2 + 6 + 1 + (1 + 1 + 4 + 1 + 8 + 2 + 50) + 2;
    multiple = finish(multiple, 5);
    // A payload whose replicated data reaches into the padding: passed on as it came.
    QByteArray broken = head + char(0x10) + property + le(0, 2) + le(2200, 4) + le(100, 2) + char(0x81) + char(7)
        + le(0, 4) + char(200) + le(100, 4) + le(5400, 4);
    broken = finish(broken, 5);
    auto data = [&](const QByteArray &payload) {
        return "$D" + le(payload.size() + 8, 2) + le(1, 4) + le(0, 2) + le(payload.size() + 8, 2) + payload;
    };
    MmshUnframer u;
    u.feed(headerChunk + data(single) + data(multiple) + data(broken));
    const QByteArray out = u.takeOutput();
    QCOMPARE(u.state(), MmshUnframer::State::Running);
    QCOMPARE(out.size(), header.size() + 3 * kPacket);

    // The header says no preroll, and is otherwise the server's.
    QCOMPARE(readLe(out, kPreroll - 12, 4), 0u);
    QCOMPARE(out.left(header.size()).remove(kPreroll - 12, 8), QByteArray(header).remove(kPreroll - 12, 8));
    QCOMPARE(u.header(), header);
    // Presentation times less the preroll; send times as they were.
    const QByteArray a = out.mid(header.size(), kPacket), b = out.mid(header.size() + kPacket, kPacket);
    QCOMPARE(readLe(a, 7, 4), 2000u);
    QCOMPARE(readLe(a, 13 + 1 + 1 + 4 + 1 + 4, 4), 2000u);
    QCOMPARE(a.mid(13 + 15), QByteArray(100, 'a') + QByteArray(kPacket - single.size(), '\0'));
    QCOMPARE(readLe(b, 7, 4), 2100u);
    QCOMPARE(readLe(b, 14 + 1 + 1 + 4 + 1 + 4, 4), 2100u);
    QCOMPARE(readLe(b, compressedAt, 4), 2200u);
    QCOMPARE(b.at(compressedAt + 5), char(23)); // the time delta is relative: kept
    QCOMPARE(out.mid(header.size() + 2 * kPacket), broken + QByteArray(kPacket - broken.size(), '\0'));

    // A header without a preroll, or with an absurd one, leaves every packet as it came.
    for (const quint32 preroll : {0u, 3600000u}) {
        QByteArray chunk = headerChunk;
        chunk.replace(kPreroll, 4, le(preroll, 4));
        MmshUnframer plain;
        plain.feed(chunk + data(single));
        QCOMPARE(plain.takeOutput(), chunk.mid(12) + single + QByteArray(kPacket - single.size(), '\0'));
    }
}

void TestStreamWire::bufferBlocksWakesAndBounds()
{
    StreamBuffer buffer(-1, false);
    char into[16];
    // A read waits for data that comes from another thread.
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        buffer.write(0, "hello");
    });
    QCOMPARE(buffer.read(into, 16), qint64(5));
    writer.join();
    QCOMPARE(QByteArray(into, 5), QByteArray("hello"));
    // Abort wakes a waiting read at once, long before its deadline.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        buffer.abort();
    });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(buffer.read(into, 16), qint64(-1));
    QVERIFY(clock.elapsed() < StreamBuffer::kReadDeadlineMs / 2);
    stopper.join();
    QVERIFY(!buffer.write(0, "late"));

    // A silent connection ends a read at its deadline; the end of the stream reads as 0.
    StreamBuffer quiet(-1, false);
    quiet.setReadDeadlineMs(100);
    QCOMPARE(quiet.read(into, 16), qint64(-1));
    quiet.write(0, "ab");
    quiet.finish(0);
    QCOMPARE(quiet.read(into, 16), qint64(2));
    QCOMPARE(quiet.read(into, 16), qint64(0));

    // Held by a reconnecting writer, a read waits past its deadline until data comes; abort
    // still ends a held read at once.
    StreamBuffer held(-1, false);
    held.setReadDeadlineMs(100);
    held.setHeld(true);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        held.write(0, "back");
    });
    QCOMPARE(held.read(into, 16), qint64(4));
    late.join();
    std::thread ender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        held.abort();
    });
    QCOMPARE(held.read(into, 16), qint64(-1));
    ender.join();
    // Released, the deadline holds again.
    StreamBuffer released(-1, false);
    released.setReadDeadlineMs(100);
    released.setHeld(true);
    released.setHeld(false);
    QCOMPARE(released.read(into, 16), qint64(-1));

    // Bounded: once full, the writer is told when half has been read.
    StreamBuffer full(-1, false);
    bool told = false;
    QObject::connect(&full, &StreamBuffer::spaceAvailable, [&] { told = true; });
    full.write(0, QByteArray(StreamBuffer::kCapacity, 'x'));
    QCOMPARE(full.freeSpace(), 0);
    std::vector<char> sink(StreamBuffer::kCapacity);
    QCOMPARE(full.read(sink.data(), StreamBuffer::kCapacity / 4), qint64(StreamBuffer::kCapacity / 4));
    QVERIFY(!told);
    full.read(sink.data(), StreamBuffer::kCapacity / 2);
    QVERIFY(told);

    // A seek starts a new epoch: bytes of the old connection still on their way are dropped.
    StreamBuffer file(1000, true);
    quint64 asked = 0;
    QObject::connect(&file, &StreamBuffer::seekRequested, [&](quint64 offset, quint64) { asked = offset; });
    file.write(0, "old");
    QVERIFY(file.seek(500));
    QCOMPARE(asked, quint64(500));
    QVERIFY(!file.write(0, "stale"));
    QVERIFY(file.write(1, "new"));
    QCOMPARE(file.read(into, 16), qint64(3));
    QCOMPARE(QByteArray(into, 3), QByteArray("new"));
    QVERIFY(!StreamBuffer(-1, true).seek(0)); // a live stream cannot seek
}

QTEST_GUILESS_MAIN(TestStreamWire)
void TestStreamWire::liveStreamIsReadAgainFromAFrame()
{
    // A live stream written in pieces across frames, and read whole: a new reader can take it
    // up again from the frame where a listener was, with every byte from there on.
    StreamBuffer buffer(-1, false);
    const QByteArray mp3 = mp3Frames(0, 1000); // 26 s, more than the buffer keeps read
    for (qsizetype at = 0; at < mp3.size(); at += 333)
        QVERIFY(buffer.write(0, mp3.mid(at, 333)));
    QByteArray into(mp3.size(), '\0');
    for (qint64 n = 0, got = 0; n < mp3.size(); n += got) {
        got = buffer.read(into.data() + n, 1000);
        QVERIFY(got > 0);
    }
    const StreamBuffer::Mark mark = buffer.markAtOrBefore(20000);
    QCOMPARE(mark.bytes % kMp3FrameBytes, 0);
    QVERIFY2(mark.audioMs <= 20000 && mark.audioMs > 20000 - 27, qPrintable(QString::number(mark.audioMs)));
    QCOMPARE(buffer.markAtOrBefore(-1).bytes, qint64(-1));
    // By offset: every frame's start is known, also inside a piece written, and those before.
    const qint64 inFrame = 700 * kMp3FrameBytes + 100;
    QCOMPARE(buffer.markAtOrBeforeOffset(inFrame).bytes, 700 * kMp3FrameBytes);
    QCOMPARE(buffer.markAtOrBeforeOffset(inFrame, 2).bytes, 698 * kMp3FrameBytes);
    QVERIFY(buffer.markAtOrBeforeOffset(inFrame, 2).audioMs < buffer.markAtOrBeforeOffset(inFrame).audioMs);
    QCOMPARE(buffer.markAtOrBeforeOffset(kMp3FrameBytes, 1).bytes, qint64(-1));
    // The reader that stops is woken from its wait for data; the buffer stays as it is.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        buffer.interruptRead();
    });
    QCOMPARE(buffer.read(into.data(), 1000), qint64(-1));
    stopper.join();
    // Only the last StreamBuffer::kHistoryBytes read are kept.
    QVERIFY(!buffer.rewindTo(0));
    QVERIFY(!buffer.rewindTo(mp3.size() + 1));
    QVERIFY(buffer.rewindTo(mark.bytes));
    QCOMPARE(buffer.consumed(), mark.bytes);
    QCOMPARE(buffer.unread(), mp3.mid(mark.bytes));
    // What a reader took before, it gets again, and the stream goes on after it.
    buffer.write(0, mp3Frames(1000, 1));
    QCOMPARE(buffer.read(into.data(), 100), qint64(100));
    QCOMPARE(into.left(100), mp3.mid(mark.bytes, 100));
    QVERIFY(buffer.rewindTo(mark.bytes + 50));
    QCOMPARE(buffer.unread(), mp3.mid(mark.bytes + 50) + mp3Frames(1000, 1));
    // Ogg pages have no frame boundaries of this kind.
    StreamBuffer ogg(-1, false);
    ogg.write(0, oggPage(7, 0, 0, "\x01vorbis", true) + oggPage(7, 1, 48000, QByteArray(500, 'x')));
    QCOMPARE(ogg.markAtOrBefore(1000).bytes, qint64(-1));
}

void TestStreamWire::audioMeterCountsWhatTheBytesCarry()
{
    // MP3 in pieces of any size: 100 frames of 1152 samples at 44.1 kHz.
    {
        AudioMeter m;
        const QByteArray mp3 = mp3Frames(0, 100);
        for (qsizetype at = 0; at < mp3.size(); at += 333)
            m.feed(QByteArrayView(mp3).sliced(at, qMin<qsizetype>(333, mp3.size() - at)));
        QCOMPARE(m.format(), AudioMeter::Format::Mpeg);
        QCOMPARE(m.demuxer(), QString("mpga"));
        QVERIFY2(qAbs(m.audioMs() - 2612) <= 27, qPrintable(QString::number(m.audioMs())));
    }
    // Ogg pages of one second each, from a stream started at granule 0 and from one joined
    // 30 s in: both read as a page a second, never as a page every 30 s.
    const auto ogg = [](qint64 firstSecond) {
        const QByteArray ident = "\x01vorbis" + QByteArray(4, '\0') + "\x02" + QByteArray::fromHex("80bb0000")
            + QByteArray(12, '\0'); // 48 kHz
        QByteArray bytes = oggPage(7, 0, 0, ident, true) + oggPage(7, 1, 0, "\x03vorbis") + oggPage(7, 2, 0, "\x05vorbis");
        for (int n = 0; n < 5; ++n)
            bytes += oggPage(7, quint32(3 + n), 48000 * (firstSecond + n + 1), QByteArray(500, char(n)));
        return bytes;
    };
    for (qint64 joinedAt : {0, 30}) {
        AudioMeter m;
        m.feed(ogg(joinedAt));
        QCOMPARE(m.demuxer(), QString("ogg"));
        QCOMPARE(m.longestPageMs(), 1000);
        QCOMPARE(m.audioMs(), 5000);
        QCOMPARE(m.firstPageHintMs(), int(1000 * (joinedAt + 1))); // a hint only, capped by its users
    }
    // A granule that leaps towards the largest value is a jump, counted as the page before;
    // its time is never computed (it would overflow).
    {
        AudioMeter m;
        m.feed(ogg(0) + oggPage(7, 8, std::numeric_limits<qint64>::max() / 2, "x"));
        QCOMPARE(m.audioMs(), 6000);
    }
    // MPEG-TS segments as HLS carries them (AAC, timed ID3 beside it), in pieces that split
    // packets: the audio stream's frames are counted, the container named.
    {
        sim::HlsChannel channel({sim::HlsMode::Vod, 440, 64000, 2000, 6, "title", {}});
        QVERIFY(channel.ok());
        channel.playlist({});
        AudioMeter m;
        for (qint64 sequence = 0; sequence < 3; ++sequence) {
            const QByteArray ts = channel.segment(sequence).value_or(QByteArray());
            QVERIFY(ts.size() > 10 * 188);
            for (qsizetype at = 0; at < ts.size(); at += 1000)
                m.feed(QByteArrayView(ts).sliced(at, qMin<qsizetype>(1000, ts.size() - at)));
        }
        QVERIFY(m.transport());
        QCOMPARE(m.format(), AudioMeter::Format::Adts);
        QCOMPARE(m.demuxer(), QString("ts"));
        QVERIFY2(qAbs(m.audioMs() - 6000) <= 100, qPrintable(QString::number(m.audioMs())));
    }
    // Fragmented MP4 (HLS's fMP4): the initialisation section, then fragments, in pieces.
    {
        sim::HlsChannel channel({sim::HlsMode::Fmp4, 440, 64000, 2000, 6, "title", {}});
        QVERIFY(channel.ok());
        AudioMeter m;
        QByteArray bytes = channel.initSection();
        int segments = 0;
        for (const QByteArray &line : channel.playlist({}).split('\n')) {
            if (line.isEmpty() || line.startsWith('#') || segments == 3)
                continue;
            bytes += channel.segment(line.left(line.indexOf('.')).toLongLong()).value_or(QByteArray());
            ++segments;
        }
        QCOMPARE(segments, 3);
        for (qsizetype at = 0; at < bytes.size(); at += 1000)
            m.feed(QByteArrayView(bytes).sliced(at, qMin<qsizetype>(1000, bytes.size() - at)));
        QCOMPARE(m.format(), AudioMeter::Format::Mp4);
        QCOMPARE(m.demuxer(), QString("mp4"));
        QVERIFY2(qAbs(m.audioMs() - 6000) <= 100, qPrintable(QString::number(m.audioMs())));
    }
    // Bytes that never lock on: counting stops, with bounded work.
    AudioMeter junk;
    QByteArray noise(AudioMeter::kGiveUpAfter + 4096, '\0');
    quint32 x = 1;
    for (char &c : noise)
        c = char((x = x * 1103515245u + 12345u) >> 24);
    junk.feed(noise);
    QVERIFY(junk.gaveUp());
    QCOMPARE(junk.audioMs(), -1);
}

#include "tst_stream_wire.moc"
