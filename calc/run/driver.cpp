// The calculation of a run (see driver.h).
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
#include "results/text.h"

namespace zuba {

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

// The values of every energy, in energy order.
struct EnergyValues {
  std::vector<double> Rmn, Bmn, Rev, F0, dReo;  // m, T, m, Hz, m
};

// An energy finished before all energies below it: its samples wait for their turn.
struct PendingOrbit {
  std::vector<double> R, vR, theta, w, tau;
};

// The energy loop shared by the threads of one run.
template <class Field>
class EnergyLoop {
 public:
  EnergyLoop(const PreparedRun& run, ProgressSink& progress, const StopToken& stop,
             const WorkerOptions& options, const OrbitConstants& constants,
             const AverageFieldTables& tables, const Field& field)
      : run_(run),
        progress_(progress),
        stop_(stop),
        options_(options),
        constants_(constants),
        tables_(tables),
        field_(field) {
    for (auto* table : {&values_.Rmn, &values_.Bmn, &values_.Rev, &values_.F0, &values_.dReo})
      table->assign(static_cast<size_t>(run.n), 0.0);
    status_.assign(static_cast<size_t>(run.n), -1);
    reasons_.assign(static_cast<size_t>(run.n), std::string());
  }

  // Runs every energy on `threads` threads (the calling one included).
  WorkerOutcome Run(int threads) {
    const int32_t n = run_.n;
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
            return failed_ || stopping_ || firstFailure_ < run_.n;
          });
    } catch (const std::bad_alloc&) {
      Fail("Not enough memory for the orbit samples of the run!");
    } catch (const std::exception& e) {
      Fail(std::string("The calculation failed: ") + e.what());
    }
    if (firstFailure_ < run_.n) {
      // Every energy below the failed one has finished by now: its messages come out in order.
      std::lock_guard lock(mutex_);
      ReleaseInOrder();
      failed_ = true;
      // The energies above it are not part of the run one thread would have made.
      failedEnergy_ = firstFailure_;
      for (int32_t i = firstFailure_ + 1; i < run_.n; ++i) {
        status_[static_cast<size_t>(i)] = -1;
        reasons_[static_cast<size_t>(i)].clear();
      }
    }
    if (failed_) return WorkerOutcome::Failed;
    if (stopping_) return WorkerOutcome::Stopped;
    return WorkerOutcome::Completed;
  }

  CumulativeOrbits& orbits() { return orbits_; }
  std::vector<int32_t>& points() { return points_; }
  EnergyValues& values() { return values_; }
  std::vector<Failure>& messages() { return messages_; }
  std::vector<int32_t>& status() { return status_; }
  std::vector<std::string>& reasons() { return reasons_; }
  int32_t failedEnergy() const { return failedEnergy_; }

 private:
  void ReserveCumulative() {
    // Room for every energy's samples up front, so that the tables never grow by copying. Pages
    // that are reserved but never written cost no resident memory.
    const double perEnergy = static_cast<double>(constants_.nSteps) * 1.0625 + 64;
    const double total = perEnergy * run_.n;
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
        FindEquilibriumOrbit(constants_, tables_, field_, run_.Ek[i], samples, result);
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

  // Keeps a message of the run for the caller. Called with the mutex held: one at a time.
  void Report(const Failure& failure) { messages_.push_back(failure); }

  void Finish(int32_t i, const Outcome& outcome, const OrbitResult& result,
              const OrbitSamples& samples, std::vector<Failure> messages) {
    const bool ok = outcome.ok();
    std::lock_guard lock(mutex_);
    const auto at = static_cast<size_t>(i);
    status_[at] = !ok                ? static_cast<int32_t>(ClosureStatus::Failed)
                  : result.converged ? static_cast<int32_t>(ClosureStatus::Converged)
                                     : static_cast<int32_t>(ClosureStatus::NotConverged);
    reasons_[at] = !ok                ? outcome.message().text
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
    values_.Rmn[i] = result.Rmn;
    values_.Bmn[i] = result.Bmn;
    values_.Rev[i] = result.Rev;
    values_.F0[i] = result.F0;
    values_.dReo[i] = result.dReo;
    if (options_.energyFinished) options_.energyFinished(i, result.trials);
    if (failed_) return;
    progress_.stepIt();
    if (stop_.StopRequested()) stopping_ = true;
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

  const PreparedRun& run_;
  ProgressSink& progress_;
  const StopToken& stop_;
  const WorkerOptions& options_;
  const OrbitConstants& constants_;
  const AverageFieldTables& tables_;
  const Field& field_;

  std::mutex mutex_;        // guards everything below and the progress
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
  EnergyValues values_;
  std::vector<Failure> messages_;
  std::vector<int32_t> status_;       // per energy: -1 until done, then its ClosureStatus
  std::vector<std::string> reasons_;  // per energy: why it did not close
  int32_t failedEnergy_ = -1;         // the energy whose failure ended the run
};

// The results of a complete run, in the table order of the results: the record's per-energy
// tables, the orbit samples (moved, not copied) and the samples of each energy.
ResultTables RunResults(const PreparedRun& run, EnergyValues& values, CumulativeOrbits& orbits,
                        std::vector<int32_t> points) {
  ResultTables results;
  results.Ek = RealTable(run.Ek);
  results.Rmn = RealTable(std::move(values.Rmn));
  results.Bmn = RealTable(std::move(values.Bmn));
  results.Rev = RealTable(std::move(values.Rev));
  results.F0 = RealTable(std::move(values.F0));
  results.dReo = RealTable(std::move(values.dReo));
  results.OrbitR = RealTable(std::move(orbits.R));
  results.OrbitVr = RealTable(std::move(orbits.vR));
  results.OrbitTheta = RealTable(std::move(orbits.theta));
  results.OrbitOmega = RealTable(std::move(orbits.w));
  results.OrbitTau = RealTable(std::move(orbits.tau));
  results.OrbitPoints = IntTable(std::move(points));
  results.run = run.run;
  results.mapFile = run.mapFile;
  results.mapReading = run.mapReading;
  return results;
}

// The progress bar at the start of the energies: range 0 .. n, step 1, position 0.
void StartProgress(ProgressSink& progress, int32_t n) {
  progress.setRange(0, n);
  progress.setStep(1);
  progress.setPos(0);
}

template <class Field>
CalculationOutput RunEnergies(const PreparedRun& run, ProgressSink& progress, const StopToken& stop,
                              const WorkerOptions& options, const OrbitConstants& constants,
                              const AverageFieldTables& tables, const Field& field) {
  CalculationOutput out;
  // Progress bar.
  StartProgress(progress, run.n);

  // The energies.
  EnergyLoop<Field> loop(run, progress, stop, options, constants, tables, field);
  const int threads = std::clamp(options.threads, 1, std::max(run.n, 1));
  out.outcome = loop.Run(threads);
  out.messages = std::move(loop.messages());
  out.energyStatus = std::move(loop.status());
  out.energyReasons = std::move(loop.reasons());
  out.failedEnergy = loop.failedEnergy();
  // Bar back to the start (after a stop too; a failure leaves it where it is).
  if (out.outcome != WorkerOutcome::Failed) progress.setPos(0);
  if (out.outcome != WorkerOutcome::Completed) {
    EnergyValues& done = loop.values();
    out.Rmn = std::move(done.Rmn);
    out.Bmn = std::move(done.Bmn);
    out.Rev = std::move(done.Rev);
    out.F0 = std::move(done.F0);
    out.dReo = std::move(done.dReo);
    return out;
  }

  // The results, in the table order of the results; the samples move, they are not copied.
  out.results = RunResults(run, loop.values(), loop.orbits(), std::move(loop.points()));
  out.results.closure.gainPerTurn =
      options.gainPerTurnMeV;  // the only closure value of this search
  for (const std::optional<std::string>& note :
       {AccuracyNote(out.results),
        run.radii.empty() ? std::nullopt : InnerEdgeNote(out.results, run.radii.front())})
    if (note) out.notes.push_back(*note);
  return out;
}

// The one message of a precise run some of whose energies did not close: how many, and each one
// with its status and reason (the first kMaxListed of them).
Failure NotClosedSummary(const PreparedRun& run, const ClosedOrbits& closed) {
  constexpr size_t kMaxListed = 20;
  std::string list;
  size_t count = 0;
  for (size_t i = 0; i < closed.energies.size(); ++i) {
    const PreciseOrbitResult& r = closed.energies[i];
    if (r.status == ClosureStatus::Converged) continue;
    if (++count > kMaxListed) continue;
    const std::string energy = FormatNumber(JoulesToMeV(run.Ek[i]), Significant(6)) + " MeV";
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

// The results of a complete precise run from its closed orbits (their samples moved into the
// record's tables, in energy order): values, tunes, statuses and reasons of every energy, and the
// one message naming those that did not close.
void PreciseResults(const PreparedRun& run, const WorkerOptions& options,
                    const ClosedOrbits& closed, std::vector<OrbitSamples>& closedSamples,
                    CalculationOutput& out) {
  const size_t n = static_cast<size_t>(run.n);
  std::vector<int32_t> points(n, 0);
  EnergyValues values;
  for (auto* table : {&values.Rmn, &values.Bmn, &values.Rev, &values.F0, &values.dReo})
    table->assign(n, 0.0);
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
    out.energyStatus[i] = status[i];
    out.energyReasons[i] = r.reason;
    if (r.status != ClosureStatus::Converged) {
      ++notClosed;
      reasons[i] = r.reason;
      points[i] = 0;
      for (auto* table : {&values.Rmn, &values.Bmn, &values.Rev, &values.F0, &values.dReo})
        (*table)[i] = kNoValue;
      continue;
    }
    status[i] |= (r.nuR.stable ? 0 : kRadialUnstable) | (r.nuZ.stable ? 0 : kVerticalUnstable);
    reasons[i] = r.note;  // a closed orbit's note on its values (no Rev), if any
    nuR[i] = r.nuR.value;
    nuZ[i] = r.nuZ.value;
    values.Rmn[i] = r.Rmn;
    values.Bmn[i] = r.Bmn;
    values.Rev[i] = r.Rev;
    values.F0[i] = r.F0;
    values.dReo[i] = r.dReo;
    OrbitSamples& s = closedSamples[i];
    points[i] = static_cast<int32_t>(s.Size());
    orbits.R.insert(orbits.R.end(), s.R.begin(), s.R.end());
    orbits.vR.insert(orbits.vR.end(), s.vR.begin(), s.vR.end());
    orbits.theta.insert(orbits.theta.end(), s.theta.begin(), s.theta.end());
    orbits.w.insert(orbits.w.end(), s.w.begin(), s.w.end());
    orbits.tau.insert(orbits.tau.end(), s.tau.begin(), s.tau.end());
    s = OrbitSamples{};
  }
  if (notClosed > 0) out.messages.push_back(NotClosedSummary(run, closed));
  if (std::all_of(reasons.begin(), reasons.end(), [](const std::string& t) { return t.empty(); }))
    reasons.clear();

  ResultTables results = RunResults(run, values, orbits, std::move(points));
  ClosureTables& closure = results.closure;
  closure.mode = static_cast<int32_t>(ClosureMode::Precise);
  closure.gainPerTurn = options.gainPerTurnMeV;
  closure.tolerance = options.tolerance;
  Diagnostics diagnostics = ComputeDiagnostics(results, options.gainPerTurnMeV);
  closure.isochronism = RealTable(std::move(diagnostics.isochronism));
  closure.phaseDeg = RealTable(std::move(diagnostics.phaseDeg));
  closure.nuR = RealTable(std::move(nuR));
  closure.nuZ = RealTable(std::move(nuZ));
  closure.status = IntTable(std::move(status));
  closure.reasons = std::move(reasons);
  out.results = std::move(results);
  out.outcome = WorkerOutcome::Completed;
}

// The energy loop of the precise closure: every energy through CloseOrbits, which closes them on
// the run's threads and then seeds those that did not close from their closed neighbours. An
// energy that does not close stays in the results without values (kNoValue), with its status and
// reason in the closure tables; one message at the end names them.
CalculationOutput RunPreciseEnergies(const PreparedRun& run, ProgressSink& progress,
                                     const StopToken& stop, const WorkerOptions& options,
                                     const OrbitConstants& constants,
                                     const AverageFieldTables& tables, const FieldPatches& field) {
  CalculationOutput out;
  StartProgress(progress, run.n);

  // Each closed orbit (one precise turn on its sample grid) is kept for its energy as it closes;
  // the run's sample tables take those of the energies that closed, in energy order, at the end.
  const size_t n = static_cast<size_t>(run.n);
  std::vector<OrbitSamples> closedSamples(n);

  ClosedOrbitsOptions batch;
  batch.threads = std::clamp(options.threads, 1, std::max(run.n, 1));
  batch.stop = stop;
  // The first pass's verdict of each energy, which a stopped run keeps; the second pass may still
  // improve it.
  out.energyStatus.assign(n, -1);
  out.energyReasons.assign(n, std::string());
  EnergyValues first;
  for (auto* table : {&first.Rmn, &first.Bmn, &first.Rev, &first.F0, &first.dReo})
    table->assign(n, kNoValue);
  batch.energyFinished = [&](int32_t energy, const PreciseOrbitResult& result) {
    const auto at = static_cast<size_t>(energy);
    out.energyStatus[at] = static_cast<int32_t>(result.status);
    out.energyReasons[at] = result.reason;
    if (result.status == ClosureStatus::Converged) {
      first.Rmn[at] = result.Rmn;
      first.Bmn[at] = result.Bmn;
      first.Rev[at] = result.Rev;
      first.F0[at] = result.F0;
      first.dReo[at] = result.dReo;
    }
    if (options.energyFinished) options.energyFinished(energy, result.iterations);
    progress.stepIt();
  };
  batch.orbitClosed = [&](int32_t energy, const OrbitSamples& s) {
    OrbitSamples& kept = closedSamples[static_cast<size_t>(energy)];
    kept = s;
    kept.B.clear();  // the run's tables keep no field
    kept.B.shrink_to_fit();
  };
  const ClosedOrbits closed = CloseOrbits(constants, tables, field, run.Ek, {}, batch);
  progress.setPos(0);
  if (closed.stopped) {
    out.outcome = WorkerOutcome::Stopped;
    out.Rmn = std::move(first.Rmn);
    out.Bmn = std::move(first.Bmn);
    out.Rev = std::move(first.Rev);
    out.F0 = std::move(first.F0);
    out.dReo = std::move(first.dReo);
    return out;
  }

  PreciseResults(run, options, closed, closedSamples, out);
  return out;
}

// A run that ends before its energies with one failure.
CalculationOutput FailedRun(Failure failure) {
  CalculationOutput out;
  out.messages.push_back(std::move(failure));
  return out;
}

}  // namespace

CalculationOutput RunCalculation(const PreparedRun& run, const WorkerOptions& options,
                                 ProgressSink& progress, const StopToken& stop) {
  try {
    const int64_t mapCount = static_cast<int64_t>(run.nR) * run.nTheta;
    if (run.nR < 0 || run.nTheta < 0 || std::ssize(run.radii) != run.nR ||
        std::ssize(run.azimuths) != run.nTheta || std::ssize(run.field) != mapCount || run.n < 1 ||
        std::ssize(run.Ek) != run.n)
      return FailedRun(ErrorFailure("Array size error!"));

    Result<OrbitInputs> prepared = PrepareOrbitInputs(run);
    if (!prepared) return FailedRun(prepared.failure());
    const OrbitInputs& fieldTables = *prepared;
    const OrbitConstants& constants = fieldTables.constants;
    const AverageFieldTables tables = fieldTables.tables();
    if (!options.referenceField || options.closure == ClosureMode::Precise) {
      // The fast field: the same function as the reference, precomputed as patches per cell.
      Result<FieldPatches> patches = FieldPatches::Build(
          fieldTables.radialSteps, run.radii, run.azimuths, run.field, fieldTables.moments);
      if (!patches) return FailedRun(patches.failure());
      if (options.closure == ClosureMode::Precise) {
        OrbitConstants precise = constants;
        precise.tolerance = options.tolerance;
        return RunPreciseEnergies(run, progress, stop, options, precise, tables, *patches);
      }
      return RunEnergies(run, progress, stop, options, constants, tables, *patches);
    }
    const ReferenceField field(fieldTables.radialSteps, run.radii, run.azimuths, run.field,
                               fieldTables.moments);
    return RunEnergies(run, progress, stop, options, constants, tables, field);
  } catch (const std::bad_alloc&) {
    return FailedRun(ErrorFailure("Not enough memory for the calculation!"));
  } catch (const std::exception& e) {
    // A failure outside the energy loop: the run ends without results, as any failed run.
    return FailedRun(ErrorFailure(std::string("The calculation failed: ") + e.what()));
  }
}

Result<double> ReadPreciseTolerance(const std::string& text) {
  const std::optional<double> tolerance = ParseNumber(TrimSpace(text));
  if (!tolerance) return ErrorFailure("--tolerance " + text + ": not a number", "tolerance");
  if (Outcome checked = CheckPreciseTolerance(*tolerance); !checked) return checked;
  return *tolerance;
}

}  // namespace zuba
