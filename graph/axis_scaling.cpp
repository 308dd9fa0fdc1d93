// Axis scaling of a graph (see axis_scaling.h). The operation order is the one the grid labels
// depend on: keep it when changing anything here.
#include "graph/axis_scaling.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace zuba {

namespace {

// 3 * 0.2 evaluated in double precision (bits 0x3FE3333333333334), one ulp above the double
// nearest to 0.6: the share of the frame that the grid may span.
constexpr double kPlotShare = 3 * 0.2;
static_assert(kPlotShare == 0.6000000000000001);
constexpr double kMarginShare = 0.2;  // share of the frame before the plot starts

// A value takes part in the scaling unless it is the missing-value marker. Infinities and
// not-a-number (only possible in a damaged document) are left out as well: they have no place on
// an axis and would make the range endless.
bool IsUsable(double v) {
  return v != static_cast<double>(kNoValueInt) && std::isfinite(v);
}

// The checked element access of a series.
double Element(std::span<const double> values, uint32_t j) {
  if (j >= values.size())
    throw std::invalid_argument("series index " + std::to_string(j) + " outside 0.." +
                                std::to_string(static_cast<int64_t>(values.size()) - 1));
  return values[j];
}

// floor() of a value taken to a 32-bit integer. A value outside the 32-bit range (only with
// series of extreme magnitude) gives the missing-value marker instead of undefined behaviour.
int32_t FloorToInt32(double v) {
  const double f = std::floor(v);
  if (!(f >= std::numeric_limits<int32_t>::min() && f <= std::numeric_limits<int32_t>::max()))
    return kNoValueInt;
  return static_cast<int32_t>(f);
}

// The interval count: the nearest integer, halves away from zero, as unsigned 32-bit. A count
// that is not finite or out of range (a unit that underflowed to zero) counts as 0 intervals.
uint32_t RoundToUint32(double v) {
  const double r = std::round(v);
  if (!(r >= 0 && r <= std::numeric_limits<uint32_t>::max())) return 0;
  return static_cast<uint32_t>(r);
}

// Length of one grid interval: floor(extent * 0.6000000000000001 / intervals); 0 without intervals
// (the quotient would be infinite).
int32_t IntervalPixels(int32_t extent, uint32_t intervals) {
  if (intervals == 0) return 0;
  return FloorToInt32(extent * kPlotShare / intervals);
}

// The scaling common to both axes: bounds, range, step and its unit.
struct AxisBasis {
  double min = 0, max = 0, range = 0;
  int32_t exponent = 0;
  double step = 0;   // mantissa
  double power = 0;  // 10^exponent
  double unit = 0;   // power * step
};

bool ScaleBasis(std::span<const double> values, uint32_t pointCount, AxisBasis& basis) {
  // 1, 2. The first usable value.
  uint32_t i = 0;
  while (i < pointCount && !IsUsable(Element(values, i))) ++i;
  if (i >= pointCount) return false;

  // Bounds.
  double min = Element(values, i);
  double max = min;
  for (uint32_t j = i; j < pointCount; ++j) {
    const double v = Element(values, j);
    if (!IsUsable(v)) continue;
    if (min > v) min = v;
    if (v > max) max = v;
  }
  basis.min = min;
  basis.max = max;

  // Normalised range m in [1, 10], or 0 when all usable values are equal.
  double range = max - min;
  basis.range = range;
  // Values near the largest doubles can overflow the range; such a series cannot be drawn.
  if (!std::isfinite(range)) return false;
  int32_t exponent = 0;
  if (range > 0 && range < 1) {
    do {
      exponent = exponent - 1;
      range = range * 10;
    } while (!(range >= 1));
  } else {
    while (range > 10) {
      range = range / 10;
      exponent = exponent + 1;
    }
  }
  basis.exponent = exponent;

  // Step mantissa.
  if (range <= 1) {
    basis.step = 0.1;
  } else if (range <= 2.5) {
    basis.step = 0.25;
  } else if (range <= 5) {
    basis.step = 0.5;
  } else {
    basis.step = 1.0;
  }

  // The unit of one grid step.
  basis.power = std::pow(10.0, static_cast<double>(exponent));
  basis.unit = basis.power * basis.step;
  return true;
}

void StoreBasis(const AxisBasis& basis, double& min, double& max, double& range, double& step,
                int32_t& exponent) {
  min = basis.min;
  max = basis.max;
  range = basis.range;
  exponent = basis.exponent;
  step = basis.step;
}

}  // namespace

AxisScaling::AxisScaling(FrameRect frameRect, uint32_t count)
    : frame(frameRect), pointCount(count), xPixels(count), yPixels(count) {}

void ScaleX(AxisScaling& g, std::span<const double> xValues) {
  AxisBasis b;
  if (!ScaleBasis(xValues, g.pointCount, b)) {
    g.notes.push_back(
        Message{"No real values in X array!", "Message", Icon::Information, Owner::None});
    g.noData = 1;
    return;
  }
  StoreBasis(b, g.xMin, g.xMax, g.xRange, g.xStep, g.xExponent);

  // 7, 8. Axis widened outward to whole units.
  const double lower = std::floor(g.xMin / b.unit) * b.unit;
  const double upper = std::ceil(g.xMax / b.unit) * b.unit;
  g.xIntervals = RoundToUint32((upper - lower) / b.unit);

  // 9, 10. Interval length and edges, from the drawing origin (the frame's left is not added).
  const int32_t width = g.frame.right - g.frame.left;
  g.xIntervalPixels = IntervalPixels(width, g.xIntervals);
  g.plotLeft = FloorToInt32(width * kMarginShare);
  g.plotRight = static_cast<int32_t>(static_cast<uint32_t>(g.xIntervalPixels) * g.xIntervals +
                                     static_cast<uint32_t>(g.plotLeft));

  // Pixel of every point.
  const double pixelsPerUnit = static_cast<double>(g.xIntervalPixels) / b.unit;
  for (uint32_t j = 0; j < g.pointCount; ++j) {
    const double v = Element(xValues, j);
    if (!IsUsable(v)) {
      g.xPixels[j] = kNoValueInt;
      continue;
    }
    const int32_t offset = FloorToInt32(pixelsPerUnit * (v - lower));
    g.xPixels[j] = offset == kNoValueInt ? kNoValueInt : offset + g.plotLeft;
  }

  // 12.
  g.xFirstLabel = lower / b.power;
}

void ScaleY(AxisScaling& g, std::span<const double> yValues) {
  AxisBasis b;
  if (!ScaleBasis(yValues, g.pointCount, b)) {
    g.notes.push_back(
        Message{"No real values in Y array!", "Message", Icon::Information, Owner::None});
    g.noData = 1;
    return;
  }
  StoreBasis(b, g.yMin, g.yMax, g.yRange, g.yStep, g.yExponent);

  // 7, 8.
  const double upper = std::ceil(g.yMax / b.unit) * b.unit;
  const double lower = std::floor(g.yMin / b.unit) * b.unit;
  g.yIntervals = RoundToUint32((upper - lower) / b.unit);

  // 9, 10.
  const int32_t height = g.frame.bottom - g.frame.top;
  g.yIntervalPixels = IntervalPixels(height, g.yIntervals);
  g.plotTop = FloorToInt32(height * kMarginShare);
  g.plotBottom = static_cast<int32_t>(static_cast<uint32_t>(g.yIntervalPixels) * g.yIntervals +
                                      static_cast<uint32_t>(g.plotTop));

  // The largest value lies at the top.
  const double pixelsPerUnit = static_cast<double>(g.yIntervalPixels) / b.unit;
  for (uint32_t j = 0; j < g.pointCount; ++j) {
    const double v = Element(yValues, j);
    if (!IsUsable(v)) {
      g.yPixels[j] = kNoValueInt;
      continue;
    }
    const int32_t offset = FloorToInt32(pixelsPerUnit * (upper - v));
    g.yPixels[j] = offset == kNoValueInt ? kNoValueInt : offset + g.plotTop;
  }

  // 12.
  g.yTopLabel = upper / b.power;
}

}  // namespace zuba
