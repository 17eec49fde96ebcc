// What Lumora reads of HTTP Live Streaming: playlists as servers of the region write them (a
// Wowza master, a CDN's live index, keys, byte ranges, fragmented MP4), the ID3 tags of packed
// audio, and AES-128 decryption of a segment.

#include "player/net/aes128_cbc.h"
#include "player/net/hls_playlist.h"
#include "player/net/id3_tag.h"

#include <QTest>

using namespace lumora;

class TestHlsPlaylist : public QObject {
    Q_OBJECT

private slots:
    void masterPlaylists();
    void liveIndex();
    void keysAndRanges();
    void refusedAndLeftOut();
    void id3Tags();
    void aesSegments();
};

void TestHlsPlaylist::masterPlaylists()
{
    // Wowza's "ngrp" master: variants by bandwidth, relative entries with a session query.
    const HlsPlaylist wowza = HlsPlaylist::read(
        "#EXTM3U\r\n#EXT-X-VERSION:3\r\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=135680,CODECS=\"mp4a.40.2\"\r\n"
        "chunklist_w1613_b128000.m3u8?wowzasessionid=42\r\n"
        "#EXT-X-STREAM-INF:CODECS=\"mp4a.40.5,avc1.4d401f\",BANDWIDTH=67840,RESOLUTION=640x360\r\n"
        "chunklist_w1613_b64000.m3u8\r\n",
        QStringLiteral("https://cdn.example.net:1936/live/ngrp:radio_all/playlist.m3u8"));
    QVERIFY2(wowza.isMaster(), qPrintable(wowza.refusal));
    QCOMPARE(wowza.variants.size(), 2);
    QCOMPARE(wowza.variants[0].uri,
             QString("https://cdn.example.net:1936/live/ngrp:radio_all/chunklist_w1613_b128000.m3u8?wowzasessionid=42"));
    QCOMPARE(wowza.variants[0].bandwidth, 135680);
    QCOMPARE(wowza.variants[0].codecs, QString("mp4a.40.2"));
    // A quoted value holds the comma; attributes come in any order.
    QCOMPARE(wowza.variants[1].codecs, QString("mp4a.40.5,avc1.4d401f"));
    QCOMPARE(wowza.variants[1].bandwidth, 67840);

    // A variant without its bandwidth, or pointing at a local file, is left out; the rest stays.
    const HlsPlaylist mixed = HlsPlaylist::read(
        "#EXTM3U\n#EXT-X-STREAM-INF:CODECS=\"mp4a.40.2\"\nnone.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=64000\nfile:///etc/passwd\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=-5\nneg.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=32000\n/abs/low.m3u8\n",
        QStringLiteral("http://h/a/b/master.m3u8"));
    QVERIFY(mixed.isMaster());
    QCOMPARE(mixed.variants.size(), 1);
    QCOMPARE(mixed.variants[0].uri, QString("http://h/abs/low.m3u8"));
    QCOMPARE(mixed.problems.size(), 3);
}

void TestHlsPlaylist::liveIndex()
{
    // A CDN's live index (MediaPackage style): a sliding window, decimal durations, dates,
    // a discontinuity, segment addresses with Arabic letters and absolute ones.
    const HlsPlaylist p = HlsPlaylist::read(
        "\xEF\xBB\xBF#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:7\n"
        "#EXT-X-MEDIA-SEQUENCE:1612345\n"
        "#EXT-X-PROGRAM-DATE-TIME:2024-05-01T10:00:00.000Z\n"
        "#EXTINF:6.006,\nindex_1_1612345.ts?m=1700000000\n"
        "#EXTINF:5.994, \xd8\xa7\xd9\x84\xd8\xa3\xd8\xae\xd8\xa8\xd8\xa7\xd8\xb1\n"
        "\xd9\x85\xd9\x82\xd8\xb7\xd8\xb9 2.ts\n"
        "# a comment\n\n"
        "#EXT-X-DISCONTINUITY\n#EXTINF:6,\nhttps://other.example/seg3.ts\n",
        QStringLiteral("https://abc.mediapackage.example/out/v1/0123abcd/index.m3u8"));
    QVERIFY2(p.isMedia(), qPrintable(p.refusal));
    QCOMPARE(p.targetDurationMs, 7000);
    QVERIFY(!p.endList);
    QCOMPARE(p.segments.size(), 3);
    QCOMPARE(p.segments[0].sequence, 1612345);
    QCOMPARE(p.segments[2].sequence, 1612347);
    QCOMPARE(p.segments[0].durationMs, 6006);
    QCOMPARE(p.segments[0].uri, QString("https://abc.mediapackage.example/out/v1/0123abcd/index_1_1612345.ts?m=1700000000"));
    // Only the copy on the wire is encoded.
    QCOMPARE(p.segments[1].uri, QString("https://abc.mediapackage.example/out/v1/0123abcd/"
                                        "%D9%85%D9%82%D8%B7%D8%B9%202.ts"));
    QCOMPARE(p.segments[2].uri, QString("https://other.example/seg3.ts"));
    QVERIFY(!p.segments[1].discontinuity);
    QVERIFY(p.segments[2].discontinuity);
    QCOMPARE(p.totalMs(), 18000);

    const HlsPlaylist vod = HlsPlaylist::read("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\na.aac\n#EXT-X-ENDLIST\n",
                                              QStringLiteral("http://h/x.m3u8"));
    QVERIFY(vod.isMedia());
    QVERIFY(vod.endList);
    QCOMPARE(vod.segments[0].sequence, 0);
}

void TestHlsPlaylist::keysAndRanges()
{
    const HlsPlaylist p = HlsPlaylist::read(
        "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:4\n#EXT-X-MEDIA-SEQUENCE:7\n"
        "#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\n"
        "#EXT-X-KEY:METHOD=AES-128,URI=\"https://keys.example/k?id=1\",IV=0x000102030405060708090A0B0C0D0E0F\n"
        "#EXTINF:4.0,\n#EXT-X-BYTERANGE:1000@720\nmedia.mp4\n"
        "#EXTINF:4.0,\n#EXT-X-BYTERANGE:1200\nmedia.mp4\n"
        "#EXT-X-KEY:METHOD=AES-128,URI=\"../k2\"\n"
        "#EXTINF:4.0,\nmedia.mp4\n"
        "#EXT-X-KEY:METHOD=NONE\n"
        "#EXTINF:4.0,\nclear.mp4\n",
        QStringLiteral("http://h/radio/hls/index.m3u8"));
    QVERIFY2(p.isMedia(), qPrintable(p.refusal));
    QCOMPARE(p.segments.size(), 4);
    QCOMPARE(p.segments[0].mapUri, QString("http://h/radio/hls/init.mp4"));
    QCOMPARE(p.segments[0].mapRange, (HlsByteRange{720, 0}));
    QCOMPARE(p.segments[0].range, (HlsByteRange{1000, 720}));
    // A range without an offset follows the previous range of the same resource.
    QCOMPARE(p.segments[1].range, (HlsByteRange{1200, 1720}));
    QVERIFY(p.segments[2].range.isWhole());
    QCOMPARE(p.segments[0].key.method, HlsKey::Method::Aes128);
    QCOMPARE(p.segments[0].key.uri, QString("https://keys.example/k?id=1"));
    QCOMPARE(p.segments[0].key.iv, QByteArray::fromHex("000102030405060708090A0B0C0D0E0F"));
    QCOMPARE(p.segments[2].key.uri, QString("http://h/radio/k2"));
    QVERIFY(p.segments[2].key.iv.isEmpty()); // the sequence number is the IV
    QCOMPARE(p.segments[3].key.method, HlsKey::Method::None);
    QCOMPARE(p.segments[3].sequence, 10);
}

void TestHlsPlaylist::refusedAndLeftOut()
{
    const QString base = QStringLiteral("http://h/live/index.m3u8");
    // SAMPLE-AES cannot be undone before libVLC: refused, and the listener is told why.
    const HlsPlaylist sample = HlsPlaylist::read(
        "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://k\",KEYFORMAT=\"com.apple.streamingkeydelivery\"\n"
        "#EXTINF:6,\na.ts\n#EXTINF:6,\nb.ts\n", base);
    QVERIFY(!sample.isMedia());
    QVERIFY2(sample.refusal.contains(u"SAMPLE-AES"), qPrintable(sample.refusal));

    // Not HLS at all, or without the target duration.
    QVERIFY(!HlsPlaylist::read("[playlist]\nFile1=http://h/a\n", base).isMedia());
    QVERIFY(!HlsPlaylist::read("#EXTM3U\n#EXTINF:5,\na.ts\n", base).isMedia());
    QVERIFY(!HlsPlaylist::read("#EXTM3U\n#EXT-X-TARGETDURATION:99999999999999999999\n#EXTINF:5,\na.ts\n", base).isMedia());

    // Segments pointing at local things, with broken numbers or lines: left out, the others kept.
    QByteArray body = "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXT-X-MEDIA-SEQUENCE:9007199254740000\n"
                      "#EXTINF:6,\nfile:///dev/video0\n"
                      "#EXTINF:-3,\nneg.ts\n"
                      "#EXTINF:6,\n#EXT-X-BYTERANGE:99999999999@0\nhuge.ts\n"
                      "#EXTINF:6,\n#EXT-X-BYTERANGE:100\nnooffset.ts\n"
                      "#EXTINF:6,\n" + QByteArray(20000, 'a') + "\n"
                      "#EXTINF:6,\nok.ts\n";
    const HlsPlaylist p = HlsPlaylist::read(body, base);
    QVERIFY2(p.isMedia(), qPrintable(p.refusal));
    QCOMPARE(p.segments.size(), 1);
    QCOMPARE(p.segments[0].uri, QString("http://h/live/ok.ts"));
    QCOMPARE(p.segments[0].sequence, 9007199254740000 + 5);
    QCOMPARE(p.problems.size(), 5);
    // A sequence number that would pass 2^53 refuses the playlist instead of wrapping.
    QVERIFY(!HlsPlaylist::read("#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXT-X-MEDIA-SEQUENCE:9007199254740992\n"
                               "#EXTINF:6,\na.ts\n#EXTINF:6,\nb.ts\n", base).isMedia());

    // Bounded: no more segments than the limit, however many are written.
    QByteArray many = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    for (int i = 0; i < HlsPlaylist::kMaxSegments + 10; ++i)
        many += "#EXTINF:1,\ns.ts\n";
    QCOMPARE(HlsPlaylist::read(many, base).segments.size(), HlsPlaylist::kMaxSegments);
}

void TestHlsPlaylist::id3Tags()
{
    const auto syncSafe = [](quint32 v) {
        const char b[4] = {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
        return QByteArray(b, 4);
    };
    // ID3v2.4, a PRIV time stamp (as packagers write) and a UTF-8 title, then audio.
    const QByteArray priv = "PRIV" + syncSafe(53) + QByteArray(2, 0)
        + "com.apple.streaming.transportStreamTimestamp" + QByteArray(1, 0) + QByteArray(8, 1);
    const QByteArray title = QString::fromUtf8("إذاعة القرآن <b>").toUtf8();
    const QByteArray tit2 = "TIT2" + syncSafe(quint32(title.size() + 1)) + QByteArray(2, 0) + '\x03' + title;
    const QByteArray v4 = QByteArray("ID3\x04\x00\x00", 6) + syncSafe(quint32(priv.size() + tit2.size())) + priv + tit2;
    Id3Tag tag = Id3Tag::read(v4 + QByteArray("\xFF\xF1") + "audio");
    QCOMPARE(tag.size, v4.size());
    QVERIFY(tag.complete);
    QCOMPARE(tag.title, QString::fromUtf8("إذاعة القرآن <b>")); // plain text, never markup

    // ID3v2.3 with a UTF-16 title (byte order mark), and a control character taken out.
    const QByteArray utf16 = QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char *>(u"Sa\u0007lam"), 12);
    const QByteArray frame = "TIT2" + QByteArray(3, 0) + char(utf16.size() + 1) + QByteArray(2, 0) + '\x01' + utf16;
    const QByteArray v3 = QByteArray("ID3\x03\x00\x00", 6) + syncSafe(quint32(frame.size())) + frame;
    tag = Id3Tag::read(v3);
    QCOMPARE(tag.title, QString("Salam"));

    // Only part of the tag here: its size is known, it is not complete.
    tag = Id3Tag::read(v4.left(20));
    QCOMPARE(tag.size, v4.size());
    QVERIFY(!tag.complete);
    // Not a tag: audio, a broken size, a frame longer than its tag.
    QCOMPARE(Id3Tag::read("\xFF\xF1\x50\x80").size, 0);
    QCOMPARE(Id3Tag::read(QByteArray("ID3\x04\x00\x00\x80\x00\x00\x00", 10)).size, 0);
    const QByteArray lying = QByteArray("ID3\x04\x00\x00", 6) + syncSafe(20) + "TIT2" + syncSafe(5000) + QByteArray(12, 'x');
    tag = Id3Tag::read(lying);
    QCOMPARE(tag.size, 30);
    QVERIFY(tag.title.isEmpty());
}

void TestHlsPlaylist::aesSegments()
{
    const QByteArray key = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray plain = QByteArray(1000, 'G') + "tail";
    const QByteArray iv = aes128cbc::sequenceIv(1612345);
    QCOMPARE(iv.toHex(), QByteArray("00000000000000000000000000189a39"));
    const auto sealed = aes128cbc::encrypt(plain, key, iv);
    QVERIFY(sealed && sealed->size() % 16 == 0 && *sealed != plain);
    QCOMPARE(aes128cbc::decrypt(*sealed, key, iv), plain);
    // The wrong key or IV, a cut segment, a key of the wrong size: no bytes.
    QVERIFY(!aes128cbc::decrypt(*sealed, QByteArray(16, 'k'), iv) || *aes128cbc::decrypt(*sealed, QByteArray(16, 'k'), iv) != plain);
    QVERIFY(!aes128cbc::decrypt(sealed->left(sealed->size() - 3), key, iv));
    QVERIFY(!aes128cbc::decrypt(*sealed, key.left(8), iv));
}

QTEST_GUILESS_MAIN(TestHlsPlaylist)
#include "tst_hls_playlist.moc"
