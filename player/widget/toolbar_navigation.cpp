#include "toolbar_navigation.h"

#include <QKeyEvent>
#include <QWidget>

namespace lumora {

ToolbarNavigation::ToolbarNavigation(QWidget *row, const QList<QWidget *> &controls)
    : QObject(row), m_row(row), m_controls(controls)
{
    for (QWidget *w : m_controls) {
        w->setFocusPolicy(Qt::ClickFocus);
        w->installEventFilter(this);
    }
    ensureUsableCurrent();
}

bool ToolbarNavigation::usable(const QWidget *w) const
{
    return w && w->isEnabled() && w->isVisibleTo(m_row);
}

void ToolbarNavigation::makeCurrent(QWidget *w)
{
    if (m_current == w)
        return;
    if (m_current)
        m_current->setFocusPolicy(Qt::ClickFocus);
    m_current = w;
    if (m_current)
        m_current->setFocusPolicy(Qt::StrongFocus);
}

// The row's tab stop must be a control that can take the focus, or Tab would pass the
// whole row by: when the current one is disabled or hidden, the first usable one takes over.
void ToolbarNavigation::ensureUsableCurrent()
{
    if (usable(m_current))
        return;
    for (QWidget *w : m_controls)
        if (usable(w)) {
            makeCurrent(w);
            return;
        }
}

void ToolbarNavigation::move(QWidget *from, int step)
{
    const qsizetype n = m_controls.size();
    qsizetype i = m_controls.indexOf(from);
    for (qsizetype tried = 0; tried < n; ++tried) {
        i = (i + step + n) % n;
        if (usable(m_controls[i])) {
            makeCurrent(m_controls[i]);
            m_controls[i]->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

bool ToolbarNavigation::eventFilter(QObject *watched, QEvent *event)
{
    auto *w = qobject_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::FocusIn:
        makeCurrent(w);
        break;
    case QEvent::EnabledChange:
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
        ensureUsableCurrent();
        break;
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            break;
        const bool rtl = m_row->layoutDirection() == Qt::RightToLeft;
        switch (key->key()) {
        case Qt::Key_Right:
            move(w, rtl ? -1 : 1);
            return true;
        case Qt::Key_Left:
            move(w, rtl ? 1 : -1);
            return true;
        default:
            break;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lumora
