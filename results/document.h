// The document file (*.zub): one ResultTables record and the ResultsAvailable flag as a flat
// little-endian binary record. Layout (no padding):
//   offset 0   real    the mark 2019.11 (bytes 3D 0A D7 A3 70 8C 9F 40)
//   offset 8   int32   ResultsAvailable
//   offset 12  int32 x 12  the lengths of the twelve tables in their binding order
//   offset 60  text    Path, then text ParticleName (length prefix, then one byte per character)
//   then       EkBegin EkEnd dEk Frf (reals), H N ChargeSign Q (int32), m0 T0 TIs h (reals): the
//              fields in the order of the table of run fields (results/run_fields.h)
//   then       the elements of the twelve tables, table after table (reals; OrbitPoints int32)
//   then, only when the record has closure tables (a run of the precise closure) or keeps the gain
//   per turn of its run (a run of the default search: mode 0 and n = 0), one optional block that
//   readers of the twelve tables never reach: the eight characters ZUBACLSR, uint32 version (1),
//   uint32 byte count of the rest; then int32 closure mode, real gain per turn (MeV), int32 n, n
//   reals each of isochronism, phaseDeg, nuR, nuZ, and n int32 of status (0 closed, 1 not closed,
//   2 singular, 3 failed, plus 4 / 8 for unstable radial / vertical motion).
//   Then, only when some energy did not close or has a note on its values, the reasons block that
//   readers of the closure block never reach: the eight characters ZUBACLRS, uint32 version (1),
//   uint32 byte count of the rest; then int32 n and n texts (length prefix as below), empty where
//   there is nothing to say.
//   Then, only when the map was not read as a *.sdf map is by default (results/map_reading.h), the
//   map-reading block: ZUBAMAPR, uint32 version (1), uint32 byte count of the rest (24); then int32
//   each of the map format, the sector count of --replicate (0 none), the flags (1 mirror,
//   2 negate, 4 reverse) and the radius, angle and field units of a table.
//   Then, only when the record knows the field map file its run read, the map-file block:
//   ZUBAMAPF, uint32 version (1), uint32 byte count (24); then int64 file size, int64 modification
//   time (ns since 1970) and uint64 FNV-1a hash of the file's bytes.
//   Last, only for a run of the precise closure, the tolerance block: ZUBACLTL, uint32 version
//   (1), uint32 byte count (8); then the real relative tolerance to which the run integrated its
//   orbits. A reader that does not know the block stops at its tag having read all the others; a
//   precise run's document without it (written before it was kept) reads with the tolerance 0,
//   unknown.
// A text's length prefix: L < 255 one byte; L <= 65533: FF, uint16; L <= 4294967294: FF FFFF,
// uint32; larger: FF FFFF FFFFFFFF, uint64. On reading, FF FEFF (the 16-bit value FFFE) marks a
// text of 16-bit characters: a second prefix of the same scheme, then L UTF-16LE units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/outcome.h"
#include "results/result_tables.h"

namespace zuba {

// The first eight bytes of every document: this real, little-endian.
inline constexpr double kFormatMark = 2019.11;

// What a document holds. A refused document is one line saying what is wrong with the file: the
// caller keeps its own document as it was.
struct DocumentLoad {
  ResultTables results;
  int32_t resultsAvailable = 0;
};

// Reads a document file. Refused, with nothing applied: a file that cannot be read, a file whose
// first eight bytes are not the mark, a file that ends before a field is complete, a negative
// table length, lengths that need more bytes than the file has after the run description, a text
// whose length runs past the end of the file. Lengths that disagree with each other are loaded as
// they stand. After the last element, the optional blocks (closure, reasons, map reading, map
// file, tolerance) are read in any order
// when their tags are there (refused when damaged, skipped whole when of a later version); any
// other bytes there are ignored.
// 16-bit texts become UTF-8.
Result<DocumentLoad> LoadDocumentFile(const std::string& path);

// The same from bytes in memory.
Result<DocumentLoad> LoadDocumentBytes(std::string_view bytes);

// The bytes of the document. A table longer than a 32-bit length can say throws
// std::length_error.
std::string StoreDocumentBytes(const ResultTables& results, int32_t resultsAvailable);

// Writes the document to a temporary file beside path, flushes it to disk and renames it over
// path; on any failure the temporary file is removed and an earlier file at path stays as it was,
// and the failure is one line saying why.
Outcome SaveDocumentFile(const std::string& path, const ResultTables& results,
                         int32_t resultsAvailable);

}  // namespace zuba
