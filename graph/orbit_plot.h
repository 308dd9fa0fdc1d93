// The orbit radius view: R(θ) - Rmean of the selected closed orbit and of a few others spread over
// the energies, against the azimuth in degrees, which shows the scalloping of the orbits in the
// sectors; after a run of the precise closure also the radial velocity dR/dτ of the same orbits.
#pragma once

#include <QSize>

#include "graph/curve.h"
#include "graph/graph_extras.h"
#include "results/result_tables.h"

class QPainter;

namespace zuba {

inline constexpr const char* kOrbitGraphTitle = "Orbit radius";

// Orbits drawn beside the selected one.
inline constexpr int kOrbitGraphOthers = 5;

// Draws the view for a client area of clientSize logical pixels. Nothing is drawn when the record
// holds no orbit samples (the note says so).
GraphDrawing DrawOrbitGraph(QPainter& painter, const ResultTables& results,
                            const GraphExtras& extras, QSize clientSize,
                            int logicalDpi = kScreenLogicalDpi);

// The energies the view draws: a few spread over the run and the selected one (last).
std::vector<int32_t> OrbitGraphEnergies(int32_t count, int32_t selected);

}  // namespace zuba
