// The calculation worker: progress protocol, stop request, failures, hand-over, and energies on
// several threads giving the one-thread results bit for bit.
#include "calc/run/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "calc/orbits/orbit.h"
#include "calc/run/calculation.h"
#include "numerics/field_patches.h"
#include "platform/message.h"
#include "results/hand_over.h"
#include "results/result_tables.h"
#include "tests/orbit/test_support.h"
#include "tests/shown.h"

namespace zuba {
namespace {

// Where the runs of these tests hand their results over.
ResultsHandOver handOver;

// Five proton energies (0.6 ... 24.6 MeV) in a near-uniform 1.75 T field, step h = 1e-3.
CalculationRecord FiveEnergies() {
  return test::MakeRecord(kModeTvk310, 1e-3, 0.6, 24.6, 6.0, test::MapShape{},
                          test::NearUniform(1.75, 4));
}

// handOver.LatestResults holds a recognisable earlier record and the flags are clear.
void PlantEarlierResults() {
  ResultTables earlier;
  earlier.Ek = RealTable({1.0, 2.0});
  earlier.OrbitR = RealTable({3.0});
  earlier.run.ParticleName = "earlier";
  handOver.LatestResults = earlier;
  handOver.ResultsAvailable.store(0);
  handOver.TransferPending.store(0);
}

void ExpectEarlierResultsKept() {
  EXPECT_EQ(handOver.LatestResults.run.ParticleName, "earlier");
  EXPECT_EQ(handOver.LatestResults.Ek.toVector(), (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(handOver.LatestResults.OrbitR.toVector(), (std::vector<double>{3.0}));
  EXPECT_EQ(handOver.ResultsAvailable.load(), 0);
  EXPECT_EQ(handOver.TransferPending.load(), 0);
}

std::vector<std::string> ExpectedLog(int32_t n, int32_t stepIts, bool backToZero) {
  std::vector<std::string> log{"range 0 " + std::to_string(n), "step 1", "pos 0"};
  for (int32_t i = 0; i < stepIts; ++i) log.push_back("stepit");
  if (backToZero) log.push_back("pos 0");
  return log;
}

TEST(CalculationWorker, CompletedRunHandsOverConsistentTablesAndRepaints) {
  MessageCapture messages;
  PlantEarlierResults();
  CalculationRecord record = FiveEnergies();
  ASSERT_EQ(record.n, 5);
  RecordingProgress progress;
  std::atomic<int32_t> stop{0};
  int repaints = 0;
  WorkerOptions options;
  options.requestRepaint = [&] {
    // The repaint comes after the whole hand-over.
    EXPECT_EQ(handOver.TransferPending.load(), 1);
    EXPECT_EQ(handOver.LatestResults.OrbitPoints.size(), 5);
    ++repaints;
  };
  std::vector<int32_t> trials(5, 0);
  options.energyFinished = [&](int32_t i, int32_t k) { trials[i] = k; };
  ASSERT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, options),
            WorkerOutcome::Completed);
  EXPECT_EQ(repaints, 1);
  EXPECT_TRUE(messages.texts().empty());
  EXPECT_EQ(progress.log(), ExpectedLog(5, 5, true));
  EXPECT_EQ(progress.position(), 0);
  EXPECT_EQ(handOver.ResultsAvailable.load(), 1);
  EXPECT_EQ(handOver.TransferPending.load(), 1);

  const ResultTables& r = handOver.LatestResults;
  EXPECT_EQ(r.run, record.run);
  EXPECT_EQ(r.Ek.toVector(), record.Ek);
  EXPECT_EQ(r.Rmn.toVector(), record.Rmn);
  EXPECT_EQ(r.F0.toVector(), record.F0);
  for (const RealTable* t : {&r.Ek, &r.Rmn, &r.Bmn, &r.Rev, &r.F0, &r.dReo})
    EXPECT_EQ(t->size(), 5);
  ASSERT_EQ(r.OrbitPoints.size(), 5);
  const auto points = r.OrbitPoints.values();
  const int64_t S = std::accumulate(points.begin(), points.end(), int64_t{0});
  for (const RealTable* t : {&r.OrbitR, &r.OrbitVr, &r.OrbitTheta, &r.OrbitOmega, &r.OrbitTau})
    EXPECT_EQ(t->size(), S);

  // Block i of the samples is the accepted orbit of energy i, as the search alone gives it.
  PreparedRun prepared;
  CalculationRecord again = FiveEnergies();
  ASSERT_EQ(ShowOutcome(PrepareRun(again, prepared)), 1);
  // The worker's default field is the fast one.
  const std::optional<FieldPatches> field =
      FieldPatches::Build(prepared.radialSteps, again.radii, again.azimuths, again.field,
                          again.moments)
          .TakeOptional();
  ASSERT_TRUE(field.has_value());
  int64_t start = 0;
  for (int32_t i = 0; i < 5; ++i) {
    OrbitSamples samples;
    OrbitResult one;
    ASSERT_EQ(test::FindEquilibriumOrbitShown(prepared.constants, prepared.tables(), *field,
                                              again.Ek[i], samples, one),
              1);
    ASSERT_EQ(points[i], static_cast<int32_t>(samples.Size()));
    EXPECT_EQ(one.trials, trials[i]);
    EXPECT_EQ(one.Rmn, r.Rmn[i]);
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
  StoppingProgress(std::atomic<int32_t>& stop, int32_t after) : stop_(stop), after_(after) {}
  void stepIt() override {
    RecordingProgress::stepIt();
    if (stepCount() == after_) stop_.store(1);
  }

 private:
  std::atomic<int32_t>& stop_;
  int32_t after_;
};

TEST(CalculationWorker, StopAfterAnEnergyEndsTheRunWithoutHandOver) {
  MessageCapture messages;
  PlantEarlierResults();
  CalculationRecord record = FiveEnergies();
  std::atomic<int32_t> stop{0};
  StoppingProgress progress(stop, 2);  // the request arrives during energy 1 (from 0)
  bool repainted = false;
  WorkerOptions options;
  options.requestRepaint = [&] { repainted = true; };
  EXPECT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, options),
            WorkerOutcome::Stopped);
  EXPECT_EQ(progress.log(), ExpectedLog(5, 2, true));
  EXPECT_EQ(progress.position(), 0);
  EXPECT_EQ(stop.load(), 0);  // the worker clears the request it obeyed
  EXPECT_FALSE(repainted);
  ExpectEarlierResultsKept();
  // The energies done keep their values in the record; the others stay zero.
  EXPECT_GT(record.F0[1], 0);
  EXPECT_EQ(record.F0[2], 0);
}

TEST(CalculationWorker, StopWithTwoThreadsLetsTheEnergiesInFlightFinish) {
  MessageCapture messages;
  PlantEarlierResults();
  CalculationRecord record = FiveEnergies();
  std::atomic<int32_t> stop{0};
  StoppingProgress progress(stop, 1);
  WorkerOptions options;
  options.threads = 2;
  EXPECT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, options),
            WorkerOutcome::Stopped);
  const auto log = progress.log();
  const auto stepIts = std::count(log.begin(), log.end(), "stepit");
  EXPECT_GE(stepIts, 1);
  EXPECT_LE(stepIts, 2);  // at most the other energy in flight
  EXPECT_EQ(log.back(), "pos 0");
  EXPECT_EQ(stop.load(), 0);
  ExpectEarlierResultsKept();
}

TEST(CalculationWorker, FailureMidRunKeepsEverythingAndLeavesTheBar) {
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    MessageCapture messages;
    PlantEarlierResults();
    // The map ends at 0.5 m: energies from about 40 MeV on leave it.
    CalculationRecord record = test::MakeRecord(
        kModeTvk310, 1e-3, 0.6, 60.6, 6.0, test::MapShape{51, 0.5, 36}, test::NearUniform(1.75, 4));
    RecordingProgress progress;
    std::atomic<int32_t> stop{0};
    bool repainted = false;
    WorkerOptions options;
    options.threads = threads;
    options.requestRepaint = [&] { repainted = true; };
    EXPECT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, options),
              WorkerOutcome::Failed);
    EXPECT_FALSE(repainted);
    ExpectEarlierResultsKept();
    // One message, as with one thread: energies above the failed one that were in flight on the
    // other thread fail too, but their messages are not shown.
    EXPECT_EQ(messages.messages(),
              (std::vector<Message>{{"Radius value error!", "Error", Icon::Error, Owner::None}}));
    const auto log = progress.log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.back(), "stepit");  // not set back to 0
    const auto stepIts = std::count(log.begin(), log.end(), "stepit");
    EXPECT_GE(stepIts, 4);
    EXPECT_LT(stepIts, record.n);
    EXPECT_EQ(progress.position(), stepIts);
    EXPECT_GT(record.F0[0], 0);  // values of the energies done stay in the record
  }
}

TEST(CalculationWorker, TwoRadiusNodesFailBeforeTheBarIsTouched) {
  MessageCapture messages;
  PlantEarlierResults();
  CalculationRecord record = test::MakeRecord(
      kModeTvk310, 1e-3, 0.6, 6.6, 6.0, test::MapShape{2, 1.0, 36}, test::NearUniform(1.75, 4));
  RecordingProgress progress;
  std::atomic<int32_t> stop{0};
  EXPECT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, WorkerOptions{}),
            WorkerOutcome::Failed);
  EXPECT_EQ(
      messages.messages(),
      (std::vector<Message>{{"Radius point number < 3!", "Error!", Icon::Error, Owner::None}}));
  EXPECT_TRUE(progress.log().empty());
  ExpectEarlierResultsKept();
}

TEST(CalculationWorker, StepTooSmallForAnyTableFailsBeforeTheBarIsTouched) {
  MessageCapture messages;
  PlantEarlierResults();
  CalculationRecord record = FiveEnergies();
  record.h = 1e-8;  // 6.3e8 steps a turn
  RecordingProgress progress;
  std::atomic<int32_t> stop{0};
  EXPECT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, WorkerOptions{}),
            WorkerOutcome::Failed);
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{
                "Integration step h too small: one turn would take more than 50000000 steps!"});
  EXPECT_TRUE(progress.log().empty());
  ExpectEarlierResultsKept();
}

TEST(CalculationWorker, TwoThreadsGiveTheOneThreadResultsBitForBit) {
  MessageCapture messages;
  std::vector<ResultTables> runs;
  for (int threads : {1, 2, 3}) {
    CalculationRecord record = FiveEnergies();
    RecordingProgress progress;
    std::atomic<int32_t> stop{0};
    WorkerOptions options;
    options.threads = threads;
    ASSERT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, options),
              WorkerOutcome::Completed);
    EXPECT_EQ(progress.log(), ExpectedLog(5, 5, true));
    runs.push_back(handOver.LatestResults);
  }
  EXPECT_TRUE(runs[0] == runs[1]);
  EXPECT_TRUE(runs[0] == runs[2]);
  EXPECT_TRUE(messages.texts().empty());
}

TEST(CalculationWorker, ReferenceFieldGivesTheSameValues) {
  MessageCapture messages;
  std::vector<ResultTables> runs;
  for (bool reference : {false, true}) {
    CalculationRecord record = test::MakeRecord(
        kModeTvk310, 1e-3, 0.6, 36.6, 12.0, test::MapShape{}, [](double R, double theta) {
          return 1.72 * (1 + 0.03 * R * R) + 0.3 * std::cos(4 * theta - 2 * R);
        });
    RecordingProgress progress;
    std::atomic<int32_t> stop{0};
    WorkerOptions options;
    options.referenceField = reference;
    ASSERT_EQ(test::CalculationWorkerShown(record, progress, stop, handOver, options),
              WorkerOutcome::Completed);
    runs.push_back(handOver.LatestResults);
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

TEST(PrepareCalculation, RefusedParametersLeaveTheRecordUntouched) {
  MessageCapture messages;
  CalculationRecord record = FiveEnergies();
  const CalculationRecord before = record;
  RunParameters p;
  ApplyPreset(kModeTvk310, p);
  p.Path = "/nonexistent/map.sdf";
  p.dEk = 0;
  Outcome result = PrepareCalculation(p, record);
  ShowFailure(result.failure());
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.message().text.empty());
  EXPECT_EQ(record.Ek, before.Ek);
  EXPECT_EQ(record.field, before.field);

  p.dEk = 0.6;  // the parameters pass; the map cannot be read
  result = PrepareCalculation(p, record);
  ShowFailure(result.failure());
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.failure().quiet);
  EXPECT_FALSE(messages.texts().empty());
  EXPECT_EQ(record.field, before.field);
}

}  // namespace
}  // namespace zuba

namespace zuba {
namespace {

// Two calculations at once, each on its own thread and hand-over, give what one gives alone, and
// neither's stop request reaches the other.
TEST(Calculation, SeveralRunsAtOnceKeepTheirOwnResultsAndStopRequests) {
  MessageCapture messages;
  ResultsHandOver alone;
  Calculation reference(alone);
  reference.SetRecord(FiveEnergies());
  RecordingProgress quiet;
  ASSERT_EQ(reference.Run(quiet, WorkerOptions{}), WorkerOutcome::Completed);

  ResultsHandOver first, second;
  Calculation a(first), b(second);
  a.SetRecord(FiveEnergies());
  b.SetRecord(FiveEnergies());
  b.RequestStop();  // b stops after its first energy; a runs to the end
  RecordingProgress progressA, progressB;
  std::atomic<int> finished{0};
  WorkerOutcome outcomeA = WorkerOutcome::Failed, outcomeB = WorkerOutcome::Failed;
  ASSERT_TRUE(a.Start(progressA, WorkerOptions{}, [&](WorkerOutcome o) {
    outcomeA = o;
    ++finished;
  }));
  ASSERT_TRUE(b.Start(progressB, WorkerOptions{}, [&](WorkerOutcome o) {
    outcomeB = o;
    ++finished;
  }));
  EXPECT_FALSE(a.Start(progressA, WorkerOptions{}));  // one run at a time per calculation
  a.Join();
  b.Join();
  EXPECT_EQ(finished.load(), 2);
  EXPECT_TRUE(a.HasFinished());
  EXPECT_FALSE(a.IsRunning());
  EXPECT_EQ(outcomeA, WorkerOutcome::Completed);
  EXPECT_EQ(outcomeB, WorkerOutcome::Stopped);
  EXPECT_EQ(b.StopRequested(), 0);  // cleared when obeyed
  EXPECT_EQ(first.LatestResults, alone.LatestResults);
  EXPECT_EQ(first.TransferPending.load(), 1);
  EXPECT_EQ(second.ResultsAvailable.load(), 0);
  EXPECT_EQ(second.LatestResults.Ek.size(), 0);
  EXPECT_TRUE(messages.texts().empty());
}

// A calculation that goes out of scope while its run is going stops it and waits for it.
TEST(Calculation, DestroyingARunningCalculationStopsAndJoinsIt) {
  ResultsHandOver handOver;
  RecordingProgress progress;
  {
    Calculation calculation(handOver);
    CalculationRecord record = FiveEnergies();
    record.h = 1e-4;  // long enough that the run is still going at the end of the scope
    calculation.SetRecord(std::move(record));
    ASSERT_TRUE(calculation.Start(progress, WorkerOptions{}));
  }
  EXPECT_LT(progress.stepCount(), 5);
  EXPECT_EQ(handOver.TransferPending.load(), 0);
}

}  // namespace
}  // namespace zuba
