// The kinematics of an ion from its kinetic and rest energy, and the constants of the program.
#include "numerics/kinematics.h"

#include <gtest/gtest.h>

#include <cmath>

#include "numerics/constants.h"

namespace zuba {
namespace {

TEST(Kinematics, HandComputedValues) {
  // Ek = E0: E = 2 E0, pc = sqrt(3) E0, beta = sqrt(3)/2, gamma = 2.
  const Kinematics doubled = KinematicsOf(1, 1);
  EXPECT_EQ(doubled.E, 2);
  EXPECT_DOUBLE_EQ(doubled.pc, 1.7320508075688772);
  EXPECT_DOUBLE_EQ(doubled.beta, 0.8660254037844386);
  EXPECT_EQ(doubled.gamma, 2);
  // A 60 MeV proton (E0 = 938.272 MeV): pc^2 = 3600 + 112592.64 = 116192.64 MeV^2.
  const Kinematics proton = KinematicsOf(60, 938.272);
  EXPECT_NEAR(proton.pc, 340.8704153, 1e-7);
  EXPECT_NEAR(proton.beta, 0.34146046, 1e-8);
  EXPECT_NEAR(proton.gamma, 1.06394734, 1e-8);
  // Ek = 1e-9 E0: pc = E0 sqrt(2e-9) (1 + 2.5e-10); formed from E^2 - E0^2 the cancellation would
  // cost about seven digits.
  EXPECT_NEAR(KinematicsOf(1e-9, 1).pc / std::sqrt(2e-9) - 1, 2.5e-10, 1e-15);
}

// Pi is 4 atan(1), two pi 8 atan(1); doubling is exact, so every way of forming two pi agrees.
TEST(Constants, PiAndTwoPi) {
  EXPECT_EQ(kPi, 4 * std::atan(1.0));
  EXPECT_EQ(kPi, 3.141592653589793);
  EXPECT_EQ(kTwoPi, 8 * std::atan(1.0));
  EXPECT_EQ(kTwoPi, kPi + kPi);
  EXPECT_EQ(kTwoPi, 2 * kPi);
}

}  // namespace
}  // namespace zuba
