// zuba-cli harmonics MAP --sectors N [reading options] [--json]: per radius node of a map, the mean
// field, the field index, amplitude and phase of every analysed harmonic, the harmonic ratio ε of
// the N-th harmonic, its phase ψ and the radius correction v, as a calculation run computes them.
// Lets an engineer inspect the flutter, spiral and imperfection harmonics of a map before running
// orbits.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "calc/maps/map_formats.h"
#include "cli/command.h"
#include "cli/map_reading_cli.h"
#include "numerics/average_field.h"
#include "numerics/azimuthal.h"

namespace zuba::cli {
namespace {

struct HarmonicsOptions {
  std::string mapPath;
  MapReadingArgs reading;
  int32_t sectors = 0;
  bool json = false;
};

// JSON has no infinities or NaNs: such a value is written as null.
nlohmann::ordered_json Number(double value) {
  return std::isfinite(value) ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr);
}

void PrintJson(const FieldMap& map, int32_t N, const AverageFieldAnalysis& a) {
  const int32_t count = HarmonicCount(N);
  nlohmann::ordered_json radii = nlohmann::ordered_json::array();
  for (int32_t i = 0; i < map.nR; ++i) {
    nlohmann::ordered_json harmonics = nlohmann::ordered_json::array();
    for (int32_t p = 0; p < count; ++p) {
      harmonics.push_back({{"n", HarmonicNumber(N, p)},
                           {"amplitude_t", Number(a.amplitude[i * count + p])},
                           {"phase_rad", Number(a.phase[i * count + p])}});
    }
    radii.push_back({{"r_m", Number(map.radii[i])},
                     {"mean_field_t", Number(a.meanField[i])},
                     {"field_index", Number(a.fieldIndex[i])},
                     {"harmonics", std::move(harmonics)},
                     {"epsilon", Number(a.epsilon[i])},
                     {"psi_rad", Number(a.psi[i])},
                     {"v", Number(a.v[i])}});
  }
  nlohmann::ordered_json doc = {{"sectors", N}, {"radii", std::move(radii)}};
  std::cout << doc.dump(2) << "\n";
}

// One tab-separated line per radius node under a header naming every column.
void PrintTable(const FieldMap& map, int32_t N, const AverageFieldAnalysis& a) {
  const int32_t count = HarmonicCount(N);
  std::string header = "R_m\tmean_field_T\tfield_index";
  for (int32_t p = 0; p < count; ++p) {
    const std::string n = std::to_string(HarmonicNumber(N, p));
    header.append("\tA").append(n).append("_T\tphase").append(n).append("_rad");
  }
  header += "\tepsilon\tpsi_rad\tv";
  std::printf("%s\n", header.c_str());
  for (int32_t i = 0; i < map.nR; ++i) {
    std::printf("%.17g\t%.17g\t%.17g", map.radii[i], a.meanField[i], a.fieldIndex[i]);
    for (int32_t p = 0; p < count; ++p)
      std::printf("\t%.17g\t%.17g", a.amplitude[i * count + p], a.phase[i * count + p]);
    std::printf("\t%.17g\t%.17g\t%.17g\n", a.epsilon[i], a.psi[i], a.v[i]);
  }
}

Command SetupHarmonics(CLI::App& parent) {
  auto options = std::make_shared<HarmonicsOptions>();
  CLI::App* app = parent.add_subcommand(
      "harmonics",
      "Print per radius node the mean field, field index, field harmonics, epsilon, psi and v");
  app->add_option("MAP", options->mapPath, kMapFileHelp)->required();
  app->add_option("--sectors", options->sectors, "Number of sectors N of the machine (>= 2)")
      ->required();
  app->add_flag("--json", options->json, "Write JSON instead of a tab-separated table");
  AddMapReadingOptions(app, options->reading);
  return {app, [options]() -> int {
            const int32_t N = options->sectors;
            if (N < 2)
              throw UsageError{"--sectors: the number of sectors must be at least 2, not " +
                               std::to_string(N)};
            Result<FieldMap> map = ReadMap(options->mapPath, options->reading.Options());
            if (!map) return Refused(map.outcome());
            // The turn description of a run: the first table azimuth and one turn later.
            AverageFieldAnalysis analysis;
            if (Outcome o = AnalyseAverageField(map->field, map->radii, N, map->thetaStart,
                                                map->thetaEnd, map->nTheta, analysis);
                !o)
              return Refused(o);
            if (options->json)
              PrintJson(*map, N, analysis);
            else
              PrintTable(*map, N, analysis);
            return kExitOk;
          }};
}

ZUBA_CLI_COMMAND(SetupHarmonics);

}  // namespace
}  // namespace zuba::cli
