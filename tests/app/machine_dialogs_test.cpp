// Machine files in the desktop program: the Mode dialog lists a folder's machine files after the
// presets and opens others, the Input Data dialog saves its fields as one, and the calculation
// command starts from the machine chosen (fields, map, closure), refusing a file that no longer
// reads with a message box.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>

#include "app/input_data_dlg.h"
#include "app/main_frame.h"
#include "app/mode_dlg.h"
#include "app_test_support.h"
#include "calc/run/machine_file.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"

namespace zuba {
namespace {

using test::ModalAnswerer;

struct MachineDialogs : ::testing::Test {
  MachineDialogs() {
    folder = dir.path().toStdString();
    std::ofstream(folder + "/ring.sdf") << "Gs\n";
    std::ofstream(folder + "/ring.json") << R"({"name": "Ring", "fields": {"ParticleName": "p",
      "m0": 1.007276466812, "Q": 1, "Frf": 50.65, "H": 6, "N": 8, "EkBegin": 72, "EkEnd": 590,
      "dEk": 2}, "closure": "precise", "tolerance": 1e-9, "map": {"path": "ring.sdf", "replicate": 8}})";
  }
  QTemporaryDir dir;
  std::string folder;
  MessageCapture messages;
};

TEST_F(MachineDialogs, ModeDialogListsAndOpensMachineFiles) {
  CModeDlg dialog;
  dialog.machineFolder = folder;
  const std::string other = folder + "/other/orbit.json", broken = folder + "/broken.txt";
  std::filesystem::create_directories(folder + "/other");
  std::ofstream(other) << R"({"name": "Another", "fields": {"ParticleName": "d", "m0": 2,
    "Q": 1, "Frf": 20, "H": 2, "N": 4, "EkBegin": 1, "EkEnd": 9, "dEk": 1}})";
  std::ofstream(broken) << R"({"fields": {"Frq": 1}})";
  std::vector<QString> chosen{QString::fromStdString(broken), QString::fromStdString(other)};
  dialog.chooseMachineFile = [&] {
    const QString next = chosen.front();
    chosen.erase(chosen.begin());
    return next;
  };
  ModalAnswerer answers;
  answers.Then([&](QWidget*) {
    ASSERT_EQ(dialog.List()->count(), 3);
    EXPECT_EQ(dialog.List()->item(2)->text(), "Ring");
    EXPECT_EQ(dialog.List()->currentRow(), 0);
    dialog.OpenMachineButton()->click();  // refused: one box, nothing added
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text,
              broken +
                  ": unknown field \"fields.Frq\"; the fields are ParticleName EkBegin EkEnd "
                  "dEk Frf H N ChargeSign Q m0 h");
    EXPECT_EQ(dialog.List()->count(), 3);
    dialog.OpenMachineButton()->click();  // added and selected
    ASSERT_EQ(dialog.List()->count(), 4);
    EXPECT_EQ(dialog.List()->currentRow(), 3);
    dialog.OkButton()->click();
  });
  answers.Then([&](QWidget*) {
    EXPECT_EQ(dialog.List()->count(), 4);  // the opened file stays listed
    dialog.List()->setCurrentRow(0);
    dialog.OkButton()->click();
  });
  ASSERT_EQ(dialog.DoModal(), QDialog::Accepted);
  EXPECT_EQ(dialog.ModeText(), "Another");
  EXPECT_EQ(dialog.MachineFile(), other);
  ASSERT_EQ(dialog.DoModal(), QDialog::Accepted);
  EXPECT_EQ(dialog.ModeText(), kModeTvk310);
  EXPECT_EQ(dialog.MachineFile(), "");
}

TEST_F(MachineDialogs, InputDataDialogSavesItsFieldsAsAMachineFile) {
  CInputDataDlg dialog;
  ASSERT_TRUE(ApplyPreset(kModeTvk310, dialog.data));
  dialog.mapReading.replicate = 4;
  dialog.OnInitDialog();
  dialog.pathEdit->setText(QString::fromStdString(folder + "/ring.sdf"));
  dialog.frfEdit->setText("50.65");
  std::string target = folder + "/saved";
  dialog.chooseMachineFile = [&] { return QString::fromStdString(target); };
  dialog.saveMachineButton->click();
  EXPECT_TRUE(messages.messages().empty());
  EXPECT_EQ(dialog.data.Frf, 26.26);  // the dialog's fields stay as they were
  const Result<Machine> saved = ReadMachineFile(folder + "/saved.json");
  ASSERT_TRUE(saved) << saved.message().text;
  EXPECT_EQ(saved->name, "saved");
  EXPECT_EQ(saved->run.Frf, 50.65);
  EXPECT_EQ(saved->run.ParticleName, "p");
  EXPECT_EQ(saved->mapPath, "ring.sdf");
  EXPECT_EQ(saved->mapReading.replicate, 4);

  // A map that names no file: refused, nothing written.
  dialog.pathEdit->setText(QString::fromStdString(folder + "/none.sdf"));
  target = folder + "/second.json";
  dialog.saveMachineButton->click();
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].text, target + ": the field map " + folder +
                                             "/none.sdf names no file; the machine file is not "
                                             "written");
  EXPECT_FALSE(std::filesystem::exists(target));
}

// Save as Machine File... writes the closure of the Calculate menu and, for the precise closure,
// its tolerance, as --machine reads them.
TEST_F(MachineDialogs, SavedMachineFileHasTheMenusClosureAndTolerance) {
  auto frame = test::ShownMainFrame(800, 600);
  frame->Controller().SetPreciseTolerance(3e-8);
  for (const bool precise : {true, false}) {
    if (frame->preciseClosureAct->isChecked() != precise) frame->preciseClosureAct->trigger();
    ASSERT_EQ(frame->Controller().GetClosureMode() == ClosureMode::Precise, precise);
    const std::string target = folder + (precise ? "/precise.json" : "/standard.json");
    ModalAnswerer answers;
    answers.Then([](QWidget* modal) {
      static_cast<CModeDlg*>(modal)->OkButton()->click();  // the first preset
    });
    answers.Then([&](QWidget* modal) {
      auto* input = static_cast<CInputDataDlg*>(modal);
      input->chooseMachineFile = [&] { return QString::fromStdString(target); };
      input->saveMachineButton->click();
      input->exitButton->click();
    });
    frame->equilibriumOrbitsAct->trigger();
    EXPECT_TRUE(answers.Done());
    const Result<Machine> saved = ReadMachineFile(target);
    ASSERT_TRUE(saved) << saved.message().text;
    EXPECT_EQ(saved->closure, precise ? ClosureMode::Precise : ClosureMode::Standard);
    EXPECT_EQ(saved->tolerance, precise ? std::optional<double>(3e-8) : std::nullopt);
  }
}

TEST_F(MachineDialogs, TheCalculationCommandStartsFromTheMachine) {
  auto frame = test::ShownMainFrame(800, 600);
  frame->ModeDialog().machineFolder = folder;
  frame->preciseClosureAct->setChecked(false);
  frame->preciseClosureAct->trigger();
  frame->preciseClosureAct->trigger();  // off, as a user leaves it
  ASSERT_FALSE(frame->preciseClosureAct->isChecked());
  ModalAnswerer answers;
  std::string shownPath, shownFrf;
  answers.Then([](QWidget* modal) {
    auto* mode = static_cast<CModeDlg*>(modal);
    mode->List()->setCurrentRow(2);
    mode->OkButton()->click();
  });
  answers.Then([&](QWidget* modal) {
    auto* input = static_cast<CInputDataDlg*>(modal);
    shownPath = input->pathEdit->text().toStdString();
    shownFrf = input->frfEdit->text().toStdString();
    input->exitButton->click();
  });
  frame->equilibriumOrbitsAct->trigger();
  EXPECT_TRUE(answers.Done());
  EXPECT_EQ(shownPath, folder + "/ring.sdf");
  EXPECT_EQ(shownFrf, "50.65");
  EXPECT_EQ(frame->Controller().MapReading().replicate, 8);
  EXPECT_TRUE(frame->preciseClosureAct->isChecked());
  EXPECT_EQ(frame->Controller().GetClosureMode(), ClosureMode::Precise);
  EXPECT_EQ(frame->Controller().PreciseTolerance(), 1e-9);

  // Changed on disk after the dialog listed it: refused with a box, no Input Data dialog.
  answers.Then([&](QWidget* modal) {
    std::ofstream(folder + "/ring.json") << "{";
    auto* mode = static_cast<CModeDlg*>(modal);
    mode->List()->setCurrentRow(2);
    mode->OkButton()->click();
  });
  frame->equilibriumOrbitsAct->trigger();
  EXPECT_TRUE(answers.Done());
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].text.rfind(folder + "/ring.json: not a JSON machine file", 0),
            0u);
}

}  // namespace
}  // namespace zuba
