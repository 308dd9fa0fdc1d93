// The calculation run without windows: preparation of the record and the worker.
#include "calc/run/driver.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "calc/maps/map_formats.h"
#include "calc/orbits/closed_orbits.h"
#include "calc/orbits/orbit.h"
#include "calc/run/diagnostics.h"
#include "calc/run/run_quantities.h"
#include "numerics/average_field.h"
#include "numerics/field_interpolation.h"
#include "numerics/field_patches.h"
#include "numerics/units.h"
#include "platform/memory.h"
#include "platform/numbers.h"
#include "platform/threads.h"
#include "results/hand_over.h"

namespace zuba {

Outcome PrepareCalculation(const RunParameters& parameters, CalculationRecord& record,
                           const MapReadingOptions& mapReading) {
  Result<RunQuantities> derived = DeriveRunQuantities(parameters);
  if (!derived) return derived.outcome();
  Result<FieldMap> map = ReadMap(parameters.Path, mapReading);
  if (!map) return map.outcome();

  RunQuantities& q = *derived;
  CalculationRecord filled;
  filled.nR = map->nR;
  filled.nTheta = map->nTheta;
  filled.T0 = parameters.T0;
  filled.TIs = parameters.TIs;
  filled.h = parameters.h;
  filled.thetaStart = map->thetaStart;
  filled.thetaEnd = map->thetaEnd;
  filled.rfFrequency = q.rfFrequency;
  filled.charge = q.charge;
  filled.restMass = q.restMass;
  filled.n = q.n;
  filled.run = parameters;
  filled.mapFile = StampFile(parameters.Path);
  filled.mapReading = mapReading;
  filled.mapReading.format = map->format;  // the reader that read it, also when chosen by content
  filled.radii = std::move(map->radii);
  filled.azimuths = std::move(map->azimuths);
  filled.field = std::move(map->field);
  filled.moments = std::move(map->moments);
  filled.Ek = std::move(q.Ek);
  for (auto* table : {&filled.Rmn, &filled.Bmn, &filled.Rev, &filled.F0, &filled.dReo})
    table->assign(static_cast<size_t>(filled.n), 0.0);
  filled.energyStatus.assign(static_cast<size_t>(filled.n), -1);
  filled.energyReasons.assign(static_cast<size_t>(filled.n), std::string());
  record = std::move(filled);
  return {};
}

int64_t SampleCapacity(double T0, double TIs, double h) {
  const double ratio = (TIs - T0) / h;
  if (!(h > 0) || !(ratio >= 0 && ratio <= kMaxSampleCapacity)) return -1;
  int64_t nSteps = static_cast<int64_t>(std::round((TIs - T0) / h));
  double s = T0;
  for (int64_t i = 0; i < nSteps; ++i) s = s + h;
  if (s < TIs) {
    while (s < TIs) {
      s = s + h;
      ++nSteps;
    }
  } else if (s > TIs) {
    while (s > TIs) {
      s = s - h;
      --nSteps;
    }
    ++nSteps;
  }
  return nSteps;
}

namespace {

// The five orbit-sample tables of the run, appended energy after energy.
struct CumulativeOrbits {
  std::vector<double> R, vR, theta, w, tau;

  void Reserve(size_t count) {
    for (auto* table : {&R, &vR, &theta, &w, &tau}) {
      table->reserve(count);
      AdviseLargeTable(table->data(), table->capacity() * sizeof(double));
    }
  }
  // Appends samples [0, count) of the given tables.
  void Append(std::span<const double> r, std::span<const double> vr, std::span<const double> th,
              std::span<const double> omega, std::span<const double> t) {
    R.insert(R.end(), r.begin(), r.end());
    vR.insert(vR.end(), vr.begin(), vr.end());
    theta.insert(theta.end(), th.begin(), th.end());
    w.insert(w.end(), omega.begin(), omega.end());
    tau.insert(tau.end(), t.begin(), t.end());
  }
};

// An energy finished before all energies below it: its samples wait for their turn.
struct PendingOrbit {
  std::vector<double> R, vR, theta, w, tau;
};

// The energy loop shared by the threads of one run.
template <class Field>
class EnergyLoop {
 public:
  EnergyLoop(CalculationRecord& record, ProgressSink& progress, std::atomic<int32_t>& stop,
             const WorkerOptions& options, const OrbitConstants& constants,
             const AverageFieldTables& tables, const Field& field)
      : record_(record),
        progress_(progress),
        stop_(stop),
        options_(options),
        constants_(constants),
        tables_(tables),
        field_(field) {}

  // Runs every energy on `threads` threads (the calling one included).
  WorkerOutcome Run(int threads) {
    const int32_t n = record_.n;
    points_.assign(static_cast<size_t>(n), 0);
    ReserveCumulative();
    const size_t workers = LoopThreads(static_cast<size_t>(n), threads);
    parallel_ = workers > 1;
    std::vector<OrbitSamples> samples(workers);  // each worker's own, reserved on first use
    try {
      ParallelFor(
          static_cast<size_t>(n), threads,
          [&](size_t worker, size_t i) {
            if (samples[worker].R.capacity() == 0)
              samples[worker].Reserve(static_cast<size_t>(constants_.nSteps) + 1);
            Compute(static_cast<int32_t>(i), samples[worker]);
            return true;
          },
          [this] {
            std::lock_guard lock(mutex_);
            return failed_ || stopping_ || firstFailure_ < record_.n;
          });
    } catch (const std::bad_alloc&) {
      Fail("Not enough memory for the orbit samples of the run!");
    } catch (const std::exception& e) {
      Fail(std::string("The calculation failed: ") + e.what());
    }
    if (firstFailure_ < record_.n) {
      // Every energy below the failed one has finished by now: its messages come out in order.
      std::lock_guard lock(mutex_);
      ReleaseInOrder();
      failed_ = true;
      // The energies above it are not part of the run one thread would have made.
      record_.failedEnergy = firstFailure_;
      for (int32_t i = firstFailure_ + 1; i < record_.n; ++i) {
        record_.energyStatus[static_cast<size_t>(i)] = -1;
        record_.energyReasons[static_cast<size_t>(i)].clear();
      }
    }
    if (failed_) return WorkerOutcome::Failed;
    if (stopping_) return WorkerOutcome::Stopped;
    return WorkerOutcome::Completed;
  }

  CumulativeOrbits& orbits() { return orbits_; }
  std::vector<int32_t>& points() { return points_; }

 private:
  void ReserveCumulative() {
    // Room for every energy's samples up front, so that the tables never grow by copying. Pages
    // that are reserved but never written cost no resident memory.
    const double perEnergy = static_cast<double>(constants_.nSteps) * 1.0625 + 64;
    const double total = perEnergy * record_.n;
    try {
      orbits_.Reserve(static_cast<size_t>(total));
    } catch (const std::bad_alloc&) {
      // The tables then grow as the samples arrive.
    } catch (const std::length_error&) {
    }
  }

  // One energy: its orbit, then its bookkeeping.
  void Compute(int32_t i, OrbitSamples& samples) {
    OrbitResult result;
    const Outcome ok =
        FindEquilibriumOrbit(constants_, tables_, field_, record_.Ek[i], samples, result);
    // What this energy tells the user, in the order it arose: the search's notice, then the
    // failure that ended it.
    std::vector<Failure> messages;
    if (result.warning) messages.push_back(MessageFailure(*result.warning));
    if (!ok) messages.push_back(ok.failure());
    Finish(i, ok, result, samples, std::move(messages));
  }

  void Fail(const std::string& text) {
    std::lock_guard lock(mutex_);
    Report(ErrorFailure(text));
    failed_ = true;
  }

  // Passes a message of the run to the caller. Called with the mutex held: one at a time.
  void Report(const Failure& failure) {
    if (options_.report) options_.report(failure);
  }

  void Finish(int32_t i, const Outcome& outcome, const OrbitResult& result,
              const OrbitSamples& samples, std::vector<Failure> messages) {
    const bool ok = outcome.ok();
    std::lock_guard lock(mutex_);
    const auto at = static_cast<size_t>(i);
    record_.energyStatus[at] = !ok ? static_cast<int32_t>(ClosureStatus::Failed)
                               : result.converged
                                   ? static_cast<int32_t>(ClosureStatus::Converged)
                                   : static_cast<int32_t>(ClosureStatus::NotConverged);
    record_.energyReasons[at] = !ok                ? outcome.message().text
                                : result.converged ? std::string()
                                                   : NotAcceptedReason();
    if (parallel_) {
      // On several threads an energy's messages wait until the energies below it are done.
      finished_.emplace(i, FinishedEnergy{ok, std::move(messages)});
    } else {
      for (const Failure& message : messages) Report(message);
    }
    // Whatever this energy's outcome, the messages that are due come out before the lock is
    // released, after this energy's own bookkeeping.
    struct ReleaseOnExit {
      EnergyLoop& loop;
      ~ReleaseOnExit() {
        if (loop.parallel_) loop.ReleaseInOrder();
      }
    } releaseOnExit{*this};
    if (!ok) {
      // The failure has been reported (or will be, once the energies below it are done); the bar
      // stays where it is.
      firstFailure_ = std::min(firstFailure_, i);
      if (!parallel_) failed_ = true;
      return;
    }
    // An energy above a failed one is not part of the run that one thread would have made.
    if (i > firstFailure_) return;
    record_.Rmn[i] = result.Rmn;
    record_.Bmn[i] = result.Bmn;
    record_.Rev[i] = result.Rev;
    record_.F0[i] = result.F0;
    record_.dReo[i] = result.dReo;
    if (options_.energyFinished) options_.energyFinished(i, result.trials);
    if (failed_) return;
    progress_.stepIt();
    if (stop_.load(std::memory_order_acquire) == 1) stopping_ = true;
    if (stopping_) return;  // nothing will be handed over: the samples are not kept
    points_[i] = static_cast<int32_t>(samples.Size());
    if (i == nextAppend_) {
      orbits_.Append(samples.R, samples.vR, samples.theta, samples.w, samples.tau);
      ++nextAppend_;
      // Energies above this one that finished earlier follow in order.
      for (auto it = pending_.find(nextAppend_); it != pending_.end();
           it = pending_.find(nextAppend_)) {
        PendingOrbit& p = it->second;
        orbits_.Append(p.R, p.vR, p.theta, p.w, p.tau);
        pending_.erase(it);
        ++nextAppend_;
      }
    } else {
      pending_.emplace(i,
                       PendingOrbit{samples.R, samples.vR, samples.theta, samples.w, samples.tau});
    }
  }

  // Reports the held messages of the finished energies in energy order, up to and including the
  // first energy that failed, which fails the run. Called with the mutex held.
  void ReleaseInOrder() {
    while (!failed_) {
      auto it = finished_.find(nextRelease_);
      if (it == finished_.end()) return;
      for (const Failure& message : it->second.messages) Report(message);
      if (!it->second.ok) failed_ = true;
      finished_.erase(it);
      ++nextRelease_;
    }
  }

  struct FinishedEnergy {
    bool ok = false;
    std::vector<Failure> messages;
  };

  CalculationRecord& record_;
  ProgressSink& progress_;
  std::atomic<int32_t>& stop_;
  const WorkerOptions& options_;
  const OrbitConstants& constants_;
  const AverageFieldTables& tables_;
  const Field& field_;

  std::mutex mutex_;  // guards everything below, the record's per-energy tables and the progress
  int32_t nextAppend_ = 0;  // next energy whose samples go into the cumulative tables
  bool failed_ = false;
  bool stopping_ = false;
  bool parallel_ = false;             // more than one thread: messages are released in order
  int32_t firstFailure_ = INT32_MAX;  // lowest energy whose search failed
  int32_t nextRelease_ = 0;           // next energy whose messages may be shown
  std::map<int32_t, FinishedEnergy> finished_;
  std::map<int32_t, PendingOrbit> pending_;
  CumulativeOrbits orbits_;
  std::vector<int32_t> points_;
};

// The results of a complete run, in the table order of the results: the record's per-energy
// tables, the orbit samples (moved, not copied) and the samples of each energy.
ResultTables RunResults(const CalculationRecord& record, CumulativeOrbits& orbits,
                        std::vector<int32_t> points) {
  ResultTables results;
  results.Ek = RealTable(record.Ek);
  results.Rmn = RealTable(record.Rmn);
  results.Bmn = RealTable(record.Bmn);
  results.Rev = RealTable(record.Rev);
  results.F0 = RealTable(record.F0);
  results.dReo = RealTable(record.dReo);
  results.OrbitR = RealTable(std::move(orbits.R));
  results.OrbitVr = RealTable(std::move(orbits.vR));
  results.OrbitTheta = RealTable(std::move(orbits.theta));
  results.OrbitOmega = RealTable(std::move(orbits.w));
  results.OrbitTau = RealTable(std::move(orbits.tau));
  results.OrbitPoints = IntTable(std::move(points));
  results.run = record.run;
  results.mapFile = record.mapFile;
  results.mapReading = record.mapReading;
  return results;
}

// The progress bar at the start of the energies: range 0 .. n, step 1, position 0.
void StartProgress(ProgressSink& progress, int32_t n) {
  progress.setRange(0, n);
  progress.setStep(1);
  progress.setPos(0);
}

template <class Field>
WorkerOutcome RunEnergies(CalculationRecord& record, ProgressSink& progress,
                          std::atomic<int32_t>& stopRequested, ResultsHandOver& handOver,
                          const WorkerOptions& options, const OrbitConstants& constants,
                          const AverageFieldTables& tables, const Field& field) {
  // Progress bar.
  StartProgress(progress, record.n);

  // The energies.
  EnergyLoop<Field> loop(record, progress, stopRequested, options, constants, tables, field);
  const int threads = std::clamp(options.threads, 1, std::max(record.n, 1));
  const WorkerOutcome outcome = loop.Run(threads);
  if (outcome == WorkerOutcome::Failed) return outcome;
  if (outcome == WorkerOutcome::Stopped) {
    progress.setPos(0);
    stopRequested.store(0, std::memory_order_release);
    return outcome;
  }

  // Bar back to the start.
  progress.setPos(0);

  // Hand-over, in the table order of the results; the samples move, they are not copied.
  ResultTables results = RunResults(record, loop.orbits(), std::move(loop.points()));
  results.closure.gainPerTurn = options.gainPerTurnMeV;  // the only closure value of this search
  const std::optional<std::string> notes[] = {
      AccuracyNote(results),
      record.radii.empty() ? std::nullopt : InnerEdgeNote(results, record.radii.front())};
  handOver.HandOverResults(std::move(results));
  for (const std::optional<std::string>& note : notes)
    if (note && options.accuracyNote) options.accuracyNote(*note);
  if (options.requestRepaint) options.requestRepaint();
  return WorkerOutcome::Completed;
}

// The one message of a precise run some of whose energies did not close: how many, and each one
// with its status and reason (the first kMaxListed of them).
Failure NotClosedSummary(const CalculationRecord& record, const ClosedOrbits& closed) {
  constexpr size_t kMaxListed = 20;
  std::string list;
  size_t count = 0;
  for (size_t i = 0; i < closed.energies.size(); ++i) {
    const PreciseOrbitResult& r = closed.energies[i];
    if (r.status == ClosureStatus::Converged) continue;
    if (++count > kMaxListed) continue;
    const std::string energy = FormatNumber(JoulesToMeV(record.Ek[i]), Significant(6)) + " MeV";
    list.append("\n").append(energy).append(": ").append(ClosureStatusName(r.status));
    list.append(", ").append(r.reason);
  }
  if (count > kMaxListed)
    list.append("\n... and ").append(std::to_string(count - kMaxListed)).append(" more");
  std::string text = std::to_string(count);
  text.append(" of ").append(std::to_string(closed.energies.size()));
  text.append(" energies did not close; they are kept without values:").append(list);
  return MessageFailure(Message{text, "Error", Icon::Warning, Owner::None});
}

// The energy loop of the precise closure: every energy through CloseOrbits, which closes them on
// the run's threads and then seeds those that did not close from their closed neighbours. An
// energy that does not close stays in the results without values (2147483647.0), with its status
// and reason in the closure tables; one message at the end names them.
WorkerOutcome RunPreciseEnergies(CalculationRecord& record, ProgressSink& progress,
                                 std::atomic<int32_t>& stopRequested, ResultsHandOver& handOver,
                                 const WorkerOptions& options, const OrbitConstants& constants,
                                 const AverageFieldTables& tables, const FieldPatches& field) {
  StartProgress(progress, record.n);

  // Each closed orbit (one precise turn, as many samples as integration steps) is kept for its
  // energy as it closes; the run's sample tables take those of the energies that closed, in energy
  // order, at the end.
  const size_t n = static_cast<size_t>(record.n);
  std::vector<OrbitSamples> closedSamples(n);
  std::vector<int32_t> points(n, 0);

  ClosedOrbitsOptions batch;
  batch.threads = std::clamp(options.threads, 1, std::max(record.n, 1));
  batch.stop = &stopRequested;
  batch.energyFinished = [&](int32_t energy, const PreciseOrbitResult& result) {
    // The first pass's verdict, which a stopped run keeps; the second pass may still improve it.
    const auto at = static_cast<size_t>(energy);
    record.energyStatus[at] = static_cast<int32_t>(result.status);
    record.energyReasons[at] = result.reason;
    const bool closed = result.status == ClosureStatus::Converged;
    record.Rmn[at] = closed ? result.Rmn : kNoValue;
    record.Bmn[at] = closed ? result.Bmn : kNoValue;
    record.Rev[at] = closed ? result.Rev : kNoValue;
    record.F0[at] = closed ? result.F0 : kNoValue;
    record.dReo[at] = closed ? result.dReo : kNoValue;
    if (options.energyFinished) options.energyFinished(energy, result.iterations);
    progress.stepIt();
  };
  batch.orbitClosed = [&](int32_t energy, const OrbitSamples& s) {
    OrbitSamples& kept = closedSamples[static_cast<size_t>(energy)];
    kept = s;
    kept.B.clear();  // the run's tables keep no field
    kept.B.shrink_to_fit();
  };
  const ClosedOrbits closed = CloseOrbits(constants, tables, field, record.Ek, {}, batch);
  if (closed.stopped) {
    progress.setPos(0);
    stopRequested.store(0, std::memory_order_release);
    return WorkerOutcome::Stopped;
  }
  progress.setPos(0);

  std::vector<double> nuR(n, kNoValue), nuZ(n, kNoValue);
  std::vector<int32_t> status(n, 0);
  std::vector<std::string> reasons(n);
  size_t notClosed = 0, total = 0;
  for (size_t i = 0; i < n; ++i)
    if (closed.energies[i].status == ClosureStatus::Converged) total += closedSamples[i].Size();
  CumulativeOrbits orbits;
  orbits.Reserve(total);
  for (size_t i = 0; i < n; ++i) {
    const PreciseOrbitResult& r = closed.energies[i];
    status[i] = static_cast<int32_t>(r.status);
    record.energyStatus[i] = status[i];
    record.energyReasons[i] = r.reason;
    if (r.status != ClosureStatus::Converged) {
      ++notClosed;
      reasons[i] = r.reason;
      points[i] = 0;
      for (auto* table : {&record.Rmn, &record.Bmn, &record.Rev, &record.F0, &record.dReo})
        (*table)[i] = kNoValue;
      continue;
    }
    status[i] |= (r.nuR.stable ? 0 : kRadialUnstable) | (r.nuZ.stable ? 0 : kVerticalUnstable);
    reasons[i] = r.note;  // a closed orbit's note on its values (no Rev), if any
    nuR[i] = r.nuR.value;
    nuZ[i] = r.nuZ.value;
    record.Rmn[i] = r.Rmn;
    record.Bmn[i] = r.Bmn;
    record.Rev[i] = r.Rev;
    record.F0[i] = r.F0;
    record.dReo[i] = r.dReo;
    OrbitSamples& s = closedSamples[i];
    points[i] = static_cast<int32_t>(s.Size());
    orbits.R.insert(orbits.R.end(), s.R.begin(), s.R.end());
    orbits.vR.insert(orbits.vR.end(), s.vR.begin(), s.vR.end());
    orbits.theta.insert(orbits.theta.end(), s.theta.begin(), s.theta.end());
    orbits.w.insert(orbits.w.end(), s.w.begin(), s.w.end());
    orbits.tau.insert(orbits.tau.end(), s.tau.begin(), s.tau.end());
    s = OrbitSamples{};
  }
  if (notClosed > 0 && options.report) options.report(NotClosedSummary(record, closed));
  if (std::all_of(reasons.begin(), reasons.end(), [](const std::string& t) { return t.empty(); }))
    reasons.clear();

  ResultTables results = RunResults(record, orbits, std::move(points));
  ClosureTables& closure = results.closure;
  closure.mode = static_cast<int32_t>(ClosureMode::Precise);
  closure.gainPerTurn = options.gainPerTurnMeV;
  Diagnostics diagnostics = ComputeDiagnostics(results, options.gainPerTurnMeV);
  closure.isochronism = RealTable(std::move(diagnostics.isochronism));
  closure.phaseDeg = RealTable(std::move(diagnostics.phaseDeg));
  closure.nuR = RealTable(std::move(nuR));
  closure.nuZ = RealTable(std::move(nuZ));
  closure.status = IntTable(std::move(status));
  closure.reasons = std::move(reasons);
  handOver.HandOverResults(std::move(results));
  if (options.requestRepaint) options.requestRepaint();
  return WorkerOutcome::Completed;
}

}  // namespace

void UnwrapHarmonicPhase(std::vector<double>& psi, int32_t N) {
  const double period = kTwoPi / N;  // rad
  for (std::size_t i = 1; i < psi.size(); ++i) {
    while (psi[i] - psi[i - 1] > period / 2) psi[i] -= period;
    while (psi[i] - psi[i - 1] < -period / 2) psi[i] += period;
  }
}

Outcome PrepareRun(CalculationRecord& record, PreparedRun& prepared) {
  // Radial spline moments of every azimuth column; the radial steps serve the field.
  if (Outcome o = RadialMoments(record.field, record.radii, record.nTheta, prepared.radialSteps,
                                record.moments);
      !o)
    return o;

  // Average-field tables.
  if (Outcome o = AverageFieldParameters(record.field, record.radii, record.run.N,
                                         record.thetaStart, record.thetaEnd, record.nTheta,
                                         prepared.v, prepared.epsilon, prepared.psi);
      !o)
    return o;
  // The phase of the N-th harmonic comes in [-pi/N, pi/N]; where spiral hills turn it past the
  // end of that range it jumps by a whole period 2 pi/N, and an interpolation across the jump would
  // start orbits anywhere. Whole periods are added back so that the phase follows the hills (a
  // start one period on lies on the same closed orbit).
  UnwrapHarmonicPhase(prepared.psi, record.run.N);

  // Run constants.
  const double c = kSpeedOfLight;  // m/s
  OrbitConstants& constants = prepared.constants;
  constants.E0 = RestEnergy(record.restMass);                          // J
  constants.invOmega0 = record.run.H / (kTwoPi * record.rfFrequency);  // s/rad
  constants.rInfinity = c * constants.invOmega0;                       // m
  constants.K = std::pow(c, 2) * record.charge * constants.invOmega0;  // C*m^2/s
  constants.N = record.run.N;
  constants.h = record.h;
  constants.T0 = record.T0;
  constants.nSteps = SampleCapacity(record.T0, record.TIs, record.h);
  if (constants.nSteps < 0)
    return ErrorFailure(
        "Integration step h too small: one turn would take more than 50000000 steps!", "h",
        record.h, (record.TIs - record.T0) / kMaxSampleCapacity);

  prepared.radii = record.radii;
  return {};
}

WorkerOutcome CalculationWorker(CalculationRecord& record, ProgressSink& progress,
                                std::atomic<int32_t>& stopRequested, ResultsHandOver& handOver,
                                const WorkerOptions& options) {
  try {
    const int64_t mapCount = static_cast<int64_t>(record.nR) * record.nTheta;
    if (record.nR < 0 || record.nTheta < 0 || std::ssize(record.radii) != record.nR ||
        std::ssize(record.azimuths) != record.nTheta || std::ssize(record.field) != mapCount ||
        record.n < 1 || std::ssize(record.Ek) != record.n) {
      if (options.report) options.report(ErrorFailure("Array size error!"));
      return WorkerOutcome::Failed;
    }
    for (auto* table : {&record.Rmn, &record.Bmn, &record.Rev, &record.F0, &record.dReo})
      table->resize(static_cast<size_t>(record.n), 0.0);
    record.energyStatus.assign(static_cast<size_t>(record.n), -1);
    record.energyReasons.assign(static_cast<size_t>(record.n), std::string());
    record.failedEnergy = -1;

    PreparedRun prepared;
    if (Outcome o = PrepareRun(record, prepared); !o) {
      if (options.report) options.report(o.failure());
      return WorkerOutcome::Failed;
    }
    const OrbitConstants& constants = prepared.constants;
    const std::vector<double>& radialSteps = prepared.radialSteps;
    const AverageFieldTables tables = prepared.tables();
    if (!options.referenceField || options.closure == ClosureMode::Precise) {
      // The fast field: the same function as the reference, precomputed as patches per cell.
      Result<FieldPatches> patches = FieldPatches::Build(radialSteps, record.radii, record.azimuths,
                                                         record.field, record.moments);
      if (!patches) {
        if (options.report) options.report(patches.failure());
        return WorkerOutcome::Failed;
      }
      if (options.closure == ClosureMode::Precise) {
        OrbitConstants precise = constants;
        precise.tolerance = options.tolerance;
        return RunPreciseEnergies(record, progress, stopRequested, handOver, options, precise,
                                  tables, *patches);
      }
      return RunEnergies(record, progress, stopRequested, handOver, options, constants, tables,
                         *patches);
    }
    const ReferenceField field(radialSteps, record.radii, record.azimuths, record.field,
                               record.moments);
    return RunEnergies(record, progress, stopRequested, handOver, options, constants, tables,
                       field);
  } catch (const std::bad_alloc&) {
    if (options.report) options.report(ErrorFailure("Not enough memory for the calculation!"));
    return WorkerOutcome::Failed;
  }
}

}  // namespace zuba
