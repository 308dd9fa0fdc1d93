// zuba-cli machine --from DOC.zub -o FILE.json [--name NAME]: the machine file of a saved run (its
// run fields, closure, gain per turn and map as the run read it), for --machine and the desktop
// program's Mode dialog.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "calc/run/machine_file.h"
#include "calc/run/run_map.h"
#include "cli/command.h"
#include "platform/files.h"
#include "platform/message.h"
#include "results/document.h"

namespace zuba::cli {
namespace {

struct MachineOptions {
  std::string document;
  std::string output;
  std::string name;
};

int RunMachine(const MachineOptions& options) {
  const Result<DocumentLoad> load = LoadDocumentFile(options.document);
  if (!load.ok()) {
    ShowMessage(options.document + ": " + load.message().text, "Error");
    return kExitRefused;
  }
  const ResultTables& r = load->results;
  // The map where the views would find it: beside the document, else from here.
  std::string mapFound;
  const std::string folder = std::filesystem::path(options.document).parent_path().string();
  for (const std::string& candidate : RunMapCandidates(r.run.Path, folder)) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) {
      mapFound = candidate;
      break;
    }
  }
  const bool precise = r.closure.mode == 1;
  const std::string name =
      !options.name.empty() ? options.name : std::filesystem::path(options.output).stem().string();
  const Machine machine =
      MachineOfRun(name, r.run, precise ? ClosureMode::Precise : ClosureMode::Standard,
                   precise ? std::optional<double>(r.closure.gainPerTurn) : std::nullopt,
                   // a precise run's tolerance where its document keeps it
                   precise && r.closure.tolerance > 0 ? std::optional<double>(r.closure.tolerance)
                                                      : std::nullopt,
                   mapFound.empty() ? std::string() : PathRelativeToFile(mapFound, options.output),
                   r.mapReading);
  if (Outcome written = WriteFileAtomically(options.output, MachineFileText(machine)); !written) {
    ShowMessage(options.output + ": " + written.message().text, "Error");
    return kExitRefused;
  }
  if (mapFound.empty() && !r.run.Path.empty())
    std::fprintf(stderr, "%s: the run's map %s is not found; the machine file names no map\n",
                 options.output.c_str(), r.run.Path.c_str());
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<MachineOptions>();
  CLI::App* app = parent.add_subcommand(
      "machine", "Write the machine file (JSON) of a saved run for --machine");
  app->add_option("--from", options->document, "The document (*.zub) of the run")->required();
  app->add_option("-o,--output", options->output, "The machine file to write (*.json)")->required();
  app->add_option("--name", options->name,
                  "The machine's name in the Mode dialog (default: the file's name)");
  return Command{app, [options] { return RunMachine(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
