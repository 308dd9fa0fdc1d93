// Complete runs through the calculation command on the window's runner, the dialogs answered by
// the test: the progress bar, the results reaching the document, the stop by double-click, closing
// and New during a run, no new run before the last one's results arrived; and the Qt services
// that take a run's progress requests without ever making it wait.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "app/input_data_dlg.h"
#include "app/main_frame.h"
#include "app/mode_dlg.h"
#include "app/qt_services.h"
#include "app/queued_job.h"
#include "app/results_table.h"
#include "app_test_support.h"
#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "calc/run/values_table.h"
#include "calc/synth/synth_map.h"
#include "numerics/constants.h"
#include "platform/files.h"

namespace zuba {
namespace {

using test::ModalAnswerer;
using test::WaitFor;

struct RunFixture : ::testing::Test {
  RunFixture() {
    mapPath = dir.filePath("small.sdf").toStdString();
    test::WriteSmallMap(mapPath);
    frame = test::ShownMainFrame(800, 600);
  }
  ~RunFixture() override { frame.reset(); }

  // Answers the two dialogs of the next command: the mode label, then the Input Data dialog with
  // the map, the given last energy, energy step and integration step.
  void AnswerDialogs(const char* mode, const char* ekEnd, const char* dEk, const char* h) {
    answers.Then([mode](QWidget* modal) {
      auto* dialog = qobject_cast<CModeDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->List()->setCurrentRow(std::string(mode) == kModeTvk310 ? 0 : 1);
      dialog->OkButton()->click();
    });
    answers.Then([this, ekEnd, dEk, h](QWidget* modal) {
      auto* dialog = qobject_cast<CInputDataDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->pathEdit->setText(QString::fromStdString(mapPath));
      dialog->ekEndEdit->setText(ekEnd);
      dialog->dEkEdit->setText(dEk);
      dialog->stepEdit->setText(h);
      dialog->enterButton->click();
    });
  }
  bool WaitForRunEnd(int timeoutMs = 60000) {
    return WaitFor([this] { return !frame->Controller().IsCalculationRunning(); }, timeoutMs);
  }

  MessageCapture messages;
  QTemporaryDir dir;
  std::string mapPath;
  std::unique_ptr<CMainFrame> frame;
  ModalAnswerer answers;
};

using CalculationCommand = RunFixture;

TEST_F(CalculationCommand, CompleteRunShowsItsResultsInTheDocument) {
  AnswerDialogs(kModeTvk310, "1.8", "0.6", "0.01");
  std::vector<int> positions;
  QObject::connect(&frame->ProgressBar(), &QProgressBar::valueChanged,
                   [&](int value) { positions.push_back(value); });

  frame->equilibriumOrbitsAct->trigger();
  EXPECT_TRUE(answers.Done());
  ASSERT_TRUE(frame->Controller().IsCalculationRunning());
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return frame->Document().IsModified(); }));

  EXPECT_TRUE(messages.messages().empty()) << messages.texts()[0];
  const ResultTables& doc = frame->Document().DocumentResults();
  ASSERT_EQ(doc.Ek.size(), 3);
  EXPECT_EQ(doc.OrbitPoints.size(), 3);
  EXPECT_EQ(frame->View().ViewResults(), doc);
  EXPECT_TRUE(frame->Document().ResultsAvailable());
  EXPECT_EQ(doc.run.Path, mapPath);
  EXPECT_EQ(doc.run.ParticleName, "p");
  EXPECT_EQ(doc.run.h, 0.01);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(doc.F0[i], 26.26e6, 0.01 * 26.26e6);  // the map is isochronous for this ion
    if (i > 0) {
      EXPECT_GT(doc.Rmn[i], doc.Rmn[i - 1]);
    }
  }

  // The bar: range 0 .. 3, three steps, back to 0.
  EXPECT_EQ(frame->ProgressBar().maximum(), 3);
  EXPECT_EQ(frame->ProgressBar().value(), 0);
  EXPECT_EQ(frame->ProgressSinkQt().StepCount(), 3);
  EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 0}));

  frame->UpdateCommandUi();
  EXPECT_TRUE(frame->equilibriumOrbitsAct->isEnabled());
  EXPECT_TRUE(frame->reportSaveAsAct->isEnabled());
  EXPECT_EQ(frame->windowTitle(), "Untitled[*] - ZUBA 2020");
}

// Calculate > Precise Closure Tolerance... sets the tolerance of the next precise runs (a coarse
// one closes the orbits with other last digits than the default) and refuses, unchanged, what the
// command line refuses, with its line.
TEST_F(CalculationCommand, PreciseClosureToleranceReachesTheRunsAndRefusesBadTexts) {
  auto setTolerance = [&](const char* text) {
    answers.Then([text](QWidget* modal) {
      auto* dialog = qobject_cast<QInputDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->setTextValue(QString::fromLatin1(text));
      dialog->accept();
    });
    frame->preciseToleranceAct->trigger();
    EXPECT_TRUE(answers.Done());
  };
  auto runF0 = [&] {
    AnswerDialogs(kModeTvk310, "1.8", "0.6", "0.01");
    frame->equilibriumOrbitsAct->trigger();
    EXPECT_TRUE(answers.Done());
    EXPECT_TRUE(WaitForRunEnd());
    return frame->Document().DocumentResults().F0;
  };
  if (!frame->preciseClosureAct->isChecked()) frame->preciseClosureAct->trigger();
  setTolerance(" 1e-4 ");
  EXPECT_EQ(frame->Controller().PreciseTolerance(), 1e-4);
  EXPECT_EQ(frame->preciseToleranceAct->text().toStdString(),
            "Precise Closure &Tolerance (0.0001)...");
  const RealTable coarse = runF0();
  setTolerance("1e-11");
  const RealTable fine = runF0();
  ASSERT_EQ(coarse.size(), 3);
  ASSERT_EQ(fine.size(), 3);
  EXPECT_NE(coarse, fine);
  EXPECT_NEAR(coarse[1], fine[1], 1e-6 * fine[1]);

  const std::pair<const char*, const char*> refused[] = {
      {"abc", "--tolerance abc: not a number"},
      {"1e-15", "The tolerance 1e-15 is out of range (allowed: 1e-14 to 0.0001)!"},
      {"2e-4", "The tolerance 0.0002 is out of range (allowed: 1e-14 to 0.0001)!"}};
  for (const auto& [text, line] : refused) {
    const size_t before = messages.messages().size();
    setTolerance(text);
    ASSERT_EQ(messages.messages().size(), before + 1) << text;
    EXPECT_EQ(messages.messages().back().text, line);
    EXPECT_EQ(frame->Controller().PreciseTolerance(), 1e-11);
  }
}

// A run of the default search on the proton example ends with the accuracy line on the status bar,
// without a message box.
TEST_F(CalculationCommand, DefaultSearchRunPutsTheAccuracyLineOnTheStatusBar) {
  mapPath = std::string(ZUBA_EXAMPLES_DIR) + "/tvk310-p.sdf";
  AnswerDialogs(kModeTvk310, "60.6", "30", "0.003");
  frame->equilibriumOrbitsAct->trigger();
  EXPECT_TRUE(answers.Done());
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return !frame->statusBar()->currentMessage().isEmpty(); }));
  EXPECT_TRUE(frame->statusBar()->currentMessage().startsWith(
      "Accuracy: the standard search leaves F0 uncertain by at least "))
      << frame->statusBar()->currentMessage().toStdString();
  EXPECT_TRUE(messages.messages().empty());
}

TEST_F(CalculationCommand, CancelledDialogsStartNothingAndKeepNothing) {
  answers.Then([](QWidget* modal) {
    auto* dialog = static_cast<CModeDlg*>(modal);
    dialog->List()->setCurrentRow(1);
    dialog->OkButton()->click();
  });
  answers.Then([](QWidget* modal) {
    auto* dialog = static_cast<CInputDataDlg*>(modal);
    dialog->ekEndEdit->setText("50");
    dialog->exitButton->click();
  });
  answers.Then([](QWidget* modal) {
    auto* dialog = static_cast<CModeDlg*>(modal);
    dialog->List()->setCurrentRow(1);
    dialog->OkButton()->click();
  });
  std::string shown;
  answers.Then([&](QWidget* modal) {
    auto* dialog = static_cast<CInputDataDlg*>(modal);
    shown = dialog->ekEndEdit->text().toStdString();
    dialog->exitButton->click();
  });
  answers.Then([](QWidget* modal) { static_cast<CModeDlg*>(modal)->CancelButton()->click(); });

  for (int i = 0; i < 3; ++i) {
    frame->equilibriumOrbitsAct->trigger();
    EXPECT_FALSE(frame->Controller().IsCalculationRunning());
  }
  EXPECT_TRUE(answers.Done());
  EXPECT_EQ(shown, "100");  // the preset again, not the typed 50
  EXPECT_EQ(frame->Controller().Run(), nullptr);
  EXPECT_TRUE(messages.messages().empty());
  EXPECT_FALSE(frame->Document().ResultsAvailable());
}

TEST_F(CalculationCommand, RefusedMapOrParametersStartNoWorker) {
  answers.Then([](QWidget* modal) { static_cast<CModeDlg*>(modal)->OkButton()->click(); });
  answers.Then([&](QWidget* modal) {
    auto* dialog = static_cast<CInputDataDlg*>(modal);
    dialog->pathEdit->setText(dir.filePath("missing.sdf"));
    dialog->enterButton->click();
  });
  frame->equilibriumOrbitsAct->trigger();
  EXPECT_FALSE(frame->Controller().IsCalculationRunning());
  ASSERT_EQ(messages.messages().size(), 1u);  // the reader's message
  EXPECT_EQ(messages.messages()[0].caption, "Error");

  // A failed basic check ends the command silently (a note on the status bar only).
  messages.clear();
  AnswerDialogs(kModeTvk310, "0.3", "0.6", "0.01");  // EkEnd below EkBegin
  frame->equilibriumOrbitsAct->trigger();
  EXPECT_FALSE(frame->Controller().IsCalculationRunning());
  EXPECT_TRUE(messages.messages().empty());
  EXPECT_EQ(frame->Controller().Run(), nullptr);
}

TEST_F(CalculationCommand, DoubleClickStopsTheRunWithoutHandingOver) {
  AnswerDialogs(kModeTvk310, "12", "0.1", "0.002");
  bool clicked = false;
  QObject::connect(&frame->ProgressBar(), &QProgressBar::valueChanged, [&](int value) {
    if (value >= 1 && !clicked) {
      clicked = true;
      QTest::mouseDClick(&frame->View(), Qt::LeftButton, {}, QPoint(40, 40));
    }
  });
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_TRUE(clicked);
  const int n = frame->Controller().Run()->n;
  EXPECT_EQ(n, 115);
  EXPECT_GE(frame->ProgressSinkQt().StepCount(), 1);
  EXPECT_LT(frame->ProgressSinkQt().StepCount(), n);
  EXPECT_EQ(frame->ProgressBar().value(), 0);
  EXPECT_FALSE(frame->Document().ResultsAvailable());
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 0);
  QTest::qWait(30);
  EXPECT_FALSE(frame->Document().IsModified());
  // The window says where the run stopped (there were no results before it).
  EXPECT_TRUE(frame->windowTitle().startsWith("Untitled[*] - ZUBA 2020 (the last run stopped at "))
      << frame->windowTitle().toStdString();
  EXPECT_TRUE(frame->statusBar()->currentMessage().startsWith("The last run stopped at "));
}

// Before an implausible run the warnings are shown in one box with Run anyway and Cancel, and on
// the status bar; Cancel starts nothing, Run anyway runs. The gain per turn of the Input Data
// dialog goes into the results, whose table names it in the heading of the phase.
TEST_F(CalculationCommand, WarningsAskBeforeTheRunAndTheGainPerTurnIsKept) {
  std::vector<QStringList> asked;
  bool runAnyway = false;
  frame->confirmRunWarnings = [&](const QStringList& warnings) {
    asked.push_back(warnings);
    return runAnyway;
  };
  auto answer = [this] {
    answers.Then([](QWidget* modal) { static_cast<CModeDlg*>(modal)->OkButton()->click(); });
    answers.Then([this](QWidget* modal) {
      auto* dialog = qobject_cast<CInputDataDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->pathEdit->setText(QString::fromStdString(mapPath));
      dialog->ekBeginEdit->setText("0.1");  // a radius of 0.027 m: the map starts at 0.05 m
      dialog->ekEndEdit->setText("1.3");
      dialog->dEkEdit->setText("0.6");
      dialog->stepEdit->setText("0.01");
      dialog->gainEdit->setText("2.5");
      dialog->enterButton->click();
    });
  };
  const QString warning =
      "0.1 MeV: the mean-field radius lies below the map's first radius (0.05 m): check EkBegin "
      "and the map's radii.";
  answer();
  frame->equilibriumOrbitsAct->trigger();
  EXPECT_TRUE(answers.Done());
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], QStringList{warning});
  EXPECT_EQ(frame->statusBar()->currentMessage(), warning);
  EXPECT_FALSE(frame->Controller().IsCalculationRunning());
  EXPECT_FALSE(frame->Document().ResultsAvailable());

  runAnyway = true;
  answer();
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return frame->Document().IsModified(); }));
  EXPECT_EQ(asked.size(), 2u);
  const ResultTables& doc = frame->Document().DocumentResults();
  EXPECT_EQ(doc.closure.gainPerTurn, 2.5);
  const ValueRows rows = ValueRowsOf(doc);
  EXPECT_EQ(rows.Column(rows.Find("phase_deg")).title, "Phase (RF deg, 2.5 MeV/turn)");
  // The standard search extrapolated the field below the map for 0.1 MeV, and says so.
  ASSERT_TRUE(WaitFor([&] { return frame->statusBar()->currentMessage().contains("Inner edge"); }));
  EXPECT_TRUE(frame->statusBar()->currentMessage().contains(
      "Inner edge: the orbits of 0.1 MeV run below the map's first radius (0.05 m)"));
}

// A run of the default search that a failing energy ends leaves the previous results on screen;
// the title and the status bar say where it ended, and the status bar names the closure that
// would have gone on.
TEST_F(CalculationCommand, FailedStandardRunKeepsThePreviousResultsAndSaysWhere) {
  frame->confirmRunWarnings = [](const QStringList&) { return true; };
  AnswerDialogs(kModeTvk310, "1.8", "0.6", "0.01");
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return frame->Document().IsModified(); }));
  const ResultTables before = frame->Document().DocumentResults();

  AnswerDialogs(kModeTvk310, "30.6", "30", "0.01");  // 30.6 MeV needs more than the map's 0.4 m
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitForRunEnd());
  QTest::qWait(30);
  EXPECT_EQ(frame->Document().DocumentResults(), before);
  EXPECT_EQ(
      frame->windowTitle(),
      "Untitled[*] - ZUBA 2020 (results of the previous run; the last run failed at 30.6 MeV)");
  EXPECT_EQ(frame->statusBar()->currentMessage(),
            "Results of the previous run; the last run failed at 30.6 MeV. The precise closure "
            "(Calculate > Precise Closed Orbits) closes each energy on its own and keeps the "
            "others.");
}

TEST_F(CalculationCommand, OnlyOneRunAtATime) {
  AnswerDialogs(kModeTvk310, "12", "0.1", "0.002");
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(frame->Controller().IsCalculationRunning());
  frame->UpdateCommandUi();
  EXPECT_FALSE(frame->equilibriumOrbitsAct->isEnabled());
  // Even when reached directly, the command starts no second run (no dialog opens; one that did
  // would be cancelled here).
  answers.Then([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  frame->Controller().OnCalculateEquilibriumOrbits();
  EXPECT_EQ(answers.Answered(), 2);
  frame->Controller().StopAndWaitForWorker();
  frame->UpdateCommandUi();
  EXPECT_TRUE(frame->equilibriumOrbitsAct->isEnabled());
}

TEST_F(CalculationCommand, ClosingTheWindowDuringARunStopsAndWaits) {
  AnswerDialogs(kModeTvk310, "12", "0.1", "0.002");
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitFor([&] { return frame->ProgressBar().value() >= 1; }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(frame->close());
  EXPECT_FALSE(frame->Controller().IsCalculationRunning());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_FALSE(frame->Controller().GetRunner().Busy());
  // What the run had posted is dropped with it: nothing reaches the document, also later.
  QTest::qWait(50);
  EXPECT_FALSE(frame->Document().ResultsAvailable());
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 0);
  EXPECT_TRUE(messages.messages().empty());
}

// A run whose thread has ended but whose results have not yet reached the window (its finished
// call waits in the event queue) still counts as running: a new run cannot start, no dialog opens,
// and the results then arrive in the document.
TEST_F(CalculationCommand, NoNewRunBeforeTheLastOnesResultsReachTheWindow) {
  AnswerDialogs(kModeTvk310, "1.8", "0.6", "0.01");
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(answers.Done());
  // Wait for the run's thread without letting the user-interface thread handle any event.
  for (int i = 0; i < 6000 && !frame->Controller().GetRunner().JobReturned(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(frame->Controller().GetRunner().JobReturned());
  EXPECT_FALSE(frame->Document().ResultsAvailable());
  EXPECT_TRUE(frame->Controller().IsCalculationRunning());
  frame->UpdateCommandUi();
  EXPECT_FALSE(frame->equilibriumOrbitsAct->isEnabled());
  // Reached directly, the command opens no dialog (an answer would be taken) and starts nothing.
  AnswerDialogs(kModeTvk310, "1.2", "0.6", "0.01");
  frame->Controller().OnCalculateEquilibriumOrbits();
  EXPECT_EQ(answers.Answered(), 2);
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return frame->Document().ResultsAvailable(); }));
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 3);  // the first run's three energies
  EXPECT_EQ(frame->View().ViewResults(), frame->Document().DocumentResults());
}

TEST_F(CalculationCommand, NewDuringARunStopsItFirst) {
  AnswerDialogs(kModeTvk310, "12", "0.1", "0.002");
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitFor([&] { return frame->ProgressBar().value() >= 1; }));
  frame->OnFileNew();
  EXPECT_FALSE(frame->Controller().IsCalculationRunning());
  QTest::qWait(30);
  EXPECT_FALSE(frame->Document().IsModified());
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 0);
  // The next run is not stopped by the stop request of the last one.
  AnswerDialogs(kModeTvk310, "1.8", "0.6", "0.01");
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return frame->Document().IsModified(); }));
  EXPECT_EQ(frame->Document().DocumentResults().Ek.size(), 3);
}

TEST_F(CalculationCommand, RunNamesItsEnergiesInTheBandAndFillsTheTableAndTheMapView) {
  AnswerDialogs(kModeTvk310, "1.8", "0.6", "0.01");
  std::vector<std::string> texts;
  QObject::connect(&frame->ProgressBar(), &QProgressBar::valueChanged, [&](int) {
    // The window sets the text as the value changes (its handler comes first).
    if (frame->ProgressBar().isTextVisible())
      texts.push_back(frame->ProgressBar().text().toStdString());
  });
  frame->equilibriumOrbitsAct->trigger();
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return frame->ResultsTable().Rows().RowCount() == 3; }));
  EXPECT_EQ(texts, (std::vector<std::string>{"energy 1 of 3 (0.6 MeV)", "energy 2 of 3 (1.2 MeV)",
                                             "energy 3 of 3 (1.8 MeV)"}));
  EXPECT_FALSE(frame->ProgressBar().isTextVisible());  // back at 0 after the run
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(frame->ResultsTable().Rows().Closed(i));

  // The run's own map, unchanged since: drawn without a note.
  frame->mapGraphAct->trigger();
  ASSERT_NE(frame->View().Map().grid, nullptr);
  EXPECT_EQ(frame->View().Map().note, "");
  EXPECT_EQ(frame->View().Map().grid->path, mapPath);
}

// A message of a thread other than the user-interface thread never waits for a box: the run hands
// its messages over with its results, and one that is shown from its thread all the same goes to
// stderr at once.
TEST(MessageBoxes, AnotherThreadsMessageNeverWaitsForABox) {
  QtMessageService service;
  MessageService* previous = SetMessageService(&service);
  CMainFrame frame;
  frame.show();
  auto shown = std::async(std::launch::async, [] {
    ShowMessage("Calculation accuracy didn't achive!", "Error", Icon::Warning);
  });
  // The user-interface thread handles no event meanwhile: a box would never be closed.
  EXPECT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  QApplication::processEvents();
  for (QWidget* widget : QApplication::topLevelWidgets())
    EXPECT_EQ(qobject_cast<QMessageBox*>(widget), nullptr);
  SetMessageService(previous);
}

// The finished call of a job that a stop joined may still wait in the event queue when the next
// job starts: it hands its result over and leaves the next job running (a join there would hold
// the user-interface thread until the next job ends).
TEST(QueuedJob, ALateFinishedCallOfAJoinedJobLeavesTheNextJobRunning) {
  Runner runner;
  JobRelay relay;
  std::vector<int> done;
  const std::function<void(int)> keep = [&](int value) { done.push_back(value); };
  ASSERT_TRUE(StartQueued<int>(
      runner, relay, [](const StopToken&) { return 1; }, keep));
  // Joined as a stop joins it, without handling its finished call.
  while (!runner.JobReturned()) std::this_thread::yield();
  runner.Join();
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  ASSERT_TRUE(StartQueued<int>(
      runner, relay,
      [released](const StopToken&) {
        released.wait_for(std::chrono::seconds(5));
        return 2;
      },
      keep));
  QApplication::processEvents();
  EXPECT_EQ(done, std::vector<int>{1});
  EXPECT_FALSE(runner.JobReturned());
  release.set_value();
  ASSERT_TRUE(WaitFor([&] { return done.size() == 2; }));
  EXPECT_EQ(done[1], 2);
}

// The bar as a run drives it from its thread: the requests return at once, without the
// user-interface thread, and are carried out there in their order.
TEST(ProgressSinkQt, RequestsOfAnotherThreadReturnAtOnceAndAreCarriedOutInOrder) {
  QProgressBar bar;
  QtProgressSink sink(&bar);
  std::vector<int> values;
  QObject::connect(&bar, &QProgressBar::valueChanged, [&](int value) { values.push_back(value); });
  auto done = std::async(std::launch::async, [&] {
    sink.setRange(0, 5);
    sink.setStep(1);
    sink.setPos(0);
    for (int i = 0; i < 5; ++i) sink.stepIt();
    sink.stepIt();  // past the upper end: starts over at the lower end
  });
  // Not one event handled here: the requests must not wait for this thread.
  EXPECT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(sink.StepCount(), 0);
  ASSERT_TRUE(WaitFor([&] { return sink.StepCount() == 6; }));
  EXPECT_EQ(bar.maximum(), 5);
  EXPECT_EQ(bar.value(), 0);
  EXPECT_EQ(values, (std::vector<int>{0, 1, 2, 3, 4, 5, 0}));
}

// A one-sector map (the small map's field, as a polar map in kG) runs from the window once Map
// Options... say it is one sector of 4; the results say how the map was read.
TEST_F(CalculationCommand, RunsAOneSectorMapCompletedByTheMapOptions) {
  SynthMapOptions options;
  options.rMax = 0.4;
  options.dR = 0.05;
  options.dTheta = 10;
  options.flutterCorrection = false;
  Result<SynthField> field = SynthField::Make(options);
  ASSERT_TRUE(field.ok());
  std::string text = "50\n50\n0\n10\n9\n8\n";  // 8 radii x 9 azimuths: 0 .. 80 degrees
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 9; ++j) {
      char value[40];
      std::snprintf(value, sizeof value, "%.12g\n",
                    field->Field((50 + 50 * i) / 1000.0, j * 10 * kPi / 180) * 10);
      text += value;
    }
  const std::string sector = dir.filePath("sector.txt").toStdString();
  ASSERT_TRUE(WriteFileAtomically(sector, text));
  answers.Then([](QWidget* modal) { static_cast<CModeDlg*>(modal)->OkButton()->click(); });
  answers.Then([&](QWidget* modal) {
    auto* dialog = qobject_cast<CInputDataDlg*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->pathEdit->setText(QString::fromStdString(sector));
    dialog->ekEndEdit->setText("1.8");
    dialog->stepEdit->setText("0.01");
    dialog->editMapOptions = [](MapReadingOptions& o) {
      o.replicate = 4;
      return true;
    };
    dialog->mapOptionsButton->click();
    dialog->enterButton->click();
  });
  frame->equilibriumOrbitsAct->trigger();
  EXPECT_TRUE(answers.Done());
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_TRUE(WaitFor([&] { return frame->Document().IsModified(); }));
  EXPECT_TRUE(messages.messages().empty()) << messages.texts()[0];
  const ResultTables& doc = frame->Document().DocumentResults();
  ASSERT_EQ(doc.Ek.size(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(doc.F0[i], 26.26e6, 0.01 * 26.26e6);
  EXPECT_EQ(doc.run.Path, sector);
  EXPECT_EQ(doc.mapReading.format, MapFormat::Polar);
  EXPECT_EQ(doc.mapReading.replicate, 4);
  EXPECT_EQ(frame->Controller().MapReading().replicate, 4);
}

}  // namespace
}  // namespace zuba
