#pragma once

#include <QColor>

namespace lumora {

// The player's colours. The controls panel is dark whatever page it sits on, and everything
// drawn on it is light or bright enough to be read: text above 4.5:1 against the panel, icons,
// slider handles and the focus ring above 3:1 (WCAG 2.1 contrast ratios).
struct PlayerLook {
    QRgb panel;      // background of the controls and the status line
    QRgb text;       // status line
    QRgb icon;       // transport and volume icons, slider handles
    QRgb groove;     // slider grooves
    QRgb focus;      // the focus ring around the control that has the keyboard focus
    QRgb hover;      // background under the mouse
    QRgb disabled;   // icons and grooves of controls that cannot be used now
};

inline constexpr PlayerLook kPlayerLook{
    0x1b1f27, // panel
    0xf2f2f2, // text: 14.7:1 on the panel
    0xf2f2f2, // icon
    0x8c96a8, // groove: 5.5:1
    0xffcc33, // focus: 11.0:1
    0x343b48, // hover: icons on it 10.1:1
    0x6b7280, // disabled: 3.4:1, still seen
};

} // namespace lumora
