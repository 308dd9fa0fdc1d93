// File stamps (see file_stamp.h).
#include "platform/file_stamp.h"

#include <sys/stat.h>

#include "platform/files.h"

namespace zuba {

uint64_t ContentHash(const void* bytes, std::size_t size) {
  uint64_t hash = 14695981039346656037ull;
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= p[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

FileStamp StampFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  const FileBytes file = ReadWholeFile(path);
  if (file.status != ReadStatus::Ok) return {};
  return StampOfBytes(path, file.bytes);
}

FileStamp StampOfBytes(const std::string& path, std::string_view bytes) {
  FileStamp stamp;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return stamp;
  stamp.size = static_cast<int64_t>(bytes.size());
  stamp.modifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  stamp.contentHash = ContentHash(bytes.data(), bytes.size());
  return stamp;
}

}  // namespace zuba
