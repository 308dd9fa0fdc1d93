// Machine files: what a file sets, what it leaves at its defaults, the text written back, and one
// refusal line naming the file and the field for every kind of fault.
#include "calc/run/machine_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

namespace zuba {
namespace {

namespace fs = std::filesystem;

class MachineFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zuba-machine-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "maps");
    std::ofstream(dir_ / "maps" / "ring.sdf") << "Gs\n";
    file_ = (dir_ / "ring.json").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A complete machine file named `name` (none when empty) with `fields` and `rest` inserted.
  static std::string Text(const std::string& fields, const std::string& rest = "",
                          const std::string& name = "Ring") {
    return "{" + (name.empty() ? "" : "\"name\": \"" + name + "\", ") +
           R"("fields": {"ParticleName": "p", "m0": 1.007276466812, "Q": 1,
      "Frf": 50.65, "H": 6, "N": 8, "EkBegin": 72, "EkEnd": 590, "dEk": 2)" +
           fields + "}" + rest + "}";
  }

  fs::path dir_;
  std::string file_;
};

TEST_F(MachineFileTest, SetsTheFieldsTheMapAndTheClosure) {
  const Result<Machine> m =
      ParseMachine(Text(R"(, "h": 2e-4)",
                        R"(, "closure": "precise", "gain_per_turn_mev": 2.5, "tolerance": 1e-11,
           "map": {"path": "maps/ring.sdf", "format": "sdf", "replicate": 8, "negate": true})"),
                   file_);
  ASSERT_TRUE(m) << m.message().text;
  EXPECT_EQ(m->name, "Ring");
  EXPECT_EQ(m->run.ParticleName, "p");
  EXPECT_EQ(m->run.Frf, 50.65);
  EXPECT_EQ(m->run.H, 6);
  EXPECT_EQ(m->run.N, 8);
  EXPECT_EQ(m->run.EkEnd, 590);
  EXPECT_EQ(m->run.h, 2e-4);
  EXPECT_EQ(m->run.ChargeSign, 0);  // a positive ion unless the file says otherwise
  EXPECT_EQ(m->run.T0, 0);
  EXPECT_EQ(m->run.TIs, 8 * std::atan(1.0));
  EXPECT_EQ(m->closure, ClosureMode::Precise);
  EXPECT_EQ(m->gainPerTurnMeV, 2.5);
  EXPECT_EQ(m->tolerance, 1e-11);
  ASSERT_TRUE(m->hasMap);
  EXPECT_EQ(m->mapPath, "maps/ring.sdf");
  EXPECT_EQ(m->run.Path, (dir_ / "maps" / "ring.sdf").string());  // from the file's folder
  EXPECT_EQ(m->mapReading.format, MapFormat::Sdf);
  EXPECT_EQ(m->mapReading.replicate, 8);
  EXPECT_TRUE(m->mapReading.negate);
  EXPECT_FALSE(m->mapReading.reverse);

  // Written and read again: the same machine.
  const Result<Machine> again = ParseMachine(MachineFileText(*m), file_);
  ASSERT_TRUE(again) << again.message().text;
  EXPECT_EQ(again->name, m->name);
  EXPECT_EQ(again->run, m->run);
  EXPECT_EQ(again->closure, m->closure);
  EXPECT_EQ(again->gainPerTurnMeV, m->gainPerTurnMeV);
  EXPECT_EQ(again->mapReading, m->mapReading);

  // Without a name, a map, a closure or a gain: the file's name and nothing else.
  const Result<Machine> plain = ParseMachine(Text("", "", ""), file_);
  ASSERT_TRUE(plain) << plain.message().text;
  EXPECT_EQ(plain->name, "ring");
  EXPECT_FALSE(plain->hasMap);
  EXPECT_TRUE(plain->run.Path.empty());
  EXPECT_FALSE(plain->closure);
  EXPECT_FALSE(plain->gainPerTurnMeV);
}

TEST_F(MachineFileTest, RefusesWithTheFileAndTheField) {
  struct Case {
    std::string text, refusal;
  };
  const std::string f = file_ + ": ";
  const Case cases[] = {
      {"[1, 2]", f + "not a JSON machine file: the text is not an object"},
      {Text("", R"(, "nme": "x")"),
       f + "unknown field \"nme\"; the fields are name fields gain_per_turn_mev closure tolerance "
           "map"},
      {Text(R"(, "Frq": 50)"), f + "unknown field \"fields.Frq\"; the fields are ParticleName "
                                   "EkBegin EkEnd dEk Frf H N ChargeSign Q m0 h"},
      {Text(R"(, "T0": 1)"), f + "unknown field \"fields.T0\"; the fields are ParticleName "
                                 "EkBegin EkEnd dEk Frf H N ChargeSign Q m0 h"},
      {Text(R"(, "Frf": "50.65")"), f + "\"fields.Frf\" must be a number, not \"50.65\""},
      {Text(R"(, "H": 6.5)"), f + "\"fields.H\" must be a whole number, not 6.5"},
      {Text(R"(, "ChargeSign": true)"),
       f + "\"fields.ChargeSign\" must be a whole number, not true"},
      {Text(R"(, "ParticleName": 1)"), f + "\"fields.ParticleName\" must be a text, not 1"},
      {R"({"fields": {"ParticleName": "p", "m0": 1, "Q": 1, "Frf": 50, "H": 6, "N": 8,
          "EkBegin": 72, "EkEnd": 590}})",
       f + "\"fields.dEk\" is missing"},
      {R"({"name": "x"})", f + "\"fields\" is missing"},
      {Text("", R"(, "closure": "exact")"),
       f + "\"closure\" must be \"standard\" or \"precise\", not \"exact\""},
      {Text("", R"(, "gain_per_turn_mev": 0)"),
       f + "\"gain_per_turn_mev\" must be a number of MeV from 1e-6 to 1e6, not 0"},
      {Text("", R"(, "tolerance": 1e-3)"),
       f + "\"tolerance\" must be a number from 1e-14 to 1e-4, not 0.001"},
      {Text("", R"(, "tolerance": "1e-9")"),
       f + "\"tolerance\" must be a number from 1e-14 to 1e-4, not \"1e-9\""},
      {Text("", R"(, "map": {"path": "maps/none.sdf"})"),
       f + "\"map.path\" names no file: " + (dir_ / "maps" / "none.sdf").string()},
      {Text("", R"(, "map": {"format": "sdf"})"), f + "\"map.path\" is missing"},
      {Text("", R"(, "map": {"path": "maps/ring.sdf", "replicate": 400})"),
       f + "\"map.replicate\" must be a whole number of sectors from 0 to 360, not 400"},
      {Text("", R"(, "map": {"path": "maps/ring.sdf", "mirror": "yes"})"),
       f + "\"map.mirror\" must be true or false, not \"yes\""},
      {Text("", R"(, "map": {"path": "maps/ring.sdf", "format": "opera"})"),
       f + "\"map.format\" must be one of auto sdf polar records table polar-mesh, not \"opera\""},
      {Text("", R"(, "map": {"path": "maps/ring.sdf", "colour": 1})"),
       f + "unknown field \"map.colour\"; the fields are path format replicate mirror negate "
           "reverse r_unit theta_unit b_unit"},
  };
  for (const Case& c : cases) {
    const Result<Machine> m = ParseMachine(c.text, file_);
    ASSERT_FALSE(m) << c.text;
    EXPECT_EQ(m.message().text, c.refusal);
  }
  // Not JSON at all: the parser's position.
  const Result<Machine> broken = ParseMachine("{\"name\": ", file_);
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.message().text.rfind(f + "not a JSON machine file: parse error at line 1", 0),
            0u)
      << broken.message().text;
  // --mirror without --replicate: the reading options' own refusal, under "map".
  const Result<Machine> mirror =
      ParseMachine(Text("", R"(, "map": {"path": "maps/ring.sdf", "mirror": true})"), file_);
  ASSERT_FALSE(mirror);
  EXPECT_EQ(mirror.message().text.rfind(f + "\"map\" ", 0), 0u) << mirror.message().text;
}

TEST_F(MachineFileTest, ListsTheMachineFilesOfAFolderByName) {
  std::ofstream(dir_ / "b.json") << Text("", "", "Beta");
  std::ofstream(dir_ / "a.json") << Text("", "", "Zeta");
  std::ofstream(dir_ / "broken.json") << "{";
  std::ofstream(dir_ / "notes.txt") << Text("");
  std::vector<std::string> refused;
  const std::vector<MachineEntry> entries = ListMachineFiles(dir_.string(), &refused);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "Beta");
  EXPECT_EQ(entries[0].path, (dir_ / "b.json").string());
  EXPECT_EQ(entries[1].name, "Zeta");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_NE(refused[0].find("broken.json"), std::string::npos);
  EXPECT_TRUE(ListMachineFiles((dir_ / "none").string()).empty());
}

TEST(MachinePaths, RelativeBesideTheFileAbsoluteAcrossTheRoot) {
  EXPECT_EQ(PathRelativeToFile("/data/maps/ring.sdf", "/data/machines/ring.json"),
            "../maps/ring.sdf");
  EXPECT_EQ(PathRelativeToFile("/data/ring.sdf", "/data/ring.json"), "ring.sdf");
  EXPECT_EQ(PathRelativeToFile("/maps/ring.sdf", "/home/u/ring.json"), "/maps/ring.sdf");
}

}  // namespace
}  // namespace zuba
