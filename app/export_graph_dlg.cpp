// The Export Graph dialog (see export_graph_dlg.h).
#include "app/export_graph_dlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "graph/plot_file.h"
#include "platform/message.h"

namespace zuba {

CExportGraphDlg::CExportGraphDlg(const QString& suggestedPath, QSize size, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Export Graph"));
  pathEdit = new QLineEdit(suggestedPath, this);
  pathEdit->setMinimumWidth(320);
  browseButton = new QPushButton(QStringLiteral("..."), this);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(pathEdit, 1);
  pathRow->addWidget(browseButton);
  auto spin = [this](int value) {
    auto* box = new QSpinBox(this);
    box->setRange(1, kMaxPlotSide);
    box->setSuffix(QStringLiteral(" px"));
    box->setValue(value);
    return box;
  };
  widthSpin = spin(size.width());
  heightSpin = spin(size.height());
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("File (.png, .svg, .pdf):"), pathRow);
  form->addRow(QStringLiteral("Width:"), widthSpin);
  form->addRow(QStringLiteral("Height:"), heightSpin);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  okButton = buttons->button(QDialogButtonBox::Ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CExportGraphDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browseButton, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export Graph"), pathEdit->text(),
        QStringLiteral("PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)"));
    if (!chosen.isEmpty()) pathEdit->setText(chosen);
  });
}

QString CExportGraphDlg::Path() const {
  return pathEdit->text().trimmed();
}

QSize CExportGraphDlg::GraphSize() const {
  return QSize(widthSpin->value(), heightSpin->value());
}

void CExportGraphDlg::accept() {
  if (!IsPlotFileName(Path().toStdString())) {
    ShowMessage("The file name must end in .png, .svg or .pdf.", "Export Graph", Icon::Warning,
                Owner::Dialog);
    pathEdit->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace zuba
