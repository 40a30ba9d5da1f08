// Finding a host file by its path and opening byte streams on it; the host's
// part of IFile.
#include "hostrec.hpp"

#include "hoststrm.hpp"
#include "iexcept.hpp"
#include "posix.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace kelhost {

namespace {

// Looks the path up with stat(2), which needs no access to the file itself,
// so a file that exists is found even when its permissions would refuse
// reading or writing; those are checked when a stream is made. A failure reads
// as the open it stands for.
bool findExisting(const std::string& path) {
  struct stat status;
  const int error = IPosix::lookUp(path, status);
  if (error == ENOENT) {
    struct stat folder;
    const std::string parent = path.substr(0, path.find_last_of('/') + 1);
    if (IPosix::lookUp(parent, folder) == 0 && S_ISDIR(folder.st_mode))
      return false;
  }
  if (error != 0)
    IPosix::fail("open", path, error);
  if (S_ISDIR(status.st_mode))
    IPosix::fail("open", path, EISDIR);
  return true;
}

// Makes a new file; false when one exists already (EEXIST). O_EXCL makes sure
// that an existing file, a FIFO among them, is never opened here.
bool createNew(const std::string& path, int permissions) {
  IDescriptor made;
  const int error = IPosix::tryOpen(path, O_WRONLY | O_CREAT | O_EXCL, static_cast<mode_t>(permissions), made);
  if (error == EEXIST)
    return false;
  if (error != 0)
    IPosix::fail("create", path, error);
  made.close(path);
  return true;
}

} // namespace

IHostFileRecord::IHostFileRecord(IText path) : fPath(std::move(path)) {
  if (fPath.empty() || fPath.str().front() != '/')
    throw IInvalidParameter("the host file record needs an absolute path, not '" + fPath.str() + "'");
}

IHostFileRecord::~IHostFileRecord() = default;

std::shared_ptr<IHostFileRecord> IHostFileRecord::locate(IText text, IFileSystemEntity::ECreateFlags rule,
                                                         int permissions) {
  auto record = std::make_shared<IHostFileRecord>(std::move(text));
  const std::string& path = record->fPath.str();
  switch (rule) {
  case IFileSystemEntity::kMustExist:
    if (!findExisting(path))
      IPosix::fail("open", path, ENOENT);
    break;
  case IFileSystemEntity::kCreateIfNeeded:
    // A file that appears in between is opened, not refused.
    if (!findExisting(path) && !createNew(path, permissions))
      findExisting(path);
    break;
  case IFileSystemEntity::kCreateOnly:
    if (!createNew(path, permissions)) {
      struct stat status;
      if (IPosix::lookUp(path, status) == 0 && S_ISDIR(status.st_mode))
        IPosix::fail("create", path, EISDIR);
      IPosix::fail("create", path, EEXIST);
    }
    break;
  case IFileSystemEntity::kReplaceExisting:
    // An existing file is cut by its first stream; a new one is empty.
    record->fReplacePending = findExisting(path) || !createNew(path, permissions);
    break;
  default:
    throw IInvalidParameter("the creation rule " + std::to_string(static_cast<int>(rule)) +
                            " is none of kMustExist, kCreateIfNeeded, kCreateOnly, kReplaceExisting");
  }
  return record;
}

std::shared_ptr<IHostFileRecord> IHostFileRecord::locateAndOpen(IText text, IFileSystemEntity::ECreateFlags rule,
                                                                int myMode, int otherMode) {
  // One open(2) answers what locating would find only for an existing file
  // (O_CREAT would follow a dangling link and make its target) and for
  // kCreateOnly (O_EXCL); a file to be made takes the two steps. A mode
  // without access is refused by the stream once the file is found, and
  // modes the record could not tell apart later are not kept.
  const bool oneStep = rule == IFileSystemEntity::kMustExist || rule == IFileSystemEntity::kCreateIfNeeded ||
                       rule == IFileSystemEntity::kCreateOnly || rule == IFileSystemEntity::kReplaceExisting;
  if (!oneStep || !IAccess::ofMode(myMode).any() || short(myMode) != myMode || short(otherMode) != otherMode)
    return locate(std::move(text), rule);
  auto record = std::make_shared<IHostFileRecord>(std::move(text));
  record->fFirstMode = static_cast<short>(myMode);
  record->fFirstOthers = static_cast<short>(otherMode);
  // A replaced file is cut by the stream once its claim holds, as with trunc.
  const int streamMode = rule == IFileSystemEntity::kReplaceExisting ? myMode | IOpenMode::kTrunc : myMode;
  const int extraFlags = rule == IFileSystemEntity::kCreateOnly ? O_CREAT | O_EXCL : 0;
  // The stream waiting in the record must not own it: it shares the path
  // only once it is handed out.
  int error = 0;
  record->fFirst =
      IHostFileStream::tryOpen(std::shared_ptr<const std::string>(std::shared_ptr<void>(), &record->fPath.str()),
                               streamMode, otherMode, extraFlags, 0666, error);
  return record->fFirst ? record : locate(record->fPath, rule);
}

IText IHostFileRecord::path() const { return fPath; }

std::shared_ptr<const std::string> IHostFileRecord::sharedPath() const {
  if (auto self = weak_from_this().lock())
    return std::shared_ptr<const std::string>(std::move(self), &fPath.str());
  return std::make_shared<const std::string>(fPath.str());
}

IFSFileStream* IHostFileRecord::createStream(int myMode, int otherMode) const {
  return openStream(myMode, otherMode).release();
}

std::unique_ptr<IHostFileStream> IHostFileRecord::openStream(int myMode, int otherMode) const {
  if (fFirst) {
    std::unique_ptr<IHostFileStream> first = std::move(fFirst);
    if (myMode == fFirstMode && otherMode == fFirstOthers) {
      first->sharePath(sharedPath());
      return first;
    }
    first->close(); // opened for another mode: its claim must not stand in this open's way
  }
  // Taken, not read, so that of two streams opened at once only one cuts;
  // a refused open leaves the cut to the next.
  const bool replace = fReplacePending.exchange(false);
  try {
    return IHostFileStream::open(sharedPath(), replace ? myMode | IOpenMode::kTrunc : myMode, otherMode);
  } catch (...) {
    if (replace)
      fReplacePending = true;
    throw;
  }
}

} // namespace kelhost

// The host's part of the file objects: a file named by a path is a host file.
IFile IFile::opening(const IText& path, ECreateFlags rule, int myMode, int otherMode,
                     const ICompoundNameParser& parser) {
  return IFile(kelhost::IHostFileRecord::locateAndOpen(parser.fullPath(path), rule, myMode, otherMode));
}

IFile::IFile(const IText& path, ECreateFlags rule, const ICompoundNameParser& parser)
    : IFileSystemEntity(kelhost::IHostFileRecord::locate(parser.fullPath(path), rule)) {}

IFile::IFile(const IText& path, ECreateFlags rule, int permissions, const ICompoundNameParser& parser)
    : IFileSystemEntity(kelhost::IHostFileRecord::locate(parser.fullPath(path), rule, permissions)) {}
