// POSIX implementation of the file services.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace zuba {

FileBytes ReadWholeFile(const std::string& path) {
  FileBytes result;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    result.error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    return result;
  }
  try {
    result.bytes.resize(static_cast<size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    result.status = ReadStatus::CannotAllocate;
    result.error = ENOMEM;
    ::close(fd);
    return result;
  }
  size_t done = 0;
  while (done < result.bytes.size()) {
    ssize_t n = ::read(fd, result.bytes.data() + done, result.bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.error = errno;
      result.bytes.clear();
      ::close(fd);
      return result;
    }
    if (n == 0) break;  // the file shrank meanwhile: keep what was there
    done += static_cast<size_t>(n);
  }
  result.bytes.resize(done);
  ::close(fd);
  result.status = ReadStatus::Ok;
  return result;
}

WriteResult WriteFileAtomically(const std::string& path, std::string_view bytes) {
  WriteResult result;
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    result.error = std::strerror(errno);
    return result;
  }
  auto fail = [&](int err) {
    result.error = std::strerror(err);
    ::close(fd);
    ::unlink(temp.c_str());
    return result;
  };
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno);
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return fail(errno);
  // mkstemp creates the file 0600; give it the usual permissions of a new file.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    result.error = std::strerror(err);
    return result;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    result.error = std::strerror(err);
    return result;
  }
  result.ok = true;
  return result;
}

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

}  // namespace zuba
