// The desktop icon in the icon theme's sizes, committed under assets/icons: what lumora-art
// draws, and at every size, raster or SVG, the same grey loudspeaker sending blue waves.

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
const QString kIcons = QStringLiteral(LUMORA_ASSETS_DIR "/icons");
const QString kSvg =
    QStringLiteral(LUMORA_ASSETS_DIR "/icons/hicolor/scalable/apps/org.lumora.Lumora.svg");

QString pngOf(int size)
{
    return QStringLiteral(LUMORA_ASSETS_DIR "/icons/hicolor/%1x%1/apps/org.lumora.Lumora.png")
        .arg(size);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList filesUnder(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(dir.size());
    files.sort();
    return files;
}

struct Census {
    int grey = 0;      // opaque, colourless, not dark: the speaker's body
    int blueLeft = 0;  // opaque blue in the left half
    int blueRight = 0; // opaque blue in the right half: the waves
    int clear = 0;     // fully transparent
};

Census census(const QImage &image)
{
    Census c;
    const int n = image.width();
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 0)
                ++c.clear;
            if (qAlpha(p) < 200)
                continue;
            const int spread = qMax(qRed(p), qMax(qGreen(p), qBlue(p)))
                - qMin(qRed(p), qMin(qGreen(p), qBlue(p)));
            if (spread < 16 && qGray(p) > 70)
                ++c.grey;
            if (qBlue(p) > qRed(p) + 80)
                (2 * x >= n ? c.blueRight : c.blueLeft)++;
        }
    return c;
}

QImage renderSvg(int size)
{
    QSvgRenderer svg(kSvg);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    svg.render(&p);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// How far two pictures of the same size are apart: the largest difference of one channel of
// one pixel, and the share of pixels that differ at all.
struct PixelDifference {
    int largest = 0;
    double share = 0;
};
constexpr int kChannelTolerance = 8;     // of 255
constexpr double kShareTolerance = 0.02; // of the pixels

PixelDifference difference(const QImage &a, const QImage &b)
{
    PixelDifference d;
    int differ = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int most = qMax(qMax(qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q))),
                                  qMax(qAbs(qBlue(p) - qBlue(q)), qAbs(qAlpha(p) - qAlpha(q))));
            d.largest = qMax(d.largest, most);
            differ += most > 0;
        }
    d.share = double(differ) / (a.width() * a.height());
    return d;
}

// The share of pixels whose opacity differs by more than a third.
double coverageMismatch(const QImage &a, const QImage &b)
{
    int differ = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (qAbs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 85)
                ++differ;
    return double(differ) / (a.width() * a.height());
}

} // namespace

class Icons : public QObject {
    Q_OBJECT

private slots:
    void toolDrawsTheCommittedIcons();
    void everySizeShowsTheLoudspeaker_data();
    void everySizeShowsTheLoudspeaker();
    void svgIsTheSamePicture();
};

void Icons::toolDrawsTheCommittedIcons()
{
    QTemporaryDir out;
    QVERIFY(out.isValid());
    QProcess tool;
    tool.start(QStringLiteral(LUMORA_ART_TOOL), {QStringLiteral("--icons"), out.path()});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);

    QStringList expected;
    for (const int size : kThemeSizes)
        expected << QStringLiteral("/hicolor/%1x%1/apps/org.lumora.Lumora.png").arg(size);
    expected << QStringLiteral("/hicolor/scalable/apps/org.lumora.Lumora.svg");
    expected.sort();
    QCOMPARE(filesUnder(out.path()), expected);
    QCOMPARE(filesUnder(kIcons), expected);
    // The SVG is text and must match exactly; the pictures are compared as pictures, with room
    // for the last bit of antialiasing that another processor's arithmetic may round otherwise.
    for (const QString &file : expected) {
        const QString hint = file + QStringLiteral(" differs from what lumora-art draws: "
                                                   "cmake --build <dir> --target lumora-assets "
                                                   "redraws it; ");
        if (file.endsWith(QLatin1StringView(".svg"))) {
            QVERIFY2(readAll(out.path() + file) == readAll(kIcons + file), qPrintable(hint));
            continue;
        }
        const QImage drawn = QImage(out.path() + file).convertToFormat(QImage::Format_ARGB32);
        const QImage committed = QImage(kIcons + file).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!drawn.isNull() && drawn.size() == committed.size(), qPrintable(hint));
        const PixelDifference d = difference(drawn, committed);
        QVERIFY2(d.largest <= kChannelTolerance && d.share <= kShareTolerance,
                 qPrintable(hint + QStringLiteral("largest channel difference %1, in %2 % of the "
                                                  "pixels")
                                       .arg(d.largest)
                                       .arg(100 * d.share, 0, 'f', 2)));
    }

    QProcess usage;
    usage.start(QStringLiteral(LUMORA_ART_TOOL), {QStringLiteral("--icons")});
    QVERIFY(usage.waitForFinished(30000));
    QCOMPARE(usage.exitCode(), 2);
}

void Icons::everySizeShowsTheLoudspeaker_data()
{
    QTest::addColumn<int>("size");
    for (const int size : kThemeSizes)
        QTest::newRow(qPrintable(QStringLiteral("%1px").arg(size))) << size;
}

void Icons::everySizeShowsTheLoudspeaker()
{
    QFETCH(int, size);
    QImage image;
    QVERIFY(image.loadFromData(readAll(pngOf(size)), "PNG"));
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    image = image.convertToFormat(QImage::Format_ARGB32);

    const Census c = census(image);
    const int area = size * size;
    QVERIFY2(c.grey > area / 25, qPrintable(QString::number(c.grey)));
    QVERIFY2(c.blueRight > area / 50, qPrintable(QString::number(c.blueRight)));
    QCOMPARE(c.blueLeft, 0);
    QVERIFY2(c.clear > area / 3, qPrintable(QString::number(c.clear)));
    for (const QPoint corner : {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1),
                                QPoint(size - 1, size - 1)})
        QCOMPARE(qAlpha(image.pixel(corner)), 0);
}

void Icons::svgIsTheSamePicture()
{
    QSvgRenderer svg(kSvg);
    QVERIFY(svg.isValid());
    QCOMPARE(svg.viewBoxF(), QRectF(0, 0, 57, 57));

    // Against the largest raster size: the same shapes in the same places and colours.
    const QImage png = QImage(pngOf(256)).convertToFormat(QImage::Format_ARGB32);
    const QImage drawn = renderSvg(256);
    const double mismatch = coverageMismatch(png, drawn);
    QVERIFY2(mismatch < 0.01, qPrintable(QString::number(mismatch)));
    double colourError = 0;
    int opaque = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const QRgb a = png.pixel(x, y), b = drawn.pixel(x, y);
            if (qAlpha(a) < 255 || qAlpha(b) < 255)
                continue;
            ++opaque;
            colourError += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b))
                + qAbs(qBlue(a) - qBlue(b));
        }
    QVERIFY(opaque > 256 * 256 / 8);
    const double meanError = colourError / (3 * opaque);
    QVERIFY2(meanError < 6, qPrintable(QString::number(meanError)));
    const Census c = census(drawn);
    QCOMPARE(c.blueLeft, 0);
    QVERIFY(c.blueRight > 256 * 256 / 50);

    // And it is the window icon's picture: at 57 pixels it covers what the window icon covers.
    const QImage window =
        QImage(QStringLiteral(LUMORA_ASSETS_DIR "/lumora.png")).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(window.size(), QSize(57, 57));
    const double windowMismatch = coverageMismatch(window, renderSvg(57));
    QVERIFY2(windowMismatch < 0.04, qPrintable(QString::number(windowMismatch)));
}

QTEST_MAIN(Icons)
#include "tst_icons.moc"
