// CInputDataDlg: the Input Data dialog of the calculation command. It shows the run parameters
// after the preset of the chosen mode has been written into them, lets the user edit them and
// choose the field map file, and closes with Enter (go) or Exit (cancel).
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/diagnostics.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace zuba {

class DialogUnits;

class CInputDataDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CInputDataDlg(QWidget* parent = nullptr);

  // The fourteen fields; they live as long as the dialog object.
  RunParameters data;
  // How the map file is read (format, sector symmetry, sign, direction); set by Map Options...
  MapReadingOptions mapReading;
  // The energy gain per turn (MeV) that the RF phase slip assumes; above 0.
  double gainPerTurn = kDefaultGainPerTurnMeV;
  // The closure of the run the dialog starts and the precise closure's tolerance (the Calculate
  // menu's): Save as Machine File... writes them.
  ClosureMode closure = ClosureMode::Standard;
  double tolerance = kDefaultPreciseTolerance;

  // Moves the fields into the controls and runs the dialog modally: Accepted after Enter,
  // Rejected after Exit, Escape or the close box.
  int DoModal();
  void OnInitDialog();

  // Data exchange in the tabled order. With saveAndValidate the controls go into the fields; a
  // number that cannot be read shows a message, puts the focus on its box and returns false (the
  // fields exchanged before it hold their new values). Without, the fields go into the controls:
  // texts as they are, reals with 15 significant digits, integers in decimal, the charge sign as
  // the checked radio button.
  bool UpdateData(bool saveAndValidate);

  // The file chooser of "...": a full path, or empty when cancelled. Replaceable (tests).
  std::function<QString()> chooseMapFile;
  // The Map Options dialog run on the options: true after OK with the options changed.
  // Replaceable (tests).
  std::function<bool(MapReadingOptions&)> editMapOptions;
  // The file chooser of "Save as Machine File...": a full path, or empty when cancelled.
  // Replaceable (tests).
  std::function<QString()> chooseMachineFile;

  // The controls, for tests.
  QLineEdit* pathEdit = nullptr;
  QPushButton* browseButton = nullptr;
  QLineEdit* particleNameEdit = nullptr;
  QLineEdit* ekBeginEdit = nullptr;
  QLineEdit* ekEndEdit = nullptr;
  QLineEdit* dEkEdit = nullptr;
  QLineEdit* frfEdit = nullptr;
  QLineEdit* hEdit = nullptr;  // H = Frf/F0
  QLineEdit* nEdit = nullptr;  // number of sectors
  QRadioButton* signPlus = nullptr;
  QRadioButton* signMinus = nullptr;
  QLineEdit* qEdit = nullptr;
  QLineEdit* m0Edit = nullptr;
  QLineEdit* t0Edit = nullptr;
  QLineEdit* tisEdit = nullptr;
  QLineEdit* stepEdit = nullptr;  // h, the integration step
  QLineEdit* gainEdit = nullptr;  // the gain per turn (MeV)
  QPushButton* enterButton = nullptr;
  QPushButton* exitButton = nullptr;
  QPushButton* mapOptionsButton = nullptr;   // "Map Options..."
  QLabel* mapOptionsLabel = nullptr;         // what the options say, in a few words
  QPushButton* saveMachineButton = nullptr;  // "Save as Machine File..."

  // The real as the dialog shows it: 15 significant digits.
  static QString FormatReal(double value);

 private:
  // The controls, created in the tab order: those of the fields in the order of the table of run
  // fields, then Enter, Exit, the gain per turn, the map options and Save as Machine File.
  void CreateFieldControls(const DialogUnits& du);
  void CreateButtonsAndExtras(const DialogUnits& du);
  // The standard dialogs behind the replaceable choosers.
  void SetDefaultChoosers();
  // The gain per turn of its box; nothing (after a message, with the focus on the box) when it is
  // not a number above 0.
  std::optional<double> ReadGainPerTurn();
  void OnBrowse();
  void OnEnter();
  void OnMapOptions();
  // Writes the fields as the boxes show them, the map and how it is read, the closure and (of the
  // precise closure) the tolerance into a machine file; the dialog's fields stay as they were.
  void OnSaveMachine();
  void ShowMapOptions();

  QButtonGroup* signGroup_ = nullptr;
};

}  // namespace zuba
