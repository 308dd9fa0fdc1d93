// The Mode and Input Data dialogs: what they show, what Enter, OK, Exit and Cancel keep, and their
// messages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/input_data_dlg.h"
#include "app/mode_dlg.h"
#include "app_test_support.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"

namespace zuba {
namespace {

using test::ModalAnswerer;

TEST(ModeDialog, OpensWithBothLabelsAndOkYieldsTheFirst) {
  CModeDlg dialog;
  ModalAnswerer answers;
  answers.Then([](QWidget* modal) {
    auto* mode = qobject_cast<CModeDlg*>(modal);
    ASSERT_NE(mode, nullptr);
    ASSERT_EQ(mode->List()->count(), 2);
    EXPECT_EQ(mode->List()->item(0)->text(), "TVK-310: p");
    EXPECT_EQ(mode->List()->item(1)->text(), "AVF: 14N5");
    EXPECT_EQ(mode->List()->currentRow(), 0);
    mode->OkButton()->click();
  });
  EXPECT_EQ(dialog.DoModal(), QDialog::Accepted);
  EXPECT_EQ(dialog.ModeText(), "TVK-310: p");
  EXPECT_EQ(dialog.windowTitle(), "Mode");
}

TEST(ModeDialog, EveryOpeningStartsAtTheFirstLabel) {
  CModeDlg dialog;
  ModalAnswerer answers;
  answers.Then([](QWidget* modal) {
    auto* mode = static_cast<CModeDlg*>(modal);
    mode->List()->setCurrentRow(1);
    mode->OkButton()->click();
  });
  answers.Then([](QWidget* modal) {
    auto* mode = static_cast<CModeDlg*>(modal);
    EXPECT_EQ(mode->List()->currentRow(), 0);
    EXPECT_TRUE(mode->List()->item(0)->isSelected());
    EXPECT_EQ(mode->List()->count(), 2);  // filled afresh, not appended to
    mode->CancelButton()->click();
  });
  EXPECT_EQ(dialog.DoModal(), QDialog::Accepted);
  EXPECT_EQ(dialog.ModeText(), "AVF: 14N5");
  // Cancel keeps the text chosen before.
  EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
  EXPECT_EQ(dialog.ModeText(), "AVF: 14N5");
  EXPECT_TRUE(answers.Done());
}

TEST(ModeDialog, DoubleClickSelectsWithoutClosing) {
  CModeDlg dialog;
  ModalAnswerer answers;
  answers.Then([](QWidget* modal) {
    auto* mode = static_cast<CModeDlg*>(modal);
    QListWidget* list = mode->List();
    const QRect second = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QApplication::processEvents();
    EXPECT_TRUE(mode->isVisible());
    EXPECT_EQ(list->currentRow(), 1);
    // Return takes the default button, OK.
    QTest::keyClick(list, Qt::Key_Return);
  });
  EXPECT_EQ(dialog.DoModal(), QDialog::Accepted);
  EXPECT_EQ(dialog.ModeText(), "AVF: 14N5");
}

TEST(ModeDialog, OkWithoutSelectionShowsTheErrorAndStaysOpen) {
  MessageCapture messages;
  CModeDlg dialog;
  ModalAnswerer answers;
  answers.Then([&](QWidget* modal) {
    auto* mode = static_cast<CModeDlg*>(modal);
    mode->List()->clearSelection();
    mode->OkButton()->click();
    EXPECT_TRUE(mode->isVisible());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0],
              (Message{"The list box selection error!", "Error", Icon::Error, Owner::Dialog}));
    mode->CancelButton()->click();
  });
  EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
  EXPECT_EQ(dialog.ModeText(), "");
}

// The dialog opened on a preset, as the command opens it.
struct InputDialogFixture : ::testing::Test {
  void Open(const char* mode) {
    ASSERT_TRUE(ApplyPreset(mode, dialog.data));
    dialog.OnInitDialog();
  }
  CInputDataDlg dialog;
  MessageCapture messages;
};

using InputDataDialog = InputDialogFixture;

TEST_F(InputDataDialog, ShowsThePresetWithFifteenSignificantDigits) {
  Open(kModeTvk310);
  EXPECT_EQ(dialog.windowTitle(), "Input Data");
  EXPECT_EQ(dialog.pathEdit->text(), "");
  EXPECT_EQ(dialog.particleNameEdit->text(), "p");
  EXPECT_EQ(dialog.ekBeginEdit->text(), "0.6");
  EXPECT_EQ(dialog.ekEndEdit->text(), "60.6");
  EXPECT_EQ(dialog.dEkEdit->text(), "0.6");
  EXPECT_EQ(dialog.frfEdit->text(), "26.26");
  EXPECT_EQ(dialog.hEdit->text(), "1");
  EXPECT_EQ(dialog.nEdit->text(), "4");
  EXPECT_TRUE(dialog.signPlus->isChecked());
  EXPECT_FALSE(dialog.signMinus->isChecked());
  EXPECT_EQ(dialog.qEdit->text(), "1");
  EXPECT_EQ(dialog.m0Edit->text(), "1.007276466812");
  EXPECT_EQ(dialog.t0Edit->text(), "0");
  EXPECT_EQ(dialog.tisEdit->text(), "6.28318530717959");
  EXPECT_EQ(dialog.stepEdit->text(), "0.0001");
  EXPECT_TRUE(dialog.t0Edit->isReadOnly());
  EXPECT_TRUE(dialog.tisEdit->isReadOnly());
  EXPECT_FALSE(dialog.stepEdit->isReadOnly());

  Open(kModeAvf14N5);
  EXPECT_EQ(dialog.particleNameEdit->text(), "14N5");
  EXPECT_EQ(dialog.m0Edit->text(), "14.000330460238");  // 15 digits of 14.000330460238006
  EXPECT_EQ(dialog.ekEndEdit->text(), "100");
  EXPECT_EQ(dialog.hEdit->text(), "2");
  EXPECT_EQ(dialog.qEdit->text(), "5");
}

TEST_F(InputDataDialog, EnterTrimsTheTextsAndTakesTheMagnitudeOfQ) {
  Open(kModeTvk310);
  dialog.pathEdit->setText("  /maps/field map.sdf \t");
  dialog.particleNameEdit->setText(" p ");
  dialog.qEdit->setText("-5");
  dialog.signMinus->setChecked(true);
  dialog.enterButton->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.data.Path, "/maps/field map.sdf");
  EXPECT_EQ(dialog.data.ParticleName, "p");
  EXPECT_EQ(dialog.data.Q, 5);
  EXPECT_EQ(dialog.data.ChargeSign, 1);
  EXPECT_EQ(dialog.qEdit->text(), "5");
  EXPECT_TRUE(messages.messages().empty());
}

TEST_F(InputDataDialog, EmptyPathOrNameStopsWithTheirMessages) {
  Open(kModeTvk310);
  dialog.pathEdit->setText("   ");
  dialog.enterButton->click();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.pathEdit->text(), "   ");  // the box keeps what was typed
  dialog.pathEdit->setText("/maps/a.sdf");
  dialog.particleNameEdit->setText(" \t ");
  dialog.enterButton->click();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  const std::vector<Message> expected{
      {"Enter the file path of the magnetic field map!", "Stop", Icon::Error, Owner::Dialog},
      {"Enter the name of particle!", "Stop", Icon::Error, Owner::Dialog}};
  EXPECT_EQ(messages.messages(), expected);
}

TEST_F(InputDataDialog, MalformedNumberKeepsTheDialogOpenWithEarlierFieldsExchanged) {
  Open(kModeTvk310);
  dialog.pathEdit->setText("/maps/a.sdf");
  dialog.ekBeginEdit->setText("1.5");
  dialog.ekEndEdit->setText("6O.6");  // letter O
  dialog.frfEdit->setText("30");
  dialog.enterButton->click();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_EQ(messages.texts()[0], "Please enter a number.");
  EXPECT_EQ(dialog.data.EkBegin, 1.5);  // before the faulty box
  EXPECT_EQ(dialog.data.EkEnd, 60.6);   // the faulty box
  EXPECT_EQ(dialog.data.Frf, 26.26);    // after it
  messages.clear();
  dialog.hEdit->setText("1.5");
  dialog.ekEndEdit->setText("60.6");
  dialog.enterButton->click();
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Please enter an integer."});
}

TEST_F(InputDataDialog, ReturnInTheNameBoxRunsEnter) {
  Open(kModeTvk310);
  ModalAnswerer answers;
  answers.Then([](QWidget* modal) {
    auto* input = static_cast<CInputDataDlg*>(modal);
    input->pathEdit->setText("/maps/a.sdf");
    input->particleNameEdit->setFocus();
    input->particleNameEdit->setText(" proton ");
    QTest::keyClick(input->particleNameEdit, Qt::Key_Return);
  });
  EXPECT_EQ(dialog.DoModal(), QDialog::Accepted);
  EXPECT_EQ(dialog.data.ParticleName, "proton");
}

TEST_F(InputDataDialog, ExitEscapeAndCloseCancel) {
  ApplyPreset(kModeTvk310, dialog.data);
  ModalAnswerer answers;
  answers.Then([](QWidget* modal) { static_cast<CInputDataDlg*>(modal)->exitButton->click(); });
  answers.Then([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
  answers.Then([](QWidget* modal) { modal->close(); });
  EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
  EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
  EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
  EXPECT_TRUE(answers.Done());
}

TEST_F(InputDataDialog, BrowseSetsThePathAndShowsTheStoredValues) {
  Open(kModeTvk310);
  dialog.chooseMapFile = [] { return QString("/maps/chosen.sdf"); };
  dialog.ekEndEdit->setText(" 5.50 ");
  dialog.browseButton->click();
  EXPECT_EQ(dialog.pathEdit->text(), "/maps/chosen.sdf");
  EXPECT_EQ(dialog.data.Path, "/maps/chosen.sdf");
  EXPECT_EQ(dialog.ekEndEdit->text(), "5.5");  // exchanged, then shown as stored

  // A cancelled chooser changes nothing.
  dialog.chooseMapFile = [] { return QString(); };
  dialog.pathEdit->setText("/maps/typed.sdf");
  dialog.browseButton->click();
  EXPECT_EQ(dialog.pathEdit->text(), "/maps/typed.sdf");
}

}  // namespace
}  // namespace zuba
