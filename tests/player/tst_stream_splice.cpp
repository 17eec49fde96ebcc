// Joining a live stream's new connection onto what the old one wrote: the burst a server sends
// a new listener is not heard twice, Ogg headers are not repeated, audio lost in the outage
// leaves no torn frame, and hostile bytes cost bounded work and memory.

#include "player/net/stream_splice.h"
#include "tests/support/stream_bytes.h"

#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

// Feeds bytes to the splice in pieces of the given size; returns everything it let through.
QByteArray joinInPieces(StreamSplice &splice, const QByteArray &bytes, qsizetype piece)
{
    QByteArray out;
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        out += splice.join(QByteArrayView(bytes).sliced(at, qMin(piece, bytes.size() - at)));
    return out;
}

} // namespace

class TestStreamSplice : public QObject {
    Q_OBJECT
private slots:
    void mp3IsContinuedWhereItStopped_data();
    void mp3IsContinuedWhereItStopped();
    void oggHeadersAreNotRepeated();
    void hostileBytesAreBounded_data();
    void hostileBytesAreBounded();
};

void TestStreamSplice::mp3IsContinuedWhereItStopped_data()
{
    QTest::addColumn<qsizetype>("oldEnd");   // where the old connection stopped (byte of the stream)
    QTest::addColumn<qsizetype>("newStart"); // where the new connection's first byte is
    QTest::addColumn<qsizetype>("expected"); // where what comes out must start
    QTest::addColumn<int>("how");
    QTest::addColumn<qsizetype>("piece");
    const qsizetype f = kMp3FrameBytes;
    // A burst of 64 KiB from a server's queue, the old connection broken inside a frame.
    QTest::newRow("burst overlaps, whole") << 300 * f + 123 << 300 * f + 123 - 65536 << 300 * f + 123 << int(StreamSplice::How::Overlap) << qsizetype(1 << 20);
    QTest::newRow("burst overlaps, bytewise") << 300 * f + 123 << 200 * f << 300 * f + 123 << int(StreamSplice::How::Overlap) << qsizetype(1);
    QTest::newRow("burst overlaps, socket reads") << 300 * f + 5 << 160 * f + 9 << 300 * f + 5 << int(StreamSplice::How::Overlap) << qsizetype(1400);
    QTest::newRow("overlap shorter than the anchor") << 300 * f + 123 << 300 * f + 23 << 300 * f + 123 << int(StreamSplice::How::Overlap) << qsizetype(512);
    QTest::newRow("starts exactly where it stopped") << 300 * f << 300 * f << 300 * f << int(StreamSplice::How::Sync) << qsizetype(4096);
    // Audio lost in the outage: the stream goes on at the next whole frame.
    QTest::newRow("gap, inside a frame") << 300 * f + 123 << 340 * f + 200 << 341 * f << int(StreamSplice::How::Sync) << qsizetype(1000);
    QTest::newRow("gap, bytewise") << 300 * f + 123 << 340 * f + 1 << 341 * f << int(StreamSplice::How::Sync) << qsizetype(1);
}

void TestStreamSplice::mp3IsContinuedWhereItStopped()
{
    QFETCH(qsizetype, oldEnd);
    QFETCH(qsizetype, newStart);
    QFETCH(qsizetype, expected);
    QFETCH(int, how);
    QFETCH(qsizetype, piece);
    const QByteArray stream = mp3Frames(0, 1000);
    StreamSplice splice(StreamSplice::formatOf("audio/mpeg", stream));
    QCOMPARE(splice.format(), StreamSplice::Format::Mpeg);
    // The old connection: written in uneven pieces.
    for (qsizetype at = 0; at < oldEnd; at += 7777)
        splice.written(QByteArrayView(stream).sliced(at, qMin<qsizetype>(7777, oldEnd - at)));
    splice.beginJoin();
    const QByteArray out = joinInPieces(splice, stream.mid(newStart), piece);
    QCOMPARE(splice.state(), StreamSplice::State::Joined);
    QCOMPARE(int(splice.how()), how);
    QCOMPARE(out.size(), stream.size() - expected);
    QVERIFY(out == stream.mid(expected));
    QCOMPARE(splice.skipped(), expected - newStart);
}

void TestStreamSplice::oggHeadersAreNotRepeated()
{
    const QByteArray headers = oggHeaders(7);
    const QByteArray audio = oggAudioPages(7, 0, 400);
    const QByteArray stream = headers + audio;
    const qsizetype oldEnd = headers.size() + 250 * 1000 + 17; // inside a page
    const auto written = [&](StreamSplice &splice) {
        for (qsizetype at = 0; at < oldEnd; at += 3000)
            splice.written(QByteArrayView(stream).sliced(at, qMin<qsizetype>(3000, oldEnd - at)));
    };
    // The same headers, then a burst that repeats the last 40 KiB: it goes on after them.
    {
        StreamSplice splice(StreamSplice::formatOf("application/ogg", stream));
        QCOMPARE(splice.format(), StreamSplice::Format::Ogg);
        written(splice);
        QVERIFY(splice.oggHeaders() == headers);
        splice.beginJoin();
        const QByteArray out = joinInPieces(splice, headers + stream.mid(oldEnd - 40000), 999);
        QCOMPARE(int(splice.how()), int(StreamSplice::How::Overlap));
        QVERIFY(out == stream.mid(oldEnd));
    }
    // The same headers, then pages after a gap: they go on from the first whole page.
    {
        StreamSplice splice(StreamSplice::Format::Ogg);
        written(splice);
        splice.beginJoin();
        const QByteArray later = oggAudioPages(7, 300, 100);
        const QByteArray out = joinInPieces(splice, headers + later, 4096);
        QCOMPARE(int(splice.how()), int(StreamSplice::How::Sync));
        QVERIFY(out == later);
    }
    // The encoder started again with other headers: a new chain, passed on whole, and its
    // headers are the ones a later connection is compared with.
    {
        StreamSplice splice(StreamSplice::Format::Ogg);
        written(splice);
        splice.beginJoin();
        const QByteArray chain = oggHeaders(8) + oggAudioPages(8, 0, 50);
        const QByteArray out = joinInPieces(splice, chain, 100);
        QCOMPARE(int(splice.how()), int(StreamSplice::How::NewChain));
        QVERIFY(out == chain);
        splice.written(out);
        QVERIFY(splice.oggHeaders() == oggHeaders(8));
    }
}

void TestStreamSplice::hostileBytesAreBounded_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QByteArray>("incoming");
    QTest::addColumn<bool>("joins");
    QByteArray noise(2 * StreamSplice::kMaxPending, '\0');
    quint32 x = 1;
    for (char &c : noise) {
        x = x * 1103515245u + 12345u;
        c = char((x >> 16) & 0x7F);
    }
    // Frame headers that never have a second frame where they say it is.
    QByteArray lonelySyncs = noise;
    for (qsizetype at = 0; at + 4 < lonelySyncs.size(); at += 300)
        lonelySyncs.replace(at, 4, "\xFF\xFB\x90\x64");
    // Page headers that announce the largest pages, again and again, inside each other.
    QByteArray hugePages;
    const QByteArray giant = "OggS" + QByteArray(1, '\0') + QByteArray(1, '\0') + QByteArray(20, '\x01') + char(255)
        + QByteArray(255, char(255));
    while (hugePages.size() < 2 * StreamSplice::kMaxPending)
        hugePages += giant + noise.left(1000);
    QTest::newRow("mp3: no sync ever") << int(StreamSplice::Format::Mpeg) << mp3Frames(0, 600) << noise << false;
    QTest::newRow("mp3: syncs without a second frame") << int(StreamSplice::Format::Mpeg) << mp3Frames(0, 600) << lonelySyncs << false;
    QTest::newRow("adts: no sync ever") << int(StreamSplice::Format::Adts) << noise.left(300000) << noise.mid(300000) << false;
    QTest::newRow("ogg: huge pages") << int(StreamSplice::Format::Ogg) << oggHeaders(3) + oggAudioPages(3, 0, 100) << hugePages << false;
    // Silence: the same bytes everywhere, in the tail and in the new connection.
    QTest::newRow("all zero") << int(StreamSplice::Format::Mpeg) << QByteArray(StreamSplice::kTailBytes * 2, '\0')
                              << QByteArray(StreamSplice::kMaxPending * 2, '\0') << true;
}

void TestStreamSplice::hostileBytesAreBounded()
{
    QFETCH(int, format);
    QFETCH(QByteArray, tail);
    QFETCH(QByteArray, incoming);
    QFETCH(bool, joins);
    StreamSplice splice{StreamSplice::Format(format)};
    splice.written(tail);
    QVERIFY(splice.tailSize() <= 2 * StreamSplice::kTailBytes);
    splice.beginJoin();
    qsizetype fed = 0;
    QByteArray out;
    while (fed < incoming.size() && splice.state() == StreamSplice::State::Searching) {
        const qsizetype n = qMin<qsizetype>(64 * 1024, incoming.size() - fed);
        out += splice.join(QByteArrayView(incoming).sliced(fed, n));
        fed += n;
    }
    if (!joins) {
        // Given up once at most kMaxPending bytes were held; nothing came through.
        QCOMPARE(splice.state(), StreamSplice::State::Failed);
        QVERIFY2(fed <= StreamSplice::kMaxPending + 64 * 1024, qPrintable(QString::number(fed)));
        QVERIFY(out.isEmpty());
        QVERIFY(splice.join("more").isEmpty());
    } else {
        QCOMPARE(splice.state(), StreamSplice::State::Joined);
        QCOMPARE(out.size() + splice.skipped(), fed); // every byte either went on or was dropped once
    }
}

QTEST_MAIN(TestStreamSplice)
#include "tst_stream_splice.moc"
