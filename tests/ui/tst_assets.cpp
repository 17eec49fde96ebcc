// The window icon and the banner pictures: the committed files, the copies built into the
// program, and what the drawing tool makes.

#include "catalogue/page_directory.h"
#include "ui/banner_image.h"

#include <QCryptographicHash>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace lumora;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint16 u16(const QByteArray &b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }
quint32 u32(const QByteArray &b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }

// One 57 x 57 image, 24-bit colour with a 1-bit mask: 22 + 40 + 57 * 172 + 57 * 8 bytes.
void checkIconFile(const QByteArray &ico)
{
    QCOMPARE(ico.size(), 10322);
    QCOMPARE(u16(ico, 0), quint16(0));
    QCOMPARE(u16(ico, 2), quint16(1)); // icon
    QCOMPARE(u16(ico, 4), quint16(1)); // one image
    QCOMPARE(quint8(ico[6]), quint8(57));
    QCOMPARE(quint8(ico[7]), quint8(57));
    QCOMPARE(quint8(ico[8]), quint8(0)); // no palette
    QCOMPARE(u16(ico, 12), quint16(24));
    QCOMPARE(u32(ico, 14), quint32(10322 - 22));
    QCOMPARE(u32(ico, 18), quint32(22));
    QCOMPARE(u32(ico, 22), quint32(40));
    QCOMPARE(u32(ico, 26), quint32(57));
    QCOMPARE(u32(ico, 30), quint32(114)); // colour rows and mask rows
    QCOMPARE(u16(ico, 36), quint16(24));
    QCOMPARE(u32(ico, 38), quint32(0));
}

// The picture of such a file, read straight from its bytes: bottom-up rows of blue, green,
// red, then the mask rows, a set bit marking a transparent pixel.
QImage decodeIcon(const QByteArray &ico)
{
    QImage image(57, 57, QImage::Format_ARGB32);
    const char *colours = ico.constData() + 22 + 40;
    const char *mask = colours + 57 * 172;
    for (int row = 0; row < 57; ++row) {
        const int y = 56 - row;
        for (int x = 0; x < 57; ++x) {
            const auto *p = reinterpret_cast<const uchar *>(colours + row * 172 + 3 * x);
            const bool clear = uchar(mask[row * 8 + x / 8]) & (0x80 >> (x % 8));
            image.setPixel(x, y, clear ? 0u : qRgb(p[2], p[1], p[0]));
        }
    }
    return image;
}

QColor averageColumn(const QImage &image, int x)
{
    long r = 0, g = 0, b = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb p = image.pixel(x, y);
        r += qRed(p);
        g += qGreen(p);
        b += qBlue(p);
    }
    const int n = image.height();
    return QColor(int(r / n), int(g / n), int(b / n));
}

bool isBlueLetter(QRgb p) { return qBlue(p) > 140 && qBlue(p) > qRed(p) + 80 && qBlue(p) > qGreen(p) + 50; }
bool isWhite(QRgb p) { return qRed(p) > 215 && qGreen(p) > 215 && qBlue(p) > 215; }

} // namespace

class Assets : public QObject {
    Q_OBJECT

private slots:
    void iconFileHasItsForm();
    void iconShowsGreySpeakerAndBlueWaves();
    void bannersShowTheirTitles_data();
    void bannersShowTheirTitles();
    void toolDrawsTheSameIcon();
    void bannerFollowsTheScreensScale();
};

void Assets::iconFileHasItsForm()
{
    const QByteArray committed = readAll(QStringLiteral(LUMORA_ASSETS_DIR "/lumora.ico"));
    checkIconFile(committed);
    QCOMPARE(readAll(QStringLiteral(":/lumora/lumora.ico")), committed);
    QCOMPARE(QImage(QStringLiteral(":/lumora/lumora.ico")).size(), QSize(57, 57));
    // The PNG is the same picture: same colours where the mask is opaque, same mask.
    const QImage png = QImage(QStringLiteral(":/lumora/lumora.png")).convertToFormat(QImage::Format_ARGB32);
    const QImage ico = decodeIcon(committed);
    QCOMPARE(png.size(), QSize(57, 57));
    for (int y = 0; y < 57; ++y)
        for (int x = 0; x < 57; ++x) {
            const bool opaque = qAlpha(ico.pixel(x, y)) == 255;
            QCOMPARE(qAlpha(png.pixel(x, y)) == 255, opaque);
            if (opaque)
                QCOMPARE(png.pixel(x, y), ico.pixel(x, y));
        }
    QVERIFY(!QIcon(QStringLiteral(":/lumora/lumora.png")).isNull());
}

void Assets::iconShowsGreySpeakerAndBlueWaves()
{
    const QImage icon = decodeIcon(readAll(QStringLiteral(":/lumora/lumora.ico")));
    int grey = 0, blueRight = 0, blueLeft = 0, clear = 0;
    for (int y = 0; y < 57; ++y)
        for (int x = 0; x < 57; ++x) {
            const QRgb p = icon.pixel(x, y);
            if (qAlpha(p) < 255) {
                ++clear;
                continue;
            }
            const int spread = qMax(qRed(p), qMax(qGreen(p), qBlue(p))) - qMin(qRed(p), qMin(qGreen(p), qBlue(p)));
            if (spread < 16 && qGray(p) > 70 && x < 30)
                ++grey;
            if (qBlue(p) > qRed(p) + 80)
                (x > 30 ? blueRight : blueLeft)++;
        }
    QVERIFY2(grey > 300, qPrintable(QString::number(grey)));
    QVERIFY2(blueRight > 100, qPrintable(QString::number(blueRight)));
    QCOMPARE(blueLeft, 0);
    QVERIFY(clear > 57 * 57 / 3);
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
}

void Assets::bannersShowTheirTitles_data()
{
    QTest::addColumn<int>("page");
    for (const PageEntry &e : PageDirectory::entries())
        QTest::newRow(qPrintable(pageName(e.page))) << pageNumber(e.page);
}

void Assets::bannersShowTheirTitles()
{
    QFETCH(int, page);
    const QString name = QStringLiteral("banners/Form%1.jpg").arg(page);
    const QByteArray committed = readAll(QStringLiteral(LUMORA_ASSETS_DIR "/") + name);
    QVERIFY(committed.startsWith("\xff\xd8"));
    QVERIFY2(committed.size() > 8000 && committed.size() <= 10292, qPrintable(QString::number(committed.size())));
    QCOMPARE(readAll(QStringLiteral(":/lumora/") + name), committed);

    const QImage banner = QImage::fromData(committed, "JPEG");
    QCOMPARE(banner.size(), page == 2 ? QSize(463, 80) : QSize(461, 81));
    // Ground: near-black brown at the left edge, yellow-green at the right edge.
    const QColor left = averageColumn(banner, 1);
    const QColor right = averageColumn(banner, banner.width() - 2);
    QVERIFY(left.value() < 50 && left.red() >= left.blue());
    QVERIFY(right.green() > 170 && right.red() > 140 && right.blue() < 90);
    // Blue letters with a white outline, set towards the right end.
    int blue = 0, white = 0, blueNearLeftEdge = 0;
    double blueX = 0;
    for (int y = 0; y < banner.height(); ++y)
        for (int x = 0; x < banner.width(); ++x) {
            const QRgb p = banner.pixel(x, y);
            if (isBlueLetter(p)) {
                ++blue;
                blueX += x;
                if (x < banner.width() / 8)
                    ++blueNearLeftEdge;
            }
            if (isWhite(p))
                ++white;
        }
    QVERIFY2(blue > 1200, qPrintable(QString::number(blue)));
    QVERIFY(blueX / blue > banner.width() * 0.55);
    QCOMPARE(blueNearLeftEdge, 0);
    QVERIFY(white > 300);
}

void Assets::toolDrawsTheSameIcon()
{
    QTemporaryDir out;
    QVERIFY(out.isValid());
    QProcess tool;
    tool.start(QStringLiteral(LUMORA_ART_TOOL), {out.path()});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    const QByteArray ico = readAll(out.filePath(QStringLiteral("lumora.ico")));
    checkIconFile(ico);
    // The same picture, not necessarily the same bytes: edge pixels may differ a little from
    // one processor to another.
    const QImage drawn = decodeIcon(ico);
    const QImage committed = decodeIcon(readAll(QStringLiteral(LUMORA_ASSETS_DIR "/lumora.ico")));
    int differ = 0;
    for (int y = 0; y < 57; ++y)
        for (int x = 0; x < 57; ++x) {
            const QRgb a = drawn.pixel(x, y), b = committed.pixel(x, y);
            if (qAlpha(a) != qAlpha(b) || qAbs(qGray(a) - qGray(b)) > 32)
                ++differ;
        }
    QVERIFY2(differ <= 57 * 57 / 100, qPrintable(QString::number(differ)));
    for (const PageEntry &e : PageDirectory::entries()) {
        const QSize size = e.page == Page::Form2 ? QSize(463, 80) : QSize(461, 81);
        const QImage banner(out.filePath(QStringLiteral("banners/%1.jpg").arg(pageName(e.page))));
        QCOMPARE(banner.size(), size);
        // And at 2x, drawn afresh for screens with a device pixel ratio of 2.
        const QImage sharp(out.filePath(QStringLiteral("banners/%1@2x.jpg").arg(pageName(e.page))));
        QCOMPARE(sharp.size(), size * 2);
    }
    const QImage icon2x(out.filePath(QStringLiteral("lumora@2x.png")));
    QCOMPARE(icon2x.size(), QSize(114, 114));
}

void Assets::bannerFollowsTheScreensScale()
{
    // Run once at the screen's own scale and once more with QT_SCALE_FACTOR=2 (see CMake).
    BannerImage banner(QStringLiteral(":/lumora/banners/Form5.jpg"));
    banner.resize(465, 81);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    const qreal ratio = banner.devicePixelRatioF();
    const QSize base(461, 81);
    QCOMPARE(banner.picture().size(), base);
    QCOMPARE(banner.pictureForScreen().size(), ratio > 1.0 ? base * 2 : base);
    QCOMPARE(banner.grab().size(), QSize(465, 81) * ratio);
    // The window icon has its 2x picture too: at a ratio of 2 the icon is not scaled up.
    const QIcon icon(QStringLiteral(":/lumora/lumora.png"));
    QCOMPARE(icon.pixmap(QSize(57, 57), ratio).size(), QSize(57, 57) * ratio);
}

QTEST_MAIN(Assets)
#include "tst_assets.moc"
