// --machine and zuba-cli machine as a user runs them: a machine file runs what the preset and
// --set changes ran, the command line wins over the file, a saved run gives back its machine file,
// and a bad file is refused with one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/cli_harness.h"

namespace zuba::test {
namespace {

const std::string kExamples = ZUBA_EXAMPLES_DIR;
const std::string kFew = " --set EkBegin=100 --set EkEnd=500 --set dEk=200 --threads 2 --quiet";

class MachineCli : public CliTest {};

TEST_F(MachineCli, TheRingFileRunsWhatItsSetsRan) {
  const std::string a = (dir_ / "a.tsv").string(), b = (dir_ / "b.tsv").string();
  ASSERT_EQ(
      Cli("run --machine " + Quote(kExamples + "/ring-590.json") + kFew + " --values " + Quote(a))
          .exitCode,
      0);
  ASSERT_EQ(Cli("run --map " + Quote(kExamples + "/ring-590.sdf") +
                " --set ParticleName=p --set m0=1.007276466812 --set Q=1 --set Frf=50.65 --set "
                "H=6 --set N=8 --closure precise" +
                kFew + " --values " + Quote(b))
                .exitCode,
            0);
  const std::string values = Slurp(a);
  EXPECT_EQ(values, Slurp(b));
  EXPECT_EQ(std::count(values.begin(), values.end(), '\n'), 4);
}

TEST_F(MachineCli, TheCommandLineWinsOverTheFile) {
  const std::string machine = Write("m.json", R"({"name": "p", "fields": {"ParticleName": "p",
    "m0": 1.007276466812, "Q": 1, "Frf": 26.26, "H": 1, "N": 4, "EkBegin": 5, "EkEnd": 25,
    "dEk": 10}, "closure": "precise", "gain_per_turn_mev": 2.5,
    "map": {"path": ")" + kExamples + R"(/tvk310-p.sdf"}})");
  auto run = [&](const std::string& more) {
    const CliRun r = Cli("run --machine " + Quote(machine) + " --threads 2 --json" + more);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return nlohmann::json::parse(r.out.empty() ? "{}" : r.out);
  };
  const nlohmann::json fromFile = run("");
  EXPECT_EQ(fromFile["closure"], "precise");
  EXPECT_EQ(fromFile["gain_per_turn_mev"], 2.5);
  EXPECT_EQ(fromFile["energies"].size(), 3u);
  const nlohmann::json changed =
      run(" --closure standard --gain-per-turn 0.3 --set EkEnd=15 --map " +
          Quote(kExamples + "/avf-14n5.sdf"));
  EXPECT_EQ(changed["closure"], "standard");
  EXPECT_EQ(changed["gain_per_turn_mev"], 0.3);
  EXPECT_EQ(changed["energies"].size(), 2u);
  EXPECT_EQ(changed["run"]["Path"], kExamples + "/avf-14n5.sdf");
}

TEST_F(MachineCli, ASavedRunGivesBackItsMachineFile) {
  const std::string doc = (dir_ / "p.zub").string(), json = (dir_ / "p.json").string();
  const std::string a = (dir_ / "a.tsv").string(), b = (dir_ / "b.tsv").string();
  ASSERT_EQ(Cli("run --map " + Quote(kExamples + "/tvk310-p.sdf") +
                " --set EkBegin=3 --set EkEnd=33 --set dEk=15 --set h=2e-4 --closure precise "
                "--gain-per-turn 0.2 --quiet --save " +
                Quote(doc) + " --values " + Quote(a))
                .exitCode,
            0);
  const CliRun written = Cli("machine --from " + Quote(doc) + " -o " + Quote(json));
  ASSERT_EQ(written.exitCode, 0) << written.err;
  const nlohmann::json m = nlohmann::json::parse(Slurp(json));
  EXPECT_EQ(m["name"], "p");
  EXPECT_EQ(m["fields"]["h"], 2e-4);
  EXPECT_EQ(m["closure"], "precise");
  EXPECT_EQ(m["gain_per_turn_mev"], 0.2);
  ASSERT_EQ(Cli("run --machine " + Quote(json) + " --quiet --values " + Quote(b)).exitCode, 0);
  EXPECT_EQ(Slurp(a), Slurp(b));
}

TEST_F(MachineCli, SynthMapTakesTheIonTheRfAndTheLastEnergyOfTheMachine) {
  // The ring example's command of examples/README.md with its ion and RF from the machine file.
  const std::string out = (dir_ / "ring.sdf").string();
  const CliRun made = Cli("synth-map --machine " + Quote(kExamples + "/ring-590.json") +
                          " --unit Gs --r-min 1.8 --r-max 4.7 --dr 0.02 --theta-min 0 "
                          "--theta-max 360 --dtheta 0.5 --hill-fraction 0.47 --edge-width 0.15 "
                          "--spiral 33 --quiet -o " +
                          Quote(out));
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(Slurp(out), Slurp(kExamples + "/ring-590.sdf"));
}

TEST_F(MachineCli, RefusesABadFileAndAMissingMap) {
  const std::string bad = Write("bad.json", R"({"fields": {"Frq": 1}})");
  const CliRun refused = Cli("run --machine " + Quote(bad));
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(refused.err, "Error: " + bad +
                             ": unknown field \"fields.Frq\"; the fields are ParticleName "
                             "EkBegin EkEnd dEk Frf H N ChargeSign Q m0 h\n");
  const std::string noMap = Write("nomap.json", R"({"fields": {"ParticleName": "p", "m0": 1,
    "Q": 1, "Frf": 26.26, "H": 1, "N": 4, "EkBegin": 5, "EkEnd": 25, "dEk": 10}})");
  const CliRun usage = Cli("isochronise --machine " + Quote(noMap));
  EXPECT_EQ(usage.exitCode, 1);
  EXPECT_NE(usage.err.find("--map is required: the machine file " + noMap + " names no map"),
            std::string::npos)
      << usage.err;
  EXPECT_EQ(Cli("run --machine " + Quote(noMap) + " --mode 'AVF: 14N5'").exitCode, 1);
  const CliRun unwritable =
      Cli("machine --from " + Quote(bad) + " -o " + Quote((dir_ / "m.json").string()));
  EXPECT_EQ(unwritable.exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "m.json"));
}

}  // namespace
}  // namespace zuba::test
