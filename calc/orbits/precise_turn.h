// One integrated turn of the precise closure, as the closure of calc/orbits/precise_orbit.cpp uses
// it: the turn's ends, integrals and one-turn matrices (PreciseTurn), and the orbit's path on the
// sample azimuths (TurnPath), from which the closed orbit's samples are made.
#pragma once

#include <cstdint>
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
// following it to a few digits (a Newton step needs no more), or everything: the time and the
// integrals of the means too, both matrices to the tolerance, the path on the sample azimuths (the
// turn whose values and tunes are reported).
enum class TurnAccuracy { Path, Orbit, Full };

// Integrates one turn (or the arc given) from (Rs, vRs) at thetaS for an ion of total energy E (J)
// and speed V (m/rad) into path and turn; tau starts at zero. steps counts the integration steps
// made. A Full turn starts at the accuracy level tuneLevel (see kNearestWholeTune) and is
// integrated again at the level its orbit and tunes need where that is higher.
Outcome TrackTurn(const OrbitConstants& constants, const FieldPatches& field, double E, double V,
                  double Rs, double vRs, double thetaS, TurnPath& path, PreciseTurn& turn,
                  int64_t& steps, TurnAccuracy accuracy, double arc = kTwoPi,
                  int32_t tuneLevel = 0);

// The samples of an integrated turn: its path with w from R and vR, tau from T0, B from the field's
// patches as the integration evaluates it (within a few units in the last place of Evaluate).
void SampleTurn(const TurnPath& path, const FieldPatches& field, double V, double T0,
                OrbitSamples& samples);

}  // namespace zuba::precise_detail
