// POSIX implementation of the file services.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

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

namespace {
// A failed write: the system's reason for the error code, about the file at path.
Failure WriteFailure(int err, const std::string& path) {
  return ErrorFailure(std::strerror(err), path);
}
}  // namespace

Outcome WriteFileAtomically(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return WriteFailure(errno, path);
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    return WriteFailure(err, path);
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
    return WriteFailure(err, path);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return WriteFailure(err, path);
  }
  return {};
}

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)), temp_(path_) {
  temp_ += ".tmp-XXXXXX";
  fd_ = ::mkstemp(temp_.data());
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    temp_.clear();
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFileWriter::fail(int err) {
  if (error_.empty()) error_ = std::strerror(err);
}

bool AtomicFileWriter::write(const void* data, std::size_t size) {
  if (!error_.empty()) return false;
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      fail(errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

Outcome AtomicFileWriter::commit() {
  if (error_.empty() && ::fsync(fd_) != 0) fail(errno);
  if (error_.empty()) {
    // mkstemp creates the file 0600; give it the usual permissions of a new file.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
  }
  if (fd_ >= 0) {
    if (::close(fd_) != 0) fail(errno);
    fd_ = -1;
  }
  if (error_.empty() && ::rename(temp_.c_str(), path_.c_str()) != 0) fail(errno);
  if (!error_.empty()) return ErrorFailure(error_, path_);
  temp_.clear();  // renamed: nothing to remove
  return {};
}

uint32_t LastSystemError() {
  return static_cast<uint32_t>(errno);
}

}  // namespace zuba
