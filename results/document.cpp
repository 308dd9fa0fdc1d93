// Reading the document file: bulk little-endian transfers straight from the file into the tables'
// storage, every length checked against the bytes that are really there before anything is
// allocated. The writer is document_write.cpp.
#include "results/document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "platform/memory.h"
#include "platform/numbers.h"
#include "results/document_blocks.h"
#include "results/run_fields.h"

namespace zuba {
namespace {

// ---- sources of bytes -------------------------------------------------------------------------

class Source {
 public:
  virtual ~Source() = default;
  // Bytes not yet read.
  virtual uint64_t remaining() const = 0;
  // Reads exactly size bytes into destination; false when fewer remain or the read fails.
  virtual bool read(void* destination, size_t size) = 0;
  // The system's reason when a read failed for another cause than the end of the data.
  std::string readError;
};

class MemorySource : public Source {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  uint64_t remaining() const override { return bytes_.size() - position_; }
  bool read(void* destination, size_t size) override {
    if (size > remaining()) return false;
    if (size > 0) std::memcpy(destination, bytes_.data() + position_, size);
    position_ += size;
    return true;
  }

 private:
  std::string_view bytes_;
  size_t position_ = 0;
};

// Reads a file through a small buffer for the fields and straight into the destination for the
// large blocks of table elements.
class FileSource : public Source {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size), buffer_(64 * 1024) {}
  uint64_t remaining() const override { return size_ - consumed_; }
  bool read(void* destination, size_t size) override {
    if (size > remaining()) return false;
    char* out = static_cast<char*>(destination);
    // First what is buffered.
    size_t take = std::min(size, end_ - begin_);
    if (take > 0) std::memcpy(out, buffer_.data() + begin_, take);
    begin_ += take;
    out += take;
    size -= take;
    consumed_ += take;
    if (size == 0) return true;
    if (size >= buffer_.size()) {
      if (!readFully(out, size)) return false;
      consumed_ += size;
      return true;
    }
    // Refill the buffer, as far as the file goes.
    size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), remaining()));
    if (!readFully(buffer_.data(), want)) return false;
    begin_ = 0;
    end_ = want;
    std::memcpy(out, buffer_.data(), size);
    begin_ = size;
    consumed_ += size;
    return true;
  }

 private:
  bool readFully(char* out, size_t size) {
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::read(fd_, out + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        readError = std::strerror(errno);
        return false;
      }
      if (n == 0) return false;  // the file shrank while it was read
      done += static_cast<size_t>(n);
    }
    return true;
  }

  int fd_;
  uint64_t size_;
  uint64_t consumed_ = 0;
  std::vector<char> buffer_;
  size_t begin_ = 0, end_ = 0;
};

// Zero-filled storage for n elements. A large table is first offered to the kernel for huge pages:
// filling 250 MB then costs a few hundred page faults instead of some sixty thousand, which is
// most of the time of a load on a busy machine.
template <class T>
std::vector<T> TableStorage(size_t n) {
  std::vector<T> values;
  values.reserve(n);
  if (const size_t bytes = n * sizeof(T); bytes >= (size_t{4} << 20))
    AdviseLargeTable(values.data(), bytes);
  values.resize(n);
  return values;
}

// ---- reading ----------------------------------------------------------------------------------

class Reader {
 public:
  explicit Reader(Source& source) : source_(source) {}

  const std::string& error() const { return error_; }
  void refuse(std::string error) {
    if (error_.empty()) error_ = std::move(error);
  }

  // Reads one field; `what` names it for the message when the file ends inside it.
  bool bytes(void* destination, size_t size, std::string_view what) {
    if (!error_.empty()) return false;
    if (source_.read(destination, size)) return true;
    if (!source_.readError.empty()) {
      refuse("Cannot read the document file: " + source_.readError + ".");
    } else {
      refuse("Damaged document: the file ends inside " + std::string(what) + ".");
    }
    return false;
  }
  template <class T>
  bool number(T& value, std::string_view what) {
    return bytes(&value, sizeof value, what);
  }

  // A text with its length prefix; a text of 16-bit characters becomes UTF-8.
  bool text(std::string& out, std::string_view name) {
    const std::string what = "the text " + std::string(name);
    bool wide = false;
    uint64_t length = 0;
    if (!textLength(length, wide, true, what)) return false;
    const uint64_t available = source_.remaining();
    if (length > (wide ? available / 2 : available)) {
      refuse("Damaged document: the text " + std::string(name) + " declares " +
             std::to_string(length) + " characters but only " + std::to_string(available) +
             " bytes follow.");
      return false;
    }
    if (!wide) {
      out.resize(static_cast<size_t>(length));
      return bytes(out.data(), out.size(), what);
    }
    std::vector<char16_t> units(static_cast<size_t>(length));
    if (!bytes(units.data(), units.size() * 2, what)) return false;
    out = Utf16ToUtf8(units);
    return true;
  }

 private:
  bool textLength(uint64_t& length, bool& wide, bool markAllowed, const std::string& what) {
    uint8_t byte = 0;
    if (!number(byte, what)) return false;
    if (byte < 0xFF) {
      length = byte;
      return true;
    }
    uint16_t word = 0;
    if (!number(word, what)) return false;
    if (word == 0xFFFE && markAllowed) {
      wide = true;  // 16-bit characters follow, after a length prefix of their own
      return textLength(length, wide, false, what);
    }
    if (word < 0xFFFF) {
      length = word;
      return true;
    }
    uint32_t dword = 0;
    if (!number(dword, what)) return false;
    if (dword < 0xFFFFFFFFu) {
      length = dword;
      return true;
    }
    return number(length, what);
  }

  static void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  // UTF-16 to UTF-8, the 8-bit character set of this platform; an unpaired surrogate becomes
  // U+FFFD.
  static std::string Utf16ToUtf8(const std::vector<char16_t>& units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      uint32_t c = units[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = 0xFFFD;
      }
      AppendUtf8(out, c);
    }
    return out;
  }

  Source& source_;
  std::string error_;
};

const char* const kTableNames[12] = {"Ek",         "Rmn",        "Bmn",      "Rev",
                                     "F0",         "dReo",       "OrbitR",   "OrbitVr",
                                     "OrbitTheta", "OrbitOmega", "OrbitTau", "OrbitPoints"};

// How an optional block's opening (version and length after its tag) was read.
enum class BlockStart {
  Read,     // ours to read: its length bytes follow
  Skipped,  // a later writer's block, passed over: not ours to read
  Failed,   // damaged or cut short (the reader says why)
};

// Reads the opening of the block named what and passes over a block of another version than
// ours; length receives its byte count.
BlockStart StartBlock(Source& source, Reader& in, const char* what, uint32_t ours,
                      uint32_t& length) {
  uint32_t version = 0;
  in.number(version, what);
  in.number(length, what);
  if (!in.error().empty()) return BlockStart::Failed;
  if (length > source.remaining()) {
    in.refuse(std::string("Damaged document: ") + what + " declares " + std::to_string(length) +
              " bytes but only " + std::to_string(source.remaining()) + " follow.");
    return BlockStart::Failed;
  }
  if (version == ours) return BlockStart::Read;
  std::string skipped(length, '\0');
  return in.bytes(skipped.data(), skipped.size(), what) ? BlockStart::Skipped : BlockStart::Failed;
}

// Reads the reasons block after its tag.
bool ReadReasonsBlock(Source& source, Reader& in, ClosureTables& closure) {
  uint32_t length = 0;
  const BlockStart start = StartBlock(source, in, "the reasons block", kReasonsVersion, length);
  if (start != BlockStart::Read) return start == BlockStart::Skipped;
  std::string bytes(length, '\0');
  if (!in.bytes(bytes.data(), bytes.size(), "the reasons block")) return false;
  MemorySource block(bytes);
  Reader texts(block);
  int32_t n = 0;
  texts.number(n, "the reasons block");
  std::vector<std::string> reasons;
  if (texts.error().empty() && n >= 0 && static_cast<uint64_t>(n) <= block.remaining()) {
    reasons.resize(static_cast<size_t>(n));
    for (std::string& reason : reasons)
      if (!texts.text(reason, "of a reason")) break;
  }
  if (!texts.error().empty() || n < 0 || reasons.size() != static_cast<size_t>(n) ||
      block.remaining() != 0) {
    in.refuse("Damaged document: the reasons block does not hold " + std::to_string(n) +
              " texts in its " + std::to_string(length) + " bytes.");
    return false;
  }
  closure.reasons = std::move(reasons);
  return true;
}

// Reads the closure block after its tag.
bool ReadClosureBlock(Source& source, Reader& in, ClosureTables& closure) {
  uint32_t length = 0;
  const BlockStart start = StartBlock(source, in, "the closure block", kClosureVersion, length);
  if (start != BlockStart::Read) return start == BlockStart::Skipped;
  ClosureTables read;
  int32_t n = 0;
  in.number(read.mode, "the closure block");
  in.number(read.gainPerTurn, "the closure block");
  in.number(n, "the closure block");
  if (!in.error().empty()) return false;
  if (n < 0 || length != 16 + 36 * static_cast<uint64_t>(n)) {
    in.refuse("Damaged document: the closure block's length " + std::to_string(length) +
              " does not fit its " + std::to_string(n) + " energies.");
    return false;
  }
  for (RealTable* table : {&read.isochronism, &read.phaseDeg, &read.nuR, &read.nuZ}) {
    std::vector<double> values(static_cast<size_t>(n));
    if (!in.bytes(values.data(), values.size() * sizeof(double), "the closure block")) return false;
    table->assign(std::move(values));
  }
  std::vector<int32_t> status(static_cast<size_t>(n));
  if (!in.bytes(status.data(), status.size() * sizeof(int32_t), "the closure block")) return false;
  read.status.assign(std::move(status));
  // The reasons and the tolerance have blocks of their own, which may come first.
  read.reasons = std::move(closure.reasons);
  read.tolerance = closure.tolerance;
  closure = std::move(read);
  return true;
}

// Reads the map-file block after its tag.
bool ReadMapFileBlock(Source& source, Reader& in, FileStamp& stamp) {
  uint32_t length = 0;
  const BlockStart start = StartBlock(source, in, "the map file block", kMapFileVersion, length);
  if (start != BlockStart::Read) return start == BlockStart::Skipped;
  if (length != kMapFileBytes) {
    in.refuse("Damaged document: the map file block's length " + std::to_string(length) +
              " is not " + std::to_string(kMapFileBytes) + ".");
    return false;
  }
  FileStamp read;
  in.number(read.size, "the map file block");
  in.number(read.modifiedNs, "the map file block");
  in.number(read.contentHash, "the map file block");
  if (!in.error().empty()) return false;
  stamp = read;
  return true;
}

// Reads the tolerance block after its tag.
bool ReadToleranceBlock(Source& source, Reader& in, ClosureTables& closure) {
  const char* const what = "the tolerance block";
  uint32_t length = 0;
  const BlockStart start = StartBlock(source, in, what, kToleranceVersion, length);
  if (start != BlockStart::Read) return start == BlockStart::Skipped;
  if (length != kToleranceBytes) {
    in.refuse("Damaged document: the tolerance block's length " + std::to_string(length) +
              " is not " + std::to_string(kToleranceBytes) + ".");
    return false;
  }
  double tolerance = 0;
  if (!in.number(tolerance, what)) return false;
  if (!(tolerance > 0) || !std::isfinite(tolerance)) {
    in.refuse("Damaged document: the tolerance block holds " + FormatNumber(tolerance) +
              ", not a tolerance above 0.");
    return false;
  }
  closure.tolerance = tolerance;
  return true;
}

// Reads the map-reading block after its tag.
bool ReadMapReadingBlock(Source& source, Reader& in, MapReadingOptions& reading) {
  const char* const what = "the map-reading block";
  uint32_t length = 0;
  const BlockStart start = StartBlock(source, in, what, kMapReadingVersion, length);
  if (start != BlockStart::Read) return start == BlockStart::Skipped;
  int32_t v[6] = {};
  if (length != kMapReadingBytes || !in.bytes(v, sizeof v, what)) {
    in.refuse("Damaged document: the map-reading block's length " + std::to_string(length) +
              " is not " + std::to_string(kMapReadingBytes) + ".");
    return false;
  }
  if (v[0] < 0 || v[0] > static_cast<int32_t>(kLastMapFormat) || v[1] < 0 || (v[2] & ~7) != 0 ||
      v[3] < 0 || v[3] > 2 || v[4] < 0 || v[4] > 2 || v[5] < 0 || v[5] > 3) {
    in.refuse("Damaged document: the map-reading block holds an unknown format, flag or unit.");
    return false;
  }
  reading.format = static_cast<MapFormat>(v[0]);
  reading.replicate = v[1];
  reading.mirror = (v[2] & 1) != 0;
  reading.negate = (v[2] & 2) != 0;
  reading.reverse = (v[2] & 4) != 0;
  reading.rUnit = static_cast<RadiusUnit>(v[3]);
  reading.thetaUnit = static_cast<AngleUnit>(v[4]);
  reading.bUnit = static_cast<FieldUnit>(v[5]);
  return true;
}

// The optional blocks after the last table, each begun by its tag, in any order. Bytes that begin
// with no known tag end the reading and are ignored, as before there were blocks.
bool ReadOptionalBlocks(Source& source, Reader& in, ResultTables& results) {
  while (source.remaining() >= sizeof kClosureTag + 8) {
    char tag[sizeof kClosureTag] = {};
    if (!in.bytes(tag, sizeof tag, "an optional block")) return false;
    if (std::memcmp(tag, kClosureTag, sizeof tag) == 0) {
      if (!ReadClosureBlock(source, in, results.closure)) return false;
    } else if (std::memcmp(tag, kReasonsTag, sizeof tag) == 0) {
      if (!ReadReasonsBlock(source, in, results.closure)) return false;
    } else if (std::memcmp(tag, kMapReadingTag, sizeof tag) == 0) {
      if (!ReadMapReadingBlock(source, in, results.mapReading)) return false;
    } else if (std::memcmp(tag, kMapFileTag, sizeof tag) == 0) {
      if (!ReadMapFileBlock(source, in, results.mapFile)) return false;
    } else if (std::memcmp(tag, kToleranceTag, sizeof tag) == 0) {
      if (!ReadToleranceBlock(source, in, results.closure)) return false;
    } else {
      return true;
    }
  }
  return true;
}

// A document refused, with the one line that says what is wrong with it.
Failure DocumentRefusal(std::string reason) {
  return ErrorFailure(std::move(reason), "document");
}

Result<DocumentLoad> LoadDocument(Source& source) {
  DocumentLoad load;
  Reader in(source);
  auto refused = [&in]() { return DocumentRefusal(in.error()); };

  double mark = 0;
  if (!in.number(mark, "the document mark") && !source.readError.empty()) return refused();
  if (!(mark == kFormatMark))  // also when the file is shorter than the mark
    return DocumentRefusal(
        "Not a ZUBA document: the file does not begin with the document mark 2019.11.");
  in.number(load.resultsAvailable, "the results flag");
  int32_t counts[12] = {};
  for (int k = 0; k < 12; ++k) {
    in.number(counts[k], "the length of " + std::string(kTableNames[k]));
  }
  if (!in.error().empty()) return refused();
  for (int k = 0; k < 12; ++k) {
    if (counts[k] < 0) {
      in.refuse("Damaged document: the length of " + std::string(kTableNames[k]) +
                " is negative (" + std::to_string(counts[k]) + ").");
      return refused();
    }
  }

  RunParameters& run = load.results.run;
  for (const RunField& field : kRunFields) {
    VisitRunField(field, run, [&]<class T>(T& value) {
      if constexpr (std::is_same_v<T, std::string>)
        in.text(value, field.name);
      else
        in.number(value, "the run description (" + std::string(field.name) + ")");
    });
  }
  if (!in.error().empty()) return refused();

  // Every element must be in the file before any table is allocated.
  uint64_t needed = 0;
  for (int k = 0; k < 12; ++k) {
    needed += static_cast<uint64_t>(counts[k]) * (k < 11 ? sizeof(double) : sizeof(int32_t));
  }
  if (needed > source.remaining()) {
    in.refuse("Damaged document: the table lengths need " + std::to_string(needed) +
              " bytes of elements but only " + std::to_string(source.remaining()) +
              " bytes follow the run description.");
    return refused();
  }

  int k = 0;
  ForEachTable(load.results, [&](const char* name, auto& table) {
    using T = std::remove_cvref_t<decltype(table.at(0))>;
    std::vector<T> values = TableStorage<T>(static_cast<size_t>(counts[k++]));
    if (in.bytes(values.data(), values.size() * sizeof(T),
                 "the elements of " + std::string(name))) {
      table.assign(std::move(values));
    }
  });
  if (!in.error().empty()) return refused();
  if (!ReadOptionalBlocks(source, in, load.results)) return refused();
  return load;
}

}  // namespace

Result<DocumentLoad> LoadDocumentBytes(std::string_view bytes) {
  MemorySource source(bytes);
  return LoadDocument(source);
}

Result<DocumentLoad> LoadDocumentFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return DocumentRefusal("Cannot open the document file: " + std::string(std::strerror(errno)) +
                           ".");
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const bool statFailed = !S_ISREG(info.st_mode) && info.st_mode == 0;
    const std::string reason = statFailed              ? std::strerror(errno)
                               : S_ISDIR(info.st_mode) ? std::strerror(EISDIR)
                                                       : "not a regular file";
    ::close(fd);
    return DocumentRefusal("Cannot open the document file: " + reason + ".");
  }
  FileSource source(fd, static_cast<uint64_t>(info.st_size));
  Result<DocumentLoad> load = LoadDocument(source);
  ::close(fd);
  return load;
}

}  // namespace zuba
