// File services: read a whole file in one read, and replace a file atomically so that a failed
// write never destroys the earlier file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/outcome.h"

namespace zuba {

enum class ReadStatus {
  Ok,
  CannotOpen,     // missing, unreadable, a directory, or the read itself failed
  CannotAllocate  // no buffer of the file's length could be obtained
};

struct FileBytes {
  ReadStatus status = ReadStatus::CannotOpen;
  std::string bytes;  // the whole file when status is Ok
  int error = 0;      // errno of the failure
};

// Opens the file for reading (other programs may read and write it meanwhile), takes its length
// and reads it in one read into one buffer.
FileBytes ReadWholeFile(const std::string& path);

// Writes bytes to a temporary file beside path, flushes it to disk and renames it over path.
// On any failure the temporary file is removed and the file at path is left as it was; the
// failure's text is the system's reason ("No space left on device"), its subject the path.
Outcome WriteFileAtomically(const std::string& path, std::string_view bytes);

// Writes a file piece by piece into a temporary file beside path (for outputs too large to build
// in memory first); commit() flushes it to disk and renames it over path. Without a successful
// commit the temporary file is removed on destruction and the file at path is left as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Appends bytes; false once anything has failed (the first failure's reason is kept).
  bool write(const void* data, std::size_t size);
  // Flushes, closes and renames over path; ok only if every step, and every write, succeeded.
  Outcome commit();

 private:
  void fail(int err);

  std::string path_;
  std::string temp_;
  int fd_ = -1;
  std::string error_;
};

// The calling thread's last system error code (errno on this platform).
uint32_t LastSystemError();

}  // namespace zuba
