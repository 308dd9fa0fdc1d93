// Checks of a prepared run before it starts (see run_checks.h).
#include "calc/run/run_checks.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "calc/run/diagnostics.h"
#include "numerics/constants.h"
#include "numerics/kinematics.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// Harmonics looked at for the map's symmetry: enough for any sector count a magnet has.
constexpr int32_t kMaxSymmetry = 64;
// The strongest harmonic must carry at least this share of the mean field for the map to have a
// symmetry at all (a map without flutter suits any N).
constexpr double kMinFlutter = 1e-3;
// T: a field value beyond this is no magnet's.
constexpr double kMaxField = 100;

std::string Number(double value) {
  return FormatNumber(value, Significant(4));
}

// Frequencies (Hz) from low to high in Hz, kHz or MHz (the unit of high), four significant digits:
// "8.331 to 8.333 MHz", or one value where both show alike.
std::string Frequency(double low, double high) {
  const double magnitude = std::fabs(high);
  const double unit = magnitude >= 1e6 ? 1e6 : magnitude >= 1e3 ? 1e3 : 1;
  const char* name = unit == 1e6 ? " MHz" : unit == 1e3 ? " kHz" : " Hz";
  const std::string a = Number(low / unit), b = Number(high / unit);
  return (a == b ? a : a + " to " + b) + name;
}

// What the map's azimuthal mean field does for each energy.
struct Reach {
  std::vector<std::optional<double>> radius;  // m, the mean-field radius; none where no radius
  std::vector<bool> none, below;              // no radius bends it; its radius is below the map
};

// The mean-field radius of every energy: the smallest R where bend(R) = |q| s B(R) R reaches the
// momentum, s the sign of the field (so that a field of either sign bends).
Reach MeanFieldRadii(const PreparedRun& r, const std::vector<double>& mean, int fieldSign) {
  const size_t n = r.Ek.size(), nR = r.radii.size();
  const double q = std::fabs(r.charge);  // C
  const double E0 = RestEnergy(r.restMass);
  std::vector<double> bend(nR);  // kg m/s
  for (size_t i = 0; i < nR; ++i) bend[i] = q * fieldSign * mean[i] * r.radii[i];
  Reach reach;
  reach.radius.resize(n);
  reach.none.assign(n, false);
  reach.below.assign(n, false);
  const double firstBend = q * fieldSign * mean[0];  // kg/s: momentum per metre at the first node
  for (size_t e = 0; e < n; ++e) {
    const double p = KinematicsOf(r.Ek[e], E0).pc / kSpeedOfLight;  // kg m/s
    if (firstBend > 0 && p / firstBend < r.radii[0]) {
      reach.radius[e] = p / firstBend;
      reach.below[e] = true;
      continue;
    }
    for (size_t i = 0; i + 1 < nR; ++i) {
      if (bend[i] < p && p <= bend[i + 1]) {
        const double t = (p - bend[i]) / (bend[i + 1] - bend[i]);
        reach.radius[e] = r.radii[i] + t * (r.radii[i + 1] - r.radii[i]);
        break;
      }
    }
    if (!reach.radius[e]) reach.none[e] = true;
  }
  return reach;
}

// The harmonic number with the largest amplitude of the mean-subtracted field over the radius
// nodes in [low, high] (the nearest node when none lies inside); 0 when the map has no flutter.
int32_t Symmetry(const PreparedRun& r, const std::vector<double>& mean, double low, double high) {
  const size_t nR = r.radii.size(), nTheta = r.azimuths.size();
  const int32_t harmonics = std::min<int32_t>(kMaxSymmetry, static_cast<int32_t>(nTheta / 2));
  if (harmonics < 1) return 0;
  size_t first = nR, last = 0;
  for (size_t i = 0; i < nR; ++i) {
    if (r.radii[i] >= low && r.radii[i] <= high) {
      first = std::min(first, i);
      last = i;
    }
  }
  if (first > last) {  // no node inside: the nearest one
    first = last =
        static_cast<size_t>(std::min_element(r.radii.begin(), r.radii.end(),
                                             [low](double a, double b) {
                                               return std::fabs(a - low) < std::fabs(b - low);
                                             }) -
                            r.radii.begin());
  }
  // cos and sin of k theta_j, harmonic by harmonic.
  std::vector<double> cosines(static_cast<size_t>(harmonics) * nTheta);
  std::vector<double> sines(cosines.size());
  for (int32_t k = 1; k <= harmonics; ++k) {
    for (size_t j = 0; j < nTheta; ++j) {
      cosines[static_cast<size_t>(k - 1) * nTheta + j] = std::cos(k * r.azimuths[j]);
      sines[static_cast<size_t>(k - 1) * nTheta + j] = std::sin(k * r.azimuths[j]);
    }
  }
  std::vector<double> power(static_cast<size_t>(harmonics) + 1, 0.0);  // T^2, summed over radii
  double meanSquare = 0;                                               // T^2
  for (size_t i = first; i <= last; ++i) {
    meanSquare += mean[i] * mean[i];
    for (int32_t k = 1; k <= harmonics; ++k) {
      const double* c = &cosines[static_cast<size_t>(k - 1) * nTheta];
      const double* s = &sines[static_cast<size_t>(k - 1) * nTheta];
      double a = 0, b = 0;
      for (size_t j = 0; j < nTheta; ++j) {
        const double d = r.field[i * nTheta + j] - mean[i];
        a += d * c[j];
        b += d * s[j];
      }
      const double amplitude = 2.0 / static_cast<double>(nTheta);  // of the k-th harmonic
      power[static_cast<size_t>(k)] += (a * a + b * b) * amplitude * amplitude;
    }
  }
  const auto strongest = std::max_element(power.begin() + 1, power.end());
  if (!(*strongest > kMinFlutter * kMinFlutter * meanSquare)) return 0;
  return static_cast<int32_t>(strongest - power.begin());
}

// The warning of values no magnet has (not finite, or beyond kMaxField), which make every other
// check meaningless; empty when there are none.
std::string WildValuesWarning(const PreparedRun& r) {
  const size_t nTheta = r.azimuths.size();
  size_t wild = 0, firstWild = 0;
  for (size_t k = 0; k < r.field.size(); ++k) {
    if (std::fabs(r.field[k]) <= kMaxField) continue;  // false for NaN too
    if (wild++ == 0) firstWild = k;
  }
  if (wild == 0) return {};
  return "The map holds " + std::to_string(wild) +
         (wild == 1 ? " field value that is" : " field values that are") +
         " not finite or beyond " + Number(kMaxField) +
         " T (the first at R = " + Number(r.radii[firstWild / nTheta]) + " m): check the map file.";
}

// The radii the energies reach (low to high; none: `reached` false).
struct ReachedRadii {
  bool reached = false;
  double low = 0, high = 0;  // m
};

// Warns where Frf/H is off the revolution frequency of the ion at the radii its energies reach
// (their median); returns those radii.
ReachedRadii CheckFrequency(const PreparedRun& r, const Reach& reach,
                            std::vector<std::string>& warnings) {
  double low = r.radii.back(), high = r.radii.front();
  std::vector<double> ratios, frequencies;         // f / (Frf / H); Hz
  const double nominal = r.rfFrequency / r.run.H;  // Hz
  const double E0 = RestEnergy(r.restMass);
  for (size_t e = 0; e < r.Ek.size(); ++e) {
    if (!reach.radius[e] || reach.below[e]) continue;
    const double R = *reach.radius[e];
    low = std::min(low, R);
    high = std::max(high, R);
    const double f = KinematicsOf(r.Ek[e], E0).beta * kSpeedOfLight / (kTwoPi * R);
    frequencies.push_back(f);
    ratios.push_back(f / nominal);
  }
  if (ratios.empty()) return {};
  std::vector<double> sorted = ratios;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(sorted.size() / 2),
                   sorted.end());
  const double median = sorted[sorted.size() / 2];
  if (!(std::fabs(median - 1) <= kFrequencyMismatch)) {
    const auto [fLow, fHigh] = std::minmax_element(frequencies.begin(), frequencies.end());
    const std::string range = Frequency(*fLow, *fHigh);
    warnings.push_back("Frf/H = " + Frequency(nominal, nominal) +
                       " differs from the revolution frequency of this ion in the map's mean "
                       "field (" +
                       range + "): check Frf (MHz), H, m0 and Q.");
  }
  return {true, low, high};
}

// Warns of a sign change of the mean field between the first radius and the largest radius
// reached.
void CheckMeanFieldSign(const PreparedRun& r, const Reach& reach, const std::vector<double>& mean,
                        std::vector<std::string>& warnings) {
  bool unreached = false;
  double largest = r.radii.front();
  for (size_t e = 0; e < r.Ek.size(); ++e) {
    if (reach.none[e]) unreached = true;
    if (reach.radius[e]) largest = std::max(largest, *reach.radius[e]);
  }
  if (unreached) largest = r.radii.back();
  int firstSign = 0;
  for (size_t i = 0; i < r.radii.size() && r.radii[i] <= largest; ++i) {
    const int sign = mean[i] > 0 ? 1 : mean[i] < 0 ? -1 : 0;
    if (sign == 0) continue;
    if (firstSign == 0) firstSign = sign;
    if (sign != firstSign) {
      warnings.push_back("The map's mean field changes sign between R = " + Number(r.radii[i - 1]) +
                         " and " + Number(r.radii[i]) +
                         " m, inside the radii the energies reach (" + Number(r.radii.front()) +
                         " to " + Number(largest) + " m): check the map's field and the energies.");
      break;
    }
  }
}

}  // namespace

std::vector<std::string> RunWarnings(const PreparedRun& r) {
  std::vector<std::string> warnings;
  const size_t nR = r.radii.size(), nTheta = r.azimuths.size(), n = r.Ek.size();
  if (nR < 2 || nTheta < 1 || r.field.size() != nR * nTheta || n == 0 || !(r.restMass > 0) ||
      !(std::fabs(r.charge) > 0))
    return warnings;
  if (std::string wild = WildValuesWarning(r); !wild.empty()) {
    warnings.push_back(std::move(wild));
    return warnings;
  }
  std::vector<double> mean(nR, 0.0);  // T, azimuthal mean at each radius node
  double total = 0;
  for (size_t i = 0; i < nR; ++i) {
    for (size_t j = 0; j < nTheta; ++j) mean[i] += r.field[i * nTheta + j];
    mean[i] /= static_cast<double>(nTheta);
    total += mean[i];
  }
  const int fieldSign = total < 0 ? -1 : 1;
  const Reach reach = MeanFieldRadii(r, mean, fieldSign);
  const ReachedRadii reached = CheckFrequency(r, reach, warnings);

  const int32_t symmetry = !reached.reached ? Symmetry(r, mean, r.radii.front(), r.radii.back())
                                            : Symmetry(r, mean, reached.low, reached.high);
  if (symmetry > 0 && symmetry != r.run.N)
    warnings.push_back("The map has " + std::to_string(symmetry) + "-fold symmetry, N = " +
                       std::to_string(r.run.N) + ": check N (the number of sectors).");

  if (fieldSign * r.charge < 0)
    warnings.push_back("With ChargeSign = " + std::to_string(r.run.ChargeSign) +
                       " the ion turns against the azimuth in this field: check ChargeSign, or "
                       "read the map negated or reversed (--negate, --reverse).");

  if (const std::string none = EnergyRanges(r.Ek, reach.none); !none.empty())
    warnings.push_back(none + ": no orbit in this field (no radius of the map, " +
                       Number(r.radii.front()) + " to " + Number(r.radii.back()) +
                       " m, bends them): check the energies, m0 and Q.");
  if (const std::string below = EnergyRanges(r.Ek, reach.below); !below.empty())
    warnings.push_back(below + ": the mean-field radius lies below the map's first radius (" +
                       Number(r.radii.front()) + " m): check EkBegin and the map's radii.");
  CheckMeanFieldSign(r, reach, mean, warnings);
  return warnings;
}

}  // namespace zuba
