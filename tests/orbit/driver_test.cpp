// The calculation of a run: progress protocol, stop token, failures and messages, the results by
// value, energies on several threads giving the one-thread results bit for bit, and runs over one
// shared prepared run at once.
#include "calc/run/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>

#include "calc/orbits/orbit.h"
#include "calc/run/prepared_run.h"
#include "numerics/field_patches.h"
#include "platform/file_stamp.h"
#include "platform/message.h"
#include "platform/runner.h"
#include "results/result_tables.h"
#include "tests/orbit/test_support.h"
#include "tests/shown.h"

namespace zuba {
namespace {

// Five proton energies (0.6 ... 24.6 MeV) in a near-uniform 1.75 T field, step h = 1e-3.
PreparedRun FiveEnergies() {
  return test::MakeRecord(kModeTvk310, 1e-3, 0.6, 24.6, 6.0, test::MapShape{},
                          test::NearUniform(1.75, 4));
}

std::vector<std::string> ExpectedLog(int32_t n, int32_t stepIts, bool backToZero) {
  std::vector<std::string> log{"range 0 " + std::to_string(n), "step 1", "pos 0"};
  for (int32_t i = 0; i < stepIts; ++i) log.push_back("stepit");
  if (backToZero) log.push_back("pos 0");
  return log;
}

// Nothing of an unfinished run comes back but its messages.
void ExpectNoResults(const CalculationOutput& output) {
  EXPECT_EQ(output.results, ResultTables{});
  EXPECT_TRUE(output.notes.empty());
}

TEST(RunCalculation, CompletedRunGivesConsistentTablesAndLeavesItsRunAsItWas) {
  MessageCapture messages;
  const PreparedRun run = FiveEnergies();
  const PreparedRun before = run;
  ASSERT_EQ(run.n, 5);
  RecordingProgress progress;
  std::vector<int32_t> trials(5, 0);
  WorkerOptions options;
  options.energyFinished = [&](int32_t i, int32_t k) { trials[i] = k; };
  const CalculationOutput output = test::RunShown(run, progress, options);
  ASSERT_EQ(output.outcome, WorkerOutcome::Completed);
  EXPECT_TRUE(messages.texts().empty());
  EXPECT_TRUE(output.messages.empty());
  EXPECT_EQ(progress.log(), ExpectedLog(5, 5, true));
  EXPECT_EQ(progress.position(), 0);
  // The run is read, never written: its field, moments and energies are as they were.
  EXPECT_EQ(run.field, before.field);
  EXPECT_EQ(run.moments, before.moments);
  EXPECT_EQ(run.Ek, before.Ek);

  const ResultTables& r = output.results;
  EXPECT_EQ(r.run, run.run);
  EXPECT_EQ(r.Ek.toVector(), run.Ek);
  for (const RealTable* t : {&r.Ek, &r.Rmn, &r.Bmn, &r.Rev, &r.F0, &r.dReo})
    EXPECT_EQ(t->size(), 5);
  ASSERT_EQ(r.OrbitPoints.size(), 5);
  const auto points = r.OrbitPoints.values();
  const int64_t S = std::accumulate(points.begin(), points.end(), int64_t{0});
  for (const RealTable* t : {&r.OrbitR, &r.OrbitVr, &r.OrbitTheta, &r.OrbitOmega, &r.OrbitTau})
    EXPECT_EQ(t->size(), S);

  // Block i of the samples is the accepted orbit of energy i, as the search alone gives it.
  OrbitInputs prepared;
  ASSERT_EQ(test::PrepareOrbitInputsShown(run, prepared), 1);
  // The run's default field is the fast one.
  const std::optional<FieldPatches> field =
      FieldPatches::Build(prepared.radialSteps, run.radii, run.azimuths, run.field,
                          prepared.moments)
          .TakeOptional();
  ASSERT_TRUE(field.has_value());
  int64_t start = 0;
  for (int32_t i = 0; i < 5; ++i) {
    OrbitSamples samples;
    OrbitResult one;
    ASSERT_EQ(test::FindEquilibriumOrbitShown(prepared.constants, prepared.tables(), *field,
                                              run.Ek[i], samples, one),
              1);
    ASSERT_EQ(points[i], static_cast<int32_t>(samples.Size()));
    EXPECT_EQ(one.trials, trials[i]);
    EXPECT_EQ(one.Rmn, r.Rmn[i]);
    EXPECT_EQ(one.F0, r.F0[i]);
    EXPECT_EQ(one.dReo, r.dReo[i]);
    auto block = [&](const RealTable& t) {
      auto v = t.values().subspan(start, points[i]);
      return std::vector<double>(v.begin(), v.end());
    };
    EXPECT_EQ(block(r.OrbitR), samples.R);
    EXPECT_EQ(block(r.OrbitVr), samples.vR);
    EXPECT_EQ(block(r.OrbitTheta), samples.theta);
    EXPECT_EQ(block(r.OrbitOmega), samples.w);
    EXPECT_EQ(block(r.OrbitTau), samples.tau);
    start += points[i];
  }
}

// Asks for a stop when the bar has advanced `after` times (the stop request of a double click).
class StoppingProgress : public RecordingProgress {
 public:
  StoppingProgress(const StopSource& stop, int32_t after) : stop_(stop), after_(after) {}
  void stepIt() override {
    RecordingProgress::stepIt();
    if (stepCount() == after_) stop_.RequestStop();
  }

 private:
  StopSource stop_;
  int32_t after_;
};

TEST(RunCalculation, StopEndsTheRunAfterTheEnergiesInFlightWithoutResults) {
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    MessageCapture messages;
    const PreparedRun run = FiveEnergies();
    const StopSource stop;
    StoppingProgress progress(stop, 2);  // the request arrives during energy 2 (from 1)
    WorkerOptions options;
    options.threads = threads;
    const CalculationOutput output = test::RunShown(run, progress, options, stop.Token());
    EXPECT_EQ(output.outcome, WorkerOutcome::Stopped);
    ExpectNoResults(output);
    EXPECT_TRUE(messages.texts().empty());
    const auto log = progress.log();
    const auto stepIts = std::count(log.begin(), log.end(), "stepit");
    EXPECT_GE(stepIts, 2);
    EXPECT_LE(stepIts, 1 + threads);  // at most the other energy in flight
    EXPECT_EQ(log.back(), "pos 0");
    EXPECT_EQ(progress.position(), 0);
  }
}

TEST(RunCalculation, FailureMidRunGivesItsOneMessageAndLeavesTheBar) {
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    MessageCapture messages;
    // The map ends at 0.5 m: energies from about 40 MeV on leave it.
    const PreparedRun run = test::MakeRecord(
        kModeTvk310, 1e-3, 0.6, 60.6, 6.0, test::MapShape{51, 0.5, 36}, test::NearUniform(1.75, 4));
    RecordingProgress progress;
    WorkerOptions options;
    options.threads = threads;
    const CalculationOutput output = test::RunShown(run, progress, options);
    EXPECT_EQ(output.outcome, WorkerOutcome::Failed);
    ExpectNoResults(output);
    // One message, as with one thread: energies above the failed one that were in flight on the
    // other thread fail too, but their messages are not given.
    EXPECT_EQ(messages.messages(),
              (std::vector<Message>{{"Radius value error!", "Error", Icon::Error, Owner::None}}));
    ASSERT_EQ(output.messages.size(), 1u);
    const auto log = progress.log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.back(), "stepit");  // not set back to 0
    const auto stepIts = std::count(log.begin(), log.end(), "stepit");
    EXPECT_GE(stepIts, 4);
    EXPECT_LT(stepIts, run.n);
    EXPECT_EQ(progress.position(), stepIts);
  }
}

TEST(RunCalculation, FailuresBeforeTheEnergiesLeaveTheBarUntouched) {
  struct Case {
    PreparedRun run;
    Message message;
  };
  PreparedRun tooSmallStep = FiveEnergies();
  tooSmallStep.h = 1e-8;  // 6.3e8 steps a turn
  const std::vector<Case> cases = {
      {test::MakeRecord(kModeTvk310, 1e-3, 0.6, 6.6, 6.0, test::MapShape{2, 1.0, 36},
                        test::NearUniform(1.75, 4)),
       {"Radius point number < 3!", "Error!", Icon::Error, Owner::None}},
      {tooSmallStep,
       {"Integration step h too small: one turn would take more than 50000000 steps!", "Error",
        Icon::Error, Owner::None}},
  };
  for (const Case& c : cases) {
    MessageCapture messages;
    RecordingProgress progress;
    const CalculationOutput output = test::RunShown(c.run, progress);
    EXPECT_EQ(output.outcome, WorkerOutcome::Failed);
    ExpectNoResults(output);
    EXPECT_EQ(messages.messages(), std::vector<Message>{c.message});
    EXPECT_TRUE(progress.log().empty());
  }
}

TEST(RunCalculation, AnyThreadCountGivesTheOneThreadResultsBitForBit) {
  MessageCapture messages;
  const PreparedRun run = FiveEnergies();
  std::vector<ResultTables> runs;
  for (int threads : {1, 2, 3}) {
    RecordingProgress progress;
    WorkerOptions options;
    options.threads = threads;
    CalculationOutput output = test::RunShown(run, progress, options);
    ASSERT_EQ(output.outcome, WorkerOutcome::Completed);
    EXPECT_EQ(progress.log(), ExpectedLog(5, 5, true));
    runs.push_back(std::move(output.results));
  }
  EXPECT_TRUE(runs[0] == runs[1]);
  EXPECT_TRUE(runs[0] == runs[2]);
  EXPECT_TRUE(messages.texts().empty());
}

TEST(RunCalculation, ReferenceFieldGivesTheSameValues) {
  MessageCapture messages;
  const PreparedRun run = test::MakeRecord(
      kModeTvk310, 1e-3, 0.6, 36.6, 12.0, test::MapShape{}, [](double R, double theta) {
        return 1.72 * (1 + 0.03 * R * R) + 0.3 * std::cos(4 * theta - 2 * R);
      });
  std::vector<ResultTables> runs;
  for (bool reference : {false, true}) {
    RecordingProgress progress;
    WorkerOptions options;
    options.referenceField = reference;
    CalculationOutput output = test::RunShown(run, progress, options);
    ASSERT_EQ(output.outcome, WorkerOutcome::Completed);
    runs.push_back(std::move(output.results));
  }
  const ResultTables &fast = runs[0], &reference = runs[1];
  ASSERT_EQ(fast.OrbitPoints, reference.OrbitPoints);
  for (int64_t i = 0; i < fast.Ek.size(); ++i) {
    EXPECT_NEAR(fast.Rmn[i], reference.Rmn[i], 1e-12 * reference.Rmn[i]);
    EXPECT_NEAR(fast.Bmn[i], reference.Bmn[i], 1e-12 * reference.Bmn[i]);
    EXPECT_NEAR(fast.F0[i], reference.F0[i], 1e-12 * reference.F0[i]);
    EXPECT_NEAR(fast.dReo[i], reference.dReo[i], 1e-15);
  }
  EXPECT_TRUE(messages.texts().empty());
}

TEST(PrepareCalculation, KeepsTheMapAsReadItsUnitStampAndMomentsOrRefuses) {
  MessageCapture messages;
  RunParameters p;
  ApplyPreset(kModeTvk310, p);
  p.Path = std::string(ZUBA_EXAMPLES_DIR) + "/avf-14n5.sdf";
  const Result<SharedRun> run = PrepareCalculation(p);
  ASSERT_TRUE(run) << run.message().text;
  const PreparedRun& r = **run;
  EXPECT_EQ(r.mapUnit, "T");
  EXPECT_EQ(r.mapReading.format, MapFormat::Sdf);
  EXPECT_TRUE(r.mapFile.known());
  EXPECT_TRUE(r.mapFile.SameContents(StampFile(p.Path)));
  EXPECT_EQ(r.nR * r.nTheta, static_cast<int32_t>(r.field.size()));
  // The moments are those of the field, as the tables of any field are made.
  const Result<FieldTables> tables =
      PrepareFieldTables(r, std::vector<double>(r.field.begin(), r.field.end()));
  ASSERT_TRUE(tables);
  EXPECT_EQ(r.moments, tables->moments);
  EXPECT_EQ(r.radialSteps, tables->radialSteps);

  p.dEk = 0;  // a basic check refuses quietly
  const Result<SharedRun> refused = PrepareCalculation(p);
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.failure().quiet);
  p.dEk = 0.6;
  p.Path = "/nonexistent/map.sdf";  // the parameters pass; the map cannot be read
  const Result<SharedRun> unread = PrepareCalculation(p);
  ASSERT_FALSE(unread);
  EXPECT_FALSE(unread.failure().quiet);
  EXPECT_TRUE(messages.texts().empty());  // refusals are handed back, not shown
}

// Runs over one shared prepared run at once, each on a runner of its own with its own stop token,
// give what one gives alone, and neither's stop request reaches the other.
TEST(Runner, RunsOverOneSharedRunAtOnceKeepTheirOwnResultsAndStops) {
  MessageCapture messages;
  const auto shared = std::make_shared<const PreparedRun>(FiveEnergies());
  NullProgress quiet;
  const CalculationOutput alone = RunCalculation(*shared, WorkerOptions{}, quiet);
  ASSERT_EQ(alone.outcome, WorkerOutcome::Completed);

  Runner a, b;
  CalculationOutput outputA, outputB;
  RecordingProgress progressA;
  // b's run asks its runner to stop after its first energy; a's stop request before its start
  // reaches no run.
  struct StopOwnRunner : RecordingProgress {
    Runner* runner = nullptr;
    void stepIt() override {
      RecordingProgress::stepIt();
      runner->RequestStop();
    }
  } progressB;
  progressB.runner = &b;
  a.RequestStop();
  ASSERT_TRUE(a.Start([&](const StopToken& stop) {
    outputA = RunCalculation(*shared, WorkerOptions{}, progressA, stop);
  }));
  ASSERT_TRUE(b.Start([&](const StopToken& stop) {
    outputB = RunCalculation(*shared, WorkerOptions{}, progressB, stop);
  }));
  EXPECT_FALSE(a.Start([](const StopToken&) {}));  // one job at a time per runner
  a.Join();
  b.Join();
  EXPECT_TRUE(a.JobReturned());
  EXPECT_FALSE(a.Busy());
  EXPECT_EQ(outputA.outcome, WorkerOutcome::Completed);
  EXPECT_EQ(outputA.results, alone.results);
  EXPECT_EQ(outputB.outcome, WorkerOutcome::Stopped);
  EXPECT_EQ(progressB.stepCount(), 1);
  EXPECT_TRUE(messages.texts().empty());
  // The runner takes the next job once joined.
  EXPECT_TRUE(a.Start([](const StopToken&) {}));
}

// A runner that goes out of scope while its job is going stops it and waits for it.
TEST(Runner, DestroyingARunningRunnerStopsAndJoinsIt) {
  PreparedRun run = FiveEnergies();
  run.h = 1e-4;  // long enough that the run is still going at the end of the scope
  RecordingProgress progress;
  WorkerOutcome outcome = WorkerOutcome::Failed;
  {
    Runner runner;
    ASSERT_TRUE(runner.Start([&](const StopToken& stop) {
      outcome = RunCalculation(run, WorkerOptions{}, progress, stop).outcome;
    }));
  }
  EXPECT_EQ(outcome, WorkerOutcome::Stopped);
  EXPECT_LT(progress.stepCount(), 5);
}

}  // namespace
}  // namespace zuba
