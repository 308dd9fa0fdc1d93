// The comparisons of the desktop program: File > Compare With... draws a second document and adds
// the differences to the results table, Compare With None removes them, a damaged document is
// refused with a box; View > Difference to Map... draws the run's map minus another map and
// refuses maps that do not overlap.
#include <gtest/gtest.h>

#include <QAction>
#include <QTemporaryDir>
#include <cmath>

#include "app/comparison_commands.h"
#include "app/main_frame.h"
#include "app/results_table.h"
#include "app_test_support.h"
#include "graph/view.h"
#include "platform/files.h"
#include "platform/message.h"
#include "results/document.h"

namespace zuba {
namespace {

struct Comparison : ::testing::Test {
  Comparison() { frame = test::ShownMainFrame(800, 600); }
  ~Comparison() override { frame.reset(); }

  QString Document(const char* name, const ResultTables& results) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    EXPECT_TRUE(SaveDocumentFile(path.toStdString(), results, 1).ok());
    return path;
  }

  QTemporaryDir dir;
  MessageCapture messages;
  std::unique_ptr<CMainFrame> frame;
};

TEST_F(Comparison, CompareWithDrawsTheSecondDocumentAndTabulatesTheDifferences) {
  ASSERT_TRUE(frame->OpenDocumentFile(Document("a.zub", test::MakeResults(6))));
  // The second run: 50 Hz higher at every energy, one energy fewer.
  ASSERT_TRUE(frame->Comparison().CompareWith(Document("b.zub", test::MakeResults(5, 50))));
  CZUBAView& view = frame->View();
  ASSERT_NE(view.Compare(), nullptr);
  EXPECT_EQ(view.CompareName(), "b.zub");
  const GraphExtras extras = view.Extras();
  EXPECT_EQ(extras.compare, view.Compare());
  EXPECT_EQ(extras.compareName, "b.zub");
  EXPECT_EQ(extras.name, "a.zub");

  const ValueRows& rows = frame->ResultsTable().Rows();
  const size_t column = rows.Find("d_isochronism");
  ASSERT_LT(column, rows.ColumnCount());
  // F0 * H / Frf - 1 of the first minus the second: -50 Hz / Frf at the energies both hold.
  for (size_t i = 0; i < 5; ++i) EXPECT_NEAR(rows.Value(i, column), -50 / 26.26e6, 1e-12) << i;
  EXPECT_EQ(rows.Value(5, column), kNoValue);               // the second run has no 3.6 MeV
  EXPECT_EQ(rows.Value(0, rows.Find("d_nu_r")), kNoValue);  // no tunes without the precise closure
  frame->UpdateCommandUi();
  EXPECT_TRUE(frame->Comparison().compareNoneAct->isEnabled());

  frame->Comparison().compareNoneAct->trigger();
  EXPECT_EQ(view.Compare(), nullptr);
  EXPECT_EQ(frame->ResultsTable().Rows().Find("d_isochronism"),
            frame->ResultsTable().Rows().ColumnCount());
  EXPECT_TRUE(messages.messages().empty());
}

TEST_F(Comparison, ADocumentThatDoesNotReadIsRefusedWithABox) {
  ASSERT_TRUE(frame->OpenDocumentFile(Document("a.zub", test::MakeResults(3))));
  const QString broken = dir.filePath(QStringLiteral("broken.zub"));
  ASSERT_TRUE(WriteFileAtomically(broken.toStdString(), "not a document").ok());
  EXPECT_FALSE(frame->Comparison().CompareWith(broken));
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].text.rfind(broken.toStdString() + ": ", 0), 0u);
  EXPECT_EQ(frame->View().Compare(), nullptr);
}

TEST_F(Comparison, DifferenceToMapDrawsTheRunsMapMinusAnother) {
  ResultTables results = test::MakeResults(3);
  results.run.Path = ZUBA_EXAMPLES_DIR "/tvk310-p-disturbed.sdf";
  ASSERT_TRUE(frame->OpenDocumentFile(Document("a.zub", results)));
  CComparisonCommands& commands = frame->Comparison();
  ASSERT_TRUE(commands.DifferenceTo(QStringLiteral(ZUBA_EXAMPLES_DIR "/tvk310-p.sdf")));
  CZUBAView& view = frame->View();
  EXPECT_EQ(view.GetGraphKind(), GraphKind::Map);
  const GraphExtras extras = view.Extras();
  ASSERT_TRUE(extras.difference);
  ASSERT_TRUE(extras.map);
  EXPECT_EQ(extras.differenceName, "tvk310-p-disturbed.sdf - tvk310-p.sdf");
  // At 0.39 m the five trim coils (Gaussian, sigma 50 mm, 1 Gs/A at their centres) give
  // sum I exp(-(0.39 m - c)^2 / 2 sigma^2), to the 0.1 Gs of the maps.
  const FieldGrid& grid = *extras.map;
  const size_t node = static_cast<size_t>(34) * grid.azimuths.size();
  EXPECT_NEAR(grid.radii[34], 0.39, 1e-9);
  const double centres[5] = {0.15, 0.27, 0.39, 0.51, 0.60}, currents[5] = {20, -35, 15, -10, 40};
  double expected = 0;  // Gs
  for (int k = 0; k < 5; ++k)
    expected += currents[k] * std::exp(-std::pow(0.39 - centres[k], 2) / (2 * 0.05 * 0.05));
  EXPECT_NEAR(grid.field[node] * 1e4, expected, 0.1);

  // Maps that do not overlap: refused, and the difference shown stays.
  EXPECT_FALSE(commands.DifferenceTo(QStringLiteral(ZUBA_EXAMPLES_DIR "/ring-590.sdf")));
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_NE(messages.messages()[0].text.find("leave map B's 1.8 .. 4.7 m"), std::string::npos)
      << messages.messages()[0].text;
  EXPECT_TRUE(view.HasMapDifference());

  // A new record drops the difference of the old one's map.
  ASSERT_TRUE(frame->OpenDocumentFile(Document("b.zub", results)));
  EXPECT_FALSE(view.HasMapDifference());
}

}  // namespace
}  // namespace zuba
