#include "graph/curve.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "graph/results_plot.h"
#include "platform/message.h"
#include "recording_device.h"

namespace zuba {
namespace {

using test::RecordedText;
using test::RecordingDevice;

constexpr double kMissing = 2147483647.0;

// Radius 0.1 .. 0.65 m against frequency 1.5e7 .. 1.6e7 Hz in a 500 x 600 frame: six horizontal
// intervals of 50 pixels from x = 100, ten vertical intervals of 36 pixels from y = 120.
const std::vector<double> kRadii{0.1, 0.2, 0.3, 0.4, 0.5, 0.65};
const std::vector<double> kFrequencies{1.5e7, 1.52e7, 1.54e7, 1.57e7, 1.59e7, 1.6e7};

struct Drawn {
  RecordingDevice device{QSize(500, 600)};
  CCurve curve{QRect(0, 0, 500, 600), static_cast<uint32_t>(kRadii.size())};
  int H = 0, W = 0;
};

void DrawOnto(Drawn& d, const std::vector<double>& x, const std::vector<double>& y) {
  QPainter painter(&d.device);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::white);
  d.curve.Draw(painter, "Particle rotation frequency", "Rmean (m)", "F0 (Hz)",
               "Particle rotation frequency", x, y);
  const QFontMetrics fm(d.curve.tickFont, &d.device);
  d.H = fm.height();
  d.W = fm.maxWidth();
}

// Top of the text cell and horizontal centre of a recorded text.
int Top(const RecordedText& t) {
  return static_cast<int>(std::lround(t.baseline.y())) - QFontMetrics(t.font).ascent();
}
double Centre(const RecordedText& t) {
  return t.baseline.x() +
         QFontMetrics(t.font).horizontalAdvance(QString::fromStdString(t.text)) / 2.0;
}

TEST(CCurveDraw, GridHasOneLineMorePerAxisThanIntervalsAtTheScaledPositions) {
  Drawn d;
  DrawOnto(d, kRadii, kFrequencies);
  std::vector<double> verticalX, horizontalY;
  for (const QLineF& line : d.device.recording().lines) {
    if (line.x1() == line.x2()) {
      EXPECT_EQ(line.y1(), 120);
      EXPECT_EQ(line.y2(), 480);
      verticalX.push_back(line.x1());
    } else if (line.y1() == line.y2()) {
      EXPECT_EQ(line.x1(), 100);
      EXPECT_EQ(line.x2(), 400);
      horizontalY.push_back(line.y1());
    }
  }
  EXPECT_EQ(verticalX, (std::vector<double>{100, 150, 200, 250, 300, 350, 400}));
  EXPECT_EQ(horizontalY,
            (std::vector<double>{120, 156, 192, 228, 264, 300, 336, 372, 408, 444, 480}));
  EXPECT_EQ(d.device.recording().lines.size(), 18u);
}

TEST(CCurveDraw, DrawsLabelsCaptionsTitleNoteValueRangeAndExponentsInOrder) {
  Drawn d;
  DrawOnto(d, kRadii, kFrequencies);
  const auto& rec = d.device.recording();
  EXPECT_EQ(rec.textStrings(), (std::vector<std::string>{"1.00",
                                                         "2.00",
                                                         "3.00",
                                                         "4.00",
                                                         "5.00",
                                                         "6.00",
                                                         "7.00",  //
                                                         "160.00",
                                                         "159.00",
                                                         "158.00",
                                                         "157.00",
                                                         "156.00",
                                                         "155.00",
                                                         "154.00",  //
                                                         "153.00",
                                                         "152.00",
                                                         "151.00",
                                                         "150.00",  //
                                                         "Rmean (m)",
                                                         "F0 (Hz)",
                                                         "Particle rotation frequency",  //
                                                         "Particle rotation frequency",
                                                         "Value Range = (1.5e+07, 1.6e+07)",  //
                                                         "10",
                                                         "-1",
                                                         "10",
                                                         "5"}));
  for (const auto& t : rec.texts) {
    const QColor expected = t.text.rfind("Value Range", 0) == 0 ? QColor(0, 0, 255) : Qt::black;
    EXPECT_EQ(t.color, expected) << t.text;
  }
}

TEST(CCurveDraw, EveryTextIsAnchoredAtItsTopByTheTickFontMetrics) {
  Drawn d;
  DrawOnto(d, kRadii, kFrequencies);
  const auto& rec = d.device.recording();
  const int H = d.H, W = d.W;
  ASSERT_GT(H, 0);
  ASSERT_GT(W, 0);
  // Horizontal tick labels centred under each vertical line.
  for (int k = 0; k < 7; ++k) {
    const RecordedText& t = rec.texts[static_cast<size_t>(k)];
    EXPECT_NEAR(Centre(t), 100 + 50 * k, 1.0) << t.text;
    EXPECT_EQ(Top(t), 480 + H / 2) << t.text;
  }
  // Vertical tick labels centred left of the plot, half a line above each horizontal line.
  for (int k = 0; k < 11; ++k) {
    const RecordedText& t = rec.texts[static_cast<size_t>(7 + k)];
    EXPECT_NEAR(Centre(t), 100 - 2 * W, 1.0) << t.text;
    EXPECT_EQ(Top(t), 120 + 36 * k - H / 2) << t.text;
  }
  const RecordedText* xCaption = rec.find("Rmean (m)");
  ASSERT_NE(xCaption, nullptr);
  EXPECT_EQ(xCaption->baseline.x(), 400 + W);
  EXPECT_EQ(Top(*xCaption), 480 + H / 2 - 3 * H);
  const RecordedText* yCaption = rec.find("F0 (Hz)");
  ASSERT_NE(yCaption, nullptr);
  EXPECT_EQ(yCaption->baseline.x(), 100 + 2 * W - W / 2);
  EXPECT_EQ(Top(*yCaption), 120 - 2 * H + H / 2);
  const RecordedText* note = rec.find("Particle rotation frequency", 0);
  const RecordedText* title = rec.find("Particle rotation frequency", 1);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(note->baseline.x(), 100 - 2 * W);
  EXPECT_EQ(Top(*note), 480 + H / 2 + 2 * H);
  EXPECT_NEAR(Centre(*title), 250, 1.0);
  EXPECT_EQ(Top(*title), 120 - 4 * H - H / 2);
  const RecordedText* range = rec.find("Value Range = (1.5e+07, 1.6e+07)");
  EXPECT_NEAR(Centre(*range), 250, 1.0);
  EXPECT_EQ(Top(*range), 120 - 3 * H);
  // Exponent boxes: "10" with the exponent raised above it.
  const RecordedText* xTen = rec.find("10", 0);
  const RecordedText* xExp = rec.find("-1");
  EXPECT_NEAR(Centre(*xTen), 400 + 2 * W + W / 4, 1.0);
  EXPECT_EQ(Top(*xTen), 480);
  EXPECT_NEAR(Centre(*xExp), 400 + 3 * W, 1.0);
  EXPECT_EQ(Top(*xExp), 480 - H + H / 4);
  const RecordedText* yTen = rec.find("10", 1);
  const RecordedText* yExp = rec.find("5");
  EXPECT_NEAR(Centre(*yTen), 100 - W, 1.0);
  EXPECT_EQ(Top(*yTen), 120 - 2 * H);
  EXPECT_NEAR(Centre(*yExp), 100 - W / 4, 1.0);
  EXPECT_EQ(Top(*yExp), 120 - 2 * H - H / 4 - H / 2);
  // The two rounded boxes, the horizontal one right of the plot, the vertical one above it.
  ASSERT_EQ(rec.shapes.size(), 2u);
  EXPECT_EQ(rec.shapes[0].left(), 400 + W);
  EXPECT_EQ(rec.shapes[0].top(), 480 - H);
  EXPECT_EQ(rec.shapes[0].right(), 400 + 4 * W - W / 4 - 1);
  EXPECT_EQ(rec.shapes[0].bottom(), 480 + H / 2 - H / 4 + H - 1);
  EXPECT_EQ(rec.shapes[1].left(), 100 - 2 * W - W / 4);
  EXPECT_EQ(rec.shapes[1].top(), 120 - 3 * H);
  EXPECT_EQ(rec.shapes[1].right(), 100 + W / 2 - 1);
  EXPECT_EQ(rec.shapes[1].bottom(), 120 - H / 4 - H / 2 - 1);
}

TEST(CCurve, FontsAreSizedFromTheirPointSizesAtScreenResolution) {
  const CCurve curve(QRect(0, 0, 800, 600), 0);
  EXPECT_EQ(curve.titleFont.pixelSize(), 17);  // 12.5 pt at 96 per inch, rounded
  EXPECT_EQ(curve.captionFont.pixelSize(), 13);
  EXPECT_EQ(curve.tickFont.pixelSize(), 12);
  EXPECT_EQ(curve.exponentFont.pixelSize(), 12);
  EXPECT_EQ(curve.noteFont.pixelSize(), 13);
  EXPECT_EQ(curve.titleFont.family(), "Times New Roman");
  EXPECT_EQ(curve.tickFont.family(), "Arial");
  // The serif title face and the sans-serif face must resolve to different installed fonts.
  EXPECT_NE(QFontInfo(curve.titleFont).family(), QFontInfo(curve.tickFont).family());
  const CCurve printer(QRect(0, 0, 800, 600), 0, 192);
  EXPECT_EQ(printer.tickFont.pixelSize(), 24);
}

TEST(CCurveDraw, WithoutRealValuesNothingIsDrawnAndOnlyTheFirstSeriesIsReported) {
  MessageCapture capture;
  Drawn d;
  const std::vector<double> missing(kRadii.size(), kMissing);
  DrawOnto(d, missing, missing);
  EXPECT_EQ(d.curve.noData, 1);
  ASSERT_EQ(d.curve.notes.size(), 1u);
  EXPECT_EQ(d.curve.notes[0].text, "No real values in X array!");
  EXPECT_TRUE(d.device.recording().texts.empty());
  EXPECT_TRUE(d.device.recording().lines.empty());

  capture.clear();
  Drawn e;
  DrawOnto(e, kRadii, missing);
  EXPECT_EQ(e.curve.noData, 1);
  ASSERT_EQ(e.curve.notes.size(), 1u);
  EXPECT_EQ(e.curve.notes[0].text, "No real values in Y array!");
  EXPECT_TRUE(capture.texts().empty());  // nothing is shown by the drawing itself
  EXPECT_TRUE(e.device.recording().texts.empty());
  EXPECT_TRUE(e.device.recording().lines.empty());
}

// The results graph: Rmn 0.1 .. 0.65 against a falling F0, with F0[5], Rmn[7] and F0[9] missing,
// so that the curve runs through points 0-4 and 10-11; points 6 and 8 stand alone.
ResultTables GappedResults() {
  ResultTables r;
  for (int i = 0; i < 12; ++i) {
    r.Rmn.push_back(0.1 + 0.05 * i);
    r.F0.push_back(2.63e7 - 1e4 * i * i);
  }
  r.F0.set(5, kMissing);
  r.Rmn.set(7, kMissing);
  r.F0.set(9, kMissing);
  return r;
}

AxisScaling ScaledPoints(const ResultTables& r, QSize size) {
  AxisScaling g(FrameRect{0, 0, size.width(), size.height()}, static_cast<uint32_t>(r.Rmn.size()));
  ScaleX(g, r.Rmn.values());
  ScaleY(g, r.F0.values());
  return g;
}

bool IsBlue(const QImage& image, int x, int y) {
  return image.pixel(x, y) == qRgb(0, 0, 255);
}

TEST(DrawResultsGraph, CurveIsBlueThroughValidPointsAndBrokenAtMissingOnes) {
  const ResultTables r = GappedResults();
  const QSize size(800, 600);
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    EXPECT_TRUE(DrawResultsGraph(painter, r, size));
  }
  const AxisScaling g = ScaledPoints(r, size);
  const auto& px = g.xPixels;
  const auto& py = g.yPixels;
  for (int i : {0, 1, 2, 3, 4, 10, 11}) EXPECT_TRUE(IsBlue(image, px[i], py[i])) << "point " << i;
  // Isolated points leave no mark, and nothing joins point 4 to 6 or 6 to 10.
  for (int i : {6, 8}) EXPECT_FALSE(IsBlue(image, px[i], py[i])) << "point " << i;
  int bluePixelsInGap = 0;
  for (int x = px[4] + 1; x < px[10]; ++x)
    for (int y = g.plotTop; y <= g.plotBottom; ++y) bluePixelsInGap += IsBlue(image, x, y);
  EXPECT_EQ(bluePixelsInGap, 0);
  // The grid is black: the left plot edge at mid-height.
  EXPECT_EQ(image.pixel(g.plotLeft, (g.plotTop + g.plotBottom) / 2), qRgb(0, 0, 0));
}

TEST(DrawResultsGraph, DrawsOnePolylinePerRunOfAtLeastTwoValidPoints) {
  const ResultTables r = GappedResults();
  RecordingDevice device(QSize(800, 600));
  {
    QPainter painter(&device);
    EXPECT_TRUE(DrawResultsGraph(painter, r, QSize(800, 600)));
  }
  const AxisScaling g = ScaledPoints(r, QSize(800, 600));
  const auto& lines = device.recording().polylines;
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_EQ(lines[0].size(), 5);
  ASSERT_EQ(lines[1].size(), 2);
  EXPECT_EQ(lines[0][0], QPointF(g.xPixels[0], g.yPixels[0]));
  EXPECT_EQ(lines[0][4], QPointF(g.xPixels[4], g.yPixels[4]));
  EXPECT_EQ(lines[1][0], QPointF(g.xPixels[10], g.yPixels[10]));
  EXPECT_EQ(device.recording().find("Particle rotation frequency", 1)->font.family(),
            "Times New Roman");
  EXPECT_NE(device.recording().find("F0 (Hz)"), nullptr);
  EXPECT_NE(device.recording().find("Rmean (m)"), nullptr);
}

// The energies the standard search did not accept (|dReo| above 0.5 mm) are drawn hollow on the
// curve and the note says what the hollow points are; with every orbit accepted the graph is
// drawn as it always was.
TEST(DrawResultsGraph, EnergiesTheSearchDidNotAcceptAreDrawnHollow) {
  const std::string legend =
      "Particle rotation frequency; hollow: not accepted by the standard search (its last trial)";
  for (bool someRejected : {false, true}) {
    SCOPED_TRACE(someRejected);
    ResultTables r = GappedResults();
    r.Ek.assign(std::vector<double>(12, 1e-12));
    r.dReo.assign(std::vector<double>(12, 4e-4));
    if (someRejected) {
      r.dReo.set(2, 0.003);
      r.dReo.set(5, -0.002);  // its F0 is missing: nothing to mark
      r.dReo.set(11, -0.0006);
    }
    RecordingDevice device(QSize(800, 600));
    {
      QPainter painter(&device);
      EXPECT_TRUE(DrawResultsGraph(painter, r, QSize(800, 600)));
    }
    const AxisScaling g = ScaledPoints(r, QSize(800, 600));
    std::vector<QPointF> rings;
    for (const QRectF& shape : device.recording().shapes)
      if (std::fabs(shape.width() - 6) < 0.5 && std::fabs(shape.height() - 6) < 0.5)
        rings.push_back(shape.center());
    const std::vector<QPointF> expected =
        someRejected ? std::vector<QPointF>{QPointF(g.xPixels[2], g.yPixels[2]),
                                            QPointF(g.xPixels[11], g.yPixels[11])}
                     : std::vector<QPointF>{};
    EXPECT_EQ(rings, expected);
    EXPECT_EQ(device.recording().find(legend) != nullptr, someRejected);
    // The title, and the plain note where there is no legend to add.
    EXPECT_EQ(device.recording().find("Particle rotation frequency", 1) != nullptr, !someRejected);
  }
}

TEST(DrawResultsGraph, AnF0TableShorterThanRmnIsAnInvalidArgumentBeforeDrawing) {
  ResultTables r = GappedResults();
  r.F0.resize(4);
  RecordingDevice device(QSize(800, 600));
  QPainter painter(&device);
  EXPECT_THROW(DrawResultsGraph(painter, r, QSize(800, 600)), std::invalid_argument);
  EXPECT_TRUE(device.recording().lines.empty());
}

TEST(DrawResultsGraph, ReportsNoDataForAnEmptyRadiusTable) {
  MessageCapture capture;
  ResultTables r;
  QImage image(QSize(200, 100), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  const GraphDrawing drawing = DrawResultsGraph(painter, r, image.size());
  EXPECT_FALSE(drawing.drawn);
  ASSERT_EQ(drawing.notes.size(), 1u);
  EXPECT_EQ(drawing.notes[0].text, "No real values in X array!");
  EXPECT_TRUE(capture.texts().empty());
}

}  // namespace
}  // namespace zuba
