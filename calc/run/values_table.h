// The per-energy values of a run: the values file (`zuba-cli run --values`, File > Export
// Values...) and the rows of the desktop program's results table, from the same record and the
// same closure columns.
#pragma once

#include <cstddef>
#include <string>

#include "calc/run/diagnostics.h"
#include "results/result_tables.h"
#include "results/value_rows.h"

namespace zuba {

// The columns of the values table and of the JSON energies, in order.
inline constexpr const char* kValueColumns[] = {
    "Ek_J",        "Ek_MeV",    "Rmn_m", "Bmn_T", "Rev_m",       "F0_Hz",      "dReo_m",
    "isochronism", "phase_deg", "nu_r",  "nu_z",  "consistency", "vr_residual"};
inline constexpr size_t kEnergyColumns = 2;  // Ek_J and Ek_MeV, which every energy has

// The values table: a header line, then one row per energy, 17 significant digits, then the
// energy's status ("closed", "not_accepted" by the default search, or the precise closure's
// status) and reason. An energy of a precise run that did not close has its energy, empty cells,
// its status and its reason.
std::string ValuesTable(const ResultTables& r, const ClosureColumns& closure);

// The values file of a record as `zuba-cli run --values` writes it with the default gain per turn
// (a precise run's record carries its own phase slip).
std::string ValuesFileOf(const ResultTables& r);

// The rows of the results table: the values-file columns (energy in MeV only; the phase slip's
// heading names its gain per turn), the tunes only after a precise run (empty for an energy
// without an orbit), then the status and its reason; a row whose radius or frequency is missing,
// whose precise closure did not converge or whose orbit the default search did not accept, is
// marked not closed.
ValueRows ValueRowsOf(const ResultTables& r, double gainPerTurnMeV = kDefaultGainPerTurnMeV);

// The differences of a record from another at the energies both hold (equal to 1e-9 of the
// energy), each energy's value minus the other's where both have one: d_isochronism, d_nu_r and
// d_nu_z (tunes of precise runs only; missing where either is unstable).
struct ComparisonColumns {
  std::vector<double> isochronism, nuR, nuZ;  // per energy of the record; kNoValue where missing
};
ComparisonColumns CompareRecords(const ResultTables& r, const ResultTables& other,
                                 double gainPerTurnMeV = kDefaultGainPerTurnMeV);

// The rows of the results table with the differences from another record after its columns.
ValueRows ComparedValueRows(const ResultTables& r, const ResultTables& other,
                            double gainPerTurnMeV = kDefaultGainPerTurnMeV);

}  // namespace zuba
