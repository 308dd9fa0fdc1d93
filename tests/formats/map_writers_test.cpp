// Maps written in every format read back as the map that was written; the polar-mesh reader on the
// sample sector of the proton example and on damaged files; measured-record maps checked whole;
// the difference of two maps against a change known in closed form.
#include "calc/maps/map_writers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calc/maps/field_map.h"
#include "calc/maps/map_difference.h"
#include "calc/maps/map_formats.h"
#include "platform/files.h"
#include "tests/formats/map_files.h"

namespace zuba {
namespace {

using test::KnownField;
using test::Mesh;

MapReadingOptions As(MapFormat format, int32_t replicate = 0, bool reverse = false) {
  MapReadingOptions o;
  o.format = format;
  o.replicate = replicate;
  o.reverse = reverse;
  return o;
}

FieldMap Read(const std::string& bytes, const MapReadingOptions& options) {
  Result<FieldMap> map = ParseMap(bytes, "test.map", options);
  EXPECT_TRUE(map.ok()) << map.message().text;
  return map ? *map : FieldMap{};
}

std::string Slurp(const std::string& path) {
  return ReadWholeFile(path).bytes;
}

// A lopsided field on a 1/3-degree mesh from 10 degrees, and a sector of 8 replicated and
// reversed: maps whose mesh no .sdf header holds, as the readers hold them.
FieldMap ThirdDegreeMap() {
  Mesh m;
  m.nR = 5;
  m.thetaMinDeg = 10;
  m.dThetaDeg = 1.0 / 3;
  m.nTheta = 1080;
  KnownField f;
  f.harmonics.push_back({1, 0.01, 2.0});
  return Read(test::PolarFile(m, f, "-3"), As(MapFormat::Polar));
}
FieldMap ReversedSectorMap() {
  Mesh m;
  m.nR = 3;
  m.dThetaDeg = 7.5;
  m.nTheta = 6;
  KnownField f;
  f.harmonics = {{8, 0.4, 0.3}};
  return Read(test::PolarFile(m, f, "7.5"), As(MapFormat::Polar, 8, true));
}

TEST(MapWriters, EveryFormatReadsBackAsTheMapWritten) {
  for (const FieldMap& map : {ThirdDegreeMap(), ReversedSectorMap()}) {
    ASSERT_GT(map.nR, 0);
    for (MapFormat format : {MapFormat::Polar, MapFormat::Table, MapFormat::PolarMesh}) {
      SCOPED_TRACE(MapFormatName(format));
      const Result<MapFileText> text = WriteMapText(map, MapWriting{format, "", std::nullopt});
      ASSERT_TRUE(text.ok()) << text.message().text;
      EXPECT_FALSE(text->sdf);
      // By content, as a user's reader would find it.
      const FieldMap back = Read(text->text, As(MapFormat::Auto));
      EXPECT_EQ(back.format, format);
      ASSERT_EQ(back.nR, map.nR);
      ASSERT_EQ(back.nTheta, map.nTheta);
      EXPECT_NEAR(back.thetaStart, map.thetaStart, 1e-14);
      for (int32_t i = 0; i < map.nR; ++i) EXPECT_NEAR(back.radii[i], map.radii[i], 1e-15);
      for (size_t k = 0; k < map.field.size(); ++k)
        ASSERT_NEAR(back.field[k], map.field[k], 1e-15 * std::fabs(map.field[k]) + 1e-300)
            << "node " << k;
    }
    // *.sdf as before: to its 0.1 Gs, resampled onto a step it can write.
    const Result<MapFileText> sdf = WriteMapText(
        map,
        MapWriting{MapFormat::Sdf, "T", map.nTheta == 1080 ? std::optional(0.25) : std::nullopt});
    ASSERT_TRUE(sdf.ok()) << sdf.message().text;
    ASSERT_TRUE(sdf->sdf);
    EXPECT_EQ(Read(sdf->text, As(MapFormat::Auto)).nR, map.nR);
  }
}

TEST(MapWriters, ExtremeMeshesReadBack) {
  // One azimuth (a table needs its closing azimuth to show the step) at a radius whose reference
  // in cm has more digits than a fixed-width header field (findings of the fuzz targets).
  FieldMap map;
  map.nR = 1;
  map.nTheta = 1;
  map.radii = {1.0666666666666667e64};
  map.azimuths = {-test::kTestPi / 2};
  map.field = {1.5};
  map.moments = {0};
  map.thetaStart = -test::kTestPi / 2;
  map.thetaEnd = map.thetaStart + 2 * test::kTestPi;
  for (MapFormat format : {MapFormat::Polar, MapFormat::Table, MapFormat::PolarMesh}) {
    SCOPED_TRACE(MapFormatName(format));
    const Result<MapFileText> text = WriteMapText(map, MapWriting{format, "", std::nullopt});
    ASSERT_TRUE(text.ok()) << text.message().text;
    const FieldMap back = Read(text->text, As(format));
    ASSERT_EQ(back.nTheta, 1);
    EXPECT_NEAR(back.radii[0], map.radii[0], 1e-15 * map.radii[0]);
    EXPECT_NEAR(back.field[0], 1.5, 1e-15);
  }
}

TEST(MapWriters, RefuseAMeshTheFormatCannotHold) {
  // A table with unequal radius steps.
  const std::string table =
      "R_m theta_deg B_T\n0.1 0 1\n0.1 180 1.1\n0.2 0 1.2\n0.2 180 1.3\n0.35 0 1.4\n0.35 180 1.5\n";
  const FieldMap uneven = Read(table, As(MapFormat::Table));
  for (MapFormat format : {MapFormat::Polar, MapFormat::PolarMesh}) {
    const Result<MapFileText> text = WriteMapText(uneven, MapWriting{format, "", std::nullopt});
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(
        text.message().text,
        std::string("a ") + MapFormatName(format) +
            " map holds radii at equal steps; this map's radius 2 lies at 0.2 m, not 0.225 m");
  }
  EXPECT_TRUE(WriteMapText(uneven, MapWriting{MapFormat::Table, "", std::nullopt}).ok());
  // Radii closer than the table reader tells apart (a finding of the polar-mesh fuzz target).
  FieldMap close = uneven;
  close.radii = {0.05, 0.05000000001, 0.1};
  const Result<MapFileText> merged = WriteMapText(close, MapWriting{MapFormat::Table, "", {}});
  ASSERT_FALSE(merged.ok());
  EXPECT_EQ(merged.message().text,
            "a table tells its nodes apart to 1e-9 of their range; this map's radii or azimuths "
            "lie closer than that");
  const Result<MapFileText> records =
      WriteMapText(uneven, MapWriting{MapFormat::Records, "", std::nullopt});
  EXPECT_FALSE(records.ok());
}

// ---- the polar-mesh reader ----

TEST(PolarMeshMap, TheSampleSectorIsTheProtonExample) {
  const FieldMap sector =
      Read(Slurp(ZUBA_TEST_DATA_DIR "/polar-mesh-sector.map"), As(MapFormat::Auto, 4));
  EXPECT_EQ(sector.format, MapFormat::PolarMesh);
  EXPECT_EQ(sector.unit, "kG");
  EXPECT_GE(sector.closingDifference, 0);  // the sector's closing node, dropped
  Result<FieldMap> example = ReadFieldMap(ZUBA_EXAMPLES_DIR "/tvk310-p.sdf");
  ASSERT_TRUE(example.ok());
  ASSERT_EQ(sector.nR, example->nR);
  ASSERT_EQ(sector.nTheta, example->nTheta);
  for (int32_t i = 0; i < sector.nR; ++i) EXPECT_NEAR(sector.radii[i], example->radii[i], 1e-12);
  for (size_t k = 0; k < sector.field.size(); ++k)
    ASSERT_NEAR(sector.field[k], example->field[k], 1e-9) << "node " << k;
}

// A polar-mesh file of 5 azimuths over `totalAngle` and 3 radii, with its numbers as given.
std::string MeshFile(const std::string& header, const std::string& azimuths,
                     const std::string& radii = "5 15 25",
                     const std::string& values = "1 2 3 4 5\n6 7 8 9 10\n11 12 13 14 15") {
  return "h1\nh2\nh3\n" + header + "\n" + azimuths + " " + radii + "\n" + values + "\n";
}
const std::string kAzimuths = "0 0.3926990817 0.7853981634 1.178097245 1.570796327";

TEST(PolarMeshMap, TakesRoundedNodesOnTheUniformMesh) {
  // 22.4955 degree for 22.5 and a radius 0.1 cm off: within 2 % of their steps.
  const std::string file =
      MeshFile("5 3 90 15 1 1", "0 0.39262 0.7853981634 1.178097245 1.570796327", "5 15.1 25");
  const FieldMap map = Read(file, As(MapFormat::Auto, 4));
  EXPECT_EQ(map.format, MapFormat::PolarMesh);
  ASSERT_EQ(map.nTheta, 16);
  EXPECT_NEAR(map.radii[1], 0.15, 1e-12);  // on the even mesh, not the listed 15.1 cm
  EXPECT_NEAR(map.azimuths[1] - map.azimuths[0], test::kTestPi / 8, 1e-12);
  EXPECT_NEAR(map.field[1 * 16 + 2], 0.8, 1e-15);  // 8 kG at radius 2, azimuth 3
}

TEST(PolarMeshMap, RefusesADamagedFileWithOneLine) {
  struct Case {
    std::string file, refusal;
  };
  const std::string header = "5 3 90 15 1 1";
  const Case cases[] = {
      {"h1\nh2\n", "the file ends within its three header lines"},
      {MeshFile("5 3 90 15 1", kAzimuths),
       "line 4: expected six numbers: the azimuth count, the radius count, the total angle "
       "(degree), a reference radius (cm) and two integers, found \"5 3 90 15 1\""},
      {MeshFile("5.5 3 90 15 1 1", kAzimuths),
       "line 4: expected the azimuth count, a whole number from 2 on, found 5.5"},
      {MeshFile("5 0 90 15 1 1", kAzimuths),
       "line 4: expected the radius count, a whole number from 1 on, found 0"},
      {MeshFile("5 3 400 15 1 1", kAzimuths),
       "line 4: expected the total angle of the mesh, above 0 and at most 360 degrees, found 400"},
      {MeshFile("5 3 90 15 1 0.5", kAzimuths),
       "line 4: expected two integers after the reference radius, found 1 and 0.5"},
      {MeshFile("5 3 90 15 1 1", "0 0.38 0.7853981634 1.178097245 1.570796327"),
       "azimuth 2 lies at 21.7723962\xC2\xB0, 0.727603785\xC2\xB0 off the uniform mesh of the "
       "header (5 azimuths over 90\xC2\xB0): more than 2 % of its step 22.5\xC2\xB0"},
      {MeshFile(header, kAzimuths, "5 16 25"),
       "radius 2 lies at 16 cm, 1 cm off the radii evenly spaced from the first to the last: "
       "more than 2 % of their step 10 cm"},
      {MeshFile(header, kAzimuths, "25 15 5"),
       "the radii do not increase: the first is 25 cm, the last 5 cm"},
      {MeshFile(header, kAzimuths, "5 15 25", "1 2 3 4 5\n6 7 x 9 10\n11 12 13 14 15"),
       "line 7: expected B_z (kG) at radius 2, azimuth 3, found \"x\""},
      {MeshFile(header, kAzimuths, "5 15 25", "1 2 3 4 5\n6 7 8 9 10\n11 12 13 14"),
       "the file ends after 22 of its 23 numbers, where B_z (kG) at radius 3, azimuth 5 should "
       "follow"},
      {MeshFile(header, kAzimuths, "5 15 25", "1 2 3 4 5\n6 7 8 9 10\n11 12 13 14 15 16"),
       "line 8: expected the end of the file after its 23 numbers, found \"16\""},
      {MeshFile("5 3000000 90 15 1 1", kAzimuths),
       "line 4: the header asks for 5 azimuths, 3000000 radii and 3000000 x 5 values of B_z, "
       "more than the 96 bytes after it can hold"},
  };
  for (const Case& c : cases) {
    const Result<FieldMap> map = ParseMap(c.file, "mesh.map", As(MapFormat::PolarMesh, 4));
    ASSERT_FALSE(map.ok()) << c.refusal;
    EXPECT_EQ(map.message().text, "mesh.map: " + c.refusal);
  }
  // Read as a full turn, 90 degrees is a sector: the completion says so.
  const Result<FieldMap> sector =
      ParseMap(MeshFile(header, kAzimuths), "mesh.map", As(MapFormat::PolarMesh));
  ASSERT_FALSE(sector.ok());
  EXPECT_NE(sector.message().text.find("--replicate 4"), std::string::npos)
      << sector.message().text;
}

// ---- the measured-record map, every block checked ----

TEST(RecordMap, ChecksEveryNumberAndTheMeanFieldOfEveryRadius) {
  const std::string sample = Slurp(ZUBA_TEST_DATA_DIR "/record-map.txt");
  ASSERT_TRUE(ParseMap(sample, "record.txt", As(MapFormat::Records, 4)).ok());
  struct Case {
    std::string from, to, refusal;
  };
  const Case cases[] = {
      // A damaged number in the block of reals.
      {" 0.938272000E+03", " 0.0000000#!?+00",
       "line 12: parameter block 2 (line 10), columns 33-48: expected a number in a field of 16 "
       "characters, found \"0.0000000#!?+00\""},
      // The stored mean field of the third radius edited.
      {"0.102000000E+02 0.104000000E+02", "0.102000000E+02 0.104500000E+02",
       "record 3 (line 38): the stored mean field 10.45 kG at R = 120 mm differs from the mean of "
       "the record's B_z, 10.4 kG, by 0.00478468931 of it (more than 1e-5): a damaged or edited "
       "file (parameter block 2, line 13)"},
      // B_z of the first radius changed by 3 kG at one azimuth.
      {" 0.140000000E+02 0.134641016E+02", " 0.170000000E+02 0.134641016E+02",
       "record 1 (line 16): the stored mean field 10 kG at R = 100 mm differs from the mean of "
       "the record's B_z, 10.25 kG, by 0.0243902436 of it (more than 1e-5): a damaged or edited "
       "file (parameter block 2, line 13)"},
  };
  for (const Case& c : cases) {
    std::string file = sample;
    const size_t at = file.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    file.replace(at, c.from.size(), c.to);
    const Result<FieldMap> map = ParseMap(file, "record.txt", As(MapFormat::Records, 4));
    ASSERT_FALSE(map.ok()) << c.to;
    EXPECT_EQ(map.message().text, "record.txt: " + c.refusal);
  }
}

// ---- the difference of two maps ----

TEST(MapDifference, RecoversAChangeKnownInClosedForm) {
  // A on 1-degree steps, B = A + 0.01 T (R - 0.1 m) + 0.002 T cos(theta) on a finer, wider mesh.
  Mesh a;
  a.nR = 6;
  a.dThetaDeg = 1;
  a.nTheta = 360;
  Mesh b;
  b.rMinMm = 90;
  b.dRMm = 5;
  b.nR = 14;
  b.dThetaDeg = 0.5;
  b.nTheta = 720;
  KnownField fa;  // harmonics 4 and 8
  const FieldMap mapA =
      Read(test::TableFile(a, fa, "r_mm theta_deg bz_t", " ", 1000, true, 1), As(MapFormat::Table));
  KnownField fb = fa;
  fb.mean += -0.01 * 0.1;
  fb.slope += 0.01;
  fb.harmonics.push_back({1, 0.002 / 1.0, 0});  // amplitude 0.002 (1 + r) T
  const FieldMap mapB =
      Read(test::TableFile(b, fb, "r_mm theta_deg bz_t", " ", 1000, true, 1), As(MapFormat::Table));
  const Result<MapDifference> d = DifferenceOfMaps(mapA, mapB);
  ASSERT_TRUE(d.ok()) << d.message().text;
  EXPECT_EQ(d->sectors, 4);
  ASSERT_EQ(d->radii.size(), 6u);
  for (const RadiusDifference& r : d->radii) {
    SCOPED_TRACE(r.r);
    EXPECT_NEAR(r.deltaMean, -0.01 * (r.r - 0.1), 2e-7);
    EXPECT_NEAR(r.deltaA1, -0.002 * (1 + r.r), 2e-7);
    EXPECT_NEAR(r.deltaA2, 0, 2e-7);
    EXPECT_NEAR(r.deltaAN, 0, 2e-6);
  }
  EXPECT_NEAR(d->maxAbs, 0.002 * 1.15 + 0.01 * 0.05, 2e-6);
  EXPECT_NEAR(d->maxR, 0.15, 1e-12);
  EXPECT_NEAR(d->maxTheta, 0, 1e-12);
  ASSERT_EQ(d->difference.field.size(), mapA.field.size());
  EXPECT_EQ(d->difference.unit, "T");

  // B does not reach A's last radius: refused.
  const Result<MapDifference> outside = DifferenceOfMaps(mapB, mapA);
  ASSERT_FALSE(outside.ok());
  EXPECT_EQ(outside.message().text, "map A's radii 0.09 .. 0.155 m leave map B's 0.1 .. 0.15 m");
}

}  // namespace
}  // namespace zuba
