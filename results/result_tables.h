// The record of one calculation run: twelve tables in their fixed order, then the run
// description.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_stamp.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"
#include "results/table.h"

namespace zuba {

// What a run with the precise closure adds per energy; after a run of the default closure only its
// gain per turn. Kept apart from the twelve tables, whose order the document file binds: the
// document stores it in an optional block after the last table (results/document.h).
struct ClosureTables {
  int32_t mode = 0;        // closure of the run: 0 the default search, 1 the precise closure
  double gainPerTurn = 0;  // MeV per turn assumed for the phase slip (0: not kept, older documents)
  // 1, the relative tolerance to which a precise run integrated its orbits; 0 for the default
  // search and where it is unknown (a precise run's document written before it was kept).
  double tolerance = 0;
  RealTable isochronism;   // 1, F0 * H / Frf - 1
  RealTable phaseDeg;      // RF degrees, phase slip accumulated from the first energy
  RealTable nuR;           // 1, radial tune; 2147483647.0 where the motion is unstable
  RealTable nuZ;           // 1, vertical tune; 2147483647.0 where the motion is unstable
  IntTable status;         // closure status (0 closed, 1 not closed, 2 singular matrix, 3 failed),
                           // plus 4 when the radial and 8 when the vertical motion is unstable
  // Why each energy did not close, in a few words, or for an energy that closed a note on its
  // values (why it has no Rev), empty where there is nothing to say; empty when no energy has one.
  // An energy that did not close has no values: 2147483647.0 in every per-energy table.
  std::vector<std::string> reasons;

  // Nothing to store: a record made without a run (a run of the default search keeps its gain per
  // turn, and with it a closure block without tables).
  bool empty() const {
    return mode == 0 && gainPerTurn == 0 && isochronism.empty() && phaseDeg.empty() &&
           nuR.empty() && nuZ.empty() && status.empty() && reasons.empty();
  }
  bool operator==(const ClosureTables&) const = default;
};

// Bits of ClosureTables::status beside the closure status in its two lowest bits.
inline constexpr int32_t kClosureStatusBits = 3;
inline constexpr int32_t kRadialUnstable = 4;
inline constexpr int32_t kVerticalUnstable = 8;

// The name of the closure status in the lowest bits of a status entry: "closed", "not_closed",
// "singular" or "failed".
inline std::string_view ClosureStatusText(int32_t status) {
  constexpr std::string_view kNames[] = {"closed", "not_closed", "singular", "failed"};
  return kNames[status & kClosureStatusBits];
}

struct ResultTables {
  RealTable Ek;          // J, kinetic energy of each step
  RealTable Rmn;         // m, time-mean radius of the equilibrium orbit
  RealTable Bmn;         // T, time-mean field along the orbit
  RealTable Rev;         // m, corrected radius Rmn * (1 + v)
  RealTable F0;          // Hz, particle rotation frequency
  RealTable dReo;        // m, closure error of the accepted orbit
  RealTable OrbitR;      // m, orbit samples of every step, step after step
  RealTable OrbitVr;     // m/rad, dR/dtau
  RealTable OrbitTheta;  // rad
  RealTable OrbitOmega;  // 1, dtheta/dtau
  RealTable OrbitTau;    // rad
  IntTable OrbitPoints;  // samples stored for each step
  RunParameters run;     // the run description

  // Precise-closure tables: not one of the twelve, stored after them when not empty.
  ClosureTables closure;
  // The field map file as the run read it (unknown for records made without reading one): the
  // views tell by it whether the file on disk is still that map. Stored after the closure tables.
  FileStamp mapFile;
  // How the run read its field map (the format it was read as, the symmetry that completed it);
  // not one of the twelve, stored after the closure tables when it is not the default.
  MapReadingOptions mapReading;

  // Empties every table, both texts and every number, the closure tables, the map stamp and the
  // map reading
  // included.
  void reset();

  bool operator==(const ResultTables&) const = default;
};

// m: the closure error up to which the default search accepts an orbit (the tolerance of its
// search); an energy whose |dReo| is larger reports the search's last trial.
inline constexpr double kAcceptedClosureError = 0.0005;

// Per energy, whether the record's values are not those of an accepted closed orbit although it
// has them: after a run of the default search, the energies whose |dReo| exceeds
// kAcceptedClosureError. A precise run's energies that did not close have no values and are not
// marked. The graphs draw the marked energies hollow.
std::vector<bool> NotAcceptedEnergies(const ResultTables& results);

// Whether the record has energies but none of them has a rotation frequency (every energy of the
// run failed): the graphs of its energies then say so instead of drawing.
bool NoEnergyHasValues(const ResultTables& results);

// Visits the twelve tables in their binding order: f(name, table).
template <class F>
void ForEachTable(ResultTables& r, F&& f) {
  f("Ek", r.Ek);
  f("Rmn", r.Rmn);
  f("Bmn", r.Bmn);
  f("Rev", r.Rev);
  f("F0", r.F0);
  f("dReo", r.dReo);
  f("OrbitR", r.OrbitR);
  f("OrbitVr", r.OrbitVr);
  f("OrbitTheta", r.OrbitTheta);
  f("OrbitOmega", r.OrbitOmega);
  f("OrbitTau", r.OrbitTau);
  f("OrbitPoints", r.OrbitPoints);
}
template <class F>
void ForEachTable(const ResultTables& r, F&& f) {
  ForEachTable(const_cast<ResultTables&>(r),
               [&](const char* name, const auto& table) { f(name, table); });
}

// Where the samples of one energy lie in the orbit tables: every energy's samples lie one after
// the other, OrbitPoints[i] of them for energy i.
struct SampleSpan {
  int64_t first = 0;
  int64_t count = 0;
};

// The span of every energy. An energy whose samples the tables do not hold in full (a damaged
// record, a negative count) gets no samples, and neither do the energies after it.
std::vector<SampleSpan> OrbitSpans(const ResultTables& r);

}  // namespace zuba
