// The POSIX byte stream opened by path: an open that changes nothing it was
// refused, and a close that lifts the sharing rules first.
#include "hoststrm.hpp"

#include <exception>
#include <fcntl.h>
#include <sys/stat.h>

namespace kelhost {

std::unique_ptr<IHostFileStream> IHostFileStream::open(std::shared_ptr<const std::string> path, int myMode,
                                                       int otherMode) {
  int error = 0;
  std::unique_ptr<IHostFileStream> stream = tryOpen(path, myMode, otherMode, 0, 0666, error);
  if (!stream)
    IPosix::fail("open", *path, error);
  return stream;
}

std::unique_ptr<IHostFileStream> IHostFileStream::tryOpen(std::shared_ptr<const std::string> path, int myMode,
                                                          int otherMode, int extraFlags, int permissions, int& error) {
  const IAccess access = IOpenMode::accessOf(myMode, *path);
  // The stream owns the descriptor from the start, so that whatever fails
  // after open(2) leaves nothing open.
  std::unique_ptr<IHostFileStream> stream(new IHostFileStream(std::move(path)));
  error = IPosix::tryOpen(stream->path(), IOpenMode::flagsOf(access, myMode) | extraFlags,
                          static_cast<mode_t>(permissions), stream->fDescriptor);
  if (error != 0)
    return nullptr;
  stream->settle(access, myMode, otherMode);
  return stream;
}

void IHostFileStream::settle(IAccess access, int myMode, int otherMode) {
  const int fd = fDescriptor.get();
  // Opened for writing, it is no directory (open(2) says EISDIR). A stream
  // that neither cuts the file nor starts at its end needs nothing of
  // fstat(2) now: its claim asks only when it must, and whether it can seek
  // is asked when the buffer first wants to know.
  if (access.writes() && !(myMode & (IOpenMode::kTrunc | IOpenMode::kAte | IOpenMode::kApp))) {
    fSharing.claim(fd, path(), access, IAccess::ofSharing(otherMode));
    return;
  }
  // A directory opens for reading; refuse it here rather than at the first read.
  const struct stat status = IPosix::status(fd, path());
  if (S_ISDIR(status.st_mode))
    IPosix::fail("open", path(), EISDIR);
  if (S_ISREG(status.st_mode)) {
    fSharing.claim(fd, path(), access, IAccess::ofSharing(otherMode), &status);
    // A cut to 0 of an empty file would only make ext4 flush it at close.
    if ((myMode & IOpenMode::kTrunc) && status.st_size > 0)
      IPosix::truncate(fd, 0, path());
  }
  place(status, myMode, false, false);
}

IHostFileStream::~IHostFileStream() {
  if (!fDescriptor.isOpen())
    return;
  try {
    fSharing.release(path());
  } catch (...) {
    // closing the descriptor lifts the rules as well
  }
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
    fSharing.release(path());
  } catch (...) {
    unlockFailure = std::current_exception();
  }
  try {
    fDescriptor.close(path());
  } catch (...) {
    if (!unlockFailure)
      throw;
  }
  if (unlockFailure)
    std::rethrow_exception(unlockFailure);
}

} // namespace kelhost
