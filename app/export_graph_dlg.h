// CExportGraphDlg: File > Export Graph...: the file (.png, .svg or .pdf, chosen with "..." or
// typed) and the size of the client area the graph is laid out in, as `zuba-cli plot` takes them.
#pragma once

#include <QDialog>
#include <QSize>
#include <QString>

class QLineEdit;
class QPushButton;
class QSpinBox;

namespace zuba {

class CExportGraphDlg : public QDialog {
  Q_OBJECT

 public:
  // suggestedPath and size: what the dialog shows at first.
  CExportGraphDlg(const QString& suggestedPath, QSize size, QWidget* parent = nullptr);

  QString Path() const;
  QSize GraphSize() const;

  QLineEdit* pathEdit = nullptr;
  QPushButton* browseButton = nullptr;
  QSpinBox* widthSpin = nullptr;
  QSpinBox* heightSpin = nullptr;
  QPushButton* okButton = nullptr;

 protected:
  // OK only with a file name of a picture format; otherwise says so and stays open.
  void accept() override;
};

}  // namespace zuba
