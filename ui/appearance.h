#pragma once

#include <QColor>
#include <QFont>

namespace lumora {

struct FontOverride;

// Background of every page's client area: a deep olive brown that continues the dark end of
// the banners and lets the light platform buttons stand out.
inline constexpr QRgb kPageBackground = 0x3a3420;
// The ring drawn inside a push button that has the keyboard focus: 6.8:1 against the light
// button face, so that focus is seen at a glance.
inline constexpr QRgb kFocusRing = 0x0a4bb5;
// The reserved player area until the player draws itself.
inline constexpr QRgb kPlayerBackground = 0x000000;

QFont fontFor(const FontOverride &font);

} // namespace lumora
