// zuba-cli run: the whole calculation without windows. Applies a mode preset and --set changes,
// reads the field map, finds the equilibrium orbit of every energy (Ctrl+C is the stop request)
// and writes the report, the document, a values table and the graph picture.
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "calc/run/diagnostics.h"
#include "calc/run/driver.h"
#include "calc/run/run_checks.h"
#include "calc/run/run_quantities.h"
#include "calc/run/values_table.h"
#include "cli/command.h"
#include "cli/map_reading_cli.h"
#include "cli/orbits_output.h"
#include "cli/run_description_json.h"
#include "cli/run_setup.h"
#include "numerics/average_field.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "platform/progress.h"
#include "platform/stop.h"
#include "platform/threads.h"
#include "results/document.h"
#include "results/report.h"
#include "results/result_tables.h"
#include "results/run_completion.h"
#include "results/run_fields.h"
#include "results/text.h"

#ifdef ZUBA_HAVE_GRAPH
#include "graph/plot_file.h"
#endif

namespace zuba::cli {
namespace {

struct RunOptions {
  RunSetup setup;  // --map, the reading options, --mode or --machine, --set, --threads
  std::string report, save, values, plot;
  bool referenceField = false;
  bool quiet = false;
  std::string closure = "standard";             // how each orbit is closed: standard or precise
  double gainPerTurn = kDefaultGainPerTurnMeV;  // MeV per turn, for the phase slip
  const CLI::Option* closureOption = nullptr;   // --closure, given or not
  const CLI::Option* gainOption = nullptr;      // --gain-per-turn, given or not
  bool json = false;                            // the run description and energies as JSON
  std::string orbits;                           // the closed orbits' coordinates file
  OrbitRequest orbitRequest;                    // its azimuth and grid
  bool noChecks = false;                        // no warnings before the run
};

// What a run of the default search that a failing energy ended adds.
constexpr const char* kPreciseClosureHint =
    "The precise closure (--closure precise) closes each energy on its own and keeps the others.";

// The stop flag of the run that Ctrl+C stops (a signal handler reaches it only through a variable
// of its own; the atomic pointer and the flag are lock-free).
std::atomic<std::atomic<bool>*> interruptTarget{nullptr};

// Ctrl+C: the first asks the run to stop after the energies in flight; the handler then falls
// back to the default, so a second Ctrl+C ends the program at once.
extern "C" void OnInterrupt(int) {
  if (std::atomic<bool>* flag = interruptTarget.load()) flag->store(true);
}

void InstallInterruptHandler(const StopSource& stop) {
  interruptTarget.store(stop.Flag());
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

// The progress bar "Calculation:" drawn on one line of a terminal (stderr). Messages shown while it
// is drawn clear the line first and the bar is drawn again below them.
class TerminalProgress : public ProgressSink, public MessageService {
 public:
  TerminalProgress() { previous_ = SetMessageService(this); }
  ~TerminalProgress() override {
    SetMessageService(previous_);
    Finish();
  }

  void setRange(int32_t low, int32_t high) override {
    std::lock_guard lock(mutex_);
    low_ = low;
    high_ = high;
    DrawLocked();
  }
  void setStep(int32_t step) override {
    std::lock_guard lock(mutex_);
    step_ = step;
  }
  void setPos(int32_t position) override {
    std::lock_guard lock(mutex_);
    position_ = std::clamp(position, low_, high_);
    DrawLocked();
  }
  void stepIt() override {
    std::lock_guard lock(mutex_);
    position_ += step_;
    if (position_ > high_) position_ = low_ + (position_ - high_);
    ++done_;
    DrawLocked();
  }
  void show(const Message& message) override {
    std::lock_guard lock(mutex_);
    if (drawn_) std::fputs("\r\033[K", stderr);
    ConsoleMessageService().show(message);
    if (drawn_) DrawLocked();
  }
  // Ends the bar's line.
  void Finish() {
    std::lock_guard lock(mutex_);
    if (drawn_) std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }

 private:
  void DrawLocked() {
    constexpr int kWidth = 40;
    const int32_t span = std::max(high_ - low_, 1);
    // The bar shows the energies finished (the control itself returns to 0 at the end).
    const int32_t shown = std::clamp(done_, 0, span);
    const int filled = static_cast<int>(static_cast<int64_t>(shown) * kWidth / span);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\rCalculation: [%s] %d/%d", bar.c_str(), shown, span);
    std::fflush(stderr);
    drawn_ = true;
  }

  std::mutex mutex_;
  MessageService* previous_ = nullptr;
  int32_t low_ = 0, high_ = 100, step_ = 10, position_ = 0, done_ = 0;
  bool drawn_ = false;
};

// What the JSON says about the run as a whole: how it ended and the warnings it started with.
struct RunVerdict {
  const char* outcome = "completed";  // "completed", "failed" or "stopped"
  std::vector<std::string> warnings;
  std::vector<bool> done;  // the energies to list; all when empty
};

// The run description, how the run ended, its warnings, and one object per energy named like the
// values columns, with its status and reason (null where it closed without a note); tunes
// are null without the precise closure or an orbit and "unstable" where the motion grows. An
// energy of a precise run that did not close has null values, as has a value the energy does not
// have (a precise orbit's Rev). A precise run also names the tolerance of its closure.
std::string RunJson(const ResultTables& r, const ClosureColumns& closure, ClosureMode mode,
                    double gainPerTurn, double tolerance, const RunVerdict& verdict) {
  using Json = nlohmann::ordered_json;
  const RunParameters& run = r.run;
  Json out;
  out["run"] = RunDescriptionJson(run);
  out["closure"] = std::string(ClosureModeName(mode));
  if (mode == ClosureMode::Precise) out["tolerance"] = tolerance;
  out["gain_per_turn_mev"] = gainPerTurn;
  out["outcome"] = verdict.outcome;
  out["warnings"] = verdict.warnings;
  auto tune = [](const std::vector<double>& tunes, int64_t i) -> Json {
    if (i >= std::ssize(tunes)) return nullptr;
    if (tunes[i] == kNoValue) return "unstable";
    return tunes[i];
  };
  auto value = [](const std::vector<double>& column, int64_t i) -> Json {
    if (i >= std::ssize(column) || column[i] == kNoValue) return nullptr;
    return column[i];
  };
  auto real = [](const RealTable& column, int64_t i) -> Json {
    if (i >= column.size() || column[i] == kNoValue) return nullptr;
    return column[i];
  };
  Json energies = Json::array();
  for (int64_t i = 0; i < r.Ek.size(); ++i) {
    if (i < std::ssize(verdict.done) && !verdict.done[static_cast<size_t>(i)]) continue;
    const bool has = closure.HasValues(i);
    const Json values[] = {r.Ek[i],
                           JoulesToMeV(r.Ek[i]),
                           has ? real(r.Rmn, i) : Json(nullptr),
                           has ? real(r.Bmn, i) : Json(nullptr),
                           has ? real(r.Rev, i) : Json(nullptr),
                           has ? real(r.F0, i) : Json(nullptr),
                           has ? real(r.dReo, i) : Json(nullptr),
                           has ? value(closure.isochronism, i) : Json(nullptr),
                           has ? value(closure.phaseDeg, i) : Json(nullptr),
                           has ? tune(closure.nuR, i) : Json(nullptr),
                           has ? tune(closure.nuZ, i) : Json(nullptr),
                           has ? value(closure.consistency, i) : Json(nullptr),
                           has ? value(closure.vrResidual, i) : Json(nullptr)};
    Json energy;
    for (size_t k = 0; k < std::size(kValueColumns); ++k) energy[kValueColumns[k]] = values[k];
    energy["status"] = std::string(closure.StatusText(i));
    // Every energy has its reason: null where there is nothing to say.
    if (i < std::ssize(closure.reasons) && !closure.reasons[i].empty())
      energy["reason"] = closure.reasons[i];
    else
      energy["reason"] = nullptr;
    energies.push_back(std::move(energy));
  }
  out["energies"] = std::move(energies);
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The table on stdout when no output file is asked: with the precise closure also the isochronism
// error and the tunes, and for an energy that did not close its status and reason.
void PrintSummary(const ResultTables& r, const ClosureColumns& closure) {
  std::printf("%10s %10s %10s %12s %12s", "Ek (MeV)", "Rmn (m)", "Rev (m)", "F0 (MHz)", "dReo (m)");
  if (closure.precise) std::printf(" %12s %9s %9s", "F0*H/Frf-1", "nu_r", "nu_z");
  std::printf("\n");
  for (int64_t i = 0; i < r.Ek.size(); ++i) {
    if (!closure.HasValues(i)) {
      const std::string reason = i < std::ssize(closure.reasons) ? closure.reasons[i] : "";
      std::printf("%10.4f %s%s%s\n", JoulesToMeV(r.Ek[i]),
                  std::string(closure.StatusText(i)).c_str(), reason.empty() ? "" : ": ",
                  reason.c_str());
      continue;
    }
    // An energy without Rev (a precise orbit whose correction does not exist there) shows none.
    const std::string rev = r.Rev[i] == kNoValue ? std::string() : FormatNumber(r.Rev[i], Fixed(6));
    std::printf("%10.4f %10.6f %10s %12.8f %12.3e", JoulesToMeV(r.Ek[i]), r.Rmn[i], rev.c_str(),
                r.F0[i] / 1e6, r.dReo[i]);
    if (closure.precise && i < std::ssize(closure.nuR) && i < std::ssize(closure.nuZ)) {
      auto tune = [](double nu) {
        if (nu == kNoValue) return std::string("unstable");
        return FormatNumber(nu, Fixed(6));
      };
      std::printf(" %12.3e %9s %9s", closure.isochronism[i], tune(closure.nuR[i]).c_str(),
                  tune(closure.nuZ[i]).c_str());
    }
    std::printf("\n");
  }
}

// The values of the energies a run that failed or stopped did, as a record of results without
// orbits: the energies not done have no values, the statuses and reasons are the run's.
std::pair<ResultTables, ClosureColumns> PartialResults(const PreparedRun& run,
                                                       const CalculationOutput& record,
                                                       bool precise, double gainPerTurn) {
  ResultTables r;
  r.run = run.run;
  const size_t n = run.Ek.size();
  std::vector<double> Rmn(n, kNoValue), Bmn(n, kNoValue), Rev(n, kNoValue), F0(n, kNoValue),
      dReo(n, kNoValue);
  for (size_t i = 0; i < n && i < record.energyStatus.size() && i < record.Rmn.size(); ++i) {
    const int32_t status = record.energyStatus[i];
    if (status < 0 || status == static_cast<int32_t>(ClosureStatus::Failed) ||
        (precise && status != static_cast<int32_t>(ClosureStatus::Converged)))
      continue;
    Rmn[i] = record.Rmn[i];
    Bmn[i] = record.Bmn[i];
    Rev[i] = record.Rev[i];
    F0[i] = record.F0[i];
    dReo[i] = record.dReo[i];
  }
  r.Ek = RealTable(run.Ek);
  r.Rmn = RealTable(std::move(Rmn));
  r.Bmn = RealTable(std::move(Bmn));
  r.Rev = RealTable(std::move(Rev));
  r.F0 = RealTable(std::move(F0));
  r.dReo = RealTable(std::move(dReo));
  r.closure.gainPerTurn = gainPerTurn;
  if (precise) {
    Diagnostics d = ComputeDiagnostics(r, gainPerTurn);
    r.closure.mode = static_cast<int32_t>(ClosureMode::Precise);
    r.closure.isochronism = RealTable(std::move(d.isochronism));
    r.closure.phaseDeg = RealTable(std::move(d.phaseDeg));
    r.closure.status = IntTable(record.energyStatus);
  }
  ClosureColumns columns = ClosureColumnsOf(r, gainPerTurn);
  for (size_t i = 0; i < n && i < record.energyStatus.size(); ++i) {
    columns.status[i] = std::max(record.energyStatus[i], 0);
    columns.reasons[i] = record.energyReasons[i];
  }
  return {std::move(r), std::move(columns)};
}

// A run that failed or stopped: what the command line says, the JSON of the energies it did when
// asked, and the exit code.
int EndedEarly(const PreparedRun& run, const CalculationOutput& record, const RunOptions& options,
               RunVerdict verdict, ClosureMode mode, double gainPerTurn, double tolerance) {
  const bool stopped = record.outcome == WorkerOutcome::Stopped;
  if (stopped) {
    ShowMessage("The calculation was stopped; nothing was written.", "Stop", Icon::Information);
  } else if (record.failedEnergy >= 0 && record.failedEnergy < std::ssize(run.Ek)) {
    // The default search ends the run at the first energy it cannot follow.
    const double ek = JoulesToMeV(run.Ek[static_cast<size_t>(record.failedEnergy)]);
    std::fprintf(stderr,
                 "The standard search failed at Ek = %s MeV; the run ended there and no file was "
                 "written.\n%s\n",
                 FormatNumber(ek, Significant(6)).c_str(), kPreciseClosureHint);
  }
  if (options.json) {
    const auto [results, closure] =
        PartialResults(run, record, mode == ClosureMode::Precise, gainPerTurn);
    verdict.outcome = stopped ? "stopped" : "failed";
    verdict.done.assign(run.Ek.size(), false);
    for (size_t i = 0; i < verdict.done.size() && i < record.energyStatus.size(); ++i)
      verdict.done[i] = record.energyStatus[i] >= 0;
    std::cout << RunJson(results, closure, mode, gainPerTurn, tolerance, verdict) << std::flush;
  }
  return stopped ? kExitStopped : kExitFailed;
}

// Writes the files the options ask for (report, document, values, orbits, graph) from the results
// of a complete run; the line of each file written goes to `written`. False when one could not be
// written (its message has been shown).
bool WriteRunOutputs(const PreparedRun& run, const ResultTables& results,
                     const ClosureColumns& closure, const RunOptions& options,
                     std::vector<std::string>& written) {
  bool allWritten = true;
  if (!options.report.empty()) {
    const ReportSaving w = SaveResultsReportFile(results, options.report);
    ShowFailures(w.leftOut);
    if (w.outcome) {
      written.push_back("Report:    " + options.report);
    } else {
      ShowMessage(w.outcome.message());  // "Unable to open file for saving!"
      allWritten = false;
    }
  }
  if (!options.save.empty()) {
    const Outcome s = SaveDocumentFile(options.save, results, 1);
    if (s.ok()) {
      written.push_back("Document:  " + options.save);
    } else {
      ShowMessage(options.save + ": " + s.message().text, "Error");
      allWritten = false;
    }
  }
  if (!options.values.empty()) {
    const Outcome w = WriteFileAtomically(options.values, ValuesTable(results, closure));
    if (w) {
      written.push_back("Values:    " + options.values);
    } else {
      ShowMessage(options.values + ": " + w.message().text, "Error");
      allWritten = false;
    }
  }
  if (!options.orbits.empty()) {
    // A precise run's orbits followed in the run's own field.
    std::optional<RunOrbitField> field;
    if (closure.precise)
      if (Result<RunOrbitField> made = RunOrbitField::Of(run)) field = std::move(*made);
    if (WriteOrbits(results, options.orbitRequest, false, options.orbits, "The run",
                    field ? &*field : nullptr) == kExitOk)
      written.push_back("Orbits:    " + options.orbits);
    else
      allWritten = false;
  }
#ifdef ZUBA_HAVE_GRAPH
  if (!options.plot.empty()) {
    const PlotWriting w =
        WritePlotFile(results, options.plot, kDefaultPlotWidth, kDefaultPlotHeight);
    for (const Message& note : w.notes) ShowMessage(note);
    if (w.outcome) {
      written.push_back("Graph:     " + options.plot);
    } else {
      // A quiet failure: nothing to draw, as its note said.
      if (!w.outcome.failure().quiet)
        ShowMessage(options.plot + ": " + w.outcome.message().text, "Error");
      allWritten = false;
    }
  }
#endif
  return allWritten;
}

int RunCommand(const RunOptions& options) {
  if (!options.plot.empty()) {
#ifdef ZUBA_HAVE_GRAPH
    if (!IsPlotFileName(options.plot))
      throw UsageError{"--plot: the picture file must end in .png, .svg or .pdf: " + options.plot};
#else
    throw UsageError{"--plot: this zuba-cli was built without the graph drawing"};
#endif
  }

  RunStart start;
  if (const int made = MakeRunStart(options.setup, start); made != kExitOk) return made;
  const RunParameters& p = start.parameters;
  const ClosureMode closureMode = start.Closure(
      options.closureOption, ParseClosureMode(options.closure).value_or(ClosureMode::Standard));
  const double gainPerTurn = start.GainPerTurn(options.gainOption, options.gainPerTurn);
  if (!options.orbits.empty())
    if (Outcome checked = CheckOrbitRequest(options.orbitRequest); !checked)
      return Refused(checked);

  // A quiet refusal (a basic check of the parameters) has no box of its own; the command line
  // still says why.
  const Result<SharedRun> prepared = PrepareCalculation(p, start.reading);
  if (!prepared) return Refused(prepared.outcome());
  // What makes the run implausible, said once before it starts.
  RunVerdict verdict;
  if (!options.noChecks) verdict.warnings = RunWarnings(**prepared);
  for (const std::string& warning : verdict.warnings)
    ShowMessage(warning, "Warning", Icon::Warning);

  WorkerOptions worker;
  worker.threads = ThreadsOf(options.setup);
  worker.referenceField = options.referenceField;
  worker.closure = closureMode;
  worker.gainPerTurnMeV = gainPerTurn;
  worker.tolerance = start.tolerance;
  std::unique_ptr<TerminalProgress> bar;
  NullProgress silent;
  if (!options.quiet && isatty(STDERR_FILENO)) bar = std::make_unique<TerminalProgress>();
  const StopSource stop;
  InstallInterruptHandler(stop);
  CalculationOutput output = RunCalculation(
      **prepared, worker, bar ? static_cast<ProgressSink&>(*bar) : silent, stop.Token());
  bar.reset();
  std::signal(SIGINT, SIG_DFL);
  interruptTarget.store(nullptr);
  // Every message of the run, a quiet failure's too: the command line always says why it failed.
  for (const Failure& failure : output.messages) ShowMessage(failure.message);

  if (output.outcome != WorkerOutcome::Completed)
    return EndedEarly(**prepared, output, options, std::move(verdict), closureMode, gainPerTurn,
                      worker.tolerance);
  const ResultTables& results = output.results;
  const ClosureColumns closure = ClosureColumnsOf(results, gainPerTurn);
  // The notes of a run of the default search (accuracy, inner edge), if any.
  for (const std::string& note : output.notes) std::fprintf(stderr, "%s\n", note.c_str());
  // A precise run in which no energy closed has failed, though its outputs are written; the
  // message of the run has named the energies that did not close and why.
  bool anyClosed = !closure.precise;
  for (int64_t i = 0; i < results.Ek.size() && !anyClosed; ++i) anyClosed = closure.HasValues(i);

  std::vector<std::string> written;
  const bool allWritten = WriteRunOutputs(**prepared, results, closure, options, written);
  if (options.json) {
    // The JSON alone on stdout; the list of files written goes to stderr.
    std::cout << RunJson(results, closure, closureMode, gainPerTurn, worker.tolerance, verdict)
              << std::flush;
    if (!options.quiet)
      for (const std::string& line : written) std::fprintf(stderr, "%s\n", line.c_str());
  } else if (!options.quiet) {
    const bool anyOutput = !options.report.empty() || !options.save.empty() ||
                           !options.values.empty() || !options.plot.empty() ||
                           !options.orbits.empty();
    if (!anyOutput) PrintSummary(results, closure);
    for (const std::string& line : written) std::printf("%s\n", line.c_str());
  }
  if (!allWritten) return kExitRefused;
  return anyClosed ? kExitOk : kExitFailed;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<RunOptions>();
  CLI::App* app = parent.add_subcommand(
      "run", "Find the equilibrium orbit of every energy of a run on a field map");
  AddRunSetupOptions(*app, options->setup);
  app->add_option("--report", options->report, "Write the text report to this file (*.txt)");
  app->add_option("--save", options->save, "Save the results as a document (*.zub)");
  app->add_option("--values", options->values,
                  "Write the per-energy values, tab-separated, 17 significant digits");
  app->add_option("--plot", options->plot, "Draw the graph into this picture (.png, .svg, .pdf)");
  app->add_option("--orbits", options->orbits,
                  "Write the closed orbits' coordinates at an azimuth (as zuba-cli orbits) into "
                  "this file");
  AddOrbitRequestOptions(*app, "--orbits-", options->orbitRequest);
  app->add_flag("--reference-field", options->referenceField,
                "Evaluate the field with the per-call spline evaluation (slow; for verification)");
  app->add_flag("--quiet", options->quiet, "No progress bar, summary or list of outputs");
  options->closureOption =
      app->add_option(
             "--closure", options->closure,
             "How each orbit is closed: standard (the step-and-bisect search on the radius) "
             "or precise (Newton closure of radius and radial velocity, with tunes)")
          ->check(CLI::IsMember({"standard", "precise"}))
          ->capture_default_str();
  options->gainOption = app->add_option("--gain-per-turn", options->gainPerTurn,
                                        "Energy gain per turn (MeV) for the RF phase slip")
                            ->check(CLI::Range(1e-6, 1e6))
                            ->capture_default_str();
  app->add_flag("--json", options->json,
                "Print the run description, its warnings and the values of every energy as JSON "
                "on stdout (also of the energies done when the run fails or is stopped)");
  app->add_flag("--no-checks", options->noChecks,
                "Do not check the run for implausible settings (Frf, H, N, ChargeSign, energies "
                "against the map) before it starts");
  return Command{app, [options] { return RunCommand(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
