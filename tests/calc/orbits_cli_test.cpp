// zuba-cli orbits and run --orbits as a user runs them: the table and the JSON of a saved run, the
// same file from the run itself, and the refusals (exit 2, one line, nothing written).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace zuba::test {
namespace {

// Three energies of the proton example with the precise closure.
const std::string kRun = "run --map " + std::string(ZUBA_EXAMPLES_DIR "/tvk310-p.sdf") +
                         " --set EkBegin=10 --set EkEnd=50 --set dEk=20 --closure precise "
                         "--threads 2 --quiet";

class OrbitsCli : public CliTest {};

TEST_F(OrbitsCli, WritesTheTableOfASavedRunAndTheSameFromTheRun) {
  const std::string doc = (dir_ / "p.zub").string(), fromRun = (dir_ / "run.tsv").string();
  const CliRun run = Cli(kRun + " --save " + Quote(doc) + " --orbits " + Quote(fromRun) +
                         " --orbits-theta 30 --orbits-grid 120");
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const CliRun table = Cli("orbits " + Quote(doc) + " --theta 30 --grid 120");
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_EQ(table.out, Slurp(fromRun));
  // A header and three azimuths of each of the three energies.
  EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 10);
  EXPECT_EQ(table.out.rfind(
                "Ek_MeV\ttheta_deg\tR_m\tpr_bg\tu\tRmean_m\txc_m\tyc_m\tstatus\n10\t0\t0.2", 0),
            0u)
      << table.out;

  const CliRun json = Cli("orbits " + Quote(doc) + " --theta 30 --grid 120 --json");
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const nlohmann::json j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["theta_deg"], 30.0);
  ASSERT_EQ(j["energies"].size(), 3u);
  const nlohmann::json& e = j["energies"][1];
  EXPECT_NEAR(e["Ek_MeV"].get<double>(), 30.0, 1e-12);
  EXPECT_EQ(e["status"], "closed");
  for (const char* key : {"R_m", "pr_bg", "u", "Rmean_m", "xc_m", "yc_m"})
    EXPECT_TRUE(e[key].is_number()) << key;
  ASSERT_EQ(e["orbit"]["theta_deg"].size(), 3u);
  EXPECT_EQ(e["orbit"]["theta_deg"][2], 240.0);
  ASSERT_EQ(e["orbit"]["R_m"].size(), 3u);
  // The grid of a four-sector machine repeats every 90 degrees; 30 degrees is off it.
  EXPECT_NE(e["R_m"], e["orbit"]["R_m"][0]);

  // Into a file instead of stdout.
  const std::string out = (dir_ / "o.tsv").string();
  const CliRun written = Cli("orbits " + Quote(doc) + " --theta 30 --grid 120 -o " + Quote(out));
  ASSERT_EQ(written.exitCode, 0) << written.err;
  EXPECT_TRUE(written.out.empty());
  EXPECT_EQ(Slurp(out), table.out);
}

TEST_F(OrbitsCli, RefusesWithOneLineAndWritesNothing) {
  const std::string doc = (dir_ / "p.zub").string();
  ASSERT_EQ(Cli(kRun + " --save " + Quote(doc)).exitCode, 0);
  // A precise run above the map's energies closes nothing; its document is written all the same.
  const std::string none = (dir_ / "none.zub").string();
  ASSERT_EQ(Cli("run --map " + std::string(ZUBA_EXAMPLES_DIR "/tvk310-p.sdf") +
                " --set EkBegin=200 --set EkEnd=201 --set dEk=1 --closure precise --quiet --save " +
                Quote(none))
                .exitCode,
            3);
  const std::string out = (dir_ / "o.tsv").string();
  struct Case {
    std::string arguments, message;
  };
  const Case cases[] = {
      {Quote(doc) + " --theta 360", "Error: --theta 360: the azimuth must lie in [0, 360) degrees"},
      {Quote(doc) + " --grid 7",
       "Error: --grid 7: the step must be positive and divide 360 degrees into a whole number of "
       "steps"},
      {Quote(none),
       "Error: " + none + ": the record holds no closed orbit: no energy has one to export"},
      {Quote((dir_ / "missing.zub").string()), "Error: " + (dir_ / "missing.zub").string() + ": "},
      {Quote(doc) + " -o " + Quote((dir_ / "no-such-folder" / "o.tsv").string()),
       "Error: " + (dir_ / "no-such-folder" / "o.tsv").string() + ": "},
  };
  for (const Case& c : cases) {
    const CliRun refused =
        Cli("orbits " + c.arguments +
            (c.arguments.find(" -o ") == std::string::npos ? " -o " + Quote(out) : ""));
    EXPECT_EQ(refused.exitCode, 2) << c.arguments;
    EXPECT_EQ(refused.err.rfind(c.message, 0), 0u) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.arguments;
  }
  // The run refuses the request before it computes anything.
  const CliRun run = Cli(kRun + " --orbits " + Quote(out) + " --orbits-grid 0");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(out));
}

// A precise run keeps its samples on the map's 2-degree grid: its orbits are followed in the map
// beside the document; where the map is gone they are interpolated, near the followed ones, and
// the command says so (and, where the samples tell, how far from 1 um and 1e-7 that is).
TEST_F(OrbitsCli, FollowsAPreciseRunInItsMapAndSaysWhenItIsGone) {
  const std::filesystem::path map = dir_ / "p.sdf";
  std::filesystem::copy_file(ZUBA_EXAMPLES_DIR "/tvk310-p.sdf", map);
  const std::string doc = (dir_ / "p.zub").string();
  ASSERT_EQ(Cli("run --map " + Quote(map.string()) +
                " --set EkBegin=10 --set EkEnd=50 --set dEk=20 --closure precise --quiet --save " +
                Quote(doc))
                .exitCode,
            0);
  const CliRun followed = Cli("orbits " + Quote(doc) + " --theta 17");
  ASSERT_EQ(followed.exitCode, 0) << followed.err;
  EXPECT_EQ(followed.err, "");
  std::filesystem::remove(map);
  const CliRun interpolated = Cli("orbits " + Quote(doc) + " --theta 17");
  ASSERT_EQ(interpolated.exitCode, 0) << interpolated.err;
  EXPECT_EQ(interpolated.err.rfind("Note: The orbits are interpolated between their samples: the "
                                   "field map " +
                                       map.string() + " is gone\n",
                                   0),
            0u)
      << interpolated.err;
  // The R column of the three energies: within 1 um of each other.
  auto radii = [](const std::string& table) {
    std::vector<double> R;
    for (size_t at = table.find('\n'); at + 1 < table.size(); at = table.find('\n', at + 1)) {
      const size_t tab = table.find('\t', table.find('\t', at + 1) + 1);
      R.push_back(std::stod(table.substr(tab + 1)));
    }
    return R;
  };
  const std::vector<double> a = radii(followed.out), b = radii(interpolated.out);
  ASSERT_EQ(a.size(), 3u);
  ASSERT_EQ(b.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], 1e-6);
  EXPECT_NE(followed.out, interpolated.out);
}

}  // namespace
}  // namespace zuba::test
