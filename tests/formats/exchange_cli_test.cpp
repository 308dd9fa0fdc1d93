// zuba-cli convert --to and map-diff as a user runs them: every format written converts back to the
// same .sdf bytes, a mesh a format cannot hold is refused, and the difference of the proton map
// disturbed by trim coils gives back the coils' field times their currents.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace zuba::test {
namespace {

const std::string kProton = ZUBA_EXAMPLES_DIR "/tvk310-p.sdf";

class ExchangeCli : public CliTest {
 protected:
  // The coil table's field per ampere (Gs/A) at radius r (m), every coil.
  static std::vector<double> CoilsAt(double r) {
    std::istringstream table(Slurp(ZUBA_EXAMPLES_DIR "/trim-coils.tsv"));
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
      std::istringstream row(line);
      double radius = 0;
      row >> radius;
      if (std::fabs(radius - r) > 1e-9) continue;
      std::vector<double> perAmpere(5);
      for (double& g : perAmpere) row >> g;
      return perAmpere;
    }
    return {};
  }
};

TEST_F(ExchangeCli, EveryFormatWrittenConvertsBackToTheSameSdf) {
  const std::string original = Slurp(kProton);
  for (const char* format : {"polar", "table", "polar-mesh", "sdf"}) {
    SCOPED_TRACE(format);
    const std::string written = (dir_ / (std::string("map.") + format)).string();
    const std::string back = (dir_ / (std::string("back-") + format + ".sdf")).string();
    const CliRun to =
        Cli("convert " + Quote(kProton) + " --to " + format + " -o " + Quote(written) + " --quiet");
    ASSERT_EQ(to.exitCode, 0) << to.err;
    // Read by content, written as .sdf in gauss again.
    const CliRun again =
        Cli("convert " + Quote(written) + " --unit Gs -o " + Quote(back) + " --quiet");
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Slurp(back), original);
  }
  const CliRun info = Cli("map-info " + Quote((dir_ / "map.polar-mesh").string()));
  EXPECT_NE(info.out.find("Format:        polar-mesh map as given"), std::string::npos) << info.out;
}

TEST_F(ExchangeCli, RefusesWhatAFormatCannotHold) {
  const std::string table = Write("uneven.tsv",
                                  "R_m theta_deg B_T\n0.1 0 1\n0.1 180 1.1\n0.2 0 "
                                  "1.2\n0.2 180 1.3\n0.35 0 1.4\n0.35 180 1.5\n");
  const std::string out = (dir_ / "out.map").string();
  const CliRun polar = Cli("convert " + Quote(table) + " --to polar -o " + Quote(out));
  EXPECT_EQ(polar.exitCode, 2);
  EXPECT_EQ(polar.err, "Error: " + table +
                           ": a polar map holds radii at equal steps; this map's radius 2 lies at "
                           "0.2 m, not 0.225 m\n");
  EXPECT_FALSE(std::filesystem::exists(out));
  const CliRun unit = Cli("convert " + Quote(kProton) + " --to table --unit T -o " + Quote(out));
  EXPECT_EQ(unit.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(ExchangeCli, MapDiffGivesBackTheTrimCoilsField) {
  const std::string diff = (dir_ / "diff.tsv").string();
  const CliRun run = Cli("map-diff " + Quote(ZUBA_EXAMPLES_DIR "/tvk310-p-disturbed.sdf") + " " +
                         Quote(kProton) + " --json -o " + Quote(diff));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["sectors"], 4);
  ASSERT_EQ(j["radii"].size(), 71u);
  const double currents[5] = {20, -35, 15, -10, 40};  // A, examples/README.md
  double worst = 0;
  for (const auto& r : j["radii"]) {
    const std::vector<double> perAmpere = CoilsAt(r["r_m"].get<double>());
    ASSERT_EQ(perAmpere.size(), 5u) << r["r_m"];
    double expected = 0;  // Gs
    for (int k = 0; k < 5; ++k) expected += perAmpere[k] * currents[k];
    worst = std::max(worst, std::fabs(r["delta_mean_t"].get<double>() * 1e4 - expected));
    // An azimuthally uniform change: the harmonics stay within the maps' 0.1 Gs.
    EXPECT_LT(std::fabs(r["delta_a1_t"].get<double>()), 1e-5);
  }
  EXPECT_LT(worst, 0.05);  // Gs, on a change of up to 38 Gs
  EXPECT_GT(j["max_abs_t"].get<double>(), 0.003);
  EXPECT_NEAR(j["max_at"]["r_m"].get<double>(), 0.6, 1e-9);
  // The difference as a map, read as any table.
  const CliRun info = Cli("map-info " + Quote(diff) + " --json");
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(nlohmann::json::parse(info.out)["radius_nodes"], 71);

  // The table has the JSON's columns.
  const CliRun table =
      Cli("map-diff " + Quote(ZUBA_EXAMPLES_DIR "/tvk310-p-disturbed.sdf") + " " + Quote(kProton));
  EXPECT_EQ(table.out.rfind(
                "r_m\tdelta_mean_t\tdelta_field_index\tdelta_a1_t\tdelta_a2_t\tdelta_an_t\n", 0),
            0u);
}

TEST_F(ExchangeCli, MapDiffRefusesMapsThatDoNotOverlap) {
  const std::string out = (dir_ / "d.sdf").string();
  const CliRun run = Cli("map-diff " + Quote(ZUBA_EXAMPLES_DIR "/ring-590.sdf") + " " +
                         Quote(kProton) + " -o " + Quote(out));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "Error: " + std::string(ZUBA_EXAMPLES_DIR "/ring-590.sdf") + " - " + kProton +
                         ": map A's radii 1.8 .. 4.7 m leave map B's 0.05 .. 0.75 m\n");
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(Cli("map-diff " + Quote(kProton) + " " + Quote(kProton) + " -o x.png").exitCode, 1);
}

}  // namespace
}  // namespace zuba::test
