// Switching to a station behind a playlist of a mebibyte of Arabic text (titles by the
// thousand, a page of text, an entry of a mebibyte): the stream behind it is found, the
// event loop never stalls meanwhile, and a stop, another click or the player's end while the
// body is being read drops it for good.

#include "player/net/stream_resolver.h"
#include "robustness.h"
#include "tests/support/large_playlist.h"
#include "tests/support/loopback_server.h"

#include <QSignalSpy>
#include <QThreadPool>

using namespace lumora;
using namespace lumora::test;

namespace {

// A live MP3 stream, paced, as a radio server sends it.
Route liveMp3()
{
    Route r;
    r.contentType = "audio/mpeg";
    r.body = QByteArray("\xFF\xFB\x90\x64", 4) + QByteArray(4000, '\x55');
    r.endless = true;
    return r;
}

bool poolIdle()
{
    return QThreadPool::globalInstance()->activeThreadCount() == 0;
}

} // namespace

class TestLargePlaylists : public QObject {
    Q_OBJECT

private slots:
    void switchWithoutStalling_data();
    void switchWithoutStalling();
    void stopOrClickWhileReading_data();
    void stopOrClickWhileReading();
};

void TestLargePlaylists::switchWithoutStalling_data()
{
    QTest::addColumn<LargePlaylist>("shape");
    for (const auto &[name, shape] : largePlaylistShapes())
        QTest::newRow(name) << shape;
}

void TestLargePlaylists::switchWithoutStalling()
{
    QFETCH(LargePlaylist, shape);
    LoopbackServer server;
    server.route("/before", liveMp3());
    server.route("/live", liveMp3());
    const QString stream = server.url("/live");
    const LargePlaylistBody list = largeArabicPlaylist(shape, {stream});
    QVERIFY(list.body.size() > 1000 * 1000 && list.body.size() <= 1024 * 1024);
    server.route("/list", LoopbackServer::ok(list.contentType, list.body));

    StreamResolver resolver;
    QSignalSpy found(&resolver, &StreamResolver::found);
    QSignalSpy failed(&resolver, &StreamResolver::failed);
    StallMeter meter;
    meter.start();
    resolver.resolve(server.url("/before"));
    QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 10000);
    resolver.resolve(server.url("/list")); // the switch
    QTRY_COMPARE_WITH_TIMEOUT(found.count() + failed.count(), 2, 15000);
    meter.stop();
    QCOMPARE(found.last().first().toString(), stream);
    qInfo("worst event-loop stall while switching: %lld ms", meter.worstMs());
    QVERIFY2(meter.worstMs() <= kStallLimitMs,
             qPrintable(QStringLiteral("the event loop stalled %1 ms").arg(meter.worstMs())));
    QTRY_VERIFY_WITH_TIMEOUT(poolIdle(), 10000);
}

void TestLargePlaylists::stopOrClickWhileReading_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("bodySent");
    for (const char *action : {"stop", "click", "end"}) {
        QTest::addRow("%s once the request is answered", action) << QString::fromLatin1(action) << false;
        QTest::addRow("%s once the whole body is sent", action) << QString::fromLatin1(action) << true;
    }
}

void TestLargePlaylists::stopOrClickWhileReading()
{
    QFETCH(QString, action);
    QFETCH(bool, bodySent);
    LoopbackServer server;
    server.route("/live", liveMp3());
    server.route("/other", liveMp3());
    const LargePlaylistBody list = largeArabicPlaylist(LargePlaylist::M3uTitles, {server.url("/live")});
    server.route("/list", LoopbackServer::ok(list.contentType, list.body));

    auto resolver = std::make_unique<StreamResolver>();
    QSignalSpy found(resolver.get(), &StreamResolver::found);
    QSignalSpy failed(resolver.get(), &StreamResolver::failed);
    resolver->resolve(server.url("/list"));
    QVERIFY(waitFor([&] { return server.hits("/list") == 1 && (!bodySent || server.openConnections() == 0); },
                    10000));

    if (action == u"stop") {
        resolver->cancel();
        QVERIFY(holdsFor([&] { return found.isEmpty() && failed.isEmpty(); }, 1500));
    } else if (action == u"click") {
        resolver->resolve(server.url("/other"));
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 10000);
        QCOMPARE(found.first().first().toString(), server.url("/other"));
        QVERIFY(holdsFor([&] { return found.count() == 1 && failed.isEmpty(); }, 1500));
    } else {
        resolver.reset(); // the player goes while its playlist is read
        QVERIFY(holdsFor([&] { return found.isEmpty() && failed.isEmpty(); }, 1500));
    }
    // Whatever the reading found was dropped: its stream was never asked for.
    QTRY_VERIFY_WITH_TIMEOUT(poolIdle(), 10000);
    QCOMPARE(server.hits("/live"), 0);
}

QTEST_MAIN(TestLargePlaylists)
#include "tst_large_playlists.moc"
