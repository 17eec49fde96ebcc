#include "banner_image.h"

#include "runtime_error.h"

#include <QPainter>

namespace lumora {

BannerImage::BannerImage(const QString &picturePath, QWidget *parent)
    : QWidget(parent), m_picture(picturePath)
{
    if (m_picture.isNull())
        throw RuntimeError(481, QStringLiteral("Invalid picture: %1").arg(picturePath));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BannerImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), m_picture);
}

} // namespace lumora
