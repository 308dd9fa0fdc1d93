// The closed orbits a record stores: every energy's samples lie one after the other in the orbit
// tables (OrbitR, OrbitTheta, ...), OrbitPoints[i] of them for energy i (OrbitSpans,
// results/result_tables.h). Helpers of the graphs that draw them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results/result_tables.h"

namespace zuba {

// Up to `wanted` energy indices spread evenly over 0 .. count - 1, the first and the last
// included, in increasing order.
std::vector<int32_t> SpreadEnergies(int32_t count, int32_t wanted);

// The kinetic energy of energy i in MeV; the marker of a missing value when there is none.
double EnergyMeV(const ResultTables& r, int64_t i);

// A short text of an energy for labels: "30.6 MeV".
std::string EnergyLabel(const ResultTables& r, int64_t i);

}  // namespace zuba
