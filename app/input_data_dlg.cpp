// The Input Data dialog (see input_data_dlg.h), laid out in dialog units: 410 x 258.
#include "app/input_data_dlg.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

#include "app/dialog_units.h"
#include "app/map_options_dlg.h"
#include "calc/run/machine_file.h"
#include "platform/files.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "results/run_completion.h"
#include "results/run_fields.h"
#include "results/text.h"

namespace zuba {
namespace {

// Where the controls of each run field stand, in dialog units, in the order of the table of run
// fields: the label (left, top, width, height; wrapped when two lines high) and the box (left,
// top; 78 x 14). The path's box stands in its group and the charge sign is a pair of radio
// buttons: both are placed by the constructor itself, their rows here only keep the order.
struct FieldPlace {
  QLineEdit* CInputDataDlg::*box;
  int labelLeft, labelTop, labelWidth, labelHeight;
  int boxLeft, boxTop;
};

using D = CInputDataDlg;
constexpr FieldPlace kPlaces[] = {
    {&D::pathEdit, 0, 0, 0, 0, 0, 0},
    {&D::particleNameEdit, 25, 51, 83, 8, 112, 48},
    {&D::ekBeginEdit, 25, 73, 83, 8, 112, 70},
    {&D::ekEndEdit, 25, 95, 83, 8, 112, 92},
    {&D::dEkEdit, 25, 117, 83, 8, 112, 114},
    {&D::frfEdit, 25, 139, 83, 8, 112, 136},
    {&D::hEdit, 25, 161, 83, 8, 112, 158},
    {&D::nEdit, 25, 183, 83, 8, 112, 180},
    {nullptr, 0, 0, 0, 0, 0, 0},
    {&D::qEdit, 227, 69, 83, 17, 314, 70},
    {&D::m0Edit, 227, 91, 62, 17, 314, 92},
    {&D::t0Edit, 227, 136, 83, 8, 314, 136},
    {&D::tisEdit, 227, 158, 83, 8, 314, 158},
    {&D::stepEdit, 227, 180, 83, 8, 314, 180},
};
static_assert(std::size(kPlaces) == kRunFieldCount);

bool IsChargeSign(const RunField& field) {
  return field.member.integer == &RunParameters::ChargeSign;
}

bool IsPath(const RunField& field) {
  return field.member.text == &RunParameters::Path;
}

// A label of the dialog at (l, t, w, h) dialog units; wrapped when it has two lines.
QLabel* AddLabel(QWidget* dialog, const DialogUnits& du, const char* text, int l, int t, int w,
                 int h, bool wrap = false) {
  auto* widget = new QLabel(QString::fromUtf8(text), dialog);
  widget->setGeometry(du.Rect(l, t, w, h));
  widget->setWordWrap(wrap);
  return widget;
}

// An edit box of the dialog at (l, t, w, h) dialog units.
QLineEdit* AddEdit(QWidget* dialog, const DialogUnits& du, int l, int t, int w, int h) {
  auto* widget = new QLineEdit(dialog);
  widget->setGeometry(du.Rect(l, t, w, h));
  return widget;
}

}  // namespace

QString CInputDataDlg::FormatReal(double value) {
  return QString::number(value, 'g', 15);
}

CInputDataDlg::CInputDataDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Input Data"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  const DialogUnits du(font());
  setFixedSize(du.Size(410, 258));
  CreateFieldControls(du);
  CreateButtonsAndExtras(du);
  SetDefaultChoosers();

  connect(browseButton, &QPushButton::clicked, this, &CInputDataDlg::OnBrowse);
  connect(enterButton, &QPushButton::clicked, this, &CInputDataDlg::OnEnter);
  connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(mapOptionsButton, &QPushButton::clicked, this, &CInputDataDlg::OnMapOptions);
  connect(saveMachineButton, &QPushButton::clicked, this, &CInputDataDlg::OnSaveMachine);
  ShowMapOptions();
}

void CInputDataDlg::CreateFieldControls(const DialogUnits& du) {
  // Creation order is the tab order, as the controls are tabled.
  for (size_t i = 0; i < kRunFieldCount; ++i) {
    const RunField& field = kRunFields[i];
    const FieldPlace& at = kPlaces[i];
    if (IsPath(field)) {
      auto* group = new QGroupBox(QString::fromUtf8(field.dialogLabel), this);
      group->setGeometry(du.Rect(15, 6, 380, 32));
      pathEdit = AddEdit(this, du, 25, 17, 301, 14);
      browseButton = new QPushButton(QStringLiteral("..."), this);
      browseButton->setGeometry(du.Rect(337, 17, 50, 14));
    } else if (IsChargeSign(field)) {
      signPlus = new QRadioButton(QStringLiteral("Sign <<+>>"), this);
      signPlus->setGeometry(du.Rect(227, 50, 58, 10));
      signMinus = new QRadioButton(QStringLiteral("Sign <<->>"), this);
      signMinus->setGeometry(du.Rect(290, 50, 56, 10));
      signGroup_ = new QButtonGroup(this);
      signGroup_->addButton(signPlus, 0);
      signGroup_->addButton(signMinus, 1);
    } else {
      AddLabel(this, du, field.dialogLabel, at.labelLeft, at.labelTop, at.labelWidth,
               at.labelHeight, at.labelHeight > 8);
      this->*at.box = AddEdit(this, du, at.boxLeft, at.boxTop, 78, 14);
      if (!field.editable()) (this->*at.box)->setReadOnly(true);
    }
  }
}

void CInputDataDlg::CreateButtonsAndExtras(const DialogUnits& du) {
  enterButton = new QPushButton(QStringLiteral("Enter"), this);
  enterButton->setGeometry(du.Rect(206, 205, 78, 22));
  enterButton->setDefault(true);
  exitButton = new QPushButton(QStringLiteral("Exit"), this);
  exitButton->setGeometry(du.Rect(314, 205, 78, 22));
  exitButton->setAutoDefault(false);
  browseButton->setAutoDefault(false);
  // The gain per turn of the phase slip, in the free row of the left column (after the tabled
  // controls in the tab order).
  AddLabel(this, du, "Gain per turn (MeV)", 25, 208, 83, 8);
  gainEdit = AddEdit(this, du, 112, 205, 78, 14);
  // How the map is read, in the free rows of the right column (after the tabled controls in the
  // tab order).
  mapOptionsLabel = new QLabel(this);
  mapOptionsLabel->setGeometry(du.Rect(227, 117, 83, 8));
  mapOptionsButton = new QPushButton(QStringLiteral("Map Options..."), this);
  mapOptionsButton->setGeometry(du.Rect(314, 114, 78, 14));
  mapOptionsButton->setAutoDefault(false);
  saveMachineButton = new QPushButton(QStringLiteral("Save as Machine File..."), this);
  saveMachineButton->setGeometry(du.Rect(25, 229, 100, 14));
  saveMachineButton->setAutoDefault(false);
}

void CInputDataDlg::SetDefaultChoosers() {
  chooseMapFile = [] {
    return QFileDialog::getOpenFileName(
        nullptr, QStringLiteral("Open file name for opening sdf file"), QString(),
        QStringLiteral("Magnetic Field Map Files: (*.sdf);;"
                       "Polar Field Maps, kG (*.txt *.dat *.map *.table);;"
                       "Measured Record Maps, kG (*.txt *.dat *.rec);;"
                       "Field Tables: R, theta, Bz (*.csv *.tsv *.txt *.dat);;"
                       "All Files (*)"));
  };
  editMapOptions = [this](MapReadingOptions& options) {
    CMapOptionsDlg dialog(this);
    dialog.SetOptions(options);
    if (dialog.exec() != QDialog::Accepted) return false;
    options = dialog.Options();
    return true;
  };
  chooseMachineFile = [this] {
    const std::string folder = UserMachineFolder();
    std::error_code error;
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save as Machine File"),
                                        QString::fromStdString(folder),
                                        QStringLiteral("Machine Files (*.json)"));
  };
}

void CInputDataDlg::ShowMapOptions() {
  mapOptionsLabel->setText(QStringLiteral("Map: ") + CMapOptionsDlg::Summary(mapReading));
  mapOptionsLabel->setToolTip(QString::fromStdString(DescribeMapReading(mapReading)));
}

void CInputDataDlg::OnMapOptions() {
  if (editMapOptions && editMapOptions(mapReading)) ShowMapOptions();
}

void CInputDataDlg::OnInitDialog() {
  UpdateData(false);
  gainEdit->setText(FormatReal(gainPerTurn));
  ShowMapOptions();
  pathEdit->setFocus();
}

int CInputDataDlg::DoModal() {
  OnInitDialog();
  return exec();
}

bool CInputDataDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    for (size_t i = 0; i < kRunFieldCount; ++i) {
      if (IsChargeSign(kRunFields[i])) {
        signGroup_->setExclusive(false);
        signPlus->setChecked(data.ChargeSign == 0);
        signMinus->setChecked(data.ChargeSign == 1);
        signGroup_->setExclusive(true);
        continue;
      }
      QLineEdit* box = this->*kPlaces[i].box;
      VisitRunField(kRunFields[i], data, [box]<class T>(const T& value) {
        if constexpr (std::is_same_v<T, std::string>)
          box->setText(QString::fromStdString(value));
        else if constexpr (std::is_same_v<T, double>)
          box->setText(FormatReal(value));
        else
          box->setText(QString::number(value));
      });
    }
    return true;
  }

  auto refuse = [](QLineEdit* box, const char* text) {
    ShowMessage(text, "Error", Icon::Error, Owner::Dialog);
    box->setFocus();
    box->selectAll();
    return false;
  };
  // One box into its field; false when its number cannot be read (the field keeps its value).
  auto exchange = [&refuse]<class T>(QLineEdit* box, T& field) {
    if constexpr (std::is_same_v<T, std::string>) {
      field = box->text().toStdString();
      return true;
    } else if constexpr (std::is_same_v<T, double>) {
      const std::optional<double> value = ParseNumber(box->text().trimmed().toStdString());
      if (!value) return refuse(box, "Please enter a number.");
      field = *value;
      return true;
    } else {
      const std::optional<int64_t> value = ParseWholeNumber(box->text().trimmed().toStdString());
      if (!value || *value < std::numeric_limits<int>::min() ||
          *value > std::numeric_limits<int>::max())
        return refuse(box, "Please enter an integer.");
      field = static_cast<int>(*value);
      return true;
    }
  };
  for (size_t i = 0; i < kRunFieldCount; ++i) {
    if (IsChargeSign(kRunFields[i])) {
      data.ChargeSign = signGroup_->checkedId();
      continue;
    }
    QLineEdit* box = this->*kPlaces[i].box;
    if (!VisitRunField(kRunFields[i], data, [&](auto& field) { return exchange(box, field); }))
      return false;
  }
  return true;
}

void CInputDataDlg::OnBrowse() {
  UpdateData(true);
  const QString path = chooseMapFile ? chooseMapFile() : QString();
  if (path.isEmpty()) return;
  data.Path = path.toStdString();
  UpdateData(false);
}

std::optional<double> CInputDataDlg::ReadGainPerTurn() {
  const std::optional<double> gain = ParseNumber(gainEdit->text().trimmed().toStdString());
  if (gain && *gain > 0) return gain;
  ShowMessage(gain ? "The gain per turn must be above 0 MeV." : "Please enter a number.", "Error",
              Icon::Error, Owner::Dialog);
  gainEdit->setFocus();
  gainEdit->selectAll();
  return std::nullopt;
}

void CInputDataDlg::OnSaveMachine() {
  const RunParameters kept = data;
  const bool read = UpdateData(true);
  RunParameters fields = data;
  data = kept;
  if (!read) return;
  const std::optional<double> gain = ReadGainPerTurn();
  if (!gain) return;
  fields.Path = TrimSpace(fields.Path);
  fields.ParticleName = TrimSpace(fields.ParticleName);
  std::string file = chooseMachineFile ? chooseMachineFile().toStdString() : std::string();
  if (file.empty()) return;
  if (std::filesystem::path(file).extension().empty()) file += ".json";
  std::string mapPath;
  if (!fields.Path.empty()) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(fields.Path, error)) {
      ShowMessage(file + ": the field map " + fields.Path +
                      " names no file; the machine file is not written",
                  "Error", Icon::Error, Owner::Dialog);
      return;
    }
    mapPath = PathRelativeToFile(fields.Path, file);
  }
  const bool precise = closure == ClosureMode::Precise;
  const Machine machine =
      MachineOfRun(std::filesystem::path(file).stem().string(), fields, closure, gain,
                   precise ? std::optional<double>(tolerance) : std::nullopt, mapPath, mapReading);
  if (Outcome written = WriteFileAtomically(file, MachineFileText(machine)); !written)
    ShowMessage(file + ": " + written.message().text, "Error", Icon::Error, Owner::Dialog);
}

void CInputDataDlg::OnEnter() {
  if (!UpdateData(true)) return;
  const std::optional<double> gain = ReadGainPerTurn();
  if (!gain) return;
  gainPerTurn = *gain;
  if (const Outcome completion = CompleteRunParameters(data); !completion) {
    Message message = completion.message();
    message.owner = Owner::Dialog;
    ShowMessage(message);
    return;
  }
  UpdateData(false);
  if (UpdateData(true)) accept();
}

}  // namespace zuba
