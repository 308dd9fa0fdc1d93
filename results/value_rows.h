// The per-energy values of a run as the rows of a table: one row per energy, one column per
// quantity, each column with the name of its column in the values file, a heading for the screen,
// the digits it is shown with and the text that stands for a missing value. The desktop program's
// results table shows it and copies it as tab-separated text; the command line and the tests read
// the same rows. Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/numbers.h"

namespace zuba {

struct ValueColumn {
  std::string key;                 // the column's name in the values file ("Rmn_m")
  std::string title;               // its heading on screen ("Rmn (m)")
  std::vector<double> values;      // per energy; kNoValue (2147483647.0) or none where missing,
                                   // NaN where the cell is empty (nothing to show, not missing)
  int digits = 6;                  // significant digits shown on screen
  std::string missing;             // the text of a missing value ("unstable" for a tune)
  std::vector<std::string> texts;  // a column of words instead of numbers (a status, a reason)
};

class ValueRows {
 public:
  explicit ValueRows(size_t rowCount = 0) : closed_(rowCount, true) {}

  // Appends a column. Values beyond the rows are dropped; rows beyond the values are missing.
  void Add(std::string key, std::string title, std::vector<double> values, int digits,
           std::string missing = {});
  // Appends a column of texts, shown and copied as they are (tabs and line breaks become spaces).
  void AddText(std::string key, std::string title, std::vector<std::string> texts);
  // Marks a row whose orbit was not closed (its values are not an equilibrium orbit's).
  void MarkNotClosed(size_t row);

  size_t RowCount() const { return closed_.size(); }
  size_t ColumnCount() const { return columns_.size(); }
  const ValueColumn& Column(size_t column) const { return columns_.at(column); }
  // The column of that values-file name; ColumnCount() when there is none.
  size_t Find(const std::string& key) const;
  bool Closed(size_t row) const { return closed_.at(row); }

  // The value of a cell; kNoValue where it is missing or empty or the column holds texts.
  double Value(size_t row, size_t column) const;
  // Whether the cell is empty (NaN given): it shows nothing, not the missing text.
  bool Empty(size_t row, size_t column) const;
  // The cell as shown: the column's digits, its missing text for a missing value.
  std::string Cell(size_t row, size_t column) const;
  // The cell with 17 significant digits, as the values file writes it.
  std::string ExactCell(size_t row, size_t column) const;
  // Tab-separated text: a line of the columns' values-file names, then one line per given row
  // (every row when none is given) of exact cells.
  std::string TabSeparated(std::span<const size_t> rows = {}) const;

 private:
  std::vector<ValueColumn> columns_;
  std::vector<bool> closed_;
};

}  // namespace zuba
