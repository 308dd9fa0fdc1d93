// The closed orbits on the map as read (see orbits_on_map.h).
#include "calc/corrections/orbits_on_map.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "numerics/average_field.h"
#include "numerics/units.h"

namespace zuba {

std::vector<int> ClosedEnergies(const std::vector<EnergyOrbit>& orbits) {
  std::vector<int> closed;
  for (std::size_t i = 0; i < orbits.size(); ++i)
    if (orbits[i].closed) closed.push_back(static_cast<int>(i));
  return closed;
}

Result<OrbitsOnMap> CloseOnMap(const PreparedRun& record, const OrbitCloser& close,
                               const std::string& what) {
  OrbitsOnMap on;
  const Result<Closing> closing = close(record.field, on.orbits);
  if (!closing) return closing.failure();
  if (*closing == Closing::Stopped) return QuietFailure(kStoppedText);
  on.energies = ClosedEnergies(on.orbits);
  for (std::size_t i = 0; i < on.orbits.size(); ++i)
    if (!on.orbits[i].closed) on.excludedMeV.push_back(JoulesToMeV(record.Ek[i]));
  if (on.energies.empty())
    return ErrorFailure("No energy of the run has a closed orbit on the map: nothing to " + what +
                        ".");
  on.errors = IsochronismOf(record, on.orbits);
  return on;
}

void OrbitSpan(const std::vector<EnergyOrbit>& orbits, const std::vector<int>& energies,
               double& low, double& high) {
  low = std::numeric_limits<double>::infinity();
  high = -std::numeric_limits<double>::infinity();
  for (int i : energies)
    for (double R : orbits[i].R) {
      low = std::min(low, R);
      high = std::max(high, R);
    }
}

// The largest magnitude of the values of the energies not excluded.
double LargestIncluded(const std::vector<double>& values, const std::vector<bool>& excluded) {
  double largest = 0;
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!excluded[i] && values[i] != kNoValue) largest = std::max(largest, std::fabs(values[i]));
  return largest;
}

// The parts of the outcome known from the orbits on the map as read: the errors before, the
// energies without a closed orbit excluded.
void StartOutcome(const OrbitsOnMap& on, double target, CorrectionOutcome& out) {
  out.target = target;
  out.errorBefore = on.errors;
  out.unclosedEnergiesMeV = on.excludedMeV;
  out.excluded.assign(on.orbits.size(), false);
  for (std::size_t i = 0; i < on.orbits.size(); ++i) out.excluded[i] = !on.orbits[i].closed;
}

// The rest at the end: the errors after, the RF phase (accumulated over every closed energy), the
// worst values over the energies not excluded, the excluded energies listed from their flags.
void EndOutcome(const PreparedRun& record, std::vector<double> errorsAfter, double gainPerTurnMeV,
                CorrectionOutcome& out) {
  out.errorAfter = std::move(errorsAfter);
  out.phaseBefore = RfPhaseOf(record, out.errorBefore, gainPerTurnMeV);
  out.phaseAfter = RfPhaseOf(record, out.errorAfter, gainPerTurnMeV);
  out.isochronismBefore = LargestIncluded(out.errorBefore, out.excluded);
  out.isochronismAfter = LargestIncluded(out.errorAfter, out.excluded);
  out.phaseDegBefore = LargestIncluded(out.phaseBefore, out.excluded);
  out.phaseDegAfter = LargestIncluded(out.phaseAfter, out.excluded);
  out.excludedEnergiesMeV.clear();
  for (std::size_t i = 0; i < out.excluded.size(); ++i)
    if (out.excluded[i]) out.excludedEnergiesMeV.push_back(JoulesToMeV(record.Ek[i]));
  std::sort(out.lostInIterationMeV.begin(), out.lostInIterationMeV.end());
  out.lostInIterationMeV.erase(
      std::unique(out.lostInIterationMeV.begin(), out.lostInIterationMeV.end()),
      out.lostInIterationMeV.end());
}

// The worst |error| over the given energies; infinity when one of them has no closed orbit.
double WorstOf(const std::vector<double>& errors, const std::vector<int>& energies) {
  double worst = 0;
  for (int i : energies)
    worst = std::max(worst, errors[i] == kNoValue ? std::numeric_limits<double>::infinity()
                                                  : std::fabs(errors[i]));
  return worst;
}

}  // namespace zuba
