// The Input Data dialog (see input_data_dlg.h), laid out in dialog units: 410 x 243.
#include "app/input_data_dlg.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>
#include <string>

#include "app/dialog_units.h"
#include "platform/message.h"
#include "results/run_completion.h"

namespace zuba {

QString CInputDataDlg::FormatReal(double value) {
  return QString::number(value, 'g', 15);
}

CInputDataDlg::CInputDataDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Input Data"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  const DialogUnits du(font());
  setFixedSize(du.Size(410, 243));

  auto label = [&](const char* text, int l, int t, int w, int h, bool wrap = false) {
    auto* widget = new QLabel(QString::fromUtf8(text), this);
    widget->setGeometry(du.Rect(l, t, w, h));
    widget->setWordWrap(wrap);
    return widget;
  };
  auto edit = [&](int l, int t, int w, int h) {
    auto* widget = new QLineEdit(this);
    widget->setGeometry(du.Rect(l, t, w, h));
    return widget;
  };

  // Creation order is the tab order, as the controls are tabled.
  auto* group = new QGroupBox(QStringLiteral("Path of Field Map"), this);
  group->setGeometry(du.Rect(15, 6, 380, 32));
  pathEdit = edit(25, 17, 301, 14);
  browseButton = new QPushButton(QStringLiteral("..."), this);
  browseButton->setGeometry(du.Rect(337, 17, 50, 14));
  label("Particle Name:", 25, 51, 83, 8);
  particleNameEdit = edit(112, 48, 78, 14);
  label("Ek begin (MeV):", 25, 73, 83, 8);
  ekBeginEdit = edit(112, 70, 78, 14);
  label("Ek end (MeV):", 25, 95, 83, 8);
  ekEndEdit = edit(112, 92, 78, 14);
  label("dEk (MeV/step):", 25, 117, 83, 8);
  dEkEdit = edit(112, 114, 78, 14);
  label("Frf (MHz):", 25, 139, 83, 8);
  frfEdit = edit(112, 136, 78, 14);
  label("H=Frf/F0:", 25, 161, 83, 8);
  hEdit = edit(112, 158, 78, 14);
  label("Number of Sectors N:", 25, 183, 83, 8);
  nEdit = edit(112, 180, 78, 14);
  signPlus = new QRadioButton(QStringLiteral("Sign <<+>>"), this);
  signPlus->setGeometry(du.Rect(227, 50, 58, 10));
  signMinus = new QRadioButton(QStringLiteral("Sign <<->>"), this);
  signMinus->setGeometry(du.Rect(290, 50, 56, 10));
  signGroup_ = new QButtonGroup(this);
  signGroup_->addButton(signPlus, 0);
  signGroup_->addButton(signMinus, 1);
  label("Elementary Charge's Number |Q| (unit):", 227, 69, 83, 17, true);
  qEdit = edit(314, 70, 78, 14);
  label("Mass of Particle m0 (samu):", 227, 91, 62, 17, true);
  m0Edit = edit(314, 92, 78, 14);
  label("T0 (rad):", 227, 136, 83, 8);
  t0Edit = edit(314, 136, 78, 14);
  t0Edit->setReadOnly(true);
  label("Tis (rad):", 227, 158, 83, 8);
  tisEdit = edit(314, 158, 78, 14);
  tisEdit->setReadOnly(true);
  label("h (rad/step):", 227, 180, 83, 8);
  stepEdit = edit(314, 180, 78, 14);
  enterButton = new QPushButton(QStringLiteral("Enter"), this);
  enterButton->setGeometry(du.Rect(206, 205, 78, 22));
  enterButton->setDefault(true);
  exitButton = new QPushButton(QStringLiteral("Exit"), this);
  exitButton->setGeometry(du.Rect(314, 205, 78, 22));
  exitButton->setAutoDefault(false);
  browseButton->setAutoDefault(false);

  chooseMapFile = [] {
    return QFileDialog::getOpenFileName(
        nullptr, QStringLiteral("Open file name for opening sdf file"), QString(),
        QStringLiteral("Magnetic Field Map Files: (*.sdf)"));
  };

  connect(browseButton, &QPushButton::clicked, this, &CInputDataDlg::OnBrowse);
  connect(enterButton, &QPushButton::clicked, this, &CInputDataDlg::OnEnter);
  connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
}

void CInputDataDlg::OnInitDialog() {
  UpdateData(false);
  pathEdit->setFocus();
}

int CInputDataDlg::DoModal() {
  OnInitDialog();
  return exec();
}

bool CInputDataDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    pathEdit->setText(QString::fromStdString(data.Path));
    particleNameEdit->setText(QString::fromStdString(data.ParticleName));
    ekBeginEdit->setText(FormatReal(data.EkBegin));
    ekEndEdit->setText(FormatReal(data.EkEnd));
    dEkEdit->setText(FormatReal(data.dEk));
    frfEdit->setText(FormatReal(data.Frf));
    hEdit->setText(QString::number(data.H));
    nEdit->setText(QString::number(data.N));
    signGroup_->setExclusive(false);
    signPlus->setChecked(data.ChargeSign == 0);
    signMinus->setChecked(data.ChargeSign == 1);
    signGroup_->setExclusive(true);
    qEdit->setText(QString::number(data.Q));
    m0Edit->setText(FormatReal(data.m0));
    t0Edit->setText(FormatReal(data.T0));
    tisEdit->setText(FormatReal(data.TIs));
    stepEdit->setText(FormatReal(data.h));
    return true;
  }

  auto refuse = [this](QLineEdit* box, const char* text) {
    ShowMessage(text, "Error", Icon::Error, Owner::Dialog);
    box->setFocus();
    box->selectAll();
    return false;
  };
  auto real = [&](QLineEdit* box, double& field) {
    bool ok = false;
    const double value = box->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) return refuse(box, "Please enter a number.");
    field = value;
    return true;
  };
  auto integer = [&](QLineEdit* box, int32_t& field) {
    bool ok = false;
    const int value = box->text().trimmed().toInt(&ok, 10);
    if (!ok) return refuse(box, "Please enter an integer.");
    field = value;
    return true;
  };

  data.Path = pathEdit->text().toStdString();
  data.ParticleName = particleNameEdit->text().toStdString();
  if (!real(ekBeginEdit, data.EkBegin) || !real(ekEndEdit, data.EkEnd) ||
      !real(dEkEdit, data.dEk) || !real(frfEdit, data.Frf) || !integer(hEdit, data.H) ||
      !integer(nEdit, data.N)) {
    return false;
  }
  data.ChargeSign = signGroup_->checkedId();
  return integer(qEdit, data.Q) && real(m0Edit, data.m0) && real(t0Edit, data.T0) &&
         real(tisEdit, data.TIs) && real(stepEdit, data.h);
}

void CInputDataDlg::OnBrowse() {
  UpdateData(true);
  const QString path = chooseMapFile ? chooseMapFile() : QString();
  if (path.isEmpty()) return;
  data.Path = path.toStdString();
  UpdateData(false);
}

void CInputDataDlg::OnEnter() {
  if (!UpdateData(true)) return;
  const RunCompletion completion = CompleteRunParameters(data);
  if (completion.refused()) {
    ShowMessage(completion.text, completion.caption, Icon::Error, Owner::Dialog);
    return;
  }
  UpdateData(false);
  if (UpdateData(true)) accept();
}

}  // namespace zuba
