// CResultsTable: the dockable table of the results shown, one row per energy with the columns of
// the values file (energy, mean radius and field, corrected radius, rotation frequency, closure
// error, isochronism error, RF phase slip, and after a precise run the tunes). Rows whose orbit was
// not closed are marked. Choosing a row marks its energy in the graph and its orbit in the map
// view; Ctrl+C and the context menu copy the chosen rows (all rows when none is chosen) as
// tab-separated text with a header line, 17 significant digits as in the values file.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <cstdint>

#include "results/result_tables.h"
#include "results/value_rows.h"

class QAction;
class QTableView;

namespace zuba {

// The rows as a table model: shown cells, headings, not-closed rows tinted.
class ValueRowsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ValueRowsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
  void SetRows(ValueRows rows);
  const ValueRows& Rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  ValueRows rows_;
};

class CResultsTable : public QDockWidget {
  Q_OBJECT

 public:
  explicit CResultsTable(QWidget* parent = nullptr);

  // Shows the rows of a record (no row chosen); with a compared record, after its columns the
  // differences from it at the energies both hold (d_isochronism, d_nu_r, d_nu_z).
  void SetResults(const ResultTables& results, const ResultTables* compare = nullptr);
  const ValueRows& Rows() const { return model_->Rows(); }
  QTableView& Table() { return *table_; }

  // The chosen rows, or every row when none is chosen, as tab-separated text.
  QString SelectionText() const;
  // Puts SelectionText() on the clipboard.
  void CopySelection();
  // Chooses the row of an energy (none for -1).
  void SelectEnergy(int32_t energy);

  QAction* copyAct = nullptr;

 signals:
  // The current row changed: its energy index, -1 when no row is current.
  void energySelected(int32_t energy);

 private:
  ValueRowsModel* model_ = nullptr;
  QTableView* table_ = nullptr;
};

}  // namespace zuba
