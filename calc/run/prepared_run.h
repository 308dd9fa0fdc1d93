// The prepared run: the run parameters in SI units, the energies, the ion and the field map as
// one read of its file gave it (mesh, field and its radial moments, unit, stamp, reading options).
// Made once, it is an immutable value that any number of runs, corrections and views share; the
// tables a field needs before its orbits are made from it per field, never written into it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "calc/orbits/orbit.h"
#include "platform/file_stamp.h"
#include "platform/outcome.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"

namespace zuba {

struct PreparedRun {
  RunParameters run;                    // run description as entered
  MapReadingOptions mapReading;         // how the map was read (format as found)
  FileStamp mapFile;                    // the field map file as it was read
  std::string mapUnit;                  // the file's own unit of B_z ("Gs", "T", "kG", ...)
  int32_t nR = 0, nTheta = 0;           // radius and azimuth nodes of the field map
  double thetaStart = 0, thetaEnd = 0;  // rad, thetaEnd = thetaStart + 2 pi
  std::vector<double> radii, azimuths;  // m, rad
  std::vector<double> field;            // T, radius-major iR * nTheta + iTheta
  // T/m^2 and m: the radial spline moments of the field and the steps of the radius table; empty
  // when they could not be formed (the run then fails with the reason).
  std::vector<double> moments, radialSteps;
  double T0 = 0, TIs = 0, h = 0;  // rad
  double rfFrequency = 0;         // Hz
  double charge = 0;              // C, signed
  double restMass = 0;            // kg
  int32_t n = 0;                  // energy steps
  std::vector<double> Ek;         // J, per energy
};
using SharedRun = std::shared_ptr<const PreparedRun>;

// Derives and checks the run quantities and reads the field map with the reading options, in one
// read of the file. A refusal is that of the map reader or of the checks: the nine basic checks
// are quiet (they name the field at fault without a message box of their own).
Result<SharedRun> PrepareCalculation(const RunParameters& parameters,
                                     const MapReadingOptions& mapReading = {});

// The radial moments of the run's own field, for a run whose map was made in memory.
void FormMoments(PreparedRun& run);

// The step count of a nominal turn that sizes the trial sample tables: round((TIs - T0) / h)
// corrected by repeated addition so that T0 plus nSteps steps of h reaches TIs. 62832 for the
// presets. -1 when (TIs - T0) / h is not a number between 0 and kMaxSampleCapacity.
inline constexpr double kMaxSampleCapacity = 50'000'000;
int64_t SampleCapacity(double T0, double TIs, double h);

// What the orbit searches need of one field on the run's mesh besides its values: the radial
// steps and moments, and the average-field tables.
struct FieldTables {
  std::vector<double> radialSteps, moments;  // m, T/m^2
  std::vector<double> v, epsilon, psi;       // average-field tables over the radius nodes
  AverageFieldTables tables(const PreparedRun& run) const { return {run.radii, v, epsilon, psi}; }
};

// Makes the phase table of the N-th harmonic (rad, one entry per radius node) continuous in R by
// adding or taking whole periods 2 pi/N where neighbouring entries differ by more than half a
// period.
void UnwrapHarmonicPhase(std::vector<double>& psi, int32_t N);

// The tables of `field` (T, the run's mesh): its radial moments (the run's own when it is the
// run's field), the average-field tables. Fails with the failure of the operation at fault.
Result<FieldTables> PrepareFieldTables(const PreparedRun& run, std::span<const double> field);

// The run constants of the orbit searches. Fails when one turn would need more than
// kMaxSampleCapacity steps.
Result<OrbitConstants> RunConstants(const PreparedRun& run);

// What the orbit searches of a run need of one field: its tables, the run constants, and the run's
// radii for the average-field tables (the run must outlive it).
struct OrbitInputs : FieldTables {
  OrbitConstants constants;
  std::span<const double> radii;  // m, the run's radius table
  AverageFieldTables tables() const { return {radii, v, epsilon, psi}; }
};

// The orbit inputs of `field` on the run's mesh (the run's own field when field is empty): its
// tables, then the run constants; fails with the first failure.
Result<OrbitInputs> PrepareOrbitInputs(const PreparedRun& run, std::span<const double> field = {});

}  // namespace zuba
