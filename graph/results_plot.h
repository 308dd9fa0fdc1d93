// The results graph: what the results view draws for a client area, the rotation frequency F0
// against the mean orbit radius Rmn. The desktop view, its printing and the plot files all draw
// through this one function.
#pragma once

#include <QSize>
#include <string>
#include <vector>

#include "graph/curve.h"
#include "graph/graph_extras.h"
#include "results/result_tables.h"

class QPainter;

namespace zuba {

inline constexpr const char* kResultsGraphTitle = "Particle rotation frequency";
inline constexpr const char* kResultsGraphXCaption = "Rmean (m)";
inline constexpr const char* kResultsGraphYCaption = "F0 (Hz)";
inline constexpr const char* kResultsGraphNote = "Particle rotation frequency";

// Draws the graph of results.F0 against results.Rmn laid out in a client area of clientSize
// logical pixels with origin (0, 0): the grid, labels and boxes with a solid black pen of width 1
// and a white brush, then the curve with a solid blue pen of width 1 through the valid points,
// broken at every point whose x or y pixel is kNoValueInt. Does not erase the background. Nothing
// is drawn when a series has no usable real value: the drawing then says so in its note.
// An F0 table shorter than Rmn is an invalid-argument failure (std::invalid_argument) before
// anything is drawn. highlight, when it is an energy index, marks that point with a red ring. The
// energies the default search did not accept (NotAcceptedEnergies) are drawn hollow, and the note
// says so.
GraphDrawing DrawResultsGraph(QPainter& painter, const ResultTables& results, QSize clientSize,
                              int logicalDpi = kScreenLogicalDpi, int32_t highlight = -1);

// A red ring around the point of index `point` of the pixel arrays (nothing when it is not a
// valid point): the energy selected in the results table.
void DrawHighlight(QPainter& painter, std::span<const int32_t> xPixels,
                   std::span<const int32_t> yPixels, int32_t point);

// A hollow circle in the painter's pen colour, filled white, at every valid point whose entry of
// marked is true: an energy whose values are not those of an accepted closed orbit.
void DrawHollowPoints(QPainter& painter, std::span<const int32_t> xPixels,
                      std::span<const int32_t> yPixels, const std::vector<bool>& marked);

// The note of a graph with the legend of the hollow points added when some energy is marked.
std::string NoteWithHollowLegend(const std::string& note, const std::vector<bool>& marked);

// Draws, instead of a graph of its energies, the line that says that no energy of the record has
// values (every energy failed), centred in the client area.
void DrawNoEnergyHasValues(QPainter& painter, QSize clientSize, int logicalDpi);

// Joins the pixel points into the curve with the painter's pen: a line from each valid point to
// the next valid one; an invalid point (either coordinate kNoValueInt) breaks the line, so that a
// single valid point between invalid ones leaves no mark.
void DrawCurve(QPainter& painter, std::span<const int32_t> xPixels,
               std::span<const int32_t> yPixels);

}  // namespace zuba
