// zuba-cli report and info, run as the real program on documents in a temporary folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "results/document.h"
#include "results/report.h"

#ifdef ZUBA_CLI_PATH

namespace zuba {
namespace {

namespace fs = std::filesystem;

class CliDocument : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zuba-cli-doc-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs zuba-cli with the arguments; stdout and stderr go to out_ and err_.
  int Run(const std::string& arguments) {
    const std::string command = std::string("\"") + ZUBA_CLI_PATH + "\" " + arguments + " >\"" +
                                (dir_ / "out").string() + "\" 2>\"" + (dir_ / "err").string() +
                                "\"";
    const int status = std::system(command.c_str());
    out_ = Read(dir_ / "out");
    err_ = Read(dir_ / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Save(const std::string& name, const ResultTables& r, int32_t flag) {
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(SaveDocumentFile(path, r, flag).ok());
    return path;
  }
  static ResultTables TwoSteps() {
    ResultTables r;
    const double e = 1.6021892e-19;
    r.Ek = RealTable({0.6e6 * e, 1.2e6 * e});
    r.Rmn = RealTable({0.2, 0.1});
    r.Bmn = RealTable({1.5, 1.5});
    r.Rev = RealTable({0.1001, 0.2002});
    r.F0 = RealTable({26.26e6, 26.2e6});
    r.dReo = RealTable({1e-5, -1e-5});
    r.OrbitR = RealTable({0.1, 0.2, 0.3});
    r.OrbitPoints = IntTable({2, 1});
    r.run = {"/maps/x.sdf", "p", 0.6, 60.6, 0.6, 26.26, 1, 4, 0, 1, 1.007276466812, 0, 6.28, 1e-4};
    return r;
  }

  fs::path dir_;
  std::string out_, err_;
};

TEST_F(CliDocument, ReportWritesTheSameBytesAsTheReportCommand) {
  const std::string doc = Save("run.zub", TwoSteps(), 1);
  const fs::path out = dir_ / "run-report.txt";
  ASSERT_EQ(Run("report \"" + doc + "\" -o \"" + out.string() + "\""), 0) << err_;
  EXPECT_EQ(Read(out), *BuildReport(TwoSteps(), "run-report.txt"));
  EXPECT_EQ(err_, "");
}

TEST_F(CliDocument, ReportRefusesDamagedEmptyAndUnequalDocuments) {
  std::ofstream(dir_ / "bad.zub") << "not a document";
  EXPECT_EQ(Run("report \"" + (dir_ / "bad.zub").string() + "\" -o \"" + (dir_ / "a.txt").string() +
                "\""),
            2);
  EXPECT_NE(err_.find("Error: "), std::string::npos);
  EXPECT_NE(err_.find("Not a ZUBA document"), std::string::npos) << err_;

  const std::string empty = Save("empty.zub", ResultTables{}, 0);
  EXPECT_EQ(Run("report \"" + empty + "\" -o \"" + (dir_ / "b.txt").string() + "\""), 2);
  EXPECT_NE(err_.find("no results"), std::string::npos) << err_;

  ResultTables unequal = TwoSteps();
  unequal.dReo.resize(1);
  const std::string doc = Save("unequal.zub", unequal, 1);
  EXPECT_EQ(Run("report \"" + doc + "\" -o \"" + (dir_ / "c.txt").string() + "\""), 2);
  EXPECT_NE(err_.find("differ in length (2, 2, 2, 2, 2, 1)"), std::string::npos) << err_;

  const std::string good = Save("good.zub", TwoSteps(), 1);
  EXPECT_EQ(Run("report \"" + good + "\" -o \"" + (dir_ / "no" / "d.txt").string() + "\""), 2);
  EXPECT_EQ(err_, "Error: Unable to open file for saving!\n");
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) EXPECT_FALSE(fs::exists(dir_ / name));
}

TEST_F(CliDocument, InfoJsonNamesEveryTableAndRunField) {
  const std::string doc = Save("run.zub", TwoSteps(), 1);
  ASSERT_EQ(Run("info \"" + doc + "\" --json"), 0) << err_;
  const auto j = nlohmann::json::parse(out_);
  EXPECT_EQ(j["results_available"], 1);
  EXPECT_EQ(j["counts"].size(), 12u);
  EXPECT_EQ(j["counts"]["Ek"], 2);
  EXPECT_EQ(j["counts"]["OrbitR"], 3);
  EXPECT_EQ(j["counts"]["OrbitVr"], 0);
  EXPECT_EQ(j["counts"]["OrbitPoints"], 2);
  EXPECT_EQ(j["run"].size(), 14u);
  EXPECT_EQ(j["run"]["Path"], "/maps/x.sdf");
  EXPECT_EQ(j["run"]["m0"], 1.007276466812);
  EXPECT_EQ(j["run"]["N"], 4);
  EXPECT_NEAR(j["ek_mev_range"][0].get<double>(), 0.6, 1e-12);
  EXPECT_NEAR(j["ek_mev_range"][1].get<double>(), 1.2, 1e-12);
  EXPECT_EQ(j["rmn_m_range"], nlohmann::json::array({0.1, 0.2}));
  EXPECT_EQ(j["f0_hz_range"], nlohmann::json::array({26.2e6, 26.26e6}));
}

TEST_F(CliDocument, InfoOfAnEmptyDocumentHasNoRanges) {
  const std::string doc = Save("empty.zub", ResultTables{}, 0);
  ASSERT_EQ(Run("info \"" + doc + "\" --json"), 0) << err_;
  const auto j = nlohmann::json::parse(out_);
  EXPECT_EQ(j["results_available"], 0);
  EXPECT_TRUE(j["ek_mev_range"].is_null());
  EXPECT_TRUE(j["rmn_m_range"].is_null());
  EXPECT_TRUE(j["f0_hz_range"].is_null());
  ASSERT_EQ(Run("info \"" + doc + "\""), 0) << err_;
  EXPECT_NE(out_.find("Results available: 0"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Energy range: none"), std::string::npos) << out_;
}

TEST_F(CliDocument, InfoRefusesADamagedDocument) {
  std::string bytes = StoreDocumentBytes(TwoSteps(), 1);
  bytes.resize(bytes.size() - 1);
  std::ofstream(dir_ / "cut.zub", std::ios::binary) << bytes;
  EXPECT_EQ(Run("info \"" + (dir_ / "cut.zub").string() + "\""), 2);
  EXPECT_EQ(out_, "");
  EXPECT_NE(err_.find("Damaged document"), std::string::npos) << err_;
}

}  // namespace
}  // namespace zuba

#endif  // ZUBA_CLI_PATH
