// Under X (xvfb-run): libVLC draws a stream's picture into the player's picture area, inside
// the page, keeping the picture's aspect.

#include "player/engine/vlc_backend.h"
#include "player/widget/player_control.h"
#include "player/widget/player_look.h"
#include "tests/support/audio_capture.h"
#include "tests/support/loopback_server.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

// Four seconds of ffmpeg's 16:9 test picture (colour bars) with a tone, as MPEG-TS, made with ffmpeg.
QByteArray redVideo()
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=s=320x180:r=25:d=4",
                            "-f", "lavfi", "-i", "sine=f=440:d=4", "-c:v", "mpeg2video", "-b:v", "500k",
                            "-c:a", "mp2", "-f", "mpegts", "-"});
    if (!ffmpeg.waitForFinished(20000) || ffmpeg.exitCode() != 0)
        return {};
    return ffmpeg.readAllStandardOutput();
}

bool isDark(QRgb c) { return qMax(qRed(c), qMax(qGreen(c), qBlue(c))) < 60; }

// Columns [from, to) of the image hold something other than dark pixels.
bool lit(const QImage &img, int from, int to)
{
    int count = 0;
    for (int x = from; x < to; ++x)
        for (int y = 0; y < img.height(); ++y)
            count += !isDark(img.pixel(x, y));
    return count > (to - from) * img.height() / 4;
}

} // namespace

class TestPlayerVideo : public QObject {
    Q_OBJECT

private slots:
    void pictureIsDrawnInsideThePictureArea();
};

void TestPlayerVideo::pictureIsDrawnInsideThePictureArea()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("needs an X display (run under xvfb-run)");
    const QByteArray video = redVideo();
    QVERIFY2(!video.isEmpty(), "ffmpeg is needed to make the test video");
    LoopbackServer server;
    server.route("/tv.ts", LoopbackServer::ok("video/mp2t", video));

    auto backend = std::make_unique<VlcBackend>();
    AudioCapture tap(*backend); // no sound device needed
    QWidget page;
    page.resize(600, 200);
    auto *player = new PlayerControl(PlayerSettings::stored(), std::move(backend), &page);
    player->move(60, 40);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    player->setURL(server.url("/tv.ts"));
    QTRY_COMPARE_WITH_TIMEOUT(player->status().state, PlaybackState::Playing, 10000);
    QWidget *picture = player->findChild<QWidget *>("pictureArea");
    const QPoint origin = picture->mapToGlobal(QPoint(0, 0));
    QImage shot;
    auto grabPicture = [&] {
        shot = QGuiApplication::primaryScreen()
                   ->grabWindow(0, origin.x(), origin.y(), picture->width(), picture->height())
                   .toImage();
        const int mid = shot.width() / 2;
        return !shot.isNull() && lit(shot, mid - 20, mid + 20) && !lit(shot, 0, 150)
            && !lit(shot, shot.width() - 150, shot.width());
    };
    const bool drawn = QTest::qWaitFor(grabPicture, 5000);
    shot.save(QDir::currentPath() + "/picture-area.png");
    QVERIFY2(drawn, "no picture in the picture area");
    const QImage whole = QGuiApplication::primaryScreen()->grabWindow(page.winId()).toImage();
    whole.save(QDir::currentPath() + "/player-video.png");
    // 16:9 in a 465 x 29 area: the picture keeps its aspect, so the ends stay dark.
    QVERIFY(!lit(shot, 0, 150));
    QVERIFY(!lit(shot, shot.width() - 150, shot.width()));
    // Nothing of it outside the area: the controls below keep their own dark panel.
    const QPoint below = player->mapTo(&page, QPoint(player->width() / 2, picture->height() + 20));
    QCOMPARE(whole.pixel(below), QColor(kPlayerLook.panel).rgb());
    QVERIFY(tap.seconds() > 0.2); // the sound goes on as well
}

QTEST_MAIN(TestPlayerVideo)
#include "tst_player_video.moc"
