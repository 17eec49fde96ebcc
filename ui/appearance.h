#pragma once

#include <QColor>
#include <QFont>

namespace lumora {

struct FontOverride;

// Background of every page's client area: a deep olive brown that continues the dark end of
// the banners and lets the light platform buttons stand out.
inline constexpr QRgb kPageBackground = 0x3a3420;
// The reserved player area until the player draws itself.
inline constexpr QRgb kPlayerBackground = 0x000000;

QFont fontFor(const FontOverride &font);

} // namespace lumora
