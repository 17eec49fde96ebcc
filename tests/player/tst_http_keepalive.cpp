// Fetches that keep their connection (HTTP/1.1 keep-alive) against loopback servers that count
// connections: reuse, chunked answers read to their exact end, hostile chunking refused, the
// server's word honoured, connections the server closed replaced, and a live HLS station of
// the simulator fetched over one connection.

#include "player/net/hls_stream.h"
#include "player/net/http_connection_pool.h"
#include "player/net/http_get.h"
#include "tests/support/loopback_proxy.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_tls.h"
#include "tests/support/wait.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(lumora::test::Route)

using namespace lumora;
using namespace lumora::test;

namespace {

struct Fetched {
    bool ok = false;
    QByteArray body;
    QString reason;
    qint64 ms = 0;
};

// One HttpGet, through pool when given, waited for.
Fetched fetch(HttpConnectionPool *pool, const QString &address, HttpGet::Limits limits = {})
{
    HttpGet get;
    get.setConnectionPool(pool);
    Fetched result;
    QObject::connect(&get, &HttpGet::done, [&](const QByteArray &body) {
        result.ok = true;
        result.body = body;
    });
    QObject::connect(&get, &HttpGet::failed, [&](OpenFailure, const QString &reason, int) { result.reason = reason; });
    QElapsedTimer clock;
    clock.start();
    get.start(address, limits);
    waitFor([&] { return result.ok || !result.reason.isEmpty(); }, limits.deadlineMs + 5000);
    result.ms = clock.elapsed();
    return result;
}

Route chunked(const QByteArray &body, bool keepAlive = true)
{
    Route r;
    r.head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n";
    r.contentType = "application/vnd.apple.mpegurl";
    r.body = body;
    r.contentLength = false;
    r.keepAlive = keepAlive;
    return r;
}

} // namespace

class TestHttpKeepAlive : public QObject {
    Q_OBJECT

private slots:
    void fetchesShareOneConnection();
    void hostileChunkingRefused_data();
    void hostileChunkingRefused();
    void notKeptWhenInDoubt_data();
    void notKeptWhenInDoubt();
    void closedConnectionsAreReplaced();
    void liveHlsStationOverOneConnection();
};

void TestHttpKeepAlive::fetchesShareOneConnection()
{
    LoopbackServer server;
    server.route("/sized", LoopbackServer::kept("video/mp2t", QByteArray(5000, 's')));
    // Chunks with extensions and a trailer, sent three bytes at a time: every boundary falls
    // across reads somewhere.
    Route pieces = chunked("4;name=value\r\nabcd\r\n1A\r\nABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n0\r\nX-Checksum: 1\r\nX-More: 2\r\n\r\n");
    pieces.pieceBytes = 3;
    server.route("/chunked", pieces);
    server.route("/empty", chunked("0\r\n\r\n"));

    HttpConnectionPool pool;
    for (const char *path : {"/sized", "/chunked", "/sized", "/empty", "/chunked"}) {
        const Fetched f = fetch(&pool, server.url(QString::fromLatin1(path)));
        QVERIFY2(f.ok, qPrintable(path + (": " + f.reason)));
        if (qstrcmp(path, "/sized") == 0)
            QCOMPARE(f.body, QByteArray(5000, 's'));
        else if (qstrcmp(path, "/chunked") == 0)
            QCOMPARE(f.body, QByteArray("abcdABCDEFGHIJKLMNOPQRSTUVWXYZ"));
        else
            QCOMPARE(f.body, QByteArray());
    }
    QCOMPARE(server.requests().size(), 5);
    QCOMPARE(server.connections(), 1);
    const QByteArray head = server.requestHeaders().last();
    QVERIFY2(head.startsWith("GET /chunked HTTP/1.1\r\n") && head.contains("\r\nConnection: keep-alive"), head.constData());

    // Without a pool every fetch has a connection of its own, and says it will close it.
    QVERIFY(fetch(nullptr, server.url("/sized")).ok);
    QCOMPARE(server.connections(), 2);
    QVERIFY(server.requestHeaders().last().contains("\r\nConnection: close"));
    QVERIFY(fetch(&pool, server.url("/sized")).ok);
    QCOMPARE(server.connections(), 2);

    // https: one handshake for all, and the origin is told apart from the plain one.
    const TestCertificates certificates;
    QVERIFY2(certificates.ok(), qPrintable(certificates.error()));
    TlsFront tls(certificates.trusted(), server.port());
    TrustedAuthority trust(certificates.authority());
    for (const char *path : {"/chunked", "/sized", "/chunked"}) {
        const Fetched f = fetch(&pool, tls.url(QString::fromLatin1(path)));
        QVERIFY2(f.ok, qPrintable(f.reason));
    }
    QCOMPARE(tls.handshakes(), 1);
    QCOMPARE(server.connections(), 3);

    // Through an HTTP proxy, a route of its own: the connection to the proxy is kept.
    ScopedEnvironment env;
    for (const char *name : {"HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
        env.set(name, QString());
    LoopbackProxy proxy;
    env.set("http_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxy.port()));
    for (int i = 0; i < 3; ++i)
        QVERIFY2(fetch(&pool, server.url("/chunked")).ok, qPrintable(QString::number(i)));
    QCOMPARE(proxy.requestLines().size(), 1);
    QVERIFY(proxy.requestLines().first().startsWith("GET http://127.0.0.1:"));
    QCOMPARE(server.connections(), 4);
}

void TestHttpKeepAlive::hostileChunkingRefused_data()
{
    QTest::addColumn<Route>("route");
    QTest::newRow("size near 2^63") << chunked("7ffffffffffffff0\r\nabc");
    QTest::newRow("size of 20 digits") << chunked("ffffffffffffffffffff\r\nabc\r\n");
    QTest::newRow("bad hex") << chunked("4g\r\nabcd\r\n0\r\n\r\n");
    QTest::newRow("no size") << chunked(";ext\r\nabcd\r\n0\r\n\r\n");
    QTest::newRow("data past its chunk") << chunked("2\r\nabcd\r\n0\r\n\r\n");
    QTest::newRow("cut inside a chunk") << chunked("a\r\nabc", false);
    Route endlessSize = chunked("1");
    endlessSize.endless = true;
    QTest::newRow("endless size line") << endlessSize;
    Route endlessBody = chunked("400\r\n" + QByteArray(1024, 'x') + "\r\n");
    endlessBody.endless = true;
    endlessBody.bytesPerSecond = 400000;
    QTest::newRow("endless body") << endlessBody;
    Route endlessTrailer = chunked("0\r\nX-Trailer: yes\r\n");
    endlessTrailer.endless = true;
    endlessTrailer.bytesPerSecond = 400000;
    QTest::newRow("endless trailer") << endlessTrailer;
}

void TestHttpKeepAlive::hostileChunkingRefused()
{
    QFETCH(Route, route);
    LoopbackServer server;
    server.route("/x", route);
    HttpConnectionPool pool;
    HttpGet::Limits limits;
    limits.deadlineMs = 10000;
    limits.maxBytes = 256 * 1024;
    const Fetched f = fetch(&pool, server.url("/x"), limits);
    QVERIFY2(!f.ok, f.body.left(64).constData());
    // Refused for what it is, long before the deadline would have ended it.
    QVERIFY2(!f.reason.contains(u"not fetched within"), qPrintable(f.reason));
    QVERIFY2(f.ms < limits.deadlineMs, qPrintable(QString::number(f.ms)));
    QCOMPARE(pool.idleCount(), 0);
}

void TestHttpKeepAlive::notKeptWhenInDoubt_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("closes"); // the server closes after the answer
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("Connection: close") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 4\r\n")
                                       << QByteArray("body") << false << QByteArray("body");
    QTest::newRow("HTTP/1.0 answer") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n") << QByteArray("body") << false
                                     << QByteArray("body");
    QTest::newRow("neither length nor chunks") << QByteArray("HTTP/1.1 200 OK\r\n") << QByteArray("until the end") << true
                                               << QByteArray("until the end");
    QTest::newRow("bytes after the body") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n")
                                          << QByteArray("bodyHTTP/1.1 200 OK\r\n\r\n") << false << QByteArray("body");
    QTest::newRow("length and chunks") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n")
                                       << QByteArray("4\r\nbody\r\n0\r\n\r\n") << false << QByteArray("body");
}

void TestHttpKeepAlive::notKeptWhenInDoubt()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(bool, closes);
    QFETCH(QByteArray, expected);
    LoopbackServer server;
    Route r;
    r.head = head;
    r.body = body;
    r.contentLength = false;
    r.keepAlive = !closes;
    server.route("/x", r);
    HttpConnectionPool pool;
    for (int i = 1; i <= 2; ++i) {
        const Fetched f = fetch(&pool, server.url("/x"));
        QVERIFY2(f.ok, qPrintable(f.reason));
        QCOMPARE(f.body, expected);
        QCOMPARE(server.connections(), i);
    }
}

void TestHttpKeepAlive::closedConnectionsAreReplaced()
{
    LoopbackServer server;
    server.route("/a", LoopbackServer::kept("text/plain", "first"));
    server.route("/b", LoopbackServer::kept("text/plain", "second"));
    HttpConnectionPool pool;

    // Closed while idle: the pool lets it go, the next fetch connects anew.
    QVERIFY(fetch(&pool, server.url("/a")).ok);
    QCOMPARE(pool.idleCount(), 1);
    server.closeIdle();
    QVERIFY(waitFor([&] { return pool.idleCount() == 0; }, 10000));
    Fetched f = fetch(&pool, server.url("/b"));
    QVERIFY2(f.ok, qPrintable(f.reason));
    QCOMPARE(f.body, QByteArray("second"));
    QCOMPARE(server.connections(), 2);

    // Closed just as the request came, without a byte of answer: asked again, once, anew.
    server.setAnswersPerConnection(1);
    f = fetch(&pool, server.url("/a"));
    QVERIFY2(f.ok, qPrintable(f.reason));
    QCOMPARE(f.body, QByteArray("first"));
    QCOMPARE(server.connections(), 3);
    QCOMPARE(server.requests().size(), 3);

    // Kept no longer than the pool's idle time.
    HttpConnectionPool brief(200);
    server.setAnswersPerConnection(0);
    QVERIFY(fetch(&brief, server.url("/a")).ok);
    QCOMPARE(brief.idleCount(), 1);
    QVERIFY(waitFor([&] { return brief.idleCount() == 0; }, 10000));
    QVERIFY(waitFor([&] { return server.openConnections() == 1; }, 10000)); // the first pool's
}

void TestHttpKeepAlive::liveHlsStationOverOneConnection()
{
    const std::unique_ptr<sim::StationSimulator> simulator = startLoopbackSimulator();
    QVERIFY(simulator);
    simulator->setHlsSegmentMs(1000);
    const sim::ServedStation &station = simulator->served().at(3);
    const QString media = sim::StationSimulator::hlsAddress(station, sim::HlsMode::Ts, QStringLiteral("hi/index.m3u8"));
    const Fetched first = fetch(nullptr, media);
    QVERIFY2(first.ok, qPrintable(first.reason));
    simulator->clearRequestLog();

    HlsStream stream(media, first.body, {});
    QSignalSpy opened(&stream, &HlsStream::opened);
    stream.start();
    QVERIFY(opened.wait(15000));
    // Three segments at the start, then a reload and a segment every second.
    const auto count = [&](const char *suffix) {
        int n = 0;
        for (const sim::RequestRecord &r : simulator->requestLog())
            n += r.target.endsWith(suffix) ? 1 : 0;
        return n;
    };
    QVERIFY(waitFor([&] { return count("index.m3u8") >= 4 && count(".ts") >= 6; }, 30000));
    QSet<int> connections;
    for (const sim::RequestRecord &r : simulator->requestLog()) {
        QCOMPARE(r.status, 200);
        connections.insert(r.connection);
    }
    // A reload may overlap a segment's fetch: two connections at most, however many fetches.
    QVERIFY2(connections.size() <= 2, qPrintable(QString::number(connections.size())));
}

QTEST_GUILESS_MAIN(TestHttpKeepAlive)
#include "tst_http_keepalive.moc"
