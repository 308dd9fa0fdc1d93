// The closed orbits on the map as read, which both corrections start from: the energies that
// close are those a correction is made for, the others are excluded.
#pragma once

#include <string>
#include <vector>

#include "calc/corrections/isochronise.h"
#include "platform/outcome.h"

namespace zuba {

struct OrbitsOnMap {
  std::vector<EnergyOrbit> orbits;
  std::vector<int> energies;        // indices of the closed ones
  std::vector<double> excludedMeV;  // energies that did not close
  std::vector<double> errors;       // isochronism error per energy
};

// Closes the orbits on the record's field. Fails, saying there is nothing to `what`, when none
// closed, and quietly with kStoppedText when stopped.
Result<OrbitsOnMap> CloseOnMap(const PreparedRun& record, const OrbitCloser& close,
                               const std::string& what);

// The indices of the orbits that closed.
std::vector<int> ClosedEnergies(const std::vector<EnergyOrbit>& orbits);

// The radial span (m) that the given orbits sweep.
void OrbitSpan(const std::vector<EnergyOrbit>& orbits, const std::vector<int>& energies,
               double& low, double& high);

// The largest magnitude of the values of the energies not excluded.
double LargestIncluded(const std::vector<double>& values, const std::vector<bool>& excluded);

// The parts of an outcome known from the orbits on the map as read: the errors before, the
// energies without a closed orbit excluded.
void StartOutcome(const OrbitsOnMap& on, double target, CorrectionOutcome& out);

// The rest at the end: the errors after, the RF phase (accumulated over every closed energy), the
// worst values over the energies not excluded, the excluded energies listed from their flags.
void EndOutcome(const PreparedRun& record, std::vector<double> errorsAfter, double gainPerTurnMeV,
                CorrectionOutcome& out);

// The worst |error| over the given energies; infinity when one of them has no closed orbit.
double WorstOf(const std::vector<double>& errors, const std::vector<int>& energies);

}  // namespace zuba
