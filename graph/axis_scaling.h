// Axis scaling of a graph: bounds of the real values of each series, a decimal exponent and a step
// of 0.1, 0.25, 0.5 or 1 times that power of ten, the axis widened to whole steps, the grid
// intervals and their length in pixels, the plot edges, and the pixel coordinate of every point.
// Pure arithmetic (no windowing toolkit): what cannot be scaled comes back as a note.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/numbers.h"
#include "platform/outcome.h"

namespace zuba {

// The drawing area of a graph (left, top, right, bottom); right and bottom lie just outside the
// area, so that width = right - left and height = bottom - top.
struct FrameRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The scaling members of a graph. A graph is scaled once: ScaleX writes only the x members, the
// horizontal plot edges and xPixels; ScaleY only the y members, the vertical edges and yPixels.
// Pixel values are logical units of the drawing surface, offsets from the drawing origin.
struct AxisScaling {
  AxisScaling(FrameRect frame, uint32_t pointCount);
  virtual ~AxisScaling() = default;

  FrameRect frame;  // only its width and height enter the scaling

  double xMin = 0, xMax = 0, yMin = 0, yMax = 0;  // extreme real values of each series
  double xRange = 0, yRange = 0;                  // max - min
  double xFirstLabel = 0;  // label of the leftmost grid line, in units of 10^xExponent
  double xStep = 0;        // step mantissa: 0.1, 0.25, 0.5 or 1.0
  double yTopLabel = 0;    // label of the topmost grid line, in units of 10^yExponent
  double yStep = 0;

  uint32_t pointCount = 0;

  int32_t xIntervalPixels = 0;  // length of one grid interval
  uint32_t xIntervals = 0;      // number of grid intervals
  int32_t yIntervalPixels = 0;
  uint32_t yIntervals = 0;
  int32_t plotLeft = 0, plotRight = 0;  // x pixel of the plot edges
  int32_t plotTop = 0, plotBottom = 0;  // y pixel of the plot edges (y grows downward)

  std::vector<int32_t> xPixels;  // pointCount entries, kNoValueInt where the value is missing
  std::vector<int32_t> yPixels;

  int32_t xExponent = 0, yExponent = 0;  // labels are printed in units of 10 to this power
  int32_t noData = 0;                    // 1 once a series had no usable real values
  std::vector<Message> notes;            // why a series could not be scaled
};

// Scales the horizontal axis from xValues (at least pointCount long; a shorter series is an
// invalid-argument failure). Without a usable real value it notes "No real values in X array!"
// (caption "Message", information icon, no owner) and sets noData.
void ScaleX(AxisScaling& graph, std::span<const double> xValues);

// The same for the vertical axis: the largest value lies at the top. "No real values in Y array!"
void ScaleY(AxisScaling& graph, std::span<const double> yValues);

}  // namespace zuba
