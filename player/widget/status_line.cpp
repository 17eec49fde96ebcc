#include "status_line.h"

namespace lumora {

StatusLine::StatusLine(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}

bool StatusLine::display(const QString &text, const QString &spoken, const QString &toolTip,
                         const QString &description)
{
    if (text != m_text) {
        m_text = text;
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

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fit();
}

void StatusLine::fit()
{
    const int width = qMax(0, contentsRect().width() - 4);
    const QFontMetrics metrics = fontMetrics();
    QString shown = m_text;
    // Shorten until the wrapped text fits the line's height.
    for (int budget = 2 * width; budget > 0; budget -= metrics.averageCharWidth() * 4) {
        const QRect needed = metrics.boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap, shown);
        if (needed.height() <= contentsRect().height())
            break;
        shown = metrics.elidedText(m_text, Qt::ElideRight, budget);
    }
    setText(shown);
}

} // namespace lumora
