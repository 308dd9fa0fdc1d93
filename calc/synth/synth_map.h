// Synthetic field maps of an N-sector isochronous cyclotron, written as *.sdf text: the maps that
// users and tests can run on without a measured magnet.
//
// Model, in the median plane, for an ion of rest mass m0 and charge q at RF frequency Frf and
// harmonic H:
//   B(R, θ) = s · B̄(R) · P(R, N·(θ − ξ(R)))      P: azimuthal shape, mean 1 over the turn
//   ω0 = 2π·Frf/H,  B0 = m0·ω0/|q|,  R∞ = c/ω0,  γ(R) = 1/√(1 − (R/R∞)²)
//   B̄(R) = B0 · γ(R) · (1 + κ(R))
//   ξ(R) = ξmax · (R/Rmax)²                   spiral of the hills
//   s    = sign of q, so that q·B > 0.
// Two shapes:
// - sinusoidal flutter (the default): P = 1 + f(R)·cos φ, f(R) = f∞ · (1 − exp(−(R/Rf)²)), near 0
//   at the centre;
// - separated-sector hills (hill fraction set): one hill per sector, covering the hill fraction
//   h of the sector between its half-field points, valleys at v × the hill field, joined by
//   tanh edges whose field rises from 10 % to 90 % of the step over the edge width w, measured
//   across the spiral edge:
//     S(φ) = Σk ½·[tanh((φ + 2πk + πh)/a) − tanh((φ + 2πk − πh)/a)],
//     a(R) = N·w/(2·artanh(0.8)·R·cos ε(R)),  tan ε = R·dξ/dR (the spiral angle of the edge),
//     P    = 1 + g(R)·(1 − v)·(S − h)/(v + (1 − v)·h),  g(R) = 1 − exp(−(R/Rf)²).
//   S has mean h over the turn, so P has mean 1; the hill field is B̄·P ≈ B̄/(v + (1 − v)·h).
// κ(R) is the flutter correction of the mean field: the scalloped closed orbit of an energy does
// not see the mean field of the circle of that energy, and with B̄ = B0·γ alone it turns faster
// than ω0 (by 0.5 % at 60 MeV in the sinusoidal proton example, by 1.1 to 1.4 % in the ring).
// κ is found numerically: for mean radii ρ on a fine grid, the closed orbit of the energy
// β = ρ/R∞ is tracked through the analytic field, and κ(ρ) is scaled by the ratio of its turn
// time to 2π/ω0 until every closed orbit turns in 2π/ω0 within 1e-9 (an orbit of β = ρ/R∞ that
// turns at ω0 is exactly one of length 2πρ). The hill model fits κ as a smooth series instead
// (see FitHillCorrection).
// With a uniform field B_u the model is s·|B_u|·P, without γ and κ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"
#include "results/run_parameters.h"

namespace zuba {

struct SynthMapOptions {
  // Ion and accelerating voltage (the "TVK-310: p" preset unless set otherwise).
  double frfMhz = 26.26;             // MHz
  int32_t harmonic = 1;              // H
  int32_t sectors = 4;               // N
  double massSamu = 1.007276466812;  // samu
  int32_t chargeNumber = 1;          // |q| in elementary charges
  bool negativeIon = false;          // a negative ion gets a negative field
  // Mesh, as written into the header.
  double rMin = 0.05, rMax = 0.75, dR = 0.01;       // m
  double thetaMin = 0, thetaMax = 360, dTheta = 2;  // degree
  std::string unit = "Gs";                          // "Gs" or "T"
  // Field shape.
  double flutter = 0.4;         // f∞, flutter amplitude far from the centre
  double flutterRadius = 0.15;  // m, Rf: f reaches 63 % of f∞ at this radius
  double spiral = 0;            // degree, hill azimuth shift ξ at rMax
  // Separated-sector hills instead of the sinusoidal flutter (flutter is then not used; the
  // hills grow in from the centre with flutterRadius).
  std::optional<double> hillFraction;  // h, azimuthal fraction of a sector covered by the hill
  double valleyField = 0;              // v, valley field / hill field
  double edgeWidth = 0.1;              // m, w, 10 % to 90 % of the edge, across the edge
  std::optional<double> uniformField;  // T: uniform mean field, no γ(R), no correction
  bool flutterCorrection = true;       // κ(R) as above; off: B̄ = B0·γ(R)
  // Added to the sampled field (not to the model the correction is made for): the azimuthally
  // uniform field of trim coils, given as a function of radius (T at r in m); e.g. a known
  // disturbance that a fit should find again.
  std::function<double(double)> addedField;
};

// Sets the ion and RF options from an operating-mode preset; false for an unknown label.
bool SynthOptionsFromPreset(std::string_view label, SynthMapOptions& options);
// The same from run parameters (a machine file's).
void SynthOptionsFromRun(const RunParameters& run, SynthMapOptions& options);

// A closed orbit of the analytic field (for checks of the model and the summary of a map).
struct SynthOrbit {
  bool found = false;
  double meanRadius = 0;   // m, mean over azimuth
  double minRadius = 0;    // m
  double maxRadius = 0;    // m
  double periodRatio = 0;  // turn time × ω0 / 2π: 1 for an isochronous orbit
};

// The analytic field of the model, ready to be sampled.
class SynthField {
 public:
  // Checks the options and, unless disabled, finds the flutter correction. A failure is a
  // one-line reason naming the option at fault.
  static Result<SynthField> Make(const SynthMapOptions& options);

  double Field(double r, double theta) const;  // T at radius r (m), azimuth theta (rad)
  double MeanField(double r) const;            // T, s·B̄(r)
  // Amplitude of the azimuthal variation relative to the mean, √(2·FlutterVariance(r)): f(r)
  // of the sinusoidal model.
  double Flutter(double r) const;
  double FlutterVariance(double r) const;  // ⟨B²⟩/⟨B⟩² − 1 over the azimuth at r
  double SpiralAngle(double r) const;      // rad, ε(r) of the hill edges
  double Correction(double r) const;       // κ(r)
  double B0() const { return b0_; }        // T, magnitude
  double RInfinity() const { return rInfinity_; }  // m
  double Omega0() const { return omega0_; }        // rad/s
  // The closed orbit of kinetic energy ek (J) near mean radius β·R∞.
  SynthOrbit ClosedOrbit(double ek) const;

 private:
  // Field relative to s·B0 (uniform: relative to s·|B_u|), and its mean over azimuth.
  double Relative(double r, double theta) const;
  double MeanRelative(double r) const;
  // P(r, φ) of the hill model, φ = N·(θ − ξ(r)).
  double HillShape(double r, double phi) const;
  double HillEdge(double r) const;  // a(r), the edge scale in φ
  double Growth(double r) const;    // g(r) of the hill model
  // κ(r) / CorrectionScale(r), the slowly varying factor that the grid holds; the scale is the
  // square of the flutter f(r) (sinusoidal) or of the growth g(r) (hills), 0 at the centre.
  double CorrectionShape(double r) const;
  double CorrectionScale(double r) const;
  // Where a closed orbit starts: radius (m), dR/dτ (m/rad) and azimuth (rad), r = 0: none; and
  // the matrix of its one-sector map minus the identity, 0: none.
  struct OrbitStart {
    double r = 0, vr = 0, theta = 0;
    double a11 = 0, a12 = 0, a21 = 0, a22 = 0;
  };
  // The closed orbit of speed S = β·R∞ and energy factor γE; from start where it holds one,
  // which then receives the start of the closed orbit found.
  SynthOrbit ClosedOrbitOfSpeed(double speed, double gammaE, OrbitStart* start = nullptr) const;
  struct SectorTrack;
  // The orbit of that speed over one sector from (r0, vr0) at theta0, the field scaled by
  // `scale` (1/γE, times |B_u|/B0 for a uniform field).
  SectorTrack TrackSector(double r0, double vr0, double theta0, double speed, double scale) const;
  double BendingRadius(double speed, double scale) const;

  // The flutter correction κ (synth_correction.cpp). The sinusoidal model's: node values on a
  // grid of mean radii, with the turn-time ratio of the closed orbit of node j, and of every node
  // (the worst |ratio − 1|, or -1 and `error` where a node has no closed orbit), and Newton steps
  // on the node values where local updates leave the ratios off by more than the tolerance.
  Outcome FitFlutterCorrection();
  bool GridRatio(size_t j, double& ratio) const;
  double GridRatios(std::vector<double>& ratio, std::string& error) const;
  Outcome NewtonCorrection(double top, std::vector<double>& ratio, double worst);
  // The hill model's: a Chebyshev series fitted to the turn times of sampled orbits; rMin as the
  // reader sees it.
  struct HillSamples;
  Outcome FitHillCorrection(double rMin);
  void UseHillTerms(HillSamples& samples, const std::vector<double>& terms);
  Outcome HillRatios(HillSamples& samples, std::vector<double>& ratio) const;
  Outcome HillSensitivities(HillSamples& samples);
  Result<bool> HillStep(HillSamples& samples, double worst);

  SynthMapOptions options_;
  double b0_ = 0, rInfinity_ = 0, omega0_ = 0, sign_ = 1, restEnergy_ = 0;
  double spiralRad_ = 0;
  bool hills_ = false;
  // Fourth-order Runge-Kutta steps in θ of a closed orbit over one sector.
  int stepsPerSector_ = 256;
  std::vector<double> gridRadii_;       // m, grid of κ, uniform
  std::vector<double> gridCorrection_;  // κ/f² (hills: κ/g²) at the grid radii
};

struct SynthMapText {
  std::string text;  // the *.sdf file content
  SynthField field;
};

// Samples the model on the mesh of the options, exactly at the nodes the reader will build, and
// writes the values to the resolution the reader keeps (0.1 Gs or 1e-5 T).
Result<SynthMapText> SynthesizeMap(const SynthMapOptions& options);

// Writes the map of the options to path (atomically); a failure is a one-line reason.
Outcome WriteSynthMap(const SynthMapOptions& options, const std::string& path);

}  // namespace zuba
