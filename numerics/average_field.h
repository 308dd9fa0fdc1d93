// Per-radius parameters of the average field from which every equilibrium-orbit search starts:
// the radius correction v, the relative amplitude ε of the N-th field harmonic and its phase ψ.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/numbers.h"
#include "platform/outcome.h"

namespace zuba {

// v, ε (both without unit) and ψ (rad) at every radius node of the map, for N sectors; the turn
// description thetaStart, thetaEnd (rad), nTheta as for AzimuthalMean. Needs at least 3 radius
// nodes ("Radius point number < 3!", caption "Error!").
Outcome AverageFieldParameters(std::span<const double> field, std::span<const double> radii,
                               int32_t N, double thetaStart, double thetaEnd, int32_t nTheta,
                               std::vector<double>& v, std::vector<double>& epsilon,
                               std::vector<double>& psi);

// Everything AverageFieldParameters forms on the way, per radius node i (tables of nR entries
// unless said otherwise).
struct AverageFieldAnalysis {
  std::vector<double> meanGradient;  // mean dB/dR over the turn (T/m)
  std::vector<double> meanField;     // mean B over the turn (T)
  std::vector<double> fieldIndex;    // k = mean gradient · R / mean field (no unit)
  std::vector<double> amplitude;     // harmonic amplitudes (T), entry i·(N+4) + p
  std::vector<double> phase;         // harmonic phases (rad), entry i·(N+4) + p
  std::vector<double> epsilon;       // A_N / mean field (no unit)
  std::vector<double> epsilonSlope;  // dε/dR at the node (1/m)
  std::vector<double> psi;           // phase of the N-th harmonic (rad)
  std::vector<double> v;             // radius correction (no unit), kNoValue where undefined
};

// The same computation as AverageFieldParameters, with the same messages, keeping the
// intermediate tables (for inspection of a map).
Outcome AnalyseAverageField(std::span<const double> field, std::span<const double> radii, int32_t N,
                            double thetaStart, double thetaEnd, int32_t nTheta,
                            AverageFieldAnalysis& analysis);

}  // namespace zuba
