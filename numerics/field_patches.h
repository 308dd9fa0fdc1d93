// Constant-time evaluation of the median-plane field B(R, θ): the same function as
// InterpolateField, precomputed once per run as polynomial patches.
//
// Inside one cell — a radial interval of the radius table times one interval of the extended
// azimuth ring — InterpolateField is a polynomial of degree ≤ 3 in R (the radial spline, or the
// parabola of an end interval) times a polynomial of degree ≤ 3 in θ (the ring spline, or a ring
// end parabola): the ring spline is linear in the ring values, so its moments are fixed linear
// combinations of them. Each cell stores the 4×4 coefficients of that product in local coordinates
// s = (R − R_c)/H_c and τ = (θ − θ_f)/H_f, both in [0, 1) inside the cell (for the derivatives and
// the ring end intervals).
//
// The value itself is formed closer to the per-call evaluation's own rounding: the radial values at
// the two ring nodes of the interval exactly as the per-call evaluation computes them (its column
// spline or parabola, with the large terms precomputed from the same operands), then the ring
// spline interval formula in the per-call evaluation's order, with the ring moments — which the
// per-call evaluation solves from the whole ring and which carry its rounding of every ring value,
// amplified by 1/H_f² — from their precomputed cubics in s. On the example maps about 70 % of the
// values along orbits are then bit for bit the per-call evaluation's and the rest one unit in the
// last place apart (against about 50 % with the plain sum).
//
// An evaluation finds the cell by a guess from the mean step corrected against the tables. A
// Cursor, which follows one orbit, first tries the cell of its previous point: along an orbit the
// next point is almost always in the same cell, so the cell is known before the point is, and the
// sum starts as soon as the point arrives.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "numerics/constants.h"
#include "numerics/field_interpolation.h"
#include "platform/outcome.h"

namespace zuba {

class FieldPatches {
 public:
  // h: radial steps table from SplineSetup on the radii (m); radii (m), azimuths (rad), field (T)
  // and radial moments (T/m²) as for InterpolateField. Fails as InterpolateField would fail on
  // every call for these tables: with the same failure ("Array size error!", too few radius or
  // azimuth nodes), or for radii or ring azimuths that do not increase strictly.
  static Result<FieldPatches> Build(std::span<const double> h, std::span<const double> radii,
                                    std::span<const double> azimuths, std::span<const double> field,
                                    std::span<const double> moments);

  // B (T) at radius R (m) and azimuth theta (rad); the refusals of InterpolateField ("Negative
  // value of R!", "Radius value error!", "Azimuth value error!").
  inline Outcome Evaluate(double R, double theta, double& B) const;

  // B (T), the same value as Evaluate, with its partial derivatives ∂B/∂R (T/m) and ∂B/∂θ (T/rad)
  // from the cell's patch. Unlike Evaluate, which extrapolates the first radial parabola down to
  // R = 0 as the per-call evaluation does, it refuses a radius below the first radius node as it
  // refuses one beyond the last ("Radius value error!", subject R, the radii as its range): the
  // field there is not measured, and the closures built on it do not invent it. A map whose first
  // radius is 0 serves every R >= 0.
  Outcome EvaluateWithDerivatives(double R, double theta, double& B, double& dBdR,
                                  double& dBdTheta) const;

  // The radius range (m) that the field serves.
  double MinRadius() const { return radii_.front(); }
  double MaxRadius() const { return radii_.back(); }

  int32_t RadiusNodes() const { return static_cast<int32_t>(radii_.size()); }
  // The radius nodes (m), increasing: the field's radial spline changes its cubic at every node
  // between the first and the last.
  std::span<const double> Radii() const { return radii_; }
  int32_t AzimuthNodes() const { return nTheta_; }

  // Why Evaluate refuses (R, theta): the failure it returns there.
  Failure Refusal(double R, double theta) const;
  // Why Cursor::TryEvaluatePatch refuses (R, theta): as Refusal, and a radius below the first
  // radius node is refused as one beyond the last ("Radius value error!", the radii as its range).
  Failure PatchRefusal(double R, double theta) const;

  // The azimuth nodes (rad), where the field's azimuthal spline changes its cubic, as an orbit
  // going on in azimuth meets them. Next(theta, guard) is the first node beyond theta + guard: the
  // one after the node it gave last where theta is that node (within guard), the same node where
  // theta still lies before it in its interval, else found in the table (theta + pi where Evaluate
  // refuses theta's azimuth). Each orbit keeps its own.
  class AzimuthNodeWalk {
   public:
    explicit AzimuthNodeWalk(const FieldPatches& field) : field_(&field) {}
    double Next(double theta, double guard) {
      if (cell_ >= 0) {
        if (theta < node_ - guard && theta >= low_ - guard) return node_;
        if (std::fabs(theta - node_) <= guard) {
          // The interval after the table's last one is its first, a turn on.
          if (++cell_ > field_->nTheta_ + 1) {
            cell_ = 2;
            turn_ += 2.0 * kPi;
          }
          low_ = node_;
          node_ = field_->ring_[cell_ + 1] + turn_;
          return node_;
        }
      }
      return Find(theta, guard);
    }

   private:
    double Find(double theta, double guard);

    const FieldPatches* field_;
    int32_t cell_ = -1;  // the ring interval that node_ ends (none yet)
    double turn_ = 0;    // rad, the whole turns between the interval and the table
    double low_ = 0;     // rad, where the interval begins
    double node_ = 0;    // rad, where it ends: the node given last
  };

  // Evaluates the field along one orbit: the same values and refusals as Evaluate, bit for bit,
  // with the cell of the previous point tried first. Each thread keeps its own cursor; the patches
  // it reads are never changed.
  class Cursor {
   public:
    explicit Cursor(const FieldPatches& field) : field_(&field) {}
    Outcome Evaluate(double R, double theta, double& B) {
      if (TryEvaluate(R, theta, B)) [[likely]]
        return {};
      return Refusal(R, theta);
    }
    // The orbit's inner loop: B as Evaluate gives it, or false where Evaluate refuses, without
    // forming the failure (Refusal says why). Always inlined: it is the step's one field call.
    [[gnu::always_inline]] inline bool TryEvaluate(double R, double theta, double& B);
    Failure Refusal(double R, double theta) const { return field_->Refusal(R, theta); }

   private:
    const FieldPatches* field_;
    int32_t radialCell_ = 0;
    int32_t ringCell_ = 0;
  };

  // Evaluates B (T) and ∂B/∂R (T/m) along one orbit, both from the patch of the point's cell (B
  // within a few units in the last place of Evaluate's value). It keeps the
  // cell of its last point with its bounds in that point's turn, so that a point in the same cell
  // costs the patch sums alone. Refused: a point outside the map, below its first radius as beyond
  // its last (PatchRefusal says why).
  class PatchCursor {
   public:
    explicit PatchCursor(const FieldPatches& field) : field_(&field) {}
    [[gnu::always_inline]] bool Evaluate(double R, double theta, double& B, double& dBdR) {
      if (!Enter(R, theta)) return false;
      const double s = (R - originR_) * invStepR_;
      const double t = (theta - originTheta_) * invStepTheta_;
      const double* C = patch_;
      const double q0 = C[0] + t * (C[1] + t * (C[2] + t * C[3]));
      const double q1 = C[4] + t * (C[5] + t * (C[6] + t * C[7]));
      const double q2 = C[8] + t * (C[9] + t * (C[10] + t * C[11]));
      const double q3 = C[12] + t * (C[13] + t * (C[14] + t * C[15]));
      B = q0 + s * (q1 + s * (q2 + s * q3));
      dBdR = (q1 + s * (2.0 * q2 + s * (3.0 * q3))) * invStepR_;
      return true;
    }

    // The parts of Evaluate, for evaluating the patches of several points together: the cell of
    // (R, theta) kept (false outside the map), then its patch's 16 coefficients (of s^i t^j at
    // 4 i + j), s = (R - OriginR()) * InvStepR() and t = (theta - OriginTheta()) *
    // InvStepTheta().
    [[gnu::always_inline]] bool Enter(double R, double theta) {
      if (R >= lowR_ && R < highR_ && theta >= lowTheta_ && theta < highTheta_) [[likely]]
        return true;
      return NextRingCell(R, theta) || Locate(R, theta);
    }
    const double* Patch() const { return patch_; }
    double OriginR() const { return originR_; }
    double InvStepR() const { return invStepR_; }
    double OriginTheta() const { return originTheta_; }
    double InvStepTheta() const { return invStepTheta_; }

   private:
    // An orbit going on in azimuth meets the next cell of the ring in the same radial cell and
    // turn: taken where the point lies in it (most cells an orbit enters), without a call.
    [[gnu::always_inline]] bool NextRingCell(double R, double theta) {
      const FieldPatches& p = *field_;
      if (!(patch_ && R >= lowR_ && R < highR_ && theta >= highTheta_ && ring_ + 1 < p.ringCells_))
        return false;
      const int32_t f = ring_ + 1;
      const double low = std::max(p.ringLow_[f], p.first_) + turn_;
      const double high = std::min(p.ringHigh_[f], p.turnEnd_) + turn_;
      if (!(theta >= low && theta < high)) return false;
      ring_ = f;
      lowTheta_ = low;
      highTheta_ = high;
      originTheta_ = p.ring_[f] + turn_;
      invStepTheta_ = p.ringInv_[f];
      patch_ += 16;
      return true;
    }
    // Finds the cell of a point and keeps it with its bounds; false outside the map.
    bool Locate(double R, double theta);

    const FieldPatches* field_;
    const double* patch_ = nullptr;
    double lowR_ = 1, highR_ = 0, lowTheta_ = 1, highTheta_ = 0;  // none at first
    double originR_ = 0, invStepR_ = 0, originTheta_ = 0, invStepTheta_ = 0;
    int32_t ring_ = 0;  // the cell's ring interval
    double turn_ = 0;   // rad, the whole turns between the cell's points and the table
  };

 private:
  FieldPatches() = default;

  // The map's tables as Build takes them, and per power of s the coefficient of every column
  // across one radial cell.
  struct MapTables {
    std::span<const double> h, radii, field, moments;
  };
  using ColumnCoefficients = std::array<std::vector<double>, 4>;
  // The steps of Build: the extended ring of azimuths, the cells, and per radial cell the radial
  // pass (the columns' coefficients) and the azimuthal pass (the patches and ring moments).
  Outcome SetRing(std::span<const double> azimuths);
  void SetCells(std::span<const double> radii);
  void RadialPass(int32_t c, const MapTables& map, ColumnCoefficients& K);
  Outcome AzimuthalPass(int32_t c, const ColumnCoefficients& K);

  // Whether (R, theta) is refused before its azimuth is wrapped; Refusal says why. The order of
  // its checks decides which failure a point outside in several ways gets.
  bool Refused(double R, double theta) const {
    return R < 0 || !(std::fabs(theta) <= kMaxAzimuthMagnitude) || !(R <= radii_.back());
  }

  // Azimuth (rad) brought into the turn of the table, one turn at a time as the per-call evaluation
  // does (an azimuth many turns away is first moved close by whole turns); false when it lies
  // beyond the extended ring (Refusal says why).
  [[gnu::always_inline]] bool WrapAzimuth(double& theta) const {
    const double pi = kPi;
    const double twoPi = 2.0 * pi;
    if (theta < -16.0 * twoPi) theta += twoPi * std::floor(-theta / twoPi);
    while (theta < 0) theta += 2.0 * pi;
    while (theta < first_) theta += 2.0 * pi;
    if (theta > turnEnd_ + 16.0 * twoPi) theta -= twoPi * std::floor((theta - first_) / twoPi);
    while (theta >= turnEnd_) theta -= 2.0 * pi;
    return !(theta > ring_.back());
  }

  // Radial cell of R (0 <= R <= last radius) by the rule of the table interpolation: below the
  // second radius the first parabola, from the last-but-one radius up to the last one inclusive
  // the last parabola.
  int32_t RadialCell(double R) const {
    const int32_t nR = static_cast<int32_t>(radii_.size());
    if (R < radii_[1]) return 0;
    const double guess = std::clamp((R - radii_[0]) * radialGuess_, 1.0, nR - 2.0);
    int32_t c = static_cast<int32_t>(guess);
    while (c > 1 && R < radii_[c]) --c;
    while (c < nR - 2 && R >= radii_[c + 1]) ++c;
    return c;
  }

  // Ring interval of a wrapped azimuth; the last interval also holds the last ring node.
  int32_t RingCell(double theta) const {
    const int32_t nRing = static_cast<int32_t>(ring_.size());
    const double guess = std::clamp((theta - ring_[0]) * ringGuess_, 0.0, nRing - 2.0);
    int32_t f = static_cast<int32_t>(guess);
    while (f > 0 && theta < ring_[f]) --f;
    while (f < nRing - 2 && theta >= ring_[f + 1]) ++f;
    return f;
  }

  // Whether R and a wrapped theta lie in cell (c, f) as RadialCell and RingCell would find it.
  bool InCell(double R, double theta, int32_t c, int32_t f) const {
    return radialLow_[c] <= R && R < radialHigh_[c] && ringLow_[f] <= theta && theta < ringHigh_[f];
  }

  // The field at a point of cell (c, f), rounded as the per-call evaluation rounds it wherever that
  // is possible in constant time: the radial values of the two ring nodes of the interval exactly
  // as the per-call evaluation's column splines or parabolas give them, and the ring spline's large
  // terms (Y/H − M·H/6)·A with the per-call evaluation's own division; only the ring moments M,
  // which the per-call evaluation solves from the whole ring, come from their precomputed
  // polynomials in R. The ring end intervals, which a wrapped azimuth does not reach on a full-turn
  // table, use the patch sum.
  double Value(double R, double theta, int32_t c, int32_t f) const {
    if (f == 0 || f == ringCells_ - 1) return Sum(R, theta, c, f);
    const double* col0 = &columns_[(static_cast<std::size_t>(c) * nTheta_ + column_[f]) * 4];
    const double* col1 = &columns_[(static_cast<std::size_t>(c) * nTheta_ + column_[f + 1]) * 4];
    double y0, y1;  // T, the radial values at the interval's two ring nodes
    if (c != 0 && c != static_cast<int32_t>(radii_.size()) - 2) {
      const double A = radii_[c + 1] - R;
      const double Bq = R - radii_[c];
      const double A3 = A * A * A, B3 = Bq * Bq * Bq, k = radialInvSixH_[c];
      y0 = A3 * col0[2] * k + B3 * col0[3] * k + col0[0] * A + col0[1] * Bq;
      y1 = A3 * col1[2] * k + B3 * col1[3] * k + col1[0] * A + col1[1] * Bq;
    } else {
      y0 = col0[0] * (R * R) - col0[1] * R + col0[2];
      y1 = col1[0] * (R * R) - col1[1] * R + col1[2];
    }
    const double s = (R - radii_[c]) * radialInv_[c];
    const double* m = &ringMoments_[(static_cast<std::size_t>(c) * (ringCells_ + 1) + f) * 4];
    const double M0 = m[0] + s * (m[1] + s * (m[2] + s * m[3]));
    const double M1 = m[4] + s * (m[5] + s * (m[6] + s * m[7]));
    const double H = ring_[f + 1] - ring_[f];  // the ring step as the spline set-up forms it
    const double A = ring_[f + 1] - theta;
    const double Bt = theta - ring_[f];
    const double k = ringInvSixH_[f], sixth = ringSixthH_[f];
    return A * A * A * M0 * k + Bt * Bt * Bt * M1 * k + (y0 / H - M0 * sixth) * A +
           (y1 / H - M1 * sixth) * Bt;
  }

  // The patch sum at a point of cell (c, f).
  double Sum(double R, double theta, int32_t c, int32_t f) const {
    const double s = (R - radii_[c]) * radialInv_[c];
    const double t = (theta - ring_[f]) * ringInv_[f];
    const double* C = &patches_[(static_cast<std::size_t>(c) * ringCells_ + f) * 16];
    const double q0 = C[0] + t * (C[1] + t * (C[2] + t * C[3]));
    const double q1 = C[4] + t * (C[5] + t * (C[6] + t * C[7]));
    const double q2 = C[8] + t * (C[9] + t * (C[10] + t * C[11]));
    const double q3 = C[12] + t * (C[13] + t * (C[14] + t * C[15]));
    return q0 + s * (q1 + s * (q2 + s * q3));
  }

  std::vector<double> radii_;      // m
  std::vector<double> radialInv_;  // 1/H_c (1/m) per radial cell
  // Per radial cell the radii it serves, low <= R < high (the outer cells open outwards).
  std::vector<double> radialLow_, radialHigh_;
  // Per ring interval the wrapped azimuths it serves, low <= theta < high.
  std::vector<double> ringLow_, ringHigh_;
  double radialGuess_ = 0;       // cells per metre, for the first guess
  std::vector<double> ring_;     // ring abscissae (rad), nTheta + 5
  std::vector<double> ringInv_;  // 1/H_f (1/rad) per ring interval
  double ringGuess_ = 0;         // intervals per radian
  double first_ = 0;             // first table azimuth (rad)
  double turnEnd_ = 0;           // last table azimuth + one step (rad)
  int32_t nTheta_ = 0;
  int32_t ringCells_ = 0;        // nTheta + 4
  std::vector<double> patches_;  // 16 per cell: [(c·ringCells + f)·16 + 4·p + q] of s^p·τ^q
  std::vector<int32_t> column_;  // per ring node, the azimuth column it holds
  // Per radial cell and column: a spline cell's Y_c/H − M_c·H/6, Y_c+1/H − M_c+1·H/6, M_c, M_c+1;
  // an end cell's parabola S, L, C.
  std::vector<double> columns_;
  std::vector<double> radialInvSixH_;  // 1/(6 H_c) (1/m)
  // Per radial cell and ring node: the ring moment (T/rad²) as a cubic in s, 4 coefficients.
  std::vector<double> ringMoments_;
  std::vector<double> ringInvSixH_;  // 1/(6 H_f) (1/rad)
  std::vector<double> ringSixthH_;   // H_f/6 (rad)
};

inline Outcome FieldPatches::Evaluate(double R, double theta, double& B) const {
  const double given = theta;
  if (Refused(R, theta) || !WrapAzimuth(theta)) [[unlikely]]
    return Refusal(R, given);
  B = Value(R, theta, RadialCell(R), RingCell(theta));
  return {};
}

inline bool FieldPatches::Cursor::TryEvaluate(double R, double theta, double& B) {
  const FieldPatches& p = *field_;
  if (p.Refused(R, theta) || !p.WrapAzimuth(theta)) [[unlikely]]
    return false;
  if (!p.InCell(R, theta, radialCell_, ringCell_)) {
    radialCell_ = p.RadialCell(R);
    ringCell_ = p.RingCell(theta);
  }
  B = p.Value(R, theta, radialCell_, ringCell_);
  return true;
}

}  // namespace zuba
