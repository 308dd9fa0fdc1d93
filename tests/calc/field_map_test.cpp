#include "calc/maps/field_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/message.h"
#include "tests/shown.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;

const double kPi = 4 * std::atan(1.0);

class FieldMapTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zuba-fieldmap-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& content) {
    const std::string path = (dir_ / "map.sdf").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path;
  }

  // Reads content as a map; records the messages shown.
  std::optional<FieldMap> Read(const std::string& content) {
    capture_.clear();
    return test::ReadFieldMapShown(Write(content));
  }

  // Expects a refusal with exactly one message of that text and owner.
  void ExpectRefused(const std::string& content, const std::string& text, Owner owner) {
    std::optional<FieldMap> map = Read(content);
    EXPECT_FALSE(map) << content.substr(0, 80);
    std::vector<Message> messages = capture_.messages();
    ASSERT_EQ(messages.size(), 1u) << content.substr(0, 80);
    EXPECT_EQ(messages[0], (Message{text, "Error", Icon::Error, owner})) << content.substr(0, 80);
  }

  std::string Values(int count, const std::string& value = "1") {
    std::string s;
    for (int i = 0; i < count; ++i) s += value + (i % 10 == 9 ? "\n" : " ");
    return s;
  }

  fs::path dir_;
  MessageCapture capture_;
};

// A map of 3 radii and 4 azimuths whose values tell their position: 1000 iR + 10 iθ gauss.
std::string SmallMap() {
  std::string s = "Gs\n0.1 0.3 0.1\n0 360 90\n";
  for (int iR = 0; iR < 3; ++iR)
    for (int iT = 0; iT < 4; ++iT) s += std::to_string(1000 * iR + 10 * iT) + " ";
  return s;
}

TEST_F(FieldMapTest, ReadsTablesRadiusMajorInTesla) {
  std::optional<FieldMap> map = Read(SmallMap());
  ASSERT_TRUE(map);
  EXPECT_TRUE(capture_.messages().empty());
  EXPECT_EQ(map->unit, "Gs");
  EXPECT_EQ(map->nR, 3);
  EXPECT_EQ(map->nTheta, 4);
  ASSERT_EQ(map->radii.size(), 3u);
  EXPECT_DOUBLE_EQ(map->radii[0], 0.1);
  EXPECT_DOUBLE_EQ(map->radii[2], 0.3);
  ASSERT_EQ(map->azimuths.size(), 4u);
  EXPECT_EQ(map->azimuths[0], 0.0);
  EXPECT_DOUBLE_EQ(map->azimuths[3], 1.5 * kPi);
  EXPECT_EQ(map->thetaStart, 0.0);
  EXPECT_DOUBLE_EQ(map->thetaEnd, 2 * kPi);
  ASSERT_EQ(map->field.size(), 12u);
  ASSERT_EQ(map->moments.size(), 12u);
  for (int iR = 0; iR < 3; ++iR)
    for (int iT = 0; iT < 4; ++iT) {
      EXPECT_DOUBLE_EQ(map->field[iR * 4 + iT], (1000 * iR + 10 * iT) * 1e-4);
      EXPECT_EQ(map->moments[iR * 4 + iT], 0.0);
    }
}

TEST_F(FieldMapTest, ExampleHeaderGives71By180Nodes) {
  std::optional<FieldMap> map = Read("Gs 0.05 0.75 0.01 0 360 2\n" + Values(71 * 180, "17000"));
  ASSERT_TRUE(map);
  EXPECT_EQ(map->nR, 71);
  EXPECT_EQ(map->nTheta, 180);
  EXPECT_NEAR(map->radii.back(), 0.75, 1e-12);
  EXPECT_NEAR(map->azimuths.back(), 179 * 2 * kPi / 180, 1e-12);
  EXPECT_DOUBLE_EQ(map->field.back(), 1.7);
}

TEST_F(FieldMapTest, RunningSumsBuildRadiusAndAzimuthTables) {
  std::optional<FieldMap> map = Read("T 0.05 0.75 0.01 0 360 2\n" + Values(71 * 180));
  ASSERT_TRUE(map);
  double r = 0.05, a = 0;
  const double delta = 8 * std::atan(1.0) / 180;
  for (int i = 0; i < 71; ++i, r = r + 0.01) EXPECT_EQ(map->radii[i], r);
  for (int j = 0; j < 180; ++j, a = a + delta) EXPECT_EQ(map->azimuths[j], a);
}

TEST_F(FieldMapTest, UnitTokenIsExactAndCaseSensitive) {
  for (const char* unit : {"gs", "GS", "Tesla", "t", "G", "\"Gs\"", "Gs,"})
    ExpectRefused(std::string(unit) + " 0.1 0.3 0.1 0 360 90 " + Values(12),
                  "Field Map Unit Error!", Owner::View);
  std::optional<FieldMap> map = Read("T 0.1 0.3 0.1 0 360 90 " + Values(12));
  ASSERT_TRUE(map);
  EXPECT_EQ(map->unit, "T");
}

TEST_F(FieldMapTest, ValuesAreKeptToTenMicroteslaHalvesAwayFromZero) {
  std::optional<FieldMap> t =
      Read("T 0.1 0.3 0.1 0 360 90 1.234567 -1.234567 0.000005 -0.000005 " + Values(8));
  ASSERT_TRUE(t);
  EXPECT_DOUBLE_EQ(t->field[0], 1.23457);
  EXPECT_DOUBLE_EQ(t->field[1], -1.23457);
  EXPECT_DOUBLE_EQ(t->field[2], 1e-5);
  EXPECT_DOUBLE_EQ(t->field[3], -1e-5);
  std::optional<FieldMap> gs =
      Read("Gs 0.1 0.3 0.1 0 360 90 12345.67 0.05 -0.05 0.04 0.25 -0.25 " + Values(6));
  ASSERT_TRUE(gs);
  EXPECT_DOUBLE_EQ(gs->field[0], 1.23457);
  EXPECT_DOUBLE_EQ(gs->field[1], 1e-5);  // 0.05 Gs rounds up to 0.1 Gs
  EXPECT_DOUBLE_EQ(gs->field[2], -1e-5);
  EXPECT_EQ(gs->field[3], 0.0);
  EXPECT_DOUBLE_EQ(gs->field[4], 3e-5);  // exactly half a step: away from zero
  EXPECT_DOUBLE_EQ(gs->field[5], -3e-5);
}

TEST_F(FieldMapTest, NumbersAreDecimalWithAnEOrDExponentWithoutLocale) {
  std::optional<FieldMap> map =
      Read("T 0.1 0.3 0.1 0 360 90 +2.5 .5 5. -0 1e-400 1.5D-1 2d0 7E+0 " + Values(4));
  ASSERT_TRUE(map);
  EXPECT_DOUBLE_EQ(map->field[0], 2.5);
  EXPECT_DOUBLE_EQ(map->field[1], 0.5);
  EXPECT_DOUBLE_EQ(map->field[2], 5.0);
  EXPECT_EQ(map->field[3], 0.0);
  EXPECT_EQ(map->field[4], 0.0);  // below the smallest double
  EXPECT_DOUBLE_EQ(map->field[5], 0.15);  // Fortran's double-precision exponent
  EXPECT_DOUBLE_EQ(map->field[6], 2.0);
  EXPECT_DOUBLE_EQ(map->field[7], 7.0);
}

TEST_F(FieldMapTest, AValueThatIsNoNumberIsRefusedNamingItsNode) {
  // The fifth value: radius node 2, azimuth node 1.
  for (const char* value : {"0x10", "1e", "nan", "inf", "-inf", "12abc", "1,5", "7e0e1", "--1",
                            "1.5e-2xyz", "abc", "1e400"})
    ExpectRefused("T 0.1 0.3 0.1 0 360 90 1 2 3 4 " + std::string(value) + " " + Values(7),
                  "Field map value \"" + std::string(value) +
                      "\" at radius node 2, azimuth node 1 is not a number!",
                  Owner::View);
}

TEST_F(FieldMapTest, HeaderValuesAreKeptToOneThousandth) {
  // Rmin 0.1234 -> 0.123 and dR 0.0005 -> 0.001: three radii 0.123, 0.124, 0.125.
  std::optional<FieldMap> map = Read("T 0.1234 0.1254 0.0005 0 360 90 " + Values(12));
  ASSERT_TRUE(map);
  EXPECT_EQ(map->nR, 3);
  EXPECT_DOUBLE_EQ(map->radii[0], 0.123);
  EXPECT_DOUBLE_EQ(map->radii[2], 0.125);
  // A step below half a thousandth rounds to 0: a header fault.
  ExpectRefused("T 0.1 0.3 0.0004 0 360 90 " + Values(12), "Field map header error!", Owner::View);
  ExpectRefused("T 0.1 0.3 0.1 0 360 0.0004 " + Values(12), "Magnetic field map header error!",
                Owner::View);
}

TEST_F(FieldMapTest, AzimuthTableStartsAtTheNearestWholeStep) {
  std::optional<FieldMap> half = Read("T 0.1 0.3 0.1 -180 180 1 " + Values(3 * 360));
  ASSERT_TRUE(half);
  EXPECT_EQ(half->nTheta, 360);
  EXPECT_NEAR(half->thetaStart, -kPi, 1e-12);
  EXPECT_NEAR(half->thetaEnd, kPi, 1e-12);

  std::optional<FieldMap> shifted = Read("T 0.1 0.3 0.1 0.5 360.5 1 " + Values(3 * 360));
  ASSERT_TRUE(shifted);
  EXPECT_EQ(shifted->nTheta, 360);
  EXPECT_NEAR(shifted->azimuths[0], kPi / 180, 1e-15);  // k0 = round(0.5) = 1
}

TEST_F(FieldMapTest, MapMustCoverOneFullTurn) {
  ExpectRefused("T 0.1 0.3 0.1 0 359 1 " + Values(3 * 359), "Magnetic field map isn't full!",
                Owner::View);
  ExpectRefused("T 0.1 0.3 0.1 0 90 2 " + Values(3 * 45), "Magnetic field map isn't full!",
                Owner::View);
  ExpectRefused("T 0.1 0.3 0.1 0 360.5 1 " + Values(3 * 361), "Magnetic field map isn't full!",
                Owner::View);  // the bounds are strict
  std::optional<FieldMap> map = Read("T 0.1 0.3 0.1 0 360.4 1 " + Values(3 * 360));
  ASSERT_TRUE(map);
  EXPECT_EQ(map->nTheta, 360);
}

TEST_F(FieldMapTest, ReversedOrEmptyRangesAreHeaderErrors) {
  const std::string v = Values(12);
  ExpectRefused("Gs 0.3 0.3 0.1 0 360 90 " + v, "Field map header error!", Owner::View);
  ExpectRefused("Gs 0.3 0.1 0.1 0 360 90 " + v, "Field map header error!", Owner::View);
  ExpectRefused("Gs 0.1 0.3 -0.1 0 360 90 " + v, "Field map header error!", Owner::View);
  ExpectRefused("Gs 0.1 0.3 0.1 0 360 0 " + v, "Magnetic field map header error!", Owner::View);
  ExpectRefused("Gs 0.1 0.3 0.1 360 0 90 " + v, "Magnetic field map header error!", Owner::View);
  // The radius header is checked before the azimuth header is looked at.
  ExpectRefused("Gs 0.3 0.1 0.1 0 360 0 " + v, "Field map header error!", Owner::View);
}

TEST_F(FieldMapTest, NonFiniteHeaderValuesAreHeaderErrorsOfTheirGroup) {
  const std::string v = Values(12);
  for (const char* radius : {"nan 0.3 0.1", "0.1 inf 0.1", "0.1 0.3 inf", "-inf 0.3 0.1",
                             "0.1 0.3 nan", "0.1 1e308 0.1"})
    ExpectRefused(std::string("Gs ") + radius + " 0 360 90 " + v, "Field map header error!",
                  Owner::View);
  for (const char* azimuth : {"nan 360 90", "0 inf 90", "0 360 nan", "-inf 0 90", "0 360 inf"})
    ExpectRefused(std::string("Gs 0.1 0.3 0.1 ") + azimuth + " " + v,
                  "Magnetic field map header error!", Owner::View);
  // A header value that is no decimal number is a header fault of its group too.
  for (const char* radius : {"0x1p-3 0.325 0.1", "0.1 0.3abc 0.1", "0.1 0.3 1e"})
    ExpectRefused(std::string("Gs ") + radius + " 0 360 90 " + v, "Field map header error!",
                  Owner::View);
  ExpectRefused("Gs 0.1 0.3 0.1 0 0x168 90 " + v, "Magnetic field map header error!",
                Owner::View);
}

TEST_F(FieldMapTest, NodeCountsBeyondThirtyTwoBitsAreHeaderErrorsOfTheirGroup) {
  ExpectRefused("Gs -1e10 1e10 0.001 0 360 90 1 2 3", "Field map header error!", Owner::View);
  ExpectRefused("Gs 0 1e7 0.001 0 360 90 1 2 3", "Field map header error!", Owner::View);
  ExpectRefused("Gs 0.1 0.3 0.1 0 1e12 0.001 1 2 3", "Magnetic field map header error!",
                Owner::View);
  // Radius nodes times azimuth nodes must fit as well: 1000001 x 360000 table entries.
  ExpectRefused("Gs 0 1000 0.001 0 360 0.001 1 2 3", "Magnetic field map header error!",
                Owner::View);
  // A first azimuth of more than 2^31 steps.
  ExpectRefused("Gs 0.1 0.3 0.1 3e9 3000000360 1 1 2 3", "Magnetic field map header error!",
                Owner::View);
  // A step over twice the turn leaves no column at all.
  ExpectRefused("Gs 0.1 0.3 0.1 0 360 1000 1 2 3", "Magnetic field map header error!", Owner::View);
}

TEST_F(FieldMapTest, HeaderAskingForMoreValuesThanBytesIsRefusedAtOnce) {
  // 100001 radii x 360 azimuths = 36 million values from a 40-byte file: refused before any
  // table of that size is made.
  ExpectRefused("Gs 0 100 0.001 0 360 1\n1 2 3 4 5 6 7\n", "File Reading Error!", Owner::View);
  // 1.8e9 values would need 29 GB of tables: without the early refusal this would end in an
  // allocation failure (another message) or exhaust the machine.
  ExpectRefused("Gs 0 5000 0.001 0 360 1\n1 2 3\n", "File Reading Error!", Owner::View);
  // Exactly enough bytes for 12 one-character values is read; one byte fewer is not.
  std::string tight = "T 0.1 0.3 0.1 0 360 90";
  for (int i = 0; i < 12; ++i) tight += " 1";
  ASSERT_TRUE(Read(tight));
  ExpectRefused(tight.substr(0, tight.size() - 1), "File Reading Error!", Owner::View);
}

TEST_F(FieldMapTest, MissingValuesAreAReadingErrorAndExtraTokensAreIgnored) {
  ExpectRefused("T 0.1 0.3 0.1 0 360 90 " + Values(11), "File Reading Error!", Owner::View);
  ExpectRefused("T 0.1 0.3 0.1 0 360 90 " + Values(11, "1.2345") + "   \r\n\t",
                "File Reading Error!", Owner::View);
  std::optional<FieldMap> more = Read("T 0.1 0.3 0.1 0 360 90 " + Values(12, "2") + "9 9 nonsense");
  ASSERT_TRUE(more);
  EXPECT_DOUBLE_EQ(more->field.back(), 2.0);
  // The last value needs no line break after it.
  std::optional<FieldMap> last = Read("T\t0.1\v0.3\r0.1\n0 360 90 " + Values(11) + "3");
  ASSERT_TRUE(last);
  EXPECT_DOUBLE_EQ(last->field.back(), 3.0);
}

TEST_F(FieldMapTest, FileFaultsHaveNoOwnerWindow) {
  capture_.clear();
  EXPECT_FALSE(test::ReadFieldMapShown((dir_ / "missing.sdf").string()));
  EXPECT_EQ(capture_.messages(),
            (std::vector<Message>{{"Can not Open File!", "Error", Icon::Error, Owner::None}}));
  capture_.clear();
  EXPECT_FALSE(test::ReadFieldMapShown(dir_.string()));  // a directory
  EXPECT_EQ(capture_.messages(),
            (std::vector<Message>{{"Can not Open File!", "Error", Icon::Error, Owner::None}}));
  ExpectRefused("", "The file is empty!", Owner::None);
  // A file of separators only has a length: its unit token is empty.
  ExpectRefused(" \r\n", "Field Map Unit Error!", Owner::View);
}

// Every prefix of a valid map, cut anywhere, gives exactly one message and no map, except the
// prefixes that still hold the whole map.
TEST_F(FieldMapTest, TruncatedFilesGiveExactlyOneMessage) {
  const std::string full = SmallMap();
  // Cut inside the last value, the map is still whole (with a shorter last value).
  const std::size_t complete = full.find_last_of(' ', full.size() - 2) + 2;
  for (std::size_t length = 0; length < full.size(); ++length) {
    std::optional<FieldMap> map = Read(full.substr(0, length));
    if (length >= complete) {
      EXPECT_TRUE(map) << length;
      EXPECT_TRUE(capture_.messages().empty()) << length;
    } else {
      EXPECT_FALSE(map) << length;
      EXPECT_EQ(capture_.messages().size(), 1u) << length;
    }
  }
}

TEST_F(FieldMapTest, BinaryGarbageGivesExactlyOneMessage) {
  std::mt19937 random(12345);
  for (int trial = 0; trial < 200; ++trial) {
    std::string bytes(1 + random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Half of the trials keep a valid start so that the garbage reaches the headers and values.
    if (trial % 2) bytes = "Gs 0.1 0.3 0.1 0 360 90 " + bytes;
    std::optional<FieldMap> map = Read(bytes);
    EXPECT_EQ(capture_.messages().size(), map ? 0u : 1u) << trial;
  }
}

}  // namespace
}  // namespace zuba
