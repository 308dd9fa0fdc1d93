// The field map and closed orbits view: the field of the median plane as a colour map over x and
// y (one metre as long on both axes, the viridis scale, a colour bar in tesla) and the closed
// orbits of the record over it, drawn from their stored samples thinned for the screen: every orbit
// thin, every k-th one and the selected one emphasised. Without a map the orbits are drawn alone
// and the note under the plot says why. A difference of two maps (extras.difference) is drawn on a
// diverging scale, blue through white to red, symmetric about zero.
#pragma once

#include <QSize>

#include "graph/curve.h"
#include "graph/graph_extras.h"
#include "results/result_tables.h"

class QPainter;

namespace zuba {

inline constexpr const char* kMapGraphTitle = "Field map and closed orbits";
inline constexpr const char* kMapDifferenceGraphTitle = "Field map difference and closed orbits";

// Samples kept per orbit for drawing (the stored orbit has tens of thousands).
inline constexpr int kOrbitDrawSamples = 360;

// Draws the view for a client area of clientSize logical pixels. Nothing is drawn when there is
// neither a map nor an orbit (the note says so).
GraphDrawing DrawMapGraph(QPainter& painter, const ResultTables& results, const GraphExtras& extras,
                          QSize clientSize, int logicalDpi = kScreenLogicalDpi);

// The colour image of a map over -halfWidth .. halfWidth metres on both axes, pixels wide and
// high: bilinear in radius and azimuth, transparent outside the map's radii; low and high are the
// ends of the colour scale (T), viridis, or the diverging scale of a difference.
QImage MapImage(const FieldGrid& grid, int pixels, double halfWidth, double low, double high,
                bool diverging = false);

// The orbits of the record thinned to at most samplesPerOrbit points each and the last sample, in
// metres, per energy.
std::vector<QPolygonF> ThinnedOrbits(const ResultTables& results, int samplesPerOrbit);

}  // namespace zuba
