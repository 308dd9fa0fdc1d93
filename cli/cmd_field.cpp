// zuba-cli field MAP R THETA [reading options]: the median-plane field B (T) of a map at radius R
// (m) and azimuth THETA (rad), interpolated exactly as the orbit search does, printed with 17
// significant digits. A radius below the map's first radius is refused.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "calc/maps/map_formats.h"
#include "cli/command.h"
#include "cli/map_reading_cli.h"
#include "numerics/field_interpolation.h"
#include "platform/numbers.h"

namespace zuba::cli {
namespace {

struct FieldOptions {
  std::string mapPath;
  MapReadingArgs reading;
  double R = 0;      // m
  double theta = 0;  // rad
};

Command SetupField(CLI::App& parent) {
  auto options = std::make_shared<FieldOptions>();
  CLI::App* app = parent.add_subcommand(
      "field", "Print the field B (T) of a map at radius R (m) and azimuth THETA (rad)");
  app->add_option("MAP", options->mapPath, kMapFileHelp)->required();
  app->add_option("R", options->R, "Radius (m)")->required();
  app->add_option("THETA", options->theta, "Azimuth (rad)")->required();
  AddMapReadingOptions(app, options->reading);
  return {app, [options]() -> int {
            Result<FieldMap> map = ReadMap(options->mapPath, options->reading.Options());
            if (!map) return Refused(map.outcome());
            // Below the first radius node the interpolation would extrapolate the radial
            // parabola: the map does not know the field there, and the closures refuse it too. (A
            // negative radius keeps the evaluation's own refusal.)
            if (options->R >= 0 && options->R < map->radii.front()) {
              auto metres = [](double R) { return FormatNumber(R, Significant(6)); };
              return Refused(ErrorFailure(options->mapPath + ": R = " + metres(options->R) +
                                              " m lies below the map, whose radii run from " +
                                              metres(map->radii.front()) + " to " +
                                              metres(map->radii.back()) + " m",
                                          "R", options->R, map->radii.front(), map->radii.back()));
            }
            // Radial moments of every azimuth column, prepared once as a calculation run does.
            std::vector<double> h;
            if (Outcome o = RadialMoments(map->field, map->radii, map->nTheta, h, map->moments); !o)
              return Refused(o);
            double B = 0;  // T
            if (Outcome o = InterpolateField(options->R, options->theta, h, map->radii,
                                             map->azimuths, map->field, map->moments, B);
                !o)
              return Refused(o);
            std::printf("%.17g\n", B);
            return kExitOk;
          }};
}

ZUBA_CLI_COMMAND(SetupField);

}  // namespace
}  // namespace zuba::cli
