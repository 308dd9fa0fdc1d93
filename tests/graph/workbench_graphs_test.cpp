// The workbench graphs: the tune diagram's axes and labels, the colour image of the field map, the
// orbits thinned for drawing, the marked energy, and every new graph written to files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "graph/closure_plot.h"
#include "graph/colour_scale.h"
#include "graph/map_plot.h"
#include "graph/plot_file.h"
#include "platform/message.h"
#include "recording_device.h"

namespace zuba {
namespace {

constexpr double kPi = std::numbers::pi;

// Tunes of a run: nu_r and nu_z per energy (the ones of the example map's precise run).
ResultTables TuneRun(std::vector<double> nuR, std::vector<double> nuZ, int32_t N) {
  ResultTables r;
  const size_t n = nuR.size();
  std::vector<double> ek(n), rmn(n), f0(n, 26.26e6);
  for (size_t i = 0; i < n; ++i) {
    ek[i] = 0.6e6 * 1.6021892e-19 * static_cast<double>(i + 1);
    rmn[i] = 0.1 + 0.01 * static_cast<double>(i);
  }
  r.Ek = RealTable(ek);
  r.Rmn = RealTable(rmn);
  r.F0 = RealTable(f0);
  r.run.N = N;
  r.run.H = 1;
  r.run.Frf = 26.26;
  r.closure.mode = 1;
  r.closure.nuR = RealTable(std::move(nuR));
  r.closure.nuZ = RealTable(std::move(nuZ));
  r.closure.isochronism = RealTable(std::vector<double>(n, 0.0));
  r.closure.phaseDeg = RealTable(std::vector<double>(n, 0.0));
  r.closure.status = IntTable(std::vector<int32_t>(n, 0));
  return r;
}

TEST(TuneDiagram, AxesCoverThePointsAndTheResonancesWithinReachWithAMargin) {
  struct Case {
    const char* name;
    std::vector<double> nuR, nuZ;
    int32_t N;
    double xLowAtMost, xHighAtLeast, yLowAtMost, yHighAtLeast;  // what must be inside
    double xHighBelow;                                          // a line out of reach stays out
  } cases[] = {
      // nu_r = 1 and nu_z = 0 lie within 0.1 of the path; 3 nu_r = 4 (1.333) does not.
      {"near nu_r = 1 and nu_z = 0",
       {1.001, 1.02, 1.053},
       {0.0278, 0.2445, 0.1},
       4,
       1 - 0.02,
       1.053 + 0.02,
       -0.02,
       0.2445,
       1.25},
      {"near 3 nu_r = N", {1.25, 1.3}, {0.3, 0.35}, 4, 1.25, 4.0 / 3 + 0.02, 0.3, 0.35, 1.5},
      // The Walkinshaw line nu_r = 2 nu_z passes 0.018 from (0.8, 0.38): its foot is inside.
      {"near nu_r = 2 nu_z", {0.8}, {0.38}, 8, 0.8, 0.8, 0.38, 0.4, 1.0},
      {"no line in reach", {1.5}, {0.5}, 8, 1.5 - 0.02, 1.5 + 0.02, 0.5 - 0.02, 0.5 + 0.02, 1.6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TuneExtent e = TuneDiagramExtent(c.nuR, c.nuZ, c.N);
    EXPECT_LE(e.xLow, c.xLowAtMost);
    EXPECT_GE(e.xHigh, c.xHighAtLeast);
    EXPECT_LE(e.yLow, c.yLowAtMost);
    EXPECT_GE(e.yHigh, c.yHighAtLeast);
    EXPECT_LT(e.xHigh, c.xHighBelow);
  }
}

TEST(TuneDiagram, ValueRangeOfThePointsDrawnAndTheLinesNearThemNamed) {
  // The last energy is vertically unstable: no point, and not in the value range.
  const ResultTables r = TuneRun({1.001, 1.01, 1.02, 1.04, 1.053, 1.06},
                                 {0.05, 0.2445, 0.2, 0.1, 0.0278, 2147483647.0}, 4);
  test::RecordingDevice device(QSize(800, 600));
  {
    QPainter painter(&device);
    ASSERT_TRUE(DrawGraph(painter, r, GraphKind::Tunes, QSize(800, 600), GraphExtras{}));
  }
  const std::vector<std::string> texts = device.recording().textStrings();
  auto drawn = [&](const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  };
  EXPECT_TRUE(drawn("Value Range = (0.0278, 0.2445)"));
  EXPECT_TRUE(drawn("nu_r = 1"));
  EXPECT_TRUE(drawn("nu_z = 0"));
  EXPECT_FALSE(drawn("3 nu_r = 4"));  // 0.28 from the path: outside the axes
  EXPECT_TRUE(drawn("0.6 MeV"));      // the first energy is labelled
}

// A map of B = 1 + 0.5 cos(4 theta) T between radii 0.1 and 0.5 m, a node every 5 degrees.
FieldGrid FourFoldGrid() {
  FieldGrid grid;
  for (int i = 0; i <= 4; ++i) grid.radii.push_back(0.1 + 0.1 * i);
  for (int j = 0; j < 72; ++j) grid.azimuths.push_back(j * 2 * kPi / 72);
  for (size_t i = 0; i < grid.radii.size(); ++i)
    for (double theta : grid.azimuths) grid.field.push_back(1 + 0.5 * std::cos(4 * theta));
  grid.thetaEnd = 2 * kPi;
  return grid;
}

TEST(MapImage, ColoursFollowTheFieldAndTheDiscOfTheMap) {
  const FieldGrid grid = FourFoldGrid();
  const int pixels = 200;
  const double half = 0.5;
  const QImage image = MapImage(grid, pixels, half, 0.5, 1.5);
  ASSERT_EQ(image.size(), QSize(pixels, pixels));
  auto pixel = [&](double x, double y) {
    const int px = static_cast<int>((x + half) / (2 * half) * pixels);
    const int py = static_cast<int>((half - y) / (2 * half) * pixels);
    return image.pixel(px, py);
  };
  auto near = [](QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
           std::abs(qBlue(a) - qBlue(b)) <= 3 && qAlpha(a) == 255;
  };
  const double r = 0.3;
  EXPECT_TRUE(near(pixel(r, 0.001), ViridisColour(1.0)));  // theta 0: the hill, 1.5 T
  EXPECT_TRUE(near(pixel(r * std::cos(kPi / 4), r * std::sin(kPi / 4)), ViridisColour(0.0)));
  EXPECT_TRUE(near(pixel(0, -r), ViridisColour(1.0)));  // theta 270 degrees: a hill again
  EXPECT_EQ(qAlpha(pixel(0.02, 0.02)), 0);              // inside the first radius
  EXPECT_EQ(qAlpha(pixel(0.49, 0.49)), 0);              // beyond the last radius
  // The scale's ends are its published colours.
  EXPECT_EQ(ViridisColour(0.0), qRgb(0x44, 0x01, 0x54));
  EXPECT_EQ(ViridisColour(1.0), qRgb(0xfd, 0xe7, 0x25));
  EXPECT_EQ(ViridisTable()[128], ViridisColour(128 / 255.0));
}

// Three orbits of circles of radius 0.1, 0.2 and 0.3 m with n samples each.
ResultTables Circles(std::vector<int32_t> samples) {
  ResultTables r;
  std::vector<double> R, theta;
  for (size_t i = 0; i < samples.size(); ++i)
    for (int32_t k = 0; k < samples[i]; ++k) {
      R.push_back(0.1 * static_cast<double>(i + 1));
      theta.push_back(2 * kPi * k / std::max(1, samples[i] - 1));
    }
  r.OrbitR = RealTable(R);
  r.OrbitTheta = RealTable(theta);
  r.OrbitVr = RealTable(std::vector<double>(R.size(), 0.0));
  r.OrbitPoints = IntTable(std::move(samples));
  return r;
}

TEST(ThinnedOrbits, FewPointsPerOrbitWithItsEndsAndNothingBeyondTheTables) {
  const std::vector<QPolygonF> orbits = ThinnedOrbits(Circles({62832, 10, 0}), 360);
  ASSERT_EQ(orbits.size(), 3u);
  EXPECT_LE(orbits[0].size(), 361);
  EXPECT_GE(orbits[0].size(), 300);
  EXPECT_EQ(orbits[1].size(), 10);
  EXPECT_TRUE(orbits[2].isEmpty());
  for (int k : {0, 1}) {
    const QPolygonF& orbit = orbits[static_cast<size_t>(k)];
    const double radius = 0.1 * (k + 1);
    EXPECT_NEAR(orbit.front().x(), radius, 1e-12);  // theta 0
    EXPECT_NEAR(orbit.back().x(), radius, 1e-12);   // the last sample, theta 2 pi
    EXPECT_NEAR(orbit.back().y(), 0, 1e-12);
    for (const QPointF& p : orbit) EXPECT_NEAR(std::hypot(p.x(), p.y()), radius, 1e-12);
  }
  // A damaged record whose counts run past the samples: the orbits it holds, no more.
  ResultTables damaged = Circles({20, 20});
  damaged.OrbitPoints = IntTable({20, 25});
  const std::vector<QPolygonF> some = ThinnedOrbits(damaged, 360);
  EXPECT_EQ(some[0].size(), 20);
  EXPECT_TRUE(some[1].isEmpty());
}

int CountNear(const QImage& image, QColor colour, int tolerance = 40) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      count += std::abs(c.red() - colour.red()) < tolerance &&
               std::abs(c.green() - colour.green()) < tolerance &&
               std::abs(c.blue() - colour.blue()) < tolerance;
    }
  return count;
}

QImage Drawn(const ResultTables& r, GraphKind kind, const GraphExtras& extras, bool& ok) {
  QImage image(700, 500, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  const GraphDrawing drawing = DrawGraph(painter, r, kind, image.size(), extras);
  ok = drawing.drawn;
  for (const Message& note : drawing.notes) ShowMessage(note);  // as the window shows them
  return image;
}

TEST(WorkbenchGraphs, TheSelectedEnergyIsMarkedInRed) {
  ResultTables r = TuneRun({1.01, 1.02, 1.03, 1.04}, {0.1, 0.15, 0.2, 0.25}, 4);
  r.F0 = RealTable({26.26e6, 26.261e6, 26.262e6, 26.2615e6});
  const ResultTables circles = Circles({400, 400, 400, 400});
  r.OrbitR = circles.OrbitR;
  r.OrbitTheta = circles.OrbitTheta;
  r.OrbitVr = circles.OrbitVr;
  r.OrbitPoints = circles.OrbitPoints;
  for (GraphKind kind : {GraphKind::Frequency, GraphKind::Isochronism, GraphKind::Tunes,
                         GraphKind::Map, GraphKind::Orbits}) {
    SCOPED_TRACE(std::string(GraphKindName(kind)));
    GraphExtras extras;
    bool ok = false;
    const int before = CountNear(Drawn(r, kind, extras, ok), QColor(225, 30, 35), 30);
    ASSERT_TRUE(ok);
    extras.selected = 2;
    const int after = CountNear(Drawn(r, kind, extras, ok), QColor(225, 30, 35), 30);
    ASSERT_TRUE(ok);
    EXPECT_GT(after, before + 20);
  }
}

TEST(WorkbenchGraphs, FilesOfEveryFormatAndRefusalsWithTheirMessage) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("zuba_workbench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ResultTables r = Circles({500, 500, 500});
  r.Ek = RealTable({1e-13, 2e-13, 3e-13});
  r.Rmn = RealTable({0.1, 0.2, 0.3});
  r.F0 = RealTable({26.26e6, 26.26e6, 26.26e6});
  r.run.N = 4;
  GraphExtras extras;
  extras.map = std::make_shared<FieldGrid>(FourFoldGrid());
  for (GraphKind kind : {GraphKind::Map, GraphKind::Orbits, GraphKind::Harmonics})
    for (const char* ext : {"png", "svg", "pdf"}) {
      const std::string path = (dir / (std::string(GraphKindName(kind)) + "." + ext)).string();
      const PlotWriting written = WriteGraphFile(r, kind, extras, path, 640, 480);
      EXPECT_TRUE(written.outcome) << path << written.outcome.message().text;
      EXPECT_GT(std::filesystem::file_size(path), 1000u) << path;
    }
  const QImage png(QString::fromStdString((dir / "map.png").string()));
  EXPECT_EQ(png.size(), QSize(640, 480));
  EXPECT_GT(CountNear(png, QColor(ViridisColour(1.0)), 20), 1000);  // the hills

  // Without a map the harmonics say why; the map view draws the orbits alone.
  MessageCapture messages;
  GraphExtras none;
  none.mapNote = "The field map maps/a.sdf is gone: the orbits are drawn alone.";
  const PlotWriting harmonics =
      WriteGraphFile(r, GraphKind::Harmonics, none, (dir / "h.png").string(), 640, 480);
  EXPECT_FALSE(harmonics.outcome);
  EXPECT_TRUE(harmonics.outcome.failure().quiet);
  ASSERT_EQ(harmonics.notes.size(), 1u);
  EXPECT_NE(harmonics.notes[0].text.find("is gone"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "h.png"));
  EXPECT_TRUE(
      WriteGraphFile(r, GraphKind::Map, none, (dir / "alone.png").string(), 640, 480).outcome);
  // A record without samples and without a map: nothing to draw, and each drawing says so.
  for (GraphKind kind : {GraphKind::Map, GraphKind::Orbits}) {
    const PlotWriting nothing =
        WriteGraphFile(ResultTables{}, kind, none, (dir / "x.png").string(), 640, 480);
    EXPECT_FALSE(nothing.outcome);
    EXPECT_EQ(nothing.notes.size(), 1u);
  }
  EXPECT_TRUE(messages.texts().empty());  // no drawing shows a message itself
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zuba

namespace zuba {
namespace {

// What a graph writes: every text drawn on a recording device.
std::vector<std::string> Texts(const ResultTables& r, GraphKind kind, const GraphExtras& extras) {
  std::string error;
  EXPECT_TRUE(EnsurePlotApplication(error)) << error;
  test::RecordingDevice device(QSize(800, 600));
  {
    QPainter painter(&device);
    EXPECT_TRUE(DrawGraph(painter, r, kind, QSize(800, 600), extras));
  }
  return device.recording().textStrings();
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(ComparedGraphs, EveryPerEnergyGraphDrawsBothRunsAndNamesTheirFiles) {
  ResultTables a = TuneRun({1.01, 1.02, 1.03, 1.04}, {0.1, 0.15, 0.2, 0.25}, 4);
  a.F0 = RealTable({26.26e6, 26.261e6, 26.262e6, 26.2615e6});
  ResultTables b = TuneRun({1.05, 1.06, 1.07, 1.08}, {0.3, 0.32, 0.35, 0.4}, 4);
  b.F0 = RealTable({26.259e6, 26.258e6, 26.257e6, 26.256e6});
  b.closure.isochronism = RealTable({-3e-5, -7e-5, -1e-4, -1.5e-4});
  for (ResultTables* r : {&a, &b}) {
    const ResultTables circles = Circles({400, 400, 400, 400});
    r->OrbitR = circles.OrbitR;
    r->OrbitTheta = circles.OrbitTheta;
    r->OrbitVr = circles.OrbitVr;
    r->OrbitPoints = circles.OrbitPoints;
  }
  GraphExtras extras;
  extras.compare = &b;
  extras.name = "a.zub";
  extras.compareName = "b.zub";
  for (GraphKind kind : {GraphKind::Frequency, GraphKind::Isochronism, GraphKind::Tunes}) {
    SCOPED_TRACE(std::string(GraphKindName(kind)));
    EXPECT_TRUE(Contains(Texts(a, kind, extras),
                         "Blue: a.zub (precise closure), red: b.zub (precise closure)"));
    // The second run in red, wide enough to show over a grid line.
    bool ok = false;
    GraphExtras alone;
    const int without = CountNear(Drawn(a, kind, alone, ok), QColor(220, 0, 0), 30);
    const int with = CountNear(Drawn(a, kind, extras, ok), QColor(220, 0, 0), 30);
    ASSERT_TRUE(ok);
    EXPECT_GT(with, without + 40);
  }
  const std::vector<std::string> orbits = Texts(a, GraphKind::Orbits, extras);
  EXPECT_TRUE(Contains(orbits, "solid: a.zub"));
  EXPECT_TRUE(Contains(orbits, "dashed: b.zub"));
  // Without a precise run the compared record has no tunes, and the legend says so.
  b.closure = ClosureTables{};
  EXPECT_TRUE(Contains(Texts(a, GraphKind::Tunes, extras),
                       "Blue: a.zub (precise closure), red: b.zub (standard closure), which has "
                       "no tunes without the precise closure"));
}

TEST(MapImage, ADifferenceIsDrawnBlueWhiteRedAboutZero) {
  FieldGrid grid = FourFoldGrid();
  for (double& b : grid.field) b -= 1;  // -0.5 .. 0.5 T
  const int pixels = 200;
  const double half = 0.5;
  const QImage image = MapImage(grid, pixels, half, -0.5, 0.5, true);
  auto pixel = [&](double theta) {
    const double r = 0.3;
    const int px = static_cast<int>((r * std::cos(theta) + half) / (2 * half) * pixels);
    const int py = static_cast<int>((half - r * std::sin(theta)) / (2 * half) * pixels);
    return image.pixel(px, py);
  };
  auto near = [](QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
           std::abs(qBlue(a) - qBlue(b)) <= 3;
  };
  EXPECT_TRUE(near(pixel(0.001), DivergingTable()[255]));  // +0.5 T: the red end
  EXPECT_TRUE(near(pixel(kPi / 4), DivergingTable()[0]));  // -0.5 T: the blue end
  const QRgb zero = pixel(kPi / 8);                        // 0 T: white
  EXPECT_GT(qRed(zero), 230);
  EXPECT_GT(qGreen(zero), 230);
  EXPECT_GT(qBlue(zero), 230);
  EXPECT_GT(qBlue(DivergingTable()[0]), qRed(DivergingTable()[0]));
  EXPECT_GT(qRed(DivergingTable()[255]), qBlue(DivergingTable()[255]));

  // The view of a difference: its own title and colour bar.
  ResultTables r = Circles({400, 400});
  GraphExtras extras;
  extras.map = std::make_shared<const FieldGrid>(grid);
  extras.difference = true;
  extras.differenceName = "a.sdf - b.sdf";
  const std::vector<std::string> texts = Texts(r, GraphKind::Map, extras);
  EXPECT_TRUE(Contains(texts, "Field map difference and closed orbits"));
  // The Greek letter comes in a text item of its own (a font that has it).
  const auto delta = std::find(texts.begin(), texts.end(), "Δ");
  ASSERT_NE(delta, texts.end());
  EXPECT_EQ(*std::next(delta), "B (T)");
}

}  // namespace
}  // namespace zuba
