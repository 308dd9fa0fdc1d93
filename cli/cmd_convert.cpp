// zuba-cli convert MAP [reading options] [--to sdf|polar|table|polar-mesh] [--unit Gs|T]
// [--dtheta D] -o OUT: reads a field map of any format as the calculation reads it and writes it in
// the format asked (*.sdf by default). Where the map's azimuth step has no three-decimal form
// (1/3°), --dtheta chooses the step a *.sdf map is resampled to, and the largest change the
// resampling made is printed; the other formats hold the mesh as it is.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "calc/maps/map_formats.h"
#include "calc/maps/map_writers.h"
#include "calc/maps/sdf_writer.h"
#include "cli/command.h"
#include "cli/map_reading_cli.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace zuba::cli {
namespace {

struct ConvertOptions {
  std::string map;
  MapReadingArgs reading;
  std::string to = "sdf";  // the format written
  std::string unit;        // empty: the map's own (Gs for a map in kG)
  std::optional<double> dTheta;
  std::string output;
  bool quiet = false;
};

int RunConvert(const ConvertOptions& options) {
  const MapReadingOptions reading = options.reading.Options();
  if (options.dTheta && !IsSdfAzimuthStep(*options.dTheta)) {
    throw UsageError{"--dtheta " + FormatNumber(*options.dTheta, Significant(9)) +
                     ": the step must have at most three decimals and divide 360 degrees into a "
                     "whole number of steps"};
  }
  MapWriting how;
  how.format = ParseMapFormat(options.to).value_or(MapFormat::Sdf);
  if (how.format != MapFormat::Sdf && (!options.unit.empty() || options.dTheta))
    throw UsageError{"--unit and --dtheta apply to a .sdf map; --to " + options.to +
                     " writes the mesh as it is (" + (how.format == MapFormat::Table ? "T" : "kG") +
                     ")"};
  how.sdfUnit = options.unit;
  how.sdfDTheta = options.dTheta;
  Result<FieldMap> map = ReadMap(options.map, reading);
  if (!map) return Refused(map.outcome());
  Result<MapFileText> written = WriteMapText(*map, how);
  if (!written) {
    ShowMessage(options.map + ": " + written.message().text, "Error");
    return kExitRefused;
  }
  if (Outcome saved = WriteFileAtomically(options.output, written->text); !saved) {
    ShowMessage(options.output + ": " + saved.message().text, "Error");
    return kExitRefused;
  }
  if (options.quiet) return kExitOk;
  if (!written->sdf) {
    std::printf(
        "Wrote %s: %d radii (%.6g .. %.6g m) x %d azimuths (step %.9g degree from %.9g), "
        "as a %s map\n",
        options.output.c_str(), map->nR, map->radii.front(), map->radii.back(), map->nTheta,
        360.0 / map->nTheta, Degrees(map->thetaStart), options.to.c_str());
    return kExitOk;
  }
  const SdfConversion* sdf = &*written->sdf;
  std::printf(
      "Wrote %s: %d radii (%.3f .. %.3f m, step %.3f m) x %d azimuths (step %.3f degree "
      "from %.3f), in %s\n",
      options.output.c_str(), sdf->nR, sdf->rMin, sdf->rMax, sdf->dR, sdf->nTheta, sdf->dTheta,
      sdf->thetaMin, sdf->unit.c_str());
  if (sdf->resampled)
    std::printf(
        "Resampled from %d to %d azimuths by trigonometric interpolation: largest change "
        "%.3g T (at R = %.6g m, theta = %.6g degree), then written to 1e-5 T\n",
        map->nTheta, sdf->nTheta, sdf->largestChange, sdf->changeRadius, sdf->changeAzimuth);
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<ConvertOptions>();
  CLI::App* app =
      parent.add_subcommand("convert", "Read a field map of any format and write it in another");
  app->add_option("map", options->map, kMapFileHelp)->required();
  AddMapReadingOptions(app, options->reading);
  app->add_option("--to", options->to,
                  "Format written: sdf (the default), polar (six header numbers, kG), table "
                  "(R_m theta_deg B_T) or polar-mesh (azimuths, radii in cm, kG)")
      ->check(CLI::IsMember({"sdf", "polar", "table", "polar-mesh"}))
      ->capture_default_str();
  app->add_option("--unit", options->unit,
                  "Unit of the values written: Gs or T (default: the map's own; Gs for kG)")
      ->check(CLI::IsMember({"Gs", "T"}));
  app->add_option("--dtheta", options->dTheta,
                  "Azimuth step (degree) to resample to, where the map's own step has no "
                  "three-decimal form: at most three decimals, 360/D whole");
  app->add_option("-o,--output", options->output, "The map file to write")->required();
  app->add_flag("--quiet", options->quiet, "Print nothing when the map is written");
  return Command{app, [options] { return RunConvert(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
