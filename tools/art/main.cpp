// lumora-art OUTPUT_DIR
// Draws the window icon (lumora.ico, lumora.png) and the banner of every station page
// (banners/Form2.jpg .. banners/Form18.jpg) into OUTPUT_DIR.

#include "banner_art.h"
#include "ico_file.h"
#include "icon_art.h"
#include "page_directory.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcArt, "lumora.art", QtInfoMsg)

namespace {

constexpr int kLargestBanner = 10292;

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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        qCCritical(lcArt) << "usage: lumora-art OUTPUT_DIR";
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
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        art::maskedImage(icon).save(&buffer, "PNG");
    }
    ok = writeFile(out.filePath(QStringLiteral("lumora.png")), png) && ok;

    for (const PageEntry &entry : PageDirectory::entries()) {
        const QSize size = entry.page == Page::Form2 ? QSize(463, 80) : QSize(461, 81);
        const QImage banner = art::drawBanner(entry.title(), size);
        const QString name = QStringLiteral("banners/%1.jpg").arg(pageName(entry.page));
        ok = writeFile(out.filePath(name), art::bannerJpeg(banner, kLargestBanner)) && ok;
    }
    return ok ? 0 : 1;
}
