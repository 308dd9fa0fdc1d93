// Closed orbits for other programs (see orbit_coordinates.h).
#include "calc/run/orbit_coordinates.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/diagnostics.h"
#include "calc/run/run_map.h"
#include "numerics/constants.h"
#include "numerics/kinematics.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// Cubic Hermite basis on t in [0, 1] over an interval of length h: the value from the end values
// and slopes.
double Hermite(double t, double h, double y0, double y1, double s0, double s1) {
  const double t2 = t * t, t3 = t2 * t;
  return (2 * t3 - 3 * t2 + 1) * y0 + (t3 - 2 * t2 + t) * h * s0 + (-2 * t3 + 3 * t2) * y1 +
         (t3 - t2) * h * s1;
}

// Its derivative with respect to the abscissa.
double HermiteSlope(double t, double h, double y0, double y1, double s0, double s1) {
  const double t2 = t * t;
  return ((6 * t2 - 6 * t) * (y0 - y1)) / h + (3 * t2 - 4 * t + 1) * s0 + (3 * t2 - 2 * t) * s1;
}

// The cubic through four points (x[j], y[j]) at x, in the Lagrange form.
double Cubic(const double (&x)[4], const double (&y)[4], double at) {
  double sum = 0;
  for (int j = 0; j < 4; ++j) {
    double weight = 1;
    for (int m = 0; m < 4; ++m)
      if (m != j) weight *= (at - x[m]) / (x[j] - x[m]);
    sum += weight * y[j];
  }
  return sum;
}

std::string Digits17(double value) {
  return FormatNumber(value, Significant(17));
}

// An azimuth or step as given, for a refusal.
std::string AngleText(double degrees) {
  return FormatNumber(degrees, Significant(10));
}

}  // namespace

StoredOrbit StoredOrbitOf(const ResultTables& r, const std::vector<SampleSpan>& spans, int64_t i) {
  if (i < 0 || i >= std::ssize(spans)) return {};
  const SampleSpan s = spans[static_cast<size_t>(i)];
  // OrbitSpans checks R, theta and vR; w must hold the span too.
  if (s.count <= 0 || s.first + s.count > r.OrbitOmega.size()) return {};
  const size_t first = static_cast<size_t>(s.first), count = static_cast<size_t>(s.count);
  return StoredOrbit{
      r.OrbitR.values().subspan(first, count), r.OrbitVr.values().subspan(first, count),
      r.OrbitTheta.values().subspan(first, count), r.OrbitOmega.values().subspan(first, count)};
}

OrbitCurve::OrbitCurve(StoredOrbit orbit) : orbit_(orbit) {}

bool OrbitCurve::IsCurve(const StoredOrbit& o) {
  const size_t n = o.size();
  if (n < 4 || o.vR.size() != n || o.theta.size() != n || o.w.size() != n) return false;
  for (size_t k = 0; k < n; ++k) {
    if (!(o.R[k] > 0) || !(o.w[k] > 0) || !std::isfinite(o.vR[k]) || !std::isfinite(o.R[k]))
      return false;
    if (k > 0 && !(o.theta[k] > o.theta[k - 1])) return false;
  }
  return o.theta[n - 1] - o.theta[0] >= kTwoPi * (1 - 1e-12);
}

double OrbitCurve::U(size_t k) const {
  // The velocity in the orbit's plane has the radial part vR and the azimuthal part R w.
  return orbit_.vR[k] / std::hypot(orbit_.vR[k], orbit_.R[k] * orbit_.w[k]);
}

OrbitCurve::Interval OrbitCurve::Locate(double theta) const {
  const std::span<const double> th = orbit_.theta;
  const double first = th.front();
  double x = first + std::fmod(std::fmod(theta - first, kTwoPi) + kTwoPi, kTwoPi);
  if (x >= first + kTwoPi) x = first;  // the fmod of a tiny negative difference
  const auto upper = std::upper_bound(th.begin(), th.end(), x);
  const size_t k =
      std::clamp<size_t>(static_cast<size_t>(upper - th.begin()), 1, th.size() - 1) - 1;
  return {k, x};
}

double OrbitCurve::RadiusAt(size_t k, double x) const {
  const double h = orbit_.theta[k + 1] - orbit_.theta[k];
  const double t = (x - orbit_.theta[k]) / h;
  return Hermite(t, h, orbit_.R[k], orbit_.R[k + 1], Slope(k), Slope(k + 1));
}

double OrbitCurve::SlopeAt(size_t k, double x) const {
  const double h = orbit_.theta[k + 1] - orbit_.theta[k];
  const double t = (x - orbit_.theta[k]) / h;
  return HermiteSlope(t, h, orbit_.R[k], orbit_.R[k + 1], Slope(k), Slope(k + 1));
}

OrbitPoint OrbitCurve::At(double theta) const {
  const Interval at = Locate(theta);
  // The four samples around the interval, shifted inside the stored ones at the ends.
  const size_t n = orbit_.size();
  const size_t first = std::min(at.k > 0 ? at.k - 1 : 0, n - 4);
  double x[4], u[4];
  for (size_t j = 0; j < 4; ++j) {
    x[j] = orbit_.theta[first + j];
    u[j] = U(first + j);
  }
  return OrbitPoint{theta, RadiusAt(at.k, at.x), Cubic(x, u, at.x)};
}

OrbitShape OrbitCurve::Shape() const {
  // Over each interval the corrected trapezoid rule (h/2)(f0 + f1) + (h^2/12)(f0' - f1'), exact
  // for cubics, with f = R, R cos(theta), R sin(theta) and their slopes from R and dR/dtheta at
  // the samples. The last interval ends at one turn after the first sample (inside it for an
  // orbit of the standard search, whose last sample lies beyond the turn).
  const std::span<const double> th = orbit_.theta;
  const double end = th.front() + kTwoPi;
  double sum0 = 0, sumC = 0, sumS = 0;
  auto valueAndSlope = [](double R, double dR, double theta, double& c, double& s, double& dc,
                          double& ds) {
    const double cosT = std::cos(theta), sinT = std::sin(theta);
    c = R * cosT;
    s = R * sinT;
    dc = dR * cosT - R * sinT;
    ds = dR * sinT + R * cosT;
  };
  for (size_t k = 0; k + 1 < orbit_.size() && th[k] < end; ++k) {
    const double theta1 = std::min(th[k + 1], end);
    const double h = theta1 - th[k];
    const double R0 = orbit_.R[k], dR0 = Slope(k);
    const double R1 = th[k + 1] <= end ? orbit_.R[k + 1] : RadiusAt(k, theta1);
    const double dR1 = th[k + 1] <= end ? Slope(k + 1) : SlopeAt(k, theta1);
    double c0, s0, dc0, ds0, c1, s1, dc1, ds1;
    valueAndSlope(R0, dR0, th[k], c0, s0, dc0, ds0);
    valueAndSlope(R1, dR1, theta1, c1, s1, dc1, ds1);
    const double hh = h * h / 12;
    sum0 += h / 2 * (R0 + R1) + hh * (dR0 - dR1);
    sumC += h / 2 * (c0 + c1) + hh * (dc0 - dc1);
    sumS += h / 2 * (s0 + s1) + hh * (ds0 - ds1);
  }
  return OrbitShape{sum0 / kTwoPi, sumC / kPi, sumS / kPi};
}

InterpolationError OrbitInterpolationError(const StoredOrbit& orbit) {
  InterpolationError error;
  const size_t n = orbit.size();
  if (!OrbitCurve::IsCurve(orbit) || n < 9) return error;
  // Every other sample: R, vR, theta, w of the even samples, and the last one (the turn's end)
  // where the turn has an odd number of sample intervals.
  std::vector<double> R, vR, theta, w;
  auto keep = [&](size_t k) {
    R.push_back(orbit.R[k]);
    vR.push_back(orbit.vR[k]);
    theta.push_back(orbit.theta[k]);
    w.push_back(orbit.w[k]);
  };
  for (size_t k = 0; k < n; k += 2) keep(k);
  if (n % 2 == 0) keep(n - 1);
  const StoredOrbit coarse{R, vR, theta, w};
  if (theta.back() - theta.front() < kTwoPi * (1 - 1e-12)) return error;
  const OrbitCurve full(orbit), half(coarse);
  for (size_t k = 1; k + 1 < n && orbit.theta[k] < theta.back(); k += 2) {
    const OrbitPoint exact{orbit.theta[k], orbit.R[k], full.At(orbit.theta[k]).u};
    const OrbitPoint guess = half.At(orbit.theta[k]);
    error.R = std::max(error.R, std::fabs(guess.R - exact.R));
    error.u = std::max(error.u, std::fabs(guess.u - exact.u));
  }
  return error;
}

Result<RunOrbitField> RunOrbitField::Of(const PreparedRun& run) {
  Result<OrbitInputs> inputs = PrepareOrbitInputs(run);
  if (!inputs) return inputs.failure();
  Result<FieldPatches> patches =
      FieldPatches::Build(inputs->radialSteps, run.radii, run.azimuths, run.field, inputs->moments);
  if (!patches) return patches.failure();
  RunOrbitField out;
  out.constants_ = inputs->constants;
  out.constants_.tolerance = kDefaultPreciseTolerance;
  out.field_ = std::make_shared<const FieldPatches>(std::move(*patches));
  return out;
}

Result<OrbitPoint> RunOrbitField::Follow(double Ek, double R, double vR, double theta0,
                                         double theta) const {
  const Kinematics k = KinematicsOf(Ek, constants_.E0);
  const double V = k.beta * constants_.rInfinity;  // m/rad
  OrbitPoint at{theta, R, vR / V};
  if (!(theta - theta0 > 1e-12)) return at;
  OrbitSamples samples;
  PreciseTurn turn;
  if (Outcome o = TrackPreciseArc(constants_, *field_, k.E, V, R, vR, theta0, theta - theta0,
                                  samples, turn);
      !o)
    return o.failure();
  at.R = turn.Rend;
  at.u = turn.vRend / V;
  return at;
}

Result<RunOrbitField> RunOrbitFieldOf(const ResultTables& r, const std::string& documentFolder) {
  if (!r.mapFile.known())
    return ErrorFailure("the record does not know the contents of its map file", "map");
  for (const std::string& candidate : RunMapCandidates(r.run.Path, documentFolder)) {
    struct stat info {};
    if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    const FileStamp stamp = StampFile(candidate);
    if (!stamp.SameContents(r.mapFile))
      return ErrorFailure("the field map " + candidate + " has changed since the run", "map");
    Result<FieldMap> map = ReadRunMapFile(candidate, r);
    if (!map) return map.failure();
    Result<SharedRun> run = PrepareCalculation(r.run, std::move(*map), r.mapReading, stamp);
    if (!run) return run.failure();
    return RunOrbitField::Of(**run);
  }
  return ErrorFailure("the field map " + r.run.Path + " is gone", "map");
}

Outcome CheckOrbitRequest(const OrbitRequest& request) {
  if (!(request.thetaDeg >= 0 && request.thetaDeg < 360))
    return ErrorFailure(
        "--theta " + AngleText(request.thetaDeg) + ": the azimuth must lie in [0, 360) degrees",
        "theta", request.thetaDeg, 0, 360);
  if (request.gridDeg) {
    const double d = *request.gridDeg;
    const double steps = std::round(360 / d);
    if (!(d > 0) || !(steps >= 1) || !(std::fabs(steps * d - 360) <= 1e-9))
      return ErrorFailure("--grid " + AngleText(d) +
                              ": the step must be positive and divide 360 degrees into a whole "
                              "number of steps",
                          "grid", d);
  }
  return {};
}

namespace {

// Energy i of a record at the requested azimuth and grid: followed in the field from the stored
// sample at or before each azimuth where there is a field, else interpolated (error adds to the
// estimate of the interpolation error).
void ExportOrbit(const ResultTables& r, const StoredOrbit& orbit, int64_t i, double theta,
                 int64_t gridSteps, const RunOrbitField* field, ExportedOrbit& e,
                 InterpolationError& estimated) {
  const OrbitCurve curve(orbit);
  auto at = [&](double azimuth) {
    if (field != nullptr) {
      const std::span<const double> th = orbit.theta;
      double x = th.front() + std::fmod(std::fmod(azimuth - th.front(), kTwoPi) + kTwoPi, kTwoPi);
      if (x >= th.front() + kTwoPi) x = th.front();
      const size_t k =
          static_cast<size_t>(std::upper_bound(th.begin(), th.end(), x) - th.begin()) - 1;
      if (Result<OrbitPoint> p = field->Follow(r.Ek[i], orbit.R[k], orbit.vR[k], th[k], x)) {
        p->theta = azimuth;
        return *p;
      }
    }
    return curve.At(azimuth);
  };
  e.at = at(theta);
  if (field == nullptr) {
    const InterpolationError error = OrbitInterpolationError(orbit);
    estimated.R = std::max(estimated.R, error.R / 8);
    estimated.u = std::max(estimated.u, error.u / 8);
  }
  e.shape = curve.Shape();
  for (int64_t k = 0; k < gridSteps; ++k)
    e.grid.push_back(at(kTwoPi * static_cast<double>(k) / static_cast<double>(gridSteps)));
}

}  // namespace

Result<OrbitCoordinates> OrbitCoordinatesOf(const ResultTables& r, const OrbitRequest& request,
                                            const RunOrbitField* field) {
  if (Outcome checked = CheckOrbitRequest(request); !checked) return checked;
  const ClosureColumns closure = ClosureColumnsOf(r, kDefaultGainPerTurnMeV);
  const std::vector<SampleSpan> spans = OrbitSpans(r);
  const double E0 = RestEnergy(r.run.m0 * kKilogramsPerSamu);  // J
  const double theta = Radians(request.thetaDeg);              // rad
  const int64_t gridSteps = request.gridDeg ? std::llround(360 / *request.gridDeg) : 0;
  if (r.closure.mode != static_cast<int32_t>(ClosureMode::Precise)) field = nullptr;

  OrbitCoordinates out;
  out.request = request;
  bool anyClosed = false;
  for (int64_t i = 0; i < r.Ek.size(); ++i) {
    ExportedOrbit e;
    e.EkMeV = JoulesToMeV(r.Ek[i]);
    const int32_t status = i < std::ssize(closure.status) ? closure.status[i] : 0;
    e.status = ClosureStatusText(status);
    const StoredOrbit orbit = StoredOrbitOf(r, spans, i);
    e.hasValues = (status & kClosureStatusBits) == 0 && closure.HasValues(i) &&
                  OrbitCurve::IsCurve(orbit) && E0 > 0;
    if (e.hasValues) {
      anyClosed = true;
      e.betaGamma = KinematicsOf(r.Ek[i], E0).pc / E0;
      ExportOrbit(r, orbit, i, theta, gridSteps, field, e, out.estimated);
    }
    out.energies.push_back(std::move(e));
  }
  if (!anyClosed)
    return ErrorFailure("the record holds no closed orbit: no energy has one to export", "orbits");
  if (out.estimated.R > kOrbitRadiusAccuracy || out.estimated.u > kOrbitDirectionAccuracy) {
    char line[240];
    std::snprintf(line, sizeof line,
                  "The orbit samples lie too far apart for 1 um and 1e-7: R and u between them "
                  "are interpolated to about %.1e m and %.1e (estimated from the samples)",
                  out.estimated.R, out.estimated.u);
    out.accuracy = line;
  }
  return out;
}

std::string OrbitCoordinatesTable(const OrbitCoordinates& orbits) {
  std::string text = "Ek_MeV\ttheta_deg\tR_m\tpr_bg\tu\tRmean_m\txc_m\tyc_m\tstatus\n";
  const OrbitRequest& request = orbits.request;
  const int64_t gridSteps = request.gridDeg ? std::llround(360 / *request.gridDeg) : 0;
  auto row = [&](const ExportedOrbit& e, double thetaDeg, const OrbitPoint* p) {
    text += Digits17(e.EkMeV) + '\t' + Digits17(thetaDeg);
    if (p == nullptr) {
      text += "\t\t\t\t\t\t\t" + e.status + '\n';
      return;
    }
    for (double value : {p->R, e.PrBg(*p), p->u, e.shape.Rmean, e.shape.xc, e.shape.yc})
      text += '\t' + Digits17(value);
    text += '\t' + e.status + '\n';
  };
  for (const ExportedOrbit& e : orbits.energies) {
    if (gridSteps == 0) {
      row(e, request.thetaDeg, e.hasValues ? &e.at : nullptr);
      continue;
    }
    for (int64_t k = 0; k < gridSteps; ++k) {
      const double thetaDeg = 360.0 * static_cast<double>(k) / static_cast<double>(gridSteps);
      row(e, thetaDeg, e.hasValues ? &e.grid[static_cast<size_t>(k)] : nullptr);
    }
  }
  return text;
}

}  // namespace zuba
