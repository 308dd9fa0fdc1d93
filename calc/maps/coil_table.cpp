// The table of trim-coil fields and the field of one coil (see coil_table.h).
#include "calc/maps/coil_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "calc/maps/map_text.h"
#include "numerics/interpolation.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "results/text.h"

namespace zuba {
namespace {

constexpr std::string_view kGaussSuffix = "_Gs_per_A";
constexpr std::string_view kCurrentRow = "current_A";
constexpr double kTeslaPerGauss = 1e-4;

Failure Refusal(const std::string& fileName, const std::string& what) {
  return ErrorFailure(fileName + ": " + what, fileName);
}

// The fields of one line, split at the separator, each trimmed.
std::vector<std::string> SplitFields(std::string_view line, char separator) {
  std::vector<std::string_view> views;
  SplitAt(line, separator, views);
  return {views.begin(), views.end()};
}

bool ParseNumber(const std::string& text, double& value) {
  return ReadFileNumber(text, value);
}

}  // namespace

double NaturalSplineAt(const std::vector<double>& X, const std::vector<double>& Y,
                       const std::vector<double>& M, double x) {
  const std::size_t n = X.size();
  std::size_t j = static_cast<std::size_t>(std::upper_bound(X.begin(), X.end(), x) - X.begin());
  j = std::clamp<std::size_t>(j, 1, n - 1) - 1;  // interval [X[j], X[j+1]]
  const double H = X[j + 1] - X[j];
  const double A = X[j + 1] - x, B = x - X[j];
  return A * A * A * M[j] / (6 * H) + B * B * B * M[j + 1] / (6 * H) +
         (Y[j] / H - M[j] * H / 6) * A + (Y[j + 1] / H - M[j + 1] * H / 6) * B;
}

Result<TrimCoils> TrimCoils::Read(const std::string& path) {
  const FileBytes file = ReadWholeFile(path);
  if (file.status != ReadStatus::Ok)
    return Refusal(path, "cannot be read (" + std::string(std::strerror(file.error)) + ")");
  return Parse(file.bytes, path);
}

Outcome TrimCoils::TakeHeader(const std::vector<std::string>& header, const std::string& where,
                              const std::string& fileName, std::vector<double>& scale) {
  if (header.size() < 2 || header[0] != "r_m")
    return Refusal(fileName, where + ": expected a header `r_m` followed by one column per coil");
  for (std::size_t k = 1; k < header.size(); ++k) {
    std::string name = header[k];
    double unit = 1;
    if (name.size() > kGaussSuffix.size() &&
        name.compare(name.size() - kGaussSuffix.size(), kGaussSuffix.size(), kGaussSuffix) == 0) {
      name.resize(name.size() - kGaussSuffix.size());
      unit = kTeslaPerGauss;
    }
    if (name.empty())
      return Refusal(fileName, where + ": column " + std::to_string(k + 1) + " has no coil name");
    if (std::find(names_.begin(), names_.end(), name) != names_.end())
      return Refusal(fileName, "coil " + name + " is named twice");
    names_.push_back(name);
    columns_.push_back(header[k]);
    scale.push_back(unit);
  }
  profiles_.assign(names_.size(), {});
  return {};
}

Outcome TrimCoils::TakeRow(const std::vector<std::string>& fields, std::size_t columns,
                           const std::string& where, const std::string& fileName,
                           const std::vector<double>& scale) {
  if (fields.size() != columns)
    return Refusal(fileName, where + ": expected " + std::to_string(columns) + " values, found " +
                                 std::to_string(fields.size()));
  if (!currents_.empty())
    return Refusal(fileName, where + ": the row `current_A` must be the last one");
  if (fields[0] == kCurrentRow) {
    for (std::size_t k = 1; k < fields.size(); ++k) {
      double current = 0;
      if (!ParseNumber(fields[k], current))
        return Refusal(fileName, where + ": the current of coil " + names_[k - 1] + " \"" +
                                     fields[k] + "\" is not a number");
      currents_.push_back(current);
    }
    return {};
  }
  double r = 0;
  if (!ParseNumber(fields[0], r))
    return Refusal(fileName, where + ": the radius \"" + fields[0] + "\" is not a number");
  if (!radii_.empty() && !(r > radii_.back()))
    return Refusal(fileName, where + ": the radius " + fields[0] + " m does not increase");
  radii_.push_back(r);
  for (std::size_t k = 1; k < fields.size(); ++k) {
    double value = 0;
    if (!ParseNumber(fields[k], value))
      return Refusal(fileName, where + ": the field of coil " + names_[k - 1] + " \"" + fields[k] +
                                   "\" is not a number");
    profiles_[k - 1].push_back(value * scale[k - 1]);
  }
  rows_.push_back(fields);
  return {};
}

// Columns that give no field or the same field shape twice leave the fit without an answer.
Outcome TrimCoils::CheckProfilesApart(const std::string& fileName) const {
  std::vector<double> norms;
  for (int c = 0; c < Count(); ++c) {
    double sum = 0;
    for (double v : profiles_[c]) sum += v * v;
    norms.push_back(std::sqrt(sum));
    if (!(norms.back() > 0))
      return Refusal(fileName, "coil " + names_[c] + " has no field (a column of zeros)");
  }
  for (int a = 0; a < Count(); ++a)
    for (int b = a + 1; b < Count(); ++b) {
      double dot = 0;
      for (std::size_t i = 0; i < radii_.size(); ++i) dot += profiles_[a][i] * profiles_[b][i];
      if (std::fabs(dot) >= (1 - 1e-9) * norms[a] * norms[b])
        return Refusal(fileName, "coils " + names_[a] + " and " + names_[b] +
                                     " have proportional fields; one of them is enough");
    }
  return {};
}

Result<TrimCoils> TrimCoils::Parse(std::string_view text, const std::string& fileName) {
  TrimCoils coils;
  std::vector<std::string> header;
  std::vector<double> scale;  // T/A per unit of each coil column
  char separator = '\t';
  Lines lines(text);
  std::string_view line;
  while (lines.Next(line)) {
    const std::string trimmed = TrimSpace(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    const std::string where = "line " + std::to_string(lines.number());
    if (header.empty()) {
      separator = trimmed.find('\t') != std::string::npos ? '\t' : ',';
      header = SplitFields(trimmed, separator);
      if (Outcome o = coils.TakeHeader(header, where, fileName, scale); !o) return o;
    } else {
      const std::vector<std::string> fields = SplitFields(trimmed, separator);
      if (Outcome o = coils.TakeRow(fields, header.size(), where, fileName, scale); !o) return o;
    }
  }
  if (header.empty()) return Refusal(fileName, "no header line `r_m` and coil names");
  if (coils.radii_.size() < 4)
    return Refusal(fileName, std::to_string(coils.radii_.size()) +
                                 " radii; at least 4 are needed for a coil's profile");
  if (Outcome o = coils.CheckProfilesApart(fileName); !o) return o;

  const int32_t n = static_cast<int32_t>(coils.radii_.size());
  for (int c = 0; c < coils.Count(); ++c) {
    std::vector<double> h, M;
    if (Outcome o = SplineSetup(coils.radii_, coils.profiles_[c], n, h, M); !o) return o;
    coils.moments_.push_back(std::move(M));
  }
  return coils;
}

std::string CoilCurrentsText(const TrimCoils& coils, std::span<const double> currents) {
  auto line = [](const std::string& first, const std::vector<std::string>& rest) {
    std::string text = first;
    for (const std::string& field : rest) text += '\t' + field;
    return text + '\n';
  };
  std::string text = line("r_m", coils.columns_);
  for (const std::vector<std::string>& row : coils.rows_)
    text += line(row[0], std::vector<std::string>(row.begin() + 1, row.end()));
  std::vector<std::string> values;
  for (double current : currents) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, current);
    values.emplace_back(buffer, ec == std::errc() ? end : buffer);
  }
  return text + line(std::string(kCurrentRow), values);
}

double TrimCoils::FieldPerAmpere(int coil, double r) const {
  if (!(r >= radii_.front() && r <= radii_.back())) return 0;
  return NaturalSplineAt(radii_, profiles_[coil], moments_[coil], r);
}

}  // namespace zuba
