// zuba-cli map-info and synth-map, run as the real program.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using zuba::test::CliRun;
using zuba::test::CliTest;

TEST_F(CliTest, MapInfoRefusesABadMapWithTheReadersMessage) {
  // The *.sdf reader's texts stay as they are, with the file named in front.
  const std::string bad = Write("bad.sdf", "Tesla 0.1 0.3 0.1 0 360 90 1 2 3");
  CliRun unit = Cli("map-info '" + bad + "'");
  EXPECT_EQ(unit.exitCode, 2);
  EXPECT_EQ(unit.err, "Error: " + bad + ": Field Map Unit Error!\n");
  EXPECT_EQ(unit.out, "");
  const std::string none = (dir_ / "none.sdf").string();
  CliRun missing = Cli("map-info --json '" + none + "'");
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.err, "Error: " + none + ": Can not Open File!\n");
  CliRun directory = Cli("map-info '" + dir_.string() + "'");
  EXPECT_EQ(directory.exitCode, 2);
  EXPECT_EQ(directory.err, "Error: " + dir_.string() + ": Can not Open File!\n");
  const std::string emptyFile = Write("empty.sdf", "");
  CliRun empty = Cli("map-info '" + emptyFile + "'");
  EXPECT_EQ(empty.exitCode, 2);
  EXPECT_EQ(empty.err, "Error: " + emptyFile + ": The file is empty!\n");
  const std::string garbageFile = Write("garbage.sdf", std::string("Gs \x01\xff\0\x7f", 7));
  CliRun garbage = Cli("map-info '" + garbageFile + "'");
  EXPECT_EQ(garbage.exitCode, 2);
  EXPECT_EQ(garbage.err, "Error: " + garbageFile + ": Field map header error!\n");
}

TEST_F(CliTest, MapInfoJsonDescribesTheExampleMap) {
  CliRun run = Cli(std::string("map-info --json '") + ZUBA_EXAMPLES_DIR + "/tvk310-p.sdf'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json info = nlohmann::json::parse(run.out);
  std::vector<std::string> keys;
  for (auto it = info.begin(); it != info.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"azimuth_nodes", "b_max_t", "b_min_t", "dr_m", "format",
                                            "r_max_m", "r_min_m", "radius_nodes", "theta_end_rad",
                                            "theta_start_rad", "unit"}));
  EXPECT_EQ(info["format"], "sdf");
  EXPECT_EQ(info["unit"], "Gs");
  EXPECT_EQ(info["radius_nodes"], 71);
  EXPECT_EQ(info["azimuth_nodes"], 180);
  EXPECT_NEAR(info["r_min_m"].get<double>(), 0.05, 1e-12);
  EXPECT_NEAR(info["r_max_m"].get<double>(), 0.75, 1e-12);
  EXPECT_NEAR(info["dr_m"].get<double>(), 0.01, 1e-15);
  EXPECT_EQ(info["theta_start_rad"].get<double>(), 0.0);
  EXPECT_NEAR(info["theta_end_rad"].get<double>(), 8 * std::atan(1.0), 1e-15);
  EXPECT_GT(info["b_min_t"].get<double>(), 0.5);
  EXPECT_LT(info["b_max_t"].get<double>(), 3.0);
  EXPECT_GT(info["b_max_t"].get<double>(), info["b_min_t"].get<double>() * 1.5);  // hills, valleys
}

TEST_F(CliTest, SynthMapWritesAMapThatMapInfoReads) {
  const std::string map = (dir_ / "uniform.sdf").string();
  CliRun made =
      Cli("synth-map --uniform 1.5 --flutter 0 --unit T --r-min 0.1 --r-max 0.3 --dr 0.1 "
          "--dtheta 90 --negative --quiet -o '" +
          map + "'");
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(made.out, "");
  CliRun info = Cli("map-info --json '" + map + "'");
  ASSERT_EQ(info.exitCode, 0) << info.err;
  const nlohmann::json j = nlohmann::json::parse(info.out);
  EXPECT_EQ(j["unit"], "T");
  EXPECT_EQ(j["radius_nodes"], 3);
  EXPECT_EQ(j["azimuth_nodes"], 4);
  EXPECT_DOUBLE_EQ(j["b_min_t"].get<double>(), -1.5);  // a negative ion gets a negative field
  EXPECT_DOUBLE_EQ(j["b_max_t"].get<double>(), -1.5);
  CliRun text = Cli("map-info '" + map + "'");
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("Radius nodes:  3 (0.100 .. 0.300 m, step 0.100 m)"), std::string::npos)
      << text.out;
}

TEST_F(CliTest, SynthMapRefusesAnUnknownModeAndAnImpossibleMesh) {
  CliRun mode = Cli("synth-map --mode 'TVK-310' -o '" + (dir_ / "x.sdf").string() + "'");
  EXPECT_EQ(mode.exitCode, 1);
  EXPECT_NE(mode.err.find("TVK-310"), std::string::npos);
  CliRun mesh = Cli("synth-map --r-max 2 -o '" + (dir_ / "x.sdf").string() + "'");
  EXPECT_EQ(mesh.exitCode, 1);
  EXPECT_NE(mesh.err.find("R_inf"), std::string::npos) << mesh.err;
  EXPECT_FALSE(fs::exists(dir_ / "x.sdf"));
}

TEST_F(CliTest, SynthMapTakesHillsInsteadOfTheSinusoidalFlutter) {
  const std::string out = " -o '" + (dir_ / "hills.sdf").string() + "'";
  const std::string mesh =
      " --r-min 0.3 --r-max 0.6 --dr 0.1 --dtheta 5 --uniform 1 --flutter-radius 0.02";
  for (const char* conflict : {"--hill-fraction 0.5 --flutter 0.3", "--valley-field 0.1",
                               "--edge-width 0.05", "--hill-fraction 1.5"}) {
    CliRun refused = Cli(std::string("synth-map ") + conflict + mesh + out);
    EXPECT_EQ(refused.exitCode, 1) << conflict;
    EXPECT_FALSE(fs::exists(dir_ / "hills.sdf")) << conflict;
  }
  CliRun made =
      Cli("synth-map --hill-fraction 0.5 --valley-field 0.25 --edge-width 0.02" + mesh + out);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_NE(made.out.find("Hills at r-max: field "), std::string::npos) << made.out;
  const nlohmann::json j =
      nlohmann::json::parse(Cli("map-info --json '" + (dir_ / "hills.sdf").string() + "'").out);
  // A uniform mean field of 1 T: valleys at a quarter of the hill field, 1/(0.25 + 0.75 · 0.5) T.
  EXPECT_NEAR(j["b_max_t"].get<double>(), 1 / 0.625, 1e-5);
  EXPECT_NEAR(j["b_min_t"].get<double>(), 0.25 / 0.625, 1e-5);
}

}  // namespace
