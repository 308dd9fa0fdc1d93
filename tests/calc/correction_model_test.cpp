// The searches of the corrections against a model of the orbits whose answer is known by hand: each
// energy's isochronism error is a given function of the mean-field change at its own radius node,
// and an orbit can be made to be lost beyond a given field change. The fit's weights, its current
// limits, steps that lose an orbit, the energies left out, the field index in the correction's
// response; the RF phase across a gap of energies, the warnings, the corrected map whose azimuth
// step cannot be written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>

#include "calc/corrections/isochronise.h"
#include "calc/maps/map_formats.h"
#include "calc/run/diagnostics.h"
#include "numerics/units.h"
#include "platform/numbers.h"
#include "tests/orbit/test_support.h"

namespace zuba {
namespace {

constexpr double kGaussPerAmpere = 1e-4;  // T/A, the flat coil of the fits

// The orbit of energy i sits at radius node NodeOf(i) (0.2 m + 2 cm per energy).
int32_t NodeOf(size_t i) {
  return 20 + 2 * static_cast<int32_t>(i);
}

// A map of B(R) on 61 radius nodes 1 cm apart, 36 azimuths; energies 5 .. 30 MeV in 2.5 MeV steps.
PreparedRun ModelRecord(const std::function<double(double)>& B) {
  return test::MakeRecord(kModeTvk310, 2e-3, 5.0, 30.0, 2.5, test::MapShape{61, 0.6, 36},
                          [&B](double R, double) { return B(R); });
}

// The model: the error of energy i given the change dB (T) of the mean field at its node and the
// field B there; lost(i, dB) says whether its orbit is lost.
struct Model {
  std::function<double(size_t i, double dB, double B)> error;
  std::function<bool(size_t i, double dB)> lost = [](size_t, double) { return false; };
};

OrbitCloser ModelCloser(const PreparedRun& record, Model model) {
  return [&record, model](std::span<const double> field, std::vector<EnergyOrbit>& orbits) {
    orbits.resize(record.Ek.size());
    const double target = record.rfFrequency / record.run.H;
    for (size_t i = 0; i < orbits.size(); ++i) {
      const size_t at = static_cast<size_t>(NodeOf(i)) * static_cast<size_t>(record.nTheta);
      const double B = record.field[at], dB = field[at] - B, R = record.radii[NodeOf(i)];
      EnergyOrbit& orbit = orbits[i];
      orbit = EnergyOrbit{};
      if (model.lost(i, dB)) continue;
      orbit.closed = orbit.seeded = true;
      orbit.F0 = target * (1 + model.error(i, dB, B));
      orbit.Rmn = orbit.Rs = R;
      orbit.Bmn = B + dB;
      orbit.tau = {0, 1};
      orbit.R = {R, R};
    }
    return Result<Closing>(Closing::Closed);
  };
}

// One coil of 1 G/A everywhere.
TrimCoils FlatCoil() {
  return *TrimCoils::Parse("r_m\tflat\n0\t1e-4\n0.2\t1e-4\n0.4\t1e-4\n0.6\t1e-4\n", "flat.tsv");
}

// A fit where energy i's error is a_i (I - wanted_i) / 1000 for the flat coil's current I.
Model Linear(std::vector<double> slope, std::vector<double> wanted) {
  Model m;
  m.error = [=](size_t i, double dB, double) {
    return i < slope.size() ? slope[i] * (dB / kGaussPerAmpere - wanted[i]) * 1e-3 : 0.0;
  };
  return m;
}

TEST(TrimFitOnAModel, WeightsLimitsAndEnergiesLeftOutAsComputedByHand) {
  const PreparedRun record = ModelRecord([](double) { return 1.5; });
  const TrimCoils coil = FlatCoil();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* what;
    std::vector<double> weights;  // per energy; empty: all 1
    double limit;
    double current;  // A, by hand
    bool atLimit;
  } cases[] = {
      // Energies 0 and 1 want 2 A and 6 A: the weighted mean 4 x 6 + 1 x 2 over 5.
      {"weighted 1:4", {1, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1}, inf, 5.2, false},
      {"equal", {}, inf, 4.0, false},
      // Both want a negative current beyond the limit: it stops there.
      {"limited", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 1.5, 1.5, true},
  };
  for (const auto& c : cases) {
    const bool limited = std::isfinite(c.limit);
    const Model model = limited ? Linear({1, 1}, {-4, -6}) : Linear({1, 1}, {2, 6});
    TrimFitOptions options;
    options.energyWeights = c.weights;
    options.limits = {c.limit};
    const Result<TrimFit> fit = FitTrimCoils(record, coil, ModelCloser(record, model), options);
    ASSERT_TRUE(fit) << c.what << ": " << fit.message().text;
    EXPECT_NEAR(fit->currents[0], limited ? -c.current : c.current, 1e-6) << c.what;
    EXPECT_EQ(fit->atLimit, c.atLimit ? std::vector<int>{0} : std::vector<int>{}) << c.what;
  }
}

TEST(TrimFitOnAModel, AStepThatLosesAnOrbitIsNeverTakenAndALeftOutEnergyIsNotCounted) {
  const PreparedRun record = ModelRecord([](double) { return 1.5; });
  // Energies 0 and 1 want 8 A; energy 2, left out, has an error of 1e-2 that no current changes,
  // and loses its orbit above 5 A.
  Model model = Linear({1, 1}, {8, 8});
  model.error = [inner = model.error](size_t i, double dB, double B) {
    return i == 2 ? 1e-2 : inner(i, dB, B);
  };
  model.lost = [](size_t i, double dB) { return i == 2 && dB / kGaussPerAmpere > 5 + 1e-9; };
  TrimFitOptions options;
  options.energyWeights.assign(record.Ek.size(), 1.0);
  options.energyWeights[2] = 0;
  const Result<TrimFit> fit = FitTrimCoils(record, FlatCoil(), ModelCloser(record, model), options);
  ASSERT_TRUE(fit) << fit.message().text;
  EXPECT_NEAR(fit->currents[0], 5, 1e-9);  // as far as every orbit stays
  ASSERT_EQ(fit->errorAfter.size(), record.Ek.size());
  for (double e : fit->errorAfter) EXPECT_NE(e, kNoValue);
  EXPECT_TRUE(fit->excluded[2]);
  // The figures over the fitted energies only: 3 A short of 8 A at 1e-3 per ampere.
  EXPECT_NEAR(fit->isochronismBefore, 8e-3, 1e-9);
  EXPECT_NEAR(fit->isochronismAfter, 3e-3, 1e-9);
}

// The mean field B = 1.2 (0.5 + R) T has the index k = R / (0.5 + R); the model's F0 answers a
// mean-field change as the smooth approximation says, F0 dB / (B (1 + k)).
TEST(CorrectionOnAModel, TheResponseCarriesTheFieldIndexAndAStepThatLosesAnOrbitIsNotKept) {
  const PreparedRun record = ModelRecord([](double R) { return 1.2 * (0.5 + R); });
  auto index = [&](size_t i) {
    const double R = record.radii[NodeOf(i)];
    return R / (0.5 + R);
  };
  Model model;
  model.error = [&](size_t i, double dB, double B) {
    return 2e-4 * (1 + 0.2 * static_cast<double>(i)) + dB / (B * (1 + index(i)));
  };
  struct Case {
    const char* what;
    bool loses;
  };
  for (const Case c : {Case{"orbits kept", false}, Case{"energy 4 lost once changed", true}}) {
    if (c.loses) model.lost = [](size_t i, double dB) { return i == 4 && dB != 0; };
    std::vector<double> worst;
    IsochroniseOptions options;
    options.maxIterations = 3;
    options.iterationDone = [&worst](int, double w) { worst.push_back(w); };
    const Result<MeanFieldCorrection> found =
        FindIsochronousCorrection(record, ModelCloser(record, model), options);
    ASSERT_TRUE(found) << c.what << ": " << found.message().text;
    ASSERT_FALSE(worst.empty()) << c.what;
    for (double e : found->errorAfter) EXPECT_NE(e, kNoValue) << c.what;
    if (c.loses) {
      // Every step loses the orbit of energy 4: none is better than the map as read.
      ASSERT_EQ(found->lostInIterationMeV.size(), 1u);
      EXPECT_NEAR(found->lostInIterationMeV[0], 15, 1e-9);
      EXPECT_EQ(found->errorAfter, found->errorBefore);
      for (double dB : found->deltaB) EXPECT_EQ(dB, 0.0);
    } else {
      // The first step lands where the model says, up to the spline's smoothing.
      EXPECT_LT(worst.front(), 0.05 * found->isochronismBefore);
    }
  }
}

TEST(RfPhase, AGapOfEnergiesWithoutOrbitsCountsEveryStepOfIt) {
  PreparedRun record = ModelRecord([](double) { return 1.5; });
  record.run.H = 2;
  record.run.dEk = 0.5;  // MeV: 5 turns a step at 0.1 MeV a turn
  const double gain = 0.1, e = 1e-3, frf = 40e6;
  const double slip = 360 * 2 * (1 / (1 + e) - 1) * 5;  // RF degrees a step at error e
  const double F0 = frf / 2 * (1 + e);
  // The corrections' phase from errors, and a run's from F0, across one and across two energies
  // without an orbit.
  const std::vector<double> errors = {e, kNoValue, e, kNoValue, kNoValue, e};
  const std::vector<double> phase = RfPhaseOf(record, errors, gain);
  const std::vector<double> F0s = {F0, kNoValue, F0, kNoValue, kNoValue, F0};
  const std::vector<double> slipped = PhaseSlip(F0s, 2, frf, 0.5, gain);
  const double expected[] = {0, kNoValue, 2 * slip, kNoValue, kNoValue, 5 * slip};
  for (size_t i = 0; i < 6; ++i) {
    if (expected[i] == kNoValue) {
      EXPECT_EQ(phase[i], kNoValue) << i;
      EXPECT_EQ(slipped[i], kNoValue) << i;
    } else {
      EXPECT_NEAR(phase[i], expected[i], 1e-9 * std::fabs(slip)) << i;
      EXPECT_NEAR(slipped[i], expected[i], 1e-6 * std::fabs(slip)) << i;
    }
  }
  EXPECT_LT(slip, 0);  // revolving too fast: early
}

TEST(CorrectionWarnings, SayOnlyWhatHappened) {
  PreparedRun record = ModelRecord([](double) { return 1.5; });
  const struct {
    double before, after;
    bool grew;
  } cases[] = {{10, 20, true}, {20, 10, false}, {10, 10, false}};
  for (const auto& c : cases) {
    CorrectionOutcome outcome;
    outcome.phaseDegBefore = c.before;
    outcome.phaseDegAfter = c.after;
    const std::vector<std::string> lines = CorrectionWarnings(record, outcome);
    const bool said = !lines.empty() && lines[0].find("RF phase slip grew") != std::string::npos;
    EXPECT_EQ(said, c.grew) << c.before << " -> " << c.after;
    EXPECT_EQ(lines.size(), c.grew ? 1u : 0u);
  }
}

// A map in 1/3 degree steps (a polar map: a .sdf header cannot hold the step) is written
// corrected on the nearest step that can be written.
TEST(CorrectedMap, WhoseStepCannotBeWrittenIsResampled) {
  const std::string path = testing::TempDir() + "third-degree.txt";
  {
    std::ofstream out(path);
    out.precision(17);
    out << "100\n10\n0\n" << 1.0 / 3 << "\n1080\n3\n";  // r_min, dR (mm), theta_min, dtheta, counts
    for (int k = 0; k < 3 * 1080; ++k) out << (k % 3 == 0 ? "10.0" : "10.5") << "\n";
  }
  const Result<FieldMap> map = ReadMap(path, {});
  ASSERT_TRUE(map) << map.message().text;
  PreparedRun record;
  record.nR = map->nR;
  record.nTheta = map->nTheta;
  record.radii = map->radii;
  record.azimuths = map->azimuths;
  record.field = map->field;
  record.thetaStart = map->thetaStart;
  record.thetaEnd = map->thetaEnd;
  record.run.Path = path;
  record.mapUnit = map->unit;
  const std::vector<double> deltaB(3, 1e-3);
  const Result<SdfConversion> sdf = CorrectedMapSdf(record, deltaB);
  ASSERT_TRUE(sdf) << sdf.message().text;
  EXPECT_TRUE(sdf->resampled);
  EXPECT_TRUE(IsSdfAzimuthStep(sdf->dTheta));
  EXPECT_NEAR(sdf->dTheta, 1.0 / 3, 0.02);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace zuba
