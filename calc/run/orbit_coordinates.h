// Closed orbits for other programs: the radius and direction of a stored closed orbit at any
// azimuth, its azimuthal mean radius and its centre, per energy of a record, and the table
// `zuba-cli orbits` writes.
//
// Where the accuracy comes from: a stored orbit holds, at every sample, R and dR/dtheta =
// vR / w exactly (from the integration), so R between two samples is the cubic Hermite
// interpolant of R and its slope, whose error is (dtheta)^4 / 384 times the largest fourth
// derivative of R(theta) in the interval; the direction u is the cubic through the four nearest
// samples, with an error of about (dtheta)^4 / 24 times the fourth derivative of u. On the samples
// of the standard search (every step of 1e-4 rad of tau) and of earlier versions' precise runs
// (every integration step) both lie below 1e-9 of the radius on the example maps, far below the
// 1 um and 1e-7 promised. A precise run keeps its samples on the map's azimuth grid (at most 2
// degrees apart), too coarse for 1e-7 in u: with the run's field at hand (RunOrbitField) its
// orbits are followed from the stored sample at or before the azimuth with the precise closure's
// own integration, and agree with the interpolation of every-step samples to about 1e-12. The
// interpolation takes any increasing azimuths (uniform or not); on samples much coarser than the
// field's edges its error grows as the fourth power of the spacing, and OrbitInterpolationError
// says how large it is.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "calc/orbits/orbit.h"
#include "calc/run/prepared_run.h"
#include "numerics/field_patches.h"
#include "platform/outcome.h"
#include "results/result_tables.h"

namespace zuba {

// One energy's stored orbit: its samples in the record's tables, in increasing azimuth, from the
// start azimuth over (at least) one turn.
struct StoredOrbit {
  std::span<const double> R;      // m
  std::span<const double> vR;     // m/rad, dR/dtau
  std::span<const double> theta;  // rad
  std::span<const double> w;      // 1, dtheta/dtau
  size_t size() const { return R.size(); }
};

// The stored orbit of energy i of a record (empty when the record holds no samples for it).
StoredOrbit StoredOrbitOf(const ResultTables& r, const std::vector<SampleSpan>& spans, int64_t i);

// A point of an orbit: the azimuth, the radius and u = p_R / p, the sine of the angle between the
// velocity and the circle through the point (positive outward).
struct OrbitPoint {
  double theta = 0;  // rad
  double R = 0;      // m
  double u = 0;      // 1
};

// The azimuthal mean radius (1/2 pi) int R dtheta and the centre xc = (1/pi) int R cos(theta)
// dtheta, yc = (1/pi) int R sin(theta) dtheta, over one turn in azimuth from the first sample.
struct OrbitShape {
  double Rmean = 0;  // m
  double xc = 0;     // m
  double yc = 0;     // m
};

// A stored orbit as a curve R(theta), u(theta) over one turn.
class OrbitCurve {
 public:
  // Needs at least two samples in strictly increasing azimuth spanning a turn (IsCurve).
  explicit OrbitCurve(StoredOrbit orbit);
  // Whether the samples make a curve of one turn: at least four, azimuths strictly increasing,
  // the last at least one turn after the first, R > 0 and w > 0 everywhere.
  static bool IsCurve(const StoredOrbit& orbit);

  // The orbit at azimuth theta (rad, any value: taken modulo one turn from the first sample).
  OrbitPoint At(double theta) const;
  // The mean radius and the centre, integrated over one turn of the Hermite interpolant.
  OrbitShape Shape() const;

 private:
  struct Interval {
    size_t k;  // the interval [theta[k], theta[k + 1]]
    double x;  // rad, the azimuth in the turn from the first sample
  };
  Interval Locate(double theta) const;
  double RadiusAt(size_t k, double x) const;
  double SlopeAt(size_t k, double x) const;  // dR/dtheta of the Hermite interpolant
  double Slope(size_t k) const { return orbit_.vR[k] / orbit_.w[k]; }
  double U(size_t k) const;

  StoredOrbit orbit_;
};

// The largest difference, over the intervals of a stored orbit, between the orbit's R and u
// interpolated from every other sample and the samples skipped: an upper estimate (16 times the
// spacing^4 error) of the interpolation error on the samples as stored.
struct InterpolationError {
  double R = 0;  // m
  double u = 0;  // 1
};
InterpolationError OrbitInterpolationError(const StoredOrbit& orbit);

// The field of a record's run, in which the stored closed orbits of a precise run are followed
// from a stored sample to any azimuth with the precise closure's equations and tolerance
// (TrackPreciseArc, calc/orbits/precise_orbit.h), instead of being interpolated between samples:
// a precise run keeps its samples on the map's azimuth grid (a degree or two apart on coarse
// maps), where interpolation alone gives u only to about 1e-6.
class RunOrbitField {
 public:
  // The field and the run constants of a prepared run.
  static Result<RunOrbitField> Of(const PreparedRun& run);
  // The orbit of kinetic energy Ek (J) through (R, vR) (m, m/rad) at theta0, followed to
  // theta >= theta0 (rad). Refused where it leaves the map.
  Result<OrbitPoint> Follow(double Ek, double R, double vR, double theta0, double theta) const;

 private:
  OrbitConstants constants_;
  std::shared_ptr<const FieldPatches> field_;
};

// The field of a saved record: its map file found as the views find it (RunMapCandidates) with the
// contents its run read (a record that does not know them is refused: its orbits are not followed
// in a map that may have changed), read with the record's reading options and prepared with its
// run parameters. Refused, one line, when there is none: then the orbits are interpolated.
Result<RunOrbitField> RunOrbitFieldOf(const ResultTables& r, const std::string& documentFolder);

// What `orbits` is asked for.
struct OrbitRequest {
  double thetaDeg = 0;            // degree, in [0, 360)
  std::optional<double> gridDeg;  // degree: the whole orbit on 0, D, ..., 360 - D
};

// Refuses an azimuth outside [0, 360) degrees or a grid step that is not positive or does not
// divide 360 degrees into a whole number of steps within 1e-9 degree; one line naming the value.
Outcome CheckOrbitRequest(const OrbitRequest& request);

// The orbit of one energy at the requested azimuth (and on the grid), for a closed orbit.
struct ExportedOrbit {
  double EkMeV = 0;
  std::string status;      // "closed", "not_closed", "singular", "failed"
  bool hasValues = false;  // a closed orbit with samples: the values below are set
  double betaGamma = 0;    // 1, p / (m0 c)
  OrbitPoint at;           // at the requested azimuth
  OrbitShape shape;
  std::vector<OrbitPoint> grid;  // with a grid: one point per grid azimuth

  double PrBg(const OrbitPoint& p) const { return betaGamma * p.u; }  // p_R / (m0 c)
};

// The accuracy promised for R and u at any azimuth.
inline constexpr double kOrbitRadiusAccuracy = 1e-6;  // m
inline constexpr double kOrbitDirectionAccuracy = 1e-7;

struct OrbitCoordinates {
  OrbitRequest request;
  std::vector<ExportedOrbit> energies;
  // The largest interpolation error of R and u over the energies, estimated from the samples as
  // OrbitInterpolationError / 8 (the error of a fourth-order interpolation shrinks 16-fold, that
  // of u somewhat less, when the spacing halves).
  InterpolationError estimated;
  // One line when the estimate exceeds kOrbitRadiusAccuracy or kOrbitDirectionAccuracy.
  std::optional<std::string> accuracy;
};

// The closed orbits of a record at the requested azimuth (in the map's frame after the reading
// options, as the run's azimuths are). With the record's field (a precise run's record only), R
// and u are followed from the stored sample at or before each azimuth; otherwise, and where that
// fails, interpolated between the samples. Refused: a request CheckOrbitRequest refuses, a record
// without a closed orbit.
Result<OrbitCoordinates> OrbitCoordinatesOf(const ResultTables& r, const OrbitRequest& request,
                                            const RunOrbitField* field = nullptr);

// The tab-separated table: a header line `Ek_MeV theta_deg R_m pr_bg u Rmean_m xc_m yc_m status`,
// then one row per energy (with a grid: per energy and grid azimuth), 17 significant digits;
// an energy without a closed orbit has its energy, azimuth and status and empty values.
std::string OrbitCoordinatesTable(const OrbitCoordinates& orbits);

}  // namespace zuba
