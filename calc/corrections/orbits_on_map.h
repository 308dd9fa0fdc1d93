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
// closed.
Result<OrbitsOnMap> CloseOnMap(const CalculationRecord& record, const OrbitCloser& close,
                               const std::string& what);

// The indices of the orbits that closed.
std::vector<int> ClosedEnergies(const std::vector<EnergyOrbit>& orbits);

// The radial span (m) that the given orbits sweep.
void OrbitSpan(const std::vector<EnergyOrbit>& orbits, const std::vector<int>& energies,
               double& low, double& high);

}  // namespace zuba
