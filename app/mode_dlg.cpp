// The Mode dialog (see mode_dlg.h), laid out in dialog units: 229 x 76.
#include "app/mode_dlg.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "app/dialog_units.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"

namespace zuba {

CModeDlg::CModeDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Mode"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  const DialogUnits du(font());
  setFixedSize(du.Size(229, 76));

  label_ = new QLabel(QStringLiteral("Cyclotron operating mode:"), this);
  label_->setGeometry(du.Rect(15, 6, 88, 8).adjusted(0, 0, du.X(40), 2));

  list_ = new QListWidget(this);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list_->setGeometry(du.Rect(15, 19, 133, 42));

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setGeometry(du.Rect(164, 19, 50, 14));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setGeometry(du.Rect(164, 47, 50, 14));

  connect(ok_, &QPushButton::clicked, this, &CModeDlg::OnOK);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void CModeDlg::OnInitDialog() {
  list_->clear();
  list_->addItem(QString::fromLatin1(kModeTvk310));
  list_->addItem(QString::fromLatin1(kModeAvf14N5));
  list_->setCurrentRow(0);
  list_->setFocus();
}

int CModeDlg::DoModal() {
  OnInitDialog();
  return exec();
}

void CModeDlg::OnOK() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) {
    ShowMessage("The list box selection error!", "Error", Icon::Error, Owner::Dialog);
    return;
  }
  modeText_ = selected.front()->text().trimmed().toStdString();
  accept();
}

}  // namespace zuba
