// The Mode dialog (see mode_dlg.h), laid out in dialog units: 229 x 88.
#include "app/mode_dlg.h"

#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "app/dialog_units.h"
#include "calc/run/machine_file.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"

namespace zuba {

CModeDlg::CModeDlg(QWidget* parent) : QDialog(parent), machineFolder(UserMachineFolder()) {
  setWindowTitle(QStringLiteral("Mode"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  const DialogUnits du(font());
  setFixedSize(du.Size(229, 88));

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
  openMachine_ = new QPushButton(QStringLiteral("Open Machine File..."), this);
  openMachine_->setGeometry(du.Rect(15, 67, 90, 14));
  openMachine_->setAutoDefault(false);

  chooseMachineFile = [this] {
    return QFileDialog::getOpenFileName(this, QStringLiteral("Open Machine File"),
                                        QString::fromStdString(machineFolder),
                                        QStringLiteral("Machine Files (*.json);;All Files (*)"));
  };

  connect(ok_, &QPushButton::clicked, this, &CModeDlg::OnOK);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(openMachine_, &QPushButton::clicked, this, &CModeDlg::OnOpenMachine);
}

void CModeDlg::AddMachine(const std::string& name, const std::string& path) {
  for (int row = 0; row < list_->count(); ++row)
    if (list_->item(row)->data(Qt::UserRole).toString().toStdString() == path) return;
  auto* item = new QListWidgetItem(QString::fromStdString(name), list_);
  item->setData(Qt::UserRole, QString::fromStdString(path));
  item->setToolTip(QString::fromStdString(path));
}

void CModeDlg::OnInitDialog() {
  list_->clear();
  list_->addItem(QString::fromLatin1(kModeTvk310));
  list_->addItem(QString::fromLatin1(kModeAvf14N5));
  // The folder's machine files as they read now; a file that no longer reads is left out.
  for (const MachineEntry& entry : ListMachineFiles(machineFolder))
    AddMachine(entry.name, entry.path);
  for (const std::string& path : opened_) {
    const Result<Machine> machine = ReadMachineFile(path);
    if (machine) AddMachine(machine->name, path);
  }
  list_->setCurrentRow(0);
  list_->setFocus();
}

int CModeDlg::DoModal() {
  OnInitDialog();
  return exec();
}

void CModeDlg::OnOpenMachine() {
  const QString chosen = chooseMachineFile ? chooseMachineFile() : QString();
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  const Result<Machine> machine = ReadMachineFile(path);
  if (!machine) {
    ShowMessage(machine.message().text, "Error", Icon::Error, Owner::Dialog);
    return;
  }
  if (std::find(opened_.begin(), opened_.end(), path) == opened_.end()) opened_.push_back(path);
  AddMachine(machine->name, path);
  for (int row = 0; row < list_->count(); ++row)
    if (list_->item(row)->data(Qt::UserRole).toString() == chosen) list_->setCurrentRow(row);
}

void CModeDlg::OnOK() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) {
    ShowMessage("The list box selection error!", "Error", Icon::Error, Owner::Dialog);
    return;
  }
  modeText_ = selected.front()->text().trimmed().toStdString();
  machineFile_ = selected.front()->data(Qt::UserRole).toString().toStdString();
  accept();
}

}  // namespace zuba
