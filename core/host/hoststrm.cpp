// The POSIX byte stream: an open that changes nothing it was refused, and
// transfers through the POSIX layer.
#include "hoststrm.hpp"

#include "iexcept.hpp"

#include <exception>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

void requireCount(int count, const char* operation, const void* buffer) {
  if (count < 0)
    throw IInvalidParameter(std::string(operation) + " of " + std::to_string(count) +
                            " bytes: a byte count cannot be negative");
  if (count > 0 && !buffer)
    throw IInvalidParameter(std::string(operation) + " of " + std::to_string(count) +
                            " bytes was given no buffer");
}

} // namespace

IHostFileStream::IHostFileStream(std::string path, int otherMode) : fPath(std::move(path)), fOtherMode(otherMode) {}

std::unique_ptr<IHostFileStream> IHostFileStream::open(const std::string& path, int myMode, int otherMode) {
  const int access = IOpenMode::accessOf(myMode, path);
  // The stream owns the descriptor from the start, so that whatever fails
  // after open(2) leaves nothing open.
  std::unique_ptr<IHostFileStream> stream(new IHostFileStream(path, otherMode));
  stream->fDescriptor = IPosix::open(path, IOpenMode::flagsOf(access));
  const int fd = stream->fDescriptor.get();

  // A directory opens for reading; refuse it here rather than at the first read.
  const struct stat status = IPosix::status(fd, path);
  if (S_ISDIR(status.st_mode))
    IPosix::fail("open", path, EISDIR);
  stream->fSeekable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);

  if (S_ISREG(status.st_mode)) {
    stream->fSharing = IHostSharing::claim(fd, path, access, otherMode, nullptr, &status);
    // A cut to 0 of an empty file would only make ext4 flush it at close.
    if ((myMode & IOpenMode::kTrunc) && status.st_size > 0)
      IPosix::truncate(fd, 0, path);
  }
  if (myMode & (IOpenMode::kAte | IOpenMode::kApp))
    IPosix::seek(fd, 0, SEEK_END, path);
  return stream;
}

IHostFileStream::~IHostFileStream() {
  if (!fDescriptor.isOpen())
    return;
  try {
    fSharing.release();
  } catch (...) {
    // closing the descriptor lifts the rules as well
  }
}

int IHostFileStream::descriptor(const char* operation) const {
  if (!fDescriptor.isOpen())
    throw IInvalidRequest(std::string(operation) + " of '" + fPath + "' is impossible: the stream is closed");
  return fDescriptor.get();
}

void IHostFileStream::close() {
  // A second close has nothing left to do: the first one released the
  // descriptor, and reported its failure if it had one. Accepting it lets the
  // owner retry a close that failed and end up closed.
  if (!fDescriptor.isOpen())
    return;
  // Lifted explicitly, not by close(2): a child that got the descriptor
  // through fork(2) keeps the description, and with it the locks, open.
  std::exception_ptr unlockFailure;
  try {
    fSharing.release();
  } catch (...) {
    unlockFailure = std::current_exception();
  }
  try {
    fDescriptor.close(fPath);
  } catch (...) {
    if (!unlockFailure)
      throw;
  }
  if (unlockFailure)
    std::rethrow_exception(unlockFailure);
}

std::ptrdiff_t IHostFileStream::doRead(void* buffer, int count) {
  const int fd = descriptor("read");
  requireCount(count, "read", buffer);
  if (count == 0)
    return 0;
  return static_cast<std::ptrdiff_t>(IPosix::readSome(fd, buffer, static_cast<std::size_t>(count), fPath));
}

void IHostFileStream::doWrite(const void* buffer, int count) {
  const int fd = descriptor("write");
  requireCount(count, "write", buffer);
  IPosix::writeAll(fd, buffer, static_cast<std::size_t>(count), fPath);
}

IFileSize IHostFileStream::doSeek(IFileSize offset, seek_dir dir) {
  const int fd = descriptor("seek");
  return IPosix::seek(fd, static_cast<off_t>(offset), IOpenMode::whenceOf(dir, fPath), fPath);
}

IFileSize IHostFileStream::endOfFile() const {
  return IPosix::status(descriptor("size query"), fPath).st_size;
}

void IHostFileStream::setEndOfFile(IFileSize size) {
  const int fd = descriptor("truncate");
  if (size < 0)
    throw IInvalidParameter("truncate of '" + fPath + "' to " + std::to_string(size) +
                            " bytes: a file size cannot be negative");
  IPosix::truncate(fd, static_cast<off_t>(size), fPath);
}
