// Analysis of a field map around circles of constant radius: the composite Simpson rule, the mean
// of a map quantity over one turn, the Fourier harmonics of the field and the radial derivative
// map. Map tables are radius-major (entry iR·nTheta + iTheta); fields in T, radii in m, angles in
// rad. Every operation returns its outcome.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

// Integral of Y over the first m intervals of X, taken as a uniform grid whose step comes from the
// whole abscissa table; Simpson panels, plus a trapezoid on the last interval when m is odd.
Outcome SimpsonIntegral(std::span<const double> X, std::span<const double> Y, int32_t m,
                        double& integral);

// Mean over one turn of a map quantity at each of the nR radius nodes (closed-turn Simpson
// integral over nTheta intervals of step 2π/nTheta, divided by 2π).
Outcome AzimuthalMean(std::span<const double> map, int32_t nR, double thetaStart, double thetaEnd,
                      int32_t nTheta, std::vector<double>& mean);

// Number of harmonics analysed for a machine of N sectors: 1 … N−1, then N, 2N, 3N, 4N, 5N.
inline int32_t HarmonicCount(int32_t N) {
  return N + 4;
}

// Harmonic number at position p (0 … N+3) of the list for N sectors.
inline int32_t HarmonicNumber(int32_t N, int32_t p) {
  return p <= N - 2 ? p + 1 : (p - N + 2) * N;
}

// Amplitude A (T) and phase ψ (rad, in [−π/n, π/n]) of every listed harmonic n at every radius
// node, so that the harmonic is A·cos(n(θ − ψ)); entry i·(N+4) + p for list position p.
Outcome FieldHarmonics(std::span<const double> field, std::span<const double> radii, int32_t N,
                       double thetaStart, double thetaEnd, int32_t nTheta,
                       std::vector<double>& amplitude, std::vector<double>& phase);

// dB/dR (T/m) at every node of the map, from the averaged parabola derivatives along each radius
// column.
Outcome RadialDerivativeMap(std::span<const double> field, std::span<const double> radii,
                            int32_t nTheta, std::vector<double>& dBdR);

}  // namespace zuba
