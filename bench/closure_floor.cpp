// How far the closure error dReo of a full run moves when one field value of every trial orbit
// changes by one unit in the last place (about 2.2e-16 of the field): the rounding floor against
// which two field evaluators that agree to the last bit almost everywhere, but not everywhere,
// can be compared.
//
// Once two trial orbits differ by one bit, the roundings of their 60 000-odd RK4 steps no longer
// coincide, and the end of the turn carries the sum of those independent roundings. The program
// closes every energy of a preset on its example map three times with the field patches: as
// they are, with the first field value of every trial one unit higher, and one unit lower. It
// prints the largest |dReo| change, the number of energies whose change exceeds 1e-15 m, and the
// largest relative change of Rmn, Bmn, Rev and F0.
//
// Usage: closure_floor [tvk|avf]...   (both maps when none is named)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "bench/example_map.h"
#include "calc/orbits/orbit.h"
#include "calc/run/driver.h"
#include "numerics/field_patches.h"

namespace zuba {
namespace {

// The field patches with their values moved by whole units in the last place: the first value
// of every trial one unit towards `direction` (kind First), or every value at random one unit up,
// one down or not at all (kind Random), as an evaluator that rounds differently would. A trial
// walks the field with a fresh Cursor, so the first value of a cursor is the field at the trial's
// start point.
enum class Nudge { First, Random };

struct NudgedField {
  const FieldPatches& field;
  Nudge kind;
  double direction;  // +infinity or -infinity, for Nudge::First

  class Cursor {
   public:
    explicit Cursor(const NudgedField& nudged) : inner_(nudged.field), nudged_(nudged) {}
    Failure Refusal(double R, double theta) const { return inner_.Refusal(R, theta); }
    bool TryEvaluate(double R, double theta, double& B) {
      if (!inner_.TryEvaluate(R, theta, B)) return false;
      if (nudged_.kind == Nudge::First) {
        if (first_) B = std::nextafter(B, nudged_.direction);
      } else {
        // A fixed random sequence per trial start (xorshift), so that a run is repeatable.
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        const uint64_t pick = state_ % 3;
        if (pick != 2) B = std::nextafter(B, pick == 0 ? -1e300 : 1e300);
      }
      first_ = false;
      return true;
    }

   private:
    FieldPatches::Cursor inner_;
    const NudgedField& nudged_;
    bool first_ = true;
    uint64_t state_ = 0x9E3779B97F4A7C15ull;
  };

  Outcome Evaluate(double R, double theta, double& B) const { return field.Evaluate(R, theta, B); }
};

struct Energy {
  bool ok = false;
  OrbitResult result;
};

template <class Field>
std::vector<Energy> CloseAll(const PreparedRun& record, const OrbitInputs& prepared,
                             const Field& field) {
  std::vector<Energy> energies(static_cast<std::size_t>(record.n));
  OrbitSamples samples;
  samples.Reserve(static_cast<std::size_t>(prepared.constants.nSteps) + 1);
  for (int32_t i = 0; i < record.n; ++i) {
    energies[i].ok = FindEquilibriumOrbit(prepared.constants, prepared.tables(), field,
                                          record.Ek[i], samples, energies[i].result)
                         .ok();
  }
  return energies;
}

// Distance of two finite doubles in units in the last place (steps of the ordered bit pattern).
int64_t UlpDistance(double a, double b) {
  auto ordered = [](double x) {
    int64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits < 0 ? std::numeric_limits<int64_t>::min() - bits : bits;
  };
  const int64_t d = ordered(a) - ordered(b);
  return d < 0 ? -d : d;
}

// The field patches against the per-call routine at points of accepted orbits (every 50th sample
// of every tenth energy): how many agree to the bit, to one unit, and the largest distance.
void CompareWithRoutine(const char* mode, const PreparedRun& record, const OrbitInputs& prepared,
                        const FieldPatches& patches) {
  const ReferenceField routine(prepared.radialSteps, record.radii, record.azimuths, record.field,
                               prepared.moments);
  OrbitSamples samples;
  int64_t points = 0, equal = 0, oneUlp = 0, largest = 0;
  for (int32_t i = 0; i < record.n; i += 10) {
    OrbitResult result;
    if (!FindEquilibriumOrbit(prepared.constants, prepared.tables(), patches, record.Ek[i], samples,
                              result)
             .ok())
      continue;
    for (std::size_t k = 0; k < samples.Size(); k += 50) {
      double fast = 0, slow = 0;
      if (!patches.Evaluate(samples.R[k], samples.theta[k], fast) ||
          !routine.Evaluate(samples.R[k], samples.theta[k], slow))
        continue;
      const int64_t d = UlpDistance(fast, slow);
      ++points;
      equal += d == 0;
      oneUlp += d == 1;
      largest = std::max(largest, d);
    }
  }
  std::printf(
      "%s, patches vs the per-call routine at %lld orbit points: %.0f %% equal, %.0f %% one ulp "
      "apart, at most %lld ulp\n",
      mode, static_cast<long long>(points), 100.0 * equal / points, 100.0 * oneUlp / points,
      static_cast<long long>(largest));
}

double Relative(double a, double b) {
  const double scale = std::max(std::fabs(a), std::fabs(b));
  return scale > 0 ? std::fabs(a - b) / scale : 0.0;
}

int Measure(const char* mode, const char* file) {
  const ExampleMap example(mode, file);
  const PreparedRun& record = example.record;
  const OrbitInputs& prepared = example.prepared;
  const FieldPatches& patches = *example.patches;

  CompareWithRoutine(mode, record, prepared, patches);

  const double infinity = std::numeric_limits<double>::infinity();
  const std::vector<Energy> plain = CloseAll(record, prepared, patches);
  struct Variant {
    const char* name;
    std::vector<NudgedField> fields;
  };
  const Variant variants[] = {
      {"first value of each trial +-1 ulp",
       {{patches, Nudge::First, infinity}, {patches, Nudge::First, -infinity}}},
      {"every value +-1 ulp at random", {{patches, Nudge::Random, 0.0}}}};
  for (const Variant& variant : variants) {
    double maxDReo = 0, maxRel = 0;
    int over = 0, compared = 0, differing = 0;
    for (const NudgedField& field : variant.fields) {
      const std::vector<Energy> nudged = CloseAll(record, prepared, field);
      for (int32_t i = 0; i < record.n; ++i) {
        const OrbitResult& a = plain[i].result;
        const OrbitResult& b = nudged[i].result;
        if (!plain[i].ok || !nudged[i].ok || a.trials != b.trials) {
          std::printf("%s: energy %d closes differently after the nudge\n", mode, i);
          continue;
        }
        ++compared;
        const double d = std::fabs(a.dReo - b.dReo);
        maxDReo = std::max(maxDReo, d);
        if (d > 1e-15) ++over;
        if (d > 0) ++differing;
        for (auto [x, y] : {std::pair{a.Rmn, b.Rmn}, {a.Bmn, b.Bmn}, {a.Rev, b.Rev}, {a.F0, b.F0}})
          maxRel = std::max(maxRel, Relative(x, y));
      }
    }
    std::printf(
        "%s, %s, %d closures: |dReo| change up to %.2e m (%d changed, %d above 1e-15 m); "
        "Rmn, Bmn, Rev, F0 up to %.1e relative\n",
        mode, variant.name, compared, maxDReo, differing, over, maxRel);
  }
  return 0;
}

}  // namespace
}  // namespace zuba

int main(int argc, char** argv) {
  std::vector<std::string> maps(argv + 1, argv + argc);
  if (maps.empty()) maps = {"tvk", "avf"};
  int status = 0;
  for (const std::string& map : maps) {
    if (map == "tvk")
      status |= zuba::Measure(zuba::kModeTvk310, "tvk310-p.sdf");
    else if (map == "avf")
      status |= zuba::Measure(zuba::kModeAvf14N5, "avf-14n5.sdf");
    else {
      std::fprintf(stderr, "unknown map: %s (tvk or avf)\n", map.c_str());
      return 2;
    }
  }
  return status;
}
