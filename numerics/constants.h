// The physical and mathematical constants of the program, with the values every calculation and
// conversion uses: the elementary charge, the atomic mass unit, the speed of light and pi.
#pragma once

#include <cmath>

namespace zuba {

inline constexpr double kElementaryCharge = 1.6021892e-19;  // C, also J per eV
inline constexpr double kKilogramsPerSamu = 1.6605655e-27;  // kg
inline constexpr double kSpeedOfLight = 299792456.2;        // m/s (this value, not 299792458)

// Pi as the program forms it, 4 * atan(1), and two pi as 8 * atan(1). Doubling is exact in binary
// floating point, so kTwoPi equals kPi + kPi and 2 * kPi to the last bit. The compiler folds the
// arctangent of a constant, so both are plain constants in optimised code.
inline const double kPi = 4 * std::atan(1.0);
inline const double kTwoPi = 8 * std::atan(1.0);

// kPi for the code that asks for it by call.
inline double Pi() {
  return kPi;
}

}  // namespace zuba
