// One integrated turn of the precise closure, as the closure of calc/orbits/precise_orbit.cpp uses
// it: the turn's ends, integrals and one-turn matrices (PreciseTurn), and the orbit's path on the
// sample azimuths (TurnPath), from which the closed orbit's samples are made.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "calc/orbits/precise_orbit.h"

namespace zuba::precise_detail {

// R, vR and the elapsed tau of one integrated turn on its sample azimuths (see
// PreciseSampleSpacing): the start, every azimuth of the grid inside the turn and the end; after a
// turn that does not integrate everything (TurnAccuracy) the start alone.
struct TurnPath {
  std::vector<double> theta, R, vR, tau;  // rad, m, m/rad, rad (tau from zero at the start)

  void Clear() {
    theta.clear();
    R.clear();
    vR.clear();
    tau.clear();
  }
  void Add(double atTheta, double atR, double atVr, double atTau) {
    theta.push_back(atTheta);
    R.push_back(atR);
    vR.push_back(atVr);
    tau.push_back(atTau);
  }
};

// What a turn integrates and its step control keeps below the tolerance: the orbit alone (R and
// vR, for the closure residual; everything else is NaN), the orbit with the radial one-turn matrix
// (a Newton turn: the matrix counted as in the turn with the tunes at level 0, so that from a start
// close by its steps and errors are those of the turn with the tunes), or everything: the time and
// the integrals of the means too, both matrices, the path on the sample azimuths (the turn whose
// values and tunes are reported).
enum class TurnAccuracy { Path, Orbit, Full };

// Integrates one turn (or the arc given) from (Rs, vRs) at thetaS for an ion of total energy E (J)
// and speed V (m/rad) into path and turn; tau starts at zero. steps counts the integration steps
// made. A Full turn starts at the accuracy level tuneLevel (see kNearestWholeTune) and is
// integrated again at the level its orbit and tunes need where that is higher.
Outcome TrackTurn(const OrbitConstants& constants, const FieldPatches& field, double E, double V,
                  double Rs, double vRs, double thetaS, TurnPath& path, PreciseTurn& turn,
                  int64_t& steps, TurnAccuracy accuracy, double arc = kTwoPi,
                  int32_t tuneLevel = 0);

// Where a turn starts, for an ion of total energy E (J) and speed V (m/rad): (Rs, vRs) at thetaS.
struct TurnOrder {
  double E = 0, V = 0, Rs = 0, vRs = 0, thetaS = 0;

  friend bool operator==(const TurnOrder&, const TurnOrder&) = default;
};

// What TrackTurn gives: its outcome, path and turn, and the steps it made.
struct TurnResult {
  Outcome outcome;
  TurnPath path;
  PreciseTurn turn;
  int64_t steps = 0;
};

// The turn with the tunes of one closure (as TrackTurn with TurnAccuracy::Full and tuneLevel) and
// the first turn of another (TurnAccuracy::Orbit), both over a whole turn, integrated stage by
// stage in turn: each stage of one fills the time the other's waits for the stage before it. Each
// result is TrackTurn's bit for bit; steps are added to the results' counts.
void TrackTurnsInTurn(const OrbitConstants& constants, const FieldPatches& field,
                      const TurnOrder& full, int32_t tuneLevel, TurnResult& fullResult,
                      const TurnOrder& first, TurnResult& firstResult);

// The first turn of the energy after the one being closed, integrated beside that energy's turns
// with the tunes (TrackTurnsInTurn) and kept until the next energy's closure asks for it: with
// energies closed one after another, the turn with the tunes of one and the first turn of the next
// are made together.
struct NextTurn {
  // The next energy's first turn where the orbit being closed starts at start, should it close
  // there (from the seeds that orbit would give): false where there is none.
  std::function<bool(const OrbitStart& start, TurnOrder& order)> after;
  // The last such turn integrated, kept until a closure takes it.
  std::optional<TurnOrder> kept;
  TurnResult result;

  // Gives the kept turn (as TrackTurn would integrate it, its steps added to steps) where it starts
  // as order does; false, and nothing changed, where it does not.
  bool Take(const TurnOrder& order, TurnPath& path, PreciseTurn& turn, int64_t& steps) {
    if (!kept || !(*kept == order)) return false;
    kept.reset();
    std::swap(path, result.path);
    turn = result.turn;
    steps += result.steps;
    return true;
  }
};

// The samples of an integrated turn: its path with w from R and vR, tau from T0, B from the field's
// patches as the integration evaluates it (within a few units in the last place of Evaluate).
void SampleTurn(const TurnPath& path, const FieldPatches& field, double V, double T0,
                OrbitSamples& samples);

}  // namespace zuba::precise_detail
