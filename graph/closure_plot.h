// The graphs of a run: the rotation frequency against the mean radius (the results graph), the
// isochronism error against the mean radius, the tune diagram (vertical against radial tune along
// the energies, with the resonance lines near the path), and the workbench graphs: the field map
// with the closed orbits, the orbit radius and the field harmonics.
#pragma once

#include <QSize>
#include <optional>
#include <string>
#include <string_view>

#include "graph/curve.h"
#include "graph/graph_extras.h"
#include "graph/plot_file.h"
#include "results/result_tables.h"

class QPainter;

namespace zuba {

enum class GraphKind { Frequency, Isochronism, Tunes, Map, Orbits, Harmonics };

// Every kind, in the order of the View menu.
inline constexpr GraphKind kGraphKinds[] = {GraphKind::Frequency, GraphKind::Isochronism,
                                            GraphKind::Tunes,     GraphKind::Map,
                                            GraphKind::Orbits,    GraphKind::Harmonics};

// "frequency", "isochronism", "tunes", "map", "orbits", "harmonics".
std::string_view GraphKindName(GraphKind kind);
std::optional<GraphKind> ParseGraphKind(std::string_view name);
// The title of the graph of a kind.
std::string GraphTitle(GraphKind kind);
// The kinds that draw the run's field map.
inline bool GraphNeedsMap(GraphKind kind) {
  return kind == GraphKind::Map || kind == GraphKind::Harmonics;
}

// Draws the graph of the kind for a client area of clientSize logical pixels. Frequency is the
// results graph exactly; the isochronism error F0 * H / Frf - 1 uses the closure tables of a
// precise run and otherwise F0; the tune diagram needs the tunes of a precise run; the map and the
// harmonics draw extras.map. extras.compare adds its curve in red to the frequency and isochronism
// graphs (both scaled together); extras.selected marks that energy in every graph. What could not
// be drawn comes back as the drawing's notes.
GraphDrawing DrawGraph(QPainter& painter, const ResultTables& results, GraphKind kind,
                       QSize clientSize, const GraphExtras& extras,
                       int logicalDpi = kScreenLogicalDpi);
GraphDrawing DrawGraph(QPainter& painter, const ResultTables& results, GraphKind kind,
                       QSize clientSize, const ResultTables* compare = nullptr,
                       int logicalDpi = kScreenLogicalDpi);

// Writes the graph of the kind into a .png, .svg or .pdf file as WritePlotFile does.
PlotWriting WriteGraphFile(const ResultTables& results, GraphKind kind, const GraphExtras& extras,
                           const std::string& path, int width, int height);
PlotWriting WriteGraphFile(const ResultTables& results, GraphKind kind, const std::string& path,
                           int width, int height, const ResultTables* compare = nullptr);

// The axes of the tune diagram: the points drawn and every resonance line that passes within
// kResonanceReach of one of them, widened by a margin on each side so that no line lies on the
// frame. xs, ys: the tunes of the points drawn (nu_r, nu_z); N the number of sectors.
struct TuneExtent {
  double xLow = 0, xHigh = 0, yLow = 0, yHigh = 0;
};
inline constexpr double kResonanceReach = 0.1;
TuneExtent TuneDiagramExtent(std::span<const double> xs, std::span<const double> ys, int32_t N);

}  // namespace zuba
