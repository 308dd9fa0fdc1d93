// zuba-cli trim-fit: the currents of circular trim coils, given their field per ampere, that make
// the machine closest to isochronous (or keep the RF phase closest to zero) over the energies of
// the run, within each coil's current limit.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "calc/corrections/isochronise.h"
#include "cli/command.h"
#include "cli/correction_output.h"
#include "cli/run_setup.h"
#include "platform/files.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "results/text.h"

namespace zuba::cli {
namespace {

struct TrimFitCli {
  RunSetup setup;
  std::string coils;
  std::vector<std::string> limits;  // "A" or "NAME=A"
  std::string target = "isochronism";
  double gainPerTurn = 0.1;                  // MeV
  const CLI::Option* gainOption = nullptr;   // --gain-per-turn, given or not
  std::vector<std::string> excludeEnergies;  // "MIN:MAX" (MeV)
  std::vector<std::string> weights;          // "MIN:MAX=W"
  std::string output;
  std::string currentsOut;  // the coil table with the currents
  bool json = false;
};

double ParseAmperes(const std::string& text, const std::string& option) {
  const std::optional<double> value = ParseNumber(TrimSpace(text));
  if (!value || !(*value >= 0))
    throw UsageError{"--limit " + option + ": \"" + text + "\" is not a current of 0 A or more"};
  return *value;
}

// The current limit of every coil: a plain value for all, NAME=A for one (the later wins).
std::vector<double> Limits(const TrimCoils& coils, const std::vector<std::string>& given) {
  std::vector<double> limits(static_cast<std::size_t>(coils.Count()),
                             std::numeric_limits<double>::infinity());
  for (const std::string& item : given) {
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) {
      const double value = ParseAmperes(item, item);
      for (double& limit : limits) limit = value;
      continue;
    }
    const std::string name = TrimSpace(item.substr(0, eq));
    int coil = -1;
    for (int c = 0; c < coils.Count(); ++c)
      if (coils.Name(c) == name) coil = c;
    if (coil < 0) throw UsageError{"--limit: no coil named \"" + name + "\" in the coil file"};
    limits[coil] = ParseAmperes(item.substr(eq + 1), item);
  }
  return limits;
}

double NumberOf(const std::string& text, const std::string& option, const std::string& item,
                const char* what) {
  const std::optional<double> value = ParseNumber(TrimSpace(text));
  if (!value) throw UsageError{option + " " + item + ": \"" + text + "\" is not " + what};
  return *value;
}

// MIN:MAX (MeV).
EnergyRange ParseRange(const std::string& text, const std::string& option,
                       const std::string& item) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos)
    throw UsageError{option + " " + item + ": expected MIN:MAX, energies in MeV"};
  return {NumberOf(text.substr(0, colon), option, item, "an energy in MeV"),
          NumberOf(text.substr(colon + 1), option, item, "an energy in MeV")};
}

// The per-energy weights of the run from --exclude-energy and --weight; refused (shown) when they
// leave no energy or a weight is not above 0.
Result<std::vector<double>> WeightsOf(const PreparedRun& record, const TrimFitCli& options) {
  std::vector<EnergyRange> exclude;
  for (const std::string& item : options.excludeEnergies)
    exclude.push_back(ParseRange(item, "--exclude-energy", item));
  std::vector<EnergyWeight> weights;
  for (const std::string& item : options.weights) {
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) throw UsageError{"--weight " + item + ": expected MIN:MAX=W"};
    weights.push_back({ParseRange(item.substr(0, eq), "--weight", item),
                       NumberOf(item.substr(eq + 1), "--weight", item, "a number")});
  }
  return EnergyWeightsOf(record, exclude, weights);
}

// The file of --currents-out, opened before the fit so that one that cannot be written is said at
// once; kExitOk, or kExitRefused after the message.
int OpenCurrentsFile(const std::string& path, std::unique_ptr<AtomicFileWriter>& file) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    ShowMessage(path + ": is a folder, not a file", "Error");
    return kExitRefused;
  }
  file = std::make_unique<AtomicFileWriter>(path);
  if (!file->write("", 0)) {
    ShowMessage(path + ": " + file->commit().message().text, "Error");
    return kExitRefused;
  }
  return kExitOk;
}

// The names of the coils of the indices.
std::vector<std::string> CoilNames(const TrimCoils& coils, const std::vector<int>& indices) {
  std::vector<std::string> list;
  list.reserve(indices.size());
  for (int c : indices) list.push_back(coils.Name(c));
  return list;
}

void PrintFitJson(const TrimCoils& coils, const TrimFit& t, std::optional<double> afterWritten,
                  const PreparedRun& record, double tolerance) {
  nlohmann::ordered_json out;
  nlohmann::ordered_json currents = nlohmann::ordered_json::array();
  for (int c = 0; c < coils.Count(); ++c)
    currents.push_back({{"name", coils.Name(c)}, {"current_A", t.currents[c]}});
  out["currents"] = std::move(currents);
  out["isochronism_before"] = t.isochronismBefore;
  out["isochronism_after"] = t.isochronismAfter;
  if (afterWritten) out["isochronism_after_written"] = *afterWritten;
  out["phase_deg_before"] = t.phaseDegBefore;
  out["phase_deg_after"] = t.phaseDegAfter;
  out["condition_number"] = t.conditionNumber;
  out["at_limit"] = CoilNames(coils, t.atLimit);
  out["no_effect"] = CoilNames(coils, t.noEffect);
  out["excluded_energies"] = t.excludedEnergiesMeV;
  out["iterations"] = t.iterations;
  AddOutcomeJson(out, record, t, tolerance);
  std::cout << out.dump(2) << "\n";
}

void PrintFitText(const TrimCoils& coils, const TrimFit& t, std::optional<double> afterWritten,
                  const std::string& output) {
  std::printf("%-16s %14s\n", "coil", "current (A)");
  for (int c = 0; c < coils.Count(); ++c)
    std::printf("%-16s %14.3f\n", coils.Name(c).c_str(), t.currents[c]);
  std::printf("Isochronism |F0*H/Frf - 1|: worst %.3e before, %.3e after\n", t.isochronismBefore,
              t.isochronismAfter);
  if (afterWritten)
    std::printf("Isochronism of the map as written to %s (values to 1e-5 T): worst %.3e\n",
                output.c_str(), *afterWritten);
  std::printf("RF phase: largest %.3f deg before, %.3f deg after\n", t.phaseDegBefore,
              t.phaseDegAfter);
  std::printf("Condition number %.3g, %d iterations\n", t.conditionNumber, t.iterations);
  std::printf("Fit: %s (target %g)\n", TerminationName(t.termination), t.target);
  if (!t.atLimit.empty()) {
    std::printf("At their current limit:");
    for (int c : t.atLimit) std::printf(" %s", coils.Name(c).c_str());
    std::printf("\n");
  }
  if (!t.unclosedEnergiesMeV.empty())
    std::printf("%zu energies without a closed orbit on the map are left out\n",
                t.unclosedEnergiesMeV.size());
  if (t.excludedEnergiesMeV.size() > t.unclosedEnergiesMeV.size())
    std::printf("%zu energies are left out by --exclude-energy\n",
                t.excludedEnergiesMeV.size() - t.unclosedEnergiesMeV.size());
}

int RunTrimFit(const TrimFitCli& options) {
  const Result<TrimCoils> coils = TrimCoils::Read(options.coils);
  if (!coils) return Refused(coils.outcome());
  TrimFitOptions fit;
  fit.limits = Limits(*coils, options.limits);
  fit.target = options.target == "phase" ? TrimTarget::Phase : TrimTarget::Isochronism;

  CorrectionRun run;
  if (const int refused = run.Prepare(options.setup); refused != kExitOk) return refused;
  fit.gainPerTurnMeV = run.start.GainPerTurn(options.gainOption, options.gainPerTurn);
  const PreparedRun& record = run.Record();
  const Result<std::vector<double>> energyWeights = WeightsOf(record, options);
  if (!energyWeights) return Refused(energyWeights.outcome());
  fit.energyWeights = *energyWeights;
  // The currents' file is written only when the fit has ended.
  std::unique_ptr<AtomicFileWriter> currentsFile;
  if (!options.currentsOut.empty()) {
    if (const int refused = OpenCurrentsFile(options.currentsOut, currentsFile); refused != kExitOk)
      return refused;
  }
  const Result<TrimFit> found = FitTrimCoils(record, *coils, run.Closer(), fit);
  if (!found) return SearchFailed(found.outcome());
  const TrimFit& t = *found;
  const bool stopped = t.termination == CorrectionTermination::Stopped;
  if (currentsFile && !stopped) {
    const std::string text = CoilCurrentsText(*coils, t.currents);
    currentsFile->write(text.data(), text.size());
    if (const Outcome written = currentsFile->commit(); !written) {
      ShowMessage(options.currentsOut + ": " + written.message().text, "Error");
      return kExitRefused;
    }
  }
  std::optional<double> afterWritten;
  if (!options.output.empty() && !stopped) {
    const std::vector<double> change = CoilFieldChange(*coils, t.currents, record.radii);
    if (const int w = WriteCorrectedMap(options.output, record, change, run.threads,
                                        run.start.tolerance, afterWritten);
        w != kExitOk)
      return w;
  }
  for (int c : t.noEffect)
    std::fprintf(stderr, "Coil %s reaches no closed orbit of the run and is left out of the fit.\n",
                 coils->Name(c).c_str());
  if (options.json) {
    PrintFitJson(*coils, t, afterWritten, record, run.start.tolerance);
  } else {
    PrintFitText(*coils, t, afterWritten, options.output);
  }
  std::fflush(stdout);
  PrintWarnings(TrimFitWarnings(record, t, coils->Names()));
  if (stopped) return SearchStopped(t);
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<TrimFitCli>();
  CLI::App* app = parent.add_subcommand(
      "trim-fit", "Find the trim-coil currents that make the machine closest to isochronous");
  AddRunSetupOptions(*app, options->setup);
  app->add_option("--coils", options->coils,
                  "Coil table: r_m, then each coil's field per ampere (T/A, or NAME_Gs_per_A)")
      ->required();
  app->add_option("--limit", options->limits,
                  "Current limit |I| <= A of every coil, or NAME=A of one coil; may be repeated");
  app->add_option("--target", options->target,
                  "What the fit minimises: isochronism (F0*H/Frf - 1) or phase (the RF phase)")
      ->check(CLI::IsMember({"isochronism", "phase"}))
      ->capture_default_str();
  options->gainOption = app->add_option("--gain-per-turn", options->gainPerTurn,
                                        "Energy gain per turn (MeV) for the RF phase")
                            ->check(CLI::Range(1e-6, 1e6))
                            ->capture_default_str();
  app->add_option(
      "--exclude-energy", options->excludeEnergies,
      "Leave the energies MIN:MAX (MeV, ends included) out of the fit; may be repeated");
  app->add_option("--weight", options->weights,
                  "MIN:MAX=W: weigh the squares of the energies MIN..MAX (MeV) by W > 0 (default "
                  "1; the later wins); may be repeated");
  app->add_option("-o,--output", options->output, "Write the corrected map (*.sdf)");
  app->add_option("--currents-out", options->currentsOut,
                  "Write the coil table with a last row current_A holding the currents (A)");
  app->add_flag("--json", options->json, "Print the result as JSON");
  return Command{app, [options] { return RunTrimFit(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
