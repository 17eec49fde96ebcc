#include "context_menu.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

namespace lumora::test {

QStringList contextMenu(QWidget *widget, const QString &choose)
{
    QStringList items;
    QTimer::singleShot(0, widget, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        QAction *chosen = nullptr;
        for (QAction *a : menu->actions()) {
            if (a->isSeparator()) {
                items << QStringLiteral("-");
                continue;
            }
            items << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (disabled)"))
                    + (a->isChecked() ? QStringLiteral(" (checked)") : QString());
            if (a->text() == choose)
                chosen = a;
            if (QMenu *sub = a->menu())
                for (QAction *b : sub->actions())
                    if (a->text() + u'/' + b->text() == choose)
                        chosen = b;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), widget->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(widget, &event);
    return items;
}

} // namespace lumora::test
