#include "calc/run/run_quantities.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/message.h"
#include "tests/shown.h"

namespace zuba {
namespace {

RunParameters Preset(const char* label) {
  RunParameters p;
  EXPECT_TRUE(ApplyPreset(label, p));
  return p;
}

TEST(ApplyPreset, WritesTheProtonPresetExactly) {
  RunParameters p;
  p.Path = "/some/map.sdf";
  p.T0 = 3;
  ASSERT_TRUE(ApplyPreset("TVK-310: p", p));
  EXPECT_EQ(p.Path, "");
  EXPECT_EQ(p.ParticleName, "p");
  EXPECT_EQ(p.EkBegin, 0.6);
  EXPECT_EQ(p.EkEnd, 60.6);
  EXPECT_EQ(p.dEk, 0.6);
  EXPECT_EQ(p.Frf, 26.26);
  EXPECT_EQ(p.H, 1);
  EXPECT_EQ(p.N, 4);
  EXPECT_EQ(p.ChargeSign, 0);
  EXPECT_EQ(p.Q, 1);
  EXPECT_EQ(p.m0, 1.007276466812);
  EXPECT_EQ(p.T0, 0.0);
  EXPECT_EQ(p.TIs, 8 * std::atan(1.0));
  EXPECT_EQ(p.h, 1e-4);
}

TEST(ApplyPreset, WritesTheNitrogenPresetExactly) {
  RunParameters p = Preset("AVF: 14N5");
  EXPECT_EQ(p.Path, "");
  EXPECT_EQ(p.ParticleName, "14N5");
  EXPECT_EQ(p.EkBegin, 1.0);
  EXPECT_EQ(p.EkEnd, 100.0);
  EXPECT_EQ(p.dEk, 1.0);
  EXPECT_EQ(p.Frf, 16.3);
  EXPECT_EQ(p.H, 2);
  EXPECT_EQ(p.N, 4);
  EXPECT_EQ(p.ChargeSign, 0);
  EXPECT_EQ(p.Q, 5);
  EXPECT_EQ(p.m0, 14.000330460238006);
  EXPECT_EQ(p.T0, 0.0);
  EXPECT_EQ(p.TIs, 8 * std::atan(1.0));
  EXPECT_EQ(p.h, 1e-4);
}

TEST(ApplyPreset, OtherLabelsLeaveTheRecordUntouched) {
  RunParameters p;
  p.ParticleName = "typed";
  p.EkEnd = 7;
  const RunParameters before = p;
  for (const char* label : {"tvk-310: p", "TVK-310: p ", "AVF:14N5", "", "AVF: 14n5"}) {
    EXPECT_FALSE(ApplyPreset(label, p)) << label;
    EXPECT_EQ(p, before) << label;
  }
}

TEST(DeriveRunQuantities, PresetsGiveTheirEnergyCountsAndSiValues) {
  MessageCapture capture;
  Result<RunQuantities> proton = test::DeriveRunQuantitiesShown(Preset("TVK-310: p"));
  ASSERT_TRUE(proton.ok());
  EXPECT_EQ(proton->n, 101);
  EXPECT_EQ(proton->Ek.size(), 101u);
  EXPECT_EQ(proton->rfFrequency, 26.26 * 1000000);
  EXPECT_EQ(proton->charge, 1.6021892e-19);
  EXPECT_EQ(proton->restMass, 1.007276466812 * 1.6605655e-27);
  EXPECT_EQ(proton->ekBegin, 0.6 * 1000000 * 1.6021892e-19);
  EXPECT_EQ(proton->ekEnd, 60.6 * 1000000 * 1.6021892e-19);

  Result<RunQuantities> nitrogen = test::DeriveRunQuantitiesShown(Preset("AVF: 14N5"));
  ASSERT_TRUE(nitrogen.ok());
  EXPECT_EQ(nitrogen->n, 100);
  EXPECT_EQ(nitrogen->charge, 5 * 1.6021892e-19);
  EXPECT_NEAR(nitrogen->Ek.back(), 100.0 * 1e6 * 1.6021892e-19, 1e-20);
  EXPECT_TRUE(capture.messages().empty());
}

TEST(DeriveRunQuantities, EnergyTableIsARunningSumAndMayStopShortOfTheEnd) {
  RunParameters p = Preset("TVK-310: p");
  p.EkBegin = 0;
  p.EkEnd = 1;
  p.dEk = 0.3;
  Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out->n, 4);
  const double dEk = 0.3 * 1000000 * 1.6021892e-19;
  double sum = 0;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(out->Ek[i], sum) << i;  // bit-exact running sum
    sum = sum + dEk;
  }

  p.dEk = 0.7;  // larger than half the range: energies 0 and 0.7 MeV
  out = test::DeriveRunQuantitiesShown(p);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out->n, 2);
  EXPECT_EQ(out->Ek[1], 0.7 * 1000000 * 1.6021892e-19);

  // The proton preset's table, element by element.
  out = test::DeriveRunQuantitiesShown(Preset("TVK-310: p"));
  ASSERT_TRUE(out.ok());
  sum = out->ekBegin;
  for (double ek : out->Ek) {
    EXPECT_EQ(ek, sum);
    sum = sum + out->dEk;
  }
}

TEST(DeriveRunQuantities, NegativeIonGetsNegativeCharge) {
  RunParameters p = Preset("TVK-310: p");
  p.ChargeSign = 1;
  Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out->charge, -1.6021892e-19);
}

// Each basic check refuses silently; when several fail, the first in order decides.
TEST(DeriveRunQuantities, BasicChecksRefuseSilentlyInOrder) {
  MessageCapture capture;
  struct Case {
    const char* name;
    void (*change)(RunParameters&);
    const char* field;  // what the refusal line names
  };
  const Case cases[] = {
      {"sign 2", [](RunParameters& p) { p.ChargeSign = 2; }, "ChargeSign"},
      {"sign -1", [](RunParameters& p) { p.ChargeSign = -1; }, "ChargeSign"},
      {"begin<0", [](RunParameters& p) { p.EkBegin = -0.1; }, "EkBegin"},
      {"end 0", [](RunParameters& p) { p.EkBegin = 0, p.EkEnd = 0; }, "EkEnd"},
      {"begin=end", [](RunParameters& p) { p.EkBegin = p.EkEnd; }, "EkEnd"},
      {"dEk 0", [](RunParameters& p) { p.dEk = 0; }, "dEk"},
      {"T0<0", [](RunParameters& p) { p.T0 = -1; }, "T0"},
      {"TIs 0", [](RunParameters& p) { p.TIs = 0, p.T0 = 0; }, "TIs"},
      {"T0=TIs", [](RunParameters& p) { p.T0 = p.TIs; }, "T0"},
      {"h 0", [](RunParameters& p) { p.h = 0; }, "h"},
      // Several at once: ChargeSign is looked at first, h last.
      {"all", [](RunParameters& p) { p.ChargeSign = 5, p.dEk = -1, p.h = -1, p.H = 0; },
       "ChargeSign"},
      {"dEk and h", [](RunParameters& p) { p.dEk = -1, p.h = -1, p.N = 1; }, "dEk"},
      // The basic checks come before the further ones.
      {"h and H", [](RunParameters& p) { p.h = 0, p.H = 0; }, "h ="},
  };
  for (const Case& c : cases) {
    RunParameters p = Preset("AVF: 14N5");
    c.change(p);
    Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
    EXPECT_FALSE(out.ok()) << c.name;
    EXPECT_FALSE(!out.failure().quiet) << c.name;
    EXPECT_EQ(out.failure().message.text.rfind(c.field, 0), 0u)
        << c.name << ": " << out.failure().message.text;
  }
  EXPECT_TRUE(capture.messages().empty());
}

TEST(DeriveRunQuantities, ZeroBeginEnergyIsAccepted) {
  RunParameters p = Preset("TVK-310: p");
  p.EkBegin = 0;
  Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out->Ek[0], 0.0);
  EXPECT_EQ(out->n, 102);
}

TEST(DeriveRunQuantities, NotANumberFailsItsBasicCheck) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  MessageCapture capture;
  struct Case {
    void (*change)(RunParameters&, double);
    const char* field;
  };
  const Case cases[] = {
      {[](RunParameters& p, double v) { p.EkBegin = v; }, "EkBegin"},
      {[](RunParameters& p, double v) { p.EkEnd = v; }, "EkEnd"},
      {[](RunParameters& p, double v) { p.dEk = v; }, "dEk"},
      {[](RunParameters& p, double v) { p.T0 = v; }, "T0"},
      {[](RunParameters& p, double v) { p.TIs = v; }, "TIs"},
      {[](RunParameters& p, double v) { p.h = v; }, "h"},
  };
  for (const Case& c : cases) {
    RunParameters p = Preset("TVK-310: p");
    c.change(p, nan);
    Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
    EXPECT_FALSE(out.ok()) << c.field;
    EXPECT_EQ(out.failure().message.text.rfind(c.field, 0), 0u) << out.failure().message.text;
  }
  // Frf and m0 have no basic check: their own refusal catches a value that is not a number.
  RunParameters p = Preset("TVK-310: p");
  p.Frf = nan;
  EXPECT_FALSE(test::DeriveRunQuantitiesShown(p).ok());
  p = Preset("TVK-310: p");
  p.m0 = nan;
  EXPECT_FALSE(test::DeriveRunQuantitiesShown(p).ok());
  EXPECT_EQ(capture.messages().size(), 2u);
}

TEST(DeriveRunQuantities, FurtherChecksShowOneNamedMessage) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  struct Case {
    void (*change)(RunParameters&);
    const char* text;
  };
  const Case cases[] = {
      {[](RunParameters& p) { p.H = 0; },
       "Harmonic number H = 0 is out of range (allowed: 1 or more)!"},
      {[](RunParameters& p) { p.H = -2; },
       "Harmonic number H = -2 is out of range (allowed: 1 or more)!"},
      {[](RunParameters& p) { p.Frf = 0; },
       "RF frequency Frf = 0 MHz is out of range (allowed: a finite number above 0)!"},
      {[](RunParameters& p) { p.Frf = -26.26; },
       "RF frequency Frf = -26.26 MHz is out of range (allowed: a finite number above 0)!"},
      {[](RunParameters& p) { p.Frf = inf; },
       "RF frequency Frf = inf MHz is out of range (allowed: a finite number above 0)!"},
      {[](RunParameters& p) { p.m0 = 0; },
       "Rest mass m0 = 0 samu is out of range (allowed: a finite number above 0)!"},
      {[](RunParameters& p) { p.Q = 0; }, "Charge Q = 0 is out of range (allowed: 1 or more)!"},
      {[](RunParameters& p) { p.N = 1; },
       "Number of sectors N = 1 is out of range (allowed: 2 or more)!"},
      {[](RunParameters& p) { p.N = 0; },
       "Number of sectors N = 0 is out of range (allowed: 2 or more)!"},
      {[](RunParameters& p) { p.EkEnd = inf; },
       "EkEnd = inf MeV is out of range (allowed: a finite number)!"},
      {[](RunParameters& p) { p.EkEnd = 1e305; },  // overflows on conversion to joules
       "EkEnd = 1e+305 MeV is out of range (allowed: a finite number)!"},
      {[](RunParameters& p) { p.dEk = inf; },
       "dEk = inf MeV is out of range (allowed: a finite number)!"},
      {[](RunParameters& p) { p.TIs = inf; },
       "TIs = inf rad is out of range (allowed: a finite number)!"},
      {[](RunParameters& p) { p.h = inf; },
       "h = inf rad is out of range (allowed: a finite number)!"},
      {[](RunParameters& p) { p.dEk = 1e-12; },
       "Energy step dEk = 1e-12 MeV gives 6e+13 energies (allowed: 1 to 2147483647)!"},
      {[](RunParameters& p) { p.EkEnd = 1e300; },
       "Energy step dEk = 0.6 MeV gives 1.666666667e+300 energies (allowed: 1 to 2147483647)!"},
      // Several at once: H is looked at first.
      {[](RunParameters& p) { p.H = 0, p.N = 1, p.Q = 0; },
       "Harmonic number H = 0 is out of range (allowed: 1 or more)!"},
  };
  for (const Case& c : cases) {
    MessageCapture capture;
    RunParameters p = Preset("TVK-310: p");
    c.change(p);
    Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
    EXPECT_FALSE(out.ok()) << c.text;
    EXPECT_TRUE(!out.failure().quiet) << c.text;
    EXPECT_EQ(out.failure().message.text, c.text);
    ASSERT_EQ(capture.messages().size(), 1u) << c.text;
    EXPECT_EQ(capture.messages()[0], (Message{c.text, "Error", Icon::Error, Owner::View}));
  }
}

TEST(DeriveRunQuantities, NegativeChargeNumberIsKeptAsEntered) {
  // The dialog replaces a negative Q by its magnitude; the derivation itself takes Q as it is.
  RunParameters p = Preset("TVK-310: p");
  p.Q = -2;
  Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out->charge, -2 * 1.6021892e-19);
}

TEST(DeriveRunQuantities, EnergyCountJustAboveThe32BitRangeIsRefused) {
  MessageCapture capture;
  RunParameters p = Preset("TVK-310: p");
  p.EkBegin = 0;
  p.EkEnd = 2147483647.0;
  p.dEk = 1;
  Result<RunQuantities> out = test::DeriveRunQuantitiesShown(p);
  EXPECT_FALSE(out.ok());
  EXPECT_EQ(out.failure().message.text,
            "Energy step dEk = 1 MeV gives 2147483648 energies (allowed: 1 to 2147483647)!");
}

}  // namespace
}  // namespace zuba
