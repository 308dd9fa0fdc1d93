// The dialogs of Calculate > Isochronise...: the choice of the correction (the isochronous mean
// field, or the currents of trim coils from their coil table, with a current limit and the
// quantity to minimise), and the window that shows the result with the isochronism before and
// after, ΔB̄(R) or the currents, and the buttons that save the corrected map and the currents.
#pragma once

#include <QDialog>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "calc/corrections/isochronise.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace zuba {

// What the user asked for.
struct IsochroniseRequest {
  bool trimCoils = false;                                  // false: the mean-field correction
  std::string coilPath;                                    // the coil table (trim coils)
  double limit = std::numeric_limits<double>::infinity();  // A, every coil's |I|
  TrimTarget target = TrimTarget::Isochronism;
  double gainPerTurnMeV = 0.1;  // for the RF phase
};

class CIsochroniseDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CIsochroniseDlg(QWidget* parent = nullptr);

  // Shows the request (kept between openings) and runs the dialog; true after OK with a request
  // that can be carried out (a refused entry is said in a message and the dialog stays open).
  bool Ask(IsochroniseRequest& request);

  // The choosers of the coil file (tests answer them; the default shows the file dialog).
  std::function<QString()> chooseCoilFile;

  QRadioButton* fieldButton = nullptr;
  QRadioButton* coilsButton = nullptr;
  QLineEdit* coilEdit = nullptr;
  QPushButton* browseButton = nullptr;
  QLineEdit* limitEdit = nullptr;
  QComboBox* targetBox = nullptr;
  QLineEdit* gainEdit = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;

 private:
  void UpdateEnabled();
  void OnOK();
  IsochroniseRequest request_;
};

// The window of one result. The save buttons write through the given functions (the controller
// knows the run and the map); they return an empty text when written, else the reason.
class CIsochroniseResultDlg : public QDialog {
  Q_OBJECT

 public:
  CIsochroniseResultDlg(const MeanFieldCorrection& correction, QWidget* parent = nullptr);
  CIsochroniseResultDlg(const TrimFit& fit, const std::vector<std::string>& coilNames,
                        QWidget* parent = nullptr);

  std::function<QString()> chooseMapPath;       // the file for "Save Corrected Map..."
  std::function<QString()> chooseCurrentsPath;  // the file for "Save Currents..."
  std::function<std::string(const std::string& path)> saveMap;
  std::function<std::string(const std::string& path)> saveCurrents;

  QLabel* summary = nullptr;
  QTableWidget* table = nullptr;
  QLabel* note = nullptr;  // what the last saving wrote
  QPushButton* saveMapButton = nullptr;
  QPushButton* saveCurrentsButton = nullptr;

 private:
  void Build(const QString& text, const QStringList& header,
             const std::vector<std::pair<QString, QString>>& rows, bool currents);
  void Save(bool map);
};

}  // namespace zuba
