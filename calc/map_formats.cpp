// The readers of the polar text map, the measured-record map and the column table, their
// completion to the full turn, and the choice of the reader.
#include "calc/map_formats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <utility>

#include "numerics/constants.h"
#include "platform/files.h"
#include "results/text.h"

namespace zuba {
namespace {

// rad per degree. A function, not a constant of this file: kPi is itself initialised at start-up
// (4 * atan(1)), and a constant formed from it at namespace scope may be initialised before it.
double Degree() {
  return kPi / 180;
}
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// ---- messages ----------------------------------------------------------------------------------

// A refusal of the file: "name: text", caption "Error", owned by the view as the *.sdf reader's
// messages about the file's content are.
Failure Refuse(std::string_view name, const std::string& text) {
  Failure failure = ErrorFailure(std::string(name) + ": " + text, "map");
  failure.message.owner = Owner::View;
  return failure;
}

std::string LineText(int64_t line) {
  return "line " + std::to_string(line) + ": ";
}

// A piece of the file quoted in a message: at most 32 characters, every byte that is not printable
// ASCII shown as '?', so that the message stays one line of text.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < 32; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
  }
  if (text.size() > 32) out += "...";
  return out + "\"";
}

std::string Num(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", value);
  return buffer;
}

// ---- text --------------------------------------------------------------------------------------

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The whole text as a finite number, in the notation every laboratory program writes: an optional
// sign, digits with an optional point, an optional exponent written with E, e, D or d (Fortran's
// double precision). Anything else in the text, or a value out of range, is no number. Independent
// of the locale.
bool ParseNumber(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) return false;
  }
  if (text.empty() || text.size() > 64) return false;
  char buffer[64];
  std::memcpy(buffer, text.data(), text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = buffer[i];
    if (c == 'D' || c == 'd') buffer[i] = 'E';
    // from_chars also takes "inf", "nan" and hexadecimal digits of other notations: not numbers
    // of a field map.
    if (c == 'n' || c == 'N' || c == 'i' || c == 'I' || c == 'x' || c == 'X') return false;
  }
  const auto [end, error] =
      std::from_chars(buffer, buffer + text.size(), value, std::chars_format::general);
  return error == std::errc() && end == buffer + text.size() && std::isfinite(value);
}

// A count: a whole number of 1 .. kInt32Max, however it was written ("12", "12.0", "1.2E+01").
bool WholeCount(double value, int64_t& count) {
  if (!(value >= 1 && value <= static_cast<double>(kInt32Max)) || value != std::floor(value))
    return false;
  count = static_cast<int64_t>(value);
  return true;
}

// The lines of a text, numbered from 1; a line ends at LF, and a CR before it is dropped.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}

  bool Next(std::string_view& line) {
    if (position_ >= text_.size()) return false;
    const size_t end = text_.find('\n', position_);
    const size_t stop = end == std::string_view::npos ? text_.size() : end;
    line = text_.substr(position_, stop - position_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    position_ = end == std::string_view::npos ? text_.size() : end + 1;
    ++number_;
    return true;
  }
  // The next line that holds more than blanks.
  bool NextContent(std::string_view& line) {
    while (Next(line))
      if (!TrimBlanks(line).empty()) return true;
    return false;
  }
  // The line last returned.
  int64_t number() const { return number_; }
  // Bytes after the line last returned.
  size_t remaining() const { return text_.size() - position_; }

  struct Mark {
    size_t position;
    int64_t number;
  };
  Mark mark() const { return {position_, number_}; }
  void reset(Mark m) {
    position_ = m.position;
    number_ = m.number;
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
  int64_t number_ = 0;
};

// Splits a line at runs of blanks.
template <class F>
void ForEachWord(std::string_view line, F&& f) {
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const size_t begin = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > begin && !f(line.substr(begin, i - begin))) return;
  }
}

size_t CountWords(std::string_view line) {
  size_t count = 0;
  ForEachWord(line, [&count](std::string_view) {
    ++count;
    return true;
  });
  return count;
}

// One number alone on the next line that holds anything: the header lines of the polar and the
// record maps. `what` names the number for the message.
bool HeaderNumber(Lines& lines, std::string_view name, const std::string& what, double& value,
                  Failure& failure) {
  std::string_view line;
  if (!lines.NextContent(line)) {
    failure = Refuse(name, "the file ends before the header number " + what);
    return false;
  }
  const std::string_view word = TrimBlanks(line);
  if (CountWords(word) != 1 || !ParseNumber(word, value)) {
    failure = Refuse(name, LineText(lines.number()) + "expected " + what +
                               ", one number alone on its line, found " + Quoted(word));
    return false;
  }
  return true;
}

// A step of the header: a negative value stands for its reciprocal (-3 is 1/3).
bool HeaderStep(double given, double& step) {
  step = given < 0 ? -1 / given : given;
  return std::isfinite(step) && step > 0;
}

// The header numbers of the polar map, one a line; the record map has the first four.
const char* const kHeaderNumbers[6] = {"r_min (mm)",
                                       "the radius step (mm)",
                                       "theta_min (degree)",
                                       "the azimuth step (degree)",
                                       "N_theta (azimuths per radius)",
                                       "N_r (radii)"};

bool HeaderNumbers(Lines& lines, std::string_view name, int count, double* header,
                   int64_t* headerLine, Failure& failure) {
  for (int k = 0; k < count; ++k) {
    if (!HeaderNumber(lines, name, kHeaderNumbers[k], header[k], failure)) return false;
    headerLine[k] = lines.number();
  }
  return true;
}

// ---- the record map ----------------------------------------------------------------------------

constexpr size_t kFieldWidth = 16;  // characters of one number in the blocks and records

// The integer after "KEY=" in a line (blanks allowed between), or nothing.
bool KeyValue(std::string_view line, std::string_view key, int64_t& value) {
  const size_t at = line.find(key);
  if (at == std::string_view::npos) return false;
  std::string_view rest = line.substr(at + key.size());
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  return error == std::errc() && end != rest.data();
}

// The next line that holds anything, which must begin with `prefix`; `expected` says what it
// should be.
bool ExpectLine(Lines& lines, std::string_view name, std::string_view prefix,
                const std::string& expected, std::string_view& line, Failure& failure) {
  if (!lines.NextContent(line)) {
    failure = Refuse(name, "the file ends where " + expected + " should follow");
    return false;
  }
  if (!StartsWith(TrimBlanks(line), prefix)) {
    failure = Refuse(name, LineText(lines.number()) + "expected " + expected + ", found " +
                               Quoted(TrimBlanks(line)));
    return false;
  }
  return true;
}

bool IsBlockLine(std::string_view line) {
  const std::string_view t = TrimBlanks(line);
  return StartsWith(t, "LPAR=") || StartsWith(t, "LREC=");
}

// The numbers of a line of fixed-width fields, appended to out (at most `room` of them, the rest
// an error). The fields touch when a value is negative ("...E+04-0.85..."), so the line is cut
// every kFieldWidth characters rather than at blanks; the last field may be cut short by the end
// of the line. Returns an empty text, or why the line is not such a line.
std::string ReadFields(std::string_view line, std::vector<double>& out, size_t room) {
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  for (size_t at = 0; at < line.size(); at += kFieldWidth) {
    const std::string_view field = TrimBlanks(line.substr(at, kFieldWidth));
    auto columns = [&] {
      return "columns " + std::to_string(at + 1) + "-" +
             std::to_string(std::min(at + kFieldWidth, line.size()));
    };
    if (room == 0) return columns() + ": a value more than expected, " + Quoted(field);
    double value = 0;
    if (!ParseNumber(field, value))
      return columns() + ": expected a number in a field of " + std::to_string(kFieldWidth) +
             " characters, found " + Quoted(field);
    out.push_back(value);
    --room;
  }
  return {};
}

// Reads `count` fixed-width numbers from the lines after the current one into out. `what` names
// the block or record for the messages.
bool ReadFieldBlock(Lines& lines, std::string_view name, const std::string& what, int64_t count,
                    std::vector<double>& out, Failure& failure) {
  const size_t start = out.size();
  const size_t want = static_cast<size_t>(count);
  while (out.size() - start < want) {
    const Lines::Mark before = lines.mark();
    std::string_view line;
    if (!lines.Next(line) || IsBlockLine(line)) {
      lines.reset(before);
      failure = Refuse(name, what + " ends after " + std::to_string(out.size() - start) +
                                 " of its " + std::to_string(count) + " values" +
                                 (lines.remaining() == 0 ? " at the end of the file" : ""));
      return false;
    }
    const std::string error = ReadFields(line, out, want - (out.size() - start));
    if (!error.empty()) {
      failure = Refuse(name, LineText(lines.number()).append(what).append(", ").append(error));
      return false;
    }
  }
  return true;
}

// ---- the table ---------------------------------------------------------------------------------

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
};

const ColumnName* FindColumnName(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const ColumnName& n : kColumnNames)
    if (lower == n.name) return &n;
  return nullptr;
}

// How the fields of a table's lines are separated: by commas, semicolons, tabs, or runs of blanks.
enum class Separator { Comma, Semicolon, Tab, Blanks };

Separator SeparatorOf(std::string_view line) {
  if (line.find(',') != std::string_view::npos) return Separator::Comma;
  if (line.find(';') != std::string_view::npos) return Separator::Semicolon;
  if (line.find('\t') != std::string_view::npos) return Separator::Tab;
  return Separator::Blanks;
}

void SplitFields(std::string_view line, Separator separator, std::vector<std::string_view>& out) {
  out.clear();
  if (separator == Separator::Blanks) {
    ForEachWord(line, [&out](std::string_view word) {
      out.push_back(word);
      return true;
    });
    return;
  }
  const char c = separator == Separator::Comma       ? ','
                 : separator == Separator::Semicolon ? ';'
                                                     : '\t';
  size_t begin = 0;
  for (;;) {
    const size_t end = line.find(c, begin);
    out.push_back(
        TrimBlanks(line.substr(begin, end == std::string_view::npos ? end : end - begin)));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  // A separator at the end of the line leaves no field of its own.
  while (!out.empty() && out.back().empty()) out.pop_back();
}

bool IsTableComment(std::string_view line) {
  const std::string_view t = TrimBlanks(line);
  return t.empty() || t.front() == '#';
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
    if (!ParseNumber(f, v)) return 0;
  }
  return fields.size() >= 3 ? fields.size() : 0;
}

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

const char* UnitOption(Column column) {
  return column == Column::R ? "--r-unit" : column == Column::Theta ? "--theta-unit" : "--b-unit";
}

// The mesh of the header numbers: radii from r_min every Δr (mm), azimuths from θ_min every Δθ
// (degree).
void SetHeaderMesh(GivenMap& g, double rMinMm, double dRMm, int64_t nR, double thetaMinDegrees,
                   double dThetaDegrees, int64_t nTheta) {
  g.radii.resize(static_cast<size_t>(nR));
  for (int64_t i = 0; i < nR; ++i)
    g.radii[i] = (rMinMm + static_cast<double>(i) * dRMm) / 1000;  // mm -> m
  g.thetaMin = thetaMinDegrees * Degree();
  g.dTheta = dThetaDegrees * Degree();
  g.dThetaDegrees = dThetaDegrees;
  g.nTheta = static_cast<int32_t>(nTheta);
}

}  // namespace

// ---- options -----------------------------------------------------------------------------------

Outcome CheckMapReadingOptions(const MapReadingOptions& o) {
  if (o.replicate < 0 || o.replicate > kMaxReplicate)
    return ErrorFailure("--replicate " + std::to_string(o.replicate) +
                            ": the number of sectors must be 1 to " + std::to_string(kMaxReplicate),
                        "replicate", o.replicate, 1, kMaxReplicate);
  if (o.mirror && o.replicate == 0)
    return ErrorFailure(
        "--mirror completes half a sector to one sector: it needs --replicate N, the number of "
        "sectors",
        "mirror");
  if (static_cast<int32_t>(o.format) < 0 || static_cast<int32_t>(o.format) > 4 ||
      static_cast<int32_t>(o.rUnit) < 0 || static_cast<int32_t>(o.rUnit) > 2 ||
      static_cast<int32_t>(o.thetaUnit) < 0 || static_cast<int32_t>(o.thetaUnit) > 2 ||
      static_cast<int32_t>(o.bUnit) < 0 || static_cast<int32_t>(o.bUnit) > 3)
    return ErrorFailure("unknown map format or unit", "format");
  return {};
}

// ---- completion --------------------------------------------------------------------------------

Result<FieldMap> CompleteMap(GivenMap g, std::string_view name, MapFormat format,
                             const MapReadingOptions& options) {
  if (Outcome o = CheckMapReadingOptions(options); !o) return o;
  const int64_t nR = static_cast<int64_t>(g.radii.size());
  int64_t c = g.nTheta;
  if (nR < 1 || c < 1 || static_cast<size_t>(nR * c) != g.field.size())
    return Refuse(name, "the map holds no nodes");
  for (int64_t i = 1; i < nR; ++i)
    if (!(g.radii[i - 1] < g.radii[i])) return Refuse(name, "the radii do not increase");
  if (!(g.dTheta > 0) || !(g.dThetaDegrees > 0))
    return Refuse(name, "the azimuth step must be above 0");
  if (!(std::fabs(g.thetaMin) <= kTwoPi * (1 + 1e-12)))
    return Refuse(name, "the first azimuth " + Num(g.thetaMin / Degree()) +
                            "\xC2\xB0 lies outside -360\xC2\xB0 .. 360\xC2\xB0");

  const int64_t sectors = options.replicate > 0 ? options.replicate : 1;
  const double step = g.dThetaDegrees;   // degree
  const double tolerance = 1e-6 * step;  // degree: the steps of a file agree to far better
  const std::string mesh =
      std::to_string(c) + " azimuths " + Num(step) + "\xC2\xB0 apart";  // "° apart"
  double closing = -1;

  auto column = [&](int64_t iR, int64_t j) -> double& { return g.field[iR * c + j]; };
  if (options.mirror) {
    // Half a sector from the first azimuth to the mirror plane at the last: the sector is the
    // given columns, then the same columns back down to (not including) the first.
    const double half = 180.0 / sectors;
    if (c < 2 || std::fabs((c - 1) * step - half) > tolerance)
      return Refuse(name, "--mirror --replicate " + std::to_string(sectors) +
                              " takes half a sector, 180\xC2\xB0/" + std::to_string(sectors) +
                              " = " + Num(half) +
                              "\xC2\xB0 from the first azimuth to the last; the " + mesh +
                              " span " + Num((c - 1) * step) + "\xC2\xB0");
    const int64_t sector = 2 * (c - 1);
    std::vector<double> mirrored(static_cast<size_t>(nR * sector));
    for (int64_t iR = 0; iR < nR; ++iR)
      for (int64_t j = 0; j < sector; ++j)
        mirrored[iR * sector + j] = column(iR, j < c ? j : sector - j);
    g.field = std::move(mirrored);
    c = sector;
  } else {
    const double period = 360.0 / sectors;  // degree
    if (std::fabs(c * step - period) <= tolerance) {
      // The columns cover the period without its closing column.
    } else if (c >= 2 && std::fabs((c - 1) * step - period) <= tolerance) {
      // The last column is the first one period later: dropped.
      closing = 0;
      for (int64_t iR = 0; iR < nR; ++iR)
        closing = std::max(closing, std::fabs(column(iR, c - 1) - column(iR, 0)));
      std::vector<double> kept(static_cast<size_t>(nR * (c - 1)));
      for (int64_t iR = 0; iR < nR; ++iR) std::copy_n(&column(iR, 0), c - 1, &kept[iR * (c - 1)]);
      g.field = std::move(kept);
      c -= 1;
    } else if (options.replicate == 0) {
      std::string text = "the " + mesh + " cover " + Num(c * step) +
                         "\xC2\xB0, not the full turn (360\xC2\xB0, or 360\xC2\xB0 and a closing "
                         "column equal to the first)";
      for (const int64_t span : {c, c - 1}) {
        const double ratio = 360.0 / (span * step);
        if (span >= 1 && ratio >= 1.5 && std::fabs(ratio - std::round(ratio)) < 1e-6 * ratio &&
            std::round(ratio) <= kMaxReplicate) {
          text += "; one sector of " + Num(std::round(ratio)) + " is completed with --replicate " +
                  Num(std::round(ratio));
          break;
        }
      }
      return Refuse(name, text);
    } else {
      return Refuse(name, "--replicate " + std::to_string(sectors) +
                              " takes one sector, 360\xC2\xB0/" + std::to_string(sectors) + " = " +
                              Num(period) + "\xC2\xB0 (" + Num(period / step) +
                              " azimuths, or one more for the closing column); the " + mesh +
                              " cover " + Num(c * step) + "\xC2\xB0");
    }
  }

  const int64_t full = c * sectors;
  if (full > kInt32Max || nR * full > kInt32Max)
    return Refuse(name, "the full turn would hold " + std::to_string(nR) + " x " +
                            std::to_string(full) + " nodes, more than a map can");

  FieldMap map;
  map.nR = static_cast<int32_t>(nR);
  map.nTheta = static_cast<int32_t>(full);
  map.unit = std::move(g.unit);
  map.format = format;
  map.closingDifference = closing;
  map.radii = std::move(g.radii);
  const size_t count = static_cast<size_t>(nR * full);
  map.field.resize(count);
  map.moments.assign(count, 0.0);
  const double sign = options.negate ? -1.0 : 1.0;
  for (int64_t iR = 0; iR < nR; ++iR) {
    const double* given = &g.field[iR * c];
    double* out = &map.field[iR * full];
    for (int64_t j = 0; j < full; ++j) {
      // Reversed, the map's azimuth θ' = -θ: the column at θ' = -θmin + jΔ is the file's column at
      // θmin - jΔ, which is column (full - j) mod full of the full turn.
      const int64_t source = options.reverse ? (full - j) % full : j;
      out[j] = sign * given[source % c];
    }
  }
  const double delta = kTwoPi / static_cast<double>(full);  // rad
  map.thetaStart = options.reverse ? -g.thetaMin : g.thetaMin;
  map.azimuths.resize(static_cast<size_t>(full));
  for (int64_t j = 0; j < full; ++j)
    map.azimuths[j] = map.thetaStart + static_cast<double>(j) * delta;
  map.thetaEnd = map.thetaStart + kTwoPi;
  return map;
}

// ---- the polar map -----------------------------------------------------------------------------

Result<FieldMap> ParsePolarMap(std::string_view bytes, std::string_view name,
                               const MapReadingOptions& options) {
  Lines lines(bytes);
  double header[6] = {};
  int64_t headerLine[6] = {};
  Failure failure;
  if (!HeaderNumbers(lines, name, 6, header, headerLine, failure)) return failure;
  double dR = 0, dTheta = 0;  // mm, degree
  if (!HeaderStep(header[1], dR))
    return Refuse(name, LineText(headerLine[1]) + "the radius step must not be 0");
  if (!HeaderStep(header[3], dTheta))
    return Refuse(name, LineText(headerLine[3]) + "the azimuth step must not be 0");
  if (header[0] < 0)
    return Refuse(name, LineText(headerLine[0]) + "r_min must not be negative, found " +
                            Num(header[0]) + " mm");
  int64_t nTheta = 0, nR = 0;
  if (!WholeCount(header[4], nTheta))
    return Refuse(name, LineText(headerLine[4]) +
                            "expected N_theta, a whole number of azimuths from 1 on, found " +
                            Num(header[4]));
  if (!WholeCount(header[5], nR))
    return Refuse(name, LineText(headerLine[5]) +
                            "expected N_r, a whole number of radii from 1 on, found " +
                            Num(header[5]));
  // Every value takes a character and a separator: a header asking for more than the rest of the
  // file can hold is refused before anything is allocated.
  const int64_t count = nR * nTheta;
  if (count > static_cast<int64_t>(lines.remaining() / 2 + 1))
    return Refuse(name, "the header asks for N_r x N_theta = " + std::to_string(nR) + " x " +
                            std::to_string(nTheta) + " values, more than the " +
                            std::to_string(lines.remaining()) + " bytes after it can hold");

  GivenMap g;
  g.unit = "kG";
  g.field.reserve(static_cast<size_t>(count));
  std::string_view line;
  std::string error;
  while (lines.Next(line)) {
    ForEachWord(line, [&](std::string_view word) {
      double value = 0;
      if (static_cast<int64_t>(g.field.size()) == count) {
        error = LineText(lines.number()) + "expected the end of the file after the " +
                std::to_string(count) + " values of B_z (N_r x N_theta = " + std::to_string(nR) +
                " x " + std::to_string(nTheta) + "), found " + Quoted(word);
        return false;
      }
      if (!ParseNumber(word, value)) {
        const int64_t index = static_cast<int64_t>(g.field.size());
        error = LineText(lines.number()) + "expected B_z (kG) at radius " +
                std::to_string(index / nTheta + 1) + ", azimuth " +
                std::to_string(index % nTheta + 1) + ", found " + Quoted(word);
        return false;
      }
      g.field.push_back(value * 0.1);  // kG -> T
      return true;
    });
    if (!error.empty()) return Refuse(name, error);
  }
  if (static_cast<int64_t>(g.field.size()) < count)
    return Refuse(name, "the file ends after " + std::to_string(g.field.size()) + " of the " +
                            std::to_string(count) + " values of B_z (N_r x N_theta = " +
                            std::to_string(nR) + " x " + std::to_string(nTheta) + ")");

  SetHeaderMesh(g, header[0], dR, nR, header[2], dTheta, nTheta);
  return CompleteMap(std::move(g), name, MapFormat::Polar, options);
}

// ---- the record map ----------------------------------------------------------------------------

Result<FieldMap> ParseRecordMap(std::string_view bytes, std::string_view name,
                                const MapReadingOptions& options) {
  Lines lines(bytes);
  double header[4] = {};
  int64_t headerLine[4] = {};
  Failure failure;
  if (!HeaderNumbers(lines, name, 4, header, headerLine, failure)) return failure;
  if (header[0] < 0)
    return Refuse(name, LineText(headerLine[0]) + "r_min must not be negative, found " +
                            Num(header[0]) + " mm");
  if (!(header[1] > 0))
    return Refuse(name, LineText(headerLine[1]) + "the radius step must be above 0, found " +
                            Num(header[1]) + " mm");
  double dTheta = 0;
  if (!HeaderStep(header[3], dTheta))
    return Refuse(name, LineText(headerLine[3]) + "the azimuth step must not be 0");

  std::string_view line;
  if (!ExpectLine(lines, name, "LABEL=", "the LABEL= line", line, failure)) return failure;
  int64_t nRec = 0, nPar = 0;
  const std::string counts = "the line CFELD=... NREC= n NPAR= n";
  if (!ExpectLine(lines, name, "CFELD=", counts, line, failure)) return failure;
  if (!KeyValue(line, "NREC=", nRec) || !KeyValue(line, "NPAR=", nPar))
    return Refuse(name, LineText(lines.number()) + "expected " + counts + ", found " +
                            Quoted(TrimBlanks(line)));
  if (nRec < 1 || nRec > kInt32Max)
    return Refuse(name, LineText(lines.number()) + "NREC= " + std::to_string(nRec) +
                            ": expected one record or more");
  if (nPar < 1 || nPar > kInt32Max)
    return Refuse(name, LineText(lines.number()) + "NPAR= " + std::to_string(nPar) +
                            ": expected one parameter block or more (the first gives the mesh)");

  // The parameter blocks: the first gives the counts, the others are read past.
  int64_t radii = 0, azimuths = 0;
  for (int64_t p = 1; p <= nPar; ++p) {
    int64_t length = 0, index = 0;
    const std::string expected = "parameter block " + std::to_string(p) + " of " +
                                 std::to_string(nPar) + ", LPAR= n ... IPAR= " + std::to_string(p);
    if (!ExpectLine(lines, name, "LPAR=", expected, line, failure)) return failure;
    if (!KeyValue(line, "LPAR=", length) || !KeyValue(line, "IPAR=", index))
      return Refuse(name, LineText(lines.number()) + "expected " + expected + ", found " +
                              Quoted(TrimBlanks(line)));
    if (index != p)
      return Refuse(name, LineText(lines.number()) + "expected parameter block IPAR= " +
                              std::to_string(p) + ", found IPAR= " + std::to_string(index));
    if (p > 1) {
      // Read past the block: its lines run to the next block or record.
      for (;;) {
        const Lines::Mark before = lines.mark();
        if (!lines.Next(line)) break;
        if (IsBlockLine(line)) {
          lines.reset(before);
          break;
        }
      }
      continue;
    }
    const std::string block = "parameter block 1 (line " + std::to_string(lines.number()) + ")";
    if (length < 3 || length > static_cast<int64_t>(lines.remaining()))
      return Refuse(name, block + ": LPAR= " + std::to_string(length) +
                              ", expected at least 3 integers (the radii and the azimuths per "
                              "record are the second and the third)");
    std::vector<double> integers;
    if (!ReadFieldBlock(lines, name, block, length, integers, failure)) return failure;
    if (!WholeCount(integers[1], radii) || !WholeCount(integers[2], azimuths))
      return Refuse(name, block +
                              ": expected the number of radii and of azimuths per record, "
                              "whole numbers from 1 on, found " +
                              Num(integers[1]) + " and " + Num(integers[2]));
  }
  if (nRec != radii)
    return Refuse(name, "NREC= " + std::to_string(nRec) + " records, but parameter block 1 gives " +
                            std::to_string(radii) + " radii");
  // Every value of the records takes at least one byte of the file.
  if (nRec * 4 * azimuths > static_cast<int64_t>(lines.remaining()))
    return Refuse(name, std::to_string(nRec) + " records of 4 x " + std::to_string(azimuths) +
                            " values need more than the " + std::to_string(lines.remaining()) +
                            " bytes that follow the parameter blocks");

  GivenMap g;
  g.unit = "kG";
  g.field.reserve(static_cast<size_t>(nRec * azimuths));
  std::vector<double> record;
  record.reserve(static_cast<size_t>(4 * azimuths));
  for (int64_t k = 1; k <= nRec; ++k) {
    int64_t length = 0, index = 0;
    const std::string expected = "record " + std::to_string(k) + " of " + std::to_string(nRec) +
                                 ", LREC= " + std::to_string(4 * azimuths) +
                                 " ... IREC= " + std::to_string(k);
    if (!ExpectLine(lines, name, "LREC=", expected, line, failure)) return failure;
    if (!KeyValue(line, "LREC=", length) || !KeyValue(line, "IREC=", index))
      return Refuse(name, LineText(lines.number()) + "expected " + expected + ", found " +
                              Quoted(TrimBlanks(line)));
    const std::string where =
        "record " + std::to_string(k) + " (line " + std::to_string(lines.number()) + ")";
    if (index != k)
      return Refuse(name, where + ": expected IREC= " + std::to_string(k) +
                              ", found IREC= " + std::to_string(index));
    if (length != 4 * azimuths)
      return Refuse(name, where + ": LREC= " + std::to_string(length) + ", expected 4 x " +
                              std::to_string(azimuths) + " = " + std::to_string(4 * azimuths) +
                              " values (B_z and its three azimuthal derivatives at " +
                              std::to_string(azimuths) + " azimuths)");
    record.clear();
    if (!ReadFieldBlock(lines, name, where, length, record, failure)) return failure;
    // B_z comes first; its derivatives follow and are not needed.
    for (int64_t j = 0; j < azimuths; ++j) g.field.push_back(record[j] * 0.1);  // kG -> T
  }
  if (lines.NextContent(line))
    return Refuse(name, LineText(lines.number()) + "expected the end of the file after record " +
                            std::to_string(nRec) + ", found " + Quoted(TrimBlanks(line)));

  SetHeaderMesh(g, header[0], header[1], nRec, header[2], dTheta, azimuths);
  return CompleteMap(std::move(g), name, MapFormat::Records, options);
}

// ---- the table ---------------------------------------------------------------------------------

Result<FieldMap> ParseTableMap(std::string_view bytes, std::string_view name,
                               const MapReadingOptions& options) {
  Lines lines(bytes);
  std::string_view line;
  do {
    if (!lines.Next(line)) return Refuse(name, "the file holds no rows of nodes");
  } while (IsTableComment(line));

  const Separator separator = SeparatorOf(line);
  std::vector<std::string_view> fields;
  SplitFields(line, separator, fields);
  bool hasHeader = false;
  for (std::string_view f : fields) {
    double v = 0;
    if (!ParseNumber(f, v)) hasHeader = true;
  }

  // Columns and their units: the header's names, else R, θ, B_z in the first three columns.
  size_t index[3] = {0, 1, 2};
  int unit[3] = {0, 0, 0};
  const int given[3] = {static_cast<int>(options.rUnit), static_cast<int>(options.thetaUnit),
                        static_cast<int>(options.bUnit)};
  const char* const unitNames[3][4] = {
      {"", "m", "mm", ""}, {"", "deg", "rad", ""}, {"", "T", "Gs", "kG"}};
  const char* const columnWhat[3] = {"R", "theta", "B_z"};
  const int64_t headerLine = lines.number();
  if (hasHeader) {
    bool found[3] = {false, false, false};
    for (size_t i = 0; i < fields.size(); ++i) {
      const ColumnName* n = FindColumnName(fields[i]);
      if (n == nullptr) continue;  // a column of something else
      const int k = static_cast<int>(n->column);
      if (found[k])
        return Refuse(name, LineText(headerLine) + "two columns of " + columnWhat[k] + ": " +
                                Quoted(fields[index[k]]) + " and " + Quoted(fields[i]));
      found[k] = true;
      index[k] = i;
      unit[k] = n->unit;
    }
    for (int k = 0; k < 3; ++k)
      if (!found[k])
        return Refuse(name, LineText(headerLine) + "no column of " + columnWhat[k] +
                                " in the header; the columns are named r_m or r_mm, theta_deg "
                                "or theta_rad, bz_T, bz_Gs or bz_kG");
  } else if (fields.size() < 3) {
    return Refuse(name, LineText(headerLine) + "expected three columns R, theta and B_z, found " +
                            std::to_string(fields.size()));
  }
  std::string missing;
  for (int k = 0; k < 3; ++k) {
    if (unit[k] != 0 && given[k] != 0 && unit[k] != given[k])
      return Refuse(name, LineText(headerLine) + "the header gives " + columnWhat[k] + " in " +
                              unitNames[k][unit[k]] + ", " + UnitOption(static_cast<Column>(k)) +
                              " says " + unitNames[k][given[k]]);
    if (unit[k] == 0) unit[k] = given[k];
    if (unit[k] == 0)
      missing += std::string(missing.empty() ? "" : ", ") + UnitOption(static_cast<Column>(k));
  }
  if (!missing.empty())
    return Refuse(name, LineText(headerLine) +
                            (hasHeader ? "the header does not give the unit of every column"
                                       : "no header names the columns") +
                            "; give " + missing);

  struct Row {
    double r, theta, b;  // the file's units
    int64_t line;
  };
  std::vector<Row> rows;
  const size_t needed = std::max({index[0], index[1], index[2]}) + 1;
  auto readRow = [&](std::string_view text) -> std::string {
    SplitFields(text, separator, fields);
    if (fields.size() < needed)
      return LineText(lines.number()) + "expected " + std::to_string(needed) + " columns, found " +
             std::to_string(fields.size());
    double v[3] = {};
    for (int k = 0; k < 3; ++k)
      if (!ParseNumber(fields[index[k]], v[k]))
        return LineText(lines.number()) + "column " + std::to_string(index[k] + 1) + " (" +
               columnWhat[k] + "): expected a number, found " + Quoted(fields[index[k]]);
    rows.push_back({v[0], v[1], v[2], lines.number()});
    return {};
  };
  if (!hasHeader)
    if (std::string e = readRow(line); !e.empty()) return Refuse(name, e);
  while (lines.Next(line)) {
    if (IsTableComment(line)) continue;
    if (std::string e = readRow(line); !e.empty()) return Refuse(name, e);
  }
  if (rows.empty()) return Refuse(name, "the file holds no rows of nodes after its header");

  const double rScale = unit[0] == static_cast<int>(RadiusUnit::Millimetre) ? 0.001 : 1.0;
  const double thetaScale = unit[1] == static_cast<int>(AngleUnit::Degree) ? Degree() : 1.0;
  const double bScale = unit[2] == static_cast<int>(FieldUnit::Gauss)       ? 1e-4
                        : unit[2] == static_cast<int>(FieldUnit::Kilogauss) ? 0.1
                                                                            : 1.0;
  const std::string rUnit = unitNames[0][unit[0]], thetaUnit = unitNames[1][unit[1]];

  // The mesh: the distinct radii and azimuths; the azimuths equally spaced.
  std::vector<double> values(rows.size());
  std::transform(rows.begin(), rows.end(), values.begin(), [](const Row& w) { return w.r; });
  const std::vector<double> radii = DistinctValues(values);
  std::transform(rows.begin(), rows.end(), values.begin(), [](const Row& w) { return w.theta; });
  const std::vector<double> azimuths = DistinctValues(std::move(values));
  if (azimuths.size() < 2)
    return Refuse(name, "every row has the azimuth " + Num(azimuths.front()) + " " + thetaUnit +
                            ": a map needs azimuths at equal steps");
  const double step =
      (azimuths.back() - azimuths.front()) / static_cast<double>(azimuths.size() - 1);
  for (size_t j = 1; j + 1 < azimuths.size(); ++j) {
    const double expected = azimuths.front() + static_cast<double>(j) * step;
    if (std::fabs(azimuths[j] - expected) > 1e-6 * step)
      return Refuse(name, "the azimuths are not equally spaced: " + Num(azimuths[j]) + " " +
                              thetaUnit + " where the step " + Num(step) + " from " +
                              Num(azimuths.front()) + " puts " + Num(expected));
  }
  if (radii.front() < 0)
    return Refuse(name, "the radius " + Num(radii.front()) + " " + rUnit + " is negative");

  // Every node once: the rows sorted by node, compared with the nodes in order.
  const int64_t nR = static_cast<int64_t>(radii.size());
  const int64_t nTheta = static_cast<int64_t>(azimuths.size());
  std::vector<std::pair<int64_t, int64_t>> nodes(rows.size());  // node, row
  for (size_t i = 0; i < rows.size(); ++i)
    nodes[i] = {static_cast<int64_t>(IndexOf(radii, rows[i].r)) * nTheta +
                    static_cast<int64_t>(IndexOf(azimuths, rows[i].theta)),
                static_cast<int64_t>(i)};
  std::sort(nodes.begin(), nodes.end());
  auto nodeText = [&](int64_t node) {
    return "R = " + Num(radii[node / nTheta]) + " " + rUnit +
           ", theta = " + Num(azimuths[node % nTheta]) + " " + thetaUnit;
  };
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (i > 0 && nodes[i].first == nodes[i - 1].first) {
      const Row& earlier = rows[std::min(nodes[i].second, nodes[i - 1].second)];
      const Row& later = rows[std::max(nodes[i].second, nodes[i - 1].second)];
      return Refuse(name, LineText(later.line) + "repeats the node " + nodeText(nodes[i].first) +
                              " of line " + std::to_string(earlier.line));
    }
    const int64_t expected = i == 0 ? 0 : nodes[i - 1].first + 1;
    if (nodes[i].first != expected)
      return Refuse(name, "no row for the node " + nodeText(expected) + " of the mesh of " +
                              std::to_string(nR) + " radii x " + std::to_string(nTheta) +
                              " azimuths");
  }
  if (nodes.back().first != nR * nTheta - 1)
    return Refuse(name, "no row for the node " + nodeText(nodes.back().first + 1) +
                            " of the mesh of " + std::to_string(nR) + " radii x " +
                            std::to_string(nTheta) + " azimuths");

  GivenMap g;
  g.unit = unitNames[2][unit[2]];
  g.field.resize(static_cast<size_t>(nR * nTheta));
  for (const auto& [node, row] : nodes) g.field[node] = rows[row].b * bScale;
  g.radii.resize(radii.size());
  for (size_t i = 0; i < radii.size(); ++i) g.radii[i] = radii[i] * rScale;
  g.thetaMin = azimuths.front() * thetaScale;
  g.dTheta = step * thetaScale;
  g.dThetaDegrees = g.dTheta / Degree();
  if (unit[1] == static_cast<int>(AngleUnit::Degree)) g.dThetaDegrees = step;
  g.nTheta = static_cast<int32_t>(nTheta);
  return CompleteMap(std::move(g), name, MapFormat::Table, options);
}

// ---- choice of the reader ----------------------------------------------------------------------

MapFormat DetectMapFormat(std::string_view bytes) {
  std::size_t cursor = 0;
  const std::string_view first = ReadToken(bytes, cursor);
  if (first == "Gs" || first == "T") return MapFormat::Sdf;

  Lines lines(bytes);
  std::string_view line;
  if (!lines.NextContent(line)) return MapFormat::Sdf;
  if (IsTableComment(line)) {
    // A comment: only a table has them; its header or its first rows decide.
    while (IsTableComment(line))
      if (!lines.Next(line)) return MapFormat::Sdf;
    return LooksLikeTable(line, lines) ? MapFormat::Table : MapFormat::Sdf;
  }
  const Lines::Mark start = lines.mark();
  if (LooksLikeTable(line, lines)) return MapFormat::Table;
  lines.reset(start);
  // The record map's LABEL= line follows its four header numbers; the polar map has six.
  int singles = 0;
  bool single = true;
  for (int content = 0; content < 12; ++content) {
    const std::string_view t = TrimBlanks(line);
    if (StartsWith(t, "LABEL=") || StartsWith(t, "CFELD=")) return MapFormat::Records;
    double v = 0;
    single = single && CountWords(t) == 1 && ParseNumber(t, v);
    if (single) ++singles;
    if (!lines.NextContent(line)) break;
  }
  return singles >= 6 ? MapFormat::Polar : MapFormat::Sdf;
}

Result<FieldMap> ParseMap(std::string_view bytes, std::string_view name,
                          const MapReadingOptions& options) {
  if (Outcome o = CheckMapReadingOptions(options); !o) return o;
  const MapFormat format =
      options.format == MapFormat::Auto ? DetectMapFormat(bytes) : options.format;
  const bool unitsGiven = options.rUnit != RadiusUnit::None ||
                          options.thetaUnit != AngleUnit::None || options.bUnit != FieldUnit::None;
  if (unitsGiven && format != MapFormat::Table)
    return Refuse(name, std::string("--r-unit, --theta-unit and --b-unit give the units of a "
                                    "table's columns; this file is read as a ") +
                            MapFormatName(format) + " map");
  switch (format) {
    case MapFormat::Auto:
    case MapFormat::Sdf: {
      if (!options.AsGiven())
        return Refuse(name,
                      "a .sdf map covers the full turn as it is: --replicate, --mirror, --negate "
                      "and --reverse apply to polar, record and table maps");
      return ParseFieldMap(bytes);
    }
    case MapFormat::Polar:
      return ParsePolarMap(bytes, name, options);
    case MapFormat::Records:
      return ParseRecordMap(bytes, name, options);
    case MapFormat::Table:
      return ParseTableMap(bytes, name, options);
  }
  return Refuse(name, "unknown map format");
}

Result<FieldMap> ReadMap(const std::string& path, const MapReadingOptions& options) {
  if (Outcome o = CheckMapReadingOptions(options); !o) return o;
  FileBytes file = ReadWholeFile(path);
  const bool sdf =
      options.format == MapFormat::Sdf ||
      (options.format == MapFormat::Auto &&
       (file.status != ReadStatus::Ok || DetectMapFormat(file.bytes) == MapFormat::Sdf));
  Result<FieldMap> map = [&]() -> Result<FieldMap> {
    if (file.status == ReadStatus::Ok) return ParseMap(file.bytes, path, options);
    if (sdf) return ParseFieldMapFile(file);  // the *.sdf reader's own refusals
    return Refuse(path, file.status == ReadStatus::CannotAllocate
                            ? std::string("not enough memory to read the file")
                            : "cannot open the file: " + std::string(std::strerror(file.error)));
  }();
  if (map || !sdf) return map;
  // The *.sdf reader's texts do not name the file: the refusal carries it for the front ends.
  Failure failure = map.failure();
  if (failure.message.text.rfind(path + ": ", 0) != 0) failure.file = path;
  return failure;
}

}  // namespace zuba
