// lumora-art OUTPUT_DIR
// Draws the window icon (lumora.ico, lumora.png) and the banner of every station page
// (banners/Form2.jpg .. banners/Form18.jpg) into OUTPUT_DIR, and each picture again at twice
// the size for screens of a device pixel ratio above 1 (lumora@2x.png, banners/Form2@2x.jpg..).
// lumora-art --icons ICON_DIR
// Draws the desktop icon for the icon theme: ICON_DIR/hicolor/NxN/apps/org.lumora.Lumora.png
// at every size of kThemeSizes and ICON_DIR/hicolor/scalable/apps/org.lumora.Lumora.svg.

#include "banner_art.h"
#include "catalogue/page_directory.h"
#include "ico_file.h"
#include "icon_art.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcArt, "lumora.art", QtInfoMsg)

namespace {

constexpr int kLargestBanner = 10292;

// The icon name is the desktop entry's id.
constexpr auto kIconName = "org.lumora.Lumora";
constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qCCritical(lcArt) << "cannot write" << path << file.errorString();
        return false;
    }
    qCInfo(lcArt) << path << bytes.size() << "bytes";
    return true;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

bool writeThemeIcons(const QDir &out)
{
    using namespace lumora;
    bool ok = true;
    const auto writeInto = [&](const QString &folder, const QString &name,
                               const QByteArray &bytes) {
        if (!out.mkpath(folder)) {
            qCCritical(lcArt) << "cannot create" << out.filePath(folder);
            ok = false;
            return;
        }
        ok = writeFile(out.filePath(folder + QLatin1Char('/') + name), bytes) && ok;
    };
    for (const int size : kThemeSizes)
        writeInto(QStringLiteral("hicolor/%1x%1/apps").arg(size),
                  QLatin1StringView(kIconName) + QStringLiteral(".png"),
                  pngBytes(art::drawIcon(size)));
    writeInto(QStringLiteral("hicolor/scalable/apps"),
              QLatin1StringView(kIconName) + QStringLiteral(".svg"), art::iconSvg());
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1StringView("--icons"))
        return writeThemeIcons(QDir(args.at(2))) ? 0 : 1;
    if (args.size() != 2 || args.at(1).startsWith(QLatin1Char('-'))) {
        qCCritical(lcArt) << "usage: lumora-art OUTPUT_DIR | lumora-art --icons ICON_DIR";
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("banners"))) {
        qCCritical(lcArt) << "cannot create" << out.filePath(QStringLiteral("banners"));
        return 1;
    }

    using namespace lumora;
    const QImage icon = art::drawIcon();
    bool ok = writeFile(out.filePath(QStringLiteral("lumora.ico")), art::icoFile(icon));
    ok = writeFile(out.filePath(QStringLiteral("lumora.png")), pngBytes(art::maskedImage(icon)))
        && ok;
    ok = writeFile(out.filePath(QStringLiteral("lumora@2x.png")),
                   pngBytes(art::drawIcon(2 * art::kIconSize)))
        && ok;

    for (const PageEntry &entry : PageDirectory::entries()) {
        const QSize size = entry.page == Page::Form2 ? QSize(463, 80) : QSize(461, 81);
        const QImage banner = art::drawBanner(entry.title(), size);
        const QString name = QStringLiteral("banners/%1.jpg").arg(pageName(entry.page));
        ok = writeFile(out.filePath(name), art::bannerJpeg(banner, kLargestBanner)) && ok;
        // Drawn afresh at 2x, not scaled up: sharp letters on HiDPI screens.
        const QImage sharp = art::drawBanner(entry.title(), size * 2, 2.0);
        const QString sharpName = QStringLiteral("banners/%1@2x.jpg").arg(pageName(entry.page));
        ok = writeFile(out.filePath(sharpName), art::bannerJpeg(sharp, 4 * kLargestBanner)) && ok;
    }
    return ok ? 0 : 1;
}
