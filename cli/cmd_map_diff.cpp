// zuba-cli map-diff MAP_A MAP_B [reading options] [--sectors N] [--json] [-o DIFF.sdf|.tsv]: map A
// minus map B interpolated on A's mesh, per radius the change of the mean field, of the field index
// and of the first, second and N-th harmonic amplitudes, the RMS and the largest difference, and
// the difference written as a map.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "calc/maps/map_difference.h"
#include "calc/maps/map_formats.h"
#include "calc/maps/map_writers.h"
#include "cli/command.h"
#include "cli/map_reading_cli.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/message.h"
#include "platform/numbers.h"

namespace zuba::cli {
namespace {

struct MapDiffOptions {
  std::string a, b;
  MapReadingArgs reading;  // for both maps
  std::optional<int32_t> sectors;
  bool json = false;
  std::string output;
};

std::string Digits17(double value) {
  return FormatNumber(value, Significant(17));
}

std::string DifferenceJson(const MapDifference& d) {
  using Json = nlohmann::ordered_json;
  Json radii = Json::array();
  for (const RadiusDifference& r : d.radii)
    radii.push_back({{"r_m", r.r},
                     {"delta_mean_t", r.deltaMean},
                     {"delta_field_index", r.deltaFieldIndex},
                     {"delta_a1_t", r.deltaA1},
                     {"delta_a2_t", r.deltaA2},
                     {"delta_an_t", r.deltaAN}});
  Json out;
  out["sectors"] = d.sectors;
  out["radii"] = std::move(radii);
  out["rms_t"] = d.rms;
  out["max_abs_t"] = d.maxAbs;
  out["max_at"] = {{"r_m", d.maxR}, {"theta_deg", Degrees(d.maxTheta)}};
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The table of the radii, then the RMS and the largest difference on lines of their own starting
// with '#'.
std::string DifferenceTable(const MapDifference& d) {
  std::string text = "r_m\tdelta_mean_t\tdelta_field_index\tdelta_a1_t\tdelta_a2_t\tdelta_an_t\n";
  for (const RadiusDifference& r : d.radii)
    text += Digits17(r.r) + '\t' + Digits17(r.deltaMean) + '\t' + Digits17(r.deltaFieldIndex) +
            '\t' + Digits17(r.deltaA1) + '\t' + Digits17(r.deltaA2) + '\t' + Digits17(r.deltaAN) +
            '\n';
  text += "# sectors " + std::to_string(d.sectors) + " (delta_an_t is the harmonic " +
          std::to_string(d.sectors) + ")\n";
  text += "# rms_t " + Digits17(d.rms) + "\n";
  text += "# max_abs_t " + Digits17(d.maxAbs) + " at r_m " + Digits17(d.maxR) + " theta_deg " +
          Digits17(Degrees(d.maxTheta)) + "\n";
  return text;
}

int RunMapDiff(const MapDiffOptions& options) {
  const MapReadingOptions reading = options.reading.Options();
  // The difference map's format by the output's extension.
  MapWriting how;
  if (!options.output.empty()) {
    const std::string ext = std::filesystem::path(options.output).extension().string();
    if (ext == ".sdf")
      how.format = MapFormat::Sdf;
    else if (ext == ".tsv" || ext == ".txt" || ext == ".csv")
      how.format = MapFormat::Table;
    else
      throw UsageError{"-o: the difference map is written as .sdf or as a table (.tsv), not " +
                       options.output};
  }
  Result<FieldMap> a = ReadMap(options.a, reading);
  if (!a) return Refused(a.outcome());
  Result<FieldMap> b = ReadMap(options.b, reading);
  if (!b) return Refused(b.outcome());
  Result<MapDifference> d = DifferenceOfMaps(*a, *b, options.sectors);
  if (!d) {
    ShowMessage(options.a + " - " + options.b + ": " + d.message().text, "Error");
    return kExitRefused;
  }
  if (!options.output.empty()) {
    // A difference of a few gauss written to the .sdf resolution of 0.1 Gs.
    how.sdfUnit = "Gs";
    Result<MapFileText> text = WriteMapText(d->difference, how);
    if (!text) {
      ShowMessage(options.output + ": " + text.message().text, "Error");
      return kExitRefused;
    }
    if (Outcome written = WriteFileAtomically(options.output, text->text); !written) {
      ShowMessage(options.output + ": " + written.message().text, "Error");
      return kExitRefused;
    }
  }
  std::cout << (options.json ? DifferenceJson(*d) : DifferenceTable(*d)) << std::flush;
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<MapDiffOptions>();
  CLI::App* app = parent.add_subcommand(
      "map-diff",
      "Map A minus map B on A's mesh: per radius the changes of mean field, field "
      "index and harmonics, and the difference as a map");
  app->add_option("map_a", options->a, "Map A (its mesh is the difference's)")->required();
  app->add_option("map_b", options->b, "Map B, interpolated on A's mesh")->required();
  AddMapReadingOptions(app, options->reading);
  app->add_option("--sectors", options->sectors,
                  "N of the N-th harmonic (default: the number of sectors A's harmonics show)")
      ->check(CLI::Range(2, 360));
  app->add_flag("--json", options->json, "Print the result as JSON");
  app->add_option("-o,--output", options->output,
                  "Write the difference as a map: .sdf (Gs) or a table (.tsv, T)");
  return Command{app, [options] { return RunMapDiff(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
