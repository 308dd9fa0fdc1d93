// The Map Options dialog and its button in the Input Data dialog: the options go into the controls
// and back, OK refuses what no file can satisfy, and the button stands in free space.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "app/input_data_dlg.h"
#include "app/map_options_dlg.h"
#include "platform/message.h"

namespace zuba {
namespace {

TEST(MapOptionsDialog, ShowsTheOptionsAndOkKeepsThem) {
  MapReadingOptions o;
  o.format = MapFormat::Table;
  o.replicate = 8;
  o.mirror = true;
  o.reverse = true;
  o.thetaUnit = AngleUnit::Radian;
  o.bUnit = FieldUnit::Kilogauss;
  CMapOptionsDlg dialog;
  dialog.SetOptions(o);
  EXPECT_EQ(dialog.Options(), o);
  dialog.SetOptions({});
  EXPECT_EQ(dialog.Options(), MapReadingOptions{});
  EXPECT_EQ(dialog.sectorsBox->text(), "Full turn in the file");
}

TEST(MapOptionsDialog, OkRefusesMirrorWithoutTheSectorCount) {
  MessageCapture messages;
  CMapOptionsDlg dialog;
  dialog.mirrorBox->setChecked(true);
  dialog.okButton->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].owner, Owner::Dialog);
  dialog.sectorsBox->setValue(4);
  dialog.okButton->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(messages.messages().size(), 1u);
}

TEST(InputDataMapOptions, ButtonSetsTheReadingInFreeSpace) {
  CInputDataDlg dialog;
  EXPECT_EQ(dialog.mapOptionsLabel->text(), "Map: any format");
  // No other control of the dialog is under the button or its label.
  for (QWidget* added : {static_cast<QWidget*>(dialog.mapOptionsButton),
                         static_cast<QWidget*>(dialog.mapOptionsLabel)})
    for (QWidget* other : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (other == dialog.mapOptionsButton || other == dialog.mapOptionsLabel) continue;
      EXPECT_FALSE(added->geometry().intersects(other->geometry()))
          << other->metaObject()->className();
    }

  dialog.editMapOptions = [](MapReadingOptions& o) {
    o.format = MapFormat::Polar;
    o.replicate = 8;
    o.negate = true;
    return true;
  };
  dialog.mapOptionsButton->click();
  EXPECT_EQ(dialog.mapReading.replicate, 8);
  EXPECT_EQ(dialog.mapOptionsLabel->text(), "Map: polar, 1/8, -B");
  // A cancelled Map Options dialog changes nothing.
  dialog.editMapOptions = [](MapReadingOptions& o) {
    o = {};
    return false;
  };
  dialog.mapOptionsButton->click();
  EXPECT_EQ(dialog.mapOptionsLabel->text(), "Map: polar, 1/8, -B");
}

}  // namespace
}  // namespace zuba
