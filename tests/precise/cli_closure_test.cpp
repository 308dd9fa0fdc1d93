// zuba-cli run with either closure: the values columns, the JSON energies, the saved document.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "calc/synth_map.h"
#include "results/document.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;

class RunClosure : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("zuba_cli_closure_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    SynthMapOptions options;
    options.rMax = 0.4;
    options.dTheta = 5;
    options.unit = "T";
    const Outcome written = WriteSynthMap(options, Path("map.sdf"));
    ASSERT_TRUE(written) << written.message().text;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }

  // Runs zuba-cli on the map with a coarse step and three energies; returns stdout and the exit
  // code.
  int Run(const std::vector<std::string>& extra, std::string& out) {
    std::string command = std::string(ZUBA_CLI_PATH) + " run --map " + Path("map.sdf") +
                          " --set h=1e-3 --set EkBegin=2 --set EkEnd=6 --set dEk=2 --threads 2";
    for (const std::string& a : extra) command += " " + a;
    command += " 2>" + Path("stderr.txt");
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    out.clear();
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::vector<std::string>> ReadValues(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> cells;
      std::string cell;
      std::istringstream s(line);
      while (std::getline(s, cell, '\t')) cells.push_back(cell);
      if (!line.empty() && line.back() == '\t') cells.push_back("");
      rows.push_back(cells);
    }
    return rows;
  }

  fs::path dir_;
};

TEST_F(RunClosure, PreciseRunPrintsTunesAndIsochronismAsJson) {
  std::string out;
  ASSERT_EQ(Run({"--closure", "precise", "--gain-per-turn", "0.2", "--json", "--values",
                 Path("v.tsv"), "--save", Path("d.zub")},
                out),
            0);
  const nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["closure"], "precise");
  EXPECT_EQ(j["gain_per_turn_mev"], 0.2);
  EXPECT_EQ(j["run"]["ParticleName"], "p");
  ASSERT_EQ(j["energies"].size(), 3u);
  const std::vector<std::vector<std::string>> rows = ReadValues(Path("v.tsv"));
  ASSERT_EQ(rows.size(), 4u);
  ASSERT_EQ(rows[0].size(), 13u);
  for (size_t i = 0; i < 3; ++i) {
    const nlohmann::json& e = j["energies"][i];
    // Every values column is a key, with the value of the values file.
    for (size_t k = 0; k < rows[0].size(); ++k)
      EXPECT_EQ(e[rows[0][k]].get<double>(), std::stod(rows[i + 1][k])) << rows[0][k];
    EXPECT_GT(e["nu_r"].get<double>(), 1.0);
    EXPECT_GT(e["nu_z"].get<double>(), 0.0);
    // The synthetic map is isochronous: the precise closure sees it within a few 1e-6.
    EXPECT_LT(std::fabs(e["isochronism"].get<double>()), 1e-5);
  }
  EXPECT_EQ(j["energies"][0]["phase_deg"], 0.0);
  const Result<DocumentLoad> load = LoadDocumentFile(Path("d.zub"));
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.closure.mode, 1);
  EXPECT_EQ(load->results.closure.nuR.size(), 3);
  EXPECT_EQ(load->results.closure.gainPerTurn, 0.2);
}

TEST_F(RunClosure, DefaultRunLeavesTheTunesEmpty) {
  std::string out;
  ASSERT_EQ(Run({"--json", "--values", Path("v.tsv"), "--save", Path("d.zub")}, out), 0);
  const nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["closure"], "described");
  ASSERT_EQ(j["energies"].size(), 3u);
  for (const nlohmann::json& e : j["energies"]) {
    EXPECT_TRUE(e["nu_r"].is_null());
    EXPECT_TRUE(e["nu_z"].is_null());
    EXPECT_TRUE(e["isochronism"].is_number());
  }
  const std::vector<std::vector<std::string>> rows = ReadValues(Path("v.tsv"));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1].size(), 13u);
  EXPECT_EQ(rows[1][9], "");
  EXPECT_EQ(rows[1][10], "");
  const Result<DocumentLoad> load = LoadDocumentFile(Path("d.zub"));
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_TRUE(load->results.closure.empty());
}

TEST_F(RunClosure, UnknownClosureIsAUsageError) {
  std::string out;
  EXPECT_EQ(Run({"--closure", "exact"}, out), 1);
  EXPECT_EQ(Run({"--gain-per-turn", "0"}, out), 1);
}

}  // namespace
}  // namespace zuba
