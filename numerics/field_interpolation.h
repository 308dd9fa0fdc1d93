// The median-plane field B(R, θ) of a field map: natural cubic splines along the radius columns
// (moments prepared once per run), then a natural cubic spline in azimuth through the ring of the
// column values, extended periodically past both ends of the turn.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

// Radial moments of a field map: for each azimuth column j (entries iR·nTheta + j of the
// radius-major field table) the moments of the natural spline of the column over the radius
// table, written at the same entries. h receives the radial steps table (the same for every
// column). Fails when a column's spline set-up fails or the table sizes do not match.
Outcome RadialMoments(std::span<const double> field, std::span<const double> radii, int32_t nTheta,
                      std::vector<double>& h, std::vector<double>& moments);

// B (T) at radius R (m) and azimuth theta (rad). h: the radial steps table from SplineSetup on
// the radii; field and moments radius-major: entry iR·nTheta + iTheta with nTheta =
// azimuths.size(). The azimuth table is uniform with step 2π/nTheta over one turn.
// Builds the azimuth ring and its spline afresh on every call.
Outcome InterpolateField(double R, double theta, std::span<const double> h,
                         std::span<const double> radii, std::span<const double> azimuths,
                         std::span<const double> field, std::span<const double> moments, double& B);

// Largest |theta| (rad) accepted: a million turns. Beyond it adding or subtracting 2π one turn at
// a time no longer brings the azimuth into the turn in reasonable time (or at all).
inline constexpr double kMaxAzimuthMagnitude = 6283185.307179586;

}  // namespace zuba
