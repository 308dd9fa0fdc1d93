// Isochronism error and RF phase slip of a run.
#include "calc/diagnostics.h"

#include <gtest/gtest.h>

namespace zuba {
namespace {

TEST(Diagnostics, IsochronousRunHasNoErrorAndNoSlip) {
  const double frf = 26.26e6;  // Hz
  const std::vector<double> F0(5, frf / 2);
  for (double f : F0) EXPECT_DOUBLE_EQ(IsochronismError(f, 2, frf), 0);
  for (double phi : PhaseSlip(F0, 2, frf, 0.6, 0.1)) EXPECT_DOUBLE_EQ(phi, 0);
}

TEST(Diagnostics, SlowIonLagsByTheRfPeriodsItLosesPerTurn) {
  const double frf = 16.3e6;  // Hz
  const int32_t H = 2;
  const double eps = 1e-4;                  // the ion is slow by this fraction
  const double f0 = frf / (H * (1 + eps));  // Hz
  const std::vector<double> F0(4, f0);
  EXPECT_NEAR(IsochronismError(f0, H, frf), -eps / (1 + eps), 1e-15);
  // Per turn the ion needs H (1 + eps) RF periods: 360 H eps degrees late; dEk / G = 10 turns.
  const std::vector<double> phi = PhaseSlip(F0, H, frf, 1.0, 0.1);
  ASSERT_EQ(phi.size(), 4u);
  EXPECT_EQ(phi[0], 0);
  for (int i = 1; i < 4; ++i) EXPECT_NEAR(phi[i], i * 360 * H * eps * 10, 1e-9) << i;
}

TEST(Diagnostics, TablesFollowTheRecordAndItsRunDescription) {
  ResultTables r;
  r.run.Frf = 20.0;  // MHz
  r.run.H = 1;
  r.run.dEk = 0.5;  // MeV
  r.F0 = RealTable({20.0e6, 20.002e6, 19.998e6});
  const Diagnostics d = ComputeDiagnostics(r, 0.25);
  ASSERT_EQ(d.isochronism.size(), 3u);
  EXPECT_NEAR(d.isochronism[1], 1e-4, 1e-15);
  EXPECT_NEAR(d.isochronism[2], -1e-4, 1e-15);
  ASSERT_EQ(d.phaseDeg.size(), 3u);
  EXPECT_NEAR(d.phaseDeg[2], 360 * (20.0e6 / 20.002e6 - 1) * 2, 1e-12);  // fast ion: leads
  EXPECT_LT(d.phaseDeg[2], 0);
  EXPECT_TRUE(ComputeDiagnostics(ResultTables{}, 0.1).phaseDeg.empty());
}

}  // namespace
}  // namespace zuba
