// The resolver against canned answers from a loopback server: every playlist form, streams
// recognised by content, fallback, and malformed or hostile answers.

#include "player/net/body_reader.h"
#include "player/net/stream_resolver.h"
#include "player/net/wire_url.h"
#include "player/playlists/playlist_formats.h"
#include "tests/support/large_playlist.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_bytes.h"
#include "tests/support/wait.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

using namespace lumora;
using namespace lumora::test;

namespace {

QByteArray asfHeader()
{
    QByteArray b = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
    b.append(QByteArray(600, '\0'));
    return b;
}

struct Outcome {
    bool found = false;
    bool failed = false;
    QString address;
    QString reason;
    qint64 ms = 0;
};

Outcome run(StreamResolver &r, const QString &address, int waitMs = 8000)
{
    QSignalSpy found(&r, &StreamResolver::found);
    QSignalSpy failed(&r, &StreamResolver::failed);
    QElapsedTimer clock;
    clock.start();
    r.resolve(address);
    // Never synchronous: the caller has returned before any answer.
    Outcome o;
    if (found.count() || failed.count())
        return o;
    (void)QTest::qWaitFor([&] { return found.count() + failed.count() > 0; }, waitMs);
    o.ms = clock.elapsed();
    o.found = found.count() > 0;
    o.failed = failed.count() > 0;
    if (o.found)
        o.address = found.first().first().toString();
    if (o.failed)
        o.reason = failed.first().first().toString();
    return o;
}

} // namespace

class TestResolver : public QObject {
    Q_OBJECT

private slots:
    void wireForm_data();
    void wireForm();
    void schemes();
    void recognition_data();
    void recognition();
    void everyPlaylistFormatRecognisesItsOwn();
    void eachPlaylistForm_data();
    void eachPlaylistForm();
    void streamsRecognisedByContent();
    void liveStreamKnownByItsHeaders();
    void addressGoesOnTheWireEncoded();
    void entriesTriedInOrderWithFallback();
    void nextContinuesAfterUnplayableEntry();
    void forbiddenSchemesNeverLeaveThePlaylist();
    void redirects();
    void hostileAnswers();
    void neverAnsweringServerGivesUpInTime();
    void cancelSilencesEverything();
    void bodiesReadAsideOrDropped();
};

void TestResolver::wireForm_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("wire");
    QTest::newRow("plain") << "http://h:8000/a/b.asx?x=1&y=2" << "http://h:8000/a/b.asx?x=1&y=2";
    QTest::newRow("space") << "http://h/Radio Sawa/x.asx" << "http://h/Radio%20Sawa/x.asx";
    QTest::newRow("existing %20 kept") << "http://h/a%20b/c d.asx" << "http://h/a%20b/c%20d.asx";
    QTest::newRow("arabic") << QString::fromUtf8("http://h/إذاعة.asx")
                            << "http://h/%D8%A5%D8%B0%D8%A7%D8%B9%D8%A9.asx";
    QTest::newRow("lone percent") << "http://h/50%off.mp3" << "http://h/50%25off.mp3";
    QTest::newRow("mms inside query") << "http://h/players/playasx.php?url=mms://m.example/live"
                                      << "http://h/players/playasx.php?url=mms://m.example/live";
    QTest::newRow("mms") << "mms://h/Live Radio" << "mms://h/Live%20Radio";
    QTest::newRow("idn host") << QString::fromUtf8("http://مثال.example/x.asx")
                              << "http://xn--mgbh0fb.example/x.asx";
    QTest::newRow("quote and pipe") << "http://h/a\"b|c" << "http://h/a%22b%7Cc";
    QTest::newRow("outside the BMP") << QString::fromUtf8("http://h/\U0001D11E?q=\u00E9")
                                     << "http://h/%F0%9D%84%9E?q=%C3%A9";
}

void TestResolver::wireForm()
{
    QFETCH(QString, address);
    QFETCH(QString, wire);
    QCOMPARE(toWireUrl(address), wire);
    QCOMPARE(toWireUrl(wire), wire); // a wire address stays as it is
}

void TestResolver::schemes()
{
    QCOMPARE(schemeOf("HTTP://x"), QString("http"));
    QCOMPARE(schemeOf("C:\\music\\a.mp3"), QString("c"));
    QCOMPARE(schemeOf("/relative/path"), QString());
    for (const char *s : {"http", "https", "mms", "mmsh", "mmst"})
        QVERIFY2(isNetworkScheme(s), s);
    // Protocols Lumora does not speak itself would have libVLC open them; local schemes never.
    for (const char *s : {"rtsp", "pnm", "udp", "rtp", "file", "v4l2", "alsa", "dshow", "screen", "pulse",
                          "smb", "ftp", "c", "", "cdda", "dvd", "imem", "fd"})
        QVERIFY2(!isNetworkScheme(s), s);
}

void TestResolver::recognition_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("kind"); // as logs and the health check name it
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("asx upper case, bare &, unquoted")
        << QByteArray("text/html")
        << QByteArray("<ASX VERSION=\"3.0\">\r\n<!-- <REF HREF=\"http://commented/out\"/> -->\r\n"
                      "<TITLE>News & Music</TITLE>\r\n<ENTRY><REF HREF=\"http://a/live?x=1&y=2\"/>"
                      "<REF HREF=mms://b/live></ENTRY>\r\n<Entry><Ref href='http://c/x.mp3'/></Entry></ASX>")
        << QString("ASX") << QStringList{"http://a/live?x=1&y=2", "mms://b/live", "http://c/x.mp3"};
    QTest::newRow("asx with prolog, BOM and entities")
        << QByteArray("video/x-ms-asf")
        << QByteArray("\xEF\xBB\xBF  <?xml version=\"1.0\"?>\n<asx version=\"3.0\"><entry>"
                      "<ref href=\"http://a/s?x=1&amp;y=2\" /></entry><entryref href=\"http://b/more.asx\"/></asx>")
        << QString("ASX") << QStringList{"http://a/s?x=1&y=2", "http://b/more.asx"};
    {
        const QString text = "<ASX version=\"3.0\"><Entry><Ref href=\"mms://u16/live\"/></Entry></ASX>";
        QByteArray b("\xFF\xFE");
        b.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        QTest::newRow("asx in UTF-16") << QByteArray("video/x-ms-asf") << b << QString("ASX")
                                       << QStringList{"mms://u16/live"};
    }
    QTest::newRow("reference")
        << QByteArray("video/x-ms-asf")
        << QByteArray("[Reference]\r\nRef2=http://b/live?MSWMExt=.asf\r\nRef1=http://a/live?MSWMExt=.asf\r\n")
        << QString("reference") << QStringList{"http://a/live?MSWMExt=.asf", "http://b/live?MSWMExt=.asf"};
    QTest::newRow("pls")
        << QByteArray("audio/x-scpls")
        << QByteArray("[playlist]\nNumberOfEntries=2\nFile2=http://b:8000/\nTitle1=One\nFile1=http://a:8000/\nVersion=2\n")
        << QString("PLS") << QStringList{"http://a:8000/", "http://b:8000/"};
    QTest::newRow("m3u")
        << QByteArray("audio/x-mpegurl")
        << QByteArray("#EXTM3U\r\n#EXTINF:-1,Radio\r\nhttp://a/stream\r\n\r\nrelative/two.mp3\r\n")
        << QString("M3U") << QStringList{"http://a/stream", "relative/two.mp3"};
    QTest::newRow("m3u without header, sent as text")
        << QByteArray("text/plain") << QByteArray("http://a:8010/\nhttp://b:8010/\n")
        << QString("M3U") << QStringList{"http://a:8010/", "http://b:8010/"};
    QTest::newRow("hls index")
        << QByteArray("application/vnd.apple.mpegurl")
        << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nseg1.aac\n")
        << QString("HLS") << QStringList{};
    QTest::newRow("wpl")
        << QByteArray("text/plain")
        << QByteArray("<?wpl version=\"1.0\"?>\n<smil><head><title>x</title></head><body><seq>"
                      "<media src=\"http://a/one.asx\"/><media src=\"mms://b/two\"/></seq></body></smil>")
        << QString("WPL/SMIL") << QStringList{"http://a/one.asx", "mms://b/two"};
    QTest::newRow("smil")
        << QByteArray("application/smil")
        << QByteArray("<smil><body><audio src=\"rtsp://a/x.rm\"/></body></smil>")
        << QString("WPL/SMIL") << QStringList{"rtsp://a/x.rm"};
    QTest::newRow("xspf")
        << QByteArray("application/xspf+xml")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">"
                      "<trackList><track><location>http://a/x.mp3?a=1&amp;b=2</location></track>"
                      "<track><location> http://b/y.ogg </location></track></trackList></playlist>")
        << QString("XSPF") << QStringList{"http://a/x.mp3?a=1&b=2", "http://b/y.ogg"};
    QTest::newRow("html embed, object, audio")
        << QByteArray("text/html; charset=windows-1256")
        << QByteArray("<!DOCTYPE html><html><body><p>Listen</p>"
                      "<OBJECT ID=\"MediaPlayer\" CLASSID=\"CLSID:6BF52A52-394A-11D3-B153-00C04F79FAA6\">"
                      "<PARAM NAME=\"AutoStart\" VALUE=\"true\"><PARAM NAME=\"URL\" VALUE=\"mms://a/live\"></OBJECT>"
                      "<object><param name=\"FileName\" value=\"http://b/x.asx\"></object>"
                      "<param name=\"url\" value=\"http://not/inside/object\">"
                      "<embed type=\"application/x-mplayer2\" src=\"http://c/y.asx\">"
                      "<audio controls><source src=\"http://d/z.mp3\" type=\"audio/mpeg\"></audio>"
                      "<audio src=\"http://e/w.ogg\"></audio></body></html>")
        << QString("HTML")
        << QStringList{"mms://a/live", "http://b/x.asx", "http://c/y.asx", "http://d/z.mp3", "http://e/w.ogg"};
    QTest::newRow("html without media")
        << QByteArray("text/html") << QByteArray("<html><head><title>Radio</title></head><body>Down for maintenance</body></html>")
        << QString("HTML") << QStringList{};
    QTest::newRow("asf binary") << QByteArray("video/x-ms-asf") << asfHeader() << QString("stream") << QStringList{};
    QTest::newRow("mmsh framing") << QByteArray("application/octet-stream")
                                  << QByteArray("$H\x10\x00").append(asfHeader()) << QString("MMSH stream") << QStringList{};
    QTest::newRow("mp3 sent as text/plain") << QByteArray("text/plain") << fakeMp3() << QString("stream") << QStringList{};
    QTest::newRow("id3") << QByteArray("audio/mpeg") << QByteArray("ID3\x03\x00").append(QByteArray(600, '\0'))
                         << QString("stream") << QStringList{};
    QTest::newRow("ogg") << QByteArray("application/ogg") << QByteArray("OggS\0\x02", 6).append(QByteArray(600, '\x01'))
                         << QString("stream") << QStringList{};
    QTest::newRow("text that is nothing") << QByteArray("text/plain") << QByteArray("hello, this is no playlist\n")
                                          << QString("not playable") << QStringList{};
    QTest::newRow("binary junk as html") << QByteArray("text/html") << QByteArray(700, '\0')
                                         << QString("not playable") << QStringList{};
}

void TestResolver::recognition()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QFETCH(QString, kind);
    QFETCH(QStringList, entries);
    const Content content = recogniseContent(type, body, true);
    QCOMPARE(contentName(content), kind);
    QCOMPARE(playlistEntries(content, body), entries);
    // A short partial body is never judged.
    if (body.size() > 8)
        QCOMPARE(recogniseContent(type, body.left(8), false).kind, ContentKind::NeedMore);
}

// Each row of the format table against a sample of its own, sent without a type: a format
// shadowed by one tried before it, or a reader that misses its own format, shows here.
void TestResolver::everyPlaylistFormatRecognisesItsOwn()
{
    const QHash<QString, QByteArray> samples = {
        {"PLS", "[playlist]\nFile1=http://a/\n"},
        {"reference", "[Reference]\nRef1=http://a/\n"},
        {"M3U", "#EXTM3U\nhttp://a/\n"},
        {"WPL/SMIL", "<smil><body><media src=\"http://a/\"/></body></smil>"},
        {"ASX", "<asx version=\"3.0\"><entry><ref href=\"http://a/\"/></entry></asx>"},
        {"XSPF", "<playlist><trackList><track><location>http://a/</location></track></trackList></playlist>"},
        {"HTML", "<html><body><embed src=\"http://a/\"></body></html>"},
    };
    QSet<QString> names;
    for (const PlaylistFormat &format : playlistFormats()) {
        const QString name = QString::fromLatin1(format.name);
        QVERIFY2(!names.contains(name), qPrintable("two formats named " + name));
        names.insert(name);
        QVERIFY2(samples.contains(name), qPrintable("no sample of " + name + " in this test"));
        const QByteArray body = samples.value(name);
        const Content whole = recogniseContent({}, body, true);
        QCOMPARE(contentName(whole), name);
        QCOMPARE(playlistEntries(whole, body), QStringList{"http://a/"});
        // The first bytes of a longer body still coming are judged the same.
        QCOMPARE(contentName(recogniseContent({}, body + QByteArray(600, '\n'), false)), name);
    }
}

void TestResolver::eachPlaylistForm_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // %1: the server's base address

    QTest::newRow("asx from a script, as text/html") << QByteArray("/x.php?id=3") << QByteArray("text/html")
        << QByteArray("<ASX VERSION=\"3.0\"><ENTRY><REF HREF=\"%1/stream.mp3?a=1&b=2\"/></ENTRY></ASX>")
        << "%1/stream.mp3?a=1&b=2";
    QTest::newRow("asx with a query") << QByteArray("/gen.asx?x=1") << QByteArray("video/x-ms-asf")
        << QByteArray("<asx version=\"3.0\"><entry><ref href=\"%1/stream.mp3?a=1&amp;b=2\"/></entry></asx>")
        << "%1/stream.mp3?a=1&b=2";
    QTest::newRow("wvx") << QByteArray("/list.wvx") << QByteArray("video/x-ms-wvx")
        << QByteArray("<ASX version=\"3.0\"><ENTRY><REF HREF=\"mms://127.0.0.1/wvx\"/></ENTRY></ASX>")
        << "mmst://127.0.0.1/wvx"; // no MMSH server there: MMS over TCP is the last resort
    QTest::newRow("reference file: http means mmsh") << QByteArray("/ref.asx") << QByteArray("video/x-ms-asf")
        << QByteArray("[Reference]\r\nRef1=%1/wms\r\n")
        << "mmsh%2/wms";
    QTest::newRow("pls") << QByteArray("/listen.pls") << QByteArray("audio/x-scpls")
        << QByteArray("[playlist]\nNumberOfEntries=1\nFile1=%1/stream.mp3\n") << "%1/stream.mp3";
    QTest::newRow("m3u, relative entry") << QByteArray("/dir/list.m3u?sid=1") << QByteArray("audio/x-mpegurl")
        << QByteArray("#EXTM3U\n#EXTINF:-1,x\n../stream.mp3\n") << "%1/stream.mp3";
    QTest::newRow("wpl with a query") << QByteArray("/list.wpl?id=5") << QByteArray("application/vnd.ms-wpl")
        << QByteArray("<?wpl version=\"1.0\"?><smil><body><seq><media src=\"%1/stream.mp3\"/></seq></body></smil>")
        << "%1/stream.mp3";
    QTest::newRow("xspf") << QByteArray("/list.xspf") << QByteArray("application/xspf+xml")
        << QByteArray("<playlist xmlns=\"http://xspf.org/ns/0/\"><trackList><track><location>%1/stream.mp3</location></track></trackList></playlist>")
        << "%1/stream.mp3";
    QTest::newRow("html page with a player") << QByteArray("/radio.html") << QByteArray("text/html")
        << QByteArray("<html><body><object classid=\"clsid:6BF52A52-394A-11D3-B153-00C04F79FAA6\">"
                      "<param name=\"URL\" value=\"%1/list.asx\"></object></body></html>")
        << "%1/stream.mp3";
    QTest::newRow("nested: page, asx, pls") << QByteArray("/nest.htm") << QByteArray("text/html")
        << QByteArray("<embed src=\"/nest.asx\">") << "%1/stream.mp3";
}

void TestResolver::eachPlaylistForm()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    LoopbackServer server;
    const QByteArray base = server.url("").toUtf8();
    server.route(path, LoopbackServer::ok(type, QByteArray(body).replace("%1", base)));
    server.route("/stream.mp3", LoopbackServer::ok("audio/mpeg", fakeMp3()));
    server.route("/stream.mp3?a=1&b=2", LoopbackServer::ok("audio/mpeg", fakeMp3()));
    server.route("/list.asx", LoopbackServer::ok("video/x-ms-asf",
        "<ASX VERSION=\"3.0\"><ENTRY><REF HREF=\"" + base + "/stream.mp3\"/></ENTRY></ASX>"));
    server.route("/nest.asx", LoopbackServer::ok("text/plain",
        "<asx version=\"3.0\"><entry><ref href=\"/nest.pls\"/></entry></asx>"));
    server.route("/nest.pls", LoopbackServer::ok("text/plain", "[playlist]\nFile1=/stream.mp3\n"));
    server.route("/wms", LoopbackServer::ok("application/vnd.ms.wms-hdr.asfv1", LoopbackServer::mmshHeaderChunk()));

    StreamResolver resolver;
    const Outcome o = run(resolver, server.url(QString::fromLatin1(path)));
    QVERIFY2(o.found, qPrintable(o.reason));
    const QString base2 = server.url("").mid(4); // "://127.0.0.1:port"
    QCOMPARE(o.address, QString(expected).replace("%1", server.url("")).replace("%2", base2));
}

void TestResolver::streamsRecognisedByContent()
{
    LoopbackServer server;
    Route icy;
    icy.head = "ICY 200 OK\r\nicy-name: Test\r\n";
    icy.contentType = "audio/mpeg";
    icy.body = fakeMp3();
    icy.endless = true;
    server.route("/", icy);
    server.route("/asf", LoopbackServer::ok("video/x-ms-asf", asfHeader()));
    server.route("/wms", LoopbackServer::ok("application/vnd.ms.wms-hdr.asfv1", QByteArray("$H\x20\x00").append(asfHeader())));
    server.route("/hls.m3u8", LoopbackServer::ok("application/vnd.apple.mpegurl",
                                                 "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nseg1.mp3\n#EXT-X-ENDLIST\n"));
    server.route("/seg1.mp3", LoopbackServer::ok("audio/mpeg", fakeMp3()));
    Route endless = LoopbackServer::ok("audio/aacp", fakeMp3());
    endless.endless = true;
    server.route("/live", endless);

    server.route("/mmsh", LoopbackServer::ok("application/vnd.ms.wms-hdr.asfv1", LoopbackServer::mmshHeaderChunk()));

    StreamResolver resolver;
    // SHOUTcast's "ICY 200 OK" and an endless body: recognised from the first bytes; the very
    // connection that was judged goes on as the stream, with the bytes read so far.
    Outcome o = run(resolver, server.url("/"));
    QVERIFY(o.found);
    QCOMPARE(o.address, server.url("/"));
    std::unique_ptr<StreamSource> source = resolver.takeSource();
    QVERIFY(source);
    QCOMPARE(server.hits("/"), 1);
    QTRY_VERIFY(source->buffer()->received() >= fakeMp3().size());
    QCOMPARE(source->stationName(), QString("Test"));
    source.reset();
    QTRY_COMPARE(server.openConnections(), 0);

    o = run(resolver, server.url("/live"));
    QVERIFY(o.found);
    QCOMPARE(o.address, server.url("/live"));
    QVERIFY(resolver.takeSource());
    QCOMPARE(server.hits("/live"), 1);
    o = run(resolver, server.url("/asf"));
    QCOMPARE(o.address, server.url("/asf"));
    // Framed ASF over http: a Windows Media server, asked as one; the first answer had the
    // header only, so there is no stream without the play request (404 here).
    o = run(resolver, server.url("/wms"));
    QVERIFY(o.failed);
    QCOMPARE(server.hits("/wms"), 2);
    QVERIFY(server.requestHeaders().last().contains("NSPlayer"));
    o = run(resolver, server.url("/mmsh"));
    QCOMPARE(o.address, "mmsh" + server.url("/mmsh").mid(4));
    QCOMPARE(server.hits("/mmsh"), 3); // the fetch, then describe and play
    QVERIFY(server.requestHeaders().last().contains("xPlayStrm=1"));
    source = resolver.takeSource();
    QVERIFY(source);
    QTRY_VERIFY(source->buffer()->received() > 0); // the ASF header, unframed
    // An HTTP Live Streaming playlist: its segments are fetched here, and their bytes are
    // the stream; the address found is the playlist's.
    o = run(resolver, server.url("/hls.m3u8"));
    QVERIFY2(o.found, qPrintable(o.reason));
    QCOMPARE(o.address, server.url("/hls.m3u8"));
    source = resolver.takeSource();
    QVERIFY(source);
    QCOMPARE(source->container(), QString("mpga"));
    QTRY_COMPARE(source->buffer()->received(), fakeMp3().size());
    QCOMPARE(server.hits("/seg1.mp3"), 1);
}

void TestResolver::liveStreamKnownByItsHeaders()
{
    // Headers now, the body much later: a stream paced in real time from its first byte.
    auto later = [](const QByteArray &head, const QByteArray &type) {
        Route r;
        r.head = head;
        r.contentType = type;
        r.body = type == "audio/mpeg" ? fakeMp3() : QByteArray("[playlist]\nFile1=http://127.0.0.1:9/a\n");
        r.endless = true;
        r.burstBytes = 0;
        r.bytesPerSecond = 20; // a byte each 50 ms: 512 bytes take half a minute
        return r;
    };
    LoopbackServer server;
    server.route("/icecast", later("HTTP/1.0 200 OK\r\nicy-name: Test\r\nicy-pub: 0\r\n", "audio/mpeg"));
    server.route("/plain", later("HTTP/1.0 200 OK\r\n", "audio/mpeg"));
    server.route("/pls", later("HTTP/1.0 200 OK\r\nicy-name: Test\r\n", "audio/x-scpls"));

    StreamResolver resolver;
    // An Icecast-style answer: icy-* headers, an audio codec's type, no length. Known from
    // the headers, without waiting for the body.
    Outcome o = run(resolver, server.url("/icecast"));
    QVERIFY(o.found);
    QCOMPARE(o.address, server.url("/icecast"));
    QVERIFY2(o.ms < 400, qPrintable(QString::number(o.ms)));
    QCOMPARE(resolver.streamInfo().icyName, QStringLiteral("Test"));

    // Without icy-* headers, or with a playlist's type, the body still decides: its first
    // bytes are waited for (enough of them to tell take most of a second here).
    o = run(resolver, server.url("/plain"));
    QVERIFY(o.found);
    QVERIFY2(o.ms >= 600, qPrintable(QString::number(o.ms)));
    o = run(resolver, server.url("/pls"), 1500);
    QVERIFY(!o.found);
}

void TestResolver::addressGoesOnTheWireEncoded()
{
    LoopbackServer server;
    server.fallback([](const QByteArray &) { return LoopbackServer::ok("audio/mpeg", fakeMp3()); });
    StreamResolver resolver;
    const QString address = server.url(QString::fromUtf8("/Radio Sawa/إذاعة%20x.asx"));
    const Outcome o = run(resolver, address);
    QVERIFY(o.found);
    QCOMPARE(server.requests().last(), QByteArray("/Radio%20Sawa/%D8%A5%D8%B0%D8%A7%D8%B9%D8%A9%20x.asx"));
    QCOMPARE(o.address, server.url("/Radio%20Sawa/%D8%A5%D8%B0%D8%A7%D8%B9%D8%A9%20x.asx"));
    QVERIFY(server.requestHeaders().last().contains(QByteArray("\r\nHost: 127.0.0.1:") + QByteArray::number(server.port())));
    // The program names itself with the project's version, the one the packages carry.
    QVERIFY(server.requestHeaders().last().contains("\r\nUser-Agent: Lumora/" LUMORA_PROJECT_VERSION "\r\n"));
}

void TestResolver::entriesTriedInOrderWithFallback()
{
    LoopbackServer server;
    const QByteArray base = server.url("").toUtf8();
    const QByteArray dead = "http://127.0.0.1:" + QByteArray::number(closedPort());
    server.route("/list.asx", LoopbackServer::ok("video/x-ms-asf",
        "<ASX VERSION=\"3.0\">"
        "<ENTRY><REF HREF=\"" + base + "/missing.mp3\"/><REF HREF=\"" + dead + "/refused\"/></ENTRY>"
        "<ENTRY><REF HREF=\"" + base + "/page.html\"/></ENTRY>"
        "<ENTRY><REF HREF=\"" + base + "/good.mp3\"/></ENTRY>"
        "<ENTRY><REF HREF=\"" + base + "/later.mp3\"/></ENTRY></ASX>"));
    server.route("/page.html", LoopbackServer::ok("text/html", "<html><body>No player here</body></html>"));
    server.route("/good.mp3", LoopbackServer::ok("audio/mpeg", fakeMp3()));
    server.route("/later.mp3", LoopbackServer::ok("audio/mpeg", fakeMp3()));

    StreamResolver resolver;
    const Outcome o = run(resolver, server.url("/list.asx"));
    QVERIFY(o.found);
    QCOMPARE(o.address, server.url("/good.mp3"));
    QCOMPARE(server.requests(), (QList<QByteArray>{"/list.asx", "/missing.mp3", "/page.html", "/good.mp3"}));
}

void TestResolver::nextContinuesAfterUnplayableEntry()
{
    LoopbackServer server;
    server.route("/list.m3u", LoopbackServer::ok("audio/x-mpegurl",
        "#EXTM3U\nmms://127.0.0.1:1/first\nrtsp://127.0.0.1:1/second\nmms://127.0.0.1:1/first\n"));
    StreamResolver resolver;
    QSignalSpy found(&resolver, &StreamResolver::found);
    QSignalSpy failed(&resolver, &StreamResolver::failed);
    resolver.resolve(server.url("/list.m3u"));
    QTRY_COMPARE(found.count(), 1);
    // Port 1 refuses: no MMSH there, so MMS over TCP is what is left to try.
    QCOMPARE(found.last().first().toString(), QString("mmst://127.0.0.1:1/first"));
    QVERIFY(!resolver.takeSource()); // libVLC opens an mmst address itself
    resolver.next(); // rtsp is not taken; the repeated first entry is not tried twice
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(found.count(), 1);
    resolver.next(); // nothing pending: no further signal
    QVERIFY(holdsFor([&] { return failed.count() == 1 && found.count() == 1; }, 50));
}

void TestResolver::forbiddenSchemesNeverLeaveThePlaylist()
{
    LoopbackServer server;
    const QByteArray base = server.url("").toUtf8();
    const QByteArray forbidden =
        "file:///etc/passwd\nFILE://localhost/dev/zero\nv4l2:///dev/video0\nalsa://hw:0,0\n"
        "pulse://default\ndshow://\nscreen://\nC:\\Music\\a.mp3\nsmb://host/share/a.mp3\n"
        "cdda:///dev/cdrom\nftp://host/a.mp3\n";
    server.route("/bad.m3u", LoopbackServer::ok("audio/x-mpegurl", "#EXTM3U\n" + forbidden));
    server.route("/mixed.m3u", LoopbackServer::ok("audio/x-mpegurl", "#EXTM3U\n" + forbidden + base + "/good.mp3\n"));
    server.route("/bad.asx", LoopbackServer::ok("video/x-ms-asf",
        "<asx version=\"3.0\"><entry><ref href=\"file:///etc/passwd\"/></entry>"
        "<entry><ref href=\"v4l2://\"/></entry></asx>"));
    server.route("/good.mp3", LoopbackServer::ok("audio/mpeg", fakeMp3()));
    server.route("/to-file", LoopbackServer::redirect("file:///etc/passwd"));

    StreamResolver resolver;
    Outcome o = run(resolver, server.url("/bad.m3u"));
    QVERIFY(o.failed);
    QVERIFY2(o.reason.contains("not a network address"), qPrintable(o.reason));
    o = run(resolver, server.url("/mixed.m3u"));
    QVERIFY(o.found);
    QCOMPARE(o.address, server.url("/good.mp3"));
    QVERIFY(run(resolver, server.url("/bad.asx")).failed);
    QVERIFY(run(resolver, server.url("/to-file")).failed);
    QVERIFY(run(resolver, "file:///etc/passwd").failed);
}

void TestResolver::redirects()
{
    LoopbackServer server;
    server.route("/old", LoopbackServer::redirect("/new.pls", 301));
    server.route("/new.pls", LoopbackServer::ok("audio/x-scpls", "[playlist]\nFile1=/moved\n"));
    server.route("/moved", LoopbackServer::redirect(server.url("/stream.mp3").toUtf8(), 307));
    server.route("/stream.mp3", LoopbackServer::ok("audio/mpeg", fakeMp3()));
    server.route("/to-mms", LoopbackServer::redirect("mms://127.0.0.1:1/live"));
    server.route("/loop-a", LoopbackServer::redirect("/loop-b"));
    server.route("/loop-b", LoopbackServer::redirect("/loop-a"));
    server.fallback([](const QByteArray &path) {
        // /chain/N redirects to /chain/N+1 for ever.
        if (path.startsWith("/chain/"))
            return LoopbackServer::redirect("/chain/" + QByteArray::number(path.mid(7).toInt() + 1));
        Route r;
        r.head = "HTTP/1.0 404 Not Found\r\n";
        return r;
    });

    StreamResolver resolver;
    Outcome o = run(resolver, server.url("/old"));
    QVERIFY(o.found);
    QCOMPARE(o.address, server.url("/stream.mp3"));
    o = run(resolver, server.url("/to-mms"));
    QCOMPARE(o.address, QString("mmst://127.0.0.1:1/live"));

    o = run(resolver, server.url("/loop-a"));
    QVERIFY(o.failed);
    QCOMPARE(server.hits("/loop-a"), 1);
    QCOMPARE(server.hits("/loop-b"), 1);

    o = run(resolver, server.url("/chain/0"));
    QVERIFY(o.failed);
    QVERIFY2(o.reason.contains("redirects"), qPrintable(o.reason));
    QCOMPARE(server.hits("/chain/5"), 1);
    QCOMPARE(server.hits("/chain/6"), 0);
}

void TestResolver::hostileAnswers()
{
    LoopbackServer server;
    server.route("/self.asx", LoopbackServer::ok("video/x-ms-asf",
        "<ASX VERSION=\"3.0\"><ENTRY><REF HREF=\"/self.asx\"/></ENTRY><ENTRY><REF HREF=\"" +
        server.url("/self.asx").toUtf8() + "\"/></ENTRY></ASX>"));
    QByteArray huge = "#EXTM3U\n";
    while (huge.size() < 3 * 1024 * 1024)
        huge += "#EXTINF:-1,padding padding padding padding padding padding padding\n";
    server.route("/huge.m3u", LoopbackServer::ok("audio/x-mpegurl", huge));
    Route hugeNoLength = LoopbackServer::ok("text/html", "<html>" + huge);
    hugeNoLength.contentLength = false;
    server.route("/huge.html", hugeNoLength);
    Route bigHeader;
    bigHeader.head = "HTTP/1.0 200 OK\r\nX-Junk: " + QByteArray(64 * 1024, 'x') + "\r\n";
    server.route("/big-header", bigHeader);
    Route garbage;
    garbage.head = "SSH-2.0-OpenSSH_9.2\r\n";
    server.route("/garbage", garbage);
    QByteArray fan = "#EXTM3U\n";
    for (int i = 0; i < 1000; ++i)
        fan += "/fan/" + QByteArray::number(i) + ".mp3\n";
    server.route("/fan.m3u", LoopbackServer::ok("audio/x-mpegurl", fan));
    server.route("/empty.pls", LoopbackServer::ok("audio/x-scpls", "[playlist]\nNumberOfEntries=0\n"));
    server.fallback([](const QByteArray &path) {
        // /deep/N is a playlist that names /deep/N+1, without end.
        if (path.startsWith("/deep/"))
            return LoopbackServer::ok("audio/x-mpegurl",
                                      "#EXTM3U\n/deep/" + QByteArray::number(path.mid(6).toInt() + 1) + "\n");
        Route r;
        r.head = "HTTP/1.0 404 Not Found\r\n";
        return r;
    });

    StreamResolver resolver;
    const int depth = resolver.limits().maxDepth;

    Outcome o = run(resolver, server.url("/self.asx"));
    QVERIFY(o.failed);
    QCOMPARE(server.hits("/self.asx"), 1);

    o = run(resolver, server.url("/deep/0"));
    QVERIFY(o.failed);
    QVERIFY2(o.reason.contains("nested"), qPrintable(o.reason));
    QCOMPARE(server.hits("/deep/" + QByteArray::number(depth)), 1);
    QCOMPARE(server.hits("/deep/" + QByteArray::number(depth + 1)), 0);

    o = run(resolver, server.url("/huge.m3u"));
    QVERIFY(o.failed);
    QVERIFY2(o.reason.contains("larger than"), qPrintable(o.reason));
    o = run(resolver, server.url("/huge.html"));
    QVERIFY2(o.reason.contains("larger than"), qPrintable(o.reason));
    o = run(resolver, server.url("/big-header"));
    QVERIFY2(o.reason.contains("header larger"), qPrintable(o.reason));
    o = run(resolver, server.url("/garbage"));
    QVERIFY2(o.reason.contains("not an HTTP answer"), qPrintable(o.reason));
    o = run(resolver, server.url("/empty.pls"));
    QVERIFY2(o.reason.contains("without entries"), qPrintable(o.reason));

    const qsizetype before = server.requests().size();
    o = run(resolver, server.url("/fan.m3u"));
    QVERIFY(o.failed);
    QCOMPARE(server.requests().size() - before, 1 + resolver.limits().maxEntriesPerPlaylist);
}

void TestResolver::neverAnsweringServerGivesUpInTime()
{
    LoopbackServer server;
    Route silent;
    silent.silent = true;
    server.route("/silent", silent);
    const QByteArray list = "#EXTM3U\n/silent?1\n/silent?2\n/silent?3\n/silent?4\n/silent?5\n";
    server.route("/silent?1", silent);
    server.route("/silent?2", silent);
    server.route("/silent?3", silent);
    server.route("/silent?4", silent);
    server.route("/silent?5", silent);
    server.route("/silent.m3u", LoopbackServer::ok("audio/x-mpegurl", list));

    StreamResolver resolver;
    StreamResolver::Limits limits;
    limits.fetchTimeoutMs = 300;
    limits.totalTimeoutMs = 1000;
    resolver.setLimits(limits);

    Outcome o = run(resolver, server.url("/silent"), 3000);
    QVERIFY(o.failed);
    QVERIFY2(o.reason.contains("no answer within 300 ms"), qPrintable(o.reason));
    QVERIFY2(o.ms >= 250 && o.ms < 1000, qPrintable(QString::number(o.ms)));

    // Five silent entries would take 1.5 s one after another; the whole resolution has 1 s.
    o = run(resolver, server.url("/silent.m3u"), 3000);
    QVERIFY(o.failed);
    QVERIFY2(o.reason.contains("nothing answered within 1000 ms"), qPrintable(o.reason));
    QVERIFY2(o.ms >= 900 && o.ms < 1500, qPrintable(QString::number(o.ms)));
    QTRY_COMPARE(server.openConnections(), 0);

    // A refused connection fails at once.
    o = run(resolver, QStringLiteral("http://127.0.0.1:%1/").arg(closedPort()), 3000);
    QVERIFY(o.failed);
    QVERIFY(o.ms < 300);
}

void TestResolver::cancelSilencesEverything()
{
    LoopbackServer server;
    Route slow = LoopbackServer::ok("audio/mpeg", fakeMp3());
    slow.delayMs = 300;
    server.route("/slow.mp3", slow);
    server.route("/fast.mp3", LoopbackServer::ok("audio/mpeg", fakeMp3()));

    StreamResolver resolver;
    QSignalSpy found(&resolver, &StreamResolver::found);
    QSignalSpy failed(&resolver, &StreamResolver::failed);
    resolver.resolve(server.url("/slow.mp3"));
    QTRY_COMPARE(server.hits("/slow.mp3"), 1); // under way
    resolver.cancel();
    QVERIFY(holdsFor([&] { return found.count() + failed.count() == 0; }, 500)); // past the answer

    // A second resolve while the first is under way abandons the first.
    resolver.resolve(server.url("/slow.mp3"));
    QTRY_COMPARE(server.hits("/slow.mp3"), 2);
    resolver.resolve(server.url("/fast.mp3"));
    QTRY_COMPARE(found.count(), 1);
    QVERIFY(holdsFor([&] { return found.count() == 1; }, 500)); // past the slow answer
    QCOMPARE(found.first().first().toString(), server.url("/fast.mp3"));
    QCOMPARE(failed.count(), 0);
}

void TestResolver::bodiesReadAsideOrDropped()
{
    // A large body is read on a worker, a small one in the next pass of the event loop; both
    // give what reading it here gives, and neither answers from inside start().
    const QString address = "http://h/lists/big.m3u";
    const LargePlaylistBody big = largeArabicPlaylist(LargePlaylist::M3uTitles, {"http://a/1", QString::fromUtf8("بث/٢")});
    const QByteArray small = "#EXTM3U\nhttp://b/1\n";
    QVERIFY(big.body.size() > BodyReader::kInlineBytes && small.size() <= BodyReader::kInlineBytes);
    const BodyReading expected = readBody(big.contentType, big.body, address, {});
    QCOMPARE(expected.entries, QStringList({"http://a/1", "http://h/lists/%D8%A8%D8%AB/%D9%A2"}));
    QVERIFY(expected.listed == 2 && expected.problems.isEmpty());

    QList<BodyReading> done;
    auto reader = std::make_unique<BodyReader>();
    connect(reader.get(), &BodyReader::done, this, [&](const BodyReading &r) { done << r; });
    for (const QByteArray &body : {big.body, small}) {
        done.clear();
        reader->start(big.contentType, body, address, {});
        QVERIFY(done.isEmpty() && reader->isBusy());
        QVERIFY(waitFor([&] { return !done.isEmpty(); }, 10000));
        QCOMPARE(done.first().entries, readBody(big.contentType, body, address, {}).entries);
        QVERIFY(!reader->isBusy());
    }

    // Dropped: a reading cancelled, one replaced by the next, one whose reader is gone. Only
    // the one reading left standing is ever delivered.
    done.clear();
    reader->start(big.contentType, big.body, address, {});
    reader->cancel();
    QVERIFY(!reader->isBusy());
    reader->start(big.contentType, big.body, address, {});
    reader->start(big.contentType, small, address, {});
    QVERIFY(waitFor([&] { return !done.isEmpty(); }, 10000));
    reader->start(big.contentType, big.body, address, {});
    reader.reset();
    QVERIFY(waitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, 10000));
    QVERIFY(holdsFor([&] { return done.size() == 1; }, 500));
    QCOMPARE(done.first().entries, QStringList{"http://b/1"});

    // Entries too long for any request line are left out, and said so.
    const QString longEntry = "http://h/" + QString(9000, QChar(0x0628));
    const BodyReading limited = readBody("audio/x-mpegurl", ("#EXTM3U\n" + longEntry + "\nhttp://c/1\n").toUtf8(), address, {});
    QCOMPARE(limited.entries, QStringList{"http://c/1"});
    QCOMPARE(limited.problems.size(), 1);
    QVERIFY(limited.problems.first().size() < 200);
    // The limit is on the wire: 2000 Arabic letters are 12000 characters there.
    const QString encodedLong = "http://h/" + QString(2000, QChar(0x0628));
    QCOMPARE(readBody("audio/x-mpegurl", encodedLong.toUtf8(), address, {}).entries, QStringList());
}

QTEST_MAIN(TestResolver)
#include "tst_resolver.moc"
