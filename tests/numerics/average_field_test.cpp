#include "numerics/average_field.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/message.h"
#include "test_maps.h"

namespace zuba {
namespace {

using testing::kPi;
using testing::MakeMap;
using testing::TestMap;

struct Tables {
  std::vector<double> v, epsilon, psi;
};

int RunAverage(const TestMap& m, int32_t N, Tables& t) {
  const double theta0 = m.azimuths[0];
  return ShowOutcome(AverageFieldParameters(m.field, m.radii, N, theta0, theta0 + 2 * kPi,
                                            m.nTheta(), t.v, t.epsilon, t.psi));
}

TEST(AverageFieldParameters, TwoRadiusNodesEndWithRadiusPointNumberAfterASuccessfulSplineSetUp) {
  MessageCapture capture;
  // The run prepares the radial moments first: that succeeds on two nodes.
  const TestMap m = MakeMap(2, 0.0, 0.5, 8, 0.0, [](double, double) { return 1.0; });
  EXPECT_EQ(m.moments.size(), 16u);
  EXPECT_TRUE(capture.messages().empty());
  Tables t;
  EXPECT_EQ(RunAverage(m, 4, t), 0);
  EXPECT_EQ(
      capture.messages(),
      (std::vector<Message>{{"Radius point number < 3!", "Error!", Icon::Error, Owner::None}}));
}

TEST(AverageFieldParameters, RefusesAFieldTableThatDoesNotMatchTheMesh) {
  MessageCapture capture;
  Tables t;
  const std::vector<double> radii = {0, 1, 2};
  EXPECT_EQ(ShowOutcome(AverageFieldParameters(std::vector<double>(11), radii, 4, 0, 2 * kPi, 4,
                                               t.v, t.epsilon, t.psi)),
            0);
  EXPECT_EQ(capture.messages(),
            (std::vector<Message>{{"Array size error!", "Error", Icon::Error, Owner::None}}));
}

TEST(AverageFieldParameters, ZeroHarmonicRatioMeansNoRadiusCorrection) {
  // So weak a field that the harmonic integrals underflow: ε is exactly 0, u is not a number.
  const TestMap m =
      MakeMap(4, 0.0, 0.5, 16, 0.0, [](double R, double) { return 1e-200 * (1 + R); });
  Tables t;
  ASSERT_EQ(RunAverage(m, 4, t), 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t.epsilon[i], 0.0);
    EXPECT_EQ(t.v[i], 2147483647.0);
  }
}

// B = B0·(1 + e·cos(N(θ − ψ0))) at every radius: the field index and dε/dR vanish, so
// u = 0.75·e²/N² + 0.25 and v = 0.25·(N·e / ((N² − 1)·(√u + 0.5)))².
TEST(AverageFieldParameters, FlatFieldWithConstantFlutterGivesTheClosedFormCorrection) {
  for (int32_t N : {3, 4, 6}) {
    const double e = 0.15, psi0 = 0.2 / N;
    const TestMap m = MakeMap(5, 0.1, 0.2, 72, 0.0, [&](double, double theta) {
      return 1.7 * (1 + e * std::cos(N * (theta - psi0)));
    });
    AverageFieldAnalysis a;
    ASSERT_EQ(ShowOutcome(AnalyseAverageField(m.field, m.radii, N, 0.0, 2 * kPi, 72, a)), 1);
    const double u = 0.75 * e * e / (N * N) + 0.25;
    const double q = N * e / ((N * N - 1.0) * (std::sqrt(u) + 0.5));
    for (int i = 0; i < 5; ++i) {
      EXPECT_NEAR(a.meanField[i], 1.7, 1e-13);
      EXPECT_NEAR(a.fieldIndex[i], 0.0, 1e-13);
      EXPECT_NEAR(a.epsilon[i], e, 1e-12);
      EXPECT_NEAR(a.psi[i], psi0, 1e-10);
      EXPECT_NEAR(a.v[i], 0.25 * q * q, 1e-12 * q * q) << N << " " << i;
    }
    Tables t;
    ASSERT_EQ(RunAverage(m, N, t), 1);
    EXPECT_EQ(t.v, a.v);
    EXPECT_EQ(t.epsilon, a.epsilon);
    EXPECT_EQ(t.psi, a.psi);
  }
}

TEST(AverageFieldParameters, FieldIndexFollowsTheMeanField) {
  // Mean field 1 + 0.5·R²: k = R·dB/dR / B = R² / (1 + 0.5·R²); the flutter has a rising amplitude.
  const TestMap m = MakeMap(6, 0.0, 0.3, 40, 0.0, [](double R, double theta) {
    return 1 + 0.5 * R * R + 0.1 * R * std::cos(4 * theta);
  });
  AverageFieldAnalysis a;
  ASSERT_EQ(ShowOutcome(AnalyseAverageField(m.field, m.radii, 4, 0.0, 2 * kPi, 40, a)), 1);
  for (int i = 0; i < 6; ++i) {
    const double R = m.radii[i];
    EXPECT_NEAR(a.meanField[i], 1 + 0.5 * R * R, 1e-13);
    EXPECT_NEAR(a.fieldIndex[i], R * R / (1 + 0.5 * R * R), 1e-12) << i;
    EXPECT_NEAR(a.epsilon[i], 0.1 * R / (1 + 0.5 * R * R), 1e-12) << i;
  }
  for (int i = 1; i < 6; ++i) {
    EXPECT_GT(a.v[i], 0.0);
    EXPECT_LT(a.v[i], 1.0);
  }
}

}  // namespace
}  // namespace zuba
