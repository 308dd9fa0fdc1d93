// Conversions between the program's SI units and the units users give and read: energies in MeV,
// angles in degrees. Each is written once here, with the operation order every result was made
// with (a report keeps its digits only if the conversion keeps its last bit).
#pragma once

#include "numerics/constants.h"

namespace zuba {

// J -> MeV: the joules divided by the joules of one MeV.
inline double JoulesToMeV(double joules) {
  return joules / (1e6 * kElementaryCharge);
}

// MeV -> J: the megaelectronvolts times 10^6, times the elementary charge.
inline double MeVToJoules(double mev) {
  return mev * 1000000 * kElementaryCharge;
}

// degree -> rad and back, through π / 180 (kPi is formed at start-up: a function, not a constant
// of namespace scope that might be initialised before it).
inline double Radians(double degrees) {
  return degrees * (kPi / 180);
}
inline double Degrees(double radians) {
  return radians / (kPi / 180);
}

}  // namespace zuba
