// Synthetic isochronous field maps: the analytic model, its flutter correction, and the *.sdf text.
#include "calc/synth/synth_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "calc/maps/sdf_writer.h"
#include "calc/run/run_quantities.h"
#include "numerics/kinematics.h"
#include "numerics/runge_kutta.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "results/run_parameters.h"

namespace zuba {
namespace {

// The reader keeps header values to 0.001 (m or degree), halves away from zero.
double RoundHeader(double x) {
  return std::round(x * 1000) * 0.001;
}

std::string Num(double value, NumberFormat format = Significant(6)) {
  return FormatNumber(value, format);
}

// The options of the model: the RF, the ion, the unit, the flutter or the hills, the uniform field.
Outcome CheckModelOptions(const SynthMapOptions& o) {
  if (!(o.frfMhz > 0) || !std::isfinite(o.frfMhz))
    return ErrorFailure("RF frequency " + Num(o.frfMhz) + " MHz: allowed a finite number above 0");
  if (o.harmonic < 1)
    return ErrorFailure("harmonic number " + std::to_string(o.harmonic) + ": allowed 1 or more");
  if (o.sectors < 2)
    return ErrorFailure("sector count " + std::to_string(o.sectors) + ": allowed 2 or more");
  if (!(o.massSamu > 0) || !std::isfinite(o.massSamu))
    return ErrorFailure("rest mass " + Num(o.massSamu) + " samu: allowed a finite number above 0");
  if (o.chargeNumber < 1)
    return ErrorFailure("charge number " + std::to_string(o.chargeNumber) + ": allowed 1 or more");
  if (o.unit != "Gs" && o.unit != "T")
    return ErrorFailure("unit \"" + o.unit + "\": allowed Gs or T");
  if (!(o.flutter >= 0 && o.flutter < 1))
    return ErrorFailure("flutter " + Num(o.flutter) + ": allowed 0 up to (not including) 1");
  if (!(o.flutterRadius > 0) || !std::isfinite(o.flutterRadius))
    return ErrorFailure("flutter radius " + Num(o.flutterRadius) +
                        " m: allowed a finite number above 0");
  if (!std::isfinite(o.spiral))
    return ErrorFailure("spiral " + Num(o.spiral) + " degree: not a number");
  if (o.hillFraction) {
    if (!(*o.hillFraction > 0 && *o.hillFraction < 1))
      return ErrorFailure("hill fraction " + Num(*o.hillFraction) +
                          ": allowed above 0 and below 1");
    if (!(o.valleyField >= 0 && o.valleyField < 1))
      return ErrorFailure("valley field " + Num(o.valleyField) +
                          " of the hill field: allowed 0 up to (not including) 1");
    if (!(o.edgeWidth > 0) || !std::isfinite(o.edgeWidth))
      return ErrorFailure("edge width " + Num(o.edgeWidth) + " m: allowed a finite number above 0");
  }
  if (o.uniformField && (!std::isfinite(*o.uniformField) || *o.uniformField == 0))
    return ErrorFailure("uniform field " + Num(*o.uniformField) +
                        " T: allowed a finite non-zero number");
  return {};
}

// The mesh as the reader will see it: one full turn, at most 50 million nodes.
Outcome CheckSynthMesh(const SynthMapOptions& o) {
  const double rMin = RoundHeader(o.rMin), rMax = RoundHeader(o.rMax), dR = RoundHeader(o.dR);
  const double tMin = RoundHeader(o.thetaMin), tMax = RoundHeader(o.thetaMax);
  const double dT = RoundHeader(o.dTheta);
  if (!(rMin >= 0 && rMin < rMax && dR > 0) || !std::isfinite(rMax))
    return ErrorFailure("radius mesh " + Num(rMin) + " .. " + Num(rMax) + " step " + Num(dR) +
                        " m: allowed 0 <= r-min < r-max, step above 0 (to 0.001 m)");
  if (!(std::isfinite(tMin) && std::isfinite(tMax) && dT > 0 && tMin + 360 - dT / 2 < tMax &&
        tMax < tMin + 360 + dT / 2 && std::round((tMax - tMin) / dT) >= 1))
    return ErrorFailure("azimuth mesh " + Num(tMin) + " .. " + Num(tMax) + " step " + Num(dT) +
                        " degree: must cover one full turn (theta-max = theta-min + 360)");
  if ((std::round((rMax - rMin) / dR) + 1) * std::round((tMax - tMin) / dT) > 5e7)
    return ErrorFailure("mesh of more than 50 million nodes");
  return {};
}

// State of the orbit in θ as the independent variable: R (m), vR = dR/dτ (m/rad), w = dθ/dτ,
// τ (rad of the ideal revolution).
using State = std::array<double, 4>;

}  // namespace

bool SynthOptionsFromPreset(std::string_view label, SynthMapOptions& options) {
  RunParameters p;
  if (!ApplyPreset(label, p)) return false;
  SynthOptionsFromRun(p, options);
  return true;
}

void SynthOptionsFromRun(const RunParameters& p, SynthMapOptions& options) {
  options.frfMhz = p.Frf;
  options.harmonic = p.H;
  options.sectors = p.N;
  options.massSamu = p.m0;
  options.chargeNumber = p.Q;
  options.negativeIon = p.ChargeSign == 1;
}

Result<SynthField> SynthField::Make(const SynthMapOptions& o) {
  if (Outcome model = CheckModelOptions(o); !model) return model;
  if (Outcome mesh = CheckSynthMesh(o); !mesh) return mesh;
  const double rMin = RoundHeader(o.rMin), rMax = RoundHeader(o.rMax);

  SynthField f;
  f.options_ = o;
  f.options_.rMax = rMax;
  f.omega0_ = kTwoPi * (o.frfMhz * 1000000) / o.harmonic;    // rad/s
  f.rInfinity_ = kSpeedOfLight / f.omega0_;                  // m
  const double mass = o.massSamu * kKilogramsPerSamu;        // kg
  const double charge = o.chargeNumber * kElementaryCharge;  // C, magnitude
  f.b0_ = mass * f.omega0_ / charge;                         // T
  f.restEnergy_ = std::pow(kSpeedOfLight, 2) * mass;         // J
  f.sign_ = o.negativeIon ? -1.0 : 1.0;
  f.spiralRad_ = Radians(o.spiral);
  f.hills_ = o.hillFraction.has_value();
  if (f.hills_) {
    // The closed orbits cross the edges: at least 8 steps per edge scale a at the last radius,
    // where the edges are narrowest in azimuth (κ then moves by less than 1e-9 with more).
    const double edge = f.HillEdge(rMax) / o.sectors;  // rad of θ
    const double steps = std::ceil(8 * kTwoPi / o.sectors / edge);
    f.stepsPerSector_ = static_cast<int>(std::clamp(steps, 256.0, 4096.0));
  }
  if (!o.uniformField && !(rMax < f.rInfinity_))
    return ErrorFailure("r-max " + Num(rMax) + " m reaches R_inf = c/omega0 = " +
                        Num(f.rInfinity_) + " m, where no isochronous field exists");

  if (o.uniformField || !o.flutterCorrection || (!f.hills_ && o.flutter == 0)) return f;
  const Outcome corrected = f.hills_ ? f.FitHillCorrection(rMin) : f.FitFlutterCorrection();
  if (!corrected) return corrected.failure();
  return f;
}

double SynthField::Flutter(double r) const {
  if (hills_) return std::sqrt(2 * FlutterVariance(r));
  const double x = r / options_.flutterRadius;
  return options_.flutter * (1 - std::exp(-x * x));
}

double SynthField::FlutterVariance(double r) const {
  if (!hills_) {
    const double f = Flutter(r);
    return f * f / 2;
  }
  // From the Fourier series of the periodic tanh hill: the n-th cosine amplitude of S is
  // (2·sin(nπh)/(πn)) · (πna/2)/sinh(πna/2).
  const double h = *options_.hillFraction, v = options_.valleyField;
  const double depth = Growth(r) * (1 - v) / (v + (1 - v) * h);
  if (!(depth > 0)) return 0;
  const double a = HillEdge(r);
  double sum = 0;
  for (int n = 1;; ++n) {
    const double x = kPi * n * a / 2;
    if (x > 40) break;  // the remaining terms are below 1e-34
    const double soft = x < 1e-8 ? 1.0 : x / std::sinh(x);
    const double c = 2 * std::sin(n * kPi * h) / (kPi * n) * soft;
    sum += c * c / 2;
    if (n > 10000000) break;  // a hard edge: the sum converges as 1/n
  }
  return depth * depth * sum;
}

double SynthField::SpiralAngle(double r) const {
  const double rs = r / options_.rMax;
  return std::atan(2 * spiralRad_ * rs * rs);
}

double SynthField::HillEdge(double r) const {
  // a = N·w/(2·artanh(0.8)·R·cos ε), with 1/cos ε = √(1 + tan²ε); tanh(x/a) goes from −0.8 to
  // 0.8 over 2·artanh(0.8)·a.
  const double rs = r / options_.rMax;
  const double tanEdge = 2 * spiralRad_ * rs * rs;
  return options_.sectors * options_.edgeWidth * std::sqrt(1 + tanEdge * tanEdge) /
         (2 * std::atanh(0.8) * r);
}

double SynthField::Growth(double r) const {
  const double x = r / options_.flutterRadius;
  if (x > 6.2) return 1;  // exp(−x²) < 5e-17 vanishes from 1 − exp(−x²)
  return 1 - std::exp(-x * x);
}

double SynthField::HillShape(double r, double phi) const {
  const double h = *options_.hillFraction, v = options_.valleyField;
  const double depth = Growth(r) * (1 - v) / (v + (1 - v) * h);
  if (!(r > 0) || depth == 0) return 1;
  const double a = HillEdge(r);
  phi = std::remainder(phi, kTwoPi);  // [−π, π]
  double s = 0;
  if (a < 1) {
    // Images of one hill: those beyond k = ±K lie at least 2πK from φ and change S by less
    // than exp(−4πK/a) < 1e-17.
    const int images = std::max(1, static_cast<int>(std::ceil(10 * a / kPi)));
    for (int k = -images; k <= images; ++k) {
      const double x = phi + k * kTwoPi;
      s += 0.5 * (std::tanh((x + kPi * h) / a) - std::tanh((x - kPi * h) / a));
    }
  } else {
    // Wide edges (near the centre): the Fourier series converges faster than the images.
    s = h;
    for (int n = 1;; ++n) {
      const double x = kPi * n * a / 2;
      if (x > 40) break;
      s += 2 * std::sin(n * kPi * h) / (kPi * n) * (x / std::sinh(x)) * std::cos(n * phi);
    }
  }
  return 1 + depth * (s - h);
}

double SynthField::CorrectionScale(double r) const {
  const double scale = hills_ ? Growth(r) : Flutter(r);
  return scale * scale;
}

double SynthField::Correction(double r) const {
  if (gridRadii_.empty()) return 0;
  return CorrectionScale(r) * CorrectionShape(r);
}

double SynthField::CorrectionShape(double r) const {
  if (r <= gridRadii_.front()) return gridCorrection_.front();
  if (r >= gridRadii_.back()) return gridCorrection_.back();
  const double spacing = gridRadii_[1] - gridRadii_[0];
  const size_t i =
      std::min(static_cast<size_t>((r - gridRadii_.front()) / spacing), gridRadii_.size() - 2);
  const double t = (r - gridRadii_[i]) / (gridRadii_[i + 1] - gridRadii_[i]);
  // Catmull-Rom cubic through the nodes i-1 .. i+2, the end nodes repeated.
  const size_t last = gridRadii_.size() - 1;
  const double p0 = gridCorrection_[i == 0 ? 0 : i - 1], p1 = gridCorrection_[i];
  const double p2 = gridCorrection_[i + 1], p3 = gridCorrection_[std::min(i + 2, last)];
  return p1 +
         0.5 * t * (p2 - p0 + t * (2 * p0 - 5 * p1 + 4 * p2 - p3 + t * (3 * (p1 - p2) + p3 - p0)));
}

double SynthField::MeanRelative(double r) const {
  if (options_.uniformField) return 1;
  const double x = r / rInfinity_;
  const double gamma = 1 / std::sqrt(1 - x * x);
  return gamma * (1 + Correction(r));
}

double SynthField::Relative(double r, double theta) const {
  const double rs = r / options_.rMax;
  const double phase = spiralRad_ * rs * rs;
  if (hills_) return MeanRelative(r) * HillShape(r, options_.sectors * (theta - phase));
  return MeanRelative(r) * (1 + Flutter(r) * std::cos(options_.sectors * (theta - phase)));
}

double SynthField::MeanField(double r) const {
  const double scale = options_.uniformField ? std::fabs(*options_.uniformField) : b0_;
  return sign_ * scale * MeanRelative(r);
}

double SynthField::Field(double r, double theta) const {
  const double scale = options_.uniformField ? std::fabs(*options_.uniformField) : b0_;
  return sign_ * scale * Relative(r, theta);
}

SynthOrbit SynthField::ClosedOrbit(double ek) const {
  const Kinematics ion = KinematicsOf(ek, restEnergy_);
  return ClosedOrbitOfSpeed(ion.beta * rInfinity_, ion.gamma);
}

// One sector of an orbit: where it ends (R, dR/dτ, τ), its mean radius over the sector and its
// least and largest radius; ok false where it is lost (R or dθ/dτ not above 0).
struct SynthField::SectorTrack {
  bool ok = false;
  double r = 0, vr = 0, tau = 0, mean = 0, min = 0, max = 0;
};

SynthField::SectorTrack SynthField::TrackSector(double r0, double vr0, double theta0, double speed,
                                                double scale) const {
  const int n = options_.sectors;
  const double sector = kTwoPi / n;
  const double step = sector / stepsPerSector_;
  // Derivatives in θ; b = q·B/(γE·m0·ω0).
  auto motion = [&](double theta, const State& y, State& d) {
    const double b = scale * Relative(y[0], theta);
    const double r = y[0], vr = y[1], w = y[2];
    d = State{vr / w, r * (w - b), -(vr / (r * w)) * (2 * w - b), 1 / w};
    return true;
  };
  SectorTrack t;
  if (!(r0 > 0) || !(std::fabs(vr0) < speed)) return t;
  State y{r0, vr0, std::sqrt(speed * speed - vr0 * vr0) / r0, 0};
  double sum = 0.5 * r0;
  t.min = t.max = r0;
  for (int k = 0; k < stepsPerSector_; ++k) {
    // Fourth-order Runge-Kutta in θ with the stages holding slopes, as the precise closure.
    RungeKutta4<SlopeForm>::Step(motion, y, theta0 + k * step, step);
    if (!(y[0] > 0) || !(y[2] > 0) || !std::isfinite(y[1])) return t;
    sum += k + 1 < stepsPerSector_ ? y[0] : 0.5 * y[0];
    t.min = std::min(t.min, y[0]);
    t.max = std::max(t.max, y[0]);
  }
  t.ok = true;
  t.r = y[0];
  t.vr = y[1];
  t.tau = y[3];
  t.mean = sum / stepsPerSector_;
  return t;
}

// The radius of the circle whose mean field bends the speed (the field scaled by `scale`); not
// above 0 where there is none.
double SynthField::BendingRadius(double speed, double scale) const {
  double r0 = speed;
  for (int i = 0; i < 100; ++i) {
    const double next = speed / (scale * MeanRelative(r0));
    if (!std::isfinite(next) || !(next > 0)) break;
    if (std::fabs(next - r0) < 1e-15 * speed) return r0;
    r0 = next;
  }
  // Beyond R∞/√2 the mean field rises faster than 1/R and the iteration swings apart:
  // bisect R·B̄(R) = S below R∞, where it increases with R.
  double low = 0, high = options_.uniformField ? 2 * r0 : rInfinity_;
  for (int i = 0; i < 200 && high - low > 1e-15 * speed; ++i) {
    const double middle = 0.5 * (low + high);
    const double bent = middle * scale * MeanRelative(middle);
    if (!std::isfinite(bent) || bent > speed)
      high = middle;
    else
      low = middle;
  }
  return 0.5 * (low + high);
}

// Closed orbit of speed S = β·R∞ (m per radian of τ) and energy factor γE: the fixed point of the
// one-sector map of (R, vR) at the hill azimuth, by Newton's method. Over one sector the radial
// motion advances by about 2π/N of its oscillation, far from a whole turn, so the map minus the
// identity is well conditioned even where the radial tune is near 1.
SynthOrbit SynthField::ClosedOrbitOfSpeed(double speed, double gammaE, OrbitStart* start) const {
  SynthOrbit result;
  const int n = options_.sectors;
  const double scale =
      (options_.uniformField ? std::fabs(*options_.uniformField) / b0_ : 1.0) / gammaE;
  // Start at the circle whose mean field bends this speed, at the hill centre, unless a start
  // is given.
  const bool warm = start != nullptr && start->r > 0;
  const double r0Start = warm ? start->r : BendingRadius(speed, scale);
  if (!(r0Start > 0)) return result;
  double r0 = r0Start;
  const double rs = r0 / options_.rMax;
  const double theta0 = warm ? start->theta : spiralRad_ * rs * rs;
  double vr0 = warm ? start->vr : 0;
  // With a start its matrix of the map is kept while each step cuts the miss tenfold.
  double a11 = 0, a12 = 0, a21 = 0, a22 = 0;
  if (warm) a11 = start->a11, a12 = start->a12, a21 = start->a21, a22 = start->a22;
  double det = a11 * a22 - a12 * a21, lastMiss = HUGE_VAL;
  for (int iteration = 0; iteration < 40; ++iteration) {
    const SectorTrack base = TrackSector(r0, vr0, theta0, speed, scale);
    if (!base.ok) return result;
    const double f1 = base.r - r0, f2 = base.vr - vr0;
    if (std::fabs(f1) < 1e-13 * speed && std::fabs(f2) < 1e-13 * speed) {
      result.found = true;
      result.meanRadius = base.mean;
      result.minRadius = base.min;
      result.maxRadius = base.max;
      result.periodRatio = n * base.tau / kTwoPi;
      if (start) *start = OrbitStart{r0, vr0, theta0, a11, a12, a21, a22};
      return result;
    }
    const double miss = std::fabs(f1) + std::fabs(f2);
    if (!warm || !(std::fabs(det) > 0) || miss > 0.1 * lastMiss) {
      const double hr = 1e-7 * r0, hv = 1e-7 * speed;
      const SectorTrack dr = TrackSector(r0 + hr, vr0, theta0, speed, scale);
      const SectorTrack dv = TrackSector(r0, vr0 + hv, theta0, speed, scale);
      if (!dr.ok || !dv.ok) return result;
      a11 = (dr.r - r0 - hr - f1) / hr, a21 = (dr.vr - vr0 - f2) / hr;
      a12 = (dv.r - r0 - f1) / hv, a22 = (dv.vr - vr0 - hv - f2) / hv;
      det = a11 * a22 - a12 * a21;
      if (!(std::fabs(det) > 0)) return result;
    }
    lastMiss = miss;
    r0 -= (f1 * a22 - f2 * a12) / det;
    vr0 -= (a11 * f2 - a21 * f1) / det;
  }
  return result;
}

Result<SynthMapText> SynthesizeMap(const SynthMapOptions& options) {
  Result<SynthField> made = SynthField::Make(options);
  if (!made) return made.outcome();
  SynthMapText out;
  out.field = std::move(*made);
  const SynthField& field = out.field;
  const bool gauss = options.unit == "Gs";

  // Header and nodes exactly as the reader builds them from the rounded header values.
  const double rMin = RoundHeader(options.rMin), rMax = RoundHeader(options.rMax);
  const double dR = RoundHeader(options.dR);
  const double tMin = RoundHeader(options.thetaMin), tMax = RoundHeader(options.thetaMax);
  const double dT = RoundHeader(options.dTheta);
  const long long nR = std::llround((rMax - rMin) / dR) + 1;
  const long long nTheta = std::llround((tMax - tMin) / dT);

  std::string& text = out.text;
  text.reserve(static_cast<size_t>(nR * nTheta) * 9 + 100);
  text += options.unit + "\n";
  text += Num(rMin, Fixed(3)) + " " + Num(rMax, Fixed(3)) + " " + Num(dR, Fixed(3)) + "\n";
  text += Num(tMin, Fixed(3)) + " " + Num(tMax, Fixed(3)) + " " + Num(dT, Fixed(3)) + "\n";
  double r = rMin;  // m, running sum like the reader's radius table
  for (long long i = 0; i < nR; ++i, r = r + dR) {
    const double added = options.addedField ? options.addedField(r) : 0.0;  // T
    for (long long j = 0; j < nTheta; ++j) {
      const double theta = Radians(tMin + j * dT);  // rad, the file's own azimuth
      text += SdfValueText(field.Field(r, theta) + added, gauss);
      text += (j % 10 == 9 || j + 1 == nTheta) ? '\n' : ' ';
    }
  }
  return out;
}

Outcome WriteSynthMap(const SynthMapOptions& options, const std::string& path) {
  Result<SynthMapText> map = SynthesizeMap(options);
  if (!map) return map.outcome();
  if (Outcome written = WriteFileAtomically(path, map->text); !written)
    return ErrorFailure("cannot write " + path + ": " + written.message().text, path);
  return {};
}

}  // namespace zuba
