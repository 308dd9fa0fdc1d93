// The readers of the polar map, the measured-record map and the column table: every node of a
// file written from a known field reads back as that field, by content and by name; the symmetry
// options complete sectors; damaged files are refused with one line naming file, line and fault.
#include "calc/maps/map_formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "calc/maps/field_map.h"
#include "calc/maps/sdf_writer.h"
#include "tests/formats/map_files.h"

namespace zuba {
namespace {

using test::KnownField;
using test::Mesh;

MapReadingOptions Reading(MapFormat format, int32_t replicate = 0, bool mirror = false,
                          bool negate = false, bool reverse = false) {
  MapReadingOptions o;
  o.format = format;
  o.replicate = replicate;
  o.mirror = mirror;
  o.negate = negate;
  o.reverse = reverse;
  return o;
}

// A field with only harmonics of N sectors and radius-independent phases: periodic in 360°/N and
// mirror-symmetric about θ = 0 and θ = 180°/N.
KnownField Symmetric(int sectors) {
  KnownField f;
  f.harmonics = {{sectors, 0.4, 0}, {2 * sectors, -0.05, 0}};
  f.mean = -0.2;  // negative values: the record fields touch
  return f;
}

// A field without symmetry (a first harmonic), to see the direction and sign of the azimuth.
KnownField Lopsided() {
  KnownField f;
  f.harmonics.push_back({1, 0.01, 2.0});
  return f;
}

struct FormatCase {
  const char* name;
  std::function<std::string()> file;
  MapReadingOptions options;
  KnownField field;
  Mesh mesh;
  int32_t nTheta;        // azimuths of the full turn
  const char* unit;      // the file's own unit
  bool closing = false;  // a closing column was dropped
};

class ReadsTheKnownField : public testing::TestWithParam<FormatCase> {};

TEST_P(ReadsTheKnownField, AtEveryNodeByContentAndByName) {
  const FormatCase& c = GetParam();
  const std::string bytes = c.file();
  for (const bool byContent : {true, false}) {
    MapReadingOptions options = c.options;
    if (byContent) options.format = MapFormat::Auto;
    SCOPED_TRACE(byContent ? "format auto" : "format named");
    Result<FieldMap> map = ParseMap(bytes, "test.map", options);
    ASSERT_TRUE(map.ok()) << map.message().text;
    EXPECT_EQ(map->format, c.options.format);
    EXPECT_EQ(map->unit, c.unit);
    EXPECT_EQ(map->closingDifference >= 0, c.closing);
    ASSERT_EQ(map->nR, c.mesh.nR);
    ASSERT_EQ(map->nTheta, c.nTheta);
    ASSERT_EQ(map->field.size(), size_t(c.mesh.nR) * c.nTheta);
    EXPECT_EQ(map->moments, std::vector<double>(map->field.size(), 0.0));
    const double delta = 2 * test::kTestPi / c.nTheta;
    EXPECT_NEAR(map->thetaEnd - map->thetaStart, 2 * test::kTestPi, 1e-12);
    const double sign = c.options.negate ? -1 : 1;
    for (int i = 0; i < c.mesh.nR; ++i) {
      ASSERT_NEAR(map->radii[i], c.mesh.R(i), 1e-12);
      for (int j = 0; j < c.nTheta; ++j) {
        ASSERT_NEAR(map->azimuths[j] - map->azimuths[0], j * delta, 1e-12);
        // Reversed, the map's azimuth is minus the file's.
        const double theta = c.options.reverse ? -map->azimuths[j] : map->azimuths[j];
        ASSERT_NEAR(map->field[size_t(i) * c.nTheta + j], sign * c.field(map->radii[i], theta),
                    2e-9)
            << "R node " << i << ", azimuth node " << j;
      }
    }
  }
}

Mesh ThirdDegree(int nTheta) {
  Mesh m;
  m.nR = 5;
  m.dThetaDeg = 1.0 / 3;
  m.nTheta = nTheta;
  return m;
}
Mesh SectorOf4(int nTheta, double thetaMin = 0) {
  Mesh m;
  m.nR = 3;
  m.thetaMinDeg = thetaMin;
  m.dThetaDeg = 7.5;
  m.nTheta = nTheta;
  return m;
}

const FormatCase kFormatCases[] = {
    {"PolarFullTurnThirdDegree",
     [] { return test::PolarFile(ThirdDegree(1080), Lopsided(), "-3", 7, "\t"); },
     Reading(MapFormat::Polar), Lopsided(), ThirdDegree(1080), 1080, "kG"},
    {"PolarClosingColumn", [] { return test::PolarFile(ThirdDegree(1081), Lopsided(), "-3", 4); },
     Reading(MapFormat::Polar), Lopsided(), ThirdDegree(1081), 1080, "kG", true},
    {"PolarSectorOf8", [] { return test::PolarFile(ThirdDegree(135), Symmetric(8), "-3"); },
     Reading(MapFormat::Polar, 8), Symmetric(8), ThirdDegree(135), 1080, "kG"},
    {"PolarSectorOf8WithClosingColumn",
     [] { return test::PolarFile(ThirdDegree(136), Symmetric(8), "-3"); },
     Reading(MapFormat::Polar, 8), Symmetric(8), ThirdDegree(136), 1080, "kG", true},
    {"PolarNegatedAndReversed",
     [] { return test::PolarFile(ThirdDegree(1080), Lopsided(), "0.333333333333333"); },
     Reading(MapFormat::Polar, 0, false, true, true), Lopsided(), ThirdDegree(1080), 1080, "kG"},
    {"RecordsSectorOf4", [] { return test::RecordFile(SectorOf4(12), Symmetric(4), "7.5", 4); },
     Reading(MapFormat::Records, 4), Symmetric(4), SectorOf4(12), 48, "kG"},
    {"RecordsHalfSectorMirrored",
     [] { return test::RecordFile(SectorOf4(7), Symmetric(4), "7.5", 4); },
     Reading(MapFormat::Records, 4, true), Symmetric(4), SectorOf4(7), 48, "kG"},
    {"TableCsvMillimetreDegreeGauss",
     [] {
       return test::TableFile(SectorOf4(48), Lopsided(), "r_mm,theta_deg,bz_Gs", ",", 1000, true,
                              1e4);
     },
     Reading(MapFormat::Table), Lopsided(), SectorOf4(48), 48, "Gs"},
    {"TableTsvMetreRadianTesla",
     [] {
       return test::TableFile(SectorOf4(48, -90), Lopsided(), "# measured\nR_m\ttheta_rad\tBz_T",
                              "\t", 1, false, 1);
     },
     Reading(MapFormat::Table), Lopsided(), SectorOf4(48, -90), 48, "T"},
};

// A table without a header: the units come with the options.
FormatCase HeaderlessTable() {
  FormatCase c{
      "TableWithoutHeaderUnitsGiven",
      [] { return test::TableFile(SectorOf4(12), Symmetric(4), "", "  ", 1000, true, 10); },
      Reading(MapFormat::Table, 4, false, true),
      Symmetric(4),
      SectorOf4(12),
      48,
      "kG"};
  c.options.rUnit = RadiusUnit::Millimetre;
  c.options.thetaUnit = AngleUnit::Degree;
  c.options.bUnit = FieldUnit::Kilogauss;
  return c;
}

INSTANTIATE_TEST_SUITE_P(Formats, ReadsTheKnownField, testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Units, ReadsTheKnownField, testing::Values(HeaderlessTable()),
                         [](const auto& info) { return std::string(info.param.name); });

// Damaged files: one line that names the file, the line or record, and what was expected.
struct BadCase {
  const char* name;
  MapFormat format;
  std::string content;
  const char* message;  // the refusal after "bad.map: "
  MapReadingOptions options = {};
};

std::string Polar(const std::string& header, const std::string& values) {
  return header + values;
}
const std::string kPolarHeader = "100\n10\n0\n90\n4\n2\n";  // 2 radii x 4 azimuths of 90°
const std::string kRecordHead =
    "100\n10\n0\n90\n LABEL=X\n CFELD=FIELD     NREC=    2      NPAR=    1\n"
    " LPAR=    3      IENT=    1      IPAR=    1\n               3               2"
    "               4\n";
std::string Record(int index, int length, const std::string& values) {
  return " LREC=" + test::Printf("%5.0f", length) +
         "      IENT=    2      IREC=" + test::Printf("%5.0f", index) + "\n" + values;
}
const std::string kRecordValues =
    " 1.000000000E+01-2.000000000E+00 3.000000000E+00 4.000000000E+00 0.000000000E+00\n"
    " 0.000000000E+00 0.000000000E+00 0.000000000E+00 0.000000000E+00 0.000000000E+00\n"
    " 0.000000000E+00 0.000000000E+00 0.000000000E+00 0.000000000E+00 0.000000000E+00\n"
    " 0.000000000E+00\n";

std::vector<BadCase> BadCases() {
  std::vector<BadCase> cases = {
      {"PolarTwoNumbersOnAHeaderLine", MapFormat::Polar, "100\n10 20\n",
       "line 2: expected the radius step (mm), one number alone on its line, found \"10 20\""},
      {"PolarCountNotWhole", MapFormat::Polar, "100\n10\n0\n90\n2.5\n2\n1 2 3",
       "line 5: expected N_theta, a whole number of azimuths from 1 on, found 2.5"},
      {"PolarZeroStep", MapFormat::Polar, "100\n10\n0\n0\n4\n2\n",
       "line 4: the azimuth step must not be 0"},
      {"PolarValueNotANumber", MapFormat::Polar, kPolarHeader + "1 2 3 4\n5 x 7 8\n",
       "line 8: expected B_z (kG) at radius 2, azimuth 2, found \"x\""},
      {"PolarHexadecimalValue", MapFormat::Polar, kPolarHeader + "1 2 3 4\n5 0x10 7 8\n",
       "line 8: expected B_z (kG) at radius 2, azimuth 2, found \"0x10\""},
      {"PolarInfiniteValue", MapFormat::Polar, kPolarHeader + "1 2 inf 4\n5 6 7 8\n",
       "line 7: expected B_z (kG) at radius 1, azimuth 3, found \"inf\""},
      {"PolarExponentWithoutDigits", MapFormat::Polar, kPolarHeader + "1e 2 3 4\n5 6 7 8\n",
       "line 7: expected B_z (kG) at radius 1, azimuth 1, found \"1e\""},
      {"PolarHeaderNotANumber", MapFormat::Polar, "100\n10abc\n",
       "line 2: expected the radius step (mm), one number alone on its line, found \"10abc\""},
      {"PolarTooFewValues", MapFormat::Polar, kPolarHeader + "1.5 2.5 3.5 4.5\n5.5 6.5 7.5",
       "the file ends after 7 of the 8 values of B_z (N_r x N_theta = 2 x 4)"},
      {"PolarTooManyValues", MapFormat::Polar, kPolarHeader + "1 2 3 4\n5 6 7 8 9\n",
       "line 8: expected the end of the file after the 8 values of B_z (N_r x N_theta = 2 x 4), "
       "found \"9\""},
      {"PolarMoreValuesThanTheFileHolds", MapFormat::Polar, "100\n10\n0\n1\n360\n100000\n1 2 3",
       "the header asks for N_r x N_theta = 100000 x 360 values, more than the 5 bytes after it "
       "can hold"},
      {"PolarStepOfThreeDecimals", MapFormat::Polar,
       Polar("0\n10\n0\n0.333\n1080\n1\n",
             [] {
               std::string v;
               for (int j = 0; j < 1080; ++j) v += "1\n";
               return v;
             }()),
       "the 1080 azimuths 0.333\xC2\xB0 apart cover 359.64\xC2\xB0, not the full turn "
       "(360\xC2\xB0, or 360\xC2\xB0 and a closing column equal to the first)"},
      {"PolarSectorNotOneOf8", MapFormat::Polar, kPolarHeader + "1 2 3 4\n5 6 7 8\n",
       "--replicate 8 takes one sector, 360\xC2\xB0/8 = 45\xC2\xB0 (0.5 azimuths, or one more for "
       "the closing column); the 4 azimuths 90\xC2\xB0 apart cover 360\xC2\xB0",
       Reading(MapFormat::Polar, 8)},
      {"RecordsWithoutLabel", MapFormat::Records, "100\n10\n0\n90\n CFELD=X NREC= 1 NPAR= 1\n",
       "line 5: expected the LABEL= line, found \"CFELD=X NREC= 1 NPAR= 1\""},
      {"RecordsCountDisagreesWithBlock", MapFormat::Records,
       "100\n10\n0\n90\n LABEL=X\n CFELD=FIELD     NREC=    3      NPAR=    1\n"
       " LPAR=    3      IENT=    1      IPAR=    1\n               3               2"
       "               4\n",
       "NREC= 3 records, but parameter block 1 gives 2 radii"},
      {"RecordsLengthNotFourTimesTheAzimuths", MapFormat::Records,
       kRecordHead + Record(1, 16, kRecordValues) + Record(2, 12, kRecordValues),
       "record 2 (line 14): LREC= 12, expected 4 x 4 = 16 values (B_z and its three azimuthal "
       "derivatives at 4 azimuths)"},
      {"RecordsOutOfOrder", MapFormat::Records, kRecordHead + Record(2, 16, kRecordValues),
       "record 1 (line 9): expected IREC= 1, found IREC= 2"},
      {"RecordsCutShort", MapFormat::Records,
       kRecordHead + Record(1, 16, kRecordValues.substr(0, 162)) + Record(2, 16, kRecordValues),
       "record 1 (line 9) ends after 10 of its 16 values"},
      {"RecordsFieldNotANumber", MapFormat::Records,
       kRecordHead + Record(1, 16, " 1.000000000E+01 2.0000x0000E+00" + kRecordValues.substr(32)),
       "line 10: record 1 (line 9), columns 17-32: expected a number in a field of 16 characters, "
       "found \"2.0000x0000E+00\""},
      {"TableNodeMissing", MapFormat::Table, "r_mm,theta_deg,bz_T\n100,0,1\n100,180,1\n110,0,1\n",
       "no row for the node R = 110 mm, theta = 180 deg of the mesh of 2 radii x 2 azimuths"},
      {"TableNodeRepeated", MapFormat::Table,
       "r_mm,theta_deg,bz_T\n100,0,1\n100,180,1\n100,0,2\n110,0,1\n110,180,1\n",
       "line 4: repeats the node R = 100 mm, theta = 0 deg of line 2"},
      {"TableAzimuthsUneven", MapFormat::Table,
       "r_mm,theta_deg,bz_T\n100,0,1\n100,100,1\n100,180,1\n",
       "the azimuths are not equally spaced: 100 deg where the step 90 from 0 puts 90"},
      {"TableWithoutUnits", MapFormat::Table, "1 2 3\n4 5 6\n",
       "line 1: no header names the columns; give --r-unit, --theta-unit, --b-unit"},
      {"TableCellNotANumber", MapFormat::Table, "r_m;theta_rad;bz_kG\n0.1;0;5\n0.1;pi;5\n",
       "line 3: column 2 (theta): expected a number, found \"pi\""},
      {"SdfWithSymmetry", MapFormat::Auto, "Gs 0.1 0.2 0.1 0 360 180 1 2 3 4",
       "a .sdf map covers the full turn as it is: --replicate, --mirror, --negate and --reverse "
       "apply to polar, record and table maps",
       Reading(MapFormat::Auto, 0, false, true)},
  };
  BadCase conflict{"TableUnitConflict", MapFormat::Table, "r_mm,theta_deg,bz_T\n100,0,1\n",
                   "line 1: the header gives R in mm, --r-unit says m"};
  conflict.options.rUnit = RadiusUnit::Metre;
  cases.push_back(conflict);
  return cases;
}

class RefusesADamagedFile : public testing::TestWithParam<BadCase> {};

TEST_P(RefusesADamagedFile, WithOneLineNamingTheFault) {
  const BadCase& c = GetParam();
  MapReadingOptions options = c.options;
  if (options.format == MapFormat::Auto) options.format = c.format;
  Result<FieldMap> map = ParseMap(c.content, "bad.map", options);
  ASSERT_FALSE(map.ok());
  EXPECT_EQ(map.message().text, std::string("bad.map: ") + c.message);
  EXPECT_EQ(map.message().caption, "Error");
}

INSTANTIATE_TEST_SUITE_P(Files, RefusesADamagedFile, testing::ValuesIn(BadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MapReadingOptions, MirrorNeedsTheSectorCountAndTheCountHasALimit) {
  MapReadingOptions mirror;
  mirror.mirror = true;
  EXPECT_EQ(CheckMapReadingOptions(mirror).message().text,
            "--mirror completes half a sector to one sector: it needs --replicate N, the number "
            "of sectors");
  MapReadingOptions many;
  many.replicate = kMaxReplicate + 1;
  EXPECT_FALSE(CheckMapReadingOptions(many).ok());
  many.replicate = kMaxReplicate;
  EXPECT_TRUE(CheckMapReadingOptions(many).ok());
}

TEST(MapDetection, DamagedSdfMapsStayWithTheSdfReader) {
  // A wrong unit, a lost unit token, an empty file: the .sdf reader's own messages.
  for (const auto& [bytes, message] : std::vector<std::pair<std::string, std::string>>{
           {"Tesla 0.1 0.3 0.1 0 360 90 1 2 3", "Field Map Unit Error!"},
           {"0.050 0.750 0.010\n0.000 360.000 2.000\n1 2 3 4 5 6 7 8 9 10\n",
            "Field Map Unit Error!"},
           {"", "The file is empty!"}}) {
    EXPECT_EQ(DetectMapFormat(bytes), MapFormat::Sdf);
    EXPECT_EQ(ParseMap(bytes, "x.sdf", {}).message().text, message);
  }
}

// A map read from one format, written as .sdf and read back gives the same field: as it is where
// the step can be written, resampled by trigonometric interpolation where it cannot (1/3°), which
// reproduces a field without harmonics of half the node count to the 1e-5 T of the .sdf values.
TEST(ConvertToSdf, GivesTheSameFieldReadBackAsSdf) {
  struct Case {
    Mesh mesh;
    std::string dThetaText;
    std::optional<double> dTheta;
    std::string unit;
    bool resampled;
  };
  Mesh twoDegree;
  twoDegree.dThetaDeg = 2;
  twoDegree.nTheta = 180;
  for (const Case& c : {Case{twoDegree, "2", std::nullopt, "T", false},
                        Case{ThirdDegree(1080), "-3", 0.32, "Gs", true},
                        Case{ThirdDegree(1080), "-3", 0.5, "T", true}}) {
    const KnownField field = Lopsided();
    Result<FieldMap> polar =
        ParseMap(test::PolarFile(c.mesh, field, c.dThetaText), "p", Reading(MapFormat::Polar));
    ASSERT_TRUE(polar.ok()) << polar.message().text;
    Result<SdfConversion> sdf = ConvertToSdf(*polar, c.unit, c.dTheta);
    ASSERT_TRUE(sdf.ok()) << sdf.message().text;
    EXPECT_EQ(sdf->resampled, c.resampled);
    EXPECT_LT(sdf->largestChange, 1e-9);  // nothing of this field is lost
    Result<FieldMap> back = ParseFieldMap(sdf->text);
    ASSERT_TRUE(back.ok()) << back.message().text;
    EXPECT_EQ(back->unit, c.unit);
    const int32_t n = c.dTheta ? int32_t(std::lround(360 / *c.dTheta)) : c.mesh.nTheta;
    ASSERT_EQ(back->nTheta, n);
    ASSERT_EQ(back->nR, c.mesh.nR);
    for (int i = 0; i < back->nR; ++i)
      for (int j = 0; j < n; ++j)
        ASSERT_NEAR(back->field[size_t(i) * n + j], field(c.mesh.R(i), back->azimuths[j]),
                    0.5e-5 + 1e-9)
            << "R node " << i << ", azimuth node " << j;
  }
}

TEST(ConvertToSdf, NamesTheStepsItCanWriteAndTheRadiusMeshItCannot) {
  Result<FieldMap> third = ParseMap(test::PolarFile(ThirdDegree(1080), Lopsided(), "-3"), "p", {});
  ASSERT_TRUE(third.ok());
  EXPECT_EQ(ConvertToSdf(*third, "", std::nullopt).message().text,
            "the azimuth step 360/1080 = 0.333333 degree cannot be written in a .sdf header, "
            "which keeps three decimals; resample the map with --dtheta D, the nearest steps that "
            "can be written being 0.32, 0.36, 0.3, 0.375, or in quarter degrees 0.25 or 0.5");
  Mesh fine;
  fine.dRMm = 2.5;
  Result<FieldMap> radii = ParseMap(test::PolarFile(fine, Lopsided(), "1"), "p", {});
  ASSERT_TRUE(radii.ok());
  EXPECT_EQ(ConvertToSdf(*radii, "", std::nullopt).message().text,
            "the radius step 0.0025 m cannot be written in a .sdf header, which keeps 0.001 m");
}

// Found by fuzz_table_map: a table in radians read and written as .sdf. The conversion between
// degrees and radians once came from a constant of the file formed before pi itself was (clang's
// order of start-up), so that every angle in degrees was 0 or not a number.
TEST(MapFindings, TableInRadiansConvertsWithItsOwnStep) {
  const std::string table =
      "R_m\ttheta_rad\tBz_kG\n120\t4.188790\t1.598936\n120\t2.094395\t1.565699\n"
      "120\t0.000000\t1.472058\n110\t4.188790\t1.404108\n110\t2.094395\t1.424320\n"
      "110\t0.000000\t1.514112\n100\t4.188790\t1.590930\n100\t2.094395\t1.584147\n"
      "100\t0.000000\t1.500000\n";
  Result<FieldMap> map = ParseMap(table, "finding.tsv", {});
  ASSERT_TRUE(map.ok()) << map.message().text;
  Result<SdfConversion> sdf = ConvertToSdf(*map, "", std::nullopt);
  ASSERT_TRUE(sdf.ok()) << sdf.message().text;
  EXPECT_EQ(sdf->text.substr(0, sdf->text.find('\n', 40)),
            "Gs\n100.000 120.000 10.000\n0.000 360.000 120.000");
  // With --mirror --replicate 3 the 240 degrees it spans are not half a sector of 60.
  EXPECT_FALSE(ParseMap(table, "finding.tsv", Reading(MapFormat::Table, 3, true)).ok());
}

}  // namespace
}  // namespace zuba
