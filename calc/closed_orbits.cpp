// The precise closed orbits of a list of energies (see closed_orbits.h).
#include "calc/closed_orbits.h"

#include <cmath>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "numerics/kinematics.h"

namespace zuba {
namespace {

bool Closed(const ClosedOrbit& orbit) {
  return orbit.result.status == ClosureStatus::Converged;
}

// A closed orbit about which the radial motion is stable: the orbit the ions follow.
bool StablyClosed(const ClosedOrbit& orbit) {
  return ClosureRank(orbit.result) == kStableClosureRank;
}

// The seeds of energy i from the closed orbits of its two nearest closed neighbours (by energy;
// the lower one on a tie; stably closed ones where there are any): both at the start azimuth of the
// nearest, as R / p and vR / p linear in the momentum p through the two, then the nearest alone
// scaled by the ratio of momenta. None when no energy has closed.
std::vector<OrbitStart> NeighbourSeeds(const std::vector<ClosedOrbit>& orbits,
                                       std::span<const double> energies,
                                       std::span<const double> momenta, size_t i) {
  size_t nearest = orbits.size(), second = orbits.size();
  auto closer = [&](size_t a, size_t b) {  // a nearer to energy i than b
    return b == orbits.size() ||
           std::fabs(energies[a] - energies[i]) < std::fabs(energies[b] - energies[i]);
  };
  // The stably closed neighbours; where there are none, any closed ones.
  for (bool (*usable)(const ClosedOrbit&) : {StablyClosed, Closed}) {
    for (size_t k = 0; k < orbits.size(); ++k) {
      if (k == i || !usable(orbits[k])) continue;
      if (closer(k, nearest)) {
        second = nearest;
        nearest = k;
      } else if (closer(k, second)) {
        second = k;
      }
    }
    if (nearest != orbits.size()) break;
  }
  std::vector<OrbitStart> seeds;
  if (nearest == orbits.size()) return seeds;
  const PreciseOrbitResult& a = orbits[nearest].result;
  const double p = momenta[i], pa = momenta[nearest];
  if (second != orbits.size() && !orbits[second].samples.R.empty()) {
    const double pb = momenta[second];
    const OrbitStart b = OrbitAt(orbits[second].samples, a.thetaS);
    const double t = (p - pa) / (pa - pb);
    const double uR = a.Rs / pa + (a.Rs / pa - b.R / pb) * t;
    const double uV = a.vRs / pa + (a.vRs / pa - b.vR / pb) * t;
    seeds.push_back({uR * p, uV * p, a.thetaS});
  }
  seeds.push_back({a.Rs * (p / pa), a.vRs * (p / pa), a.thetaS});
  return seeds;
}

}  // namespace

ClosedOrbits CloseOrbits(const OrbitConstants& constants, const AverageFieldTables& tables,
                         const FieldPatches& field, std::span<const double> energies,
                         std::span<const std::optional<OrbitStart>> seeds,
                         const ClosedOrbitsOptions& options) {
  const size_t n = energies.size();
  const size_t capacity = static_cast<size_t>(PreciseTurnSteps(constants.h)) + 1;
  ClosedOrbits out;
  out.energies.resize(n);
  auto stopAsked = [&options] {
    return options.stop != nullptr && options.stop->load(std::memory_order_acquire) == 1;
  };

  // First pass: every energy on its own, on the threads.
  std::mutex mutex;  // guards next, stopping, error and the calls of energyFinished
  size_t next = 0;
  bool stopping = false;
  std::exception_ptr error;
  auto work = [&] {
    try {
      OrbitSamples samples;
      for (;;) {
        size_t i = 0;
        {
          std::lock_guard lock(mutex);
          if (stopping || error || next >= n) return;
          i = next++;
        }
        ClosedOrbit& orbit = out.energies[i];
        samples.Reserve(capacity);
        PreciseStarts starts;
        if (i < seeds.size() && seeds[i]) starts.seeds = std::span(&*seeds[i], 1);
        (void)FindPreciseOrbit(constants, tables, field, energies[i], samples, orbit.result,
                               starts);
        if (Closed(orbit)) orbit.samples = std::exchange(samples, OrbitSamples{});
        std::lock_guard lock(mutex);
        if (options.energyFinished) options.energyFinished(static_cast<int32_t>(i), orbit.result);
        if (stopAsked()) stopping = true;
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!error) error = std::current_exception();
    }
  };
  const size_t threads =
      std::min(static_cast<size_t>(std::max(options.threads, 1)), std::max<size_t>(n, 1));
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  if (error) std::rethrow_exception(error);
  if (stopping) {
    out.stopped = true;
    return out;
  }

  // Second pass: the energies that did not close (or closed only on an orbit about which the
  // radial motion grows), seeded from their closed neighbours, in
  // ascending energy and then once more in descending energy.
  std::vector<double> momenta(n);
  for (size_t i = 0; i < n; ++i) momenta[i] = KinematicsOf(energies[i], constants.E0).pc;
  for (int sweep = 0; sweep < 2; ++sweep) {
    for (size_t k = 0; k < n; ++k) {
      const size_t i = sweep == 0 ? k : n - 1 - k;
      ClosedOrbit& orbit = out.energies[i];
      if (StablyClosed(orbit)) continue;
      if (stopAsked()) {
        out.stopped = true;
        return out;
      }
      const std::vector<OrbitStart> starts = NeighbourSeeds(out.energies, energies, momenta, i);
      if (starts.empty()) continue;
      ClosedOrbit seeded;
      seeded.samples.Reserve(capacity);
      (void)FindPreciseOrbit(constants, tables, field, energies[i], seeded.samples, seeded.result,
                             PreciseStarts{starts, false});
      // The seeded closure replaces the first one when it got further.
      seeded.result.iterations += orbit.result.iterations;
      if (ClosureRank(seeded.result) > ClosureRank(orbit.result)) {
        orbit = std::move(seeded);
        if (!Closed(orbit)) orbit.samples = OrbitSamples{};
      } else {
        orbit.result.iterations = seeded.result.iterations;
      }
    }
  }
  if (!options.keepSamples)
    for (ClosedOrbit& orbit : out.energies) orbit.samples = OrbitSamples{};
  return out;
}

}  // namespace zuba
