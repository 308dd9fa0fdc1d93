// Constant-time evaluation of the median-plane field B(R, θ): the same function as
// InterpolateField, precomputed once per run as polynomial patches.
//
// Inside one cell — a radial interval of the radius table times one interval of the extended
// azimuth ring — InterpolateField is a polynomial of degree ≤ 3 in R (the radial spline, or the
// parabola of an end interval) times a polynomial of degree ≤ 3 in θ (the ring spline, or a ring
// end parabola): the ring spline is linear in the ring values, so its moments are fixed linear
// combinations of them. Each cell stores the 4×4 coefficients of that product in local coordinates
// s = (R − R_c)/H_c and τ = (θ − θ_f)/H_f, both in [0, 1) inside the cell, which keeps the
// evaluation as well conditioned as the described routine. An evaluation finds the cell by a
// guess from the mean step corrected against the tables, then sums 16 terms.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zuba {

class FieldPatches {
 public:
  // h: radial steps table from SplineSetup on the radii (m); radii (m), azimuths (rad), field (T)
  // and radial moments (T/m²) as for InterpolateField. Fails as InterpolateField would fail on
  // every call for these tables: with the same message ("Array size error!", too few radius or
  // azimuth nodes) or silently (radii or ring azimuths not strictly increasing).
  static std::optional<FieldPatches> Build(std::span<const double> h, std::span<const double> radii,
                                           std::span<const double> azimuths,
                                           std::span<const double> field,
                                           std::span<const double> moments);

  // B (T) at radius R (m) and azimuth theta (rad); the refusals and messages of InterpolateField
  // ("Negative value of R!", "Radius value error!", "Azimuth value error!").
  int Evaluate(double R, double theta, double& B) const;

  // B (T) with its partial derivatives ∂B/∂R (T/m) and ∂B/∂θ (T/rad) in the same cell.
  int EvaluateWithDerivatives(double R, double theta, double& B, double& dBdR,
                              double& dBdTheta) const;

  int32_t RadiusNodes() const { return static_cast<int32_t>(radii_.size()); }
  int32_t AzimuthNodes() const { return nTheta_; }

 private:
  FieldPatches() = default;

  // Finds the cell of (R, theta) and the local coordinates; 0 with the routine's message when the
  // point is refused.
  int Locate(double R, double theta, const double*& coefficients, double& s, double& t,
             int32_t& radialCell, int32_t& ringCell) const;

  std::vector<double> radii_;      // m
  std::vector<double> radialInv_;  // 1/H_c (1/m) per radial cell
  double radialGuess_ = 0;         // cells per metre, for the first guess
  std::vector<double> ring_;       // ring abscissae (rad), nTheta + 5
  std::vector<double> ringInv_;    // 1/H_f (1/rad) per ring interval
  double ringGuess_ = 0;           // intervals per radian
  double first_ = 0;               // first table azimuth (rad)
  double turnEnd_ = 0;             // last table azimuth + one step (rad)
  int32_t nTheta_ = 0;
  int32_t ringCells_ = 0;        // nTheta + 4
  std::vector<double> patches_;  // 16 per cell: [(c·ringCells + f)·16 + 4·p + q] of s^p·τ^q
};

}  // namespace zuba
