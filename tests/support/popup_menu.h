#pragma once

// A widget's context menu as a right click opens it.

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

namespace lumora::test {

// Opens widget's context menu and gives back its items ("text" or "text (disabled)"; a
// separator is ""), then triggers the item whose text is chosen, if any: in a submenu, chosen
// is "submenu/item".
inline QStringList popupMenuItems(QWidget *widget, const QString &choose = {})
{
    QStringList items;
    QTimer::singleShot(0, widget, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        QAction *chosen = nullptr;
        for (QAction *a : menu->actions()) {
            items << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (disabled)"));
            if (a->text() == choose)
                chosen = a;
            if (QMenu *sub = a->menu())
                for (QAction *b : sub->actions())
                    if (a->text() + u'/' + b->text() == choose)
                        chosen = b;
        }
        if (chosen)
            chosen->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), widget->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(widget, &event);
    return items;
}

} // namespace lumora::test
