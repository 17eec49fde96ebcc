// HlsStream against servers of the test's own: which variant it plays and when it changes,
// byte ranges, and what it refuses; the bytes it writes are read back from its buffer.

#include "player/net/hls_stream.h"
#include "player/net/stream_resolver.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_bytes.h"
#include "tests/support/wait.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

// A finished media playlist of n one-second segments named prefix0.ts, prefix1.ts, ...
QByteArray mediaPlaylist(const QByteArray &prefix, int n)
{
    QByteArray p = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    for (int i = 0; i < n; ++i)
        p += "#EXTINF:1.0,\n" + prefix + QByteArray::number(i) + ".ts\n";
    return p + "#EXT-X-ENDLIST\n";
}

// One TS packet's worth of bytes that say which segment they are.
QByteArray segment(const QByteArray &name)
{
    QByteArray b(188, '\xAA');
    b[0] = 0x47;
    b.replace(4, name.size(), name);
    return b;
}

// What the buffer holds now.
QByteArray readAll(StreamBuffer &buffer)
{
    QByteArray all;
    while (buffer.buffered() > 0) {
        QByteArray piece(int(buffer.buffered()), '\0');
        const qint64 n = buffer.read(piece.data(), piece.size());
        if (n <= 0)
            break;
        all += piece.left(int(n));
    }
    return all;
}

} // namespace

class TestHlsStream : public QObject {
    Q_OBJECT

private slots:
    void stepsDownWhenSlowAndBackUpWithHeadroom();
    void byteRangesOfOneResource();
    void seekStartsInsideAPackedSegment();
    void waitsForItsReaderWhenFull();
    void refusedWithAReason();
};

void TestHlsStream::stepsDownWhenSlowAndBackUpWithHeadroom()
{
    LoopbackServer server;
    const QByteArray master = "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=100000\nlo.m3u8\n"
                              "#EXT-X-STREAM-INF:BANDWIDTH=200000\nhi.m3u8\n"
                              "#EXT-X-STREAM-INF:BANDWIDTH=900000\nvideo.m3u8\n";
    server.route("/lo.m3u8", LoopbackServer::ok("application/vnd.apple.mpegurl", mediaPlaylist("lo", 80)));
    server.route("/hi.m3u8", LoopbackServer::ok("application/vnd.apple.mpegurl", mediaPlaylist("hi", 80)));
    for (int i = 0; i < 80; ++i) {
        const QByteArray n = QByteArray::number(i);
        Route slow = LoopbackServer::ok("video/mp2t", segment("hi" + n));
        slow.delayMs = 1300; // a one-second segment that takes longer than it plays
        server.route("/hi" + n + ".ts", slow);
        Route quick = LoopbackServer::ok("video/mp2t", segment("lo" + n));
        quick.delayMs = 50; // well within its second, with room for twice the size
        server.route("/lo" + n + ".ts", quick);
    }
    HlsStream::Settings settings;
    settings.maxBandwidth = 250000; // the video variant is beyond the listener's limit
    settings.stepUpAfterMs = 1500;
    HlsStream stream(server.url("/master.m3u8"), master, settings);
    QSignalSpy opened(&stream, &HlsStream::opened);
    QSignalSpy changed(&stream, &HlsStream::variantChanged);
    stream.start();
    QVERIFY(opened.wait(10000));
    QCOMPARE(stream.container(), QString("ts"));
    QCOMPARE(stream.variantBandwidth(), qint64(200000)); // the highest within the limit
    // Two segments slower than they play: the lower variant from the next segment on.
    QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 1, 15000);
    QCOMPARE(changed[0][0].toString(), server.url("/lo.m3u8"));
    QByteArray written;
    QTRY_VERIFY_WITH_TIMEOUT((written += readAll(*stream.buffer())).contains(segment("lo3")), 10000);
    QVERIFY(written.startsWith(segment("hi0") + segment("hi1") + segment("lo2")));
    QCOMPARE(server.hits("/lo0.ts"), 0); // the sequence goes on where it was
    QCOMPARE(server.hits("/hi2.ts"), 0);
    QCOMPARE(server.hits("/video.m3u8"), 0);

    // The high variant is quick again: after the headroom lasted, it is tried again.
    for (int i = 0; i < 80; ++i) {
        const QByteArray n = QByteArray::number(i);
        server.route("/hi" + n + ".ts", LoopbackServer::ok("video/mp2t", segment("hi" + n)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 2, 20000);
    QCOMPARE(changed[1][0].toString(), server.url("/hi.m3u8"));
    QCOMPARE(changed[1][1].toLongLong(), qlonglong(200000));
}

void TestHlsStream::byteRangesOfOneResource()
{
    // Segments as ranges of one file; this server ignores Range and sends all of it, which
    // is cut to the range asked for.
    LoopbackServer server;
    const QByteArray file = segment("first") + segment("second") + segment("third");
    server.route("/all.ts", LoopbackServer::ok("video/mp2t", file));
    const QByteArray playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n"
                                "#EXTINF:1,\n#EXT-X-BYTERANGE:188@188\nall.ts\n"
                                "#EXTINF:1,\n#EXT-X-BYTERANGE:188\nall.ts\n#EXT-X-ENDLIST\n";
    HlsStream stream(server.url("/list.m3u8"), playlist, {});
    QSignalSpy ended(&stream, &StreamSource::ended);
    stream.start();
    QVERIFY(ended.wait(10000));
    QCOMPARE(ended[0][0].value<OpenFailure>(), OpenFailure::None);
    QCOMPARE(readAll(*stream.buffer()), segment("second") + segment("third"));
    QVERIFY(server.requestHeaders().last().contains("Range: bytes=376-563"));
}

void TestHlsStream::seekStartsInsideAPackedSegment()
{
    // Two segments of 100 MP3 frames (26.1 ms each). A seek to 1 s into the second leaves
    // out its first 39 frames, whole: the sound starts at the moment asked for.
    LoopbackServer server;
    server.route("/a0.mp3", LoopbackServer::ok("audio/mpeg", mp3Frames(0, 100)));
    server.route("/a1.mp3", LoopbackServer::ok("audio/mpeg", mp3Frames(100, 100)));
    const QByteArray playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:3\n#EXTINF:2.612,\na0.mp3\n"
                                "#EXTINF:2.612,\na1.mp3\n#EXT-X-ENDLIST\n";
    HlsStream stream(server.url("/list.m3u8"), playlist, {});
    QSignalSpy opened(&stream, &HlsStream::opened);
    stream.start();
    QVERIFY(opened.wait(10000));
    QVERIFY(stream.restartAt(2612 + 1000));
    QSignalSpy ended(&stream, &StreamSource::ended);
    QVERIFY(ended.wait(10000));
    QVERIFY(readAll(*stream.buffer()) == mp3Frames(139, 61));
    QCOMPARE(stream.startMs(), qint64(2612 + 1018));
}

void TestHlsStream::waitsForItsReaderWhenFull()
{
    // Segments of 200 KiB that nobody reads: fetching stops once the buffer is full, and goes
    // on, in order, as the reader takes the bytes.
    LoopbackServer server;
    constexpr int kSegments = 8;
    QByteArray expected;
    for (int i = 0; i < kSegments; ++i) {
        const QByteArray n = QByteArray::number(i);
        QByteArray body = segment("s" + n).repeated(1100);
        server.route("/s" + n + ".ts", LoopbackServer::ok("video/mp2t", body));
        expected += body;
    }
    HlsStream stream(server.url("/list.m3u8"), mediaPlaylist("s", kSegments), {});
    QSignalSpy ended(&stream, &StreamSource::ended);
    stream.start();
    StreamBuffer &buffer = *stream.buffer();
    QTRY_VERIFY_WITH_TIMEOUT(buffer.freeSpace() == 0, 10000);
    int fetched = 0;
    for (int i = 0; i < kSegments; ++i)
        fetched += server.hits("/s" + QByteArray::number(i) + ".ts");
    QVERIFY(fetched < kSegments);
    QVERIFY(holdsFor([&] { return server.hits("/s" + QByteArray::number(fetched) + ".ts") == 0; }, 500));
    QByteArray read;
    QTRY_VERIFY_WITH_TIMEOUT((read += readAll(buffer)).size() == expected.size() && !ended.isEmpty(), 20000);
    QVERIFY(read == expected);
}

void TestHlsStream::refusedWithAReason()
{
    LoopbackServer server;
    server.route("/sample.m3u8", LoopbackServer::ok("application/vnd.apple.mpegurl",
        "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://k\"\n#EXTINF:6,\na.ts\n"));
    server.route("/local.m3u8", LoopbackServer::ok("application/vnd.apple.mpegurl",
        "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\nfile:///etc/passwd\n#EXT-X-ENDLIST\n"));
    server.route("/badkey.m3u8", LoopbackServer::ok("application/vnd.apple.mpegurl",
        "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXT-X-KEY:METHOD=AES-128,URI=\"/key\"\n#EXTINF:6,\na.ts\n#EXT-X-ENDLIST\n"));
    server.route("/key", LoopbackServer::ok("application/octet-stream", QByteArray(4000, 'k')));
    server.route("/a.ts", LoopbackServer::ok("video/mp2t", segment("a")));

    StreamResolver resolver;
    QSignalSpy failed(&resolver, &StreamResolver::failed);
    QSignalSpy found(&resolver, &StreamResolver::found);
    const auto reasonFor = [&](const char *path) {
        failed.clear();
        resolver.resolve(server.url(QString::fromLatin1(path)));
        return failed.wait(10000) ? failed[0][0].toString() : QString();
    };
    // Encrypted inside the audio frames: HLS, but not playable, and said so.
    QString reason = reasonFor("/sample.m3u8");
    QVERIFY2(reason.contains(u"SAMPLE-AES"), qPrintable(reason));
    QCOMPARE(resolver.failure(), OpenFailure::NotAStream);
    // A segment that is a local file is never opened.
    reason = reasonFor("/local.m3u8");
    QVERIFY2(!reason.isEmpty(), "no failure");
    // A key that is no AES-128 key: no segment is fetched with it.
    reason = reasonFor("/badkey.m3u8");
    QVERIFY2(reason.contains(u"key"), qPrintable(reason));
    QCOMPARE(server.hits("/a.ts"), 0);
    QCOMPARE(found.size(), 0);
}

QTEST_GUILESS_MAIN(TestHlsStream)
#include "tst_hls_stream.moc"
