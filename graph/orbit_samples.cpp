// The closed orbits of a record (see orbit_samples.h).
#include "graph/orbit_samples.h"

#include <algorithm>
#include <cstdio>

#include "numerics/constants.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {

std::vector<int32_t> SpreadEnergies(int32_t count, int32_t wanted) {
  std::vector<int32_t> out;
  if (count <= 0 || wanted <= 0) return out;
  if (wanted == 1 || count == 1) return {count - 1};
  const int32_t k = std::min(count, wanted);
  for (int32_t j = 0; j < k; ++j) {
    const int32_t i = static_cast<int32_t>(static_cast<int64_t>(j) * (count - 1) / (k - 1));
    if (out.empty() || out.back() != i) out.push_back(i);
  }
  return out;
}

double EnergyMeV(const ResultTables& r, int64_t i) {
  if (i < 0 || i >= r.Ek.size()) return kNoValue;
  return JoulesToMeV(r.Ek[i]);
}

std::string EnergyLabel(const ResultTables& r, int64_t i) {
  return FormatNumber(EnergyMeV(r, i), Significant(4)) + " MeV";
}

}  // namespace zuba
