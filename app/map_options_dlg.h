// CMapOptionsDlg: the Map Options dialog of the Input Data dialog. It sets how the field map file
// is read: its format (or by its content), the symmetry that completes a sector map to the full
// turn, the sign and the direction of the azimuth, and the units of a table without a header.
#pragma once

#include <QDialog>

#include "results/map_reading.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

namespace zuba {

class CMapOptionsDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CMapOptionsDlg(QWidget* parent = nullptr);

  // The options into the controls, and back; OK keeps the dialog open (with a message) while the
  // controls name options no file can satisfy (--mirror without a sector count).
  void SetOptions(const MapReadingOptions& options);
  MapReadingOptions Options() const;

  // The controls, for tests.
  QComboBox* formatBox = nullptr;
  QSpinBox* sectorsBox = nullptr;  // 0: the file covers the full turn
  QCheckBox* mirrorBox = nullptr;
  QCheckBox* negateBox = nullptr;
  QCheckBox* reverseBox = nullptr;
  QComboBox* rUnitBox = nullptr;
  QComboBox* thetaUnitBox = nullptr;
  QComboBox* bUnitBox = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;

  // A few words for the button of the Input Data dialog ("any format", "polar, 1/8, -B").
  static QString Summary(const MapReadingOptions& options);

 private:
  void OnOK();
};

}  // namespace zuba
