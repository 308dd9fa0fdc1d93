// CModeDlg: the Mode dialog, the first step of the calculation command. It offers the two
// cyclotron operating modes, then the machine files of the user's folder and any opened with
// "Open Machine File..."; the chosen entry starts the run parameters.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace zuba {

class CModeDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CModeDlg(QWidget* parent = nullptr);

  // Fills the list afresh, selects the first entry and runs the dialog modally.
  int DoModal();
  // The list with its two labels and the machine files, the first one selected (every opening
  // starts so).
  void OnInitDialog();

  // The chosen mode text: written only by a successful OK, kept between openings.
  const std::string& ModeText() const { return modeText_; }
  // The machine file of the chosen entry; empty for a preset.
  const std::string& MachineFile() const { return machineFile_; }

  // The folder whose machine files the list shows (the user's, unless a test sets another).
  std::string machineFolder;
  // The file chooser of "Open Machine File...": a full path, or empty when cancelled.
  // Replaceable (tests).
  std::function<QString()> chooseMachineFile;

  QListWidget* List() const { return list_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* OpenMachineButton() const { return openMachine_; }

 private:
  void OnOK();
  void OnOpenMachine();
  void AddMachine(const std::string& name, const std::string& path);

  QLabel* label_ = nullptr;
  QListWidget* list_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* openMachine_ = nullptr;
  std::string modeText_;
  std::string machineFile_;
  std::vector<std::string> opened_;  // machine files opened in this session, listed again
};

}  // namespace zuba
