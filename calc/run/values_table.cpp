// The per-energy values of a run (see values_table.h).
#include "calc/run/values_table.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <vector>

#include "numerics/average_field.h"
#include "numerics/constants.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

std::string Digits17(double value) {
  return FormatNumber(value, Significant(17));
}

// A tune cell: empty without tunes (default closure), "unstable" where the motion grows.
std::string TuneCell(const std::vector<double>& tunes, int64_t i) {
  if (i >= std::ssize(tunes)) return "";
  return tunes[i] == kNoValue ? "unstable" : Digits17(tunes[i]);
}

// A cell of a per-energy column: empty where the column has no value for the energy.
std::string Cell(const std::vector<double>& column, int64_t i) {
  return i < std::ssize(column) && column[i] != kNoValue ? Digits17(column[i]) : "";
}

}  // namespace

// The values table: a header line, then one row per energy, 17 significant digits, and last its
// status and reason. An energy of a precise run that did not close has its energy, empty cells and
// its status and reason.
std::string ValuesTable(const ResultTables& r, const ClosureColumns& closure) {
  std::string text;
  for (const char* name : kValueColumns) text += std::string(text.empty() ? "" : "\t") + name;
  text += "\tstatus\treason\n";
  // The status and reason cells that end a row; a reason stays on its line and in its cell.
  auto verdict = [&closure](int64_t i) {
    std::string reason = i < std::ssize(closure.reasons) ? closure.reasons[i] : std::string();
    for (char& c : reason)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return '\t' + std::string(closure.StatusText(i)) + '\t' + reason + '\n';
  };
  for (int64_t i = 0; i < r.Ek.size(); ++i) {
    text += Digits17(r.Ek[i]) + '\t' + Digits17(JoulesToMeV(r.Ek[i]));
    if (!closure.HasValues(i)) {
      text += std::string(std::size(kValueColumns) - kEnergyColumns, '\t') + verdict(i);
      continue;
    }
    // A value the energy does not have (a precise orbit's Rev where its correction does not exist)
    // is an empty cell.
    for (double value : {r.Rmn[i], r.Bmn[i], r.Rev[i], r.F0[i], r.dReo[i]})
      text += '\t' + (value == kNoValue ? std::string() : Digits17(value));
    text += '\t' + (i < std::ssize(closure.isochronism) ? Digits17(closure.isochronism[i]) : "");
    text += '\t' + (i < std::ssize(closure.phaseDeg) ? Digits17(closure.phaseDeg[i]) : "");
    text += '\t' + TuneCell(closure.nuR, i);
    text += '\t' + TuneCell(closure.nuZ, i);
    text += '\t' + Cell(closure.consistency, i);
    text += '\t' + Cell(closure.vrResidual, i);
    text += verdict(i);
  }
  return text;
}

std::string ValuesFileOf(const ResultTables& r) {
  return ValuesTable(r, ClosureColumnsOf(r, kDefaultGainPerTurnMeV));
}

ValueRows ValueRowsOf(const ResultTables& r, double gainPerTurnMeV) {
  ClosureColumns closure = ClosureColumnsOf(r, gainPerTurnMeV);
  // A tune cell of an energy without an orbit is empty; "unstable" only where an orbit exists and
  // its motion grows.
  const double empty = std::numeric_limits<double>::quiet_NaN();
  for (auto* tunes : {&closure.nuR, &closure.nuZ})
    for (size_t i = 0; i < tunes->size(); ++i)
      if (!closure.HasValues(static_cast<int64_t>(i))) (*tunes)[i] = empty;
  std::vector<double> ekMeV = r.Ek.toVector();
  for (double& e : ekMeV) e = JoulesToMeV(e);

  // One line per column; the values-file name first.
  ValueRows rows(static_cast<size_t>(r.Ek.size()));
  rows.Add("Ek_MeV", "Ek (MeV)", ekMeV, 6);
  rows.Add("Rmn_m", "Rmn (m)", r.Rmn.toVector(), 7);
  rows.Add("Bmn_T", "Bmn (T)", r.Bmn.toVector(), 7);
  rows.Add("Rev_m", "Rev (m)", r.Rev.toVector(), 7);
  rows.Add("F0_Hz", "F0 (Hz)", r.F0.toVector(), 10);
  rows.Add("dReo_m", "dReo (m)", r.dReo.toVector(), 3);
  rows.Add("isochronism", "F0*H/Frf - 1", closure.isochronism, 4);
  rows.Add("phase_deg", PhaseTitle(closure.gainPerTurn), closure.phaseDeg, 4);
  if (closure.precise) {
    rows.Add("nu_r", "nu_r", closure.nuR, 6, "unstable");
    rows.Add("nu_z", "nu_z", closure.nuZ, 6, "unstable");
  }
  rows.Add("consistency", "Consistency", closure.consistency, 3);
  rows.Add("vr_residual", "vR residual (m/rad)", closure.vrResidual, 3);
  // The verdict on every energy (the precise closure's status, or whether the default search
  // accepted its orbit), and why an energy did not close.
  std::vector<std::string> status(static_cast<size_t>(r.Ek.size()));
  for (size_t i = 0; i < status.size(); ++i)
    status[i] = std::string(closure.StatusText(static_cast<int64_t>(i)));
  rows.AddText("status", "Status", std::move(status));
  std::vector<std::string> reasons = closure.reasons;
  reasons.resize(static_cast<size_t>(r.Ek.size()));
  rows.AddText("reason", "Reason", std::move(reasons));

  const size_t rmn = rows.Find("Rmn_m"), f0 = rows.Find("F0_Hz");
  for (size_t i = 0; i < rows.RowCount(); ++i) {
    const bool missing = rows.Value(i, rmn) == kNoValue || rows.Value(i, f0) == kNoValue;
    if (missing || !closure.Accepted(static_cast<int64_t>(i))) rows.MarkNotClosed(i);
  }
  return rows;
}

ComparisonColumns CompareRecords(const ResultTables& r, const ResultTables& other,
                                 double gainPerTurnMeV) {
  const ClosureColumns mine = ClosureColumnsOf(r, gainPerTurnMeV);
  const ClosureColumns theirs = ClosureColumnsOf(other, gainPerTurnMeV);
  const size_t n = static_cast<size_t>(r.Ek.size());
  ComparisonColumns out;
  for (std::vector<double>* column : {&out.isochronism, &out.nuR, &out.nuZ})
    column->assign(n, kNoValue);
  // A value of both records: the difference, or missing.
  auto difference = [](const std::vector<double>& a, size_t i, const std::vector<double>& b,
                       size_t j) {
    if (i >= a.size() || j >= b.size() || a[i] == kNoValue || b[j] == kNoValue) return kNoValue;
    return a[i] - b[j];
  };
  for (size_t i = 0; i < n; ++i) {
    const double ek = r.Ek[static_cast<int64_t>(i)];
    for (int64_t j = 0; j < other.Ek.size(); ++j) {
      if (!(std::fabs(other.Ek[j] - ek) <= 1e-9 * std::fabs(ek))) continue;
      const size_t k = static_cast<size_t>(j);
      if (mine.HasValues(static_cast<int64_t>(i)) && theirs.HasValues(j)) {
        out.isochronism[i] = difference(mine.isochronism, i, theirs.isochronism, k);
        out.nuR[i] = difference(mine.nuR, i, theirs.nuR, k);
        out.nuZ[i] = difference(mine.nuZ, i, theirs.nuZ, k);
      }
      break;
    }
  }
  return out;
}

ValueRows ComparedValueRows(const ResultTables& r, const ResultTables& other,
                            double gainPerTurnMeV) {
  ValueRows rows = ValueRowsOf(r, gainPerTurnMeV);
  ComparisonColumns d = CompareRecords(r, other, gainPerTurnMeV);
  rows.Add("d_isochronism", "Δ(F0*H/Frf - 1)", std::move(d.isochronism), 4);
  rows.Add("d_nu_r", "Δnu_r", std::move(d.nuR), 6);
  rows.Add("d_nu_z", "Δnu_z", std::move(d.nuZ), 6);
  return rows;
}

}  // namespace zuba
