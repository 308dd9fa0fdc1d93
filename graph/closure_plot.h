// The three graphs of a run: the rotation frequency against the mean radius (the results graph),
// the isochronism error against the mean radius, and the tune diagram (vertical against radial
// tune along the energies, with the resonance lines nu_r = 1, nu_r = 2 nu_z, 2 nu_r = N and
// 3 nu_r = N).
#pragma once

#include <QSize>
#include <optional>
#include <string>
#include <string_view>

#include "graph/curve.h"
#include "results/result_tables.h"

class QPainter;

namespace zuba {

enum class GraphKind { Frequency, Isochronism, Tunes };

// "frequency", "isochronism", "tunes".
std::string_view GraphKindName(GraphKind kind);
std::optional<GraphKind> ParseGraphKind(std::string_view name);
// The title of the graph of a kind.
std::string GraphTitle(GraphKind kind);

// Draws the graph of the kind for a client area of clientSize logical pixels. Frequency is the
// results graph exactly; the isochronism error F0 * H / Frf - 1 uses the closure tables of a
// precise run and otherwise F0; the tune diagram needs the tunes of a precise run. `compare`, when
// given, adds its curve in red to the frequency and isochronism graphs (both scaled together).
// Returns false when nothing could be drawn (the message has been shown).
bool DrawGraph(QPainter& painter, const ResultTables& results, GraphKind kind, QSize clientSize,
               const ResultTables* compare = nullptr, int logicalDpi = kScreenLogicalDpi);

// Writes the graph of the kind into a .png, .svg or .pdf file as WritePlotFile does.
bool WriteGraphFile(const ResultTables& results, GraphKind kind, const std::string& path, int width,
                    int height, std::string& error, const ResultTables* compare = nullptr);

}  // namespace zuba
