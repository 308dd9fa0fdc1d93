// The rows of the per-energy values (see value_rows.h).
#include "results/value_rows.h"

#include <cmath>
#include <cstdio>

#include "numerics/average_field.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

std::string Formatted(double value, int digits) {
  return FormatNumber(value, Significant(digits));
}

}  // namespace

void ValueRows::Add(std::string key, std::string title, std::vector<double> values, int digits,
                    std::string missing) {
  if (values.size() > RowCount()) values.resize(RowCount());
  columns_.push_back(ValueColumn{
      std::move(key), std::move(title), std::move(values), digits, std::move(missing), {}});
}

void ValueRows::AddText(std::string key, std::string title, std::vector<std::string> texts) {
  texts.resize(RowCount());
  for (std::string& text : texts)
    for (char& c : text)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  ValueColumn column{std::move(key), std::move(title), {}, 0, {}, std::move(texts)};
  columns_.push_back(std::move(column));
}

void ValueRows::MarkNotClosed(size_t row) {
  closed_.at(row) = false;
}

size_t ValueRows::Find(const std::string& key) const {
  for (size_t c = 0; c < columns_.size(); ++c)
    if (columns_[c].key == key) return c;
  return columns_.size();
}

double ValueRows::Value(size_t row, size_t column) const {
  const ValueColumn& c = columns_.at(column);
  return row < c.values.size() && !std::isnan(c.values[row]) ? c.values[row] : kNoValue;
}

// NaN: a cell that has nothing to show (a tune of an energy without an orbit).
bool ValueRows::Empty(size_t row, size_t column) const {
  const ValueColumn& c = columns_.at(column);
  return row < c.values.size() && std::isnan(c.values[row]);
}

std::string ValueRows::Cell(size_t row, size_t column) const {
  if (!columns_.at(column).texts.empty()) return columns_[column].texts[row];
  if (Empty(row, column)) return {};
  const double value = Value(row, column);
  if (value == kNoValue) return columns_.at(column).missing;
  return Formatted(value, columns_[column].digits);
}

std::string ValueRows::ExactCell(size_t row, size_t column) const {
  if (!columns_.at(column).texts.empty()) return columns_[column].texts[row];
  if (Empty(row, column)) return {};
  const double value = Value(row, column);
  if (value == kNoValue) return columns_.at(column).missing;
  return Formatted(value, 17);
}

std::string ValueRows::TabSeparated(std::span<const size_t> rows) const {
  std::string text;
  for (size_t c = 0; c < columns_.size(); ++c) text += (c ? "\t" : "") + columns_[c].key;
  text += '\n';
  auto line = [&](size_t row) {
    for (size_t c = 0; c < columns_.size(); ++c) {
      if (c) text += '\t';
      text += ExactCell(row, c);
    }
    text += '\n';
  };
  if (rows.empty()) {
    for (size_t row = 0; row < RowCount(); ++row) line(row);
  } else {
    for (size_t row : rows)
      if (row < RowCount()) line(row);
  }
  return text;
}

}  // namespace zuba
