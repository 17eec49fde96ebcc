#include "right_to_left_menu_style.h"

#include <QPainter>
#include <QStyleOptionMenuItem>

namespace lumora {

RightToLeftMenuStyle::RightToLeftMenuStyle() : QProxyStyle() {}

void RightToLeftMenuStyle::drawControl(ControlElement element, const QStyleOption *option,
                                       QPainter *painter, const QWidget *widget) const
{
    const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
    if (element != CE_MenuItem || !item || item->direction != Qt::RightToLeft
        || item->menuItemType == QStyleOptionMenuItem::Separator || item->text.isEmpty()) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }

    // The style draws the item's ground, highlight, check mark and icon; the texts come here.
    QStyleOptionMenuItem ground = *item;
    ground.text.clear();
    QProxyStyle::drawControl(element, &ground, painter, widget);

    const QString caption = item->text.section(QLatin1Char('\t'), 0, 0);
    const QString shortcut = item->text.section(QLatin1Char('\t'), 1);
    const int margin = pixelMetric(PM_MenuHMargin, option, widget) + 6;
    const int checkColumn = qMax(item->maxIconWidth, 16) + 6;
    const QRect area = item->rect.adjusted(margin, 0, -(margin + checkColumn), 0);
    const bool enabled = item->state & State_Enabled;
    const QPalette::ColorRole role =
        enabled && (item->state & State_Selected) ? QPalette::HighlightedText : QPalette::Text;

    painter->save();
    painter->setFont(item->font);
    const int flags = Qt::AlignVCenter | Qt::TextShowMnemonic | Qt::TextSingleLine | Qt::AlignAbsolute;
    proxy()->drawItemText(painter, area, flags | Qt::AlignRight, item->palette, enabled, caption, role);
    if (!shortcut.isEmpty())
        proxy()->drawItemText(painter, area, flags | Qt::AlignLeft, item->palette, enabled, shortcut,
                              role);
    painter->restore();
}

} // namespace lumora
