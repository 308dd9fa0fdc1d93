#include "calc/synth/synth_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "calc/maps/coil_table.h"
#include "calc/maps/field_map.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"
#include "tests/shown.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;
const double kPi = 4 * std::atan(1.0);

// Options of the bundled example maps, as examples/README.md regenerates them.
SynthMapOptions ExampleOptions(const char* mode, const char* unit, double spiral) {
  SynthMapOptions o;
  EXPECT_TRUE(SynthOptionsFromPreset(mode, o));
  o.unit = unit;
  o.rMin = 0.05, o.rMax = 0.75, o.dR = 0.01;
  o.thetaMin = 0, o.thetaMax = 360, o.dTheta = 2;
  o.flutter = 0.4, o.flutterRadius = 0.15, o.spiral = spiral;
  return o;
}

// The proton example disturbed by the five coils of examples/trim-coils.tsv at 20, -35, 15, -10
// and 40 A: the map of the worked trim-coil fit.
SynthMapOptions DisturbedOptions() {
  SynthMapOptions o = ExampleOptions(kModeTvk310, "Gs", 25);
  Result<TrimCoils> coils = TrimCoils::Read(std::string(ZUBA_EXAMPLES_DIR) + "/trim-coils.tsv");
  EXPECT_TRUE(coils);
  if (!coils) return o;
  o.addedField = [coils = *coils](double r) {
    const double amperes[] = {20, -35, 15, -10, 40};
    double b = 0;
    for (int c = 0; c < coils.Count(); ++c) b += amperes[c] * coils.FieldPerAmpere(c, r);
    return b;
  };
  return o;
}

// The separated-sector ring of examples/ring-590.sdf: 590 MeV protons, 8 sectors.
SynthMapOptions RingOptions() {
  SynthMapOptions o;
  o.frfMhz = 50.65, o.harmonic = 6, o.sectors = 8;
  o.massSamu = 1.007276466812, o.chargeNumber = 1;
  o.unit = "Gs";
  o.rMin = 1.8, o.rMax = 4.7, o.dR = 0.02;
  o.thetaMin = 0, o.thetaMax = 360, o.dTheta = 0.5;
  o.hillFraction = 0.47, o.edgeWidth = 0.15, o.spiral = 33;
  return o;
}

// A small map of hills for the shape checks: 4 sectors, hills over 40 % of a sector, valleys at
// 10 % of the hill field, edges 3 cm wide.
SynthMapOptions HillOptions() {
  SynthMapOptions o;
  o.flutterCorrection = false;
  o.rMin = 0.3, o.rMax = 0.7, o.dR = 0.05, o.dTheta = 1;
  o.hillFraction = 0.4, o.valleyField = 0.1, o.edgeWidth = 0.03;
  return o;
}

std::optional<FieldMap> ReadText(const std::string& text) {
  const fs::path path = fs::temp_directory_path() / ("zuba-synth-" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  std::optional<FieldMap> map = test::ReadFieldMapShown(path.string());
  fs::remove(path);
  return map;
}

double MevToJoules(double mev) {
  return mev * 1000000 * kElementaryCharge;
}

TEST(SynthOptionsFromPreset, TakesIonAndRfOfTheMode) {
  SynthMapOptions o;
  ASSERT_TRUE(SynthOptionsFromPreset("AVF: 14N5", o));
  EXPECT_EQ(o.frfMhz, 16.3);
  EXPECT_EQ(o.harmonic, 2);
  EXPECT_EQ(o.sectors, 4);
  EXPECT_EQ(o.massSamu, 14.000330460238006);
  EXPECT_EQ(o.chargeNumber, 5);
  EXPECT_FALSE(o.negativeIon);
  const SynthMapOptions before = o;
  EXPECT_FALSE(SynthOptionsFromPreset("AVF: 14n5", o));
  EXPECT_EQ(o.frfMhz, before.frfMhz);
}

TEST(SynthesizeMap, ReaderFindsTheModelAtEveryNodeToItsResolution) {
  SynthMapOptions o;
  o.flutterCorrection = false;  // the layout is the point here
  o.rMin = 0.1, o.rMax = 0.4, o.dR = 0.05, o.thetaMin = -10, o.thetaMax = 350, o.dTheta = 5;
  o.spiral = 40;
  for (const char* unit : {"Gs", "T", "hills"}) {
    o.unit = std::string(unit) == "hills" ? "T" : unit;
    if (o.unit != unit) o.hillFraction = 0.5, o.edgeWidth = 0.05, o.valleyField = 0.05;
    Result<SynthMapText> made = SynthesizeMap(o);
    ASSERT_TRUE(made) << made.failure().message.text;
    MessageCapture capture;
    std::optional<FieldMap> map = ReadText(made->text);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->unit, o.unit);
    ASSERT_EQ(map->nR, 7);
    ASSERT_EQ(map->nTheta, 72);
    for (int i = 0; i < map->nR; ++i)
      for (int j = 0; j < map->nTheta; ++j) {
        const double theta = (-10 + 5.0 * j) * kPi / 180;
        EXPECT_NEAR(map->field[i * 72 + j], made->field.Field(map->radii[i], theta), 0.5e-5 + 1e-12)
            << i << " " << j;
      }
  }
}

TEST(SynthesizeMap, FieldSignFollowsTheChargeAndFlutterGrowsFromTheCentre) {
  SynthMapOptions o;
  o.flutterCorrection = false;
  o.rMin = 0, o.rMax = 0.6, o.dR = 0.1, o.dTheta = 10;
  for (bool hills : {true, false}) {
    SynthMapOptions shape = o;
    if (hills) shape.hillFraction = 0.5, shape.valleyField = 0.2;
    Result<SynthField> positive = SynthField::Make(shape);
    shape.negativeIon = true;
    Result<SynthField> negative = SynthField::Make(shape);
    ASSERT_TRUE(positive && negative);
    for (double r : {0.0, 0.2, 0.6})
      for (double theta : {0.0, 0.3, 1.0}) {
        EXPECT_GT(positive->Field(r, theta), 0) << hills;
        EXPECT_EQ(negative->Field(r, theta), -positive->Field(r, theta)) << hills;
      }
    // Uniform at the centre, full depth far from it.
    EXPECT_EQ(positive->Flutter(0), 0.0) << hills;
    EXPECT_LT(positive->Flutter(0.03), 0.05 * positive->Flutter(0.6)) << hills;
  }
  Result<SynthField> positive = SynthField::Make(o);
  ASSERT_TRUE(positive);
  EXPECT_EQ(positive->Flutter(0), 0.0);
  EXPECT_LT(positive->Flutter(0.05), 0.05);
  EXPECT_NEAR(positive->Flutter(0.6), 0.4, 1e-4);
  // Hills at θ = 0 and every 90 degrees, valleys between.
  EXPECT_NEAR(positive->Field(0.6, 0) / positive->MeanField(0.6), 1 + positive->Flutter(0.6),
              1e-12);
  EXPECT_NEAR(positive->Field(0.6, kPi / 4) / positive->MeanField(0.6), 1 - positive->Flutter(0.6),
              1e-12);
  EXPECT_NEAR(positive->Field(0.6, kPi / 2), positive->Field(0.6, 0), 1e-12);
}

TEST(SynthField, CentreFieldRevolvesTheIonAtTheRfFrequencyOverH) {
  for (const char* mode : {kModeTvk310, kModeAvf14N5}) {
    SynthMapOptions o;
    ASSERT_TRUE(SynthOptionsFromPreset(mode, o));
    o.flutterCorrection = false;
    Result<SynthField> f = SynthField::Make(o);
    ASSERT_TRUE(f) << f.failure().message.text;
    // Cyclotron frequency |q|·B/(2π·m0) of a slow ion at the centre.
    const double mass = o.massSamu * kKilogramsPerSamu;
    const double fc = o.chargeNumber * kElementaryCharge * f->MeanField(0) / (2 * kPi * mass);
    EXPECT_NEAR(fc / (o.frfMhz * 1e6 / o.harmonic), 1, 1e-12) << mode;
    EXPECT_NEAR(f->RInfinity() * f->Omega0(), kSpeedOfLight, 1e-6);
  }
}

// Facts about circles in a uniform field, independent of the model: the turn takes
// 2π·γ·m/(|q|·B) and the radius is p/(|q|·B).
TEST(SynthField, ClosedOrbitsOfAUniformFieldAreTheTextbookCircles) {
  SynthMapOptions o;  // proton, 26.26 MHz
  o.uniformField = 1.3;
  o.flutter = 0;
  Result<SynthField> f = SynthField::Make(o);
  ASSERT_TRUE(f) << f.failure().message.text;
  const double mass = o.massSamu * kKilogramsPerSamu, q = kElementaryCharge;
  for (double mev : {0.6, 20.0, 60.6}) {
    const double ek = MevToJoules(mev);
    const double e0 = mass * kSpeedOfLight * kSpeedOfLight;
    const double gamma = 1 + ek / e0;
    const double p = std::sqrt(ek * ek + 2 * ek * e0) / kSpeedOfLight;
    SynthOrbit orbit = f->ClosedOrbit(ek);
    ASSERT_TRUE(orbit.found) << mev;
    const double turn = 2 * kPi * gamma * mass / (q * 1.3);  // s
    EXPECT_NEAR(orbit.periodRatio, turn * f->Omega0() / (2 * kPi), 1e-9) << mev;
    EXPECT_NEAR(orbit.meanRadius, p / (q * 1.3), 1e-9) << mev;
    EXPECT_NEAR(orbit.maxRadius - orbit.minRadius, 0, 1e-9) << mev;
  }
}

TEST(SynthField, FlutterCorrectionKeepsEveryClosedOrbitIsochronous) {
  SynthMapOptions o = ExampleOptions(kModeTvk310, "Gs", 0);
  Result<SynthField> corrected = SynthField::Make(o);
  ASSERT_TRUE(corrected) << corrected.failure().message.text;
  o.flutterCorrection = false;
  Result<SynthField> plain = SynthField::Make(o);
  ASSERT_TRUE(plain) << plain.failure().message.text;
  for (double mev = 0.6; mev < 61; mev += 3.9) {
    SynthOrbit orbit = corrected->ClosedOrbit(MevToJoules(mev));
    ASSERT_TRUE(orbit.found) << mev;
    EXPECT_NEAR(orbit.periodRatio, 1, 3e-6) << mev;
  }
  // Without the correction the scalloped orbits of the outer radii turn visibly faster.
  SynthOrbit outer = plain->ClosedOrbit(MevToJoules(60.6));
  ASSERT_TRUE(outer.found);
  EXPECT_LT(outer.periodRatio, 1 - 1e-3);
  EXPECT_LT(corrected->Correction(0.6), -1e-3);
}

TEST(SynthField, SpiralTurnsTheHillsWithRadius) {
  for (bool hills : {false, true}) {
    SynthMapOptions o;
    o.flutterCorrection = false;
    o.spiral = 30;
    if (hills) o.hillFraction = 0.45, o.edgeWidth = 0.05;
    Result<SynthField> f = SynthField::Make(o);
    ASSERT_TRUE(f) << f.failure().message.text;
    // The hill centre is at ξ = 30° · (R/rMax)², the field symmetric about it.
    for (double r : {0.75, 0.375, 0.6}) {
      const double hill = 30 * kPi / 180 * (r / 0.75) * (r / 0.75);
      EXPECT_GT(f->Field(r, hill), f->Field(r, hill + 0.01)) << hills << " " << r;
      EXPECT_GT(f->Field(r, hill), f->Field(r, hill - 0.01)) << hills << " " << r;
      for (double d : {0.05, 0.2, 0.3})
        EXPECT_NEAR(f->Field(r, hill + d), f->Field(r, hill - d), 1e-12) << hills << " " << r;
    }
  }
}

// The hills as sampled into a map and as the model describes them: hill fraction, valley level,
// mean and edge width (measured across the spiral edge).
TEST(SynthesizeMap, HillsHaveTheirFractionValleyMeanAndEdgeWidth) {
  for (double spiral : {0.0, 30.0}) {
    SCOPED_TRACE(spiral);
    SynthMapOptions o = HillOptions();
    o.spiral = spiral;
    Result<SynthMapText> made = SynthesizeMap(o);
    ASSERT_TRUE(made) << made.failure().message.text;
    MessageCapture capture;
    std::optional<FieldMap> map = ReadText(made->text);
    ASSERT_TRUE(map);
    const SynthField& f = made->field;
    const int i = 4;  // r = 0.5 m
    const double r = map->radii[i];
    const double hillAzimuth = spiral * kPi / 180 * (r / 0.7) * (r / 0.7);
    double low = 1e9, high = -1e9, sum = 0;
    for (int j = 0; j < map->nTheta; ++j) {
      low = std::min(low, map->field[i * map->nTheta + j]);
      high = std::max(high, map->field[i * map->nTheta + j]);
      sum += map->field[i * map->nTheta + j];
    }
    EXPECT_NEAR(low / high, 0.1, 2e-4);
    EXPECT_NEAR(high, f.Field(r, hillAzimuth), 1e-5);
    EXPECT_NEAR(sum / map->nTheta, f.MeanField(r), 2e-5);
    int above = 0;
    for (int j = 0; j < map->nTheta; ++j)
      above += map->field[i * map->nTheta + j] > (low + high) / 2;
    EXPECT_NEAR(above / 360.0, 0.4, 8 / 360.0);  // one node at each of the 8 edges

    // Rising edge of the hill at φ = −0.4π: from 10 % to 90 % of the step.
    auto level = [&](double fraction) {
      double a = hillAzimuth - 0.4 * kPi / 4 - 0.2, b = hillAzimuth - 0.4 * kPi / 4 + 0.2;
      const double target = low + fraction * (high - low);
      for (int k = 0; k < 100; ++k) {
        const double m = (a + b) / 2;
        (f.Field(r, m) < target ? a : b) = m;
      }
      return (a + b) / 2;
    };
    const double tanEdge = 2 * spiral * kPi / 180 * (r / 0.7) * (r / 0.7);
    const double across = r * (level(0.9) - level(0.1)) / std::sqrt(1 + tanEdge * tanEdge);
    EXPECT_NEAR(across, 0.03, 1e-4);
  }
}

TEST(SynthField, RefusesOptionsWithoutAMeaningfulMap) {
  auto refused = [](void (*change)(SynthMapOptions&)) {
    SynthMapOptions o;
    o.flutterCorrection = false;
    change(o);
    Result<SynthField> f = SynthField::Make(o);
    return !f && !f.failure().message.text.empty();
  };
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.rMax = 2.0; }));  // beyond R∞ = 1.817 m
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.flutter = 1; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.unit = "gs"; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.thetaMax = 359; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.rMin = -0.1; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.dR = 0; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.sectors = 1; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.frfMhz = 0; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.uniformField = 0.0; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.hillFraction = 0.0; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.hillFraction = 1.0; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.hillFraction = 0.5, o.valleyField = 1; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.hillFraction = 0.5, o.valleyField = -0.1; }));
  EXPECT_TRUE(refused([](SynthMapOptions& o) { o.hillFraction = 0.5, o.edgeWidth = 0; }));
  EXPECT_FALSE(refused([](SynthMapOptions& o) { o.hillFraction = 0.5, o.valleyField = 0.3; }));
  EXPECT_FALSE(refused([](SynthMapOptions& o) { o.rMax = 2.0, o.uniformField = 1.0; }));
}

// The bundled maps are what the documented commands make today, and the orbit of the highest
// energy of their machine stays inside the mesh.
TEST(ExampleMaps, MatchTheirRegeneratingCommandsAndHoldTheHighestEnergy) {
  struct Example {
    const char* file;
    SynthMapOptions options;
    double lastMev;
  };
  for (const Example& e : {Example{"tvk310-p.sdf", ExampleOptions(kModeTvk310, "Gs", 25), 60.6},
                           Example{"avf-14n5.sdf", ExampleOptions(kModeAvf14N5, "T", 0), 100.0},
                           Example{"ring-590.sdf", RingOptions(), 590.0},
                           Example{"tvk310-p-disturbed.sdf", DisturbedOptions(), 0.0}}) {
    std::ifstream in(std::string(ZUBA_EXAMPLES_DIR) + "/" + e.file, std::ios::binary);
    ASSERT_TRUE(in) << e.file;
    std::stringstream content;
    content << in.rdbuf();
    Result<SynthMapText> made = SynthesizeMap(e.options);
    ASSERT_TRUE(made) << made.failure().message.text;
    EXPECT_TRUE(made->text == content.str()) << e.file << " differs from its regenerating command";
    if (e.lastMev == 0) continue;  // a disturbed map: not isochronous by design
    SynthOrbit last = made->field.ClosedOrbit(MevToJoules(e.lastMev));
    ASSERT_TRUE(last.found);
    EXPECT_LT(last.maxRadius, e.options.rMax - 0.005) << e.file;
    EXPECT_NEAR(last.periodRatio, 1, 3e-6) << e.file;
  }
}

// The ring of examples/ring-590.sdf: every closed orbit from injection at 72 MeV to 590 MeV turns
// in 2π/ω0 and stays on the mesh; hills below 2.1 T, valleys near 0 T, flutter near 1.
TEST(ExampleMaps, RingIsIsochronousFrom72To590MeV) {
  SynthMapOptions o = RingOptions();
  Result<SynthField> ring = SynthField::Make(o);
  ASSERT_TRUE(ring) << ring.failure().message.text;
  // Energies between the radii of the fitted orbits as well as on them.
  for (double mev = 72; mev <= 590; mev += 518.0 / 14) {
    const SynthOrbit orbit = ring->ClosedOrbit(MevToJoules(mev));
    ASSERT_TRUE(orbit.found) << mev;
    EXPECT_NEAR(orbit.periodRatio, 1, 1e-8) << mev;
    EXPECT_GT(orbit.minRadius, 1.8) << mev;
    EXPECT_LT(orbit.maxRadius, 4.7) << mev;
  }
  for (double r = 1.8; r <= 4.7; r += 0.29) {
    const double hill = 33 * kPi / 180 * (r / 4.7) * (r / 4.7);
    EXPECT_LT(ring->Field(r, hill), 2.1) << r;
    EXPECT_LT(std::fabs(ring->Field(r, hill + kPi / 8)), 1e-4) << r;
    EXPECT_NEAR(ring->FlutterVariance(r), 0.95, 0.1) << r;
  }
  // Without the correction the ring's scalloped orbits turn far too fast.
  o.flutterCorrection = false;
  Result<SynthField> plain = SynthField::Make(o);
  ASSERT_TRUE(plain);
  const SynthOrbit fast = plain->ClosedOrbit(MevToJoules(590));
  ASSERT_TRUE(fast.found);
  EXPECT_LT(fast.periodRatio, 1 - 5e-3);
}

}  // namespace
}  // namespace zuba
