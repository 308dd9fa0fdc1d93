// The dialogs of Calculate > Isochronise... (see isochronise_dlg.h).
#include "app/isochronise_dlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

#include "platform/message.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

QString Number(double value, int digits = 6) {
  return QString::number(value, 'g', digits);
}

QString Names(const std::vector<int>& indices, const std::vector<std::string>& names) {
  QStringList list;
  for (int c : indices) list << QString::fromStdString(names[c]);
  return list.isEmpty() ? QStringLiteral("none") : list.join(QStringLiteral(", "));
}

QString Energies(const std::vector<double>& mev) {
  QStringList list;
  for (double e : mev) list << Number(e, 5);
  return list.isEmpty() ? QStringLiteral("none") : list.join(QStringLiteral(", ")) + " MeV";
}

}  // namespace

CIsochroniseDlg::CIsochroniseDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Isochronise"));
  auto* layout = new QVBoxLayout(this);
  fieldButton = new QRadioButton(QStringLiteral("Field correction"), this);
  coilsButton = new QRadioButton(QStringLiteral("Trim coils"), this);
  fieldButton->setChecked(true);
  auto* group = new QButtonGroup(this);
  group->addButton(fieldButton);
  group->addButton(coilsButton);
  layout->addWidget(fieldButton);
  layout->addWidget(coilsButton);

  auto* form = new QFormLayout;
  auto* fileRow = new QHBoxLayout;
  coilEdit = new QLineEdit(this);
  coilEdit->setMinimumWidth(300);  // room for a path
  browseButton = new QPushButton(QStringLiteral("..."), this);
  fileRow->addWidget(coilEdit);
  fileRow->addWidget(browseButton);
  form->addRow(QStringLiteral("Coil table:"), fileRow);
  limitEdit = new QLineEdit(this);
  limitEdit->setPlaceholderText(QStringLiteral("no limit"));
  form->addRow(QStringLiteral("Current limit (A):"), limitEdit);
  targetBox = new QComboBox(this);
  targetBox->addItem(QStringLiteral("Isochronism error"));
  targetBox->addItem(QStringLiteral("RF phase"));
  form->addRow(QStringLiteral("Minimise:"), targetBox);
  gainEdit = new QLineEdit(QStringLiteral("0.1"), this);
  form->addRow(QStringLiteral("Energy gain per turn (MeV):"), gainEdit);
  layout->addLayout(form);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  okButton = new QPushButton(QStringLiteral("OK"), this);
  okButton->setDefault(true);
  cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  buttons->addWidget(okButton);
  buttons->addWidget(cancelButton);
  layout->addLayout(buttons);

  chooseCoilFile = [this] {
    return QFileDialog::getOpenFileName(
        this, QStringLiteral("Coil table"), QString(),
        QStringLiteral("Coil tables (*.tsv *.csv *.txt);;All Files (*)"));
  };
  connect(browseButton, &QPushButton::clicked, this, [this] {
    const QString path = chooseCoilFile();
    if (!path.isEmpty()) coilEdit->setText(path);
  });
  connect(fieldButton, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
  connect(okButton, &QPushButton::clicked, this, &CIsochroniseDlg::OnOK);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  UpdateEnabled();
}

void CIsochroniseDlg::UpdateEnabled() {
  const bool coils = coilsButton->isChecked();
  for (QWidget* w :
       std::initializer_list<QWidget*>{coilEdit, browseButton, limitEdit, targetBox, gainEdit})
    w->setEnabled(coils);
}

bool CIsochroniseDlg::Ask(IsochroniseRequest& request) {
  request_ = request;
  (request.trimCoils ? coilsButton : fieldButton)->setChecked(true);
  coilEdit->setText(QString::fromStdString(request.coilPath));
  limitEdit->setText(std::isfinite(request.limit) ? Number(request.limit) : QString());
  targetBox->setCurrentIndex(request.target == TrimTarget::Phase ? 1 : 0);
  gainEdit->setText(Number(request.gainPerTurnMeV));
  UpdateEnabled();
  if (exec() != QDialog::Accepted) return false;
  request = request_;
  return true;
}

void CIsochroniseDlg::OnOK() {
  // What the field correction does not use stays as it was for the next opening.
  IsochroniseRequest r = request_;
  r.trimCoils = coilsButton->isChecked();
  if (r.trimCoils) {
    r.coilPath = coilEdit->text().trimmed().toStdString();
    if (r.coilPath.empty()) {
      ShowMessage("Enter the file of the trim coils' fields!", "Stop", Icon::Error, Owner::Dialog);
      return;
    }
    // A limit of 0 A would hold every coil at zero current: nothing left to fit.
    const QString limit = limitEdit->text().trimmed();
    r.limit = std::numeric_limits<double>::infinity();
    if (!limit.isEmpty()) {
      const std::optional<double> amperes = ParseNumber(limit.toStdString());
      r.limit = amperes.value_or(0);
      if (!(r.limit > 0)) {
        ShowMessage("The current limit must be a number of amperes above 0 (empty: no limit)!",
                    "Stop", Icon::Error, Owner::Dialog);
        return;
      }
    }
    r.target = targetBox->currentIndex() == 1 ? TrimTarget::Phase : TrimTarget::Isochronism;
    r.gainPerTurnMeV = ParseNumber(gainEdit->text().trimmed().toStdString()).value_or(0);
    if (!(r.gainPerTurnMeV > 0)) {
      ShowMessage("The energy gain per turn must be a number of MeV above 0!", "Stop", Icon::Error,
                  Owner::Dialog);
      return;
    }
  }
  request_ = r;
  accept();
}

CIsochroniseResultDlg::CIsochroniseResultDlg(const MeanFieldCorrection& c, QWidget* parent)
    : QDialog(parent) {
  const QString text =
      QStringLiteral(
          "Isochronism error |F0·H/Frf − 1|, worst over the energies:\n"
          "  %1 before, %2 after the correction (%3 iterations).\n"
          "Orbits span %4 … %5 m; energies without a closed orbit: %6.")
          .arg(Number(c.isochronismBefore, 3), Number(c.isochronismAfter, 3))
          .arg(c.iterations)
          .arg(Number(c.spanLow, 4), Number(c.spanHigh, 4), Energies(c.excludedEnergiesMeV));
  std::vector<std::pair<QString, QString>> rows;
  for (std::size_t i = 0; i < c.radii.size(); ++i)
    rows.emplace_back(Number(c.radii[i], 6), Number(c.deltaB[i], 8));
  Build(text, {QStringLiteral("R (m)"), QStringLiteral("ΔB̄ (T)")}, rows, false);
}

CIsochroniseResultDlg::CIsochroniseResultDlg(const TrimFit& f,
                                             const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent) {
  const QString text =
      QStringLiteral(
          "Isochronism error |F0·H/Frf − 1|, worst: %1 before, %2 after.\n"
          "RF phase, largest: %3° before, %4° after.\n"
          "Condition number of the fit %5; at their limit: %6; without effect: %7.\n"
          "Energies without a closed orbit: %8.")
          .arg(Number(f.isochronismBefore, 3), Number(f.isochronismAfter, 3),
               Number(f.phaseDegBefore, 4), Number(f.phaseDegAfter, 4),
               Number(f.conditionNumber, 3), Names(f.atLimit, names), Names(f.noEffect, names),
               Energies(f.excludedEnergiesMeV));
  std::vector<std::pair<QString, QString>> rows;
  for (std::size_t c = 0; c < names.size(); ++c)
    rows.emplace_back(QString::fromStdString(names[c]), Number(f.currents[c], 8));
  Build(text, {QStringLiteral("Coil"), QStringLiteral("Current (A)")}, rows, true);
}

void CIsochroniseResultDlg::Build(const QString& text, const QStringList& header,
                                  const std::vector<std::pair<QString, QString>>& rows,
                                  bool currents) {
  setWindowTitle(QStringLiteral("Isochronise"));
  auto* layout = new QVBoxLayout(this);
  summary = new QLabel(text, this);
  summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(summary);
  table = new QTableWidget(static_cast<int>(rows.size()), 2, this);
  table->setHorizontalHeaderLabels(header);
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    table->setItem(r, 0, new QTableWidgetItem(rows[r].first));
    table->setItem(r, 1, new QTableWidgetItem(rows[r].second));
  }
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  layout->addWidget(table);
  note = new QLabel(this);
  note->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(note);
  auto* buttons = new QHBoxLayout;
  saveMapButton = new QPushButton(QStringLiteral("Save Corrected Map..."), this);
  saveCurrentsButton = new QPushButton(QStringLiteral("Save Currents..."), this);
  saveCurrentsButton->setVisible(currents);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  buttons->addWidget(saveMapButton);
  buttons->addWidget(saveCurrentsButton);
  buttons->addStretch();
  buttons->addWidget(close);
  layout->addLayout(buttons);
  resize(460, 520);

  chooseMapPath = [this] {
    QFileDialog dialog(this, QStringLiteral("Save Corrected Map"), QString(),
                       QStringLiteral("Field maps (*.sdf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("sdf"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
  chooseCurrentsPath = [this] {
    QFileDialog dialog(this, QStringLiteral("Save Currents"), QString(),
                       QStringLiteral("Coil tables (*.tsv)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("tsv"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
  connect(saveMapButton, &QPushButton::clicked, this, [this] { Save(true); });
  connect(saveCurrentsButton, &QPushButton::clicked, this, [this] { Save(false); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void CIsochroniseResultDlg::Save(bool map) {
  const QString path = map ? chooseMapPath() : chooseCurrentsPath();
  if (path.isEmpty()) return;
  const auto& save = map ? saveMap : saveCurrents;
  if (!save) return;
  const std::string error = save(QFile::encodeName(path).toStdString());
  if (!error.empty()) {
    ShowMessage(error, "Error", Icon::Error, Owner::Dialog);
    return;
  }
  note->setText((map ? QStringLiteral("Corrected map written to %1")
                     : QStringLiteral("Currents written to %1"))
                    .arg(QDir::toNativeSeparators(path)));
}

}  // namespace zuba
