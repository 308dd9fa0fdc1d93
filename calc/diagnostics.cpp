// Isochronism error and RF phase slip of the energies of a run.
#include "calc/diagnostics.h"

namespace zuba {

double IsochronismError(double F0, int32_t H, double rfFrequency) {
  return F0 * H / rfFrequency - 1;
}

std::vector<double> PhaseSlip(std::span<const double> F0, int32_t H, double rfFrequency,
                              double dEkMeV, double gainPerTurnMeV) {
  std::vector<double> phase;
  if (F0.empty()) return phase;
  phase.reserve(F0.size());
  const double turns = dEkMeV / gainPerTurnMeV;  // turns from one energy to the next
  double phi = 0;                                // RF degrees
  phase.push_back(phi);
  for (size_t i = 0; i + 1 < F0.size(); ++i) {
    phi = phi + 360 * (rfFrequency / F0[i] - H) * turns;
    phase.push_back(phi);
  }
  return phase;
}

Diagnostics ComputeDiagnostics(const ResultTables& results, double gainPerTurnMeV) {
  Diagnostics d;
  const double rfFrequency = results.run.Frf * 1e6;  // Hz
  const int32_t H = results.run.H;
  const std::span<const double> F0 = results.F0.values();
  d.isochronism.reserve(F0.size());
  for (double f : F0) d.isochronism.push_back(IsochronismError(f, H, rfFrequency));
  d.phaseDeg = PhaseSlip(F0, H, rfFrequency, results.run.dEk, gainPerTurnMeV);
  return d;
}

ClosureColumns ClosureColumnsOf(const ResultTables& results, double gainPerTurnMeV) {
  ClosureColumns columns;
  const ClosureTables& closure = results.closure;
  if (closure.mode == 1) {
    columns.precise = true;
    columns.isochronism = closure.isochronism.toVector();
    columns.phaseDeg = closure.phaseDeg.toVector();
    columns.nuR = closure.nuR.toVector();
    columns.nuZ = closure.nuZ.toVector();
    return columns;
  }
  Diagnostics d = ComputeDiagnostics(results, gainPerTurnMeV);
  columns.isochronism = std::move(d.isochronism);
  columns.phaseDeg = std::move(d.phaseDeg);
  return columns;
}

}  // namespace zuba
