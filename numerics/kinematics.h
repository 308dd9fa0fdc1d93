// Energy, momentum and speed of an ion from its kinetic energy and rest energy.
#pragma once

#include <cmath>

#include "numerics/constants.h"

namespace zuba {

struct Kinematics {
  double E = 0;      // total energy Ek + E0 (unit of Ek)
  double pc = 0;     // momentum times c (unit of Ek)
  double beta = 0;   // 1, speed relative to light, pc / E
  double gamma = 0;  // 1, E / E0
};

// The rest energy E0 = c² m0 (J) of a rest mass m0 (kg), c = 299792456.2 m/s.
inline double RestEnergy(double restMass) {
  return std::pow(kSpeedOfLight, 2) * restMass;
}

// Ek and E0 in one energy unit (J throughout the program), E0 > 0. pc is formed from Ek as
// sqrt(pow(Ek, 2) + 2 E0 Ek), not as sqrt(E^2 - E0^2), which would lose the digits of a small Ek;
// every orbit of the program starts from these values, in this order of operations.
inline Kinematics KinematicsOf(double Ek, double E0) {
  Kinematics k;
  k.E = Ek + E0;
  k.pc = std::sqrt(std::pow(Ek, 2) + 2 * E0 * Ek);
  k.beta = k.pc / k.E;
  k.gamma = k.E / E0;
  return k;
}

}  // namespace zuba
