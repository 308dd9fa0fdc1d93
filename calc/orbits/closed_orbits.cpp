// The precise closed orbits of a list of energies (see closed_orbits.h).
#include "calc/orbits/closed_orbits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <utility>

#include "calc/orbits/precise_turn.h"
#include "numerics/kinematics.h"
#include "platform/threads.h"

namespace zuba {
namespace {

// Energies closed one after another in the first pass, each seeded from those below it. The first
// energies of a chunk cost more turns (on the ring example 4.0, 3.2, 3.1 and 2.4 against 2.04 from
// the fifth on); twenty-four make a 260-energy run eleven chunks, which two, four or eight threads
// finish in as few rounds of chunks as seventeen of sixteen energies.
constexpr size_t kChunk = 24;
// The closed neighbours below an energy its first pass's seeds are extrapolated from (a cubic in
// the speed: an energy with four closed ones below mostly closes in two turns; the second
// pass keeps to two, so that the energies that do not close end as they did).
constexpr size_t kSeedPoints = 4;
// The energies after the first of a chunk that start from the orbit of one sector of their energy
// (Batch::FirstPassSeeds).
constexpr size_t kSectorSeeded = 2;
// m, m/rad: how close the chunk's first closed orbit lies to its orbit of one sector where they
// do (on the ring example 1e-11 to 3e-6).
constexpr double kEqualSectors = 1e-5;

bool Closed(const PreciseOrbitResult& r) {
  return r.status == ClosureStatus::Converged;
}

// A closed orbit about which the radial motion is stable: the orbit the ions follow.
bool StablyClosed(const PreciseOrbitResult& r) {
  return ClosureRank(r) == kStableClosureRank;
}

// R and vR of a closed orbit on its samples' azimuths, which OrbitAt reads as it reads the
// orbit's own samples.
OrbitSamples Ring(const OrbitSamples& samples) {
  OrbitSamples ring;
  ring.R = samples.R;
  ring.vR = samples.vR;
  ring.theta = samples.theta;
  return ring;
}

// The (up to) kSeedPoints closed neighbours of energy i nearest to it by energy among the
// energies from .. to - 1 (the lower one on a tie; stably closed ones where there are any),
// nearest first; none (results.size()) where there are fewer.
// An energy taken as stably closed on the orbit from start before its closure has ended (the
// seeds its closed orbit would give the next energy: precise_detail::NextTurn).
struct Assumed {
  size_t index;
  OrbitStart start;
};

std::array<size_t, kSeedPoints> NearestClosed(const std::vector<PreciseOrbitResult>& results,
                                              std::span<const double> energies, size_t i,
                                              size_t from, size_t to, const Assumed* assumed) {
  const size_t none = results.size();
  std::array<size_t, kSeedPoints> nearest{};
  nearest.fill(none);
  auto closer = [&](size_t a, size_t b) {  // a nearer to energy i than b
    return b == none || std::fabs(energies[a] - energies[i]) < std::fabs(energies[b] - energies[i]);
  };
  for (bool (*usable)(const PreciseOrbitResult&) : {StablyClosed, Closed}) {
    for (size_t k = from; k < to; ++k) {
      if (k == i || !((assumed && k == assumed->index) || usable(results[k]))) continue;
      size_t at = 0;
      while (at < nearest.size() && !closer(k, nearest[at])) ++at;
      if (at == nearest.size()) continue;
      std::copy_backward(nearest.begin() + static_cast<std::ptrdiff_t>(at), nearest.end() - 1,
                         nearest.end());
      nearest[at] = k;
    }
    if (nearest[0] != none) break;
  }
  return nearest;
}

// The seeds of energy i from the closed orbits of its nearest closed neighbours among the
// energies from .. to - 1 (NearestClosed), all at the start azimuth of the nearest: R / beta and
// vR / beta as the polynomial in the speed beta through the most (at most `most`) nearest, then
// through one fewer, down to the nearest alone scaled by the ratio of speeds. In an isochronous
// field the orbit's size grows as the speed (R = beta c / omega0 on average), so that R / beta
// changes less from energy to energy than R / p: on the ring example the nearest alone, scaled
// so, starts 0.7 to 1.2 mm from the closed orbit, where the ratio of momenta left it 5 to 7 mm
// (and a turn more to close). None when no energy has closed. assumed, where given, is taken as
// closed.
std::vector<OrbitStart> NeighbourSeeds(const std::vector<PreciseOrbitResult>& results,
                                       const std::vector<OrbitSamples>& rings,
                                       std::span<const double> energies,
                                       std::span<const double> speeds, size_t i, size_t from,
                                       size_t to, size_t most, const Assumed* assumed = nullptr) {
  const size_t none = results.size();
  const std::array<size_t, kSeedPoints> near =
      NearestClosed(results, energies, i, from, to, assumed);
  std::vector<OrbitStart> seeds;
  if (near[0] == none) return seeds;
  const OrbitStart a =
      assumed && near[0] == assumed->index
          ? assumed->start
          : OrbitStart{results[near[0]].Rs, results[near[0]].vRs, results[near[0]].thetaS};
  const double beta = speeds[i];
  // The points (beta_k, R_k / beta_k, vR_k / beta_k) of the neighbours at a's start azimuth.
  std::array<double, kSeedPoints> betas{}, uR{}, uV{};
  size_t points = 0;
  for (const size_t k : near) {
    if (points == most || k == none || (k != near[0] && rings[k].R.empty())) break;
    const OrbitStart at = k == near[0] ? a : OrbitAt(rings[k], a.thetaS);
    betas[points] = speeds[k];
    uR[points] = at.R / speeds[k];
    uV[points] = at.vR / speeds[k];
    ++points;
  }
  // The polynomial through the first n points at beta, in the Lagrange form.
  for (size_t n = points; n >= 1; --n) {
    OrbitStart seed{0, 0, a.thetaS};
    for (size_t j = 0; j < n; ++j) {
      double weight = 1;
      for (size_t q = 0; q < n; ++q)
        if (q != j) weight *= (beta - betas[q]) / (betas[j] - betas[q]);
      seed.R += weight * uR[j] * beta;
      seed.vR += weight * uV[j] * beta;
    }
    seeds.push_back(seed);
  }
  return seeds;
}

// One batch as it is closed: its inputs, the results so far and the copies of the closed orbits
// that seed their neighbours.
struct Batch {
  const OrbitConstants& constants;
  const AverageFieldTables& tables;
  const FieldPatches& field;
  std::span<const double> energies;
  std::span<const std::optional<OrbitStart>> seeds;
  const ClosedOrbitsOptions& options;
  ClosedOrbits& out;
  std::vector<OrbitSamples> rings = {};  // of the closed orbits
  std::vector<double> speeds = {};       // beta of each energy
  // The orbits of one sector sought for the seeds of the first pass, with the start of each.
  struct SectorSearch {
    OrbitStart from;
    SectorOrbitResult found;
  };
  std::vector<std::optional<SectorSearch>> sectorOrbits = {};
  std::vector<SectorOrbitResult> sectorCost = {};  // the arcs and steps for each energy's seeds
  std::mutex mutex = {};                           // guards the calls of the callbacks

  bool StopAsked() const { return options.stop.StopRequested(); }

  // The seeds of energy i in the first pass over the chunk from first: the caller's, else from
  // the closed energies below it (assumed among them where given). In a field of equal sectors
  // (the chunk's first closed orbit within kEqualSectors of its orbit of one sector), the second
  // and third energies of a chunk, whose one or two neighbours leave the seeds 2e-4 to 6e-3 m from
  // the closed orbit on the ring example (a Newton turn more), start first from the orbit of one
  // sector of their energy (sought from those seeds) moved as far from it as the energy below is
  // from its own: within 1e-7 m there. Where the sectors differ, that distance changes with the
  // energy more than the neighbours' seeds miss by.
  std::vector<OrbitStart> FirstPassSeeds(size_t i, size_t first, const Assumed* assumed) {
    if (i < seeds.size() && seeds[i]) return {*seeds[i]};
    std::vector<OrbitStart> near =
        NeighbourSeeds(out.energies, rings, energies, speeds, i, first, i, kSeedPoints, assumed);
    if (near.empty() || i - first > kSectorSeeded || constants.N < 2) return near;
    // The closed orbits of the chunk's first energy and of the energy below (or those assumed).
    auto closedOrbit = [&](size_t k) -> std::optional<OrbitStart> {
      if (assumed && assumed->index == k) return assumed->start;
      const PreciseOrbitResult& r = out.energies[k];
      if (!Closed(r)) return std::nullopt;
      return OrbitStart{r.Rs, r.vRs, r.thetaS};
    };
    const size_t below = i - 1;
    const std::optional<OrbitStart> firstClosed = closedOrbit(first), closed = closedOrbit(below);
    if (!firstClosed || !closed || closed->thetaS != near[0].thetaS) return near;
    const std::optional<OrbitStart> firstSector = SectorOrbitOf(first, *firstClosed, i);
    if (!firstSector || !(std::fabs(firstClosed->R - firstSector->R) <= kEqualSectors &&
                          std::fabs(firstClosed->vR - firstSector->vR) <= kEqualSectors))
      return near;
    // The energy below's own orbit of one sector, where it was sought for its seeds, else from
    // its closed orbit.
    const std::optional<OrbitStart> own = below == first ? firstSector
                                          : sectorOrbits[below] && sectorOrbits[below]->found.orbit
                                              ? sectorOrbits[below]->found.orbit
                                              : SectorOrbitOf(below, *closed, i);
    const std::optional<OrbitStart> next = own ? SectorOrbitOf(i, near[0], i) : std::nullopt;
    if (!next) return near;
    near.insert(near.begin(), OrbitStart{next->R + (closed->R - own->R),
                                         next->vR + (closed->vR - own->vR), closed->thetaS});
    return near;
  }

  // The orbit of one sector of energy k sought from start, kept for the next call from the same
  // start (the seeds of an energy are formed before its closure and again at it); the arcs and
  // steps of each search count for energy forEnergy, whose seeds it forms.
  std::optional<OrbitStart> SectorOrbitOf(size_t k, const OrbitStart& start, size_t forEnergy) {
    std::optional<SectorSearch>& kept = sectorOrbits[k];
    if (!kept || !(kept->from.R == start.R && kept->from.vR == start.vR &&
                   kept->from.thetaS == start.thetaS)) {
      kept = SectorSearch{start, SectorOrbit(constants, field, energies[k], start)};
      sectorCost[forEnergy].arcs += kept->found.arcs;
      sectorCost[forEnergy].steps += kept->found.steps;
    }
    return kept->found.orbit;
  }

  // The first turn of energy i + 1 of the chunk (first .. end - 1) should energy i close on the
  // orbit from start: from its first seed, as its closure will begin.
  bool FirstTurnAfter(size_t i, size_t first, size_t end, const OrbitStart& start,
                      precise_detail::TurnOrder& order) {
    if (i + 1 >= end) return false;
    const Assumed assumed{i, start};
    const std::vector<OrbitStart> next = FirstPassSeeds(i + 1, first, &assumed);
    if (next.empty()) return false;
    const Kinematics kinematics = KinematicsOf(energies[i + 1], constants.E0);
    const double V = kinematics.beta * constants.rInfinity;
    order = {kinematics.E, V, next[0].R, std::fabs(next[0].vR) < V ? next[0].vR : 0,
             next[0].thetaS};
    return true;
  }

  // The first pass over chunk number chunk; false when a stop ended it. Each energy's turn with
  // the tunes is integrated beside the next energy's first turn (precise_detail::NextTurn).
  bool CloseChunk(size_t chunk, OrbitSamples& samples) {
    const size_t n = energies.size();
    const size_t first = chunk * kChunk, end = std::min(n, first + kChunk);
    precise_detail::NextTurn next;
    for (size_t i = first; i < end; ++i) {
      if (i > first && StopAsked()) return false;
      const std::vector<OrbitStart> below = FirstPassSeeds(i, first, nullptr);
      PreciseStarts starts;
      starts.seeds = below;
      next.after = [this, i, first, end](const OrbitStart& start,
                                         precise_detail::TurnOrder& order) {
        return FirstTurnAfter(i, first, end, start, order);
      };
      starts.next = &next;
      // The accuracy level the energy below needed, which this one mostly shares.
      if (i > first && Closed(out.energies[i - 1])) starts.tuneLevel = out.energies[i - 1].level;
      PreciseOrbitResult& result = out.energies[i];
      result = FindPreciseOrbit(constants, tables, field, energies[i], samples, starts);
      // The orbits of one sector its seeds came from (a sector's arcs count as turns by N).
      const int32_t sectors = std::max(constants.N, 1);
      result.iterations += (sectorCost[i].arcs + sectors - 1) / sectors;
      result.steps += sectorCost[i].steps;
      if (Closed(result)) rings[i] = Ring(samples);
      std::lock_guard lock(mutex);
      if (Closed(result) && options.orbitClosed)
        options.orbitClosed(static_cast<int32_t>(i), samples);
      if (options.energyFinished) options.energyFinished(static_cast<int32_t>(i), result);
    }
    return true;
  }

  // The second pass: the energies that did not close (or closed only on an orbit about which the
  // radial motion grows), seeded from their closed neighbours, in ascending energy and then once
  // more in descending energy. false when a stop ended it.
  bool SecondPass() {
    const size_t n = energies.size();
    OrbitSamples samples;
    for (int sweep = 0; sweep < 2; ++sweep) {
      for (size_t k = 0; k < n; ++k) {
        const size_t i = sweep == 0 ? k : n - 1 - k;
        PreciseOrbitResult& result = out.energies[i];
        if (StablyClosed(result)) continue;
        if (StopAsked()) return false;
        const std::vector<OrbitStart> starts =
            NeighbourSeeds(out.energies, rings, energies, speeds, i, 0, n, 2);
        if (starts.empty()) continue;
        PreciseOrbitResult seeded = FindPreciseOrbit(constants, tables, field, energies[i], samples,
                                                     PreciseStarts{starts, false});
        // The seeded closure replaces the first one when it got further.
        seeded.iterations += result.iterations;
        seeded.steps += result.steps;
        if (ClosureRank(seeded) <= ClosureRank(result)) {
          result.iterations = seeded.iterations;
          result.steps = seeded.steps;
          continue;
        }
        result = std::move(seeded);
        if (!Closed(result)) continue;
        rings[i] = Ring(samples);
        if (options.orbitClosed) options.orbitClosed(static_cast<int32_t>(i), samples);
      }
    }
    return true;
  }
};

}  // namespace

ClosedOrbits CloseOrbits(const OrbitConstants& constants, const AverageFieldTables& tables,
                         const FieldPatches& field, std::span<const double> energies,
                         std::span<const std::optional<OrbitStart>> seeds,
                         const ClosedOrbitsOptions& options) {
  const size_t n = energies.size();
  ClosedOrbits out;
  out.energies.resize(n);
  Batch batch{constants, tables, field, energies, seeds, options, out};
  batch.rings.resize(n);
  batch.speeds.resize(n);
  batch.sectorOrbits.resize(n);
  batch.sectorCost.resize(n);
  for (size_t i = 0; i < n; ++i) batch.speeds[i] = KinematicsOf(energies[i], constants.E0).beta;
  // First pass: the energies in chunks of kChunk in ascending order, the chunks on the threads.
  // Each energy starts from the caller's seed, else from the closed orbits of the energies below
  // it in its chunk, then from its own estimates; the chunks do not depend on the thread count.
  const size_t chunks = (n + kChunk - 1) / kChunk;
  std::vector<OrbitSamples> scratch(LoopThreads(chunks, options.threads));  // each worker's own
  out.stopped = !ParallelFor(
      chunks, options.threads,
      [&](size_t worker, size_t chunk) { return batch.CloseChunk(chunk, scratch[worker]); },
      [&batch] { return batch.StopAsked(); });
  if (!out.stopped) out.stopped = !batch.SecondPass();
  return out;
}

}  // namespace zuba
