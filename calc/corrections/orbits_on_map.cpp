// The closed orbits on the map as read (see orbits_on_map.h).
#include "calc/corrections/orbits_on_map.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "numerics/units.h"

namespace zuba {

std::vector<int> ClosedEnergies(const std::vector<EnergyOrbit>& orbits) {
  std::vector<int> closed;
  for (std::size_t i = 0; i < orbits.size(); ++i)
    if (orbits[i].closed) closed.push_back(static_cast<int>(i));
  return closed;
}

Result<OrbitsOnMap> CloseOnMap(const CalculationRecord& record, const OrbitCloser& close,
                               const std::string& what) {
  OrbitsOnMap on;
  if (Outcome o = close(record.field, on.orbits); !o) return o;
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

}  // namespace zuba
