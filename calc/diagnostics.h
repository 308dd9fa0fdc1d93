// Isochronism diagnostics of a run, in either closure mode: the relative error of the rotation
// frequency against the RF and the RF phase slip that an ion accumulates while it gains energy.
#pragma once

#include <cstdint>
#include <span>
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
// beyond H. Positive means the ion lags the RF.
std::vector<double> PhaseSlip(std::span<const double> F0, int32_t H, double rfFrequency,
                              double dEkMeV, double gainPerTurnMeV);

struct Diagnostics {
  std::vector<double> isochronism;  // 1, per energy
  std::vector<double> phaseDeg;     // RF degrees, per energy
};

// Both tables for the F0 table of a record, with Frf, H and dEk from its run description. A record
// whose F0 is empty gives empty tables.
Diagnostics ComputeDiagnostics(const ResultTables& results, double gainPerTurnMeV);

// The per-energy closure columns of a record, as the values file, the JSON output and the graphs
// show them: after a precise run its closure tables; otherwise isochronism and phase slip from F0
// with the given gain per turn, and no tunes.
struct ClosureColumns {
  bool precise = false;             // the record holds closure tables of a precise run
  std::vector<double> isochronism;  // 1, per energy
  std::vector<double> phaseDeg;     // RF degrees, per energy
  std::vector<double> nuR, nuZ;     // 1, per energy when precise (kNoValue where unstable)
};
ClosureColumns ClosureColumnsOf(const ResultTables& results, double gainPerTurnMeV);

}  // namespace zuba
