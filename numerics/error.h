// Failures of the orbit numerics: every failure the user can cause carries its one-line text with
// the caption "Error", the error icon and no owner window (the numerics run on the worker thread),
// together with the quantity at fault, its value and the allowed range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/outcome.h"

namespace zuba::detail {

// True when a table holds exactly n entries (a negative n matches no table).
inline bool CountIs(std::span<const double> table, std::int64_t n) {
  return n >= 0 && table.size() == static_cast<std::size_t>(n);
}

// A table whose length is not the count it is used with.
inline Failure CountMismatch(const char* text, std::int64_t count) {
  return ErrorFailure(text, "table length", static_cast<double>(count));
}

// Refusals of maps too small for the field interpolation (shared by both field evaluators).
inline Failure TooFewRadiusNodes(std::int64_t n) {
  return ErrorFailure("Too few radius nodes for field interpolation: " + std::to_string(n) +
                          " (at least 3 needed)!",
                      "nR", static_cast<double>(n), 3);
}
inline Failure TooFewAzimuthNodes(std::int64_t n) {
  return ErrorFailure("Too few azimuth nodes for field interpolation: " + std::to_string(n) +
                          " (at least 3 needed)!",
                      "nTheta", static_cast<double>(n), 3);
}

// The tables both field evaluators take: h per radius, field and moments per node, on a mesh of
// at least 3 x 3 nodes.
inline Outcome CheckMapTables(std::span<const double> h, std::int64_t nR, std::int64_t nTheta,
                              std::span<const double> field, std::span<const double> moments) {
  const std::int64_t mapCount = nR * nTheta;
  if (!CountIs(h, nR) || !CountIs(field, mapCount) || !CountIs(moments, mapCount))
    return CountMismatch("Array size error!", mapCount);
  if (nR < 3) return TooFewRadiusNodes(nR);
  if (nTheta < 3) return TooFewAzimuthNodes(nTheta);
  return {};
}

// Abscissae that do not increase strictly: every parabola and spline through them fails. Its
// callers report it as their own failure (the kernels themselves show nothing for it).
inline Failure NotIncreasing(const char* what, std::int64_t node, double value) {
  return QuietFailure(
      std::string("The ") + what + " do not increase at node " + std::to_string(node) + "!", what,
      value);
}

}  // namespace zuba::detail
