// The rows of the desktop program's results table against the values file: the same cells under
// the same column names, the tunes only after a precise run, and the rows of orbits that were not
// closed marked.
#include "calc/run/values_table.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "numerics/average_field.h"
#include "numerics/constants.h"

namespace zuba {
namespace {

ResultTables Record(bool precise) {
  ResultTables r;
  const double MeV = 1.0e6 * kElementaryCharge;
  r.Ek = RealTable({0.6 * MeV, 1.2 * MeV, 1.8 * MeV, 2.4 * MeV});
  r.Rmn = RealTable({0.0649, 0.0918, 0.1124, 0.1297});
  r.Bmn = RealTable({1.7236, 1.7247, 1.7258, 1.7269});
  r.Rev = RealTable({0.06495, 0.09183, 0.11245, 0.12982});
  r.F0 = RealTable({26260014.53, 26260045.06, 26260125.09, 26260253.33});
  r.dReo = RealTable({1.5e-8, 1.4e-7, 6.5e-7, 1.8e-8});
  r.run.Frf = 26.26;
  r.run.H = 1;
  r.run.dEk = 0.6;
  if (precise) {
    r.closure.mode = 1;
    r.closure.gainPerTurn = 0.1;
    r.closure.isochronism = RealTable({5.5e-7, 1.7e-6, 4.8e-6, 9.6e-6});
    r.closure.phaseDeg = RealTable({0, -0.0012, -0.0049, -0.0152});
    r.closure.nuR = RealTable({1.001, 1.004, kNoValue, 1.012});
    r.closure.nuZ = RealTable({0.05, 0.1, 0.14, 0.17});
    r.closure.status = IntTable({0, 0, kRadialUnstable, 0});
  }
  return r;
}

// A tab-separated text as its header and its rows of cells.
struct Sheet {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};
Sheet Parse(const std::string& text) {
  Sheet sheet;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream split(line);
    while (std::getline(split, cell, '\t')) cells.push_back(cell);
    if (!line.empty() && line.back() == '\t') cells.push_back("");
    if (sheet.header.empty())
      sheet.header = cells;
    else
      sheet.rows.push_back(cells);
  }
  return sheet;
}

TEST(ValueRows, CellsAreThoseOfTheValuesFileUnderTheSameNames) {
  for (bool precise : {false, true}) {
    SCOPED_TRACE(precise ? "precise run" : "default run");
    const ResultTables r = Record(precise);
    const ValueRows rows = ValueRowsOf(r);
    const Sheet table = Parse(rows.TabSeparated());
    const Sheet file = Parse(ValuesFileOf(r));
    ASSERT_EQ(rows.RowCount(), 4u);
    ASSERT_EQ(table.rows.size(), file.rows.size());
    std::map<std::string, size_t> fileColumn;
    for (size_t c = 0; c < file.header.size(); ++c) fileColumn[file.header[c]] = c;
    for (size_t c = 0; c < table.header.size(); ++c) {
      ASSERT_TRUE(fileColumn.count(table.header[c])) << table.header[c];
      for (size_t i = 0; i < table.rows.size(); ++i)
        EXPECT_EQ(table.rows[i][c], file.rows[i][fileColumn[table.header[c]]])
            << table.header[c] << " row " << i;
    }
    // Every column of the file but the energy in joules, the tunes only after a precise run; the
    // status and the reason last in both.
    const bool tunes =
        rows.Find("nu_r") < rows.ColumnCount() && rows.Find("nu_z") < rows.ColumnCount();
    EXPECT_EQ(tunes, precise);
    EXPECT_EQ(table.header.size(), precise ? file.header.size() - 1 : file.header.size() - 3);
    EXPECT_EQ(file.header[file.header.size() - 2], "status");
    EXPECT_EQ(file.header.back(), "reason");
  }
}

TEST(ValueRows, RowsOfOrbitsNotClosedAreMarkedAndMissingValuesShownAsSuch) {
  ResultTables standard = Record(false);
  standard.Rmn.set(2, kNoValue);
  ResultTables precise = Record(true);
  precise.closure.status.set(1, 1);  // not converged
  struct Case {
    const char* name;
    const ResultTables& record;
    std::vector<bool> closed;
  } cases[] = {{"no radius", standard, {true, true, false, true}},
               {"precise closure failed", precise, {true, false, true, true}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ValueRows rows = ValueRowsOf(c.record);
    for (size_t i = 0; i < rows.RowCount(); ++i) EXPECT_EQ(rows.Closed(i), c.closed[i]) << i;
  }
  EXPECT_EQ(ValueRowsOf(standard).Cell(2, ValueRowsOf(standard).Find("Rmn_m")), "");
  const ValueRows rows = ValueRowsOf(precise);
  EXPECT_EQ(rows.Cell(2, rows.Find("nu_r")), "unstable");  // unstable, yet closed
  EXPECT_EQ(rows.Cell(0, rows.Find("F0_Hz")), "26260014.53");
  // The values file gives such an energy alone, its other cells empty up to its status.
  const Sheet file = Parse(ValuesFileOf(precise));
  ASSERT_EQ(file.rows.size(), 4u);
  ASSERT_EQ(file.rows[1].size(), file.header.size());
  ASSERT_EQ(file.header[file.header.size() - 2], "status");
  for (size_t k = 2; k + 2 < file.header.size(); ++k) EXPECT_EQ(file.rows[1][k], "") << k;
  EXPECT_EQ(file.rows[1][file.header.size() - 2], "not_closed");
  EXPECT_EQ(file.rows[0][2], "0.064899999999999999");
}

TEST(ValueRows, ChosenRowsAreCopiedUnderTheHeaderInTheirOrder) {
  const ValueRows rows = ValueRowsOf(Record(false));
  const std::vector<size_t> chosen = {3, 1, 9};  // a row beyond the table is left out
  const Sheet all = Parse(rows.TabSeparated());
  const Sheet some = Parse(rows.TabSeparated(chosen));
  EXPECT_EQ(some.header, all.header);
  ASSERT_EQ(some.rows.size(), 2u);
  EXPECT_EQ(some.rows[0], all.rows[3]);
  EXPECT_EQ(some.rows[1], all.rows[1]);
}

TEST(ValueRows, TextColumnsAreShownAndCopiedAsTheyAre) {
  ValueRows rows = ValueRowsOf(Record(false));
  rows.AddText("note", "Note", {"closed", "not closed\tdiverged", "closed"});
  const size_t status = rows.Find("note");
  ASSERT_LT(status, rows.ColumnCount());
  EXPECT_EQ(rows.Cell(1, status), "not closed diverged");  // the tab would break the copy
  EXPECT_EQ(rows.ExactCell(0, status), "closed");
  EXPECT_EQ(rows.Cell(3, status), "");  // a row beyond the texts
  const Sheet copy = Parse(rows.TabSeparated());
  EXPECT_EQ(copy.header.back(), "note");
  EXPECT_EQ(copy.rows[1].back(), "not closed diverged");
}

// Both closures end every row of the values file with the energy's status and reason, and show
// only what the energy has: no value where the precise closure failed or Rev does not exist, no
// tune without an orbit ("unstable" only on an orbit whose motion grows); the results table marks
// the energies the default search did not accept as it marks a failed precise closure, and names
// the gain per turn of the phase slip.
TEST(ValuesFile, StatusAndReasonEndEveryRowAndMissingValuesStayEmpty) {
  ResultTables standard = Record(false);
  standard.dReo.set(1, 0.0031);  // the search ran out of trials at 1.2 MeV
  standard.closure.gainPerTurn = 2.5;
  ResultTables precise = Record(true);
  precise.closure.status = IntTable({0, 3, kRadialUnstable, 0});
  precise.closure.reasons = {"", "the orbit needs the field below the map (R = 0.02 m)", "",
                             "no Rev: the average-field radius correction does not settle"};
  for (auto* table : {&precise.Rmn, &precise.Bmn, &precise.Rev, &precise.F0, &precise.dReo})
    table->set(1, kNoValue);
  precise.closure.nuR.set(1, kNoValue);
  precise.closure.nuZ.set(1, kNoValue);
  precise.Rev.set(3, kNoValue);
  struct Case {
    const char* name;
    const ResultTables& record;
    std::vector<std::string> status, reasonStart, rev, nuR;
    std::vector<bool> closed;
    const char* phaseTitle;
  } cases[] = {{"default search",
                standard,
                {"closed", "not_accepted", "closed", "closed"},
                {"", "the search did not close the orbit to 0.0005 m within 100 trials", "", ""},
                {"0.064949999999999994", "0.091829999999999995", "0.11244999999999999",
                 "0.12981999999999999"},
                {"", "", "", ""},
                {true, false, true, true},
                "Phase (RF deg, 2.5 MeV/turn)"},
               {"precise closure",
                precise,
                {"closed", "failed", "closed", "closed"},
                {"", "the orbit needs the field below", "", "no Rev:"},
                {"0.064949999999999994", "", "0.11244999999999999", ""},
                {"1.0009999999999999", "", "unstable", "1.012"},
                {true, false, true, true},
                "Phase (RF deg, 0.1 MeV/turn)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Sheet file = Parse(ValuesFileOf(c.record));
    ASSERT_EQ(file.rows.size(), 4u);
    const ValueRows rows = ValueRowsOf(c.record);
    for (size_t i = 0; i < 4; ++i) {
      const std::vector<std::string>& row = file.rows[i];
      ASSERT_EQ(row.size(), file.header.size()) << i;
      EXPECT_EQ(row[row.size() - 2], c.status[i]) << i;
      EXPECT_EQ(row.back().rfind(c.reasonStart[i], 0), 0u) << i << " " << row.back();
      EXPECT_EQ(row.back().empty(), c.reasonStart[i].empty()) << i;
      EXPECT_EQ(row[4], c.rev[i]) << i;  // Rev_m
      EXPECT_EQ(row[9], c.nuR[i]) << i;  // nu_r
      EXPECT_EQ(rows.Closed(i), c.closed[i]) << i;
      EXPECT_EQ(rows.Cell(i, rows.Find("status")), c.status[i]) << i;
    }
    const size_t nuR = rows.Find("nu_r");
    if (nuR < rows.ColumnCount()) {
      EXPECT_EQ(rows.Cell(1, nuR), "");  // no orbit: no tune
      EXPECT_EQ(rows.Cell(2, nuR), "unstable");
    }
    EXPECT_EQ(rows.Column(rows.Find("phase_deg")).title, c.phaseTitle);
  }
}

}  // namespace
}  // namespace zuba

namespace zuba {
namespace {

TEST(CompareRecords, DifferencesAtTheEnergiesBothHold) {
  const ResultTables a = Record(true);
  ResultTables b = Record(true);
  // b lacks the first energy, has an unstable vertical tune at the last and a closure that failed
  // at the second.
  const double MeV = 1.0e6 * kElementaryCharge;
  b.Ek = RealTable({1.2 * MeV, 1.8 * MeV, 2.4 * MeV});
  b.closure.isochronism = RealTable({1.0e-6, 4.0e-6, 9.0e-6});
  b.closure.nuR = RealTable({1.003, 1.005, 1.010});
  b.closure.nuZ = RealTable({0.11, 0.13, kNoValue});
  b.closure.status = IntTable({3, 0, kVerticalUnstable});
  b.closure.phaseDeg = RealTable({0, 0, 0});
  const ComparisonColumns d = CompareRecords(a, b);
  ASSERT_EQ(d.isochronism.size(), 4u);
  EXPECT_EQ(d.isochronism[0], kNoValue);  // not in b
  EXPECT_EQ(d.isochronism[1], kNoValue);  // b did not close there
  EXPECT_NEAR(d.isochronism[2], 4.8e-6 - 4.0e-6, 1e-18);
  EXPECT_NEAR(d.isochronism[3], 9.6e-6 - 9.0e-6, 1e-18);
  EXPECT_EQ(d.nuR[2], kNoValue);  // a is radially unstable there
  EXPECT_NEAR(d.nuZ[2], 0.14 - 0.13, 1e-15);
  EXPECT_NEAR(d.nuR[3], 1.012 - 1.010, 1e-15);
  EXPECT_EQ(d.nuZ[3], kNoValue);  // b vertically unstable
  // The table's columns follow the record's own.
  const ValueRows rows = ComparedValueRows(a, b);
  EXPECT_EQ(rows.Column(rows.ColumnCount() - 3).key, "d_isochronism");
  EXPECT_EQ(rows.Column(rows.ColumnCount() - 1).key, "d_nu_z");
  EXPECT_EQ(rows.Value(3, rows.Find("d_nu_r")), d.nuR[3]);
}

}  // namespace
}  // namespace zuba
