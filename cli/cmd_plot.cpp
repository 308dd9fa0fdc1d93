// zuba-cli plot DOC.zub -o OUT.png|.svg|.pdf [--size WxH]
// [--kind frequency|isochronism|tunes|map|orbits|harmonics] [--compare OTHER.zub]: a graph of a
// saved document rendered offscreen, exactly what the results view draws for a client area of that
// many pixels. The map and harmonics graphs read the run's field map again (beside the document,
// then in the current folder).
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "cli/command.h"
#include "platform/message.h"

#ifdef ZUBA_HAVE_GRAPH
#include <filesystem>

#include "calc/run/run_map.h"
#include "graph/closure_plot.h"
#include "graph/plot_file.h"
#include "results/document.h"
#endif

namespace zuba::cli {
namespace {

struct PlotOptions {
  std::string document;
  std::string output;
  std::string size = "800x600";
  std::string kind = "frequency";
  std::string compare;  // a second document drawn beside the first
};

#ifdef ZUBA_HAVE_GRAPH
// "WxH" with two whole numbers; false when malformed.
bool ParseSize(const std::string& text, int& width, int& height) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != x && (text[i] < '0' || text[i] > '9')) return false;
  if (x > 9 || text.size() - x - 1 > 9) return false;  // keeps both numbers within int
  width = static_cast<int>(ParseWholeNumber(text.substr(0, x)).value_or(0));
  height = static_cast<int>(ParseWholeNumber(text.substr(x + 1)).value_or(0));
  return true;
}
#endif

int RunPlot(const PlotOptions& options) {
#ifdef ZUBA_HAVE_GRAPH
  int width = 0, height = 0;
  if (!ParseSize(options.size, width, height))
    throw UsageError{"--size must be WIDTHxHEIGHT in pixels, for example 800x600, not \"" +
                     options.size + "\""};
  if (width < 1 || height < 1 || width > kMaxPlotSide || height > kMaxPlotSide)
    throw UsageError{"--size must lie between 1x1 and " + std::to_string(kMaxPlotSide) + "x" +
                     std::to_string(kMaxPlotSide) + " pixels, not " + options.size};
  if (!IsPlotFileName(options.output))
    throw UsageError{"the output file must end in .png, .svg or .pdf: " + options.output};

  const Result<DocumentLoad> load = LoadDocumentFile(options.document);
  if (!load.ok()) {
    ShowMessage(options.document + ": " + load.message().text, "Error");
    return kExitRefused;
  }
  if (load->resultsAvailable == 0) {
    ShowMessage(options.document + " holds no results to draw (no completed calculation)", "Error");
    return kExitRefused;
  }
  std::optional<DocumentLoad> other;
  if (!options.compare.empty()) {
    Result<DocumentLoad> compared = LoadDocumentFile(options.compare);
    if (!compared) {
      ShowMessage(options.compare + ": " + compared.message().text, "Error");
      return kExitRefused;
    }
    other = std::move(*compared);
  }
  const GraphKind kind = ParseGraphKind(options.kind).value_or(GraphKind::Frequency);
  GraphExtras extras;
  extras.compare = other ? &other->results : nullptr;
  // The legends name the files.
  extras.name = std::filesystem::path(options.document).filename().string();
  extras.compareName = std::filesystem::path(options.compare).filename().string();
  if (GraphNeedsMap(kind)) {
    const std::string folder = std::filesystem::path(options.document).parent_path().string();
    RunMap map = LoadRunMap(load->results, folder);
    extras.map = std::move(map.grid);
    extras.mapNote = std::move(map.note);
    // The picture says it too; the terminal hears of a map that is not drawn.
    if (!extras.map && !extras.mapNote.empty()) ShowMessage(extras.mapNote, "Note", Icon::Warning);
  }
  const PlotWriting written =
      WriteGraphFile(load->results, kind, extras, options.output, width, height);
  for (const Message& note : written.notes) ShowMessage(note);
  if (!written.outcome) {
    // A quiet failure: the graph had nothing to draw, as its note said.
    if (!written.outcome.failure().quiet) ShowMessage(written.outcome.message().text, "Error");
    return kExitRefused;
  }
  return kExitOk;
#else
  (void)options;
  ShowMessage("this zuba-cli was built without the graph drawing (ZUBA_BUILD_GUI=OFF)", "Error");
  return kExitRefused;
#endif
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<PlotOptions>();
  CLI::App* app = parent.add_subcommand(
      "plot", "Draw a graph of a document (F0 against Rmean, ...) into a PNG, SVG or PDF file");
  app->add_option("document", options->document, "Document file (*.zub)")->required();
  app->add_option("-o,--output", options->output, "Picture file: .png, .svg or .pdf")->required();
  app->add_option("--size", options->size,
                  "Client area the graph is laid out in, WIDTHxHEIGHT pixels at 96 per inch")
      ->capture_default_str();
  app->add_option("--kind", options->kind,
                  "Graph: frequency (F0 against Rmean), isochronism (F0*H/Frf - 1 against "
                  "Rmean), tunes (nu_z against nu_r, needs a precise run), map (the field map "
                  "with the closed orbits), orbits (R - Rmean against the azimuth) or harmonics "
                  "(mean field, field index, first and N-th harmonic against the radius)")
      ->check(CLI::IsMember({"frequency", "isochronism", "tunes", "map", "orbits", "harmonics"}))
      ->capture_default_str();
  app->add_option("--compare", options->compare,
                  "A second document drawn beside the first: in red on the frequency, isochronism "
                  "and tune graphs, dashed on the orbit graph; the legend names both files");
  return Command{app, [options] { return RunPlot(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
