// What identifies the contents of a file at one moment: its size, its modification time and a hash
// of its bytes. A run keeps the stamp of the field map it read, so that a later look at the run can
// tell whether the file on disk is still the one the orbits were found in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zuba {

struct FileStamp {
  int64_t size = -1;         // bytes; -1 when the stamp is unknown (taken of no file)
  int64_t modifiedNs = 0;    // modification time, nanoseconds since 1970-01-01 UTC
  uint64_t contentHash = 0;  // 64-bit FNV-1a of every byte

  bool known() const { return size >= 0; }
  // The same contents: the size and the hash agree (the time alone may change with a copy).
  bool SameContents(const FileStamp& other) const {
    return size == other.size && contentHash == other.contentHash;
  }
  bool operator==(const FileStamp&) const = default;
};

// The 64-bit FNV-1a hash of bytes.
uint64_t ContentHash(const void* bytes, std::size_t size);

// The stamp of the file at path now; an unknown stamp when it cannot be read.
FileStamp StampFile(const std::string& path);

// The stamp of the file at path whose bytes were just read (its time from the file system, its
// size and hash from the bytes): the file read once for both its contents and its stamp.
FileStamp StampOfBytes(const std::string& path, std::string_view bytes);

}  // namespace zuba
