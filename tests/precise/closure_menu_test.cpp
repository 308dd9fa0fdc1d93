// The desktop program's closure and graph choices: Calculate > Precise Closed Orbits (off at the
// first start, remembered in the settings) and the three graphs of the View menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <memory>

#include "app/main_frame.h"
#include "graph/view.h"
#include "platform/message.h"
#include "tests/app/app_test_support.h"

namespace zuba {
namespace {

struct ClosureMenu : ::testing::Test {
  ClosureMenu() { QSettings().clear(); }
  ~ClosureMenu() override {}
  MessageCapture messages;
};

TEST_F(ClosureMenu, DefaultClosureAndFrequencyGraphAtFirstStart) {
  CMainFrame frame;
  EXPECT_TRUE(frame.preciseClosureAct->isCheckable());
  EXPECT_FALSE(frame.preciseClosureAct->isChecked());
  EXPECT_EQ(frame.Controller().GetClosureMode(), ClosureMode::Standard);
  EXPECT_TRUE(frame.frequencyGraphAct->isChecked());
  EXPECT_FALSE(frame.isochronismGraphAct->isChecked());
  EXPECT_FALSE(frame.tuneGraphAct->isChecked());
  EXPECT_EQ(frame.View().GetGraphKind(), GraphKind::Frequency);
}

TEST_F(ClosureMenu, PreciseClosureIsRememberedForTheNextStart) {
  {
    CMainFrame frame;
    frame.preciseClosureAct->trigger();
    EXPECT_TRUE(frame.preciseClosureAct->isChecked());
    EXPECT_EQ(frame.Controller().GetClosureMode(), ClosureMode::Precise);
  }
  {
    CMainFrame frame;
    EXPECT_TRUE(frame.preciseClosureAct->isChecked());
    EXPECT_EQ(frame.Controller().GetClosureMode(), ClosureMode::Precise);
    frame.preciseClosureAct->trigger();
    EXPECT_EQ(frame.Controller().GetClosureMode(), ClosureMode::Standard);
  }
  CMainFrame frame;
  EXPECT_FALSE(frame.preciseClosureAct->isChecked());
}

TEST_F(ClosureMenu, ViewMenuChoosesOneGraphAtATime) {
  CMainFrame frame;
  frame.isochronismGraphAct->trigger();
  EXPECT_EQ(frame.View().GetGraphKind(), GraphKind::Isochronism);
  EXPECT_FALSE(frame.frequencyGraphAct->isChecked());
  frame.tuneGraphAct->trigger();
  EXPECT_EQ(frame.View().GetGraphKind(), GraphKind::Tunes);
  EXPECT_FALSE(frame.isochronismGraphAct->isChecked());
  frame.frequencyGraphAct->trigger();
  EXPECT_EQ(frame.View().GetGraphKind(), GraphKind::Frequency);
}

TEST_F(ClosureMenu, TheViewDrawsTheChosenGraph) {
  CMainFrame frame;
  ResultTables results = test::MakeResults(5);
  frame.Document().DocumentResults() = results;
  frame.Document().SetResultsAvailable(true);
  frame.Document().UpdateAllViews();
  auto draw = [&frame] {
    QImage image(600, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    return frame.View().OnDraw(painter, image.size());
  };
  EXPECT_TRUE(draw().drawn);
  frame.isochronismGraphAct->trigger();
  EXPECT_TRUE(draw().drawn);
  // A run of the default closure has no tunes: the diagram says so and draws nothing.
  frame.tuneGraphAct->trigger();
  const GraphDrawing tunes = draw();
  EXPECT_FALSE(tunes.drawn);
  ASSERT_EQ(tunes.notes.size(), 1u);
  EXPECT_EQ(tunes.notes[0].text, "The tune diagram needs a run with the precise closure!");
  EXPECT_TRUE(messages.texts().empty());  // the drawing shows nothing itself
}

}  // namespace
}  // namespace zuba
