// CAboutDlg: the About box of Help > About ZUBA...
#pragma once

#include <QDialog>

class QPushButton;

namespace zuba {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  QPushButton* OkButton() const { return ok_; }

 private:
  QPushButton* ok_ = nullptr;
};

}  // namespace zuba
