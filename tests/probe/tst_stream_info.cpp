// What the resolver tells of the stream it found, as probe reports it: the content type and
// the station name servers send, in the encodings they send it, and nothing for an address it
// hands over without fetching.

#include "player/net/stream_resolver.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_bytes.h"

#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

// Resolves address; the address found, or empty.
QString resolve(StreamResolver &r, const QString &address)
{
    QSignalSpy found(&r, &StreamResolver::found);
    QSignalSpy failed(&r, &StreamResolver::failed);
    r.resolve(address);
    if (!QTest::qWaitFor([&] { return found.count() + failed.count() > 0; }, 8000) || found.isEmpty())
        return {};
    return found.first().first().toString();
}

Route icy(const QByteArray &nameHeader)
{
    Route r;
    r.head = "ICY 200 OK\r\nicy-notice1:<BR>SHOUTcast<BR>\r\n" + nameHeader + "icy-br:32\r\n";
    r.contentType = "audio/mpeg";
    r.body = fakeMp3();
    r.endless = true;
    return r;
}

} // namespace

class TestStreamInfo : public QObject {
    Q_OBJECT

private slots:
    void stationNameAndTypeOfTheStreamFound();
    void nothingForWhatIsNotFetched();
};

void TestStreamInfo::stationNameAndTypeOfTheStreamFound()
{
    const QString arabic = QString::fromUtf8("إذاعة القرآن الكريم");
    LoopbackServer server;
    server.route("/", icy("icy-name:" + arabic.toUtf8() + "\r\n"));
    // Older station software: the Arabic code page.
    QStringEncoder cp1256("windows-1256");
    QVERIFY(cp1256.isValid());
    const QByteArray legacy = cp1256.encode(arabic);
    server.route("/legacy", icy("icy-name: " + legacy + "\r\n"));
    server.route("/nameless", icy({}));
    Route mount = LoopbackServer::ok("audio/aacp", fakeMp3());
    mount.head = "HTTP/1.0 200 OK\r\nicy-name: Radio Sawa\r\nServer: Icecast 2.4.4\r\n";
    mount.endless = true;
    server.route("/mount", mount);
    server.route("/list.pls", LoopbackServer::ok("audio/x-scpls", "[playlist]\nFile1=/mount\n"));
    server.route("/wms", LoopbackServer::ok("application/vnd.ms.wms-hdr.asfv1", LoopbackServer::mmshHeaderChunk()));

    StreamResolver r;
    QCOMPARE(resolve(r, server.url("/")), server.url("/"));
    QVERIFY(r.streamInfo().fetched);
    QCOMPARE(r.streamInfo().icyName, arabic);
    QCOMPARE(r.streamInfo().contentType, QString("audio/mpeg"));

    QCOMPARE(resolve(r, server.url("/legacy")), server.url("/legacy"));
    QCOMPARE(r.streamInfo().icyName, arabic);

    QCOMPARE(resolve(r, server.url("/nameless")), server.url("/nameless"));
    QVERIFY(r.streamInfo().fetched);
    QCOMPARE(r.streamInfo().icyName, QString());

    // Through a playlist: what the stream it names said, not the playlist.
    QCOMPARE(resolve(r, server.url("/list.pls")), server.url("/mount"));
    QCOMPARE(r.streamInfo().contentType, QString("audio/aacp"));
    QCOMPARE(r.streamInfo().icyName, QString("Radio Sawa"));

    // Windows Media over HTTP, opened as such after it was fetched.
    QCOMPARE(resolve(r, server.url("/wms")), "mmsh" + server.url("/wms").mid(4));
    QVERIFY(r.streamInfo().fetched);
    QCOMPARE(r.streamInfo().contentType, QString("application/x-mms-framed"));
    QCOMPARE(r.streamInfo().icyName, QString());

    // An ICY server that refuses says why, and tells nothing.
    Route full;
    full.head = "ICY 401 Service Unavailable\r\n";
    server.route("/full", full);
    QCOMPARE(resolve(r, server.url("/full")), QString());
    QVERIFY(!r.streamInfo().fetched);
}

void TestStreamInfo::nothingForWhatIsNotFetched()
{
    LoopbackServer server;
    server.route("/a.asx", LoopbackServer::ok("video/x-ms-asf",
                                              "<asx version=\"3.0\"><entry><ref href=\"mms://127.0.0.1:9/live\"/></entry></asx>"));
    server.route("/", icy("icy-name:first\r\n"));
    StreamResolver r;
    QCOMPARE(resolve(r, server.url("/")), server.url("/"));
    QVERIFY(r.streamInfo().fetched);
    // No MMSH server at the mms entry: it goes to libVLC as MMS over TCP, and nothing is
    // known of it, nothing is left over.
    QCOMPARE(resolve(r, server.url("/a.asx")), QString("mmst://127.0.0.1:9/live"));
    QVERIFY(!r.streamInfo().fetched);
    QCOMPARE(r.streamInfo().contentType, QString());
    QCOMPARE(r.streamInfo().icyName, QString());
}

QTEST_GUILESS_MAIN(TestStreamInfo)
#include "tst_stream_info.moc"
