// Plot files: the results graph rendered offscreen into a PNG, SVG or PDF file, exactly as the
// results view draws it for a client area of the given size. No display is needed.
#pragma once

#include <QSize>
#include <functional>
#include <string>
#include <vector>

#include "graph/graph_extras.h"
#include "platform/outcome.h"
#include "results/result_tables.h"

class QPainter;

namespace zuba {

inline constexpr int kDefaultPlotWidth = 800;   // logical pixels
inline constexpr int kDefaultPlotHeight = 600;  // logical pixels
inline constexpr int kMaxPlotSide = 20000;      // logical pixels; larger pictures are refused

// True when path ends in .png, .svg or .pdf (any case).
bool IsPlotFileName(const std::string& path);

// Makes sure a graphical application object exists for font handling: creates one on the
// "offscreen" platform (unless QT_QPA_PLATFORM names another) when there is none. Returns false
// with a reason when a non-graphical application object exists already.
bool EnsurePlotApplication(std::string& error);

// What writing a picture gave: the notes of its drawing (what could not be drawn), and the
// outcome. A failure says why nothing was written (caption "Error": unknown extension, size out of
// range, tables of unequal length, the file could not be written); a graph with nothing to draw
// is a quiet failure whose reason is in the notes.
struct PlotWriting {
  Outcome outcome;
  std::vector<Message> notes;
};

// Draws the results graph for a client area of width x height logical pixels at 96 pixels per
// inch (SVG and PDF at the same logical size) on a white background and writes it to path
// (replacing the file atomically); the format follows the extension.
PlotWriting WritePlotFile(const ResultTables& results, const std::string& path, int width,
                          int height);

// Draws a graph laid out in a client area of the given size.
using PlotDrawing = std::function<GraphDrawing(QPainter&, QSize)>;

// The same for any drawing: the white client area, then draw; title names SVG and PDF files.
PlotWriting WriteDrawingFile(const PlotDrawing& draw, const std::string& title,
                             const std::string& path, int width, int height);

}  // namespace zuba
