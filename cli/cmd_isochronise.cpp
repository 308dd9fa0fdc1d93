// zuba-cli isochronise: the azimuthally uniform change of the mean field ΔB̄(R) that makes every
// energy of the run revolve at Frf / H, from the precise closed orbits; optionally the corrected
// map (*.sdf) and the correction table.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "calc/corrections/isochronise.h"
#include "calc/run/diagnostics.h"
#include "cli/command.h"
#include "cli/correction_output.h"
#include "cli/run_setup.h"
#include "platform/files.h"
#include "platform/message.h"
#include "platform/numbers.h"

namespace zuba::cli {
namespace {

struct IsochroniseOptionsCli {
  RunSetup setup;
  std::string output;                           // corrected map
  std::string table;                            // r_m, delta_b_t
  double gainPerTurn = kDefaultGainPerTurnMeV;  // MeV, for the RF phase
  const CLI::Option* gainOption = nullptr;      // --gain-per-turn, given or not
  bool json = false;
};

std::string Digits17(double value) {
  return FormatNumber(value, Significant(17));
}

std::string CorrectionTable(const MeanFieldCorrection& c) {
  std::string text = "r_m\tdelta_b_t\n";
  for (std::size_t i = 0; i < c.radii.size(); ++i)
    text += Digits17(c.radii[i]) + "\t" + Digits17(c.deltaB[i]) + "\n";
  return text;
}

int RunIsochronise(const IsochroniseOptionsCli& options) {
  CorrectionRun run;
  if (const int refused = run.Prepare(options.setup); refused != kExitOk) return refused;
  const PreparedRun& record = run.Record();
  IsochroniseOptions search;
  search.gainPerTurnMeV = run.start.GainPerTurn(options.gainOption, options.gainPerTurn);
  const Result<MeanFieldCorrection> found = FindIsochronousCorrection(record, run.Closer(), search);
  if (!found) return SearchFailed(found.outcome());
  const MeanFieldCorrection& c = *found;
  const bool stopped = c.termination == CorrectionTermination::Stopped;
  std::optional<double> afterWritten;
  if (!options.output.empty() && !stopped) {
    if (const int w = WriteCorrectedMap(options.output, record, c.deltaB, run.threads,
                                        run.start.tolerance, afterWritten);
        w != kExitOk)
      return w;
  }
  if (!options.table.empty() && !stopped) {
    if (Outcome w = WriteFileAtomically(options.table, CorrectionTable(c)); !w) {
      ShowMessage(options.table + ": " + w.message().text, "Error");
      return kExitRefused;
    }
  }
  const CorrectionShape shape = ShapeOf(c);
  if (options.json) {
    nlohmann::ordered_json out;
    out["isochronism_before"] = c.isochronismBefore;
    out["isochronism_after"] = c.isochronismAfter;
    if (afterWritten) out["isochronism_after_written"] = *afterWritten;
    out["phase_deg_before"] = c.phaseDegBefore;
    out["phase_deg_after"] = c.phaseDegAfter;
    out["iterations"] = c.iterations;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < c.radii.size(); ++i)
      list.push_back({{"r_m", c.radii[i]}, {"delta_b_t", c.deltaB[i]}});
    out["correction"] = std::move(list);
    out["excluded_energies"] = c.excludedEnergiesMeV;
    AddOutcomeJson(out, record, c, run.start.tolerance);
    out["knots_m"] = c.knots;
    out["span_m"] = {c.spanLow, c.spanHigh};
    out["largest_delta_b_t"] = shape.largest;
    out["total_variation_t"] = shape.totalVariation;
    out["range_t"] = shape.range;
    std::cout << out.dump(2) << "\n";
  } else {
    std::printf("Isochronism |F0*H/Frf - 1|: worst %.3e before, %.3e after (%d iterations)\n",
                c.isochronismBefore, c.isochronismAfter, c.iterations);
    if (afterWritten)
      std::printf("Isochronism of the map as written to %s (values to 1e-5 T): worst %.3e\n",
                  options.output.c_str(), *afterWritten);
    std::printf("RF phase: largest %.3f deg before, %.3f deg after\n", c.phaseDegBefore,
                c.phaseDegAfter);
    std::printf("Search: %s (target %g)\n", TerminationName(c.termination), c.target);
    if (!c.excludedEnergiesMeV.empty())
      std::printf("%zu energies without a closed orbit on the map are left out\n",
                  c.excludedEnergiesMeV.size());
    std::printf(
        "Orbits span R = %.4f .. %.4f m; outside it the correction is held at that of "
        "the nearest node beyond the span\n",
        c.spanLow, c.spanHigh);
    std::printf(
        "Correction: cubic spline on %zu knots; largest |dB| %.3e T; over the span total "
        "variation %.3e T, range %.3e T\n",
        c.knots.size(), shape.largest, shape.totalVariation, shape.range);
    std::printf("%10s %14s\n", "R (m)", "dB (T)");
    for (std::size_t i = 0; i < c.radii.size(); ++i)
      std::printf("%10.4f %14.6e\n", c.radii[i], c.deltaB[i]);
  }
  std::fflush(stdout);
  PrintWarnings(CorrectionWarnings(record, c));
  if (stopped) return SearchStopped(c);
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<IsochroniseOptionsCli>();
  CLI::App* app = parent.add_subcommand(
      "isochronise", "Find the change of the mean field that makes every energy revolve at Frf/H");
  AddRunSetupOptions(*app, options->setup);
  app->add_option("-o,--output", options->output, "Write the corrected map (*.sdf)");
  app->add_option("--table", options->table, "Write the correction, r_m and delta_b_t (TSV)");
  options->gainOption = app->add_option("--gain-per-turn", options->gainPerTurn,
                                        "Energy gain per turn (MeV) for the RF phase")
                            ->check(CLI::Range(1e-6, 1e6))
                            ->capture_default_str();
  app->add_flag("--json", options->json, "Print the result as JSON");
  return Command{app, [options] { return RunIsochronise(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
