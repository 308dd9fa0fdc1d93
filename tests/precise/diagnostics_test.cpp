// Isochronism error, RF phase slip and statuses of a run.
#include "calc/run/diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "numerics/constants.h"

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

// An energy without F0 (an orbit that did not close) has no isochronism and no phase; the slip
// runs over it with the F0 of the energy before, and starts at the first energy with F0.
TEST(Diagnostics, EnergiesWithoutValuesAreSkippedByTheSlip) {
  const double none = 2147483647.0, frf = 20.0e6, f0 = 20.002e6;
  const double perStep = 360 * (frf / f0 - 1) * 2;  // dEk / G = 2 turns per energy step
  struct Case {
    std::vector<double> F0, phase;
  };
  const Case cases[] = {
      {{f0, none, f0, f0}, {0, none, 2 * perStep, 3 * perStep}},
      {{none, f0, f0}, {none, 0, perStep}},
      {{none, none}, {none, none}},
  };
  for (const Case& c : cases) {
    ResultTables r;
    r.run.Frf = 20.0;
    r.run.H = 1;
    r.run.dEk = 0.5;
    r.F0 = RealTable(c.F0);
    const Diagnostics d = ComputeDiagnostics(r, 0.25);
    ASSERT_EQ(d.phaseDeg.size(), c.phase.size());
    for (size_t i = 0; i < c.phase.size(); ++i) {
      EXPECT_NEAR(d.phaseDeg[i], c.phase[i], 1e-9) << i;
      EXPECT_EQ(d.isochronism[i] == none, c.F0[i] == none) << i;
    }
  }
}

// After a run of the default search every energy has values; one whose search ran out of trials
// (|dReo| above 0.5 mm) says so in its status and reason.
TEST(Diagnostics, DefaultSearchStatusFollowsTheClosureError) {
  ResultTables r;
  r.run.Frf = 20.0;
  r.run.H = 1;
  r.Ek = RealTable({1e-13, 2e-13});
  r.F0 = RealTable({20e6, 20e6});
  r.dReo = RealTable({0.0004, -0.0007});
  const ClosureColumns columns = ClosureColumnsOf(r, 0.1);
  EXPECT_FALSE(columns.precise);
  EXPECT_EQ(columns.status, (std::vector<int32_t>{0, 1}));
  EXPECT_TRUE(columns.reasons[0].empty());
  EXPECT_NE(columns.reasons[1].find("100 trials"), std::string::npos);
  EXPECT_TRUE(columns.HasValues(0) && columns.HasValues(1));
  EXPECT_EQ(columns.StatusText(0), "closed");
  EXPECT_EQ(columns.StatusText(1), "not_accepted");
  EXPECT_EQ(NotAcceptedEnergies(r), (std::vector<bool>{false, true}));
}

TEST(Diagnostics, EnergyRangesJoinNeighbours) {
  const double MeV = 1e6 * kElementaryCharge;
  const std::vector<double> ek = {0.6 * MeV, 1.2 * MeV, 1.8 * MeV, 2.4 * MeV, 3.0 * MeV};
  struct Case {
    std::vector<bool> chosen;
    const char* text;
  } cases[] = {{{false, false, false, false, false}, ""},
               {{true, false, false, false, false}, "0.6 MeV"},
               {{true, true, false, true, false}, "0.6\u20131.2, 2.4 MeV"},
               {{false, true, true, true, true}, "1.2\u20133 MeV"}};
  for (const Case& c : cases) EXPECT_EQ(EnergyRanges(ek, c.chosen), c.text);
}

// After a run of the default search the energies whose accepted orbit runs below the map's first
// radius are named; a precise run refuses such orbits and has no such note.
TEST(Diagnostics, InnerEdgeNoteNamesTheOrbitsBelowTheMap) {
  const double MeV = 1e6 * kElementaryCharge;
  ResultTables r;
  r.Ek = RealTable({0.6 * MeV, 1.2 * MeV, 1.8 * MeV, 2.4 * MeV});
  r.OrbitPoints = IntTable({3, 3, 3, 3});
  r.OrbitR = RealTable({0.19, 0.21, 0.22, 0.21, 0.199, 0.23, 0.25, 0.24, 0.26, 0.3, 0.31, 0.3});
  EXPECT_EQ(
      InnerEdgeNote(r, 0.2),
      "Inner edge: the orbits of 0.6\u20131.2 MeV run below the map's first radius (0.2 m), on "
      "field extrapolated from the map; the precise closure does not close them.");
  EXPECT_FALSE(InnerEdgeNote(r, 0.1));
  r.closure.mode = 1;
  EXPECT_FALSE(InnerEdgeNote(r, 0.2));
}

}  // namespace
}  // namespace zuba
