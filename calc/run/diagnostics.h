// Diagnostics of a run, in either closure mode, from its result tables alone (so that they can be
// formed again from a document): the relative error of the rotation frequency against the RF, the
// RF phase slip that an ion accumulates while it gains energy, and two measures of how well each
// orbit is closed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results/result_tables.h"

namespace zuba {

// Energy gain per turn assumed for the phase slip when none is given (MeV).
inline constexpr double kDefaultGainPerTurnMeV = 0.1;

// F0 * H / Frf - 1: positive when the ion revolves faster than the RF asks. F0 and rfFrequency in
// Hz.
double IsochronismError(double F0, int32_t H, double rfFrequency);

// RF phase slip (RF degrees) at every energy: 0 at the first, then
// phi[i + 1] = phi[i] + 360 * (Frf / F0[i] - H) * (dEk / G), dEk the energy step and G the gain per
// turn (both MeV): dEk / G turns between two energies, each slipping by the RF periods of a turn
// beyond H. Positive means the ion lags the RF. An energy without F0 (2147483647.0, an orbit that
// did not close) has no phase; the slip runs on over it with the F0 of the energy before it, and
// starts at the first energy that has F0.
std::vector<double> PhaseSlip(std::span<const double> F0, int32_t H, double rfFrequency,
                              double dEkMeV, double gainPerTurnMeV);

struct Diagnostics {
  std::vector<double> isochronism;  // 1, per energy
  std::vector<double> phaseDeg;     // RF degrees, per energy
};

// Both tables for the F0 table of a record, with Frf, H and dEk from its run description. A record
// whose F0 is empty gives empty tables.
Diagnostics ComputeDiagnostics(const ResultTables& results, double gainPerTurnMeV);

// The self-consistency of every energy's orbit: F0 * 2 pi gamma m / (|q| Bmn) - 1, with the
// energy, mass and charge of the run description. On a closed orbit the velocity turns once per
// turn at the rate |q| B / (gamma m), so the identity holds with the time-mean field Bmn of exactly
// one turn; the default search's orbit, which closes only to 0.5 mm and whose means run slightly
// past the turn, departs from it. 2147483647.0 where the energy has no values.
std::vector<double> FrequencyConsistency(const ResultTables& results);

// The radial velocity after exactly one turn minus the radial velocity at the start of every
// energy's stored orbit (m/rad, signed), from the orbit samples: the end of the turn as the default
// search interpolates it (three-point Lagrange over the last samples), or the last sample of a
// precise orbit, which ends exactly at the turn. 2147483647.0 where the energy has no orbit.
std::vector<double> VrResiduals(const ResultTables& results);

// Why an energy of the default search is not accepted: its search ran out of trials.
std::string NotAcceptedReason();

// Worst |consistency| of a run of the default search above which the run says how uncertain its
// F0 is.
inline constexpr double kAccuracyNoteThreshold = 1e-4;

// After a run of the default search whose worst |consistency| is above kAccuracyNoteThreshold,
// the line that says so: "Accuracy: the standard search leaves F0 uncertain by at least X (worst
// at E MeV); Precise Closed Orbits closes the orbit exactly.", X with two significant digits
// (1.9e-04), E with up to four (60.6). Nothing for other runs. The consistency understates the
// error of F0, hence "at least".
std::optional<std::string> AccuracyNote(const ResultTables& results);

// The energies (J) marked in chosen as ranges of neighbouring energies, in MeV with up to four
// significant digits: "40–52, 60 MeV"; empty when none is marked.
std::string EnergyRanges(std::span<const double> energies, const std::vector<bool>& chosen);

// After a run of the default search: the line that names the energies whose accepted orbit runs
// below the map's first radius (m), on field the interpolation extrapolates there ("Inner edge: the
// orbits of 40–52 MeV run below the map's first radius (1.9 m), ..."). Nothing when there are none
// (and for a precise run, which refuses such orbits).
std::optional<std::string> InnerEdgeNote(const ResultTables& results, double firstRadius);

// The per-energy closure columns of a record, as the values file, the JSON output and the graphs
// show them: after a precise run its closure tables; otherwise isochronism and phase slip from F0
// with the given gain per turn, and no tunes. In both modes the consistency and the vR residual,
// and every energy's status (ClosureTables::status; after a run of the default search 0 where the
// orbit closed within its 0.5 mm, 1 where the search ran out of trials and reported its last orbit)
// with the reason of an energy that did not close.
struct ClosureColumns {
  bool precise = false;              // the record holds closure tables of a precise run
  double gainPerTurn = 0;            // MeV per turn of the phase slip
  std::vector<double> isochronism;   // 1, per energy
  std::vector<double> phaseDeg;      // RF degrees, per energy
  std::vector<double> nuR, nuZ;      // 1, per energy when precise (kNoValue where unstable)
  std::vector<double> consistency;   // 1, per energy
  std::vector<double> vrResidual;    // m/rad, per energy
  std::vector<int32_t> status;       // per energy
  std::vector<std::string> reasons;  // per energy, empty where the energy closed

  // Whether energy i has values: every energy of the default search, the closed ones of a precise
  // run.
  bool HasValues(int64_t i) const {
    return !precise || (i < std::ssize(status) && (status[i] & kClosureStatusBits) == 0);
  }
  // Whether energy i is a closed orbit: closed by the precise closure, or accepted by the default
  // search (whose last trial it otherwise reports).
  bool Accepted(int64_t i) const {
    return i < std::ssize(status) ? (status[i] & kClosureStatusBits) == 0 : !precise;
  }
  // The name of energy i's status: ClosureStatusText after a precise run; "closed" or
  // "not_accepted" after a run of the default search ("failed" for the energy whose failure ended
  // it).
  std::string_view StatusText(int64_t i) const {
    const int32_t s = i < std::ssize(status) ? status[i] : 0;
    if (!precise && (s & kClosureStatusBits) == 1) return "not_accepted";
    return ClosureStatusText(s);
  }
};
ClosureColumns ClosureColumnsOf(const ResultTables& results, double gainPerTurnMeV);

// The gain per turn (MeV) of a record: the one its run kept (ClosureTables::gainPerTurn), else the
// one given (a document of a run of the default search written before runs kept it).
double GainPerTurnOf(const ResultTables& results, double gainPerTurnMeV = kDefaultGainPerTurnMeV);

// The heading of the phase slip that names its gain per turn: "Phase (RF deg, 0.1 MeV/turn)".
std::string PhaseTitle(double gainPerTurnMeV);

}  // namespace zuba
