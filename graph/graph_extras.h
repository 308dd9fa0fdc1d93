// What a graph may draw beside the results record, and what the workbench graphs keep between
// paints.
#pragma once

#include <QImage>
#include <QPolygonF>
#include <QSize>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "numerics/average_field.h"
#include "platform/outcome.h"
#include "results/field_grid.h"
#include "results/result_tables.h"

namespace zuba {

// What the map view and the harmonics view keep between paints: the colour image of the map at the
// last size, the thinned orbits of the last record, both drawn together into one layer, and the
// harmonic analysis of the last map. Each part knows what it was made from; Clear() drops
// everything.
struct GraphCache {
  // The colour image of the map.
  std::shared_ptr<const FieldGrid> imageGrid;
  bool imageDiverging = false;  // drawn on the diverging scale of a difference
  QSize imagePixels;
  double imageHalfWidth = 0;  // m, the image spans -imageHalfWidth .. imageHalfWidth on both axes
  QImage image;
  double fieldLow = 0, fieldHigh = 0;  // T, the ends of the colour scale

  // The orbits thinned for drawing, in metres: copies of the record's tables (sharing their
  // storage) tell whether they are still those of the record drawn.
  RealTable orbitR, orbitTheta;
  IntTable orbitPoints;
  std::vector<QPolygonF> orbits;  // per energy; empty where it has no samples
  double orbitRadius = 0;         // m, the largest radius of any sample drawn

  // The colour image with the orbits over it, at the resolution of a device of pixels, for a plot
  // of layerPlotWidth logical pixels; null when it must be made again.
  QImage layer;
  double layerPlotWidth = 0;
  bool layerOverMap = false;
  bool layerDark = false;  // the orbits drawn as over a difference map

  // The harmonic analysis of the map for a number of sectors.
  std::shared_ptr<const FieldGrid> analysisGrid;
  int32_t analysisSectors = 0;
  bool analysed = false;
  std::string analysisFailure;  // the analysis' message when it failed
  AverageFieldAnalysis analysis;

  void Clear() { *this = GraphCache{}; }
};

// What drawing a graph gave: whether anything was drawn, and the notes of what could not be drawn
// ("No real values in X array!", a graph that needs what the run lacks). The window, the picture
// writer and the command line show the notes; a graph routine never shows a message itself.
struct GraphDrawing {
  bool drawn = false;
  std::vector<Message> notes;
  explicit operator bool() const { return drawn; }
};

// A graph that could not be drawn, with the one note that says why (caption "Message", information
// icon, no owner).
inline GraphDrawing NotDrawn(std::string text) {
  GraphDrawing d;
  d.notes.push_back(Message{std::move(text), "Message", Icon::Information, Owner::None});
  return d;
}

struct GraphExtras {
  // A second record drawn beside the results: in red in the frequency, isochronism and tune
  // graphs, dashed in the orbit graph.
  const ResultTables* compare = nullptr;
  // The files of the results and of the compared record, for the legends (empty: "first" and
  // "second").
  std::string name, compareName;
  int32_t selected = -1;                 // the energy highlighted; -1 for none
  std::shared_ptr<const FieldGrid> map;  // the run's field map (map and harmonics views)
  std::string mapNote;                   // one line about the map: why it is missing, a caveat
  // The map view draws `map` as a difference of two maps (T) on a diverging scale centred at zero;
  // differenceName names it ("A - B").
  bool difference = false;
  std::string differenceName;
  GraphCache* cache = nullptr;  // kept between paints; a drawing of its own without
};

}  // namespace zuba
