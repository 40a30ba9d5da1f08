// The system calls of the host code, their table, and the one place that
// words their failures.
#include "posix.hpp"

#include "iaccess.hpp"
#include "iexcept.hpp"
#include "ios.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelhost {

static_assert(sizeof(off_t) >= sizeof(IFileSize), "file positions must be 64-bit: build with _FILE_OFFSET_BITS=64");

// One vocabulary for modes and directions, whichever layer speaks.
static_assert(IOpenMode::kIn == ios::in && IOpenMode::kOut == ios::out && IOpenMode::kAte == ios::ate &&
              IOpenMode::kApp == ios::app && IOpenMode::kTrunc == ios::trunc &&
              IOpenMode::kNoCreate == ios::nocreate && IOpenMode::kNoReplace == ios::noreplace &&
              IOpenMode::kBin == ios::bin);
static_assert(int(IAccess::kRead) == int(ios::in) && int(IAccess::kWrite) == int(ios::out) &&
                  int(IAccess::kModeIn) == int(ios::in) && int(IAccess::kModeOut) == int(ios::out) &&
                  int(IAccess::kModeApp) == int(ios::app) && int(IAccess::kModeTrunc) == int(ios::trunc),
              "access and sharing modes are read in ios bits");
static_assert(int(IFSFileStream::beg) == int(ios::beg) && int(IFSFileStream::cur) == int(ios::cur) &&
              int(IFSFileStream::end) == int(ios::end));

namespace {

std::string parentOf(const std::string& path) {
  std::string parent = path;
  while (parent.size() > 1 && parent.back() == '/')
    parent.pop_back();
  const std::size_t slash = parent.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : parent.substr(0, slash);
}

// The reasons in words, for the errors whose system text leaves the reader
// guessing what to do; null where that text says it all.
const char* reasonFor(int error) {
  switch (error) {
  case EISDIR:
    return "it is a directory, not a file";
  case ENOENT:
    return "the file does not exist";
  case ENOTDIR:
    return "a part of the path is not a folder";
  case EEXIST:
    return "the file exists already";
  case EMFILE:
    return "this process has as many files open as it may";
  case ENFILE:
    return "the system has as many files open as it may";
  case ESPIPE:
    return "it is a pipe, a socket or a terminal, which has no position";
  case EFBIG:
    return "the file would grow past the largest size allowed";
  default:
    return nullptr;
  }
}

} // namespace

IDescriptor& IDescriptor::operator=(IDescriptor&& other) noexcept {
  if (this != &other) {
    reset();
    fDescriptor = other.fDescriptor;
    other.fDescriptor = -1;
  }
  return *this;
}

void IDescriptor::close(const std::string& path) {
  if (fDescriptor < 0)
    return;
  const int descriptor = fDescriptor;
  fDescriptor = -1;
  if (IHostCalls::current().close(descriptor) != 0 && errno != EINTR)
    IPosix::fail("close", path, errno);
}

void IDescriptor::reset() noexcept {
  if (fDescriptor >= 0)
    IHostCalls::current().close(fDescriptor);
  fDescriptor = -1;
}

void IPosix::fail(const char* operation, const std::string& path, int error) {
  struct stat status;
  if (error == ENOENT && (lookUp(parentOf(path), status) != 0 || !S_ISDIR(status.st_mode)))
    IThrowSystemError(operation, path, error, "the folder '" + parentOf(path) + "' does not exist");
  if (const char* reason = reasonFor(error))
    IThrowSystemError(operation, path, error, reason);
  IThrowSystemError(operation, path, error);
}

int IPosix::tryOpen(const std::string& path, int flags, mode_t mode, IDescriptor& opened) {
  const int descriptor =
      IHostRetry::call([&] { return IHostCalls::current().open(path.c_str(), flags | O_CLOEXEC, mode); });
  if (descriptor < 0)
    return errno;
  opened = IDescriptor(descriptor);
  return 0;
}

IDescriptor IPosix::open(const std::string& path, int flags, mode_t mode, const char* operation) {
  IDescriptor opened;
  if (const int error = tryOpen(path, flags, mode, opened))
    fail(operation, path, error);
  return opened;
}

std::size_t IPosix::readSome(int descriptor, void* buffer, std::size_t count, const std::string& path) {
  const ssize_t got = IHostRetry::read(descriptor, buffer, count);
  if (got < 0)
    fail("read", path, errno);
  return static_cast<std::size_t>(got);
}

void IPosix::writeAll(int descriptor, const void* buffer, std::size_t count, const std::string& path) {
  int failure = 0;
  const std::size_t written = IHostRetry::writeAll(descriptor, buffer, count, failure);
  if (written == count)
    return;
  // write(2) of a non-zero count returns 0 only for a file that takes no
  // more bytes; looping would never end. What went out stays out: the
  // caller keeps the rest, and writes only that later.
  const int error = failure != 0 ? failure : EIO;
  const char* reason = failure == 0 ? "the system accepted no bytes" : reasonFor(error);
  throw IWriteError("write", path, error, reason ? reason : "", static_cast<long long>(written),
                    static_cast<long long>(count));
}

off_t IPosix::seek(int descriptor, off_t offset, int whence, const std::string& path) {
  static const char kBeforeStart[] = "the position would lie before the start of the file";
  // Some devices accept any position; a negative one is refused here for all files.
  if (whence == SEEK_SET && offset < 0)
    IThrowSystemError("seek", path, EINVAL, kBeforeStart);
  const off_t position = IHostRetry::seek(descriptor, offset, whence);
  if (position < 0) {
    const int error = errno;
    if (error == EINVAL)
      IThrowSystemError("seek", path, error,
                        offset < 0 ? kBeforeStart : "the position would lie past the largest the file allows");
    fail("seek", path, error);
  }
  return position;
}

void IPosix::truncate(int descriptor, off_t size, const std::string& path) {
  if (IHostRetry::call([&] { return IHostCalls::current().ftruncate(descriptor, size); }) != 0)
    fail("truncate", path, errno);
}

struct stat IPosix::status(int descriptor, const std::string& path) {
  struct stat status;
  if (IHostRetry::call([&] { return IHostCalls::current().fstat(descriptor, &status); }) != 0)
    fail("stat", path, errno);
  return status;
}

int IPosix::flagsOfDescriptor(int descriptor, const std::string& path) {
  const int flags = IHostRetry::call([&] { return IHostCalls::current().fcntl(descriptor, F_GETFL, nullptr); });
  if (flags < 0)
    fail("attach", path, errno);
  return flags;
}

int IPosix::accessOfFlags(int flags) {
  switch (flags & O_ACCMODE) {
  case O_RDONLY:
    return IOpenMode::kIn;
  case O_WRONLY:
    return IOpenMode::kOut;
  default:
    return IOpenMode::kIn | IOpenMode::kOut;
  }
}

int IPosix::lock(int descriptor, int command, struct flock& lock) {
  return IHostRetry::call([&] { return IHostCalls::current().fcntl(descriptor, command, &lock); }) == 0 ? 0 : errno;
}

int IPosix::lookUp(const std::string& path, struct stat& status) {
  return IHostRetry::call([&] { return IHostCalls::current().stat(path.c_str(), &status); }) == 0 ? 0 : errno;
}

IAccess IOpenMode::accessOf(int myMode, const std::string& path) {
  const IAccess access = IAccess::ofMode(myMode);
  if (!access.any())
    throw IInvalidParameter("cannot open '" + path + "' with open mode " + std::to_string(myMode) +
                            ": it asks neither to read nor to write (none of in, out, app, trunc)");
  return access;
}

int IOpenMode::flagsOf(IAccess access, int myMode) {
  const int appends = (myMode & kApp) ? O_APPEND : 0;
  if (!access.writes())
    return O_RDONLY;
  return (access.reads() ? O_RDWR : O_WRONLY) | appends;
}

int IOpenMode::whenceOf(IFSFileStream::seek_dir dir, const std::string& path) {
  switch (dir) {
  case IFSFileStream::beg:
    return SEEK_SET;
  case IFSFileStream::cur:
    return SEEK_CUR;
  case IFSFileStream::end:
    return SEEK_END;
  }
  throw IInvalidParameter("seek of '" + path + "': the direction " + std::to_string(static_cast<int>(dir)) +
                          " is none of beg, cur, end");
}

} // namespace kelhost
