// Polynomial patches of the field interpolation: built once per run, evaluated in constant time.
#include "numerics/field_patches.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "numerics/error.h"
#include "numerics/field_interpolation.h"
#include "numerics/interpolation.h"
#include "numerics/parabola.h"

namespace zuba {

namespace {

// Monomial coefficients (in the local coordinate) of the three Lagrange basis parabolas through
// the local abscissae t0 < t1 < t2: basis j is L[j][0] + L[j][1]·t + L[j][2]·t².
using ParabolaBasis = std::array<std::array<double, 3>, 3>;

ParabolaBasis MakeParabolaBasis(double t0, double t1, double t2) {
  const double t[3] = {t0, t1, t2};
  ParabolaBasis L{};
  for (int j = 0; j < 3; ++j) {
    const double ta = t[(j + 1) % 3], tb = t[(j + 2) % 3];
    const double D = (t[j] - ta) * (t[j] - tb);
    L[j] = {ta * tb / D, -(ta + tb) / D, 1.0 / D};
  }
  return L;
}

// Coefficients of τ⁰ … τ³ of a natural-spline interval in τ = (x − x_f)/H ∈ [0, 1] from the node
// values y0, y1 and the moments M0, M1: the interval formula of SplineValue with A = H(1 − τ) and
// B = Hτ, expanded.
std::array<double, 4> SplineInterval(double y0, double y1, double M0, double M1, double H) {
  const double a = M0 * H * H / 6.0;
  const double b = M1 * H * H / 6.0;
  return {y0, y1 - y0 - 2.0 * a - b, 3.0 * a, b - a};
}

// Ring end parabolas (intervals 0 and nRing − 2) in the local coordinate of their interval.
ParabolaBasis LocalBasis(std::span<const double> x, int32_t anchor, int32_t firstNode) {
  const double H = x[anchor + 1] - x[anchor];
  return MakeParabolaBasis((x[firstNode] - x[anchor]) / H, (x[firstNode + 1] - x[anchor]) / H,
                           (x[firstNode + 2] - x[anchor]) / H);
}

}  // namespace

// The extended ring exactly as the per-call evaluation builds it; ring node i holds column
// column[i].
Outcome FieldPatches::SetRing(std::span<const double> azimuths) {
  const int32_t nTheta = nTheta_;
  const double pi = kPi;
  const double delta = 2.0 * pi / nTheta;  // rad
  first_ = azimuths[0];
  turnEnd_ = azimuths[nTheta - 1] + delta;
  const int32_t nRing = nTheta + 5;
  ring_.resize(nRing);
  std::vector<int32_t>& column = column_;
  column.resize(nRing);
  ring_[0] = azimuths[0] - 2.0 * delta;
  ring_[1] = azimuths[0] - delta;
  column[0] = nTheta - 2;
  column[1] = nTheta - 1;
  for (int32_t j = 0; j < nTheta; ++j) {
    ring_[j + 2] = azimuths[j];
    column[j + 2] = j;
  }
  for (int32_t k = 0; k < 3; ++k) {
    ring_[nTheta + 2 + k] = azimuths[nTheta - 1] + (k + 1.0) * delta;
    column[nTheta + 2 + k] = k;
  }
  for (int32_t i = 1; i < nRing; ++i)
    if (!(ring_[i - 1] < ring_[i]))  // the ring spline would fail
      return detail::NotIncreasing("azimuth nodes", i, ring_[i]);
  return {};
}

// The cells: their inverse steps and the first guesses of the cell searches, and the points each
// cell serves, as RadialCell and RingCell assign them: the outer cells also take the points beyond
// their outer node.
void FieldPatches::SetCells(std::span<const double> radii) {
  const int32_t nR = static_cast<int32_t>(radii.size());
  const int32_t nRing = static_cast<int32_t>(ring_.size());
  const int32_t radialCells = nR - 1;  // cell nR − 2 also serves R equal to the last radius
  ringCells_ = nRing - 1;              // interval nRing − 2 also serves θ on the last ring node
  radialInv_.resize(radialCells);
  ringInv_.resize(ringCells_);
  radialGuess_ = (nR - 1) / (radii[nR - 1] - radii[0]);
  ringGuess_ = (nRing - 1) / (ring_[nRing - 1] - ring_[0]);
  for (int32_t f = 0; f < ringCells_; ++f) ringInv_[f] = 1.0 / (ring_[f + 1] - ring_[f]);

  const double infinity = std::numeric_limits<double>::infinity();
  radialLow_.resize(radialCells);
  radialHigh_.resize(radialCells);
  for (int32_t c = 0; c < radialCells; ++c) {
    radialLow_[c] = c == 0 ? -infinity : radii[c];
    radialHigh_[c] = c == radialCells - 1 ? infinity : radii[c + 1];
  }
  ringLow_.resize(ringCells_);
  ringHigh_.resize(ringCells_);
  for (int32_t f = 0; f < ringCells_; ++f) {
    ringLow_[f] = f == 0 ? -infinity : ring_[f];
    ringHigh_[f] = f == ringCells_ - 1 ? infinity : ring_[f + 1];
  }
  radialInvSixH_.resize(radialCells);
  ringInvSixH_.resize(ringCells_);
  ringSixthH_.resize(ringCells_);
  for (int32_t f = 0; f < ringCells_; ++f) {
    // The factors of the ring spline's small terms.
    const double H = ring_[f + 1] - ring_[f];
    ringInvSixH_[f] = 1.0 / (6.0 * H);
    ringSixthH_[f] = H / 6.0;
  }
}

// Radial pass of cell c in the local coordinate s = (R − R_c)/H_c of the cell.
void FieldPatches::RadialPass(int32_t c, const MapTables& map, ColumnCoefficients& K) {
  const std::span<const double> radii = map.radii, field = map.field, moments = map.moments;
  const int32_t nR = static_cast<int32_t>(radii.size()), nTheta = nTheta_;
  const bool spline = 1 <= c && c <= nR - 3;
  const double H = spline ? map.h[c + 1] : radii[c + 1] - radii[c];
  radialInv_[c] = 1.0 / H;
  radialInvSixH_[c] = 1.0 / (6.0 * H);
  if (spline) {
    for (int32_t k = 0; k < nTheta; ++k) {
      // The column spline's large terms (Y/H − M·H/6) exactly as the per-call evaluation rounds
      // them.
      const double Y0 = field[c * nTheta + k], Y1 = field[(c + 1) * nTheta + k];
      const double M0 = moments[c * nTheta + k], M1 = moments[(c + 1) * nTheta + k];
      double* col = &columns_[(static_cast<std::size_t>(c) * nTheta + k) * 4];
      col[0] = Y0 / H - M0 * H / 6.0;
      col[1] = Y1 / H - M1 * H / 6.0;
      col[2] = M0;
      col[3] = M1;
      const std::array<double, 4> q =
          SplineInterval(field[c * nTheta + k], field[(c + 1) * nTheta + k],
                         moments[c * nTheta + k], moments[(c + 1) * nTheta + k], H);
      for (int pw = 0; pw < 4; ++pw) K[pw][k] = q[pw];
    }
    return;
  }
  // End cells: the column parabola S·R² − L·R + C from the same rounded S, L, C as the per-call
  // evaluation (at the far end of a fine radius table these coefficients carry most of its
  // rounding), re-expanded about R_c: the value at R_c, then H·(2S·R_c − L) and H²·S.
  const int32_t i0 = c == 0 ? 0 : nR - 3;
  const double Rc = radii[c];
  for (int32_t k = 0; k < nTheta; ++k) {
    detail::ParabolaCoefficients q{0.0, 0.0, 0.0};  // radii checked increasing
    detail::MakeParabola(radii[i0], field[i0 * nTheta + k], radii[i0 + 1],
                         field[(i0 + 1) * nTheta + k], radii[i0 + 2], field[(i0 + 2) * nTheta + k],
                         q);
    double* col = &columns_[(static_cast<std::size_t>(c) * nTheta + k) * 4];
    col[0] = q.S;
    col[1] = q.L;
    col[2] = q.C;
    K[0][k] = q.S * (Rc * Rc) - q.L * Rc + q.C;
    K[1][k] = H * (2.0 * q.S * Rc - q.L);
    K[2][k] = H * H * q.S;
    K[3][k] = 0.0;
  }
}

// Azimuthal pass of cell c: the ring spline of each power's column coefficients (the spline is
// linear in the ring values), expanded per ring interval in τ = (θ − θ_f)/H_f; the ring's end
// intervals take the parabolas through their three nearest ring nodes.
Outcome FieldPatches::AzimuthalPass(int32_t c, const ColumnCoefficients& K) {
  const int32_t nRing = static_cast<int32_t>(ring_.size());
  const ParabolaBasis ringFirst = LocalBasis(ring_, 0, 0);
  const ParabolaBasis ringLast = LocalBasis(ring_, nRing - 2, nRing - 3);
  std::vector<double> ringY(nRing), ringH, ringM;
  for (int pw = 0; pw < 4; ++pw) {
    for (int32_t i = 0; i < nRing; ++i) ringY[i] = K[pw][column_[i]];
    if (Outcome o = SplineSetup(ring_, ringY, nRing, ringH, ringM); !o) return o;
    for (int32_t i = 0; i < nRing; ++i)
      ringMoments_[(static_cast<std::size_t>(c) * nRing + i) * 4 + pw] = ringM[i];
    for (int32_t f = 0; f < ringCells_; ++f) {
      double* patch = &patches_[(static_cast<std::size_t>(c) * ringCells_ + f) * 16 + 4 * pw];
      if (1 <= f && f <= nTheta_ + 2) {
        const std::array<double, 4> q =
            SplineInterval(ringY[f], ringY[f + 1], ringM[f], ringM[f + 1], ringH[f + 1]);
        for (int pq = 0; pq < 4; ++pq) patch[pq] = q[pq];
      } else {
        const ParabolaBasis& L = f == 0 ? ringFirst : ringLast;
        const int32_t i0 = f == 0 ? 0 : nRing - 3;
        for (int pq = 0; pq < 3; ++pq) {
          double sum = 0.0;
          for (int j = 0; j < 3; ++j) sum += L[j][pq] * ringY[i0 + j];
          patch[pq] = sum;
        }
        patch[3] = 0.0;
      }
    }
  }
  return {};
}

Result<FieldPatches> FieldPatches::Build(std::span<const double> h, std::span<const double> radii,
                                         std::span<const double> azimuths,
                                         std::span<const double> field,
                                         std::span<const double> moments) {
  const int32_t nR = static_cast<int32_t>(radii.size());
  const int32_t nTheta = static_cast<int32_t>(azimuths.size());
  if (Outcome tables = detail::CheckMapTables(h, nR, nTheta, field, moments); !tables)
    return tables;
  // Radii that do not increase make every radial parabola and spline fail.
  for (int32_t i = 1; i < nR; ++i)
    if (!(radii[i - 1] < radii[i])) return detail::NotIncreasing("radius nodes", i, radii[i]);

  FieldPatches p;
  p.nTheta_ = nTheta;
  p.radii_.assign(radii.begin(), radii.end());
  if (Outcome ring = p.SetRing(azimuths); !ring) return ring;
  p.SetCells(radii);

  const int32_t radialCells = nR - 1;
  const int32_t nRing = nTheta + 5;
  p.patches_.assign(static_cast<std::size_t>(radialCells) * p.ringCells_ * 16, 0.0);
  p.columns_.assign(static_cast<std::size_t>(radialCells) * nTheta * 4, 0.0);
  p.ringMoments_.assign(static_cast<std::size_t>(radialCells) * nRing * 4, 0.0);
  ColumnCoefficients K;
  for (auto& k : K) k.assign(nTheta, 0.0);
  const MapTables map{h, radii, field, moments};
  for (int32_t c = 0; c < radialCells; ++c) {
    p.RadialPass(c, map, K);
    if (Outcome o = p.AzimuthalPass(c, K); !o) return o;
  }
  return p;
}

bool FieldPatches::PatchCursor::Locate(double R, double theta) {
  const FieldPatches& p = *field_;
  double wrapped = theta;
  if (p.Refused(R, theta) || !(R >= p.radii_.front()) || !p.WrapAzimuth(wrapped)) return false;
  const int32_t c = p.RadialCell(R);
  const int32_t f = p.RingCell(wrapped);
  const int32_t lastCell = static_cast<int32_t>(p.radii_.size()) - 2;
  // The cell's radii, closed at the map's last radius; its azimuths in the point's turn.
  lowR_ = c == 0 ? p.radii_.front() : p.radialLow_[c];
  highR_ = c == lastCell ? std::nextafter(p.radii_.back(), HUGE_VAL) : p.radialHigh_[c];
  const double turn = theta - wrapped;  // rad, the whole turns between the point and the table
  ring_ = f;
  turn_ = turn;
  // The cell serves the points of its interval within the table's turn only: a point that the
  // wrap's rounding puts just below the first azimuth lies in the ring's extension, whose cubic
  // is not that of the turn's last interval, so that the next point locates its cell again.
  lowTheta_ = std::max(p.ringLow_[f], p.first_) + turn;
  highTheta_ = std::min(p.ringHigh_[f], p.turnEnd_) + turn;
  originR_ = p.radii_[c];
  invStepR_ = p.radialInv_[c];
  originTheta_ = p.ring_[f] + turn;
  invStepTheta_ = p.ringInv_[f];
  patch_ = &p.patches_[(static_cast<std::size_t>(c) * p.ringCells_ + f) * 16];
  return true;
}

double FieldPatches::AzimuthNodeWalk::Find(double theta, double guard) {
  const FieldPatches& p = *field_;
  double wrapped = theta;
  if (!(std::fabs(theta) <= kMaxAzimuthMagnitude) || !p.WrapAzimuth(wrapped)) {
    cell_ = -1;
    return theta + kPi;
  }
  // The table's turn holds the ring intervals 2 .. nTheta + 1 (SetRing).
  cell_ = p.RingCell(wrapped);
  turn_ = theta - wrapped;
  low_ = p.ring_[cell_] + turn_;
  node_ = p.ring_[cell_ + 1] + turn_;
  return node_ - theta < guard ? Next(node_, guard) : node_;
}

Failure FieldPatches::PatchRefusal(double R, double theta) const {
  if (R >= 0 && R < radii_.front() && std::fabs(theta) <= kMaxAzimuthMagnitude)
    return ErrorFailure("Radius value error!", "R", R, radii_.front(), radii_.back());
  return Refusal(R, theta);
}

Failure FieldPatches::Refusal(double R, double theta) const {
  if (R < 0) return ErrorFailure("Negative value of R!", "R", R, 0, radii_.back());
  if (!(std::fabs(theta) <= kMaxAzimuthMagnitude))
    return ErrorFailure("Azimuth value error!", "theta", theta, -kMaxAzimuthMagnitude,
                        kMaxAzimuthMagnitude);
  if (!(R <= radii_.back()))
    return ErrorFailure("Radius value error!", "R", R, radii_.front(), radii_.back());
  // Inside the radii: the azimuth lies beyond the extended ring once brought into the turn.
  return ErrorFailure("Azimuth value error!", "theta", theta, ring_.front(), ring_.back());
}

Outcome FieldPatches::EvaluateWithDerivatives(double R, double theta, double& B, double& dBdR,
                                              double& dBdTheta) const {
  const double given = theta;
  if (Refused(R, theta) || !WrapAzimuth(theta)) return Refusal(R, given);
  if (R < radii_.front())
    return ErrorFailure("Radius value error!", "R", R, radii_.front(), radii_.back());
  const int32_t c = RadialCell(R);
  const int32_t f = RingCell(theta);
  const double s = (R - radii_[c]) * radialInv_[c];
  const double t = (theta - ring_[f]) * ringInv_[f];
  const double* C = &patches_[(static_cast<std::size_t>(c) * ringCells_ + f) * 16];
  double q[4], dq[4];
  for (int pw = 0; pw < 4; ++pw) {
    const double* row = C + 4 * pw;
    q[pw] = row[0] + t * (row[1] + t * (row[2] + t * row[3]));
    dq[pw] = row[1] + t * (2.0 * row[2] + t * (3.0 * row[3]));
  }
  // The value as Evaluate gives it; the derivatives are those of the cell's patch.
  B = Value(R, theta, c, f);
  dBdR = (q[1] + s * (2.0 * q[2] + s * (3.0 * q[3]))) * radialInv_[c];
  dBdTheta = (dq[0] + s * (dq[1] + s * (dq[2] + s * dq[3]))) * ringInv_[f];
  return {};
}

}  // namespace zuba
