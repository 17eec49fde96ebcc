#include "status_line.h"

#include <QEvent>
#include <QFontInfo>
#include <QPainter>
#include <QTextLayout>

namespace lumora {

StatusLine::StatusLine(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}

bool StatusLine::display(const QString &text, const QString &spoken, const QString &toolTip,
                         const QString &description)
{
    if (text != this->text()) {
        setText(text);
        fit();
    }
    if (toolTip != this->toolTip())
        setToolTip(toolTip);
    if (description != accessibleDescription())
        setAccessibleDescription(description);
    if (spoken == accessibleName())
        return false;
    setAccessibleName(spoken); // tells screen readers (QAccessible::NameChanged)
    return true;
}

QSize StatusLine::sizeHint() const
{
    return minimumSizeHint();
}

QSize StatusLine::minimumSizeHint() const
{
    // Whatever the text, the line takes the width its row gives it: a long word (a path)
    // must not widen the player.
    return QSize(0, QFontInfo(font()).pixelSize());
}

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fit();
}

void StatusLine::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange)
        fit();
}

qreal StatusLine::layOut(QTextLayout &layout, int pixelSize) const
{
    QFont font = this->font();
    font.setPixelSize(pixelSize);
    QTextOption option(Qt::AlignLeading | Qt::AlignVCenter);
    option.setTextDirection(layoutDirection());
    // At spaces first; a word wider than the line (a file path) is broken where it must be.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setText(text());
    layout.setFont(font);
    layout.setTextOption(option);
    const qreal width = contentsRect().width();
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

void StatusLine::fit()
{
    // The largest size, from the line's own font down, at which the whole text fits.
    const int largest = qMax(QFontInfo(font()).pixelSize(), kSmallestPixelSize);
    const qreal room = contentsRect().height();
    m_pixelSize = kSmallestPixelSize;
    m_whole = false;
    for (int size = largest; size >= kSmallestPixelSize; --size) {
        QTextLayout layout;
        if (layOut(layout, size) <= room) {
            m_pixelSize = size;
            m_whole = true;
            break;
        }
    }
    update();
}

void StatusLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    QTextLayout layout;
    const QRect area = contentsRect();
    const qreal height = layOut(layout, m_pixelSize);
    // Centred in the line's height; a text too long even at the smallest size shows its start.
    const qreal top = area.top() + qMax<qreal>(0, (area.height() - height) / 2);
    painter.setClipRect(area);
    layout.draw(&painter, QPointF(area.left(), top));
}

} // namespace lumora
