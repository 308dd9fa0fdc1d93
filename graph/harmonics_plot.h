// The field harmonics view: per radius of the run's field map, the mean field and the field index
// k, and the amplitude and phase of the first harmonic (centring errors, a misaligned magnet) and
// of the N-th (the sectors), from the same analysis as `zuba-cli harmonics` (AnalyseAverageField).
// The mean radius of the selected orbit is marked in every panel.
#pragma once

#include <QSize>

#include "graph/curve.h"
#include "graph/graph_extras.h"
#include "results/result_tables.h"

class QPainter;

namespace zuba {

inline constexpr const char* kHarmonicsGraphTitle = "Field harmonics";

// Draws the view for a client area of clientSize logical pixels. Nothing is drawn when there is no
// map, the record has fewer than 2 sectors or the analysis fails (the note says which).
GraphDrawing DrawHarmonicsGraph(QPainter& painter, const ResultTables& results,
                                const GraphExtras& extras, QSize clientSize,
                                int logicalDpi = kScreenLogicalDpi);

}  // namespace zuba
