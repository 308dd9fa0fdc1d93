// zuba-cli run with either closure: the values columns, the JSON energies, the saved document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/diagnostics.h"
#include "calc/synth/synth_map.h"
#include "numerics/constants.h"
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
  int Run(const std::vector<std::string>& extra, std::string& out, const char* map = "map.sdf") {
    std::vector<std::string> arguments = {"run", "--map", Path(map), "--set h=1e-3 --set EkBegin=2",
                                          "--set EkEnd=6 --set dEk=2 --threads 2"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Cli(arguments, out);
  }

  // Runs zuba-cli with the arguments; returns stdout and the exit code.
  int Cli(const std::vector<std::string>& arguments, std::string& out) {
    std::string command = ZUBA_CLI_PATH;
    for (const std::string& a : arguments) command += " " + a;
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

  std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
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
  ASSERT_EQ(rows[0].size(), 15u);
  for (size_t i = 0; i < 3; ++i) {
    const nlohmann::json& e = j["energies"][i];
    // Every values column is a key, with the value of the values file; the last two are the
    // status and the reason.
    for (size_t k = 0; k < 13; ++k)
      EXPECT_EQ(e[rows[0][k]].get<double>(), std::stod(rows[i + 1][k])) << rows[0][k];
    EXPECT_EQ(e["status"], rows[i + 1][13]);
    EXPECT_EQ(rows[i + 1][14], "");
    EXPECT_TRUE(e["reason"].is_null());
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

// The tolerance of a precise run in what it leaves behind: its JSON, report, document, the
// document's info and machine file; a standard run's info names its closure, a precise document
// that does not know its tolerance says so.
TEST_F(RunClosure, PreciseRunRecordsItsTolerance) {
  std::string out;
  ASSERT_EQ(Run({"--closure", "precise", "--tolerance", "3e-9", "--json", "--report", Path("r.txt"),
                 "--save", Path("p.zub")},
                out),
            0);
  EXPECT_EQ(nlohmann::json::parse(out)["tolerance"], 3e-9);
  EXPECT_NE(ReadText(Path("r.txt")).find("\r\nPrecise closure tolerance = 3e-09\r\n\vEk (MeV)"),
            std::string::npos);
  ASSERT_EQ(Cli({"machine", "--from", Path("p.zub"), "-o", Path("m.json")}, out), 0);
  const nlohmann::json machine = nlohmann::json::parse(ReadText(Path("m.json")));
  EXPECT_EQ(machine["closure"], "precise");
  EXPECT_EQ(machine["tolerance"], 3e-9);

  Result<DocumentLoad> load = LoadDocumentFile(Path("p.zub"));
  ASSERT_TRUE(load.ok()) << load.message().text;
  load->results.closure.tolerance = 0;  // as a document written before the tolerance was kept
  ASSERT_TRUE(SaveDocumentFile(Path("old.zub"), load->results, 1).ok());
  ASSERT_EQ(Run({"--json", "--save", Path("s.zub")}, out), 0);
  EXPECT_FALSE(nlohmann::json::parse(out).contains("tolerance"));

  struct Case {
    const char* document;
    const char* line;
    nlohmann::json closure, tolerance;
  };
  for (const Case& c : {Case{"p.zub", "Closure: precise, tolerance 3e-09\n", "precise", 3e-9},
                        Case{"old.zub",
                             "Closure: precise, tolerance unknown (the document was written "
                             "before it was kept)\n",
                             "precise", nullptr},
                        Case{"s.zub", "Closure: standard\n", "standard", "absent"}}) {
    ASSERT_EQ(Cli({"info", Path(c.document)}, out), 0);
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
    ASSERT_EQ(Cli({"info", Path(c.document), "--json"}, out), 0);
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["closure"], c.closure) << c.document;
    EXPECT_EQ(j.contains("tolerance") ? j["tolerance"] : nlohmann::json("absent"), c.tolerance)
        << c.document;
  }
}

TEST_F(RunClosure, DefaultRunLeavesTheTunesEmpty) {
  std::string out;
  ASSERT_EQ(Run({"--json", "--values", Path("v.tsv"), "--save", Path("d.zub")}, out), 0);
  const nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["closure"], "standard");
  EXPECT_EQ(j["outcome"], "completed");
  EXPECT_EQ(j["warnings"], nlohmann::json::array());  // always there, empty for a sound run
  ASSERT_EQ(j["energies"].size(), 3u);
  for (const nlohmann::json& e : j["energies"]) {
    EXPECT_TRUE(e["nu_r"].is_null());
    EXPECT_TRUE(e["nu_z"].is_null());
    EXPECT_TRUE(e["isochronism"].is_number());
  }
  const std::vector<std::vector<std::string>> rows = ReadValues(Path("v.tsv"));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1].size(), 15u);
  EXPECT_EQ(rows[1][9], "");
  EXPECT_EQ(rows[1][10], "");
  EXPECT_EQ(rows[1][13], "closed");
  // The document keeps the gain per turn of the phase slip, and nothing else of a closure.
  const Result<DocumentLoad> load = LoadDocumentFile(Path("d.zub"));
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.closure.mode, 0);
  EXPECT_EQ(load->results.closure.gainPerTurn, 0.1);
  EXPECT_TRUE(load->results.closure.status.empty());
}

// 26 MeV needs a larger orbit than the 0.4 m of the map: that energy stays in every output with
// its status and reason and without values; the run completes.
TEST_F(RunClosure, PreciseEnergyThatDoesNotCloseIsKeptWithItsReason) {
  std::string out;
  ASSERT_EQ(Run({"--closure", "precise", "--set", "EkEnd=26", "--set", "dEk=8", "--json",
                 "--values", Path("v.tsv"), "--save", Path("d.zub"), "--report", Path("r.txt")},
                out),
            0);
  EXPECT_NE(ReadText(Path("stderr.txt")).find("1 of 4 energies did not close"), std::string::npos)
      << ReadText(Path("stderr.txt"));
  const nlohmann::json j = nlohmann::json::parse(out);
  const std::vector<std::vector<std::string>> rows = ReadValues(Path("v.tsv"));
  ASSERT_EQ(rows.size(), 5u);
  ASSERT_EQ(j["energies"].size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const nlohmann::json& e = j["energies"][i];
    ASSERT_EQ(rows[i + 1].size(), 15u);
    const bool closed = i < 3;
    EXPECT_EQ(e["status"], closed ? "closed" : "failed");
    EXPECT_EQ(rows[i + 1][13], e["status"]);
    EXPECT_EQ(rows[i + 1][14], closed ? "" : e["reason"]);
    EXPECT_EQ(e["reason"].is_null(), closed);
    for (size_t k = 2; k < 13; ++k) {
      EXPECT_EQ(rows[i + 1][k].empty(), !closed) << i << rows[0][k];
      EXPECT_EQ(e[rows[0][k]].is_null(), !closed) << i << rows[0][k];
    }
    if (closed) {
      EXPECT_LT(std::fabs(e["consistency"].get<double>()), 1e-8);
      EXPECT_LE(std::fabs(e["vr_residual"].get<double>()), 1e-9);
    }
  }
  const std::string reason = j["energies"][3]["reason"];
  EXPECT_NE(reason.find("the orbit needs the field beyond the map (R = 0.4"), std::string::npos)
      << reason;
  // The report says it on the energy's row, also when made again from the document.
  const std::string row = "+26.000000\tfailed: " + reason + "\r\n";
  EXPECT_NE(ReadText(Path("r.txt")).find(row), std::string::npos);
  const Result<DocumentLoad> load = LoadDocumentFile(Path("d.zub"));
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.closure.status[3] & kClosureStatusBits, 3);
  EXPECT_EQ(load->results.closure.reasons[3], reason);
  EXPECT_EQ(load->results.F0[3], 2147483647.0);
  const std::string again = std::string(ZUBA_CLI_PATH) + " report " + Path("d.zub") + " -o " +
                            Path("again.txt") + " 2>/dev/null";
  ASSERT_EQ(std::system(again.c_str()), 0);
  EXPECT_NE(ReadText(Path("again.txt")).find(row), std::string::npos);
}

// A run that the standard search ends prints its JSON all the same: how it ended, the warnings it
// started with, and the energies up to the one that failed; no file is written (exit 3).
TEST_F(RunClosure, JsonOfARunTheStandardSearchEndsHoldsTheEnergiesDone) {
  std::string out;
  EXPECT_EQ(Run({"--set", "EkEnd=34", "--set", "dEk=8", "--json", "--values", Path("v.tsv")}, out),
            3);
  const nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["outcome"], "failed");
  // The orbit of 23.6 MeV in B0 gamma(R) has R = 0.4 m, where the map ends.
  ASSERT_EQ(j["warnings"].size(), 1u);
  EXPECT_EQ(j["warnings"][0].get<std::string>().rfind("26\u201334 MeV: no orbit in this field", 0),
            0u);
  ASSERT_EQ(j["energies"].size(), 4u);  // 2, 10, 18 and 26 MeV, which ended the run
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(j["energies"][i]["status"], "closed") << i;
    EXPECT_TRUE(j["energies"][i]["F0_Hz"].is_number()) << i;
  }
  const nlohmann::json& failed = j["energies"][3];
  EXPECT_EQ(failed["Ek_MeV"], 26.0);
  EXPECT_EQ(failed["status"], "failed");
  EXPECT_EQ(failed["reason"], "Radius value error!");
  EXPECT_TRUE(failed["F0_Hz"].is_null());
  EXPECT_FALSE(fs::exists(Path("v.tsv")));
  const std::string err = ReadText(Path("stderr.txt"));
  EXPECT_NE(err.find("\nThe standard search failed at Ek = 26 MeV;"), std::string::npos) << err;
  EXPECT_NE(err.find("\nThe precise closure (--closure precise) closes each energy on its own"),
            std::string::npos);
}

TEST_F(RunClosure, PreciseRunWithoutAClosedOrbitWritesItsOutputsAndExitsThree) {
  std::string out;
  EXPECT_EQ(Run({"--closure", "precise", "--set", "EkBegin=30", "--set", "EkEnd=34", "--set",
                 "dEk=4", "--values", Path("v.tsv")},
                out),
            3);
  EXPECT_NE(ReadText(Path("stderr.txt")).find("2 of 2 energies did not close"), std::string::npos);
  const std::vector<std::vector<std::string>> rows = ReadValues(Path("v.tsv"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2][1], "34");
  EXPECT_EQ(rows[2][2], "");
}

// After a run of the default search on the proton example the accuracy line gives the worst
// |F0 * 2 pi gamma m / (|q| Bmn) - 1| of its orbits; the precise closure needs no such line. The
// consistency is also what a document of the run gives.
TEST_F(RunClosure, AccuracyLineOfTheDefaultSearchGivesItsWorstConsistency) {
  fs::copy_file(std::string(ZUBA_EXAMPLES_DIR) + "/tvk310-p.sdf", Path("map.sdf"),
                fs::copy_options::overwrite_existing);
  const double mass = 1.007276466812 * kKilogramsPerSamu, twoPi = 8 * std::atan(1.0);
  for (const char* closure : {"standard", "precise"}) {
    std::string out;
    ASSERT_EQ(Run({"--closure", closure, "--set", "h=3e-3", "--set", "EkBegin=48.6", "--set",
                   "EkEnd=60.6", "--set", "dEk=6", "--values", Path("v.tsv"), "--save",
                   Path("d.zub"), "--quiet"},
                  out),
              0);
    const std::vector<std::vector<std::string>> rows = ReadValues(Path("v.tsv"));
    ASSERT_EQ(rows.size(), 4u);
    const Result<DocumentLoad> load = LoadDocumentFile(Path("d.zub"));
    ASSERT_TRUE(load.ok()) << load.message().text;
    const ClosureColumns fromDocument = ClosureColumnsOf(load->results, kDefaultGainPerTurnMeV);
    double worst = 0;
    std::string worstEnergy;
    for (size_t i = 1; i < rows.size(); ++i) {
      const double ek = std::stod(rows[i][0]), bmn = std::stod(rows[i][3]);
      const double f0 = std::stod(rows[i][5]), consistency = std::stod(rows[i][11]);
      const double gamma = 1 + ek / (mass * kSpeedOfLight * kSpeedOfLight);
      EXPECT_NEAR(consistency, f0 * twoPi * gamma * mass / (kElementaryCharge * bmn) - 1, 1e-14);
      EXPECT_EQ(consistency, fromDocument.consistency[i - 1]);
      EXPECT_EQ(std::stod(rows[i][12]), fromDocument.vrResidual[i - 1]);
      if (std::fabs(consistency) > worst) {
        worst = std::fabs(consistency);
        worstEnergy = rows[i][1];
      }
    }
    const std::string err = ReadText(Path("stderr.txt"));
    if (std::string(closure) == "precise") {
      EXPECT_LT(worst, 1e-8);
      EXPECT_EQ(err.find("Accuracy"), std::string::npos) << err;
      continue;
    }
    ASSERT_GT(worst, 1e-4);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "Accuracy: the standard search leaves F0 uncertain by at least %.1e (worst at "
                  "%.4g MeV); Precise Closed Orbits closes the orbit exactly.\n",
                  worst, std::stod(worstEnergy));
    EXPECT_EQ(err, expected);
  }
}

// Two hills of 13 T per turn, no field between them (1.3 T on average): each bends the ion by half
// a turn, over 0.3 of a half turn inside R = 0.3 m and 0.1 outside. 5.6 MeV closes inside; the
// orbit of 10.6 MeV turns back in a hill (|vR| reaches the speed), where the step control cannot
// meet the tolerance: that energy fails naming the azimuth and radius, the run ends as usual.
TEST_F(RunClosure, StepControlFailureEndsTheEnergyNamingWhereItHappened) {
  std::ofstream map(Path("hills.tsv"));
  map << "R_m\ttheta_deg\tB_T\n";
  for (int i = 0; i < 46; ++i) {
    const double R = 0.05 + 0.01 * i, hill = R < 0.3 ? 54 : 18;  // degree
    for (int theta = 0; theta < 360; theta += 2)
      map << R << '\t' << theta << '\t' << (theta % 180 < hill ? 1.3 * 180 / hill : 0) << '\n';
  }
  map.close();
  std::string out;
  ASSERT_EQ(Run({"--closure", "precise", "--no-checks", "--set", "N=2", "--set", "EkBegin=5.6",
                 "--set", "EkEnd=10.6", "--set", "dEk=5", "--json"},
                out, "hills.tsv"),
            0);
  const nlohmann::json energies = nlohmann::json::parse(out)["energies"];
  ASSERT_EQ(energies.size(), 2u);
  EXPECT_EQ(energies[0]["status"], "closed");
  EXPECT_TRUE(energies[0]["F0_Hz"].is_number());
  EXPECT_EQ(energies[1]["status"], "failed");
  EXPECT_TRUE(energies[1]["F0_Hz"].is_null());
  const std::string reason = energies[1]["reason"];
  double tolerance = 0, theta = 0, R = 0, step = 0;
  ASSERT_EQ(std::sscanf(reason.c_str(),
                        "the integration cannot meet the tolerance %lf at theta = %lf deg, R = "
                        "%lf m: its step fell below %lf rad",
                        &tolerance, &theta, &R, &step),
            4)
      << reason;
  EXPECT_EQ(tolerance, kDefaultPreciseTolerance);
  EXPECT_LT(std::fmod(theta, 180), 54 + 2) << reason;  // in a hill, or its spline's edge
  EXPECT_GT(R, 0.05);
  EXPECT_LT(R, 0.5);
  EXPECT_EQ(step, kSmallestPreciseStep);
  EXPECT_NE(ReadText(Path("stderr.txt"))
                .find("1 of 2 energies did not close; they are kept without values:\n10.6 MeV: "
                      "failed, " +
                      reason + "\n"),
            std::string::npos)
      << ReadText(Path("stderr.txt"));
}

TEST_F(RunClosure, UnknownClosureIsAUsageError) {
  std::string out;
  EXPECT_EQ(Run({"--closure", "exact"}, out), 1);
  EXPECT_EQ(Run({"--gain-per-turn", "0"}, out), 1);
}

TEST_F(RunClosure, ToleranceOutsideItsRangeIsRefusedNamingIt) {
  struct Case {
    const char* tolerance;
    const char* line;
  };
  const Case cases[] = {
      {"0", "The tolerance 0 is out of range (allowed: 1e-14 to 0.0001)!"},
      {"-1e-9", "The tolerance -1e-09 is out of range (allowed: 1e-14 to 0.0001)!"},
      {"1e-15", "The tolerance 1e-15 is out of range (allowed: 1e-14 to 0.0001)!"},
      {"2e-4", "The tolerance 0.0002 is out of range (allowed: 1e-14 to 0.0001)!"},
      {"nan", "--tolerance nan: not a number"},
      {"1e-9x", "--tolerance 1e-9x: not a number"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(Run({"--closure", "precise", "--quiet", "--tolerance", c.tolerance}, out), 2)
        << c.tolerance;
    const std::string err = ReadText(Path("stderr.txt"));
    EXPECT_NE(err.find(c.line), std::string::npos) << c.tolerance << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  // The bounds themselves are taken; a tighter tolerance closes the same orbits.
  std::string loose, tight;
  ASSERT_EQ(Run({"--closure", "precise", "--quiet", "--json", "--tolerance", "1e-4"}, loose), 0);
  ASSERT_EQ(Run({"--closure", "precise", "--quiet", "--json", "--tolerance", "1e-14"}, tight), 0);
  const auto a = nlohmann::json::parse(loose)["energies"],
             b = nlohmann::json::parse(tight)["energies"];
  ASSERT_EQ(a.size(), 3u);
  for (size_t i = 0; i < a.size(); ++i)
    EXPECT_NEAR(a[i]["F0_Hz"].get<double>(), b[i]["F0_Hz"].get<double>(),
                1e-4 * b[i]["F0_Hz"].get<double>())
        << i;
}

}  // namespace
}  // namespace zuba
