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
  double gainPerTurnMeV = 0.1;       // for the RF phase
  std::vector<EnergyRange> exclude;  // MeV, energies left out of the fit
  std::vector<EnergyWeight> weights;
};

// The residuals of a correction per energy, before (blue) and after (red), as points joined by
// lines against the energy, with the zero line and the extremes written at the axes.
class CResidualsGraph : public QWidget {
  Q_OBJECT

 public:
  CResidualsGraph(std::vector<double> energiesMeV, const CorrectionOutcome& outcome,
                  QWidget* parent = nullptr);
  // The largest |residual| drawn (kNoValue and excluded energies left out).
  double Scale() const { return scale_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<double> energies_, before_, after_;
  double scale_ = 0;
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
  QLineEdit* excludeEdit = nullptr;  // "MIN:MAX, ..." (MeV)
  QLineEdit* weightEdit = nullptr;   // "MIN:MAX=W, ..."
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
  // energiesMeV: the run's energies (the residuals graph); warningLines: what the result did not
  // reach (CorrectionWarnings, TrimFitWarnings).
  CIsochroniseResultDlg(const MeanFieldCorrection& correction, QWidget* parent = nullptr,
                        const std::vector<double>& energiesMeV = {},
                        const std::vector<std::string>& warningLines = {});
  CIsochroniseResultDlg(const TrimFit& fit, const std::vector<std::string>& coilNames,
                        QWidget* parent = nullptr, const std::vector<double>& energiesMeV = {},
                        const std::vector<std::string>& warningLines = {});

  std::function<QString()> chooseMapPath;       // the file for "Save Corrected Map..."
  std::function<QString()> chooseCurrentsPath;  // the file for "Save Currents..."
  // Write the file; a failure says why (shown in a box owned by this window).
  std::function<Outcome(const std::string& path)> saveMap;
  std::function<Outcome(const std::string& path)> saveCurrents;

  QLabel* summary = nullptr;
  QLabel* warnings = nullptr;            // one line per warning; hidden when none
  CResidualsGraph* residuals = nullptr;  // null without energies
  QTableWidget* table = nullptr;
  QLabel* note = nullptr;  // what the last saving wrote
  QPushButton* saveMapButton = nullptr;
  QPushButton* saveCurrentsButton = nullptr;

 private:
  void Build(const QString& text, const QStringList& header,
             const std::vector<std::pair<QString, QString>>& rows, bool currents,
             const CorrectionOutcome& outcome, const std::vector<double>& energiesMeV,
             const std::vector<std::string>& warningLines);
  void Save(bool map);
};

}  // namespace zuba
