// CModeDlg: the Mode dialog, the first step of the calculation command. It offers the two
// cyclotron operating modes; the chosen label selects the preset of the run parameters.
#pragma once

#include <QDialog>
#include <string>

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
  // The list with its two labels, the first one selected (every opening starts so).
  void OnInitDialog();

  // The chosen mode text: written only by a successful OK, kept between openings.
  const std::string& ModeText() const { return modeText_; }

  QListWidget* List() const { return list_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  void OnOK();

  QLabel* label_ = nullptr;
  QListWidget* list_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  std::string modeText_;
};

}  // namespace zuba
