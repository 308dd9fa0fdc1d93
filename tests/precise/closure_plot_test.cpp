// The isochronism graph and the tune diagram, drawn into images.
#include "graph/closure_plot.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "graph/plot_file.h"
#include "platform/message.h"

namespace zuba {
namespace {

ResultTables PreciseRun() {
  ResultTables r;
  r.run.Frf = 26.26;
  r.run.H = 1;
  r.run.N = 4;
  r.Rmn = RealTable({0.1, 0.2, 0.3, 0.4});
  r.F0 = RealTable({26.26e6, 26.2601e6, 26.2603e6, 26.2599e6});
  r.closure.mode = 1;
  r.closure.isochronism = RealTable({0, 3.8e-6, 1.1e-5, -3.8e-6});
  r.closure.phaseDeg = RealTable({0, 0, 0, 0});
  r.closure.nuR = RealTable({1.01, 1.02, 1.04, 1.05});
  r.closure.nuZ = RealTable({0.1, 0.2, 0.15, 2147483647.0});
  r.closure.status = IntTable({0, 0, 0, 8});
  return r;
}

// Counts the pixels of the image close to the colour.
int CountColour(const QImage& image, QColor colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40 &&
          std::abs(c.blue() - colour.blue()) < 40)
        ++count;
    }
  return count;
}

QImage Draw(const ResultTables& r, GraphKind kind, bool& drawn,
            const ResultTables* compare = nullptr) {
  std::string error;
  EXPECT_TRUE(EnsurePlotApplication(error)) << error;
  QImage image(640, 480, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  const GraphDrawing drawing = DrawGraph(painter, r, kind, image.size(), compare);
  drawn = drawing.drawn;
  for (const Message& note : drawing.notes) ShowMessage(note);  // as the window shows them
  return image;
}

TEST(ClosurePlot, KindsHaveNames) {
  for (GraphKind k : {GraphKind::Frequency, GraphKind::Isochronism, GraphKind::Tunes})
    EXPECT_EQ(ParseGraphKind(GraphKindName(k)), k);
  EXPECT_FALSE(ParseGraphKind("tune").has_value());
}

TEST(ClosurePlot, TuneDiagramShowsThePathAndTheResonanceLines) {
  bool drawn = false;
  const QImage image = Draw(PreciseRun(), GraphKind::Tunes, drawn);
  ASSERT_TRUE(drawn);
  EXPECT_GT(CountColour(image, QColor(0, 0, 255)), 50);  // the path
  EXPECT_GT(CountColour(image, QColor(0, 150, 0)), 50);  // the resonance lines
}

TEST(ClosurePlot, TuneDiagramNeedsThePreciseClosure) {
  MessageCapture capture;
  ResultTables r = PreciseRun();
  r.closure = ClosureTables{};
  bool drawn = true;
  const QImage image = Draw(r, GraphKind::Tunes, drawn);
  EXPECT_FALSE(drawn);
  ASSERT_EQ(capture.texts().size(), 1u);
  EXPECT_EQ(capture.texts()[0], "The tune diagram needs a run with the precise closure!");
}

TEST(ClosurePlot, IsochronismOfTwoRunsInBlueAndRed) {
  ResultTables standard = PreciseRun();
  standard.closure = ClosureTables{};  // isochronism from F0: 0, 3.8e-6, 1.1e-5, -3.8e-6
  bool drawn = false;
  const ResultTables precise = PreciseRun();
  const QImage image = Draw(standard, GraphKind::Isochronism, drawn, &precise);
  ASSERT_TRUE(drawn);
  EXPECT_GT(CountColour(image, QColor(0, 0, 255)), 50);
  EXPECT_GT(CountColour(image, QColor(220, 0, 0)), 50);
}

}  // namespace
}  // namespace zuba
