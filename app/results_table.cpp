// The results table (see results_table.h).
#include "app/results_table.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <algorithm>
#include <vector>

#include "calc/run/values_table.h"

namespace zuba {

void ValueRowsModel::SetRows(ValueRows rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int ValueRowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.RowCount());
}

int ValueRowsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.ColumnCount());
}

QVariant ValueRowsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const auto row = static_cast<size_t>(index.row());
  const auto column = static_cast<size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(rows_.Cell(row, column));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      if (!rows_.Closed(row)) return QColor(255, 220, 220);
      return {};
    case Qt::ToolTipRole:
      if (!rows_.Closed(row)) return QStringLiteral("The orbit of this energy was not closed");
      return QString::fromStdString(rows_.ExactCell(row, column));
    default:
      return {};
  }
}

QVariant ValueRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || section < 0) return {};
  if (orientation == Qt::Horizontal) {
    if (static_cast<size_t>(section) >= rows_.ColumnCount()) return {};
    return QString::fromStdString(rows_.Column(static_cast<size_t>(section)).title);
  }
  if (static_cast<size_t>(section) >= rows_.RowCount()) return {};
  QString label = QString::number(section + 1);
  if (!rows_.Closed(static_cast<size_t>(section))) label += QStringLiteral(" not closed");
  return label;
}

CResultsTable::CResultsTable(QWidget* parent)
    : QDockWidget(QStringLiteral("Results Table"), parent) {
  setObjectName(QStringLiteral("resultsTable"));
  setAllowedAreas(Qt::AllDockWidgetAreas);
  model_ = new ValueRowsModel(this);
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("resultsTableView"));
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  setWidget(table_);

  copyAct = new QAction(QStringLiteral("&Copy"), table_);
  copyAct->setObjectName(QStringLiteral("ID_TABLE_COPY"));
  copyAct->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
  copyAct->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  copyAct->setStatusTip(QStringLiteral("Copy the chosen rows as tab-separated text"));
  connect(copyAct, &QAction::triggered, this, &CResultsTable::CopySelection);
  auto* selectAll = new QAction(QStringLiteral("Select &All"), table_);
  selectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  selectAll->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(selectAll, &QAction::triggered, table_, &QTableView::selectAll);
  table_->addAction(copyAct);
  table_->addAction(selectAll);
  table_->setContextMenuPolicy(Qt::ActionsContextMenu);

  // The energy marked: the current row when it is chosen, else the first chosen row.
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    int32_t energy = -1;
    const QModelIndex current = table_->currentIndex();
    const auto byRow = [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); };
    if (current.isValid() && table_->selectionModel()->isRowSelected(current.row())) {
      energy = current.row();
    } else if (!rows.isEmpty()) {
      energy = std::min_element(rows.begin(), rows.end(), byRow)->row();
    }
    emit energySelected(energy);
  });
}

void CResultsTable::SetResults(const ResultTables& results, const ResultTables* compare) {
  model_->SetRows(compare ? ComparedValueRows(results, *compare) : ValueRowsOf(results));
  emit energySelected(-1);
}

QString CResultsTable::SelectionText() const {
  std::vector<size_t> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows())
    rows.push_back(static_cast<size_t>(index.row()));
  std::sort(rows.begin(), rows.end());
  return QString::fromStdString(model_->Rows().TabSeparated(rows));
}

void CResultsTable::CopySelection() {
  QApplication::clipboard()->setText(SelectionText());
}

void CResultsTable::SelectEnergy(int32_t energy) {
  if (energy < 0 || energy >= model_->rowCount()) {
    table_->clearSelection();
    table_->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
    return;
  }
  table_->selectRow(energy);
  table_->scrollTo(model_->index(energy, 0));
}

}  // namespace zuba
