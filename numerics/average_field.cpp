// Average-field orbit parameters: field index, harmonic ratio ε and its phase, radius correction.
#include "numerics/average_field.h"

#include <cmath>
#include <string>

#include "numerics/azimuthal.h"
#include "numerics/error.h"
#include "numerics/interpolation.h"

namespace zuba {

using detail::CountIs;
using detail::CountMismatch;

Outcome AnalyseAverageField(std::span<const double> field, std::span<const double> radii, int32_t N,
                            double thetaStart, double thetaEnd, int32_t nTheta,
                            AverageFieldAnalysis& out) {
  const int32_t nR = static_cast<int32_t>(radii.size());
  if (nR < 3) {
    Failure failure = ErrorFailure("Radius point number < 3!", "nR", nR, 3);
    failure.message.caption = "Error!";
    return failure;
  }
  const std::size_t count = static_cast<std::size_t>(nR);
  for (std::vector<double>* table : {&out.meanGradient, &out.meanField, &out.fieldIndex,
                                     &out.epsilon, &out.epsilonSlope, &out.psi, &out.v})
    table->assign(count, 0.0);
  if (nTheta < 1 || !CountIs(field, static_cast<int64_t>(nR) * nTheta))
    return CountMismatch("Array size error!", static_cast<int64_t>(nR) * nTheta);
  if (N < 2) return ErrorFailure("Number of sectors " + std::to_string(N) + " < 2!", "N", N, 2);
  std::vector<double> G;
  if (Outcome o = RadialDerivativeMap(field, radii, nTheta, G); !o) return o;
  if (Outcome o =
          FieldHarmonics(field, radii, N, thetaStart, thetaEnd, nTheta, out.amplitude, out.phase);
      !o)
    return o;
  if (Outcome o = AzimuthalMean(G, nR, thetaStart, thetaEnd, nTheta, out.meanGradient); !o)
    return o;
  if (Outcome o = AzimuthalMean(field, nR, thetaStart, thetaEnd, nTheta, out.meanField); !o)
    return o;

  const int32_t count4 = HarmonicCount(N);
  for (int32_t i = 0; i < nR; ++i) {
    out.fieldIndex[i] = out.meanGradient[i] * radii[i] / out.meanField[i];
    const double A = out.amplitude[i * count4 + (N - 1)];
    out.psi[i] = out.phase[i * count4 + (N - 1)];
    out.epsilon[i] = A / out.meanField[i];
  }

  const double Nd = N;
  const double N2 = Nd * Nd;
  for (int32_t i = 0; i < nR; ++i) {
    double d1, d2;
    if (Outcome o = NodeDerivative(radii, out.epsilon, nR, i, d1, d2); !o) return o;
    out.epsilonSlope[i] = d1;
    const double eps = out.epsilon[i];
    const double k = out.fieldIndex[i];
    const double u = eps * eps / (2.0 * N2) * (radii[i] * d1 / eps + k + 1.5) + 0.25;
    if (u >= 0) {
      const double q = Nd * eps / ((N2 - k - 1.0) * (std::sqrt(u) + 0.5));
      out.v[i] = 0.25 * (q * q);
    } else {
      out.v[i] = kNoValue;  // u negative or not a number (ε = 0)
    }
  }
  return {};
}

Outcome AverageFieldParameters(std::span<const double> field, std::span<const double> radii,
                               int32_t N, double thetaStart, double thetaEnd, int32_t nTheta,
                               std::vector<double>& v, std::vector<double>& epsilon,
                               std::vector<double>& psi) {
  AverageFieldAnalysis analysis;
  Outcome ok = AnalyseAverageField(field, radii, N, thetaStart, thetaEnd, nTheta, analysis);
  v = std::move(analysis.v);
  epsilon = std::move(analysis.epsilon);
  psi = std::move(analysis.psi);
  return ok;
}

}  // namespace zuba
