// zuba-cli isochronise: the azimuthally uniform change of the mean field ΔB̄(R) that makes every
// energy of the run revolve at Frf / H, from the precise closed orbits; optionally the corrected
// map (*.sdf) and the correction table.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "calc/calculation.h"
#include "calc/isochronise.h"
#include "cli/command.h"
#include "cli/run_setup.h"
#include "platform/files.h"
#include "platform/message.h"
#include "results/hand_over.h"

namespace zuba::cli {
namespace {

struct IsochroniseOptionsCli {
  RunSetup setup;
  std::string output;  // corrected map
  std::string table;   // r_m, delta_b_t
  bool json = false;
};

std::string Digits17(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

std::string CorrectionTable(const MeanFieldCorrection& c) {
  std::string text = "r_m\tdelta_b_t\n";
  for (std::size_t i = 0; i < c.radii.size(); ++i)
    text += Digits17(c.radii[i]) + "\t" + Digits17(c.deltaB[i]) + "\n";
  return text;
}

int RunIsochronise(const IsochroniseOptionsCli& options) {
  RunParameters p;
  if (!MakeRunParameters(options.setup, p)) return kExitRefused;
  ResultsHandOver handOver;
  Calculation calculation(handOver);
  if (const Outcome prepared = calculation.Prepare(p); !prepared) return Refused(prepared);
  const CalculationRecord& record = calculation.Record();

  const Result<MeanFieldCorrection> found =
      FindIsochronousCorrection(record, PreciseOrbitCloser(record, ThreadsOf(options.setup)));
  if (!found) {
    ShowMessage(found.message());
    return kExitFailed;
  }
  const MeanFieldCorrection& c = *found;
  if (!options.table.empty()) {
    if (Outcome w = WriteFileAtomically(options.table, CorrectionTable(c)); !w) {
      ShowMessage(options.table + ": " + w.message().text, "Error");
      return kExitRefused;
    }
  }
  if (options.json) {
    nlohmann::ordered_json out;
    out["isochronism_before"] = c.isochronismBefore;
    out["isochronism_after"] = c.isochronismAfter;
    out["iterations"] = c.iterations;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < c.radii.size(); ++i)
      list.push_back({{"r_m", c.radii[i]}, {"delta_b_t", c.deltaB[i]}});
    out["correction"] = std::move(list);
    out["excluded_energies"] = c.excludedEnergiesMeV;
    std::cout << out.dump(2) << "\n";
  } else {
    std::printf("Isochronism |F0*H/Frf - 1|: worst %.3e before, %.3e after (%d iterations)\n",
                c.isochronismBefore, c.isochronismAfter, c.iterations);
    std::printf("%10s %14s\n", "R (m)", "dB (T)");
    for (std::size_t i = 0; i < c.radii.size(); ++i)
      std::printf("%10.4f %14.6e\n", c.radii[i], c.deltaB[i]);
  }
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<IsochroniseOptionsCli>();
  CLI::App* app = parent.add_subcommand(
      "isochronise", "Find the change of the mean field that makes every energy revolve at Frf/H");
  AddRunSetupOptions(*app, options->setup);
  app->add_option("-o,--output", options->output, "Write the corrected map (*.sdf)");
  app->add_option("--table", options->table, "Write the correction, r_m and delta_b_t (TSV)");
  app->add_flag("--json", options->json, "Print the result as JSON");
  return Command{app, [options] { return RunIsochronise(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
