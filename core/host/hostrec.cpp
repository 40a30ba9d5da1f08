// Finding a host file by its path and opening byte streams on it.
#include "hostrec.hpp"

#include "hostshar.hpp"
#include "hoststrm.hpp"
#include "iexcept.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The ios::open_mode bits; the runtime's headers are not part of this library.
constexpr int kIn = 1;
constexpr int kOut = 2;
constexpr int kAte = 4;
constexpr int kApp = 8;
constexpr int kTrunc = 16;

constexpr mode_t kNewFileMode = 0666; // less the umask

// Closes a descriptor used only to find or make the file.
class IDescriptorCloser {
public:
  explicit IDescriptorCloser(int descriptor) : fDescriptor(descriptor) {}
  ~IDescriptorCloser() {
    if (fDescriptor >= 0)
      ::close(fDescriptor);
  }
  IDescriptorCloser(const IDescriptorCloser&) = delete;
  IDescriptorCloser& operator=(const IDescriptorCloser&) = delete;

private:
  int fDescriptor;
};

int openRetrying(const std::string& path, int flags) {
  int fd;
  do
    fd = ::open(path.c_str(), flags | O_CLOEXEC, kNewFileMode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

std::string parentOf(const std::string& path) {
  std::string parent = path;
  while (parent.size() > 1 && parent.back() == '/')
    parent.pop_back();
  const std::size_t slash = parent.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : parent.substr(0, slash);
}

bool isDirectory(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Throws for a failed open while locating the file, saying what went wrong in words.
[[noreturn]] void refuse(const char* operation, const std::string& path, int error) {
  switch (error) {
  case EISDIR:
    IThrowSystemError(operation, path, error, "it is a directory, not a file");
  case ENOENT:
    if (!isDirectory(parentOf(path)))
      IThrowSystemError(operation, path, error, "the folder '" + parentOf(path) + "' does not exist");
    IThrowSystemError(operation, path, error, "the file does not exist");
  case ENOTDIR:
    IThrowSystemError(operation, path, error, "a part of the path is not a folder");
  case EEXIST:
    if (isDirectory(path))
      IThrowSystemError(operation, path, EISDIR, "it is a directory, not a file");
    IThrowSystemError(operation, path, error, "the file exists already");
  default:
    IThrowSystemError(operation, path, error);
  }
}

// Looks the path up with stat(2), which needs no access to the file itself,
// so a file that exists is found even when its permissions would refuse
// reading or writing; those are checked when a stream is made. A failure reads
// as the open it stands for.
bool findExisting(const std::string& path) {
  struct stat status;
  int result;
  do
    result = ::stat(path.c_str(), &status);
  while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    if (error == ENOENT && isDirectory(parentOf(path)))
      return false;
    refuse("open", path, error);
  }
  if (S_ISDIR(status.st_mode))
    refuse("open", path, EISDIR);
  return true;
}

// Makes the file with `flags` added to O_WRONLY | O_CREAT.
void create(const std::string& path, int flags) {
  const int fd = openRetrying(path, O_WRONLY | O_CREAT | flags);
  if (fd < 0)
    refuse("create", path, errno);
  IDescriptorCloser closer(fd);
}

// Makes the file or cuts it to 0 bytes. The cut is a write, so it waits for
// the sharing rules: while a stream that denies writing has the file open, it
// is refused and the bytes stay.
void replace(const std::string& path) {
  const int fd = openRetrying(path, O_WRONLY | O_CREAT);
  if (fd < 0)
    refuse("create", path, errno);
  IDescriptorCloser closer(fd);
  struct stat status;
  if (::fstat(fd, &status) != 0)
    IThrowSystemError("stat", path, errno);
  if (!S_ISREG(status.st_mode))
    return; // O_TRUNC leaves devices and pipes alone as well
  if (status.st_size == 0)
    return; // nothing to cut: a cut to 0 makes ext4 flush the file when it is closed
  IHostSharing sharing = IHostSharing::claim(fd, path, IHostSharing::kWrite, IHostSharing::kReadWrite);
  int result;
  do
    result = ::ftruncate(fd, 0);
  while (result != 0 && errno == EINTR);
  if (result != 0)
    IThrowSystemError("truncate", path, errno);
  sharing.release();
}

} // namespace

IHostFileRecord::IHostFileRecord(std::string path) : fPath(std::move(path)) {
  if (fPath.empty() || fPath.front() != '/')
    throw IInvalidParameter("the host file record needs an absolute path, not '" + fPath + "'");
}

IHostFileRecord::~IHostFileRecord() = default;

std::shared_ptr<IHostFileRecord> IHostFileRecord::locate(const IText& text, IFileSystemEntity::ECreateFlags rule) {
  auto record = std::make_shared<IHostFileRecord>(text.str());
  const std::string& path = record->fPath;
  switch (rule) {
  case IFileSystemEntity::kMustExist:
    if (!findExisting(path))
      refuse("open", path, ENOENT);
    break;
  case IFileSystemEntity::kCreateIfNeeded:
    // Without O_EXCL a file that appears in between is opened, not refused.
    if (!findExisting(path))
      create(path, 0);
    break;
  case IFileSystemEntity::kCreateOnly:
    create(path, O_EXCL);
    break;
  case IFileSystemEntity::kReplaceExisting:
    replace(path);
    break;
  default:
    throw IInvalidParameter("the creation rule " + std::to_string(static_cast<int>(rule)) +
                            " is none of kMustExist, kCreateIfNeeded, kCreateOnly, kReplaceExisting");
  }
  return record;
}

IText IHostFileRecord::path() const { return IText(fPath); }

IFSFileStream* IHostFileRecord::createStream(int myMode, int otherMode) const {
  return openStream(myMode, otherMode).release();
}

std::unique_ptr<IHostFileStream> IHostFileRecord::openStream(int myMode, int otherMode) const {
  const bool reads = (myMode & kIn) != 0;
  const bool writes = (myMode & (kOut | kApp | kTrunc)) != 0;
  if (!reads && !writes)
    throw IInvalidParameter("cannot open '" + fPath + "' with open mode " + std::to_string(myMode) +
                            ": it asks neither to read nor to write (none of in, out, app)");
  int flags = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  if (myMode & kTrunc)
    flags |= O_TRUNC;
  if (myMode & kApp)
    flags |= O_APPEND;
  auto stream = IHostFileStream::open(fPath, flags, otherMode);
  if (myMode & (kAte | kApp))
    stream->doSeek(0, IFSFileStream::end);
  return stream;
}
