// The POSIX byte stream: every call checked, retried on EINTR, and turned into an IAccessError.
#include "hoststrm.hpp"

#include "iexcept.hpp"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static_assert(sizeof(off_t) >= sizeof(IFileSize), "file positions must be 64-bit: build with _FILE_OFFSET_BITS=64");

namespace {

void requireCount(int count, const char* operation, const void* buffer) {
  if (count < 0)
    throw IInvalidParameter(std::string(operation) + " of " + std::to_string(count) +
                            " bytes: a byte count cannot be negative");
  if (count > 0 && !buffer)
    throw IInvalidParameter(std::string(operation) + " of " + std::to_string(count) +
                            " bytes was given no buffer");
}

// A failed write leaves the stream where it stood, as if nothing had been
// written: the caller keeps the bytes and writes them all again, so a part
// that did reach the file must not stay there (it would then be written
// twice). In append mode the part is cut off the end; otherwise the position
// steps back over it, and the retry writes the same bytes in the same place.
// Where that is impossible (a pipe, a device) the part stays; the undo is best
// effort and the write's own error is the one reported.
void undoPartialWrite(int fd, std::size_t written) {
  if (written == 0)
    return;
  int flags;
  do
    flags = ::fcntl(fd, F_GETFL);
  while (flags < 0 && errno == EINTR);
  if (flags >= 0 && (flags & O_APPEND)) {
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size >= static_cast<off_t>(written)) {
      while (::ftruncate(fd, status.st_size - static_cast<off_t>(written)) != 0 && errno == EINTR) {
      }
    }
    return;
  }
  ::lseek(fd, -static_cast<off_t>(written), SEEK_CUR);
}

} // namespace

IHostFileStream::IHostFileStream(std::string path, int otherMode) : fPath(std::move(path)), fOtherMode(otherMode) {}

std::unique_ptr<IHostFileStream> IHostFileStream::open(const std::string& path, int flags, int otherMode) {
  const int accessMode = flags & O_ACCMODE;
  const bool truncate = (flags & O_TRUNC) != 0;
  if (truncate && accessMode == O_RDONLY)
    throw IInvalidParameter("cannot open '" + path + "' to cut it without write access (O_TRUNC with O_RDONLY)");

  // The object exists before the descriptor does, so that whatever fails after
  // open(2) leaves the descriptor to the destructor.
  std::unique_ptr<IHostFileStream> stream(new IHostFileStream(path, otherMode));
  int fd;
  do
    fd = ::open(path.c_str(), (flags & ~O_TRUNC) | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    if (error == EISDIR)
      IThrowSystemError("open", path, error, "it is a directory, not a file");
    IThrowSystemError("open", path, error);
  }
  stream->fDescriptor = fd;

  // A directory opens for reading; refuse it here rather than at the first read.
  struct stat status;
  if (::fstat(fd, &status) != 0)
    IThrowSystemError("stat", path, errno);
  if (S_ISDIR(status.st_mode))
    IThrowSystemError("open", path, EISDIR, "it is a directory, not a file");
  stream->fSeekable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);

  // open(2) ignores O_TRUNC on devices and pipes; so does this.
  if (S_ISREG(status.st_mode)) {
    const int access = (accessMode != O_WRONLY ? IHostSharing::kRead : 0) |
                       (accessMode != O_RDONLY || truncate ? IHostSharing::kWrite : 0);
    stream->fSharing = IHostSharing::claim(fd, path, access, otherMode, nullptr, &status);
    if (truncate && status.st_size > 0)
      stream->setEndOfFile(0);
  }
  return stream;
}

IHostFileStream::~IHostFileStream() {
  if (fDescriptor < 0)
    return;
  try {
    fSharing.release();
  } catch (...) {
    // closing the descriptor lifts the rules as well
  }
  ::close(fDescriptor);
}

int IHostFileStream::descriptor(const char* operation) const {
  if (fDescriptor < 0)
    throw IInvalidRequest(std::string(operation) + " of '" + fPath + "' is impossible: the stream is closed");
  return fDescriptor;
}

void IHostFileStream::close() {
  // A second close has nothing left to do: the first one released the
  // descriptor, and reported its failure if it had one. Accepting it lets the
  // owner retry a close that failed and end up closed.
  if (fDescriptor < 0)
    return;
  const int fd = fDescriptor;
  // Lifted explicitly, not by close(2): a child that got the descriptor
  // through fork(2) keeps the description, and with it the locks, open.
  std::exception_ptr unlockFailure;
  try {
    fSharing.release();
  } catch (...) {
    unlockFailure = std::current_exception();
  }
  fDescriptor = -1;
  // Never retried: Linux releases the descriptor even when close(2) fails,
  // and a second close could hit a descriptor another thread just opened.
  // EINTR is no failure for the same reason: the descriptor is gone and the
  // data went wherever it would have gone.
  const int closed = ::close(fd);
  const int closeError = errno;
  if (unlockFailure)
    std::rethrow_exception(unlockFailure);
  if (closed != 0 && closeError != EINTR)
    IThrowSystemError("close", fPath, closeError);
}

std::ptrdiff_t IHostFileStream::doRead(void* buffer, int count) {
  const int fd = descriptor("read");
  requireCount(count, "read", buffer);
  if (count == 0)
    return 0;
  ssize_t got;
  do
    got = ::read(fd, buffer, static_cast<std::size_t>(count));
  while (got < 0 && errno == EINTR);
  if (got < 0)
    IThrowSystemError("read", fPath, errno);
  return got;
}

void IHostFileStream::doWrite(const void* buffer, int count) {
  const int fd = descriptor("write");
  requireCount(count, "write", buffer);
  const char* next = static_cast<const char*>(buffer);
  std::size_t left = static_cast<std::size_t>(count);
  while (left > 0) {
    const ssize_t done = ::write(fd, next, left);
    if (done < 0 && errno == EINTR)
      continue;
    if (done <= 0) {
      // write(2) of a non-zero count returns 0 only for a file that takes no
      // more bytes; looping would never end.
      const int error = done < 0 ? errno : EIO;
      undoPartialWrite(fd, static_cast<std::size_t>(count) - left);
      if (done == 0)
        IThrowSystemError("write", fPath, error, "the system accepted no bytes");
      IThrowSystemError("write", fPath, error);
    }
    next += done;
    left -= static_cast<std::size_t>(done);
  }
}

IFileSize IHostFileStream::doSeek(IFileSize offset, seek_dir dir) {
  const int fd = descriptor("seek");
  int whence;
  switch (dir) {
  case beg:
    whence = SEEK_SET;
    break;
  case cur:
    whence = SEEK_CUR;
    break;
  case end:
    whence = SEEK_END;
    break;
  default:
    throw IInvalidParameter("seek of '" + fPath + "': the direction " + std::to_string(static_cast<int>(dir)) +
                            " is none of beg, cur, end");
  }
  static const char kBeforeStart[] = "the position would lie before the start of the file";
  // Some devices accept any position; a negative one is refused here for all files.
  if (dir == beg && offset < 0)
    IThrowSystemError("seek", fPath, EINVAL, kBeforeStart);
  const off_t position = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (position < 0) {
    const int error = errno;
    if (error == EINVAL)
      IThrowSystemError("seek", fPath, error,
                        offset < 0 ? kBeforeStart : "the position would lie past the largest the file allows");
    IThrowSystemError("seek", fPath, error);
  }
  return position;
}

IFileSize IHostFileStream::endOfFile() const {
  const int fd = descriptor("size query");
  struct stat status;
  if (::fstat(fd, &status) != 0)
    IThrowSystemError("stat", fPath, errno);
  return status.st_size;
}

void IHostFileStream::setEndOfFile(IFileSize size) {
  const int fd = descriptor("truncate");
  if (size < 0)
    throw IInvalidParameter("truncate of '" + fPath + "' to " + std::to_string(size) +
                            " bytes: a file size cannot be negative");
  int result;
  do
    result = ::ftruncate(fd, static_cast<off_t>(size));
  while (result != 0 && errno == EINTR);
  if (result != 0)
    IThrowSystemError("truncate", fPath, errno);
}
