// zuba-cli run as a user calls it: outputs, the values table, exit codes, and Ctrl+C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "results/document.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RunCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zuba-run-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A near-uniform 1.75 T map with a 1e-4 four-fold flutter, radii 0 .. rMax (m) in 0.01 m steps,
  // azimuths in 5 degree steps; field values in tesla.
  std::string WriteMap(double rMax = 1.0) {
    const fs::path path = dir_ / "uniform.sdf";
    std::ofstream out(path);
    out << "T\n0 " << rMax << " 0.01\n0 360 5\n";
    const int nR = static_cast<int>(std::lround(rMax / 0.01)) + 1;
    for (int i = 0; i < nR; ++i) {
      for (int j = 0; j < 72; ++j) {
        char value[32];
        std::snprintf(value, sizeof value, "%.5f ",
                      1.75 * (1 + 1e-4 * std::cos(4 * j * 5 * std::atan(1.0) / 45)));
        out << value;
      }
      out << "\n";
    }
    return path.string();
  }

  // Runs zuba-cli with the arguments; stdout and stderr are collected through files.
  Outcome Run(const std::vector<std::string>& args) {
    pid_t pid = Spawn(args);
    return Wait(pid);
  }

  pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<std::string> all{ZUBA_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  Outcome Wait(pid_t pid) {
    Outcome o;
    int status = 0;
    waitpid(pid, &status, 0);
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    o.out = ReadText(dir_ / "stdout");
    o.err = ReadText(dir_ / "stderr");
    return o;
  }

  fs::path dir_;
};

TEST_F(RunCommand, WritesTheValuesTableWithSeventeenDigitsAndSaysWhere) {
  const std::string map = WriteMap();
  const std::string values = (dir_ / "v.tsv").string();
  const std::string report = (dir_ / "r.txt").string();
  const Outcome o = Run({"run", "--map", map, "--set", "h=1e-3", "--set", "EkEnd=3.0", "--values",
                         values, "--report", report, "--threads", "2"});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_NE(o.out.find(values), std::string::npos);
  EXPECT_NE(o.out.find(report), std::string::npos);
  EXPECT_TRUE(o.err.empty()) << o.err;

  std::istringstream lines(ReadText(values));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line,
            "Ek_J\tEk_MeV\tRmn_m\tBmn_T\tRev_m\tF0_Hz\tdReo_m\tisochronism\tphase_deg\tnu_r\tnu_z"
            "\tconsistency\tvr_residual\tstatus\treason");
  int rows = 0;
  while (std::getline(lines, line)) {
    std::istringstream cells(line);
    std::string cell;
    std::vector<double> row;
    while (std::getline(cells, cell, '\t')) {
      if (cell.empty()) break;  // the tunes, empty with the default closure
      // Printed with 17 significant digits: exactly what %.17g gives for the value read back.
      char expected[40];
      std::snprintf(expected, sizeof expected, "%.17g", std::stod(cell));
      EXPECT_EQ(cell, expected);
      row.push_back(std::stod(cell));
    }
    ASSERT_EQ(row.size(), 9u);
    ++rows;
    EXPECT_NEAR(row[1], 0.6 * rows, 1e-12);              // MeV
    EXPECT_NEAR(row[0], row[1] * 1.6021892e-13, 1e-25);  // J
    EXPECT_NEAR(row[3], 1.75, 1e-6);                     // T
  }
  EXPECT_EQ(rows, 5);
  // The report's first line is its file name.
  EXPECT_EQ(ReadText(report).substr(0, 7), "r.txt\r\n");
}

TEST_F(RunCommand, UsageErrorsRefusalsAndFailuresHaveTheirExitCodes) {
  const std::string map = WriteMap(0.25);
  EXPECT_EQ(Run({"run", "--map", map, "--mode", "TVK-310: P"}).exitCode, 1);
  EXPECT_EQ(Run({"run", "--map", map, "--set", "TIs=1"}).exitCode, 1);
  EXPECT_EQ(Run({"run", "--map", map, "--set", "h=0.001x"}).exitCode, 1);
  EXPECT_EQ(Run({"run", "--map", map, "--set", "N=4.5"}).exitCode, 1);
  EXPECT_EQ(Run({"run", "--map", map, "--set", "h"}).exitCode, 1);

  Outcome o = Run({"run", "--map", map, "--set", "dEk=0"});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("dEk"), std::string::npos) << o.err;
  o = Run({"run", "--map", map, "--set", "ParticleName=  "});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_EQ(o.err, "Stop: Enter the name of particle!\n");
  // A refused map file is named in front of the reader's text.
  const std::string missing = (dir_ / "missing.sdf").string();
  o = Run({"run", "--map", missing});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_EQ(o.err, "Error: " + missing + ": Can not Open File!\n");

  // The orbits of the higher energies leave a map that ends at 0.25 m: the checks say so before
  // the run, and the run that the search ends names the energy and the closure that would go on.
  const std::string values = (dir_ / "v.tsv").string();
  o = Run({"run", "--map", map, "--set", "h=1e-3", "--set", "EkEnd=12", "--set", "dEk=3",
           "--values", values});
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(o.err,
            "Warning: 9.6\u2013"
            "12.6 MeV: no orbit in this field (no radius of the map, 0 to 0.25 m, "
            "bends them): check the energies, m0 and Q.\n"
            "Error: Radius value error!\n"
            "The standard search failed at Ek = 9.6 MeV; the run ended there and no file was "
            "written.\n"
            "The precise closure (--closure precise) closes each energy on its own and keeps the "
            "others.\n");
  EXPECT_FALSE(fs::exists(values));
  o = Run({"run", "--map", map, "--set", "h=1e-3", "--set", "EkEnd=12", "--set", "dEk=3",
           "--no-checks"});
  EXPECT_EQ(o.err.find("Warning"), std::string::npos) << o.err;
}

TEST_F(RunCommand, SetRefusalsNameTheValueAndTheNames) {
  const std::string map = WriteMap(0.25);
  const std::string names = "ParticleName EkBegin EkEnd dEk Frf H N ChargeSign Q m0 h";
  const struct {
    const char* set;
    std::string err;
  } cases[] = {
      {"N=4.5", "--set N: \"4.5\" is not a whole number of the range -2147483647 .. 2147483647"},
      {"m0= inf", "--set m0: \" inf\" is not a finite real number"},
      {" TIs =1", "--set: unknown name \"TIs\"; the names are " + names},
      {"Path=/maps/a.sdf", "--set: unknown name \"Path\"; the names are " + names},
      {"h", "--set needs Name=Value, not \"h\""},
  };
  for (const auto& c : cases) {
    const Outcome o = Run({"run", "--map", map, "--set", c.set});
    EXPECT_EQ(o.exitCode, 1) << c.set;
    EXPECT_EQ(o.err, c.err + "\n");
  }
}

TEST_F(RunCommand, TheMapPathIsTrimmedAsTheInputDataDialogTrimsIt) {
  const std::string map = std::string(ZUBA_EXAMPLES_DIR) + "/tvk310-p.sdf";
  const std::string report = (dir_ / "r.txt").string();
  const std::string document = (dir_ / "d.zub").string();
  const Outcome o = Run({"run", "--map", "  " + map + " \t", "--set", "h=1e-3", "--set",
                         "EkEnd=1.2", "--quiet", "--report", report, "--save", document});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_NE(ReadText(report).find("\r\n\vPath: " + map + "\r\n"), std::string::npos);
  const zuba::Result<zuba::DocumentLoad> load = zuba::LoadDocumentFile(document);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.run.Path, map);
}

TEST_F(RunCommand, CtrlCLetsTheCurrentEnergyFinishAndWritesNothing) {
  const std::string map = WriteMap();
  const std::string values = (dir_ / "v.tsv").string();
  const std::string report = (dir_ / "r.txt").string();
  // The per-call field routine at the preset step: minutes for the whole run.
  const pid_t pid = Spawn({"run", "--map", map, "--reference-field", "--threads", "1", "--values",
                           values, "--report", report});
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  const auto start = std::chrono::steady_clock::now();
  const Outcome o = Wait(pid);
  EXPECT_EQ(o.exitCode, 130) << o.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_FALSE(fs::exists(values));
  EXPECT_FALSE(fs::exists(report));
  EXPECT_TRUE(o.out.empty());
  EXPECT_NE(o.err.find("Stop: The calculation was stopped; nothing was written."),
            std::string::npos)
      << o.err;
}

}  // namespace
