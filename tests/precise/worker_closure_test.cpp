// The worker with either closure: the closure tables appear only with the precise closure, one
// entry per energy, and agree with what a single precise search gives.
#include <gtest/gtest.h>

#include "calc/run/diagnostics.h"
#include "calc/run/driver.h"
#include "numerics/average_field.h"
#include "platform/message.h"
#include "platform/progress.h"
#include "results/result_tables.h"
#include "tests/precise/precise_support.h"
#include "tests/shown.h"

namespace zuba {
namespace {

using test::Ideal;

PreparedRun FlutterRecord() {
  const Ideal ideal;
  return test::MakeRecord(kModeTvk310, 1e-3, 2.0, 8.0, 3.0, test::MapShape{81, 0.8, 72},
                          [&](double R, double theta) {
                            return ideal.B0 * ideal.Gamma(R) * (1 + 0.3 * std::cos(4 * theta));
                          });
}

ResultTables RunWorker(const PreparedRun& record, const WorkerOptions& options) {
  RecordingProgress progress;
  CalculationOutput output = test::RunShown(record, progress, options);
  EXPECT_EQ(output.outcome, WorkerOutcome::Completed);
  return std::move(output.results);
}

TEST(WorkerClosure, PreciseRunAddsTheClosureTables) {
  MessageCapture capture;
  WorkerOptions options;
  options.threads = 2;
  options.closure = ClosureMode::Precise;
  options.gainPerTurnMeV = 0.05;
  const ResultTables r = RunWorker(FlutterRecord(), options);
  ASSERT_EQ(r.F0.size(), 3);
  const ClosureTables& c = r.closure;
  EXPECT_EQ(c.mode, 1);
  EXPECT_EQ(c.gainPerTurn, 0.05);
  ASSERT_EQ(c.nuR.size(), 3);
  ASSERT_EQ(c.nuZ.size(), 3);
  ASSERT_EQ(c.status.size(), 3);
  ASSERT_EQ(c.isochronism.size(), 3);
  ASSERT_EQ(c.phaseDeg.size(), 3);
  const Diagnostics d = ComputeDiagnostics(r, 0.05);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(c.status[i], 0) << i;
    EXPECT_GT(c.nuR[i], 1.0) << i;
    EXPECT_GT(c.nuZ[i], 0.0) << i;
    EXPECT_LT(c.nuZ[i], 0.5) << i;
    EXPECT_EQ(c.isochronism[i], d.isochronism[i]) << i;
    EXPECT_EQ(c.phaseDeg[i], d.phaseDeg[i]) << i;
    EXPECT_LE(std::fabs(r.dReo[i]), kPreciseToleranceR) << i;
  }
  // Every energy keeps one turn of samples, one at least per azimuth node of this 5-degree map.
  int64_t points = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(r.OrbitPoints[i], 72) << i;
    points += r.OrbitPoints[i];
  }
  EXPECT_EQ(static_cast<int64_t>(r.OrbitR.size()), points);
  EXPECT_TRUE(capture.messages().empty());
}

TEST(WorkerClosure, DefaultRunKeepsOnlyItsGainAndDiffersFromThePrecise) {
  MessageCapture capture;
  const ResultTables standard = RunWorker(FlutterRecord(), WorkerOptions{});
  // The default search keeps only the gain per turn of its phase slip.
  ClosureTables gainOnly;
  gainOnly.gainPerTurn = kDefaultGainPerTurnMeV;
  EXPECT_EQ(standard.closure, gainOnly);
  WorkerOptions options;
  options.closure = ClosureMode::Precise;
  const ResultTables precise = RunWorker(FlutterRecord(), options);
  // Same energies, close but not equal orbits.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(standard.Ek[i], precise.Ek[i]);
    EXPECT_NEAR(standard.Rmn[i], precise.Rmn[i], 2e-3) << i;
    EXPECT_NE(standard.F0[i], precise.F0[i]) << i;
    // Rev / Rmn = 1 + v, the radius correction of the average field at the start radius: the
    // same for both closures, about 0.16 % here.
    const double standardRatio = standard.Rev[i] / standard.Rmn[i];
    EXPECT_GT(standardRatio - 1, 1e-3) << i;
    EXPECT_NEAR(precise.Rev[i] / precise.Rmn[i], standardRatio, 1e-3 * (standardRatio - 1)) << i;
  }
}

}  // namespace
}  // namespace zuba
