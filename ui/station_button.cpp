#include "station_button.h"

#include "appearance.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextLayout>

#include <memory>

namespace lumora {
namespace {

constexpr double kSmallestPointSize = 5.0;
constexpr double kShrinkStep = 0.25;

// Space kept free between the caption and the button's bevel, in pixels.
constexpr qreal kCaptionMargin = 1.0;

// A caption broken into lines inside a given width and centred in an area.
struct Lines {
    std::unique_ptr<QTextLayout> layout;
    QRectF bounds;
    bool fits = false;
};

Lines layOut(const QString &text, const QFont &font, Qt::LayoutDirection direction,
             QTextOption::WrapMode wrap, const QRectF &area)
{
    Lines result;
    result.layout = std::make_unique<QTextLayout>(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(wrap);
    option.setTextDirection(direction);
    result.layout->setTextOption(option);
    result.layout->setCacheEnabled(true);

    bool widthFits = true;
    qreal height = 0;
    result.layout->beginLayout();
    for (QTextLine line = result.layout->createLine(); line.isValid();
         line = result.layout->createLine()) {
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, height));
        height += line.height();
        if (line.naturalTextWidth() > area.width())
            widthFits = false;
    }
    result.layout->endLayout();

    // Centre the block of lines vertically; each line centres itself horizontally.
    const qreal top = area.top() + (area.height() - height) / 2;
    result.layout->setPosition(QPointF(area.left(), top));

    QRectF ink;
    for (int i = 0; i < result.layout->lineCount(); ++i)
        ink = ink.united(result.layout->lineAt(i).naturalTextRect());
    result.bounds = ink.translated(result.layout->position());
    result.fits = widthFits && height <= area.height();
    return result;
}

// The largest size of the font, down to kSmallestPointSize, at which the caption fits.
Lines fitCaption(const QString &text, const QFont &font, Qt::LayoutDirection direction,
                 const QRectF &area)
{
    Lines lines = layOut(text, font, direction, QTextOption::WordWrap, area);
    if (lines.fits || font.pointSizeF() <= 0)
        return lines;
    QFont smaller = font;
    for (double size = font.pointSizeF() - kShrinkStep; size >= kSmallestPointSize;
         size -= kShrinkStep) {
        smaller.setPointSizeF(size);
        lines = layOut(text, smaller, direction, QTextOption::WordWrap, area);
        if (lines.fits)
            return lines;
    }
    // A word longer than the button even at the smallest size: break it where it must.
    return layOut(text, smaller, direction, QTextOption::WrapAtWordBoundaryOrAnywhere, area);
}

} // namespace

StationButton::StationButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
{
}

QRectF StationButton::captionArea() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    return QRectF(contents).adjusted(kCaptionMargin, 0, -kCaptionMargin, 0);
}

StationButton::CaptionLayout StationButton::captionLayout() const
{
    const Lines lines = fitCaption(text(), font(), layoutDirection(), captionArea());
    CaptionLayout result;
    result.font = lines.layout->font();
    for (int i = 0; i < lines.layout->lineCount(); ++i) {
        const QTextLine line = lines.layout->lineAt(i);
        result.lines.append(text().mid(line.textStart(), line.textLength()));
    }
    result.bounds = lines.bounds;
    result.fits = lines.fits;
    return result;
}

void StationButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear(); // the bevel and focus frame come from the style, the caption from us
    painter.drawControl(QStyle::CE_PushButton, option);

    const Lines lines = fitCaption(text(), font(), layoutDirection(), captionArea());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   QPalette::ButtonText));
    if (isDown() || isChecked()) {
        const int dx = style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this);
        const int dy = style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this);
        painter.translate(dx, dy);
    }
    lines.layout->draw(&painter, QPointF(0, 0));

    if (hasFocus()) {
        painter.resetTransform();
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(kFocusRing), 2));
        painter.drawRect(QRectF(rect()).adjusted(3, 3, -3, -3));
    }
}

void StationButton::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && event->modifiers() == Qt::NoModifier && !event->isAutoRepeat()) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace lumora
