#include "sysio.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

void throwSystemError(const char* operation, const std::string& path, int error) {
  throw std::system_error(error, std::generic_category(), std::string(operation) + " of '" + path + "' failed");
}

IDescriptor::IDescriptor(const std::string& path, int flags) : fDescriptor(-1), fPath(path) {
  int fd;
  do
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    throwSystemError("open", path, errno);
  fDescriptor = fd;
}

IDescriptor::~IDescriptor() {
  if (fDescriptor >= 0)
    ::close(fDescriptor);
}

std::size_t IDescriptor::readSome(void* buffer, std::size_t count) {
  ssize_t got;
  do
    got = ::read(fDescriptor, buffer, count);
  while (got < 0 && errno == EINTR);
  if (got < 0)
    throwSystemError("read", fPath, errno);
  return static_cast<std::size_t>(got);
}

std::size_t IDescriptor::preadSome(void* buffer, std::size_t count, off_t offset) {
  ssize_t got;
  do
    got = ::pread(fDescriptor, buffer, count, offset);
  while (got < 0 && errno == EINTR);
  if (got < 0)
    throwSystemError("pread", fPath, errno);
  return static_cast<std::size_t>(got);
}

void IDescriptor::writeAll(const void* buffer, std::size_t count) {
  const char* next = static_cast<const char*>(buffer);
  while (count > 0) {
    ssize_t done = ::write(fDescriptor, next, count);
    if (done < 0) {
      if (errno == EINTR)
        continue;
      throwSystemError("write", fPath, errno);
    }
    if (done == 0)
      throwSystemError("write", fPath, EIO);
    next += done;
    count -= static_cast<std::size_t>(done);
  }
}

off_t IDescriptor::seek(off_t offset, int whence) {
  off_t position = ::lseek(fDescriptor, offset, whence);
  if (position < 0)
    throwSystemError("seek", fPath, errno);
  return position;
}

off_t IDescriptor::size() const {
  struct stat status;
  if (::fstat(fDescriptor, &status) != 0)
    throwSystemError("stat", fPath, errno);
  return status.st_size;
}

void IDescriptor::syncData() {
  int result;
  do
    result = ::fdatasync(fDescriptor);
  while (result != 0 && errno == EINTR);
  if (result != 0)
    throwSystemError("fdatasync", fPath, errno);
}

void IDescriptor::close() {
  int fd = fDescriptor;
  fDescriptor = -1;
  if (::close(fd) != 0 && errno != EINTR)
    throwSystemError("close", fPath, errno);
}

void writeFileInPieces(const std::string& path, const char* data, std::size_t count) {
  // One huge write(2) leaves the file in large page-cache folios, and later
  // small writes into it run several times slower: write as a program would.
  constexpr std::size_t kPiece = 64 * 1024;
  IDescriptor file(path, O_WRONLY | O_CREAT | O_TRUNC);
  for (std::size_t done = 0; done < count; done += kPiece)
    file.writeAll(data + done, std::min(kPiece, count - done));
  file.syncData();
  file.close();
}

std::string readWholeFile(const std::string& path) {
  IDescriptor file(path, O_RDONLY);
  std::string text(static_cast<std::size_t>(file.size()), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    std::size_t got = file.readSome(text.data() + done, text.size() - done);
    if (got == 0)
      break;
    done += got;
  }
  text.resize(done);
  file.close();
  return text;
}

void removeFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throwSystemError("unlink", path, errno);
}
