// Circular trim coils: the table of their measured field per unit current against radius, read
// from a tab- or comma-separated file, and the field of a coil at any radius (a natural cubic
// spline through its listed points, zero outside them; the field of a circular coil does not
// depend on the azimuth).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

class TrimCoils {
 public:
  // Reads the table at path (see ParseTrimCoils).
  static Result<TrimCoils> Read(const std::string& path);

  // The file's text, fileName naming it in refusals. The first line is a header: `r_m`, then one
  // column per coil named by the coil, its field per ampere in T/A; a column named `NAME_Gs_per_A`
  // gives coil NAME in Gs/A. Then one row per radius (m), radii increasing, fields separated by
  // tabs or commas (the header's separator; blanks around fields are ignored). Empty lines and
  // lines starting with '#' are skipped. Refused, naming the line or the coil: a malformed line,
  // fewer than four radii, radii that do not increase, a coil named twice, a column of zeros, two
  // proportional columns. A last row whose first field is `current_A` holds a current (A) per
  // coil, as CoilCurrentsText writes it: kept as Currents(), not a point of the profiles.
  static Result<TrimCoils> Parse(std::string_view text, const std::string& fileName);

  int Count() const { return static_cast<int>(names_.size()); }
  const std::string& Name(int coil) const { return names_[coil]; }
  const std::vector<std::string>& Names() const { return names_; }
  // The listed radii (m) and a coil's listed fields (T/A).
  const std::vector<double>& Radii() const { return radii_; }
  const std::vector<double>& Profile(int coil) const { return profiles_[coil]; }
  // The coil's field per ampere (T/A) at radius r (m): the natural cubic spline through its
  // points inside the listed radii, zero outside them.
  double FieldPerAmpere(int coil, double r) const;
  // The currents (A) of the file's `current_A` row; empty when it has none.
  const std::vector<double>& Currents() const { return currents_; }

 private:
  friend std::string CoilCurrentsText(const TrimCoils& coils, std::span<const double> currents);

  // The steps of Parse, each refusing as Parse says: the coils of the header (scale: T/A per unit
  // of each column), one row of the table after it, and the check that every coil's field is
  // there and unlike the others'. `where` names the line.
  Outcome TakeHeader(const std::vector<std::string>& header, const std::string& where,
                     const std::string& fileName, std::vector<double>& scale);
  Outcome TakeRow(const std::vector<std::string>& fields, std::size_t columns,
                  const std::string& where, const std::string& fileName,
                  const std::vector<double>& scale);
  Outcome CheckProfilesApart(const std::string& fileName) const;

  std::vector<std::string> names_;
  std::vector<std::string> columns_;  // the header's coil columns as the file names them
  std::vector<std::vector<std::string>>
      rows_;                      // the fields of every radius row as the file has them
  std::vector<double> currents_;  // A, the `current_A` row
  std::vector<double> radii_;     // m
  std::vector<std::vector<double>> profiles_;  // T/A, per coil per radius
  std::vector<std::vector<double>> moments_;   // T/(A m²), natural spline moments
};

// The coil table as the file gave it (header and radius rows, the fields as written there), tab
// separated, with a last row `current_A` and the current of every coil (A, shortest text that reads
// back to the same value): a file that Parse reads as the same coils with these currents.
std::string CoilCurrentsText(const TrimCoils& coils, std::span<const double> currents);

// A value of the natural cubic spline with moments M through (X, Y) at X[0] <= x <= X[n-1], every
// interval (the end intervals included) by the spline's own cubic.
double NaturalSplineAt(const std::vector<double>& X, const std::vector<double>& Y,
                       const std::vector<double>& M, double x);

}  // namespace zuba
