#pragma once

#include <QColor>
#include <QIcon>

namespace lumora {

// The player's icons, drawn as shapes at whatever size and device pixel ratio they are asked
// for, so that they are sharp at any scale and in the player's own colours.
enum class TransportIcon { Play, Pause, Stop, Volume, Muted };

QIcon transportIcon(TransportIcon kind, QColor colour, QColor disabledColour);

} // namespace lumora
