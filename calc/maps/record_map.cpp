// The measured-record map: four header numbers, the LABEL= and CFELD= lines, parameter blocks and
// one record of fixed-width numbers per radius (B_z in kG and its azimuthal derivatives).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "calc/maps/lab_headers.h"
#include "calc/maps/map_formats.h"
#include "calc/maps/map_text.h"

namespace zuba {
namespace {

constexpr size_t kFieldWidth = 16;  // characters of one number in the blocks and records
// The second parameter block: nine numbers of the run, then the mean field of every radius (kG).
constexpr int64_t kMeanFieldOffset = 9;
// How far the stored mean field of a radius may lie from the mean of its record's B_z, relative
// to the mean field: real maps agree to a few 1e-7; a value damaged by even a few gauss at one
// azimuth moves the mean by far more.
constexpr double kMeanFieldTolerance = 1e-5;

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
    failure = RefuseMapFile(name, "the file ends where " + expected + " should follow");
    return false;
  }
  if (!StartsWith(TrimBlanks(line), prefix)) {
    failure = RefuseMapFile(name, LineText(lines.number()) + "expected " + expected + ", found " +
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
    if (!ReadFileNumber(field, value))
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
      failure = RefuseMapFile(name, what + " ends after " + std::to_string(out.size() - start) +
                                        " of its " + std::to_string(count) + " values" +
                                        (lines.remaining() == 0 ? " at the end of the file" : ""));
      return false;
    }
    const std::string error = ReadFields(line, out, want - (out.size() - start));
    if (!error.empty()) {
      failure =
          RefuseMapFile(name, LineText(lines.number()).append(what).append(", ").append(error));
      return false;
    }
  }
  return true;
}

// Why the mean field stored for a radius disagrees with the record's B_z (empty when it agrees):
// the mean over the record's azimuths, without the last where it closes the period (equals the
// first).
std::string MeanFieldRefusal(const std::vector<double>& record, int64_t azimuths, double stored,
                             double radiusMm) {
  const double first = record.front(), last = record[static_cast<size_t>(azimuths - 1)];
  const bool closing =
      azimuths >= 2 && std::fabs(last - first) <= 1e-9 * std::max(1.0, std::fabs(first));
  const int64_t count = closing ? azimuths - 1 : azimuths;
  double sum = 0;
  for (int64_t j = 0; j < count; ++j) sum += record[static_cast<size_t>(j)];
  const double mean = sum / static_cast<double>(count);
  const double scale = std::max(std::fabs(stored), std::fabs(mean));
  const double off = std::fabs(stored - mean);
  if (off <= kMeanFieldTolerance * scale) return {};
  return "the stored mean field " + MessageNumber(stored) +
         " kG at R = " + MessageNumber(radiusMm) +
         " mm differs from the mean of the record's B_z, " + MessageNumber(mean) + " kG, by " +
         MessageNumber(off / scale) + " of it (more than 1e-5): a damaged or edited file";
}

// The LABEL= line and the counts of the CFELD= line: NREC= records, NPAR= parameter blocks.
bool ReadRecordCounts(Lines& lines, std::string_view name, int64_t& nRec, int64_t& nPar,
                      Failure& failure) {
  std::string_view line;
  if (!ExpectLine(lines, name, "LABEL=", "the LABEL= line", line, failure)) return false;
  const std::string counts = "the line CFELD=... NREC= n NPAR= n";
  if (!ExpectLine(lines, name, "CFELD=", counts, line, failure)) return false;
  if (!KeyValue(line, "NREC=", nRec) || !KeyValue(line, "NPAR=", nPar)) {
    failure = RefuseMapFile(name, LineText(lines.number()) + "expected " + counts + ", found " +
                                      Quoted(TrimBlanks(line)));
    return false;
  }
  if (nRec < 1 || nRec > kInt32Max) {
    failure = RefuseMapFile(name, LineText(lines.number()) + "NREC= " + std::to_string(nRec) +
                                      ": expected one record or more");
    return false;
  }
  if (nPar < 1 || nPar > kInt32Max) {
    failure = RefuseMapFile(
        name, LineText(lines.number()) + "NPAR= " + std::to_string(nPar) +
                  ": expected one parameter block or more (the first gives the mesh)");
    return false;
  }
  return true;
}

// Reads past a parameter block of text: its lines run to the next block or record.
void SkipTextBlock(Lines& lines) {
  std::string_view line;
  for (;;) {
    const Lines::Mark before = lines.mark();
    if (!lines.Next(line)) break;
    if (IsBlockLine(line)) {
      lines.reset(before);
      break;
    }
  }
}

// What the parameter blocks give: the mesh's counts, and the mean field of every radius where the
// second block holds it.
struct RecordParameters {
  int64_t radii = 0, azimuths = 0;
  std::vector<double> means;  // kG, the second block's last NREC numbers when it holds them
  int64_t meansLine = 0;
};

// The parameter blocks: the first gives the counts; every block of numbers (integers IENT= 1,
// reals IENT= 2) is read whole, each number checked; a block of text (IENT= 3) is read past.
// The second block holds, after nine numbers, the mean field of every radius (kG), which the
// records are checked against.
bool ReadParameterBlocks(Lines& lines, std::string_view name, int64_t nPar,
                         RecordParameters& parameters, Failure& failure) {
  std::string_view line;
  for (int64_t p = 1; p <= nPar; ++p) {
    int64_t length = 0, index = 0, kind = 0;
    const std::string expected = "parameter block " + std::to_string(p) + " of " +
                                 std::to_string(nPar) + ", LPAR= n ... IPAR= " + std::to_string(p);
    if (!ExpectLine(lines, name, "LPAR=", expected, line, failure)) return false;
    if (!KeyValue(line, "LPAR=", length) || !KeyValue(line, "IPAR=", index)) {
      failure = RefuseMapFile(name, LineText(lines.number()) + "expected " + expected + ", found " +
                                        Quoted(TrimBlanks(line)));
      return false;
    }
    if (index != p) {
      failure = RefuseMapFile(name, LineText(lines.number()) +
                                        "expected parameter block IPAR= " + std::to_string(p) +
                                        ", found IPAR= " + std::to_string(index));
      return false;
    }
    const bool numbers = p == 1 || (KeyValue(line, "IENT=", kind) && (kind == 1 || kind == 2));
    const std::string block =
        "parameter block " + std::to_string(p) + " (line " + std::to_string(lines.number()) + ")";
    if (!numbers) {
      SkipTextBlock(lines);
      continue;
    }
    if (length < (p == 1 ? 3 : 1) || length > static_cast<int64_t>(lines.remaining())) {
      failure = RefuseMapFile(name, block + ": LPAR= " + std::to_string(length) + ", expected " +
                                        (p == 1 ? "at least 3 integers (the radii and the azimuths "
                                                  "per record are the second and the third)"
                                                : "as many numbers as the file holds after it"));
      return false;
    }
    std::vector<double> values;
    if (!ReadFieldBlock(lines, name, block, length, values, failure)) return false;
    if (p == 1) {
      if (!WholeCount(values[1], parameters.radii) || !WholeCount(values[2], parameters.azimuths)) {
        failure =
            RefuseMapFile(name, block +
                                    ": expected the number of radii and of azimuths per "
                                    "record, whole numbers from 1 on, found " +
                                    MessageNumber(values[1]) + " and " + MessageNumber(values[2]));
        return false;
      }
    } else if (p == 2 && length == kMeanFieldOffset + parameters.radii) {
      parameters.means.assign(values.begin() + kMeanFieldOffset, values.end());
      parameters.meansLine = lines.number();
    }
  }
  return true;
}

// The LREC= line of record k of nRec, checked; `where` names the record for the messages.
bool ExpectRecordLine(Lines& lines, std::string_view name, int64_t k, int64_t nRec,
                      int64_t azimuths, std::string& where, Failure& failure) {
  std::string_view line;
  int64_t length = 0, index = 0;
  const std::string expected = "record " + std::to_string(k) + " of " + std::to_string(nRec) +
                               ", LREC= " + std::to_string(4 * azimuths) +
                               " ... IREC= " + std::to_string(k);
  if (!ExpectLine(lines, name, "LREC=", expected, line, failure)) return false;
  if (!KeyValue(line, "LREC=", length) || !KeyValue(line, "IREC=", index)) {
    failure = RefuseMapFile(name, LineText(lines.number()) + "expected " + expected + ", found " +
                                      Quoted(TrimBlanks(line)));
    return false;
  }
  where = "record " + std::to_string(k) + " (line " + std::to_string(lines.number()) + ")";
  if (index != k) {
    failure = RefuseMapFile(name, where + ": expected IREC= " + std::to_string(k) +
                                      ", found IREC= " + std::to_string(index));
    return false;
  }
  if (length != 4 * azimuths) {
    failure =
        RefuseMapFile(name, where + ": LREC= " + std::to_string(length) + ", expected 4 x " +
                                std::to_string(azimuths) + " = " + std::to_string(4 * azimuths) +
                                " values (B_z and its three azimuthal derivatives at " +
                                std::to_string(azimuths) + " azimuths)");
    return false;
  }
  return true;
}

// The records, one a radius: B_z of each appended to g.field (T), each checked against the mean
// field the parameter blocks give; `header` is the file's four header numbers.
bool ReadRecords(Lines& lines, std::string_view name, int64_t nRec, const double header[4],
                 const RecordParameters& parameters, GivenMap& g, Failure& failure) {
  const int64_t azimuths = parameters.azimuths;
  g.field.reserve(static_cast<size_t>(nRec * azimuths));
  std::vector<double> record;
  record.reserve(static_cast<size_t>(4 * azimuths));
  std::string where;
  for (int64_t k = 1; k <= nRec; ++k) {
    if (!ExpectRecordLine(lines, name, k, nRec, azimuths, where, failure)) return false;
    record.clear();
    if (!ReadFieldBlock(lines, name, where, 4 * azimuths, record, failure)) return false;
    // B_z comes first; its derivatives follow and are not needed.
    for (int64_t j = 0; j < azimuths; ++j) g.field.push_back(record[j] * 0.1);  // kG -> T
    if (!parameters.means.empty()) {
      const std::string refusal =
          MeanFieldRefusal(record, azimuths, parameters.means[static_cast<size_t>(k - 1)],
                           header[0] + (k - 1) * header[1]);
      if (!refusal.empty()) {
        failure = RefuseMapFile(name, std::string(where)
                                          .append(": ")
                                          .append(refusal)
                                          .append(" (parameter block 2, line ")
                                          .append(std::to_string(parameters.meansLine))
                                          .append(")"));
        return false;
      }
    }
  }
  return true;
}

}  // namespace

Result<FieldMap> ParseRecordMap(std::string_view bytes, std::string_view name,
                                const MapReadingOptions& options) {
  Lines lines(bytes);
  double header[4] = {};
  int64_t headerLine[4] = {};
  Failure failure;
  if (!HeaderNumbers(lines, name, 4, header, headerLine, failure)) return failure;
  if (header[0] < 0)
    return RefuseMapFile(name, LineText(headerLine[0]) + "r_min must not be negative, found " +
                                   MessageNumber(header[0]) + " mm");
  if (!(header[1] > 0))
    return RefuseMapFile(name, LineText(headerLine[1]) + "the radius step must be above 0, found " +
                                   MessageNumber(header[1]) + " mm");
  double dTheta = 0;
  if (!HeaderStep(header[3], dTheta))
    return RefuseMapFile(name, LineText(headerLine[3]) + "the azimuth step must not be 0");

  int64_t nRec = 0, nPar = 0;
  if (!ReadRecordCounts(lines, name, nRec, nPar, failure)) return failure;
  RecordParameters parameters;
  if (!ReadParameterBlocks(lines, name, nPar, parameters, failure)) return failure;
  const int64_t azimuths = parameters.azimuths;
  if (nRec != parameters.radii)
    return RefuseMapFile(name, "NREC= " + std::to_string(nRec) +
                                   " records, but parameter block 1 gives " +
                                   std::to_string(parameters.radii) + " radii");
  // Every value of the records takes at least one byte of the file.
  if (nRec * 4 * azimuths > static_cast<int64_t>(lines.remaining()))
    return RefuseMapFile(name, std::to_string(nRec) + " records of 4 x " +
                                   std::to_string(azimuths) + " values need more than the " +
                                   std::to_string(lines.remaining()) +
                                   " bytes that follow the parameter blocks");

  GivenMap g;
  g.unit = "kG";
  if (!ReadRecords(lines, name, nRec, header, parameters, g, failure)) return failure;
  std::string_view line;
  if (lines.NextContent(line))
    return RefuseMapFile(name, LineText(lines.number()) +
                                   "expected the end of the file after record " +
                                   std::to_string(nRec) + ", found " + Quoted(TrimBlanks(line)));

  SetHeaderMesh(g, header[0], header[1], nRec, header[2], dTheta, azimuths);
  return CompleteMap(std::move(g), name, MapFormat::Records, options);
}

}  // namespace zuba
