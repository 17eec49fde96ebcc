#include "banner_image.h"

#include "picture_failure.h"

#include <QFileInfo>
#include <QPainter>

namespace lumora {

BannerImage::BannerImage(const QString &picturePath, QWidget *parent)
    : QWidget(parent), m_picture(picturePath)
{
    if (m_picture.isNull())
        throw PictureFailure(picturePath);
    const QFileInfo file(picturePath);
    const QString sharpPath =
        file.path() + u'/' + file.completeBaseName() + QStringLiteral("@2x.") + file.suffix();
    if (QFileInfo::exists(sharpPath))
        m_sharp = QPixmap(sharpPath);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BannerImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), pictureForScreen());
}

const QPixmap &BannerImage::pictureForScreen() const
{
    return devicePixelRatioF() > 1.0 && !m_sharp.isNull() ? m_sharp : m_picture;
}

} // namespace lumora
