#include "numerics/interpolation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/message.h"

namespace zuba {
namespace {

Message ErrorBox(const std::string& text) {
  return {text, "Error", Icon::Error, Owner::None};
}

double Quadratic(double x) {
  return 0.7 * x * x - 1.3 * x + 2.1;
}
double QuadraticSlope(double x) {
  return 1.4 * x - 1.3;
}

std::vector<double> Sample(const std::vector<double>& X, double (*f)(double)) {
  std::vector<double> Y;
  for (double x : X) Y.push_back(f(x));
  return Y;
}

TEST(Parabola, ReproducesAQuadraticAndItsDerivativesAtEveryNode) {
  const double x0 = -0.4, x1 = 0.25, x2 = 1.9;
  const double y0 = Quadratic(x0), y1 = Quadratic(x1), y2 = Quadratic(x2);
  for (double x : {-3.0, -0.4, 0.0, 0.7, 1.9, 5.5}) {
    double y = 0;
    ASSERT_EQ(ShowOutcome(ParabolaValue(x0, y0, x1, y1, x2, y2, x, y)), 1);
    EXPECT_NEAR(y, Quadratic(x), 1e-12);
  }
  const double nodes[] = {x0, x1, x2, x2};
  for (int k = 0; k < 4; ++k) {  // any selector above 1 means the last node
    double d1 = 0, d2 = 0;
    ASSERT_EQ(ShowOutcome(ParabolaDerivative(x0, y0, x1, y1, x2, y2, k, d1, d2)), 1);
    EXPECT_NEAR(d1, QuadraticSlope(nodes[k]), 1e-12);
    EXPECT_NEAR(d2, 1.4, 1e-12);
  }
}

TEST(Parabola, FailsSilentlyUnlessAbscissaeIncrease) {
  MessageCapture capture;
  double y = 0, d1 = 0, d2 = 0;
  EXPECT_EQ(ShowOutcome(ParabolaValue(0, 1, 0, 2, 1, 3, 0.5, y)), 0);
  EXPECT_EQ(ShowOutcome(ParabolaValue(0, 1, 2, 2, 1, 3, 0.5, y)), 0);
  EXPECT_EQ(ShowOutcome(ParabolaDerivative(2, 1, 1, 2, 3, 3, 1, d1, d2)), 0);
  EXPECT_EQ(ShowOutcome(ParabolaValue(0, 1, std::nan(""), 2, 1, 3, 0.5, y)), 0);
  EXPECT_TRUE(capture.messages().empty());
}

TEST(NodeDerivative, ExactForAQuadraticAtEveryNodeOfEveryTableLength) {
  const std::vector<double> all = {-1.0, -0.3, 0.2, 1.1, 1.5, 2.75, 3.0};
  for (std::size_t n = 3; n <= all.size(); ++n) {
    std::vector<double> X(all.begin(), all.begin() + n);
    std::vector<double> Y = Sample(X, Quadratic);
    for (int32_t i = 0; i < static_cast<int32_t>(n); ++i) {
      double d1 = 0, d2 = 0;
      ASSERT_EQ(ShowOutcome(NodeDerivative(X, Y, static_cast<int32_t>(n), i, d1, d2)), 1)
          << n << " " << i;
      EXPECT_NEAR(d1, QuadraticSlope(X[i]), 1e-12) << n << " " << i;
      EXPECT_NEAR(d2, 1.4, 1e-11) << n << " " << i;
    }
  }
}

// For y = x³ on a uniform grid of step s, the parabola through a node and its two neighbours
// misses the slope by +s² at its middle node and by −2s² at an end node, and its second
// derivative is 6x at its middle node. The averaged node derivative therefore shows which
// parabolas it combined: one-sided at both table ends, centred and forward at node 1 (centred alone
// when n = 3), all three inside, centred and backward at node n−2.
TEST(NodeDerivative, AveragesTheParabolasThatContainTheNode) {
  const double s = 0.5;
  auto check = [&](int32_t n, int32_t i, double slopeExcess, double secondExcess) {
    std::vector<double> X, Y;
    for (int32_t k = 0; k < n; ++k) {
      X.push_back(1.0 + k * s);
      Y.push_back(X.back() * X.back() * X.back());
    }
    double d1 = 0, d2 = 0;
    ASSERT_EQ(ShowOutcome(NodeDerivative(X, Y, n, i, d1, d2)), 1);
    EXPECT_NEAR(d1, 3 * X[i] * X[i] + slopeExcess * s * s, 1e-12) << n << " " << i;
    EXPECT_NEAR(d2, 6 * X[i] + secondExcess * s, 1e-12) << n << " " << i;
  };
  check(3, 0, -2.0, 6.0);   // forward parabola, second derivative at its middle node X[1]
  check(3, 1, 1.0, 0.0);    // centred alone
  check(3, 2, -2.0, -6.0);  // backward parabola
  check(4, 1, -0.5, 3.0);   // centred and forward
  check(4, 2, -0.5, -3.0);  // centred and backward
  check(6, 1, -0.5, 3.0);
  check(6, 2, -1.0, 0.0);  // centred, backward and forward
  check(6, 3, -1.0, 0.0);
  check(6, 4, -0.5, -3.0);
  check(6, 5, -2.0, -6.0);
}

TEST(NodeDerivative, RefusesWrongCountsShortTablesAndIndicesOutside) {
  MessageCapture capture;
  std::vector<double> X = {0, 1, 2}, Y = {0, 1, 4};
  double d1 = 0, d2 = 0;
  EXPECT_EQ(ShowOutcome(NodeDerivative(X, Y, 4, 0, d1, d2)), 0);
  EXPECT_EQ(ShowOutcome(NodeDerivative(X, std::vector<double>{0, 1}, 3, 0, d1, d2)), 0);
  EXPECT_EQ(capture.messages(), (std::vector<Message>{ErrorBox("Graph Point Number Error!"),
                                                      ErrorBox("Graph Point Number Error!")}));
  capture.clear();
  EXPECT_EQ(ShowOutcome(
                NodeDerivative(std::vector<double>{0, 1}, std::vector<double>{0, 1}, 2, 0, d1, d2)),
            0);
  EXPECT_EQ(ShowOutcome(NodeDerivative(X, Y, 3, 3, d1, d2)), 0);
  EXPECT_EQ(ShowOutcome(NodeDerivative(X, Y, 3, -1, d1, d2)), 0);
  ASSERT_EQ(capture.messages().size(), 3u);
  for (const Message& m : capture.messages()) EXPECT_EQ(m.caption, "Error");
  capture.clear();
  // A parabola over non-increasing abscissae fails without a message.
  EXPECT_EQ(ShowOutcome(NodeDerivative(std::vector<double>{0, 1, 1}, Y, 3, 1, d1, d2)), 0);
  EXPECT_TRUE(capture.messages().empty());
}

TEST(SplineSetup, StraightLineHasZeroMomentsAndIsReproducedExactly) {
  const std::vector<double> X = {0, 1, 3, 4, 7, 8, 10};
  std::vector<double> Y;
  for (double x : X) Y.push_back(2 * x + 1);
  std::vector<double> h, M;
  ASSERT_EQ(ShowOutcome(SplineSetup(X, Y, 7, h, M)), 1);
  EXPECT_EQ(M, std::vector<double>(7, 0.0));
  EXPECT_EQ(h, (std::vector<double>{0, 1, 2, 1, 3, 1, 2}));
  for (double x : {1.0, 2.5, 3.0, 5.9, 7.99}) {
    double y = 0;
    ASSERT_EQ(ShowOutcome(SplineValue(h, M, X, Y, 7, x, y)), 1);
    EXPECT_NEAR(y, 2 * x + 1, 1e-13);
  }
}

// The moments of a natural spline make its slope continuous at every inner node and vanish at the
// ends; check both on irregular data.
TEST(SplineSetup, MomentsGiveContinuousSlopeAndNaturalEnds) {
  const std::vector<double> X = {0.0, 0.4, 1.0, 1.3, 2.2, 2.9, 3.5, 4.1};
  const std::vector<double> Y = {1.0, -0.5, 0.3, 2.0, 1.1, -1.4, 0.2, 0.9};
  const int32_t n = 8;
  std::vector<double> h, M;
  ASSERT_EQ(ShowOutcome(SplineSetup(X, Y, n, h, M)), 1);
  EXPECT_EQ(M.front(), 0.0);
  EXPECT_EQ(M.back(), 0.0);
  for (int32_t i = 1; i < n - 1; ++i) {
    const double hl = X[i] - X[i - 1], hr = X[i + 1] - X[i];
    const double slopeLeft = (Y[i] - Y[i - 1]) / hl + hl * (2 * M[i] + M[i - 1]) / 6;
    const double slopeRight = (Y[i + 1] - Y[i]) / hr - hr * (2 * M[i] + M[i + 1]) / 6;
    EXPECT_NEAR(slopeLeft, slopeRight, 1e-12) << i;
  }
  // The spline passes through the nodes it serves.
  for (int32_t i = 1; i <= n - 3; ++i) {
    double y = 0;
    ASSERT_EQ(ShowOutcome(SplineValue(h, M, X, Y, n, X[i], y)), 1);
    EXPECT_NEAR(y, Y[i], 1e-14);
  }
}

TEST(SplineSetup, TwoNodesSucceedShortTablesAreRefused) {
  MessageCapture capture;
  std::vector<double> h, M;
  ASSERT_EQ(
      ShowOutcome(SplineSetup(std::vector<double>{0.5, 1.25}, std::vector<double>{3, 4}, 2, h, M)),
      1);
  EXPECT_EQ(h, (std::vector<double>{0, 0.75}));
  EXPECT_EQ(M, (std::vector<double>{0, 0}));
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_EQ(ShowOutcome(SplineSetup(std::vector<double>{0.5}, std::vector<double>{3}, 1, h, M)), 0);
  EXPECT_EQ(ShowOutcome(SplineSetup(std::vector<double>{}, std::vector<double>{}, 0, h, M)), 0);
  ASSERT_EQ(capture.messages().size(), 2u);
  EXPECT_EQ(capture.messages()[0].caption, "Error");
}

TEST(SplineSetup, FailsSilentlyOnWrongCountsAndNonIncreasingAbscissae) {
  MessageCapture capture;
  std::vector<double> h, M;
  const std::vector<double> Y = {1, 2, 3, 4};
  EXPECT_EQ(ShowOutcome(SplineSetup(std::vector<double>{0, 1, 2, 3}, Y, 3, h, M)), 0);
  EXPECT_EQ(ShowOutcome(SplineSetup(std::vector<double>{0, 1, 2}, Y, 3, h, M)), 0);
  EXPECT_EQ(ShowOutcome(SplineSetup(std::vector<double>{0, 1, 1, 3}, Y, 4, h, M)), 0);
  EXPECT_EQ(ShowOutcome(SplineSetup(std::vector<double>{0, 2, 1, 3}, Y, 4, h, M)), 0);
  EXPECT_TRUE(capture.messages().empty());
}

TEST(SplineSystem, AssemblyAndSolverRefuseWrongCounts) {
  MessageCapture capture;
  std::vector<double> h, a, b, c, d, M;
  const std::vector<double> X = {0, 1, 2};
  EXPECT_EQ(ShowOutcome(AssembleSplineSystem(X, std::vector<double>{0, 1}, 3, h, a, b, c, d)), 0);
  EXPECT_EQ(ShowOutcome(SolveTridiagonal(std::vector<double>(3), std::vector<double>(3),
                                         std::vector<double>(2), std::vector<double>(3), 3, M)),
            0);
  EXPECT_EQ(capture.messages(), (std::vector<Message>{ErrorBox("Element number error!"),
                                                      ErrorBox("Element number error!")}));
}

TEST(SplineSystem, SolverSatisfiesEveryInnerEquation) {
  const int32_t n = 7;
  std::vector<double> a = {0, 0.3, 0.1, 0.5, 0.2, 0.4, 0};
  std::vector<double> b = {0, 2.0, 1.5, 3.0, 1.2, 2.5, 0};
  std::vector<double> c = {0, 0.7, 0.4, 0.9, 0.3, 0.6, 0};
  std::vector<double> d = {0, 1.0, -2.0, 0.5, 3.0, -1.0, 0};
  std::vector<double> M;
  ASSERT_EQ(ShowOutcome(SolveTridiagonal(a, b, c, d, n, M)), 1);
  ASSERT_EQ(M.size(), 7u);
  EXPECT_EQ(M[0], 0.0);
  EXPECT_EQ(M[6], 0.0);
  for (int32_t i = 1; i <= n - 2; ++i)
    EXPECT_NEAR(a[i] * M[i - 1] + b[i] * M[i] + c[i] * M[i + 1], d[i], 1e-14) << i;
}

TEST(SplineValue, ServesOnlyTheInnerIntervals) {
  MessageCapture capture;
  const std::vector<double> X = {0, 1, 2, 3, 4}, Y = {0, 1, 0, 1, 0};
  std::vector<double> h, M;
  ASSERT_EQ(ShowOutcome(SplineSetup(X, Y, 5, h, M)), 1);
  double y = 0;
  EXPECT_EQ(ShowOutcome(SplineValue(h, M, X, Y, 5, 1.0, y)), 1);
  EXPECT_EQ(ShowOutcome(SplineValue(h, M, X, Y, 5, 2.999, y)), 1);
  EXPECT_EQ(ShowOutcome(SplineValue(h, M, X, Y, 5, 0.5, y)), 0);
  EXPECT_EQ(ShowOutcome(SplineValue(h, M, X, Y, 5, 3.0, y)), 0);
  EXPECT_EQ(ShowOutcome(SplineValue(h, M, X, Y, 5, 4.0, y)), 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(3, ErrorBox("Invalid Value of Index!")));
  capture.clear();
  // A three-node table has no inner interval; the wrong count fails silently.
  const std::vector<double> X3 = {0, 1, 2}, Y3 = {0, 1, 0};
  ASSERT_EQ(ShowOutcome(SplineSetup(X3, Y3, 3, h, M)), 1);
  EXPECT_EQ(ShowOutcome(SplineValue(h, M, X3, Y3, 3, 1.0, y)), 0);
  EXPECT_EQ(ShowOutcome(SplineValue(h, M, X3, Y3, 4, 1.0, y)), 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(1, ErrorBox("Invalid Value of Index!")));
}

TEST(InterpolateTable, EndParabolasReproduceAQuadraticUpToAndIncludingTheLastNode) {
  const std::vector<double> X = {0.0, 0.2, 0.5, 0.6, 0.9, 1.3};
  const std::vector<double> Y = Sample(X, Quadratic);
  for (double x : {0.0, 0.1, 0.19999, 0.9, 1.1, 1.3}) {
    double y = 0;
    ASSERT_EQ(ShowOutcome(InterpolateTable(X, Y, x, y)), 1) << x;
    EXPECT_NEAR(y, Quadratic(x), 1e-13) << x;
  }
}

TEST(InterpolateTable, PassesThroughEveryNodeWithTheLastParabolaInTheLastInterval) {
  const std::vector<double> X = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0};
  const std::vector<double> Y = {0.3, 1.9, -0.2, 0.8, 2.2, 1.0, 0.1};
  for (std::size_t i = 0; i < X.size(); ++i) {
    double y = 0;
    ASSERT_EQ(ShowOutcome(InterpolateTable(X, Y, X[i], y)), 1);
    EXPECT_NEAR(y, Y[i], 1e-13) << i;
  }
  // The last interval belongs to the parabola through the last three nodes.
  double y = 0, p = 0;
  ASSERT_EQ(ShowOutcome(InterpolateTable(X, Y, 3.7, y)), 1);
  ASSERT_EQ(ShowOutcome(ParabolaValue(3.0, 2.2, 3.5, 1.0, 4.0, 0.1, 3.7, p)), 1);
  EXPECT_EQ(y, p);
}

TEST(InterpolateTable, BelowTheFirstNodeExtrapolatesWithTheFirstParabola) {
  const std::vector<double> X = {1.0, 1.5, 2.0, 2.5, 3.0};
  const std::vector<double> Y = {0.3, 1.9, -0.2, 0.8, 2.2};
  double y = 0, first = 0, last = 0;
  ASSERT_EQ(ShowOutcome(InterpolateTable(X, Y, 0.6, y)), 1);
  ASSERT_EQ(ShowOutcome(ParabolaValue(1.0, 0.3, 1.5, 1.9, 2.0, -0.2, 0.6, first)), 1);
  ASSERT_EQ(ShowOutcome(ParabolaValue(2.0, -0.2, 2.5, 0.8, 3.0, 2.2, 0.6, last)), 1);
  EXPECT_EQ(y, first);
  EXPECT_NE(y, last);
}

TEST(InterpolateTable, RefusesPointsAboveTheLastNodeWrongCountsAndShortTables) {
  MessageCapture capture;
  const std::vector<double> X = {0, 1, 2, 3}, Y = {1, 2, 0, 1};
  double y = 0;
  EXPECT_EQ(ShowOutcome(InterpolateTable(X, Y, std::nextafter(3.0, 4.0), y)), 0);
  EXPECT_EQ(ShowOutcome(InterpolateTable(X, Y, std::numeric_limits<double>::quiet_NaN(), y)), 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(2, ErrorBox("Radius value error!")));
  capture.clear();
  EXPECT_EQ(ShowOutcome(InterpolateTable(X, std::vector<double>{1, 2, 0}, 1.0, y)), 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(1, ErrorBox("Array size error!")));
  capture.clear();
  EXPECT_EQ(
      ShowOutcome(InterpolateTable(std::vector<double>{0, 1}, std::vector<double>{0, 1}, 0.5, y)),
      0);
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].caption, "Error");
  capture.clear();
  // Equal abscissae: the spline set-up fails silently.
  EXPECT_EQ(ShowOutcome(InterpolateTable(std::vector<double>{0, 1, 1, 3}, Y, 0.5, y)), 0);
  EXPECT_TRUE(capture.messages().empty());
}

TEST(InterpolateTable, ThreeNodesAreOneParabola) {
  const std::vector<double> X = {0.0, 0.5, 2.0}, Y = {1.0, 3.0, -1.0};
  for (double x : {-0.5, 0.0, 0.3, 0.5, 1.2, 2.0}) {
    double y = 0, p = 0;
    ASSERT_EQ(ShowOutcome(InterpolateTable(X, Y, x, y)), 1);
    ASSERT_EQ(ShowOutcome(ParabolaValue(0.0, 1.0, 0.5, 3.0, 2.0, -1.0, x, p)), 1);
    EXPECT_EQ(y, p) << x;
  }
}

}  // namespace
}  // namespace zuba
