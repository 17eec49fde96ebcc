#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

namespace lumora {

// Makes a row of controls one stop in the focus order, as a toolbar: Tab enters the row at
// the control used last and leaves it with the next press; Left and Right move between the
// controls that can be used, as they stand on the screen (so on a right-to-left row, Left
// goes to the next one). Sliders in the row keep Up, Down, Page Up, Page Down, Home and End
// for their value.
class ToolbarNavigation : public QObject {
    Q_OBJECT

public:
    // controls in the row's layout order; the first usable one is the entry.
    ToolbarNavigation(QWidget *row, const QList<QWidget *> &controls);

    QWidget *current() const { return m_current; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool usable(const QWidget *w) const;
    void makeCurrent(QWidget *w);
    void ensureUsableCurrent();
    void move(QWidget *from, int step);

    QWidget *m_row;
    QList<QWidget *> m_controls;
    QPointer<QWidget> m_current;
};

} // namespace lumora
