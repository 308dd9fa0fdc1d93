// The difference of two field maps (see map_difference.h).
#include "calc/maps/map_difference.h"

#include <algorithm>
#include <cmath>

#include "calc/maps/map_text.h"
#include "numerics/average_field.h"
#include "numerics/azimuthal.h"
#include "numerics/constants.h"
#include "numerics/field_interpolation.h"
#include "numerics/field_patches.h"

namespace zuba {
namespace {

// Position of harmonic n in the harmonic list of N sectors (1 .. N-1, N, 2N, ..., 5N).
int32_t HarmonicPosition(int32_t N, int32_t n) {
  for (int32_t p = 0; p < HarmonicCount(N); ++p)
    if (HarmonicNumber(N, p) == n) return p;
  return 0;
}

}  // namespace

int32_t DominantHarmonic(const FieldMap& map) {
  const int32_t nTheta = map.nTheta;
  const int32_t highest = std::min(24, (nTheta - 1) / 2);
  int32_t best = 2;
  double bestSum = 0;
  for (int32_t n = 2; n <= highest; ++n) {
    double sum = 0;
    for (int32_t i = 0; i < map.nR; ++i) {
      double c = 0, s = 0;
      for (int32_t j = 0; j < nTheta; ++j) {
        const double b = map.field[static_cast<size_t>(i) * nTheta + j];
        const double phase = n * map.azimuths[static_cast<size_t>(j)];
        c += b * std::cos(phase);
        s += b * std::sin(phase);
      }
      sum += std::hypot(c, s);
    }
    // A clear winner only: a harmonic must stand above the numerical noise of the others.
    if (sum > bestSum * (1 + 1e-9)) {
      best = n;
      bestSum = sum;
    }
  }
  return best;
}

Result<MapDifference> DifferenceOfMaps(const FieldMap& a, const FieldMap& b,
                                       std::optional<int32_t> sectors) {
  if (a.nR < 3)
    return ErrorFailure("map A has " + std::to_string(a.nR) +
                            " radii; the analysis of the difference needs at least 3",
                        "radii", a.nR, 3);
  const double tolerance = 1e-9 * std::max(1.0, b.radii.back());  // m
  if (a.radii.front() < b.radii.front() - tolerance || a.radii.back() > b.radii.back() + tolerance)
    return ErrorFailure("map A's radii " + MessageNumber(a.radii.front()) + " .. " +
                            MessageNumber(a.radii.back()) + " m leave map B's " +
                            MessageNumber(b.radii.front()) + " .. " +
                            MessageNumber(b.radii.back()) + " m",
                        "radii");
  // B as the calculation interpolates it: radial spline moments, then the constant-time patches.
  std::vector<double> h, moments;
  if (Outcome o = RadialMoments(b.field, b.radii, b.nTheta, h, moments); !o) return o;
  Result<FieldPatches> field = FieldPatches::Build(h, b.radii, b.azimuths, b.field, moments);
  if (!field) return field.outcome();

  MapDifference d;
  d.sectors = std::max(2, sectors.value_or(DominantHarmonic(a)));
  FieldMap& diff = d.difference;
  diff = a;
  diff.unit = "T";
  diff.format = MapFormat::Table;
  diff.closingDifference = -1;
  std::fill(diff.moments.begin(), diff.moments.end(), 0.0);
  std::vector<double> bOnA(a.field.size());
  double sumSquares = 0;
  for (int32_t i = 0; i < a.nR; ++i) {
    // A radius within rounding of B's ends is taken at the end.
    const double R = std::clamp(a.radii[static_cast<size_t>(i)], b.radii.front(), b.radii.back());
    for (int32_t j = 0; j < a.nTheta; ++j) {
      const size_t k = static_cast<size_t>(i) * a.nTheta + j;
      if (Outcome o = field->Evaluate(R, a.azimuths[static_cast<size_t>(j)], bOnA[k]); !o) return o;
      diff.field[k] = a.field[k] - bOnA[k];
      sumSquares += diff.field[k] * diff.field[k];
      if (std::fabs(diff.field[k]) > d.maxAbs) {
        d.maxAbs = std::fabs(diff.field[k]);
        d.maxR = a.radii[static_cast<size_t>(i)];
        d.maxTheta = a.azimuths[static_cast<size_t>(j)];
      }
    }
  }
  d.rms = std::sqrt(sumSquares / static_cast<double>(a.field.size()));

  // Both fields on A's mesh, analysed alike.
  AverageFieldAnalysis of[2];
  const std::vector<double>* fields[2] = {&a.field, &bOnA};
  for (int k = 0; k < 2; ++k)
    if (Outcome o = AnalyseAverageField(*fields[k], a.radii, d.sectors, a.thetaStart, a.thetaEnd,
                                        a.nTheta, of[k]);
        !o)
      return o;
  std::vector<double> meanDifference;
  if (Outcome o =
          AzimuthalMean(diff.field, a.nR, a.thetaStart, a.thetaEnd, a.nTheta, meanDifference);
      !o)
    return o;
  const int32_t count = HarmonicCount(d.sectors);
  const int32_t p1 = HarmonicPosition(d.sectors, 1), p2 = HarmonicPosition(d.sectors, 2);
  const int32_t pN = HarmonicPosition(d.sectors, d.sectors);
  for (int32_t i = 0; i < a.nR; ++i) {
    auto amplitude = [&](int k, int32_t p) { return of[k].amplitude[i * count + p]; };
    RadiusDifference r;
    r.r = a.radii[static_cast<size_t>(i)];
    r.deltaMean = meanDifference[static_cast<size_t>(i)];
    r.deltaFieldIndex =
        of[0].fieldIndex[static_cast<size_t>(i)] - of[1].fieldIndex[static_cast<size_t>(i)];
    r.deltaA1 = amplitude(0, p1) - amplitude(1, p1);
    r.deltaA2 = amplitude(0, p2) - amplitude(1, p2);
    r.deltaAN = amplitude(0, pN) - amplitude(1, pN);
    d.radii.push_back(r);
  }
  return d;
}

}  // namespace zuba
