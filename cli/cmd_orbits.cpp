// zuba-cli orbits DOC.zub [--theta DEG] [--grid DEG] [--json] [-o OUT.tsv]: the closed orbits of a
// saved run at one azimuth (and on a grid of azimuths) for tracking codes: R, p_R / (m0 c), u,
// the mean radius and the centre of every energy's orbit.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "calc/orbits/precise_orbit.h"
#include "cli/command.h"
#include "cli/orbits_output.h"
#include "platform/message.h"
#include "results/document.h"

namespace zuba::cli {
namespace {

struct OrbitsOptions {
  std::string document;
  OrbitRequest request;
  bool json = false;
  std::string output;
};

int RunOrbits(const OrbitsOptions& options) {
  if (Outcome checked = CheckOrbitRequest(options.request); !checked) return Refused(checked);
  const Result<DocumentLoad> load = LoadDocumentFile(options.document);
  if (!load.ok()) {
    ShowMessage(options.document + ": " + load.message().text, "Error");
    return kExitRefused;
  }
  // A precise run's orbits are followed in the run's field from their samples where its map is
  // at hand.
  std::optional<RunOrbitField> field;
  std::string fieldNote;
  if (load->results.closure.mode == static_cast<int32_t>(ClosureMode::Precise)) {
    const std::string folder = std::filesystem::path(options.document).parent_path().string();
    Result<RunOrbitField> made = RunOrbitFieldOf(load->results, folder);
    if (made)
      field = std::move(*made);
    else
      fieldNote = "The orbits are interpolated between their samples: " + made.message().text;
  }
  return WriteOrbits(load->results, options.request, options.json, options.output, options.document,
                     field ? &*field : nullptr, fieldNote);
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<OrbitsOptions>();
  CLI::App* app = parent.add_subcommand(
      "orbits", "The closed orbits of a document at an azimuth, for tracking codes");
  app->add_option("document", options->document, "The document (*.zub)")->required();
  AddOrbitRequestOptions(*app, "--", options->request);
  app->add_flag("--json", options->json, "JSON instead of the tab-separated table");
  app->add_option("-o,--output", options->output,
                  "Write the table (or the JSON) into this file instead of stdout");
  return Command{app, [options] { return RunOrbits(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
