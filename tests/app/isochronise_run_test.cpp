// Calculate > Isochronise... on the run of a small map, the dialogs answered by the test: the
// search on its thread to the result window and the corrected map it saves, and closing the window
// while the search goes on.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <cmath>

#include "app/input_data_dlg.h"
#include "app/isochronise_controller.h"
#include "app/main_frame.h"
#include "app/mode_dlg.h"
#include "app_test_support.h"
#include "calc/run/prepared_run.h"
#include "calc/run/run_quantities.h"
#include "calc/synth/synth_map.h"
#include "platform/files.h"

namespace zuba {
namespace {

using test::ModalAnswerer;
using test::WaitFor;

struct IsochroniseCommand : ::testing::Test {
  IsochroniseCommand() {
    mapPath = dir.filePath("small.sdf").toStdString();
    test::WriteSmallMap(mapPath);
    frame = test::ShownMainFrame(800, 600);
  }

  // A run of three energies (0.6 .. 1.8 MeV) through Calculate > Equilibrium Orbits...
  void RunThreeEnergies() {
    answers.Then([](QWidget* modal) {
      auto* dialog = qobject_cast<CModeDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->List()->setCurrentRow(0);
      dialog->OkButton()->click();
    });
    answers.Then([this](QWidget* modal) {
      auto* dialog = qobject_cast<CInputDataDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->pathEdit->setText(QString::fromStdString(mapPath));
      dialog->ekEndEdit->setText("1.8");
      dialog->dEkEdit->setText("0.6");
      dialog->stepEdit->setText("0.01");
      dialog->enterButton->click();
    });
    EXPECT_FALSE(frame->isochroniseAct->isEnabled());  // no results yet
    frame->equilibriumOrbitsAct->trigger();
    ASSERT_TRUE(WaitFor([&] { return frame->Document().ResultsAvailable(); }, 60000));
    ASSERT_TRUE(WaitFor([&] { return !frame->Controller().IsCalculationRunning(); }, 60000));
    frame->UpdateCommandUi();
  }

  void AnswerFieldCorrection() {
    answers.Then([](QWidget* modal) {
      auto* dialog = qobject_cast<CIsochroniseDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->fieldButton->setChecked(true);
      dialog->okButton->click();
    });
  }

  MessageCapture messages;
  QTemporaryDir dir;
  std::string mapPath;
  std::unique_ptr<CMainFrame> frame;
  ModalAnswerer answers;
};

TEST_F(IsochroniseCommand, FieldCorrectionShowsItsResultAndSavesTheCorrectedMap) {
  RunThreeEnergies();
  ASSERT_TRUE(frame->isochroniseAct->isEnabled());
  AnswerFieldCorrection();
  frame->isochroniseAct->trigger();
  EXPECT_TRUE(answers.Done());
  CIsochroniseController& search = frame->Isochronisation();
  ASSERT_TRUE(search.IsRunning());
  ASSERT_NE(search.ProgressDialog(), nullptr);
  EXPECT_FALSE(frame->isochroniseAct->isEnabled());
  EXPECT_FALSE(frame->equilibriumOrbitsAct->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return !search.IsRunning(); }, 60000));
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
  EXPECT_TRUE(frame->isochroniseAct->isEnabled());
  CIsochroniseResultDlg* result = search.ResultDialog();
  ASSERT_NE(result, nullptr);
  EXPECT_TRUE(result->isVisible());
  EXPECT_TRUE(result->saveCurrentsButton->isHidden());
  EXPECT_EQ(result->table->rowCount(), 8);  // the map's radius nodes 0.05 .. 0.4 m
  EXPECT_EQ(result->table->item(0, 0)->text(), "0.05");

  const std::string corrected = dir.filePath("corrected.sdf").toStdString();
  result->chooseMapPath = [&] { return QString::fromStdString(corrected); };
  result->saveMapButton->click();
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
  EXPECT_EQ(result->note->text().toStdString(), "Corrected map written to " + corrected);

  // The corrected map runs and is closer to isochronous than the map was.
  RunParameters run = frame->View().ViewResults().run;
  const Result<SharedRun> before = PrepareCalculation(run);
  ASSERT_TRUE(before);
  run.Path = corrected;
  const Result<SharedRun> after = PrepareCalculation(run);
  ASSERT_TRUE(after);
  const Result<std::vector<double>> errorsBefore = IsochronismOnMap(*before, 2);
  const Result<std::vector<double>> errorsAfter = IsochronismOnMap(*after, 2);
  ASSERT_TRUE(errorsBefore && errorsAfter);
  EXPECT_LT(LargestMagnitude(*errorsAfter), 0.1 * LargestMagnitude(*errorsBefore));
}

TEST_F(IsochroniseCommand, TrimCoilsSaveTheCurrentsAsACoilFileAndTheMap) {
  RunThreeEnergies();
  const std::string coilPath = dir.filePath("coils.tsv").toStdString();
  ASSERT_TRUE(WriteFileAtomically(coilPath,
                                  "r_m\tin_Gs_per_A\tout_Gs_per_A\n0.05\t1\t0\n0.1\t0.8\t0.1\n"
                                  "0.15\t0.5\t0.3\n0.2\t0.2\t0.6\n0.25\t0\t0.9\n0.3\t0\t1\n"));
  answers.Then([&](QWidget* modal) {
    auto* dialog = qobject_cast<CIsochroniseDlg*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->coilsButton->setChecked(true);
    dialog->coilEdit->setText(QString::fromStdString(coilPath));
    dialog->limitEdit->setText("500");
    dialog->okButton->click();
  });
  frame->isochroniseAct->trigger();
  ASSERT_TRUE(WaitFor([&] { return !frame->Isochronisation().IsRunning(); }, 60000));
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
  CIsochroniseResultDlg* result = frame->Isochronisation().ResultDialog();
  ASSERT_NE(result, nullptr);
  ASSERT_EQ(result->table->rowCount(), 2);
  EXPECT_FALSE(result->saveCurrentsButton->isHidden());

  const std::string currentsPath = dir.filePath("currents.tsv").toStdString();
  const std::string mapPathOut = dir.filePath("trimmed.sdf").toStdString();
  result->chooseCurrentsPath = [&] { return QString::fromStdString(currentsPath); };
  result->chooseMapPath = [&] { return QString::fromStdString(mapPathOut); };
  result->saveCurrentsButton->click();
  result->saveMapButton->click();
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
  // The currents file is a coil file again, with the currents the window shows.
  const Result<TrimCoils> saved = TrimCoils::Read(currentsPath);
  ASSERT_TRUE(saved) << saved.message().text;
  EXPECT_EQ(saved->Names(), (std::vector<std::string>{"in", "out"}));
  ASSERT_EQ(saved->Currents().size(), 2u);
  for (int c = 0; c < 2; ++c) {
    const double shown = result->table->item(c, 1)->text().toDouble();
    EXPECT_NEAR(saved->Currents()[c], shown, 1e-7 * std::fabs(shown) + 1e-12);
    EXPECT_LE(std::fabs(saved->Currents()[c]), 500);
  }
  RunParameters run = frame->View().ViewResults().run;
  run.Path = mapPathOut;
  EXPECT_TRUE(PrepareCalculation(run));
}

TEST_F(IsochroniseCommand, AMapChangedSinceTheRunIsRefused) {
  RunThreeEnergies();
  // The same mesh with one value changed: the results shown are not those of this file.
  const FileBytes bytes = ReadWholeFile(mapPath);
  ASSERT_EQ(bytes.status, ReadStatus::Ok);
  std::string text = bytes.bytes;
  const std::size_t last = text.find_last_of("0123456789");
  text[last] = text[last] == '1' ? '2' : '1';
  ASSERT_TRUE(WriteFileAtomically(mapPath, text));
  AnswerFieldCorrection();
  frame->isochroniseAct->trigger();
  EXPECT_FALSE(frame->Isochronisation().IsRunning());
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_NE(messages.texts()[0].find("has changed since the results shown were computed"),
            std::string::npos)
      << messages.texts()[0];
}

// The search closes its orbits to the tolerance of Calculate > Precise Closure Tolerance...: a
// coarse one gives another correction.
TEST_F(IsochroniseCommand, SearchTakesThePreciseClosureTolerance) {
  RunThreeEnergies();
  auto correction = [&](double tolerance) {
    frame->Controller().SetPreciseTolerance(tolerance);
    AnswerFieldCorrection();
    frame->isochroniseAct->trigger();
    EXPECT_TRUE(WaitFor([&] { return !frame->Isochronisation().IsRunning(); }, 60000));
    std::vector<std::string> cells;
    const QTableWidget* table = frame->Isochronisation().ResultDialog()->table;
    for (int row = 0; row < table->rowCount(); ++row)
      for (int column = 0; column < table->columnCount(); ++column)
        cells.push_back(table->item(row, column)->text().toStdString());
    return cells;
  };
  const std::vector<std::string> coarse = correction(1e-4), fine = correction(1e-11);
  EXPECT_EQ(coarse.size(), fine.size());
  EXPECT_NE(coarse, fine);
  EXPECT_EQ(correction(1e-4), coarse);
}

TEST_F(IsochroniseCommand, ClosingTheWindowDuringTheSearchStopsAndWaits) {
  RunThreeEnergies();
  AnswerFieldCorrection();
  frame->isochroniseAct->trigger();
  ASSERT_TRUE(frame->Isochronisation().IsRunning());
  EXPECT_TRUE(frame->close());
  EXPECT_FALSE(frame->Isochronisation().IsRunning());
  // Whatever the search had reached is dropped: no window, no box, also later.
  QTest::qWait(50);
  EXPECT_EQ(frame->Isochronisation().ResultDialog(), nullptr);
  EXPECT_EQ(frame->Isochronisation().ProgressDialog(), nullptr);
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
  frame.reset();
}

TEST_F(IsochroniseCommand, CancelEndsTheSearchQuietly) {
  RunThreeEnergies();
  AnswerFieldCorrection();
  frame->isochroniseAct->trigger();
  QProgressDialog* progress = frame->Isochronisation().ProgressDialog();
  ASSERT_NE(progress, nullptr);
  QPushButton* cancel = progress->findChild<QPushButton*>();
  ASSERT_NE(cancel, nullptr);
  cancel->click();
  ASSERT_TRUE(WaitFor([&] { return !frame->Isochronisation().IsRunning(); }, 60000));
  EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
  // Stopped before its end it says so on the status bar; a search that ended first shows its
  // result.
  if (frame->Isochronisation().ResultDialog() == nullptr) {
    EXPECT_EQ(frame->statusBar()->currentMessage(), "Isochronisation stopped.");
  }
}

}  // namespace
}  // namespace zuba
