// Writing the document file: the head, the tables' elements straight from their storage, and the
// optional blocks that the record needs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/files.h"
#include "results/document.h"
#include "results/document_blocks.h"
#include "results/run_fields.h"

namespace zuba {
namespace {

constexpr size_t kHeaderBytes = 60;  // mark, flag, twelve lengths
constexpr size_t kRunBytes = 80;     // the twelve numbers of the run description

template <class T>
void Append(std::string& out, T value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.append(bytes, sizeof value);
}

void AppendText(std::string& out, const std::string& text) {
  const uint64_t length = text.size();
  if (length < 0xFF) {
    Append<uint8_t>(out, static_cast<uint8_t>(length));
  } else if (length < 0xFFFE) {
    Append<uint8_t>(out, 0xFF);
    Append<uint16_t>(out, static_cast<uint16_t>(length));
  } else if (length < 0xFFFFFFFFu) {
    Append<uint8_t>(out, 0xFF);
    Append<uint16_t>(out, 0xFFFF);
    Append<uint32_t>(out, static_cast<uint32_t>(length));
  } else {
    Append<uint8_t>(out, 0xFF);
    Append<uint16_t>(out, 0xFFFF);
    Append<uint32_t>(out, 0xFFFFFFFFu);
    Append<uint64_t>(out, length);
  }
  out += text;
}

// Everything before the elements: mark, flag, lengths, texts, run description.
std::string HeadBytes(const ResultTables& results, int32_t resultsAvailable) {
  std::string out;
  out.reserve(kHeaderBytes + kRunBytes + 18 + results.run.Path.size() +
              results.run.ParticleName.size());
  Append(out, kFormatMark);
  Append(out, resultsAvailable);
  ForEachTable(results, [&out](const char* name, const auto& table) {
    if (table.size() > std::numeric_limits<int32_t>::max()) {
      throw std::length_error(std::string("the table ") + name + " has " +
                              std::to_string(table.size()) +
                              " elements, more than a document can hold");
    }
    Append(out, static_cast<int32_t>(table.size()));
  });
  for (const RunField& field : kRunFields) {
    VisitRunField(field, results.run, [&out]<class T>(const T& value) {
      if constexpr (std::is_same_v<T, std::string>)
        AppendText(out, value);
      else
        Append(out, value);
    });
  }
  return out;
}

// The reasons block for n energies, or nothing when no energy has a reason.
std::string ReasonsBlockBytes(const std::vector<std::string>& reasons, int64_t n) {
  std::string out;
  if (std::all_of(reasons.begin(), reasons.end(), [](const std::string& r) { return r.empty(); }))
    return out;
  std::string body;
  Append(body, static_cast<int32_t>(n));
  for (int64_t i = 0; i < n; ++i)
    AppendText(body, i < std::ssize(reasons) ? reasons[static_cast<size_t>(i)] : std::string());
  if (body.size() > std::numeric_limits<uint32_t>::max())
    throw std::length_error("the reasons of the closure tables need more than 4 GB");
  out.append(kReasonsTag, sizeof kReasonsTag);
  Append(out, kReasonsVersion);
  Append(out, static_cast<uint32_t>(body.size()));
  out += body;
  return out;
}

// The closure block, or nothing when the record has no closure tables and no gain per turn (a
// record made without a run). Tables of unequal length are cut to the shortest, so that the block
// always reads back.
std::string ClosureBlockBytes(const ClosureTables& closure) {
  std::string out;
  if (closure.empty()) return out;
  const RealTable* tables[4] = {&closure.isochronism, &closure.phaseDeg, &closure.nuR,
                                &closure.nuZ};
  int64_t n = closure.status.size();
  for (const RealTable* table : tables) n = std::min(n, table->size());
  if (n > (std::numeric_limits<uint32_t>::max() - 16) / 36)
    throw std::length_error("the closure tables have " + std::to_string(n) +
                            " energies, more than a document can hold");
  out.append(kClosureTag, sizeof kClosureTag);
  Append(out, kClosureVersion);
  Append(out, static_cast<uint32_t>(16 + 36 * n));
  Append(out, closure.mode);
  Append(out, closure.gainPerTurn);
  Append(out, static_cast<int32_t>(n));
  for (const RealTable* table : tables) {
    auto values = table->values().first(static_cast<size_t>(n));
    out.append(reinterpret_cast<const char*>(values.data()), values.size_bytes());
  }
  auto status = closure.status.values().first(static_cast<size_t>(n));
  out.append(reinterpret_cast<const char*>(status.data()), status.size_bytes());
  out += ReasonsBlockBytes(closure.reasons, n);
  return out;
}

// The map-reading block, or nothing when the map was read as a *.sdf map is by default: the
// document of such a run is byte for byte what it was without the block.
std::string MapReadingBlockBytes(const MapReadingOptions& reading) {
  std::string out;
  if (reading.IsDefault()) return out;
  out.append(kMapReadingTag, sizeof kMapReadingTag);
  Append(out, kMapReadingVersion);
  Append(out, kMapReadingBytes);
  Append(out, static_cast<int32_t>(reading.format));
  Append(out, reading.replicate);
  Append(out, static_cast<int32_t>((reading.mirror ? 1 : 0) | (reading.negate ? 2 : 0) |
                                   (reading.reverse ? 4 : 0)));
  Append(out, static_cast<int32_t>(reading.rUnit));
  Append(out, static_cast<int32_t>(reading.thetaUnit));
  Append(out, static_cast<int32_t>(reading.bUnit));
  return out;
}

// The map-file block, or nothing when the record does not know its map file.
std::string MapFileBlockBytes(const FileStamp& stamp) {
  std::string out;
  if (!stamp.known()) return out;
  out.append(kMapFileTag, sizeof kMapFileTag);
  Append(out, kMapFileVersion);
  Append(out, kMapFileBytes);
  Append(out, stamp.size);
  Append(out, stamp.modifiedNs);
  Append(out, stamp.contentHash);
  return out;
}

// The tolerance block, or nothing unless the record is of a precise run that knows its tolerance:
// the documents of the default search are byte for byte what they were without the block.
std::string ToleranceBlockBytes(const ClosureTables& closure) {
  std::string out;
  if (closure.mode != 1 || !(closure.tolerance > 0)) return out;
  out.append(kToleranceTag, sizeof kToleranceTag);
  Append(out, kToleranceVersion);
  Append(out, kToleranceBytes);
  Append(out, closure.tolerance);
  return out;
}

}  // namespace

std::string StoreDocumentBytes(const ResultTables& results, int32_t resultsAvailable) {
  std::string out = HeadBytes(results, resultsAvailable);
  uint64_t elements = 0;
  ForEachTable(results, [&elements](const char*, const auto& table) {
    elements += table.values().size_bytes();
  });
  out.reserve(out.size() + elements);
  ForEachTable(results, [&out](const char*, const auto& table) {
    auto values = table.values();
    out.append(reinterpret_cast<const char*>(values.data()), values.size_bytes());
  });
  out += ClosureBlockBytes(results.closure);
  out += MapReadingBlockBytes(results.mapReading);
  out += MapFileBlockBytes(results.mapFile);
  out += ToleranceBlockBytes(results.closure);  // last: see kToleranceTag
  return out;
}

Outcome SaveDocumentFile(const std::string& path, const ResultTables& results,
                         int32_t resultsAvailable) {
  std::string head, closure;
  try {
    head = HeadBytes(results, resultsAvailable);
    closure = ClosureBlockBytes(results.closure);
    closure += MapReadingBlockBytes(results.mapReading);
    closure += MapFileBlockBytes(results.mapFile);
    closure += ToleranceBlockBytes(results.closure);  // last: see kToleranceTag
  } catch (const std::length_error& e) {
    return ErrorFailure(std::string("Cannot save the document: ") + e.what() + ".", path);
  }
  // The elements go from the tables' storage to the file without an intermediate copy.
  AtomicFileWriter writer(path);
  writer.write(head.data(), head.size());
  ForEachTable(results, [&writer](const char*, const auto& table) {
    auto values = table.values();
    writer.write(values.data(), values.size_bytes());
  });
  writer.write(closure.data(), closure.size());
  if (Outcome written = writer.commit(); !written)
    return ErrorFailure("Cannot save the document: " + written.message().text + ".", path);
  return {};
}

}  // namespace zuba
