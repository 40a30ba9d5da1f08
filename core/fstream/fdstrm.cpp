// The byte stream over a borrowed descriptor.
#include "fdstrm.hpp"

#include "iexcept.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The ios::open_mode bits; the runtime's headers are not part of kelbase's interfaces.
constexpr int kIn = 1;
constexpr int kOut = 2;

int whenceOf(IFSFileStream::seek_dir dir) {
  switch (dir) {
  case IFSFileStream::cur:
    return SEEK_CUR;
  case IFSFileStream::end:
    return SEEK_END;
  default:
    return SEEK_SET;
  }
}

} // namespace

IDescriptorStream::IDescriptorStream(int fd) : fDescriptor(fd), fAccess(0), fSeekable(false) {
  int flags;
  do
    flags = ::fcntl(fd, F_GETFL);
  while (flags < 0 && errno == EINTR);
  if (flags < 0)
    IThrowSystemError("attach", nameOf(fd), errno);
  int access = flags & O_ACCMODE;
  fAccess = access == O_RDONLY ? kIn : access == O_WRONLY ? kOut : kIn | kOut;
  struct stat status;
  if (::fstat(fd, &status) != 0)
    IThrowSystemError("stat", nameOf(fd), errno);
  fSeekable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);
}

IDescriptorStream::~IDescriptorStream() = default;

int IDescriptorStream::checked(const char* operation) const {
  if (fClosed)
    throw IInvalidRequest(std::string(operation) + " of '" + nameOf(fDescriptor) + "' after its stream was closed");
  return fDescriptor;
}

void IDescriptorStream::close() { fClosed = true; }

std::ptrdiff_t IDescriptorStream::doRead(void* buffer, int count) {
  int fd = checked("read");
  if (count <= 0)
    return 0;
  ssize_t got;
  do
    got = ::read(fd, buffer, static_cast<std::size_t>(count));
  while (got < 0 && errno == EINTR);
  if (got < 0)
    IThrowSystemError("read", nameOf(fd), errno);
  return got;
}

void IDescriptorStream::doWrite(const void* buffer, int count) {
  int fd = checked("write");
  const char* data = static_cast<const char*>(buffer);
  std::size_t left = count > 0 ? static_cast<std::size_t>(count) : 0;
  while (left > 0) {
    ssize_t put = ::write(fd, data, left);
    if (put < 0 && errno == EINTR)
      continue;
    if (put < 0)
      IThrowSystemError("write", nameOf(fd), errno);
    if (put == 0)
      IThrowSystemError("write", nameOf(fd), EIO, "the descriptor took no byte");
    data += put;
    left -= static_cast<std::size_t>(put);
  }
}

IFileSize IDescriptorStream::doSeek(IFileSize offset, seek_dir dir) {
  int fd = checked("seek");
  off_t result = ::lseek(fd, static_cast<off_t>(offset), whenceOf(dir));
  if (result < 0)
    IThrowSystemError("seek", nameOf(fd), errno);
  return result;
}

IFileSize IDescriptorStream::endOfFile() const {
  int fd = checked("stat");
  struct stat status;
  if (::fstat(fd, &status) != 0)
    IThrowSystemError("stat", nameOf(fd), errno);
  return status.st_size;
}

void IDescriptorStream::setEndOfFile(IFileSize size) {
  int fd = checked("truncate");
  int result;
  do
    result = ::ftruncate(fd, static_cast<off_t>(size));
  while (result != 0 && errno == EINTR);
  if (result != 0)
    IThrowSystemError("truncate", nameOf(fd), errno);
}

IDescriptorRecord::IDescriptorRecord(int fd)
    : fDescriptor(fd), fAccess(0), fFirst(std::make_unique<IDescriptorStream>(fd)) {
  fAccess = fFirst->access();
}

IDescriptorRecord::~IDescriptorRecord() = default;

IFSFileStream* IDescriptorRecord::createStream(int, int) const {
  if (fFirst)
    return fFirst.release();
  return new IDescriptorStream(fDescriptor);
}
