#include "numerics/azimuthal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/message.h"
#include "test_maps.h"

namespace zuba {
namespace {

using testing::kPi;
using testing::MakeMap;
using testing::TestMap;

Message ErrorBox(const std::string& text) {
  return {text, "Error", Icon::Error, Owner::None};
}

double Simpson(const std::vector<double>& X, const std::vector<double>& Y, int32_t m) {
  double integral = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(X, Y, m, integral)), 1);
  return integral;
}

TEST(SimpsonIntegral, ExactForCubicsOverAnEvenNumberOfIntervals) {
  auto cubic = [](double x) { return 2 * x * x * x - x * x + 3 * x - 1; };
  auto primitive = [](double x) { return 0.5 * x * x * x * x - x * x * x / 3 + 1.5 * x * x - x; };
  std::vector<double> X, Y;
  for (int k = 0; k <= 10; ++k) {
    X.push_back(-1.0 + 0.3 * k);
    Y.push_back(cubic(X.back()));
  }
  for (int m : {2, 4, 6, 10})
    EXPECT_NEAR(Simpson(X, Y, m), primitive(X[m]) - primitive(X[0]), 1e-12) << m;
}

TEST(SimpsonIntegral, OneIntervalIsATrapezoidTwoAPanelThreeAPanelAndATrapezoid) {
  const std::vector<double> X = {0, 1, 2, 3}, Y = {0, 1, 4, 9};  // y = x²
  EXPECT_DOUBLE_EQ(Simpson(X, Y, 1), 0.5);
  EXPECT_DOUBLE_EQ(Simpson(X, Y, 2), 8.0 / 3.0);
  EXPECT_DOUBLE_EQ(Simpson(X, Y, 3), 8.0 / 3.0 + 6.5);
  EXPECT_DOUBLE_EQ(Simpson({0, 1, 2}, {0, 1, 4}, 2), 8.0 / 3.0);
  EXPECT_DOUBLE_EQ(Simpson({0, 1, 2}, {0, 1, 4}, 1), 0.5);
}

TEST(SimpsonIntegral, TakesTheStepFromTheEndsOfTheWholeTable) {
  // The inner abscissae are not consulted; the step is (X[s−1] − X[0])/(s − 1) = 2.
  EXPECT_DOUBLE_EQ(Simpson({0, 0.1, 3.7, 6}, {1, 1, 1, 1}, 2), 4.0);
  EXPECT_DOUBLE_EQ(Simpson({0, 0.1, 3.7, 6}, {1, 1, 1, 1}, 1), 2.0);
}

TEST(SimpsonIntegral, RefusesUnequalTablesBadIntervalCountsAndBadSteps) {
  MessageCapture capture;
  double I = 0;
  const std::vector<double> X = {0, 1, 2}, Y = {0, 1, 4};
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(X, std::vector<double>{0, 1}, 0, I)), 0);  // counts first
  EXPECT_EQ(capture.messages(), std::vector<Message>(1, ErrorBox("Source Data Error!")));
  capture.clear();
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(X, Y, 3, I)), 0);
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(X, Y, 0, I)), 0);
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(X, Y, -1, I)), 0);
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(std::vector<double>{}, std::vector<double>{}, 1, I)), 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(4, ErrorBox("Integration Diapason Error!")));
  capture.clear();
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(std::vector<double>{2, 1, 0}, Y, 2, I)), 0);
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(std::vector<double>{1, 5, 1}, Y, 2, I)), 0);
  EXPECT_EQ(ShowOutcome(SimpsonIntegral(std::vector<double>{0, 1, std::nan("")}, Y, 2, I)), 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(3, ErrorBox("Integration Step Error!")));
}

TEST(AzimuthalMean, ConstantAtEachRadiusGivesThatConstantForEvenAndOddNodeCounts) {
  for (int nTheta : {36, 37, 5}) {
    const TestMap m = MakeMap(4, 0.0, 0.5, nTheta, 0.0, [](double R, double) { return 1 + R; });
    std::vector<double> mean;
    ASSERT_EQ(ShowOutcome(AzimuthalMean(m.field, 4, 0.0, 2 * kPi, nTheta, mean)), 1);
    ASSERT_EQ(mean.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(mean[i], 1 + m.radii[i], 1e-14) << nTheta;
  }
}

TEST(AzimuthalMean, RemovesTheHarmonicsWhateverTheFirstAzimuth) {
  for (double theta0 : {0.0, 0.3, -1.1}) {
    const TestMap m = MakeMap(3, 0.0, 0.5, 48, theta0, [](double R, double theta) {
      return 2.0 + R * std::cos(theta) + 0.5 * std::sin(4 * theta - R);
    });
    std::vector<double> mean;
    ASSERT_EQ(ShowOutcome(AzimuthalMean(m.field, 3, theta0, theta0 + 2 * kPi, 48, mean)), 1);
    for (double value : mean) EXPECT_NEAR(value, 2.0, 1e-14) << theta0;
  }
}

TEST(FieldHarmonics, ListsHarmonicsOneToNMinusOneThenMultiplesOfN) {
  auto list = [](int32_t N) {
    std::vector<int32_t> numbers;
    for (int32_t p = 0; p < HarmonicCount(N); ++p) numbers.push_back(HarmonicNumber(N, p));
    return numbers;
  };
  EXPECT_EQ(list(2), (std::vector<int32_t>{1, 2, 4, 6, 8, 10}));
  EXPECT_EQ(list(3), (std::vector<int32_t>{1, 2, 3, 6, 9, 12, 15}));
  EXPECT_EQ(list(4), (std::vector<int32_t>{1, 2, 3, 4, 8, 12, 16, 20}));
}

TEST(FieldHarmonics, RecoversPlantedHarmonicsAndLeavesTheOthersNearZero) {
  // B = B0 + 0.2·cos(4(θ − ψ4)) + 0.05·R·cos(8(θ − ψ8)) + 0.01·cos(3(θ − ψ3)) for N = 4.
  // ψ3 lies outside [−π/3, π/3]: it is reported modulo 2π/3.
  const double psi4 = 0.3, psi8 = -0.15, psi3 = 1.5;
  const int nTheta = 72;
  const TestMap m = MakeMap(3, 0.5, 0.5, nTheta, 0.0, [&](double R, double theta) {
    return 1.5 + 0.2 * std::cos(4 * (theta - psi4)) + 0.05 * R * std::cos(8 * (theta - psi8)) +
           0.01 * std::cos(3 * (theta - psi3));
  });
  std::vector<double> A, psi;
  ASSERT_EQ(ShowOutcome(FieldHarmonics(m.field, m.radii, 4, 0.0, 2 * kPi, nTheta, A, psi)), 1);
  ASSERT_EQ(A.size(), 3u * 8u);
  ASSERT_EQ(psi.size(), 3u * 8u);
  for (int i = 0; i < 3; ++i) {
    const double* a = &A[i * 8];
    const double* p = &psi[i * 8];
    EXPECT_NEAR(a[2], 0.01, 1e-12);  // harmonic 3
    EXPECT_NEAR(p[2], psi3 - 2 * kPi / 3, 1e-10);
    EXPECT_NEAR(a[3], 0.2, 1e-12);  // harmonic 4 = N
    EXPECT_NEAR(p[3], psi4, 1e-10);
    EXPECT_NEAR(a[4], 0.05 * m.radii[i], 1e-12);  // harmonic 8 = 2N
    EXPECT_NEAR(p[4], psi8, 1e-9);
    for (int q : {0, 1, 5, 6, 7}) EXPECT_NEAR(a[q], 0.0, 1e-12) << i << " " << q;
  }
}

TEST(FieldHarmonics, PhaseIsMeasuredFromTheTurnDescriptionsFirstSample) {
  // A turn that starts at the map's first azimuth θ0 = 4Δ: the samples sit at the true azimuths.
  const int nTheta = 36;
  const double delta = 2 * kPi / nTheta;
  const TestMap m = MakeMap(3, 0.0, 1.0, nTheta, 4 * delta, [](double, double theta) {
    return 1 + 0.1 * std::cos(2 * (theta - 0.4));
  });
  std::vector<double> A, psi;
  ASSERT_EQ(ShowOutcome(FieldHarmonics(m.field, m.radii, 2, 4 * delta, 4 * delta + 2 * kPi, nTheta,
                                       A, psi)),
            1);
  EXPECT_NEAR(A[1], 0.1, 1e-12);
  EXPECT_NEAR(psi[1], 0.4, 1e-10);
}

TEST(FieldHarmonics, RefusesATableThatDoesNotMatchTheMesh) {
  MessageCapture capture;
  std::vector<double> A, psi;
  EXPECT_EQ(ShowOutcome(FieldHarmonics(std::vector<double>(11), std::vector<double>{0, 1, 2}, 4, 0,
                                       2 * kPi, 4, A, psi)),
            0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(1, ErrorBox("Array Size Error!")));
}

TEST(RadialDerivativeMap, GivesTheSlopeOfLinearAndQuadraticColumnsAtEveryNode) {
  const TestMap linear = MakeMap(
      6, 0.1, 0.2, 8, 0.0, [](double R, double theta) { return 1 + (2 + std::cos(theta)) * R; });
  std::vector<double> G;
  ASSERT_EQ(ShowOutcome(RadialDerivativeMap(linear.field, linear.radii, 8, G)), 1);
  ASSERT_EQ(G.size(), linear.field.size());
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 8; ++j)
      EXPECT_NEAR(G[i * 8 + j], 2 + std::cos(linear.azimuths[j]), 1e-12) << i << " " << j;

  const TestMap quadratic =
      MakeMap(4, 0.0, 0.5, 3, 0.0, [](double R, double theta) { return theta * R * R - R; });
  ASSERT_EQ(ShowOutcome(RadialDerivativeMap(quadratic.field, quadratic.radii, 3, G)), 1);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(G[i * 3 + j], 2 * quadratic.azimuths[j] * quadratic.radii[i] - 1, 1e-12);
}

TEST(RadialDerivativeMap, RefusesATableThatDoesNotMatchTheMesh) {
  MessageCapture capture;
  std::vector<double> G;
  EXPECT_EQ(
      ShowOutcome(RadialDerivativeMap(std::vector<double>(11), std::vector<double>{0, 1, 2}, 4, G)),
      0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(1, ErrorBox("Array size error!")));
}

}  // namespace
}  // namespace zuba
