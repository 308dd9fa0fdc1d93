// The options of zuba-cli that say how a field map file is read, the same on every command that
// reads a map: --format, --replicate, --mirror, --negate, --reverse and the units of a table.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "calc/maps/map_formats.h"
#include "cli/command.h"
#include "results/map_reading.h"

namespace zuba::cli {

// The options as given on the command line.
struct MapReadingArgs {
  std::string format = "auto";
  int32_t replicate = 0;
  bool mirror = false, negate = false, reverse = false;
  std::string rUnit, thetaUnit, bUnit;
  // The options as AddMapReadingOptions added them (null: not on a command line).
  const CLI::Option *formatOption = nullptr, *replicateOption = nullptr, *mirrorOption = nullptr,
                    *negateOption = nullptr, *reverseOption = nullptr, *rUnitOption = nullptr,
                    *thetaUnitOption = nullptr, *bUnitOption = nullptr;

  // The reading options; a combination no file can satisfy (--mirror without --replicate) is a
  // usage error.
  MapReadingOptions Options() const { return Over(MapReadingOptions{}, true); }

  // The options of base (a machine file's) with those given on the command line in their place.
  MapReadingOptions Over(MapReadingOptions o, bool all = false) const {
    auto given = [all](const CLI::Option* option) {
      return all || option == nullptr || option->count() > 0;
    };
    if (given(formatOption)) o.format = ParseMapFormat(format).value_or(MapFormat::Auto);
    if (given(replicateOption)) o.replicate = replicate;
    if (given(mirrorOption)) o.mirror = mirror;
    if (given(negateOption)) o.negate = negate;
    if (given(reverseOption)) o.reverse = reverse;
    if (given(rUnitOption)) o.rUnit = ParseRadiusUnit(rUnit).value_or(RadiusUnit::None);
    if (given(thetaUnitOption)) o.thetaUnit = ParseAngleUnit(thetaUnit).value_or(AngleUnit::None);
    if (given(bUnitOption)) o.bUnit = ParseFieldUnit(bUnit).value_or(FieldUnit::None);
    if (Outcome checked = CheckMapReadingOptions(o); !checked)
      throw UsageError{checked.message().text};
    return o;
  }
};

// Adds the reading options to a command that reads a map.
inline void AddMapReadingOptions(CLI::App* app, MapReadingArgs& args) {
  const std::string group = "Map reading";
  args.formatOption =
      app->add_option(
             "--format", args.format,
             "Format of the map file: auto (by its content), sdf, polar (six header numbers, "
             "then B_z in kG), records (measured records of B_z and its derivatives), table "
             "(columns R, theta, B_z), polar-mesh (three header lines, six numbers, the "
             "azimuths, the radii, then B_z in kG)")
          ->check(CLI::IsMember({"auto", "sdf", "polar", "records", "table", "polar-mesh"}))
          ->capture_default_str()
          ->group(group);
  args.replicateOption =
      app->add_option("--replicate", args.replicate,
                      "The file holds one sector of N: complete it to the full turn")
          ->check(CLI::Range(1, kMaxReplicate))
          ->group(group);
  args.mirrorOption =
      app->add_flag("--mirror", args.mirror,
                    "The file holds half a sector (180/N degree), mirror-symmetric about its last "
                    "azimuth: complete it to one sector (with --replicate N)")
          ->group(group);
  args.negateOption =
      app->add_flag("--negate", args.negate, "Flip the sign of the field (negative ions)")
          ->group(group);
  args.reverseOption =
      app->add_flag(
             "--reverse", args.reverse,
             "Run the azimuth the other way (a map measured against the direction of motion)")
          ->group(group);
  args.rUnitOption =
      app->add_option("--r-unit", args.rUnit, "Unit of a table's radius column without a header")
          ->check(CLI::IsMember({"m", "mm"}))
          ->group(group);
  args.thetaUnitOption = app->add_option("--theta-unit", args.thetaUnit,
                                         "Unit of a table's azimuth column without a header")
                             ->check(CLI::IsMember({"deg", "rad"}))
                             ->group(group);
  args.bUnitOption =
      app->add_option("--b-unit", args.bUnit, "Unit of a table's field column without a header")
          ->check(CLI::IsMember({"T", "Gs", "kG"}))
          ->group(group);
}

// The file types the map commands read, for their help texts.
inline constexpr const char* kMapFileHelp =
    "Field map file: *.sdf, a polar map, a measured-record map or a table (see --format)";

}  // namespace zuba::cli
