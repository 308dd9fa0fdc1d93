// Damaged inputs through the command-line program: a refused map or document ends the command with
// one message line on stderr, exit code 2 and no output file; a map whose values are not finite
// numbers is refused naming the value (exit code 2); one with values too large for an orbit is read
// and the run then fails with one message and exit code 3.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "results/document.h"

namespace {

namespace fs = std::filesystem;

#ifdef ZUBA_CLI_PATH

class CliBadInput : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("zuba-cli-bad-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  static std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  struct Outcome {
    int exitCode = -1;
    std::string out, err;
  };
  // Runs zuba-cli with the arguments (each quoted for the shell), stdout and stderr to files.
  Outcome Cli(const std::vector<std::string>& arguments) {
    std::string command = std::string("'") + ZUBA_CLI_PATH + "'";
    for (const std::string& a : arguments) command += " '" + a + "'";
    const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
    command += " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int status = std::system(command.c_str());
    Outcome o;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = ReadAll(out);
    o.err = ReadAll(err);
    fs::remove(out);
    fs::remove(err);
    return o;
  }

  // One line on stderr, "Error: " and then the text.
  static void ExpectOneErrorLine(const Outcome& o, const std::string& textPart) {
    EXPECT_EQ(o.err.rfind("Error: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_NE(o.err.find(textPart), std::string::npos) << o.err;
  }

  fs::path dir_;
};

TEST_F(CliBadInput, RefusedMapsEndMapInfoAndRunWithOneMessageAndExitCode2) {
  const std::pair<std::string, std::string> maps[] = {
      {"", "The file is empty!"},
      {std::string(300, '\0'), "Field Map Unit Error!"},
      {"Gs 0 1e400 0.01 0 360 2\n", "Field map header error!"},
      {"Gs 0.1 0.3 0.1 0 360 nan\n", "Magnetic field map header error!"},
      {"Gs 0 10 0.001 0 360 0.01\n1 2 3\n", "File Reading Error!"},
      {"T 0.1 0.3 0.1 0 360 90 1 1 1 1 1", "File Reading Error!"},
  };
  for (const auto& [bytes, message] : maps) {
    SCOPED_TRACE(message);
    const std::string map = Write("bad.sdf", bytes);
    Outcome info = Cli({"map-info", map});
    EXPECT_EQ(info.exitCode, 2);
    EXPECT_EQ(info.out, "");
    ExpectOneErrorLine(info, message);
    const fs::path report = dir_ / "r.txt";
    Outcome run = Cli({"run", "--map", map, "--report", report.string(), "--quiet"});
    EXPECT_EQ(run.exitCode, 2);
    ExpectOneErrorLine(run, message);
    EXPECT_FALSE(fs::exists(report));
  }
}

TEST_F(CliBadInput, RefusedDocumentsEndInfoAndReportWithOneMessageAndExitCode2) {
  std::string negative = StoreDocumentBytes(zuba::ResultTables{}, 1);
  const int32_t minusOne = -1;
  std::memcpy(negative.data() + 12, &minusOne, 4);
  std::string overrun = StoreDocumentBytes(zuba::ResultTables{}, 1).substr(0, 60);
  overrun += std::string("\xFF\xFF\xFF\x00\x00\x00\x40", 7) + std::string(100, 'x');
  const std::pair<std::string, std::string> documents[] = {
      {"", "Not a ZUBA document"},
      {"T 0.1 0.3 0.1 0 360 90 1 1 1 1 1 1", "Not a ZUBA document"},
      {negative, "the length of Ek is negative"},
      {overrun, "the text Path declares 1073741824 characters"},
      {StoreDocumentBytes(zuba::ResultTables{}, 1).substr(0, 100), "ends inside"},
  };
  for (const auto& [bytes, message] : documents) {
    SCOPED_TRACE(message);
    const std::string document = Write("bad.zub", bytes);
    Outcome info = Cli({"info", document, "--json"});
    EXPECT_EQ(info.exitCode, 2);
    EXPECT_EQ(info.out, "");
    ExpectOneErrorLine(info, message);
    const fs::path report = dir_ / "r.txt";
    Outcome written = Cli({"report", document, "-o", report.string()});
    EXPECT_EQ(written.exitCode, 2);
    ExpectOneErrorLine(written, message);
    EXPECT_FALSE(fs::exists(report));
  }
}

TEST_F(CliBadInput, FieldValuesThatAreNoNumberAreRefusedAndHugeOnesFailTheRun) {
  // The example map with the values of one radius node replaced.
  std::istringstream example(ReadAll(fs::path(ZUBA_EXAMPLES_DIR) / "tvk310-p.sdf"));
  std::vector<std::string> tokens;
  for (std::string t; example >> t;) tokens.push_back(t);
  ASSERT_EQ(tokens.size(), 7u + 71 * 180);
  struct Case {
    const char* value;
    int exitCode;
    const char* message;  // the end of the one error line
  };
  for (const Case& c :
       {Case{"nan", 2, "\"nan\" at radius node 21, azimuth node 1 is not a number!"},
        Case{"inf", 2, "\"inf\" at radius node 21, azimuth node 1 is not a number!"},
        Case{"0x10", 2, "\"0x10\" at radius node 21, azimuth node 1 is not a number!"},
        Case{"-1e300", 3, "!"}}) {
    SCOPED_TRACE(c.value);
    std::string text;
    for (size_t i = 0; i < tokens.size(); ++i) {
      const bool replaced = i >= 7 + 20 * 180 && i < 7 + 21 * 180;
      text += (replaced ? std::string(c.value) : tokens[i]) + (i % 10 == 9 ? "\n" : " ");
    }
    const std::string map = Write("nonfinite.sdf", text);
    const fs::path document = dir_ / "d.zub";
    Outcome run = Cli({"run", "--map", map, "--set", "dEk=6", "--threads", "1", "--quiet", "--save",
                       document.string()});
    EXPECT_EQ(run.exitCode, c.exitCode);
    if (c.exitCode == 2) {
      ExpectOneErrorLine(run, c.message);
    } else {
      // A value no magnet has: the check before the run names the values, then the run's one
      // message and the energy it ended at.
      const std::string warning =
          "Warning: The map holds 180 field values that are not finite or beyond 100 T (the first "
          "at R = 0.25 m): check the map file.\n";
      ASSERT_EQ(run.err.rfind(warning, 0), 0u) << run.err;
      const std::string rest = run.err.substr(warning.size());
      EXPECT_EQ(rest.rfind("Error: ", 0), 0u) << rest;
      EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 3) << rest;
      EXPECT_NE(rest.find("\nThe standard search failed at Ek = 0.6 MeV;"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(document));
  }
}

TEST_F(CliBadInput, EveryNumberOfTheCommandLineIsReadWholeOrRefusedNamingItsOption) {
  const std::string map = (fs::path(ZUBA_EXAMPLES_DIR) / "tvk310-p.sdf").string();
  const std::string coils = (fs::path(ZUBA_EXAMPLES_DIR) / "trim-coils.tsv").string();
  const std::string out = (dir_ / "out.sdf").string();
  struct Case {
    std::vector<std::string> arguments;
    std::string message;  // a part of stderr
  };
  const std::string synth = "synth-map";
  const std::vector<Case> cases = {
      {{"run", "--map", map, "--threads", "0x10"}, "--threads: \"0x10\" is not a whole number"},
      {{"run", "--map", map, "--threads", "1e"}, "--threads: \"1e\" is not a whole number"},
      {{"run", "--map", map, "--gain-per-turn", "inf"}, "--gain-per-turn: \"inf\" is not a number"},
      {{"run", "--map", map, "--set", "dEk=0x10"}, "\"0x10\" is not a finite real number"},
      {{"run", "--map", map, "--set", "N=12abc"}, "\"12abc\" is not a whole number"},
      {{"field", map, "nan", "0.5"}, "R: \"nan\" is not a number"},
      {{"field", map, "0.3", "12abc"}, "THETA: \"12abc\" is not a number"},
      {{"harmonics", map, "--sectors", "4.0"}, "--sectors: \"4.0\" is not a whole number"},
      {{synth, "--r-min", "0x1p-3", "-o", out}, "--r-min: \"0x1p-3\" is not a number"},
      {{synth, "--coils", coils, "--current", "T1=0x10", "-o", out},
       "--current needs NAME=A with a coil of " + coils + ", not \"T1=0x10\""},
      {{"trim-fit", "--map", map, "--coils", coils, "--limit", "1e"},
       "--limit 1e: \"1e\" is not a current of 0 A or more"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments[c.arguments.size() > 3 ? 3 : 1]);
    Outcome o = Cli(c.arguments);
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(out));
  }
  // A whole number with leading zeros is decimal, not octal.
  Outcome decimal = Cli({"harmonics", map, "--sectors", "010", "--json"});
  Outcome ten = Cli({"harmonics", map, "--sectors", "10", "--json"});
  EXPECT_EQ(decimal.exitCode, 0) << decimal.err;
  EXPECT_EQ(decimal.out, ten.out);
}

#else

TEST(CliBadInput, NeedsTheCommandLineProgram) {
  GTEST_SKIP() << "zuba-cli is not part of this build";
}

#endif

}  // namespace
