#include "results/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/message.h"
#include "tests/shown.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;

// The run description of the preset "TVK-310: p" with an empty path.
RunParameters Tvk310() {
  RunParameters run;
  run.ParticleName = "p";
  run.EkBegin = 0.6;
  run.EkEnd = 60.6;
  run.dEk = 0.6;
  run.Frf = 26.26;
  run.H = 1;
  run.N = 4;
  run.ChargeSign = 0;
  run.Q = 1;
  run.m0 = 1.007276466812;
  run.T0 = 0.0;
  run.TIs = 8 * std::atan(1.0);
  run.h = 1e-4;
  return run;
}

// The header of that run as the report lays it out, written out by hand.
const std::string kTvkHeader =
    "report.txt\r\n"
    "\vPath: \r\n"
    "Paticale name: p\r\n"
    "EkBegin = +.600000 (MeV)\r\n"
    "EkEnd = +60.600000 (MeV)\r\n"
    "dEk = +.600000 (MeV/step)\r\n"
    "Frf = +26.260000 (MHz)\r\n"
    "H = 1\r\n"
    "N = 4\r\n"
    "Elementary charge's number |Q| = 1\r\n"
    "Mass of particle m0 = +1.007276466812000 samu\r\n"
    "T0 = +.000000 (rad)\r\n"
    "TIs = +6.283185 (rad)\r\n"
    "h = +.000100 (rad/step)\r\n"
    "\vEk (MeV)\tRev (m)\tRmn (m)\tF0 (MHz)\tdReo (m)\r\n"
    "\v";

ResultTables OneStep() {
  ResultTables r;
  r.run = Tvk310();
  r.Ek = RealTable({0.6 * 1.0e6 * 1.6021892e-19});  // 0.6 MeV in J
  r.Rmn = RealTable({0.1234});
  r.Bmn = RealTable({1.7});
  r.Rev = RealTable({0.123456789});
  r.F0 = RealTable({26.26e6});
  r.dReo = RealTable({-0.0004});
  return r;
}

TEST(BuildReport, OneStepRecordGivesHeaderOneRowAndAnEmptyLastLine) {
  auto report = BuildReport(OneStep(), "report.txt");
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(*report, kTvkHeader + "+.600000\t+.123457\t+.123400\t+26.260000\t-.000400\r\n\r\n");
}

TEST(BuildReport, RowsFollowEachOtherWithOneLineEndAndMeVAndMHzConversions) {
  ResultTables r = OneStep();
  r.run.Path = "/maps/a b.sdf";
  r.run.ParticleName = "";
  r.Ek = RealTable({1.0e6 * 1.6021892e-19, 25.5e6 * 1.6021892e-19});
  r.Rmn = RealTable({0.05, 1.25});
  r.Bmn = RealTable({1, 1});
  r.Rev = RealTable({0.0500004, -2.0});
  r.F0 = RealTable({13.5e6, 100});
  r.dReo = RealTable({0, -0.0});
  r.OrbitPoints = IntTable({7});  // not part of the report: its length does not matter
  auto report = BuildReport(r, "x.txt");
  ASSERT_TRUE(report.has_value());
  const std::string expectedStart = "x.txt\r\n\vPath: /maps/a b.sdf\r\nPaticale name: \r\n";
  EXPECT_EQ(report->substr(0, expectedStart.size()), expectedStart);
  const std::string rows =
      "\v+1.000000\t+.050000\t+.050000\t+13.500000\t+.000000\r\n"
      "+25.500000\t-2.000000\t+1.250000\t+.000100\t-.000000\r\n\r\n";
  ASSERT_GE(report->size(), rows.size());
  EXPECT_EQ(report->substr(report->size() - rows.size()), rows);
}

// An energy of a precise run that did not close has no values: its row gives the energy, the
// status and the reason. The same statuses in a record of the default closure change nothing.
TEST(BuildReport, EnergyThatDidNotCloseGivesItsStatusAndReason) {
  ResultTables r = OneStep();
  r.Ek = RealTable({0.6e6 * 1.6021892e-19, 1.2e6 * 1.6021892e-19, 1.8e6 * 1.6021892e-19});
  r.Rmn = RealTable({0.1234, 2147483647.0, 2147483647.0});
  r.Bmn = RealTable({1.7, 2147483647.0, 2147483647.0});
  r.Rev = RealTable({0.123456789, 2147483647.0, 2147483647.0});
  r.F0 = RealTable({26.26e6, 2147483647.0, 2147483647.0});
  r.dReo = RealTable({-0.0004, 2147483647.0, 2147483647.0});
  r.closure.status = IntTable({0 | 8, 3, 2});
  r.closure.reasons = {"", "the orbit needs the field beyond the map (R = 0.75 m)", ""};
  const std::string first = "+.600000\t+.123457\t+.123400\t+26.260000\t-.000400\r\n";
  for (int32_t mode : {1, 0}) {
    r.closure.mode = mode;
    auto report = BuildReport(r, "report.txt");
    ASSERT_TRUE(report.has_value());
    const std::string rows =
        mode == 1
            ? first +
                  "+1.200000\tfailed: the orbit needs the field beyond the map (R = 0.75 m)\r\n"
                  "+1.800000\tsingular\r\n\r\n"
            : first +
                  "+1.200000\t+2147483647.000000\t+2147483647.000000\t+2147.483647\t"
                  "+2147483647.000000\r\n"
                  "+1.800000\t+2147483647.000000\t+2147483647.000000\t+2147.483647\t"
                  "+2147483647.000000\r\n\r\n";
    EXPECT_EQ(*report, kTvkHeader + rows) << mode;
  }
}

// A precise run that knows its tolerance names it after the run fields; a precise run whose
// document did not keep it, and a run of the default closure, have the header as it was.
TEST(BuildReport, PreciseRunNamesItsToleranceInTheHeader) {
  const size_t columns = kTvkHeader.find("\vEk (MeV)");
  struct Case {
    int32_t mode;
    double tolerance;
    std::string line;
  };
  for (const Case& c : {Case{1, 1e-9, "Precise closure tolerance = 1e-09\r\n"}, Case{1, 0, ""},
                        Case{0, 1e-9, ""}}) {
    ResultTables r;
    r.run = Tvk310();
    r.closure.mode = c.mode;
    r.closure.tolerance = c.tolerance;
    EXPECT_EQ(BuildReport(r, "report.txt"),
              kTvkHeader.substr(0, columns) + c.line + kTvkHeader.substr(columns))
        << c.mode << " " << c.tolerance;
  }
}

TEST(BuildReport, NoStepsGivesTheHeaderOnly) {
  ResultTables r;
  r.run = Tvk310();
  EXPECT_EQ(BuildReport(r, "report.txt"), kTvkHeader);
}

TEST(BuildReport, RefusesPerEnergyTablesOfDifferentLengths) {
  for (int which = 0; which < 6; ++which) {
    ResultTables r = OneStep();
    RealTable* tables[] = {&r.Ek, &r.Rmn, &r.Bmn, &r.Rev, &r.F0, &r.dReo};
    tables[which]->resize(2);
    EXPECT_FALSE(BuildReport(r, "t").has_value()) << which;
  }
}

class ReportFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zuba-report-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST_F(ReportFile, WritesTheReportWithTheFileNameAsTitleReplacingAnEarlierFile) {
  const fs::path path = dir_ / "report.txt";
  std::ofstream(path) << "an earlier and much longer content that must disappear entirely\n";
  MessageCapture capture;
  EXPECT_EQ(test::SaveReportShown(OneStep(), path.string()), test::ReportWritten::Written);
  EXPECT_EQ(Read(path), *BuildReport(OneStep(), "report.txt"));
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ReportFile, UnequalTablesWriteNothingAndSayNothing) {
  ResultTables r = OneStep();
  r.F0.resize(0);
  MessageCapture capture;
  EXPECT_EQ(test::SaveReportShown(r, (dir_ / "r.txt").string()),
            test::ReportWritten::TablesUnequal);
  EXPECT_FALSE(fs::exists(dir_ / "r.txt"));
  EXPECT_TRUE(capture.messages().empty());
}

TEST_F(ReportFile, AFileThatCannotBeWrittenIsReportedAndLeavesWhatWasThere) {
  MessageCapture capture;
  EXPECT_EQ(test::SaveReportShown(OneStep(), (dir_ / "missing" / "r.txt").string()),
            test::ReportWritten::CannotOpen);
  fs::create_directory(dir_ / "taken");  // a folder where the file should go
  std::ofstream(dir_ / "taken" / "keep") << "kept";
  EXPECT_EQ(test::SaveReportShown(OneStep(), (dir_ / "taken").string()),
            test::ReportWritten::CannotOpen);
  EXPECT_EQ(Read(dir_ / "taken" / "keep"), "kept");
  const Message expected{"Unable to open file for saving!", "Error", Icon::Error, Owner::View};
  EXPECT_EQ(capture.messages(), (std::vector<Message>{expected, expected}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace zuba
