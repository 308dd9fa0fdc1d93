// One integrated turn of the precise closure, as the closure of calc/orbits/precise_orbit.cpp uses
// it: the turn's ends, integrals and one-turn matrices (PreciseTurn), and the orbit's path on the
// sample azimuths (TurnPath), from which the closed orbit's samples are made.
#pragma once

#include <cstdint>
#include <vector>

#include "calc/orbits/precise_orbit.h"

namespace zuba::precise_detail {

// R, vR and the elapsed tau of one integrated turn on its sample azimuths (see
// PreciseSampleSpacing): the start, every azimuth of the grid inside the turn and the end.
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

// What the step control of a turn keeps below the tolerance: the orbit (R, vR, tau and the
// integrals of R and B), the one-turn matrices following it to a few digits (a Newton step needs no
// more), or everything (the turn whose matrices give the tunes).
enum class TurnAccuracy { Orbit, Full };

// Integrates one turn (or the arc given) from (Rs, vRs) at thetaS for an ion of total energy E (J)
// and speed V (m/rad) into path and turn; tau starts at zero. steps counts the integration steps
// made.
Outcome TrackTurn(const OrbitConstants& constants, const FieldPatches& field, double E, double V,
                  double Rs, double vRs, double thetaS, TurnPath& path, PreciseTurn& turn,
                  int64_t& steps, TurnAccuracy accuracy, double arc = kTwoPi);

// The samples of an integrated turn: its path with w from R and vR, tau from T0, B from the field.
void SampleTurn(const TurnPath& path, const FieldPatches& field, double V, double T0,
                OrbitSamples& samples);

}  // namespace zuba::precise_detail
