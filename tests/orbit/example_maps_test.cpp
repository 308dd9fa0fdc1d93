// Full preset runs on the bundled example maps: every energy closes at the first acceptance test
// of the search (no non-convergence warning) and every orbit revolves at the frequency that its
// mean field gives a closed orbit, F0 = |q| Bmn / (2 pi gamma m0), within 1e-3.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"
#include "results/result_tables.h"
#include "tests/shown.h"

namespace zuba {
namespace {

void RunPreset(const char* mode, const std::string& map, int32_t expectedEnergies) {
  SCOPED_TRACE(mode);
  MessageCapture messages;
  RunParameters p;
  ASSERT_TRUE(ApplyPreset(mode, p));
  p.Path = map;
  const Result<SharedRun> prepared = PrepareCalculation(p);
  ASSERT_TRUE(prepared) << prepared.message().text;
  const PreparedRun& record = **prepared;
  ASSERT_EQ(record.n, expectedEnergies);
  EXPECT_EQ(SampleCapacity(record.T0, record.TIs, record.h), 62832);

  RecordingProgress progress;
  WorkerOptions options;
  options.threads = 2;
  int32_t maxTrials = 0;
  options.energyFinished = [&](int32_t, int32_t trials) {
    maxTrials = std::max(maxTrials, trials);
  };
  const CalculationOutput output = test::RunShown(record, progress, options);
  ASSERT_EQ(output.outcome, WorkerOutcome::Completed);
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
  EXPECT_LT(maxTrials, 100);

  const ResultTables& r = output.results;
  ASSERT_EQ(r.OrbitPoints.size(), expectedEnergies);
  const double c = kSpeedOfLight;
  for (int32_t i = 0; i < expectedEnergies; ++i) {
    const double gamma = 1 + r.Ek[i] / (record.restMass * c * c);
    const double closedOrbitF0 =
        std::fabs(record.charge) * r.Bmn[i] / (8 * std::atan(1.0) * gamma * record.restMass);  // Hz
    EXPECT_NEAR(r.F0[i] / closedOrbitF0, 1.0, 1e-3) << "energy " << i;
    EXPECT_LE(std::fabs(r.dReo[i]), 0.0005) << "energy " << i;
    // A turn at the preset step takes about 62833 samples.
    EXPECT_NEAR(r.OrbitPoints[i], 62833, 700) << "energy " << i;
  }
}

TEST(ExampleMaps, Tvk310ProtonsCloseAtEveryEnergy) {
  RunPreset(kModeTvk310, ZUBA_EXAMPLES_DIR "/tvk310-p.sdf", 101);
}

TEST(ExampleMaps, Avf14N5IonsCloseAtEveryEnergy) {
  RunPreset(kModeAvf14N5, ZUBA_EXAMPLES_DIR "/avf-14n5.sdf", 100);
}

}  // namespace
}  // namespace zuba
