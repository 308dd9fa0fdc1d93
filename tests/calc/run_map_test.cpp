// The field map of a run found again for the views: beside the document or in the current folder,
// drawn only while its file is the one the run read, and a prepared run stamping its map.
#include "calc/run/run_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "calc/synth/synth_map.h"
#include "platform/file_stamp.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;

struct RunMapFixture : ::testing::Test {
  RunMapFixture() {
    dir = fs::temp_directory_path() / ("zuba_run_map_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    SynthMapOptions options;
    options.rMax = 0.3;
    options.dR = 0.05;
    options.dTheta = 10;
    mapPath = (dir / "small.sdf").string();
    EXPECT_TRUE(WriteSynthMap(options, mapPath));
    record.run.Path = mapPath;
    record.mapFile = StampFile(mapPath);
  }
  ~RunMapFixture() override { fs::remove_all(dir); }

  fs::path dir;
  std::string mapPath;
  ResultTables record;
};

TEST(RunMapCandidates, AbsolutePathAloneRelativeBesideTheDocumentThenHere) {
  EXPECT_EQ(RunMapCandidates("/maps/a.sdf", "/docs"), std::vector<std::string>{"/maps/a.sdf"});
  EXPECT_EQ(RunMapCandidates("maps/a.sdf", "/docs"),
            (std::vector<std::string>{"/docs/maps/a.sdf", "maps/a.sdf"}));
  EXPECT_EQ(RunMapCandidates("a.sdf", "/docs/"),
            (std::vector<std::string>{"/docs/a.sdf", "a.sdf"}));
  EXPECT_EQ(RunMapCandidates("a.sdf", ""), std::vector<std::string>{"a.sdf"});
  EXPECT_TRUE(RunMapCandidates("", "/docs").empty());
}

using RunMapLoad = RunMapFixture;

TEST_F(RunMapLoad, DrawnOnlyWhileTheFileIsTheRunsOne) {
  struct Case {
    const char* name;
    std::function<void(ResultTables&)> change;
    bool drawn;
    const char* note;  // a part of the note; empty: no note
  } cases[] = {
      {"unchanged", [](ResultTables&) {}, true, ""},
      {"relative path beside the document", [](ResultTables& r) { r.run.Path = "small.sdf"; }, true,
       ""},
      {"record without a stamp", [](ResultTables& r) { r.mapFile = FileStamp{}; }, true,
       "drawn as it is now"},
      {"changed since the run",
       [this](ResultTables&) { std::ofstream(mapPath, std::ios::app) << " 0"; }, false,
       "has changed since the run"},
      {"changed in place to the same size",
       [this](ResultTables&) {
         std::ifstream in(mapPath);
         std::string text(std::istreambuf_iterator<char>(in), {});
         const size_t at = text.find_last_of("0123456789");
         text[at] = text[at] == '7' ? '8' : '7';  // a digit of the last value, the size kept
         std::ofstream(mapPath, std::ios::trunc) << text;
       },
       false, "has changed since the run"},
      {"gone", [this](ResultTables&) { fs::remove(mapPath); }, false, "is gone"},
      {"unreadable, unstamped",
       [this](ResultTables& r) {
         std::ofstream(mapPath, std::ios::trunc) << "not a map";
         r.mapFile = FileStamp{};
       },
       false, "cannot be read"},
      {"no map named", [](ResultTables& r) { r.run.Path.clear(); }, false, "names no field map"},
  };
  const std::string original = [&] {
    std::ifstream in(mapPath);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(mapPath, std::ios::trunc) << original;
    ResultTables r = record;
    c.change(r);
    const RunMap map = LoadRunMap(r, dir.string());
    EXPECT_EQ(map.grid != nullptr, c.drawn);
    if (std::string(c.note).empty())
      EXPECT_EQ(map.note, "");
    else
      EXPECT_NE(map.note.find(c.note), std::string::npos) << map.note;
    if (map.grid) {
      const Result<FieldMap> read = ReadFieldMap(mapPath);
      ASSERT_TRUE(read);
      EXPECT_EQ(map.grid->radii, read->radii);
      EXPECT_EQ(map.grid->azimuths, read->azimuths);
      EXPECT_EQ(map.grid->field, read->field);
      EXPECT_EQ(map.grid->thetaStart, read->thetaStart);
      EXPECT_TRUE(map.grid->usable());
    }
  }
}

TEST_F(RunMapLoad, APreparedRunStampsTheMapItRead) {
  RunParameters p;
  ASSERT_TRUE(ApplyPreset(kModeTvk310, p));
  p.Path = mapPath;
  p.EkEnd = 1.8;
  p.dEk = 0.6;
  p.h = 0.01;
  const Result<SharedRun> prepared = PrepareCalculation(p);
  ASSERT_TRUE(prepared) << prepared.message().text;
  EXPECT_TRUE((*prepared)->mapFile.known());
  EXPECT_EQ((*prepared)->mapFile, StampFile(mapPath));
}

}  // namespace
}  // namespace zuba
