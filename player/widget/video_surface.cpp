#include "video_surface.h"

#include <QGuiApplication>
#include <QPainter>

namespace lumora {

VideoSurface::VideoSurface(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (canEmbed()) {
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_DontCreateNativeAncestors);
    }
}

bool VideoSurface::canEmbed()
{
    return QGuiApplication::platformName() == u"xcb";
}

WId VideoSurface::videoWindow()
{
    return canEmbed() ? winId() : 0;
}

void VideoSurface::setHasVideo(bool hasVideo)
{
    m_hasVideo = hasVideo;
    update();
}

void VideoSurface::paintEvent(QPaintEvent *)
{
    if (m_hasVideo && canEmbed())
        return; // libVLC's window covers the area
    QPainter p(this);
    p.fillRect(rect(), QColor(0x10, 0x14, 0x1c));
}

} // namespace lumora
