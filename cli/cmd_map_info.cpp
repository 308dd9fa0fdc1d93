// zuba-cli map-info MAP [reading options] [--json]: reads and checks a field map exactly as the
// calculation does and tells what it holds: format, unit, node counts, radius and azimuth ranges,
// field extremes.
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "calc/maps/map_formats.h"
#include "cli/command.h"
#include "cli/map_reading_cli.h"
#include "platform/numbers.h"

namespace zuba::cli {
namespace {

struct MapInfoOptions {
  std::string map;
  MapReadingArgs reading;
  bool json = false;
};

std::string FixedText(double value, int decimals) {
  return FormatNumber(value, Fixed(decimals));
}

int RunMapInfo(const MapInfoOptions& options) {
  MapReadingOptions reading = options.reading.Options();
  Result<FieldMap> map = ReadMap(options.map, reading);
  if (!map) return Refused(map.outcome());  // the reader's message
  reading.format = map->format;
  const bool sdf = map->format == MapFormat::Sdf;

  double bMin = map->field.front(), bMax = map->field.front();  // T
  for (double b : map->field) {
    if (b < bMin) bMin = b;
    if (b > bMax) bMax = b;
  }
  // The radius step as the header gave it (the table is a running sum of it); of the other
  // formats the step of equally spaced radii as they are.
  bool hasStep = map->nR > 1;
  double dR = hasStep ? std::round((map->radii[1] - map->radii[0]) * 1000) * 0.001 : 0;
  if (!sdf && hasStep) {
    // To twelve digits: the step of the file, without the rounding of the subtraction.
    dR = *ParseNumber(
        FormatNumber((map->radii.back() - map->radii.front()) / (map->nR - 1), Significant(12)));
    for (int32_t i = 1; i < map->nR; ++i)
      if (std::fabs(map->radii[i] - map->radii.front() - i * dR) > 1e-6 * dR) hasStep = false;
  }

  if (options.json) {
    nlohmann::json out = {
        {"unit", map->unit},
        {"radius_nodes", map->nR},
        {"azimuth_nodes", map->nTheta},
        {"r_min_m", map->radii.front()},
        {"r_max_m", map->radii.back()},
        {"dr_m", hasStep ? nlohmann::json(dR) : nlohmann::json(nullptr)},
        {"theta_start_rad", map->thetaStart},
        {"theta_end_rad", map->thetaEnd},
        {"b_min_t", bMin},
        {"b_max_t", bMax},
        {"format", MapFormatName(map->format)},
    };
    std::cout << out.dump(2) << "\n";
    return kExitOk;
  }
  const std::string step = FormatNumber(dR, Significant(9));
  std::cout << "Map:           " << options.map << "\n";
  if (!sdf) std::cout << "Format:        " << DescribeMapReading(reading) << "\n";
  std::cout << "Unit:          " << map->unit << "\n"
            << "Radius nodes:  " << map->nR << " (" << FixedText(map->radii.front(), 3) << " .. "
            << FixedText(map->radii.back(), 3) << " m"
            << (hasStep ? ", step " + (sdf ? FixedText(dR, 3) : step) + " m" : std::string())
            << ")\n"
            << "Azimuth nodes: " << map->nTheta << " (" << FixedText(map->thetaStart, 6) << " .. "
            << FixedText(map->thetaEnd, 6) << " rad, step "
            << FixedText((map->thetaEnd - map->thetaStart) / map->nTheta, 6) << " rad)\n"
            << "Field:         " << FixedText(bMin, 5) << " .. " << FixedText(bMax, 5) << " T\n";
  if (map->closingDifference >= 0)
    std::cout << "Closing column: dropped; it differs from the first by at most "
              << FixedText(map->closingDifference, 6) << " T\n";
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<MapInfoOptions>();
  CLI::App* app = parent.add_subcommand(
      "map-info", "Read and check a field map as the calculation does, and tell what it holds");
  app->add_option("map", options->map, kMapFileHelp)->required();
  AddMapReadingOptions(app, options->reading);
  app->add_flag("--json", options->json,
                "JSON output: unit, radius_nodes, azimuth_nodes, r_min_m, r_max_m, dr_m, "
                "theta_start_rad, theta_end_rad, b_min_t, b_max_t, format");
  return Command{app, [options] { return RunMapInfo(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
