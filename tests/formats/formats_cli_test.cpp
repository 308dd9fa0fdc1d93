// zuba-cli on field maps of every format, run as the real program: map-info, convert, run with a
// sector completed by --replicate, and the refusals of the reading options.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "results/document.h"
#include "tests/cli_harness.h"
#include "tests/formats/map_files.h"

namespace zuba {
namespace {

using test::CliRun;
using test::CliTest;
using test::KnownField;
using test::Mesh;

using FormatsCli = CliTest;

Mesh ThirdDegree() {
  Mesh m;
  m.dThetaDeg = 1.0 / 3;
  m.nTheta = 1080;
  return m;
}

TEST_F(FormatsCli, MapInfoReadsEveryFormat) {
  Mesh sector;
  sector.dThetaDeg = 7.5;
  sector.nTheta = 12;
  KnownField field;
  struct Case {
    std::string file, options, format, unit;
    int azimuths;
  };
  const std::vector<Case> cases = {
      {Write("polar.txt", test::PolarFile(ThirdDegree(), field, "-3")), "", "polar", "kG", 1080},
      {Write("records.txt", test::RecordFile(sector, field, "7.5", 4)), "--replicate 4", "records",
       "kG", 48},
      {Write("table.csv", test::TableFile(sector, field, "r_m,theta_deg,bz_T", ",", 1, true, 1)),
       "--replicate 4 --negate", "table", "T", 48},
      {Write("table.txt", test::TableFile(sector, field, "", " ", 1000, true, 1e4)),
       "--format table --replicate 4 --r-unit mm --theta-unit deg --b-unit Gs", "table", "Gs", 48},
  };
  for (const Case& c : cases) {
    CliRun run = Cli("map-info --json " + Quote(c.file) + " " + c.options);
    ASSERT_EQ(run.exitCode, 0) << c.file << ": " << run.err;
    const nlohmann::json info = nlohmann::json::parse(run.out);
    EXPECT_EQ(info["format"], c.format);
    EXPECT_EQ(info["unit"], c.unit);
    EXPECT_EQ(info["azimuth_nodes"], c.azimuths);
    EXPECT_EQ(info["radius_nodes"], sector.nR);
    EXPECT_DOUBLE_EQ(info["dr_m"].get<double>(), 0.01);
  }
}

TEST_F(FormatsCli, ConvertNamesTheStepsItCanWriteAndResamplesOntoTheChosenOne) {
  const std::string map = Quote(Write("third.txt", test::PolarFile(ThirdDegree(), {}, "-3")));
  const std::string out = Quote((dir_ / "out.sdf").string());
  CliRun refused = Cli("convert " + map + " -o " + out);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("0.32, 0.36, 0.3, 0.375, or in quarter degrees 0.25 or 0.5\n"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.sdf"));
  EXPECT_EQ(Cli("convert " + map + " --dtheta 0.333 -o " + out).exitCode, 1);

  CliRun resampled = Cli("convert " + map + " --dtheta 0.32 --unit T -o " + out);
  ASSERT_EQ(resampled.exitCode, 0) << resampled.err;
  EXPECT_NE(resampled.out.find("Resampled from 1080 to 1125 azimuths"), std::string::npos)
      << resampled.out;
  CliRun info = Cli("map-info --json " + out);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  const nlohmann::json j = nlohmann::json::parse(info.out);
  EXPECT_EQ(j["format"], "sdf");
  EXPECT_EQ(j["unit"], "T");
  EXPECT_EQ(j["azimuth_nodes"], 1125);
}

// A one-sector map completed with --replicate runs to the same closed orbits as the whole map, and
// the document says how the map was read.
TEST_F(FormatsCli, ReplicatedSectorRunsLikeTheWholeMap) {
  KnownField field;
  field.mean = 1.7;
  field.slope = 0;
  field.harmonics = {{4, 0.2, 0.5}, {8, 0.02, 0.0}};
  Mesh whole;
  whole.rMinMm = 50;
  whole.nR = 71;
  whole.dThetaDeg = 2;
  whole.nTheta = 180;
  Mesh sector = whole;
  sector.nTheta = 46;  // 90° and the closing column
  const std::string run = "run --quiet --set EkBegin=5 --set EkEnd=25 --set dEk=10 --threads 1 ";
  CliRun full = Cli(run + "--map " + Quote(Write("whole.txt", test::PolarFile(whole, field, "2"))) +
                    " --values " + Quote((dir_ / "whole.tsv").string()));
  ASSERT_EQ(full.exitCode, 0) << full.err;
  CliRun one =
      Cli(run + "--map " + Quote(Write("sector.txt", test::PolarFile(sector, field, "2"))) +
          " --replicate 4 --values " + Quote((dir_ / "sector.tsv").string()) + " --save " +
          Quote((dir_ / "sector.zub").string()));
  ASSERT_EQ(one.exitCode, 0) << one.err;

  std::istringstream a(Slurp(dir_ / "whole.tsv")), b(Slurp(dir_ / "sector.tsv"));
  std::string header;
  std::getline(a, header);
  std::getline(b, header);
  int rows = 0;
  for (std::string x, y; std::getline(a, x) && std::getline(b, y); ++rows) {
    std::istringstream cx(x), cy(y);
    for (int column = 0; column < 7; ++column) {  // Ek_J .. dReo_m
      double vx = 0, vy = 0;
      cx >> vx;
      cy >> vy;
      EXPECT_NEAR(vx, vy, column == 6 ? 1e-12 : 1e-11 * std::fabs(vx)) << "row " << rows;
    }
  }
  EXPECT_EQ(rows, 3);
  Result<DocumentLoad> document = LoadDocumentFile((dir_ / "sector.zub").string());
  ASSERT_TRUE(document.ok()) << document.message().text;
  EXPECT_EQ(document->results.run.Path, (dir_ / "sector.txt").string());
  EXPECT_EQ(document->results.mapReading.format, MapFormat::Polar);
  EXPECT_EQ(document->results.mapReading.replicate, 4);
  CliRun info = Cli("info --json " + Quote((dir_ / "sector.zub").string()));
  ASSERT_EQ(info.exitCode, 0) << info.err;
  const nlohmann::json reading = nlohmann::json::parse(info.out)["map_reading"];
  EXPECT_EQ(reading["format"], "polar");
  EXPECT_EQ(reading["replicate"], 4);
  EXPECT_EQ(reading["negate"], false);
}

TEST_F(FormatsCli, RefusesReadingOptionsThatCannotApply) {
  const std::string sdf = Quote(std::string(ZUBA_EXAMPLES_DIR) + "/tvk310-p.sdf");
  struct Case {
    std::string arguments;
    int exitCode;
    std::string err;  // the start of the one line on stderr
  };
  const std::string polar =
      Write("short.txt", "100\n10\n0\n90\n4\n2\n1.5 2.5 3.5 4.5\n5.5 6.5 7.5");
  for (const Case& c : std::vector<Case>{
           {"map-info " + sdf + " --replicate 4", 2, "Error: "},
           {"field " + sdf + " 0.3 0 --reverse", 2, "Error: "},
           {"harmonics " + sdf + " --sectors 4 --mirror", 1, "--mirror completes half a sector"},
           {"map-info " + sdf + " --replicate 0", 1, "--replicate: Value 0 not in range"},
           {"map-info " + sdf + " --format csv", 1, "--format: csv not in"},
           {"run --map " + Quote(polar) + " --quiet", 2,
            "Error: " + polar + ": the file ends after 7 of the 8 values"},
       }) {
    CliRun run = Cli(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
    EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << run.err;
    if (c.exitCode == 2) {
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
  }
}

}  // namespace
}  // namespace zuba
