#include "numerics/field_interpolation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numerics/interpolation.h"
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

// A sectored field: mean rising with radius, a four-sector flutter with a spiral phase.
double Sectored(double R, double theta) {
  return 1.2 + 0.3 * R * R + 0.25 * R * std::cos(4.0 * theta - 1.5 * R) + 0.01 * std::sin(theta);
}

double Field(const TestMap& m, double R, double theta, int expectOk = 1) {
  double B = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(
      ShowOutcome(InterpolateField(R, theta, m.h, m.radii, m.azimuths, m.field, m.moments, B)),
      expectOk)
      << R << " " << theta;
  return B;
}

TEST(InterpolateField, ReturnsTheStoredValueAtEveryNode) {
  const TestMap m = MakeMap(9, 0.0, 0.125, 24, 0.1, Sectored);
  for (int i = 0; i < m.nR(); ++i)
    for (int j = 0; j < m.nTheta(); ++j)
      EXPECT_NEAR(Field(m, m.radii[i], m.azimuths[j]), m.field[i * m.nTheta() + j], 1e-13)
          << i << " " << j;
}

TEST(InterpolateField, IsPeriodicInAzimuthNegativeAnglesIncluded) {
  const TestMap m = MakeMap(9, 0.0, 0.125, 24, 0.1, Sectored);
  for (double R : {0.0, 0.05, 0.3, 0.61, 0.99, 1.0}) {
    for (double theta : {0.1, 0.1 + 2 * kPi, 0.0, 0.77, 3.0, 6.2}) {
      const double B = Field(m, R, theta);
      for (int k : {-3, -2, -1, 1, 2, 5})
        EXPECT_NEAR(Field(m, R, theta + 2 * kPi * k), B, 1e-12) << R << " " << theta << " " << k;
    }
  }
}

TEST(InterpolateField, ApproximatesASmoothFieldAcrossTheWholeTurn) {
  // The ring wraps the turn: points near its first and last azimuths are as good as any other.
  const TestMap m = MakeMap(21, 0.0, 0.05, 90, -0.3, Sectored);
  for (double R : {0.0, 0.02, 0.37, 0.5, 0.93, 1.0}) {
    for (double theta = -0.35; theta < 2 * kPi; theta += 0.0437)
      EXPECT_NEAR(Field(m, R, theta), Sectored(R, theta), 1e-4) << R << " " << theta;
  }
}

TEST(InterpolateField, ConstantInAzimuthGivesAzimuthIndependentField) {
  const TestMap m =
      MakeMap(7, 0.2, 0.1, 12, 0.0, [](double R, double) { return 1.0 + std::exp(R) * 0.1; });
  for (double R : {0.2, 0.25, 0.5, 0.79, 0.8}) {
    const double B0 = Field(m, R, 0.0);
    for (double theta : {0.1, 1.0, 3.3, 6.0}) EXPECT_NEAR(Field(m, R, theta), B0, 1e-14);
  }
}

TEST(InterpolateField, RadiiBelowTheFirstNodeUseTheParabolaThroughTheFirstThree) {
  const TestMap m = MakeMap(6, 0.2, 0.1, 12, 0.0, [](double R, double) { return std::exp(R); });
  for (double R : {0.0, 0.1, 0.2, 0.25}) {
    double p = 0;
    ASSERT_EQ(ShowOutcome(ParabolaValue(0.2, m.field[0], 0.3, m.field[12], 0.4, m.field[24], R, p)),
              1);
    EXPECT_NEAR(Field(m, R, 1.0), p, 1e-14) << R;
  }
}

TEST(InterpolateField, RefusesNegativeRadiusBeforeAnythingElse) {
  const TestMap m = MakeMap(5, 0.0, 0.25, 8, 0.0, Sectored);
  MessageCapture capture;
  Field(m, -1e-300, 0.3, 0);
  Field(m, -2.0, std::numeric_limits<double>::quiet_NaN(), 0);
  Field(m, -0.5, -1e300, 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(3, ErrorBox("Negative value of R!")));
}

TEST(InterpolateField, AcceptsTheLastRadiusNodeAndRefusesAnythingAbove) {
  const TestMap m = MakeMap(5, 0.0, 0.25, 8, 0.0, Sectored);
  MessageCapture capture;
  EXPECT_NEAR(Field(m, 1.0, 0.0), m.field[4 * 8], 1e-14);
  EXPECT_TRUE(capture.messages().empty());
  Field(m, std::nextafter(1.0, 2.0), 0.0, 0);
  Field(m, std::numeric_limits<double>::infinity(), 0.0, 0);
  Field(m, std::numeric_limits<double>::quiet_NaN(), 0.0, 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(3, ErrorBox("Radius value error!")));
}

TEST(InterpolateField, RefusesAzimuthsThatCannotBeBroughtIntoTheTurn) {
  const TestMap m = MakeMap(5, 0.0, 0.25, 8, 0.0, Sectored);
  MessageCapture capture;
  Field(m, 0.5, std::numeric_limits<double>::quiet_NaN(), 0);
  Field(m, 0.5, -std::numeric_limits<double>::infinity(), 0);
  Field(m, 0.5, 1e300, 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(3, ErrorBox("Azimuth value error!")));
}

TEST(InterpolateField, RefusesTablesOfTheWrongSizeOrTooShort) {
  TestMap m = MakeMap(5, 0.0, 0.25, 8, 0.0, Sectored);
  MessageCapture capture;
  double B = 0;
  std::vector<double> shortH(m.h.begin(), m.h.end() - 1);
  EXPECT_EQ(
      ShowOutcome(InterpolateField(0.5, 0.0, shortH, m.radii, m.azimuths, m.field, m.moments, B)),
      0);
  std::vector<double> shortField(m.field.begin(), m.field.end() - 1);
  EXPECT_EQ(
      ShowOutcome(InterpolateField(0.5, 0.0, m.h, m.radii, m.azimuths, shortField, m.moments, B)),
      0);
  EXPECT_EQ(
      ShowOutcome(InterpolateField(0.5, 0.0, m.h, m.radii, m.azimuths, m.field, shortField, B)), 0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(3, ErrorBox("Array size error!")));
  capture.clear();

  const TestMap twoAzimuths = MakeMap(5, 0.0, 0.25, 2, 0.0, Sectored);
  const TestMap twoRadii = MakeMap(2, 0.0, 0.25, 8, 0.0, Sectored);
  for (const TestMap* t : {&twoAzimuths, &twoRadii}) {
    EXPECT_EQ(ShowOutcome(
                  InterpolateField(0.1, 0.0, t->h, t->radii, t->azimuths, t->field, t->moments, B)),
              0);
  }
  ASSERT_EQ(capture.messages().size(), 2u);
  for (const Message& message : capture.messages()) EXPECT_EQ(message.caption, "Error");
}

TEST(RadialMoments, RefusesAFieldTableThatDoesNotMatchTheMesh) {
  MessageCapture capture;
  std::vector<double> h, moments;
  EXPECT_EQ(ShowOutcome(RadialMoments(std::vector<double>(11), std::vector<double>{0, 1, 2}, 4, h,
                                      moments)),
            0);
  EXPECT_EQ(capture.messages(), std::vector<Message>(1, ErrorBox("Array size error!")));
}

}  // namespace
}  // namespace zuba
