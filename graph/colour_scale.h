// The colour scales of the map views. The field map: viridis, a perceptually uniform scale from
// dark violet through blue and green to yellow that keeps its order in grey and for colour-blind
// eyes. Built from its published control points (every sixteenth entry of the 256-entry table),
// linearly interpolated.
#pragma once

#include <QColor>
#include <array>

namespace zuba {

// The colour of t in [0, 1] (t outside is clamped; not-a-number gives the colour of 0).
QRgb ViridisColour(double t);

// The scale as 256 entries, entry k the colour of k / 255.
const std::array<QRgb, 256>& ViridisTable();

// The diverging scale of a difference map, blue through white to red as 256 entries: entry 127.5
// (white) is zero of a scale symmetric about it.
const std::array<QRgb, 256>& DivergingTable();

}  // namespace zuba
