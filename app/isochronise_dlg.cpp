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
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>

#include "numerics/average_field.h"
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

// Comma-separated items "MIN:MAX" (and "=W" when weighted); false when one is malformed.
bool ParseRanges(const QString& text, bool weighted, std::vector<EnergyRange>& ranges,
                 std::vector<double>& weights) {
  for (const QString& raw : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QString item = raw.trimmed();
    if (item.isEmpty()) continue;
    QString range = item;
    double weight = 1;
    if (weighted) {
      const QStringList parts = item.split(QLatin1Char('='));
      if (parts.size() != 2) return false;
      const std::optional<double> w = ParseNumber(parts[1].trimmed().toStdString());
      if (!w || !(*w > 0)) return false;
      weight = *w;
      range = parts[0];
    }
    const QStringList ends = range.split(QLatin1Char(':'));
    if (ends.size() != 2) return false;
    const std::optional<double> low = ParseNumber(ends[0].trimmed().toStdString());
    const std::optional<double> high = ParseNumber(ends[1].trimmed().toStdString());
    if (!low || !high || !(*low <= *high)) return false;
    const EnergyRange r{*low, *high};
    ranges.push_back(r);
    weights.push_back(weight);
  }
  return true;
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
  excludeEdit = new QLineEdit(this);
  excludeEdit->setPlaceholderText(QStringLiteral("none (e.g. 5:10, 58:61)"));
  form->addRow(QStringLiteral("Leave out energies (MeV):"), excludeEdit);
  weightEdit = new QLineEdit(this);
  weightEdit->setPlaceholderText(QStringLiteral("all 1 (e.g. 30:60=2)"));
  form->addRow(QStringLiteral("Weights (MeV=W):"), weightEdit);
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
  for (QWidget* w : std::initializer_list<QWidget*>{coilEdit, browseButton, limitEdit, targetBox,
                                                    gainEdit, excludeEdit, weightEdit})
    w->setEnabled(coils);
}

bool CIsochroniseDlg::Ask(IsochroniseRequest& request) {
  request_ = request;
  (request.trimCoils ? coilsButton : fieldButton)->setChecked(true);
  coilEdit->setText(QString::fromStdString(request.coilPath));
  limitEdit->setText(std::isfinite(request.limit) ? Number(request.limit) : QString());
  targetBox->setCurrentIndex(request.target == TrimTarget::Phase ? 1 : 0);
  gainEdit->setText(Number(request.gainPerTurnMeV));
  QStringList excluded, weighted;
  for (const EnergyRange& r : request.exclude) excluded << Number(r.low) + ":" + Number(r.high);
  for (const EnergyWeight& w : request.weights)
    weighted << Number(w.range.low) + ":" + Number(w.range.high) + "=" + Number(w.weight);
  excludeEdit->setText(excluded.join(QStringLiteral(", ")));
  weightEdit->setText(weighted.join(QStringLiteral(", ")));
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
    std::vector<EnergyRange> ranges;
    std::vector<double> ignored;
    if (!ParseRanges(excludeEdit->text(), false, ranges, ignored)) {
      ShowMessage("The energies to leave out must be ranges MIN:MAX in MeV, separated by commas!",
                  "Stop", Icon::Error, Owner::Dialog);
      return;
    }
    std::vector<EnergyRange> weightedRanges;
    std::vector<double> weights;
    if (!ParseRanges(weightEdit->text(), true, weightedRanges, weights)) {
      ShowMessage("The weights must be MIN:MAX=W (MeV, W above 0), separated by commas!", "Stop",
                  Icon::Error, Owner::Dialog);
      return;
    }
    r.exclude = ranges;
    r.weights.clear();
    for (std::size_t k = 0; k < weights.size(); ++k)
      r.weights.push_back({weightedRanges[k], weights[k]});
  }
  request_ = r;
  accept();
}

CIsochroniseResultDlg::CIsochroniseResultDlg(const MeanFieldCorrection& c, QWidget* parent,
                                             const std::vector<double>& energiesMeV,
                                             const std::vector<std::string>& warningLines)
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
  Build(text, {QStringLiteral("R (m)"), QStringLiteral("ΔB̄ (T)")}, rows, false, c, energiesMeV,
        warningLines);
}

CIsochroniseResultDlg::CIsochroniseResultDlg(const TrimFit& f,
                                             const std::vector<std::string>& names, QWidget* parent,
                                             const std::vector<double>& energiesMeV,
                                             const std::vector<std::string>& warningLines)
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
  Build(text, {QStringLiteral("Coil"), QStringLiteral("Current (A)")}, rows, true, f, energiesMeV,
        warningLines);
}

void CIsochroniseResultDlg::Build(const QString& text, const QStringList& header,
                                  const std::vector<std::pair<QString, QString>>& rows,
                                  bool currents, const CorrectionOutcome& outcome,
                                  const std::vector<double>& energiesMeV,
                                  const std::vector<std::string>& warningLines) {
  setWindowTitle(QStringLiteral("Isochronise"));
  auto* layout = new QVBoxLayout(this);
  summary = new QLabel(text + QStringLiteral("\nSearch: %1 (target %2).")
                                  .arg(TerminationName(outcome.termination))
                                  .arg(Number(outcome.target, 3)),
                       this);
  summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(summary);
  QStringList lines;
  for (const std::string& line : warningLines) lines << QString::fromStdString(line);
  warnings = new QLabel(lines.join(QLatin1Char('\n')), this);
  warnings->setStyleSheet(QStringLiteral("color: #a00000"));
  warnings->setTextInteractionFlags(Qt::TextSelectableByMouse);
  warnings->setVisible(!lines.isEmpty());
  layout->addWidget(warnings);
  if (!energiesMeV.empty() && energiesMeV.size() == outcome.errorBefore.size()) {
    residuals = new CResidualsGraph(energiesMeV, outcome, this);
    layout->addWidget(residuals);
  }
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
  resize(460, residuals ? 720 : 520);

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
  if (const Outcome saved = save(QFile::encodeName(path).toStdString()); !saved) {
    ShowMessage(saved.message().text, "Error", Icon::Error, Owner::Dialog);
    return;
  }
  note->setText((map ? QStringLiteral("Corrected map written to %1")
                     : QStringLiteral("Currents written to %1"))
                    .arg(QDir::toNativeSeparators(path)));
}

CResidualsGraph::CResidualsGraph(std::vector<double> energiesMeV, const CorrectionOutcome& outcome,
                                 QWidget* parent)
    : QWidget(parent), energies_(std::move(energiesMeV)) {
  for (std::size_t i = 0; i < energies_.size(); ++i) {
    const bool shown = !outcome.excluded[i];
    before_.push_back(shown ? outcome.errorBefore[i] : kNoValue);
    after_.push_back(shown && i < outcome.errorAfter.size() ? outcome.errorAfter[i] : kNoValue);
  }
  for (const auto* values : {&before_, &after_})
    for (double v : *values)
      if (v != kNoValue) scale_ = std::max(scale_, std::fabs(v));
  setMinimumHeight(180);
  setToolTip(QStringLiteral("F0·H/Frf − 1 per energy: before (blue), after (red)"));
}

void CResidualsGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), Qt::white);
  const QFontMetrics metrics(font());
  const int left = metrics.horizontalAdvance(QStringLiteral("-0.000e-00")) + 8, right = 10;
  const int top = 8, bottom = metrics.height() + 10;
  const QRectF plot(left, top, width() - left - right, height() - top - bottom);
  painter.setPen(Qt::gray);
  painter.drawRect(plot);
  if (energies_.empty() || plot.width() <= 0 || plot.height() <= 0) return;
  const double low = energies_.front(), high = std::max(energies_.back(), low + 1e-9);
  const double scale = scale_ > 0 ? scale_ : 1;
  auto x = [&](double e) { return plot.left() + (e - low) / (high - low) * plot.width(); };
  auto y = [&](double v) { return plot.center().y() - v / scale * plot.height() / 2; };
  painter.drawLine(QPointF(plot.left(), y(0)), QPointF(plot.right(), y(0)));
  painter.setPen(Qt::black);
  painter.drawText(QRectF(0, plot.top() - 2, left - 4, metrics.height()),
                   Qt::AlignRight | Qt::AlignTop, QString::number(scale, 'e', 2));
  painter.drawText(QRectF(0, plot.bottom() - metrics.height() + 2, left - 4, metrics.height()),
                   Qt::AlignRight | Qt::AlignBottom, QString::number(-scale, 'e', 2));
  painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), metrics.height()),
                   Qt::AlignLeft, QStringLiteral("%1 MeV").arg(low, 0, 'g', 5));
  painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), metrics.height()),
                   Qt::AlignRight, QStringLiteral("%1 MeV").arg(high, 0, 'g', 5));
  const std::pair<const std::vector<double>*, QColor> curves[] = {{&before_, QColor(0, 0, 200)},
                                                                  {&after_, QColor(200, 0, 0)}};
  for (const auto& [values, colour] : curves) {
    painter.setPen(QPen(colour, 1.5));
    QPainterPath path;
    bool drawing = false;
    for (std::size_t i = 0; i < energies_.size(); ++i) {
      if ((*values)[i] == kNoValue) {
        drawing = false;
        continue;
      }
      const QPointF point(x(energies_[i]), y((*values)[i]));
      if (drawing)
        path.lineTo(point);
      else
        path.moveTo(point);
      drawing = true;
      painter.drawEllipse(point, 2, 2);
    }
    painter.drawPath(path);
  }
}

}  // namespace zuba
