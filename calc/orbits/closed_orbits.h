// The precise closed orbits of a list of energies on one field, as a batch: the calculation
// worker's precise mode runs through it, and so can any caller that closes the same energies again
// and again on a changing field, seeding each energy from the orbit it closed the time before.
//
// A first pass closes the energies in chunks of 24 in ascending energy, the chunks on several
// threads: each energy from the caller's seed (if any), else from the closed orbits of the energies
// below it in its chunk (in the form of the second pass, below, but through up to the four
// nearest: cubic in the speed; for the second and third energies of a chunk in a field of equal
// sectors, first the orbit of one sector of their energy moved as far from it as the energy below
// is from its own), then from the orbit of one sector found from the default mode's estimate, the
// estimate itself, the circle of the azimuthal mean field, a scan of start radii.
// Within a chunk, the turns with the tunes of each energy are made beside the first turn of the
// next one, from the seed the orbit would give it (precise_detail::NextTurn), which that energy's
// closure takes where it starts there: the results are those of the energies closed one after
// another, bit for bit. A second pass, one energy after another in ascending energy and then once
// more in descending energy, seeds every energy that did not close from the closed orbits of its
// nearest closed neighbours, in units of the speed (R / beta and vR / beta, linear in beta through
// the two nearest, or scaled by the ratio of speeds from the nearest alone). The results do not
// depend on the thread count, bit for bit.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "calc/orbits/orbit.h"
#include "calc/orbits/precise_orbit.h"
#include "numerics/field_patches.h"
#include "platform/stop.h"

namespace zuba {

struct ClosedOrbitsOptions {
  int threads = 1;  // energies closed in parallel in the first pass
  // Called as each energy's first pass ends, with its index and result; from any thread, one
  // call at a time. May be empty.
  std::function<void(int32_t energy, const PreciseOrbitResult& result)> energyFinished;
  // Called with the samples of each closed orbit as the batch takes it (one precise turn on its
  // sample grid, see TrackPreciseTurn); from any thread, one call at a time. The second
  // pass calls an energy again when it replaces the energy's orbit by one that closes better
  // (ClosureRank): the last call of an energy holds the orbit of its result. May be empty.
  std::function<void(int32_t energy, const OrbitSamples& samples)> orbitClosed;
  // Read after each energy: a stop ends the batch once the energies in flight have ended.
  StopToken stop;
};

struct ClosedOrbits {
  // One per energy of the batch, in its order: values, status and reason (see FindPreciseOrbit);
  // Rs, vRs and thetaS of a closed orbit seed the same energy on a slightly changed field.
  std::vector<PreciseOrbitResult> energies;
  bool stopped = false;  // a stop request ended the batch early
};

// Closes the orbits of the energies (J). seeds, when not empty, holds one optional start per
// energy, tried before anything else. Throws std::bad_alloc when memory runs out.
//
// The seeds come from a copy of R, vR and theta of each closed orbit's samples (17 KB an energy
// on a 0.5-degree map); the samples themselves go to orbitClosed and are not kept.
ClosedOrbits CloseOrbits(const OrbitConstants& constants, const AverageFieldTables& tables,
                         const FieldPatches& field, std::span<const double> energies,
                         std::span<const std::optional<OrbitStart>> seeds,
                         const ClosedOrbitsOptions& options);

}  // namespace zuba
