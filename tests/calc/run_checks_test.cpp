// The checks before a run: each implausible setting of the ion, the RF or the energies against an
// isochronous four-sector proton map gives its one warning, naming the quantity; a sound run none.
#include "calc/run/run_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/orbit/test_support.h"

namespace zuba {
namespace {

// The "TVK-310: p" preset (protons 0.6 .. 60.6 MeV in steps of 6 MeV, 26.26 MHz, H = 1, N = 4)
// on B0 gamma(R) (1 + 0.4 cos 4 theta) with radii from rMin to rMax in steps of 0.01 m.
PreparedRun Tvk(
    double rMin = 0, double rMax = 0.8, double (*sign)(double R) = [](double) { return 1.0; }) {
  const double twoPi = 8 * std::atan(1.0);
  const double mass = 1.007276466812 * kKilogramsPerSamu, omega0 = twoPi * 26.26e6;
  const double B0 = mass * omega0 / kElementaryCharge, rInfinity = kSpeedOfLight / omega0;
  const int32_t nR = static_cast<int32_t>(std::lround((rMax - rMin) / 0.01)) + 1;
  PreparedRun r =
      test::MakeRecord(kModeTvk310, 1e-3, 0.6, 60.6, 6, test::MapShape{nR, 1.0, 72},
                       [](double, double) { return 0.0; });
  for (int32_t i = 0; i < nR; ++i) {
    const double R = rMin + 0.01 * i;
    r.radii[static_cast<size_t>(i)] = R;
    for (int32_t j = 0; j < 72; ++j)
      r.field[static_cast<size_t>(i) * 72 + j] =
          sign(R) * B0 / std::sqrt(1 - std::pow(R / rInfinity, 2)) *
          (1 + 0.4 * std::cos(4 * r.azimuths[static_cast<size_t>(j)]));
  }
  return r;
}

TEST(RunWarnings, EachImplausibleSettingIsNamedOnce) {
  struct Case {
    const char* name;
    PreparedRun record;
    std::vector<std::string> starts;  // the beginning of each warning, in order
    std::vector<std::string> ends;    // and its end
  };
  std::vector<Case> cases;
  cases.push_back({"sound", Tvk(), {}, {}});
  {
    PreparedRun r = Tvk();
    r.rfFrequency *= 1e6;  // Frf given in Hz
    cases.push_back({"Frf in Hz",
                     r,
                     {"Frf/H = 2.626e+07 MHz differs from the revolution frequency of "
                      "this ion in the map's mean field ("},
                     {" MHz): check Frf (MHz), H, m0 and Q."}});
  }
  {
    PreparedRun r = Tvk();
    r.run.H = 2;
    cases.push_back(
        {"H", r, {"Frf/H = 13.13 MHz differs from"}, {": check Frf (MHz), H, m0 and Q."}});
  }
  {
    PreparedRun r = Tvk();
    r.run.N = 6;
    cases.push_back(
        {"N", r, {"The map has 4-fold symmetry, N = 6: check N (the number of sectors)."}, {"."}});
  }
  {
    PreparedRun r = Tvk();
    r.charge = -r.charge;
    r.run.ChargeSign = 1;
    cases.push_back({"charge sign",
                     r,
                     {"With ChargeSign = 1 the ion turns against the azimuth in this field: check "
                      "ChargeSign, or read the map negated or reversed (--negate, --reverse)."},
                     {"."}});
  }
  // The orbit of 23.6 MeV has R = 0.4 m (gamma = 1.02514): the energies from 24.6 MeV have none.
  cases.push_back({"map too small",
                   Tvk(0, 0.4),
                   {"24.6\u201360.6 MeV: no orbit in this field (no radius of the map, 0 to 0.4 m, "
                    "bends them): check the energies, m0 and Q."},
                   {"."}});
  // The orbit of 5.72 MeV has R = 0.2 m: 0.6 MeV lies below a map that starts there.
  cases.push_back(
      {"map starts late",
       Tvk(0.2, 0.8),
       {"0.6 MeV: the mean-field radius lies below the map's first radius (0.2 m): check "
        "EkBegin and the map's radii."},
       {"."}});
  // The field turns negative beyond 0.5 m (37.9 MeV): the energies above have no orbit.
  cases.push_back(
      {"sign change",
       Tvk(0, 0.8, [](double R) { return R <= 0.5 + 1e-9 ? 1.0 : -1.0; }),
       {"42.6\u201360.6 MeV: no orbit in this field",
        "The map's mean field changes sign between R = 0.5 and 0.51 m, inside the radii "
        "the energies reach (0 to 0.8 m): check the map's field and the energies."},
       {".", "."}});
  {
    PreparedRun r = Tvk();
    r.field[5 * 72 + 3] = std::numeric_limits<double>::quiet_NaN();
    cases.push_back(
        {"not a number",
         r,
         {"The map holds 1 field value that is not finite or beyond 100 T (the first at "
          "R = 0.05 m): check the map file."},
         {"."}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> warnings = RunWarnings(c.record);
    ASSERT_EQ(warnings.size(), c.starts.size()) << (warnings.empty() ? "" : warnings[0]);
    for (size_t k = 0; k < warnings.size(); ++k) {
      EXPECT_EQ(warnings[k].rfind(c.starts[k], 0), 0u) << warnings[k];
      EXPECT_TRUE(warnings[k].ends_with(c.ends[k])) << warnings[k];
      EXPECT_EQ(warnings[k].find('\n'), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace zuba
