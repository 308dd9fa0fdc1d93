// zuba-cli isochronise and trim-fit as a user runs them: a corrected map that an ordinary precise
// run finds isochronous, currents within their limits, the exit codes of refusals and of a run in
// which no energy closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/cli_harness.h"

namespace zuba::test {
namespace {

// The proton example's magnet made without the flutter correction of its mean field: isochronous
// only on average over its hills, about 6e-3 off at the top energy.
const std::string kSynthUncorrected =
    "synth-map --mode 'TVK-310: p' --unit Gs --r-min 0.05 --r-max 0.75 --dr 0.01 --theta-min 0 "
    "--theta-max 360 --dtheta 2 --flutter 0.4 --flutter-radius 0.15 --spiral 25 "
    "--no-flutter-correction -o ";
// Six energies over the machine: enough to shape the correction, quick to close.
const std::string kFewEnergies = " --set EkBegin=5 --set EkEnd=55 --set dEk=10 --threads 2";

class CorrectionCli : public CliTest {};

TEST_F(CorrectionCli, IsochroniseWritesAMapThatAPreciseRunFindsIsochronous) {
  const std::string map = (dir_ / "raw.sdf").string(), out = (dir_ / "fixed.sdf").string();
  const std::string table = (dir_ / "correction.tsv").string();
  ASSERT_EQ(Cli(kSynthUncorrected + Quote(map)).exitCode, 0);

  const CliRun iso = Cli("isochronise --map " + Quote(map) + kFewEnergies + " -o " + Quote(out) +
                         " --table " + Quote(table) + " --json");
  ASSERT_EQ(iso.exitCode, 0) << iso.err;
  const nlohmann::json j = nlohmann::json::parse(iso.out);
  EXPECT_GT(j["isochronism_before"].get<double>(), 1e-3);
  EXPECT_LT(j["isochronism_after"].get<double>(), 2e-7);
  // Written to 1e-5 T on a field of 1.7 T: a few parts in a million at worst.
  EXPECT_LT(j["isochronism_after_written"].get<double>(), 6e-6);
  EXPECT_TRUE(j["excluded_energies"].empty());
  ASSERT_EQ(j["correction"].size(), 71u);
  EXPECT_GT(j["iterations"].get<int>(), 0);

  const std::string tsv = Slurp(table);
  EXPECT_EQ(tsv.rfind("r_m\tdelta_b_t\n", 0), 0u);
  EXPECT_EQ(std::count(tsv.begin(), tsv.end(), '\n'), 72);

  // An ordinary precise run on the written map, not the search's own figures.
  const CliRun run = Cli("run --map " + Quote(out) + kFewEnergies + " --closure precise --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json r = nlohmann::json::parse(run.out);
  ASSERT_EQ(r["energies"].size(), 6u);
  for (const auto& e : r["energies"]) {
    ASSERT_EQ(e["status"], "closed");
    EXPECT_LT(std::fabs(e["isochronism"].get<double>()), 6e-6) << e["Ek_MeV"];
  }
}

TEST_F(CorrectionCli, TrimFitKeepsEveryCurrentWithinItsLimit) {
  const CliRun fit = Cli("trim-fit --map " + Quote(ZUBA_EXAMPLES_DIR "/tvk310-p-disturbed.sdf") +
                         " --coils " + Quote(ZUBA_EXAMPLES_DIR "/trim-coils.tsv") + kFewEnergies +
                         " --limit 30 --limit T5=12 --json");
  ASSERT_EQ(fit.exitCode, 0) << fit.err;
  const nlohmann::json j = nlohmann::json::parse(fit.out);
  ASSERT_EQ(j["currents"].size(), 5u);
  for (const auto& c : j["currents"]) {
    const double limit = c["name"] == "T5" ? 12 : 30;
    EXPECT_LE(std::fabs(c["current_A"].get<double>()), limit * (1 + 1e-12)) << c["name"];
  }
  // The disturbance needs -40 A in T5 and 35 A in T2: both end at their limits.
  EXPECT_NE(std::find(j["at_limit"].begin(), j["at_limit"].end(), "T5"), j["at_limit"].end());
  EXPECT_NE(std::find(j["at_limit"].begin(), j["at_limit"].end(), "T2"), j["at_limit"].end());
  EXPECT_LT(j["isochronism_after"].get<double>(), j["isochronism_before"].get<double>());
  EXPECT_GT(j["condition_number"].get<double>(), 1);
}

TEST_F(CorrectionCli, RefusalsAndRunsWithoutAClosedOrbitGiveTheirExitCodes) {
  const std::string coils = ZUBA_EXAMPLES_DIR "/trim-coils.tsv";
  const std::string map = ZUBA_EXAMPLES_DIR "/tvk310-p.sdf";
  const std::string twice = Write("twice.tsv", "r_m,A,A\n0.1,1,1\n0.2,2,1\n0.3,1,3\n0.4,1,1\n");
  // 120 to 130 MeV protons need radii beyond the map's 0.75 m.
  const std::string beyond = " --set EkBegin=120 --set EkEnd=130 --set dEk=5";
  const struct {
    std::string arguments;
    int exitCode;
    const char* said;  // on stderr
  } cases[] = {
      {"trim-fit --map " + Quote(map) + " --coils " + Quote(twice), 2, "coil A is named twice"},
      {"trim-fit --map " + Quote(map) + " --coils " + Quote(coils) + " --limit T9=3", 1,
       "no coil named \"T9\""},
      {"trim-fit --map " + Quote(map) + " --coils " + Quote(coils) + " --limit -3", 1,
       "is not a current"},
      {"isochronise --map " + Quote(Write("bad.sdf", "not a map\n")), 2, ""},
      {"isochronise --map " + Quote(map) + beyond, 3, "No energy of the run has a closed orbit"},
      {"trim-fit --map " + Quote(map) + " --coils " + Quote(coils) + beyond, 3,
       "No energy of the run has a closed orbit"},
  };
  for (const auto& c : cases) {
    const CliRun run = Cli(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << c.arguments << "\n" << run.err;
  }
}

TEST_F(CorrectionCli, TrimFitLeavesOutWeighsSavesTheCurrentsAndSaysHowItEnded) {
  const std::string currents = (dir_ / "currents.tsv").string();
  const std::string fitArgs = "trim-fit --map " +
                              Quote(ZUBA_EXAMPLES_DIR "/tvk310-p-disturbed.sdf") + " --coils " +
                              Quote(ZUBA_EXAMPLES_DIR "/trim-coils.tsv") + kFewEnergies;
  const CliRun fit = Cli(fitArgs + " --exclude-energy 4:6 --weight 30:60=2 --currents-out " +
                         Quote(currents) + " --json");
  ASSERT_EQ(fit.exitCode, 0) << fit.err;
  const nlohmann::json j = nlohmann::json::parse(fit.out);
  EXPECT_EQ(j["excluded_energies"], nlohmann::json::array({5.0}));
  ASSERT_EQ(j["residuals"].size(), 6u);
  EXPECT_EQ(j["residuals"][0]["excluded"], true);
  EXPECT_EQ(j["residuals"][1]["excluded"], false);
  EXPECT_DOUBLE_EQ(j["residuals"][1]["Ek_MeV"].get<double>(), 15);
  EXPECT_EQ(j["target"], 2e-7);
  // Over these five energies the coils reach the target; the 5 MeV left out is not made
  // isochronous, and the RF phase, which runs through it, grows: said as it is.
  EXPECT_LT(j["isochronism_after"].get<double>(), 2e-7);
  EXPECT_EQ(j["converged"], true);
  EXPECT_EQ(j["termination"], "converged");
  EXPECT_EQ(fit.err.find("was not reached"), std::string::npos) << fit.err;
  ASSERT_GT(j["phase_deg_after"].get<double>(), j["phase_deg_before"].get<double>());
  char grew[96];
  std::snprintf(grew, sizeof grew, "Warning: the RF phase slip grew from %.0f to %.0f deg\n",
                j["phase_deg_before"].get<double>(), j["phase_deg_after"].get<double>());
  EXPECT_NE(fit.err.find(grew), std::string::npos) << fit.err;
  // The currents file is the coil table again, with the currents of the JSON.
  const std::string saved = Slurp(currents);
  const std::size_t row = saved.find("current_A\t");
  ASSERT_NE(row, std::string::npos) << saved;
  EXPECT_NE(saved.find(j["currents"][1]["current_A"].dump().substr(0, 8), row), std::string::npos)
      << saved;
  // The plain text gives the currents to the milliampere.
  const CliRun text = Cli(fitArgs + " --exclude-energy 4:6 --weight 30:60=2");
  ASSERT_EQ(text.exitCode, 0) << text.err;
  char line[64];
  std::snprintf(line, sizeof line, "%-16s %14.3f\n", "T2",
                j["currents"][1]["current_A"].get<double>());
  EXPECT_NE(text.out.find(line), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("1 energies are left out by --exclude-energy"), std::string::npos);
}

TEST_F(CorrectionCli, TrimFitRefusesEnergiesAndFilesItCannotUseWritingNothing) {
  const std::string out = (dir_ / "trimmed.sdf").string();
  const std::string fitArgs =
      "trim-fit --map " + Quote(ZUBA_EXAMPLES_DIR "/tvk310-p-disturbed.sdf") + " --coils " +
      Quote(ZUBA_EXAMPLES_DIR "/trim-coils.tsv") + kFewEnergies + " -o " + Quote(out);
  const struct {
    std::string arguments;
    int exitCode;
    const char* said;
  } cases[] = {
      {" --exclude-energy 0:100", 2, "leave no energy of the run"},
      {" --weight 10:20=0", 2, "is not a number above 0"},
      {" --weight 10:20=-1", 2, "is not a number above 0"},
      {" --currents-out " + Quote((dir_ / "no-folder" / "c.tsv").string()), 2, "c.tsv: "},
      {" --currents-out " + Quote(dir_.string()), 2, "is a folder"},
      {" --exclude-energy 10-20", 1, "expected MIN:MAX"},
      {" --weight 10:20", 1, "expected MIN:MAX=W"},
  };
  for (const auto& c : cases) {
    const CliRun run = Cli(fitArgs + c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << c.arguments << "\n" << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.arguments;
  }
}

}  // namespace
}  // namespace zuba::test
