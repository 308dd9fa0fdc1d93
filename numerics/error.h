// Messages of the orbit numerics: every failure the user can cause is shown at once, in a box with
// the caption "Error", the error icon and no owner window (the numerics run on the worker thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/message.h"

namespace zuba::detail {

inline void ShowNumericsError(std::string_view text) {
  ShowMessage(text, "Error", Icon::Error, Owner::None);
}

// True when a table holds exactly n entries (a negative n matches no table).
inline bool CountIs(std::span<const double> table, std::int64_t n) {
  return n >= 0 && table.size() == static_cast<std::size_t>(n);
}

// Refusals of maps too small for the field interpolation (shared by both field evaluators).
inline std::string TooFewRadiusNodes(std::int64_t n) {
  return "Too few radius nodes for field interpolation: " + std::to_string(n) +
         " (at least 3 needed)!";
}
inline std::string TooFewAzimuthNodes(std::int64_t n) {
  return "Too few azimuth nodes for field interpolation: " + std::to_string(n) +
         " (at least 3 needed)!";
}

}  // namespace zuba::detail
