#pragma once

#include <QProxyStyle>

namespace lumora {

// Draws the items of a right-to-left menu as right-to-left desktops do, whatever the
// platform's style: the caption against the right edge (after the check and icon column),
// the shortcut at the left. Some styles lay the caption out from the left in any direction,
// which leaves Arabic captions with a ragged gap on the right. Everything else is the
// application's style.
class RightToLeftMenuStyle : public QProxyStyle {
    Q_OBJECT

public:
    RightToLeftMenuStyle();

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
};

} // namespace lumora
