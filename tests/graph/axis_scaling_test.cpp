#include "graph/axis_scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "platform/message.h"

namespace zuba {
namespace {

constexpr double kMissing = 2147483647.0;

AxisScaling ScaledX(std::vector<double> values, int32_t width = 500) {
  AxisScaling g(FrameRect{0, 0, width, 400}, static_cast<uint32_t>(values.size()));
  ScaleX(g, values);
  return g;
}

AxisScaling ScaledY(std::vector<double> values, int32_t height = 600) {
  AxisScaling g(FrameRect{0, 0, 800, height}, static_cast<uint32_t>(values.size()));
  ScaleY(g, values);
  return g;
}

TEST(ScaleX, RadiusAxisFromPointOneToPointSixtyFiveInAFiveHundredPixelFrame) {
  MessageCapture capture;
  const AxisScaling g = ScaledX({0.1, 0.2, 0.3, 0.35, 0.65});
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_EQ(g.noData, 0);
  EXPECT_EQ(g.xMin, 0.1);
  EXPECT_EQ(g.xMax, 0.65);
  EXPECT_EQ(g.xRange, 0.65 - 0.1);
  EXPECT_EQ(g.xExponent, -1);
  EXPECT_EQ(g.xStep, 1.0);
  EXPECT_EQ(g.xIntervals, 6u);  // upper 0.7000000000000001, lower 0.1
  EXPECT_EQ(g.xFirstLabel, 1.0);
  EXPECT_EQ(g.plotLeft, 100);
  EXPECT_EQ(g.xIntervalPixels, 50);
  EXPECT_EQ(g.plotRight, 400);
  // floor(500 * (v - 0.1)) + 100; 0.3 lands just below 200 in double arithmetic.
  EXPECT_EQ(g.xPixels, (std::vector<int32_t>{100, 150, 199, 224, 375}));
  // ScaleX leaves the vertical members alone.
  EXPECT_EQ(g.plotTop, 0);
  EXPECT_EQ(g.yIntervals, 0u);
}

TEST(ScaleY, FrequencyAxisFromOnePointFiveToOnePointSixTimesTenToTheSeven) {
  const AxisScaling g = ScaledY({1.5e7, 1.55e7, 1.6e7, 1.512345e7});
  EXPECT_EQ(g.yMin, 1.5e7);
  EXPECT_EQ(g.yMax, 1.6e7);
  EXPECT_EQ(g.yExponent, 5);
  EXPECT_EQ(g.yStep, 1.0);
  EXPECT_EQ(g.yIntervals, 10u);
  EXPECT_EQ(g.yTopLabel, 160.0);
  EXPECT_EQ(g.plotTop, 120);
  EXPECT_EQ(g.yIntervalPixels, 36);
  EXPECT_EQ(g.plotBottom, 480);
  // The largest value at the top.
  EXPECT_EQ(g.yPixels, (std::vector<int32_t>{480, 300, 120, 435}));
  EXPECT_EQ(g.plotLeft, 0);
}

TEST(ScaleX, StepMantissaFollowsTheNormalisedRange) {
  struct Case {
    double max;
    int32_t exponent;
    double step;
  };
  for (const Case c :
       {Case{1, 0, 0.1}, Case{10, 0, 1.0}, Case{2.5, 0, 0.25}, Case{2.6, 0, 0.5}, Case{5, 0, 0.5},
        Case{5.5, 0, 1.0}, Case{11, 1, 0.25}, Case{0.026, -2, 0.5}}) {
    const AxisScaling g = ScaledX({0.0, c.max});
    EXPECT_EQ(g.xExponent, c.exponent) << "range " << c.max;
    EXPECT_EQ(g.xStep, c.step) << "range " << c.max;
  }
  // Range 1 with step 0.1: ten intervals of floor(300 / 10) pixels.
  const AxisScaling one = ScaledX({0.0, 1.0});
  EXPECT_EQ(one.xIntervals, 10u);
  EXPECT_EQ(one.xIntervalPixels, 30);
}

TEST(ScaleX, EqualValuesGiveAZeroRangeAndOneOrNoInterval) {
  // 0.5 is a whole multiple of 0.1 in floating point: no interval, every point on the axis start.
  const AxisScaling whole = ScaledX({0.5, 0.5, kMissing, 0.5});
  EXPECT_EQ(whole.xRange, 0.0);
  EXPECT_EQ(whole.xExponent, 0);
  EXPECT_EQ(whole.xStep, 0.1);
  EXPECT_EQ(whole.xIntervals, 0u);
  EXPECT_EQ(whole.xIntervalPixels, 0);
  EXPECT_EQ(whole.plotLeft, 100);
  EXPECT_EQ(whole.plotRight, 100);
  EXPECT_EQ(whole.xPixels, (std::vector<int32_t>{100, 100, kNoValueInt, 100}));
  // 0.3 / 0.1 is 2.9999999999999996: the axis runs from 0.2 to 0.3 in one interval.
  const AxisScaling third = ScaledX({0.3, 0.3});
  EXPECT_EQ(third.xIntervals, 1u);
  EXPECT_EQ(third.xIntervalPixels, 300);
  EXPECT_DOUBLE_EQ(third.xFirstLabel, 0.2);
}

TEST(ScaleX, MissingValuesKeepTheMarkerAndStayOutOfTheBounds) {
  const AxisScaling g = ScaledX({kMissing, 0.1, kMissing, 0.65, kMissing});
  EXPECT_EQ(g.xMin, 0.1);
  EXPECT_EQ(g.xMax, 0.65);
  EXPECT_EQ(g.xPixels, (std::vector<int32_t>{kNoValueInt, 100, kNoValueInt, 375, kNoValueInt}));

  // The other axis is computed from its own series.
  AxisScaling both(FrameRect{0, 0, 500, 600}, 3);
  const std::vector<double> x{0.1, kMissing, 0.65}, y{1.5e7, 1.6e7, kMissing};
  ScaleX(both, x);
  ScaleY(both, y);
  EXPECT_EQ(both.xPixels, (std::vector<int32_t>{100, kNoValueInt, 375}));
  EXPECT_EQ(both.yPixels, (std::vector<int32_t>{480, 120, kNoValueInt}));
}

TEST(ScaleX, ASingleRealValueBoundsTheAxisAlone) {
  for (const auto& values :
       {std::vector<double>{0.5}, std::vector<double>{kMissing, kMissing, 0.5}}) {
    const AxisScaling g = ScaledX(values);
    EXPECT_EQ(g.noData, 0);
    EXPECT_EQ(g.xMin, 0.5);
    EXPECT_EQ(g.xMax, 0.5);
    EXPECT_EQ(g.xPixels.back(), 100);
  }
}

TEST(ScaleXY, NoRealValueNotesItOnceShowsNothingAndLeavesThePixelsUnwritten) {
  for (const auto& values : {std::vector<double>{}, std::vector<double>{kMissing},
                             std::vector<double>{kMissing, kMissing, kMissing}}) {
    MessageCapture capture;
    AxisScaling g(FrameRect{0, 0, 500, 600}, static_cast<uint32_t>(values.size()));
    std::fill(g.xPixels.begin(), g.xPixels.end(), -7);
    ScaleX(g, values);
    EXPECT_EQ(g.noData, 1);
    EXPECT_EQ(g.notes, (std::vector<Message>{{"No real values in X array!", "Message",
                                              Icon::Information, Owner::None}}));
    EXPECT_TRUE(capture.messages().empty());
    EXPECT_EQ(g.xPixels, std::vector<int32_t>(values.size(), -7));
    EXPECT_EQ(g.plotLeft, 0);
  }
  const AxisScaling y = ScaledY({kMissing, kMissing});
  EXPECT_EQ(y.noData, 1);
  ASSERT_EQ(y.notes.size(), 1u);
  EXPECT_EQ(y.notes[0].text, "No real values in Y array!");
}

TEST(ScaleX, ASeriesShorterThanThePointCountIsAnInvalidArgument) {
  AxisScaling g(FrameRect{0, 0, 500, 600}, 3);
  const std::vector<double> two{0.1, 0.2};
  EXPECT_THROW(ScaleX(g, two), std::invalid_argument);
}

// Values that a damaged document may hold: they must neither hang the scaling nor give undefined
// pixel coordinates.
TEST(ScaleX, InfinitiesAndNotANumberAreLeftOutLikeMissingValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const AxisScaling g = ScaledX({inf, 0.1, nan, 0.65, -inf});
  EXPECT_EQ(g.noData, 0);
  EXPECT_EQ(g.xMin, 0.1);
  EXPECT_EQ(g.xMax, 0.65);
  EXPECT_EQ(g.xPixels, (std::vector<int32_t>{kNoValueInt, 100, kNoValueInt, 375, kNoValueInt}));

  const double huge = std::numeric_limits<double>::max();
  const AxisScaling overflow = ScaledX({-huge, huge});  // the range itself overflows
  EXPECT_EQ(overflow.noData, 1);
  ASSERT_EQ(overflow.notes.size(), 1u);
  EXPECT_EQ(overflow.notes[0].text, "No real values in X array!");
}

}  // namespace
}  // namespace zuba
