// The transfers, seeks and sizes of a descriptor's byte stream.
#include "hostio.hpp"

#include "iexcept.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace kelhost {

namespace {

void requireCount(int count, const char* operation, const void* buffer) {
  if (count < 0)
    throw IInvalidParameter(std::string(operation) + " of " + std::to_string(count) +
                            " bytes: a byte count cannot be negative");
  if (count > 0 && !buffer)
    throw IInvalidParameter(std::string(operation) + " of " + std::to_string(count) +
                            " bytes was given no buffer");
}

bool hasPositions(const struct stat& status) { return S_ISREG(status.st_mode) || S_ISBLK(status.st_mode); }

} // namespace

IFileSize IDescriptorStream::place(const struct stat& status, int myMode, bool borrowed, bool seekToAppend) {
  const int fd = fDescriptor.get();
  fSeekable = hasPositions(status) ? kYes : kNo;
  fSeekToAppend = seekToAppend && (myMode & IOpenMode::kApp);
  // A FIFO or a terminal has no end to stand at; app still writes there, in order.
  if (fSeekable == kNo)
    return 0;
  if (myMode & (IOpenMode::kAte | IOpenMode::kApp))
    return IPosix::seek(fd, 0, SEEK_END, path());
  return borrowed ? IPosix::seek(fd, 0, SEEK_CUR, path()) : 0;
}

bool IDescriptorStream::canSeek() const {
  // Closed before anyone asked, the stream can no longer ask, and answers as
  // the regular file that a stream opened for writing by its path nearly always is.
  if (fSeekable == kUnknown && fDescriptor.isOpen())
    fSeekable = hasPositions(IPosix::status(fDescriptor.get(), path())) ? kYes : kNo;
  return fSeekable != kNo;
}

int IDescriptorStream::live(const char* operation) const {
  if (!fDescriptor.isOpen())
    throw IInvalidRequest(std::string(operation) + " of '" + path() + "' is impossible: the stream is closed");
  return fDescriptor.get();
}

std::ptrdiff_t IDescriptorStream::doRead(void* buffer, int count) {
  const int fd = live("read");
  requireCount(count, "read", buffer);
  if (count == 0)
    return 0;
  return static_cast<std::ptrdiff_t>(IPosix::readSome(fd, buffer, static_cast<std::size_t>(count), path()));
}

void IDescriptorStream::doWrite(const void* buffer, int count) {
  const int fd = live("write");
  requireCount(count, "write", buffer);
  if (count == 0)
    return;
  if (fSeekToAppend)
    IPosix::seek(fd, 0, SEEK_END, path());
  IPosix::writeAll(fd, buffer, static_cast<std::size_t>(count), path());
}

IFileSize IDescriptorStream::doSeek(IFileSize offset, seek_dir dir) {
  const int fd = live("seek");
  return IPosix::seek(fd, static_cast<off_t>(offset), IOpenMode::whenceOf(dir, path()), path());
}

IFileSize IDescriptorStream::endOfFile() const { return IPosix::status(live("size query"), path()).st_size; }

void IDescriptorStream::setEndOfFile(IFileSize size) {
  const int fd = live("truncate");
  if (size < 0)
    throw IInvalidParameter("truncate of '" + path() + "' to " + std::to_string(size) +
                            " bytes: a file size cannot be negative");
  IPosix::truncate(fd, static_cast<off_t>(size), path());
}

} // namespace kelhost
