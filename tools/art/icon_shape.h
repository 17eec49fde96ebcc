#pragma once

#include <QPointF>
#include <QRgb>

// The loudspeaker icon as constant shapes on a 57 x 57 grid, shared by the raster drawing and
// the SVG writer so that every size of the icon is the same picture.

namespace lumora::art::shape {

inline constexpr int kGrid = 57;

struct GradientStop {
    double at;
    QRgb colour;
};

struct Wave {
    double radius;
    double width;
    QRgb colour;
};

// The speaker: a magnet box and a cone opening to the right, outlined, filled with a vertical
// grey gradient; a thin line parts the box from the cone.
inline constexpr QPointF kSpeaker[] = {{5, 21}, {15, 21}, {29, 8}, {29, 49}, {15, 36}, {5, 36}};
inline constexpr QPointF kGradientFrom{0, 8};
inline constexpr QPointF kGradientTo{0, 49};
inline constexpr GradientStop kSpeakerGrey[] = {
    {0.0, 0xffd4d6d8}, {0.5, 0xff9a9da1}, {1.0, 0xff5f6266}};
inline constexpr QRgb kOutline = 0xff3c3e42;
inline constexpr double kOutlineWidth = 1.6;
inline constexpr QPointF kDivider[] = {{15, 21}, {15, 36}};
inline constexpr double kDividerWidth = 1.2;

// Three sound waves, arcs of 90 degrees about one centre, growing and fading outwards.
inline constexpr QPointF kWaveCentre{29, 28.5};
inline constexpr int kWaveFromDegrees = -45;
inline constexpr int kWaveSpanDegrees = 90;
inline constexpr Wave kWaves[] = {
    {8.0, 3.4, 0xff1e6fe8}, {16.5, 3.4 - 0.4, 0xff2a86f0}, {25.0, 3.4 - 0.8, 0xff4aa0f5}};

} // namespace lumora::art::shape
