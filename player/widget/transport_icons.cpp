#include "transport_icons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

namespace lumora {
namespace {

class ShapeIconEngine : public QIconEngine {
public:
    ShapeIconEngine(TransportIcon kind, QColor colour, QColor disabledColour)
        : m_kind(kind), m_colour(colour), m_disabled(disabledColour)
    {
    }

    QIconEngine *clone() const override { return new ShapeIconEngine(*this); }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QColor colour = mode == QIcon::Disabled ? m_disabled : m_colour;
        // Shapes are drawn on a 16 x 16 grid scaled into rect.
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2);
        painter->scale(side / 16.0, side / 16.0);
        painter->setPen(Qt::NoPen);
        painter->setBrush(colour);
        switch (m_kind) {
        case TransportIcon::Play: {
            const QPointF triangle[] = {{3.5, 2}, {14, 8}, {3.5, 14}};
            painter->drawPolygon(triangle, 3);
            break;
        }
        case TransportIcon::Pause:
            painter->drawRect(QRectF(3, 2, 3.5, 12));
            painter->drawRect(QRectF(9.5, 2, 3.5, 12));
            break;
        case TransportIcon::Stop:
            painter->drawRect(QRectF(3, 3, 10, 10));
            break;
        case TransportIcon::Volume:
        case TransportIcon::Muted: {
            const QPointF speaker[] = {{1, 5.5}, {4, 5.5}, {8, 2}, {8, 14}, {4, 10.5}, {1, 10.5}};
            painter->drawPolygon(speaker, 6);
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap));
            if (m_kind == TransportIcon::Volume) {
                painter->drawArc(QRectF(6, 5, 6, 6), -60 * 16, 120 * 16);
                painter->drawArc(QRectF(5, 2.5, 10, 11), -60 * 16, 120 * 16);
            } else {
                painter->drawLine(QPointF(10.5, 5.5), QPointF(15, 10.5));
                painter->drawLine(QPointF(15, 5.5), QPointF(10.5, 10.5));
            }
            break;
        }
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        QPixmap pixmap(size * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

private:
    TransportIcon m_kind;
    QColor m_colour;
    QColor m_disabled;
};

} // namespace

QIcon transportIcon(TransportIcon kind, QColor colour, QColor disabledColour)
{
    return QIcon(new ShapeIconEngine(kind, colour, disabledColour));
}

} // namespace lumora
