#pragma once

#include "layout.h"

#include <QList>
#include <QMainWindow>
#include <functional>

namespace lumora {

class BannerImage;
class StationButton;

// A page's window built from its PageLayout: title, icon, reading order, and a client area (the
// central widget) holding every control at its rectangle, named after it, in the focus order
// of the tab indices. The menu bar is the page's own to fill; applyStartGeometry() then sizes
// the window so that the client area below the menu bar has the layout's size and centres it.
// The window deletes itself when it is closed from its frame.
class PageWindow : public QMainWindow {
    Q_OBJECT

public:
    // Creates a station page's player inside the client area, and never gives null (a page
    // whose layout has a player always has one). The window places it at the layout's
    // rectangle, names it and gives it its place in the focus order.
    using PlayerFactory = std::function<QWidget *(QWidget *clientArea)>;

    explicit PageWindow(const PageLayout &layout, const PlayerFactory &createPlayer = {});

    const PageLayout &layout() const { return m_layout; }
    QWidget *clientArea() const { return centralWidget(); }
    // The push buttons in focus order (Command1 first).
    const QList<StationButton *> &buttons() const { return m_buttons; }
    // Push button CommandN; nullptr when the page has none of that number.
    StationButton *button(int number) const;
    BannerImage *banner() const { return m_banner; }
    QWidget *player() const { return m_player; }

    // Client area of the layout's size below the menu bar, centred on the window's screen.
    void applyStartGeometry();

signals:
    // The user closed the window from its frame; it is deleted afterwards.
    void closedFromFrame();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *createControl(const ControlLayout &control, const PlayerFactory &createPlayer);

    const PageLayout &m_layout;
    QList<StationButton *> m_buttons;
    BannerImage *m_banner = nullptr;
    QWidget *m_player = nullptr;
};

} // namespace lumora
