// The layout of the document file that its reader (document.cpp) and writer (document_write.cpp)
// share: the optional blocks' tags, versions and lengths (the whole layout: document.h).
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace zuba {

// The file is little-endian and the tables are copied to and from it byte for byte.
static_assert(std::endian::native == std::endian::little,
              "the document reader and writer copy little-endian numbers as they are in memory");
static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559);

// The optional block after the last table: the tag, a 32-bit version, the 32-bit byte count of
// what follows, then (version 1) the closure mode (int32), the gain per turn (real, MeV), the
// energy count n (int32), n reals each of isochronism, phaseDeg, nuR and nuZ, and n int32 of
// status. Bytes that do not begin with the tag are ignored as before; a block of a later version
// is skipped whole.
inline constexpr char kClosureTag[8] = {'Z', 'U', 'B', 'A', 'C', 'L', 'S', 'R'};
inline constexpr uint32_t kClosureVersion = 1;

// The block that may follow the closure block: why energies did not close. The tag, a 32-bit
// version, the 32-bit byte count of what follows, then (version 1) int32 n and n texts (length
// prefix, then the characters), one per energy, empty where the energy closed. Written only when
// some energy did not close; a reader of the closure block alone never reaches it.
inline constexpr char kReasonsTag[8] = {'Z', 'U', 'B', 'A', 'C', 'L', 'R', 'S'};
inline constexpr uint32_t kReasonsVersion = 1;

// The optional block of the field map file the run read: the tag, a 32-bit version, the 32-bit
// byte count of what follows, then (version 1) its size (int64, bytes), its modification time
// (int64, ns since 1970) and the FNV-1a hash of its bytes (uint64). Written only for a record
// that knows its map file; a block of a later version is skipped whole.
inline constexpr char kMapFileTag[8] = {'Z', 'U', 'B', 'A', 'M', 'A', 'P', 'F'};
inline constexpr uint32_t kMapFileVersion = 1;
inline constexpr uint32_t kMapFileBytes = 24;

// The map-reading block: the tag, a 32-bit version, the 32-bit byte count of what follows, then
// (version 1) six int32: the map format, the sector count of --replicate (0 none), the flags
// (1 mirror, 2 negate, 4 reverse) and the radius, angle and field units of a table
// (results/map_reading.h). Written only when the map was not read as a *.sdf map is by default.
// A block of a later version is skipped whole.
inline constexpr char kMapReadingTag[8] = {'Z', 'U', 'B', 'A', 'M', 'A', 'P', 'R'};
inline constexpr uint32_t kMapReadingVersion = 1;
inline constexpr uint32_t kMapReadingBytes = 24;

// The block of the precise closure's tolerance: the tag, a 32-bit version, the 32-bit byte count
// of what follows, then (version 1) the relative tolerance (real, above 0) to which the run
// integrated its orbits. Written only for a precise run, and last of all the blocks: a reader that
// does not know it has read every other block when it meets its tag, and stops there as it stops
// at any bytes it does not know. A block of a later version is skipped whole.
inline constexpr char kToleranceTag[8] = {'Z', 'U', 'B', 'A', 'C', 'L', 'T', 'L'};
inline constexpr uint32_t kToleranceVersion = 1;
inline constexpr uint32_t kToleranceBytes = 8;

}  // namespace zuba
