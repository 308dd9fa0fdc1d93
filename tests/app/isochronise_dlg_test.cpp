// The dialogs of Calculate > Isochronise...: the request's refusals and what OK keeps, and the
// result window's saving through its functions.
#include "app/isochronise_dlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <cmath>
#include <limits>

#include "app_test_support.h"
#include "numerics/average_field.h"
#include "platform/message.h"

namespace zuba {
namespace {

using test::ModalAnswerer;

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(IsochroniseDialog, RefusesWhatTheSearchCannotUseAndKeepsWhatItCan) {
  const struct {
    bool coils;
    const char* path;
    const char* limit;
    const char* gain;
    const char* refusal;  // null: accepted
    double limitA;
  } cases[] = {
      {false, "", "x", "0", nullptr, kInf},  // the field correction reads none of them
      {true, "", "", "0.1", "Enter the file of the trim coils' fields!", 0},
      {true, " c.tsv ", "0", "0.1", "The current limit must be a number of amperes above 0", 0},
      {true, "c.tsv", "-5", "0.1", "The current limit must be a number of amperes above 0", 0},
      {true, "c.tsv", "5 A", "0.1", "The current limit must be a number of amperes above 0", 0},
      {true, "c.tsv", "120", "0", "The energy gain per turn must be a number of MeV above 0", 0},
      {true, " c.tsv ", " 120 ", "0.25", nullptr, 120},
      {true, "c.tsv", "", "0.25", nullptr, kInf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + "|" + c.limit + "|" + c.gain);
    MessageCapture messages;
    CIsochroniseDlg dialog;
    ModalAnswerer answers;
    answers.Then([&](QWidget* modal) {
      ASSERT_EQ(modal, &dialog);
      (c.coils ? dialog.coilsButton : dialog.fieldButton)->setChecked(true);
      EXPECT_EQ(dialog.limitEdit->isEnabled(), c.coils);
      dialog.coilEdit->setText(c.path);
      dialog.limitEdit->setText(c.limit);
      dialog.gainEdit->setText(c.gain);
      dialog.targetBox->setCurrentIndex(1);
      dialog.okButton->click();
      // A refusal leaves the dialog open.
      EXPECT_EQ(dialog.isVisible(), c.refusal != nullptr);
      if (dialog.isVisible()) dialog.cancelButton->click();
    });
    IsochroniseRequest request;
    request.coilPath = "kept.tsv";
    const bool accepted = dialog.Ask(request);
    EXPECT_TRUE(answers.Done());
    EXPECT_EQ(accepted, c.refusal == nullptr);
    if (c.refusal) {
      ASSERT_EQ(messages.texts().size(), 1u);
      EXPECT_EQ(messages.texts()[0].rfind(c.refusal, 0), 0u) << messages.texts()[0];
      EXPECT_EQ(request.coilPath, "kept.tsv");
      continue;
    }
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(request.trimCoils, c.coils);
    EXPECT_EQ(request.coilPath, c.coils ? "c.tsv" : "kept.tsv");
    EXPECT_EQ(request.limit, c.limitA);
    if (c.coils) {
      EXPECT_EQ(request.target, TrimTarget::Phase);
      EXPECT_EQ(request.gainPerTurnMeV, 0.25);
    }
  }
}

TEST(IsochroniseResultWindow, SavesThroughItsFunctionsAndSaysWhatItWrote) {
  TrimFit fit;
  fit.currents = {12.5, -3};
  fit.isochronismBefore = 2.5e-3;
  fit.isochronismAfter = 4e-5;
  fit.atLimit = {1};
  const struct {
    bool map;
    const char* chosen;  // empty: the file dialog was cancelled
    std::string error;   // what the saving returns
    const char* note;
  } cases[] = {
      {true, "/tmp/x/corrected.sdf", "", "Corrected map written to /tmp/x/corrected.sdf"},
      {false, "/tmp/x/currents.tsv", "", "Currents written to /tmp/x/currents.tsv"},
      {false, "/tmp/x/currents.tsv", "Unable to save the currents: disk full", ""},
      {true, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chosen);
    MessageCapture messages;
    CIsochroniseResultDlg dialog(fit, {"inner", "outer"});
    EXPECT_NE(dialog.summary->text().indexOf("0.0025 before"), -1)
        << dialog.summary->text().toStdString();
    EXPECT_NE(dialog.summary->text().indexOf("at their limit: outer"), -1);
    ASSERT_EQ(dialog.table->rowCount(), 2);
    EXPECT_EQ(dialog.table->item(1, 0)->text(), "outer");
    EXPECT_EQ(dialog.table->item(1, 1)->text(), "-3");
    std::vector<std::string> mapSaves, currentSaves;
    dialog.chooseMapPath = [&] { return QString(c.chosen); };
    dialog.chooseCurrentsPath = [&] { return QString(c.chosen); };
    auto outcome = [&c]() -> Outcome {
      if (c.error.empty()) return {};
      return ErrorFailure(c.error);
    };
    dialog.saveMap = [&](const std::string& path) {
      mapSaves.push_back(path);
      return outcome();
    };
    dialog.saveCurrents = [&](const std::string& path) {
      currentSaves.push_back(path);
      return outcome();
    };
    (c.map ? dialog.saveMapButton : dialog.saveCurrentsButton)->click();
    const std::vector<std::string> expected =
        *c.chosen ? std::vector<std::string>{c.chosen} : std::vector<std::string>{};
    EXPECT_EQ(mapSaves, c.map ? expected : std::vector<std::string>{});
    EXPECT_EQ(currentSaves, c.map ? std::vector<std::string>{} : expected);
    EXPECT_EQ(dialog.note->text().toStdString(), c.note);
    EXPECT_EQ(messages.texts(),
              c.error.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.error});
  }
}

TEST(IsochroniseDialog, ReadsTheEnergiesToLeaveOutAndTheirWeights) {
  const struct {
    const char* exclude;
    const char* weights;
    const char* refusal;  // null: accepted
  } cases[] = {
      {" 5:10, 58:61 ", "30:60=2", nullptr},
      {"", "", nullptr},
      {"5-10", "", "The energies to leave out must be ranges MIN:MAX"},
      {"10:5", "", "The energies to leave out must be ranges MIN:MAX"},
      {"", "30:60", "The weights must be MIN:MAX=W"},
      {"", "30:60=0", "The weights must be MIN:MAX=W"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.exclude) + "|" + c.weights);
    MessageCapture messages;
    CIsochroniseDlg dialog;
    ModalAnswerer answers;
    answers.Then([&](QWidget*) {
      dialog.coilsButton->setChecked(true);
      EXPECT_TRUE(dialog.excludeEdit->isEnabled());
      dialog.coilEdit->setText("c.tsv");
      dialog.excludeEdit->setText(c.exclude);
      dialog.weightEdit->setText(c.weights);
      dialog.okButton->click();
      if (dialog.isVisible()) dialog.cancelButton->click();
    });
    IsochroniseRequest request;
    EXPECT_EQ(dialog.Ask(request), c.refusal == nullptr);
    if (c.refusal) {
      ASSERT_EQ(messages.texts().size(), 1u);
      EXPECT_EQ(messages.texts()[0].rfind(c.refusal, 0), 0u) << messages.texts()[0];
    } else if (*c.exclude) {
      ASSERT_EQ(request.exclude.size(), 2u);
      EXPECT_EQ(request.exclude[1].low, 58);
      EXPECT_EQ(request.exclude[1].high, 61);
      ASSERT_EQ(request.weights.size(), 1u);
      EXPECT_EQ(request.weights[0].weight, 2);
      EXPECT_EQ(request.weights[0].range.high, 60);
    }
  }
}

TEST(IsochroniseResultWindow, ShowsTheWarningsAndTheResidualsBeforeAndAfter) {
  MeanFieldCorrection c;
  c.errorBefore = {3e-4, kNoValue, -2e-4};
  c.errorAfter = {1e-6, kNoValue, 5e-4};
  c.excluded = {false, true, false};
  const std::vector<std::string> lines = {"Warning: the RF phase slip grew from 1 to 2 deg"};
  CIsochroniseResultDlg dialog(c, nullptr, {10, 20, 30}, lines);
  EXPECT_FALSE(dialog.warnings->isHidden());
  EXPECT_EQ(dialog.warnings->text().toStdString(), lines[0]);
  ASSERT_NE(dialog.residuals, nullptr);
  EXPECT_EQ(dialog.residuals->Scale(), 5e-4);  // the largest after as well as before
  EXPECT_FALSE(dialog.residuals->grab().isNull());
  CIsochroniseResultDlg plain(c);
  EXPECT_TRUE(plain.warnings->isHidden());
  EXPECT_EQ(plain.residuals, nullptr);
}

}  // namespace
}  // namespace zuba
