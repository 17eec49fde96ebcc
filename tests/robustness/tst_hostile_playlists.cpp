// Playlists and pages of a megabyte built to be slow to read: bare '&' by the thousand, tens
// of thousands of embedded players, unclosed tags, endless entry lists. The player reads each
// (its limit is 1 MiB) without holding up the event loop, and says "cannot open".

#include "robustness.h"
#include "tests/support/loopback_server.h"

using namespace lumora;
using namespace lumora::test;
using lumora::test::LoopbackServer;

namespace {

constexpr int kSize = 1000 * 1000;

QByteArray repeated(const QByteArray &piece, const QByteArray &head = {}, const QByteArray &tail = {})
{
    QByteArray out = head;
    while (out.size() + piece.size() + tail.size() <= kSize)
        out += piece;
    return out + tail;
}

QByteArray numbered(const char *format, int count)
{
    QByteArray out;
    for (int i = 0; i < count && out.size() < kSize - 200; ++i)
        out += QByteArray(format).replace("%d", QByteArray::number(i));
    return out;
}

} // namespace

class TestHostilePlaylists : public QObject {
    Q_OBJECT

private slots:
    void readsWithoutStalling_data();
    void readsWithoutStalling();
};

void TestHostilePlaylists::readsWithoutStalling_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    // Entries point at a port nobody listens on, so each ends at once.
    const QByteArray dead = "http://127.0.0.1:9/";
    QTest::newRow("ASX, an address of bare '&'") << QByteArray("video/x-ms-asf")
        << repeated("&", "<asx version=\"3.0\"><entry><ref href=\"" + dead, "\"/></entry></asx>");
    QTest::newRow("ASX, entities that never end") << QByteArray("video/x-ms-asf")
        << repeated("&#x41", "<asx><entry><ref href=\"" + dead, "\"/></entry></asx>");
    QTest::newRow("ASX, unclosed tags") << QByteArray("video/x-ms-asf") << repeated("<", "<asx>");
    QTest::newRow("ASX, unclosed quotes") << QByteArray("video/x-ms-asf") << repeated("<ref href=\"x", "<asx>");
    QTest::newRow("page, 40000 embedded players") << QByteArray("text/html")
        << "<html><body>" + numbered("<embed src=\"" + dead + "%d.asx\">", 40000) + "</body></html>";
    QTest::newRow("page, one player embedded 60000 times") << QByteArray("text/html")
        << repeated("<embed src=\"" + dead + "x.asx\">", "<html><body>", "</body></html>");
    QTest::newRow("M3U, 36000 entries") << QByteArray("audio/x-mpegurl")
        << "#EXTM3U\n" + numbered(dead + "%d\n", 36000);
    QTest::newRow("PLS, 30000 entries") << QByteArray("audio/x-scpls")
        << "[playlist]\n" + numbered("File%d=" + dead + "%d\n", 30000);
    QTest::newRow("XSPF, locations of entities") << QByteArray("application/xspf+xml")
        << repeated("<location>&amp;&lt;&#65;&#x42;</location>", "<playlist><trackList>", "</trackList></playlist>");
    QTest::newRow("WPL, media by the thousand") << QByteArray("application/vnd.ms-wpl")
        << "<?wpl version=\"1.0\"?><smil><body><seq>" + numbered("<media src=\"" + dead + "%d\"/>", 20000)
               + "</seq></body></smil>";
}

void TestHostilePlaylists::readsWithoutStalling()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QVERIFY(body.size() > kSize / 2 && body.size() <= 1024 * 1024);
    LoopbackServer server;
    server.route("/list", LoopbackServer::ok(type, body));
    PlayerControl player(PlayerSettings::stored(), std::make_unique<VlcBackend>());

    StallMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    player.setURL(server.url("/list"));
    QTRY_COMPARE_WITH_TIMEOUT(player.status().state, PlaybackState::CannotOpen, 15000);
    meter.stop();
    qInfo("%lld ms to \"cannot open\"; worst event-loop stall %lld ms", clock.elapsed(), meter.worstMs());
    QVERIFY2(meter.worstMs() <= kStallLimitMs, qPrintable(QString::number(meter.worstMs())));
    QCOMPARE(server.hits("/list"), 1);
}

QTEST_MAIN(TestHostilePlaylists)
#include "tst_hostile_playlists.moc"
