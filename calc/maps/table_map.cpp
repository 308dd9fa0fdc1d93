// The column table: one node a row (R, theta, B_z in named or given units), any row order.
#include "calc/maps/table_map.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "calc/maps/map_formats.h"
#include "numerics/units.h"

namespace zuba {
namespace {

enum class Column { R, Theta, Bz };

struct ColumnName {
  const char* name;
  Column column;
  int unit;  // RadiusUnit, AngleUnit or FieldUnit as int; 0 for a bare name
};

constexpr ColumnName kColumnNames[] = {
    {"r", Column::R, 0},
    {"r_m", Column::R, static_cast<int>(RadiusUnit::Metre)},
    {"r_mm", Column::R, static_cast<int>(RadiusUnit::Millimetre)},
    {"theta", Column::Theta, 0},
    {"theta_deg", Column::Theta, static_cast<int>(AngleUnit::Degree)},
    {"theta_rad", Column::Theta, static_cast<int>(AngleUnit::Radian)},
    {"bz", Column::Bz, 0},
    {"bz_t", Column::Bz, static_cast<int>(FieldUnit::Tesla)},
    {"bz_gs", Column::Bz, static_cast<int>(FieldUnit::Gauss)},
    {"bz_kg", Column::Bz, static_cast<int>(FieldUnit::Kilogauss)},
    {"b", Column::Bz, 0},
    {"b_t", Column::Bz, static_cast<int>(FieldUnit::Tesla)},
    {"b_gs", Column::Bz, static_cast<int>(FieldUnit::Gauss)},
    {"b_kg", Column::Bz, static_cast<int>(FieldUnit::Kilogauss)},
};

const ColumnName* FindColumnName(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const ColumnName& n : kColumnNames)
    if (lower == n.name) return &n;
  return nullptr;
}

// The distinct values of a column, ascending; values closer than a billionth of the column's span
// are one value (the first of them).
std::vector<double> DistinctValues(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const double scale = std::max(
      {std::fabs(values.front()), std::fabs(values.back()), values.back() - values.front()});
  const double tolerance = 1e-9 * scale;
  std::vector<double> distinct;
  for (double v : values)
    if (distinct.empty() || v - distinct.back() > tolerance) distinct.push_back(v);
  return distinct;
}

// Index of the distinct value that v belongs to.
size_t IndexOf(const std::vector<double>& distinct, double v) {
  const double scale = std::max({std::fabs(distinct.front()), std::fabs(distinct.back()),
                                 distinct.back() - distinct.front()});
  const auto it = std::upper_bound(distinct.begin(), distinct.end(), v + 1e-9 * scale);
  return static_cast<size_t>(it - distinct.begin()) - 1;
}

// A table's header: two or more column names.
bool LooksLikeTableHeader(std::string_view line) {
  std::vector<std::string_view> fields;
  SplitFields(line, SeparatorOf(line), fields);
  int names = 0;
  for (std::string_view f : fields)
    if (FindColumnName(f) != nullptr) ++names;
  return names >= 2;
}

// The number of fields of a table row: three or more, all numbers; 0 for any other line.
size_t TableRowFields(std::string_view line) {
  std::vector<std::string_view> fields;
  SplitFields(line, SeparatorOf(line), fields);
  for (std::string_view f : fields) {
    double v = 0;
    if (!ReadFileNumber(f, v)) return 0;
  }
  return fields.size() >= 3 ? fields.size() : 0;
}

const char* UnitOption(Column column) {
  return column == Column::R ? "--r-unit" : column == Column::Theta ? "--theta-unit" : "--b-unit";
}

const char* const kUnitNames[3][4] = {
    {"", "m", "mm", ""}, {"", "deg", "rad", ""}, {"", "T", "Gs", "kG"}};
const char* const kColumnWhat[3] = {"R", "theta", "B_z"};

// Where R, theta and B_z stand in a row and their units (RadiusUnit, AngleUnit and FieldUnit as
// int; 0 while no unit is known).
struct TableColumns {
  size_t index[3] = {0, 1, 2};
  int unit[3] = {0, 0, 0};
};

// The columns a header names: each of R, theta and B_z once; columns of other names are passed
// over.
Result<TableColumns> HeaderColumns(const std::vector<std::string_view>& fields, int64_t headerLine,
                                   std::string_view name) {
  TableColumns columns;
  bool found[3] = {false, false, false};
  for (size_t i = 0; i < fields.size(); ++i) {
    const ColumnName* n = FindColumnName(fields[i]);
    if (n == nullptr) continue;  // a column of something else
    const int k = static_cast<int>(n->column);
    if (found[k])
      return RefuseMapFile(name, LineText(headerLine) + "two columns of " + kColumnWhat[k] + ": " +
                                     Quoted(fields[columns.index[k]]) + " and " +
                                     Quoted(fields[i]));
    found[k] = true;
    columns.index[k] = i;
    columns.unit[k] = n->unit;
  }
  for (int k = 0; k < 3; ++k)
    if (!found[k])
      return RefuseMapFile(name, LineText(headerLine) + "no column of " + kColumnWhat[k] +
                                     " in the header; the columns are named r_m or r_mm, theta_deg "
                                     "or theta_rad, bz_T, bz_Gs or bz_kG");
  return columns;
}

// The unit of every column: the header's, else the option's; a header and an option that
// disagree, or a column of no unit, are refused.
Outcome SettleUnits(TableColumns& columns, bool hasHeader, int64_t headerLine,
                    const MapReadingOptions& options, std::string_view name) {
  const int given[3] = {static_cast<int>(options.rUnit), static_cast<int>(options.thetaUnit),
                        static_cast<int>(options.bUnit)};
  int* const unit = columns.unit;
  std::string missing;
  for (int k = 0; k < 3; ++k) {
    if (unit[k] != 0 && given[k] != 0 && unit[k] != given[k])
      return RefuseMapFile(name, LineText(headerLine) + "the header gives " + kColumnWhat[k] +
                                     " in " + kUnitNames[k][unit[k]] + ", " +
                                     UnitOption(static_cast<Column>(k)) + " says " +
                                     kUnitNames[k][given[k]]);
    if (unit[k] == 0) unit[k] = given[k];
    if (unit[k] == 0)
      missing += std::string(missing.empty() ? "" : ", ") + UnitOption(static_cast<Column>(k));
  }
  if (!missing.empty())
    return RefuseMapFile(name, LineText(headerLine) +
                                   (hasHeader ? "the header does not give the unit of every column"
                                              : "no header names the columns") +
                                   "; give " + missing);
  return {};
}

// The columns and units of a table whose first row is `fields`: a header's, or R, theta and B_z
// in the first three columns of a table without one.
Result<TableColumns> ColumnsOfTable(const std::vector<std::string_view>& fields, bool hasHeader,
                                    int64_t headerLine, const MapReadingOptions& options,
                                    std::string_view name) {
  TableColumns columns;
  if (hasHeader) {
    Result<TableColumns> named = HeaderColumns(fields, headerLine, name);
    if (!named) return named.outcome();
    columns = *named;
  } else if (fields.size() < 3) {
    return RefuseMapFile(name, LineText(headerLine) +
                                   "expected three columns R, theta and B_z, found " +
                                   std::to_string(fields.size()));
  }
  if (Outcome units = SettleUnits(columns, hasHeader, headerLine, options, name); !units)
    return units;
  return columns;
}

struct Row {
  double r, theta, b;  // the file's units
  int64_t line;
};

// Reads one row into `rows`; the refusal's text, or an empty text.
std::string ReadTableRow(std::string_view text, int64_t line, Separator separator,
                         const TableColumns& columns, std::vector<std::string_view>& fields,
                         std::vector<Row>& rows) {
  const size_t* const index = columns.index;
  const size_t needed = std::max({index[0], index[1], index[2]}) + 1;
  SplitFields(text, separator, fields);
  if (fields.size() < needed)
    return LineText(line) + "expected " + std::to_string(needed) + " columns, found " +
           std::to_string(fields.size());
  double v[3] = {};
  for (int k = 0; k < 3; ++k)
    if (!ReadFileNumber(fields[index[k]], v[k]))
      return LineText(line) + "column " + std::to_string(index[k] + 1) + " (" + kColumnWhat[k] +
             "): expected a number, found " + Quoted(fields[index[k]]);
  rows.push_back({v[0], v[1], v[2], line});
  return {};
}

// The rows of nodes from the line after `line` on (from `line` itself in a table without header).
Result<std::vector<Row>> ReadTableRows(Lines& lines, std::string_view line, bool hasHeader,
                                       Separator separator, const TableColumns& columns,
                                       std::string_view name) {
  std::vector<Row> rows;
  std::vector<std::string_view> fields;
  if (!hasHeader)
    if (std::string e = ReadTableRow(line, lines.number(), separator, columns, fields, rows);
        !e.empty())
      return RefuseMapFile(name, e);
  while (lines.Next(line)) {
    if (IsTableComment(line)) continue;
    if (std::string e = ReadTableRow(line, lines.number(), separator, columns, fields, rows);
        !e.empty())
      return RefuseMapFile(name, e);
  }
  if (rows.empty()) return RefuseMapFile(name, "the file holds no rows of nodes after its header");
  return rows;
}

// The mesh of a table in the file's units: the distinct radii and azimuths, the azimuths equally
// spaced by `step`.
struct TableMesh {
  std::vector<double> radii;
  std::vector<double> azimuths;
  double step = 0;
};

Result<TableMesh> MeshOfRows(const std::vector<Row>& rows, const std::string& rUnit,
                             const std::string& thetaUnit, std::string_view name) {
  TableMesh mesh;
  std::vector<double> values(rows.size());
  std::transform(rows.begin(), rows.end(), values.begin(), [](const Row& w) { return w.r; });
  mesh.radii = DistinctValues(values);
  std::transform(rows.begin(), rows.end(), values.begin(), [](const Row& w) { return w.theta; });
  mesh.azimuths = DistinctValues(std::move(values));
  const std::vector<double>& azimuths = mesh.azimuths;
  if (azimuths.size() < 2)
    return RefuseMapFile(name, "every row has the azimuth " + MessageNumber(azimuths.front()) +
                                   " " + thetaUnit + ": a map needs azimuths at equal steps");
  const double step =
      (azimuths.back() - azimuths.front()) / static_cast<double>(azimuths.size() - 1);
  for (size_t j = 1; j + 1 < azimuths.size(); ++j) {
    const double expected = azimuths.front() + static_cast<double>(j) * step;
    if (std::fabs(azimuths[j] - expected) > 1e-6 * step)
      return RefuseMapFile(
          name, "the azimuths are not equally spaced: " + MessageNumber(azimuths[j]) + " " +
                    thetaUnit + " where the step " + MessageNumber(step) + " from " +
                    MessageNumber(azimuths.front()) + " puts " + MessageNumber(expected));
  }
  if (mesh.radii.front() < 0)
    return RefuseMapFile(
        name, "the radius " + MessageNumber(mesh.radii.front()) + " " + rUnit + " is negative");
  mesh.step = step;
  return mesh;
}

using NodeRows = std::vector<std::pair<int64_t, int64_t>>;  // node, row; by node

// Every node of the mesh once: the rows sorted by node, compared with the nodes in order.
Result<NodeRows> NodesOfRows(const std::vector<Row>& rows, const TableMesh& mesh,
                             const std::string& rUnit, const std::string& thetaUnit,
                             std::string_view name) {
  const std::vector<double>& radii = mesh.radii;
  const std::vector<double>& azimuths = mesh.azimuths;
  const int64_t nR = static_cast<int64_t>(radii.size());
  const int64_t nTheta = static_cast<int64_t>(azimuths.size());
  NodeRows nodes(rows.size());
  for (size_t i = 0; i < rows.size(); ++i)
    nodes[i] = {static_cast<int64_t>(IndexOf(radii, rows[i].r)) * nTheta +
                    static_cast<int64_t>(IndexOf(azimuths, rows[i].theta)),
                static_cast<int64_t>(i)};
  std::sort(nodes.begin(), nodes.end());
  auto nodeText = [&](int64_t node) {
    return "R = " + MessageNumber(radii[node / nTheta]) + " " + rUnit +
           ", theta = " + MessageNumber(azimuths[node % nTheta]) + " " + thetaUnit;
  };
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (i > 0 && nodes[i].first == nodes[i - 1].first) {
      const Row& earlier = rows[std::min(nodes[i].second, nodes[i - 1].second)];
      const Row& later = rows[std::max(nodes[i].second, nodes[i - 1].second)];
      return RefuseMapFile(name, LineText(later.line) + "repeats the node " +
                                     nodeText(nodes[i].first) + " of line " +
                                     std::to_string(earlier.line));
    }
    const int64_t expected = i == 0 ? 0 : nodes[i - 1].first + 1;
    if (nodes[i].first != expected)
      return RefuseMapFile(name, "no row for the node " + nodeText(expected) + " of the mesh of " +
                                     std::to_string(nR) + " radii x " + std::to_string(nTheta) +
                                     " azimuths");
  }
  if (nodes.back().first != nR * nTheta - 1)
    return RefuseMapFile(name, "no row for the node " + nodeText(nodes.back().first + 1) +
                                   " of the mesh of " + std::to_string(nR) + " radii x " +
                                   std::to_string(nTheta) + " azimuths");
  return nodes;
}

// The map of the rows, in SI units.
GivenMap GivenMapOfRows(const std::vector<Row>& rows, const TableMesh& mesh, const NodeRows& nodes,
                        const TableColumns& columns) {
  const int* const unit = columns.unit;
  const double rScale = unit[0] == static_cast<int>(RadiusUnit::Millimetre) ? 0.001 : 1.0;
  const double thetaScale = unit[1] == static_cast<int>(AngleUnit::Degree) ? Radians(1) : 1.0;
  const double bScale = unit[2] == static_cast<int>(FieldUnit::Gauss)       ? 1e-4
                        : unit[2] == static_cast<int>(FieldUnit::Kilogauss) ? 0.1
                                                                            : 1.0;
  GivenMap g;
  g.unit = kUnitNames[2][unit[2]];
  g.field.resize(nodes.size());
  for (const auto& [node, row] : nodes) g.field[node] = rows[row].b * bScale;
  g.radii.resize(mesh.radii.size());
  for (size_t i = 0; i < mesh.radii.size(); ++i) g.radii[i] = mesh.radii[i] * rScale;
  g.thetaMin = mesh.azimuths.front() * thetaScale;
  g.dTheta = mesh.step * thetaScale;
  g.dThetaDegrees = Degrees(g.dTheta);
  if (unit[1] == static_cast<int>(AngleUnit::Degree)) g.dThetaDegrees = mesh.step;
  g.nTheta = static_cast<int32_t>(mesh.azimuths.size());
  return g;
}

}  // namespace

// From the line on: a table's header, or rows of the same number of fields (up to five of them
// are looked at; a *.sdf map that lost its unit token has rows of 3, 3 and then 10 numbers).
bool LooksLikeTable(std::string_view line, Lines& lines) {
  if (LooksLikeTableHeader(line)) return true;
  const size_t fields = TableRowFields(line);
  if (fields == 0) return false;
  for (int k = 0; k < 4 && lines.Next(line); ++k) {
    if (IsTableComment(line)) continue;
    if (TableRowFields(line) != fields) return false;
  }
  return true;
}

Result<FieldMap> ParseTableMap(std::string_view bytes, std::string_view name,
                               const MapReadingOptions& options) {
  Lines lines(bytes);
  std::string_view line;
  do {
    if (!lines.Next(line)) return RefuseMapFile(name, "the file holds no rows of nodes");
  } while (IsTableComment(line));

  const Separator separator = SeparatorOf(line);
  std::vector<std::string_view> fields;
  SplitFields(line, separator, fields);
  bool hasHeader = false;
  for (std::string_view f : fields) {
    double v = 0;
    if (!ReadFileNumber(f, v)) hasHeader = true;
  }
  const Result<TableColumns> columns =
      ColumnsOfTable(fields, hasHeader, lines.number(), options, name);
  if (!columns) return columns.outcome();
  const Result<std::vector<Row>> rows =
      ReadTableRows(lines, line, hasHeader, separator, *columns, name);
  if (!rows) return rows.outcome();

  const std::string rUnit = kUnitNames[0][columns->unit[0]];
  const std::string thetaUnit = kUnitNames[1][columns->unit[1]];
  const Result<TableMesh> mesh = MeshOfRows(*rows, rUnit, thetaUnit, name);
  if (!mesh) return mesh.outcome();
  const Result<NodeRows> nodes = NodesOfRows(*rows, *mesh, rUnit, thetaUnit, name);
  if (!nodes) return nodes.outcome();
  return CompleteMap(GivenMapOfRows(*rows, *mesh, *nodes, *columns), name, MapFormat::Table,
                     options);
}

}  // namespace zuba
